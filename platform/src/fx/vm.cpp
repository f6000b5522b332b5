// The interpreter of compiled effect shaders.
#include "fx/program.h"

#include <math.h>

namespace fx {

namespace {

inline float Sat(float v) { return v < 0.f ? 0.f : (v > 1.f ? 1.f : v); }

inline int Index(float v, int count)
{
    int i = (v > -1e9f && v < 1e9f) ? (int)v : 0;
    return i < 0 ? 0 : (i >= count ? count - 1 : i);
}

// The specialised forms: the general loops at a fixed width, summing in the
// same order, so that each gives the same floats; fully unrolled.
template <int N, int SA, int SB, class F>
inline void Binary(float* d, const float* a, const float* b, F f)
{
#pragma GCC unroll 4
    for (int i = 0; i < N; ++i)
        d[i] = f(a[i * SA], b[i * SB]);
}

template <int N>
inline void Gather(float* d, const float* a, const int* idx)
{
    float t[N];
#pragma GCC unroll 4
    for (int i = 0; i < N; ++i)
        t[i] = a[idx[i]];
#pragma GCC unroll 4
    for (int i = 0; i < N; ++i)
        d[i] = t[i];
}

template <int N>
inline void MulVM(float* d, const float* a, const float* b)
{
    float t[N];
#pragma GCC unroll 4
    for (int j = 0; j < N; ++j)
        t[j] = 0.f;
#pragma GCC unroll 4
    for (int i = 0; i < N; ++i) {
        const float x = a[i];
#pragma GCC unroll 4
        for (int j = 0; j < N; ++j)
            t[j] += x * b[i * N + j];
    }
#pragma GCC unroll 4
    for (int j = 0; j < N; ++j)
        d[j] = t[j];
}

template <int N>
inline float Dot(const float* a, const float* b)
{
    float s = 0.f;
#pragma GCC unroll 4
    for (int i = 0; i < N; ++i)
        s += a[i] * b[i];
    return s;
}

struct AddF {
    float operator()(float x, float y) const { return x + y; }
};
struct SubF {
    float operator()(float x, float y) const { return x - y; }
};
struct MulF {
    float operator()(float x, float y) const { return x * y; }
};
struct DivF {
    float operator()(float x, float y) const { return x / y; }
};
struct MinF {
    float operator()(float x, float y) const { return x < y ? x : y; }
};
struct MaxF {
    float operator()(float x, float y) const { return x > y ? x : y; }
};

}  // namespace

bool Program::Run(float* f, bool* cutShort) const
{
    const Instr* code = this->code.data();
    const int end = (int)this->code.size();
    const int* tab = tables.data();
    int backJumps = 0;
    for (int pc = 0; pc < end;) {
        const Instr& I = code[pc++];
        float* d = f + I.d;
        const float* a = f + I.a;
        const float* b = f + I.b;
#define FORM_BINARY_N(OP, F, N)                                              \
    case FormBinary + ((OP - OpAdd) * 4 + N - 1) * 3 + 0:                   \
        Binary<N, 1, 1>(d, a, b, F());                                       \
        continue;                                                            \
    case FormBinary + ((OP - OpAdd) * 4 + N - 1) * 3 + 1:                   \
        Binary<N, 0, 1>(d, a, b, F());                                       \
        continue;                                                            \
    case FormBinary + ((OP - OpAdd) * 4 + N - 1) * 3 + 2:                   \
        Binary<N, 1, 0>(d, a, b, F());                                       \
        continue;
#define FORM_BINARY(OP, F) FORM_BINARY_N(OP, F, 1) FORM_BINARY_N(OP, F, 2) FORM_BINARY_N(OP, F, 3) FORM_BINARY_N(OP, F, 4)
        switch (I.form) {
        case FormMov + 0:
            d[0] = a[0];
            continue;
        case FormMov + 1:
            d[0] = a[0], d[1] = a[1];
            continue;
        case FormMov + 2:
            d[0] = a[0], d[1] = a[1], d[2] = a[2];
            continue;
        case FormMov + 3:
            d[0] = a[0], d[1] = a[1], d[2] = a[2], d[3] = a[3];
            continue;
        case FormBroadcast + 0:
        case FormBroadcast + 1:
        case FormBroadcast + 2:
        case FormBroadcast + 3: {
            const float x = a[0];
            for (int i = 0; i <= I.form - FormBroadcast; ++i)
                d[i] = x;
            continue;
        }
        case FormGather + 0:
            Gather<1>(d, a, tab + I.i0);
            continue;
        case FormGather + 1:
            Gather<2>(d, a, tab + I.i0);
            continue;
        case FormGather + 2:
            Gather<3>(d, a, tab + I.i0);
            continue;
        case FormGather + 3:
            Gather<4>(d, a, tab + I.i0);
            continue;
        case FormDot3:
            d[0] = Dot<3>(a, b);
            continue;
        case FormDot4:
            d[0] = Dot<4>(a, b);
            continue;
        case FormLength3:
            d[0] = sqrtf(Dot<3>(a, a));
            continue;
        case FormNormalize3: {
            const float s = Dot<3>(a, a);
            const float k = s > 0.f ? 1.f / sqrtf(s) : 0.f;
            d[0] = a[0] * k, d[1] = a[1] * k, d[2] = a[2] * k;
            continue;
        }
        case FormMulVM3:
            MulVM<3>(d, a, b);
            continue;
        case FormMulVM4:
            MulVM<4>(d, a, b);
            continue;
        FORM_BINARY(OpAdd, AddF)
        FORM_BINARY(OpSub, SubF)
        FORM_BINARY(OpMul, MulF)
        FORM_BINARY(OpDiv, DivF)
        FORM_BINARY(OpMin, MinF)
        FORM_BINARY(OpMax, MaxF)
        default:
            break;
        }
#undef FORM_BINARY
#undef FORM_BINARY_N
        const float* c = f + I.c;
        const int n = I.n;
        const int sa = (I.flags & FlagScalarA) ? 0 : 1;
        const int sb = (I.flags & FlagScalarB) ? 0 : 1;
        const int sc = (I.flags & FlagScalarC) ? 0 : 1;
        float t[16];
// Component-wise operations read component i before writing it, so an
// operand may be the destination itself; the code generator never makes
// operands that overlap otherwise.
#define UNARY(expr)                     \
    for (int i = 0; i < n; ++i) {       \
        float x = a[i * sa];            \
        d[i] = (expr);                  \
    }                                   \
    break;
#define BINARY(expr)                    \
    for (int i = 0; i < n; ++i) {       \
        float x = a[i * sa], y = b[i * sb]; \
        d[i] = (expr);                  \
    }                                   \
    break;
#define TERNARY(expr)                   \
    for (int i = 0; i < n; ++i) {       \
        float x = a[i * sa], y = b[i * sb], z = c[i * sc]; \
        d[i] = (expr);                  \
    }                                   \
    break;
        switch (I.op) {
        case OpMov:
            for (int i = 0; i < n; ++i)
                d[i] = a[i];
            break;
        case OpBroadcast: {
            float x = a[0];
            for (int i = 0; i < n; ++i)
                d[i] = x;
            break;
        }
        case OpGather: {
            const int* idx = tab + I.i0;
            for (int i = 0; i < n; ++i)
                t[i] = a[idx[i]];
            for (int i = 0; i < n; ++i)
                d[i] = t[i];
            break;
        }
        case OpScatter: {
            const int* idx = tab + I.i0;
            for (int i = 0; i < n; ++i)
                t[i] = a[i];
            for (int i = 0; i < n; ++i)
                d[idx[i]] = t[i];
            break;
        }
        case OpAdd: BINARY(x + y)
        case OpSub: BINARY(x - y)
        case OpMul: BINARY(x * y)
        case OpDiv: BINARY(x / y)
        case OpMod: BINARY(fmodf(x, y))
        case OpMin: BINARY(x < y ? x : y)
        case OpMax: BINARY(x > y ? x : y)
        case OpPow: BINARY(powf(x, y))
        case OpStep: BINARY(y >= x ? 1.f : 0.f)
        case OpAtan2: BINARY(atan2f(x, y))
        case OpLt: BINARY(x < y ? 1.f : 0.f)
        case OpLe: BINARY(x <= y ? 1.f : 0.f)
        case OpGt: BINARY(x > y ? 1.f : 0.f)
        case OpGe: BINARY(x >= y ? 1.f : 0.f)
        case OpEq: BINARY(x == y ? 1.f : 0.f)
        case OpNe: BINARY(x != y ? 1.f : 0.f)
        case OpAnd: BINARY((x != 0.f && y != 0.f) ? 1.f : 0.f)
        case OpOr: BINARY((x != 0.f || y != 0.f) ? 1.f : 0.f)
        case OpNeg: UNARY(-x)
        case OpNot: UNARY(x == 0.f ? 1.f : 0.f)
        case OpAbs: UNARY(fabsf(x))
        case OpSqrt: UNARY(sqrtf(x))
        case OpRsqrt: UNARY(1.f / sqrtf(x))
        case OpExp: UNARY(expf(x))
        case OpExp2: UNARY(exp2f(x))
        case OpLog: UNARY(logf(x))
        case OpLog2: UNARY(log2f(x))
        case OpLog10: UNARY(log10f(x))
        case OpSin: UNARY(sinf(x))
        case OpCos: UNARY(cosf(x))
        case OpTan: UNARY(tanf(x))
        case OpAsin: UNARY(asinf(x))
        case OpAcos: UNARY(acosf(x))
        case OpAtan: UNARY(atanf(x))
        case OpFrac: UNARY(x - floorf(x))
        case OpFloor: UNARY(floorf(x))
        case OpCeil: UNARY(ceilf(x))
        case OpRound: UNARY(roundf(x))
        case OpTrunc: UNARY(truncf(x))
        case OpSaturate: UNARY(Sat(x))
        case OpSign: UNARY(x > 0.f ? 1.f : (x < 0.f ? -1.f : 0.f))
        case OpClamp: TERNARY(x < y ? y : (x > z ? z : x))
        case OpLerp: TERNARY(x + (y - x) * z)
        case OpSmoothstep:
            for (int i = 0; i < n; ++i) {
                float x = a[i * sa], y = b[i * sb], z = c[i * sc];
                float k = y == x ? (z >= y ? 1.f : 0.f) : Sat((z - x) / (y - x));
                d[i] = k * k * (3.f - 2.f * k);
            }
            break;
        case OpSelect: TERNARY(x != 0.f ? y : z)
        case OpDot: {
            float s = 0.f;
            for (int i = 0; i < n; ++i)
                s += a[i] * b[i];
            d[0] = s;
            break;
        }
        case OpCross: {
            float x = a[1] * b[2] - a[2] * b[1];
            float y = a[2] * b[0] - a[0] * b[2];
            float z = a[0] * b[1] - a[1] * b[0];
            d[0] = x, d[1] = y, d[2] = z;
            break;
        }
        case OpLength: {
            float s = 0.f;
            for (int i = 0; i < n; ++i)
                s += a[i] * a[i];
            d[0] = sqrtf(s);
            break;
        }
        case OpDistance: {
            float s = 0.f;
            for (int i = 0; i < n; ++i)
                s += (a[i] - b[i]) * (a[i] - b[i]);
            d[0] = sqrtf(s);
            break;
        }
        case OpNormalize: {
            float s = 0.f;
            for (int i = 0; i < n; ++i)
                s += a[i] * a[i];
            // A zero vector stays zero rather than turning into NaNs.
            float k = s > 0.f ? 1.f / sqrtf(s) : 0.f;
            for (int i = 0; i < n; ++i)
                d[i] = a[i] * k;
            break;
        }
        case OpReflect: {
            float s = 0.f;
            for (int i = 0; i < n; ++i)
                s += a[i] * b[i];
            for (int i = 0; i < n; ++i)
                t[i] = a[i] - 2.f * s * b[i];
            for (int i = 0; i < n; ++i)
                d[i] = t[i];
            break;
        }
        case OpAny: {
            float r = 0.f;
            for (int i = 0; i < n; ++i)
                if (a[i] != 0.f)
                    r = 1.f;
            d[0] = r;
            break;
        }
        case OpAll: {
            float r = 1.f;
            for (int i = 0; i < n; ++i)
                if (a[i] == 0.f)
                    r = 0.f;
            d[0] = r;
            break;
        }
        case OpMulVM:
            for (int j = 0; j < n; ++j) {
                float s = 0.f;
                for (int i = 0; i < I.i0; ++i)
                    s += a[i] * b[i * I.i1 + j];
                t[j] = s;
            }
            for (int j = 0; j < n; ++j)
                d[j] = t[j];
            break;
        case OpMulMV:
            for (int i = 0; i < n; ++i) {
                float s = 0.f;
                for (int j = 0; j < I.i0; ++j)
                    s += a[i * I.i1 + j] * b[j];
                t[i] = s;
            }
            for (int i = 0; i < n; ++i)
                d[i] = t[i];
            break;
        case OpMulMM: {
            const int k = I.i0, cols = I.i1;
            for (int r = 0; r < n; ++r)
                for (int col = 0; col < cols; ++col) {
                    float s = 0.f;
                    for (int i = 0; i < k; ++i)
                        s += a[r * k + i] * b[i * cols + col];
                    t[r * cols + col] = s;
                }
            for (int i = 0; i < n * cols; ++i)
                d[i] = t[i];
            break;
        }
        case OpLoadIdx: {
            const float* src = a + Index(b[0], I.i1) * I.i0;
            for (int i = 0; i < n; ++i)
                d[i] = src[i];
            break;
        }
        case OpStoreIdx: {
            float* dst = d + Index(b[0], I.i1) * I.i0;
            for (int i = 0; i < n; ++i)
                dst[i] = a[i];
            break;
        }
        case OpJmp:
            // Runaway loops end the run rather than the program.
            if (I.i0 < pc && ++backJumps > kMaxBackJumps) {
                if (cutShort)
                    *cutShort = true;
                return true;
            }
            pc = I.i0;
            break;
        case OpJz:
            if (a[0] == 0.f)
                pc = I.i0;
            break;
        case OpDiscardIf:
            for (int i = 0; i < n; ++i)
                if (a[i * sa] < 0.f)
                    return false;
            break;
        case OpDiscard:
            return false;
        default:
            break;
        }
#undef UNARY
#undef BINARY
#undef TERNARY
    }
    return true;
}

}  // namespace fx
