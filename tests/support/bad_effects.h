// Effects that a Direct3D 9 compiler refuses but that once hung the player or
// took gigabytes: the shipped dancer effect with one change each. Shared by the
// compiler's tests and the player's.
#ifndef VELMORA_BAD_EFFECTS_H
#define VELMORA_BAD_EFFECTS_H

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

inline std::string ReadShippedEffect(const char* name)
{
    std::ifstream in(std::string(VELMORA_PLUGIN_DIR) + "/data/shaders/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// `text` with its one `from` replaced; empty when `from` is not there once.
inline std::string Replaced(const std::string& text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    if (at == std::string::npos || text.find(from, at + 1) != std::string::npos)
        return std::string();
    return text.substr(0, at) + to + text.substr(at + from.size());
}

struct BadEffect
{
    const char* what;
    std::string source;  // empty when the shipped effect has changed under the test
    std::string error;   // the compiler's message, from "(line,col): error: " on
};

inline std::vector<BadEffect> BadDancerEffects()
{
    const std::string dancer = ReadShippedEffect("dancer.fx");
    const std::string globals = "float4 material = float4(1.0, 0.6, 0.3, 1.0);\n";
    return {
        {"the out parameter as the loop counter",
         Replaced(dancer, "SpotLight(lightArr[i], world.xyz, n, k)", "SpotLight(lightArr[i], world.xyz, n, i)"),
         "(53,61): error: cannot bound the loop: its counter 'i' is written in the loop besides its step"},
        {"a pixel loop that steps by zero",
         Replaced(dancer, "    return float4(colour.rgb + 0.25 * shade.z, colour.a);",
                  "    float3 c = colour.rgb;\n"
                  "    for (int j = 0; j < 4; j += 0)\n"
                  "        c += 0.0625 * shade.z;\n"
                  "    return float4(c, colour.a);"),
         "(67,30): error: cannot bound the loop: its counter 'j' steps by zero"},
        {"nested arrays of structures",
         Replaced(dancer, globals,
                  globals + "struct B { float4 v[64]; };\nstruct A { B b[64]; };\nA a[32];\n"),
         "(20,3): error: 'a': type too large: more than 65536 floats"},
        {"three levels of nested arrays of structures",
         Replaced(dancer, globals,
                  globals + "struct B { float x; };\nstruct A { B b[64]; };\nstruct C { A a[64]; };\nC c[32];\n"),
         "(21,3): error: 'c': type too large: more than 65536 floats"},
        {"three levels of nested arrays of small structures",
         Replaced(dancer, globals,
                  globals + "struct B { float x; };\nstruct A { B b[64]; };\nstruct C { A a[64]; };\nC c[8];\n"),
         "(21,3): error: 'c': too many effect parameters: more than 65536 parameters, elements and members"},
        {"a structure of 4,000,000 x 1,000 floats",
         Replaced(dancer, globals,
                  globals + "struct A { float4 v[1000]; };\nstruct B { A a[1000]; };\nstruct C { B b[1000]; };\n"
                            "C huge;\n"),
         "(19,14): error: 'B': type too large: more than 65536 floats"},
        {"uniforms past the vertex shader's registers",
         Replaced(Replaced(dancer, globals, globals + "float4 extra[240];\n"),
                  "    o.colour = float4(material.rgb * light, material.a);",
                  "    o.colour = float4(material.rgb * light, material.a) + extra[(int)position.w];"),
         "(94,24): error: 'DancerVS': the uniforms it reads take 266 constant registers, more than the 256 "
         "of vs_2_0"},
    };
}

// Whole effect files that once stalled or killed the player, each with the
// line it is refused with; built on the shipped dancer effect.
inline std::vector<BadEffect> HostileEffectFiles()
{
    const std::string dancer = ReadShippedEffect("dancer.fx");
    auto repeat = [](const std::string& text, int times) {
        std::string out;
        out.reserve(text.size() * (size_t)times);
        for (int i = 0; i < times; ++i)
            out += text;
        return out;
    };
    // E0 empty, each further macro 100 copies of the one before.
    auto emptyMacros = [&](int levels) {
        std::string out = "#define E0\n";
        for (int k = 1; k <= levels; ++k)
            out += "#define E" + std::to_string(k) + repeat(" E" + std::to_string(k - 1), 100) + "\n";
        return out + "E" + std::to_string(levels) + "\n" + dancer;
    };
    // A pixel loop of 255 iterations of 60 statements.
    std::string loop = "    float4 c = colour;\n    for (int i = 0; i < 255; i++) {\n";
    for (int i = 0; i < 60; ++i)
        loop += "        c += 0.001;\n";
    loop += "    }\n    return c;";
    std::string passes = "technique Many\n{\n";
    for (int p = 0; p < 2000; ++p)
        passes += "    pass P" + std::to_string(p) +
                  " { VertexShader = compile vs_2_0 DancerVS(); PixelShader = compile ps_2_0 SmoothPS(); }\n";
    passes += "}\n";
    return {
        {"empty macros, five levels of 100 copies", emptyMacros(5), "(7,1): error: macro expansion too large"},
        {"empty macros, four levels of 100 copies", emptyMacros(4), "(6,1): error: macro expansion too large"},
        {"100,000 nested #ifndef around a million tokens",
         repeat("#ifndef A\n", 100000) + repeat("x ", 1000000) + "\n" + repeat("#endif\n", 100000) + dancer,
         "(1,1): error: effect source too large: more than 1048576 bytes"},
        {"65 nested #ifndef", repeat("#ifndef A\n", 65) + repeat("#endif\n", 65) + dancer,
         "(65,1): error: #ifdef and #ifndef nested too deeply: more than 64 levels"},
        {"an identifier past the size limit", "float " + std::string((1 << 20) + 1, 'a') + ";\n" + dancer,
         "(1,1): error: effect source too large: more than 1048576 bytes"},
        {"a ps_2_0 loop of 255 iterations of 60 statements",
         Replaced(dancer, "    return float4(colour.rgb + 0.25 * shade.z, colour.a);", loop),
         "(157,23): error: 'SmoothPS': the shader takes 16131 arithmetic instruction slots with its loops "
         "unrolled, more than the 64 of ps_2_0"},
        {"2,000 passes in one technique", dancer + passes, "(137,5): error: technique 'Many': more than 16 passes"},
    };
}

} // namespace testing_support

#endif
