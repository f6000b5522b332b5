// D3DX9 subset of the Velmora platform layer: math, textures from image
// files, and the font, sprite and line drawing objects. The objects draw
// through the public calls of the device they were made with.
#ifndef VELMORA_D3DX9_H
#define VELMORA_D3DX9_H

#include <d3d9.h>
#include <d3dx9math.h>
#include <d3dx9mesh.h>

#define D3DX_DEFAULT ((UINT)-1)
#define D3DX_DEFAULT_NONPOW2 ((UINT)-2)
#define D3DX_FROM_FILE ((UINT)-3)
#define D3DFMT_FROM_FILE ((D3DFORMAT)-3)

#define _FACDD 0x876
#define MAKE_DDHRESULT(code) ((HRESULT)(0x80000000u | ((DWORD)_FACDD << 16) | (DWORD)(code)))
#define D3DXERR_INVALIDDATA MAKE_DDHRESULT(2905)

// Text drawing flags (as Win32's DrawText).
#ifndef DT_TOP
#define DT_TOP 0x00000000
#define DT_LEFT 0x00000000
#define DT_CENTER 0x00000001
#define DT_RIGHT 0x00000002
#define DT_VCENTER 0x00000004
#define DT_BOTTOM 0x00000008
#define DT_WORDBREAK 0x00000010
#define DT_SINGLELINE 0x00000020
#define DT_EXPANDTABS 0x00000040
#define DT_NOCLIP 0x00000100
#define DT_CALCRECT 0x00000400
#endif

// Font creation values (as Win32's CreateFont).
#ifndef FW_NORMAL
#define FW_DONTCARE 0
#define FW_THIN 100
#define FW_LIGHT 300
#define FW_NORMAL 400
#define FW_BOLD 700
#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1
#define OUT_DEFAULT_PRECIS 0
#define OUT_TT_PRECIS 4
#define OUT_TT_ONLY_PRECIS 7
#define DEFAULT_QUALITY 0
#define ANTIALIASED_QUALITY 4
#define DEFAULT_PITCH 0
#define FF_DONTCARE 0
#endif
#ifndef LF_FACESIZE
#define LF_FACESIZE 32
#endif

// Sprite Begin flags.
#define D3DXSPRITE_DONOTSAVESTATE (1 << 0)
#define D3DXSPRITE_DONOTMODIFY_RENDERSTATE (1 << 1)
#define D3DXSPRITE_OBJECTSPACE (1 << 2)
#define D3DXSPRITE_BILLBOARD (1 << 3)
#define D3DXSPRITE_ALPHABLEND (1 << 4)
#define D3DXSPRITE_SORT_TEXTURE (1 << 5)
#define D3DXSPRITE_SORT_DEPTH_FRONTTOBACK (1 << 6)
#define D3DXSPRITE_SORT_DEPTH_BACKTOFRONT (1 << 7)

typedef struct _D3DXFONT_DESCA {
    INT Height;
    UINT Width;
    UINT Weight;
    UINT MipLevels;
    BOOL Italic;
    BYTE CharSet;
    BYTE OutputPrecision;
    BYTE Quality;
    BYTE PitchAndFamily;
    CHAR FaceName[LF_FACESIZE];
} D3DXFONT_DESCA, *LPD3DXFONT_DESCA;

#ifdef __cplusplus

struct ID3DXBuffer;
struct ID3DXFont;
struct ID3DXSprite;
struct ID3DXLine;
typedef ID3DXBuffer* LPD3DXBUFFER;
typedef ID3DXFont* LPD3DXFONT;
typedef ID3DXSprite* LPD3DXSPRITE;
typedef ID3DXLine* LPD3DXLINE;

// A block of bytes handed out by D3DX (compile errors, materials ...).
struct ID3DXBuffer : public IUnknown {
    virtual LPVOID WINAPI GetBufferPointer() = 0;
    virtual DWORD WINAPI GetBufferSize() = 0;
};

// Draws screen-space textured quads in batches between Begin and End.
struct ID3DXSprite : public IUnknown {
    virtual HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) = 0;
    virtual HRESULT WINAPI GetTransform(D3DXMATRIX* pTransform) = 0;
    virtual HRESULT WINAPI SetTransform(const D3DXMATRIX* pTransform) = 0;
    virtual HRESULT WINAPI Begin(DWORD Flags) = 0;
    // Draws the texture (or its source rectangle) with its `pCenter` at
    // `pPosition`, each texel's colour multiplied by `Color`.
    virtual HRESULT WINAPI Draw(IDirect3DTexture9* pTexture, const RECT* pSrcRect, const D3DXVECTOR3* pCenter,
                                const D3DXVECTOR3* pPosition, D3DCOLOR Color) = 0;
    virtual HRESULT WINAPI Flush() = 0;
    virtual HRESULT WINAPI End() = 0;
    virtual HRESULT WINAPI OnLostDevice() = 0;
    virtual HRESULT WINAPI OnResetDevice() = 0;
};

