// Which input floats the analysis finds a program reads: the device keys
// reused vertex runs by those floats alone, so a float read but left out
// of the set lets two different vertices share one run. Also what both
// interpreters and the analysis make of an instruction that is no
// operation, and of a loop that goes back by a conditional jump.
#include "fx/program.h"

#include <gtest/gtest.h>

#include <string.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Three inputs of four floats (operands a, b, c), a destination, and room
// for what matrices and indexed elements read beyond their first four.
const int kA = 0, kB = 32, kC = 64, kD = 96, kFrame = 128;

// Operands a, b, c from the three inputs, the destination at kD.
fx::Instr Make(int op, int n, int flags, int i0 = 0, int i1 = 0)
{
    return fx::Instr{(uint16_t)op, (uint8_t)n, (uint8_t)flags, fx::FormNone, kD, kA, kB, kC, i0, i1};
}

fx::Program Analysed(std::vector<fx::Instr> code, std::vector<int> tables = {})
{
    fx::Program p;
    p.code = std::move(code);
    p.tables = std::move(tables);
    p.initial.assign(kFrame, 0.f);
    p.inputs = {{fx::Semantic(fx::SemPosition, 0), kA, 4},
                {fx::Semantic(fx::SemNormal, 0), kB, 4},
                {fx::Semantic(fx::SemTexcoord, 0), kC, 4}};
    p.outputs = {{fx::Semantic(fx::SemPosition, 0), kD, 4}};
    p.Analyse();
    return p;
}

// Floats 0 .. n - 1 of an operand, or float 0 alone when it is a scalar.
int Mask(int n, int flags, int scalarFlag) { return (flags & scalarFlag) ? 1 : (1 << n) - 1; }

std::string Named(int op, int n, int flags)
{
    return "operation " + std::to_string(op) + " n " + std::to_string(n) + " flags " + std::to_string(flags);
}

// Component-wise operations read float i of each vector operand for every
// i < n, and float 0 alone of a scalar one.
void ExpectComponentWiseReads(const std::vector<int>& ops, int arity)
{
    const int flagsEnd = 1 << arity;
    for (int op : ops)
        for (int n = 1; n <= 4; ++n)
            for (int flags = 0; flags < flagsEnd; ++flags) {
                const fx::Program p = Analysed({Make(op, n, flags)});
                ASSERT_EQ(p.inputsRead.size(), 3u);
                const int want[3] = {Mask(n, flags, fx::FlagScalarA), arity > 1 ? Mask(n, flags, fx::FlagScalarB) : 0,
                                     arity > 2 ? Mask(n, flags, fx::FlagScalarC) : 0};
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(p.inputsRead[(size_t)k], want[k]) << Named(op, n, flags) << ", operand " << k;
            }
}

}  // namespace

TEST(ReadSets, UnaryOperationsReadEveryComponentOfAVector)
{
    using namespace fx;
    ExpectComponentWiseReads({OpNeg, OpNot, OpAbs, OpSqrt, OpRsqrt, OpExp, OpExp2, OpLog, OpLog2, OpLog10, OpSin,
                              OpCos, OpTan, OpAsin, OpAcos, OpAtan, OpFrac, OpFloor, OpCeil, OpRound, OpTrunc,
                              OpSaturate, OpSign},
                             1);
}

TEST(ReadSets, BinaryOperationsReadEveryComponentOfBothVectors)
{
    using namespace fx;
    ExpectComponentWiseReads({OpAdd, OpSub, OpMul, OpDiv, OpMod, OpMin, OpMax, OpPow, OpStep, OpAtan2, OpLt, OpLe,
                              OpGt, OpGe, OpEq, OpNe, OpAnd, OpOr},
                             2);
}

TEST(ReadSets, TernaryOperationsReadEveryComponentOfAllThreeVectors)
{
    using namespace fx;
    ExpectComponentWiseReads({OpClamp, OpLerp, OpSmoothstep, OpSelect}, 3);
}

