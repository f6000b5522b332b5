// ID3DXFont: a face found by fontconfig, rasterised by FreeType into glyph
// pages (textures), and drawn glyph by glyph through a sprite.
#include "d3dx/internal.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

const int kPageSize = 256;

FT_Library Library()
{
    static FT_Library library = nullptr;
    static bool tried = false;
    if (!tried) {
        tried = true;
        if (FT_Init_FreeType(&library) != 0)
            library = nullptr;
    }
    return library;
}

// The font file that fontconfig offers for a face name ("Arial" finds a
// metric-compatible face where Arial itself is absent).
bool FindFontFile(const char* faceName, bool bold, bool italic, std::string& file, int& index)
{
    static bool initialised = false;
    if (!initialised) {
        if (!FcInit())
            return false;
        // fontconfig keeps its configuration until told to let it go.
        atexit(FcFini);
        initialised = true;
    }
    FcPattern* pattern = FcPatternCreate();
    if (!pattern)
        return false;
    FcPatternAddString(pattern, FC_FAMILY, (const FcChar8*)(faceName && *faceName ? faceName : "sans-serif"));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    // Let go even when copying the name runs out of memory: fontconfig's
    // cache must hold no pattern of ours when it is closed at exit.
    std::unique_ptr<FcPattern, void (*)(FcPattern*)> match(FcFontMatch(nullptr, pattern, &result), FcPatternDestroy);
    FcPatternDestroy(pattern);
    if (!match)
        return false;
    FcChar8* path = nullptr;
    bool found = FcPatternGetString(match.get(), FC_FILE, 0, &path) == FcResultMatch && path;
    if (found) {
        file = (const char*)path;
        if (FcPatternGetInteger(match.get(), FC_INDEX, 0, &index) != FcResultMatch)
            index = 0;
    }
    return found;
}

