// The operations of compiled effect programs: one table says what each is
// (for both interpreters and the analysis), and each is defined once for
// both interpreters: Program::Run steps one frame through them, Batch::Run
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
#include <stdint.h>
#include <string.h>

#include <type_traits>
#include <utility>

namespace fx {
namespace ops {

// What each operation is, once for the interpreters and the analysis.
enum class Kind : uint8_t {
    Unary,    // component-wise, one operand
    Binary,   // component-wise, two operands
    Ternary,  // component-wise, three operands
    Vector,   // arithmetic over whole vectors or matrices
    Copy,     // moves floats between fixed places
    Index,    // moves floats by an index computed in the run
    Control,  // changes the way the run goes
};

// Which floats an operation reads (operands a, b, c) and writes (d).
enum class Operands : uint8_t {
    Lanes,      // d[i] from a[i], b[i], c[i] (float 0 of a scalar operand), i < n
    Whole,      // d[0..n) from a[0..n)
    WholePair,  // d[0..n) from a[0..n) and b[0..n)
    Sum,        // d[0] from a[0..n)
    SumPair,    // d[0] from a[0..n) and b[0..n)
    Broadcast,  // d[0..n) from a[0]
    Gather,     // d[0..n) from a[table[i]]
    Scatter,    // d[table[i]] from a[0..n)
    Cross,      // d[0..3) from a[0..3) and b[0..3)
    MulVM,      // see Op
    MulMV,
    MulMM,
    LoadIdx,    // d[0..n) from b[0] and every element of a
    StoreIdx,   // some element of d from b[0] and a[0..n)
    Test,       // a[0]
    Condition,  // a[i], i < n (float 0 of a scalar a)
    None,
};

// Where the run goes after the operation.
enum class OpFlow : uint8_t {
    Next,     // the next instruction
    Jump,     // instruction i0
    Branch,   // instruction i0 or the next, by the lane
    Discard,  // the next, or the pixel is discarded
};

// The pixel shader instruction slot an operation takes (ps_2_0 counts the
// arithmetic and the texture ones apart; discards are texkill).
enum class Slot : uint8_t { Arithmetic, Texture, Flow };

// The instruction slots an operation takes in Direct3D 9 assembly, near
// enough, for the profiles' slot limits: so many per float it writes, per
// four floats and in all. One per four floats of a component-wise
// operation; per float for the scalar-only ones (rcp, rsq, exp, log, pow,
// sincos) with their own counts; one per output of a matrix product; the
// intrinsics that the assembly spells out, by its usual expansion (fmod a
// division and a truncation per float, smoothstep a reciprocal besides).
struct Cost {
    uint8_t perFloat, perFour, fixed;
};

// One row an operation, in the order of Op: name, kind, operands, flow,
// specialised forms (the first Form of the operation: see FormOf and
// RunForm; None: none), slot, cost (per float, per four floats, fixed),
// and for component-wise ones the float function of x (, y (, z)).
#define VELMORA_FX_OPERATIONS(X)                                                                      \
    X(Mov, Copy, Whole, Next, Mov, Arithmetic, (0, 1, 0), )                                           \
    X(Broadcast, Copy, Broadcast, Next, Broadcast, Arithmetic, (0, 1, 0), )                           \
    X(Gather, Copy, Gather, Next, Gather, Arithmetic, (0, 1, 0), )                                    \
    X(Scatter, Copy, Scatter, Next, None, Arithmetic, (0, 1, 0), )                                    \
    X(Add, Binary, Lanes, Next, Binary, Arithmetic, (0, 1, 0), x + y)                                 \
    X(Sub, Binary, Lanes, Next, Binary, Arithmetic, (0, 1, 0), x - y)                                 \
    X(Mul, Binary, Lanes, Next, Binary, Arithmetic, (0, 1, 0), x * y)                                 \
    X(Div, Binary, Lanes, Next, Binary, Arithmetic, (1, 1, 0), x / y)                                 \
    X(Mod, Binary, Lanes, Next, None, Arithmetic, (3, 4, 0), fmodf(x, y))                             \
    X(Min, Binary, Lanes, Next, Binary, Arithmetic, (0, 1, 0), x < y ? x : y)                         \
    X(Max, Binary, Lanes, Next, Binary, Arithmetic, (0, 1, 0), x > y ? x : y)                         \
    X(Pow, Binary, Lanes, Next, None, Arithmetic, (3, 0, 0), powf(x, y))                              \
    X(Step, Binary, Lanes, Next, None, Arithmetic, (0, 1, 0), y >= x ? 1.f : 0.f)                     \
    X(Atan2, Binary, Lanes, Next, None, Arithmetic, (12, 0, 0), atan2f(x, y))                         \
    X(Lt, Binary, Lanes, Next, None, Arithmetic, (0, 1, 0), x < y ? 1.f : 0.f)                        \
    X(Le, Binary, Lanes, Next, None, Arithmetic, (0, 1, 0), x <= y ? 1.f : 0.f)                       \
    X(Gt, Binary, Lanes, Next, None, Arithmetic, (0, 1, 0), x > y ? 1.f : 0.f)                        \
    X(Ge, Binary, Lanes, Next, None, Arithmetic, (0, 1, 0), x >= y ? 1.f : 0.f)                       \
    X(Eq, Binary, Lanes, Next, None, Arithmetic, (0, 1, 0), x == y ? 1.f : 0.f)                       \
    X(Ne, Binary, Lanes, Next, None, Arithmetic, (0, 1, 0), x != y ? 1.f : 0.f)                       \
    X(And, Binary, Lanes, Next, None, Arithmetic, (0, 1, 0), (x != 0.f && y != 0.f) ? 1.f : 0.f)      \
    X(Or, Binary, Lanes, Next, None, Arithmetic, (0, 1, 0), (x != 0.f || y != 0.f) ? 1.f : 0.f)       \
    X(Neg, Unary, Lanes, Next, None, Arithmetic, (0, 1, 0), -x)                                       \
    X(Not, Unary, Lanes, Next, None, Arithmetic, (0, 1, 0), x == 0.f ? 1.f : 0.f)                     \
    X(Abs, Unary, Lanes, Next, None, Arithmetic, (0, 1, 0), fabsf(x))                                 \
    X(Sqrt, Unary, Lanes, Next, None, Arithmetic, (2, 0, 0), sqrtf(x))                                \
    X(Rsqrt, Unary, Lanes, Next, None, Arithmetic, (1, 0, 0), 1.f / sqrtf(x))                         \
    X(Exp, Unary, Lanes, Next, None, Arithmetic, (1, 0, 0), expf(x))                                  \
    X(Exp2, Unary, Lanes, Next, None, Arithmetic, (1, 0, 0), exp2f(x))                                \
    X(Log, Unary, Lanes, Next, None, Arithmetic, (1, 0, 0), logf(x))                                  \
    X(Log2, Unary, Lanes, Next, None, Arithmetic, (1, 0, 0), log2f(x))                                \
    X(Log10, Unary, Lanes, Next, None, Arithmetic, (1, 0, 0), log10f(x))                              \
    X(Sin, Unary, Lanes, Next, None, Arithmetic, (8, 0, 0), sinf(x))                                  \
    X(Cos, Unary, Lanes, Next, None, Arithmetic, (8, 0, 0), cosf(x))                                  \
    X(Tan, Unary, Lanes, Next, None, Arithmetic, (10, 0, 0), tanf(x))                                 \
    X(Asin, Unary, Lanes, Next, None, Arithmetic, (10, 0, 0), asinf(x))                               \
    X(Acos, Unary, Lanes, Next, None, Arithmetic, (10, 0, 0), acosf(x))                               \
    X(Atan, Unary, Lanes, Next, None, Arithmetic, (10, 0, 0), atanf(x))                               \
    X(Frac, Unary, Lanes, Next, None, Arithmetic, (0, 1, 0), x - floorf(x))                           \
    X(Floor, Unary, Lanes, Next, None, Arithmetic, (0, 2, 0), floorf(x))                              \
    X(Ceil, Unary, Lanes, Next, None, Arithmetic, (0, 2, 0), ceilf(x))                                \
    X(Round, Unary, Lanes, Next, None, Arithmetic, (0, 2, 0), roundf(x))                              \
    X(Trunc, Unary, Lanes, Next, None, Arithmetic, (0, 2, 0), truncf(x))                              \
    X(Saturate, Unary, Lanes, Next, None, Arithmetic, (0, 1, 0), Sat(x))                              \
    X(Sign, Unary, Lanes, Next, None, Arithmetic, (0, 2, 0), x > 0.f ? 1.f : (x < 0.f ? -1.f : 0.f))  \
    X(Clamp, Ternary, Lanes, Next, None, Arithmetic, (0, 1, 0), x < y ? y : (x > z ? z : x))          \
    X(Lerp, Ternary, Lanes, Next, None, Arithmetic, (0, 2, 0), x + (y - x) * z)                       \
    X(Smoothstep, Ternary, Lanes, Next, None, Arithmetic, (1, 4, 0), SmoothStep(x, y, z))             \
    X(Select, Ternary, Lanes, Next, None, Arithmetic, (0, 1, 0), x != 0.f ? y : z)                    \
    X(Dot, Vector, SumPair, Next, Dot3, Arithmetic, (0, 1, 0), )                                      \
    X(Cross, Vector, Cross, Next, None, Arithmetic, (0, 2, 0), )                                      \
    X(Length, Vector, Sum, Next, Length3, Arithmetic, (0, 0, 3), )                                    \
    X(Distance, Vector, SumPair, Next, None, Arithmetic, (0, 0, 4), )                                 \
    X(Normalize, Vector, Whole, Next, Normalize3, Arithmetic, (0, 0, 3), )                            \
    X(Reflect, Vector, WholePair, Next, None, Arithmetic, (0, 0, 3), )                                \
    X(Any, Vector, Sum, Next, None, Arithmetic, (0, 1, 0), )                                          \
    X(All, Vector, Sum, Next, None, Arithmetic, (0, 1, 0), )                                          \
    X(MulVM, Vector, MulVM, Next, MulVM3, Arithmetic, (1, 0, 0), )                                    \
    X(MulMV, Vector, MulMV, Next, None, Arithmetic, (1, 0, 0), )                                      \
    X(MulMM, Vector, MulMM, Next, None, Arithmetic, (1, 0, 0), )                                      \
    X(LoadIdx, Index, LoadIdx, Next, None, Arithmetic, (0, 1, 0), )                                   \
    X(StoreIdx, Index, StoreIdx, Next, None, Arithmetic, (0, 1, 0), )                                 \
    X(Jmp, Control, None, Jump, None, Flow, (0, 1, 0), )                                              \
    X(Jz, Control, Test, Branch, None, Flow, (0, 1, 0), )                                             \
    X(DiscardIf, Control, Condition, Discard, None, Texture, (0, 1, 0), )                             \
    X(Discard, Control, None, Discard, None, Texture, (0, 1, 0), )

struct Info {
    Op op;
    Kind kind;
    Operands operands;
    OpFlow flow;
    Form forms;  // FormNone, or the first form the operation may take
    Slot slot;
    Cost cost;
};

#define VELMORA_FX_COST(PER_FLOAT, PER_FOUR, FIXED) {PER_FLOAT, PER_FOUR, FIXED}
#define VELMORA_FX_INFO(NAME, KIND, OPERANDS, FLOW, FORMS, SLOT, COST, FN) \
    {Op##NAME, Kind::KIND, Operands::OPERANDS, OpFlow::FLOW, Form##FORMS, Slot::SLOT, VELMORA_FX_COST COST},
inline constexpr Info kInfo[] = {VELMORA_FX_OPERATIONS(VELMORA_FX_INFO)};
#undef VELMORA_FX_INFO
#undef VELMORA_FX_COST

// Every operation of the enum has its row, in its place.
static_assert(sizeof kInfo / sizeof kInfo[0] == OpCount, "an operation without its row, or a row too many");
constexpr bool InOrder()
{
    for (int k = 0; k < OpCount; ++k) {
        const Info& i = kInfo[k];
        if (i.op != k)
            return false;
        const bool lanes = i.kind == Kind::Unary || i.kind == Kind::Binary || i.kind == Kind::Ternary;
        if (lanes != (i.operands == Operands::Lanes))
            return false;
        if ((i.kind == Kind::Control) != (i.flow != OpFlow::Next))
            return false;
        // The binary forms are numbered by op - OpAdd within FormBinary..FormEnd.
        if (i.forms == FormBinary &&
            (i.kind != Kind::Binary || k < OpAdd || (k - OpAdd + 1) * 4 * 3 > FormEnd - FormBinary))
            return false;
    }
    return true;
}
static_assert(InOrder(), "the rows of the operations are out of order or inconsistent");

// The row of an operation; null for a value that is none.
inline const Info* InfoOf(int op) { return op >= 0 && op < OpCount ? &kInfo[op] : nullptr; }

// Whether a pixel program's operation takes a texture instruction slot.
inline bool IsTextureOp(int op)
{
    const Info* i = InfoOf(op);
    return i && i->slot == Slot::Texture;
}

// The widest instruction, in floats a lane: the operations that keep what
// they write aside until they have read (gathers, scatters, products,
// reflections) keep it in buffers of this size. The code generator splits
// wider moves into instructions of it; anything wider is no operation to
// either interpreter (see Step), whoever made it.
const int kMaxWidth = 16;

inline bool Fits(const Instr& I)
{
    return I.n <= kMaxWidth && (I.op != OpMulMM || I.n * I.i1 <= kMaxWidth);
}

// Whether an operation takes a flow control slot (a jump: none once its
// loop is unrolled).
inline bool IsFlowOp(int op)
{
    const Info* i = InfoOf(op);
    return i && i->slot == Slot::Flow;
}

// The instruction slots an instruction takes (see Cost); a product of
// matrices writes n rows of i1 floats.
inline int Slots(const Instr& I)
{
    const Info* info = InfoOf(I.op);
    if (!info)
        return 0;
    int n = I.n > 0 ? I.n : 1;
    if (info->operands == Operands::MulMM)
        n *= I.i1 > 0 ? I.i1 : 1;
    return info->cost.perFloat * n + info->cost.perFour * ((n + 3) / 4) + info->cost.fixed;
}

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

inline float SmoothStep(float x, float y, float z)
{
    const float k = y == x ? (z >= y ? 1.f : 0.f) : Sat((z - x) / (y - x));
    return k * k * (3.f - 2.f * k);
}

// The float function of a component-wise operation.
template <Op op>
struct Fn;
#define VELMORA_FX_FN_Unary(NAME, FN)                           \
    template <>                                                 \
    struct Fn<Op##NAME> {                                       \
        float operator()(float x) const { return FN; }          \
    };
#define VELMORA_FX_FN_Binary(NAME, FN)                          \
    template <>                                                 \
    struct Fn<Op##NAME> {                                       \
        float operator()(float x, float y) const { return FN; } \
    };
#define VELMORA_FX_FN_Ternary(NAME, FN)                                  \
    template <>                                                          \
    struct Fn<Op##NAME> {                                                \
        float operator()(float x, float y, float z) const { return FN; } \
    };
