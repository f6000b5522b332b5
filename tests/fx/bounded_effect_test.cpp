// Effects are bounded as Direct3D 9's shader models bound them: loops with a
// counter the compiler can bound (at most 255 iterations a level), uniforms
// within a profile's constant registers, parameters and types of a bounded
// size. Anything else is a compile error, never a hang or gigabytes.
#include "allocation_counter.h"
#include "bad_effects.h"
#include "d3d_test_device.h"
#include "effect_test_support.h"
#include "fx/compiler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using fxtest::Watchdog;

// A vertex shader around `body` (a float s to accumulate, uniform float n = 1e9
// and the input p in scope) and a technique that compiles it.
std::string LoopEffect(const std::string& functions, const std::string& body)
{
    return "float n = 1e9;\nstatic int g;\n" + functions +
           "\nfloat4 VS(float4 p : POSITION) : POSITION {\nfloat s = 0;\n" + body +
           "\nreturn p * s; }\ntechnique T { pass P { VertexShader = compile vs_3_0 VS(); } }\n";
}

// The compiler's message from "(line,col): error: " on, empty when it compiles.
std::string ErrorOf(const std::string& source)
{
    fx::CompiledEffect compiled;
    std::string errors;
    if (fx::Compile(source, "memory", {}, &compiled, &errors))
        return std::string();
    if (!errors.empty() && errors.back() == '\n')
        errors.pop_back();
    return errors.compare(0, 6, "memory") == 0 ? errors.substr(6) : errors;
}

// What the vertex shader of LoopEffect leaves in s, run once with p = 1.
float Sum(const std::string& functions, const std::string& body)
{
    fx::CompiledEffect compiled;
    std::string errors;
    const std::string source = LoopEffect(functions, body);
    if (!fx::Compile(source, "memory", {}, &compiled, &errors)) {
        ADD_FAILURE() << body << ": " << errors;
        return -1.f;
    }
    const fx::Program& vs = *compiled.techniques[0].passes[0].vs;
    std::vector<float> frame = vs.initial;
    std::copy(compiled.store.begin(), compiled.store.end(), frame.begin());
    for (int i = 0; i < 4; ++i)
        frame[(size_t)vs.inputs[0].offset + i] = 1.f;
    bool cutShort = false;
    vs.Run(frame.data(), &cutShort);
    EXPECT_FALSE(cutShort) << body;
    return frame[(size_t)vs.outputs[0].offset];
}

}  // namespace

// Each reproducer of a hang or a blow-up ends in its compile error, at once
// and with no more allocations than compiling the shipped effect takes.
TEST(BoundedEffects, BadDancerEffectsFailFastWithTheirMessages)
{
    if (!kAllocationsCounted)
        GTEST_SKIP() << "allocations are not counted under ThreadSanitizer";
    d3dtest::Device d;
    ASSERT_TRUE(d.device);
    auto allocations = [&](const std::string& source, std::string* errors) {
        const long before = s_Allocations;
        ID3DXEffect* effect = nullptr;
        HRESULT hr = fxtest::MakeEffect(d.device, source, &effect, errors);
        const long used = s_Allocations - before;
        if (effect)
            effect->Release();
        return SUCCEEDED(hr) ? -used : used;
    };
    std::string errors;
    const long shipped = -allocations(testing_support::ReadShippedEffect("dancer.fx"), &errors);
    ASSERT_GT(shipped, 0) << errors;
    for (const testing_support::BadEffect& bad : testing_support::BadDancerEffects()) {
        ASSERT_FALSE(bad.source.empty()) << bad.what << ": the shipped dancer effect changed";
        Watchdog dog(30, bad.what);
        errors.clear();
        const long used = allocations(bad.source, &errors);
        EXPECT_EQ(errors, "memory" + bad.error + "\n") << bad.what;
        EXPECT_GT(used, 0) << bad.what << " compiled";
        EXPECT_LE(used, shipped) << bad.what;
    }
}

