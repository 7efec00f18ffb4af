// What every decoder promises the engine, whatever the format: a failed Open shows
// its one message (or none), keeps nothing open and reads nothing; Read before
// Open and after Close gives 0 and leaves the caller's buffer alone; Close twice
// is harmless; a closed decoder opens its stored path again; a good file decodes
// in whole Reads to the PCM its source or a reference decoder gives.
#include <algorithm>
#include <cctype>
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
constexpr auto kMp3 = &Make<CMadDecoder>;
constexpr auto kWav = &Make<CSndFileDecoder>;
constexpr auto kOgg = &Make<COggVorbisDecoder>;
constexpr auto kFlac = &Make<CFLACDecoder>;
constexpr auto kApe = &Make<CMACDecoder>;
constexpr auto kWma = &Make<CWMADecoder>;

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
        BadOpen{"mp3_text", kMp3, "notes.mp3", nullptr, 0},
        BadOpen{"mp3_missing", kMp3, "missing.mp3", nullptr, 0},
        BadOpen{"wav_missing", kWav, "missing.wav", "", 0x30},
        BadOpen{"ogg_missing", kOgg, "missing.ogg", "Can't open file.", 0x30},
        BadOpen{"ogg_text", kOgg, "notes.ogg", "Input does not appear to be an Ogg bitstream.", 0},
        BadOpen{"ogg_chained", kOgg, "chained.ogg",
                "Can't deal with multiple streams yet. Streams:2", 0},
        BadOpen{"ogg_six_channels", kOgg, "six.ogg",
                "Can't deal with more than 2 channels yet. Channels:6", 0},
        BadOpen{"flac_missing", kFlac, "missing.flac", "Failed when initialize FLAC decoder.",
                0x30},
        BadOpen{"flac_given_ogg", kFlac, "notes.ogg", "Can not process metadata properly.", 0x30},
        BadOpen{"ape_missing", kApe, "missing.ape", kNoApe, 0x30},
        BadOpen{"ape_text", kApe, "text.ape", kNoApe, 0x30},
        BadOpen{"ape_given_asf_video", kApe, "video-only.wma", kNoApe, 0x30},
        // One box for a missing WMA file, not a second one from the file stream.
        BadOpen{"wma_missing", kWma, "missing.wma", "Can't open file.", 0x30},
        BadOpen{"wma_video_only", kWma, "video-only.wma", kNoWmaAudio, 0x30},
        BadOpen{"wma_text", kWma, "text.wma", kNoWmaAudio, 0x30},
        BadOpen{"wma_given_ape", kWma, "ape-44100-1-16.ape", kNoWmaAudio, 0x30}),
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

const GoodFile kOneFilePerFormat[] = {{"mp3", kMp3, "cbr.mp3", 4608},
                                      {"wav", kWav, "s44.wav", 4608},
                                      {"ogg", kOgg, "stereo.ogg", 4608},
                                      {"flac", kFlac, "s16.flac", 2304},
                                      {"ape", kApe, "ape-44100-2-16.ape", 4608},
                                      {"wma", kWma, "wmav2-22050-1.wma", 0}};

std::string Label(const ::testing::TestParamInfo<GoodFile>& info) { return info.param.label; }

INSTANTIATE_TEST_SUITE_P(Rows, Lifecycle, ::testing::ValuesIn(kOneFilePerFormat), Label);

// A good file of any format: its format, 16-bit samples in whole Reads of the
// decoder's own size, the end staying the end, and the PCM that is expected.
struct GoodDecode {
  const char* file;
  std::unique_ptr<CDecoder> (*make)();
  int rate;
  int channels;
  std::uint32_t block;  // bytes of every Read but the last
  std::uint32_t last;   // bytes of the last Read; 0: what remains after whole blocks
  // Lossless: the generated WAV whose samples are delivered exactly, and whether
  // the reference decode is matched bit for bit too.
  const char* source;
  bool exactReference;
  // Lossy (no source): the least signal-to-noise ratio against the reference, the
  // frames played before the reference's first (ffmpeg trims MP3's Info frame and
  // encoder delay; we play them), and how far the lengths may differ in frames.
  double minSnrDb = 0;
  long delay = 0;
  long extraFrames = 0;
};

void PrintTo(const GoodDecode& c, std::ostream* os) { *os << c.file; }

class GoodFiles : public ::testing::TestWithParam<GoodDecode> {};