#define VELMORA_FX_FN_Vector(NAME, FN)
#define VELMORA_FX_FN_Copy(NAME, FN)
#define VELMORA_FX_FN_Index(NAME, FN)
#define VELMORA_FX_FN_Control(NAME, FN)
#define VELMORA_FX_FN(NAME, KIND, OPERANDS, FLOW, FORMS, SLOT, COST, FN) VELMORA_FX_FN_##KIND(NAME, FN)
VELMORA_FX_OPERATIONS(VELMORA_FX_FN)
#undef VELMORA_FX_FN
#undef VELMORA_FX_FN_Control
#undef VELMORA_FX_FN_Index
#undef VELMORA_FX_FN_Copy
#undef VELMORA_FX_FN_Vector
#undef VELMORA_FX_FN_Ternary
#undef VELMORA_FX_FN_Binary
#undef VELMORA_FX_FN_Unary

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

// Moves n (at most kMaxWidth) floats through a buffer, every source read before
// any destination is written: gathers index the sources, scatters the
// destinations.
template <int W, class N>
inline void Move(float* f, int d, const int* dIdx, int a, const int* aIdx, N n)
{
    float t[kMaxWidth * W];
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
    float t[kMaxWidth * W];
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
    // The binary operations' forms, by the table; the others' are their own.
#define FORMS_None(NAME)
#define FORMS_Mov(NAME)
#define FORMS_Broadcast(NAME)
#define FORMS_Gather(NAME)
#define FORMS_Dot3(NAME)
#define FORMS_Length3(NAME)
#define FORMS_Normalize3(NAME)
#define FORMS_MulVM3(NAME)
#define FORMS_Binary(NAME) FORM_BINARY(Op##NAME, Fn<Op##NAME>)
#define FORMS(NAME, KIND, OPERANDS, FLOW, FORMS, SLOT, COST, FN) FORMS_##FORMS(NAME)
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
    VELMORA_FX_OPERATIONS(FORMS)
    default:
        return false;
    }
