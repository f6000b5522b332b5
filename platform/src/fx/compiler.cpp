// Effect compiler: a preprocessor for object-like macros and a
// recursive-descent parser of the HLSL effect language into a syntax tree,
// which the code generator (fx_codegen.cpp) turns into flat programs.
#include "fx/compiler_internal.h"

#include <ctype.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <functional>
#include <map>
#include <set>

namespace fx {

int TypeFloats(const CompiledEffect& fx, const TypeDesc& t)
{
    // The parser refuses types past kMaxTypeFloats, so this stays far below INT_MAX.
    long long one = t.base == Base::Struct ? fx.structs[t.structId].size : t.rows * t.cols;
    long long all = one * (t.arrayLen > 0 ? t.arrayLen : 1);
    return all > INT_MAX ? INT_MAX : (int)all;
}

namespace {

// --- Tokens --------------------------------------------------------------------

enum class Tok { End, Ident, Int, Float, String, Punct };

struct Token {
    Tok kind = Tok::End;
    std::string text;
    double value = 0.0;
    int line = 1, col = 1;
};

const char* const kPuncts[] = {"<<=", ">>=", "++", "--", "+=", "-=", "*=", "/=", "%=", "==", "!=", "<=", ">=",
                               "&&", "||", "<<", ">>", "::"};

// From byte `start` on (past a byte-order mark: columns count from there).
// A comment left open is an error in a whole source; in a line of it (a
// directive, a macro's definition) it runs to the end.
std::vector<Token> Lex(const std::string& src, size_t start = 0, bool wholeSource = false)
{
    std::vector<Token> out;
    size_t i = start;
    int line = 1, lineStart = (int)start;
    const size_t n = src.size();
    while (i < n) {
        char c = src[i];
        if (c == '\n') {
            ++line;
            lineStart = (int)i + 1;
            ++i;
            continue;
        }
        if (isspace((unsigned char)c)) {
            ++i;
            continue;
        }
        if (c == '/' && i + 1 < n && src[i + 1] == '/') {
            while (i < n && src[i] != '\n')
                ++i;
            continue;
        }
        if (c == '/' && i + 1 < n && src[i + 1] == '*') {
            const int openLine = line, openCol = (int)i - lineStart + 1;
            i += 2;
            while (i + 1 < n && !(src[i] == '*' && src[i + 1] == '/')) {
                if (src[i] == '\n') {
                    ++line;
                    lineStart = (int)i + 1;
                }
                ++i;
            }
            if (i + 1 >= n && wholeSource)
                Fail(openLine, openCol, "unterminated comment");
            i = i + 2 > n ? n : i + 2;
            continue;
        }
        Token t;
        t.line = line;
        t.col = (int)i - lineStart + 1;
        if (isalpha((unsigned char)c) || c == '_') {
            size_t s = i;
            while (i < n && (isalnum((unsigned char)src[i]) || src[i] == '_'))
                ++i;
            t.kind = Tok::Ident;
            t.text = src.substr(s, i - s);
        } else if (isdigit((unsigned char)c) || (c == '.' && i + 1 < n && isdigit((unsigned char)src[i + 1]))) {
            size_t s = i;
            bool isFloat = false;
            if (c == '0' && i + 1 < n && (src[i + 1] == 'x' || src[i + 1] == 'X')) {
                i += 2;
                while (i < n && isxdigit((unsigned char)src[i]))
                    ++i;
                t.value = (double)strtoll(src.substr(s, i - s).c_str(), nullptr, 16);
            } else {
                while (i < n && isdigit((unsigned char)src[i]))
                    ++i;
                if (i < n && src[i] == '.') {
                    isFloat = true;
                    ++i;
                    while (i < n && isdigit((unsigned char)src[i]))
                        ++i;
                }
                if (i < n && (src[i] == 'e' || src[i] == 'E')) {
                    size_t save = i;
                    ++i;
                    if (i < n && (src[i] == '+' || src[i] == '-'))
                        ++i;
                    if (i < n && isdigit((unsigned char)src[i])) {
                        isFloat = true;
                        while (i < n && isdigit((unsigned char)src[i]))
                            ++i;
                    } else {
                        i = save;
                    }
                }
                t.value = strtod(src.substr(s, i - s).c_str(), nullptr);
            }
            if (i < n && (src[i] == 'f' || src[i] == 'F' || src[i] == 'h' || src[i] == 'H')) {
                isFloat = true;
                ++i;
            } else if (i < n && (src[i] == 'u' || src[i] == 'U' || src[i] == 'l' || src[i] == 'L')) {
                ++i;
            }
            t.kind = isFloat ? Tok::Float : Tok::Int;
            t.text = src.substr(s, i - s);
        } else if (c == '"') {
            size_t s = ++i;
            while (i < n && src[i] != '"' && src[i] != '\n')
                ++i;
            if (i >= n || src[i] != '"')
                Fail(line, t.col, "unterminated string");
            t.kind = Tok::String;
            t.text = src.substr(s, i - s);
            ++i;
        } else if (c == '#') {
            // A preprocessor line: kept as one token with the rest of the line.
            size_t s = i;
            while (i < n && src[i] != '\n') {
                if (src[i] == '\\' && i + 1 < n && src[i + 1] == '\n') {
                    ++line;
                    lineStart = (int)i + 2;
                    i += 2;
                    continue;
                }
                ++i;
            }
            t.kind = Tok::Punct;
            t.text = src.substr(s, i - s);
        } else {
            t.kind = Tok::Punct;
            t.text = std::string(1, c);
            for (const char* p : kPuncts) {
                size_t len = strlen(p);
                if (src.compare(i, len, p) == 0) {
                    t.text = p;
                    break;
                }
            }
            i += t.text.size();
        }
        if (out.size() >= (size_t)kMaxTokens)
            Fail(t.line, t.col, "too many tokens: more than " + std::to_string(kMaxTokens));
        out.push_back(std::move(t));
    }
    Token end;
    end.line = line;
    end.col = (int)n - lineStart + 1;
    out.push_back(end);
    return out;
}

// Object-like #define, #undef, #ifdef, #ifndef, #else, #endif; #include is refused.
std::vector<Token> Preprocess(const std::vector<Token>& in,
                              const std::vector<std::pair<std::string, std::string>>& defines)
{
    std::map<std::string, std::vector<Token>> macros;
    for (const auto& d : defines) {
        std::vector<Token> body = Lex(d.second);
        body.pop_back();
        macros[d.first] = body;
    }
    std::vector<Token> out;
    std::vector<std::pair<bool, bool>> conds;  // active, an earlier branch was taken
    int inactive = 0;  // conditions in `conds` whose branch is off
    // Tokens written and macros expanded: empty expansions cost work too.
    long long work = 0;
    std::vector<const std::string*> expanding;
    std::function<void(const Token&)> emit;
    emit = [&](const Token& t) {
        // Macros of macros can grow without end; no real source comes near this.
        if (++work > kMaxExpansion)
            Fail(t.line, t.col, "macro expansion too large");
        if (t.kind == Tok::Ident) {
            auto it = macros.find(t.text);
            if (it != macros.end()) {
                bool open = false;
                for (const std::string* name : expanding)
                    open |= *name == t.text;
                if (!open) {
                    if ((int)expanding.size() >= kMaxNesting)
                        Fail(t.line, t.col, "macros nested too deeply");
                    expanding.push_back(&it->first);
                    for (Token m : it->second) {
                        m.line = t.line;
                        m.col = t.col;
                        emit(m);
                    }
                    expanding.pop_back();
                    return;
                }
            }
        }
        out.push_back(t);
    };
    for (const Token& t : in) {
        if (t.kind == Tok::Punct && t.text[0] == '#') {
            std::vector<Token> words = Lex(t.text.substr(1));
            words.pop_back();
            std::string dir = words.empty() ? "" : words[0].text;
            std::string name = words.size() > 1 ? words[1].text : "";
            if (dir == "ifdef" || dir == "ifndef") {
                bool defined = macros.count(name) != 0;
                bool on = dir == "ifdef" ? defined : !defined;
                if ((int)conds.size() >= kMaxConditionNesting)
                    Fail(t.line, t.col, "#ifdef and #ifndef nested too deeply: more than " +
                                            std::to_string(kMaxConditionNesting) + " levels");
                conds.push_back({on, on});
                inactive += !on;
            } else if (dir == "else") {
                if (conds.empty())
                    Fail(t.line, t.col, "#else without #if");
                bool on = !conds.back().second;
                inactive += (int)conds.back().first - (int)on;
                conds.back().first = on;
                conds.back().second = true;
            } else if (dir == "endif") {
                if (conds.empty())
                    Fail(t.line, t.col, "#endif without #if");
                inactive -= !conds.back().first;
                conds.pop_back();
            } else if (inactive) {
                continue;
            } else if (dir == "define") {
                if (name.empty())
                    Fail(t.line, t.col, "#define without a name");
                if (t.text.find(name + "(") != std::string::npos)
                    Fail(t.line, t.col, "macros with arguments are not supported");
                std::vector<Token> body(words.begin() + 2, words.end());
                macros[name] = body;
            } else if (dir == "undef") {
                macros.erase(name);
            } else if (dir == "pragma" || dir == "line") {
            } else if (dir == "include") {
                Fail(t.line, t.col, "#include is not supported");
            } else {
                Fail(t.line, t.col, "unknown preprocessor directive '#" + dir + "'");
            }
            continue;
        }
        if (inactive && t.kind != Tok::End)
            continue;
        emit(t);
    }
    if (!conds.empty())
        Fail(in.back().line, in.back().col, "missing #endif");
    return out;
}

// --- Render states of passes -----------------------------------------------------

struct StateName {
    const char* name;
    DWORD state;
};
const StateName kStates[] = {
    {"ZEnable", D3DRS_ZENABLE},
    {"FillMode", D3DRS_FILLMODE},
    {"ShadeMode", D3DRS_SHADEMODE},
    {"ZWriteEnable", D3DRS_ZWRITEENABLE},
    {"AlphaTestEnable", D3DRS_ALPHATESTENABLE},
    {"LastPixel", D3DRS_LASTPIXEL},
    {"SrcBlend", D3DRS_SRCBLEND},
    {"DestBlend", D3DRS_DESTBLEND},
    {"CullMode", D3DRS_CULLMODE},
    {"ZFunc", D3DRS_ZFUNC},
    {"AlphaRef", D3DRS_ALPHAREF},
    {"AlphaFunc", D3DRS_ALPHAFUNC},
    {"DitherEnable", D3DRS_DITHERENABLE},
    {"AlphaBlendEnable", D3DRS_ALPHABLENDENABLE},
    {"FogEnable", D3DRS_FOGENABLE},
    {"SpecularEnable", D3DRS_SPECULARENABLE},
    {"StencilEnable", D3DRS_STENCILENABLE},
    {"TextureFactor", D3DRS_TEXTUREFACTOR},
    {"Lighting", D3DRS_LIGHTING},
    {"Ambient", D3DRS_AMBIENT},
    {"ColorVertex", D3DRS_COLORVERTEX},
    {"LocalViewer", D3DRS_LOCALVIEWER},
    {"NormalizeNormals", D3DRS_NORMALIZENORMALS},
    {"ColorWriteEnable", D3DRS_COLORWRITEENABLE},
    {"BlendOp", D3DRS_BLENDOP},
};

struct ValueName {
    const char* name;
    DWORD value;
};
const ValueName kValues[] = {
    {"true", 1}, {"false", 0},
    {"Zero", D3DBLEND_ZERO}, {"One", D3DBLEND_ONE}, {"SrcColor", D3DBLEND_SRCCOLOR},
    {"InvSrcColor", D3DBLEND_INVSRCCOLOR}, {"SrcAlpha", D3DBLEND_SRCALPHA}, {"InvSrcAlpha", D3DBLEND_INVSRCALPHA},
    {"DestAlpha", D3DBLEND_DESTALPHA}, {"InvDestAlpha", D3DBLEND_INVDESTALPHA}, {"DestColor", D3DBLEND_DESTCOLOR},
    {"InvDestColor", D3DBLEND_INVDESTCOLOR}, {"SrcAlphaSat", D3DBLEND_SRCALPHASAT},
    {"None", D3DCULL_NONE}, {"CW", D3DCULL_CW}, {"CCW", D3DCULL_CCW},
    {"Never", D3DCMP_NEVER}, {"Less", D3DCMP_LESS}, {"Equal", D3DCMP_EQUAL}, {"LessEqual", D3DCMP_LESSEQUAL},
    {"Greater", D3DCMP_GREATER}, {"NotEqual", D3DCMP_NOTEQUAL}, {"GreaterEqual", D3DCMP_GREATEREQUAL},
    {"Always", D3DCMP_ALWAYS},
    {"Point", D3DFILL_POINT}, {"Wireframe", D3DFILL_WIREFRAME}, {"Solid", D3DFILL_SOLID},
    {"Flat", D3DSHADE_FLAT}, {"Gouraud", D3DSHADE_GOURAUD}, {"Phong", D3DSHADE_PHONG},
    {"Add", D3DBLENDOP_ADD}, {"Subtract", D3DBLENDOP_SUBTRACT}, {"RevSubtract", D3DBLENDOP_REVSUBTRACT},
    {"Min", D3DBLENDOP_MIN}, {"Max", D3DBLENDOP_MAX},
};

// --- Parser ------------------------------------------------------------------------

class Parser {
public:
    Parser(std::vector<Token> tokens, CompiledEffect* fx) : t_(std::move(tokens)), fx_(fx) {}