TEST(BoundedEffects, LoopsWithABoundedCounterCompileAndRunTheirCount)
{
    Watchdog dog(60, "bounded loops");
    EXPECT_EQ(Sum("", "for (int i = 0; i < 255; i++) s += 1;"), 255.f);
    EXPECT_EQ(Sum("", "for (int i = 255; i > 0; --i) s += 1;"), 255.f);
    EXPECT_EQ(Sum("", "for (int i = 10; i >= 0; i -= 3) s += i;"), 22.f);
    EXPECT_EQ(Sum("", "for (float f = 0; f < 1; f += 0.25) s += f;"), 1.5f);
    EXPECT_EQ(Sum("", "int i; for (i = 0; i != 6; i = i + 2) s += 1;"), 3.f);
    EXPECT_EQ(Sum("", "for (int i = 0; i < 3 && s < 100; i = 1 + i) s += 10;"), 30.f);
    EXPECT_EQ(Sum("", "for (int i = 0; i < 4; i++) { if (i == 2) continue; s += 1; }"), 3.f);
    EXPECT_EQ(Sum("", "for (int i = 0; i < 4; i++) for (int j = 0; j < i; j++) s += 1;"), 6.f);
    // A namesake declared in the body is another variable.
    EXPECT_EQ(Sum("", "for (int i = 0; i < 3; i++) { int i = 7; i++; s += i; }"), 24.f);
    // Reading the counter, also through a call's in parameter, is fine.
    EXPECT_EQ(Sum("float twice(int k) { return 2 * k; }", "for (int i = 0; i < 3; i++) s += twice(i);"), 6.f);
    EXPECT_EQ(Sum("", "int j = 0; while (j < 5) { s += 1; j++; }"), 5.f);
    EXPECT_EQ(Sum("", "int j = 0; do { s += 1; j += 2; } while (j < 5);"), 3.f);
    EXPECT_EQ(Sum("", "do { s += 1; } while (false);"), 1.f);
    EXPECT_EQ(Sum("", "while (false) s += 1;"), 0.f);
    // Counts that depend on uniforms stop at 255, as the hardware's loop counter.
    EXPECT_EQ(Sum("", "for (float i = 0; i < n; i++) s += 1;"), 255.f);
    EXPECT_EQ(Sum("", "for (int i = 0; i < 3; i++) for (float k = 0; k < n; k++) s += 1;"), 765.f);
    EXPECT_EQ(Sum("", "int j = 0; while (j < n) { s += 1; j++; }"), 255.f);
    EXPECT_EQ(Sum("", "float j = 0; do { s += 1; j++; } while (j < n);"), 255.f);
    EXPECT_EQ(Sum("", "for (float i = 0; i < n; i++) { if (i >= 10) break; s += 1; }"), 10.f);
}

