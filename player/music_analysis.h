// What the player plays: a source of the spectrum and waveform bytes that it
// hands the module before each Render.
#ifndef VELMORA_PLAYER_MUSIC_ANALYSIS_H
#define VELMORA_PLAYER_MUSIC_ANALYSIS_H

#include "music_stream.h"

#include <memory>
#include <string>

class SpectrumSource
{
public:
    virtual ~SpectrumSource() = default;
    // Fills both channels of spectrum and waveform bytes for the play position
    // in milliseconds. Returns false once the position is past the end.
    virtual bool Fill(double positionMs, unsigned char spectrum[2][576], unsigned char waveform[2][576]) = 0;
};

// The music of a run, shared by the analysis and the sound card so that both
// see the same samples and loop at the same point.
struct Music
{
    std::shared_ptr<MusicStream> stream;
    bool loop = false;
};

// Reads the audio file at `audioPath`, or makes the built-in music (which
// always loops) when the path is empty. On failure returns false with a
// one-line reason in `error`.
bool LoadMusic(const std::string& audioPath, bool loop, Music& music, std::string& error);

// The analysis of `music`.
std::unique_ptr<SpectrumSource> MakeSpectrumSource(const Music& music);

// LoadMusic and MakeSpectrumSource in one; null on failure.
std::unique_ptr<SpectrumSource> OpenSpectrumSource(const std::string& audioPath, bool loop, std::string& error);

#endif
