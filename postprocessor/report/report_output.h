// Helpers the report printers share to write through the output log.
// Internal to the library: extensions use OutputLog directly.
#pragma once

#include <string>

namespace qorv::postprocessor::detail {

// Writes text as one message of the output log, without colour.
void Emit(const std::string& text);

// Emits an end of line (std::endl) as one message.
void EmitNewline();

// A rule of `width` '-' characters; empty when the width is 0 or less.
std::string Rule(int width);

}  // namespace qorv::postprocessor::detail
