// Code generation of the effect compiler: every call of a pass's entry point
// inlined into one flat register program.
#include "fx/compiler_internal.h"
#include "fx/ops.h"

#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

namespace fx {
namespace {

// A structure member's stored type as the syntax tree's type.
Type MemberType(const TypeDesc& d)
{
    Type t;
    t.base = d.base;
    t.shape = d.shape;
    t.rows = d.rows;
    t.cols = d.cols;
    t.arrayLen = d.arrayLen;
    t.structId = d.structId;
    return t;
}

const int kConstTag = 1 << 28;
const int kWorkTag = 2 << 28;
const int kTagMask = 3 << 28;

struct Val {
    Type t;
    int off = -1;
};

struct Var {
    Type t;
    int off;
    bool readOnly;
};

struct Ref {
    Type t;
    int base = -1;
    int dyn = -1;  // address of a dynamic index, -1 when none
    int stride = 0, count = 0;
    std::vector<int> comps;  // swizzle, empty: the whole value
    Type full;               // the value the swizzle reads from
    bool lvalue = true;
    bool readOnly = false;
};

int ParseSemantic(const std::string& s)
{
    std::string up;
    for (char c : s)
        up += (char)toupper((unsigned char)c);
    size_t end = up.size();
    while (end > 0 && isdigit((unsigned char)up[end - 1]))
        --end;
    int index = end < up.size() ? atoi(up.c_str() + end) : 0;
    std::string name = up.substr(0, end);
    if (index > 15)
        index = 15;
    static const struct {
        const char* name;
        int kind;
    } kNames[] = {{"POSITION", SemPosition}, {"SV_POSITION", SemPosition}, {"POSITIONT", SemPosition},
                  {"NORMAL", SemNormal},     {"COLOR", SemColor},          {"SV_TARGET", SemColor},
                  {"TEXCOORD", SemTexcoord}, {"PSIZE", SemPsize},          {"DEPTH", SemDepth},
                  {"FOG", SemFog},           {"TANGENT", SemTangent},      {"BINORMAL", SemBinormal},
                  {"BLENDWEIGHT", SemBlendWeight}, {"BLENDINDICES", SemBlendIndices}};
    for (const auto& n : kNames)
        if (name == n.name)
            return Semantic(n.kind, index);
    return Semantic(SemOther, index);
}

class Generator {
public:
    Generator(CompiledEffect* fx, const ParsedEffect* parser) : fx_(fx), parser_(parser) {}

    void SetGlobals(const std::map<std::string, Var>& globals, const std::map<std::string, long long>& registers)
    {
        globals_ = globals;
        registers_ = registers;
    }

    // The program that gives the globals their initial values.
    Program GlobalInitialiser(const std::vector<GlobalAst>& globals)
    {
        Reset();
        allowGlobalWrites_ = true;
        for (const GlobalAst& g : globals) {
            if (!g.decl.init)
                continue;
            Ref r;
            r.t = g.decl.type;
            r.base = g.offset;
            int mark = top_;
            if (g.decl.init->kind == EK::List)
                InitList(g.decl.init.get(), g.decl.type, g.offset);
            else
                Store(r, Expression(g.decl.init.get()), g.decl.init.get());
            top_ = mark;
        }
        allowGlobalWrites_ = false;
        return Finish();
    }

    Program Entry(const ShaderRef& ref, bool pixel)
    {
        Reset();
        boundedRun_ = true;
        const Function* f = nullptr;
        for (const Function& fn : parser_->functions)
            if (fn.name == ref.function) {
                f = &fn;
                break;
            }
        if (!f)
            Fail(ref.line, ref.col, "entrypoint not found: '" + ref.function + "'");
        bool isVs = ref.profile.compare(0, 2, "vs") == 0;
        if (isVs == pixel)
            Fail(ref.line, ref.col, "profile '" + ref.profile + "' does not fit this shader assignment");
        Program prog;
        scopes_.push_back({});
        size_t arg = 0;
        std::vector<int> slots;
        for (const Param& p : f->params) {
            int slot = Alloc(Floats(p.type));
            slots.push_back(slot);
            Declare(p.name, p.type, slot, f->line, f->col);
            bool uniform = p.uniform || (p.semantic.empty() && !p.type.IsStruct() && p.in && !p.out);
            if (uniform) {
                if (arg < ref.args.size()) {
                    int mark = top_;
                    Ref r;
                    r.t = p.type;
                    r.base = slot;
                    Store(r, Expression(ref.args[arg].get()), ref.args[arg].get());
                    top_ = mark;
                    ++arg;
                }
                continue;
            }
            if (p.in)
                Bind(&inputs_, p.type, p.semantic, slot, p.name, f);
            if (p.out)
                Bind(&outputs_, p.type, p.semantic, slot, p.name, f);
        }
        if (arg < ref.args.size())
            Fail(ref.line, ref.col, "too many arguments for entrypoint '" + ref.function + "'");
        Val ret;
        ret.t = f->ret;
        if (f->ret.base != Base::Void) {
            ret.off = Alloc(Floats(f->ret));
            MarkNamed(ret.off, Floats(f->ret));
            Bind(&outputs_, f->ret, f->semantic, ret.off, f->name, f);
        }
        fns_.push_back({ret, {}});
        Statement(f->body.get());
        for (size_t j : fns_.back().returns)
            code_[j].i0 = (int)code_.size();
        fns_.pop_back();
        scopes_.pop_back();
        int wanted = pixel ? Semantic(SemColor, 0) : Semantic(SemPosition, 0);
        bool found = false;
        for (const Binding& b : outputs_)
            found |= b.semantic == wanted;
        if (!found)
            Fail(f->line, f->col,
                 std::string("'") + f->name + "': " + (pixel ? "pixel shader must write COLOR0" :
                                                                "vertex shader must write POSITION"));
        long long registers = 0;
        for (const std::string& name : read_)
            registers += registers_[name];
        const int available = ConstantRegisters(pixel, ref.major);
        if (registers > available)
            Fail(ref.line, ref.col,
                 "'" + f->name + "': the uniforms it reads take " + std::to_string(registers) +
                     " constant registers, more than the " + std::to_string(available) + " of " + ref.profile);
        CheckSlots(ref, *f, pixel);
        prog = Finish();
        prog.pixel = pixel;
        prog.major = ref.major;
        prog.minor = ref.minor;
        prog.Analyse();
        return prog;
    }

    // The slots a run of the last entry compiled takes, every loop at its bound.
    double RunSlots() const { return unrolledSlots_; }

private:
    struct FnContext {
        Val ret;
        std::vector<size_t> returns;
    };
    struct LoopContext {
        std::vector<size_t> breaks, continues;
    };
    struct Scope {
        std::map<std::string, Var> vars;
        bool barrier = false;  // a function's own scope: the caller's locals are not seen
    };

    CompiledEffect* fx_;
    const ParsedEffect* parser_;
    std::map<std::string, Var> globals_;
    std::vector<Instr> code_;
    std::vector<int> tables_;
    std::vector<float> consts_;
    std::vector<Binding> inputs_, outputs_;
    int top_ = 0, maxTop_ = 0;
    std::vector<Scope> scopes_;
    std::vector<FnContext> fns_;
    std::vector<LoopContext> loops_;
    int depth_ = 0;
    int nesting_ = 0;
    int work_ = 0;
    bool allowGlobalWrites_ = false;

    // Constant registers of each global, and the globals the program reads.
    std::map<std::string, long long> registers_;
    std::set<std::string> read_;
    // A shader's run is bounded: the times the code being emitted may run in
    // one run, the instructions one run may take, the outermost loop.
    bool boundedRun_ = false;
    double runs_ = 1.0, runLength_ = 0.0;
    const Stmt* outerLoop_ = nullptr;
    // The shader's instruction slots as its code stands, and with every loop
    // unrolled (jumps then take none), for the profiles' slot limits.
    long long slots_ = 0;
    double unrolledSlots_ = 0.0;
    // The texture slots among them (texkill: discards).
    long long textureSlots_ = 0;
    double unrolledTextureSlots_ = 0.0;

    // Direct3D 9's instruction slots per profile. Profiles without flow
    // control (vs_1_1, ps_1_x, ps_2_0) take every loop unrolled.
    struct SlotLimit {
        bool loops;
        int arithmetic;  // 0: one limit for all slots, `total`
        int total;
    };
    static SlotLimit SlotLimitOf(bool pixel, int major, int minor)
    {
        if (!pixel)
            return major == 1 ? SlotLimit{false, 0, 128} : major == 2 ? SlotLimit{true, 0, 256} : SlotLimit{true, 0, 512};
        if (major == 1)
            return minor < 4 ? SlotLimit{false, 8, 12} : SlotLimit{false, 16, 28};  // ps_1_4: two phases
        if (major == 2)
            return minor == 0 ? SlotLimit{false, 64, 96} : SlotLimit{true, 0, 96};
        return SlotLimit{true, 0, 512};
    }

    void CheckSlots(const ShaderRef& ref, const Function& f, bool pixel) const
    {
        const SlotLimit limit = SlotLimitOf(pixel, ref.major, ref.minor);
        const double all = limit.loops ? (double)slots_ : unrolledSlots_;
        const double texture = limit.loops ? (double)textureSlots_ : unrolledTextureSlots_;
        auto check = [&](double taken, int allowed, const char* kind) {
            if (taken <= allowed)
                return;
            const long long shown = taken > 1e15 ? (long long)1e15 : (long long)taken;
            Fail(ref.line, ref.col,
                 "'" + f.name + "': the shader takes " + std::to_string(shown) + kind + " instruction slots" +
                     (limit.loops ? "" : " with its loops unrolled") + ", more than the " + std::to_string(allowed) +
                     " of " + ref.profile);
        };
        if (!limit.arithmetic) {
            check(all, limit.total, "");
            return;
        }
        check(all - texture, limit.arithmetic, " arithmetic");
        check(texture, limit.total - limit.arithmetic, " texture");
    }

