#include "app/shell.h"

#include <algorithm>

#include "app/headless_reports.h"
#include "app/resources.h"
#include "app/shell_mpris_host.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "platform/qt/qt_window.h"
#include "platform/ui/menu.h"
#include "platform/ui/message_box.h"
#include "player/extension_tests.h"

namespace shell {

char16_t appTitle[100] = {};
char16_t windowClassName[100] = {};
char16_t currentFileName[kPathCapacity] = {};
char16_t titleText[kTitleCapacity] = {};
std::unique_ptr<Player> currentPlayer;
std::u16string chosenFolder;
bool headless = false;
Prepared latestPrepared = Prepared::kNoFormat;

}  // namespace shell

namespace app {

namespace ui = platform::ui;
using shell::currentPlayer;

int IsSupportedFile(const char16_t* path) {
  if (path == nullptr || path[0] == u'\0') return 0;
  return IsMp3File(path) || IsWavFile(path) || IsOggFile(path) || IsWmaFile(path) ||
                 IsApeFile(path) || IsFlacFile(path)
             ? 1
             : 0;
}

int UpdateFileName() {
  const std::u16string_view path(shell::currentPath);
  const std::size_t slash = path.find_last_of(u"/\\");
  if (slash != std::u16string_view::npos) {
    const std::u16string name(path.substr(slash + 1));
    platform::StringCchCopyW(shell::currentFileName, std::size(shell::currentFileName),
                             name.c_str());
  }
  return 1;
}

bool SetCurrentPath(const std::u16string& path) {
  if (shell::headless) headless::AboutFile(path);
  if (path.size() > shell::kMaxPathLength) {
    shell::currentPath[0] = u'\0';
    ui::MessageBox(shell::mainWindow.load(), kPathTooLongText, u"Error", ui::MB_ICONEXCLAMATION);
    return false;
  }
  platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity, path.c_str());
  return true;
}

void PlayCurrentFile() {
  if (shell::fileReady == 0) return;
  if (currentPlayer) {
    // Play resumes a paused file; a different file chosen meanwhile (a drop) starts anew.
    if (currentPlayer->IsPaused() &&
        std::u16string_view(currentPlayer->filePath) == shell::currentPath) {
      currentPlayer->ResumePlayback();
      return;
    }
    currentPlayer->StopPlaybackThread();
    currentPlayer.reset();
  }
  currentPlayer = std::make_unique<Player>();
  currentPlayer->PreparePlayback();
  CDecoder* decoder = currentPlayer->decoder.get();
  const bool hasFormat =
      decoder != nullptr && decoder->GetSampleRate() > 0 && decoder->GetChannels() > 0;
  shell::latestPrepared = currentPlayer->output != nullptr ? shell::Prepared::kReady
                          : hasFormat                      ? shell::Prepared::kNoOutput
                                                           : shell::Prepared::kNoFormat;
  currentPlayer->StartPlaybackThread();
  currentPlayer->ApplyDisplayFlags(shell::showPeaks, shell::showGrids, shell::showGradient);
}

void StartCurrentFile() {
  PlayCurrentFile();
  SetTitle(u"Playing");
  SetFileMenuState(FileMenuState::kPlaying);
}

void PlayChosenFile() {
  shell::fileReady = 1;
  UpdateFileName();
  const std::u16string_view path(shell::currentPath);
  const std::size_t slash = path.find_last_of(u"/\\");
  if (slash != std::u16string_view::npos) shell::chosenFolder = path.substr(0, slash + 1);
  StartCurrentFile();
}

void SeekBySeconds(int seconds) {
  if (currentPlayer) mprisHost.Seek(std::int64_t{seconds} * currentPlayer->SampleRate(), true);
}

void StopPlayback() {
  if (currentPlayer && !currentPlayer->IsStopRequested()) {
    currentPlayer->StopPlaybackThread();
    currentPlayer.reset();
  }
  shell::fileReady = 0;
}

void SetTitle(const char16_t* stateWord) {
  platform::StringCbPrintfW(shell::titleText, sizeof(shell::titleText), u"%s - [%s][%s]",
                            {shell::appTitle, shell::currentFileName, stateWord});
  platform::qt::SetWindowText(shell::mainWindow.load(), shell::titleText);
  mprisHost.TitleChanged(stateWord);
}

void SetFileMenuState(FileMenuState state) {
  ui::HWND window = shell::mainWindow.load();
  ui::Menu* menu = window != nullptr ? window->GetMenu() : nullptr;
  if (menu == nullptr) return;
  constexpr std::uint32_t kOff = ui::MF_GRAYED | ui::MF_DISABLED;
  const std::uint32_t play = state == FileMenuState::kPlaying ? kOff : ui::MF_ENABLED;
  const std::uint32_t pause = state == FileMenuState::kPlaying ? ui::MF_ENABLED : kOff;
  const std::uint32_t stop = state == FileMenuState::kStopped ? kOff : ui::MF_ENABLED;
  menu->ModifyMenu(IDM_PLAY, play, kPlayText);
  menu->ModifyMenu(IDM_PAUSE, pause, kPauseText);
  menu->ModifyMenu(IDM_STOP, stop, kStopText);
}

void OnPlaybackEnded(std::uint64_t serial) {
  const bool current = currentPlayer && currentPlayer->Serial() == serial;
  // A late notice of an older playback must not touch the title of the one now playing.
  // The menu too: the shell may have set the playing state after the tear-down had
  // already reset it (a playback that ends at once).
  if (current) {
    SetTitle(u"Stopped");
    SetFileMenuState(FileMenuState::kStopped);
  }
  // A file cut short by the sound going away is said so, in a box or on stderr.
  const bool cutShort = current && currentPlayer->DeviceLost();
  if (cutShort) {
    ui::MessageBox(shell::mainWindow.load(),
                   shell::headless ? u"the sound server went away"
                                   : u"The sound server went away; playback stopped.",
                   u"Error", ui::MB_ICONEXCLAMATION);
  }
  if (shell::headless && (current || !currentPlayer)) {
    // Played means some of the file reached the output, not merely that one was made.
    const bool played = current && currentPlayer->PlayedABlock();
    if (!played) headless::ReportNothingPlayed(shell::latestPrepared);
    platform::qt::PostQuitMessage(cutShort ? 3 : played ? 0 : 2);
  }
}

void ResetShell() {
  if (currentPlayer) {
    if (!currentPlayer->IsStopRequested()) currentPlayer->StopPlaybackThread();
    currentPlayer.reset();
  }
  shell::fileReady = 0;
  shell::currentPath[0] = u'\0';
  shell::currentFileName[0] = u'\0';
  shell::titleText[0] = u'\0';
  shell::chosenFolder.clear();
  shell::showPeaks = shell::showGrids = shell::showGradient = 1;
  shell::latestPrepared = shell::Prepared::kNoFormat;
}

}  // namespace app
