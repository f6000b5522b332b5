// Image files that declare more than a texture can hold: refused from their
// header, before a decoder allocates for them.
#include <d3dx9.h>
#include <gtest/gtest.h>

#include "d3d_test_device.h"
#include "large_png.h"
#include "peak_memory.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include <string>
#include <vector>

using testing_support::Chunk;
using testing_support::kLargePicture;
using testing_support::kLargeSide;
using testing_support::kLargeTexture;
using testing_support::LargePng;
using testing_support::LargeTexel;
using testing_support::Png;
using testing_support::Put32;

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

// The largest single allocation since the last reset; known under a sanitizer only.
size_t s_LargestAllocation = 0;

bool WatchAllocations()
{
#ifdef VELMORA_SANITIZER_HEAP
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

namespace {

DWORD Texel(IDirect3DTexture9* texture, UINT level, int x, int y)
{
    D3DLOCKED_RECT locked;
    if (FAILED(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY)))
        return 0;
    const DWORD texel =
        reinterpret_cast<const DWORD*>(static_cast<const unsigned char*>(locked.pBits) + (size_t)y * locked.Pitch)[x];
    texture->UnlockRect(level);
    return texel;
}

}  // namespace

// A small file of a large picture: the picture is decoded once, and besides
// the texture it is held only as the decoder's rows.
TEST_F(TextureLimits, ALargePictureIsDecodedIntoItsTextureWithOneCopy)
{
    const std::string path = LargePng(TempFile("large.png"));
    ASSERT_FALSE(path.empty());
    testing_support::PeakMemory peak;
    ASSERT_TRUE(peak.Start());
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(Load(dev.device, path, &texture), D3D_OK);
    const long long used = peak.Peak();
    RecordProperty("PeakBytes", std::to_string(used));
    EXPECT_GE(used, (long long)kLargeTexture);
    // The texture, one picture and the decoder's rows of filter bytes; the
    // four copies this took before came to 285 MB.
    EXPECT_LT(used, (long long)(kLargeTexture + kLargePicture + (16u << 20))) << used / (1 << 20) << " MB";

    ASSERT_EQ(texture->GetLevelCount(), 13u);
    for (int at : {0, 1, 255, 2047, 4095})
        EXPECT_EQ(Texel(texture, 0, at, 4095 - at), LargeTexel(at, 4095 - at)) << at;
    // Each level the rounded mean of four texels of the one above, channel by channel.
    for (UINT level = 1; level < 13; ++level)
        for (int at : {0, (kLargeSide >> level) - 1}) {
            DWORD mean = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                unsigned sum = 0;
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx) {
                        const int side = std::max(kLargeSide >> (level - 1), 1);
                        const int x = std::min(at * 2 + dx, side - 1), y = std::min(at * 2 + dy, side - 1);
                        sum += (Texel(texture, level - 1, x, y) >> shift) & 255;
                    }
                mean |= (DWORD)((sum + 2) / 4) << shift;
            }
            EXPECT_EQ(Texel(texture, level, at, at), mean) << "level " << level << " at " << at;
        }
    texture->Release();
}

// The device's texture memory holds three such textures; the fourth is refused
// as by a card out of memory, and a texture let go makes room again. Memory
// stays within what the device holds and one picture.
TEST_F(TextureLimits, LargeTexturesStopAtTheDevicesTextureMemory)
{
    const std::string path = LargePng(TempFile("large.png"));
    ASSERT_FALSE(path.empty());
    const size_t fit = (size_t)dev.device->GetAvailableTextureMem() / kLargeTexture;
    ASSERT_EQ(fit, 3u);
    testing_support::PeakMemory peak;
    ASSERT_TRUE(peak.Start());
    std::vector<IDirect3DTexture9*> loaded;
    for (size_t i = 0; i < fit; ++i) {
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(Load(dev.device, path, &texture), D3D_OK) << i;
        loaded.push_back(texture);
    }
    IDirect3DTexture9* refused = nullptr;
    EXPECT_EQ(Load(dev.device, path, &refused), E_OUTOFMEMORY);
    EXPECT_EQ(refused, nullptr);
    const long long used = peak.Peak();
    RecordProperty("PeakBytes", std::to_string(used));
    EXPECT_LT(used, (long long)(fit * kLargeTexture + kLargePicture + (16u << 20))) << used / (1 << 20) << " MB";

    loaded.back()->Release();
    loaded.pop_back();
    IDirect3DTexture9* again = nullptr;
    ASSERT_EQ(Load(dev.device, path, &again), D3D_OK);
    again->Release();
    for (IDirect3DTexture9* texture : loaded)
        texture->Release();
}

// A file that ends before its picture does is refused however little is
// missing, whatever the decoder read before (a whole file loaded between two
// cut ones leaves its pixels in freed memory); bytes after a whole picture do
// not matter.
TEST_F(TextureLimits, AFileCutShortIsRefusedAndTrailingBytesAreNot)
{
    std::string tga = Tga(8, 8, 0);
    for (int i = 0; i < 8 * 8 * 4; ++i)
        tga += (char)(i * 7);
    std::string rle = Tga(8, 1, 0);
    rle[2] = 10;  // run-length packets: eight texels of one colour
    rle += std::string("\x87\x10\x20\x30\x40", 5);
    std::vector<unsigned char> raw((size_t)8 * (8 * 4 + 1), 0x33);
    for (int y = 0; y < 8; ++y)
        raw[(size_t)y * (8 * 4 + 1)] = 0;
    const std::string png = Png(8, 8, raw);

    struct Case {
        const char* name;
        std::string bytes;
        HRESULT expected;
    };
    const Case cases[] = {
        {"whole.tga", tga, D3D_OK},
        {"byte_short.tga", tga.substr(0, tga.size() - 1), D3DXERR_INVALIDDATA},
        {"whole_again.tga", tga, D3D_OK},
        {"row_short.tga", tga.substr(0, tga.size() - 32), D3DXERR_INVALIDDATA},
        {"half.tga", tga.substr(0, tga.size() / 2), D3DXERR_INVALIDDATA},
        {"trailing.tga", tga + std::string(100, '\0'), D3D_OK},
        {"rle.tga", rle, D3D_OK},
        {"rle_short.tga", rle.substr(0, rle.size() - 1), D3DXERR_INVALIDDATA},
        {"no_iend.png", png.substr(0, png.size() - 12), D3DXERR_INVALIDDATA},
        {"short_idat.png", png.substr(0, png.size() - 20), D3DXERR_INVALIDDATA},
        {"trailing.png", png + std::string(40, '\x55'), D3D_OK},
    };
    for (int round = 0; round < 2; ++round)
        for (const Case& c : cases) {
            ASSERT_TRUE(WriteBytes(TempFile(c.name), c.bytes));
            IDirect3DTexture9* texture = nullptr;
            EXPECT_EQ(Load(dev.device, TempFile(c.name), &texture), c.expected) << c.name;
            if (texture)
                texture->Release();
        }
}