    std::vector<Function> functions;
    std::vector<GlobalAst> globals;
    std::vector<TechniqueAst> techniques;
    std::vector<std::unique_ptr<Function>> owned;

    void ParseAll()
    {
        while (Peek().kind != Tok::End)
            TopLevel();
    }

    bool IsTypeName(const Token& tk, Type* out = nullptr) const
    {
        if (tk.kind != Tok::Ident)
            return false;
        Type t;
        if (BuiltinType(tk.text, &t) || StructType(tk.text, &t)) {
            if (out)
                *out = t;
            return true;
        }
        return false;
    }

private:
    std::vector<Token> t_;
    size_t p_ = 0;
    CompiledEffect* fx_;
    int nesting_ = 0;
    // Per structure: the parameter handles below one of its values (members
    // and their elements) and the constant registers it takes.
    std::vector<long long> structNodes_, structRegisters_;
    long long parameterFloats_ = 0, parameterNodes_ = 0;
    std::set<std::string> globalNames_;

    // Counts one level of the parser's recursion while it lives.
    struct Nest {
        Nest(Parser* parser, const Token& at) : p(parser)
        {
            if (++p->nesting_ > kMaxNesting)
                Fail(at.line, at.col, "nesting too deep");
        }
        ~Nest() { --p->nesting_; }
        Parser* p;
    };

