// Turns the player's spectrum bytes into 576 normalised bins and three band
// levels through a spectrum profile.
#ifndef VELMORA_CSPECTRUM_H
#define VELMORA_CSPECTRUM_H

struct CVisModule;

// Placeholder until the music analysis lands.
class CSpectrum
{
public:
    CSpectrum() {}
    ~CSpectrum() {}
    void Reset() {}
    bool Load(const char* path) { return false; }
    void Update(const CVisModule* module) {}
    double GetBass() const { return 0.0; }
    double GetMedium() const { return 0.0; }
    double GetTreble() const { return 0.0; }
};

extern CSpectrum g_Spectrum;

#endif