    // Float constant registers of each shader model.
    static int ConstantRegisters(bool pixel, int major)
    {
        if (pixel)
            return major == 1 ? 8 : major == 2 ? 32 : 224;
        return major == 1 ? 96 : 256;
    }

    // One level of the generator's recursion. Inlined calls stack the depths the
    // parser bounds, and calls of calls multiply the work, so both have a limit.
    struct Nest {
        Nest(Generator* generator, int line, int col) : g(generator)
        {
            if (++g->nesting_ > 4 * kMaxNesting)
                Fail(line, col, "nesting too deep");
            if (++g->work_ > (1 << 20))
                Fail(line, col, "program too large");
        }
        ~Nest() { --g->nesting_; }
        Generator* g;
    };
    std::vector<uint8_t> named_;  // work floats that belong to a variable

    void MarkNamed(int address, int n)
    {
        if ((address & kTagMask) != kWorkTag)
            return;
        int off = address & ~kTagMask;
        if ((int)named_.size() < off + n)
            named_.resize(off + n, 0);
        for (int i = 0; i < n; ++i)
            named_[off + i] = 1;
    }

    // A temporary that only the expression being compiled holds.
    bool Fresh(int address, int n) const
    {
        if ((address & kTagMask) != kWorkTag)
            return false;
        int off = address & ~kTagMask;
        for (int i = 0; i < n; ++i)
            if (off + i < (int)named_.size() && named_[off + i])
                return false;
        return true;
    }

    static int Written(const Instr& in)
    {
        switch (in.op) {
        case OpScatter:
        case OpStoreIdx:
        case OpJmp:
        case OpJz:
        case OpDiscardIf:
        case OpDiscard:
        case OpMulMM:
            return -1;
        case OpDot:
        case OpLength:
        case OpDistance:
        case OpAny:
        case OpAll:
            return 1;
        default:
            return in.n;
        }
    }

    void Reset()
    {
        code_.clear();
        tables_.clear();
        consts_.clear();
        inputs_.clear();
        outputs_.clear();
        top_ = maxTop_ = 0;
        named_.clear();
        scopes_.clear();
        fns_.clear();
        loops_.clear();
        depth_ = 0;
        nesting_ = 0;
        work_ = 0;
        read_.clear();
        boundedRun_ = false;
        runs_ = 1.0;
        runLength_ = 0.0;
        outerLoop_ = nullptr;
        slots_ = 0;
        unrolledSlots_ = 0.0;
        textureSlots_ = 0;
        unrolledTextureSlots_ = 0.0;
    }

    int Uniforms() const { return (int)fx_->store.size(); }

    int Patch(int address) const
    {
        if (address < 0)
            return 0;
        int tag = address & kTagMask, off = address & ~kTagMask;
        if (tag == kConstTag)
            return Uniforms() + off;
        if (tag == kWorkTag)
            return Uniforms() + (int)consts_.size() + off;
        return off;
    }

    Program Finish()
    {
        Program p;
        p.code = code_;
        for (Instr& in : p.code) {
            in.d = Patch(in.d);
            in.a = Patch(in.a);
            in.b = Patch(in.b);
            in.c = Patch(in.c);
        }
        p.tables = tables_;
        p.uniformFloats = Uniforms();
        p.workStart = Uniforms() + (int)consts_.size();
        p.initial.assign(Uniforms() + consts_.size() + maxTop_, 0.f);
        for (size_t i = 0; i < consts_.size(); ++i)
            p.initial[Uniforms() + i] = consts_[i];
        p.inputs = inputs_;
        p.outputs = outputs_;
        for (Binding& b : p.inputs)
            b.offset = Patch(b.offset);
        for (Binding& b : p.outputs)
            b.offset = Patch(b.offset);
        return p;
    }

    int Floats(const Type& t) const
    {
        TypeDesc d{t.base, t.shape, t.rows, t.cols, t.arrayLen, t.structId};
        return TypeFloats(*fx_, d);
    }

    std::string Name(const Type& t) const
    {
        std::string s;
        if (t.base == Base::Struct)
            s = fx_->structs[t.structId].name;
        else {
            s = t.base == Base::Float ? "float" : t.base == Base::Int ? "int" : t.base == Base::Bool ? "bool" : "void";
            if (t.shape == Shape::Vector)
                s += std::to_string(t.cols);
            else if (t.shape == Shape::Matrix)
                s += std::to_string(t.rows) + "x" + std::to_string(t.cols);
        }
        if (t.IsArray())
            s += "[" + std::to_string(t.arrayLen) + "]";
        return s;
    }

    int Alloc(int n)
    {
        int off = top_;
        top_ += n;
        if (top_ > maxTop_)
            maxTop_ = top_;
        if (maxTop_ > kMaxWorkFloats)
            Fail(0, 0, "program too large");
        return kWorkTag | off;
    }

    int Const(float v)
    {
        for (size_t i = 0; i < consts_.size(); ++i)
            if (consts_[i] == v && signbit(consts_[i]) == signbit(v))
                return kConstTag | (int)i;
        consts_.push_back(v);
        return kConstTag | (int)(consts_.size() - 1);
    }

    size_t Emit(Op op, int n, int d, int a = -1, int b = -1, int c = -1, int flags = 0, int i0 = 0, int i1 = 0)
    {
        Instr in;
        in.op = op;
        in.n = (uint8_t)n;
        in.flags = (uint8_t)flags;
        in.d = d;
        in.a = a;
        in.b = b;
        in.c = c;
        in.i0 = i0;
        in.i1 = i1;
        code_.push_back(in);
        runLength_ += runs_;
        const int slots = ops::Slots(in);
        slots_ += slots;
        if (!ops::IsFlowOp(op))
            unrolledSlots_ += runs_ * slots;
        // Texture sampling is refused: only discards (texkill) take these.
        if (ops::IsTextureOp(op)) {
            textureSlots_ += slots;
            unrolledTextureSlots_ += runs_ * slots;
        }
        if (boundedRun_ && runLength_ > kMaxRunLength) {
            if (outerLoop_)
                Fail(outerLoop_->line, outerLoop_->col,
                     "loop too long: a run of the shader may take more than " + std::to_string(kMaxRunLength) +
                         " instructions");
            Fail(0, 0, "program too large");
        }
        return code_.size() - 1;
    }

    void Move(int dst, int src, int n)
    {
        if (dst == src)
            return;
        for (int c = 0; c < n; c += ops::kMaxWidth)
            Emit(OpMov, std::min(ops::kMaxWidth, n - c), dst + c, src + c);
    }

    int Table(const std::vector<int>& idx)
    {
        int start = (int)tables_.size();
        tables_.insert(tables_.end(), idx.begin(), idx.end());
        return start;
    }

    void Declare(const std::string& name, const Type& t, int off, int line, int col)
    {
        auto& vars = scopes_.back().vars;
        if (vars.count(name))
            Fail(line, col, "redefinition of '" + name + "'");
        vars[name] = Var{t, off, false};
        MarkNamed(off, Floats(t));
    }

    bool IsGlobal(const std::string& name, const Var* v) const
    {
        auto it = globals_.find(name);
        return it != globals_.end() && &it->second == v;
    }

    const Var* Lookup(const std::string& name) const
    {
        for (size_t i = scopes_.size(); i-- > 0;) {
            auto it = scopes_[i].vars.find(name);
            if (it != scopes_[i].vars.end())
                return &it->second;
            if (scopes_[i].barrier)
                break;
        }
        auto it = globals_.find(name);
        return it == globals_.end() ? nullptr : &it->second;
    }

    void Bind(std::vector<Binding>* list, const Type& t, const std::string& semantic, int off,
              const std::string& name, const Function* f)
    {
        if (t.IsStruct() && !t.IsArray()) {
            const StructDesc& s = fx_->structs[t.structId];
            for (const StructMember& m : s.members) {
                const Type mt = MemberType(m.type);
                Bind(list, mt, m.semantic, off + m.offset, m.name, f);
            }
            return;
        }
        if (semantic.empty())
            Fail(f->line, f->col, "'" + f->name + "': '" + name + "' is missing a semantic");
        list->push_back(Binding{ParseSemantic(semantic), off, std::min(Floats(t), 16)});
        MarkNamed(off, Floats(t));
    }

    // --- Conversions ---

    static int Comps(const Type& t) { return t.rows * t.cols; }

