// The player's spectrum: what a media player hands a visualisation each frame.
//
// Mapping of PCM audio onto the 576 spectrum bytes of one channel:
// - Window: FFT size N is the smallest power of two of at least sample rate / 12
//   (and at least 256): 4096 at 44.1 and 48 kHz, 2048 at 22.05 kHz, about 85 to
//   93 ms. The N samples are centred on the play position (samples before the
//   start or past the end of the audio are 0) and weighted by a periodic Hann
//   window, then transformed by a real FFT (FFTW, single precision).
// - Frequency of bin i (0..575) is logarithmic, 20 Hz to 20 kHz:
//       f(i) = 20 Hz * 1000^(i / 575)
//   so bins 0-191 span 20-200 Hz, 192-383 span 200 Hz-2 kHz and 384-575 span
//   2-20 kHz (10 cents, 1/120 octave, per bin). Bin i reads the largest FFT
//   magnitude between f(i - 1/2) and f(i + 1/2); where no FFT line falls in
//   that span (low bins) it reads the magnitude interpolated at f(i). Bins at
//   or above half the sample rate are 0.
// - Magnitude to byte: the magnitude is turned into the amplitude of a sine
//   (4 |X| / N, so a full-scale sine reads 1.0 = 0 dBFS), then
//       byte = round(255 * (dBFS + 72) / 72), clamped to 0..255,
//   so 0 dBFS and louder give 255, -72 dBFS and quieter (and silence) give 0,
//   about 3.5 per dB.
// The analysis is deterministic: fixed window, FFTW_ESTIMATE plans, no state
// kept between frames.
#ifndef VELMORA_PLAYER_SPECTRUM_ANALYZER_H
#define VELMORA_PLAYER_SPECTRUM_ANALYZER_H

#include <vector>

const int kSpectrumBinCount = 576;
const double kSpectrumLowestHz = 20.0;
const double kSpectrumHighestHz = 20000.0;
const double kSpectrumFloorDb = -72.0;

// Centre frequency of bin `bin` in Hz.
double SpectrumBinFrequency(double bin);
// The (fractional) bin whose centre is `hz`.
double SpectrumBinForFrequency(double hz);
// FFT size used at `sampleRate`.
int SpectrumFftSize(int sampleRate);

class SpectrumAnalyzer
{
public:
    explicit SpectrumAnalyzer(int sampleRate);
    ~SpectrumAnalyzer();

    SpectrumAnalyzer(const SpectrumAnalyzer&) = delete;
    SpectrumAnalyzer& operator=(const SpectrumAnalyzer&) = delete;

    int SampleRate() const { return m_SampleRate; }
    int FftSize() const { return m_Size; }

    // FftSize() samples, -1..1, centred on the play position; the caller fills them.
    float* Input() { return m_Input; }

    // Windows and transforms Input() into 576 bytes.
    void Analyze(unsigned char bytes[kSpectrumBinCount]);

private:
    struct BinSource
    {
        int first; // FFT lines first..last, or none when last < first
        int last;
        int below; // else interpolated between lines below and below + 1
        float fraction;
        bool audible; // below half the sample rate
    };

    int m_SampleRate;
    int m_Size;
    float* m_Input;
    float* m_Windowed;
    void* m_Spectrum; // fftwf_complex[m_Size / 2 + 1]
    void* m_Plan;     // fftwf_plan
    std::vector<float> m_Window;
    std::vector<float> m_Amplitude;
    std::vector<BinSource> m_Bins;
};

#endif