    // Chains such as a + b + c deepen the tree without recursing here.
    static void Add(ExprPtr& parent, ExprPtr child)
    {
        if (child->depth >= kMaxNesting)
            Fail(child->line, child->col, "expression nested too deeply");
        parent->depth = std::max(parent->depth, child->depth + 1);
        parent->args.push_back(std::move(child));
    }

    const Token& Peek(int k = 0) const { return t_[std::min(p_ + k, t_.size() - 1)]; }
    const Token& Next()
    {
        const Token& tk = t_[p_];
        if (p_ + 1 < t_.size())
            ++p_;
        return tk;
    }
    bool Is(const char* text, int k = 0) const
    {
        const Token& tk = Peek(k);
        return (tk.kind == Tok::Punct || tk.kind == Tok::Ident) && tk.text == text;
    }
    bool Accept(const char* text)
    {
        if (Is(text)) {
            Next();
            return true;
        }
        return false;
    }
    [[noreturn]] void Unexpected(const Token& tk)
    {
        std::string what = tk.kind == Tok::End ? "end of file" : "'" + tk.text + "'";
        Fail(tk.line, tk.col, "syntax error: unexpected " + what);
    }
    void Expect(const char* text)
    {
        if (!Accept(text)) {
            const Token& tk = Peek();
            std::string what = tk.kind == Tok::End ? "end of file" : "'" + tk.text + "'";
            Fail(tk.line, tk.col, std::string("syntax error: expected '") + text + "' before " + what);
        }
    }
    std::string Ident()
    {
        const Token& tk = Peek();
        if (tk.kind != Tok::Ident)
            Unexpected(tk);
        Next();
        return tk.text;
    }

