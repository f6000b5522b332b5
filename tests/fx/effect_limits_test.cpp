// Effect files are user data: the compiler keeps its work bounded while
// preprocessing, holds each shader profile to its instruction slots, keeps a
// technique's work a frame within a ceiling, and D3DX's loaders fail out of
// memory with E_OUTOFMEMORY instead of ending the program.
#include "failing_allocations.h"
#include "bad_effects.h"
#include "d3d_test_device.h"
#include "effect_test_support.h"
#include "fx/compiler.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using fxtest::Watchdog;

bool Compile(const std::string& source, std::string* errors, fx::CompiledEffect* out = nullptr,
             const std::vector<std::pair<std::string, std::string>>& defines = {})
{
    fx::CompiledEffect compiled;
    errors->clear();
    return fx::Compile(source, "memory", defines, out ? out : &compiled, errors);
}

std::vector<std::string> GlobalNames(const fx::CompiledEffect& fx)
{
    std::vector<std::string> names;
    for (const fx::GlobalDesc& g : fx.globals)
        names.push_back(g.name);
    return names;
}

// A shader of `profile` whose body is `statements` copies of `statement` on
// a float4 `c`, compiled alone in a technique.
std::string Shader(const std::string& profile, const std::string& statement, int statements)
{
    const bool pixel = profile[0] == 'p';
    std::string body;
    for (int i = 0; i < statements; ++i)
        body += "    " + statement + "\n";
    return std::string(pixel ? "float4 S(float4 c : COLOR0) : COLOR0\n" : "float4 S(float4 c : POSITION) : POSITION\n") +
           "{\n" + body + "    return c;\n}\n" + "technique T { pass P { " +
           (pixel ? "PixelShader" : "VertexShader") + " = compile " + profile + " S(); } }\n";
}

// The most statements of `statement` that `profile` takes, searched up to `most`.
int MostStatements(const std::string& profile, const std::string& statement, int most)
{
    std::string errors;
    int lo = 0, hi = most;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (Compile(Shader(profile, statement, mid), &errors))
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

}  // namespace

// Each file that once stalled or killed the player is refused at once with
// its own message.
TEST(EffectLimits, HostileFilesAreRefusedWithTheirMessages)
{
    d3dtest::Device d;
    ASSERT_TRUE(d.device);
    for (const testing_support::BadEffect& bad : testing_support::HostileEffectFiles()) {
        ASSERT_FALSE(bad.source.empty()) << bad.what << ": the shipped dancer effect changed";
        Watchdog dog(30, bad.what);
        std::string errors;
        ID3DXEffect* effect = nullptr;
        EXPECT_EQ(fxtest::MakeEffect(d.device, bad.source, &effect, &errors), D3DXERR_INVALIDDATA) << bad.what;
        EXPECT_EQ(effect, nullptr);
        EXPECT_EQ(errors, "memory" + bad.error + "\n") << bad.what;
    }
}

// Conditions nest with a constant-time test of the active branch: a branch
// inside an inactive one stays off whatever its own #else says.
TEST(EffectLimits, ConditionalBranchesNestCorrectly)
{
    struct Case {
        const char* source;
        std::vector<std::string> globals;
    } cases[] = {
        {"#ifdef X\nfloat a;\n#else\nfloat b;\n#endif\n", {"a"}},
        {"#ifndef X\nfloat a;\n#else\nfloat b;\n#endif\n", {"b"}},
        {"#ifdef NO\n#ifndef NO\nfloat a;\n#else\nfloat b;\n#endif\nfloat c;\n#else\nfloat d;\n#endif\nfloat e;\n",
         {"d", "e"}},
        {"#ifndef NO\n#ifdef NO\nfloat a;\n#else\nfloat b;\n#endif\nfloat c;\n#else\nfloat d;\n#endif\n", {"b", "c"}},
        {"#ifdef NO\n#else\n#ifdef X\nfloat a;\n#endif\n#endif\nfloat z;\n", {"a", "z"}},
        {"#ifdef NO\n#define Y\n#endif\n#ifdef Y\nfloat a;\n#endif\nfloat z;\n", {"z"}},
    };
    for (const Case& c : cases) {
        std::string errors;
        fx::CompiledEffect fx;
        ASSERT_TRUE(Compile(c.source, &errors, &fx, {{"X", ""}})) << c.source << errors;
        EXPECT_EQ(GlobalNames(fx), c.globals) << c.source;
    }

    // 64 levels are taken, and the file's end finds any left open.
    std::string deep, errors;
    for (int i = 0; i < 64; ++i)
        deep += "#ifndef N" + std::to_string(i) + "\n";
    EXPECT_FALSE(Compile(deep, &errors));
    EXPECT_NE(errors.find("missing #endif"), std::string::npos) << errors;
    for (int i = 0; i < 64; ++i)
        deep += "#endif\n";
    EXPECT_TRUE(Compile(deep + "float a;\n", &errors)) << errors;
}

