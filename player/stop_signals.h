// SIGTERM and SIGINT end a run. Between the module's calls the run winds down
// cleanly: the sound stops, the module's Quit and unload run, the closing
// lines are printed and the player ends by the signal. A module that does not
// come back from its current call within the grace time, or a second
// signal, ends the player at once, without the module's shutdown.
#ifndef VELMORA_PLAYER_STOP_SIGNALS_H
#define VELMORA_PLAYER_STOP_SIGNALS_H

// How long the current call of the module may go on after the first signal:
// a little under a second, so that the player has ended within one.
const int kStopGraceMs = 950;

// The line on standard error when the grace time has passed.
extern const char kShutdownSkippedLine[];
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

// Marks a call into the module (load, Init, a frame, the delivery of its
// window messages): a signal that it outlives by the grace time ends the player.
class ModuleCall
{
public:
    ModuleCall();
    ~ModuleCall();
    ModuleCall(const ModuleCall&) = delete;
    ModuleCall& operator=(const ModuleCall&) = delete;

private:
    int m_Outer;
};

#endif