    Val Convert(const Val& v, const Type& to, const Expr* at, bool explicitCast = false)
    {
        if (v.t.base == Base::Void)
            Fail(at->line, at->col, "void value used in an expression");
        bool fromAggregate = v.t.IsStruct() || v.t.IsArray();
        bool toAggregate = to.IsStruct() || to.IsArray();
        if (fromAggregate || toAggregate) {
            if (v.t.base == to.base && v.t.structId == to.structId && v.t.arrayLen == to.arrayLen &&
                v.t.rows == to.rows && v.t.cols == to.cols)
                return Val{to, v.off};
            if (explicitCast && !fromAggregate && Comps(v.t) == 1) {
                int n = Floats(to);
                int tmp = Alloc(n);
                for (int c = 0; c < n; c += ops::kMaxWidth)
                    Emit(OpBroadcast, std::min(ops::kMaxWidth, n - c), tmp + c, v.off);
                return Val{to, tmp};
            }
            Fail(at->line, at->col, "cannot convert from '" + Name(v.t) + "' to '" + Name(to) + "'");
        }
        if (to.base == Base::Void)
            Fail(at->line, at->col, "cannot convert to void");
        int vc = Comps(v.t), tc = Comps(to);
        Val r{to, v.off};
        if (vc == 1 && tc > 1) {
            r.off = Alloc(tc);
            Emit(OpBroadcast, tc, r.off, v.off);
        } else if (vc > tc || vc == tc) {
            if (v.t.shape == Shape::Matrix && to.shape == Shape::Matrix && vc != tc) {
                if (to.rows > v.t.rows || to.cols > v.t.cols)
                    Fail(at->line, at->col, "cannot convert from '" + Name(v.t) + "' to '" + Name(to) + "'");
                std::vector<int> idx;
                for (int i = 0; i < to.rows; ++i)
                    for (int j = 0; j < to.cols; ++j)
                        idx.push_back(i * v.t.cols + j);
                r.off = Alloc(tc);
                Emit(OpGather, tc, r.off, v.off, -1, -1, 0, Table(idx));
            } else if (vc == tc || (v.t.shape != Shape::Matrix || tc == 1) || explicitCast) {
                if (vc != tc && v.t.shape == Shape::Matrix && to.shape == Shape::Vector)
                    Fail(at->line, at->col, "cannot convert from '" + Name(v.t) + "' to '" + Name(to) + "'");
            } else {
                Fail(at->line, at->col, "cannot convert from '" + Name(v.t) + "' to '" + Name(to) + "'");
            }
        } else {
            Fail(at->line, at->col, "cannot implicitly convert from '" + Name(v.t) + "' to '" + Name(to) + "'");
        }
        if (to.base == Base::Int && v.t.base == Base::Float) {
            int tmp = Alloc(tc);
            Emit(OpTrunc, tc, tmp, r.off);
            r.off = tmp;
        } else if (to.base == Base::Bool && v.t.base != Base::Bool) {
            int tmp = Alloc(tc);
            Emit(OpNe, tc, tmp, r.off, Const(0.f), -1, FlagScalarB);
            r.off = tmp;
        }
        return r;
    }

    Val ToScalar(const Val& v, const Expr* at)
    {
        if (!v.t.IsNumeric())
            Fail(at->line, at->col, "scalar value expected, got '" + Name(v.t) + "'");
        return Val{Scalar(v.t.base), v.off};
    }

    // --- References and stores ---

    Ref RefOf(const Expr* e)
    {
        switch (e->kind) {
        case EK::Var: {
            const Var* v = Lookup(e->name);
            if (!v)
                Fail(e->line, e->col, "undeclared identifier '" + e->name + "'");
            if (IsGlobal(e->name, v))
                read_.insert(e->name);
            Ref r;
            r.t = v->t;
            r.base = v->off;
            r.readOnly = v->readOnly;
            return r;
        }
        case EK::Member: {
            Ref r = RefOf(e->args[0].get());
            if (r.t.IsStruct() && !r.t.IsArray()) {
                const StructDesc& s = fx_->structs[r.t.structId];
                for (const StructMember& m : s.members)
                    if (m.name == e->name) {
                        r.base += m.offset;
                        const Type mt = MemberType(m.type);
                        r.t = mt;
                        return r;
                    }
                Fail(e->line, e->col, "'" + e->name + "' is not a member of '" + s.name + "'");
            }
            if (!r.t.IsNumeric())
                Fail(e->line, e->col, "invalid member access '" + e->name + "' on '" + Name(r.t) + "'");
            std::vector<int> idx = Swizzle(r.t, e);
            if (r.comps.empty()) {
                r.full = r.t;
                r.comps = idx;
            } else {
                std::vector<int> composed;
                for (int i : idx) {
                    if (i >= (int)r.comps.size())
                        Fail(e->line, e->col, "invalid swizzle '" + e->name + "'");
                    composed.push_back(r.comps[i]);
                }
                r.comps = composed;
            }
            r.t = Vector(r.t.base, (int)r.comps.size());
            return r;
        }
        case EK::Index: {
            Ref r = RefOf(e->args[0].get());
            Type elem;
            int stride, count;
            if (r.t.IsArray()) {
                elem = r.t.Element();
                stride = Floats(elem);
                count = r.t.arrayLen;
            } else if (r.t.shape == Shape::Matrix && r.comps.empty()) {
                elem = Vector(r.t.base, r.t.cols);
                stride = r.t.cols;
                count = r.t.rows;
            } else if (r.t.shape == Shape::Vector) {
                elem = Scalar(r.t.base);
                stride = 1;
                count = r.t.cols;
            } else {
                Fail(e->line, e->col, "subscript on a value that is not an array, vector or matrix");
            }
            const Expr* ix = e->args[1].get();
            if (ix->kind == EK::Num) {
                // Checked before the conversion: a huge literal has no int.
                if (!(ix->value > -1.0 && ix->value < (double)count))
                    Fail(ix->line, ix->col, "array index out of bounds");
                const int k = (int)ix->value;
                if (!r.comps.empty()) {
                    r.comps = {r.comps[k]};
                } else {
                    r.base += k * stride;
                }
                r.t = elem;
                return r;
            }
            if (r.dyn >= 0 || !r.comps.empty())
                Fail(ix->line, ix->col, "this dynamic indexing is not supported");
            Val iv = ToScalar(Expression(ix), ix);
            r.dyn = iv.off;
            r.stride = stride;
            r.count = count;
            r.t = elem;
            return r;
        }
        default: {
            Val v = Expression(e);
            Ref r;
            r.t = v.t;
            r.base = v.off;
            r.lvalue = false;
            return r;
        }
        }
    }

    std::vector<int> Swizzle(const Type& t, const Expr* e)
    {
        const std::string& s = e->name;
        std::vector<int> idx;
        if (t.shape == Shape::Matrix) {
            size_t i = 0;
            while (i < s.size()) {
                if (s[i] != '_')
                    Fail(e->line, e->col, "invalid matrix swizzle '" + s + "'");
                int r, c;
                if (i + 3 < s.size() + 0 && s[i + 1] == 'm') {
                    r = s[i + 2] - '0';
                    c = s[i + 3] - '0';
                    i += 4;
                } else if (i + 2 < s.size() + 0) {
                    r = s[i + 1] - '1';
                    c = s[i + 2] - '1';
                    i += 3;
                } else {
                    Fail(e->line, e->col, "invalid matrix swizzle '" + s + "'");
                }
                if (r < 0 || r >= t.rows || c < 0 || c >= t.cols)
                    Fail(e->line, e->col, "invalid matrix swizzle '" + s + "'");
                idx.push_back(r * t.cols + c);
            }
        } else {
            int n = Comps(t);
            for (char ch : s) {
                const char* xyzw = "xyzw";
                const char* rgba = "rgba";
                const char* p = strchr(xyzw, ch);
                int k = p ? (int)(p - xyzw) : -1;
                if (k < 0 && (p = strchr(rgba, ch)))
                    k = (int)(p - rgba);
                if (k < 0 || k >= n || !ch)
                    Fail(e->line, e->col, "invalid subscript '" + s + "'");
                idx.push_back(k);
            }
        }
        if (idx.empty() || idx.size() > 4)
            Fail(e->line, e->col, "invalid subscript '" + s + "'");
        return idx;
    }

    Val Load(const Ref& r)
    {
        if (r.dyn < 0 && r.comps.empty())
            return Val{r.t, r.base};
        int src = r.base;
        if (r.dyn >= 0) {
            Type full = r.comps.empty() ? r.t : r.full;
            int n = Floats(full);
            int tmp = Alloc(n);
            for (int c = 0; c < n; c += ops::kMaxWidth)
                Emit(OpLoadIdx, std::min(ops::kMaxWidth, n - c), tmp + c, r.base + c, r.dyn, -1, 0, r.stride,
                     r.count);
            if (r.comps.empty())
                return Val{r.t, tmp};
            src = tmp;
        }
        int tmp = Alloc((int)r.comps.size());
        Emit(OpGather, (int)r.comps.size(), tmp, src, -1, -1, 0, Table(r.comps));
        return Val{r.t, tmp};
    }

    void Store(const Ref& r, const Val& value, const Expr* at)
    {
        if (!r.lvalue)
            Fail(at->line, at->col, "l-value required");
        if (r.readOnly && !allowGlobalWrites_)
            Fail(at->line, at->col, "global variables are read-only in shaders");
        Val v = Convert(value, r.t, at);
        int n = Floats(r.t);
        if (r.dyn < 0 && r.comps.empty()) {
            // Let the instruction that made a temporary write the target itself.
            if (!code_.empty() && code_.back().d == v.off && v.off != r.base && Written(code_.back()) == n &&
                Fresh(v.off, n)) {
                code_.back().d = r.base;
                return;
            }
            Move(r.base, v.off, n);
        } else if (r.dyn < 0) {
            std::set<int> seen(r.comps.begin(), r.comps.end());
            if (seen.size() != r.comps.size())
                Fail(at->line, at->col, "invalid write mask: a component is written twice");
            Emit(OpScatter, (int)r.comps.size(), r.base, v.off, -1, -1, 0, Table(r.comps));
        } else if (r.comps.empty()) {
            for (int c = 0; c < n; c += ops::kMaxWidth)
                Emit(OpStoreIdx, std::min(ops::kMaxWidth, n - c), r.base + c, v.off + c, r.dyn, -1, 0, r.stride,
                     r.count);
        } else {
            Fail(at->line, at->col, "write masks on dynamically indexed values are not supported");
        }
    }