// Expansions count toward the cap even when they write nothing: a moderate
// use of empty macros compiles, a runaway one stops at the cap. A file's own
// tokens have a limit of their own, with its own message.
TEST(EffectLimits, ExpansionsAndTokensHaveTheirOwnCaps)
{
    std::string errors;
    std::string moderate = "#define E\n";
    for (int i = 0; i < 10000; ++i)
        moderate += "E ";
    EXPECT_TRUE(Compile(moderate + "\nfloat a;\n", &errors)) << errors;

    Watchdog dog(30, "empty macros of empty macros");
    std::string runaway = "#define E0\n#define E1 E0 E0 E0 E0 E0 E0 E0 E0 E0 E0\n";
    for (int k = 2; k <= 9; ++k) {
        runaway += "#define E" + std::to_string(k);
        for (int i = 0; i < 10; ++i)
            runaway += " E" + std::to_string(k - 1);
        runaway += "\n";
    }
    EXPECT_FALSE(Compile(runaway + "E9\n", &errors));
    EXPECT_EQ(errors, "memory(11,1): error: macro expansion too large\n");

    // A file just within the token limit and without macros is no
    // expansion; past it, it has too many tokens.
    std::string statements = "float4 f() { ";
    statements.append(262000, ';');
    EXPECT_TRUE(Compile(statements + " return 0; }\n", &errors)) << errors.substr(0, 200);
    std::string tokens;
    for (int i = 0; i < 300000; ++i)
        tokens += "a;";
    EXPECT_FALSE(Compile(tokens, &errors));
    EXPECT_EQ(errors, "memory(1,262145): error: too many tokens: more than 262144\n");
}

// The size limit holds for sources in memory and in files, and a file's
// size is looked at before a byte of it is read.
TEST(EffectLimits, SourcesPastTheSizeLimitAreRefused)
{
    std::string errors;
    const std::string tail = "\nfloat a;\n";
    std::string fits = "//" + std::string(fx::kMaxSourceBytes - 2 - tail.size(), 'x') + tail;
    ASSERT_EQ(fits.size(), fx::kMaxSourceBytes);
    EXPECT_TRUE(Compile(fits, &errors)) << errors;
    EXPECT_FALSE(Compile(fits + " ", &errors));
    EXPECT_EQ(errors, "memory(1,1): error: effect source too large: more than 1048576 bytes\n");

    // A 150 MB file that takes no disk: refused without being read.
    d3dtest::Device d;
    ASSERT_TRUE(d.device);
    char path[] = "/tmp/velmora_big_effect_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 150L << 20), 0);
    close(fd);
    const long before = s_Allocations;
    ID3DXEffect* effect = nullptr;
    ID3DXBuffer* messages = nullptr;
    char windowsPath[1024];
    ASSERT_TRUE(VelmoraToWindowsPath(path, windowsPath, sizeof windowsPath));
    EXPECT_EQ(D3DXCreateEffectFromFileA(d.device, windowsPath, nullptr, nullptr, 0, nullptr, &effect, &messages),
              D3DXERR_INVALIDDATA);
    const long used = s_Allocations - before;
    unlink(path);
    EXPECT_EQ(effect, nullptr);
    ASSERT_NE(messages, nullptr);
    const std::string text = (const char*)messages->GetBufferPointer();
    messages->Release();
    EXPECT_NE(text.find("(1,1): error: effect source too large: more than 1048576 bytes"), std::string::npos) << text;
    if (kAllocationsCounted) {
        EXPECT_LT(used, 50) << "the file was read";
    }
}

