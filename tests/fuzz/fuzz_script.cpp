// The player's input scripts: a script is read or refused with a line, and
// what is read is in frame order with no frame past its bound of steps.
#include "script.h"

#include <stdint.h>
#include <stdlib.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    InputScript script;
    std::string error;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!script.Parse(text, "s", error))
    {
        if (error.compare(0, 2, "s:") != 0 || !script.Steps().empty())
            abort();
        return 0;
    }
    if (!error.empty())
        abort();
    int run = 0;
    for (size_t i = 0; i < script.Steps().size(); ++i)
    {
        const ScriptStep& step = script.Steps()[i];
        const bool same = i > 0 && script.Steps()[i - 1].frame == step.frame;
        if (i > 0 && (script.Steps()[i - 1].frame > step.frame || (same && script.Steps()[i - 1].line >= step.line)))
            abort();
        run = same ? run + 1 : 1;
        if (run > kMaxStepsPerFrame || step.frame > 100000000u)
            abort();
    }
    return 0;
}
