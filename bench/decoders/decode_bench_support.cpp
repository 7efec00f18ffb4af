#include "bench/decoders/decode_bench_support.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <unistd.h>
#include <vector>

#include <sndfile.h>

#include "platform/kernel/text.h"

namespace decode_bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const fs::path& WorkDir() {
  static const fs::path dir = [] {
    fs::path d =
        fs::temp_directory_path() / ("tonaria-decoders-bench-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// Two tones with a little noise: something like music for the encoders to work on.
const std::string& SourceWav() {
  static const std::string path = [] {
    const int rate = 44100;
    const auto frames = static_cast<sf_count_t>(kAudioSeconds * rate);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * 2);
    std::uint32_t noise = 1;
    for (sf_count_t f = 0; f < frames; ++f) {
      for (int c = 0; c < 2; ++c) {
        noise = noise * 1664525u + 1013904223u;
        const double v = 0.4 * std::sin(2 * M_PI * (220.0 + 110 * c) * f / rate) +
                         0.2 * std::sin(2 * M_PI * 1375.0 * f / rate) +
                         ((noise >> 20) / 4096.0 - 0.5) * 0.05;
        samples[static_cast<std::size_t>(f) * 2 + c] =
            static_cast<std::int16_t>(std::lround(v * 32767));
      }
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const std::string p = (WorkDir() / "source.wav").string();
    if (SNDFILE* file = sf_open(p.c_str(), SFM_WRITE, &info)) {
      sf_writef_short(file, samples.data(), frames);
      sf_close(file);
    }
    return p;
  }();
  return path;
}

// ffmpeg's seconds per decode of each file, for the decoders' ratio to it.
std::map<std::string, double>& FfmpegSeconds() {
  static std::map<std::string, double> seconds;
  return seconds;
}

void Finish(benchmark::State& state, const std::string& path, double seconds, std::size_t bytes) {
  const double perIteration = seconds / static_cast<double>(state.iterations());
  state.counters["x_realtime"] = kAudioSeconds / perIteration;
  state.counters["bytes"] = static_cast<double>(bytes);
  const auto ffmpeg = FfmpegSeconds().find(path);
  if (ffmpeg != FfmpegSeconds().end()) state.counters["x_ffmpeg"] = ffmpeg->second / perIteration;
}

}  // namespace

std::string Encoded(const std::string& name, const std::string& command) {
  static std::map<std::string, std::string> made;
  if (auto found = made.find(name); found != made.end()) return found->second;
  std::string line = command;
  const std::string out = (WorkDir() / name).string();
  for (auto [key, value] :
       {std::pair<std::string, std::string>{"{in}", SourceWav()}, {"{out}", out}}) {
    for (std::size_t at; (at = line.find(key)) != std::string::npos;)
      line.replace(at, key.size(), "'" + value + "'");
  }
  const bool ok = std::system((line + " >/dev/null 2>&1").c_str()) == 0 && fs::exists(out);
  return made[name] = ok ? out : std::string();
}

void RunFfmpeg(benchmark::State& state, const std::string& path) {
  if (path.empty()) return state.SkipWithError("no input file");
  const std::string command =
      "ffmpeg -v error -nostdin -i '" + path + "' -f null - >/dev/null 2>&1";
  double total = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) return state.SkipWithError("ffmpeg failed");
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    total += seconds;
  }
  FfmpegSeconds()[path] = total / static_cast<double>(state.iterations());
  state.counters["x_realtime"] = kAudioSeconds * static_cast<double>(state.iterations()) / total;
}

void RunDecoder(benchmark::State& state, const std::function<std::unique_ptr<CDecoder>()>& make,
                const std::string& path) {
  if (path.empty()) return state.SkipWithError("no input file");
  const std::u16string wide = platform::FromUtf8(path);
  static std::uint8_t block[16000];
  std::size_t bytes = 0;
  const auto start = Clock::now();
  for (auto _ : state) {
    std::unique_ptr<CDecoder> decoder = make();
    decoder->SetFile(wide.c_str());
    if (decoder->Open() == 0) return state.SkipWithError("Open failed");
    bytes = 0;
    for (std::uint32_t n; (n = decoder->Read(block, sizeof(block))) != 0;) bytes += n;
    benchmark::DoNotOptimize(block);
  }
  Finish(state, path, std::chrono::duration<double>(Clock::now() - start).count(), bytes);
}

void RunBare(benchmark::State& state, const std::string& path,
             const std::function<std::size_t()>& decodeOnce) {
  if (path.empty()) return state.SkipWithError("no input file");
  std::size_t bytes = 0;
  const auto start = Clock::now();
  for (auto _ : state) bytes = decodeOnce();
  Finish(state, path, std::chrono::duration<double>(Clock::now() - start).count(), bytes);
}

}  // namespace decode_bench
