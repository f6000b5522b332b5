// What the two halves of the effect compiler share: the syntax tree the
// parser builds and the code generator reads, and the error both throw.
#ifndef VELMORA_FX_COMPILER_INTERNAL_H
#define VELMORA_FX_COMPILER_INTERNAL_H

#include "fx/compiler.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fx {

// Nesting beyond this (of statements, expressions, initialisers, macros) is
// refused: the parser and the code generator recurse on it, and the stack is
// finite. Real effects stay far below.
const int kMaxNesting = 256;

// An effect stays bounded in memory: no value takes more than kMaxTypeFloats,
// and all globals together (each a parameter with a handle for every element
// and member) at most kMaxParameterFloats floats and kMaxParameterNodes handles.
// A program's own floats (locals and temporaries) stay within kMaxWorkFloats;
// the device keeps a frame of them for each vertex of a batch. All programs of
// an effect (frames, code, tables) take at most kMaxProgramFloats.
const int kMaxTypeFloats = 1 << 16;
const int kMaxParameterFloats = 1 << 16;
const int kMaxParameterNodes = 1 << 16;
const int kMaxWorkFloats = 1 << 17;
const long long kMaxProgramFloats = 1 << 22;

// And in time, as Direct3D 9's shader models: a loop runs at most
// kMaxLoopIterations times each time it is entered, and a run of a program
// at most kMaxRunLength instructions, counting every loop at its bound.
const int kMaxLoopIterations = 255;
const int kMaxRunLength = 65535;

// Effect files are user data (kMaxSourceBytes: see compiler.h). A source holds at most
// kMaxTokens tokens, and expanding its macros (every expansion counts, empty
// ones too) at most kMaxExpansion. #ifdef and #ifndef nest kMaxConditionNesting deep.
const int kMaxTokens = 1 << 18;
const int kMaxExpansion = 1 << 19;  // twice a file at kMaxTokens
const int kMaxConditionNesting = 64;

// And a frame: a technique has at most kMaxPasses passes, and its shaders
// together take at most kMaxVertexSlots instruction slots a vertex and
// kMaxPixelSlots a pixel, every loop counted at its bound. Measured on the
// demo frame at 800 x 600 on one thread, the heaviest technique within them
// draws it in about 200 ms.
const int kMaxPasses = 16;
const int kMaxVertexSlots = 65535;
const int kMaxPixelSlots = 384;

// Thrown inside the compiler only; Compile turns it into the error text.
struct CompileError {
    int line, col;
    std::string message;
};

[[noreturn]] inline void Fail(int line, int col, const std::string& message)
{
    throw CompileError{line, col, message};
}

// --- Syntax tree -----------------------------------------------------------------

struct Type {
    Base base = Base::Void;
    Shape shape = Shape::Scalar;
    int rows = 1, cols = 1;
    int arrayLen = 0;
    int structId = -1;

    bool IsArray() const { return arrayLen > 0; }
    bool IsStruct() const { return base == Base::Struct; }
    bool IsNumeric() const { return !IsArray() && base != Base::Struct && base != Base::Void; }
    Type Element() const
    {
        Type t = *this;
        t.arrayLen = 0;
        return t;
    }
};

inline Type Scalar(Base b)
{
    Type t;
    t.base = b;
    return t;
}
inline Type Vector(Base b, int n)
{
    Type t;
    t.base = b;
    t.shape = n == 1 ? Shape::Scalar : Shape::Vector;
    t.cols = n;
    return t;
}

struct Expr;
struct Stmt;
using ExprPtr = std::unique_ptr<Expr>;
using StmtPtr = std::unique_ptr<Stmt>;

enum class EK { Num, Var, Binary, Unary, Assign, Ternary, Call, Ctor, Cast, Member, Index, PreInc, PostInc, List };

struct Expr {
    EK kind;
    int line, col;
    std::string name;  // variable, function, member or operator
    double value = 0.0;
    bool isInt = false;
    Type type;  // constructor and cast target
    std::vector<ExprPtr> args;
    int depth = 1;  // of the tree below and including this node
};

enum class SK { Expr, Decl, Block, If, For, While, Do, Return, Break, Continue, Discard, Empty };

struct Decl {
    Type type;
    std::string name, semantic;
    ExprPtr init;
    int line, col;
};

struct Stmt {
    SK kind;
    int line, col;
    ExprPtr expr;  // expression, condition, return value
    std::vector<Decl> decls;
    std::vector<StmtPtr> body;  // block; if: then [, else]; loops: init, step as statements
    StmtPtr init;
    ExprPtr step;
};

struct Param {
    Type type;
    std::string name, semantic;
    bool in = true, out = false, uniform = false;
};

struct Function {
    std::string name;
    Type ret;
    std::string semantic;
    std::vector<Param> params;
    StmtPtr body;
    int line, col;
};

struct ShaderRef {
    bool set = false;
    bool null = false;
    std::string profile, function;
    int major = 0, minor = 0;
    std::vector<ExprPtr> args;
    int line = 0, col = 0;
};

struct PassAst {
    std::string name;
    ShaderRef vs, ps;
    std::vector<std::pair<DWORD, DWORD>> states;
};

struct TechniqueAst {
    std::string name;
    std::vector<PassAst> passes;
};

struct GlobalAst {
    Decl decl;
    bool isStatic = false;
    int offset = 0;
    long long registers = 0;  // the constant registers it takes in a shader that reads it
};
// What the parser hands the code generator.
struct ParsedEffect {
    std::vector<Function> functions;
    std::vector<GlobalAst> globals;
    std::vector<TechniqueAst> techniques;
    std::vector<std::unique_ptr<Function>> owned;
};

// Preprocesses and parses `source`; structures go straight into `out`.
// Throws CompileError.
ParsedEffect Parse(const std::string& source, const std::vector<std::pair<std::string, std::string>>& defines,
                   CompiledEffect* out);

}  // namespace fx

#endif
