// Drives the real shell and window procedure on Qt's offscreen platform, with the
// engine playing into scripted outputs. An output made for a key, command or drop
// takes nothing, so its playback stays on until the test stops or releases it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/shell.h"
#include "app/win_main.h"
#include "platform/qt/open_file_dialog.h"
#include "platform/qt/qt_window.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/playback_doubles.h"

class QAction;
class QMessageBox;
class QWidget;

namespace app_testing {

// The File menu's Play, Pause and Stop states; 3 is grayed and disabled.
using FileMenuFlags = std::vector<std::uint32_t>;
inline const FileMenuFlags kPlayingMenu = {3, 0, 0};
inline const FileMenuFlags kPausedMenu = {0, 3, 0};
inline const FileMenuFlags kStoppedMenu = {0, 3, 3};

// The one QApplication of the test process, on the offscreen platform.
void EnsureApplication();

// Runs the window thread's events until predicate holds; false after kBound.
bool PumpUntil(const std::function<bool()>& predicate);
void PumpPending();
// The menu bar action of window with this text; null when there is none.
QAction* FindAction(QWidget* window, const QString& text);
// Pumps until a visible message box with this text is up; null after kBound.
QMessageBox* WaitForBox(const QString& text);

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // StartShell with this file from the command line; the window exists afterwards.
  void Start(const std::u16string& path = u"");
  // Resets the shell and destroys its window, as the program's exit does.
  void CloseShell();
  platform::qt::QtWindow& Window() { return *app::MainWindow(); }
  std::u16string Title() { return Window().GetWindowText(); }
  std::uint32_t MenuState(std::uint32_t id) { return Window().GetMenu()->GetMenuState(id); }
  FileMenuFlags FileMenu() {
    return {MenuState(IDM_PLAY), MenuState(IDM_PAUSE), MenuState(IDM_STOP)};
  }

  void PressKey(int qtKey, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                const QString& text = {});
  // The key of a lower-case letter, without modifiers.
  void Key(char letter) {
    PressKey(Qt::Key_A + (letter - 'a'), Qt::NoModifier, QString(QChar(letter)));
  }
  void Command(std::uint32_t id);
  void Drop(const std::vector<std::string>& paths);

  // A short 16-bit stereo WAV in the test's folder; its full path.
  std::string MakeWav(const std::string& name, int frames = 8820);
  // Lets the latest output take everything, so its file ends by itself.
  void ReleaseLatestOutput();
  // Outputs and displays made so far and not yet destroyed, leaving out the last
  // `keep` of each (those of a playback still on).
  std::size_t Unreleased(std::size_t keep = 0);
  bool WaitForTitleEnding(const std::u16string& ending) {
    return PumpUntil([&] { return Title().ends_with(ending); });
  }

  testing_support::ScriptedOutputDevices devices;
  testing_support::RecordingDisplayFactory displays;
  std::unique_ptr<testing_support::MessageBoxRecorder> boxes;
  std::vector<platform::qt::OpenFileName> dialogRequests;
  std::optional<std::u16string> dialogAnswer;  // what the open dialog returns
};

std::u16string Wide(const std::string& text);

}  // namespace app_testing
