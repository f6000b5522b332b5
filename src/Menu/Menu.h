// The ring menu every entity carries: up to eleven round buttons laid on a
// circle around the entity's point on screen.
#ifndef VELMORA_MENU_MENU_H
#define VELMORA_MENU_MENU_H

class CTexture;

// Music reference codes held by the buttons and by the IK controls.
enum
{
    RefNone = 0,
    RefUnlinked = 1,
    RefBass = 2,
    RefMedium = 3,
    RefTreble = 4
};

const int MenuButtonCount = 11;

struct CMenuButton
{
    bool enabled;
    int reference;
    float level;
    float accumulatedLevel;
    CTexture* texture;
};

class CMenu
{
public:
    enum
    {
        StateClosed = 0,
        StateOpen = 1,
        StateClosing = 2,
        StateOpening = 3
    };

    CMenu();

    void Open();
    void Close();
    bool IsOpen() const { return m_State == StateOpen; }
    void Update(float dt);
    void EnableButton(int button, bool enabled);
    CMenuButton& GetButton(int button) { return m_Buttons[button]; }
    const CMenuButton& GetButton(int button) const { return m_Buttons[button]; }
    void SetTextures(CTexture* const textures[MenuButtonCount]);

    // The button's point in viewport pixels, unrounded and as truncated ints.
    void GetButtonPoint(int button, float& x, float& y) const;
    void GetButtonPosition(int button, int& x, int& y) const;

    bool HitTestButton(float x, float y, int button) const;
    bool HitTest(int x, int y, int& button) const;
    bool GetHoveredButton(int& button) const;

    void Render();
    void RenderButton(int button, float x, float y, int alpha);
    void RenderPulse(int button);

    int GetState() const { return m_State; }
    float GetProgress() const { return m_Progress; }

    CMenuButton m_Buttons[MenuButtonCount];
    int m_State;
    float m_CentreX;
    float m_CentreY;
    float m_Progress;
};

#endif
