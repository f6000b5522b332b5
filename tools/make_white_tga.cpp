// Writes the veil texture: a small opaque white picture as an uncompressed
// 32-bit TGA. Usage: make_white_tga OUT.tga
#include <stdio.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUT.tga\n", argv[0]);
        return 2;
    }
    const int size = 8;
    unsigned char header[18] = {};
    header[2] = 2;  // uncompressed true colour
    header[12] = size;
    header[14] = size;
    header[16] = 32;    // bits per pixel
    header[17] = 0x28;  // 8 alpha bits, top-left origin
    FILE* f = fopen(argv[1], "wb");
    if (!f) {
        perror(argv[1]);
        return 1;
    }
    bool ok = fwrite(header, 1, sizeof(header), f) == sizeof(header);
    const unsigned char white[4] = {255, 255, 255, 255};
    for (int i = 0; i < size * size && ok; ++i)
        ok = fwrite(white, 1, 4, f) == 4;
    if (fclose(f) != 0 || !ok) {
        fprintf(stderr, "%s: write failed\n", argv[1]);
        return 1;
    }
    return 0;
}
