// Every operation of the effect interpreters, one at a time, on edge values
// (NaNs, infinities, negative zero, denormals, huge and tiny floats): the
// batches must give each lane the bits of a run of its own, and both
// interpreters the same bits with the specialised forms as without.
#include "fx/program.h"

#include <gtest/gtest.h>

#include <float.h>
#include <math.h>
#include <stdio.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

const int kLanes = fx::Batch::kLanes;

// The frame of a test program: four regions of 32 floats, for the
// operands a, b, c and the destination d.
const int kA = 0, kB = 32, kC = 64, kD = 96, kFrame = 128;

std::vector<float> EdgeValues()
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    uint32_t bits = 0x7fc12345u;  // a NaN with a payload
    float payload;
    memcpy(&payload, &bits, sizeof payload);
    const float inf = std::numeric_limits<float>::infinity();
    const float denormal = std::numeric_limits<float>::denorm_min();
    return {0.f, -0.f, 1.f, -1.f, 0.5f, -2.5f, 2.f, 3.f, 0.75f, 1e9f, -1e9f, FLT_MAX, -FLT_MAX, FLT_MIN,
            denormal, -denormal, 1.5e-39f, inf, -inf, nan, -nan, payload, 1.5707964f, -100.f};
}

// One instruction or a few, and how to run them.
struct Case {
    std::string name;
    std::vector<fx::Instr> code;
    std::vector<int> tables;
    int arity = 1;           // operand floats varied in all combinations
    bool sameLanes = false;  // every lane of a batch the same floats
};

fx::Instr Make(fx::Op op, int n, int flags, int d, int a, int b = kB, int c = kC, int i0 = 0, int i1 = 0)
{
    fx::Instr I{};
    I.op = (uint16_t)op;
    I.n = (uint8_t)n;
    I.flags = (uint8_t)flags;
    I.d = d, I.a = a, I.b = b, I.c = c, I.i0 = i0, I.i1 = i1;
    return I;
}

std::string Named(int op, const char* what, int n, int flags = 0)
{
    return "operation " + std::to_string(op) + " " + what + " n " + std::to_string(n) + " flags " +
           std::to_string(flags);
}

// Component-wise operations of `arity` operands: every width, every mix of
// scalar operands, and the destination over the first operand.
void ComponentWise(fx::Op op, int arity, std::vector<Case>* out)
{
    const int flagMask = (1 << arity) - 1;
    for (int n = 1; n <= 4; ++n)
        for (int flags = 0; flags <= flagMask; ++flags)
            for (int inPlace = 0; inPlace < 2; ++inPlace) {
                if (inPlace && (flags & fx::FlagScalarA))
                    continue;  // the code generator never overlaps so
                Case c;
                c.name = Named(op, inPlace ? "in place" : "", n, flags);
                c.code = {Make(op, n, flags, inPlace ? kA : kD, kA)};
                // Three operands in all combinations once; pairs elsewhere.
                c.arity = n == 1 && flags == 0 && !inPlace ? arity : std::min(arity, 2);
                out->push_back(c);
            }
}

void Shaped(fx::Op op, const char* what, std::vector<fx::Instr> code, int arity, std::vector<Case>* out,
            bool sameLanes = false, std::vector<int> tables = {})
{
    Case c;
    c.name = Named(op, what, code[0].n, code[0].flags);
    c.code = std::move(code);
    c.tables = std::move(tables);
    c.arity = arity;
    c.sameLanes = sameLanes;
    out->push_back(c);
}

struct Shape {
    int n, i0, i1;
};

