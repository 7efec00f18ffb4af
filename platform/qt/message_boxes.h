// Real message boxes for the program's MessageBox calls.
#pragma once

#include <string>
#include <string_view>

namespace platform::qt {

enum class MessageBoxMode {
  kWindows,  // QMessageBox owned by the given, the active or the main window
  kHeadless  // one line on standard error (caption and text), nothing waits
};

// Installs the sink. In kWindows mode a box asked for on the window's thread is
// modal and returns when closed; one asked for on any other thread is queued to the
// window's thread and shown there without blocking the caller, which gets IDOK at
// once. So a playback thread's box can never wait on a window thread that is
// itself waiting for that playback thread to stop.
void InstallMessageBoxes(MessageBoxMode mode);

// The one-line form used in headless mode: "Caption: text", line breaks as blanks.
std::string HeadlessLine(std::u16string_view caption, std::u16string_view text);

}  // namespace platform::qt
