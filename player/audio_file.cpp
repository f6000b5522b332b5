#include "music_stream.h"
#include "pcm_audio.h"

#include <sndfile.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

namespace
{
// libsndfile's messages may end in a full stop or a line break; the player prints one line.
std::string OneLine(const char* text)
{
    std::string line = text ? text : "unknown error";
    for (char& c : line)
    {
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '.'))
        line.pop_back();
    return line;
}

class SndFileDecoder : public MusicDecoder
{
public:
    SndFileDecoder(const std::string& path, SNDFILE* file, const SF_INFO& info) : m_Path(path), m_File(file), m_Info(info)
    {
        m_Block.resize(static_cast<size_t>(kDecodeBlock) * static_cast<size_t>(info.channels));
    }
    ~SndFileDecoder() override { sf_close(m_File); }

    int SampleRate() const override { return m_Info.samplerate; }
    int Channels() const override { return m_Info.channels >= 2 ? 2 : 1; }
    int64_t Frames() const override { return m_Info.frames > 0 && m_Info.frames < SF_COUNT_MAX ? m_Info.frames : 0; }

    int64_t Read(float* out, int64_t count) override
    {
        const int channels = m_Info.channels;
        const int kept = Channels();
        int64_t done = 0;
        while (done < count)
        {
            const sf_count_t got = sf_readf_float(m_File, m_Block.data(), std::min(count - done, kDecodeBlock));
            if (got <= 0)
                break;
            for (sf_count_t frame = 0; frame < got; ++frame)
            {
                const float* in = &m_Block[static_cast<size_t>(frame * channels)];
                for (int c = 0; c < kept; ++c)
                    *out++ = ClipSample(in[c]);
            }
            done += got;
        }
        if (done == 0 && sf_error(m_File) != SF_ERR_NO_ERROR)
            return -1;
        return done;
    }

    bool Seek(int64_t frame) override { return sf_seek(m_File, frame, SEEK_SET) == frame; }

    std::string Error() const override { return OneLine(sf_strerror(m_File)); }

    // libsndfile's Vorbis (and MPEG) seeks can land a few hundred frames off
    // or decode them wrongly; PCM and FLAC seeks are exact.
    bool SeeksExactly() const override
    {
        const int type = m_Info.format & SF_FORMAT_TYPEMASK;
        return type != SF_FORMAT_OGG && type != SF_FORMAT_MPEG;
    }

    std::unique_ptr<MusicDecoder> Reopen() const override
    {
        SF_INFO info = {};
        SNDFILE* file = sf_open(m_Path.c_str(), SFM_READ, &info);
        if (!file)
            return nullptr;
        // A file replaced by other music is not this music.
        if (info.samplerate != m_Info.samplerate || info.channels != m_Info.channels)
        {
            sf_close(file);
            return nullptr;
        }
        return std::unique_ptr<MusicDecoder>(new SndFileDecoder(m_Path, file, info));
    }

private:
    const std::string m_Path;
    SNDFILE* m_File;
    SF_INFO m_Info;
    std::vector<float> m_Block;
};

class MemoryDecoder : public MusicDecoder
{
public:
    explicit MemoryDecoder(std::shared_ptr<const PcmAudio> audio) : m_Audio(std::move(audio)) {}

    int SampleRate() const override { return m_Audio->sampleRate; }
    int Channels() const override { return m_Audio->channels; }
    int64_t Frames() const override { return m_Audio->Frames(); }

    int64_t Read(float* out, int64_t count) override
    {
        const int64_t got = std::max<int64_t>(0, std::min(count, Frames() - m_Next));
        const int16_t* in = m_Audio->samples.data() + m_Next * m_Audio->channels;
        for (int64_t i = 0; i < got * m_Audio->channels; ++i)
            out[i] = in[i] / 32768.0f;
        m_Next += got;
        return got;
    }

    bool Seek(int64_t frame) override
    {
        if (frame < 0 || frame > Frames())
            return false;
        m_Next = frame;
        return true;
    }

    std::unique_ptr<MusicDecoder> Reopen() const override
    {
        return std::unique_ptr<MusicDecoder>(new MemoryDecoder(m_Audio));
    }

private:
    std::shared_ptr<const PcmAudio> m_Audio;
    int64_t m_Next = 0;
};
}

float ClipSample(float sample)
{
    if (sample >= 1.0f)
        return 1.0f;
    if (sample >= -1.0f)
        return sample;
    return sample < -1.0f ? -1.0f : 0.0f; // NaN is silence
}

int16_t ToPcm16(float sample)
{
    const float scaled = ClipSample(sample) * 32768.0f;
    if (scaled >= 32767.0f)
        return 32767;
    return static_cast<int16_t>(std::lrint(scaled));
}

std::unique_ptr<MusicDecoder> OpenMusicFile(const std::string& path, std::string& error)
{
    const std::string quoted = "\"" + path + "\"";
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
    {
        error = "audio file " + quoted + " not found";
        return nullptr;
    }
    if (S_ISDIR(status.st_mode))
    {
        error = "audio file " + quoted + " is a folder";
        return nullptr;
    }
    SF_INFO info = {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
    {
        error = "cannot read audio file " + quoted + ": " + OneLine(sf_strerror(nullptr)) +
            " (WAV, FLAC, Ogg and MP3 are supported)";
        return nullptr;
    }
    if (info.samplerate <= 0 || info.channels <= 0)
    {
        sf_close(file);
        error = "audio file " + quoted + " has no valid sample rate or channel count";
        return nullptr;
    }
    std::unique_ptr<MusicDecoder> decoder(new SndFileDecoder(path, file, info));
    // A file that cannot give its first frames is refused now rather than played as silence.
    std::vector<float> first(static_cast<size_t>(decoder->Channels()));
    const int64_t got = decoder->Read(first.data(), 1);
    if (got <= 0)
    {
        error = "audio file " + quoted + (got < 0 ? " cannot be decoded: " + decoder->Error() : " holds no audio");
        return nullptr;
    }
    if (!decoder->Seek(0))
    {
        error = "audio file " + quoted + " cannot be decoded: " + decoder->Error();
        return nullptr;
    }
    return decoder;
}

std::unique_ptr<MusicDecoder> MemoryMusic(std::shared_ptr<const PcmAudio> audio)
{
    return std::unique_ptr<MusicDecoder>(new MemoryDecoder(std::move(audio)));
}

bool WriteWavFile(const std::string& path, const PcmAudio& audio, std::string& error)
{
    SF_INFO format = {};
    format.samplerate = audio.sampleRate;
    format.channels = audio.channels;
    format.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &format);
    if (!file)
    {
        error = "cannot write \"" + path + "\": " + OneLine(sf_strerror(nullptr));
        return false;
    }
    const sf_count_t frames = audio.Frames();
    const bool written = sf_writef_short(file, audio.samples.data(), frames) == frames;
    sf_close(file);
    if (!written)
        error = "cannot write \"" + path + "\"";
    return written;
}
