// A spectrum profile: loaded, then used on a frame of varied spectrum bytes.
#include "fuzz_support.h"

#include "CSpectrum.h"
#include "plugin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = fuzzing::Scratch() + "/profile.xml";
    fuzzing::WriteInput(path, data, size);

    CSpectrum spectrum;
    if (!spectrum.Load(path.c_str()))
        return 0;
    CVisModule* module = GetModule(0);
    for (int channel = 0; channel < 2; ++channel)
        for (int i = 0; i < SPECTRUM_BIN_COUNT; ++i)
            module->spectrumData[channel][i] = static_cast<unsigned char>(i * (channel + 3));
    for (int channels = 1; channels <= 2; ++channels)
    {
        module->spectrumNch = channels;
        spectrum.Update(module);
        volatile double sum = spectrum.GetBass() + spectrum.GetMedium() + spectrum.GetTreble();
        (void)sum;
    }
    module->spectrumNch = 1;
    return 0;
}