    void InitList(const Expr* list, const Type& t, int dst)
    {
        int total = Floats(t), cursor = 0;
        std::function<void(const Expr*)> walk = [&](const Expr* e) {
            if (e->kind == EK::List) {
                for (const auto& a : e->args)
                    walk(a.get());
                return;
            }
            Val v = Expression(e);
            if (v.t.base == Base::Void)
                Fail(e->line, e->col, "void value in an initializer");
            int k = Floats(v.t);
            if (cursor + k > total)
                Fail(e->line, e->col, "too many initializers for '" + Name(t) + "'");
            Move(dst + cursor, v.off, k);
            cursor += k;
        };
        walk(list);
        if (cursor != total)
            Fail(list->line, list->col, "not enough initializers for '" + Name(t) + "'");
    }

    // --- Expressions ---

    Type Combine(const Val& a, const Val& b, Base base, const Expr* at, int* flags)
    {
        if (!a.t.IsNumeric() || !b.t.IsNumeric())
            Fail(at->line, at->col, "operator '" + at->name + "' needs numeric operands");
        int ca = Comps(a.t), cb = Comps(b.t);
        *flags = 0;
        Type r;
        if (ca == 1 && cb == 1) {
            r = Scalar(base);
        } else if (ca == 1) {
            r = b.t;
            *flags |= FlagScalarA;
        } else if (cb == 1) {
            r = a.t;
            *flags |= FlagScalarB;
        } else if (a.t.shape == Shape::Matrix || b.t.shape == Shape::Matrix) {
            if (a.t.shape != b.t.shape || a.t.rows != b.t.rows || a.t.cols != b.t.cols)
                Fail(at->line, at->col, "type mismatch between '" + Name(a.t) + "' and '" + Name(b.t) + "'");
            r = a.t;
        } else {
            r = Vector(base, std::min(ca, cb));
        }
        r.base = base;
        return r;
    }

    static Base Arith(const Val& a, const Val& b)
    {
        return (a.t.base == Base::Float || b.t.base == Base::Float) ? Base::Float : Base::Int;
    }

    Val BinaryOp(const std::string& op, const Val& a, const Val& b, const Expr* at)
    {
        static const struct {
            const char* name;
            Op op;
            int kind;  // 0 arithmetic, 1 comparison, 2 logical
        } kOps[] = {{"+", OpAdd, 0}, {"-", OpSub, 0}, {"*", OpMul, 0}, {"/", OpDiv, 0}, {"%", OpMod, 0},
                    {"<", OpLt, 1},  {"<=", OpLe, 1}, {">", OpGt, 1},  {">=", OpGe, 1}, {"==", OpEq, 1},
                    {"!=", OpNe, 1}, {"&&", OpAnd, 2}, {"||", OpOr, 2}};
        for (const auto& o : kOps) {
            if (op != o.name)
                continue;
            int flags;
            Base base = o.kind == 0 ? Arith(a, b) : Base::Bool;
            Type t = Combine(a, b, base, at, &flags);
            int n = Comps(t);
            int tmp = Alloc(n);
            Emit(o.op, n, tmp, a.off, b.off, -1, flags);
            if (o.op == OpDiv && base == Base::Int)
                Emit(OpTrunc, n, tmp, tmp);
            return Val{t, tmp};
        }
        Fail(at->line, at->col, "operator '" + op + "' is not supported");
    }

    Val Expression(const Expr* e)
    {
        Nest nest(this, e->line, e->col);
        switch (e->kind) {
        case EK::Num: {
            Type t = Scalar(e->name == "bool" ? Base::Bool : e->isInt ? Base::Int : Base::Float);
            return Val{t, Const((float)e->value)};
        }
        case EK::Var:
        case EK::Member:
        case EK::Index:
            return Load(RefOf(e));
        case EK::Binary:
            if (e->name == ",") {
                Expression(e->args[0].get());
                return Expression(e->args[1].get());
            }
            return BinaryOp(e->name, Expression(e->args[0].get()), Expression(e->args[1].get()), e);
        case EK::Unary: {
            Val v = Expression(e->args[0].get());
            if (!v.t.IsNumeric())
                Fail(e->line, e->col, "operator '" + e->name + "' needs a numeric operand");
            if (e->name == "+")
                return v;
            int n = Comps(v.t);
            int tmp = Alloc(n);
            Type t = v.t;
            if (e->name == "!")
                t.base = Base::Bool;
            Emit(e->name == "-" ? OpNeg : OpNot, n, tmp, v.off);
            return Val{t, tmp};
        }
        case EK::Assign: {
            Ref r = RefOf(e->args[0].get());
            Val rhs = Expression(e->args[1].get());
            if (e->name != "=") {
                Val cur = Load(r);
                rhs = BinaryOp(e->name.substr(0, 1), cur, rhs, e);
            }
            Store(r, rhs, e);
            return Load(r);
        }
        case EK::PreInc:
        case EK::PostInc: {
            Ref r = RefOf(e->args[0].get());
            Val cur = Load(r);
            if (!cur.t.IsNumeric())
                Fail(e->line, e->col, "operator '" + e->name + "' needs a numeric operand");
            int n = Comps(cur.t);
            Val old{cur.t, Alloc(n)};
            Move(old.off, cur.off, n);
            Val one{Scalar(Base::Int), Const(1.f)};
            Val next = BinaryOp(e->name == "++" ? "+" : "-", old, one, e);
            Store(r, next, e);
            return e->kind == EK::PostInc ? old : Load(r);
        }
        case EK::Ternary: {
            Val c = Expression(e->args[0].get());
            Val a = Expression(e->args[1].get());
            Val b = Expression(e->args[2].get());
            if (!c.t.IsNumeric())
                Fail(e->line, e->col, "condition must be numeric");
            int flags;
            Type t = (a.t.IsNumeric() && b.t.IsNumeric()) ? Combine(a, b, Arith(a, b), e, &flags) : a.t;
            if (a.t.IsNumeric() && a.t.base == Base::Bool && b.t.base == Base::Bool)
                t.base = Base::Bool;
            a = Convert(a, t, e);
            b = Convert(b, t, e);
            int n = Floats(t);
            if (n > ops::kMaxWidth)
                Fail(e->line, e->col, "conditional on aggregates is not supported");
            int cf = Comps(c.t) == 1 ? FlagScalarA : 0;
            if (!cf && Comps(c.t) < n)
                Fail(e->line, e->col, "condition has too few components");
            int tmp = Alloc(n);
            Emit(OpSelect, n, tmp, c.off, a.off, b.off, cf);
            return Val{t, tmp};
        }
        case EK::Call:
            return Call(e);
        case EK::Ctor:
            return Constructor(e);
        case EK::Cast:
            return Convert(Expression(e->args[0].get()), e->type, e, true);
        case EK::List:
            Fail(e->line, e->col, "initializer list not expected here");
        }
        Fail(e->line, e->col, "unsupported expression");
    }

    Val Constructor(const Expr* e)
    {
        const Type& t = e->type;
        if (!t.IsNumeric())
            Fail(e->line, e->col, "constructor of '" + Name(t) + "' is not supported");
        int n = Comps(t);
        if (e->args.size() == 1) {
            Val v = Expression(e->args[0].get());
            if (v.t.IsNumeric() && Comps(v.t) == 1)
                return Convert(v, t, e, true);
            if (v.t.IsNumeric() && Comps(v.t) == n)
                return Convert(Val{Vector(v.t.base, n), v.off}, t, e, true);
        }
        int tmp = Alloc(n), cursor = 0;
        for (const auto& a : e->args) {
            Val v = Expression(a.get());
            if (!v.t.IsNumeric())
                Fail(a->line, a->col, "constructor arguments must be numeric");
            int k = Comps(v.t);
            if (cursor + k > n)
                Fail(e->line, e->col, "too many components in the constructor of '" + Name(t) + "'");
            Move(tmp + cursor, v.off, k);
            cursor += k;
        }
        if (cursor != n)
            Fail(e->line, e->col, "not enough components in the constructor of '" + Name(t) + "'");
        if (t.base == Base::Int)
            Emit(OpTrunc, n, tmp, tmp);
        return Val{t, tmp};
    }

    Val Call(const Expr* e)
    {
        const Function* best = nullptr;
        for (const Function& f : parser_->functions) {
            if (f.name != e->name || f.params.size() != e->args.size())
                continue;
            if (!best)
                best = &f;
        }
        if (best)
            return Inline(*best, e);
        return Intrinsic(e);
    }

