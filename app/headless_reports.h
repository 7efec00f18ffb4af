// Without a display nobody can read a message box, so each one becomes a line on
// standard error that names the file it is about: "tonaria: FILE: message". A
// playback that ends with nothing heard gets such a line too, saying why, when no
// box already did.
#pragma once

#include <string>
#include <string_view>

#include "app/shell.h"

namespace app::headless {

// From now on message boxes are written as lines. Any thread may then ask for one.
void InstallReports();
// The file the following lines are about. Window's thread.
void AboutFile(std::u16string_view path);
// The playback of the file ended and nothing reached the output: says why, unless
// a line about the file was already written. Window's thread.
void ReportNothingPlayed(shell::Prepared prepared);

// "tonaria: FILE: message" (or "tonaria: message" without a file), on one line.
std::string ReportLine(std::u16string_view file, std::u16string_view message);
// Why nothing of path was played, as far as the file itself tells: it cannot be
// read, it is no audio, or no output took it.
std::u16string NothingPlayedReason(const std::string& path, shell::Prepared prepared);

}  // namespace app::headless
