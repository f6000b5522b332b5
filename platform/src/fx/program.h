// Compiled effect shaders: a flat register program over one float frame, run
// per vertex or per pixel without allocating. The frame holds the effect's
// uniforms first, then the program's constants, then its inputs, outputs,
// locals and temporaries.
#ifndef VELMORA_FX_PROGRAM_H
#define VELMORA_FX_PROGRAM_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace fx {

// Semantic codes: kind * 16 + index.
enum SemanticKind {
    SemPosition = 0,
    SemNormal,
    SemColor,
    SemTexcoord,
    SemPsize,
    SemDepth,
    SemFog,
    SemTangent,
    SemBinormal,
    SemBlendWeight,
    SemBlendIndices,
    SemOther,
};
inline int Semantic(int kind, int index) { return kind * 16 + index; }

enum Op : uint16_t {
    OpMov,       // d[i] = a[i]
    OpBroadcast, // d[i] = a[0]
    OpGather,    // d[i] = a[table[i]]
    OpScatter,   // d[table[i]] = a[i]
    OpAdd, OpSub, OpMul, OpDiv, OpMod, OpMin, OpMax, OpPow, OpStep, OpAtan2,
    OpLt, OpLe, OpGt, OpGe, OpEq, OpNe, OpAnd, OpOr,
    OpNeg, OpNot, OpAbs, OpSqrt, OpRsqrt, OpExp, OpExp2, OpLog, OpLog2, OpLog10, OpSin, OpCos, OpTan,
    OpAsin, OpAcos, OpAtan, OpFrac, OpFloor, OpCeil, OpRound, OpTrunc, OpSaturate, OpSign,
    OpClamp, OpLerp, OpSmoothstep, OpSelect,  // ternary
    OpDot, OpCross, OpLength, OpDistance, OpNormalize, OpReflect,
    OpAny, OpAll,
    OpMulVM,  // d[j] = sum_i<i0 a[i] * b[i * i1 + j], j < n
    OpMulMV,  // d[i] = sum_j<i0 a[i * i1 + j] * b[j], i < n
    OpMulMM,  // d (n rows x i1 cols) = a (n x i0) * b (i0 x i1)
    OpLoadIdx,  // d[0..n) = a[clamp(int(b[0]), 0, i1 - 1) * i0 ...]
    OpStoreIdx, // d[clamp(int(b[0])) * i0 ...] = a[0..n), i1 elements
    OpJmp,      // pc = i0
    OpJz,       // if a[0] == 0: pc = i0
    OpDiscardIf, // stop, pixel discarded, when any a[i] < 0
    OpDiscard,
    OpCount,  // not an operation: the number of them (fx/ops.h defines each)
};

// Specialised forms of frequent instructions, picked by Program::Analyse:
// the operation at a fixed width and fixed operand strides. Each computes
// exactly what the general instruction does.
enum Form : uint16_t {
    FormNone = 0,
    FormMov = 1,        // + n - 1, n = 1..4
    FormBroadcast = 5,  // + n - 1
    FormGather = 9,     // + n - 1
    FormDot3 = 13,
    FormDot4,
    FormLength3,
    FormNormalize3,
    FormMulVM3,  // 3-vector by 3 x 3
    FormMulVM4,  // 4-vector by 4 x 4
    FormBinary = 32,  // + ((op - OpAdd) * 4 + n - 1) * 3 + k; k 0: vectors, 1: a scalar, 2: b scalar
    FormEnd = FormBinary + 7 * 4 * 3,
};

// Operand strides: flag bit k set means operand k (a, b, c) is a scalar.
enum { FlagScalarA = 1, FlagScalarB = 2, FlagScalarC = 4 };

struct Instr {
    uint16_t op;
    uint8_t n;
    uint8_t flags;
    uint16_t form = 0;  // a specialised form of the operation (see Analyse), 0: none
    int32_t d, a, b, c;
    int32_t i0, i1;
};

// Where a program reads an input or writes an output: `count` floats at
// `offset` of the frame.
struct Binding {
    int semantic;
    int offset;
    int count;
};

// Backward jumps a run may take before it counts as a runaway loop; both
// interpreters stop there alike.
const int kMaxBackJumps = 65536;

struct Program {
    std::vector<Instr> code;
    std::vector<int> tables;  // index lists of gather and scatter
    std::vector<float> initial;  // the frame a run starts from (constants filled in)
    int uniformFloats = 0;
    int workStart = 0;  // first float after the uniforms and the constants
    std::vector<Binding> inputs, outputs;
    bool pixel = false;
    int major = 2, minor = 0;

    // Filled by Analyse. True when a run's outputs (the first four floats of
    // each) follow from the uniforms and the first four floats of each input
    // alone: the run reads no float it has not been given or written itself,
    // writes no uniform or constant and never discards. Equal inputs then
    // give equal outputs, whatever ran before (save a run that Run reports
    // cut short in a runaway loop).
    bool selfContained = false;
    // For each input, bit i set when the program may read float i (i < 4) of
    // it: the device keys reused runs by these floats alone. Filled by Analyse.
    std::vector<uint8_t> inputsRead;
    // For a program that only moves floats (no arithmetic, no branch): for
    // each float of the COLOR0 output (up to four), the frame float it holds
    // as the run starts. Empty otherwise.
    std::vector<int> colorSources;
    // Fills the above and picks the specialised forms of the instructions.
    void Analyse();

    // Runs the program over `frame` (initialised from `initial`). Returns
    // false when the pixel is discarded, or the run meets an instruction that
    // is no operation (no result to use); `cutShort`, when given, is set when
    // a runaway loop ended the run.
    bool Run(float* frame, bool* cutShort = nullptr) const;
};

// Runs a self-contained program (see Program::selfContained) over up to
// kLanes vertices at once: float k of lane l lives at Float(k)[l], one
// dispatch per instruction for all lanes. Each lane computes exactly the
// floats Program::Run computes for it.
class Batch {
public:
    static constexpr int kLanes = 16;

    // Gives every lane the uniforms and constants of `frame`;
    // again whenever the program or its uniforms change.
    void Load(const Program& program, const float* frame);
    float* Float(int k) { return lanes_.data() + (size_t)k * kLanes; }
    const float* Float(int k) const { return lanes_.data() + (size_t)k * kLanes; }
    // Runs lanes [0, count). False when the lanes would branch apart (or
    // meet what Program::Run gives no result for): then no lane's result is
    // to be used. `cutShort`, when given, is set as by Program::Run.
    bool Run(int count, bool* cutShort = nullptr);

private:
    const Program* program_ = nullptr;
    std::vector<float> lanes_;
};

}  // namespace fx

#endif
