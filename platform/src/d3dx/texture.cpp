// Textures from image files (stb_image) and plain texture creation, plus the
// byte buffer object.
#include "d3dx/internal.h"

#include <velmora_platform.h>

#include <stb/stb_image.h>
#include <zlib.h>

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// Windows path to a path of this machine.
std::string HostPath(const char* path)
{
    char mapped[4096];
    if (VelmoraMapPath(path, mapped, sizeof(mapped)))
        return mapped;
    return std::string();
}

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& data)
{
    std::unique_ptr<FILE, int (*)(FILE*)> f(fopen(path.c_str(), "rb"), fclose);
    if (!f)
        return false;
    struct stat info;
    if (fstat(fileno(f.get()), &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= ((off_t)1 << 30))
        data.reserve((size_t)info.st_size);  // no growing copies of a large file
    unsigned char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), f.get())) > 0) {
        data.insert(data.end(), chunk, chunk + n);
        if (data.size() > (size_t)1 << 30)
            return false;
    }
    return !ferror(f.get());
}

// Sides above this are refused even where a device states no limit.
const UINT kLargestSide = 8192;

uint32_t BigEndian32(const unsigned char* p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

// A PNG's pixel data inflates to a size its header fixes; the decoder grows its
// buffer for as much as the stream yields, so a small file could demand
// gigabytes. Inflates once into a scratch buffer, counting, to refuse such a
// file, and refuses one whose chunks claim more bytes than it holds.
bool PngInflatesWithinItsSize(const std::vector<unsigned char>& file)
{
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size() < 33 || memcmp(file.data(), kSignature, 8) != 0 || memcmp(&file[12], "IHDR", 4) != 0)
        return true;  // not a PNG: nothing to inflate
    const uint64_t width = BigEndian32(&file[16]), height = BigEndian32(&file[20]);
    const int channels[7] = {1, 0, 3, 1, 2, 0, 4};
    const unsigned depth = file[24], type = file[25];
    const uint64_t bits = depth * (type < 7 ? channels[type] : 4);
    // Rows with their filter byte; interlacing adds at most a few bytes a row.
    const uint64_t limit = height * ((width * bits + 7) / 8 + 1) + 16 * (height + 8);

    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (inflateInit(&stream) != Z_OK)
        return false;
    unsigned char scratch[65536];
    uint64_t total = 0;
    bool ok = true, ended = false;
    size_t at = 8;
    while (ok && at + 8 <= file.size()) {
        const uint64_t length = BigEndian32(&file[at]);
        if (memcmp(&file[at + 4], "IEND", 4) == 0)
            break;  // the decoder reads no further
        // A chunk whose data runs past the end fails to decode, but only after
        // the decoder has grown its buffer to the length the chunk claims.
        if (length > file.size() - at - 8) {
            ok = false;
            break;
        }
        if (!ended && memcmp(&file[at + 4], "IDAT", 4) == 0) {
            stream.next_in = const_cast<unsigned char*>(&file[at + 8]);
            stream.avail_in = (uInt)length;
            while (stream.avail_in > 0 || stream.avail_out == 0) {
                stream.next_out = scratch;
                stream.avail_out = sizeof scratch;
                int result = inflate(&stream, Z_NO_FLUSH);
                total += sizeof scratch - stream.avail_out;
                if (total > limit) {
                    ok = false;
                    break;
                }
                if (result == Z_STREAM_END) {
                    ended = true;
                    break;
                }
                if (result != Z_OK)
                    break;  // broken data: the decoder says so
            }
        }
        at += 12 + length;
    }
    inflateEnd(&stream);
    return ok;
}

// The decoder's RGBA rows.
struct Image {
    int width = 0;
    int height = 0;
    std::unique_ptr<unsigned char, void (*)(void*)> rgba{nullptr, stbi_image_free};
};

bool SameImage(const Image& a, const Image& b)
{
    return a.width == b.width && a.height == b.height &&
           memcmp(a.rgba.get(), b.rgba.get(), (size_t)a.width * a.height * 4) == 0;
}

