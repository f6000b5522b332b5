// The interpreter of compiled effect shaders: the reference, one frame at a
// time, with the operations of fx/ops.h.
#include "fx/ops.h"
#include "fx/program.h"

namespace fx {

// Flattened: a call an instruction, or an operation, would cost as much as
// the operation itself.
__attribute__((flatten)) bool Program::Run(float* f, bool* cutShort) const
{
    const Instr* code = this->code.data();
    const int end = (int)this->code.size();
    const int* tab = tables.data();
    int backJumps = 0;
    for (int pc = 0; pc < end;) {
        const Instr& I = code[pc++];
        if (ops::RunForm<1>(f, I, tab))
            continue;
        switch (ops::Step<1>(f, I, tab, 1)) {
        case ops::Flow::Next:
        case ops::Flow::Apart:  // one lane never parts from itself
            break;
        case ops::Flow::Jump:
            // Runaway loops end the run rather than the program.
            if (I.i0 < pc && ++backJumps > kMaxBackJumps) {
                if (cutShort)
                    *cutShort = true;
                return true;
            }
            pc = I.i0;
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
