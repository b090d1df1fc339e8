// Compiling a fragment shader without a GL context, for the pre-flight:
// the assembled source goes to glslangValidator (Debian: glslang-tools) on
// its standard input and its log comes back in the "ERROR: 0:12: ..." form
// that ParseShaderLog reads.
#pragma once

#include <string>
#include <vector>

#include "render/shader_source.h"

struct TShaderValidation {
    bool Ran = false;                     // false: the validator could not be started
    bool Compiled = false;                // it ran and accepted the shader
    std::vector<TShaderMessage> Messages; // errors (and warnings) at the user's lines
};

// The validator program run; CORVALA_GLSLANG in the environment replaces it.
std::string ShaderValidatorProgram();

TShaderValidation ValidateShader(const TShaderSource& source);
