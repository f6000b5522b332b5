// The player's side of the module interface: it loads the module, owns the
// main window that answers the module's WM_USER requests, and drives Init,
// Render and Quit. Its calls into the module, but for Quit and Unload, count
// as the module's work for the stop signals (see stop_signals.h), and its
// reads of the music as waits for the decoder; after a signal it calls the
// module no more until Quit.
#ifndef VELMORA_PLAYER_HOST_H
#define VELMORA_PLAYER_HOST_H

#include "plugin.h"

#include <string>

class SpectrumSource;

class Host
{
public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Loads the module file with dlopen, checks its header and asks for module 0.
    // On failure returns false with a one-line reason in `error`.
    bool Load(const std::string& modulePath, std::string& error);
    // Uses a module record that is already in this process (the tests link the
    // module directly); `instance` is its module instance.
    void Attach(CVisModule* module, HINSTANCE instance);

    // Fills the parent window, the instance and the audio format, then calls Init.
    int Init();
    // Fills the parent window and calls the module's Config.
    void Config();
    // Fills the spectrum and waveform bytes for `positionMs` (silence without a
    // source), calls Render, advances the virtual clock by the record's delay and
    // delivers the posted messages. Returns false when the source has ended, a
    // quit message arrived or a stop signal came.
    bool Frame(SpectrumSource* source, double positionMs);
    // Frame in its three steps, so that a benchmark can time the Render call
    // alone: the bytes (false when the source has ended), Render, then the
    // clock and the posted messages (false on a quit message).
    bool FillAudio(SpectrumSource* source, double positionMs);
    void Render() { m_Module->Render(m_Module); }
    bool EndFrame();
    // Delivers every posted message; returns false when one was WM_QUIT, or
    // once a stop signal came (the rest then stay queued).
    bool DeliverMessages();
    void Quit();
    // Unloads a module loaded by Load (its global objects are destroyed then).
    void Unload();

    // The answer to code 505: null makes the player answer 0 (an old player).
    void SetEmbedFunction(EmbedWindowFunc embed) { m_Embed = embed; }
    static HWND DefaultEmbed(CEmbedWindowState* state);

    CVisHeader* Header() const { return m_Header; }
    CVisModule* Module() const { return m_Module; }
    HWND MainWindow() const { return m_MainWindow; }
    HWND RenderWindow() const { return m_RenderWindow; }
    HWND EmbeddedWindow() const { return m_EmbeddedWindow; }
    int CycleView() const { return m_CycleView; }
    bool Initialised() const { return m_Initialised; }

private:
    static LRESULT CALLBACK MainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK EmbedProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnUser(WPARAM value, LPARAM code);

    void* m_Library = nullptr;
    CVisHeader* m_Header = nullptr;
    CVisModule* m_Module = nullptr;
    HINSTANCE m_Instance = nullptr;
    HWND m_MainWindow = nullptr;
    HWND m_RenderWindow = nullptr;
    HWND m_EmbeddedWindow = nullptr;
    EmbedWindowFunc m_Embed = DefaultEmbed;
    int m_CycleView = -1;
    bool m_Initialised = false;
    bool m_QuitCalled = false;
};

#endif
