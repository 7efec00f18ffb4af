#include "tests/support/audio_fixtures.h"

#include <bit>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sndfile.h>

namespace testing_support {

std::string TempDir() {
  static const std::string dir = [] {
    const char* root = std::getenv("TONARIA_TEST_TMP");
    std::filesystem::path base =
        root != nullptr ? root : std::filesystem::temp_directory_path() / "tonaria-tests";
    std::filesystem::path path = base / ("p" + std::to_string(::getpid()));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path.string();
  }();
  return dir;
}

std::string TempPath(const std::string& name) { return TempDir() + "/" + name; }

std::vector<std::int16_t> MakeTestSignal(int rate, int channels, int frames, unsigned salt) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * channels);
  std::uint32_t noise = salt * 2654435761u;
  for (int f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double hz = 220.0 * (c + 1) + 37.0 * salt;
      const double v = 0.5 * std::sin(2.0 * 3.14159265358979 * hz * f / rate) +
                       ((noise >> 20) / 4096.0 - 0.5) * 0.05;
      samples[static_cast<std::size_t>(f) * channels + c] =
          static_cast<std::int16_t>(std::lround(v * 32767.0));
    }
  }
  return samples;
}

bool WriteSoundFile(const std::string& path, int rate, int channels, int format,
                    const std::vector<std::int16_t>& samples) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return false;
  const sf_count_t frames = static_cast<sf_count_t>(samples.size() / channels);
  const sf_count_t written = sf_writef_short(file, samples.data(), frames);
  sf_close(file);
  return written == frames;
}

std::vector<std::uint8_t> ToBytes(const std::vector<std::int16_t>& samples) {
  static_assert(std::endian::native == std::endian::little);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(samples.data());
  return {bytes, bytes + samples.size() * 2};
}

bool RunTool(const std::string& command) {
  const std::string logged = command + " >>" + TempPath("tools.log") + " 2>&1";
  return std::system(logged.c_str()) == 0;
}

bool HaveTool(const std::string& name) { return RunTool("command -v " + name); }

std::vector<char> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>((std::istreambuf_iterator<char>(in)), {});
}

void ThroughPipe(const std::string& file, const std::function<void(const std::string&)>& use,
                 std::size_t split, const std::function<void()>& stall) {
  const std::vector<char> bytes = ReadBytes(file);
  const std::string pipe = TempPath("pipe-" + std::filesystem::path(file).filename().string());
  ::unlink(pipe.c_str());
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << pipe;
  std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early must not end the test process
  std::thread writer([&] {
    const int fd = ::open(pipe.c_str(), O_WRONLY);  // waits for a reader
    if (fd < 0) return;
    const auto send = [fd](const char* data, std::size_t size) {
      for (ssize_t n = 0; size > 0; data += n, size -= static_cast<std::size_t>(n)) {
        if ((n = ::write(fd, data, size)) <= 0) return false;
      }
      return true;
    };
    const std::size_t first = stall ? std::min(split, bytes.size()) : bytes.size();
    if (send(bytes.data(), first)) {
      if (stall) stall();
      send(bytes.data() + first, bytes.size() - first);
    }
    ::close(fd);
  });
  use(pipe);
  // Lets go a writer still waiting to open the pipe, or one the reader left.
  const int rest = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  if (rest >= 0) {
    ::fcntl(rest, F_SETFL, 0);
    char sink[65536];
    while (::read(rest, sink, sizeof(sink)) > 0) {
    }
    ::close(rest);
  }
  writer.join();
  ::unlink(pipe.c_str());
}

}  // namespace testing_support