// The shapes whose reads are not component by component.
TEST(ReadSets, WholeVectorOperationsReadWhatTheyCombine)
{
    using namespace fx;
    struct Want {
        Instr I;
        int a, b, c;
    };
    const Want wants[] = {
        {Make(OpMov, 3, 0), 0x7, 0, 0},
        {Make(OpBroadcast, 4, 0), 0x1, 0, 0},
        {Make(OpGather, 2, 0, 0), 0x5, 0, 0},  // table {2, 0}
        {Make(OpDot, 3, 0), 0x7, 0x7, 0},
        {Make(OpDistance, 2, 0), 0x3, 0x3, 0},
        {Make(OpLength, 4, 0), 0xf, 0, 0},
        {Make(OpNormalize, 3, 0), 0x7, 0, 0},
        {Make(OpReflect, 3, 0), 0x7, 0x7, 0},
        {Make(OpAny, 2, 0), 0x3, 0, 0},
        {Make(OpAll, 4, 0), 0xf, 0, 0},
        {Make(OpCross, 3, 0), 0x7, 0x7, 0},
        // a 2-vector by the first two columns of a 2 x 4 matrix
        {Make(OpMulVM, 2, 0, 2, 4), 0x3, 0x3, 0},
        // the first three columns of two rows of four, by a 3-vector
        {Make(OpMulMV, 2, 0, 3, 4), 0x7, 0x7, 0},
        // one row of two by two rows of one column
        {Make(OpMulMM, 1, 0, 2, 1), 0x3, 0x3, 0},
        // elements of one float, four of them: every one may be read
        {Make(OpLoadIdx, 1, 0, 1, 4), 0xf, 0x1, 0},
        {Make(OpJz, 1, 0, 1), 0x1, 0, 0},
    };
    for (const Want& w : wants) {
        const Program p = Analysed({w.I}, {2, 0});
        ASSERT_EQ(p.inputsRead.size(), 3u);
        EXPECT_EQ(p.inputsRead[0], w.a) << Named(w.I.op, w.I.n, 0);
        EXPECT_EQ(p.inputsRead[1], w.b) << Named(w.I.op, w.I.n, 0);
        EXPECT_EQ(p.inputsRead[2], w.c) << Named(w.I.op, w.I.n, 0);
    }
}

// Whatever the operation, a float left out of the read set changes nothing
// the program computes.
TEST(ReadSets, NoOperationDependsOnAFloatOutsideItsReadSet)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> value(0.25f, 2.f);
    for (int op = 0; op < fx::OpCount; ++op)
        for (int flags : {0, (int)fx::FlagScalarB}) {
            // i0 and i1 serve as table offset, matrix sizes, element size
            // and count, or jump target, as the operation takes them.
            const fx::Program p = Analysed({Make(op, 4, flags, 4, 4)}, {3, 0, 2, 1, 3, 0, 2, 1});
            ASSERT_EQ(p.inputsRead.size(), 3u);
            std::vector<float> frame(kFrame);
            for (float& f : frame)
                f = value(rng);
            frame[kB] = 1.5f;  // an element index in range
            std::vector<float> base = frame;
            const bool kept = p.Run(base.data());
            for (int k = 0; k < 3; ++k)
                for (int i = 0; i < 4; ++i) {
                    if (p.inputsRead[(size_t)k] & (1 << i))
                        continue;
                    const int at = p.inputs[(size_t)k].offset + i;
                    std::vector<float> other = frame;
                    other[(size_t)at] = frame[(size_t)at] + 3.f;
                    EXPECT_EQ(p.Run(other.data()), kept) << Named(op, 4, flags);
                    for (int j = 0; j < kFrame; ++j) {
                        if (j != at) {
                            EXPECT_EQ(memcmp(&other[(size_t)j], &base[(size_t)j], sizeof(float)), 0)
                                << Named(op, 4, flags) << ": float " << j << " follows input float " << at;
                        }
                    }
                }
        }
}