// ANSI (Windows-1252) byte to Unicode.
unsigned AnsiToUnicode(unsigned char c)
{
    static const unsigned short k80[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                           0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    if (c >= 0x80 && c < 0xA0)
        return k80[c - 0x80];
    return c;
}

class CFont final : public d3dx::ComObject<ID3DXFont, IID_ID3DXFont>
{
public:
    CFont(IDirect3DDevice9* device, const D3DXFONT_DESCA& desc) : m_Device(device), m_Desc(desc)
    {
        m_Device->AddRef();
    }

    ~CFont()
    {
        for (Page& page : m_Pages)
            page.texture->Release();
        if (m_Sprite)
            m_Sprite->Release();
        if (m_Face)
            FT_Done_Face(m_Face);
        m_Device->Release();
    }

    HRESULT Init()
    {
        FT_Library library = Library();
        if (!library)
            return E_FAIL;
        std::string file;
        int index = 0;
        if (!FindFontFile(m_Desc.FaceName, m_Desc.Weight >= 600, m_Desc.Italic != FALSE, file, index))
            return E_FAIL;
        if (FT_New_Face(library, file.c_str(), index, &m_Face) != 0) {
            m_Face = nullptr;
            return E_FAIL;
        }
        // Windows sizes a font by its cell (ascent + descent of the OS/2
        // table) for a positive height and by its em for a negative one.
        double upem = m_Face->units_per_EM ? m_Face->units_per_EM : 2048;
        double ascent = m_Face->ascender, descent = -m_Face->descender, average = 0;
        if (TT_OS2* os2 = (TT_OS2*)FT_Get_Sfnt_Table(m_Face, FT_SFNT_OS2)) {
            if (os2->usWinAscent + os2->usWinDescent > 0) {
                ascent = os2->usWinAscent;
                descent = os2->usWinDescent;
            }
            average = os2->xAvgCharWidth;
        }
        if (ascent + descent <= 0) {
            ascent = upem * 0.9;
            descent = upem * 0.2;
        }
        double emPixels;
        if (m_Desc.Height > 0)
            emPixels = m_Desc.Height * upem / (ascent + descent);
        else if (m_Desc.Height < 0)
            emPixels = -(double)m_Desc.Height;
        else
            emPixels = 16.0 * upem / (ascent + descent);
        // A width asks for that average character width: the face is stretched.
        double emPixelsX = emPixels;
        if (m_Desc.Width > 0 && average > 0)
            emPixelsX = m_Desc.Width * upem / average;
        if (FT_Set_Char_Size(m_Face, (FT_F26Dot6)lround(emPixelsX * 64), (FT_F26Dot6)lround(emPixels * 64), 72, 72) !=
            0)
            return E_FAIL;
        m_Ascent = (int)lround(ascent * emPixels / upem);
        m_LineHeight = m_Desc.Height > 0 ? m_Desc.Height : (int)lround((ascent + descent) * emPixels / upem);
        return D3DXCreateSprite(m_Device, &m_Sprite);
    }


    HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) override { return d3dx::GetDeviceOf(m_Device, ppDevice); }

    HRESULT WINAPI GetDescA(D3DXFONT_DESCA* pDesc) override
    {
        if (!pDesc)
            return D3DERR_INVALIDCALL;
        *pDesc = m_Desc;
        return S_OK;
    }

    HRESULT WINAPI PreloadCharacters(UINT first, UINT last) override
    {
        for (UINT c = first; c <= last && c < 256; ++c)
            GetGlyph(AnsiToUnicode((unsigned char)c));
        return S_OK;
    }

    HRESULT WINAPI PreloadTextA(LPCSTR text, INT count) override
    {
        if (!text)
            return D3DERR_INVALIDCALL;
        size_t n = count < 0 ? strlen(text) : strnlen(text, (size_t)count);
        for (size_t i = 0; i < n; ++i)
            GetGlyph(AnsiToUnicode((unsigned char)text[i]));
        return S_OK;
    }

    INT WINAPI DrawTextA(ID3DXSprite* pSprite, LPCSTR text, INT count, LPRECT rect, DWORD format,
                         D3DCOLOR color) override
    {
        if (!text || !rect)
            return 0;
        size_t n = count < 0 ? strlen(text) : strnlen(text, (size_t)count);

        // Lines (the codes of line i run from lineStarts[i] to lineStarts[i + 1])
        // and their widths in pixels, in arrays kept between calls.
        std::vector<unsigned>& codes = m_Codes;
        std::vector<size_t>& lineStarts = m_LineStarts;
        codes.clear();
        lineStarts.assign(1, 0);
        for (size_t i = 0; i < n; ++i) {
            unsigned char c = (unsigned char)text[i];
            if (c == '\r')
                continue;
            if (c == '\n') {
                if (!(format & DT_SINGLELINE))
                    lineStarts.push_back(codes.size());
                continue;
            }
            if (c == '\t' && (format & DT_EXPANDTABS)) {
                for (int k = 0; k < 8; ++k)
                    codes.push_back(' ');
                continue;
            }
            codes.push_back(AnsiToUnicode(c));
        }
        const size_t lineCount = lineStarts.size();
        lineStarts.push_back(codes.size());
        std::vector<int>& widths = m_Widths;
        widths.clear();
        int maxWidth = 0;
        for (size_t li = 0; li < lineCount; ++li) {
            int w = 0;
            for (size_t k = lineStarts[li]; k < lineStarts[li + 1]; ++k)
                if (const Glyph* g = GetGlyph(codes[k]))
                    w += g->advance;
            widths.push_back(w);
            maxWidth = w > maxWidth ? w : maxWidth;
        }
        int height = (int)lineCount * m_LineHeight;

        if (format & DT_CALCRECT) {
            if (format & DT_RIGHT)
                rect->left = rect->right - maxWidth;
            else if (format & DT_CENTER) {
                LONG mid = (rect->left + rect->right) / 2;
                rect->left = mid - maxWidth / 2;
                rect->right = rect->left + maxWidth;
            } else
                rect->right = rect->left + maxWidth;
            rect->bottom = rect->top + height;
            return height;
        }

        int top = rect->top;
        if (format & DT_BOTTOM)
            top = rect->bottom - height;
        else if (format & DT_VCENTER)
            top = rect->top + (rect->bottom - rect->top - height) / 2;

        ID3DXSprite* sprite = pSprite ? pSprite : m_Sprite;
        if (!sprite)
            return 0;
        if (!pSprite && FAILED(sprite->Begin(D3DXSPRITE_ALPHABLEND)))
            return 0;
        for (size_t li = 0; li < lineCount; ++li) {
            int x = rect->left;
            if (format & DT_RIGHT)
                x = rect->right - widths[li];
            else if (format & DT_CENTER)
                x = rect->left + (rect->right - rect->left - widths[li]) / 2;
            int baseline = top + (int)li * m_LineHeight + m_Ascent;
            for (size_t k = lineStarts[li]; k < lineStarts[li + 1]; ++k) {
                const Glyph* g = GetGlyph(codes[k]);
                if (!g)
                    continue;
                if (g->width > 0 && g->height > 0)
                    DrawGlyph(sprite, *g, x + g->left, baseline - g->top, *rect, format, color);
                x += g->advance;
            }
        }
        if (!pSprite)
            sprite->End();
        return height;
    }

    HRESULT WINAPI OnLostDevice() override { return S_OK; }
    HRESULT WINAPI OnResetDevice() override { return S_OK; }

private:
    struct Glyph {
        int page;
        int x, y, width, height;  // place in the page
        int left, top;            // bitmap offset from the pen and the baseline
        int advance;
    };
    struct Page {
        IDirect3DTexture9* texture;
        int penX, penY, rowHeight;
    };

    void DrawGlyph(ID3DXSprite* sprite, const Glyph& g, int x, int y, const RECT& clip, DWORD format, D3DCOLOR color)
    {
        RECT src = {g.x, g.y, g.x + g.width, g.y + g.height};
        if (!(format & DT_NOCLIP)) {
            if (x < clip.left) {
                src.left += clip.left - x;
                x = clip.left;
            }
            if (y < clip.top) {
                src.top += clip.top - y;
                y = clip.top;
            }
            if (x + (src.right - src.left) > clip.right)
                src.right = src.left + (clip.right - x);
            if (y + (src.bottom - src.top) > clip.bottom)
                src.bottom = src.top + (clip.bottom - y);
            if (src.right <= src.left || src.bottom <= src.top)
                return;
        }
        D3DXVECTOR3 pos((float)x, (float)y, 0.0f);
        sprite->Draw(m_Pages[g.page].texture, &src, nullptr, &pos, color);
    }

    const Glyph* GetGlyph(unsigned code)
    {
        std::map<unsigned, Glyph>::iterator it = m_Glyphs.find(code);
        if (it != m_Glyphs.end())
            return &it->second;
        if (!m_Face || FT_Load_Char(m_Face, code, FT_LOAD_RENDER) != 0)
            return nullptr;
        FT_GlyphSlot slot = m_Face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        Glyph g = {};
        g.width = (int)bitmap.width;
        g.height = (int)bitmap.rows;
        g.left = slot->bitmap_left;
        g.top = slot->bitmap_top;
        g.advance = (int)((slot->advance.x + 32) >> 6);
        if (g.width > kPageSize - 2 || g.height > kPageSize - 2)
            g.width = g.height = 0;  // too large to cache: advances only
        if (g.width > 0 && g.height > 0 && !Place(g, bitmap))
            return nullptr;
        return &m_Glyphs.emplace(code, g).first->second;
    }

    // Finds room for the glyph in the last page (or a new one) and writes it:
    // white, with the coverage as alpha.
    bool Place(Glyph& g, const FT_Bitmap& bitmap)
    {
        if (m_Pages.empty() || !Fits(m_Pages.back(), g)) {
            if (!NewPage())
                return false;
        }
        Page& page = m_Pages.back();
        if (page.penX + g.width + 1 > kPageSize) {
            page.penX = 1;
            page.penY += page.rowHeight + 1;
            page.rowHeight = 0;
        }
        g.page = (int)m_Pages.size() - 1;
        g.x = page.penX;
        g.y = page.penY;
        page.penX += g.width + 1;
        page.rowHeight = g.height > page.rowHeight ? g.height : page.rowHeight;

        D3DLOCKED_RECT locked;
        if (FAILED(page.texture->LockRect(0, &locked, nullptr, 0)))
            return false;
        for (int y = 0; y < g.height; ++y) {
            DWORD* row = reinterpret_cast<DWORD*>(static_cast<unsigned char*>(locked.pBits) +
                                                  (size_t)(g.y + y) * locked.Pitch) + g.x;
            const unsigned char* src = bitmap.buffer + (ptrdiff_t)y * bitmap.pitch;
            for (int x = 0; x < g.width; ++x) {
                unsigned char coverage;
                if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO)
                    coverage = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
                else
                    coverage = src[x];
                row[x] = ((DWORD)coverage << 24) | 0x00FFFFFF;
            }
        }
        page.texture->UnlockRect(0);
        return true;
    }

    static bool Fits(const Page& page, const Glyph& g)
    {
        int x = page.penX, y = page.penY, row = page.rowHeight;
        if (x + g.width + 1 > kPageSize) {
            y += row + 1;
            row = 0;
        }
        return y + g.height + 1 <= kPageSize;
    }

    bool NewPage()
    {
        IDirect3DTexture9* texture = nullptr;
        if (FAILED(m_Device->CreateTexture(kPageSize, kPageSize, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture,
                                           nullptr)))
            return false;
        D3DLOCKED_RECT locked;
        if (SUCCEEDED(texture->LockRect(0, &locked, nullptr, 0))) {
            for (int y = 0; y < kPageSize; ++y)
                memset(static_cast<unsigned char*>(locked.pBits) + (size_t)y * locked.Pitch, 0, kPageSize * 4);
            texture->UnlockRect(0);
        }
        m_Pages.push_back({texture, 1, 1, 0});
        return true;
    }

    IDirect3DDevice9* m_Device;
    D3DXFONT_DESCA m_Desc;
    FT_Face m_Face = nullptr;
    ID3DXSprite* m_Sprite = nullptr;
    int m_Ascent = 0;
    int m_LineHeight = 0;
    std::vector<Page> m_Pages;
    // DrawText's lines, kept between calls.
    std::vector<unsigned> m_Codes;
    std::vector<size_t> m_LineStarts;
    std::vector<int> m_Widths;
    std::map<unsigned, Glyph> m_Glyphs;
};

}  // namespace

