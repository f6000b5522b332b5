// The interpreter of compiled effect shaders: the reference, one frame at a
// time, with the operations of fx/ops.h.
#include "fx/ops.h"
#include "fx/program.h"

#include <stddef.h>

namespace fx {

// Flattened: a call an instruction, or an operation, would cost as much as
// the operation itself.
__attribute__((flatten)) bool Program::Run(float* f, bool* cutShort) const
{
    // The next instruction by pointer: a loop that carries one register
    // from instruction to instruction.
    const Instr* const code = this->code.data();
    const ptrdiff_t size = (ptrdiff_t)this->code.size();
    const Instr* const end = code + size;
    const int* tab = tables.data();
    int backJumps = 0;
    for (const Instr* next = code; next < end;) {
        const Instr& I = *next++;
        if (ops::RunForm<1>(f, I, tab))
            continue;
        switch (ops::Step<1>(f, I, tab, 1)) {
        case ops::Flow::Next:
        case ops::Flow::Apart:  // one lane never parts from itself
            break;
        case ops::Flow::Jump:
            // A target before the start is no instruction: no result.
            if (I.i0 < 0)
                return false;
            // Runaway loops end the run rather than the program.
            if (I.i0 < next - code && ++backJumps > kMaxBackJumps) {
                if (cutShort)
                    *cutShort = true;
                return true;
            }
            next = I.i0 < size ? code + I.i0 : end;
            break;
        case ops::Flow::Discard:
            return false;
        case ops::Flow::Unknown:
            // Not an operation: no result to use.
            return false;
        }
    }
    return true;
}

}  // namespace fx
