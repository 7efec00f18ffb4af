// A program that publishes the media controls for a stand-in shell, so that a test
// can drive it from outside with playerctl. The end of standard input quits; standard
// output logs each step, starting with "ready <bus name>" or "ready none" without a bus.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>

#include "app/mpris/mpris_host.h"
#include "app/mpris/mpris_service.h"
#include "platform/kernel/text.h"
#include "player/player.h"

namespace {

using mpris::PlaybackState;

void Log(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// The shell's stand-in: every command is taken, and shows in the status.
class FakeHost final : public mpris::MprisHost {
 public:
  std::function<void()> notify;

  bool SendCommand(std::uint32_t commandId) override {
    Log("command " + std::to_string(commandId));
    Changed(commandId == IDM_PLAY    ? PlaybackState::kPlaying
            : commandId == IDM_PAUSE ? PlaybackState::kPaused
                                     : PlaybackState::kStopped);
    return true;
  }

  void OpenFile(const std::u16string& path) override { Log("open " + platform::ToUtf8(path)); }

  void Quit() override {
    Log("quit");
    QCoreApplication::quit();
  }

  PlaybackState GetPlaybackState() const override { return state_; }
  std::u16string CurrentFilePath() const override { return {}; }
  std::u16string CurrentFileName() const override { return {}; }
  std::int64_t TrackLengthUs() const override { return 0; }
  // Seeking is tried on the real program (seek_end_to_end_test.cpp).
  bool CanSeek() const override { return false; }
  std::int64_t PositionUs() const override { return 0; }
  void SeekTo(std::int64_t) override {}
  void SeekBy(std::int64_t) override {}

 private:
  void Changed(PlaybackState state) {
    state_ = state;
    if (notify) notify();
  }

  PlaybackState state_ = PlaybackState::kStopped;
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

  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[256];
    if (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) return;
    input.setEnabled(false);
    QCoreApplication::quit();
  });
  return QCoreApplication::exec();
}
