// One spectrum frame (mix, FFT, 40 bands, drawing, presenting) in the program's real
// client size, and the DSP thread's CPU time per second of display at 70 frames a second.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "visual/pcm_ring.h"
#include "visual/spectrum_analyzer.h"
#include "visual/spectrum_levels.h"

namespace {

// The main window's client area: a 287 x 120 frame less its caption, menu and borders.
constexpr int kClientWidth = 281;
constexpr int kClientHeight = 62;

// Takes each frame the way a real window does: under a lock, a copy of what changed into
// its own picture.
class BenchWindow final : public platform::ui::Window {
 public:
  BenchWindow() : picture_(kClientWidth * kClientHeight) {}
  platform::ui::Menu* GetMenu() override { return nullptr; }
  platform::ui::ClientSize GetClientSize() const override { return {kClientWidth, kClientHeight}; }
  void PresentFrame(std::span<const std::uint32_t> pixels, int width, int height) override {
    const platform::ui::FrameRect all{0, 0, width, height};
    PresentChangedFrame(pixels, width, height, {&all, 1});
  }
  void PresentChangedFrame(std::span<const std::uint32_t> pixels, int width, int,
                           std::span<const platform::ui::FrameRect> changed) override {
    std::scoped_lock hold(mutex_);
    for (const platform::ui::FrameRect& r : changed) {
      for (int y = r.top; y < r.bottom; ++y) {
        const std::size_t at = static_cast<std::size_t>(y) * width + r.left;
        std::memcpy(picture_.data() + at, pixels.data() + at,
                    (r.right - r.left) * sizeof(std::uint32_t));
      }
    }
    frames.fetch_add(1, std::memory_order_relaxed);
  }
  void PostMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override {}

  std::atomic<int> frames{0};

 private:
  std::mutex mutex_;
  std::vector<std::uint32_t> picture_;
};

// Music-like: a few partials with a slow beat and some noise, different per channel.
std::vector<float> MusicLike(int frames, double phase) {
  std::vector<float> x(frames);
  std::uint32_t noiseState = 99;
  for (int i = 0; i < frames; ++i) {
    const double t = i / 44100.0;
    noiseState = noiseState * 1664525u + 1013904223u;
    const double noise = static_cast<std::int32_t>(noiseState) / 2147483648.0;
    x[i] = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 220 * t + phase) +
                              0.2 * std::sin(2 * std::numbers::pi * 1375 * t) +
                              0.1 * std::sin(2 * std::numbers::pi * 5200 * t) *
                                  std::sin(2 * std::numbers::pi * 3 * t) +
                              0.05 * noise);
  }
  return x;
}

void SetFlags(SpectrumAnalyzer& a, std::uint8_t on) {
  a.showPeaks = on;
  a.showGrids = on;
  a.showGradient = on;
}

enum class Frames { kSteady, kWithGdiCalls, kRedrawnWhole };

void RunFrames(benchmark::State& state, Frames kind) {
  BenchWindow window;
  SpectrumAnalyzer analyzer(&window);
  analyzer.DrawWithGdiCalls(kind == Frames::kWithGdiCalls);
  SetFlags(analyzer, static_cast<std::uint8_t>(state.range(0)));
  // Successive ticks' windows of a few seconds of sound, so the bars move as in playback.
  constexpr int kTickFrames = 630, kTicks = 256;
  const std::vector<float> sourceLeft = MusicLike(kTickFrames * kTicks + 512, 0.0);
  const std::vector<float> sourceRight = MusicLike(kTickFrames * kTicks + 512, 1.0);
  std::vector<float> left(2048), right(2048);
  float scale = 1.0f;
  int tick = 0;
  for (auto _ : state) {
    // Process overwrites the window it analyses; the consumer refills it every tick too.
    const std::size_t at = static_cast<std::size_t>(tick) * kTickFrames;
    std::memcpy(left.data(), sourceLeft.data() + at, 512 * sizeof(float));
    std::memcpy(right.data(), sourceRight.data() + at, 512 * sizeof(float));
    // A changed look makes the composer redraw the whole frame: its worst case.
    if (kind == Frames::kRedrawnWhole) analyzer.showGrids = tick % 2;
    analyzer.Process(left.data(), right.data(), scale);
    scale = scale == 1.0f ? 1.0001f : 1.0f;
    tick = (tick + 1) % kTicks;
  }
  state.SetLabel(kind == Frames::kRedrawnWhole ? "peaks, gradient on; grids toggled every frame"
                 : state.range(0) != 0         ? "peaks, grids, gradient on"
                                               : "all flags off");
}

