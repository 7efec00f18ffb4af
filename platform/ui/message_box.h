// Message boxes. Where they go is set by whoever owns the screen: standard error
// until a window exists, the window layer afterwards, a recorder in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/ui/window.h"

namespace platform::ui {

inline constexpr std::uint32_t MB_OK = 0x0;
inline constexpr std::uint32_t MB_ICONEXCLAMATION = 0x30;
inline constexpr int IDOK = 1;

using MessageBoxSink = std::function<int(HWND owner, std::u16string_view text,
                                         std::u16string_view caption, std::uint32_t flags)>;

// Shows the box and returns the button pressed (IDOK). Any thread.
int MessageBox(HWND owner, std::u16string_view text, std::u16string_view caption,
               std::uint32_t flags);

// Replaces where boxes go; an empty sink restores standard error. Returns the old sink.
MessageBoxSink SetMessageBoxSink(MessageBoxSink sink);

// The window that owns boxes asked for without a specific owner; null when none.
HWND GetActiveWindow();
void SetActiveWindow(HWND window);

}  // namespace platform::ui