    Val Inline(const Function& f, const Expr* e)
    {
        if (++depth_ > 32)
            Fail(e->line, e->col, "'" + f.name + "': recursive calls are not allowed");
        std::vector<int> slots;
        for (size_t i = 0; i < f.params.size(); ++i) {
            const Param& p = f.params[i];
            if (p.in && !p.out) {
                // A temporary argument becomes the parameter without a copy.
                Val v = Expression(e->args[i].get());
                if (Fresh(v.off, Floats(v.t)) && v.t.base == p.type.base && v.t.structId == p.type.structId &&
                    v.t.arrayLen == p.type.arrayLen && v.t.rows == p.type.rows && v.t.cols == p.type.cols &&
                    v.t.shape == p.type.shape) {
                    slots.push_back(v.off);
                    continue;
                }
                int slot = Alloc(Floats(p.type));
                slots.push_back(slot);
                Ref r;
                r.t = p.type;
                r.base = slot;
                Store(r, v, e->args[i].get());
                continue;
            }
            int slot = Alloc(Floats(p.type));
            slots.push_back(slot);
            if (p.in) {
                Ref r;
                r.t = p.type;
                r.base = slot;
                Store(r, Expression(e->args[i].get()), e->args[i].get());
            }
        }
        Val ret;
        ret.t = f.ret;
        if (f.ret.base != Base::Void) {
            ret.off = Alloc(Floats(f.ret));
            MarkNamed(ret.off, Floats(f.ret));
        }
        Scope scope;
        scope.barrier = true;
        scopes_.push_back(scope);
        for (size_t i = 0; i < f.params.size(); ++i)
            Declare(f.params[i].name, f.params[i].type, slots[i], f.line, f.col);
        fns_.push_back({ret, {}});
        std::vector<LoopContext> outerLoops;
        outerLoops.swap(loops_);
        Statement(f.body.get());
        loops_.swap(outerLoops);
        for (size_t j : fns_.back().returns)
            code_[j].i0 = (int)code_.size();
        fns_.pop_back();
        scopes_.pop_back();
        for (size_t i = 0; i < f.params.size(); ++i)
            if (f.params[i].out)
                Store(RefOf(e->args[i].get()), Val{f.params[i].type, slots[i]}, e->args[i].get());
        --depth_;
        return ret;
    }

    Val Intrinsic(const Expr* e)
    {
        const std::string& name = e->name;
        size_t argc = e->args.size();
        auto arity = [&](size_t n) {
            if (argc != n)
                Fail(e->line, e->col, "'" + name + "': no matching " + std::to_string(argc) +
                                          " parameter intrinsic function");
        };
        static const struct {
            const char* name;
            Op op;
        } kUnary[] = {{"abs", OpAbs},     {"sqrt", OpSqrt},   {"rsqrt", OpRsqrt}, {"exp", OpExp},
                      {"exp2", OpExp2},   {"log", OpLog},     {"log2", OpLog2},   {"log10", OpLog10},
                      {"sin", OpSin},     {"cos", OpCos},     {"tan", OpTan},     {"asin", OpAsin},
                      {"acos", OpAcos},   {"atan", OpAtan},   {"frac", OpFrac},   {"floor", OpFloor},
                      {"ceil", OpCeil},   {"round", OpRound}, {"trunc", OpTrunc}, {"saturate", OpSaturate},
                      {"sign", OpSign}};
        for (const auto& u : kUnary)
            if (name == u.name) {
                arity(1);
                Val v = Expression(e->args[0].get());
                if (!v.t.IsNumeric())
                    Fail(e->line, e->col, "'" + name + "': numeric argument expected");
                Type t = v.t;
                if (u.op != OpAbs && u.op != OpSign)
                    t.base = Base::Float;
                int n = Comps(t);
                int tmp = Alloc(n);
                Emit(u.op, n, tmp, v.off);
                return Val{t, tmp};
            }
        static const struct {
            const char* name;
            Op op;
        } kBinary[] = {{"min", OpMin}, {"max", OpMax}, {"pow", OpPow}, {"step", OpStep}, {"atan2", OpAtan2},
                       {"fmod", OpMod}};
        for (const auto& b : kBinary)
            if (name == b.name) {
                arity(2);
                Val x = Expression(e->args[0].get()), y = Expression(e->args[1].get());
                int flags;
                Type t = Combine(x, y, Arith(x, y), e, &flags);
                int n = Comps(t);
                int tmp = Alloc(n);
                Emit(b.op, n, tmp, x.off, y.off, -1, flags);
                return Val{t, tmp};
            }
        static const struct {
            const char* name;
            Op op;
        } kTernary[] = {{"clamp", OpClamp}, {"lerp", OpLerp}, {"smoothstep", OpSmoothstep}};
        for (const auto& tr : kTernary)
            if (name == tr.name) {
                arity(3);
                Val x = Expression(e->args[0].get()), y = Expression(e->args[1].get()),
                    z = Expression(e->args[2].get());
                int f1, f2;
                Type t = Combine(x, y, Arith(x, y), e, &f1);
                Val xy{t, -1};
                t = Combine(xy, z, t.base == Base::Float || z.t.base == Base::Float ? Base::Float : Base::Int, e, &f2);
                int n = Comps(t);
                int flags = 0;
                const Val* ops[3] = {&x, &y, &z};
                for (int k = 0; k < 3; ++k)
                    if (Comps(ops[k]->t) == 1 && n > 1)
                        flags |= 1 << k;
                int tmp = Alloc(n);
                Emit(tr.op, n, tmp, x.off, y.off, z.off, flags);
                return Val{t, tmp};
            }
        auto vec = [&](size_t i) {
            Val v = Expression(e->args[i].get());
            if (!v.t.IsNumeric() || v.t.shape == Shape::Matrix)
                Fail(e->line, e->col, "'" + name + "': vector argument expected");
            return v;
        };
        if (name == "dot" || name == "distance") {
            arity(2);
            Val a = vec(0), b = vec(1);
            int n = std::min(Comps(a.t), Comps(b.t));
            int tmp = Alloc(1);
            Emit(name == "dot" ? OpDot : OpDistance, n, tmp, a.off, b.off);
            return Val{Scalar(Base::Float), tmp};
        }
        if (name == "length") {
            arity(1);
            Val a = vec(0);
            int tmp = Alloc(1);
            Emit(OpLength, Comps(a.t), tmp, a.off);
            return Val{Scalar(Base::Float), tmp};
        }
        if (name == "normalize") {
            arity(1);
            Val a = vec(0);
            Type t = Vector(Base::Float, Comps(a.t));
            int tmp = Alloc(Comps(t));
            Emit(OpNormalize, Comps(t), tmp, a.off);
            return Val{t, tmp};
        }
        if (name == "cross") {
            arity(2);
            Val a = vec(0), b = vec(1);
            if (Comps(a.t) < 3 || Comps(b.t) < 3)
                Fail(e->line, e->col, "'cross': float3 arguments expected");
            int tmp = Alloc(3);
            Emit(OpCross, 3, tmp, a.off, b.off);
            return Val{Vector(Base::Float, 3), tmp};
        }
        if (name == "reflect") {
            arity(2);
            Val a = vec(0), b = vec(1);
            int n = std::min(Comps(a.t), Comps(b.t));
            int tmp = Alloc(n);
            Emit(OpReflect, n, tmp, a.off, b.off);
            return Val{Vector(Base::Float, n), tmp};
        }
        if (name == "any" || name == "all") {
            arity(1);
            Val a = Expression(e->args[0].get());
            if (!a.t.IsNumeric())
                Fail(e->line, e->col, "'" + name + "': numeric argument expected");
            int tmp = Alloc(1);
            Emit(name == "any" ? OpAny : OpAll, Comps(a.t), tmp, a.off);
            return Val{Scalar(Base::Bool), tmp};
        }
        if (name == "clip") {
            arity(1);
            Val a = Expression(e->args[0].get());
            if (!a.t.IsNumeric())
                Fail(e->line, e->col, "'clip': numeric argument expected");
            Emit(OpDiscardIf, Comps(a.t), -1, a.off);
            return Val{Scalar(Base::Void), -1};
        }
        if (name == "radians" || name == "degrees") {
            arity(1);
            Val a = Expression(e->args[0].get());
            Val k{Scalar(Base::Float), Const(name == "radians" ? (float)(M_PI / 180.0) : (float)(180.0 / M_PI))};
            return BinaryOp("*", a, k, e);
        }
        if (name == "transpose") {
            arity(1);
            Val a = Expression(e->args[0].get());
            if (!a.t.IsNumeric() || a.t.shape != Shape::Matrix)
                Fail(e->line, e->col, "'transpose': matrix argument expected");
            std::vector<int> idx;
            for (int j = 0; j < a.t.cols; ++j)
                for (int i = 0; i < a.t.rows; ++i)
                    idx.push_back(i * a.t.cols + j);
            Type t = a.t;
            std::swap(t.rows, t.cols);
            int tmp = Alloc(Comps(t));
            Emit(OpGather, Comps(t), tmp, a.off, -1, -1, 0, Table(idx));
            return Val{t, tmp};
        }
        if (name == "mul") {
            arity(2);
            Val a = Expression(e->args[0].get()), b = Expression(e->args[1].get());
            if (!a.t.IsNumeric() || !b.t.IsNumeric())
                Fail(e->line, e->col, "'mul': numeric arguments expected");
            bool am = a.t.shape == Shape::Matrix, bm = b.t.shape == Shape::Matrix;
            if (Comps(a.t) == 1 || Comps(b.t) == 1)
                return BinaryOp("*", a, b, e);
            if (!am && !bm) {
                int tmp = Alloc(1);
                Emit(OpDot, std::min(Comps(a.t), Comps(b.t)), tmp, a.off, b.off);
                return Val{Scalar(Base::Float), tmp};
            }
            if (!am && bm) {
                int k = std::min(Comps(a.t), b.t.rows);
                Type t = Vector(Base::Float, b.t.cols);
                int tmp = Alloc(b.t.cols);
                Emit(OpMulVM, b.t.cols, tmp, a.off, b.off, -1, 0, k, b.t.cols);
                return Val{t, tmp};
            }
            if (am && !bm) {
                int k = std::min(Comps(b.t), a.t.cols);
                Type t = Vector(Base::Float, a.t.rows);
                int tmp = Alloc(a.t.rows);
                Emit(OpMulMV, a.t.rows, tmp, a.off, b.off, -1, 0, k, a.t.cols);
                return Val{t, tmp};
            }
            if (a.t.cols != b.t.rows)
                Fail(e->line, e->col, "'mul': the matrices' sizes do not match");
            Type t = a.t;
            t.base = Base::Float;
            t.cols = b.t.cols;
            int tmp = Alloc(Comps(t));
            Emit(OpMulMM, a.t.rows, tmp, a.off, b.off, -1, 0, a.t.cols, b.t.cols);
            return Val{t, tmp};
        }
        if (name == "tex2D" || name == "tex1D" || name == "tex3D" || name == "texCUBE")
            Fail(e->line, e->col, "'" + name + "': textures are not supported");
        Fail(e->line, e->col, "undeclared identifier '" + name + "'");
    }