TEST(BoundedEffects, LoopsWithoutABoundedCounterAreRefused)
{
    Watchdog dog(60, "unbounded loops");
    const std::string inout = "void bump(inout int k) { k = k + 1; }\nvoid zero(out float k) { k = 0; }";
    struct Case {
        const char* body;
        const char* error;
    };
    // The body is line 7.
    const Case cases[] = {
        {"for (int i = 0; i < 3; i++) { i = 0; s += 1; }",
         "(7,33): error: cannot bound the loop: its counter 'i' is written in the loop besides its step"},
        {"for (int i = 0; i < 3; i++) bump(i);",
         "(7,34): error: cannot bound the loop: its counter 'i' is written in the loop besides its step"},
        {"for (float i = 0; i < 3; i++) zero(i);",
         "(7,36): error: cannot bound the loop: its counter 'i' is written in the loop besides its step"},
        {"for (int i = 0; i++ < 3; i++) s += 1;",
         "(7,18): error: cannot bound the loop: its counter 'i' is written in the loop besides its step"},
        {"int j = 0; while (j < 3) { j++; s += 1; }",
         "(7,19): error: cannot bound the loop: its counter 'j' does not step by a fixed amount in each iteration"},
        {"for (int i = 0; i < 3; i += s) s += 1;",
         "(7,26): error: cannot bound the loop: its counter 'i' does not step by a fixed amount in each iteration"},
        {"for (;;) { s += 1; if (s > 3) break; }",
         "(7,1): error: cannot bound the loop: no counter steps by a fixed amount in each iteration"},
        {"while (true) s += 1;", "(7,8): error: cannot bound the loop: its condition does not depend on its counter 's'"},
        {"for (int i = 0; s < 3; i++) s += 1;",
         "(7,19): error: cannot bound the loop: its condition does not depend on its counter 'i'"},
        {"for (int i = 0; ; i++) s += 1;",
         "(7,20): error: cannot bound the loop: its condition does not depend on its counter 'i'"},
        {"for (int i = 0; i < s; i++) s += 1;",
         "(7,17): error: cannot bound the loop: its counter 'i' is not compared with a fixed limit"},
        {"for (int j = 0; j < 4; j += 0) s += 1;", "(7,26): error: cannot bound the loop: its counter 'j' steps by zero"},
        {"for (int j = 0; j < n; j -= 1) s += 1;",
         "(7,26): error: cannot bound the loop: its counter 'j' moves away from its limit"},
        {"for (g = 0; g < 3; g++) s += 1;", "(7,20): error: loop counter 'g' must be a local scalar variable"},
        {"for (int i = 0; i < 256; i++) s += 1;", "(7,1): error: the loop runs more than 255 iterations"},
        {"for (int i = 0; i <= 255; i++) s += 1;", "(7,1): error: the loop runs more than 255 iterations"},
        {"for (int i = 0; i != 5; i += 2) s += 1;", "(7,1): error: the loop runs more than 255 iterations"},
        {"for (int i = 0; i < 3; i += 0.5) s += 1;", "(7,1): error: the loop runs more than 255 iterations"},
        {"for (float f = 0; f < 1e9; f += 1) s += 1;", "(7,1): error: the loop runs more than 255 iterations"},
        // Each level may be bounded and the run still too long.
        {"for (int i = 0; i < 255; i++) for (int j = 0; j < 255; j++) s += 1;",
         "(7,1): error: loop too long: a run of the shader may take more than 65535 instructions"},
        {"for (float i = 0; i < n; i++) for (float j = 0; j < n; j++) s += 1;",
         "(7,1): error: loop too long: a run of the shader may take more than 65535 instructions"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ErrorOf(LoopEffect(inout, c.body)), c.error) << c.body;
}

// Each profile's float constant registers, counted as Direct3D 9 packs
// uniforms: a register for a scalar or vector, one for each column of a
// matrix, each element and member apart. Uniforms no shader reads take none.
TEST(BoundedEffects, UniformsPastAProfilesConstantRegistersAreRefused)
{
    struct Profile {
        const char* name;
        int registers;
    };
    const Profile profiles[] = {{"vs_1_1", 96},  {"vs_2_0", 256}, {"vs_2_a", 256}, {"vs_3_0", 256},
                                {"ps_1_4", 8},   {"ps_2_0", 32},  {"ps_2_b", 32},  {"ps_3_0", 224}};
    auto source = [](const Profile& p, const std::string& uniforms, const std::string& read) {
        const bool pixel = p.name[0] == 'p';
        return uniforms + "float4 unread[1000];\nfloat4 F(float4 p : " + (pixel ? "COLOR0" : "POSITION") + ") : " +
               (pixel ? "COLOR0" : "POSITION") + " { return p * " + read + "; }\ntechnique T { pass P { " +
               (pixel ? "PixelShader" : "VertexShader") + " = compile " + p.name + " F(); } }\n";
    };
    for (const Profile& p : profiles) {
        const std::string n = std::to_string(p.registers - 1), more = std::to_string(p.registers);
        // A float4 and an array of float4, read through a dynamic index.
        EXPECT_EQ(ErrorOf(source(p, "float4 k;\nfloat4 t[" + n + "];\n", "t[(int)p.x] + k")), "") << p.name;
        EXPECT_EQ(ErrorOf(source(p, "float4 k;\nfloat4 t[" + more + "];\n", "t[(int)p.x] + k")),
                  "(5," + std::string(p.name[0] == 'p' ? "38" : "39") + "): error: 'F': the uniforms it reads take " +
                      std::to_string(p.registers + 1) +
                      " constant registers, more than the " + std::to_string(p.registers) + " of " + p.name)
            << p.name;
    }
    const Profile& vs = profiles[3];
    // Matrices by columns, structures member by member.
    EXPECT_EQ(ErrorOf(source(vs, "float4x3 m[85];\n", "mul(p, m[(int)p.x]).x")), "");
    EXPECT_EQ(ErrorOf(source(vs, "float4x3 m[86];\n", "mul(p, m[(int)p.x]).x")),
              "(4,39): error: 'F': the uniforms it reads take 258 constant registers, more than the 256 of vs_3_0");
    EXPECT_EQ(ErrorOf(source(vs, "struct L { float3 a; float b; float2x4 c; };\nL l[42];\n", "l[(int)p.x].b")), "");
    EXPECT_EQ(ErrorOf(source(vs, "struct L { float3 a; float b; float2x4 c; };\nL l[43];\n", "l[(int)p.x].b")),
              "(5,39): error: 'F': the uniforms it reads take 258 constant registers, more than the 256 of vs_3_0");
}

// Parameters are bounded in floats and handles, types in floats, with
// checked sizes: the limits themselves still compile.
TEST(BoundedEffects, ParametersAndTypesHaveABoundedSize)
{
    Watchdog dog(60, "large types");
    EXPECT_EQ(ErrorOf("float4 a[4096];\nfloat4 b[4096];\nfloat4 c[4096];\nfloat4 d[4096];\n"), "");
    EXPECT_EQ(ErrorOf("float4 a[4096];\nfloat4 b[4096];\nfloat4 c[4096];\nfloat4 d[4096];\nfloat e;\n"),
              "(5,7): error: 'e': effect parameters too large: more than 65536 floats");
    // Four arrays of 1 + 4096 (or 4095) x (1 + 3) handles: 65536.
    const std::string handles = "struct S { float a, b, c; };\nS s[4096];\nS t[4096];\nS u[4096];\nS v[4095];\n";
    EXPECT_EQ(ErrorOf(handles), "");
    EXPECT_EQ(ErrorOf(handles + "float w;\n"),
              "(6,7): error: 'w': too many effect parameters: more than 65536 parameters, elements and members");
    // Locals, parameters and casts may be large up to the limit of a type.
    const std::string s = "struct S { float4 v[4096]; };\n";
    EXPECT_EQ(ErrorOf(s + "struct T { S s[4]; };\nfloat f(T t) { return 0; }"), "");
    EXPECT_EQ(ErrorOf(s + "struct T { S s[5]; };"), "(2,14): error: 'T': type too large: more than 65536 floats");
    EXPECT_EQ(ErrorOf(s + "float f() { S s[5]; return 0; }"),
              "(2,15): error: 's': type too large: more than 65536 floats");
    EXPECT_EQ(ErrorOf(s + "float f(S s[5]) { return 0; }"),
              "(2,11): error: 's': type too large: more than 65536 floats");
    EXPECT_EQ(ErrorOf(s + "float f() { return ((S[5])0).v[0].x; }"),
              "(2,22): error: 'S': type too large: more than 65536 floats");
    // A program's own floats, and all programs of an effect together.
    const std::string vs = "float4 VS(float4 p : POSITION) : POSITION { ";
    EXPECT_EQ(ErrorOf(s + vs + "S a[4], b[3]; return p; }\ntechnique T { pass P { VertexShader = compile vs_3_0 VS(); } }"),
              "");
    EXPECT_EQ(ErrorOf(s + vs + "S a[4], b[4]; return p; }\ntechnique T { pass P { VertexShader = compile vs_3_0 VS(); "
                               "} }"),
              "(0,0): error: program too large");
    auto passes = [&](int count) {
        // Every program's frame holds all uniforms: 65536 floats here. A
        // technique holds 16 passes at most, so they come in several.
        std::string source = "float4 a[4096], b[4096], c[4096], d[4096];\n" + vs + "return p; }\n";
        for (int i = 0; i < count; ++i)
            source += std::string(i % 16 ? "" : i ? "}\ntechnique {\n" : "technique {\n") +
                      "pass { VertexShader = compile vs_3_0 VS(); }\n";
        return source + "}\n";
    };
    EXPECT_EQ(ErrorOf(passes(63)), "");
    EXPECT_EQ(ErrorOf(passes(64)), "(73,23): error: effect too large: its shaders take more than 16 MB");
    // Sizes that overflow 32 bits.
    EXPECT_EQ(ErrorOf("struct A { float4x4 v[4096]; };\nstruct B { A a[4096]; };\nstruct C { B b[4096]; };\n"),
              "(2,14): error: 'B': type too large: more than 65536 floats");
}
