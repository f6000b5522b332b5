// The dance floor: its pattern table, its animation, its menu actions and its drawing.
#include "Entity/EntityFloor.h"

#include "Logger.h"
#include "Resource/Shader.h"
#include "d3d_stuff.h"
#include "main.h"

#include <mmsystem.h>

namespace
{
const char* const kSource = "src\\Entity\\EntityFloor";

// Each frame is 49 signs: row r (along world x) of seven columns c (along world z).
const char* const kMill[] = {
    "#.....#" ".#...#." "..#.#.." "...#..." "..#.#.." ".#...#." "#.....#",
    ".#....." "..#...#" "..#.##." "...#..." ".##.#.." "#...#.." ".....#.",
    "..#...." "..#...." "...#.##" "..###.." "##.#..." "....#.." "....#..",
    "...#..." "...#..." "...#..." "#######" "...#..." "...#..." "...#...",
    "....#.." "....#.." "##.#..." "..###.." "...#.##" "..#...." "..#....",
    ".....#." "#...#.." ".##.#.." "...#..." "..#.##." "..#...#" ".#.....",
};
const char* const kLinesC[] = {
    "#...#.." "#...#.." "#...#.." "#...#.." "#...#.." "#...#.." "#...#..",
    ".#...#." ".#...#." ".#...#." ".#...#." ".#...#." ".#...#." ".#...#.",
    "..#...#" "..#...#" "..#...#" "..#...#" "..#...#" "..#...#" "..#...#",
    "...#..." "...#..." "...#..." "...#..." "...#..." "...#..." "...#...",
};
const char* const kLinesR[] = {
    "#######" "......." "......." "......." "#######" "......." ".......",
    "......." "#######" "......." "......." "......." "#######" ".......",
    "......." "......." "#######" "......." "......." "......." "#######",
    "......." "......." "......." "#######" "......." "......." ".......",
};
const char* const kChessboard[] = {
    "#.#.#.#" ".#.#.#." "#.#.#.#" ".#.#.#." "#.#.#.#" ".#.#.#." "#.#.#.#",
    ".#.#.#." "#.#.#.#" ".#.#.#." "#.#.#.#" ".#.#.#." "#.#.#.#" ".#.#.#.",
};
const char* const kSquare[] = {
    "......." ".#####." ".#...#." ".#.#.#." ".#...#." ".#####." ".......",
    "#######" "#.....#" "#.###.#" "#.#.#.#" "#.###.#" "#.....#" "#######",
};
const char* const kCircle[] = {
    "......." "..###.." ".#...#." ".#.#.#." ".#...#." "..###.." ".......",
    "..#.#.." ".#...#." "#..#..#" "..#.#.." "#..#..#" ".#...#." "..#.#..",
    ".#...#." "#..#..#" "..#.#.." ".#...#." "..#.#.#" "#..#..#" ".#...#.",
};
const char* const kCorner[] = {
    "......." "......." "..#####" "..#...." "..#...." "..#...." "..#...#",
    "......." ".######" ".#....." ".#....." ".#....." ".#...##" ".#...#.",
    "#######" "#......" "#......" "#......" "#...###" "#...#.." "#...#..",
    "......." "......." "......." "...####" "...#..." "...#..." "...#...",
};

const char* const* const kPatterns[FloorPatternCount] = {kMill, kLinesC, kLinesR, kChessboard, kSquare, kCircle, kCorner};
}

const DWORD g_FloorColours[FloorColourCount] = {0xFFFF0000, 0xFF400000, 0xFFFF80FF, 0xFF800080,
                                                0xFF00FF00, 0xFF0000FF, 0xFF004080, 0xFFFFFF00,
                                                0xFFC8C800, 0xFFFFFFFF, 0xFFC80000, 0xFF808080};
const int g_FloorFrameCounts[FloorPatternCount] = {6, 4, 4, 2, 2, 3, 4};
const char* const g_FloorPatternNames[FloorPatternCount] = {"mill",   "lines",  "lines", "chessboard",
                                                            "square", "circle", "corner"};

const char* GetFloorPatternFrame(int pattern, int frame)
{
    return kPatterns[pattern][frame];
}

CEntityFloor::CEntityFloor()
    : m_pBox(nullptr), m_HitCornerA(-192.0f, 6.0f, -192.0f), m_HitCornerB(-256.0f, 6.0f, -256.0f), m_Pattern(0),
      m_Frame(0), m_Colour(0), m_Animation(false)
{
    if (g_pDevice)
        D3DXCreateBox(g_pDevice, 64.0f, 3.0f, 64.0f, &m_pBox, nullptr);
    LoadPatternFrame();
    m_Menu.EnableButton(0, true);
    m_Menu.EnableButton(7, true);
    m_Menu.EnableButton(8, true);
    m_Type = EntityTypeFloor;
}

CEntityFloor::~CEntityFloor()
{
    if (m_pBox) {
        m_pBox->Release();
        m_pBox = nullptr;
    }
}

