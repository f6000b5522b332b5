// The interpreter of compiled effect programs over several vertices at once:
// the operations of fx/ops.h over Batch::kLanes lanes, so that every lane
// gets the floats Program::Run computes for it. Floats are never contracted
// into fused multiply-adds here, as in Run, and square roots go without
// errno (see platform/CMakeLists.txt): the same correctly rounded floats.
#include "fx/ops.h"
#include "fx/program.h"

namespace fx {

namespace {

const int W = Batch::kLanes;

}  // namespace

void Batch::Load(const Program& program, const float* frame)
{
    program_ = &program;
    const size_t size = program.initial.size();
    if (lanes_.size() < size * W)
        lanes_.resize(size * W);
    // The rest of the frame is written by the vertices and the runs before
    // it is read (the program is self-contained).
    for (size_t k = 0; k < (size_t)program.workStart && k < size; ++k)
        for (int l = 0; l < W; ++l)
            lanes_[k * W + (size_t)l] = frame[k];
}

// Flattened, as Program::Run.
__attribute__((flatten)) bool Batch::Run(int count, bool* cutShort)
{
    if (!program_ || count <= 0 || count > W)
        return false;
    const Program& p = *program_;
    float* f = lanes_.data();
    const Instr* code = p.code.data();
    const int end = (int)p.code.size();
    const int* tab = p.tables.data();
    int backJumps = 0;
    for (int pc = 0; pc < end;) {
        const Instr& I = code[pc++];
        if (ops::RunForm<W>(f, I, tab))
            continue;
        switch (ops::Step<W>(f, I, tab, count)) {
        case ops::Flow::Next:
            break;
        case ops::Flow::Jump:
            // A target before the start is no instruction.
            if (I.i0 < 0)
                return false;
            // Runaway loops end the run, as in Program::Run: the lanes went
            // one way, so each made the back jumps of a run of its own.
            if (I.i0 < pc && ++backJumps > kMaxBackJumps) {
                if (cutShort)
                    *cutShort = true;
                return true;
            }
            pc = I.i0;
            break;
        case ops::Flow::Discard:  // never in a self-contained program
        case ops::Flow::Apart:
        case ops::Flow::Unknown:
            return false;
        }
    }
    return true;
}

}  // namespace fx
