#include "app/command_line.h"

#include <string_view>

#include "platform/kernel/text.h"

namespace app {

const char kUsage[] =
    "usage: tonaria [--help] [--version] [--] [FILE]\n"
    "Plays FILE (MP3, WAV, Ogg Vorbis, WMA, APE or FLAC) in a small window with a live spectrum.\n";
const char kVersion[] = "tonaria 0.2009.5\n";

ParsedOptions ParseOptions(int argc, const char* const* argv) {
  ParsedOptions parsed;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    if (!optionsEnded && argument.starts_with("--")) {
      if (argument == "--") {
        optionsEnded = true;
      } else if (argument == "--help") {
        parsed.action = OptionAction::kHelp;
        return parsed;
      } else if (argument == "--version") {
        parsed.action = OptionAction::kVersion;
        return parsed;
      } else {
        parsed.action = OptionAction::kUsageError;
        parsed.badOption = argument;
        return parsed;
      }
      continue;
    }
    parsed.operands.emplace_back(argument);
  }
  return parsed;
}

std::u16string BuildCommandLine(const std::vector<std::string>& operands) {
  std::u16string line;
  for (const std::string& operand : operands) {
    if (!line.empty()) line += u' ';
    const std::u16string wide = platform::FromUtf8(operand);
    const bool quote = wide.empty() || wide.find_first_of(u" \t") != std::u16string::npos;
    if (quote) line += u'"';
    line += wide;
    if (quote) line += u'"';
  }
  return line;
}

std::u16string TakePathFromCommandLine(std::u16string_view commandLine) {
  std::u16string path;
  const std::size_t length = commandLine.size();
  int quotes = 0;
  char16_t first = 0;
  char16_t second = 0;
  for (std::size_t pos = 0; pos < length; ++pos) {
    if (commandLine[pos] == u'"') {
      if (++quotes == 2) return path;
      // The character after a quote is not looked at as a quote again.
      if (++pos >= length) break;
    }
    const char16_t c = commandLine[pos];
    const char16_t next = pos + 1 < length ? commandLine[pos + 1] : u'\0';
    if (path.empty()) {
      first = c;
      second = next;
    } else if (c == first && next == second && path.back() == u' ') {
      // A second path that starts like the first: keep the first, without the blank.
      // Only after a blank, since on this system a path's own parts may start alike.
      path.pop_back();
      return path;
    }
    path += c;
  }
  return path;
}

}  // namespace app
