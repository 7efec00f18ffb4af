// The program's resources: identifiers, strings, accelerators 109, the open
// dialog's filter and dialog 103 (menu 109 is in resources_menu.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/resources_menu.h"
#include "platform/qt/dialog_box.h"
#include "platform/qt/window_messages.h"

namespace app {

inline constexpr std::uint32_t IDS_APP_TITLE = 103;
inline constexpr std::uint32_t IDC_LUMENA = 109;  // class name string, menu and accelerators
inline constexpr std::uint32_t IDD_ABOUTBOX = 103;
inline constexpr std::uint32_t IDI_LARGE = 107;
inline constexpr std::uint32_t IDI_SMALL = 108;

inline constexpr std::uint32_t IDM_ABOUT_ACCEL = 104;

inline constexpr std::uint32_t WM_SET_FILE_READY = 0x2390;

inline constexpr char16_t kUnsupportedFileText[] =
    u"Only supports mp3, wav, ogg, wma, ape, flac file now.\nAnd wma need Windows Media Format 9 "
    u"or higher support.";
// The program's version, as the About box, --version and the manual page give it.
extern const char16_t kVersion[];

inline constexpr char16_t kPathTooLongText[] =
    u"The file's path is longer than 259 characters, so it cannot be opened.\nMove or rename the "
    u"file and try again.";

// String resources 103 and 109; empty for other identifiers.
std::u16string LoadString(std::uint32_t id);

std::vector<platform::qt::Accelerator> LoadAccelerators109();
std::vector<std::pair<std::u16string, std::u16string>> OpenFileFilter();
platform::qt::DialogTemplate AboutDialog103();

}  // namespace app