TEST_P(GoodFiles, DecodeWholeReadsOfTheExpectedPcm) {
  const GoodDecode& c = GetParam();
  CMadDecoder::ResetDitherRecordsForTesting();
  auto decoder = c.make();
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(fixtures::OpenPath(*decoder, fixtures::Path(c.file)));
  // Ogg Vorbis tells the format on stdout; the others say nothing.
  const std::string format =
      "samplerate=" + std::to_string(c.rate) + "\nchannels=" + std::to_string(c.channels) + "\n";
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.make == kOgg ? format : "");
  EXPECT_EQ(decoder->GetSampleRate(), c.rate);
  EXPECT_EQ(decoder->GetBitsPerSample(), 16) << "every sample size is delivered as 16 bits";
  EXPECT_EQ(decoder->GetChannels(), c.channels);
  std::vector<std::uint32_t> sizes;
  const auto pcm = fixtures::DecodeAll(*decoder, &sizes);
  ASSERT_GT(sizes.size(), 10u);
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i) ASSERT_EQ(sizes[i], c.block) << "Read " << i;
  const auto rest = static_cast<std::uint32_t>(pcm.size() * 2 % c.block);
  EXPECT_EQ(sizes.back(), c.last != 0 ? c.last : rest != 0 ? rest : c.block);
  EXPECT_EQ(MarkedRead(*decoder).first, 0u) << "the end stays the end";
  if (c.source != nullptr) {
    const auto expected = fixtures::WavSamples(c.source);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(pcm == expected) << pcm.size() << " samples, expected " << expected.size();
    if (c.exactReference) {
      EXPECT_TRUE(pcm == fixtures::Reference(c.file)) << "ffmpeg decodes it otherwise";
    }
    return;
  }
  const fixtures::Match m = fixtures::Compare(pcm, fixtures::Reference(c.file), c.channels, 3000);
  EXPECT_GT(m.snrDb, c.minSnrDb);
  EXPECT_EQ(m.shift, c.delay);
  EXPECT_LE(std::abs(m.extraFrames), c.extraFrames) << "shift " << m.shift;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, GoodFiles,
    ::testing::Values(
        GoodDecode{"cbr.mp3", kMp3, 44100, 2, 4608, 0, nullptr, false, 40, 2257, 1152},
        GoodDecode{"vbr.mp3", kMp3, 44100, 2, 4608, 0, nullptr, false, 40, 2257, 1152},
        GoodDecode{"r22050.mp3", kMp3, 22050, 2, 2304, 0, nullptr, false, 40, 1681, 1152},
        // Pairs of 576-frame frames; the odd last one is still delivered.
        GoodDecode{"r24000.mp3", kMp3, 24000, 2, 4608, 2304, nullptr, false, 40, 1681, 1152},
        GoodDecode{"mono.mp3", kMp3, 44100, 1, 2304, 0, nullptr, false, 40, 2257, 1152},
        // The encoder's length, as the stream's granule positions give it.
        GoodDecode{"mono.ogg", kOgg, 44100, 1, 4608, 0, nullptr, false, 60, 0, 0},
        GoodDecode{"stereo.ogg", kOgg, 44100, 2, 4608, 0, nullptr, false, 60, 0, 0},
        // FLAC in 576-frame Reads, every sample size cut or widened to 16 bits.
        GoodDecode{"s16.flac", kFlac, 44100, 2, 2304, 0, "s44.wav", true},
        GoodDecode{"u8.flac", kFlac, 44100, 2, 2304, 0, "u8.wav", true},
        GoodDecode{"b24.flac", kFlac, 44100, 2, 2304, 0, "b24.wav", true},
        GoodDecode{"b12.flac", kFlac, 44100, 2, 2304, 0, "top12.wav", false},
        GoodDecode{"b20.flac", kFlac, 44100, 2, 2304, 0, "s44.wav", false},
        GoodDecode{"b32.flac", kFlac, 44100, 2, 2304, 0, "s44.wav", false},
        // APE is lossless: the source's samples, 24-bit ones cut to 16.
        GoodDecode{"ape-44100-2-16.ape", kApe, 44100, 2, 4608, 0, "src-44100-2-16.wav", true},
        GoodDecode{"ape-44100-1-16.ape", kApe, 44100, 1, 4608, 0, "src-44100-1-16.wav", true},
        GoodDecode{"ape-48000-2-24.ape", kApe, 48000, 2, 4608, 0, "src-48000-2-24.wav", true},
        GoodDecode{"ape-22050-1-24.ape", kApe, 22050, 1, 4608, 0, "src-22050-1-24.wav", true}),
    [](const auto& info) {
      std::string name = info.param.file;
      std::replace_if(
          name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); }, '_');
      return name;
    });

}  // namespace
