// Notes meant for whoever is watching the program run, such as a damaged stretch
// a decoder skipped. They go to standard error as the program's own lines.
#pragma once

#include <string_view>

namespace platform {

// Writes "tonaria: TEXT" as one line; a trailing newline in TEXT is not doubled.
void OutputDebugString(std::string_view text);

}  // namespace platform
