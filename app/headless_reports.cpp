#include "app/headless_reports.h"

#include <cstdio>
#include <mutex>

#include "platform/kernel/text.h"
#include "platform/ui/message_box.h"

namespace app::headless {
namespace {

void WriteToStderr(const std::string& line) { std::fputs(line.c_str(), stderr); }

// Boxes come from the window's thread and from the playback thread (a decoder's).
std::mutex reportMutex;
LineWriter writer = WriteToStderr;  // set before any line
std::u16string subject;             // guarded by reportMutex
bool subjectSaid = false;           // guarded by reportMutex: a line about subject went out

int WriteLine(platform::ui::HWND, std::u16string_view text, std::u16string_view, std::uint32_t) {
  std::scoped_lock hold(reportMutex);
  writer(ReportLine(subject, text));
  subjectSaid = true;
  return platform::ui::IDOK;
}

}  // namespace

void InstallReports(LineWriter write) {
  writer = write != nullptr ? write : WriteToStderr;
  platform::ui::SetMessageBoxSink(WriteLine);
}

void AboutFile(std::u16string_view path) {
  std::scoped_lock hold(reportMutex);
  subject = path;
  subjectSaid = false;
}

void SayUnlessSaid(std::u16string_view why) {
  {
    std::scoped_lock hold(reportMutex);
    if (subjectSaid) return;
  }
  platform::ui::MessageBox(nullptr, why, u"Error", platform::ui::MB_ICONEXCLAMATION);
}

std::string ReportLine(std::u16string_view file, std::u16string_view message) {
  std::string line = "tonaria: ";
  if (!file.empty()) line += platform::ToUtf8(file) + ": ";
  line += platform::ToUtf8(message);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line + "\n";
}

}  // namespace app::headless