#undef FORMS
#undef FORMS_Binary
#undef FORMS_MulVM3
#undef FORMS_Normalize3
#undef FORMS_Length3
#undef FORMS_Dot3
#undef FORMS_Gather
#undef FORMS_Broadcast
#undef FORMS_Mov
#undef FORMS_None
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

template <Op op>
using Tag = std::integral_constant<Op, op>;

inline int Stride(const Instr& I, int flag) { return (I.flags & flag) ? 0 : 1; }

// The code of each operation that is not component-wise, by its tag: an
// operation of the table without its code here does not compile. Those
// that go on to the next instruction return nothing, the others their flow.
#define OWN(OP) \
    template <int W> \
    inline auto Own(Tag<OP>, float* f, const Instr& I, const int* tab, int count)
// The rare ones stay out of line, which leaves the interpreters' loops
// their registers.
#define RARE(OP) \
    template <int W> \
    __attribute__((noinline)) void Own(Tag<OP>, float* f, const Instr& I, const int* tab, int count)

OWN(OpMov) { Mov<W>(f, I, (int)I.n); }
OWN(OpBroadcast) { Broadcast<W>(f, I, (int)I.n); }
OWN(OpGather) { Move<W>(f, I.d, nullptr, I.a, tab + I.i0, (int)I.n); }
OWN(OpScatter) { Move<W>(f, I.d, tab + I.i0, I.a, nullptr, (int)I.n); }
OWN(OpDot) { DotOp<W>(f, I, (int)I.n); }
RARE(OpCross)
{
    const float *a = Row<W>(f, I.a), *b = Row<W>(f, I.b);
    float t[3 * W];
    for (int l = 0; l < W; ++l) {
        t[l] = a[W + l] * b[2 * W + l] - a[2 * W + l] * b[W + l];
        t[W + l] = a[2 * W + l] * b[l] - a[l] * b[2 * W + l];
        t[2 * W + l] = a[l] * b[W + l] - a[W + l] * b[l];
    }
    memcpy(Row<W>(f, I.d), t, sizeof t);
}
OWN(OpLength) { Length<W>(f, I, (int)I.n); }
RARE(OpDistance)
{
    const int n = I.n;
    float s[W] = {};
    for (int i = 0; i < n; ++i) {
        const float *a = Row<W>(f, I.a + i), *b = Row<W>(f, I.b + i);
        for (int l = 0; l < W; ++l)
            s[l] += (a[l] - b[l]) * (a[l] - b[l]);
    }
    for (int l = 0; l < W; ++l)
        s[l] = sqrtf(s[l]);
    Put<W>(Row<W>(f, I.d), s);
}
OWN(OpNormalize) { Normalize<W>(f, I, (int)I.n); }
RARE(OpReflect)
{
    const int n = I.n;
    float s[W], t[kMaxWidth * W];
    Dot<W>(f, I.a, 1, I.b, 1, n, s);
    for (int i = 0; i < n; ++i) {
        const float *a = Row<W>(f, I.a + i), *b = Row<W>(f, I.b + i);
        for (int l = 0; l < W; ++l)
            t[i * W + l] = a[l] - 2.f * s[l] * b[l];
    }
    PutRows<W>(Row<W>(f, I.d), t, n);
}