// Each profile holds its instruction slots: those without flow control
// with every loop unrolled, the others as the code stands.
TEST(EffectLimits, ShaderProfilesKeepTheirInstructionSlots)
{
    // One slot a statement (a four-float add); the return's move takes one
    // more, and where the code stands as it is its jump one more again.
    const std::string add = "c = c + 0.001;";
    EXPECT_EQ(MostStatements("vs_1_1", add, 2000), 127);
    EXPECT_EQ(MostStatements("vs_2_0", add, 2000), 254);
    EXPECT_EQ(MostStatements("vs_3_0", add, 2000), 510);
    EXPECT_EQ(MostStatements("ps_1_1", add, 2000), 7);
    EXPECT_EQ(MostStatements("ps_1_4", add, 2000), 15);
    EXPECT_EQ(MostStatements("ps_2_0", add, 2000), 63);
    EXPECT_EQ(MostStatements("ps_2_a", add, 2000), 94);
    // ps_3_0's 512 slots are more than a technique's pixel shaders take.
    EXPECT_EQ(MostStatements("ps_3_0", add, 2000), 383);

    std::string errors;
    EXPECT_FALSE(Compile(Shader("ps_2_0", add, 64), &errors));
    EXPECT_EQ(errors, "memory(69,38): error: 'S': the shader takes 65 arithmetic instruction slots with its loops "
                      "unrolled, more than the 64 of ps_2_0\n");
    EXPECT_FALSE(Compile(Shader("vs_2_0", add, 255), &errors));
    EXPECT_EQ(errors, "memory(260,39): error: 'S': the shader takes 257 instruction slots, more than the 256 of "
                      "vs_2_0\n");

    // Discards are texkill, counted among ps_2_0's 32 texture slots, not
    // its 64 arithmetic ones; 63 adds leave room for them.
    EXPECT_EQ(MostStatements("ps_2_0", "clip(c);", 100), 32);
    EXPECT_TRUE(Compile(Shader("ps_2_0", add + " clip(c);", 32), &errors)) << errors;
    EXPECT_FALSE(Compile(Shader("ps_2_0", "clip(c);", 33), &errors));
    EXPECT_NE(errors.find("takes 33 texture instruction slots"), std::string::npos) << errors;

    // Scalar-only operations take a slot per float, as the assembly does.
    EXPECT_EQ(MostStatements("ps_2_0", "c = exp(c);", 100), 15);

    // A loop of 20 iterations of 10 slots: within vs_2_0's slots as it
    // stands, past vs_1_1's and ps_2_0's unrolled.
    const std::string loop = "for (int i = 0; i < 20; i++) { c = c + 1.0; c = c + 1.0; c = c + 1.0; c = c + 1.0; "
                             "c = c + 1.0; c = c + 1.0; c = c + 1.0; c = c + 1.0; c = c + 1.0; c = c + 1.0; }";
    EXPECT_TRUE(Compile(Shader("vs_2_0", loop, 1), &errors)) << errors;
    EXPECT_TRUE(Compile(Shader("ps_3_0", loop, 1), &errors)) << errors;
    EXPECT_FALSE(Compile(Shader("vs_1_1", loop, 1), &errors));
    EXPECT_NE(errors.find("instruction slots with its loops unrolled, more than the 128 of vs_1_1"), std::string::npos)
        << errors;
    EXPECT_FALSE(Compile(Shader("ps_2_0", loop, 1), &errors));
    EXPECT_NE(errors.find("arithmetic instruction slots with its loops unrolled, more than the 64 of ps_2_0"),
              std::string::npos)
        << errors;

    // Executed instructions stay bounded where loops are allowed.
    const std::string longLoop = "for (int i = 0; i < 255; i++) { " + [] {
        std::string s;
        for (int k = 0; k < 300; ++k)
            s += "c = c + 1.0; ";
        return s;
    }() + "}";
    EXPECT_FALSE(Compile(Shader("vs_3_0", longLoop, 1), &errors));
    EXPECT_NE(errors.find("loop too long"), std::string::npos) << errors;
}

