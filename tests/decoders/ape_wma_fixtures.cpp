#include "tests/decoders/ape_wma_fixtures.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

#include <sndfile.h>

#include "platform/kernel/text.h"
#include "tests/support/audio_fixtures.h"

namespace ape_wma_fixtures {

namespace fs = std::filesystem;
using testing_support::RunTool;

namespace {

std::string Dir() {
  const char* root = std::getenv("TONARIA_TEST_TMP");
  const fs::path dir = fs::path(root != nullptr ? root : "/tmp") / "ape-wma-fixtures";
  fs::create_directories(dir);
  return dir.string();
}

// Holds an exclusive lock on the fixture folder while files are made; making one
// file may need another, so the lock is taken once per thread however deep.
thread_local int lockDepth = 0;

class FolderLock {
 public:
  FolderLock()
      : fd_(lockDepth++ == 0 ? open((Dir() + "/.lock").c_str(), O_CREAT | O_RDWR, 0644) : -1) {
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~FolderLock() {
    --lockDepth;
    if (fd_ >= 0) close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_;
};

// A WAV of the test signal; 24-bit ones carry distinct low bytes, so a cut to 16 bits shows.
bool WriteSource(const std::string& path, const Source& source) {
  const auto samples = testing_support::MakeTestSignal(source.rate, source.channels, kFrames);
  SF_INFO info{};
  info.samplerate = source.rate;
  info.channels = source.channels;
  info.format = SF_FORMAT_WAV | (source.bits == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16);
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return false;
  std::vector<int> wide(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    wide[i] =
        samples[i] * 65536 + (source.bits == 24 ? static_cast<int>((i * 40503u) & 0xFF00u) : 0);
  }
  const bool ok = sf_write_int(file, wide.data(), static_cast<sf_count_t>(wide.size())) ==
                  static_cast<sf_count_t>(wide.size());
  sf_close(file);
  return ok;
}

std::string SourceName(const Source& source) {
  std::ostringstream name;
  name << "src-" << source.rate << "-" << source.channels << "-" << source.bits << ".wav";
  return name.str();
}

// Reads "<prefix>-<rate>-<channels>[-<bits>].<ext>".
Source ParseSource(const std::string& name) {
  Source source{44100, 2, 16};
  std::sscanf(name.substr(name.find('-') + 1).c_str(), "%d-%d-%d", &source.rate, &source.channels,
              &source.bits);
  return source;
}

bool Make(const std::string& name, const std::string& path) {
  const std::string dir = Dir();
  const std::string partial = path + ".part";
  auto sourceFor = [&](const Source& source) {
    const std::string wav = dir + "/" + SourceName(source);
    return fs::exists(wav) || WriteSource(wav, source) ? wav : std::string();
  };
  bool made = false;
  if (name.rfind("cut-", 0) == 0) {
    const std::string whole = Path(name.substr(4));
    std::ifstream in(whole, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(partial, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 3));
    made = !whole.empty();
  } else if (name.rfind("text.", 0) == 0) {
    std::ofstream(partial) << "These are not the bytes of an audio file.\n";
    made = true;
  } else if (name == "video-only.wma") {
    made = RunTool(
        "ffmpeg -nostdin -y -f lavfi -i testsrc=size=64x48:rate=10 -t 2 -c:v wmv2 -an -f asf '" +
        partial + "'");
  } else if (name == "two-audio.wma") {
    const std::string mono = sourceFor({22050, 1, 16});
    const std::string stereo = sourceFor({44100, 2, 16});
    made = RunTool("ffmpeg -nostdin -y -i '" + mono + "' -i '" + stereo +
                   "' -map 0:a -map 1:a -c:a wmav2 -b:a 128k -f asf '" + partial + "'");
  } else if (name.rfind("ape-", 0) == 0) {
    const std::string wav = sourceFor(ParseSource(name));
    made = !wav.empty() && RunTool("jmac c2 '" + wav + "' '" + partial + ".ape'") &&
           std::rename((partial + ".ape").c_str(), partial.c_str()) == 0;
  } else if (name.rfind("wmav", 0) == 0) {
    const std::string wav = sourceFor(ParseSource(name));
    made = !wav.empty() && RunTool("ffmpeg -nostdin -y -i '" + wav + "' -c:a " + name.substr(0, 5) +
                                   " -b:a 128k -f asf '" + partial + "'");
  }
  return made && std::rename(partial.c_str(), path.c_str()) == 0;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

}  // namespace

std::string Path(const std::string& name) {
  const std::string path = Dir() + "/" + name;
  const FolderLock lock;
  if (fs::exists(path) || Make(name, path)) return path;
  return {};
}

std::vector<std::uint8_t> Reference(const std::string& name) {
  const std::string path = Path(name);
  if (path.empty()) return {};
  const std::string raw = path + ".raw";
  {
    const FolderLock lock;
    const std::string map = name == "two-audio.wma" ? " -map 0:a:1" : "";
    if (!fs::exists(raw) && !(RunTool("ffmpeg -nostdin -y -i '" + path + "'" + map +
                                      " -f s16le -acodec pcm_s16le '" + raw + ".part'") &&
                              std::rename((raw + ".part").c_str(), raw.c_str()) == 0)) {
      return {};
    }
  }
  return ReadBytes(raw);
}

std::vector<std::uint8_t> SourcePcm(const std::string& apeName) {
  const Source source = ParseSource(apeName);
  const auto samples = testing_support::MakeTestSignal(source.rate, source.channels, kFrames);
  return testing_support::ToBytes(samples);
}

bool OpenPath(CDecoder& decoder, const std::string& path) {
  const std::u16string wide = platform::FromUtf8(path);
  decoder.SetFile(wide.c_str());
  return decoder.Open() != 0;
}

std::vector<std::uint8_t> DecodeAll(CDecoder& decoder, std::vector<std::uint32_t>* sizes) {
  std::vector<std::uint8_t> all;
  std::uint8_t block[16000];
  for (std::uint32_t n; (n = decoder.Read(block, sizeof(block))) != 0;) {
    all.insert(all.end(), block, block + n);
    if (sizes != nullptr) sizes->push_back(n);
  }
  return all;
}

int OpenFileCount() {
  return static_cast<int>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{}));
}

int MaxDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size()) return -1;
  int worst = 0;
  for (std::size_t i = 0; i + 1 < a.size(); i += 2) {
    const int x = static_cast<std::int16_t>(a[i] | (a[i + 1] << 8));
    const int y = static_cast<std::int16_t>(b[i] | (b[i + 1] << 8));
    worst = std::max(worst, std::abs(x - y));
  }
  return worst;
}

}  // namespace ape_wma_fixtures
