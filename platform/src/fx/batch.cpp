// The interpreter of compiled effect programs over several vertices at once.
// Each instruction loops over the lanes with the expression Program::Run
// uses, so every lane gets the same floats; plain loops over a fixed lane
// count into local arrays, which the compiler turns into SSE2 (or any other
// target's vectors) without alias checks. Floats are never contracted into
// fused multiply-adds here, as in Run, and square roots go without errno
// (see platform/CMakeLists.txt): the same correctly rounded floats.
#include "fx/program.h"

#include <math.h>
#include <string.h>

namespace fx {

namespace {

const int W = Batch::kLanes;

inline float Sat(float v) { return v < 0.f ? 0.f : (v > 1.f ? 1.f : v); }

inline int Index(float v, int count)
{
    int i = (v > -1e9f && v < 1e9f) ? (int)v : 0;
    return i < 0 ? 0 : (i >= count ? count - 1 : i);
}

// Rows of the frame are the same or apart; a row never moves onto itself.
inline void Put(float* d, const float* t)
{
    if (d != t)
        memcpy(d, t, sizeof(float) * W);
}

// Component-wise operations: component i of every lane is read before any
// lane's component i is written, as Run reads before it writes.
template <class F>
void Unary(float* f, const Instr& I, F fn)
{
    const int sa = (I.flags & FlagScalarA) ? 0 : W;
    for (int i = 0; i < I.n; ++i) {
        const float* a = f + I.a * W + i * sa;
        float t[W];
        for (int l = 0; l < W; ++l)
            t[l] = fn(a[l]);
        Put(f + (I.d + i) * W, t);
    }
}

template <class F>
void Binary(float* f, const Instr& I, F fn)
{
    const int sa = (I.flags & FlagScalarA) ? 0 : W;
    const int sb = (I.flags & FlagScalarB) ? 0 : W;
    for (int i = 0; i < I.n; ++i) {
        const float* a = f + I.a * W + i * sa;
        const float* b = f + I.b * W + i * sb;
        float t[W];
        for (int l = 0; l < W; ++l)
            t[l] = fn(a[l], b[l]);
        Put(f + (I.d + i) * W, t);
    }
}

template <class F>
void Ternary(float* f, const Instr& I, F fn)
{
    const int sa = (I.flags & FlagScalarA) ? 0 : W;
    const int sb = (I.flags & FlagScalarB) ? 0 : W;
    const int sc = (I.flags & FlagScalarC) ? 0 : W;
    for (int i = 0; i < I.n; ++i) {
        const float* a = f + I.a * W + i * sa;
        const float* b = f + I.b * W + i * sb;
        const float* c = f + I.c * W + i * sc;
        float t[W];
        for (int l = 0; l < W; ++l)
            t[l] = fn(a[l], b[l], c[l]);
        Put(f + (I.d + i) * W, t);
    }
}

// s[l] = sum over i < n of a_i[l] * b_i[l], summed in Run's order; a and b
// step by their own strides (in floats of the program).
inline void Dot(const float* f, int a, int as, int b, int bs, int n, float* s)
{
    for (int l = 0; l < W; ++l)
        s[l] = 0.f;
    for (int i = 0; i < n; ++i) {
        const float* x = f + (a + i * as) * W;
        const float* y = f + (b + i * bs) * W;
        for (int l = 0; l < W; ++l)
            s[l] += x[l] * y[l];
    }
}

// Moves n floats through a buffer (sources read before any is written).
void Gather(float* f, int d, const int* dIdx, int a, const int* aIdx, int n)
{
    float t[16 * W];
    for (int i = 0; i < n; ++i)
        memcpy(t + i * W, f + (a + (aIdx ? aIdx[i] : i)) * W, sizeof(float) * W);
    for (int i = 0; i < n; ++i)
        Put(f + (d + (dIdx ? dIdx[i] : i)) * W, t + i * W);
}

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

bool Batch::Run(int count)
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
        const int n = I.n;
        // Run keeps at most 16 floats aside; a larger instruction is not
        // the code generator's.
        if (n > 16 || (I.op == OpMulMM && n * I.i1 > 16))
            return false;
        switch (I.op) {
        case OpMov:
            // Float by float, as Run copies.
            for (int i = 0; i < n; ++i)
                Put(f + (I.d + i) * W, f + (I.a + i) * W);
            break;
        case OpBroadcast: {
            float t[W];
            memcpy(t, f + I.a * W, sizeof t);
            for (int i = 0; i < n; ++i)
                Put(f + (I.d + i) * W, t);
            break;
        }
        case OpGather:
            Gather(f, I.d, nullptr, I.a, tab + I.i0, n);
            break;
        case OpScatter:
            Gather(f, I.d, tab + I.i0, I.a, nullptr, n);
            break;
        case OpAdd: Binary(f, I, [](float x, float y) { return x + y; }); break;
        case OpSub: Binary(f, I, [](float x, float y) { return x - y; }); break;
        case OpMul: Binary(f, I, [](float x, float y) { return x * y; }); break;
        case OpDiv: Binary(f, I, [](float x, float y) { return x / y; }); break;
        case OpMod: Binary(f, I, [](float x, float y) { return fmodf(x, y); }); break;
        case OpMin: Binary(f, I, [](float x, float y) { return x < y ? x : y; }); break;
        case OpMax: Binary(f, I, [](float x, float y) { return x > y ? x : y; }); break;
        case OpPow: Binary(f, I, [](float x, float y) { return powf(x, y); }); break;
        case OpStep: Binary(f, I, [](float x, float y) { return y >= x ? 1.f : 0.f; }); break;
        case OpAtan2: Binary(f, I, [](float x, float y) { return atan2f(x, y); }); break;
        case OpLt: Binary(f, I, [](float x, float y) { return x < y ? 1.f : 0.f; }); break;
        case OpLe: Binary(f, I, [](float x, float y) { return x <= y ? 1.f : 0.f; }); break;
        case OpGt: Binary(f, I, [](float x, float y) { return x > y ? 1.f : 0.f; }); break;
        case OpGe: Binary(f, I, [](float x, float y) { return x >= y ? 1.f : 0.f; }); break;
        case OpEq: Binary(f, I, [](float x, float y) { return x == y ? 1.f : 0.f; }); break;
        case OpNe: Binary(f, I, [](float x, float y) { return x != y ? 1.f : 0.f; }); break;
        case OpAnd: Binary(f, I, [](float x, float y) { return (x != 0.f && y != 0.f) ? 1.f : 0.f; }); break;
        case OpOr: Binary(f, I, [](float x, float y) { return (x != 0.f || y != 0.f) ? 1.f : 0.f; }); break;
        case OpNeg: Unary(f, I, [](float x) { return -x; }); break;
        case OpNot: Unary(f, I, [](float x) { return x == 0.f ? 1.f : 0.f; }); break;
        case OpAbs: Unary(f, I, [](float x) { return fabsf(x); }); break;
        case OpSqrt: Unary(f, I, [](float x) { return sqrtf(x); }); break;
        case OpRsqrt: Unary(f, I, [](float x) { return 1.f / sqrtf(x); }); break;
        case OpExp: Unary(f, I, [](float x) { return expf(x); }); break;
        case OpExp2: Unary(f, I, [](float x) { return exp2f(x); }); break;
        case OpLog: Unary(f, I, [](float x) { return logf(x); }); break;
        case OpLog2: Unary(f, I, [](float x) { return log2f(x); }); break;
        case OpLog10: Unary(f, I, [](float x) { return log10f(x); }); break;
        case OpSin: Unary(f, I, [](float x) { return sinf(x); }); break;
        case OpCos: Unary(f, I, [](float x) { return cosf(x); }); break;
        case OpTan: Unary(f, I, [](float x) { return tanf(x); }); break;
        case OpAsin: Unary(f, I, [](float x) { return asinf(x); }); break;
        case OpAcos: Unary(f, I, [](float x) { return acosf(x); }); break;
        case OpAtan: Unary(f, I, [](float x) { return atanf(x); }); break;
        case OpFrac: Unary(f, I, [](float x) { return x - floorf(x); }); break;
        case OpFloor: Unary(f, I, [](float x) { return floorf(x); }); break;
        case OpCeil: Unary(f, I, [](float x) { return ceilf(x); }); break;
        case OpRound: Unary(f, I, [](float x) { return roundf(x); }); break;
        case OpTrunc: Unary(f, I, [](float x) { return truncf(x); }); break;
        case OpSaturate: Unary(f, I, [](float x) { return Sat(x); }); break;
        case OpSign: Unary(f, I, [](float x) { return x > 0.f ? 1.f : (x < 0.f ? -1.f : 0.f); }); break;
        case OpClamp: Ternary(f, I, [](float x, float y, float z) { return x < y ? y : (x > z ? z : x); }); break;
        case OpLerp: Ternary(f, I, [](float x, float y, float z) { return x + (y - x) * z; }); break;
        case OpSmoothstep:
            Ternary(f, I, [](float x, float y, float z) {
                float k = y == x ? (z >= y ? 1.f : 0.f) : Sat((z - x) / (y - x));
                return k * k * (3.f - 2.f * k);
            });
            break;
        case OpSelect: Ternary(f, I, [](float x, float y, float z) { return x != 0.f ? y : z; }); break;
        case OpDot: {
            float s[W];
            Dot(f, I.a, 1, I.b, 1, n, s);
            Put(f + I.d * W, s);
            break;
        }
        case OpCross: {
            const float *a = f + I.a * W, *b = f + I.b * W;
            float t[3 * W];
            for (int l = 0; l < W; ++l) {
                t[l] = a[W + l] * b[2 * W + l] - a[2 * W + l] * b[W + l];
                t[W + l] = a[2 * W + l] * b[l] - a[l] * b[2 * W + l];
                t[2 * W + l] = a[l] * b[W + l] - a[W + l] * b[l];
            }
            memcpy(f + I.d * W, t, sizeof t);
            break;
        }
        case OpLength: {
            float s[W];
            Dot(f, I.a, 1, I.a, 1, n, s);
            for (int l = 0; l < W; ++l)
                s[l] = sqrtf(s[l]);
            Put(f + I.d * W, s);
            break;
        }
        case OpDistance: {
            float s[W] = {};
            for (int i = 0; i < n; ++i) {
                const float *a = f + (I.a + i) * W, *b = f + (I.b + i) * W;
                for (int l = 0; l < W; ++l)
                    s[l] += (a[l] - b[l]) * (a[l] - b[l]);
            }
            for (int l = 0; l < W; ++l)
                s[l] = sqrtf(s[l]);
            Put(f + I.d * W, s);
            break;
        }
        case OpNormalize: {
            float k[W];
            Dot(f, I.a, 1, I.a, 1, n, k);
            // A zero vector stays zero rather than turning into NaNs.
            for (int l = 0; l < W; ++l)
                k[l] = k[l] > 0.f ? 1.f / sqrtf(k[l]) : 0.f;
            for (int i = 0; i < n; ++i) {
                const float* a = f + (I.a + i) * W;
                float t[W];
                for (int l = 0; l < W; ++l)
                    t[l] = a[l] * k[l];
                Put(f + (I.d + i) * W, t);
            }
            break;
        }
        case OpReflect: {
            float s[W], t[16 * W];
            Dot(f, I.a, 1, I.b, 1, n, s);
            for (int i = 0; i < n; ++i) {
                const float *a = f + (I.a + i) * W, *b = f + (I.b + i) * W;
                for (int l = 0; l < W; ++l)
                    t[i * W + l] = a[l] - 2.f * s[l] * b[l];
            }
            memcpy(f + I.d * W, t, sizeof(float) * W * (size_t)n);
            break;
        }
        case OpAny:
        case OpAll: {
            const bool any = I.op == OpAny;
            float r[W];
            for (int l = 0; l < W; ++l)
                r[l] = any ? 0.f : 1.f;
            for (int i = 0; i < n; ++i) {
                const float* a = f + (I.a + i) * W;
                for (int l = 0; l < W; ++l)
                    if ((a[l] != 0.f) == any)
                        r[l] = any ? 1.f : 0.f;
            }
            Put(f + I.d * W, r);
            break;
        }
        case OpMulVM: {
            float t[16 * W];
            for (int j = 0; j < n; ++j)
                Dot(f, I.a, 1, I.b + j, I.i1, I.i0, t + j * W);
            memcpy(f + I.d * W, t, sizeof(float) * W * (size_t)n);
            break;
        }
        case OpMulMV: {
            float t[16 * W];
            for (int i = 0; i < n; ++i)
                Dot(f, I.a + i * I.i1, 1, I.b, 1, I.i0, t + i * W);
            memcpy(f + I.d * W, t, sizeof(float) * W * (size_t)n);
            break;
        }
        case OpMulMM: {
            const int k = I.i0, cols = I.i1;
            float t[16 * W];
            for (int r = 0; r < n; ++r)
                for (int col = 0; col < cols; ++col)
                    Dot(f, I.a + r * k, 1, I.b + col, cols, k, t + (r * cols + col) * W);
            memcpy(f + I.d * W, t, sizeof(float) * W * (size_t)(n * cols));
            break;
        }
        case OpLoadIdx:
        case OpStoreIdx: {
            // The lane's own element: loads index the source, stores the
            // destination.
            const bool load = I.op == OpLoadIdx;
            const float* b = f + I.b * W;
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
                    Put(f + da[0] + i * W, f + aa[0] + i * W);
                break;
            }
            for (int i = 0; i < n; ++i)
                for (int l = 0; l < W; ++l)
                    f[da[l] + i * W] = f[aa[l] + i * W];
            break;
        }
        case OpJmp:
            if (I.i0 < pc && ++backJumps > kMaxBackJumps)
                return false;
            pc = I.i0;
            break;
        case OpJz: {
            // All lanes take the branch or none does.
            const float* a = f + I.a * W;
            const bool zero = a[0] == 0.f;
            for (int l = 1; l < count; ++l)
                if ((a[l] == 0.f) != zero)
                    return false;
            if (zero)
                pc = I.i0;
            break;
        }
        default:
            return false;  // discards: never in a self-contained program
        }
    }
    return true;
}

}  // namespace fx
