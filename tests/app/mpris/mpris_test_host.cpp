// A program that publishes the media controls for a stand-in shell, so that a test
// can drive it from outside with playerctl. A line "end" on standard input ends the
// file by itself, and the input's end quits; standard output logs each step, starting
// with "ready <bus name>" or "ready none" when there is no session bus.
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

// The shell's stand-in: the File menu grays Play while playing, Pause unless
// playing and Stop while stopped, and a command of a grayed item is refused.
class FakeHost final : public mpris::MprisHost {
 public:
  std::function<void()> notify;

  bool SendCommand(std::uint32_t commandId) override {
    const bool allowed = commandId == IDM_PLAY    ? state_ != PlaybackState::kPlaying
                         : commandId == IDM_PAUSE ? state_ == PlaybackState::kPlaying
                                                  : state_ != PlaybackState::kStopped;
    Log("command " + std::to_string(commandId) + (allowed ? " accepted" : " refused"));
    if (!allowed) return false;
    if (commandId == IDM_PLAY && !fileReady_) {
      Log("dialog cancelled");  // the open dialog, which nobody answers here
    } else if (commandId == IDM_PLAY) {
      Changed(PlaybackState::kPlaying);  // resumes a paused file, or starts it afresh
    } else {
      fileReady_ = commandId == IDM_PAUSE;
      Changed(fileReady_ ? PlaybackState::kPaused : PlaybackState::kStopped);
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
  // Seeking is tried on the real program (seek_end_to_end_test.cpp).
  bool CanSeek() const override { return false; }
  std::int64_t PositionUs() const override { return 0; }
  void SeekTo(std::int64_t) override {}
  void SeekBy(std::int64_t) override {}

  // The playback reaching the end of its file, as the engine's tear-down reports it.
  void EndOfFile() {
    if (state_ != PlaybackState::kPlaying) return;
    Log("ended");
    fileReady_ = false;
    Changed(PlaybackState::kStopped);
  }

 private:
  void Changed(PlaybackState state) {
    state_ = state;
    if (notify) notify();
  }

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
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;
         pending.erase(0, end + 1)) {
      if (pending.compare(0, end, "end") == 0) host.EndOfFile();
    }
  });
  return QCoreApplication::exec();
}