    static bool BuiltinType(const std::string& s, Type* out)
    {
        static const struct {
            const char* prefix;
            Base base;
        } kBases[] = {{"float", Base::Float}, {"half", Base::Float}, {"double", Base::Float},
                      {"int", Base::Int},     {"uint", Base::Int},   {"bool", Base::Bool}};
        if (s == "void") {
            *out = Scalar(Base::Void);
            return true;
        }
        for (const auto& b : kBases) {
            size_t len = strlen(b.prefix);
            if (s.compare(0, len, b.prefix) != 0)
                continue;
            std::string rest = s.substr(len);
            Type t;
            t.base = b.base;
            if (rest.empty())
                return *out = t, true;
            if (rest.size() == 1 && rest[0] >= '1' && rest[0] <= '4') {
                *out = Vector(b.base, rest[0] - '0');
                return true;
            }
            if (rest.size() == 3 && rest[0] >= '1' && rest[0] <= '4' && rest[1] == 'x' && rest[2] >= '1' &&
                rest[2] <= '4') {
                t.shape = Shape::Matrix;
                t.rows = rest[0] - '0';
                t.cols = rest[2] - '0';
                *out = t;
                return true;
            }
        }
        if (s == "matrix") {
            Type t;
            t.base = Base::Float;
            t.shape = Shape::Matrix;
            t.rows = t.cols = 4;
            *out = t;
            return true;
        }
        if (s == "vector") {
            *out = Vector(Base::Float, 4);
            return true;
        }
        return false;
    }
    bool StructType(const std::string& s, Type* out) const
    {
        for (size_t i = 0; i < fx_->structs.size(); ++i)
            if (fx_->structs[i].name == s) {
                Type t;
                t.base = Base::Struct;
                t.structId = (int)i;
                *out = t;
                return true;
            }
        return false;
    }

    Type ParseType()
    {
        while (Is("const") || Is("row_major") || Is("column_major") || Is("inline"))
            Next();
        const Token& tk = Peek();
        Type t;
        if (tk.kind == Tok::Ident && (tk.text == "texture" || tk.text.compare(0, 7, "sampler") == 0 ||
                                      tk.text.compare(0, 7, "Texture") == 0 || tk.text == "string"))
            Fail(tk.line, tk.col, "type '" + tk.text + "' is not supported");
        if (!IsTypeName(tk, &t)) {
            if (tk.kind == Tok::Ident)
                Fail(tk.line, tk.col, "unknown type '" + tk.text + "'");
            Unexpected(tk);
        }
        Next();
        return t;
    }

    int ConstInt()
    {
        const Token& tk = Peek();
        if (tk.kind != Tok::Int)
            Fail(tk.line, tk.col, "array size must be an integer literal");
        Next();
        if (tk.value < 1 || tk.value > 4096)
            Fail(tk.line, tk.col, "array size out of range");
        return (int)tk.value;
    }

    // Sizes of a type: floats of its value, parameter handles of it (itself,
    // its elements, members and theirs), constant registers it takes (a row of a
    // column-major matrix, a vector or a scalar each take one). Element counts are
    // at most 4096 and an element's floats at most kMaxTypeFloats, so the
    // products fit; handles and registers multiply across levels and saturate.
    static long long Saturated(long long v) { return std::min(v, 1LL << 40); }

    long long FloatsOf(const Type& t) const
    {
        long long one = t.IsStruct() ? fx_->structs[t.structId].size : t.rows * t.cols;
        return one * (t.IsArray() ? t.arrayLen : 1);
    }

    long long NodesOf(const Type& t) const
    {
        long long one = 1 + (t.IsStruct() ? structNodes_[t.structId] : 0);
        return t.IsArray() ? Saturated(1 + t.arrayLen * one) : one;
    }

    long long RegistersOf(const Type& t) const
    {
        long long one = t.IsStruct() ? structRegisters_[t.structId] : t.shape == Shape::Matrix ? t.cols : 1;
        return Saturated(one * (t.IsArray() ? t.arrayLen : 1));
    }

    // Refuses a value too large for a shader's frame.
    void CheckSize(const Type& t, const std::string& name, const Token& at) const
    {
        if (FloatsOf(t) > kMaxTypeFloats)
            Fail(at.line, at.col,
                 "'" + name + "': type too large: more than " + std::to_string(kMaxTypeFloats) + " floats");
    }

