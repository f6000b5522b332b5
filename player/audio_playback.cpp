#include "audio_playback.h"

#include <SDL.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{
// Frames of music handed to the converter at a time.
const int kFeedBlock = 4096;

// ALSA and SDL's own drivers write lines of their own to stderr while a device
// opens; the player reports a missing device in one line of its own.
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

// About 20 ms a block: short enough for the position to move smoothly, long
// enough not to starve the device.
Uint16 BlockFrames(int sampleRate)
{
    int frames = 256;
    while (frames < sampleRate / 50 && frames < 8192)
        frames *= 2;
    return static_cast<Uint16>(frames);
}
}

MusicFeed::MusicFeed(const Music& music, int format, int channels, int sampleRate) : m_Music(music)
{
    m_Silence = format == AUDIO_U8 ? 0x80 : 0; // as SDL fills its own silence
    if (!m_Music.audio || m_Music.audio->Frames() <= 0)
    {
        m_Error = "no music";
        return;
    }
    m_Stream = SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(m_Music.audio->channels), m_Music.audio->sampleRate,
                                  static_cast<SDL_AudioFormat>(format), static_cast<Uint8>(channels), sampleRate);
    if (!m_Stream)
        m_Error = SDL_GetError();
}

MusicFeed::~MusicFeed()
{
    if (m_Stream)
        SDL_FreeAudioStream(m_Stream);
}

bool MusicFeed::Valid(std::string& error) const
{
    error = m_Error;
    return m_Stream != nullptr;
}

void MusicFeed::Fill(uint8_t* out, int bytes)
{
    while (bytes > 0 && m_Stream)
    {
        const int got = SDL_AudioStreamGet(m_Stream, out, bytes);
        if (got > 0)
        {
            out += got;
            bytes -= got;
        }
        else if (!PutMore())
            break;
    }
    if (bytes > 0)
        memset(out, m_Silence, static_cast<size_t>(bytes));
}

bool MusicFeed::PutMore()
{
    const PcmAudio& audio = *m_Music.audio;
    const int64_t frames = audio.Frames();
    if (m_Next >= frames && m_Music.loop)
        m_Next = 0;
    if (m_Next >= frames)
    {
        // Silence after the end, rather than a flush: it also pushes the last
        // of the music through the resampler, which a flush does not always do.
        static const int16_t silence[2 * kFeedBlock] = {};
        const int bytes = static_cast<int>(kFeedBlock * audio.channels * sizeof(int16_t));
        return SDL_AudioStreamPut(m_Stream, silence, bytes) == 0;
    }
    const int64_t count = std::min<int64_t>(kFeedBlock, frames - m_Next);
    const int16_t* first = &audio.samples[static_cast<size_t>(m_Next * audio.channels)];
    m_Next += count;
    return SDL_AudioStreamPut(m_Stream, first, static_cast<int>(count * audio.channels * sizeof(int16_t))) == 0;
}

AudioPlayback::~AudioPlayback()
{
    Stop();
}

bool AudioPlayback::Open(const Music& music, bool mute, std::string& error)
{
    if (!music.audio || music.audio->Frames() <= 0)
    {
        error = "no music to play";
        return false;
    }
    QuietStderr quiet;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
    {
        error = std::string("no audio device (") + SDL_GetError() + ")";
        return false;
    }
    SDL_AudioSpec wanted = {};
    wanted.freq = music.audio->sampleRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(music.audio->channels);
    wanted.samples = BlockFrames(wanted.freq);
    wanted.callback = Callback;
    wanted.userdata = this;
    SDL_AudioSpec device = {};
    m_Device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &device, SDL_AUDIO_ALLOW_ANY_CHANGE);
    if (m_Device == 0)
    {
        error = std::string("no audio device (") + SDL_GetError() + ")";
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    m_Feed.reset(new MusicFeed(music, device.format, device.channels, device.freq));
    if (!m_Feed->Valid(error))
    {
        error = "cannot play the music on the audio device (" + error + ")";
        m_Feed.reset();
        Stop();
        return false;
    }
    m_Mute = mute;
    m_Silence = device.silence;
    m_FrameBytes = std::max(1, static_cast<int>(SDL_AUDIO_BITSIZE(device.format) / 8 * device.channels));
    m_Clock.reset(new AudioClock(device.freq));
    return true;
}

void AudioPlayback::Start()
{
    m_StartSeconds = SteadySeconds();
    m_StoppedMs = -1.0;
    if (m_Device)
        SDL_PauseAudioDevice(m_Device, 0);
}

void AudioPlayback::Stop()
{
    if (m_StartSeconds >= 0.0 && m_StoppedMs < 0.0)
        m_StoppedMs = PositionMs();
    if (!m_Device)
        return;
    // Pausing waits for a running callback; from then on the device only gets
    // silence, even while a driver plays out its buffer on closing.
    SDL_PauseAudioDevice(m_Device, 1);
    SDL_CloseAudioDevice(m_Device);
    m_Device = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

double AudioPlayback::PositionMs() const
{
    if (m_StoppedMs >= 0.0)
        return m_StoppedMs;
    if (m_StartSeconds < 0.0)
        return 0.0;
    if (m_Clock)
        return m_Clock->PositionMs(SteadySeconds());
    return (SteadySeconds() - m_StartSeconds) * 1000.0;
}

void AudioPlayback::Callback(void* self, uint8_t* stream, int bytes)
{
    auto* playback = static_cast<AudioPlayback*>(self);
    if (playback->m_Mute)
        memset(stream, playback->m_Silence, static_cast<size_t>(bytes));
    else
        playback->m_Feed->Fill(stream, bytes);
    playback->m_Clock->Handed(bytes / playback->m_FrameBytes, SteadySeconds());
}
