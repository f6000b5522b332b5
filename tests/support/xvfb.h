// An X server of the test's own (Xvfb, on a display number it picks itself),
// for the tests that need a real window system: SDL's dummy driver has no
// windows that another client could touch.
#ifndef VELMORA_TEST_XVFB_H
#define VELMORA_TEST_XVFB_H

#include <X11/Xlib.h>

#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace testing_support {

class Xvfb
{
public:
    // Starts the server; Display() is empty when it could not be (no Xvfb).
    Xvfb()
    {
        int ready[2];
        if (access("/usr/bin/Xvfb", X_OK) != 0 || pipe(ready) != 0)
            return;
        m_Pid = fork();
        if (m_Pid == 0)
        {
            close(ready[0]);
            const std::string fd = std::to_string(ready[1]);
            if (!freopen("/dev/null", "w", stderr))
                _exit(127);
            execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
                  "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(ready[1]);
        // The server writes its display number once it takes connections.
        char number[32] = {};
        size_t got = 0;
        while (m_Pid > 0 && got < sizeof(number) - 1)
        {
            const ssize_t n = read(ready[0], number + got, sizeof(number) - 1 - got);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
            if (memchr(number, '\n', got))
                break;
        }
        close(ready[0]);
        if (got > 0 && number[0] >= '0' && number[0] <= '9')
            m_Display = ":" + std::to_string(atoi(number));
    }
    ~Xvfb() { Stop(); }
    // Ends the server, and with it every client's connection.
    void Stop()
    {
        if (m_Pid <= 0)
            return;
        kill(m_Pid, SIGTERM);
        int status = 0;
        waitpid(m_Pid, &status, 0);
        m_Pid = -1;
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& Display() const { return m_Display; }

private:
    pid_t m_Pid = -1;
    std::string m_Display;
};

// The top-level window of that name on `display`, or 0 once `seconds` passed
// without one.
inline Window FindTopLevelWindow(::Display* display, const char* name, double seconds)
{
    for (int waited = 0; waited < seconds * 20; ++waited)
    {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        Window found = 0;
        if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        {
            for (unsigned i = 0; i < count && !found; ++i)
            {
                char* title = nullptr;
                if (XFetchName(display, children[i], &title) && title)
                {
                    if (strcmp(title, name) == 0)
                        found = children[i];
                    XFree(title);
                }
            }
            if (children)
                XFree(children);
        }
        if (found)
            return found;
        usleep(50000);
    }
    return 0;
}

} // namespace testing_support

#endif
