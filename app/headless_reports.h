// Without a display nobody can read a message box, so each one becomes a line on
// standard error that names the file it is about: "tonaria: FILE: message". A
// playback that ends with nothing heard gets such a line too, saying why, when no
// box already did.
#pragma once

#include <string>
#include <string_view>

namespace app::headless {

// Where whole lines go: standard error, unless a test says otherwise.
using LineWriter = void (*)(const std::string& line);

// From now on message boxes are written as lines. Any thread may then ask for one.
void InstallReports(LineWriter write = nullptr);
// The file the following lines are about. Window's thread.
void AboutFile(std::u16string_view path);
// Says why the file did not play, as a box (so a line), unless a line about it
// was already written.
void SayUnlessSaid(std::u16string_view why);

// "tonaria: FILE: message" (or "tonaria: message" without a file), on one line.
std::string ReportLine(std::u16string_view file, std::u16string_view message);

}  // namespace app::headless
