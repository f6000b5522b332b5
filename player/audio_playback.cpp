#include "audio_playback.h"
#include "quiet_stderr.h"

#include <SDL.h>
#include <pthread.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{
// Frames of music handed to the converter at a time.
const int kFeedBlock = 4096;

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
    if (!m_Music.stream)
    {
        m_Error = "no music";
        return;
    }
    const int musicChannels = m_Music.stream->Channels();
    m_Decoded.resize(static_cast<size_t>(kFeedBlock * musicChannels));
    m_Pcm.resize(m_Decoded.size());
    m_Stream = SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(musicChannels), m_Music.stream->SampleRate(),
                                  static_cast<SDL_AudioFormat>(format), static_cast<Uint8>(channels), sampleRate);
    if (!m_Stream)
        m_Error = SDL_GetError();
    // The device's first block is music, not a wait for the decoder.
    m_Device = m_Music.stream->StartDevice();
    m_Music.stream->WaitForDevice(kFeedBlock);
}

MusicFeed::~MusicFeed()
{
    if (m_Music.stream)
        m_Music.stream->StopDevice(m_Device);
    if (m_Stream)
        SDL_FreeAudioStream(m_Stream);
}

bool MusicFeed::Valid(std::string& error) const
{
    error = m_Error;
    return m_Stream != nullptr;
}

int MusicFeed::Fill(uint8_t* out, int bytes)
{
    const int wanted = bytes;
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
    return wanted - bytes;
}

bool MusicFeed::PutMore()
{
    const int channels = m_Music.stream->Channels();
    const int64_t got = m_Music.stream->Take(kFeedBlock, m_Decoded.data());
    if (got < 0)
    {
        // Silence after the end, rather than a flush: it also pushes the last
        // of the music through the resampler, which a flush does not always do.
        std::fill(m_Pcm.begin(), m_Pcm.end(), 0);
        return SDL_AudioStreamPut(m_Stream, m_Pcm.data(), static_cast<int>(m_Pcm.size() * sizeof(int16_t))) == 0;
    }
    if (got == 0)
        return false; // the decoder is behind: the device waits with silence
    for (int64_t i = 0; i < got * channels; ++i)
        m_Pcm[static_cast<size_t>(i)] = ToPcm16(m_Decoded[static_cast<size_t>(i)]);
    return SDL_AudioStreamPut(m_Stream, m_Pcm.data(), static_cast<int>(got * channels * sizeof(int16_t))) == 0;
}

AudioPlayback::~AudioPlayback()
{
    Stop();
}

bool DevicePlaysRate(int sampleRate)
{
    return sampleRate >= kLowestDeviceRate && sampleRate <= kHighestDeviceRate;
}

bool AudioPlayback::Start(const Music& music, bool mute, std::string& error)
{
    m_StartSeconds = SteadySeconds();
    m_StoppedMs = -1.0;
    if (!music.stream)
    {
        error = "no music to play";
        return false;
    }
    if (!DevicePlaysRate(music.stream->SampleRate()))
    {
        error = "no audio device plays " + std::to_string(music.stream->SampleRate()) + " Hz";
        return false;
    }
    m_Mute = mute;
    m_FrameBytes = static_cast<int>(sizeof(int16_t)) * music.stream->Channels();
    // Without a device the clock is the real one.
    auto noDevice = [&]() {
        error = std::string("no audio device (") + SDL_GetError() + ")";
        m_Clock.reset();
        m_Feed.reset();
        return false;
    };
    QuietStderr quiet;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return noDevice();
    // The music's own format is asked for; SDL converts where the device differs.
    SDL_AudioSpec wanted = {};
    wanted.freq = music.stream->SampleRate();
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(music.stream->Channels());
    wanted.samples = BlockFrames(wanted.freq);
    wanted.callback = Callback;
    wanted.userdata = this;
    // SDL opens a device paused, and its thread hands the device a block of
    // silence for every turn it takes while paused. So everything the
    // callback reads is made before the open and the device is started right
    // after it; should the thread still have taken a turn first, the device
    // is opened again, so that the first block it plays is the music's first.
    for (int attempt = 1;; ++attempt)
    {
        m_Feed.reset(new MusicFeed(music, AUDIO_S16SYS, wanted.channels, wanted.freq));
        if (!m_Feed->Valid(error))
        {
            error = "cannot play the music on the audio device (" + error + ")";
            m_Feed.reset();
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        m_Clock.reset(new AudioClock(wanted.freq));
        m_FirstBlock = kNoBlockYet;
        SDL_AudioSpec device = {};
        m_Device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &device, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
        if (m_Device == 0)
        {
            noDevice();
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        SDL_PauseAudioDevice(m_Device, 0);
        if (attempt == kOpenAttempts || !SilenceWentFirst())
            break;
        CloseDevice();
    }
    m_StartSeconds = SteadySeconds();
    return true;
}

bool AudioPlayback::SilenceWentFirst() const
{
    // The first callback comes at once, or after the device took one block.
    for (int waited = 0; waited < 250 && m_FirstBlock == kNoBlockYet; ++waited)
        SDL_Delay(1);
    return m_FirstBlock == kAfterSilence;
}

bool AudioPlayback::WaitedBeforeFirstCallback()
{
    // SDL's own audio thread ("SDLAudioP<id>") waits only for the device, after
    // a block; a driver's thread of its own plays nothing before the callback.
    char name[16] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof(name)) != 0 || strncmp(name, "SDLAudioP", 9) != 0)
        return false;
    struct rusage usage = {};
    return getrusage(RUSAGE_THREAD, &usage) == 0 && usage.ru_nvcsw > 0;
}

void AudioPlayback::CloseDevice()
{
    // Pausing waits for a running callback; from then on the device only gets
    // silence, even while a driver plays out its buffer on closing.
    SDL_PauseAudioDevice(m_Device, 1);
    SDL_CloseAudioDevice(m_Device);
    m_Device = 0;
}

void AudioPlayback::Stop()
{
    if (m_StartSeconds >= 0.0 && m_StoppedMs < 0.0)
        m_StoppedMs = PositionMs();
    if (!m_Device)
        return;
    CloseDevice();
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
    if (playback->m_FirstBlock == kNoBlockYet)
        playback->m_FirstBlock = WaitedBeforeFirstCallback() ? kAfterSilence : kFirst;
    int music = bytes;
    if (playback->m_Mute)
        memset(stream, 0, static_cast<size_t>(bytes)); // silence in 16-bit samples
    else
        music = playback->m_Feed->Fill(stream, bytes);
    // Silence while the decoder catches up is not music heard: the position waits.
    playback->m_Clock->Handed(music / playback->m_FrameBytes, SteadySeconds());
}
