// SIGTERM and SIGINT end a run. Between the module's calls the run winds down
// cleanly: the sound stops, the module's Quit and unload run, the closing
// lines are printed and the player ends by the signal. A module that does not
// come back from its current call within the grace time, a wait for the
// music's decoder that outlasts it, or a second signal, ends the player at
// once, without the module's shutdown.
#ifndef VELMORA_PLAYER_STOP_SIGNALS_H
#define VELMORA_PLAYER_STOP_SIGNALS_H

// How long the current call of the module may go on after the first signal:
// a little under a second, so that the player has ended within one.
const int kStopGraceMs = 950;

// The line on standard error when the grace time has passed in the module.
extern const char kShutdownSkippedLine[];
// The line on standard error when the grace time has passed waiting for the music.
extern const char kMusicStalledLine[];
// The line on standard error when a second signal came before the shutdown ended.
extern const char kSecondSignalLine[];

// Installs the handlers. Until ModuleLoading, a signal ends the player at once
// (there is nothing to wind down).
void CatchStopSignals();
// From here on a signal asks for the clean path.
void ModuleLoading();
// The first signal received, or 0.
int StopSignal();
// After the module's shutdown: a later signal has nothing left to skip.
void ShutdownDone();
// Ends the player by the signal received, if any (standard output flushed
// first); returns otherwise.
void EndByStopSignal();

// Marks work of the player that may never come back. A signal that it
// outlives by the grace time ends the player; once the grace time is over,
// such work that only starts ends the player as it starts.
class WatchedWork
{
public:
    enum Kind
    {
        kModule = 1,
        kMusic = 2
    };
    WatchedWork(const WatchedWork&) = delete;
    WatchedWork& operator=(const WatchedWork&) = delete;

protected:
    explicit WatchedWork(Kind kind);
    ~WatchedWork();

private:
    int m_Outer;
};

// A call into the module (load, Init, a frame, the delivery of its window
// messages).
class ModuleCall : public WatchedWork
{
public:
    ModuleCall() : WatchedWork(kModule) {}
};

// A wait for the music's decoder (the bytes of a frame, the sound's first block).
class MusicWait : public WatchedWork
{
public:
    MusicWait() : WatchedWork(kMusic) {}
};

#endif
