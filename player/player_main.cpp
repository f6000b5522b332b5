// velmora-player: loads the visualisation module as Winamp would and plays
// it headless with a virtual clock, so that two runs write the same log, or
// live in a window with the music playing and the picture following it.
#include "audio_playback.h"
#include "frames.h"
#include "host.h"
#include "input.h"
#include "live_window.h"
#include "music_analysis.h"
#include "script.h"
#include "stop_signals.h"

#include <velmora_platform.h>

#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <string>
#include <thread>

namespace {

// The headless clock starts as a machine three hours up would: 0 is the
// overlay's "no time", so a text set in the first frame would lose its timing.
const DWORD kHeadlessStartMs = 3 * 60 * 60 * 1000;

struct Options
{
    std::string module;
    std::string driveC;
    std::string audio;
    std::string out;
    std::string script;
    bool loop = false;
    bool mute = false;
    bool window = false;
    bool config = false;
    bool framesGiven = false;
    int frames = 200;
    int every = 1;
};

void Usage(FILE* to)
{
    fprintf(to,
            "usage: velmora-player [options]\n"
            "  --module FILE   the module to load (default: ../plugin/vis_velmora.so beside this program)\n"
            "  --frames N      frames to render (default 200)\n"
            "  --drive-c DIR   the folder that stands for C: (default: ../drive_c beside this program)\n"
            "  --audio FILE    music to play and analyse: WAV (8, 16, 24 or 32-bit, float or double),\n"
            "                  FLAC, Ogg Vorbis or MP3 (default: the built-in signal)\n"
            "  --loop          play the music again from the start when it ends; without it a run,\n"
            "                  headless too, stops at the end of the file (even before --frames N)\n"
            "  --mute          with --window, send silence to the audio device (the picture still\n"
            "                  follows the device's clock); a headless run is always silent\n"
            "  --out DIR       write the render window's pictures as PNG files into DIR\n"
            "  --every N       with --out, write every N-th frame (default 1)\n"
            "  --script FILE   timed input, headless or with --window, one step a line: FRAME ACTION ARGS\n"
            "                  actions: move X Y | lclick | rclick | key NAME | command NAME | resize W H\n"
            "                  keys: a letter or digit, F1-F12, NUMPAD0-NUMPAD9, or a virtual-key number\n"
            "                  commands: next-preset, previous-preset, cycle-view, next-profile, or an id\n"
            "                  at most %d steps a frame (refused with the line's number) and %d MB a\n"
            "                  script; its steps take at most 1.5 times the file's size in memory\n"
            "  --window        show the module in a window on the desktop, at the module's pace on the\n"
            "                  real clock, until it is closed (or --frames N); needs a display.\n"
            "                  The music plays out loud and the spectrum is taken where the audio\n"
            "                  device is playing; without an audio device the music is silent and\n"
            "                  the picture follows the real clock. The window's size is the module's:\n"
            "                  SCREEN_WIDTH and SCREEN_HEIGHT in plugin.ini beside the module\n"
            "  --config        show the module's configuration box and exit\n"
            "  --help          show this help\n"
            "\n"
            "In the window: the mouse and the keys go to the module (H or keypad 8: help texts on/off);\n"
            "the player's commands: Right next camera, Left previous camera, Space cycle view on/off,\n"
            "Tab next spectrum profile; Escape or closing the window quits.\n"
            "\n"
            "Spectrum: each frame the player analyses the music around the play position, per channel:\n"
            "a periodic Hann window of N samples (N the smallest power of two >= sample rate / 12),\n"
            "real FFT; bin i (0..575) is centred on 20 Hz * 1000^(i/575) (bins 0-191: 20-200 Hz,\n"
            "192-383: 200 Hz-2 kHz, 384-575: 2-20 kHz) and takes the largest magnitude in its span;\n"
            "amplitude 4|X|/N in dBFS maps to byte 255 * (dBFS + 72) / 72, clamped to 0..255.\n"
            "Without --audio the player plays a built-in 8-second loop of music at 120 BPM.\n"
            "\n"
            "Render threads: as many as the cores the player may run on (its CPU affinity, as taskset\n"
            "or a container sets it), at most 8; VELMORA_RENDER_THREADS=N sets the number (1 to 8,\n"
            "1: all drawing on the calling thread).\n",
            kMaxStepsPerFrame, static_cast<int>(kMaxScriptBytes >> 20));
}

std::string ExecutableFolder()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    std::string folder = path;
    size_t slash = folder.rfind('/');
    return slash == std::string::npos ? "." : folder.substr(0, slash);
}

