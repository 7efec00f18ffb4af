#include "app/win_main.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "app/hot_keys.h"
#include "app/launch_handoff.h"
#include "app/resources.h"
#include "app/shell.h"
#include "app/shell_mpris_host.h"
#include "app/window_proc.h"
#include "platform/kernel/strsafe.h"
#include "platform/ui/message_box.h"

namespace app {
namespace {

namespace ui = platform::ui;
namespace qt = platform::qt;

std::unique_ptr<qt::QtWindow> mainWindowOwner;
bool classRegistered = false;

// The icon installed with the program (the build tree lays it out the same way
// beside its copy), else the system's.
std::string IconPath(const char* name) {
  const std::string besideProgram =
      QCoreApplication::applicationDirPath().toStdString() + "/../share/icons/hicolor/48x48/apps";
  for (const std::string& dir :
       {besideProgram, std::string("/usr/share/icons/hicolor/48x48/apps")}) {
    std::error_code error;
    const std::string path = dir + "/" + name;
    if (std::filesystem::exists(path, error)) return path;
  }
  return {};
}

}  // namespace

int RegisterMainClass() {
  if (classRegistered) return 1;
  qt::WindowClass windowClass;
  windowClass.name = shell::windowClassName;
  windowClass.procedure = WndProc;
  windowClass.makeMenu = LoadMenu109;
  windowClass.largeIconPath = IconPath("org.tonaria.Tonaria.png");
  windowClass.smallIconPath = windowClass.largeIconPath;
  classRegistered = qt::RegisterClassEx(windowClass);
  return classRegistered ? 1 : 0;
}

int CreateMainWindow() {
  mainWindowOwner =
      qt::QtWindow::Create(shell::windowClassName, shell::appTitle, {1, 1, 287, 120, true});
  if (!mainWindowOwner) return 0;
  shell::mainWindow = mainWindowOwner.get();
  ui::SetActiveWindow(mainWindowOwner.get());
  mainWindowOwner->Show();
  return 1;
}

qt::QtWindow* MainWindow() { return mainWindowOwner.get(); }

void DestroyMainWindow() {
  if (!mainWindowOwner) return;
  ui::SetActiveWindow(nullptr);
  shell::mainWindow = nullptr;
  mainWindowOwner.reset();
}

bool StartShell(std::u16string_view path) {
  platform::StringCchCopyW(shell::appTitle, std::size(shell::appTitle),
                           LoadString(IDS_APP_TITLE).c_str());
  platform::StringCchCopyW(shell::windowClassName, std::size(shell::windowClassName),
                           LoadString(IDC_LUMENA).c_str());
  RegisterMainClass();
  if (!CreateMainWindow()) return false;
  shell::SetWindowShows(ShowStateOnWindow);

  if (!path.empty() && SetCurrentPath(std::u16string(path))) {
    if (IsSupportedFile(shell::currentPath)) {
      PlayChosenFile();
    } else {
      ui::MessageBox(shell::mainWindow.load(), kUnsupportedFileText, u"Error",
                     ui::MB_ICONEXCLAMATION);
    }
  }
  mainWindowOwner->SetAccelerators(LoadAccelerators109());
  RegisterHotKeys(*mainWindowOwner);
  return true;
}

int wWinMain(std::u16string_view path) {
  if (!StartShell(path)) return 0;
  if (shell::headless && !shell::currentPlayer) {
    // Without a display nothing else can start a playback: with none started, stop here.
    if (path.empty()) {
      std::fputs("tonaria: no file named, and without a display none can be chosen\n", stderr);
    }
    qt::PostQuitMessage(2);
  } else if (!MediaControlsTurnedOff() && !sessionBusAllowed) {
    std::fputs("tonaria: no D-Bus session bus, so media keys and desktop controls are off\n",
               stderr);
  } else if (!MediaControlsTurnedOff()) {
    mprisService = std::make_unique<mpris::MprisService>(&mprisHost);
    if (!mprisService->Start()) {
      std::fprintf(stderr, "%s\n", mprisService->FailureMessage().c_str());
      mprisService.reset();
    }
  }
  const int exitCode = qt::RunMessageLoop();
  ReleaseLaunchName();
  mprisService.reset();
  // The playback thread still uses the window; end it before the window goes.
  ResetShell();
  if (mainWindowOwner && !mainWindowOwner->IsDestroyed()) mainWindowOwner->DestroyWindow();
  DestroyMainWindow();
  return exitCode;
}

}  // namespace app
