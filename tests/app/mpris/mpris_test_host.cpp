// A program that publishes the media controls for a stand-in shell, so that a test
// can drive it from outside with playerctl. Standard input takes "end" (the file
// ends by itself) and "quit"; standard output logs each step, starting with
// "ready <bus name>" or "ready none" when there is no session bus.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

#include "app/mpris/mpris_host.h"
#include "app/mpris/mpris_service.h"
#include "platform/kernel/text.h"
#include "platform/ui/menu.h"
#include "player/player.h"
#include "tests/support/fake_window.h"

namespace {

using mpris::PlaybackState;
namespace ui = platform::ui;

void Log(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// The shell's stand-in: the File menu's states gate the commands exactly as the
// window's keys are gated, and each change is told to the service.
class FakeHost final : public mpris::MprisHost {
 public:
  std::function<void()> notify;

  bool SendCommand(std::uint32_t commandId) override {
    const std::uint32_t menuState = menu_->GetMenuState(commandId);
    const bool refused = menuState == ui::kMenuItemNotFound || (menuState & (ui::MF_GRAYED | ui::MF_DISABLED)) != 0;
    Log("command " + std::to_string(commandId) + (refused ? " refused" : " accepted"));
    if (refused) return false;
    if (commandId == IDM_PLAY && !fileReady_) {
      Log("dialog cancelled");  // the open dialog, which nobody answers here
    } else if (commandId == IDM_PLAY) {
      Changed(PlaybackState::kPlaying);  // resumes a paused file, or starts it afresh
    } else if (commandId == IDM_PAUSE || commandId == IDM_STOP) {
      fileReady_ = commandId == IDM_PAUSE;
      Changed(commandId == IDM_PAUSE ? PlaybackState::kPaused : PlaybackState::kStopped);
    }
    return true;
  }

  void OpenFile(const std::u16string& path) override {
    Log("open " + platform::ToUtf8(path));
    path_ = path;
    name_ = path.substr(path.find_last_of(u'/') + 1);  // npos + 1 keeps it whole
    fileReady_ = true;
    Changed(PlaybackState::kPlaying);
  }

  void Quit() override {
    Log("quit");
    QCoreApplication::quit();
  }

  PlaybackState GetPlaybackState() const override { return state_; }
  std::u16string CurrentFilePath() const override { return path_; }
  std::u16string CurrentFileName() const override { return name_; }
  // Known (2.5 s) for WAV files only, so both cases can be seen.
  std::int64_t TrackLengthUs() const override { return path_.ends_with(u".wav") ? 2'500'000 : 0; }

  // The playback reaching the end of its file, as the engine's tear-down reports it.
  void EndOfFile() {
    if (state_ != PlaybackState::kPlaying) return;
    Log("ended");
    fileReady_ = false;
    Changed(PlaybackState::kStopped);
  }

 private:
  void Changed(PlaybackState state) {
    constexpr std::uint32_t kOff = ui::MF_GRAYED | ui::MF_DISABLED;
    const bool playing = state == PlaybackState::kPlaying;
    state_ = state;
    menu_->ModifyMenu(IDM_PLAY, playing ? kOff : ui::MF_ENABLED, u"&Play\tCtrl+1,A");
    menu_->ModifyMenu(IDM_PAUSE, playing ? ui::MF_ENABLED : kOff, u"P&ause\tCtrl+2,D");
    menu_->ModifyMenu(IDM_STOP, state == PlaybackState::kStopped ? kOff : ui::MF_ENABLED, u"&Stop\tCtrl+3,S");
    if (notify) notify();
  }

  std::unique_ptr<ui::Menu> menu_ = testing_support::MakeProgramMenu();
  PlaybackState state_ = PlaybackState::kStopped;
  bool fileReady_ = false;
  std::u16string path_;
  std::u16string name_;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  FakeHost host;
  mpris::MprisService service(&host);
  host.notify = [&service] { service.NotifyStateChanged(); };

  if (service.Start()) {
    Log("ready " + service.BusName().toStdString());
  } else {
    std::fprintf(stderr, "%s\n", service.FailureMessage().c_str());
    Log("ready none");
  }

  std::string pending;
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      input.setEnabled(false);
      QCoreApplication::quit();
      return;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      const std::string command = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (command == "end") host.EndOfFile();
      if (command == "quit") QCoreApplication::quit();
    }
  });
  const int code = QCoreApplication::exec();
  Log("exit");
  return code;
}
