// The shell's own state and the operations the window procedure and the entry
// point share: choosing, playing and stopping the current file, the title and the
// File menu. Window's thread only, unless a field says otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/shell_globals.h"
#include "app/shell_state.h"
#include "player/player.h"

namespace shell {

inline constexpr std::size_t kTitleCapacity = 520;
inline constexpr std::size_t kMaxPathLength = kPathCapacity - 1;  // 259

extern char16_t appTitle[100];
extern char16_t windowClassName[100];
extern char16_t currentFileName[kPathCapacity];
extern char16_t titleText[kTitleCapacity];
extern std::unique_ptr<Player> currentPlayer;
// The folder of the file chosen last in this run (by any way), where the open
// dialog starts; empty before the first. Kept nowhere else.
extern std::u16string chosenFolder;
// Run without a display: quit when the playback ends (exit 0 if it played, 2 if not).
extern bool headless;

}  // namespace shell

namespace app {

int IsSupportedFile(const char16_t* path);
// Takes the file name after the last '/' or '\' into currentFileName; always 1.
int UpdateFileName();
void PlayCurrentFile();
void StopPlayback();

// Puts path into currentPath; a path longer than 259 characters is refused with a
// message box (never cut) and leaves currentPath empty. False when refused.
bool SetCurrentPath(const std::u16string& path);

// The one way a chosen file starts (command line, open dialog, drop, media
// controls), once it is in currentPath: fileReady, its name, the playback, the
// title and the File menu.
void PlayChosenFile();
// Play of the current file: resumes it when paused, else starts it anew, and
// shows the playing state.
void StartCurrentFile();

// Moves the playback by this many seconds from what is heard (back when negative);
// nothing when no file plays or its stream cannot seek.
void SeekBySeconds(int seconds);

// What a playback state adds to the File menu on the window's thread: the title
// ("Tonaria - [name][Playing]", the application's alone when idle) and the media
// controls. Installed as shell::ShowPlaybackState's window part.
void ShowStateOnWindow(shell::PlaybackState state);

// The words a problem is told in: in a box, or on a line without a display. Empty
// where nothing is said (a box shows only a playback cut short).
std::u16string ProblemWords(PlaybackProblem problem, bool headless);

// The engine's tear-down of the Player with this serial has finished: the stopped
// state is shown, a problem said, and without a display the program ends.
void OnPlaybackEnded(std::uint64_t serial);

// Back to the state before start-up (tests, and the end of the program): stops a
// playback still running, forgets the file and shows the idle state.
void ResetShell();

}  // namespace app