    // --- Loop bounds ---
    //
    // As Direct3D 9's shader models, a loop must have a counter that the
    // compiler can bound: stepped by a fixed amount once an iteration (the
    // step of a for loop, the last statement of a while or do loop's body),
    // compared with a fixed limit in the condition, written nowhere else.
    // Counts known here must stay within kMaxLoopIterations; others depend on
    // uniforms and are cut there as the hardware's loop counter does.

    struct LoopPlan {
        int iterations;  // at most
        bool guarded;    // the count is not known: cut at kMaxLoopIterations
    };

    // The counter's step: `i++`, `--i`, `i += d`, `i -= d`, `i = i + d`, `i = d + i`, `i = i - d`.
    struct Step {
        const Expr* at = nullptr;       // the step expression
        const Expr* counter = nullptr;  // its variable
        const Expr* delta = nullptr;    // null: by one
        double sign = 1.0;
    };

    static bool IsVar(const Expr* e) { return e->kind == EK::Var; }

    static bool StepOf(const Expr* e, Step* out)
    {
        out->at = e;
        if ((e->kind == EK::PreInc || e->kind == EK::PostInc) && IsVar(e->args[0].get())) {
            out->counter = e->args[0].get();
            out->sign = e->name == "++" ? 1.0 : -1.0;
            return true;
        }
        if (e->kind != EK::Assign || !IsVar(e->args[0].get()))
            return false;
        out->counter = e->args[0].get();
        const Expr* rhs = e->args[1].get();
        if (e->name == "+=" || e->name == "-=") {
            out->delta = rhs;
            out->sign = e->name == "+=" ? 1.0 : -1.0;
            return true;
        }
        if (e->name != "=" || rhs->kind != EK::Binary || (rhs->name != "+" && rhs->name != "-"))
            return false;
        const std::string& name = out->counter->name;
        const Expr* l = rhs->args[0].get();
        const Expr* r = rhs->args[1].get();
        out->sign = rhs->name == "+" ? 1.0 : -1.0;
        if (IsVar(l) && l->name == name) {
            out->delta = r;
            return true;
        }
        if (rhs->name == "+" && IsVar(r) && r->name == name) {
            out->delta = l;
            return true;
        }
        return false;
    }

    // The terms of a chain of binary `op`s.
    static void Split(const Expr* e, const char* op, std::vector<const Expr*>* out)
    {
        if (!e)
            return;
        if (e->kind == EK::Binary && e->name == op) {
            Split(e->args[0].get(), op, out);
            Split(e->args[1].get(), op, out);
            return;
        }
        out->push_back(e);
    }

    // A value the compiler knows: a literal, negated or converted.
    static bool ConstValue(const Expr* e, double* v)
    {
        double a;
        switch (e->kind) {
        case EK::Num:
            *v = e->value;
            return true;
        case EK::Unary:
            if (!ConstValue(e->args[0].get(), &a))
                return false;
            *v = e->name == "-" ? -a : e->name == "!" ? (a == 0.0) : a;
            return true;
        case EK::Cast:
        case EK::Ctor:
            if (e->args.size() != 1 || !e->type.IsNumeric() || Comps(e->type) != 1 ||
                !ConstValue(e->args[0].get(), &a))
                return false;
            *v = e->type.base == Base::Int ? trunc(a) : e->type.base == Base::Bool ? (a != 0.0) : a;
            return true;
        default:
            return false;
        }
    }

    const Function* Callee(const Expr* call) const
    {
        for (const Function& f : parser_->functions)
            if (f.name == call->name && f.params.size() == call->args.size())
                return &f;
        return nullptr;
    }

    static const Expr* Target(const Expr* target)
    {
        while (target->kind == EK::Member || target->kind == EK::Index)
            target = target->args[0].get();
        return IsVar(target) ? target : nullptr;
    }

    // Calls write(variable, where) for each variable the expression writes:
    // by assignment, increment, or as a call's out or inout argument.
    template <class W>
    void ExprWrites(const Expr* e, W& write) const
    {
        if (!e)
            return;
        if (e->kind == EK::Assign || e->kind == EK::PreInc || e->kind == EK::PostInc) {
            if (const Expr* v = Target(e->args[0].get()))
                write(v, e);
        } else if (e->kind == EK::Call) {
            if (const Function* f = Callee(e))
                for (size_t i = 0; i < f->params.size(); ++i)
                    if (f->params[i].out)
                        if (const Expr* v = Target(e->args[i].get()))
                            write(v, e->args[i].get());
        }
        for (const auto& a : e->args)
            ExprWrites(a.get(), write);
    }

    // The same for a statement, by scope: a write to a variable declared
    // within the statement (`local` holds the names declared so far) is to
    // that variable, not to a namesake outside, and is not called.
    template <class W>
    void StmtWrites(const Stmt* s, W& write, std::vector<std::string>* local) const
    {
        if (!s)
            return;
        auto outer = [&](const Expr* v, const Expr* where) {
            if (std::find(local->begin(), local->end(), v->name) == local->end())
                write(v, where);
        };
        const size_t mark = local->size();
        for (const Decl& d : s->decls) {
            ExprWrites(d.init.get(), outer);
            local->push_back(d.name);
        }
        if (s->kind == SK::Decl)
            return;  // the names stay declared for the rest of the block
        StmtWrites(s->init.get(), write, local);
        ExprWrites(s->expr.get(), outer);
        ExprWrites(s->step.get(), outer);
        for (const auto& b : s->body) {
            const size_t inner = local->size();
            StmtWrites(b.get(), write, local);
            if (s->kind != SK::Block)
                local->resize(inner);  // an if's or a loop's body is a scope of its own
        }
        local->resize(mark);
    }

    // Where the expression writes `name` other than at `step`, or null.
    const Expr* StrayWrite(const Expr* e, const std::string& name, const Expr* step) const
    {
        const Expr* found = nullptr;
        auto write = [&](const Expr* v, const Expr* where) {
            if (!found && where != step && v->name == name)
                found = where;
        };
        ExprWrites(e, write);
        return found;
    }

    // The same for a statement; `hidden` is set from a declaration of a
    // namesake on, which the statements after it in its block write instead.
    const Expr* StrayWrite(const Stmt* s, const std::string& name, const Expr* step, bool* hidden) const
    {
        if (!s || *hidden)
            return nullptr;
        const Expr* found = nullptr;
        auto first = [&](const Expr* where) {
            if (!found)
                found = where;
        };
        switch (s->kind) {
        case SK::Decl:
            for (const Decl& d : s->decls) {
                if (!*hidden)
                    first(StrayWrite(d.init.get(), name, step));
                *hidden = *hidden || d.name == name;
            }
            return found;
        case SK::Block:
        case SK::For: {
            bool inner = false;
            first(StrayWrite(s->init.get(), name, step, &inner));
            if (!inner) {
                first(StrayWrite(s->expr.get(), name, step));
                first(StrayWrite(s->step.get(), name, step));
            }
            for (const auto& b : s->body)
                first(StrayWrite(b.get(), name, step, &inner));
            return found;
        }
        default:
            first(StrayWrite(s->expr.get(), name, step));
            for (const auto& b : s->body) {
                bool inner = false;
                first(StrayWrite(b.get(), name, step, &inner));
            }
            return found;
        }
    }

