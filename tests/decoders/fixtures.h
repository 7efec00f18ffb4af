// Test files for every decoder, made by Debian's encoders on first use and shared by
// the build tree's test processes, with a reference decode of each lossy one
// ("<name>.raw", 16-bit); and how decoded PCM lines up with a reference.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "decoders/decoder.h"

namespace fixtures {

// A directory of test files made once per build tree and stamp (the others wait on its lock).
std::filesystem::path MadeOnce(const std::string& name, const std::string& stamp,
                               const std::function<bool(const std::filesystem::path&)>& make);

// The path of a generated file (made on first use); "missing.mp3" and such name no file.
std::string Path(const std::string& name);
// The reference decoder's 16-bit output for a generated file: lame's own for MP3,
// ffmpeg's for the rest (of the last audio stream for two-audio.wma).
std::vector<std::int16_t> Reference(const std::string& name);

// APE and WMA files, "ape-<rate>-<channels>-16.ape" and "wmav<1|2>-<rate>-<channels>.wma",
// are made from "src-<rate>-<channels>-16.wav": the test signal of this many frames.
inline constexpr int kFrames = 100000;  // not a whole number of 1152-frame blocks

bool OpenPath(CDecoder& decoder, const std::string& path);
// Reads until 0 (or until at least `atMost` samples), recording each Read's size; the
// samples, at most `atMost` of them.
std::vector<std::int16_t> DecodeAll(CDecoder& decoder, std::vector<std::uint32_t>* sizes = nullptr,
                                    std::size_t atMost = SIZE_MAX);
// How many file descriptors this process has open.
int OpenFileCount();

// Little-endian bytes as 16-bit samples.
std::vector<std::int16_t> Samples(const std::vector<std::uint8_t>& bytes);

struct Pcm {
  int rate = 0, channels = 0;
  std::vector<std::int16_t> samples;
  long Frames() const { return channels > 0 ? static_cast<long>(samples.size()) / channels : 0; }
};
// A sound file read by libsndfile as 16-bit samples; empty when it can't be read.
Pcm ReadWav(const std::string& path);

// How decoded PCM lines up with a reference: decoded frame f + shift carries
// reference frame f.
struct Lineup {
  const Pcm& decoded;
  const Pcm& reference;

  // The squared error over reference frames [from, to); the reference's power into *signal.
  double Error(long shift, long from, long to, double* signal = nullptr) const;
  // The shift within `around` ± `range` that fits reference frames [from, from + 4096) best.
  long BestShift(long from, long around, long range) const;
  double SnrDb(long shift, long from, long to) const;
  // Around damage: the reference frames from the start that match under the head
  // shift, and from the end under the tail shift, in blocks; the stretch between
  // them is what the damage took. Returns its length and the worst SNR outside it.
  std::pair<long, double> DamagedStretch(long head, long tail, double floorDb) const;
};

}  // namespace fixtures
