#include "pcm_audio.h"

#include <sndfile.h>

#include <sys/stat.h>

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
}

bool ReadAudioFile(const std::string& path, PcmAudio& audio, std::string& error)
{
    const std::string quoted = "\"" + path + "\"";
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
    {
        error = "audio file " + quoted + " not found";
        return false;
    }
    if (S_ISDIR(info.st_mode))
    {
        error = "audio file " + quoted + " is a folder";
        return false;
    }

    SF_INFO format = {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &format);
    if (!file)
    {
        error = "cannot read audio file " + quoted + ": " + OneLine(sf_strerror(nullptr)) +
            " (WAV, FLAC and Ogg are supported)";
        return false;
    }
    if (format.samplerate <= 0 || format.channels <= 0)
    {
        sf_close(file);
        error = "audio file " + quoted + " has no valid sample rate or channel count";
        return false;
    }

    // Floating-point files may hold samples beyond full scale: clip, never wrap.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);

    audio.sampleRate = format.samplerate;
    audio.channels = format.channels >= 2 ? 2 : 1;
    audio.samples.clear();
    std::vector<int16_t> block(static_cast<size_t>(4096) * format.channels);
    for (;;)
    {
        sf_count_t got = sf_readf_short(file, block.data(), 4096);
        if (got <= 0)
            break;
        for (sf_count_t frame = 0; frame < got; ++frame)
        {
            const int16_t* in = &block[static_cast<size_t>(frame) * format.channels];
            audio.samples.push_back(in[0]);
            if (audio.channels == 2)
                audio.samples.push_back(in[1]);
        }
    }
    const int status = sf_error(file);
    const std::string reason = OneLine(sf_strerror(file));
    sf_close(file);

    if (audio.samples.empty())
    {
        error = "audio file " + quoted + (status ? " cannot be decoded: " + reason : " holds no audio");
        return false;
    }
    return true;
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