    LoopPlan PlanLoop(const Stmt* s)
    {
        const Expr* cond = s->expr.get();
        double value;
        if (cond && ConstValue(cond, &value) && value == 0.0)
            return {s->kind == SK::Do ? 1 : 0, false};

        const Expr* stepExpr = s->step.get();
        if (s->kind != SK::For) {
            const Stmt* last = s->body[0].get();
            if (last->kind == SK::Block && !last->body.empty())
                last = last->body.back().get();
            if (last->kind == SK::Expr)
                stepExpr = last->expr.get();
        }
        std::vector<const Expr*> parts;
        Split(stepExpr, ",", &parts);
        std::vector<Step> steps;
        for (const Expr* p : parts) {
            Step st;
            if (StepOf(p, &st))
                steps.push_back(st);
        }

        // Every variable the loop writes.
        std::set<std::string> written;
        auto write = [&](const Expr* v, const Expr*) { written.insert(v->name); };
        ExprWrites(cond, write);
        ExprWrites(stepExpr, write);
        std::vector<std::string> local;
        StmtWrites(s->body[0].get(), write, &local);

        std::vector<const Expr*> terms;
        Split(cond, "&&", &terms);
        const Step* step = nullptr;
        const Expr* limit = nullptr;
        const Expr* compared = nullptr;
        bool counterLeft = true;
        std::string op;
        for (const Expr* t : terms) {
            if (t->kind != EK::Binary || (t->name != "<" && t->name != "<=" && t->name != ">" && t->name != ">=" &&
                                          t->name != "==" && t->name != "!="))
                continue;
            for (int k = 0; k < 2 && !step; ++k) {
                const Expr* side = t->args[k].get();
                for (const Step& st : steps) {
                    if (!IsVar(side) || side->name != st.counter->name)
                        continue;
                    compared = side;
                    if (!Invariant(t->args[1 - k].get(), written))
                        continue;
                    step = &st;
                    limit = t->args[1 - k].get();
                    counterLeft = k == 0;
                    op = t->name;
                    break;
                }
            }
        }
        if (!step) {
            for (const Step& st : steps)
                if (const Expr* stray = StrayWrite(cond, st.counter->name, st.at))
                    Fail(stray->line, stray->col, "cannot bound the loop: its counter '" + st.counter->name +
                                                      "' is written in the loop besides its step");
            if (compared)
                Fail(compared->line, compared->col,
                     "cannot bound the loop: its counter '" + compared->name + "' is not compared with a fixed limit");
            // A variable the condition compares and the loop writes, but not by a step.
            for (const Expr* t : s->kind == SK::For && !steps.empty() ? std::vector<const Expr*>() : terms)
                if (t->kind == EK::Binary && t->args.size() == 2)
                    for (const auto& side : t->args)
                        if (IsVar(side.get()) && written.count(side->name))
                            Fail(side->line, side->col, "cannot bound the loop: its counter '" + side->name +
                                                            "' does not step by a fixed amount in each iteration");
            if (steps.empty())
                Fail(s->line, s->col, "cannot bound the loop: no counter steps by a fixed amount in each iteration");
            const Expr* at = cond ? cond : steps[0].at;
            Fail(at->line, at->col,
                 "cannot bound the loop: its condition does not depend on its counter '" + steps[0].counter->name +
                     "'");
        }
        const std::string& name = step->counter->name;
        const Var* var = Lookup(name);
        if (!var)
            Fail(step->counter->line, step->counter->col, "undeclared identifier '" + name + "'");
        if (IsGlobal(name, var) || !var->t.IsNumeric() || Comps(var->t) != 1)
            Fail(step->counter->line, step->counter->col,
                 "loop counter '" + name + "' must be a local scalar variable");
        const Expr* stray = StrayWrite(cond, name, step->at);
        if (!stray)
            stray = StrayWrite(stepExpr, name, step->at);
        bool hidden = false;
        if (!stray)
            stray = StrayWrite(s->body[0].get(), name, step->at, &hidden);
        if (stray)
            Fail(stray->line, stray->col,
                 "cannot bound the loop: its counter '" + name + "' is written in the loop besides its step");

        double delta = 1.0;
        bool deltaKnown = true;
        if (step->delta) {
            if (!Invariant(step->delta, written))
                Fail(step->at->line, step->at->col, "cannot bound the loop: its counter '" + name +
                                                        "' does not step by a fixed amount in each iteration");
            deltaKnown = ConstValue(step->delta, &delta);
        }
        delta *= step->sign;
        if (deltaKnown && delta == 0.0)
            Fail(step->at->line, step->at->col, "cannot bound the loop: its counter '" + name + "' steps by zero");

        double start = 0.0, end = 0.0;
        if (deltaKnown && var->t.base != Base::Bool && ConstValue(limit, &end) &&
            InitialValue(s, name, &start)) {
            // Counted as the interpreters run it, in floats.
            const bool whole = var->t.base == Base::Int;
            float v = whole ? truncf((float)start) : (float)start;
            const float lim = (float)end, d = (float)delta;
            int count = 0;
            while (Compare(op, counterLeft ? v : lim, counterLeft ? lim : v)) {
                if (++count > kMaxLoopIterations)
                    Fail(s->line, s->col,
                         "the loop runs more than " + std::to_string(kMaxLoopIterations) + " iterations");
                v = whole ? truncf(v + d) : v + d;
            }
            return {s->kind == SK::Do ? std::max(count, 1) : count, false};
        }
        if (deltaKnown && op != "==" && op != "!=") {
            bool rising = (op == "<" || op == "<=") == counterLeft;
            if (rising != (delta > 0.0))
                Fail(step->at->line, step->at->col,
                     "cannot bound the loop: its counter '" + name + "' moves away from its limit");
        }
        return {kMaxLoopIterations, true};
    }

    static bool Compare(const std::string& op, float a, float b)
    {
        return op == "<" ? a < b : op == "<=" ? a <= b : op == ">" ? a > b : op == ">=" ? a >= b : op == "==" ? a == b : a != b;
    }

    // The counter's value as a for loop starts, when its initialisation gives a known one.
    static bool InitialValue(const Stmt* loop, const std::string& name, double* v)
    {
        if (loop->kind != SK::For || !loop->init)
            return false;
        const Stmt* init = loop->init.get();
        if (init->kind == SK::Decl) {
            for (const Decl& d : init->decls)
                if (d.name == name)
                    return d.init && ConstValue(d.init.get(), v);
            return false;
        }
        std::vector<const Expr*> parts;
        Split(init->expr.get(), ",", &parts);
        bool found = false;
        for (const Expr* p : parts)
            if (p->kind == EK::Assign && p->name == "=" && IsVar(p->args[0].get()) && p->args[0]->name == name)
                found = ConstValue(p->args[1].get(), v);
        return found;
    }

    // True when the expression has the same value in every iteration: it
    // reads no variable the loop writes and calls no function of the effect.
    bool Invariant(const Expr* e, const std::set<std::string>& written) const
    {
        switch (e->kind) {
        case EK::Var:
            return !written.count(e->name);
        case EK::Assign:
        case EK::PreInc:
        case EK::PostInc:
        case EK::List:
            return false;
        case EK::Call:
            if (Callee(e))
                return false;
            break;
        default:
            break;
        }
        for (const auto& a : e->args)
            if (!Invariant(a.get(), written))
                return false;
        return true;
    }

    // A loop's code: what it adds to a run's length and, when its count is
    // not known, the counter that cuts it.
    class LoopScope {
    public:
        LoopScope(Generator* g, const Stmt* loop, LoopPlan plan)
            : g_(g), runs_(g->runs_), outer_(g->outerLoop_)
        {
            if (!g->outerLoop_)
                g->outerLoop_ = loop;
            if (plan.guarded) {
                guard_ = g->Alloc(1);
                g->MarkNamed(guard_, 1);
                g->Emit(OpMov, 1, guard_, g->Const(0.f));
            }
            g->runs_ *= plan.iterations + 1.0;
        }
        // At the top of each iteration: ends the loop past its bound.
        void Check()
        {
            if (guard_ < 0)
                return;
            int mark = g_->top_;
            g_->Emit(OpAdd, 1, guard_, guard_, g_->Const(1.f));
            int within = g_->Alloc(1);
            g_->Emit(OpLe, 1, within, guard_, g_->Const((float)kMaxLoopIterations));
            exit_ = g_->Emit(OpJz, 1, -1, within);
            g_->top_ = mark;
        }
        void End(int end)
        {
            if (exit_ != (size_t)-1)
                g_->code_[exit_].i0 = end;
        }
        ~LoopScope()
        {
            g_->runs_ = runs_;
            g_->outerLoop_ = outer_;
        }

    private:
        Generator* g_;
        double runs_;
        const Stmt* outer_;
        int guard_ = -1;
        size_t exit_ = (size_t)-1;
    };

    // --- Statements ---

