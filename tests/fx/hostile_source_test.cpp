// Effect sources written to break the compiler: unclosed brackets, cut files
// and nesting deep enough to exhaust the stack. Each must end in a compile
// error through the ordinary error text, never a hang or a crash.
#include "d3d_test_device.h"
#include "effect_test_support.h"
#include "fx/compiler.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace {

using fxtest::Watchdog;

bool Compile(const std::string& source, std::string* errors)
{
    fx::CompiledEffect compiled;
    errors->clear();
    return fx::Compile(source, "memory", {}, &compiled, errors);
}

std::string Repeat(const std::string& text, int times)
{
    std::string out;
    out.reserve(text.size() * times);
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

std::string ReadShipped(const char* name)
{
    std::ifstream in(std::string(VELMORA_PLUGIN_DIR) + "/data/shaders/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// `functions` and a technique whose pass compiles their VS as its vertex shader.
std::string WithTechnique(const std::string& functions)
{
    return functions + "technique T { pass P { VertexShader = compile vs_2_0 VS(); } }\n";
}

}  // namespace

TEST(HostileEffectSource, UnclosedAttributeBracketsEndAtTheEndOfTheFile)
{
    Watchdog dog(30, "unclosed attribute brackets");
    std::string errors;
    EXPECT_FALSE(Compile("float4 f() { [ }", &errors));
    EXPECT_EQ(errors, "memory(1,17): error: syntax error: unexpected end of file\n");

    for (const char* source : {"float4 f() { [", "float4 f() { [unroll", "float4 f() { [loop] [ }",
                               "void f() { for (;;) [ }", "void f() { if (true) [[ }"}) {
        EXPECT_FALSE(Compile(source, &errors)) << source;
        EXPECT_NE(errors.find("unexpected end of file"), std::string::npos) << source << ": " << errors;
    }
    // Closed attributes stay accepted.
    EXPECT_TRUE(Compile("float f() { float s = 0; [unroll] for (int i = 0; i < 2; ++i) { s += 1; } return s; }",
                        &errors))
        << errors;

    // The device's compile call reports it like any other error.
    d3dtest::Device d;
    ASSERT_TRUE(d.device);
    ID3DXEffect* effect = nullptr;
    EXPECT_TRUE(FAILED(fxtest::MakeEffect(d.device, "float4 f() { [ }", &effect, &errors)));
    EXPECT_EQ(effect, nullptr);
    EXPECT_NE(errors.find("unexpected end of file"), std::string::npos) << errors;
}

// Every loop of the compiler either consumes the source or stops at its end:
// every cut of real effects, alone and followed by an opening bracket, ends.
TEST(HostileEffectSource, EveryCutOfTheShippedEffectsEnds)
{
    Watchdog dog(240, "a cut of a shipped effect");
    std::string errors;
    for (const char* name : {"spot.fx", "dancer.fx"}) {
        const std::string whole = ReadShipped(name);
        ASSERT_FALSE(whole.empty()) << name;
        ASSERT_TRUE(Compile(whole, &errors)) << name << ": " << errors;
        int failed = 0;
        for (size_t length = 0; length < whole.size(); ++length) {
            const std::string cut = whole.substr(0, length);
            for (const std::string& source : {cut, cut + "[", cut + "{ [", cut + "<"}) {
                if (!Compile(source, &errors)) {
                    ++failed;
                    EXPECT_NE(errors.find(": error: "), std::string::npos) << source;
                }
            }
        }
        EXPECT_GT(failed, 0) << name;
    }
}

// About 20,000 levels of anything the compiler recurses on: refused with a
// message instead of overflowing the stack.
TEST(HostileEffectSource, DeepNestingFailsWithAMessage)
{
    const int n = 20000;
    struct Case {
        const char* what;
        std::string source;
        const char* message;
    };
    std::string macros, doubling = "#define D0 1\n", calls;
    for (int i = 0; i < n; ++i)
        macros += "#define M" + std::to_string(i) + " M" + std::to_string(i + 1) + "\n";
    for (int i = 1; i <= 40; ++i)
        doubling +=
            "#define D" + std::to_string(i) + " D" + std::to_string(i - 1) + " D" + std::to_string(i - 1) + "\n";
    // Each function calls the one before twice: 2^30 inlined calls.
    calls = "float f0(float x) { return x; }\n";
    for (int i = 1; i <= 30; ++i)
        calls += "float f" + std::to_string(i) + "(float x) { return f" + std::to_string(i - 1) + "(x) + f" +
                 std::to_string(i - 1) + "(x); }\n";
    calls += "float4 VS(float4 p : POSITION) : POSITION { return p * f30(1); }\n";
    // Each of 30 functions nests 60 negations around the call of the one before.
    std::string stacked = "float g0(float x) { return x; }\n";
    for (int i = 1; i <= 30; ++i)
        stacked += "float g" + std::to_string(i) + "(float x) { return " + Repeat("-(", 60) + "g" +
                   std::to_string(i - 1) + "(x)" + Repeat(")", 60) + "; }\n";
    stacked += "float4 VS(float4 p : POSITION) : POSITION { return p * g30(1); }\n";

    const Case cases[] = {
        {"parentheses", "float c = " + Repeat("(", n) + "1" + Repeat(")", n) + ";", "nesting too deep"},
        {"negations", "float c = " + Repeat("- ", n) + "1;", "nesting too deep"},
        {"blocks", "void f() " + Repeat("{", n) + Repeat("}", n), "nesting too deep"},
        {"ifs", "void f() { " + Repeat("if (true) ", n) + "; }", "nesting too deep"},
        {"assignments", "float a; void f() { " + Repeat("a = ", n) + "1; }", "nesting too deep"},
        {"conditionals", "float c = " + Repeat("true ? 1 : ", n) + "0;", "nesting too deep"},
        {"initialiser lists", "float c = " + Repeat("{", n) + "1" + Repeat("}", n) + ";", "nesting too deep"},
        {"sums", "float c = " + Repeat("1 + ", n) + "1;", "expression nested too deeply"},
        {"swizzles", "float4 v; void f() { v" + Repeat(".x", n) + "; }", "expression nested too deeply"},
        {"indices", "float v[2]; void f() { v" + Repeat("[0]", n) + "; }", "expression nested too deeply"},
        {"commas", "float a; void f() { a" + Repeat(", a", n) + "; }", "expression nested too deeply"},
        {"macros", macros + "float c = M0;", "macros nested too deeply"},
        {"doubling macros", doubling + "float c = D40;", "macro expansion too large"},
        {"doubling calls", WithTechnique(calls), "program too large"},
        {"calls of nested calls", WithTechnique(stacked), "nesting too deep"},
    };
    std::string errors;
    for (const Case& c : cases) {
        Watchdog dog(60, c.what);
        EXPECT_FALSE(Compile(c.source, &errors)) << c.what;
        EXPECT_NE(errors.find(std::string(": error: ") + c.message), std::string::npos) << c.what << ": " << errors;
    }

    // The device's compile call reports it like any other error.
    d3dtest::Device d;
    ASSERT_TRUE(d.device);
    ID3DXEffect* effect = nullptr;
    EXPECT_TRUE(FAILED(fxtest::MakeEffect(d.device, cases[0].source, &effect, &errors)));
    EXPECT_EQ(effect, nullptr);
    EXPECT_NE(errors.find("nesting too deep"), std::string::npos) << errors;
}

TEST(HostileEffectSource, ModerateNestingStillCompiles)
{
    const int n = 60;
    std::string stacked = "float g0(float x) { return x; }\n";
    for (int i = 1; i <= 8; ++i)
        stacked += "float g" + std::to_string(i) + "(float x) { return " + Repeat("-(", 20) + "g" +
                   std::to_string(i - 1) + "(x)" + Repeat(")", 20) + "; }\n";
    stacked += "float4 VS(float4 p : POSITION) : POSITION { return p * g8(1); }\n";
    const std::string sources[] = {
        "float c = " + Repeat("(", n) + "1" + Repeat(")", n) + ";",
        "float c = " + Repeat("- ", n) + "1;",
        "float f() " + Repeat("{", n) + "return 1;" + Repeat("}", n),
        "float c = " + Repeat("1 + ", 200) + "1;",
        "float c = " + Repeat("true ? 1 : ", n) + "0;",
        "float4 v; float f() { return v" + Repeat(".x", n) + "; }",
        WithTechnique(stacked),
    };
    std::string errors;
    for (const std::string& source : sources) {
        Watchdog dog(60, "moderate nesting");
        EXPECT_TRUE(Compile(source, &errors)) << source.substr(0, 80) << ": " << errors;
    }
}

// Numbers too large for any integer: a render state takes the low bits of
// the nearest whole number that has some, a constant subscript is out of
// bounds. In-range numbers keep their meaning.
TEST(HostileEffectSource, HugeNumbersInStatesAndSubscripts)
{
    const std::string vs = "float4 VS(float4 p : POSITION) : POSITION { return p; }\n";
    auto stateOf = [&](const std::string& value, DWORD* out) {
        fx::CompiledEffect compiled;
        std::string errors;
        const std::string source =
            vs + "technique T { pass P { ZFunc = " + value + "; VertexShader = compile vs_2_0 VS(); } }\n";
        if (!fx::Compile(source, "memory", {}, &compiled, &errors) || compiled.techniques.empty() ||
            compiled.techniques[0].passes.empty() || compiled.techniques[0].passes[0].states.empty())
            return false;
        *out = compiled.techniques[0].passes[0].states[0].second;
        return true;
    };
    DWORD value = 0;
    ASSERT_TRUE(stateOf("3", &value));
    EXPECT_EQ(value, 3u);
    ASSERT_TRUE(stateOf("-2", &value));
    EXPECT_EQ(value, (DWORD)-2);
    ASSERT_TRUE(stateOf("7.9", &value));
    EXPECT_EQ(value, 7u);
    ASSERT_TRUE(stateOf("1e115", &value));
    EXPECT_EQ(value, 0xffffffffu);
    ASSERT_TRUE(stateOf("-1e300", &value));
    EXPECT_EQ(value, 1u);

    std::string errors;
    const std::string array = "float4 colours[4];\n";
    EXPECT_FALSE(Compile(WithTechnique(array + "float4 VS(float4 p : POSITION) : POSITION { return colours[1e20]; }\n"),
                         &errors));
    EXPECT_NE(errors.find("array index out of bounds"), std::string::npos) << errors;
    EXPECT_TRUE(Compile(WithTechnique(array + "float4 VS(float4 p : POSITION) : POSITION { return colours[3.5]; }\n"),
                        &errors))
        << errors;
}
