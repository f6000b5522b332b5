// The list of spectrum profiles (spectrum.xml): read as Init reads it, then
// stepped through with the next-profile command.
#include "fuzz_support.h"

#include "CSpectrum.h"
#include "main.h"
#include "plugin.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string folder = [] {
        const std::string dataFolder = fuzzing::MakeFolder("data");
        fuzzing::LinkBuiltData(dataFolder, {"spectrum.xml"});
        return dataFolder;
    }();
    g_DataPath = folder + "/";
    fuzzing::WriteInput(folder + "/spectrum.xml", data, size);

    g_SpectrumProfiles.clear();
    g_SpectrumProfileIndex = 0;
    LoadSpectrumProfileList();
    const size_t steps = std::min<size_t>(g_SpectrumProfiles.size() + 1, 6);
    for (size_t i = 0; i < steps; ++i)
        NextSpectrumProfile();
    g_SpectrumProfiles.clear();
    return 0;
}
