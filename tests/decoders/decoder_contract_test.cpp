// What every decoder promises the engine: failed Opens, good files in whole Reads,
// Read outside Open, Close and reopening, and the paths the shell accepts.
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

// A decoder, and for a lossy format how far it may stray from the reference decoder:
// the least SNR (INFINITY: bit for bit) and the frames the lengths may differ by.
struct Kind {
  const char* name;
  std::unique_ptr<CDecoder> (*make)();
  double minSnrDb = 0;
  long extraFrames = 0;
};
constexpr Kind kMp3{.name = "mp3", .make = &Make<CMadDecoder>, .minSnrDb = 40, .extraFrames = 1152};
constexpr Kind kWav{.name = "wav", .make = &Make<CSndFileDecoder>};
constexpr Kind kOgg{.name = "ogg", .make = &Make<COggVorbisDecoder>, .minSnrDb = 60};
constexpr Kind kFlac{.name = "flac", .make = &Make<CFLACDecoder>};
constexpr Kind kApe{.name = "ape", .make = &Make<CMACDecoder>};
constexpr Kind kWma{.name = "wma", .make = &Make<CWMADecoder>, .minSnrDb = INFINITY};

// A test name from the decoder and the file.
std::string CaseName(const Kind& kind, std::string file) {
  std::replace_if(
      file.begin(), file.end(), [](char ch) { return !std::isalnum(ch); }, '_');
  return std::string(kind.name) + "_" + file;
}

// Read into a marked buffer: the count, and whether the buffer was left alone.
std::pair<std::uint32_t, bool> MarkedRead(CDecoder& decoder) {
  char block[CDecoder::kMaxReadBytes];
  std::memset(block, 0x5A, sizeof(block));
  const std::uint32_t n = decoder.Read(block, sizeof(block));
  return {n, std::all_of(block, block + sizeof(block), [](char c) { return c == 0x5A; })};
}

struct BadOpen {
  Kind kind;
  const char* file;
  const char* text = nullptr;  // null: no box at all; "": the library's own text
  std::uint32_t flags = 0x30;  // of the box
};

void PrintTo(const BadOpen& c, std::ostream* os) { *os << CaseName(c.kind, c.file); }

class FailedOpen : public ::testing::TestWithParam<BadOpen> {};

TEST_P(FailedOpen, ShowsItsOneMessageKeepsNothingOpenAndReadsNothing) {
  const BadOpen& c = GetParam();
  const std::string path = fixtures::Path(c.file);
  const int filesBefore = fixtures::OpenFileCount();
  MessageBoxRecorder boxes;
  auto decoder = c.kind.make();
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(fixtures::OpenPath(*decoder, path));
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(fixtures::OpenFileCount(), filesBefore) << "a failed open keeps nothing open";
  ASSERT_EQ(boxes.Count(), c.text == nullptr ? 0u : 1u);
  if (c.text != nullptr) {
    const auto box = boxes.Boxes()[0];
    EXPECT_EQ(Narrow(box.text), *c.text != '\0' ? c.text : Narrow(box.text));
    EXPECT_TRUE(!box.text.empty() && Narrow(box.caption) == "Error" && box.flags == c.flags)
        << Narrow(box.caption) << " " << box.flags;
  }
  EXPECT_EQ(std::make_pair(decoder->GetSampleRate(), decoder->GetChannels()), std::make_pair(0, 0));
  EXPECT_EQ(MarkedRead(*decoder), std::make_pair(0u, true));
  EXPECT_EQ(platform::com::CoInitializeDepth(), 0) << "a failed open leaves COM as it found it";
}

constexpr const char* kNoApe = "Can not create APE decompress interface.";
constexpr const char* kNoWmaAudio = "No audio data exist in this file.";
constexpr const char* kNotOgg = "Input does not appear to be an Ogg bitstream.";
constexpr const char* kSixChannels = "Can't deal with more than 2 channels yet. Channels:6";