    void SkipAnnotations()
    {
        if (!Is("<"))
            return;
        int depth = 0;
        do {
            const Token& tk = Next();
            if (tk.kind == Tok::End)
                Unexpected(tk);
            if (tk.text == "<")
                ++depth;
            else if (tk.text == ">")
                --depth;
        } while (depth > 0);
    }

    std::string Semantic()
    {
        if (Accept(":"))
            return Ident();
        return std::string();
    }

    void TopLevel()
    {
        if (Accept(";"))
            return;
        if (Is("struct")) {
            StructDef();
            return;
        }
        if (Is("technique") || Is("technique9")) {
            Technique();
            return;
        }
        bool isStatic = false, isUniform = false;
        for (;;) {
            if (Accept("static"))
                isStatic = true;
            else if (Accept("uniform") || Accept("extern") || Accept("shared") || Accept("volatile"))
                isUniform = true;
            else if (Is("const") || Is("row_major") || Is("column_major") || Is("inline"))
                Next();
            else
                break;
        }
        (void)isUniform;
        const Token& start = Peek();
        Type type = ParseType();
        const Token& nameTok = Peek();
        std::string name = Ident();
        if (Is("(")) {
            FunctionDef(type, name, nameTok);
            return;
        }
        const Token* at = &nameTok;
        for (;;) {
            GlobalAst g;
            g.isStatic = isStatic;
            g.decl.type = type;
            g.decl.name = name;
            g.decl.line = at->line;
            g.decl.col = at->col;
            if (Accept("[")) {
                g.decl.type.arrayLen = ConstInt();
                Expect("]");
            }
            CheckSize(g.decl.type, name, *at);
            // The effect keeps every global as a parameter: bounded in floats and handles.
            parameterFloats_ += FloatsOf(g.decl.type);
            parameterNodes_ += NodesOf(g.decl.type);
            if (parameterFloats_ > kMaxParameterFloats)
                Fail(at->line, at->col, "'" + name + "': effect parameters too large: more than " +
                                            std::to_string(kMaxParameterFloats) + " floats");
            if (parameterNodes_ > kMaxParameterNodes)
                Fail(at->line, at->col, "'" + name + "': too many effect parameters: more than " +
                                            std::to_string(kMaxParameterNodes) + " parameters, elements and members");
            g.registers = RegistersOf(g.decl.type);
            g.decl.semantic = Semantic();
            SkipAnnotations();
            if (Accept("="))
                g.decl.init = Initializer();
            if (!globalNames_.insert(name).second)
                Fail(at->line, at->col, "redefinition of '" + name + "'");
            globals.push_back(std::move(g));
            if (!Accept(","))
                break;
            at = &Peek();
            name = Ident();
        }
        (void)start;
        Expect(";");
    }

    void StructDef()
    {
        Expect("struct");
        const Token& nameTok = Peek();
        StructDesc s;
        s.name = Ident();
        Type dummy;
        if (IsTypeName(nameTok, &dummy))
            Fail(nameTok.line, nameTok.col, "redefinition of '" + s.name + "'");
        Expect("{");
        long long size = 0, nodes = 0, registers = 0;
        while (!Accept("}")) {
            while (Accept("linear") || Accept("centroid") || Accept("nointerpolation") || Accept("noperspective"))
                ;
            Type t = ParseType();
            if (t.base == Base::Void)
                Fail(nameTok.line, nameTok.col, "void member");
            do {
                StructMember m;
                const Token& memberTok = Peek();
                m.name = Ident();
                Type mt = t;
                if (Accept("[")) {
                    mt.arrayLen = ConstInt();
                    Expect("]");
                }
                m.semantic = Semantic();
                m.type = TypeDesc{mt.base, mt.shape, mt.rows, mt.cols, mt.arrayLen, mt.structId};
                m.offset = (int)size;
                size += FloatsOf(mt);
                if (size > kMaxTypeFloats)
                    Fail(memberTok.line, memberTok.col, "'" + s.name + "': type too large: more than " +
                                                            std::to_string(kMaxTypeFloats) + " floats");
                nodes = Saturated(nodes + NodesOf(mt));
                registers = Saturated(registers + RegistersOf(mt));
                s.members.push_back(m);
            } while (Accept(","));
            Expect(";");
        }
        Expect(";");
        s.size = (int)size;
        fx_->structs.push_back(s);
        structNodes_.push_back(nodes);
        structRegisters_.push_back(registers);
    }

    void FunctionDef(const Type& ret, const std::string& name, const Token& at)
    {
        Function f;
        f.name = name;
        f.ret = ret;
        f.line = at.line;
        f.col = at.col;
        Expect("(");
        if (!Is(")") && !(Is("void") && Is(")", 1))) {
            do {
                Param p;
                for (;;) {
                    if (Accept("in")) {
                        p.in = true;
                    } else if (Accept("out")) {
                        p.out = true;
                        p.in = false;
                    } else if (Accept("inout")) {
                        p.in = p.out = true;
                    } else if (Accept("uniform")) {
                        p.uniform = true;
                    } else if (Accept("const") || Accept("linear") || Accept("centroid")) {
                    } else {
                        break;
                    }
                }
                p.type = ParseType();
                const Token& paramTok = Peek();
                p.name = Ident();
                if (Accept("[")) {
                    p.type.arrayLen = ConstInt();
                    Expect("]");
                }
                CheckSize(p.type, p.name, paramTok);
                p.semantic = Semantic();
                if (Accept("="))
                    Initializer();  // default values are not used by the compiler
                f.params.push_back(std::move(p));
            } while (Accept(","));
        } else if (Is("void")) {
            Next();
        }
        Expect(")");
        f.semantic = Semantic();
        if (Accept(";"))
            return;  // a declaration only
        if (!Is("{"))
            Unexpected(Peek());
        f.body = Block();
        functions.push_back(std::move(f));
    }

