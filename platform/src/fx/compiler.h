// The effect compiler: HLSL effect source to parameters, techniques, passes
// and compiled shader programs.
#ifndef VELMORA_FX_COMPILER_H
#define VELMORA_FX_COMPILER_H

#include "fx/program.h"

#include <d3d9types.h>
#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fx {

enum class Base : uint8_t { Void, Bool, Int, Float, Struct };
enum class Shape : uint8_t { Scalar, Vector, Matrix };

struct TypeDesc {
    Base base = Base::Void;
    Shape shape = Shape::Scalar;
    int rows = 1, cols = 1;
    int arrayLen = 0;  // 0: not an array
    int structId = -1;
};

struct StructMember {
    std::string name, semantic;
    TypeDesc type;
    int offset;  // floats from the start of the structure
};

struct StructDesc {
    std::string name;
    std::vector<StructMember> members;
    int size = 0;  // floats
};

struct GlobalDesc {
    std::string name, semantic;
    TypeDesc type;
    int offset;
    bool isStatic;
};

struct PassDesc {
    std::string name;
    std::shared_ptr<const Program> vs, ps;
    bool vsSet = false, psSet = false;  // the pass assigns the shader (null included)
    int vsMajor = 0, vsMinor = 0, psMajor = 0, psMinor = 0;
    std::vector<std::pair<DWORD, DWORD>> states;  // render state, value
};

struct TechniqueDesc {
    std::string name;
    std::vector<PassDesc> passes;
};

struct CompiledEffect {
    std::vector<StructDesc> structs;
    std::vector<GlobalDesc> globals;
    std::vector<float> store;        // the globals' values, packed floats
    std::vector<uint8_t> intWords;   // 1 where the store holds an int or bool
    std::vector<TechniqueDesc> techniques;
    int functions = 0;
};

// Floats taken by a value of the type (arrays included).
int TypeFloats(const CompiledEffect& fx, const TypeDesc& type);

// A source past this is refused before it is read: 200 times the shipped
// effects (3 to 5 KB), and small enough that its tokens stay within tens of MB.
const size_t kMaxSourceBytes = 1 << 20;

// Appends the error for a source of `bytes` bytes to `errors` and returns
// false when it is past kMaxSourceBytes.
bool SourceFits(size_t bytes, const std::string& fileName, std::string* errors);

// Appends the error for an effect with nothing to draw with and returns
// false when it has no technique (Compile takes globals alone).
bool HasTechnique(const CompiledEffect& fx, const std::string& fileName, std::string* errors);

// Appends the error for an effect that ran out of memory as it compiled
// (Compile throws std::bad_alloc then, having freed what it took).
void OutOfMemory(const std::string& fileName, std::string* errors);

// Compiles `source`; on failure returns false with the messages in `errors`.
bool Compile(const std::string& source, const std::string& fileName,
             const std::vector<std::pair<std::string, std::string>>& defines, CompiledEffect* out,
             std::string* errors);

}  // namespace fx

#endif
