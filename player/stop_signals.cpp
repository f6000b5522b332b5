#include "stop_signals.h"

#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>

const char kShutdownSkippedLine[] =
    "velmora-player: the module did not return within a second of the signal; its shutdown was skipped\n";
const char kMusicStalledLine[] = "velmora-player: the music's decoder kept the player waiting a second after the signal; "
                                 "the module's shutdown was skipped\n";
const char kSecondSignalLine[] = "velmora-player: a second signal; the module's shutdown was skipped\n";

namespace
{
// Lock-free, so that the handlers may read them on whichever thread the
// signal lands.
std::atomic<int> g_StopSignal{0};
std::atomic<int> g_ModuleLoading{0};
std::atomic<int> g_Watched{0}; // what the player is in: a WatchedWork kind, or 0
std::atomic<int> g_GraceOver{0};
std::atomic<int> g_ShutdownDone{0};
std::atomic<int> g_Ending{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handlers read these");

// Only async-signal-safe calls from here on: the handlers use it.
void EndNow(int number, const char* line)
{
    // The alarm and the start of watched work may both see the end on two threads.
    if (g_Ending.exchange(1))
        for (;;)
            pause();
    if (line)
    {
        ssize_t written = write(STDERR_FILENO, line, strlen(line));
        (void)written;
    }
    signal(number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, number);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(number);
    _exit(128 + number); // a signal that the default ignores would come back here
}

extern "C" void OnStopSignal(int number)
{
    if (!g_ModuleLoading)
        EndNow(number, nullptr);
    int first = 0;
    if (!g_StopSignal.compare_exchange_strong(first, number))
        EndNow(number, g_ShutdownDone ? nullptr : kSecondSignalLine);
    struct itimerval grace = {};
    grace.it_value.tv_sec = kStopGraceMs / 1000;
    grace.it_value.tv_usec = kStopGraceMs % 1000 * 1000;
    setitimer(ITIMER_REAL, &grace, nullptr);
}

const char* LineFor(int watched)
{
    return watched == WatchedWork::kMusic ? kMusicStalledLine : kShutdownSkippedLine;
}

extern "C" void OnGraceOver(int)
{
    if (!g_StopSignal)
        return;
    // Set before g_Watched is read, as WatchedWork sets g_Watched before it
    // reads this: one of the two sees the other.
    g_GraceOver = 1;
    if (const int watched = g_Watched)
        EndNow(g_StopSignal, LineFor(watched));
}
} // namespace

void CatchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    struct sigaction grace = {};
    grace.sa_handler = OnGraceOver;
    grace.sa_flags = SA_RESTART; // the player's own waits go on undisturbed
    sigemptyset(&grace.sa_mask);
    sigaction(SIGALRM, &grace, nullptr);
}

void ModuleLoading()
{
    g_ModuleLoading = 1;
}

int StopSignal()
{
    return g_StopSignal;
}

void ShutdownDone()
{
    g_ShutdownDone = 1;
}

void EndByStopSignal()
{
    const int number = g_StopSignal;
    if (!number)
        return;
    // Ended by the signal, as the one who sent it expects.
    fflush(stdout);
    signal(number, SIG_DFL);
    raise(number);
}

WatchedWork::WatchedWork(Kind kind) : m_Outer(g_Watched.exchange(kind))
{
    if (g_GraceOver)
        EndNow(g_StopSignal, LineFor(kind));
}

WatchedWork::~WatchedWork()
{
    g_Watched = m_Outer;
}