// Hands the file to the decoder, then `fill` bytes of `filler`, and notes
// whether the decoder looks past the end of the file. The decoder reads ahead
// into a buffer of its own (its first read) and may ask that for more than is
// left: it gets the rest of the file only, and looks past the end when it asks
// again. Any other read that runs past the end is a look past it.
struct FileReader {
    const unsigned char* data;
    size_t size;
    size_t at;
    unsigned char filler;
    size_t fill;
    bool lookedPast;
    const char* readAhead;
    int readAheadSize;
};

int ReadFile(void* user, char* out, int count)
{
    FileReader& r = *static_cast<FileReader*>(user);
    if (count <= 0)
        return 0;
    if (!r.readAhead) {
        r.readAhead = out;
        r.readAheadSize = count;
    }
    const size_t fromFile = std::min((size_t)count, r.size - r.at);
    memcpy(out, r.data + r.at, fromFile);
    r.at += fromFile;
    if (fromFile == (size_t)count || (fromFile > 0 && out == r.readAhead && count == r.readAheadSize))
        return (int)fromFile;
    r.lookedPast = true;
    const size_t filled = std::min((size_t)count - fromFile, r.fill);
    memset(out + fromFile, r.filler, filled);
    r.fill -= filled;
    return (int)(fromFile + filled);
}

void SkipFile(void* user, int count)
{
    FileReader& r = *static_cast<FileReader*>(user);
    if (count < 0) {
        r.at -= std::min((size_t)-(long)count, r.at);
        return;
    }
    if ((size_t)count <= r.size - r.at) {
        r.at += (size_t)count;
        return;
    }
    r.lookedPast = true;
    r.fill -= std::min((size_t)count - (r.size - r.at), r.fill);
    r.at = r.size;
}

int FileEnds(void* user)
{
    FileReader& r = *static_cast<FileReader*>(user);
    if (r.at < r.size)
        return 0;
    r.lookedPast = true;
    return r.fill == 0;
}

bool DecodeWithFill(const std::vector<unsigned char>& file, unsigned char filler, size_t fill, Image& image,
                    bool& lookedPast)
{
    FileReader reader = {file.data(), file.size(), 0, filler, fill, false, nullptr, 0};
    const stbi_io_callbacks callbacks = {ReadFile, SkipFile, FileEnds};
    int w = 0, h = 0, n = 0;
    image.rgba.reset(stbi_load_from_callbacks(&callbacks, &reader, &w, &h, &n, 4));
    image.width = w;
    image.height = h;
    lookedPast = reader.lookedPast;
    return image.rgba && w > 0 && h > 0;
}

// Decodes the file; a file that ends before its picture does is refused. A
// decoder takes what lies past the end as more of the file, so a file whose
// decode looks past its end is decoded again with zeros there instead of
// 0xA5: a whole file does not notice. A decode that stays within the file (as
// that of any whole PNG) is done once.
bool DecodeWhole(const std::vector<unsigned char>& file, int width, int height, Image& image)
{
    if (file.empty() || file.size() > 0x7fffffff)
        return false;
    const size_t fill = (size_t)width * height * 4 + 4096;
    bool lookedPast = false;
    if (!DecodeWithFill(file, 0xA5, fill, image, lookedPast))
        return false;
    if (!lookedPast)
        return true;
    Image check;
    return DecodeWithFill(file, 0x00, fill, check, lookedPast) && SameImage(check, image);
}

// Writes level 0 of A8R8G8B8 pixels from RGBA bytes.
bool FillTopLevel(IDirect3DTexture9* texture, const unsigned char* rgba, int width, int height)
{
    D3DLOCKED_RECT locked;
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0)))
        return false;
    for (int y = 0; y < height; ++y) {
        DWORD* row = reinterpret_cast<DWORD*>(static_cast<unsigned char*>(locked.pBits) + (size_t)y * locked.Pitch);
        const unsigned char* src = rgba + (size_t)y * width * 4;
        for (int x = 0; x < width; ++x, src += 4)
            row[x] = ((DWORD)src[3] << 24) | ((DWORD)src[0] << 16) | ((DWORD)src[1] << 8) | src[2];
    }
    texture->UnlockRect(0);
    return true;
}

