#include "tests/support/private_sound_server.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <signal.h>
#include <spawn.h>

#include "platform/kernel/event.h"
#include "platform/sound/direct_sound.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/playback_doubles.h"

extern char** environ;

namespace testing_support {
namespace {

// Starts argv with extra environment entries, its output into `out`; -1 on failure.
// The extra entries come first: where a name is twice, the first is the one read.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            const std::string& out) {
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : extraEnv) envp.push_back(const_cast<char*>(e.c_str()));
  for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
  args.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, (out + ".err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Ends pid: the signal, then SIGKILL if it is still there after the bound.
void End(pid_t& pid, int signal) {
  if (pid <= 0) return;
  kill(pid, SIGCONT);
  kill(pid, signal);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  platform::Event poll(platform::Event::Reset::kManual);
  while (waitpid(pid, nullptr, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      break;
    }
    poll.Wait(std::chrono::milliseconds(5));
  }
  pid = -1;
}

}  // namespace

// Copies what the sink writes into its pipe to a file, byte for byte, in a `cat` of
// its own, until the server closes the pipe or the recorder is destroyed.
class PrivateSoundServer::Recorder {
 public:
  Recorder(const std::string& fifo, const std::string& file)
      : file_(file), pid_(Spawn({"cat", fifo}, {}, file)) {}
  ~Recorder() { End(pid_, SIGTERM); }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  bool Running() const { return pid_ > 0; }
  std::uint64_t Bytes() const {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file_, error);
    return error ? 0 : size;
  }
  std::vector<std::uint8_t> Last(std::size_t frame) const {
    const std::uint64_t whole = Bytes() - Bytes() % frame;
    if (whole < frame) return {};
    std::vector<std::uint8_t> last(frame);
    std::ifstream(file_, std::ios::binary)
        .seekg(static_cast<std::streamoff>(whole - frame))
        .read(reinterpret_cast<char*>(last.data()), static_cast<std::streamsize>(frame));
    return last;
  }
  std::vector<std::uint8_t> Take(std::size_t frame) {
    End(pid_, SIGTERM);
    const std::vector<char> all = ReadBytes(file_);
    return {all.begin(), all.end() - static_cast<std::ptrdiff_t>(all.size() % frame)};
  }

 private:
  const std::string file_;
  pid_t pid_;
};

bool PrivateSoundServer::Available() { return HaveTool("pulseaudio"); }

PrivateSoundServer::PrivateSoundServer(int rate, int channels) : rate_(rate), channels_(channels) {
  static int made = 0;
  dir_ = TempPath("pulse" + std::to_string(++made));
  std::filesystem::create_directories(dir_);
  chmod(dir_.c_str(), 0700);
  std::ofstream script(dir_ + "/pa.pa");
  // A pipe sink, paced by the clock like a sound card: unlike a null sink's monitor,
  // it cannot take back what it rendered, so its pipe holds exactly what is heard
  // (a monitor drops what the sink rewinds when a stream starts or resumes).
  script << "load-module module-native-protocol-unix auth-anonymous=1\n"
         << "load-module module-pipe-sink sink_name=test file=" << dir_
         << "/sink.fifo rate=" << rate_ << " format=s16le channels=" << channels_
         << " use_system_clock_for_timing=yes\n"
         << "set-default-sink test\n";
}

PrivateSoundServer::~PrivateSoundServer() {
  recorder_.reset();
  End(server_, SIGTERM);
}

std::string PrivateSoundServer::Address() const { return "unix:" + dir_ + "/pulse/native"; }

std::vector<std::string> PrivateSoundServer::Environment() const {
  return {"PULSE_SERVER=" + Address(), "XDG_RUNTIME_DIR=" + dir_};
}

bool PrivateSoundServer::Start() {
  End(server_, SIGKILL);
  std::filesystem::remove(dir_ + "/pulse/native");
  server_ =
      Spawn({"pulseaudio", "-n", "-F", dir_ + "/pa.pa", "--exit-idle-time=-1", "--daemonize=no",
             "--disallow-exit=yes", "--use-pid-file=no", "--realtime=no", "--high-priority=no"},
            {"XDG_RUNTIME_DIR=" + dir_, "HOME=" + dir_}, dir_ + "/server.log");
  if (server_ <= 0) return false;
  setenv("PULSE_SERVER", Address().c_str(), 1);
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (!platform::sound::PulseServerAnswers(std::chrono::milliseconds(500))) {
    if (std::chrono::steady_clock::now() > deadline || waitpid(server_, nullptr, WNOHANG) != 0)
      return false;
    platform::Event(platform::Event::Reset::kManual).Wait(std::chrono::milliseconds(20));
  }
  return true;
}

void PrivateSoundServer::Kill() {
  End(server_, SIGKILL);
  if (recorder_) {
    std::vector<std::uint8_t> got = recorder_->Take(Frame());
    earlier_.insert(earlier_.end(), got.begin(), got.end());
    recorder_.reset();
  }
}

void PrivateSoundServer::Freeze() { kill(server_, SIGSTOP); }
void PrivateSoundServer::Thaw() { kill(server_, SIGCONT); }

bool PrivateSoundServer::StartRecording() {
  static int made = 0;
  recorder_ = std::make_unique<Recorder>(dir_ + "/sink.fifo",
                                         dir_ + "/heard" + std::to_string(++made) + ".raw");
  if (!recorder_->Running()) return false;
  // The sink renders silence while nothing plays, so the file grows at once: first by
  // what the pipe held, then a block at a time as the sink starts playing each. The
  // second growth dates the recording (watched closely).
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  std::uint64_t before = 0;
  for (int growths = 0; growths < 2;) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    const std::uint64_t bytes = recorder_->Bytes();
    if (bytes == before) {
      std::this_thread::yield();
      continue;
    }
    if (++growths == 2) {
      recordingFrom_ = std::chrono::steady_clock::now();
      datedByte_ = earlier_.size() + before;
    }
    before = bytes;
  }
  return true;
}

std::chrono::steady_clock::time_point PrivateSoundServer::PlayedAt(std::uint64_t byte) const {
  const auto bytesPerSecond = static_cast<std::int64_t>(rate_) * static_cast<std::int64_t>(Frame());
  const auto after = static_cast<std::int64_t>(byte) - static_cast<std::int64_t>(datedByte_);
  return recordingFrom_ + std::chrono::microseconds(after * 1'000'000 / bytesPerSecond);
}

std::uint64_t PrivateSoundServer::RecordedBytes() const {
  return earlier_.size() + (recorder_ ? recorder_->Bytes() : 0);
}

std::vector<std::uint8_t> PrivateSoundServer::LastFrame() const {
  return recorder_ ? recorder_->Last(Frame()) : std::vector<std::uint8_t>{};
}

bool PrivateSoundServer::WaitForMoreRecorded(std::uint64_t bytes) const {
  const std::uint64_t target = RecordedBytes() + bytes;
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  platform::Event poll(platform::Event::Reset::kManual);  // never set: a bounded poll
  while (RecordedBytes() < target) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    poll.Wait(std::chrono::milliseconds(2));
  }
  return true;
}

std::vector<std::uint8_t> PrivateSoundServer::StopRecording() {
  std::vector<std::uint8_t> all = earlier_;
  if (recorder_) {
    std::vector<std::uint8_t> got = recorder_->Take(Frame());
    all.insert(all.end(), got.begin(), got.end());
    recorder_.reset();
  }
  return all;
}

}  // namespace testing_support
