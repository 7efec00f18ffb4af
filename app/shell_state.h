// What the shell shows of the playback, and the one function that shows it. The
// engine's tear-down shows the stopped state through it too, so this lives with
// the shell's state that the engine reaches.
#pragma once

#include <atomic>
#include <cstdint>

namespace shell {

// Idle is the start, before any file played: the title is the application's alone.
enum class PlaybackState : std::uint8_t { kIdle, kPlaying, kPaused, kStopped };

// The state shown now. Written only by ShowPlaybackState; read by any thread.
extern std::atomic<PlaybackState> playbackState;

// What showing a state means beyond the File menu: the title word and the media
// controls. Installed by the shell; runs on the window's thread only.
using WindowShows = void (*)(PlaybackState);
void SetWindowShows(WindowShows shows);

enum class ShownBy : std::uint8_t { kWindowThread, kTearDown };

// The one place a playback state is shown: it becomes playbackState and the main
// window's File menu takes its texts and flags from the menu table, both under one
// lock; on the window's thread the title and the media controls follow. The tear-down
// runs on the playback thread and must not wait for the window: it shows the state
// in the menu alone, and the title follows when the window hears of the end.
void ShowPlaybackState(PlaybackState state, ShownBy by = ShownBy::kWindowThread);

// Whether a File-menu command may run now (keys, hot keys, media controls): its
// item is enabled in the state shown. Other commands always may.
bool CommandEnabled(std::uint32_t id);

}  // namespace shell
