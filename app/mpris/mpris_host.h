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

  // Whether a file is loaded (playing or paused) whose stream can seek.
  virtual bool CanSeek() const = 0;
  // Where the sound being heard is in the file, in microseconds; 0 when stopped.
  virtual std::int64_t PositionUs() const = 0;
  // Move the playback to this place, or this far from what is heard. Nothing happens
  // when CanSeek() is false. The host calls MprisService::NotifySeeked() once the
  // move has been carried out; one past the end ends the file as its natural end does.
  virtual void SeekTo(std::int64_t positionUs) = 0;
  virtual void SeekBy(std::int64_t offsetUs) = 0;
};

}  // namespace mpris