// d = 1 where any float of a is not zero (all, for `any` false).
template <int W>
inline void AnyAll(float* f, const Instr& I, bool any)
{
    float r[W];
    for (int l = 0; l < W; ++l)
        r[l] = any ? 0.f : 1.f;
    for (int i = 0; i < I.n; ++i) {
        const float* a = Row<W>(f, I.a + i);
        for (int l = 0; l < W; ++l)
            if ((a[l] != 0.f) == any)
                r[l] = any ? 1.f : 0.f;
    }
    Put<W>(Row<W>(f, I.d), r);
}
OWN(OpAny) { AnyAll<W>(f, I, true); }
OWN(OpAll) { AnyAll<W>(f, I, false); }
OWN(OpMulVM) { MulVM<W>(f, I, (int)I.n, I.i0, I.i1); }
RARE(OpMulMV)
{
    const int n = I.n;
    float t[kMaxWidth * W];
    for (int i = 0; i < n; ++i)
        Dot<W>(f, I.a + i * I.i1, 1, I.b, 1, I.i0, t + i * W);
    PutRows<W>(Row<W>(f, I.d), t, n);
}
RARE(OpMulMM)
{
    const int n = I.n, k = I.i0, cols = I.i1;
    float t[kMaxWidth * W];
    for (int r = 0; r < n; ++r)
        for (int col = 0; col < cols; ++col)
            Dot<W>(f, I.a + r * k, 1, I.b + col, cols, k, t + (r * cols + col) * W);
    PutRows<W>(Row<W>(f, I.d), t, n * cols);
}

