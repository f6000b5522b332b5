// plugin.ini as the module's Init reads it (and Quit writes it back), with an
// empty data folder so that nothing else is loaded.
#include "fuzz_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzzing::HostedModule* module = new fuzzing::HostedModule("ini");
    fuzzing::WriteInput(module->IniPath(), data, size);
    if (module->Init() == 0)
        module->host.Quit();
    return 0;
}
