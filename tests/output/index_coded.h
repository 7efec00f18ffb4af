// Stereo 16-bit audio whose frames carry their own number: frame i has left = i % 30000 + 1
// and right = i / 30000 + 1. A capture of it shows lost, doubled and reordered frames
// directly, and its silence (0, 0) is never a frame of the source, so nothing has to be
// set aside to compare.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace index_coded {

// Frames first .. first + count - 1, interleaved, and as little-endian bytes.
std::vector<std::int16_t> Samples(std::int64_t first, std::int64_t count);
std::vector<std::uint8_t> Bytes(std::int64_t first, std::int64_t count);

// A capture read back: stretches of consecutive source frames and of silence, in order.
struct Stretch {
  bool silent = false;
  std::int64_t first = 0;  // the first source frame; unused for silence
  std::int64_t frames = 0;
};
struct Capture {
  std::vector<Stretch> stretches;
  std::string damage;  // the first frame that is neither silence nor a source frame
  // Silent stretches between the first and the last source frame.
  std::vector<std::int64_t> Gaps() const;
};
Capture Read(const std::vector<std::uint8_t>& bytes);
Capture ReadFile(const std::string& path);

// "" when the capture holds source frames 0 .. frames - 1 each once and in order,
// with at most maxGaps silent stretches among them; otherwise what is wrong.
std::string PlayedOnceInOrder(const Capture& capture, std::int64_t frames, std::size_t maxGaps);

}  // namespace index_coded
