// What the desktop-control (MPRIS) service needs from the program's shell. The
// shell implements it; every call comes on the window's thread.
#pragma once

#include <cstdint>
#include <string>

namespace mpris {

enum class PlaybackState { kStopped, kPlaying, kPaused };

class MprisHost {
 public:
  virtual ~MprisHost() = default;

  // Runs a File-menu command (IDM_PLAY, IDM_PAUSE, IDM_STOP) by the same path as
  // its key and hot key: refused, returning false, while its menu item is grayed
  // or disabled.
  virtual bool SendCommand(std::uint32_t commandId) = 0;
  // Plays the file as a drop of it would. The service has already checked that it
  // exists, has a supported extension and fits the shell's path buffer.
  virtual void OpenFile(const std::u16string& path) = 0;
  // Ends the program as the Exit command does.
  virtual void Quit() = 0;

  virtual PlaybackState GetPlaybackState() const = 0;
  // The chosen file's full path and the name the title shows; empty before the first.
  virtual std::u16string CurrentFilePath() const = 0;
  virtual std::u16string CurrentFileName() const = 0;
  // The current track's length in microseconds, 0 when it is not known.
  virtual std::int64_t TrackLengthUs() const = 0;
};

}  // namespace mpris
