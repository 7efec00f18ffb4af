// What every decoder promises the engine, whatever the format: a failed Open shows
// its one message (or none), keeps nothing open and reads nothing; a good file
// decodes in whole Reads to the PCM its source or a reference decoder gives; Read
// before Open and after Close gives 0 and leaves the caller's buffer alone; Close
// twice is harmless; a closed decoder opens its stored path again; every path the
// shell accepts is kept whole.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "decoders/flac_decoder.h"
#include "decoders/mac_decoder.h"
#include "decoders/mad_decoder.h"
#include "decoders/ogg_vorbis_decoder.h"
#include "decoders/sndfile_decoder.h"
#include "decoders/wma_decoder.h"
#include "platform/com/com.h"
#include "platform/kernel/text.h"
#include "tests/decoders/fixtures.h"
#include "tests/support/audio_fixtures.h"
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

// A good file of any format: its format, 16-bit samples in whole Reads of the
// decoder's own size, the end staying the end, the PCM that is expected, and the
// same first Read once closed and opened again.
struct GoodDecode {
  const char* file;
  std::unique_ptr<CDecoder> (*make)();
  int rate;
  int channels;
  // Bytes of every Read but the last; WMA hands out what is left of each of the
  // codec's frames, so its Reads are at most this (and, in stereo, some are this).
  std::uint32_t block;
  std::uint32_t last;  // bytes of the last Read; 0: what remains after whole blocks
  // Lossless: the generated WAV whose samples are delivered exactly.
  const char* source;
  // Lossy (no source): the least signal-to-noise ratio against the reference
  // (INFINITY: bit for bit), the frames played before the reference's first (ffmpeg
  // trims MP3's Info frame and encoder delay; we play them), and how far the
  // lengths may differ in frames.
  double minSnrDb = 0;
  long delay = 0;
  long extraFrames = 0;
};

void PrintTo(const GoodDecode& c, std::ostream* os) { *os << c.file; }

class GoodFiles : public ::testing::TestWithParam<GoodDecode> {};