// A technique's passes and their slots together have a ceiling, so that a
// frame through any effect that compiles is bounded work.
TEST(EffectLimits, TechniquesHaveBoundedWork)
{
    auto technique = [](int passes, const std::string& vs, const std::string& ps) {
        std::string out = "technique T\n{\n";
        for (int p = 0; p < passes; ++p)
            out += "    pass P" + std::to_string(p) + " { VertexShader = compile vs_2_0 " + vs +
                   "(); PixelShader = compile ps_2_0 " + ps + "(); }\n";
        return out + "}\n";
    };
    std::string heavyPs = "float4 Heavy(float4 c : COLOR0) : COLOR0\n{\n";
    for (int i = 0; i < 63; ++i)
        heavyPs += "    c = c + 0.001;\n";
    heavyPs += "    return c;\n}\n";
    const std::string plain = "float4 V(float4 p : POSITION) : POSITION { return p; }\n"
                              "float4 Plain(float4 c : COLOR0) : COLOR0 { return c; }\n";
    std::string errors;
    EXPECT_TRUE(Compile(plain + technique(16, "V", "Plain"), &errors)) << errors;
    EXPECT_FALSE(Compile(plain + technique(17, "V", "Plain"), &errors));
    EXPECT_EQ(errors, "memory(21,5): error: technique 'T': more than 16 passes\n");

    // Six passes of 64 pixel slots fit in 384; a seventh does not.
    EXPECT_TRUE(Compile(plain + heavyPs + technique(6, "V", "Heavy"), &errors)) << errors;
    EXPECT_FALSE(Compile(plain + heavyPs + technique(7, "V", "Heavy"), &errors));
    EXPECT_EQ(errors, "memory(78,64): error: technique 'T': its pixel shaders take more than 384 instruction slots "
                      "a pixel, loops at their bound\n");

    // Vertex loops near the run limit each: two passes of them are too many.
    std::string loopVs = "float4 L(float4 p : POSITION) : POSITION\n{\n    for (int i = 0; i < 250; i++) {\n";
    for (int i = 0; i < 200; ++i)
        loopVs += "        p = p * 0.999;\n";
    loopVs += "    }\n    return p;\n}\n";
    EXPECT_TRUE(Compile(plain + loopVs + technique(1, "L", "Plain"), &errors)) << errors;
    EXPECT_FALSE(Compile(plain + loopVs + technique(2, "L", "Plain"), &errors));
    EXPECT_NE(errors.find("technique 'T': its vertex shaders take more than 65535 instruction slots a vertex"),
              std::string::npos)
        << errors;
}

// The loop analysis resolves names by scope: a namesake declared inside the
// loop is another variable, whatever it is written with.
TEST(EffectLimits, ShadowingVariablesAreNotTheLoopsOwn)
{
    auto vs = [](const std::string& body) {
        return "float4 S(float4 c : POSITION) : POSITION\n{\n" + body +
               "\n    return c;\n}\ntechnique T { pass P { VertexShader = compile vs_3_0 S(); } }\n";
    };
    std::string errors;
    fx::CompiledEffect fx;
    for (const char* body : {
             "    int i = 0;\n    while (i < 10) { { int i = 5; i -= 3; } i++; }",
             "    int i = 0;\n    while (i < 10) { c.x += 1.0; { int i = 5; i -= 3; c.y += i; } i++; }",
             "    int n = 4;\n    for (int i = 0; i < n; i++) { { int n = 3; n += 1; c.x += n; } }",
             "    int d = 1;\n    for (int i = 0; i < 10; i += d) { { int d = 2; d++; c.x += d; } }",
             "    int i = 0;\n    do { { float i = 5; i *= 3; c.x += i; } i++; } while (i < 10);",
             "    for (int i = 0; i < 4; i++) { for (int j = 0; j < 3; j++) { int i = j; i += 2; c.x += i; } }",
         })
        EXPECT_TRUE(Compile(vs(body), &errors, &fx)) << body << "\n" << errors;

    // The loop's own counter, written in the body, is still refused; so is a
    // write after the inner scope has closed.
    EXPECT_FALSE(Compile(vs("    int i = 0;\n    while (i < 10) { i = 3; i++; }"), &errors));
    EXPECT_NE(errors.find("its counter 'i' is written in the loop besides its step"), std::string::npos) << errors;
    EXPECT_FALSE(Compile(vs("    int n = 4;\n    for (int i = 0; i < n; i++) { { int n = 3; } n += 1; }"), &errors));
    EXPECT_NE(errors.find("'i' is not compared with a fixed limit"), std::string::npos) << errors;
}

