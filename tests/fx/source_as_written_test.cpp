// Effects as editors leave them: a byte-order mark, stray bytes, nothing
// to draw with, a comment left open; and an effect that does not fit in
// memory. Each failure comes back as one whole line the module can log.
#include "bad_effects.h"
#include "effect_test_support.h"
#include "failing_allocations.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using d3dtest::Device;
using fxtest::MakeEffect;

// The compiler's text for `source`, empty when it loads.
std::string Errors(IDirect3DDevice9* device, const std::string& source)
{
    ID3DXEffect* fx = nullptr;
    std::string errors;
    const HRESULT hr = MakeEffect(device, source, &fx, &errors);
    if (fx)
        fx->Release();
    EXPECT_EQ(SUCCEEDED(hr), errors.empty()) << errors;
    return errors;
}

}  // namespace

TEST(SourceAsWritten, AByteOrderMarkIsSkippedAndColumnsCountAfterIt)
{
    Device d;
    ASSERT_TRUE(d.device);
    const std::string bom = "\xEF\xBB\xBF";
    const std::string dancer = testing_support::ReadShippedEffect("dancer.fx");
    ASSERT_FALSE(dancer.empty());
    EXPECT_EQ(Errors(d.device, bom + dancer), "");
    EXPECT_EQ(Errors(d.device, bom + "float4 x}"), "memory(1,9): error: syntax error: expected ';' before '}'\n");
    // Only at the start.
    EXPECT_EQ(Errors(d.device, "float4 x;\n" + bom), "memory(2,1): error: syntax error: unexpected '\\xEF'\n");
}

TEST(SourceAsWritten, BytesThatCannotBePrintedAreEscapedInAWholeMessage)
{
    Device d;
    ASSERT_TRUE(d.device);
    EXPECT_EQ(Errors(d.device, std::string("float4 x\0;", 10)),
              "memory(1,9): error: syntax error: expected ';' before '\\x00'\n");
    EXPECT_EQ(Errors(d.device, "float4 x;\n\xFF"), "memory(2,1): error: syntax error: unexpected '\\xFF'\n");
    EXPECT_EQ(Errors(d.device, "float4 x;\n\x7F"), "memory(2,1): error: syntax error: unexpected '\\x7F'\n");
    EXPECT_EQ(Errors(d.device, "#\x01\n"), "memory(1,1): error: unknown preprocessor directive '#\\x01'\n");
}

TEST(SourceAsWritten, NothingToDrawWithAndAnOpenCommentEachSayWhy)
{
    Device d;
    ASSERT_TRUE(d.device);
    EXPECT_EQ(Errors(d.device, ""), "memory(1,1): error: the effect is empty\n");
    EXPECT_EQ(Errors(d.device, "\xEF\xBB\xBF // nothing\n/* here */\n\n"), "memory(4,1): error: the effect is empty\n");
    EXPECT_EQ(Errors(d.device, "#ifdef X\nfloat4 x;\n#endif\n"), "memory(4,1): error: the effect is empty\n");
    EXPECT_EQ(Errors(d.device, "float4 material;\nfloat4 VS(float4 p : POSITION) : POSITION { return p; }\n"),
              "memory(1,1): error: the effect has no technique\n");
    EXPECT_EQ(Errors(d.device, "float4 x;\n  /* open"), "memory(2,3): error: unterminated comment\n");
    EXPECT_EQ(Errors(d.device, "/*/"), "memory(1,1): error: unterminated comment\n");
    EXPECT_EQ(Errors(d.device, "float4 x; /**/\ntechnique T { pass P { } }\n"), "");
    // One left open in a directive ends with its line, as a line comment would.
    EXPECT_EQ(Errors(d.device, "#define X 1 /* open\ntechnique T { pass P { } }\n"), "");
}

TEST(SourceAsWritten, AnEffectThatRunsOutOfMemorySaysSo)
{
    if (!kAllocationsCounted)
        GTEST_SKIP() << "allocations are not counted under ThreadSanitizer";
    Device d;
    ASSERT_TRUE(d.device);
    const std::string dancer = testing_support::ReadShippedEffect("dancer.fx");
    ASSERT_FALSE(dancer.empty());
    HRESULT hr = E_FAIL;
    bool failed = false;
    std::string errors;
    FailEachAllocation(
        "effect", [&] {
            ID3DXEffect* fx = nullptr;
            ID3DXBuffer* buffer = nullptr;
            hr = D3DXCreateEffect(d.device, dancer.data(), (UINT)dancer.size(), nullptr, nullptr, 0, nullptr, &fx,
                                  &buffer);
            failed = s_FailAllocationAfter < 0;
            s_FailAllocationAfter = -1;  // what follows is the test's
            errors = buffer ? (const char*)buffer->GetBufferPointer() : "";
            if (buffer)
                buffer->Release();
            if (fx)
                fx->Release();
            return hr == D3D_OK;
        },
        [&] {
            if (!failed)
                return;
            EXPECT_EQ(hr, E_OUTOFMEMORY);
            EXPECT_EQ(errors, "memory(1,1): error: not enough memory to compile the effect\n");
        });
}
