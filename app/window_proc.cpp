#include "app/window_proc.h"

#include <QWidget>
#include <optional>

#include "app/about_box.h"
#include "app/launch_handoff.h"
#include "app/resources.h"
#include "app/shell.h"
#include "platform/qt/drop_files.h"
#include "platform/qt/open_file_dialog.h"
#include "platform/qt/qt_window.h"
#include "platform/ui/menu.h"
#include "platform/ui/message_box.h"

namespace app {
namespace {

namespace ui = platform::ui;
namespace qt = platform::qt;

constexpr std::uint32_t kHotKeyIds[] = {IDM_PLAY, IDM_PAUSE, IDM_STOP};
// VK_LEFT, VK_UP, VK_RIGHT and VK_DOWN.
constexpr std::uint32_t kVkLeft = 0x25;
constexpr std::uint32_t kVkUp = 0x26;
constexpr std::uint32_t kVkRight = 0x27;
constexpr std::uint32_t kVkDown = 0x28;

// Set while a command changes the playback. A message box shown meanwhile runs a
// nested loop; a key handled there must not reach a Player that is half made.
bool playbackBusy = false;

class BusyScope {
 public:
  BusyScope() { playbackBusy = true; }
  ~BusyScope() { playbackBusy = false; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
};

// Keys and hot keys are refused while their menu item is grayed in the state shown.
void SendCommandIfAllowed(ui::HWND window, std::uint32_t id) {
  if (shell::CommandEnabled(id)) qt::SendMessage(window, qt::WM_COMMAND, id, 0);
}

void OnDropFiles(ui::HWND window, const qt::DropFiles* drop) {
  if (playbackBusy) return;
  const BusyScope busy;
  shell::fileReady = 0;
  if ((qt::DragQueryFileCount(drop) & 0xFFFF) != 1) return;
  if (!SetCurrentPath(qt::DragQueryFilePath(drop, 0))) return;
  std::u16string displayName;
  if (!qt::GetFileDisplayName(shell::currentPath, displayName)) return;
  if (IsSupportedFile(displayName.c_str())) {
    PlayChosenFile();
  } else {
    ui::MessageBox(window, kUnsupportedFileText, u"Error", ui::MB_ICONEXCLAMATION);
  }
}

std::intptr_t OnPlay() {
  if (shell::fileReady != 0) {
    StartCurrentFile();
    return 0;
  }
  shell::currentPath[0] = u'\0';
  qt::OpenFileName request;
  request.owner = shell::mainWindow.load();
  request.filter = OpenFileFilter();
  request.filterIndex = 1;
  request.flags = qt::OFN_PATHMUSTEXIST | qt::OFN_FILEMUSTEXIST;
  // Where the file before came from: the next track of an album is usually beside it.
  request.initialDir = shell::chosenFolder;
  // The chosen name is not checked here: an unknown type is the engine's to report.
  if (const std::optional<std::u16string> chosen = qt::GetOpenFileName(request)) {
    if (SetCurrentPath(*chosen)) PlayChosenFile();
  }
  return 0;
}

void ToggleDisplayFlag(ui::HWND window, std::uint32_t id) {
  ui::Menu* menu = window->GetMenu();
  if (!shell::currentPlayer || menu == nullptr) return;
  std::uint8_t* flag = id == IDM_SHOW_PEAKS   ? &shell::showPeaks
                       : id == IDM_SHOW_GRIDS ? &shell::showGrids
                                              : &shell::showGradient;
  *flag = *flag ? 0 : 1;
  shell::currentPlayer->ApplyDisplayFlags(shell::showPeaks, shell::showGrids, shell::showGradient);
  menu->ModifyMenu(id, *flag ? kItemChecked : kItemEnabled, MenuItemText(id));
}

std::intptr_t OnCommand(ui::HWND window, std::uintptr_t wParam, std::intptr_t lParam) {
  const std::uint32_t id = qt::LoWord(wParam);
  const bool changesPlayback = id == IDM_PLAY || id == IDM_PAUSE || id == IDM_STOP;
  if (changesPlayback && playbackBusy) return 0;
  std::optional<BusyScope> busy;
  if (changesPlayback) busy.emplace();
  switch (id) {
    case IDM_EXIT:
      qt::DestroyWindow(window);
      return 0;
    case IDM_PLAY:
      return OnPlay();
    case IDM_PAUSE:
      if (shell::currentPlayer) shell::currentPlayer->PausePlayback();
      shell::ShowPlaybackState(shell::PlaybackState::kPaused);
      return 0;
    case IDM_STOP:
      StopPlayback();
      shell::ShowPlaybackState(shell::PlaybackState::kStopped);
      return 0;
    case IDM_SHOW_PEAKS:
    case IDM_SHOW_GRIDS:
    case IDM_SHOW_GRADIENT:
      ToggleDisplayFlag(window, id);
      return 0;
    case IDM_ABOUT:
      ShowAboutBox(window);
      return 0;
    default:
      return qt::DefWindowProc(window, qt::WM_COMMAND, wParam, lParam);
  }
}

}  // namespace

std::intptr_t WndProc(ui::HWND window, std::uint32_t message, std::uintptr_t wParam,
                      std::intptr_t lParam) {
  switch (message) {
    case qt::WM_CREATE:
      if (qt::QtWindow* qtWindow = qt::AsQtWindow(window)) qtWindow->DragAcceptFiles(true);
      return 0;
    case qt::WM_DESTROY:
      // From here a launch plays on its own: this window takes no more files.
      ReleaseLaunchName();
      if (qt::QtWindow* qtWindow = qt::AsQtWindow(window)) {
        for (std::uint32_t id : kHotKeyIds) qtWindow->UnregisterHotKey(static_cast<int>(id));
        qtWindow->DragAcceptFiles(false);
      }
      qt::PostQuitMessage(0);
      return 0;
    case qt::WM_PAINT:
      return 0;  // the spectrum draws itself
    case qt::WM_KEYDOWN: {
      std::uint32_t id = 0;
      switch (wParam) {
        case 'A':
          id = IDM_PLAY;
          break;
        case 'D':
          id = IDM_PAUSE;
          break;
        case 'S':
          id = IDM_STOP;
          break;
        case 'X':
          id = IDM_EXIT;
          break;
        // The arrows move through the file: 5 s back and forward, 60 s down and up.
        case kVkLeft:
          SeekBySeconds(-5);
          return 0;
        case kVkRight:
          SeekBySeconds(5);
          return 0;
        case kVkDown:
          SeekBySeconds(-60);
          return 0;
        case kVkUp:
          SeekBySeconds(60);
          return 0;
        default:
          return 0;
      }
      SendCommandIfAllowed(window, id);
      return 0;
    }
    case qt::WM_HOTKEY: {
      const std::uint32_t id = qt::LoWord(wParam);
      if (id == IDM_PLAY || id == IDM_PAUSE || id == IDM_STOP || id == IDM_EXIT)
        SendCommandIfAllowed(window, id);
      return 0;
    }
    case qt::WM_DROPFILES:
      OnDropFiles(window, qt::AsDropFiles(wParam));
      return 0;
    case WM_SET_FILE_READY:
      shell::fileReady = wParam == 1 ? 1 : 0;
      return 0;
    case WM_PLAYBACK_ENDED:
      OnPlaybackEnded(wParam);
      return 0;
    case qt::WM_COMMAND:
      return OnCommand(window, wParam, lParam);
    default:
      return qt::DefWindowProc(window, message, wParam, lParam);
  }
}

bool RemoteCommand(std::uint32_t id) {
  ui::HWND window = shell::mainWindow.load();
  if (window == nullptr || !shell::CommandEnabled(id)) return false;
  qt::SendMessage(window, qt::WM_COMMAND, id, 0);
  return true;
}

void RemoteOpenFile(const std::u16string& path) {
  if (playbackBusy) return;
  const BusyScope busy;
  shell::fileReady = 0;
  if (SetCurrentPath(path)) PlayChosenFile();
}

void OpenHandedOverFile(const std::u16string& path) {
  qt::QtWindow* window = qt::AsQtWindow(shell::mainWindow.load());
  if (window == nullptr || window->IsDestroyed()) return;
  if (path.empty()) {
    QWidget* widget = window->Widget();
    if (widget->isMinimized()) widget->showNormal();
    widget->raise();
    widget->activateWindow();
    return;
  }
  qt::DropFiles drop;
  drop.paths.push_back(path);
  window->SendMessage(qt::WM_DROPFILES, reinterpret_cast<std::uintptr_t>(&drop), 0);
}

}  // namespace app
