// Start-up and the message loop.
#pragma once

#include <memory>
#include <string>

#include "platform/qt/qt_window.h"

namespace app {

// Registers the main window class; nonzero on success (also when already registered).
int RegisterMainClass();
// Makes, shows and places the main window (always on top at 1, 1); nonzero on success.
int CreateMainWindow();
// The main window object; null before CreateMainWindow and after DestroyMainWindow.
platform::qt::QtWindow* MainWindow();
void DestroyMainWindow();

// Steps of the entry point up to the message loop: title and class, the window,
// the file named on the command line (absolute; empty for none), accelerators,
// hot keys. False when the window could not be made.
bool StartShell(std::u16string_view path);

// The entry point: StartShell, the message loop, and an orderly end (a playback
// still running is stopped before the window goes). Returns the exit code.
int wWinMain(std::u16string_view path);

}  // namespace app
