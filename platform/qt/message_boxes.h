// Real message boxes for the program's MessageBox calls.
#pragma once

namespace platform::qt {

// Installs QMessageBox as where boxes go, owned by the given, the active or the main
// window. A box asked for on the window's thread is modal and returns when closed;
// one asked for on any other thread is queued to the window's thread and shown
// there without blocking the caller, which gets IDOK at once. So a playback
// thread's box can never wait on a window thread that is itself waiting for that
// playback thread to stop.
void InstallMessageBoxes();

// For a quit that must not wait for anybody's answer (a signal): closes every box
// and dialog that is open, so that their nested loops return, and from then on
// boxes and dialogs return at once without showing. Window's thread.
void CloseModalWindows();
bool ModalWindowsRefused();

}  // namespace platform::qt
