// A bare FFmpeg decode loop (demux, decode, convert to interleaved 16-bit) for
// comparing the APE and WMA decoders with. FFmpeg is opened with dlopen here
// too, so that this benchmark program links no more than the player does.
#pragma once

#include <cstddef>
#include <string>

namespace decode_bench {

// Decodes the first audio stream of path; the bytes of 16-bit PCM produced, 0 on failure.
std::size_t BareFfmpegDecode(const std::string& path);

}  // namespace decode_bench
