// Turns the player's spectrum bytes into 576 normalised bins and three band
// levels through a spectrum profile.
#ifndef VELMORA_CSPECTRUM_H
#define VELMORA_CSPECTRUM_H

#include <vector>

struct CVisModule;
class TiXmlElement;

#define SPECTRUM_BIN_COUNT 576

// Bins left to right - 1, and what they are multiplied by.
struct CSpectrumRange
{
    int left;
    int right;
    float scale;
};

class CSpectrum
{
public:
    CSpectrum();
    ~CSpectrum();

    CSpectrum(const CSpectrum&) = delete;
    CSpectrum& operator=(const CSpectrum&) = delete;

    void Reset();
    bool Load(const char* path);
    void ReadRange(CSpectrumRange& range, const TiXmlElement* element);
    void Update(const CVisModule* module);

    // Levels are not clamped: a scale above 1 gives levels above 1.
    double GetRangeLevel(const CSpectrumRange& range) const;
    double GetBass() const { return GetRangeLevel(m_Bass); }
    double GetMedium() const { return GetRangeLevel(m_Medium); }
    double GetTreble() const { return GetRangeLevel(m_Treble); }

    const char* GetName() const { return m_Name; }
    const float* GetBins() const { return m_Bins; }
    const std::vector<CSpectrumRange>& GetCoefs() const { return m_Coefs; }
    const CSpectrumRange& GetBassRange() const { return m_Bass; }
    const CSpectrumRange& GetMediumRange() const { return m_Medium; }
    const CSpectrumRange& GetTrebleRange() const { return m_Treble; }

private:
    std::vector<CSpectrumRange> m_Coefs;
    CSpectrumRange m_Bass;
    CSpectrumRange m_Medium;
    CSpectrumRange m_Treble;
    char m_Name[64];
    float m_Bins[SPECTRUM_BIN_COUNT];
};

extern CSpectrum g_Spectrum;

#endif