TEST_P(GoodFiles, DecodeWholeReadsOfTheExpectedPcmAndOpenAgain) {
  const GoodDecode& c = GetParam();
  MessageBoxRecorder boxes;
  CMadDecoder::ResetDitherRecordsForTesting();
  auto decoder = c.make();
  EXPECT_EQ(MarkedRead(*decoder), std::make_pair(0u, true)) << "never opened";
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
  const auto rest = static_cast<std::uint32_t>(pcm.size() * 2 % c.block);
  if (c.make == kWma) {
    EXPECT_LE(*std::max_element(sizes.begin(), sizes.end()), c.block);
    EXPECT_TRUE(c.channels == 1 || std::count(sizes.begin(), sizes.end(), c.block) != 0);
  } else {
    for (std::size_t i = 0; i + 1 < sizes.size(); ++i) ASSERT_EQ(sizes[i], c.block) << "Read " << i;
    EXPECT_EQ(sizes.back(), c.last != 0 ? c.last : rest != 0 ? rest : c.block);
  }
  EXPECT_EQ(MarkedRead(*decoder).first, 0u) << "the end stays the end";
  decoder->Close();
  decoder->Close();
  EXPECT_EQ(MarkedRead(*decoder), std::make_pair(0u, true)) << "after Close";
  // Close freed the library state; Open makes it anew from the stored path.
  ::testing::internal::CaptureStdout();
  ASSERT_NE(decoder->Open(), 0);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(MarkedRead(*decoder).first, sizes[0]);
  decoder.reset();  // destroyed while open: its destructor closes it
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_EQ(platform::com::CoInitializeDepth(), 0);

  if (c.source != nullptr) {
    const auto expected = fixtures::ReadWav(fixtures::Path(c.source)).samples;
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(pcm == expected) << pcm.size() << " samples, expected " << expected.size();
    return;
  }
  const fixtures::Pcm decoded{c.rate, c.channels, pcm};
  const fixtures::Pcm reference{c.rate, c.channels, fixtures::Reference(c.file)};
  const fixtures::Lineup lineup{decoded, reference};
  const long shift = lineup.BestShift(3000, 0, 3000);
  EXPECT_EQ(shift, c.delay);
  EXPECT_GE(lineup.SnrDb(shift, 0, reference.Frames()), c.minSnrDb);
  EXPECT_LE(std::abs(decoded.Frames() - shift - reference.Frames()), c.extraFrames);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, GoodFiles,
    ::testing::Values(
        GoodDecode{"cbr.mp3", kMp3, 44100, 2, 4608, 0, nullptr, 40, 2257, 1152},
        GoodDecode{"vbr.mp3", kMp3, 44100, 2, 4608, 0, nullptr, 40, 2257, 1152},
        GoodDecode{"r22050.mp3", kMp3, 22050, 2, 2304, 0, nullptr, 40, 1681, 1152},
        // Pairs of 576-frame frames; the odd last one is still delivered.
        GoodDecode{"r24000.mp3", kMp3, 24000, 2, 4608, 2304, nullptr, 40, 1681, 1152},
        GoodDecode{"mono.mp3", kMp3, 44100, 1, 2304, 0, nullptr, 40, 2257, 1152},
        // The encoder's length, as the stream's granule positions give it.
        GoodDecode{"mono.ogg", kOgg, 44100, 1, 4608, 0, nullptr, 60, 0, 0},
        GoodDecode{"stereo.ogg", kOgg, 44100, 2, 4608, 0, nullptr, 60, 0, 0},
        GoodDecode{"chained.ogg", kOgg, 44100, 2, 4608, 0, nullptr, 60, 0, 0},
        // FLAC in 576-frame Reads, every sample size cut or widened to 16 bits.
        GoodDecode{"s16.flac", kFlac, 44100, 2, 2304, 0, "s44.wav"},
        GoodDecode{"u8.flac", kFlac, 44100, 2, 2304, 0, "u8.wav"},
        GoodDecode{"b24.flac", kFlac, 44100, 2, 2304, 0, "b24.wav"},
        GoodDecode{"b12.flac", kFlac, 44100, 2, 2304, 0, "top12.wav"},
        GoodDecode{"b20.flac", kFlac, 44100, 2, 2304, 0, "s44.wav"},
        GoodDecode{"b32.flac", kFlac, 44100, 2, 2304, 0, "s44.wav"},
        // APE is lossless: the source's samples.
        GoodDecode{"ape-44100-2-16.ape", kApe, 44100, 2, 4608, 0, "src-44100-2-16.wav"},
        GoodDecode{"ape-44100-1-16.ape", kApe, 44100, 1, 4608, 0, "src-44100-1-16.wav"},
        GoodDecode{"s44.wav", kWav, 44100, 2, 4608, 0, "s44.wav"},
        GoodDecode{"m44.wav", kWav, 44100, 1, 4608, 0, "m44.wav"},
        // WMA as ffmpeg decodes it, at 22050 Hz in half-size Reads.
        GoodDecode{"wmav2-44100-2.wma", kWma, 44100, 2, 4608, 0, nullptr, INFINITY},
        GoodDecode{"wmav1-44100-2.wma", kWma, 44100, 2, 4608, 0, nullptr, INFINITY},
        GoodDecode{"wmav2-44100-1.wma", kWma, 44100, 1, 4608, 0, nullptr, INFINITY},
        GoodDecode{"wmav2-22050-2.wma", kWma, 22050, 2, 2304, 0, nullptr, INFINITY},
        GoodDecode{"wmav1-22050-1.wma", kWma, 22050, 1, 2304, 0, nullptr, INFINITY}),
    [](const auto& info) {
      std::string name = info.param.file;
      std::replace_if(
          name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); }, '_');
      return name;
    });

// Every path the shell accepts, up to 259 characters, is stored whole; a longer
// one is refused.
TEST(Paths, UpTo259CharactersAreKeptWhole) {
  std::string dir = testing_support::TempDir() + "/";
  while (dir.size() < 200) dir += "deep-folder-name/";
  std::filesystem::create_directories(dir);
  const std::string path = dir + std::string(255 - dir.size(), 'x') + ".wav";
  ASSERT_EQ(path.size(), 259u);
  std::filesystem::copy_file(fixtures::Path("s44.wav"), path,
                             std::filesystem::copy_options::overwrite_existing);
  const std::u16string wide = platform::FromUtf8(path);
  for (const auto make : {kMp3, kWav, kOgg, kFlac, kApe, kWma}) {
    auto decoder = make();
    EXPECT_EQ(decoder->SetFile((wide + u"x").c_str()), platform::STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(decoder->SetFile(wide.c_str()), platform::S_OK);
  }
  CSndFileDecoder wav;
  EXPECT_TRUE(fixtures::OpenPath(wav, path));
}

}  // namespace
