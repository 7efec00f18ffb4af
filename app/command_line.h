// The command line as the shell split it: options, and the one file to play.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace app {

enum class OptionAction { kRun, kHelp, kVersion, kUsageError };

struct ParsedOptions {
  OptionAction action = OptionAction::kRun;
  std::string file;                 // the first file named, made absolute; empty when none
  std::vector<std::string> others;  // further files, as given: one file plays at a time
  std::string badOption;            // for kUsageError
  bool newInstance = false;         // --new-instance: never hand the file to a running program
};

// "-h" and "--help", "--version", "--new-instance"; "--" ends the options, and any other argument
// that starts with '-' (but is not "-" itself) is an unknown option. A file is
// taken byte for byte: blanks, quotes and any other characters are its own.
ParsedOptions ParseOptions(int argc, const char* const* argv);

// path against the current folder, leading "./" dropped; unchanged when already
// absolute, empty, or when the current folder cannot be had.
std::string MakeAbsolute(std::string_view path);

// The line that says which files were left out; empty when there were none.
std::string IgnoredFilesLine(const ParsedOptions& options);

extern const char kUsage[];
// "tonaria VERSION\n", the version the About box shows too.
std::string VersionLine();

}  // namespace app