std::string Absolute(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof(cwd)))
        return path;
    return std::string(cwd) + "/" + path;
}

const long kMostFrames = 100000000;

bool ParseCount(const char* text, int minimum, int& value)
{
    char* end = nullptr;
    long parsed = strtol(text, &end, 10);
    if (!*text || *end || parsed < minimum || parsed > kMostFrames)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

int Refuse(const std::string& why)
{
    fprintf(stderr, "velmora-player: %s\n", why.c_str());
    return 2;
}

// Returns 0 to go on, otherwise the exit status.
int Parse(int argc, char** argv, Options& options)
{
    bool everyGiven = false;
    // The options that take a value: a path, or a count from `least`.
    const struct
    {
        const char* name;
        const char* path; // what the path names, or null for a count
        std::string* text;
        int* count;
        int least;
        bool* given;
    } valued[] = {{"--module", "a file", &options.module, nullptr, 0, nullptr},
                  {"--drive-c", "a folder", &options.driveC, nullptr, 0, nullptr},
                  {"--audio", "a file", &options.audio, nullptr, 0, nullptr},
                  {"--out", "a folder", &options.out, nullptr, 0, nullptr},
                  {"--script", "a file", &options.script, nullptr, 0, nullptr},
                  {"--frames", nullptr, nullptr, &options.frames, 0, &options.framesGiven},
                  {"--every", nullptr, nullptr, &options.every, 1, &everyGiven}};
    for (int i = 1; i < argc; ++i)
    {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
        {
            Usage(stdout);
            return -1;
        }
        else if (arg == "--loop")
            options.loop = true;
        else if (arg == "--mute")
            options.mute = true;
        else if (arg == "--window")
            options.window = true;
        else if (arg == "--config")
            options.config = true;
        else
        {
            const auto* option =
                std::find_if(std::begin(valued), std::end(valued), [&](const auto& o) { return arg == o.name; });
            if (option == std::end(valued))
                return Refuse("bad argument '" + arg + "' (see --help)");
            const std::string takes = arg + " takes " +
                (option->path ? option->path
                              : "a whole number of frames from " + std::to_string(option->least) + " to " +
                                    std::to_string(kMostFrames));
            // An option in the value's place means the value was left out
            // (a file whose name starts so is given as ./--name).
            const char* v = i + 1 < argc ? argv[i + 1] : "";
            if (!*v || strncmp(v, "--", 2) == 0)
                return Refuse(takes + ", and none follows it");
            ++i;
            if (option->text)
                *option->text = v;
            else if (ParseCount(v, option->least, *option->count))
                *option->given = true;
            else
                return Refuse(takes + ", not '" + v + "'");
        }
    }
    // Options that only change what another one does.
    if (everyGiven && options.out.empty())
        return Refuse("--every needs --out: it picks the frames written there");
    if (options.mute && !options.window)
        return Refuse("--mute needs --window: a headless run is always silent");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    CatchStopSignals();
    Options options;
    if (int status = Parse(argc, argv, options))
        return status < 0 ? 0 : status;

    const std::string folder = ExecutableFolder();
    if (options.module.empty())
        options.module = folder + "/../plugin/vis_velmora.so";
    if (options.driveC.empty())
        options.driveC = folder + "/../drive_c";
    options.driveC = Absolute(options.driveC);

    std::string error;
    InputScript script;
    if (!options.script.empty() && !script.Load(options.script, error))
    {
        fprintf(stderr, "velmora-player: %s\n", error.c_str());
        return 2;
    }
    // A window needs a display; without one the run stops here, before the module is loaded.
    LiveWindow live;
    if (options.window && !live.StartVideo(error))
    {
        fprintf(stderr, "velmora-player: %s\n", error.c_str());
        return 1;
    }
    Music music;
    if (!LoadMusic(options.audio, options.loop, music, error))
    {
        fprintf(stderr, "velmora-player: %s\n", error.c_str());
        return 1;
    }
    if (options.window && !DevicePlaysRate(music.stream->SampleRate()))
    {
        fprintf(stderr, "velmora-player: %s: %d Hz is a sample rate that no audio device plays (%d to %d Hz)\n",
                options.audio.c_str(), music.stream->SampleRate(), kLowestDeviceRate, kHighestDeviceRate);
        return 1;
    }
    std::unique_ptr<SpectrumSource> source = MakeSpectrumSource(music);
    if (!MakeFolders(options.driveC))
    {
        fprintf(stderr, "velmora-player: cannot create the folder %s for C:\n", options.driveC.c_str());
        return 1;
    }
    if (!options.out.empty() && !MakeFolders(options.out))
    {
        fprintf(stderr, "velmora-player: cannot create the output folder %s\n", options.out.c_str());
        return 1;
    }
    char resolved[PATH_MAX];
    if (realpath(options.driveC.c_str(), resolved))
        options.driveC = resolved;
    // Before the module is loaded: its logger opens C:\winamplog.txt at load.
    VelmoraSetDriveRoot('C', options.driveC.c_str());
    // Headless runs repeat exactly; a live window follows the real clock.
    if (options.window)
        VelmoraUseRealClock();
    else
        VelmoraUseVirtualClock(kHeadlessStartMs);

    char logPath[PATH_MAX * 2];
    if (!VelmoraMapPath("C:\\winamplog.txt", logPath, sizeof(logPath)))
        snprintf(logPath, sizeof(logPath), "%s", "C:\\winamplog.txt");

    Host host;
    ModuleLoading();
    if (!host.Load(options.module, error))
    {
        fprintf(stderr, "velmora-player: %s\n", error.c_str());
        return 1;
    }
    // The configuration box; or a signal while the module loaded, which no call of it follows.
    if (options.config || StopSignal())
    {
        if (!StopSignal())
            host.Config();
        host.Unload();
        ShutdownDone();
        printf("log: %s\n", logPath);
        EndByStopSignal();
        return 0;
    }
    const int result = host.Init();
    if (result != 0)
    {
        host.Unload();
        fprintf(stderr, "velmora-player: the module's Init failed (%d); its log is %s\n", result, logPath);
        return 1;
    }

    InputTarget target;
    target.renderWindow = host.RenderWindow();
    target.embeddedWindow = host.EmbeddedWindow();

    bool showing = false;
    if (options.window)
    {
        RECT client = {0, 0, 800, 600};
        GetClientRect(host.RenderWindow(), &client);
        if (live.Open("Velmora", client.right, client.bottom, error))
            showing = true;
        else
            fprintf(stderr, "velmora-player: %s; playing without a window\n", error.c_str());
    }
    const bool endless = showing && !options.framesGiven;

    // Headless runs stay silent, so that they repeat exactly.
    AudioPlayback playback;
    if (showing)
    {
        MusicWait wait; // the device's first block waits for the decoder
        if (!playback.Start(music, options.mute, error))
            fprintf(stderr, "velmora-player: %s; the music is silent\n", error.c_str());
    }

    int written = 0;
    int frame = 0;
    double positionMs = 0.0;
    auto next = std::chrono::steady_clock::now();
    for (; endless || frame < options.frames; ++frame)
    {
        if (StopSignal())
            break;
        if (showing && !live.Pump(target))
            break;
        script.Apply(frame, target);
        // Input reaches the module between frames.
        if (!host.DeliverMessages())
            break;
        // The picture shows what is heard: after a slow frame it skips ahead, never lags.
        if (showing)
            positionMs = playback.PositionMs();
        if (!host.Frame(source.get(), positionMs))
            break;
        positionMs += host.Module()->delayMs;
        if (!options.out.empty() && frame % options.every == 0)
        {
            if (WriteWindowPicture(host.RenderWindow(), options.out + "/" + FrameFileName(frame)))
                ++written;
        }
        if (showing)
        {
            live.Show(host.RenderWindow());
            next += std::chrono::milliseconds(host.Module()->delayMs > 0 ? host.Module()->delayMs : 0);
            // A frame slower than the step does not make the next ones hurry to catch up.
            const auto now = std::chrono::steady_clock::now();
            if (next < now)
                next = now;
            std::this_thread::sleep_until(next);
        }
    }
    playback.Stop();
    host.Quit();
    host.Unload();
    ShutdownDone();

    printf("velmora-player: %d frames rendered\n", frame);
    printf("log: %s\n", logPath);
    if (!options.out.empty())
        printf("frames: %d written to %s\n", written, options.out.c_str());
    EndByStopSignal();
    // Music that broke off ended the run early (its line is on stderr): what was written stays.
    return music.stream->StoppedAtBreak() ? 1 : 0;
}