HRESULT WINAPI D3DXCreateFontA(IDirect3DDevice9* pDevice, INT Height, UINT Width, UINT Weight, UINT MipLevels,
                               BOOL Italic, DWORD CharSet, DWORD OutputPrecision, DWORD Quality, DWORD PitchAndFamily,
                               LPCSTR pFaceName, ID3DXFont** ppFont)
{
    if (!pDevice || !ppFont)
        return D3DERR_INVALIDCALL;
    D3DXFONT_DESCA desc = {};
    desc.Height = Height;
    desc.Width = Width;
    desc.Weight = Weight;
    desc.MipLevels = MipLevels;
    desc.Italic = Italic;
    desc.CharSet = (BYTE)CharSet;
    desc.OutputPrecision = (BYTE)OutputPrecision;
    desc.Quality = (BYTE)Quality;
    desc.PitchAndFamily = (BYTE)PitchAndFamily;
    if (pFaceName) {
        strncpy(desc.FaceName, pFaceName, LF_FACESIZE - 1);
        desc.FaceName[LF_FACESIZE - 1] = '\0';
    }
    CFont* font = new (std::nothrow) CFont(pDevice, desc);
    if (!font)
        return E_OUTOFMEMORY;
    HRESULT hr;
    try {
        hr = font->Init();
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr)) {
        font->Release();
        return hr;
    }
    *ppFont = font;
    return S_OK;
}
