#include "visual/pcm_ring.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

// A stream whose 16-bit sample at byte k is k / 2 (mod 32768), so a converted value
// tells where in the stream it came from.
std::vector<std::uint8_t> Stream(std::uint32_t from, std::uint32_t bytes) {
  std::vector<std::uint8_t> s(bytes);
  for (std::uint32_t i = 0; i < bytes; i += 2) {
    const auto v = static_cast<std::uint16_t>(((from + i) / 2) & 0x7FFF);
    s[i] = static_cast<std::uint8_t>(v & 0xFF);
    s[i + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  return s;
}

float SampleOfStreamByte(std::uint32_t k) {
  return static_cast<float>((k / 2) & 0x7FFF) / 32767.0f;
}

struct SampleCase {
  std::uint8_t low, high;
  float value;
};

class SampleConversion : public testing::TestWithParam<SampleCase> {};

TEST_P(SampleConversion, SignedLittleEndianOver32767) {
  EXPECT_EQ(SampleToFloat(GetParam().low, GetParam().high), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Rows, SampleConversion,
                         testing::Values(SampleCase{0xFF, 0x7F, 1.0f},
                                         SampleCase{0x00, 0x80, -32768 / 32767.0f},
                                         SampleCase{0x80, 0x00, 128 / 32767.0f},
                                         SampleCase{0x00, 0x00, 0.0f},
                                         SampleCase{0xFF, 0xFF, -1 / 32767.0f}));

TEST(PcmRingWrite, StartsSilentAndWrapsAtTheEnd) {
  PcmRing ring(16);
  std::vector<float> l(4, 9.0f), r(4, 9.0f);
  std::uint64_t wraps = 0;
  ring.Convert(0, 4, 4, l.data(), r.data(), wraps);
  for (float v : l) EXPECT_EQ(v, 0.0f);
  const auto s = Stream(0, 24);
  ring.Write(s.data(), 12);
  ring.Write(s.data() + 12, 12);  // 4 bytes at the end, 8 at the front
  EXPECT_EQ(ring.WritePos(), 8u);
  ring.Convert(0, 4, 4, l.data(), r.data(), wraps);
  EXPECT_EQ(l[0], SampleOfStreamByte(16));
  EXPECT_EQ(r[1], SampleOfStreamByte(22));
  EXPECT_EQ(l[3], SampleOfStreamByte(12));
}

TEST(PcmRingWrite, ABlockEndingAtTheEndLeavesThePositionThereAndTheNextStartsAtTheFront) {
  PcmRing ring(16);
  const auto s = Stream(0, 20);
  ring.Write(s.data(), 16);
  EXPECT_EQ(ring.WritePos(), 16u);
  ring.Write(s.data() + 16, 4);
  EXPECT_EQ(ring.WritePos(), 4u);
}

TEST(PcmRingWrite, ABlockLongerThanTheRingKeepsItsLastRingLength) {
  PcmRing ring(16);
  ring.Write(Stream(0, 4).data(), 4);
  const auto s = Stream(4, 40);  // stream bytes 4..43
  ring.Write(s.data(), 40);
  EXPECT_EQ(ring.WritePos(), 44u % 16u);
  std::vector<float> l(4), r(4);
  std::uint64_t wraps = 0;
  ring.Convert(0, 4, 4, l.data(), r.data(), wraps);
  EXPECT_EQ(l[0], SampleOfStreamByte(32)) << "byte k of the stream lies at k mod 16";
  EXPECT_EQ(l[3], SampleOfStreamByte(28));
}

TEST(PcmRingWrite, PiecesOfAnyLengthLandByteForByte) {
  PcmRing ring(24);
  const auto s = Stream(0, 60);
  std::uint32_t at = 0;
  for (std::uint32_t piece : {1u, 3u, 5u, 2u, 7u, 1u, 6u, 9u, 2u, 3u, 5u, 1u, 4u, 11u}) {  // 60 bytes
    ring.Write(s.data() + at, piece);
    at += piece;
  }
  EXPECT_EQ(ring.WritePos(), 60u % 24u);
  std::vector<float> l(6), r(6);
  std::uint64_t wraps = 0;
  ring.Convert(12, 6, 4, l.data(), r.data(), wraps);  // stream 36..59 lies at 12..23, then 0..11
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(l[i], SampleOfStreamByte(36 + 4 * i)) << i;
    EXPECT_EQ(r[i], SampleOfStreamByte(38 + 4 * i)) << i;
  }
}

TEST(PcmRingConvert, AWindowRunningPastTheEndGoesOnAtTheStartAndCountsTheWrap) {
  PcmRing ring(32);
  const auto s = Stream(0, 48);
  ring.Write(s.data(), 48);  // ring holds stream 32..47 at 0..15 and 16..31 at 16..31
  std::vector<float> l(6), r(6);
  std::uint64_t wraps = 0;
  ring.Convert(24, 6, 4, l.data(), r.data(), wraps);
  EXPECT_EQ(wraps, 1u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(l[i], SampleOfStreamByte(24 + 4 * i)) << i;
    EXPECT_EQ(r[i], SampleOfStreamByte(26 + 4 * i)) << i;
  }
}

TEST(PcmRingConvert, MonoFramesAreTwoBytesAndFeedBothChannels) {
  PcmRing ring(32);
  const auto s = Stream(0, 32);
  ring.Write(s.data(), 32);
  std::vector<float> l(4), r(4);
  std::uint64_t wraps = 0;
  ring.Convert(6, 4, 2, l.data(), r.data(), wraps);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(l[i], SampleOfStreamByte(6 + 2 * i));
    EXPECT_EQ(r[i], l[i]);
  }
}

TEST(PcmRingConvert, SizesAndStartsAreKeptToWholeFrames) {
  PcmRing ring(18);
  EXPECT_EQ(ring.Bytes(), 16u);
  std::vector<float> l(8), r(8);
  std::uint64_t wraps = 0;
  ring.Convert(15, 8, 4, l.data(), r.data(), wraps);  // stays inside the ring (ASan checks)
  PcmRing none(3);
  EXPECT_EQ(none.Bytes(), 0u);
  none.Write(Stream(0, 4).data(), 4);
  none.Convert(0, 8, 4, l.data(), r.data(), wraps);
}

}  // namespace
