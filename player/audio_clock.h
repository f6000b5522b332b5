// The play position of a live run, taken from the sound card: the audio
// callback reports every block it hands over, and the position is what has
// been handed before the latest block plus the time since then, never more
// than that block. So the picture follows what is heard, however long a frame
// takes, and the position never runs back.
#ifndef VELMORA_PLAYER_AUDIO_CLOCK_H
#define VELMORA_PLAYER_AUDIO_CLOCK_H

#include <cstdint>
#include <mutex>

class AudioClock
{
public:
    // `sampleRate`: frames a second of the blocks reported to Handed.
    explicit AudioClock(int sampleRate) : m_Rate(sampleRate) {}

    // From the audio thread: `frames` more were handed to the device at
    // `seconds` (any steady time base shared with PositionMs).
    void Handed(int64_t frames, double seconds);
    // The position heard at `seconds`, in milliseconds of music.
    double PositionMs(double seconds) const;
    int64_t FramesHanded() const;

private:
    mutable std::mutex m_Lock;
    const int m_Rate;
    int64_t m_Before = 0; // frames handed before the latest block
    int64_t m_Block = 0;  // frames of the latest block
    double m_BlockTime = 0.0;
};

// Seconds on the steady clock: the time base of the live run.
double SteadySeconds();

#endif
