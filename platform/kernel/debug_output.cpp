#include "platform/kernel/debug_output.h"

#include <cstdio>
#include <string>

namespace platform {

void OutputDebugString(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  // One write per line, so lines from different threads never interleave.
  const std::string line = "tonaria: " + std::string(text) + "\n";
  std::fputs(line.c_str(), stderr);
}

}  // namespace platform