// A frame in playback: only the rows that changed are drawn and presented.
void ProcessFrame(benchmark::State& state) { RunFrames(state, Frames::kSteady); }
BENCHMARK(ProcessFrame)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void ProcessFrameRedrawnWhole(benchmark::State& state) { RunFrames(state, Frames::kRedrawnWhole); }
BENCHMARK(ProcessFrameRedrawnWhole)->Arg(1)->Unit(benchmark::kMicrosecond);

// The same frames drawn one GDI call per step: the reference the composed drawing matches.
void ProcessFrameWithGdiCalls(benchmark::State& state) { RunFrames(state, Frames::kWithGdiCalls); }
BENCHMARK(ProcessFrameWithGdiCalls)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void FftAndBands(benchmark::State& state) {
  SpectrumLevels levels;
  const std::vector<float> sourceLeft = MusicLike(2048, 0.0), sourceRight = MusicLike(2048, 1.0);
  std::vector<float> left(2048);
  for (auto _ : state) {
    std::memcpy(left.data(), sourceLeft.data(), 512 * sizeof(float));
    levels.Analyse(left.data(), sourceRight.data());
    for (int b = 0; b < SpectrumLevels::kBandCount; ++b)
      benchmark::DoNotOptimize(levels.UpdateLevel(b, 0.05f));
  }
}
BENCHMARK(FftAndBands)->Unit(benchmark::kMicrosecond);

void ConvertWindow(benchmark::State& state) {
  PcmRing ring(176400);
  std::vector<std::uint8_t> block(4608);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7);
  for (int i = 0; i < 40; ++i) ring.Write(block.data(), static_cast<std::uint32_t>(block.size()));
  std::vector<float> left(2048), right(2048);
  std::uint64_t wraps = 0;
  for (auto _ : state) {
    ring.Convert(40000, 2048, 4, left.data(), right.data(), wraps);
    benchmark::DoNotOptimize(left.data());
  }
}
BENCHMARK(ConvertWindow)->Unit(benchmark::kMicrosecond);

// An output that plays 44.1 kHz stereo in real time from its creation.
class RealTimeOutput final : public AudioOutput {
 public:
  int Start() override { return 1; }
  std::uint32_t Write(const std::uint8_t*, std::uint32_t n) override { return n; }
  void Stop() override {}
  void Flush() override {}
  std::int64_t GetPlayedBytes() override {
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    return std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() * 176400 /
           1'000'000;
  }
  bool DeviceFailed() const override { return false; }
  std::uint32_t QueueTarget() const override { return 88200; }
  std::uint32_t BytesPerFrame() const override { return 4; }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// The main thread sleeps while the DSP thread displays; the process's CPU time is then
// the DSP thread's (plus the ring writes made here beforehand, outside the measurement).
void DspThreadCpuPerSecond(benchmark::State& state) {
  for (auto _ : state) {
    BenchWindow window;
    RealTimeOutput output;
    SpectrumAnalyzer analyzer(&window);
    analyzer.Attach(&output);
    const std::vector<float> music = MusicLike(44100, 0.0);
    std::vector<std::uint8_t> pcm(176400);
    for (int i = 0; i < 44100; ++i) {
      const auto v = static_cast<std::int16_t>(music[i] * 32767.0f);
      for (int c = 0; c < 2; ++c) std::memcpy(&pcm[4 * i + 2 * c], &v, 2);
    }
    analyzer.Consumer()->Consume(pcm.data(), static_cast<std::uint32_t>(pcm.size()));
    const int framesBefore = window.frames.load();
    const double cpuBefore = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const int frames = window.frames.load() - framesBefore;
    analyzer.Detach();
    state.counters["cpu_ms_per_s"] = cpu * 1000.0;
    state.counters["frames_per_s"] = frames;
    state.counters["cpu_us_per_frame"] = frames > 0 ? cpu * 1e6 / frames : 0.0;
  }
}
BENCHMARK(DspThreadCpuPerSecond)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