// Fills a mip level from the one above it: each texel the average of (up to)
// four, channel by channel.
bool HalveLevel(IDirect3DTexture9* texture, UINT level)
{
    D3DSURFACE_DESC above, below;
    if (FAILED(texture->GetLevelDesc(level - 1, &above)) || FAILED(texture->GetLevelDesc(level, &below)))
        return false;
    D3DLOCKED_RECT src, dst;
    if (FAILED(texture->LockRect(level - 1, &src, nullptr, D3DLOCK_READONLY)))
        return false;
    if (FAILED(texture->LockRect(level, &dst, nullptr, 0))) {
        texture->UnlockRect(level - 1);
        return false;
    }
    const int w = (int)above.Width, h = (int)above.Height;
    const unsigned char* from = static_cast<const unsigned char*>(src.pBits);
    for (int y = 0; y < (int)below.Height; ++y) {
        const int y0 = y * 2 < h ? y * 2 : h - 1, y1 = y * 2 + 1 < h ? y * 2 + 1 : h - 1;
        const unsigned char* row0 = from + (size_t)y0 * src.Pitch;
        const unsigned char* row1 = from + (size_t)y1 * src.Pitch;
        unsigned char* out = static_cast<unsigned char*>(dst.pBits) + (size_t)y * dst.Pitch;
        for (int x = 0; x < (int)below.Width; ++x) {
            const int x0 = x * 2 < w ? x * 2 : w - 1, x1 = x * 2 + 1 < w ? x * 2 + 1 : w - 1;
            for (int c = 0; c < 4; ++c) {
                const unsigned sum = row0[x0 * 4 + c] + row0[x1 * 4 + c] + row1[x0 * 4 + c] + row1[x1 * 4 + c];
                out[x * 4 + c] = (unsigned char)((sum + 2) / 4);
            }
        }
    }
    texture->UnlockRect(level);
    texture->UnlockRect(level - 1);
    return true;
}

class CBuffer final : public d3dx::ComObject<ID3DXBuffer, IID_ID3DXBuffer>
{
public:
    explicit CBuffer(DWORD size) : m_Data(size) {}

    LPVOID WINAPI GetBufferPointer() override { return m_Data.empty() ? nullptr : m_Data.data(); }
    DWORD WINAPI GetBufferSize() override { return (DWORD)m_Data.size(); }

private:
    std::vector<unsigned char> m_Data;
};

}  // namespace

HRESULT WINAPI D3DXCreateBuffer(DWORD NumBytes, ID3DXBuffer** ppBuffer)
{
    if (!ppBuffer)
        return D3DERR_INVALIDCALL;
    CBuffer* buffer = new (std::nothrow) CBuffer(NumBytes);
    if (!buffer)
        return E_OUTOFMEMORY;
    *ppBuffer = buffer;
    return S_OK;
}

HRESULT WINAPI D3DXCreateTexture(IDirect3DDevice9* pDevice, UINT Width, UINT Height, UINT MipLevels, DWORD Usage,
                                 D3DFORMAT Format, D3DPOOL Pool, IDirect3DTexture9** ppTexture)
{
    if (!pDevice || !ppTexture || Width == 0 || Height == 0)
        return D3DERR_INVALIDCALL;
    if (Width == D3DX_DEFAULT || Width == D3DX_DEFAULT_NONPOW2)
        Width = 256;
    if (Height == D3DX_DEFAULT || Height == D3DX_DEFAULT_NONPOW2)
        Height = 256;
    if (MipLevels == D3DX_DEFAULT)
        MipLevels = 0;
    return pDevice->CreateTexture(Width, Height, MipLevels, Usage, Format, Pool, ppTexture, nullptr);
}