// A font drawn from a glyph cache held in textures.
struct ID3DXFont : public IUnknown {
    virtual HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) = 0;
    virtual HRESULT WINAPI GetDescA(D3DXFONT_DESCA* pDesc) = 0;
    virtual HRESULT WINAPI PreloadCharacters(UINT First, UINT Last) = 0;
    virtual HRESULT WINAPI PreloadTextA(LPCSTR pString, INT Count) = 0;
    // Returns the height of the drawn text in pixels, 0 on failure. Count -1:
    // the string ends at its zero.
    virtual INT WINAPI DrawTextA(ID3DXSprite* pSprite, LPCSTR pString, INT Count, LPRECT pRect, DWORD Format,
                                 D3DCOLOR Color) = 0;
    virtual HRESULT WINAPI OnLostDevice() = 0;
    virtual HRESULT WINAPI OnResetDevice() = 0;
};

// Screen-space polylines of a width in pixels, optionally patterned.
struct ID3DXLine : public IUnknown {
    virtual HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) = 0;
    virtual HRESULT WINAPI Begin() = 0;
    virtual HRESULT WINAPI Draw(const D3DXVECTOR2* pVertexList, DWORD dwVertexListCount, D3DCOLOR Color) = 0;
    virtual HRESULT WINAPI DrawTransform(const D3DXVECTOR3* pVertexList, DWORD dwVertexListCount,
                                         const D3DXMATRIX* pTransform, D3DCOLOR Color) = 0;
    // Bit i of the pattern says whether the i-th run of `PatternScale` pixels is drawn.
    virtual HRESULT WINAPI SetPattern(DWORD dwPattern) = 0;
    virtual DWORD WINAPI GetPattern() = 0;
    virtual HRESULT WINAPI SetPatternScale(FLOAT fPatternScale) = 0;
    virtual FLOAT WINAPI GetPatternScale() = 0;
    virtual HRESULT WINAPI SetWidth(FLOAT fWidth) = 0;
    virtual FLOAT WINAPI GetWidth() = 0;
    virtual HRESULT WINAPI SetAntialias(BOOL bAntialias) = 0;
    virtual BOOL WINAPI GetAntialias() = 0;
    virtual HRESULT WINAPI SetGLLines(BOOL bGLLines) = 0;
    virtual BOOL WINAPI GetGLLines() = 0;
    virtual HRESULT WINAPI End() = 0;
    virtual HRESULT WINAPI OnLostDevice() = 0;
    virtual HRESULT WINAPI OnResetDevice() = 0;
};

VELMORA_EXTERN_C_BEGIN
VELMORA_API extern const IID IID_ID3DXBuffer;
VELMORA_API extern const IID IID_ID3DXFont;
VELMORA_API extern const IID IID_ID3DXSprite;
VELMORA_API extern const IID IID_ID3DXLine;

VELMORA_API HRESULT WINAPI D3DXCreateBuffer(DWORD NumBytes, ID3DXBuffer** ppBuffer);

// Loads a TGA, PNG, BMP or JPEG file into a managed A8R8G8B8 texture of the
// file's size with a full mip chain. Missing or unreadable files fail.
VELMORA_API HRESULT WINAPI D3DXCreateTextureFromFileA(IDirect3DDevice9* pDevice, LPCSTR pSrcFile,
                                                      IDirect3DTexture9** ppTexture);
// D3DX_DEFAULT sizes become 256 (zero sizes fail) and D3DX_DEFAULT levels a full chain; the
// format is asked of the device as given, and its refusal is the result.
VELMORA_API HRESULT WINAPI D3DXCreateTexture(IDirect3DDevice9* pDevice, UINT Width, UINT Height, UINT MipLevels,
                                             DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                             IDirect3DTexture9** ppTexture);

// Height in pixels: positive is the cell height, negative the character
// height; Width 0 keeps the face's own proportions.
VELMORA_API HRESULT WINAPI D3DXCreateFontA(IDirect3DDevice9* pDevice, INT Height, UINT Width, UINT Weight,
                                           UINT MipLevels, BOOL Italic, DWORD CharSet, DWORD OutputPrecision,
                                           DWORD Quality, DWORD PitchAndFamily, LPCSTR pFaceName,
                                           ID3DXFont** ppFont);
VELMORA_API HRESULT WINAPI D3DXCreateSprite(IDirect3DDevice9* pDevice, ID3DXSprite** ppSprite);
VELMORA_API HRESULT WINAPI D3DXCreateLine(IDirect3DDevice9* pDevice, ID3DXLine** ppLine);
VELMORA_EXTERN_C_END

#define D3DXCreateTextureFromFile D3DXCreateTextureFromFileA
#define D3DXCreateFont D3DXCreateFontA

#endif  // __cplusplus

#include <d3dx9effect.h>

#endif