const BadOpen kBadOpens[] = {
    // MP3 files without frames fail silently.
    {.kind = kMp3, .file = "notes.mp3"},
    {.kind = kMp3, .file = "missing.mp3"},
    {.kind = kWav, .file = "missing.wav", .text = ""},
    {.kind = kOgg, .file = "missing.ogg", .text = "Can't open file."},
    {.kind = kOgg, .file = "notes.ogg", .text = kNotOgg, .flags = 0},
    {.kind = kOgg, .file = "six.ogg", .text = kSixChannels, .flags = 0},
    {.kind = kFlac, .file = "missing.flac", .text = "Failed when initialize FLAC decoder."},
    {.kind = kFlac, .file = "notes.ogg", .text = "Can not process metadata properly."},
    {.kind = kApe, .file = "missing.ape", .text = kNoApe},
    {.kind = kApe, .file = "text.ape", .text = kNoApe},
    {.kind = kApe, .file = "video-only.wma", .text = kNoApe},
    // One box for a missing WMA file, not a second one from the file stream.
    {.kind = kWma, .file = "missing.wma", .text = "Can't open file."},
    {.kind = kWma, .file = "video-only.wma", .text = kNoWmaAudio},
    {.kind = kWma, .file = "text.wma", .text = kNoWmaAudio},
    {.kind = kWma, .file = "ape-44100-1-16.ape", .text = kNoWmaAudio},
};
INSTANTIATE_TEST_SUITE_P(Rows, FailedOpen, ::testing::ValuesIn(kBadOpens), [](const auto& info) {
  return CaseName(info.param.kind, info.param.file);
});

// A good file of any format: 16-bit samples in whole Reads of the decoder's own size,
// the end staying the end, the PCM expected; the same first Read once reopened.
struct GoodDecode {
  const char* file;
  Kind kind;
  int rate = 44100, channels = 2;
  // Bytes of every Read but the last; WMA hands out what is left of each of the
  // codec's frames, so its Reads are at most this (and, in stereo, some are this).
  std::uint32_t block = 4608;
  std::uint32_t last = 0;  // bytes of the last Read; 0: what remains after whole blocks
  // Lossless: the generated WAV whose samples are delivered exactly.
  const char* source = nullptr;
  // Lossy: the frames played before the reference's first (ffmpeg trims MP3's Info
  // frame and encoder delay; we play them).
  long delay = 0;
};

void PrintTo(const GoodDecode& c, std::ostream* os) { *os << c.file; }

class GoodFiles : public ::testing::TestWithParam<GoodDecode> {};

// Opens quietly, with the Ogg decoder's format line on stdout.
void OpenQuietly(CDecoder& decoder, const GoodDecode& c) {
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(fixtures::OpenPath(decoder, fixtures::Path(c.file)));
  // Ogg Vorbis tells the format on stdout; the others say nothing.
  const std::string format =
      "samplerate=" + std::to_string(c.rate) + "\nchannels=" + std::to_string(c.channels) + "\n";
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.kind.make == kOgg.make ? format : "");
}

TEST_P(GoodFiles, DecodeTheExpectedPcmInWholeReads) {
  const GoodDecode& c = GetParam();
  MessageBoxRecorder boxes;
  CMadDecoder::ResetDitherRecordsForTesting();
  auto decoder = c.kind.make();
  EXPECT_EQ(MarkedRead(*decoder), std::make_pair(0u, true)) << "never opened";
  ASSERT_NO_FATAL_FAILURE(OpenQuietly(*decoder, c));
  EXPECT_EQ(decoder->GetSampleRate(), c.rate);
  EXPECT_EQ(decoder->GetBitsPerSample(), 16) << "every sample size is delivered as 16 bits";
  EXPECT_EQ(decoder->GetChannels(), c.channels);
  std::vector<std::uint32_t> sizes;
  const auto pcm = fixtures::DecodeAll(*decoder, &sizes);
  ASSERT_GT(sizes.size(), 10u);
  if (c.kind.make == kWma.make) {
    EXPECT_LE(*std::max_element(sizes.begin(), sizes.end()), c.block);
    EXPECT_TRUE(c.channels == 1 || std::count(sizes.begin(), sizes.end(), c.block) != 0);
  } else {
    const auto rest = static_cast<std::uint32_t>(pcm.size() * 2 % c.block);
    std::vector<std::uint32_t> whole(sizes.size(), c.block);
    whole.back() = c.last != 0 ? c.last : rest != 0 ? rest : c.block;
    EXPECT_EQ(sizes, whole);
  }
  EXPECT_EQ(MarkedRead(*decoder).first, 0u) << "the end stays the end";
  EXPECT_EQ(boxes.Count(), 0u);
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
  EXPECT_GE(lineup.SnrDb(shift, 0, reference.Frames()), c.kind.minSnrDb);
  EXPECT_LE(std::abs(decoded.Frames() - shift - reference.Frames()), c.kind.extraFrames);
}