// The lane's own element: loads index the source, stores the destination.
template <int W>
inline void Indexed(float* f, const Instr& I, int count, bool load)
{
    const int n = I.n;
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
        // One element for every lane that counts (a loop's index): whole
        // rows.
        for (int i = 0; i < n; ++i)
            Put<W>(f + da[0] + i * W, f + aa[0] + i * W);
        return;
    }
    for (int i = 0; i < n; ++i)
        for (int l = 0; l < W; ++l)
            f[da[l] + i * W] = f[aa[l] + i * W];
}
OWN(OpLoadIdx) { Indexed<W>(f, I, count, true); }
OWN(OpStoreIdx) { Indexed<W>(f, I, count, false); }
OWN(OpJmp) { return Flow::Jump; }
OWN(OpJz)
{
    const float* a = Row<W>(f, I.a);
    return Agree(count, [&](int l) { return a[l] == 0.f; }, Flow::Jump, Flow::Next);
}
OWN(OpDiscardIf)
{
    const int n = I.n, sa = Stride(I, FlagScalarA);
    return Agree(
        count,
        [&](int l) {
            for (int i = 0; i < n; ++i)
                if (Row<W>(f, I.a + i * sa)[l] < 0.f)
                    return true;
            return false;
        },
        Flow::Discard, Flow::Next);
}
OWN(OpDiscard) { return Flow::Discard; }
#undef RARE
#undef OWN

