#include "app/headless_reports.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/kernel/text.h"
#include "platform/ui/message_box.h"

namespace app::headless {
namespace {

std::mutex reportMutex;
std::u16string subject;             // guarded by reportMutex
std::uint64_t linesWritten = 0;     // guarded by reportMutex
std::uint64_t linesBeforeFile = 0;  // window's thread only

int WriteLine(platform::ui::HWND, std::u16string_view text, std::u16string_view, std::uint32_t) {
  std::scoped_lock hold(reportMutex);
  std::fputs(ReportLine(subject, text).c_str(), stderr);
  ++linesWritten;
  return platform::ui::IDOK;
}

std::uint64_t LinesWritten() {
  std::scoped_lock hold(reportMutex);
  return linesWritten;
}

}  // namespace

void InstallReports() { platform::ui::SetMessageBoxSink(WriteLine); }

void AboutFile(std::u16string_view path) {
  std::scoped_lock hold(reportMutex);
  subject = path;
  linesBeforeFile = linesWritten;
}

void ReportNothingPlayed(shell::Prepared prepared) {
  if (LinesWritten() != linesBeforeFile) return;  // a box already said why
  std::u16string path;
  {
    std::scoped_lock hold(reportMutex);
    path = subject;
  }
  platform::ui::MessageBox(nullptr, NothingPlayedReason(platform::ToUtf8(path), prepared), u"Error",
                           platform::ui::MB_ICONEXCLAMATION);
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

std::u16string NothingPlayedReason(const std::string& path, shell::Prepared prepared) {
  // Not blocking: a pipe with no writer must not hold the program up.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return platform::FromUtf8(std::strerror(errno));
  struct stat info = {};
  const bool folder = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
  ::close(fd);
  if (folder) return platform::FromUtf8(std::strerror(EISDIR));
  if (prepared == shell::Prepared::kNoOutput) return u"no sound output could be opened";
  return u"no audio could be decoded from this file";
}

}  // namespace app::headless