    ShaderRef ShaderAssignment()
    {
        ShaderRef r;
        r.set = true;
        const Token& tk = Peek();
        r.line = tk.line;
        r.col = tk.col;
        if (Accept("NULL") || Accept("null")) {
            r.null = true;
            return r;
        }
        Expect("compile");
        const Token& prof = Peek();
        r.profile = Ident();
        std::string p = r.profile;
        if (p.size() < 6 || (p.compare(0, 3, "vs_") != 0 && p.compare(0, 3, "ps_") != 0) || !isdigit((unsigned char)p[3]) ||
            p[4] != '_')
            Fail(prof.line, prof.col, "unknown shader profile '" + p + "'");
        r.major = p[3] - '0';
        r.minor = isdigit((unsigned char)p[5]) ? p[5] - '0' : (p[5] == 'a' || p[5] == 'b' ? 1 : -1);
        if (r.minor < 0 || r.major < 1 || r.major > 3)
            Fail(prof.line, prof.col, "unknown shader profile '" + p + "'");
        r.function = Ident();
        Expect("(");
        if (!Is(")")) {
            do
                r.args.push_back(Assignment());
            while (Accept(","));
        }
        Expect(")");
        return r;
    }

    void Technique()
    {
        Next();
        TechniqueAst tech;
        if (Peek().kind == Tok::Ident)
            tech.name = Ident();
        SkipAnnotations();
        Expect("{");
        while (!Accept("}")) {
            const Token& passTok = Peek();
            Expect("pass");
            if (tech.passes.size() >= (size_t)kMaxPasses)
                Fail(passTok.line, passTok.col, "technique '" + tech.name + "': more than " +
                                                    std::to_string(kMaxPasses) + " passes");
            PassAst pass;
            if (Peek().kind == Tok::Ident)
                pass.name = Ident();
            SkipAnnotations();
            Expect("{");
            while (!Accept("}")) {
                const Token& st = Peek();
                std::string state = Ident();
                if (Accept("[")) {
                    ConstInt();
                    Expect("]");
                }
                Expect("=");
                if (strcasecmp(state.c_str(), "VertexShader") == 0) {
                    pass.vs = ShaderAssignment();
                } else if (strcasecmp(state.c_str(), "PixelShader") == 0) {
                    pass.ps = ShaderAssignment();
                } else {
                    const StateName* found = nullptr;
                    for (const auto& s : kStates)
                        if (strcasecmp(s.name, state.c_str()) == 0)
                            found = &s;
                    if (!found)
                        Fail(st.line, st.col, "unknown pass state '" + state + "'");
                    pass.states.push_back({found->state, StateValue()});
                }
                Expect(";");
            }
            tech.passes.push_back(std::move(pass));
        }
        techniques.push_back(std::move(tech));
    }

    // A literal's whole part; numbers past the range of long long stop at
    // its ends (the state takes their low 32 bits, as of any number).
    static long long WholeNumber(double v)
    {
        if (!(v == v))
            return 0;
        if (v >= 9.2e18)
            return LLONG_MAX;
        if (v <= -9.2e18)
            return LLONG_MIN + 1;
        return (long long)v;
    }

    DWORD StateValue()
    {
        const Token& tk = Peek();
        bool neg = Accept("-");
        const Token& v = Next();
        if (v.kind == Tok::Int || v.kind == Tok::Float)
            return (DWORD)(neg ? -WholeNumber(v.value) : WholeNumber(v.value));
        if (v.kind == Tok::Ident) {
            for (const auto& val : kValues)
                if (strcasecmp(val.name, v.text.c_str()) == 0)
                    return val.value;
            std::string s = v.text;
            // D3DBLEND_SRCALPHA and the like are accepted with their prefix.
            size_t us = s.find('_');
            if (us != std::string::npos) {
                std::string tail = s.substr(us + 1);
                for (const auto& val : kValues) {
                    std::string nm = val.name;
                    if (strcasecmp(nm.c_str(), tail.c_str()) == 0)
                        return val.value;
                }
            }
            Fail(v.line, v.col, "unknown state value '" + v.text + "'");
        }
        Unexpected(tk);
    }

    // --- Statements ---

    StmtPtr MakeStmt(SK kind, const Token& at)
    {
        StmtPtr s(new Stmt);
        s->kind = kind;
        s->line = at.line;
        s->col = at.col;
        return s;
    }

    StmtPtr Block()
    {
        const Token& at = Peek();
        Expect("{");
        StmtPtr b = MakeStmt(SK::Block, at);
        while (!Accept("}")) {
            if (Peek().kind == Tok::End)
                Unexpected(Peek());
            b->body.push_back(Statement());
        }
        return b;
    }

