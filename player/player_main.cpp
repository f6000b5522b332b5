// velmora-player: loads the visualisation module as Winamp would and plays
// it headless with a virtual clock, so that two runs write the same log.
#include "frames.h"
#include "host.h"
#include "signal.h"

#include <velmora_platform.h>

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace {

struct Options
{
    std::string module;
    std::string driveC;
    std::string audio;
    std::string out;
    bool loop = false;
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
            "  --audio FILE    music to analyse (default: the built-in signal)\n"
            "  --loop          play the music again from the start when it ends\n"
            "  --out DIR       write the render window's pictures as PNG files into DIR\n"
            "  --every N       with --out, write every N-th frame (default 1)\n"
            "  --help          show this help\n");
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

bool ParseCount(const char* text, int minimum, int& value)
{
    char* end = nullptr;
    long parsed = strtol(text, &end, 10);
    if (!*text || *end || parsed < minimum || parsed > 100000000)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

// Returns 0 to go on, otherwise the exit status.
int Parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i)
    {
        std::string arg = argv[i];
        auto value = [&](const char*& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        if (arg == "--help" || arg == "-h")
        {
            Usage(stdout);
            return -1;
        }
        else if (arg == "--loop")
            options.loop = true;
        else if (arg == "--module" && value(v))
            options.module = v;
        else if (arg == "--drive-c" && value(v))
            options.driveC = v;
        else if (arg == "--audio" && value(v))
            options.audio = v;
        else if (arg == "--out" && value(v))
            options.out = v;
        else if (arg == "--frames" && value(v) && ParseCount(v, 0, options.frames))
            ;
        else if (arg == "--every" && value(v) && ParseCount(v, 1, options.every))
            ;
        else
        {
            fprintf(stderr, "velmora-player: bad argument '%s' (see --help)\n", arg.c_str());
            return 2;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
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
    std::unique_ptr<SpectrumSource> source = OpenSpectrumSource(options.audio, options.loop, error);
    if (!source)
    {
        fprintf(stderr, "velmora-player: %s\n", error.c_str());
        return 1;
    }
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
    VelmoraUseVirtualClock(0);

    char logPath[PATH_MAX * 2];
    if (!VelmoraMapPath("C:\\winamplog.txt", logPath, sizeof(logPath)))
        snprintf(logPath, sizeof(logPath), "%s", "C:\\winamplog.txt");

    Host host;
    if (!host.Load(options.module, error))
    {
        fprintf(stderr, "velmora-player: %s\n", error.c_str());
        return 1;
    }
    const int result = host.Init();
    if (result != 0)
    {
        host.Unload();
        fprintf(stderr, "velmora-player: the module's Init failed (%d); its log is %s\n", result, logPath);
        return 1;
    }

    int written = 0;
    int frame = 0;
    double positionMs = 0.0;
    for (; frame < options.frames; ++frame)
    {
        if (!host.Frame(source.get(), positionMs))
            break;
        positionMs += host.Module()->delayMs;
        if (!options.out.empty() && frame % options.every == 0)
        {
            if (WriteWindowPicture(host.RenderWindow(), options.out + "/" + FrameFileName(frame)))
                ++written;
        }
    }
    host.Quit();
    host.Unload();

    printf("velmora-player: %d frames rendered\n", frame);
    printf("log: %s\n", logPath);
    if (!options.out.empty())
        printf("frames: %d written to %s\n", written, options.out.c_str());
    return 0;
}
