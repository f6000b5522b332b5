// What the device may assume of a compiled program: whether its outputs
// follow from its inputs alone (so that runs can be reused), and whether a
// pixel program merely copies an input to its colour.
#include "fx/ops.h"
#include "fx/program.h"

#include <stdint.h>

#include <algorithm>
#include <vector>

namespace fx {

namespace {

// Calls read(i) for every frame float the instruction may read and write(i)
// for every float it surely writes; returns false for an instruction whose
// effect is not known here (or that may write floats it does not surely
// write, reported through mayWrite).
template <class R, class W, class M>
bool Effects(const Instr& I, const std::vector<int>& tables, R read, W write, M mayWrite)
{
    const int n = I.n;
    const int sa = (I.flags & FlagScalarA) ? 0 : 1;
    const int sb = (I.flags & FlagScalarB) ? 0 : 1;
    const int sc = (I.flags & FlagScalarC) ? 0 : 1;
    auto range = [](int base, int count, auto f) {
        for (int i = 0; i < count; ++i)
            f(base + i);
    };
    auto table = [&](int at, int count) -> const int* {
        if (at < 0 || count < 0 || (size_t)at + (size_t)count > tables.size())
            return nullptr;
        return tables.data() + at;
    };
    const ops::Info* info = ops::InfoOf(I.op);
    // Discards and anything unknown.
    if (!info || info->flow == ops::OpFlow::Discard)
        return false;
    switch (info->operands) {
    case ops::Operands::Lanes: {
        const int arity = info->kind == ops::Kind::Unary ? 1 : info->kind == ops::Kind::Binary ? 2 : 3;
        for (int i = 0; i < n; ++i) {
            read(I.a + i * sa);
            if (arity > 1)
                read(I.b + i * sb);
            if (arity > 2)
                read(I.c + i * sc);
        }
        range(I.d, n, write);
        return true;
    }
    case ops::Operands::Whole:
        range(I.a, n, read);
        range(I.d, n, write);
        return true;
    case ops::Operands::WholePair:
        range(I.a, n, read);
        range(I.b, n, read);
        range(I.d, n, write);
        return true;
    case ops::Operands::Sum:
        range(I.a, n, read);
        write(I.d);
        return true;
    case ops::Operands::SumPair:
        range(I.a, n, read);
        range(I.b, n, read);
        write(I.d);
        return true;
    case ops::Operands::Broadcast:
        read(I.a);
        range(I.d, n, write);
        return true;
    case ops::Operands::Gather: {
        const int* idx = table(I.i0, n);
        if (!idx)
            return false;
        for (int i = 0; i < n; ++i)
            read(I.a + idx[i]);
        range(I.d, n, write);
        return true;
    }
    case ops::Operands::Scatter: {
        const int* idx = table(I.i0, n);
        if (!idx)
            return false;
        range(I.a, n, read);
        for (int i = 0; i < n; ++i)
            write(I.d + idx[i]);
        return true;
    }
    case ops::Operands::Cross:
        range(I.a, 3, read);
        range(I.b, 3, read);
        range(I.d, 3, write);
        return true;
    case ops::Operands::MulVM:
        range(I.a, I.i0, read);
        for (int i = 0; i < I.i0; ++i)
            range(I.b + i * I.i1, n, read);
        range(I.d, n, write);
        return true;
    case ops::Operands::MulMV:
        for (int i = 0; i < n; ++i)
            range(I.a + i * I.i1, I.i0, read);
        range(I.b, I.i0, read);
        range(I.d, n, write);
        return true;
    case ops::Operands::MulMM:
        range(I.a, n * I.i0, read);
        range(I.b, I.i0 * I.i1, read);
        range(I.d, n * I.i1, write);
        return true;
    case ops::Operands::LoadIdx:
        if (I.i1 <= 0)
            return false;
        read(I.b);
        for (int k = 0; k < I.i1; ++k)
            range(I.a + k * I.i0, n, read);
        range(I.d, n, write);
        return true;
    case ops::Operands::StoreIdx:
        if (I.i1 <= 0)
            return false;
        read(I.b);
        range(I.a, n, read);
        for (int k = 0; k < I.i1; ++k)
            range(I.d + k * I.i0, n, mayWrite);
        return true;
    case ops::Operands::Test:
        read(I.a);
        return true;
    case ops::Operands::Condition:
        for (int i = 0; i < n; ++i)
            read(I.a + i * sa);
        return true;
    case ops::Operands::None:
        return true;
    }
    return false;
}

// Floats of the frame as a set of bits.
struct Bits {
    std::vector<uint64_t> w;
    explicit Bits(int n = 0, bool all = false) : w((size_t)(n + 63) / 64, all ? ~0ull : 0ull) {}
    void Set(int i) { w[(size_t)i >> 6] |= 1ull << (i & 63); }
    bool Has(int i) const { return (w[(size_t)i >> 6] >> (i & 63)) & 1; }
    // this &= o; true when that changed anything
    bool Meet(const Bits& o)
    {
        bool changed = false;
        for (size_t k = 0; k < w.size(); ++k) {
            uint64_t v = w[k] & o.w[k];
            changed |= v != w[k];
            w[k] = v;
        }
        return changed;
    }
};

bool SelfContained(const Program& p)
{
    const int size = (int)p.initial.size();
    const int count = (int)p.code.size();
    // Very large programs are simply run every time.
    if (size <= 0 || (int64_t)size * (count + 1) > (int64_t)1 << 24)
        return false;
    if (p.workStart < p.uniformFloats || p.workStart > size)
        return false;

    // Given at the start: uniforms, constants, and the floats of each input
    // the device fills.
    Bits entry(size);
    for (int i = 0; i < p.workStart; ++i)
        entry.Set(i);
    for (const Binding& b : p.inputs)
        for (int i = 0; i < std::min(b.count, 4); ++i) {
            if (b.offset + i < 0 || b.offset + i >= size)
                return false;
            entry.Set(b.offset + i);
        }
    // Read by the device after the run.
    std::vector<int> needed;
    for (const Binding& b : p.outputs) {
        int n = std::min(b.count, 4);
        if (b.semantic == Semantic(SemPosition, 0)) {
            if (b.count < 4)
                return false;
            n = 4;
        }
        for (int i = 0; i < n; ++i)
            needed.push_back(b.offset + i);
    }
    for (int i : needed)
        if (i < 0 || i >= size)
            return false;

    // Floats surely written on every path to each instruction (node `count`
    // is the end of the program).
    std::vector<Bits> in((size_t)count + 1, Bits(size, true));
    std::vector<uint8_t> reached((size_t)count + 1, 0);
    in[0] = entry;
    reached[0] = 1;
    std::vector<int> work = {0};
    bool ok = true;
    while (!work.empty() && ok) {
        const int pc = work.back();
        work.pop_back();
        if (pc == count)
            continue;
        const Instr& I = p.code[(size_t)pc];
        Bits out = in[(size_t)pc];
        ok = Effects(I, p.tables, [](int) {}, [&](int i) {
            if (i < 0 || i >= size)
                ok = false;
            else
                out.Set(i);
        }, [](int) {}) && ok;
        if (!ok)
            break;
        // Effects knows the operation, so it has its row.
        const ops::OpFlow flow = ops::kInfo[I.op].flow;
        int next[2], successors = 0;
        if (flow == ops::OpFlow::Jump) {
            next[successors++] = I.i0;
        } else {
            next[successors++] = pc + 1;
            if (flow == ops::OpFlow::Branch)
                next[successors++] = I.i0;
        }
        for (int k = 0; k < successors; ++k) {
            int s = next[k];
            if (s < 0) {
                ok = false;
                break;
            }
            if (s > count)
                s = count;
            if (!reached[(size_t)s]) {
                reached[(size_t)s] = 1;
                in[(size_t)s] = out;
                work.push_back(s);
            } else if (in[(size_t)s].Meet(out)) {
                work.push_back(s);
            }
        }
    }
    if (!ok)
        return false;

    // Every read must find a float given or written before, writes stay in
    // the program's own floats, and the end leaves the outputs written. A run
    // cut short in a runaway loop is not reused (Run reports it).
    for (int pc = 0; pc < count; ++pc) {
        if (!reached[(size_t)pc])
            continue;
        const Bits& before = in[(size_t)pc];
        const Instr& I = p.code[(size_t)pc];
        auto read = [&](int i) {
            if (i < 0 || i >= size || !before.Has(i))
                ok = false;
        };
        auto write = [&](int i) {
            if (i < p.workStart || i >= size)
                ok = false;
        };
        if (!Effects(I, p.tables, read, write, write) || !ok)
            return false;
    }
    if (reached[(size_t)count])
        for (int i : needed)
            if (!in[(size_t)count].Has(i))
                return false;
    return true;
}

// Follows a program that only moves floats; `source[i]` ends as the frame
// float whose starting value float i holds.
std::vector<int> CopySources(const Program& p)
{
    const Binding* color = nullptr;
    for (const Binding& b : p.outputs)
        if (b.semantic == Semantic(SemColor, 0))
            color = &b;
    const int size = (int)p.initial.size();
    if (!color || size <= 0 || size > (1 << 16))
        return {};
    std::vector<int> source((size_t)size);
    for (int i = 0; i < size; ++i)
        source[(size_t)i] = i;
    std::vector<int> t;
    const int count = (int)p.code.size();
    for (int pc = 0; pc < count;) {
        const Instr& I = p.code[(size_t)pc++];
        const ops::Info* info = ops::InfoOf(I.op);
        if (info && info->flow == ops::OpFlow::Jump) {
            if (I.i0 < pc)
                return {};  // loops are not copies
            pc = I.i0;
            continue;
        }
        if (!info || info->kind != ops::Kind::Copy)
            return {};
        // Read every source first, as the interpreter does.
        t.clear();
        bool ok = true;
        ok = Effects(I, p.tables, [&](int i) {
            if (i < 0 || i >= size)
                ok = false;
            else
                t.push_back(source[(size_t)i]);
        }, [&](int i) {
            if (i < p.workStart || i >= size)
                ok = false;
        }, [](int) {}) && ok;
        if (!ok)
            return {};
        int k = 0;
        const int* idx = I.op == OpScatter ? p.tables.data() + I.i0 : nullptr;
        for (int i = 0; i < I.n; ++i) {
            int d = idx ? I.d + idx[i] : I.d + i;
            source[(size_t)d] = I.op == OpBroadcast ? t[0] : t[(size_t)k++];
        }
    }
    std::vector<int> out;
    for (int i = 0; i < std::min(color->count, 4); ++i) {
        int at = color->offset + i;
        if (at < 0 || at >= size)
            return {};
        out.push_back(source[(size_t)at]);
    }
    return out;
}

// Which of the first four floats of each input any instruction may read;
// all of them where an instruction's reads are not known.
std::vector<uint8_t> InputsRead(const Program& p)
{
    std::vector<uint8_t> mask(p.inputs.size(), 0);
    auto read = [&](int i) {
        for (size_t k = 0; k < p.inputs.size(); ++k) {
            const Binding& b = p.inputs[k];
            if (i >= b.offset && i < b.offset + std::min(b.count, 4))
                mask[k] |= (uint8_t)(1u << (i - b.offset));
        }
    };
    for (const Instr& I : p.code)
        if (!Effects(I, p.tables, read, [](int) {}, [](int) {}))
            return std::vector<uint8_t>(p.inputs.size(), 0xf);
    return mask;
}

uint16_t FormOf(const Instr& I)
{
    const ops::Info* info = ops::InfoOf(I.op);
    if (!info)
        return FormNone;
    const int n = I.n;
    const Form first = info->forms;
    if (first == FormNone)
        return FormNone;
    if (first == FormBinary) {
        if (n < 1 || n > 4 || (I.flags & FlagScalarC))
            return FormNone;
        int k = 0;
        if (I.flags & (FlagScalarA | FlagScalarB)) {
            if ((I.flags & (FlagScalarA | FlagScalarB)) == (FlagScalarA | FlagScalarB))
                return FormNone;
            k = (I.flags & FlagScalarA) ? 1 : 2;
        }
        return (uint16_t)(FormBinary + ((I.op - OpAdd) * 4 + n - 1) * 3 + k);
    }
    // Moves at every width up to four.
    if (first == FormMov || first == FormBroadcast || first == FormGather)
        return n >= 1 && n <= 4 ? (uint16_t)(first + n - 1) : (uint16_t)FormNone;
    if (first == FormDot3)
        return n == 3 ? FormDot3 : n == 4 ? FormDot4 : FormNone;
    if (first == FormMulVM3) {
        if (n == 3 && I.i0 == 3 && I.i1 == 3)
            return FormMulVM3;
        if (n == 4 && I.i0 == 4 && I.i1 == 4)
            return FormMulVM4;
        return FormNone;
    }
    // The three-vector forms (length, normalize).
    return n == 3 ? first : FormNone;
}

}  // namespace

void Program::Analyse()
{
    for (Instr& I : code)
        I.form = FormOf(I);
    selfContained = SelfContained(*this);
    inputsRead = InputsRead(*this);
    colorSources = pixel ? CopySources(*this) : std::vector<int>();
}

}  // namespace fx