// Close twice is harmless and frees the library state; Open makes it anew from the
// stored path; a decoder destroyed while open closes itself.
TEST_P(GoodFiles, CloseTwiceThenOpenAgainFromTheStoredPath) {
  const GoodDecode& c = GetParam();
  MessageBoxRecorder boxes;
  auto decoder = c.kind.make();
  ASSERT_NO_FATAL_FAILURE(OpenQuietly(*decoder, c));
  const std::uint32_t first = MarkedRead(*decoder).first;
  EXPECT_GT(first, 0u);
  for (int i = 0; i < 2; ++i) decoder->Close();
  EXPECT_EQ(MarkedRead(*decoder), std::make_pair(0u, true)) << "after Close";
  ::testing::internal::CaptureStdout();
  ASSERT_NE(decoder->Open(), 0);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(MarkedRead(*decoder).first, first);
  decoder.reset();
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_EQ(platform::com::CoInitializeDepth(), 0);
}

const GoodDecode kGoodFiles[] = {
    {.file = "cbr.mp3", .kind = kMp3, .delay = 2257},
    {.file = "vbr.mp3", .kind = kMp3, .delay = 2257},
    {.file = "r22050.mp3", .kind = kMp3, .rate = 22050, .block = 2304, .delay = 1681},
    // Pairs of 576-frame frames; the odd last one is still delivered.
    {.file = "r24000.mp3", .kind = kMp3, .rate = 24000, .last = 2304, .delay = 1681},
    {.file = "mono.mp3", .kind = kMp3, .channels = 1, .block = 2304, .delay = 2257},
    // The encoder's length, as the stream's granule positions give it.
    {.file = "mono.ogg", .kind = kOgg, .channels = 1},
    {.file = "stereo.ogg", .kind = kOgg},
    {.file = "chained.ogg", .kind = kOgg},
    // FLAC in 576-frame Reads, every sample size cut or widened to 16 bits.
    {.file = "s16.flac", .kind = kFlac, .block = 2304, .source = "s44.wav"},
    {.file = "u8.flac", .kind = kFlac, .block = 2304, .source = "u8.wav"},
    {.file = "b24.flac", .kind = kFlac, .block = 2304, .source = "b24.wav"},
    {.file = "b12.flac", .kind = kFlac, .block = 2304, .source = "top12.wav"},
    {.file = "b20.flac", .kind = kFlac, .block = 2304, .source = "s44.wav"},
    {.file = "b32.flac", .kind = kFlac, .block = 2304, .source = "s44.wav"},
    // APE is lossless: the source's samples.
    {.file = "ape-44100-2-16.ape", .kind = kApe, .source = "src-44100-2-16.wav"},
    {.file = "ape-44100-1-16.ape", .kind = kApe, .channels = 1, .source = "src-44100-1-16.wav"},
    {.file = "s44.wav", .kind = kWav, .source = "s44.wav"},
    {.file = "m44.wav", .kind = kWav, .channels = 1, .source = "m44.wav"},
    // WMA as ffmpeg decodes it, at 22050 Hz in half-size Reads.
    {.file = "wmav2-44100-2.wma", .kind = kWma},
    {.file = "wmav1-44100-2.wma", .kind = kWma},
    {.file = "wmav2-44100-1.wma", .kind = kWma, .channels = 1},
    {.file = "wmav2-22050-2.wma", .kind = kWma, .rate = 22050, .block = 2304},
    {.file = "wmav1-22050-1.wma", .kind = kWma, .rate = 22050, .channels = 1, .block = 2304},
};
INSTANTIATE_TEST_SUITE_P(Formats, GoodFiles, ::testing::ValuesIn(kGoodFiles), [](const auto& info) {
  return CaseName(info.param.kind, info.param.file);
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
  for (const Kind& kind : {kMp3, kWav, kOgg, kFlac, kApe, kWma}) {
    auto decoder = kind.make();
    EXPECT_EQ(decoder->SetFile((wide + u"x").c_str()), platform::STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(decoder->SetFile(wide.c_str()), platform::S_OK);
  }
  CSndFileDecoder wav;
  EXPECT_TRUE(fixtures::OpenPath(wav, path));
}

}  // namespace
