// Folds interleaved 16-bit frames of any channel count into stereo, for
// sources in the usual WAVE channel order (L, R, C, LFE, back/side pairs...).
#pragma once

#include <cstdint>

namespace decoding {

// Mixes frameCount frames of `channels` interleaved samples into stereo frames.
// in and out may not overlap unless out == in (mixing in place is safe, because a
// stereo frame is never longer than the frame it came from).
void DownmixToStereo(const std::int16_t* in, std::uint32_t frameCount, int channels, std::int16_t* out);

// The same for 32-bit integer samples of the given bit depth, producing 16-bit stereo.
void DownmixToStereo(const std::int32_t* const* planes, std::uint32_t frameCount, int channels,
                     int bitsPerSample, std::int16_t* out);

}  // namespace decoding
