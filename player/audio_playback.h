// The sound of a live run: the music played through SDL's audio device, and
// the play position taken from what the device has consumed.
#ifndef VELMORA_PLAYER_AUDIO_PLAYBACK_H
#define VELMORA_PLAYER_AUDIO_PLAYBACK_H

#include "audio_clock.h"
#include "music_analysis.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct _SDL_AudioStream;

// The music in the device's format: taken from the music's stream at its own
// rate and channel count, saturated to 16 bits, looped where the analysis
// loops, converted by SDL.
class MusicFeed
{
public:
    // `format` is an SDL audio format (AUDIO_S16SYS, AUDIO_F32SYS, ...).
    MusicFeed(const Music& music, int format, int channels, int sampleRate);
    ~MusicFeed();
    MusicFeed(const MusicFeed&) = delete;
    MusicFeed& operator=(const MusicFeed&) = delete;

    // False when SDL cannot convert to that format; the reason is in `error`.
    bool Valid(std::string& error) const;
    // Writes the next `bytes` of device audio; silence past the end of music
    // that does not loop. Returns the bytes that carry the music (or its
    // end): where the decoder has not kept up, the rest is silence and the
    // music goes on from there next time, nothing of it skipped.
    int Fill(uint8_t* out, int bytes);

private:
    // Hands the converter the next block of music (or of silence after its end).
    bool PutMore();

    Music m_Music;
    int m_Device = 0; // the stream's name for this feed
    _SDL_AudioStream* m_Stream = nullptr;
    std::vector<float> m_Decoded;
    std::vector<int16_t> m_Pcm;
    uint8_t m_Silence = 0;
    std::string m_Error;
};

// The sample rates that audio devices play: a device's block is at least 256
// frames at any rate, so a lower rate would take seconds a block.
const int kLowestDeviceRate = 8000;
const int kHighestDeviceRate = 384000;
bool DevicePlaysRate(int sampleRate);

class AudioPlayback
{
public:
    AudioPlayback() = default;
    ~AudioPlayback();
    AudioPlayback(const AudioPlayback&) = delete;
    AudioPlayback& operator=(const AudioPlayback&) = delete;

    // Opens the default audio device for `music` (its rate and channels; SDL
    // converts where the device wants another format) and starts the sound
    // at once. `mute` sends silence but keeps the clock. Without a device,
    // or for a rate that no device plays, the real clock starts instead and
    // the result is false with a one-line reason.
    bool Start(const Music& music, bool mute, std::string& error);
    // Stops the sound at once; the position stays where it was.
    void Stop();
    // Milliseconds of music heard since Start.
    double PositionMs() const;
    bool HasDevice() const { return m_Device != 0; }

private:
    static void Callback(void* self, uint8_t* stream, int bytes);
    // Whether the device played a block of silence before the music's first.
    bool SilenceWentFirst() const;
    static bool WaitedBeforeFirstCallback();
    void CloseDevice();

    enum
    {
        kNoBlockYet,
        kFirst,
        kAfterSilence
    };
    static const int kOpenAttempts = 3;

    uint32_t m_Device = 0;
    std::atomic<int> m_FirstBlock{kNoBlockYet};
    bool m_Mute = false;
    int m_FrameBytes = 1;
    std::unique_ptr<MusicFeed> m_Feed;
    std::unique_ptr<AudioClock> m_Clock;
    double m_StartSeconds = -1.0;
    double m_StoppedMs = -1.0;
};

#endif
