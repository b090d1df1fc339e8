#include "render/shader_check.h"

#include <cstdlib>

#include "base/process.h"

std::string ShaderValidatorProgram() {
    const char* chosen = std::getenv("CORVALA_GLSLANG");
    return chosen && *chosen ? chosen : "glslangValidator";
}

TShaderValidation ValidateShader(const TShaderSource& source) {
    TShaderValidation result;
    const std::string program = ShaderValidatorProgram();
    // The source goes to the validator's input while its log is read: one
    // that answers before it has read everything cannot block us, and one
    // that dies while fed does not end the engine.
    TProcessOptions options;
    options.FeedInput = true;
    options.CaptureOutput = options.CaptureErrors = true;
    const TProcessRun run = RunProcess({program, "--stdin", "-S", "frag"}, options, source.Text);
    // A shell wrapper reports a missing program as exit code 127.
    if (!run.Started || ExitCode(run.Status) == 127) return result;
    result.Ran = true;
    result.Compiled = ExitCode(run.Status) == 0;
    if (!result.Compiled) {
        result.Messages = ParseShaderLog(run.Output, source);
        if (result.Messages.empty())
            result.Messages.push_back(
                {source.Files.empty() ? "shader" : source.Files[0], 0, false, program + " failed without a message"});
    }
    return result;
}