// The cases that exercise `op`; false for an operation this test does not
// know, which fails it: a new operation needs its cases here.
bool CasesOf(int op, std::vector<Case>* out)
{
    using namespace fx;
    switch ((Op)op) {
    case OpMov:
    case OpBroadcast:
        for (int n : {1, 2, 3, 4, 16})
            Shaped((Op)op, "", {Make((Op)op, n, 0, kD, kA)}, 1, out);
        Shaped((Op)op, "in place", {Make((Op)op, 4, 0, kA, kA)}, 1, out);
        return true;
    case OpGather:
    case OpScatter: {
        const std::vector<int> table = {3, 0, 2, 1, 15, 4, 14, 5, 13, 6, 12, 7, 11, 8, 10, 9};
        for (int n : {1, 2, 3, 4, 16})
            Shaped((Op)op, "", {Make((Op)op, n, 0, kD, kA, kB, kC, 0)}, 1, out, false, table);
        Shaped((Op)op, "in place", {Make((Op)op, 4, 0, kA, kA, kB, kC, 0)}, 1, out, false, table);
        return true;
    }
    case OpAdd: case OpSub: case OpMul: case OpDiv: case OpMod: case OpMin: case OpMax: case OpPow:
    case OpStep: case OpAtan2: case OpLt: case OpLe: case OpGt: case OpGe: case OpEq: case OpNe:
    case OpAnd: case OpOr:
        ComponentWise((Op)op, 2, out);
        return true;
    case OpNeg: case OpNot: case OpAbs: case OpSqrt: case OpRsqrt: case OpExp: case OpExp2: case OpLog:
    case OpLog2: case OpLog10: case OpSin: case OpCos: case OpTan: case OpAsin: case OpAcos: case OpAtan:
    case OpFrac: case OpFloor: case OpCeil: case OpRound: case OpTrunc: case OpSaturate: case OpSign:
        ComponentWise((Op)op, 1, out);
        return true;
    case OpClamp: case OpLerp: case OpSmoothstep: case OpSelect:
        ComponentWise((Op)op, 3, out);
        return true;
    case OpDot: case OpLength: case OpDistance: case OpNormalize: case OpReflect: case OpAny: case OpAll:
        for (int n : {1, 2, 3, 4})
            Shaped((Op)op, "", {Make((Op)op, n, 0, kD, kA)}, 2, out);
        Shaped((Op)op, "in place", {Make((Op)op, 3, 0, kA, kA)}, 2, out);
        return true;
    case OpCross:
        Shaped(OpCross, "", {Make(OpCross, 3, 0, kD, kA)}, 2, out);
        Shaped(OpCross, "in place", {Make(OpCross, 3, 0, kA, kA)}, 2, out);
        return true;
    case OpMulVM:  // n <= i1 columns, i0 rows
    case OpMulMV:  // n rows of i1 floats, i0 of each read
        for (Shape s : {Shape{3, 3, 3}, Shape{4, 4, 4}, Shape{2, 3, 4}, Shape{4, 2, 4}, Shape{1, 4, 4}})
            Shaped((Op)op, "", {Make((Op)op, s.n, 0, kD, kA, kB, kC, s.i0, s.i1)}, 2, out);
        return true;
    case OpMulMM:  // n rows by i0, i0 by i1 columns
        for (Shape s : {Shape{4, 4, 4}, Shape{3, 3, 3}, Shape{2, 3, 4}, Shape{4, 2, 2}, Shape{1, 4, 1}})
            Shaped(OpMulMM, "", {Make(OpMulMM, s.n, 0, kD, kA, kB, kC, s.i0, s.i1)}, 2, out);
        return true;
    case OpLoadIdx:
    case OpStoreIdx:
        // Elements of i0 floats, i1 of them: each lane its own index, or all
        // lanes one.
        for (Shape s : {Shape{1, 1, 4}, Shape{4, 4, 4}, Shape{3, 4, 3}, Shape{2, 2, 8}})
            for (bool same : {false, true})
                Shaped((Op)op, same ? "one index" : "", {Make((Op)op, s.n, 0, kD, kA, kB, kC, s.i0, s.i1)}, 2,
                       out, same);
        return true;
    case OpJmp:
        Shaped(OpJmp, "forward", {Make(OpJmp, 0, 0, 0, 0, 0, 0, 2), Make(OpMov, 1, 0, kD, kA),
                                  Make(OpMov, 1, 0, kD + 1, kB)},
               1, out);
        Shaped(OpJmp, "runaway", {Make(OpMov, 1, 0, kD, kA), Make(OpJmp, 0, 0, 0, 0, 0, 0, 0)}, 1, out);
        return true;
    case OpJz:
        Shaped(OpJz, "", {Make(OpJz, 1, 0, 0, kA, 0, 0, 2), Make(OpMov, 1, 0, kD, kB), Make(OpMov, 1, 0, kD + 1, kC)},
               1, out, true);
        return true;
    case OpDiscardIf:
        for (int n : {1, 2, 4})
            for (int flags : {0, (int)FlagScalarA})
                Shaped(OpDiscardIf, "", {Make(OpDiscardIf, n, flags, 0, kA), Make(OpMov, 1, 0, kD, kB)}, 1, out,
                       true);
        return true;
    case OpDiscard:
        Shaped(OpDiscard, "", {Make(OpMov, 1, 0, kD, kB), Make(OpDiscard, 0, 0, 0, 0)}, 1, out, true);
        return true;
    case OpCount:
        break;
    }
    return false;
}

// The same bits, save that any NaN matches any NaN: which NaN a sum or a
// product passes on when two meet depends on the order the compiler put the
// operands in, in each interpreter (and on no picture).
bool Same(float x, float y) { return memcmp(&x, &y, sizeof x) == 0 || (isnan(x) && isnan(y)); }

// A float and its bits, which tell NaNs apart.
std::string Bits(float x)
{
    uint32_t u;
    memcpy(&u, &x, sizeof u);
    char text[64];
    snprintf(text, sizeof text, "%g (%08x)", (double)x, u);
    return text;
}