    bool StartsDecl()
    {
        int k = 0;
        while (Is("const", k) || Is("static", k) || Is("uniform", k))
            ++k;
        return IsTypeName(Peek(k)) && Peek(k + 1).kind == Tok::Ident;
    }

    StmtPtr DeclStatement()
    {
        const Token& at = Peek();
        while (Accept("static") || Accept("uniform"))
            ;
        Type t = ParseType();
        StmtPtr s = MakeStmt(SK::Decl, at);
        do {
            Decl d;
            const Token& nm = Peek();
            d.line = nm.line;
            d.col = nm.col;
            d.name = Ident();
            d.type = t;
            if (Accept("[")) {
                d.type.arrayLen = ConstInt();
                Expect("]");
            }
            CheckSize(d.type, d.name, nm);
            d.semantic = Semantic();
            if (Accept("="))
                d.init = Initializer();
            s->decls.push_back(std::move(d));
        } while (Accept(","));
        Expect(";");
        return s;
    }

    StmtPtr Statement()
    {
        const Token& at = Peek();
        Nest nest(this, at);
        while (Is("[")) {  // attributes such as [unroll]
            while (!Accept("]")) {
                if (Peek().kind == Tok::End)
                    Unexpected(Peek());
                Next();
            }
        }
        if (Is("{"))
            return Block();
        if (Accept(";"))
            return MakeStmt(SK::Empty, at);
        if (Accept("if")) {
            StmtPtr s = MakeStmt(SK::If, at);
            Expect("(");
            s->expr = Expression();
            Expect(")");
            s->body.push_back(Statement());
            if (Accept("else"))
                s->body.push_back(Statement());
            return s;
        }
        if (Accept("for")) {
            StmtPtr s = MakeStmt(SK::For, at);
            Expect("(");
            if (StartsDecl()) {
                s->init = DeclStatement();
            } else if (!Accept(";")) {
                StmtPtr e = MakeStmt(SK::Expr, Peek());
                e->expr = Expression();
                Expect(";");
                s->init = std::move(e);
            }
            if (!Is(";"))
                s->expr = Expression();
            Expect(";");
            if (!Is(")"))
                s->step = Expression();
            Expect(")");
            s->body.push_back(Statement());
            return s;
        }
        if (Accept("while")) {
            StmtPtr s = MakeStmt(SK::While, at);
            Expect("(");
            s->expr = Expression();
            Expect(")");
            s->body.push_back(Statement());
            return s;
        }
        if (Accept("do")) {
            StmtPtr s = MakeStmt(SK::Do, at);
            s->body.push_back(Statement());
            Expect("while");
            Expect("(");
            s->expr = Expression();
            Expect(")");
            Expect(";");
            return s;
        }
        if (Accept("return")) {
            StmtPtr s = MakeStmt(SK::Return, at);
            if (!Is(";"))
                s->expr = Expression();
            Expect(";");
            return s;
        }
        if (Accept("break")) {
            Expect(";");
            return MakeStmt(SK::Break, at);
        }
        if (Accept("continue")) {
            Expect(";");
            return MakeStmt(SK::Continue, at);
        }
        if (Accept("discard")) {
            Expect(";");
            return MakeStmt(SK::Discard, at);
        }
        if (StartsDecl())
            return DeclStatement();
        StmtPtr s = MakeStmt(SK::Expr, at);
        s->expr = Expression();
        Expect(";");
        return s;
    }

    // --- Expressions ---

    ExprPtr Make(EK kind, const Token& at)
    {
        ExprPtr e(new Expr);
        e->kind = kind;
        e->line = at.line;
        e->col = at.col;
        return e;
    }

    ExprPtr Initializer()
    {
        const Token& at = Peek();
        Nest nest(this, at);
        if (Accept("{")) {
            ExprPtr list = Make(EK::List, at);
            if (!Is("}")) {
                do {
                    if (Is("}"))
                        break;  // trailing comma
                    Add(list, Initializer());
                } while (Accept(","));
            }
            Expect("}");
            return list;
        }
        return Assignment();
    }

public:
    ExprPtr Expression()
    {
        ExprPtr e = Assignment();
        while (Is(",")) {
            // The comma operator: both sides run, the right one is the value.
            const Token& at = Next();
            ExprPtr c = Make(EK::Binary, at);
            c->name = ",";
            Add(c, std::move(e));
            Add(c, Assignment());
            e = std::move(c);
        }
        return e;
    }

    ExprPtr Assignment()
    {
        Nest nest(this, Peek());
        ExprPtr lhs = Conditional();
        static const char* const kAssign[] = {"=", "+=", "-=", "*=", "/=", "%="};
        for (const char* op : kAssign)
            if (Is(op)) {
                const Token& at = Next();
                ExprPtr e = Make(EK::Assign, at);
                e->name = op;
                Add(e, std::move(lhs));
                Add(e, Assignment());
                return e;
            }
        return lhs;
    }

private:
    ExprPtr Conditional()
    {
        Nest nest(this, Peek());
        ExprPtr c = Binary(0);
        if (Is("?")) {
            const Token& at = Next();
            ExprPtr e = Make(EK::Ternary, at);
            Add(e, std::move(c));
            Add(e, Assignment());
            Expect(":");
            Add(e, Conditional());
            return e;
        }
        return c;
    }