// An instruction that is no operation (a corrupt program) ends the run with
// no result in both interpreters, and the analysis assumes nothing of it.
TEST(UnknownOperations, EndTheRunInBothInterpretersAndAreNeverReused)
{
    for (int op : {(int)fx::OpCount, 0xffff}) {
        fx::Instr before = Make(fx::OpMov, 1, 0), after = Make(fx::OpMov, 1, 0);
        after.d = kD + 1;
        const fx::Program p = Analysed({before, Make(op, 1, 0), after});
        EXPECT_FALSE(p.selfContained) << op;
        EXPECT_EQ(p.inputsRead, std::vector<uint8_t>(3, 0xf)) << op;
        EXPECT_EQ(p.code[1].form, fx::FormNone) << op;

        std::vector<float> frame(kFrame, 2.f);
        frame[kD + 1] = -1.f;
        bool cutShort = false;
        EXPECT_FALSE(p.Run(frame.data(), &cutShort)) << op;
        EXPECT_FALSE(cutShort) << op;
        EXPECT_EQ(frame[kD + 1], -1.f) << op << ": the run went on past it";

        fx::Batch batch;
        batch.Load(p, p.initial.data());
        EXPECT_FALSE(batch.Run(fx::Batch::kLanes)) << op;

        fx::Program pixel = p;
        pixel.pixel = true;
        pixel.outputs = {{fx::Semantic(fx::SemColor, 0), kD, 4}};
        pixel.Analyse();
        EXPECT_TRUE(pixel.colorSources.empty()) << op;
    }
}

// An instruction wider than the operations take (no compiled one is) is no
// operation to either interpreter: no result, and nothing written past the
// buffers they keep.
TEST(UnknownOperations, InstructionsTooWideEndTheRunInBothInterpreters)
{
    for (const fx::Instr& wide : {Make(fx::OpMov, 17, 0), Make(fx::OpAdd, 17, 0), Make(fx::OpMulMM, 4, 0, 4, 5)}) {
        fx::Instr after = Make(fx::OpMov, 1, 0);
        after.d = kD + 30;
        fx::Program p;
        p.code = {wide, after};
        p.initial.assign(kFrame, 0.f);
        std::vector<float> frame(kFrame, 2.f);
        frame[kD + 30] = -1.f;
        bool cutShort = false;
        EXPECT_FALSE(p.Run(frame.data(), &cutShort)) << wide.op;
        EXPECT_FALSE(cutShort) << wide.op;
        EXPECT_EQ(frame[kD + 30], -1.f) << wide.op << ": the run went on past it";

        fx::Batch batch;
        batch.Load(p, frame.data());
        EXPECT_FALSE(batch.Run(fx::Batch::kLanes)) << wide.op;
    }
}

// A conditional jump back is a loop like any other: a runaway one ends the
// run, cut short, in both interpreters rather than never returning.
TEST(Loops, ARunawayLoopByAConditionalJumpBackEnds)
{
    fx::Instr test = Make(fx::OpJz, 1, 0, 0);
    const fx::Program p = Analysed({Make(fx::OpMov, 1, 0), test});
    std::vector<float> frame(kFrame, 0.f);
    bool cutShort = false;
    EXPECT_TRUE(p.Run(frame.data(), &cutShort));
    EXPECT_TRUE(cutShort);

    fx::Batch batch;
    batch.Load(p, p.initial.data());
    for (int k = 0; k < kFrame; ++k)
        for (int l = 0; l < fx::Batch::kLanes; ++l)
            batch.Float(k)[l] = 0.f;
    cutShort = false;
    EXPECT_TRUE(batch.Run(fx::Batch::kLanes, &cutShort));
    EXPECT_TRUE(cutShort);
}

// A jump before the first instruction leads nowhere: no result, and no
// instruction read from outside the program.
TEST(Loops, AJumpBeforeTheStartEndsTheRunWithNoResult)
{
    for (int op : {(int)fx::OpJmp, (int)fx::OpJz}) {
        const fx::Program p = Analysed({Make(fx::OpMov, 1, 0), Make(op, 1, 0, -3)});
        EXPECT_FALSE(p.selfContained) << op;
        std::vector<float> frame(kFrame, 0.f);
        bool cutShort = false;
        EXPECT_FALSE(p.Run(frame.data(), &cutShort)) << op;
        EXPECT_FALSE(cutShort) << op;

        fx::Batch batch;
        batch.Load(p, p.initial.data());
        for (int k = 0; k < kFrame; ++k)
            for (int l = 0; l < fx::Batch::kLanes; ++l)
                batch.Float(k)[l] = 0.f;
        EXPECT_FALSE(batch.Run(fx::Batch::kLanes)) << op;
    }
}
