#include "host.h"

#include "music_analysis.h"
#include "stop_signals.h"

#include <velmora_platform.h>

#include <dlfcn.h>

namespace {

const char* const kMainClass = "VelmoraPlayer";
const char* const kEmbedClass = "VelmoraEmbedded";

// The embed function is a plain function pointer: it reaches its player here.
Host* s_CurrentHost = nullptr;

} // namespace

Host::Host()
{
    WNDCLASSA mainClass = {};
    mainClass.lpfnWndProc = MainProc;
    mainClass.lpszClassName = kMainClass;
    RegisterClassA(&mainClass); // already there when another player ran in this process
    WNDCLASSA embedClass = {};
    embedClass.lpfnWndProc = EmbedProc;
    embedClass.lpszClassName = kEmbedClass;
    RegisterClassA(&embedClass);

    m_MainWindow = CreateWindowExA(0, kMainClass, "Velmora player", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 200,
                                   nullptr, nullptr, nullptr, this);
    s_CurrentHost = this;
}

Host::~Host()
{
    if (m_Initialised && !m_QuitCalled)
        Quit();
    Unload();
    if (IsWindow(m_EmbeddedWindow))
        DestroyWindow(m_EmbeddedWindow);
    if (IsWindow(m_MainWindow))
        DestroyWindow(m_MainWindow);
    // Drops what the windows posted while they went.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
    {
    }
    if (s_CurrentHost == this)
        s_CurrentHost = nullptr;
}

bool Host::Load(const std::string& modulePath, std::string& error)
{
    ModuleCall call; // its global objects are made as it loads
    void* library = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
    {
        const char* reason = dlerror();
        error = "cannot load module " + modulePath + ": " + (reason ? reason : "unknown error");
        return false;
    }
    auto getHeader = reinterpret_cast<VisGetHeaderFunc>(dlsym(library, "winampVisGetHeader"));
    if (!getHeader)
    {
        dlclose(library);
        error = "module " + modulePath + " does not export winampVisGetHeader";
        return false;
    }
    CVisHeader* header = getHeader();
    if (!header || header->version != VIS_HEADER_VERSION)
    {
        dlclose(library);
        error = "module " + modulePath + " has an unsupported header version";
        return false;
    }
    CVisModule* module = header->getModule ? header->getModule(0) : nullptr;
    if (!module)
    {
        dlclose(library);
        error = "module " + modulePath + " offers no module 0";
        return false;
    }
    m_Library = library;
    m_Header = header;
    m_Module = module;
    m_Instance = reinterpret_cast<HINSTANCE>(library);
    return true;
}

void Host::Attach(CVisModule* module, HINSTANCE instance)
{
    m_Module = module;
    m_Instance = instance;
}

int Host::Init()
{
    if (!m_Module)
        return 1;
    m_Module->hwndParent = m_MainWindow;
    m_Module->hDllInstance = m_Instance;
    m_Module->sRate = 44100;
    m_Module->nCh = 2;
    s_CurrentHost = this;
    ModuleCall call;
    int result = m_Module->Init(m_Module);
    m_Initialised = result == 0;
    m_QuitCalled = false;
    return result;
}

void Host::Config()
{
    if (!m_Module || !m_Module->Config)
        return;
    m_Module->hwndParent = m_MainWindow;
    m_Module->hDllInstance = m_Instance;
    ModuleCall call;
    m_Module->Config(m_Module);
}

bool Host::Frame(SpectrumSource* source, double positionMs)
{
    if (!FillAudio(source, positionMs))
        return false;
    // A signal while the music was read: no call of the module after it.
    if (StopSignal())
        return false;
    ModuleCall call;
    Render();
    return EndFrame();
}

bool Host::FillAudio(SpectrumSource* source, double positionMs)
{
    if (source)
    {
        MusicWait wait; // the analysis waits for the decoder where it has not kept up
        return source->Fill(positionMs, m_Module->spectrumData, m_Module->waveformData);
    }
    for (auto& channel : m_Module->spectrumData)
        for (auto& value : channel)
            value = 0;
    for (auto& channel : m_Module->waveformData)
        for (auto& value : channel)
            value = 0;
    return true;
}

bool Host::EndFrame()
{
    // The record's delay is read every frame, as the module itself does.
    VelmoraAdvanceClock(static_cast<DWORD>(m_Module->delayMs > 0 ? m_Module->delayMs : 0));
    return DeliverMessages();
}

bool Host::DeliverMessages()
{
    // After a signal the module is called no more; the messages stay queued.
    if (StopSignal())
        return false;
    ModuleCall call; // the module's window procedures run here
    MSG msg;
    bool running = true;
    while (!StopSignal() && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
    {
        if (msg.message == WM_QUIT)
            running = false;
        else
            DispatchMessageA(&msg);
    }
    return running && !StopSignal();
}

void Host::Quit()
{
    if (!m_Module)
        return;
    m_Module->Quit(m_Module);
    m_QuitCalled = true;
    m_Initialised = false;
    // The quit message of the destroyed render window belongs to this run only.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message != WM_QUIT)
            DispatchMessageA(&msg);
}

void Host::Unload()
{
    if (!m_Library)
        return;
    dlclose(m_Library);
    m_Library = nullptr;
    m_Header = nullptr;
    m_Module = nullptr;
}

HWND Host::DefaultEmbed(CEmbedWindowState* state)
{
    if (!state)
        return nullptr;
    const RECT& r = state->r;
    HWND window = CreateWindowExA(0, kEmbedClass, "", WS_OVERLAPPEDWINDOW, r.left, r.top, r.right - r.left,
                                  r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
    state->me = window;
    if (s_CurrentHost)
        s_CurrentHost->m_EmbeddedWindow = window;
    return window;
}

LRESULT Host::OnUser(WPARAM value, LPARAM code)
{
    switch (code)
    {
    case IPC_GET_EMBEDIF:
        return reinterpret_cast<LRESULT>(m_Embed);
    case IPC_SETVISWND:
        m_RenderWindow = reinterpret_cast<HWND>(value);
        return 0;
    case IPC_CB_VISRANDOM:
        m_CycleView = static_cast<int>(value);
        return 0;
    default:
        return 0;
    }
}

LRESULT CALLBACK Host::MainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongA(hwnd, GWL_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    Host* host = reinterpret_cast<Host*>(GetWindowLongA(hwnd, GWL_USERDATA));
    if (host && message == WM_USER)
        return host->OnUser(wParam, lParam);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK Host::EmbedProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
