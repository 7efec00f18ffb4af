#include "app/command_line.h"

#include <cerrno>
#include <unistd.h>

#include "app/resources.h"
#include "platform/kernel/text.h"

namespace app {

const char kUsage[] =
    "usage: tonaria [-h|--help] [--version] [--new-instance] [--] [FILE]\n"
    "Plays FILE (MP3, WAV, Ogg Vorbis, WMA, APE or FLAC) in a small window with a live spectrum;\n"
    "without FILE the window opens idle. Where Tonaria already runs, FILE plays in its window;\n"
    "--new-instance starts a player of its own instead.\n";

std::string VersionLine() { return "tonaria " + platform::ToUtf8(kVersion) + "\n"; }

ParsedOptions ParseOptions(int argc, const char* const* argv) {
  ParsedOptions parsed;
  bool optionsEnded = false;
  bool haveFile = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    if (!optionsEnded && argument.size() > 1 && argument.front() == '-') {
      if (argument == "--") {
        optionsEnded = true;
        continue;
      }
      if (argument == "--new-instance") {
        parsed.newInstance = true;
        continue;
      }
      if (argument == "-h" || argument == "--help") {
        parsed.action = OptionAction::kHelp;
      } else if (argument == "--version") {
        parsed.action = OptionAction::kVersion;
      } else {
        parsed.action = OptionAction::kUsageError;
        parsed.badOption = argument;
      }
      return parsed;
    }
    if (haveFile) {
      parsed.others.emplace_back(argument);
    } else {
      parsed.file = MakeAbsolute(argument);
      haveFile = true;
    }
  }
  return parsed;
}

std::string MakeAbsolute(std::string_view path) {
  if (path.empty() || path.front() == '/') return std::string(path);
  while (path.starts_with("./")) {
    path.remove_prefix(2);
    while (path.starts_with('/')) path.remove_prefix(1);
  }
  std::string folder(256, '\0');
  while (getcwd(folder.data(), folder.size()) == nullptr) {
    if (errno != ERANGE) return std::string(path);
    folder.resize(folder.size() * 2);
  }
  folder.resize(folder.find('\0'));
  if (!folder.ends_with('/')) folder += '/';
  return folder + std::string(path);
}

std::string IgnoredFilesLine(const ParsedOptions& options) {
  if (options.others.empty()) return {};
  std::string line = "tonaria: one file at a time: ignoring " + options.others.front();
  if (options.others.size() > 1) {
    line += " and " + std::to_string(options.others.size() - 1) + " more";
  }
  return line + "\n";
}

}  // namespace app
