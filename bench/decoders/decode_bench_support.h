// Shared by the per-format decoder benchmarks: one 60-second 44.1 kHz stereo
// source, encoded per format on first use, and the three measurements each
// format reports: our decoder, a bare loop over the same library, and ffmpeg.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "decoders/decoder.h"

namespace decode_bench {

inline constexpr double kAudioSeconds = 60.0;

// The encoded file `name`, made once per run from the source WAV by `command`, in
// which {in} and {out} stand for the two paths. Empty when the encoder failed.
std::string Encoded(const std::string& name, const std::string& command);

// Times `ffmpeg -i path -f null -` (the whole process, as a user would time it).
void RunFfmpeg(benchmark::State& state, const std::string& path);

// Decodes the whole file per iteration through a fresh decoder from make.
void RunDecoder(benchmark::State& state, const std::function<std::unique_ptr<CDecoder>()>& make,
                const std::string& path);

// Runs decodeOnce (a bare library loop returning the bytes it produced) per iteration.
void RunBare(benchmark::State& state, const std::string& path,
             const std::function<std::size_t()>& decodeOnce);

}  // namespace decode_bench
