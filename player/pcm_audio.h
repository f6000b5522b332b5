// PCM audio held in memory: the built-in music, and whole files for tests and tools.
#ifndef VELMORA_PLAYER_PCM_AUDIO_H
#define VELMORA_PLAYER_PCM_AUDIO_H

#include <cstdint>
#include <string>
#include <vector>

// Interleaved 16-bit frames of one or two channels (half the memory of floats,
// and below the analysis floor the difference does not show).
struct PcmAudio
{
    int sampleRate = 0;
    int channels = 0;
    std::vector<int16_t> samples;

    int64_t Frames() const { return channels > 0 ? static_cast<int64_t>(samples.size()) / channels : 0; }
};

// Writes `audio` as a 16-bit WAV file (used by tests and tools).
bool WriteWavFile(const std::string& path, const PcmAudio& audio, std::string& error);

// The built-in music: a few bars that loop, with a steady beat, a bass line,
// a mid-range part and hi-hats.
const int kSynthBeatsPerMinute = 120;
const int kSynthSampleRate = 44100;
PcmAudio MakeSynthMusic();

#endif
