// The shell as the desktop media controls see it.
#pragma once

#include <chrono>
#include <memory>

#include "app/mpris/mpris_host.h"
#include "app/mpris/mpris_service.h"

namespace app {

class ShellMprisHost final : public mpris::MprisHost {
 public:
  bool SendCommand(std::uint32_t commandId) override;
  void OpenFile(const std::u16string& path) override;
  void Quit() override;
  mpris::PlaybackState GetPlaybackState() const override;
  std::u16string CurrentFilePath() const override { return path_; }
  std::u16string CurrentFileName() const override { return name_; }
  std::int64_t TrackLengthUs() const override { return lengthUs_; }
  bool CanSeek() const override;
  std::int64_t PositionUs() const override;
  void SeekTo(std::int64_t positionUs) override;
  void SeekBy(std::int64_t offsetUs) override;

  // The shell has just shown a playback state.
  void StateShown();

  // Asks the current playback to move to a frame (from what is heard when relative),
  // the keys' way and the media controls' alike; the controls hear of it once the
  // engine has carried it out. Nothing when no file plays or it cannot seek.
  void Seek(std::int64_t frames, bool relative);

 private:
  // Polls the playback for seeks carried out, on the window's thread, until those
  // asked for are done or a second has passed since the last.
  void WatchSeeks();

  std::u16string path_;
  std::u16string name_;
  std::int64_t lengthUs_ = 0;  // of the file last played, kept while stopped

  // The playback whose seeks are watched, how many it had carried out when last
  // looked at, and how many asked for have not been seen carried out.
  bool watching_ = false;
  std::uint64_t watchedSerial_ = 0;
  std::uint64_t seeksSeen_ = 0;
  std::uint64_t seeksAwaited_ = 0;
  std::chrono::steady_clock::time_point watchUntil_{};
};

// TONARIA_NO_MPRIS=1: no media controls, and nothing of the program on D-Bus.
bool MediaControlsTurnedOff();

// Whether the program may go on the session bus at all: the media controls are on
// and a bus is there to reach without launching one. Set once by main, before
// anything connects.
extern bool sessionBusAllowed;

// Made by wWinMain once the window exists; null before and after.
extern ShellMprisHost mprisHost;
extern std::unique_ptr<mpris::MprisService> mprisService;

}  // namespace app
