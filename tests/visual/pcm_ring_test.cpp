#include "visual/pcm_ring.h"

#include <vector>

#include <gtest/gtest.h>

#include "tests/visual/visual_doubles.h"

namespace {

using testing_support::SampleAt;
using testing_support::Stream;

TEST(PcmRing, SamplesAreSignedLittleEndianOver32767) {
  struct Row {
    std::uint8_t low, high;
    float value;
  };
  for (const Row row : {Row{.low = 0xFF, .high = 0x7F, .value = 1.0f},
                        Row{.low = 0x00, .high = 0x80, .value = -32768 / 32767.0f},
                        Row{.low = 0x80, .high = 0x00, .value = 128 / 32767.0f},
                        Row{.low = 0x00, .high = 0x00, .value = 0.0f},
                        Row{.low = 0xFF, .high = 0xFF, .value = -1 / 32767.0f}})
    EXPECT_EQ(SampleToFloat(row.low, row.high), row.value) << int{row.low} << " " << int{row.high};
}

// The stream is written in pieces, then a window converted: byte k of the stream must lie
// at k mod Bytes() whatever the pieces were, a window run on past the end at the start,
// and whatever was never written must be silence.
TEST(PcmRing, EveryWindowHoldsTheLastBytesWrittenAtTheirPlace) {
  struct Row {
    const char* name;
    std::uint32_t ring = 16;  // bytes asked for
    std::vector<std::uint32_t> pieces = {};
    std::uint32_t start = 0, frames = 4, frameBytes = 4;  // the window converted
    std::uint32_t writePos;                               // afterwards
    std::uint64_t wraps = 0;
  };
  // clang-format off
  const Row rows[] = {
      {.name = "nothing written", .writePos = 0},
      {.name = "a block across the end", .pieces = {12, 12}, .writePos = 8},
      {.name = "a block up to the end", .pieces = {16}, .start = 4, .writePos = 16, .wraps = 1},
      {.name = "the next block at the front", .pieces = {16, 4}, .writePos = 4},
      {.name = "a block longer than the ring", .pieces = {4, 40}, .writePos = 12},
      {.name = "pieces of any length", .ring = 24,
       .pieces = {1, 3, 5, 2, 7, 1, 6, 9, 2, 3, 5, 1, 4, 11}, .start = 12, .frames = 6,
       .writePos = 12, .wraps = 1},
      {.name = "a window past the end", .ring = 32, .pieces = {48}, .start = 24, .frames = 6,
       .writePos = 16, .wraps = 1},
      {.name = "mono", .ring = 32, .pieces = {32}, .start = 6, .frameBytes = 2, .writePos = 32},
      {.name = "mono past the end", .ring = 32, .pieces = {40}, .start = 26, .frames = 8,
       .frameBytes = 2, .writePos = 8, .wraps = 1},
      {.name = "a start inside a frame, a ring of no whole frame at its end", .ring = 18,
       .pieces = {20}, .start = 15, .frames = 8, .writePos = 4, .wraps = 2},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PcmRing ring(row.ring);
    const std::uint32_t bytes = ring.Bytes();
    ASSERT_EQ(bytes, row.ring / 4 * 4);
    const auto stream = Stream(0, 64);
    std::uint32_t total = 0;
    for (std::uint32_t piece : row.pieces) {
      ring.Write(stream.data() + total, piece);
      total += piece;
    }
    EXPECT_EQ(ring.WritePos(), row.writePos);
    // The stream byte last written at ring position p, or silence.
    const auto expected = [&](std::uint32_t p) {
      return total > p ? SampleAt(total - 1 - (total - 1 - p) % bytes) : 0.0f;
    };
    std::vector<float> l(row.frames, 9.0f), r(row.frames, 9.0f);
    std::uint64_t wraps = 0;
    ring.Convert(row.start, row.frames, row.frameBytes, l.data(), r.data(), wraps);
    EXPECT_EQ(wraps, row.wraps);
    const std::uint32_t first = row.start - row.start % row.frameBytes;  // whole frames only
    for (std::uint32_t i = 0; i < row.frames; ++i) {
      const std::uint32_t p = (first + i * row.frameBytes) % bytes;
      EXPECT_EQ(l[i], expected(p)) << "frame " << i;
      EXPECT_EQ(r[i], row.frameBytes == 2 ? l[i] : expected(p + 2)) << "frame " << i;
    }
  }
  PcmRing none(3);  // no whole frame: holds nothing, and nothing goes wrong
  EXPECT_EQ(none.Bytes(), 0u);
  none.Write(Stream(0, 4).data(), 4);
  std::vector<float> l(8), r(8);
  std::uint64_t wraps = 0;
  none.Convert(0, 8, 4, l.data(), r.data(), wraps);
}

}  // namespace