// Runs instruction I over the lanes [0, count) of the W lanes of frame f
// (the others compute floats nobody reads). `tab` holds the program's
// index tables. Each operation runs by its row: component-wise ones by
// their function, the others by their own code. Flow::Unknown for an
// instruction that is no operation, or too wide for one (see kMaxWidth).
template <int W>
inline Flow Step(float* f, const Instr& I, const int* tab, int count)
{
    if (!Fits(I))
        return Flow::Unknown;
    const int n = I.n;
    auto stride = [&](int flag) { return Stride(I, flag); };
#define STEP_Unary(OP) Unary<W>(f, I, n, stride(FlagScalarA), Fn<OP>()); return Flow::Next;
#define STEP_Binary(OP) Binary<W>(f, I, n, stride(FlagScalarA), stride(FlagScalarB), Fn<OP>()); return Flow::Next;
#define STEP_Ternary(OP) \
    Ternary<W>(f, I, n, stride(FlagScalarA), stride(FlagScalarB), stride(FlagScalarC), Fn<OP>()); return Flow::Next;
#define STEP_Vector(OP) Own<W>(Tag<OP>(), f, I, tab, count); return Flow::Next;
#define STEP_Copy(OP) STEP_Vector(OP)
#define STEP_Index(OP) STEP_Vector(OP)
#define STEP_Control(OP) return Own<W>(Tag<OP>(), f, I, tab, count);
#define STEP(NAME, KIND, OPERANDS, FLOW, FORMS, SLOT, COST, FN) \
    case Op##NAME:                                              \
        STEP_##KIND(Op##NAME)
    switch (I.op) {
    VELMORA_FX_OPERATIONS(STEP)
    }
#undef STEP
#undef STEP_Control
#undef STEP_Index
#undef STEP_Copy
#undef STEP_Vector
#undef STEP_Ternary
#undef STEP_Binary
#undef STEP_Unary
    return Flow::Unknown;
}

}  // namespace
}  // namespace ops
}  // namespace fx

#endif
