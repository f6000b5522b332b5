// The ring menu: its animation, its band levels, its hit tests and its drawing.
#include "Menu/Menu.h"

#include "Logger.h"
#include "Resource/Texture.h"
#include "d3d_stuff.h"
#include "main.h"
#include "plugin.h"

#include <cmath>

namespace
{
const char* const kSource = "src\\Menu\\Menu";
const float kButtonAngle = 0.57118416f;
const float kRingRadius = 100.0f;
const float kButtonRadius = 25.0f;
const float kEdgeMargin = 120.0f;

// Buttons 2 to 5 start linkable.
const int kTemplateReference[MenuButtonCount] = {
    RefNone, RefNone, RefUnlinked, RefUnlinked, RefUnlinked, RefUnlinked, RefNone, RefNone, RefNone, RefNone, RefNone};

int AnimationAlpha(int state, float progress, int full)
{
    switch (state) {
    case CMenu::StateOpen:
        return full;
    case CMenu::StateOpening:
        return static_cast<int>(progress * full);
    case CMenu::StateClosing:
        return static_cast<int>((1.0f - progress) * full);
    default:
        return 0;
    }
}
}

CMenu::CMenu() : m_State(StateClosed), m_CentreX(0.0f), m_CentreY(0.0f), m_Progress(0.0f)
{
    for (int i = 0; i < MenuButtonCount; ++i) {
        m_Buttons[i].enabled = false;
        m_Buttons[i].reference = kTemplateReference[i];
        m_Buttons[i].level = 0.0f;
        m_Buttons[i].accumulatedLevel = 0.0f;
        m_Buttons[i].texture = nullptr;
    }
}

void CMenu::Open()
{
    if (m_State != StateClosed)
        return;
    m_State = StateOpening;
    m_Progress = 0.0f;
}

void CMenu::Close()
{
    if (m_State != StateOpen)
        return;
    m_State = StateClosing;
    m_Progress = 0.0f;
}

void CMenu::Update(float dt)
{
    for (int i = 0; i < MenuButtonCount; ++i) {
        CMenuButton& button = m_Buttons[i];
        float level;
        switch (button.reference) {
        case RefBass:
            level = g_fBass;
            break;
        case RefMedium:
            level = g_fMedium;
            break;
        case RefTreble:
            level = g_fTreble;
            break;
        default:
            button.level = 0.0f;
            button.accumulatedLevel = 0.0f;
            continue;
        }
        button.level = level;
        button.accumulatedLevel += level;
    }

    if (m_State == StateOpening || m_State == StateClosing) {
        m_Progress += dt * 4.0f;
        if (m_Progress > 1.0f) {
            m_State = m_State == StateOpening ? StateOpen : StateClosed;
            m_Progress = 0.0f;
        }
    }
}

void CMenu::EnableButton(int button, bool enabled)
{
    if (button < 0 || button >= MenuButtonCount)
        return;
    m_Buttons[button].enabled = enabled;
}

void CMenu::SetTextures(CTexture* const textures[MenuButtonCount])
{
    g_Logger.SetLocation(kSource, 88);
    g_Logger.Printf("setting menu textures");
    for (int i = 0; i < MenuButtonCount; ++i) {
        if (!m_Buttons[i].enabled || !textures[i])
            continue;
        g_Logger.SetLocation(kSource, 93);
        g_Logger.Printf("id: %d texture added", i);
        m_Buttons[i].texture = textures[i];
    }
}

void CMenu::GetButtonPoint(int button, float& x, float& y) const
{
    const float angle = button * kButtonAngle;
    x = m_CentreX + kRingRadius * std::cos(angle);
    y = m_CentreY + kRingRadius * std::sin(angle);
}

void CMenu::GetButtonPosition(int button, int& x, int& y) const
{
    float fx, fy;
    GetButtonPoint(button, fx, fy);
    x = static_cast<int>(fx);
    y = static_cast<int>(fy);
}

bool CMenu::HitTestButton(float x, float y, int button) const
{
    if (m_State != StateOpen || button < 0 || button >= MenuButtonCount || !m_Buttons[button].enabled)
        return false;
    float bx, by;
    GetButtonPoint(button, bx, by);
    const float dx = x - bx;
    const float dy = y - by;
    return std::sqrt(dx * dx + dy * dy) <= kButtonRadius;
}

bool CMenu::HitTest(int x, int y, int& button) const
{
    for (int i = 0; i < MenuButtonCount; ++i) {
        if (HitTestButton(static_cast<float>(x), static_cast<float>(y), i)) {
            button = i;
            return true;
        }
    }
    return false;
}

bool CMenu::GetHoveredButton(int& button) const
{
    return HitTest(static_cast<int>(g_MouseX), static_cast<int>(g_MouseY), button);
}

void CMenu::Render()
{
    float width = 0.0f;
    float height = 0.0f;
    if (g_pDevice) {
        D3DVIEWPORT9 viewport;
        if (SUCCEEDED(g_pDevice->GetViewport(&viewport))) {
            width = static_cast<float>(viewport.Width);
            height = static_cast<float>(viewport.Height);
        }
    }

    if (m_CentreX < kEdgeMargin)
        m_CentreX = kEdgeMargin;
    if (m_CentreY < kEdgeMargin)
        m_CentreY = kEdgeMargin;
    if (m_CentreX > width - kEdgeMargin)
        m_CentreX = width - kEdgeMargin;
    if (m_CentreY > height - kEdgeMargin)
        m_CentreY = height - kEdgeMargin;

    if (m_State == StateClosed)
        return;

    const int alpha = AnimationAlpha(m_State, m_Progress, 250);
    const float mouseX = static_cast<float>(g_MouseX);
    const float mouseY = static_cast<float>(g_MouseY);
    for (int i = 0; i < MenuButtonCount; ++i) {
        if (!m_Buttons[i].enabled)
            continue;
        float x, y;
        GetButtonPoint(i, x, y);
        const D3DCOLOR ring = (static_cast<DWORD>(alpha) << 24) + 0x4080FF;
        DrawCircle(x, y, kButtonRadius, ring, m_Buttons[i].reference == RefNone ? 5 : 20);
        RenderButton(i, x, y, alpha);
        if (HitTestButton(mouseX, mouseY, i))
            RenderPulse(i);
    }
}

void CMenu::RenderButton(int button, float x, float y, int alpha)
{
    CTexture* texture = m_Buttons[button].texture;
    if (!texture || !texture->GetD3DTexture()) {
        g_Logger.SetLocation(kSource, 196);
        g_Logger.Printf("RENDER BUTTON %d: error with the texture", button);
        return;
    }
    if (!g_pSprite)
        return;
    const D3DXVECTOR3 position(x - 32.0f, y - 32.0f, 0.0f);
    g_pSprite->Begin(D3DXSPRITE_ALPHABLEND);
    g_pSprite->Draw(texture->GetD3DTexture(), nullptr, nullptr, &position,
                    (static_cast<DWORD>(alpha) << 24) + 0xFFFFFF);
    g_pSprite->End();
}

void CMenu::RenderPulse(int button)
{
    if (!m_Buttons[button].enabled)
        return;
    const float p = (std::sin(g_fTime * 20.0f) + 1.0f) * 0.5f;
    float x, y;
    GetButtonPoint(button, x, y);
    const DWORD alpha = static_cast<DWORD>(static_cast<int>(255.0f * p));
    DrawCircle(x, y, kButtonRadius + 7.5000005f * p, (alpha << 24) + 0xFFFFFF, 8);
}
