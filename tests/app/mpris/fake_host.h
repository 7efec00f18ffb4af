// A stand-in for the program's shell: the File menu's states gate the commands
// exactly as the window's keys are gated, and each change is told to the service.
// Every step is written to `log` so a test can see what was accepted or refused.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/mpris/mpris_host.h"
#include "platform/ui/menu.h"

namespace mpris_testing {

class FakeHost final : public mpris::MprisHost {
 public:
  // log gets one line per event; quit ends the program.
  FakeHost(std::function<void(const std::string&)> log, std::function<void()> quit);

  void SetNotify(std::function<void()> notify) { notify_ = std::move(notify); }

  bool SendCommand(std::uint32_t commandId) override;
  void OpenFile(const std::u16string& path) override;
  void Quit() override;
  mpris::PlaybackState GetPlaybackState() const override { return state_; }
  std::u16string CurrentFilePath() const override { return path_; }
  std::u16string CurrentFileName() const override { return name_; }
  // Known (2.5 s) for WAV files only, so both cases can be seen.
  std::int64_t TrackLengthUs() const override;

  // The playback reaching the end of its file, as the engine's tear-down reports it.
  void EndOfFile();

 private:
  void PlayCurrentFile();
  void SetFileMenu(mpris::PlaybackState state);
  void Changed(mpris::PlaybackState state);

  std::function<void(const std::string&)> log_;
  std::function<void()> quit_;
  std::function<void()> notify_;
  std::unique_ptr<platform::ui::Menu> menu_;
  mpris::PlaybackState state_ = mpris::PlaybackState::kStopped;
  bool fileReady_ = false;
  std::u16string path_;
  std::u16string name_;
};

}  // namespace mpris_testing
