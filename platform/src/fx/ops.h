// The operations of compiled effect programs, each defined once for both
// interpreters: Program::Run steps one frame through them, Batch::Run
// Batch::kLanes frames at once. A frame of W lanes holds float k of lane l
// at f[k * W + l], so that one lane (W = 1) is the plain frame. Lane loops
// run over the fixed count into local arrays, which the compiler vectorises
// without alias checks; sums run in one order whatever W, so that every
// lane gets exactly the floats of a run of its own (save which NaN a sum or
// a product passes on when two meet: the compiler orders those operands).
#ifndef VELMORA_FX_OPS_H
#define VELMORA_FX_OPS_H

#include "fx/program.h"

#include <math.h>
#include <string.h>

#include <utility>

namespace fx {
namespace ops {
// Each interpreter compiles its own copy, with its own float options (see
// platform/CMakeLists.txt).
namespace {

inline float Sat(float v) { return v < 0.f ? 0.f : (v > 1.f ? 1.f : v); }

inline int Index(float v, int count)
{
    int i = (v > -1e9f && v < 1e9f) ? (int)v : 0;
    return i < 0 ? 0 : (i >= count ? count - 1 : i);
}

// Row k of the frame: float k of every lane.
template <int W>
inline float* Row(float* f, int k)
{
    return f + k * W;
}

// Rows of the frame are the same or apart; a row never moves onto itself
// (a single float may, harmlessly).
template <int W>
inline void Put(float* d, const float* t)
{
    if (W == 1)
        *d = *t;
    else if (d != t)
        memcpy(d, t, sizeof(float) * W);
}

// Rows [0, n) of a buffer to d. One float at a time for one lane: a copy of
// a few floats costs less than a call or a string move.
template <int W>
inline void PutRows(float* d, const float* t, int n)
{
    if (W == 1)
        for (int i = 0; i < n; ++i)
            d[i] = t[i];
    else
        memcpy(d, t, sizeof(float) * W * (size_t)n);
}

// A count of floats: an int, or Fixed<N> for a width known as the program
// is analysed (see Form), whose loops are then unrolled.
template <int N>
struct Fixed {
    constexpr operator int() const { return N; }
};

template <class B>
inline void Each(int n, B body)
{
    for (int i = 0; i < n; ++i)
        body(i);
}

template <class B, int... I>
inline void EachOf(std::integer_sequence<int, I...>, B& body)
{
    (body(I), ...);
}

template <int N, class B>
inline void Each(Fixed<N>, B body)
{
    EachOf(std::make_integer_sequence<int, N>(), body);
}

// Component-wise operations: float i of the destination from float i of
// each operand (float 0 of a scalar one; sa, sb, sc are 0 or 1). Every
// lane's float i is read before any is written, so an operand may be the
// destination itself; the code generator makes no other overlap.
template <int W, class N, class F>
inline void Unary(float* f, const Instr& I, N n, int sa, F fn)
{
    Each(n, [&](int i) {
        const float* a = Row<W>(f, I.a + i * sa);
        float t[W];
        for (int l = 0; l < W; ++l)
            t[l] = fn(a[l]);
        Put<W>(Row<W>(f, I.d + i), t);
    });
}

template <int W, class N, class F>
inline void Binary(float* f, const Instr& I, N n, int sa, int sb, F fn)
{
    Each(n, [&](int i) {
        const float* a = Row<W>(f, I.a + i * sa);
        const float* b = Row<W>(f, I.b + i * sb);
        float t[W];
        for (int l = 0; l < W; ++l)
            t[l] = fn(a[l], b[l]);
        Put<W>(Row<W>(f, I.d + i), t);
    });
}

template <int W, class N, class F>
inline void Ternary(float* f, const Instr& I, N n, int sa, int sb, int sc, F fn)
{
    Each(n, [&](int i) {
        const float* a = Row<W>(f, I.a + i * sa);
        const float* b = Row<W>(f, I.b + i * sb);
        const float* c = Row<W>(f, I.c + i * sc);
        float t[W];
        for (int l = 0; l < W; ++l)
            t[l] = fn(a[l], b[l], c[l]);
        Put<W>(Row<W>(f, I.d + i), t);
    });
}

// The binary operations that have specialised forms as well (see Form).
struct Add {
    float operator()(float x, float y) const { return x + y; }
};
struct Sub {
    float operator()(float x, float y) const { return x - y; }
};
struct Mul {
    float operator()(float x, float y) const { return x * y; }
};
struct Div {
    float operator()(float x, float y) const { return x / y; }
};
struct Min {
    float operator()(float x, float y) const { return x < y ? x : y; }
};
struct Max {
    float operator()(float x, float y) const { return x > y ? x : y; }
};

// s[l] = sum over i < n of a_i[l] * b_i[l], from i = 0 up; a and b step
// by their own strides (in floats of the program).
template <int W, class N>
inline void Dot(const float* f, int a, int as, int b, int bs, N n, float* s)
{
    for (int l = 0; l < W; ++l)
        s[l] = 0.f;
    Each(n, [&](int i) {
        const float* x = f + (a + i * as) * W;
        const float* y = f + (b + i * bs) * W;
        for (int l = 0; l < W; ++l)
            s[l] += x[l] * y[l];
    });
}

// Float by float, in order.
template <int W, class N>
inline void Mov(float* f, const Instr& I, N n)
{
    Each(n, [&](int i) { Put<W>(Row<W>(f, I.d + i), Row<W>(f, I.a + i)); });
}

template <int W, class N>
inline void Broadcast(float* f, const Instr& I, N n)
{
    float t[W];
    memcpy(t, Row<W>(f, I.a), sizeof t);
    Each(n, [&](int i) { Put<W>(Row<W>(f, I.d + i), t); });
}

// Moves n (at most 16) floats through a buffer, every source read before
// any destination is written: gathers index the sources, scatters the
// destinations.
template <int W, class N>
inline void Move(float* f, int d, const int* dIdx, int a, const int* aIdx, N n)
{
    float t[16 * W];
    Each(n, [&](int i) { memcpy(t + i * W, Row<W>(f, a + (aIdx ? aIdx[i] : i)), sizeof(float) * W); });
    Each(n, [&](int i) { Put<W>(Row<W>(f, d + (dIdx ? dIdx[i] : i)), t + i * W); });
}

template <int W, class N>
inline void DotOp(float* f, const Instr& I, N n)
{
    float s[W];
    Dot<W>(f, I.a, 1, I.b, 1, n, s);
    Put<W>(Row<W>(f, I.d), s);
}

template <int W, class N>
inline void Length(float* f, const Instr& I, N n)
{
    float s[W];
    Dot<W>(f, I.a, 1, I.a, 1, n, s);
    for (int l = 0; l < W; ++l)
        s[l] = sqrtf(s[l]);
    Put<W>(Row<W>(f, I.d), s);
}

template <int W, class N>
inline void Normalize(float* f, const Instr& I, N n)
{
    float k[W];
    Dot<W>(f, I.a, 1, I.a, 1, n, k);
    // A zero vector stays zero rather than turning into NaNs.
    for (int l = 0; l < W; ++l)
        k[l] = k[l] > 0.f ? 1.f / sqrtf(k[l]) : 0.f;
    Each(n, [&](int i) {
        const float* a = Row<W>(f, I.a + i);
        float t[W];
        for (int l = 0; l < W; ++l)
            t[l] = a[l] * k[l];
        Put<W>(Row<W>(f, I.d + i), t);
    });
}

// d[j] = sum over i < rows of a[i] * b[i * cols + j], j < n.
template <int W, class N>
inline void MulVM(float* f, const Instr& I, N n, N rows, int cols)
{
    float t[16 * W];
    Each(n, [&](int j) { Dot<W>(f, I.a, 1, I.b + j, cols, rows, t + j * W); });
    PutRows<W>(Row<W>(f, I.d), t, n);
}

// Runs instruction I in its specialised form: the operation at the width
// and strides Analyse found, unrolled. False for an instruction of no form.
template <int W>
inline bool RunForm(float* f, const Instr& I, const int* tab)
{
#define FORM_BINARY_N(OP, F, N)                              \
    case FormBinary + ((OP - OpAdd) * 4 + N - 1) * 3 + 0:   \
        Binary<W>(f, I, Fixed<N>(), 1, 1, F());             \
        return true;                                         \
    case FormBinary + ((OP - OpAdd) * 4 + N - 1) * 3 + 1:   \
        Binary<W>(f, I, Fixed<N>(), 0, 1, F());             \
        return true;                                         \
    case FormBinary + ((OP - OpAdd) * 4 + N - 1) * 3 + 2:   \
        Binary<W>(f, I, Fixed<N>(), 1, 0, F());             \
        return true;
#define FORM_BINARY(OP, F) FORM_BINARY_N(OP, F, 1) FORM_BINARY_N(OP, F, 2) FORM_BINARY_N(OP, F, 3) FORM_BINARY_N(OP, F, 4)
#define FORM_WIDTHS(FORM, CALL)                              \
    case FORM + 0: CALL(1); return true;                     \
    case FORM + 1: CALL(2); return true;                     \
    case FORM + 2: CALL(3); return true;                     \
    case FORM + 3: CALL(4); return true;
#define MOV(N) Mov<W>(f, I, Fixed<N>())
#define BROADCAST(N) Broadcast<W>(f, I, Fixed<N>())
#define GATHER(N) Move<W>(f, I.d, nullptr, I.a, tab + I.i0, Fixed<N>())
    switch (I.form) {
    FORM_WIDTHS(FormMov, MOV)
    FORM_WIDTHS(FormBroadcast, BROADCAST)
    FORM_WIDTHS(FormGather, GATHER)
    case FormDot3: DotOp<W>(f, I, Fixed<3>()); return true;
    case FormDot4: DotOp<W>(f, I, Fixed<4>()); return true;
    case FormLength3: Length<W>(f, I, Fixed<3>()); return true;
    case FormNormalize3: Normalize<W>(f, I, Fixed<3>()); return true;
    case FormMulVM3: MulVM<W>(f, I, Fixed<3>(), Fixed<3>(), 3); return true;
    case FormMulVM4: MulVM<W>(f, I, Fixed<4>(), Fixed<4>(), 4); return true;
    FORM_BINARY(OpAdd, Add)
    FORM_BINARY(OpSub, Sub)
    FORM_BINARY(OpMul, Mul)
    FORM_BINARY(OpDiv, Div)
    FORM_BINARY(OpMin, Min)
    FORM_BINARY(OpMax, Max)
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

// What an instruction does to the run of the lanes.
enum class Flow {
    Next,     // on to the next instruction
    Jump,     // on to instruction i0
    Discard,  // every lane's pixel is discarded
    Apart,    // the lanes would go different ways
    Unknown,  // not an operation
};

// Flow::Apart unless `test` holds for all lanes [0, count) or for none.
template <class T>
inline Flow Agree(int count, T test, Flow all, Flow none)
{
    const bool first = test(0);
    for (int l = 1; l < count; ++l)
        if (test(l) != first)
            return Flow::Apart;
    return first ? all : none;
}

// Runs instruction I over the lanes [0, count) of the W lanes of frame f
// (the others compute floats nobody reads). `tab` holds the program's
// index tables.
template <int W>
inline Flow Step(float* f, const Instr& I, const int* tab, int count)
{
    const int n = I.n;
    auto stride = [&](int flag) { return (I.flags & flag) ? 0 : 1; };
    auto unary = [&](auto fn) { Unary<W>(f, I, n, stride(FlagScalarA), fn); };
    auto binary = [&](auto fn) { Binary<W>(f, I, n, stride(FlagScalarA), stride(FlagScalarB), fn); };
    auto ternary = [&](auto fn) {
        Ternary<W>(f, I, n, stride(FlagScalarA), stride(FlagScalarB), stride(FlagScalarC), fn);
    };
    switch ((Op)I.op) {
    case OpMov: Mov<W>(f, I, n); return Flow::Next;
    case OpBroadcast: Broadcast<W>(f, I, n); return Flow::Next;
    case OpGather: Move<W>(f, I.d, nullptr, I.a, tab + I.i0, n); return Flow::Next;
    case OpScatter: Move<W>(f, I.d, tab + I.i0, I.a, nullptr, n); return Flow::Next;
    case OpAdd: binary(Add()); return Flow::Next;
    case OpSub: binary(Sub()); return Flow::Next;
    case OpMul: binary(Mul()); return Flow::Next;
    case OpDiv: binary(Div()); return Flow::Next;
    case OpMod: binary([](float x, float y) { return fmodf(x, y); }); return Flow::Next;
    case OpMin: binary(Min()); return Flow::Next;
    case OpMax: binary(Max()); return Flow::Next;
    case OpPow: binary([](float x, float y) { return powf(x, y); }); return Flow::Next;
    case OpStep: binary([](float x, float y) { return y >= x ? 1.f : 0.f; }); return Flow::Next;
    case OpAtan2: binary([](float x, float y) { return atan2f(x, y); }); return Flow::Next;
    case OpLt: binary([](float x, float y) { return x < y ? 1.f : 0.f; }); return Flow::Next;
    case OpLe: binary([](float x, float y) { return x <= y ? 1.f : 0.f; }); return Flow::Next;
    case OpGt: binary([](float x, float y) { return x > y ? 1.f : 0.f; }); return Flow::Next;
    case OpGe: binary([](float x, float y) { return x >= y ? 1.f : 0.f; }); return Flow::Next;
    case OpEq: binary([](float x, float y) { return x == y ? 1.f : 0.f; }); return Flow::Next;
    case OpNe: binary([](float x, float y) { return x != y ? 1.f : 0.f; }); return Flow::Next;
    case OpAnd: binary([](float x, float y) { return (x != 0.f && y != 0.f) ? 1.f : 0.f; }); return Flow::Next;
    case OpOr: binary([](float x, float y) { return (x != 0.f || y != 0.f) ? 1.f : 0.f; }); return Flow::Next;
    case OpNeg: unary([](float x) { return -x; }); return Flow::Next;
    case OpNot: unary([](float x) { return x == 0.f ? 1.f : 0.f; }); return Flow::Next;
    case OpAbs: unary([](float x) { return fabsf(x); }); return Flow::Next;
    case OpSqrt: unary([](float x) { return sqrtf(x); }); return Flow::Next;
    case OpRsqrt: unary([](float x) { return 1.f / sqrtf(x); }); return Flow::Next;
    case OpExp: unary([](float x) { return expf(x); }); return Flow::Next;
    case OpExp2: unary([](float x) { return exp2f(x); }); return Flow::Next;
    case OpLog: unary([](float x) { return logf(x); }); return Flow::Next;
    case OpLog2: unary([](float x) { return log2f(x); }); return Flow::Next;
    case OpLog10: unary([](float x) { return log10f(x); }); return Flow::Next;
    case OpSin: unary([](float x) { return sinf(x); }); return Flow::Next;
    case OpCos: unary([](float x) { return cosf(x); }); return Flow::Next;
    case OpTan: unary([](float x) { return tanf(x); }); return Flow::Next;
    case OpAsin: unary([](float x) { return asinf(x); }); return Flow::Next;
    case OpAcos: unary([](float x) { return acosf(x); }); return Flow::Next;
    case OpAtan: unary([](float x) { return atanf(x); }); return Flow::Next;
    case OpFrac: unary([](float x) { return x - floorf(x); }); return Flow::Next;
    case OpFloor: unary([](float x) { return floorf(x); }); return Flow::Next;
    case OpCeil: unary([](float x) { return ceilf(x); }); return Flow::Next;
    case OpRound: unary([](float x) { return roundf(x); }); return Flow::Next;
    case OpTrunc: unary([](float x) { return truncf(x); }); return Flow::Next;
    case OpSaturate: unary([](float x) { return Sat(x); }); return Flow::Next;
    case OpSign: unary([](float x) { return x > 0.f ? 1.f : (x < 0.f ? -1.f : 0.f); }); return Flow::Next;
    case OpClamp: ternary([](float x, float y, float z) { return x < y ? y : (x > z ? z : x); }); return Flow::Next;
    case OpLerp: ternary([](float x, float y, float z) { return x + (y - x) * z; }); return Flow::Next;
    case OpSmoothstep:
        ternary([](float x, float y, float z) {
            float k = y == x ? (z >= y ? 1.f : 0.f) : Sat((z - x) / (y - x));
            return k * k * (3.f - 2.f * k);
        });
        return Flow::Next;
    case OpSelect: ternary([](float x, float y, float z) { return x != 0.f ? y : z; }); return Flow::Next;
    case OpDot: DotOp<W>(f, I, n); return Flow::Next;
    case OpCross: {
        const float *a = Row<W>(f, I.a), *b = Row<W>(f, I.b);
        float t[3 * W];
        for (int l = 0; l < W; ++l) {
            t[l] = a[W + l] * b[2 * W + l] - a[2 * W + l] * b[W + l];
            t[W + l] = a[2 * W + l] * b[l] - a[l] * b[2 * W + l];
            t[2 * W + l] = a[l] * b[W + l] - a[W + l] * b[l];
        }
        memcpy(Row<W>(f, I.d), t, sizeof t);
        return Flow::Next;
    }
    case OpLength: Length<W>(f, I, n); return Flow::Next;
    case OpDistance: {
        float s[W] = {};
        for (int i = 0; i < n; ++i) {
            const float *a = Row<W>(f, I.a + i), *b = Row<W>(f, I.b + i);
            for (int l = 0; l < W; ++l)
                s[l] += (a[l] - b[l]) * (a[l] - b[l]);
        }
        for (int l = 0; l < W; ++l)
            s[l] = sqrtf(s[l]);
        Put<W>(Row<W>(f, I.d), s);
        return Flow::Next;
    }
    case OpNormalize: Normalize<W>(f, I, n); return Flow::Next;
    case OpReflect: {
        float s[W], t[16 * W];
        Dot<W>(f, I.a, 1, I.b, 1, n, s);
        for (int i = 0; i < n; ++i) {
            const float *a = Row<W>(f, I.a + i), *b = Row<W>(f, I.b + i);
            for (int l = 0; l < W; ++l)
                t[i * W + l] = a[l] - 2.f * s[l] * b[l];
        }
        PutRows<W>(Row<W>(f, I.d), t, n);
        return Flow::Next;
    }
    case OpAny:
    case OpAll: {
        const bool any = I.op == OpAny;
        float r[W];
        for (int l = 0; l < W; ++l)
            r[l] = any ? 0.f : 1.f;
        for (int i = 0; i < n; ++i) {
            const float* a = Row<W>(f, I.a + i);
            for (int l = 0; l < W; ++l)
                if ((a[l] != 0.f) == any)
                    r[l] = any ? 1.f : 0.f;
        }
        Put<W>(Row<W>(f, I.d), r);
        return Flow::Next;
    }
    case OpMulVM: MulVM<W>(f, I, n, I.i0, I.i1); return Flow::Next;
    case OpMulMV: {
        float t[16 * W];
        for (int i = 0; i < n; ++i)
            Dot<W>(f, I.a + i * I.i1, 1, I.b, 1, I.i0, t + i * W);
        PutRows<W>(Row<W>(f, I.d), t, n);
        return Flow::Next;
    }
    case OpMulMM: {
        const int k = I.i0, cols = I.i1;
        float t[16 * W];
        for (int r = 0; r < n; ++r)
            for (int col = 0; col < cols; ++col)
                Dot<W>(f, I.a + r * k, 1, I.b + col, cols, k, t + (r * cols + col) * W);
        PutRows<W>(Row<W>(f, I.d), t, n * cols);
        return Flow::Next;
    }
    case OpLoadIdx:
    case OpStoreIdx: {
        // The lane's own element: loads index the source, stores the
        // destination.
        const bool load = I.op == OpLoadIdx;
        const float* b = Row<W>(f, I.b);
        int da[W], aa[W];
        bool same = true;
        for (int l = 0; l < W; ++l) {
            const int at = Index(b[l], I.i1) * I.i0;
            da[l] = (I.d + (load ? 0 : at)) * W + l;
            aa[l] = (I.a + (load ? at : 0)) * W + l;
            same = same && (l >= count || da[l] - l == da[0]);
            same = same && (l >= count || aa[l] - l == aa[0]);
        }
        if (same) {
            // One element for every lane that counts (a loop's index):
            // whole rows.
            for (int i = 0; i < n; ++i)
                Put<W>(f + da[0] + i * W, f + aa[0] + i * W);
            return Flow::Next;
        }
        for (int i = 0; i < n; ++i)
            for (int l = 0; l < W; ++l)
                f[da[l] + i * W] = f[aa[l] + i * W];
        return Flow::Next;
    }
    case OpJmp:
        return Flow::Jump;
    case OpJz: {
        const float* a = Row<W>(f, I.a);
        return Agree(count, [&](int l) { return a[l] == 0.f; }, Flow::Jump, Flow::Next);
    }
    case OpDiscardIf:
        return Agree(
            count,
            [&](int l) {
                for (int i = 0; i < n; ++i)
                    if (Row<W>(f, I.a + i * stride(FlagScalarA))[l] < 0.f)
                        return true;
                return false;
            },
            Flow::Discard, Flow::Next);
    case OpDiscard:
        return Flow::Discard;
    case OpCount:
        break;
    }
    return Flow::Unknown;
}

}  // namespace
}  // namespace ops
}  // namespace fx

#endif
