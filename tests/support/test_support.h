// Helpers shared by the test programs: temporary folders, whole-file reads,
// the module's log and child processes.
#ifndef VELMORA_TEST_SUPPORT_H
#define VELMORA_TEST_SUPPORT_H

#include <velmora_platform.h>

#include <ftw.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the temporary folder, removed with everything in it.
class TempFolder
{
public:
    TempFolder()
    {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velmora-test-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()))
            m_Path = buffer.data();
    }
    ~TempFolder()
    {
        if (m_Path.empty())
            return;
        // Read-only folders made by a test must not stop the clean-up.
        nftw(m_Path.c_str(), [](const char* p, const struct stat*, int type, struct FTW*) {
            if (type == FTW_D || type == FTW_DP)
                chmod(p, 0755);
            return 0;
        }, 16, FTW_PHYS);
        nftw(m_Path.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p) == 0 ? 0 : 0; },
             16, FTW_DEPTH | FTW_PHYS);
    }
    const std::string& Path() const { return m_Path; }
    std::string operator/(const std::string& name) const { return m_Path + "/" + name; }

private:
    std::string m_Path;
};

// The file from byte `offset` on.
inline bool ReadFile(const std::string& path, std::string& text, long offset = 0)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    text.clear();
    if (offset && fseek(file, offset, SEEK_SET) != 0)
    {
        fclose(file);
        return false;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0)
        text.append(buffer, n);
    fclose(file);
    return true;
}

inline std::string ReadFile(const std::string& path)
{
    std::string text;
    ReadFile(path, text);
    return text;
}

inline bool WriteFile(const std::string& path, const std::string& text)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && ok;
}

inline bool FileExists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// Where "C:\winamplog.txt" lies on this machine.
inline std::string LogPath()
{
    char path[4096];
    VelmoraMapPath("C:\\winamplog.txt", path, sizeof(path));
    return path;
}

inline std::string ReadLog()
{
    return ReadFile(LogPath());
}

inline std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The lines from the one equal to `first` to the next equal to `last`, both included.
inline std::vector<std::string> LinesBetween(const std::vector<std::string>& lines, const std::string& first,
                                             const std::string& last)
{
    std::vector<std::string> out;
    bool inside = false;
    for (const std::string& line : lines)
    {
        if (!inside && line == first)
            inside = true;
        if (inside)
        {
            out.push_back(line);
            if (line == last && out.size() > 1)
                break;
        }
    }
    return out;
}

// `depth` elements `name` nested in one another around `inside`: deep enough,
// they run a recursive parser out of stack.
inline std::string NestedXml(const std::string& name, int depth, const std::string& inside = "")
{
    std::string open, close;
    for (int i = 0; i < depth; ++i)
    {
        open += "<" + name + ">";
        close += "</" + name + ">";
    }
    return open + inside + close;
}

struct ProcessResult
{
    int status = -1; // the exit status; -1 when ended by a signal
    int signal = 0;  // the signal that ended it
    bool late = false; // it had to be killed at the deadline of FinishProgramWithin
    std::string out;
    std::string err;
};

// Starts a program with arguments (no shell), its output going to files in
// `folder`; `environment` holds NAME=VALUE settings added to the program's
// environment, and NAME alone removes that variable. Returns its process id.
inline pid_t StartProgram(const std::vector<std::string>& args, const std::string& folder,
                          const std::vector<std::string>& environment = {})
{
    std::string outPath = folder + "/stdout.txt", errPath = folder + "/stderr.txt";
    pid_t pid = fork();
    if (pid == 0)
    {
        if (!freopen(outPath.c_str(), "w", stdout) || !freopen(errPath.c_str(), "w", stderr))
            _exit(127);
        for (const std::string& setting : environment)
        {
            const size_t equals = setting.find('=');
            if (equals != std::string::npos)
                setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
            else
                unsetenv(setting.c_str());
        }
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// The outcome of a program; `status` as waitpid gave it, when it did.
inline ProcessResult Collected(bool ended, int status, const std::string& folder)
{
    ProcessResult result;
    if (!ended)
        ;
    else if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    result.out = ReadFile(folder + "/stdout.txt");
    result.err = ReadFile(folder + "/stderr.txt");
    return result;
}

// Waits for a program from StartProgram and collects its output.
inline ProcessResult FinishProgram(pid_t pid, const std::string& folder)
{
    int status = 0;
    const bool ended = pid > 0 && waitpid(pid, &status, 0) == pid;
    return Collected(ended, status, folder);
}

// Waits for a program from StartProgram for up to `seconds`; past that it is
// killed and `late` is set.
inline ProcessResult FinishProgramWithin(pid_t pid, const std::string& folder, double seconds)
{
    for (int waited = 0; waited < seconds * 100; ++waited)
    {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) != 0)
            return Collected(true, status, folder);
        usleep(10000);
    }
    kill(pid, SIGKILL);
    ProcessResult result = FinishProgram(pid, folder);
    result.late = true;
    return result;
}

// Waits up to `seconds` for `text` to appear in the file at `path`.
inline bool WaitForFileText(const std::string& path, const std::string& text, double seconds)
{
    for (int waited = 0; waited < seconds * 100; ++waited)
    {
        if (ReadFile(path).find(text) != std::string::npos)
            return true;
        usleep(10000);
    }
    return false;
}

// Runs a program to its end (see StartProgram).
inline ProcessResult RunProgram(const std::vector<std::string>& args, const std::string& folder,
                                const std::vector<std::string>& environment = {})
{
    return FinishProgram(StartProgram(args, folder, environment), folder);
}

} // namespace testing_support

#endif