// Out of memory at any allocation of D3DX's loaders fails the call with
// E_OUTOFMEMORY (or the call gets by), never an exception out of it, and
// the next call loads as ever.
TEST(EffectLimits, OutOfMemoryFailsTheLoadersCall)
{
    if (!kAllocationsCounted)
        GTEST_SKIP() << "allocations are not counted under ThreadSanitizer";
    d3dtest::Device d;
    ASSERT_TRUE(d.device);
    auto windows = [](const std::string& path) {
        char out[1024];
        VelmoraToWindowsPath(path.c_str(), out, sizeof out);
        return std::string(out);
    };
    const std::string data = std::string(VELMORA_PLUGIN_DIR) + "/data/";
    const std::string effectPath = windows(data + "shaders/dancer.fx");
    const std::string texturePath = windows(data + "textures/menu4.tga");
    const std::string meshPath = windows(data + "objects/spot.x");

    struct Loader {
        const char* what;
        std::function<HRESULT()> load;
    };
    const std::vector<Loader> loaders = {
        {"effect", [&] {
             ID3DXEffect* fx = nullptr;
             HRESULT hr = D3DXCreateEffectFromFileA(d.device, effectPath.c_str(), nullptr, nullptr, 0, nullptr, &fx,
                                                    nullptr);
             if (fx)
                 fx->Release();
             return hr;
         }},
        {"texture", [&] {
             IDirect3DTexture9* t = nullptr;
             HRESULT hr = D3DXCreateTextureFromFileA(d.device, texturePath.c_str(), &t);
             if (t)
                 t->Release();
             return hr;
         }},
        {"mesh", [&] {
             ID3DXMesh* m = nullptr;
             HRESULT hr = D3DXLoadMeshFromXA(meshPath.c_str(), D3DXMESH_SYSTEMMEM, d.device, nullptr, nullptr, nullptr,
                                             nullptr, &m);
             if (m)
                 m->Release();
             return hr;
         }},
        {"box", [&] {
             ID3DXMesh* m = nullptr;
             ID3DXBuffer* adjacency = nullptr;
             HRESULT hr = D3DXCreateBox(d.device, 1.f, 2.f, 3.f, &m, &adjacency);
             if (m)
                 m->Release();
             if (adjacency)
                 adjacency->Release();
             return hr;
         }},
        {"font", [&] {
             ID3DXFont* f = nullptr;
             HRESULT hr = D3DXCreateFontA(d.device, 20, 10, 4, 0, FALSE, 0, 0, 0, 0, "Arial", &f);
             if (f)
                 f->Release();
             return hr;
         }},
    };
    for (const Loader& loader : loaders) {
        HRESULT hr = E_FAIL;
        FailEachAllocation(
            loader.what, [&] { return (hr = loader.load()) == D3D_OK; },
            [&] {
                // The device reports its own buffers out of memory as video memory.
                EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == D3DERR_OUTOFVIDEOMEMORY || hr == D3D_OK)
                    << loader.what << ": " << std::hex << hr;
            });
    }
}
