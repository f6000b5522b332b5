// The dance floor: 7 x 7 tiles lit by the frames of a pattern in one colour.
#ifndef VELMORA_ENTITY_ENTITYFLOOR_H
#define VELMORA_ENTITY_ENTITYFLOOR_H

#include "Entity/Entity.h"

struct ID3DXMesh;

const int FloorSize = 7;
const int FloorPatternCount = 7;
const int FloorColourCount = 12;

extern const DWORD g_FloorColours[FloorColourCount];
extern const int g_FloorFrameCounts[FloorPatternCount];
extern const char* const g_FloorPatternNames[FloorPatternCount];
// Frame f of pattern p: seven rows r of seven signs c, '#' lit.
const char* GetFloorPatternFrame(int pattern, int frame);

class CEntityFloor : public CEntityDynamic
{
public:
    CEntityFloor();
    ~CEntityFloor() override;

    void Render() override;
    void DrawMarker() override;
    void Update(float dt) override;
    void OnAction(int button) override;
    bool HitTest(int x, int y) override;
    D3DXVECTOR2 GetScreenPosition() override;

    void LoadPatternFrame();
    void DrawTile(D3DXVECTOR4 colour);

    bool IsTileLit(int r, int c) const { return m_Tiles[FloorSize * r + c] != 0; }

    ID3DXMesh* m_pBox;
    D3DXVECTOR3 m_HitCornerA;
    D3DXVECTOR3 m_HitCornerB;
    int m_Pattern;
    int m_Frame;
    int m_Colour;
    unsigned char m_Tiles[FloorSize * FloorSize];
    bool m_Animation;

private:
    void ProjectCorners(D3DXVECTOR3& a, D3DXVECTOR3& b);
};

#endif