void CEntityFloor::LoadPatternFrame()
{
    if (m_Frame > g_FloorFrameCounts[m_Pattern] - 1)
        m_Frame = 0;
    const char* frame = GetFloorPatternFrame(m_Pattern, m_Frame);
    for (int i = 0; i < FloorSize * FloorSize; ++i)
        m_Tiles[i] = frame[i] == '#' ? 1 : 0;
}

void CEntityFloor::Update(float dt)
{
    m_Menu.Update(dt);
    const D3DXVECTOR2 point = GetScreenPosition();
    if (!m_Menu.IsOpen()) {
        m_Menu.m_CentreX = point.x;
        m_Menu.m_CentreY = point.y;
    }
    if (m_Animation) {
        const int n = static_cast<int>(g_fTime * 30.0f);
        if (n % 2 != 0) {
            ++m_Frame;
            LoadPatternFrame();
        }
    }
}

void CEntityFloor::OnAction(int button)
{
    switch (button) {
    case 0:
        g_Logger.SetLocation(kSource, 238);
        g_Logger.Printf("material");
        m_Colour = m_Colour == FloorColourCount - 1 ? 0 : m_Colour + 1;
        SetStatusText("color changed", timeGetTime(), false);
        break;
    case 7:
        g_Logger.SetLocation(kSource, 245);
        g_Logger.Printf("Floor Animation ONOFF");
        m_Animation = !m_Animation;
        SetStatusText(m_Animation ? "animation on" : "animation off", timeGetTime(), false);
        break;
    case 8:
        g_Logger.SetLocation(kSource, 252);
        g_Logger.Printf("pattern %d ", m_Pattern);
        m_Pattern = m_Pattern == FloorPatternCount - 1 ? 0 : m_Pattern + 1;
        m_Frame = 0;
        LoadPatternFrame();
        SetStatusText(g_FloorPatternNames[m_Pattern], timeGetTime(), false);
        break;
    default:
        break;
    }
}

void CEntityFloor::Render()
{
    const D3DXVECTOR4 packed = UnpackColour(g_FloorColours[m_Colour]);
    const D3DXVECTOR4 lit(packed.x, packed.y, packed.z, packed.w);
    const D3DXVECTOR4 unlit(0.2f, 0.2f, 0.2f, 1.0f);

    m_Transform = m_InitialTransform;
    const float x0 = m_InitialTransform.position.x - 413.5f;
    const float y = m_InitialTransform.position.y + 20.0f;
    const float z0 = m_InitialTransform.position.z - 413.5f;
    for (int c = 0; c < FloorSize; ++c) {
        for (int r = 0; r < FloorSize; ++r) {
            m_Transform.position = D3DXVECTOR3(x0 + 64.0f * r, y, z0 + 64.0f * c);
            const D3DXMATRIX world = GetWorldMatrix(m_Transform);
            g_pDevice->SetTransform(D3DTS_WORLD, &world);
            DrawTile(IsTileLit(r, c) ? lit : unlit);
        }
    }
}

void CEntityFloor::DrawTile(D3DXVECTOR4 colour)
{
    if (!g_pSpotShader || !m_pBox)
        return;
    D3DXMATRIX world;
    g_pDevice->GetTransform(D3DTS_WORLD, &world);
    g_pSpotShader->SetWorldMatrix(world);
    g_pSpotShader->SetMaterial(colour);
    ID3DXEffect* effect = g_pSpotShader->GetEffect();
    if (!effect)
        return;
    UINT passes = 0;
    effect->Begin(&passes, 0);
    for (UINT i = 0; i < passes; ++i) {
        effect->BeginPass(i);
        m_pBox->DrawSubset(0);
        effect->EndPass();
    }
    effect->End();
}

void CEntityFloor::ProjectCorners(D3DXVECTOR3& a, D3DXVECTOR3& b)
{
    const D3DXMATRIX world = GetWorldMatrix(m_InitialTransform);
    g_pDevice->SetTransform(D3DTS_WORLD, &world);
    a = ProjectToScreen(m_HitCornerA);
    b = ProjectToScreen(m_HitCornerB);
}

bool CEntityFloor::HitTest(int x, int y)
{
    D3DXVECTOR3 a, b;
    ProjectCorners(a, b);
    const float fx = static_cast<float>(x);
    const float fy = static_cast<float>(y);
    const float left = a.x < b.x ? a.x : b.x;
    const float right = a.x < b.x ? b.x : a.x;
    const float top = a.y < b.y ? a.y : b.y;
    const float bottom = a.y < b.y ? b.y : a.y;
    if (fx > left && fx < right && fy > top && fy < bottom) {
        DrawMarker();
        return true;
    }
    return false;
}

D3DXVECTOR2 CEntityFloor::GetScreenPosition()
{
    D3DXVECTOR3 a, b;
    ProjectCorners(a, b);
    return D3DXVECTOR2((a.x + b.x) * 0.5f, (a.y + b.y) * 0.5f);
}

void CEntityFloor::DrawMarker()
{
    const D3DXVECTOR2 point = GetScreenPosition();
    DrawMarkerCircle(point.x, point.y);
}
