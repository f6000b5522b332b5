// The demo scene as the player runs it (Host, built-in music, virtual clock),
// held in one of the states the demo script passes through: nothing under the
// mouse, the mouse over the left dancer (the veil drawn at alpha 0), or the
// dancer's ring menu open (the veil at 90). For the benchmarks and the tests
// that need a real frame; the module is linked into the program and runs from
// a folder of its own that links the build's data folder and holds a
// plugin.ini with the window size.
#ifndef VELMORA_DEMO_SCENE_H
#define VELMORA_DEMO_SCENE_H

#include "Entity/EntityManager.h"
#include "d3d_stuff.h"
#include "host.h"
#include "input.h"
#include "main.h"
#include "music_analysis.h"
#include "plugin.h"
#include "test_support.h"

#include <velmora_platform.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

namespace testing_support {

enum class DemoState
{
    NoMenu,
    Hover,
    MenuOpen
};

inline const char* DemoStateName(DemoState state)
{
    switch (state)
    {
    case DemoState::Hover:
        return "hover";
    case DemoState::MenuOpen:
        return "menu_open";
    default:
        return "no_menu";
    }
}

class DemoScene
{
public:
    DemoScene(int width, int height) : m_Width(width), m_Height(height) {}
    ~DemoScene()
    {
        if (m_Host.Initialised())
            m_Host.Quit();
        VelmoraUseRealClock();
    }
    DemoScene(const DemoScene&) = delete;
    DemoScene& operator=(const DemoScene&) = delete;

    // Starts the module and plays past the start-up message; false with a reason.
    bool Start(std::string& error)
    {
        if (m_Folder.Path().empty() ||
            symlink((std::string(VELMORA_PLUGIN_DIR) + "/data").c_str(), (m_Folder / "data").c_str()) != 0)
        {
            error = "cannot make the module's folder";
            return false;
        }
        char ini[128];
        snprintf(ini, sizeof(ini), "[velmora]\nSCREEN_WIDTH=%d\nSCREEN_HEIGHT=%d\n", m_Width, m_Height);
        if (!WriteFile(m_Folder / "plugin.ini", ini))
        {
            error = "cannot write plugin.ini";
            return false;
        }
        char windowsName[4096];
        if (!VelmoraToWindowsPath((m_Folder / "vis.dll").c_str(), windowsName, sizeof(windowsName)))
        {
            error = "cannot name the module file";
            return false;
        }
        m_Source = OpenSpectrumSource("", true, error);
        if (!m_Source)
            return false;
        HINSTANCE instance = VelmoraRegisterModule(windowsName);
        CVisModule* module = GetModule(0);
        module->hDllInstance = instance;
        module->delayMs = 25;
        m_Host.Attach(module, instance);
        // What an earlier run in this process left behind: every run starts
        // as in a fresh process, so that its pictures repeat.
        g_WindowX = 50;
        g_WindowY = 50;
        g_SpectrumProfiles.clear();
        SetStatusText("", 0, false);
        std::srand(1);
        VelmoraUseVirtualClock(100000);
        if (m_Host.Init() != 0 || !g_pEntityManager)
        {
            error = "the module's Init failed";
            return false;
        }
        m_Target.renderWindow = m_Host.RenderWindow();
        m_Target.embeddedWindow = m_Host.EmbeddedWindow();
        m_MouseX = Scaled(700, 560).first;
        m_MouseY = Scaled(700, 560).second;
        // The start-up message goes after 2 s.
        for (int i = 0; i < 100; ++i)
            Frame();
        return true;
    }

    // Moves the mouse (and clicks) as the demo script does, renders until the
    // state has settled and checks that the scene is in it.
    bool Enter(DemoState state, std::string& error)
    {
        // The demo's places at 800 x 600; the projection stretches the scene to the window.
        const std::pair<int, int> at = state == DemoState::NoMenu ? Scaled(700, 560) : Scaled(288, 300);
        m_MouseX = at.first;
        m_MouseY = at.second;
        if (state == DemoState::MenuOpen && g_pEntityManager->GetState() != state_menu)
        {
            Frame();
            PostMouseMove(m_Target, m_MouseX, m_MouseY);
            PostLeftButtonUp(m_Target);
            m_Host.DeliverMessages();
        }
        else if (state != DemoState::MenuOpen && g_pEntityManager->GetState() != state_none)
        {
            PostRightButtonUp(m_Target);
            m_Host.DeliverMessages();
        }
        // The menu opens in a quarter of a second.
        for (int i = 0; i < 20; ++i)
            Frame();
        if (!InState(state))
        {
            error = std::string("the scene is not in the state ") + DemoStateName(state);
            return false;
        }
        return true;
    }

    bool InState(DemoState state) const
    {
        const CEntityManager& scene = *g_pEntityManager;
        switch (state)
        {
        case DemoState::NoMenu:
            return scene.GetState() == state_none && !scene.m_pSelected;
        case DemoState::Hover:
            return scene.GetState() == state_none && scene.m_pSelected && scene.GetVeilAlpha() == 0;
        default:
            return scene.GetState() == state_menu && scene.GetVeilAlpha() == 90;
        }
    }

    // A frame in its steps: the music's bytes and the mouse held where it is
    // (input keeps the camera in place and the menu from closing), Render,
    // then the clock and the messages.
    void BeginFrame()
    {
        m_Host.FillAudio(m_Source.get(), m_PositionMs);
        PostMouseMove(m_Target, m_MouseX, m_MouseY);
        m_Host.DeliverMessages();
    }
    void Render() { m_Host.Render(); }
    void EndFrame()
    {
        m_Host.EndFrame();
        m_PositionMs += 25.0;
    }
    void Frame()
    {
        BeginFrame();
        Render();
        EndFrame();
    }

    // The last picture presented to the render window (rows top to bottom, 0xAARRGGBB).
    const DWORD* Picture(int& width, int& height) const
    {
        return VelmoraGetWindowPicture(m_Host.RenderWindow(), &width, &height);
    }

    HWND RenderWindow() const { return m_Host.RenderWindow(); }
    int Width() const { return m_Width; }
    int Height() const { return m_Height; }

private:
    std::pair<int, int> Scaled(int x, int y) const { return {x * m_Width / 800, y * m_Height / 600}; }

    int m_Width;
    int m_Height;
    TempFolder m_Folder;
    Host m_Host;
    InputTarget m_Target;
    std::unique_ptr<SpectrumSource> m_Source;
    double m_PositionMs = 0.0;
    int m_MouseX = 0;
    int m_MouseY = 0;
};

} // namespace testing_support

#endif
