// The pre-flight's shader compile through the validator program, with
// stand-in validators (CORVALA_GLSLANG) that misbehave.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <string>

#include "render/shader_check.h"
#include "support/temp_dir.h"

namespace {

// Runs ValidateShader with CORVALA_GLSLANG naming `program`.
TShaderValidation ValidateWith(const std::string& program, const TShaderSource& source) {
    setenv("CORVALA_GLSLANG", program.c_str(), 1);
    TShaderValidation result = ValidateShader(source);
    unsetenv("CORVALA_GLSLANG");
    return result;
}

// A shader of more than a MiB (comment lines after main), an undeclared
// name on its line 2.
TShaderSource BigShader() {
    std::string text = "void main() {\n    gl_FragColor = vec4(nope);\n}\n";
    for (int i = 0; i < 17000; ++i) text += "// a comment line that makes the shader larger than a pipe holds\n";
    return AssembleShader("big.frag", [&](const std::string&, std::string& out, std::string&) {
        out = text;
        return true;
    });
}

} // namespace

TEST(ShaderCheck, MisbehavingValidatorsNeitherHangNorEndTheEngine) {
    testutil::TempDir dir;
    const TShaderSource source = BigShader();
    ASSERT_TRUE(source.Errors.empty());
    ASSERT_GT(source.Text.size(), size_t(1) << 20);
    const size_t at = source.Text.find("vec4(nope)");
    ASSERT_NE(at, std::string::npos);
    const auto line = std::count(source.Text.begin(), source.Text.begin() + std::ptrdiff_t(at), '\n') + 1;
    const std::string error = "ERROR: 0:" + std::to_string(line) + ": nope : undeclared identifier";
    auto validator = [&](const std::string& name, const std::string& body) {
        const std::string path = dir.Write(name, "#!/bin/sh\n" + body + "\n");
        chmod(path.c_str(), 0755);
        return path;
    };

    // Writes a log larger than a pipe holds before it reads the source: fed
    // first and read after, both sides would wait until `timeout` ended it.
    // Its last line counts the bytes it was given.
    const std::string talker = validator("talker", "exec timeout 20 sh -c 'yes \"" + error +
                                                       "\" | head -n 20000; echo \"ERROR: 0:" + std::to_string(line) +
                                                       ": read $(wc -c) bytes\"; exit 2'");
    TShaderValidation result = ValidateWith(talker, source);
    EXPECT_TRUE(result.Ran);
    EXPECT_FALSE(result.Compiled);
    ASSERT_EQ(result.Messages.size(), 20001u);
    EXPECT_EQ(result.Messages[0].Format(), "big.frag:2: error: nope : undeclared identifier");
    EXPECT_EQ(result.Messages.back().Text, "read " + std::to_string(source.Text.size()) + " bytes");

    // Ends without reading: SIGPIPE does not end this test program.
    result = ValidateWith(validator("quitter", "echo '" + error + "'; exit 2"), source);
    EXPECT_TRUE(result.Ran);
    ASSERT_EQ(result.Messages.size(), 1u);
    EXPECT_EQ(result.Messages[0].Line, 2);

    // Accepts the shader after reading it all.
    result = ValidateWith(validator("quiet", "cat >/dev/null"), source);
    EXPECT_TRUE(result.Ran && result.Compiled && result.Messages.empty());

    // None to run: the check says it could not compile, not that it failed.
    EXPECT_FALSE(ValidateWith(dir.File("missing"), source).Ran);
}