// Runs `c` over every combination of edge values in the first float of its
// first `arity` operands (the other floats edge values at random) and
// compares every float of every lane. Returns the lanes compared.
size_t RunCase(const Case& c, const std::vector<float>& edges, std::set<int>* forms)
{
    fx::Program plain;
    plain.code = c.code;
    plain.tables = c.tables;
    plain.initial.assign(kFrame, 0.f);
    fx::Program formed = plain;
    formed.Analyse();
    for (const fx::Instr& I : formed.code)
        forms->insert(I.form);
    fx::Batch batch, formedBatch;
    batch.Load(plain, plain.initial.data());
    formedBatch.Load(formed, formed.initial.data());

    const size_t e = edges.size();
    size_t combos = 1;
    for (int k = 0; k < c.arity; ++k)
        combos *= e;
    std::mt19937 rng(1);
    std::uniform_int_distribution<size_t> pick(0, e - 1);
    std::vector<float> frames((size_t)kLanes * kFrame), one(kFrame), other(kFrame);
    size_t compared = 0, mismatches = 0;
    for (size_t first = 0; first < combos; first += c.sameLanes ? 1 : (size_t)kLanes) {
        const int lanes = c.sameLanes ? kLanes : (int)std::min<size_t>((size_t)kLanes, combos - first);
        for (int l = 0; l < lanes; ++l) {
            float* f = &frames[(size_t)l * kFrame];
            if (c.sameLanes && l > 0) {
                memcpy(f, &frames[0], sizeof(float) * kFrame);
                continue;
            }
            for (int k = 0; k < kFrame; ++k)
                f[k] = edges[pick(rng)];
            size_t combo = first + (size_t)l;
            for (int k = 0; k < c.arity; ++k, combo /= e)
                f[kA + 32 * k] = edges[combo % e];
            // Indices of every element, in range and not.
            if (c.code[0].op == fx::OpLoadIdx || c.code[0].op == fx::OpStoreIdx)
                f[kB] = (c.sameLanes || l % 2) ? edges[(first + (size_t)l) % e] : (float)(l % 5) - 1.f;
        }
        for (int k = 0; k < kFrame; ++k)
            for (int l = 0; l < lanes; ++l)
                batch.Float(k)[l] = formedBatch.Float(k)[l] = frames[(size_t)l * kFrame + (size_t)k];
        bool batchCut = false, formedBatchCut = false;
        const bool batched = batch.Run(lanes, &batchCut);
        EXPECT_EQ(formedBatch.Run(lanes, &formedBatchCut), batched) << c.name;
        EXPECT_EQ(formedBatchCut, batchCut) << c.name;
        bool expectBatched = true;
        for (int l = 0; l < lanes; ++l) {
            const float* in = &frames[(size_t)l * kFrame];
            one.assign(in, in + kFrame);
            other.assign(in, in + kFrame);
            bool cutShort = false, otherCut = false;
            const bool kept = plain.Run(one.data(), &cutShort);
            EXPECT_EQ(formed.Run(other.data(), &otherCut), kept) << c.name;
            EXPECT_EQ(otherCut, cutShort) << c.name;
            expectBatched = expectBatched && kept;
            if (batched) {
                EXPECT_EQ(batchCut, cutShort) << c.name;
            }
            for (int k = 0; k < kFrame; ++k) {
                const float x = one[(size_t)k];
                const bool formsDiffer = !Same(x, other[(size_t)k]);
                const bool batchDiffers =
                    batched && (!Same(x, batch.Float(k)[l]) || !Same(x, formedBatch.Float(k)[l]));
                if ((formsDiffer || batchDiffers) && ++mismatches <= 5)
                    ADD_FAILURE() << c.name << ": float " << k << " of lane " << l << " (operands " << Bits(in[kA])
                                  << ", " << Bits(in[kB]) << ", " << Bits(in[kC]) << "): " << Bits(x)
                                  << " one by one, " << Bits(other[(size_t)k]) << " in its form, "
                                  << Bits(batch.Float(k)[l]) << " batched, " << Bits(formedBatch.Float(k)[l])
                                  << " batched in its form";
            }
            ++compared;
        }
        // A batch gives results exactly when every lane has one, cut short
        // or not: discards are left to runs one by one.
        EXPECT_EQ(batched, expectBatched) << c.name << " at combination " << first;
    }
    EXPECT_EQ(mismatches, 0u) << c.name;
    return compared;
}

}  // namespace

// Every value of the operation enum: cases for it, all of whose lanes
// agree bit for bit; and among them every specialised form.
TEST(Operations, EveryOperationGivesTheBitsOfTheReferenceOnEdgeValues)
{
    const std::vector<float> edges = EdgeValues();
    std::set<int> forms;
    for (int op = 0; op < fx::OpCount; ++op) {
        std::vector<Case> cases;
        if (!CasesOf(op, &cases)) {
            ADD_FAILURE() << "operation " << op << " has no cases here";
            continue;
        }
        ASSERT_FALSE(cases.empty()) << op;
        for (const Case& c : cases)
            EXPECT_GT(RunCase(c, edges, &forms), 0u) << c.name;
    }
    for (int form = fx::FormMov; form <= fx::FormMulVM4; ++form)
        EXPECT_TRUE(forms.count(form)) << "form " << form;
    for (int op : {fx::OpAdd, fx::OpSub, fx::OpMul, fx::OpDiv, fx::OpMin, fx::OpMax})
        for (int k = 0; k < 4 * 3; ++k)
            EXPECT_TRUE(forms.count(fx::FormBinary + (op - fx::OpAdd) * 4 * 3 + k)) << "operation " << op;
}
