// What the player plays: a source of the spectrum and waveform bytes that it
// hands the module before each Render.
#ifndef VELMORA_PLAYER_SIGNAL_H
#define VELMORA_PLAYER_SIGNAL_H

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

// Opens the audio file at `audioPath`, or the built-in music signal when the
// path is empty. On failure returns null and puts a one-line reason in `error`.
std::unique_ptr<SpectrumSource> OpenSpectrumSource(const std::string& audioPath, bool loop, std::string& error);

#endif
