// Streams audio through the real output on SDL's dummy driver (real-time pace) the
// way the engine does: 4608-byte blocks, the untaken rest offered again after
// 125 ms. Reports process CPU seconds per minute of audio (device thread included)
// and how far GetPlayedBytes trails what the device has taken; and what a stopped
// (paused) output costs.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <benchmark/benchmark.h>

#include "output/audio_device_table.h"
#include "output/buffer_starter.h"
#include "output/streaming_audio_output.h"
#include "platform/kernel/clock.h"

namespace {

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void BM_StreamThroughDummyDriver(benchmark::State& state) {
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  constexpr std::uint32_t kRate = 44100;
  constexpr std::uint32_t kBlock = 4608;
  constexpr std::uint32_t kSliceMs = 5;
  const auto seconds = static_cast<std::uint32_t>(state.range(0));
  AudioDeviceTable table(platform::sound::SdlSoundSystem(), platform::TickCountMs);
  table.EnumerateOutputDevices();
  std::vector<std::uint8_t> block(kBlock);
  for (std::uint32_t i = 0; i < kBlock; ++i) block[i] = static_cast<std::uint8_t>(i * 7 + 1);

  double cpu = 0;
  double lagSum = 0;
  double lagMax = 0;
  double leadMax = 0;
  std::uint64_t samples = 0;
  for (auto _ : state) {
    auto output = StreamingAudioOutput::Create(table, ProcessBufferStarter(), kRate, 4, 2);
    if (!output) {
      state.SkipWithError("no output on the dummy driver");
      return;
    }
    const std::uint64_t total = static_cast<std::uint64_t>(kRate) * 4 * seconds;
    std::uint64_t offered = 0;
    std::uint64_t taken = 0;  // device write-cursor progress, unwrapped
    std::uint32_t lastWrite = 0;
    bool primed = false;
    const double cpuStart = CpuSeconds();
    output->Start();
    auto sample = [&] {
      std::uint32_t play = 0;
      std::uint32_t write = 0;
      output->playBuffer->GetCurrentPosition(&play, &write);
      if (primed) taken += (write + output->bufferBytes - lastWrite) % output->bufferBytes;
      lastWrite = write;
      primed = true;
      const std::int64_t played = output->GetPlayedBytes();
      const double lagMs =
          static_cast<double>(static_cast<std::int64_t>(taken) - played) * 1000.0 / (kRate * 4);
      const double inFlightMs =
          static_cast<double>((write + output->bufferBytes - play) % output->bufferBytes) * 1000.0 /
          (kRate * 4);
      lagSum += lagMs;
      lagMax = std::max(lagMax, lagMs);
      leadMax = std::max(leadMax, inFlightMs);
      ++samples;
    };
    while (offered < total) {
      std::uint32_t offset = 0;
      while (offset < kBlock) {
        offset += output->Write(block.data() + offset, kBlock - offset);
        if (offset == 0 && !primed) sample();
        if (offset < kBlock) {
          for (std::uint32_t waited = 0; waited < 125; waited += kSliceMs) {
            platform::SleepMs(kSliceMs);
            sample();
          }
        }
      }
      offered += kBlock;
    }
    output->Stop();
    output.reset();  // plays out what is queued
    cpu += CpuSeconds() - cpuStart;
  }
  const double audioSeconds =
      static_cast<double>(seconds) * static_cast<double>(state.iterations());
  state.counters["cpu_s_per_audio_min"] = cpu * 60.0 / audioSeconds;
  state.counters["played_lag_mean_ms"] = samples > 0 ? lagSum / static_cast<double>(samples) : 0;
  state.counters["played_lag_max_ms"] = lagMax;
  state.counters["device_in_flight_max_ms"] = leadMax;
}

BENCHMARK(BM_StreamThroughDummyDriver)
    ->Arg(10)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// An output stopped as the engine stops it on Pause, on SDL's dummy driver: the
// process's CPU while it stays stopped, and how long Start then takes until the device
// takes data again (its first period after Play is silence).
void BM_StoppedOutput(benchmark::State& state) {
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  constexpr std::uint32_t kRate = 44100;
  constexpr std::uint32_t kStoppedMs = 5000;
  AudioDeviceTable table(platform::sound::SdlSoundSystem(), platform::TickCountMs);
  table.EnumerateOutputDevices();
  const std::vector<std::uint8_t> second(kRate * 4, 0x11);
  double stoppedShare = 0;
  double resumeMs = 0;
  for (auto _ : state) {
    auto output = StreamingAudioOutput::Create(table, ProcessBufferStarter(), kRate, 4, 2);
    if (!output) {
      state.SkipWithError("no output on the dummy driver");
      return;
    }
    output->Start();
    output->Write(second.data(), static_cast<std::uint32_t>(second.size()));
    platform::SleepMs(300);
    output->Stop();
    platform::SleepMs(200);  // whatever ends with the stop has ended
    const double cpuStart = CpuSeconds();
    platform::SleepMs(kStoppedMs);
    stoppedShare = (CpuSeconds() - cpuStart) / (kStoppedMs / 1000.0);

    std::uint32_t play = 0;
    std::uint32_t stoppedAt = 0;
    output->playBuffer->GetCurrentPosition(&play, &stoppedAt);
    const auto resumed = std::chrono::steady_clock::now();
    output->Start();
    std::uint32_t write = stoppedAt;
    while (write == stoppedAt &&
           std::chrono::steady_clock::now() - resumed < std::chrono::seconds(5)) {
      platform::SleepMs(1);
      output->playBuffer->GetCurrentPosition(&play, &write);
    }
    resumeMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - resumed)
                   .count();
    output->Stop();
  }
  state.counters["stopped_cpu_pct_of_core"] = stoppedShare * 100.0;
  state.counters["start_to_device_ms"] = resumeMs;
}

BENCHMARK(BM_StoppedOutput)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
