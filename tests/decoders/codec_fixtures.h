// MP3, Ogg Vorbis and FLAC test files, made by Debian's encoders from generated
// WAVs on first use and shared by every test process of the build tree, with a
// reference decode of each by another decoder ("<name>.raw", 16-bit interleaved).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoders/decoder.h"

namespace codec_fixtures {

// The path of a generated file; generates the whole set once if needed.
std::string Path(const std::string& name);
// The reference decoder's 16-bit output for a generated file.
std::vector<std::int16_t> Reference(const std::string& name);
// The 16-bit samples of a generated WAV (read with libsndfile).
std::vector<std::int16_t> WavSamples(const std::string& name);

bool OpenPath(CDecoder& decoder, const std::string& path);
// Reads until 0, recording each Read's size.
std::vector<std::int16_t> DecodeAll(CDecoder& decoder, std::vector<std::uint32_t>* sizes = nullptr);

// How decoded output lines up with a reference: decoded[i + shift] ~ reference[i]
// frame by frame, and the signal-to-noise ratio over the overlap.
struct Match {
  long shift = 0;
  double snrDb = 0;
  long extraFrames = 0;  // decoded frames after the shift minus reference frames
};
Match Compare(const std::vector<std::int16_t>& decoded, const std::vector<std::int16_t>& reference,
              int channels, long maxShift);

}  // namespace codec_fixtures
