#include "app/shell.h"

#include <algorithm>

#include "app/headless_reports.h"
#include "app/resources.h"
#include "app/shell_mpris_host.h"
#include "app/shell_state.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "platform/qt/qt_window.h"
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

}  // namespace shell

namespace app {

namespace ui = platform::ui;
using shell::currentPlayer;
using shell::PlaybackState;

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
  // A playback that cannot start still runs its thread, which only tears down; its
  // problem is told when the window hears of that end.
  currentPlayer->PreparePlayback();
  currentPlayer->StartPlaybackThread();
  currentPlayer->ApplyDisplayFlags(shell::showPeaks, shell::showGrids, shell::showGradient);
}

void StartCurrentFile() {
  PlayCurrentFile();
  shell::ShowPlaybackState(PlaybackState::kPlaying);
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

void ShowStateOnWindow(PlaybackState state) {
  const char16_t* word = state == PlaybackState::kPlaying  ? u"Playing"
                         : state == PlaybackState::kPaused ? u"Paused"
                                                           : u"Stopped";
  if (state == PlaybackState::kIdle) {
    platform::StringCchCopyW(shell::titleText, std::size(shell::titleText), shell::appTitle);
  } else {
    platform::StringCbPrintfW(shell::titleText, sizeof(shell::titleText), u"%s - [%s][%s]",
                              {shell::appTitle, shell::currentFileName, word});
  }
  platform::qt::SetWindowText(shell::mainWindow.load(), shell::titleText);
  mprisHost.StateShown();
}

std::u16string ProblemWords(PlaybackProblem problem, bool headless) {
  // A window shows the stopped state; a box is owed only when the sound went away.
  if (!headless && problem != PlaybackProblem::kDeviceLost) return {};
  switch (problem) {
    case PlaybackProblem::kNone:
    case PlaybackProblem::kUnknownType:  // the engine's own box has told it
      return {};
    case PlaybackProblem::kCannotOpen:
      return u"the file could not be opened, or it holds no audio of its type";
    case PlaybackProblem::kNoOutput:
      return u"no sound output could be opened";
    case PlaybackProblem::kOutputDidNotStart:
      return u"the sound output would not start";
    case PlaybackProblem::kNoAudio:
      return u"no audio could be decoded from this file";
    case PlaybackProblem::kDeviceLost:
      return headless ? u"the sound server went away"
                      : u"The sound server went away; playback stopped.";
  }
  return {};
}

void OnPlaybackEnded(std::uint64_t serial) {
  // A late notice of an older playback must not touch what the one now playing shows.
  // The current one's may: the shell may have shown the playing state after the
  // tear-down had already shown the stopped one (a playback that ends at once).
  if (!currentPlayer || currentPlayer->Serial() != serial) return;
  shell::ShowPlaybackState(PlaybackState::kStopped);
  const PlaybackProblem problem = currentPlayer->Problem();
  const std::u16string words = ProblemWords(problem, shell::headless);
  if (shell::headless && problem != PlaybackProblem::kDeviceLost) {
    // A box of the engine's or the decoder's may have told it already.
    if (!words.empty()) headless::SayUnlessSaid(words);
  } else if (!words.empty()) {
    ui::MessageBox(shell::mainWindow.load(), words, u"Error", ui::MB_ICONEXCLAMATION);
  }
  if (shell::headless) {
    platform::qt::PostQuitMessage(problem == PlaybackProblem::kNone         ? 0
                                  : problem == PlaybackProblem::kDeviceLost ? 3
                                                                            : 2);
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
  shell::chosenFolder.clear();
  shell::showPeaks = shell::showGrids = shell::showGradient = 1;
  shell::ShowPlaybackState(PlaybackState::kIdle);
}

}  // namespace app