namespace {

HRESULT TextureFromFile(IDirect3DDevice9* pDevice, LPCSTR pSrcFile, IDirect3DTexture9** ppTexture)
{
    errno = 0;
    std::string path = HostPath(pSrcFile);
    std::vector<unsigned char> file;
    if (path.empty() || !ReadWholeFile(path, file))
        return errno == ENOMEM ? E_OUTOFMEMORY : D3DERR_NOTFOUND;

    // The size comes from the header, before anything is decoded: a few bytes
    // may declare more pixels than any texture of the device can hold.
    int width = 0, height = 0, components = 0;
    if (file.empty() || file.size() > 0x7fffffff ||
        !stbi_info_from_memory(file.data(), (int)file.size(), &width, &height, &components) || width <= 0 ||
        height <= 0)
        return D3DXERR_INVALIDDATA;
    UINT maxWidth = kLargestSide, maxHeight = kLargestSide;
    D3DCAPS9 caps;
    if (SUCCEEDED(pDevice->GetDeviceCaps(&caps))) {
        if (caps.MaxTextureWidth && caps.MaxTextureWidth < maxWidth)
            maxWidth = caps.MaxTextureWidth;
        if (caps.MaxTextureHeight && caps.MaxTextureHeight < maxHeight)
            maxHeight = caps.MaxTextureHeight;
    }
    if ((UINT)width > maxWidth || (UINT)height > maxHeight)
        return D3DXERR_INVALIDDATA;
    if (!PngInflatesWithinItsSize(file))
        return D3DXERR_INVALIDDATA;

    // A texture that plainly does not fit in what is left of the device's
    // texture memory (an estimate to the nearest megabyte) is refused, as the
    // device refuses a managed texture past it, before any decoding.
    uint64_t bytes = 0;
    for (UINT w = (UINT)width, h = (UINT)height;; w = w > 1 ? w / 2 : 1, h = h > 1 ? h / 2 : 1) {
        bytes += (uint64_t)w * h * 4;
        if (w == 1 && h == 1)
            break;
    }
    if (bytes > (uint64_t)pDevice->GetAvailableTextureMem() + (1u << 20))
        return E_OUTOFMEMORY;

    // The decoder's rows are the one copy of the picture besides the
    // texture: the file goes before the texture is made, the rows once they
    // are in it, and each mip level comes from the level above.
    Image image;
    if (!DecodeWhole(file, width, height, image) || image.width != width || image.height != height)
        return D3DXERR_INVALIDDATA;
    std::vector<unsigned char>().swap(file);

    IDirect3DTexture9* texture = nullptr;
    HRESULT hr = pDevice->CreateTexture(image.width, image.height, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture,
                                        nullptr);
    if (FAILED(hr))
        return hr;
    bool filled = false;
    try {
        filled = FillTopLevel(texture, image.rgba.get(), image.width, image.height);
        image.rgba.reset();
        const DWORD levels = texture->GetLevelCount();
        for (DWORD level = 1; filled && level < levels; ++level)
            filled = HalveLevel(texture, level);
    } catch (const std::bad_alloc&) {
        texture->Release();
        throw;
    }
    if (!filled) {
        texture->Release();
        return D3DERR_INVALIDCALL;
    }
    *ppTexture = texture;
    return S_OK;
}

}  // namespace

HRESULT WINAPI D3DXCreateTextureFromFileA(IDirect3DDevice9* pDevice, LPCSTR pSrcFile, IDirect3DTexture9** ppTexture)
{
    if (!pDevice || !pSrcFile || !ppTexture)
        return D3DERR_INVALIDCALL;
    // The file, the decoded rows and the levels are the loader's own; out of
    // memory in any of them fails the call, as the device fails a texture.
    try {
        return TextureFromFile(pDevice, pSrcFile, ppTexture);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
