// The open-file dialog, replaceable so that tests can answer it.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/window.h"

namespace platform::qt {

inline constexpr std::uint32_t OFN_PATHMUSTEXIST = 0x0800;
inline constexpr std::uint32_t OFN_FILEMUSTEXIST = 0x1000;

struct OpenFileName {
  ui::HWND owner = nullptr;
  // (display text, patterns separated by ';'), in the order shown.
  std::vector<std::pair<std::u16string, std::u16string>> filter;
  int filterIndex = 1;  // 1-based, as the classic dialog counts
  std::uint32_t flags = 0;
  std::u16string initialDir;  // the folder it opens in; empty: the dialog's own choice
};

// The whole chosen path, never cut; nothing when the user cancelled.
std::optional<std::u16string> GetOpenFileName(const OpenFileName& request);

using OpenFileDialog = std::function<std::optional<std::u16string>(const OpenFileName& request)>;
// Replaces the dialog; an empty one restores Qt's. Returns the previous one.
OpenFileDialog SetOpenFileDialog(OpenFileDialog dialog);

// Qt's filter string for the request: "Text (*.a *.b);;...", where a text that
// already ends with its patterns in parentheses is taken as it is.
QString QtFilterOf(const OpenFileName& request);

}  // namespace platform::qt
