// The interpreter of compiled effect shaders: the reference, one frame at a
// time, with the operations of fx/ops.h.
#include "fx/ops.h"
#include "fx/program.h"

namespace fx {

namespace {

// The specialised forms: the operations at the fixed widths and strides
// Analyse found, unrolled. False for an instruction of no form.
inline bool RunForm(float* f, const Instr& I, const int* tab)
{
#define FORM_BINARY_N(OP, F, N)                                              \
    case FormBinary + ((OP - OpAdd) * 4 + N - 1) * 3 + 0:                   \
        ops::Binary<1>(f, I, ops::Fixed<N>(), 1, 1, F());                                  \
        return true;                                                         \
    case FormBinary + ((OP - OpAdd) * 4 + N - 1) * 3 + 1:                   \
        ops::Binary<1>(f, I, ops::Fixed<N>(), 0, 1, F());                                  \
        return true;                                                         \
    case FormBinary + ((OP - OpAdd) * 4 + N - 1) * 3 + 2:                   \
        ops::Binary<1>(f, I, ops::Fixed<N>(), 1, 0, F());                                  \
        return true;
#define FORM_BINARY(OP, F) FORM_BINARY_N(OP, F, 1) FORM_BINARY_N(OP, F, 2) FORM_BINARY_N(OP, F, 3) FORM_BINARY_N(OP, F, 4)
#define FORM_WIDTHS(FORM, CALL)                                              \
    case FORM + 0: CALL(1); return true;                                     \
    case FORM + 1: CALL(2); return true;                                     \
    case FORM + 2: CALL(3); return true;                                     \
    case FORM + 3: CALL(4); return true;
#define MOV(N) ops::Mov<1>(f, I, ops::Fixed<N>())
#define BROADCAST(N) ops::Broadcast<1>(f, I, ops::Fixed<N>())
#define GATHER(N) ops::Move<1>(f, I.d, nullptr, I.a, tab + I.i0, ops::Fixed<N>())
    switch (I.form) {
    FORM_WIDTHS(FormMov, MOV)
    FORM_WIDTHS(FormBroadcast, BROADCAST)
    FORM_WIDTHS(FormGather, GATHER)
    case FormDot3: ops::DotOp<1>(f, I, ops::Fixed<3>()); return true;
    case FormDot4: ops::DotOp<1>(f, I, ops::Fixed<4>()); return true;
    case FormLength3: ops::Length<1>(f, I, ops::Fixed<3>()); return true;
    case FormNormalize3: ops::Normalize<1>(f, I, ops::Fixed<3>()); return true;
    case FormMulVM3: ops::MulVM<1>(f, I, ops::Fixed<3>(), ops::Fixed<3>(), 3); return true;
    case FormMulVM4: ops::MulVM<1>(f, I, ops::Fixed<4>(), ops::Fixed<4>(), 4); return true;
    FORM_BINARY(OpAdd, ops::Add)
    FORM_BINARY(OpSub, ops::Sub)
    FORM_BINARY(OpMul, ops::Mul)
    FORM_BINARY(OpDiv, ops::Div)
    FORM_BINARY(OpMin, ops::Min)
    FORM_BINARY(OpMax, ops::Max)
    default:
        return false;
    }
#undef GATHER
#undef BROADCAST
#undef MOV
#undef FORM_WIDTHS
#undef FORM_BINARY
#undef FORM_BINARY_N
}

}  // namespace

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
        if (RunForm(f, I, tab))
            continue;
        switch (ops::Step<1>(f, I, tab, 1)) {
        case ops::Flow::Next:
        case ops::Flow::Apart:  // one lane never parts from itself
        case ops::Flow::Unknown:
            break;
        case ops::Flow::Jump:
            // Runaway loops end the run rather than the program.
            if (I.op == OpJmp && I.i0 < pc && ++backJumps > kMaxBackJumps) {
                if (cutShort)
                    *cutShort = true;
                return true;
            }
            pc = I.i0;
            break;
        case ops::Flow::Discard:
            return false;
        }
    }
    return true;
}

}  // namespace fx
