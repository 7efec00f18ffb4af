// The shell as the desktop media controls see it.
#pragma once

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
  std::int64_t TrackLengthUs() const override { return 0; }

  // The shell has just shown a playback state.
  void StateShown();

 private:
  std::u16string path_;
  std::u16string name_;
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