    void Statement(const Stmt* s)
    {
        Nest nest(this, s->line, s->col);
        switch (s->kind) {
        case SK::Empty:
            return;
        case SK::Expr: {
            int mark = top_;
            Expression(s->expr.get());
            top_ = mark;
            return;
        }
        case SK::Decl:
            for (const Decl& d : s->decls) {
                if (d.type.base == Base::Void)
                    Fail(d.line, d.col, "'" + d.name + "': void variable");
                int off = Alloc(Floats(d.type));
                int mark = top_;
                if (d.init) {
                    if (d.init->kind == EK::List) {
                        InitList(d.init.get(), d.type, off);
                    } else {
                        Ref r;
                        r.t = d.type;
                        r.base = off;
                        Store(r, Expression(d.init.get()), d.init.get());
                    }
                }
                top_ = mark;
                Declare(d.name, d.type, off, d.line, d.col);
            }
            return;
        case SK::Block: {
            int mark = top_;
            scopes_.push_back({});
            for (const auto& b : s->body)
                Statement(b.get());
            scopes_.pop_back();
            top_ = mark;
            return;
        }
        case SK::If: {
            int mark = top_;
            Val c = ToScalar(Expression(s->expr.get()), s->expr.get());
            size_t jz = Emit(OpJz, 1, -1, c.off);
            top_ = mark;
            Scoped(s->body[0].get());
            if (s->body.size() > 1) {
                size_t jmp = Emit(OpJmp, 0, -1);
                code_[jz].i0 = (int)code_.size();
                Scoped(s->body[1].get());
                code_[jmp].i0 = (int)code_.size();
            } else {
                code_[jz].i0 = (int)code_.size();
            }
            return;
        }
        case SK::For:
        case SK::While: {
            int outer = top_;
            scopes_.push_back({});
            if (s->init)
                Statement(s->init.get());
            LoopScope bound(this, s, PlanLoop(s));
            int condAt = (int)code_.size();
            bound.Check();
            size_t jz = (size_t)-1;
            if (s->expr) {
                int mark = top_;
                Val c = ToScalar(Expression(s->expr.get()), s->expr.get());
                jz = Emit(OpJz, 1, -1, c.off);
                top_ = mark;
            }
            loops_.push_back({});
            Scoped(s->body[0].get());
            int stepAt = (int)code_.size();
            if (s->step) {
                int mark = top_;
                Expression(s->step.get());
                top_ = mark;
            }
            Emit(OpJmp, 0, -1, -1, -1, -1, 0, condAt);
            int end = (int)code_.size();
            bound.End(end);
            if (jz != (size_t)-1)
                code_[jz].i0 = end;
            for (size_t j : loops_.back().breaks)
                code_[j].i0 = end;
            for (size_t j : loops_.back().continues)
                code_[j].i0 = stepAt;
            loops_.pop_back();
            scopes_.pop_back();
            top_ = outer;
            return;
        }
        case SK::Do: {
            int outer = top_;
            LoopScope bound(this, s, PlanLoop(s));
            int bodyAt = (int)code_.size();
            bound.Check();
            loops_.push_back({});
            Scoped(s->body[0].get());
            int condAt = (int)code_.size();
            int mark = top_;
            Val c = ToScalar(Expression(s->expr.get()), s->expr.get());
            size_t jz = Emit(OpJz, 1, -1, c.off);
            top_ = mark;
            Emit(OpJmp, 0, -1, -1, -1, -1, 0, bodyAt);
            int end = (int)code_.size();
            bound.End(end);
            code_[jz].i0 = end;
            for (size_t j : loops_.back().breaks)
                code_[j].i0 = end;
            for (size_t j : loops_.back().continues)
                code_[j].i0 = condAt;
            loops_.pop_back();
            top_ = outer;
            return;
        }
        case SK::Return: {
            if (fns_.empty())
                Fail(s->line, s->col, "return outside a function");
            FnContext& fn = fns_.back();
            int mark = top_;
            if (s->expr) {
                if (fn.ret.t.base == Base::Void)
                    Fail(s->line, s->col, "void function returning a value");
                Ref r;
                r.t = fn.ret.t;
                r.base = fn.ret.off;
                Store(r, Expression(s->expr.get()), s->expr.get());
            } else if (fn.ret.t.base != Base::Void) {
                Fail(s->line, s->col, "function must return a value");
            }
            top_ = mark;
            fns_.back().returns.push_back(Emit(OpJmp, 0, -1));
            return;
        }
        case SK::Break:
        case SK::Continue:
            if (loops_.empty())
                Fail(s->line, s->col, std::string(s->kind == SK::Break ? "break" : "continue") +
                                          " must be inside a loop");
            (s->kind == SK::Break ? loops_.back().breaks : loops_.back().continues).push_back(Emit(OpJmp, 0, -1));
            return;
        case SK::Discard:
            Emit(OpDiscard, 0, -1);
            return;
        }
    }

    void Scoped(const Stmt* s)
    {
        int mark = top_;
        scopes_.push_back({});
        Statement(s);
        scopes_.pop_back();
        top_ = mark;
    }
};

void MarkInts(const CompiledEffect& fx, const TypeDesc& t, int off, std::vector<uint8_t>* mask)
{
    int count = t.arrayLen > 0 ? t.arrayLen : 1;
    TypeDesc one = t;
    one.arrayLen = 0;
    int size = TypeFloats(fx, one);
    for (int e = 0; e < count; ++e) {
        int base = off + e * size;
        if (t.base == Base::Struct) {
            for (const StructMember& m : fx.structs[t.structId].members)
                MarkInts(fx, m.type, base + m.offset, mask);
        } else if (t.base == Base::Int || t.base == Base::Bool) {
            for (int i = 0; i < size; ++i)
                (*mask)[base + i] = 1;
        }
    }
}

// A byte that cannot be printed (a NUL would end the text) is shown as \xHH.
std::string ErrorLine(const std::string& fileName, int line, int col, const std::string& message)
{
    char head[64];
    snprintf(head, sizeof head, "(%d,%d): error: ", line, col);
    std::string text = fileName + head;
    for (const char c : message) {
        const unsigned char u = (unsigned char)c;
        if (u >= 0x20 && u < 0x7F) {
            text += c;
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02X", u);
            text += escaped;
        }
    }
    return text + "\n";
}

}  // namespace

bool SourceFits(size_t bytes, const std::string& fileName, std::string* errors)
{
    if (bytes <= kMaxSourceBytes)
        return true;
    *errors += ErrorLine(fileName, 1, 1, "effect source too large: more than " + std::to_string(kMaxSourceBytes) +
                                             " bytes");
    return false;
}

bool HasTechnique(const CompiledEffect& fx, const std::string& fileName, std::string* errors)
{
    if (!fx.techniques.empty())
        return true;
    *errors += ErrorLine(fileName, 1, 1, "the effect has no technique");
    return false;
}

void OutOfMemory(const std::string& fileName, std::string* errors)
{
    *errors += ErrorLine(fileName, 1, 1, "not enough memory to compile the effect");
}

bool Compile(const std::string& source, const std::string& fileName,
             const std::vector<std::pair<std::string, std::string>>& defines, CompiledEffect* out,
             std::string* errors)
{
    *out = CompiledEffect();
    if (!SourceFits(source.size(), fileName, errors))
        return false;
    try {
        ParsedEffect parser = Parse(source, defines, out);

        // Globals: packed in declaration order.
        std::map<std::string, Var> globals;
        int offset = 0;
        for (GlobalAst& g : parser.globals) {
            const Decl& d = g.decl;
            if (d.type.base == Base::Void)
                Fail(d.line, d.col, "'" + d.name + "': void variable");
            g.offset = offset;
            TypeDesc td{d.type.base, d.type.shape, d.type.rows, d.type.cols, d.type.arrayLen, d.type.structId};
            out->globals.push_back(GlobalDesc{d.name, d.semantic, td, offset, g.isStatic});
            globals[d.name] = Var{d.type, offset, !g.isStatic};
            offset += TypeFloats(*out, td);
        }
        out->store.assign(offset, 0.f);
        out->intWords.assign(offset, 0);
        for (const GlobalDesc& g : out->globals)
            MarkInts(*out, g.type, g.offset, &out->intWords);

        Generator gen(out, &parser);
        std::map<std::string, long long> registers;
        for (const GlobalAst& g : parser.globals)
            registers[g.decl.name] = g.registers;
        gen.SetGlobals(globals, registers);
        Program init = gen.GlobalInitialiser(parser.globals);
        std::vector<float> frame = init.initial;
        init.Run(frame.data());
        std::copy(frame.begin(), frame.begin() + offset, out->store.begin());

        // What the programs take, in floats.
        long long programFloats = 0;
        auto count = [&](const Program& p, const ShaderRef& ref) {
            programFloats += (long long)p.initial.size() + (long long)p.tables.size() +
                             (long long)(p.code.size() * sizeof(Instr) / sizeof(float));
            if (programFloats > kMaxProgramFloats)
                Fail(ref.line, ref.col, "effect too large: its shaders take more than " +
                                            std::to_string(kMaxProgramFloats * sizeof(float) >> 20) + " MB");
        };
        for (const TechniqueAst& t : parser.techniques) {
            TechniqueDesc td;
            td.name = t.name;
            // What the technique's passes together take a vertex and a pixel.
            double runSlots[2] = {0.0, 0.0};
            auto weigh = [&](const ShaderRef& ref, bool pixel) {
                runSlots[pixel] += gen.RunSlots();
                const int limit = pixel ? kMaxPixelSlots : kMaxVertexSlots;
                if (runSlots[pixel] > limit)
                    Fail(ref.line, ref.col, "technique '" + t.name + "': its " + (pixel ? "pixel" : "vertex") +
                                                " shaders take more than " + std::to_string(limit) +
                                                " instruction slots a " + (pixel ? "pixel" : "vertex") +
                                                ", loops at their bound");
            };
            for (const PassAst& p : t.passes) {
                PassDesc pd;
                pd.name = p.name;
                pd.states = p.states;
                if (p.vs.set) {
                    pd.vsSet = true;
                    if (!p.vs.null) {
                        pd.vs = std::make_shared<Program>(gen.Entry(p.vs, false));
                        count(*pd.vs, p.vs);
                        weigh(p.vs, false);
                        pd.vsMajor = p.vs.major;
                        pd.vsMinor = p.vs.minor;
                    }
                }
                if (p.ps.set) {
                    pd.psSet = true;
                    if (!p.ps.null) {
                        pd.ps = std::make_shared<Program>(gen.Entry(p.ps, true));
                        count(*pd.ps, p.ps);
                        weigh(p.ps, true);
                        pd.psMajor = p.ps.major;
                        pd.psMinor = p.ps.minor;
                    }
                }
                td.passes.push_back(std::move(pd));
            }
            out->techniques.push_back(std::move(td));
        }
        out->functions = (int)parser.functions.size();
        return true;
    } catch (const CompileError& e) {
        *errors += ErrorLine(fileName, e.line, e.col, e.message);
        *out = CompiledEffect();
        return false;
    }
}

}  // namespace fx
