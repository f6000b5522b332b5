// Image files that declare more than a texture can hold: refused from their
// header, before a decoder allocates for them.
#include <d3dx9.h>
#include <gtest/gtest.h>

#include "d3d_test_device.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include <string>
#include <vector>

// From Debian's stb library, which builds its PNG writer's deflate in.
extern "C" unsigned char* stbi_zlib_compress(unsigned char* data, int data_len, int* out_len, int quality);

#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_UNDER_ASAN 1
#endif
#endif
#ifdef VELMORA_UNDER_ASAN
// The sanitizer runtime's allocation hooks (its public interface; gcc ships no header for them).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                          void (*free_hook)(const volatile void*));
#endif

namespace {

std::string TempFile(const std::string& name)
{
    return std::string(VELMORA_BINARY_DIR) + "/test_limits_" + name;
}

bool WriteBytes(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

// An uncompressed 32-bit TGA header of the given size and `pixelBytes` bytes of pixels.
std::string Tga(int width, int height, size_t pixelBytes)
{
    std::string data(18, '\0');
    data[2] = 2;
    data[12] = (char)(width & 0xFF);
    data[13] = (char)(width >> 8);
    data[14] = (char)(height & 0xFF);
    data[15] = (char)(height >> 8);
    data[16] = 32;
    data[17] = 8;
    data.append(pixelBytes, '\x40');
    return data;
}

void Put32(std::string& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += (char)((v >> shift) & 0xFF);
}

void Chunk(std::string& out, const char* type, const std::string& body)
{
    Put32(out, (uint32_t)body.size());
    out += type;
    out += body;
    Put32(out, 0);  // the decoder does not check the CRC
}

// An 8-bit RGBA PNG of the given size whose pixel stream is `raw` deflated.
std::string Png(int width, int height, std::vector<unsigned char> raw)
{
    std::string out = "\x89PNG\r\n\x1a\n";
    std::string header;
    Put32(header, (uint32_t)width);
    Put32(header, (uint32_t)height);
    header += std::string("\x08\x06\x00\x00\x00", 5);
    Chunk(out, "IHDR", header);
    int length = 0;
    unsigned char* packed = stbi_zlib_compress(raw.data(), (int)raw.size(), &length, 8);
    Chunk(out, "IDAT", std::string((const char*)packed, (size_t)length));
    free(packed);
    Chunk(out, "IEND", "");
    return out;
}

// The largest single allocation since the last reset; known under AddressSanitizer only.
size_t s_LargestAllocation = 0;

bool WatchAllocations()
{
#ifdef VELMORA_UNDER_ASAN
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(
        [](const volatile void*, size_t size) {
            if (size > s_LargestAllocation)
                s_LargestAllocation = size;
        },
        [](const volatile void*) {}) != 0;
    s_LargestAllocation = 0;
    return installed;
#else
    return false;
#endif
}

long PeakKilobytes()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

HRESULT Load(IDirect3DDevice9* device, const std::string& path, IDirect3DTexture9** texture)
{
    *texture = nullptr;
    return D3DXCreateTextureFromFileA(device, path.c_str(), texture);
}

class TextureLimits : public ::testing::Test
{
protected:
    void SetUp() override
    {
        VelmoraResetGraphicsCard();
        ASSERT_NE(dev.device, nullptr);
    }
    d3dtest::Device dev;
};

}  // namespace

TEST_F(TextureLimits, TheDeviceStatesItsLargestTexture)
{
    D3DCAPS9 caps;
    ASSERT_EQ(dev.device->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_EQ(caps.MaxTextureWidth, 4096u);
    EXPECT_EQ(caps.MaxTextureHeight, 4096u);
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(dev.device->CreateTexture(4097, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
              D3DERR_INVALIDCALL);
}

// 23 bytes that declare a gigabyte of pixels are refused as bad data without
// decoding them.
TEST_F(TextureLimits, HugeSizesAreRefusedFromTheHeader)
{
    const long before = PeakKilobytes();
    for (int side : {8192, 16384, 65535}) {
        const std::string path = TempFile("huge" + std::to_string(side) + ".tga");
        const std::string file = Tga(side, side, 5);
        ASSERT_EQ(file.size(), 23u);
        ASSERT_TRUE(WriteBytes(path, file));
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(Load(dev.device, path, &texture), D3DXERR_INVALIDDATA) << side;
        EXPECT_EQ(texture, nullptr);
    }
    // A decode of any of them would have touched 256 MB or more.
    EXPECT_LT(PeakKilobytes() - before, 128 * 1024);

    // One past the largest side, either way, is refused; the largest loads.
    IDirect3DTexture9* texture = nullptr;
    ASSERT_TRUE(WriteBytes(TempFile("wide.tga"), Tga(4097, 1, 4097 * 4)));
    EXPECT_EQ(Load(dev.device, TempFile("wide.tga"), &texture), D3DXERR_INVALIDDATA);
    ASSERT_TRUE(WriteBytes(TempFile("tall.tga"), Tga(1, 4097, 4097 * 4)));
    EXPECT_EQ(Load(dev.device, TempFile("tall.tga"), &texture), D3DXERR_INVALIDDATA);
    ASSERT_TRUE(WriteBytes(TempFile("largest.tga"), Tga(4096, 2, 4096 * 2 * 4)));
    ASSERT_EQ(Load(dev.device, TempFile("largest.tga"), &texture), D3D_OK);
    D3DSURFACE_DESC desc;
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, 4096u);
    EXPECT_EQ(desc.Height, 2u);
    texture->Release();

    // A header the decoders do not take is bad data too.
    ASSERT_TRUE(WriteBytes(TempFile("zero.tga"), Tga(0, 16, 64)));
    EXPECT_EQ(Load(dev.device, TempFile("zero.tga"), &texture), D3DXERR_INVALIDDATA);
    EXPECT_EQ(texture, nullptr);
}

// A small PNG whose pixel stream inflates far beyond its declared size would
// make the decoder grow its buffer for all of it.
TEST_F(TextureLimits, APngThatInflatesBeyondItsSizeIsRefused)
{
    const int side = 16;
    std::vector<unsigned char> raw((size_t)side * (side * 4 + 1), 0x7F);
    for (int y = 0; y < side; ++y)
        raw[(size_t)y * (side * 4 + 1)] = 0;  // filter: none
    IDirect3DTexture9* texture = nullptr;
    ASSERT_TRUE(WriteBytes(TempFile("exact.png"), Png(side, side, raw)));
    ASSERT_EQ(Load(dev.device, TempFile("exact.png"), &texture), D3D_OK);
    texture->Release();

    raw.resize((size_t)32 << 20, 0);
    const std::string bomb = Png(side, side, raw);
    EXPECT_LT(bomb.size(), (size_t)1 << 20);
    ASSERT_TRUE(WriteBytes(TempFile("bomb.png"), bomb));
    EXPECT_EQ(Load(dev.device, TempFile("bomb.png"), &texture), D3DXERR_INVALIDDATA);
    EXPECT_EQ(texture, nullptr);
}

// A chunk whose length runs past the end of the file: the decoder would grow its
// buffer to that length before it finds the data missing.
TEST_F(TextureLimits, APngWhoseChunkClaimsMoreThanTheFileHoldsIsRefused)
{
    const int side = 4;
    std::vector<unsigned char> raw((size_t)side * (side * 4 + 1), 0x40);
    for (int y = 0; y < side; ++y)
        raw[(size_t)y * (side * 4 + 1)] = 0;
    std::string good = Png(side, side, raw);
    std::string file = good.substr(0, good.size() - 12);  // without IEND
    Put32(file, 0x0D0A1A0A);                              // 218 MB of pixel data, none there
    file += "IDAT";
    file += std::string(16, '\x55');
    ASSERT_TRUE(WriteBytes(TempFile("overlong.png"), file));
    const bool watched = WatchAllocations();
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(Load(dev.device, TempFile("overlong.png"), &texture), D3DXERR_INVALIDDATA);
    EXPECT_EQ(texture, nullptr);
    if (watched) {
        EXPECT_LT(s_LargestAllocation, (size_t)16 << 20);
    }

    // The fuzzer's case: the chunk's header is the last thing in the file.
    const unsigned char header_last[] = {0x89, 'P',  'N',  'G',  '\r', '\n', 0x1A, '\n', 0,    0,    0,
                                         0x0D, 'I',  'H',  'D',  'R',  0,    0,    0,    3,    0,    0,
                                         0,    2,    8,    6,    0,    0,    0,    0x9D, 0x00, 0x74, 0x1A,
                                         0x66, 0x00, 0x00, 0x1B, 'I',  'D',  'A',  'T',  0x78, 0x9C, 0x63};
    ASSERT_TRUE(WriteBytes(TempFile("header_last.png"), std::string((const char*)header_last, sizeof header_last)));
    WatchAllocations();
    EXPECT_EQ(Load(dev.device, TempFile("header_last.png"), &texture), D3DXERR_INVALIDDATA);
    EXPECT_EQ(texture, nullptr);
    if (watched) {
        EXPECT_LT(s_LargestAllocation, (size_t)16 << 20);
    }

    // After IEND nothing is read: a chunk there does not matter.
    file = good;
    Put32(file, 0x0D0A1A0A);
    file += "tEXt";
    ASSERT_TRUE(WriteBytes(TempFile("trailing.png"), file));
    ASSERT_EQ(Load(dev.device, TempFile("trailing.png"), &texture), D3D_OK);
    texture->Release();
}
