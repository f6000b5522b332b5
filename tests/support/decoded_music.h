// A whole music file as the audio device gets it: through the player's
// decoder, saturated to 16 bits, more than two channels cut to the first two.
#ifndef VELMORA_TESTS_DECODED_MUSIC_H
#define VELMORA_TESTS_DECODED_MUSIC_H

#include "music_stream.h"
#include "pcm_audio.h"

#include <string>
#include <vector>

inline bool ReadAudioFile(const std::string& path, PcmAudio& audio, std::string& error)
{
    std::unique_ptr<MusicDecoder> decoder = OpenMusicFile(path, error);
    if (!decoder)
        return false;
    audio.sampleRate = decoder->SampleRate();
    audio.channels = decoder->Channels();
    audio.samples.clear();
    std::vector<float> block(static_cast<size_t>(kDecodeBlock * audio.channels));
    int64_t got = 0;
    while ((got = decoder->Read(block.data(), kDecodeBlock)) > 0)
    {
        for (int64_t i = 0; i < got * audio.channels; ++i)
            audio.samples.push_back(ToPcm16(block[static_cast<size_t>(i)]));
    }
    return true;
}

#endif
