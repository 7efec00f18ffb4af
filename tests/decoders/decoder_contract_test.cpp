// What every decoder promises the engine, whatever the format: a failed Open shows
// its one message (or none), keeps nothing open and reads nothing; Read before
// Open and after Close gives 0 and leaves the caller's buffer alone; Close twice
// is harmless; a closed decoder opens its stored path again.
#include <algorithm>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "decoders/flac_decoder.h"
#include "decoders/mac_decoder.h"
#include "decoders/mad_decoder.h"
#include "decoders/ogg_vorbis_decoder.h"
#include "decoders/sndfile_decoder.h"
#include "decoders/wma_decoder.h"
#include "platform/com/com.h"
#include "tests/decoders/fixtures.h"
#include "tests/support/message_box_recorder.h"

namespace {

using testing_support::MessageBoxRecorder;
using testing_support::Narrow;

template <typename D>
std::unique_ptr<CDecoder> Make() {
  return std::make_unique<D>();
}

// Read into a marked buffer: the count, and whether the buffer was left alone.
std::pair<std::uint32_t, bool> MarkedRead(CDecoder& decoder) {
  char block[CDecoder::kMaxReadBytes];
  std::memset(block, 0x5A, sizeof(block));
  const std::uint32_t n = decoder.Read(block, sizeof(block));
  return {n, std::all_of(block, block + sizeof(block), [](char c) { return c == 0x5A; })};
}

struct BadOpen {
  const char* label;
  std::unique_ptr<CDecoder> (*make)();
  const char* file;
  const char* text;     // null: no box at all; "": the library's own text
  std::uint32_t flags;  // of the box
};

void PrintTo(const BadOpen& c, std::ostream* os) { *os << c.label; }

class FailedOpen : public ::testing::TestWithParam<BadOpen> {};

TEST_P(FailedOpen, ShowsItsOneMessageKeepsNothingOpenAndReadsNothing) {
  const BadOpen& c = GetParam();
  const std::string path = fixtures::Path(c.file);
  const int filesBefore = fixtures::OpenFileCount();
  MessageBoxRecorder boxes;
  auto decoder = c.make();
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(fixtures::OpenPath(*decoder, path));
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(fixtures::OpenFileCount(), filesBefore) << "a failed open keeps nothing open";
  if (c.text == nullptr) {
    EXPECT_EQ(boxes.Count(), 0u);
  } else {
    ASSERT_EQ(boxes.Count(), 1u);
    const auto box = boxes.Boxes()[0];
    if (*c.text != '\0') {
      EXPECT_EQ(Narrow(box.text), c.text);
    }
    EXPECT_FALSE(box.text.empty());
    EXPECT_EQ(Narrow(box.caption), "Error");
    EXPECT_EQ(box.flags, c.flags);
  }
  EXPECT_EQ(decoder->GetSampleRate(), 0);
  EXPECT_EQ(decoder->GetChannels(), 0);
  EXPECT_EQ(MarkedRead(*decoder), std::make_pair(0u, true));
  EXPECT_EQ(platform::com::CoInitializeDepth(), 0) << "a failed open leaves COM as it found it";
}

constexpr const char* kNoApe = "Can not create APE decompress interface.";
constexpr const char* kNoWmaAudio = "No audio data exist in this file.";

INSTANTIATE_TEST_SUITE_P(
    Rows, FailedOpen,
    ::testing::Values(
        // MP3 files without frames fail silently.
        BadOpen{"mp3_text", Make<CMadDecoder>, "notes.mp3", nullptr, 0},
        BadOpen{"mp3_missing", Make<CMadDecoder>, "missing.mp3", nullptr, 0},
        BadOpen{"wav_missing", Make<CSndFileDecoder>, "missing.wav", "", 0x30},
        BadOpen{"ogg_missing", Make<COggVorbisDecoder>, "missing.ogg",
                "Can't open file.", 0x30},
        BadOpen{"ogg_text", Make<COggVorbisDecoder>, "notes.ogg",
                "Input does not appear to be an Ogg bitstream.", 0},
        BadOpen{"ogg_chained", Make<COggVorbisDecoder>, "chained.ogg",
                "Can't deal with multiple streams yet. Streams:2", 0},
        BadOpen{"ogg_six_channels", Make<COggVorbisDecoder>, "six.ogg",
                "Can't deal with more than 2 channels yet. Channels:6", 0},
        BadOpen{"flac_missing", Make<CFLACDecoder>, "missing.flac",
                "Failed when initialize FLAC decoder.", 0x30},
        BadOpen{"flac_given_ogg", Make<CFLACDecoder>, "notes.ogg",
                "Can not process metadata properly.", 0x30},
        BadOpen{"ape_missing", Make<CMACDecoder>, "missing.ape", kNoApe, 0x30},
        BadOpen{"ape_text", Make<CMACDecoder>, "text.ape", kNoApe, 0x30},
        BadOpen{"ape_given_asf_video", Make<CMACDecoder>, "video-only.wma",
                kNoApe, 0x30},
        // One box for a missing WMA file, not a second one from the file stream.
        BadOpen{"wma_missing", Make<CWMADecoder>, "missing.wma",
                "Can't open file.", 0x30},
        BadOpen{"wma_video_only", Make<CWMADecoder>, "video-only.wma",
                kNoWmaAudio, 0x30},
        BadOpen{"wma_text", Make<CWMADecoder>, "text.wma", kNoWmaAudio, 0x30},
        BadOpen{"wma_given_ape", Make<CWMADecoder>, "ape-44100-1-16.ape",
                kNoWmaAudio, 0x30}),
    [](const auto& info) { return std::string(info.param.label); });

struct GoodFile {
  const char* label;
  std::unique_ptr<CDecoder> (*make)();
  const char* file;
  std::uint32_t firstRead;  // 0: any nonzero count
};

void PrintTo(const GoodFile& c, std::ostream* os) { *os << c.label; }

class Lifecycle : public ::testing::TestWithParam<GoodFile> {};

TEST_P(Lifecycle, ReadOnlyWhileOpenCloseTwiceAndOpenAgain) {
  const GoodFile& c = GetParam();
  const std::string path = fixtures::Path(c.file);
  MessageBoxRecorder boxes;
  ::testing::internal::CaptureStdout();
  auto decoder = c.make();
  EXPECT_EQ(MarkedRead(*decoder), std::make_pair(0u, true)) << "never opened";
  ASSERT_TRUE(fixtures::OpenPath(*decoder, path));
  const std::uint32_t first = MarkedRead(*decoder).first;
  EXPECT_GT(first, 0u);
  if (c.firstRead != 0) {
    EXPECT_EQ(first, c.firstRead);
  }
  decoder->Close();
  decoder->Close();
  EXPECT_EQ(MarkedRead(*decoder), std::make_pair(0u, true)) << "after Close";
  // Close freed the library state; Open makes it anew from the stored path.
  ASSERT_NE(decoder->Open(), 0);
  EXPECT_EQ(MarkedRead(*decoder).first, first);
  // Destroyed while open: its destructor closes it.
  decoder.reset();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_EQ(platform::com::CoInitializeDepth(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Lifecycle,
    ::testing::Values(
        GoodFile{"mp3", Make<CMadDecoder>, "cbr.mp3", 4608},
        GoodFile{"wav", Make<CSndFileDecoder>, "s44.wav", 4608},
        GoodFile{"ogg", Make<COggVorbisDecoder>, "stereo.ogg", 4608},
        GoodFile{"flac", Make<CFLACDecoder>, "s16.flac", 2304},
        GoodFile{"ape", Make<CMACDecoder>, "ape-44100-2-16.ape", 4608},
        GoodFile{"wma", Make<CWMADecoder>, "wmav2-22050-1.wma", 0}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
