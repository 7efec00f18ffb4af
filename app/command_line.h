// From main's arguments to the one command-line string the shell takes its file
// from, and the shell's way of taking that string apart.
#pragma once

#include <string>
#include <vector>

namespace app {

enum class OptionAction { kRun, kHelp, kVersion, kUsageError };

struct ParsedOptions {
  OptionAction action = OptionAction::kRun;
  std::vector<std::string> operands;  // what is left after the options
  std::string badOption;              // for kUsageError
};

// Options start with "--"; "--" itself ends them.
ParsedOptions ParseOptions(int argc, const char* const* argv);

// The operands as one command line: separated by blanks, each with a blank or tab in it quoted.
std::u16string BuildCommandLine(const std::vector<std::string>& operands);

// The shell's rule for the file to play: a quoted path ends at its closing quote;
// of several unquoted paths that start alike only the first is taken. The result
// is not bounded here: the caller refuses what is too long.
std::u16string TakePathFromCommandLine(std::u16string_view commandLine);

extern const char kUsage[];
extern const char kVersion[];

}  // namespace app
