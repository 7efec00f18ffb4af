// Test files for every decoder, made from generated WAVs by Debian's encoders
// (sox, lame, oggenc, flac, jmac, ffmpeg) on first use and shared by every test
// process of the build tree, with a reference decode of each by another decoder
// ("<name>.raw", 16-bit interleaved).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoders/decoder.h"

namespace fixtures {

// The path of a generated file; generates the whole set once if needed. Names not
// in the set (such as "missing.mp3") give a path where no file is.
std::string Path(const std::string& name);
// The reference decoder's 16-bit output for a generated file: lame's own for MP3,
// ffmpeg's for the rest (of the last audio stream for two-audio.wma).
std::vector<std::int16_t> Reference(const std::string& name);
// The 16-bit samples of a generated WAV (read with libsndfile).
std::vector<std::int16_t> WavSamples(const std::string& name);

// APE and WMA files, "ape-<rate>-<channels>-<bits>.ape" and "wmav<1|2>-<rate>-<channels>.wma",
// are made from "src-<rate>-<channels>-<bits>.wav": the test signal of this many frames
// (in 24-bit ones, above distinct low bytes).
inline constexpr int kFrames = 100000;  // not a whole number of 1152-frame blocks

bool OpenPath(CDecoder& decoder, const std::string& path);
// Reads until 0, recording each Read's size.
std::vector<std::int16_t> DecodeAll(CDecoder& decoder, std::vector<std::uint32_t>* sizes = nullptr);
// How many file descriptors this process has open, to show that nothing is left open.
int OpenFileCount();
// The largest difference between two streams of equal length; -1 when the lengths differ.
int MaxDifference(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b);

// How decoded output lines up with a reference: decoded[i + shift] ~ reference[i]
// frame by frame, and the signal-to-noise ratio over the overlap.
struct Match {
  long shift = 0;
  double snrDb = 0;
  long extraFrames = 0;  // decoded frames after the shift minus reference frames
};
Match Compare(const std::vector<std::int16_t>& decoded, const std::vector<std::int16_t>& reference,
              int channels, long maxShift);

}  // namespace fixtures
