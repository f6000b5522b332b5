// Keeps standard error quiet while a library opens a device: ALSA, SDL's own
// drivers and the Wayland client write lines of their own there, and the
// player reports a missing device in one line of its own.
#ifndef VELMORA_PLAYER_QUIET_STDERR_H
#define VELMORA_PLAYER_QUIET_STDERR_H

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

class QuietStderr
{
public:
    QuietStderr()
    {
        fflush(stderr);
        m_Saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (m_Saved >= 0 && null >= 0)
            dup2(null, STDERR_FILENO);
        if (null >= 0)
            close(null);
    }
    ~QuietStderr()
    {
        if (m_Saved < 0)
            return;
        fflush(stderr);
        dup2(m_Saved, STDERR_FILENO);
        close(m_Saved);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int m_Saved = -1;
};

#endif