    static int Precedence(const Token& tk)
    {
        if (tk.kind != Tok::Punct)
            return -1;
        static const struct {
            const char* op;
            int prec;
        } kOps[] = {{"||", 0}, {"&&", 1}, {"==", 2}, {"!=", 2}, {"<", 3}, {">", 3}, {"<=", 3}, {">=", 3},
                    {"+", 4},  {"-", 4},  {"*", 5},  {"/", 5},  {"%", 5}};
        for (const auto& o : kOps)
            if (tk.text == o.op)
                return o.prec;
        return -1;
    }

    ExprPtr Binary(int minPrec)
    {
        ExprPtr lhs = Unary();
        for (;;) {
            int prec = Precedence(Peek());
            if (prec < minPrec)
                return lhs;
            const Token& at = Next();
            ExprPtr rhs = Binary(prec + 1);
            ExprPtr e = Make(EK::Binary, at);
            e->name = at.text;
            Add(e, std::move(lhs));
            Add(e, std::move(rhs));
            lhs = std::move(e);
        }
    }

    ExprPtr Unary()
    {
        const Token& at = Peek();
        Nest nest(this, at);
        if (Is("-") || Is("!") || Is("+") || Is("~")) {
            Next();
            if (at.text == "~")
                Fail(at.line, at.col, "bitwise operators are not supported");
            ExprPtr e = Make(EK::Unary, at);
            e->name = at.text;
            Add(e, Unary());
            return e;
        }
        if (Is("++") || Is("--")) {
            Next();
            ExprPtr e = Make(EK::PreInc, at);
            e->name = at.text;
            Add(e, Unary());
            return e;
        }
        // A cast: a type name in parentheses.
        Type t;
        if (Is("(") && IsTypeName(Peek(1), &t) && (Is(")", 2) || Is("[", 2))) {
            Next();
            const Token& typeTok = Next();
            if (Accept("[")) {
                t.arrayLen = ConstInt();
                Expect("]");
            }
            CheckSize(t, typeTok.text, typeTok);
            Expect(")");
            ExprPtr e = Make(EK::Cast, at);
            e->type = t;
            Add(e, Unary());
            return e;
        }
        return Postfix(Primary());
    }

    ExprPtr Postfix(ExprPtr e)
    {
        for (;;) {
            const Token& at = Peek();
            if (Accept(".")) {
                ExprPtr m = Make(EK::Member, at);
                m->name = Ident();
                Add(m, std::move(e));
                e = std::move(m);
            } else if (Accept("[")) {
                ExprPtr ix = Make(EK::Index, at);
                Add(ix, std::move(e));
                Add(ix, Expression());
                Expect("]");
                e = std::move(ix);
            } else if (Is("++") || Is("--")) {
                Next();
                ExprPtr p = Make(EK::PostInc, at);
                p->name = at.text;
                Add(p, std::move(e));
                e = std::move(p);
            } else {
                return e;
            }
        }
    }

    ExprPtr Primary()
    {
        const Token& at = Peek();
        if (at.kind == Tok::Int || at.kind == Tok::Float) {
            Next();
            ExprPtr e = Make(EK::Num, at);
            e->value = at.value;
            e->isInt = at.kind == Tok::Int;
            return e;
        }
        if (Accept("(")) {
            ExprPtr e = Expression();
            Expect(")");
            return e;
        }
        if (at.kind == Tok::Ident) {
            if (at.text == "true" || at.text == "false") {
                Next();
                ExprPtr e = Make(EK::Num, at);
                e->value = at.text == "true" ? 1.0 : 0.0;
                e->type = Scalar(Base::Bool);
                e->name = "bool";
                return e;
            }
            Type t;
            if (IsTypeName(at, &t)) {
                Next();
                ExprPtr e = Make(EK::Ctor, at);
                e->type = t;
                Expect("(");
                if (!Is(")")) {
                    do
                        Add(e, Assignment());
                    while (Accept(","));
                }
                Expect(")");
                return e;
            }
            Next();
            if (Is("(")) {
                Next();
                ExprPtr e = Make(EK::Call, at);
                e->name = at.text;
                if (!Is(")")) {
                    do
                        Add(e, Assignment());
                    while (Accept(","));
                }
                Expect(")");
                return e;
            }
            ExprPtr e = Make(EK::Var, at);
            e->name = at.text;
            return e;
        }
        Unexpected(at);
    }
};

}  // namespace

ParsedEffect Parse(const std::string& source, const std::vector<std::pair<std::string, std::string>>& defines,
                   CompiledEffect* out)
{
    // Editors may start a UTF-8 file with a byte-order mark.
    const size_t start = source.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    std::vector<Token> tokens = Preprocess(Lex(source, start, true), defines);
    if (tokens.size() == 1)
        Fail(tokens.back().line, tokens.back().col, "the effect is empty");
    Parser parser(std::move(tokens), out);
    parser.ParseAll();
    ParsedEffect parsed;
    parsed.functions = std::move(parser.functions);
    parsed.globals = std::move(parser.globals);
    parsed.techniques = std::move(parser.techniques);
    parsed.owned = std::move(parser.owned);
    return parsed;
}

}  // namespace fx
