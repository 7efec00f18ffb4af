// What only one format does: MP3's tags and dither, Ogg's report of damage, FLAC's
// frame reservoir, APE's extensions, WMA's choice of output, COM pairing and streams.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <utility>

#include <gtest/gtest.h>

#include "decoders/audio_stream.h"
#include "decoders/file_stream.h"
#include "decoders/flac_decoder.h"
#include "decoders/mac_decoder.h"
#include "decoders/mad_decoder.h"
#include "decoders/mpeg_audio_span.h"
#include "decoders/ogg_vorbis_decoder.h"
#include "decoders/wma_decoder.h"
#include "platform/com/com.h"
#include "platform/kernel/text.h"
#include "tests/decoders/fixtures.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/message_box_recorder.h"

namespace {

using namespace fixtures;
namespace ape = platform::ape;
namespace com = platform::com;
using decoding::MadDitherRecord;
using decoding::QuantizeMadSample;

// Tags are stepped over by their own sizes: the leading ID3v2 header (a footer
// only in 2.4), and whichever tag ends where the audio would otherwise end.
TEST(Mp3Tags, SizesComeFromTheTagsOwnHeaders) {
  using B = std::vector<std::uint8_t>;
  const struct {
    B head;
    std::uint32_t size;
  } leading[] = {{{'I', 'D', '3', 3, 0, 0x00, 0, 0, 2, 1}, 10 + 257},
                 {{'I', 'D', '3', 4, 0, 0x10, 0, 0, 2, 1}, 10 + 257 + 10},
                 {{'I', 'D', '3', 3, 0, 0x10, 0, 0, 2, 1}, 10 + 257},
                 {{'I', 'D', '3', 2, 0, 0x00, 0, 1, 0, 0}, 10 + 16384},
                 {{'I', 'D', '3', 5, 0, 0x00, 0, 0, 2, 1}, 0},
                 {{'I', 'D', '3', 3, 0, 0x00, 0, 0, 0x82, 1}, 0},
                 {{'T', 'A', 'G', 3, 0, 0x00, 0, 0, 2, 1}, 0}};
  for (const auto& row : leading) EXPECT_EQ(decoding::Id3v2TagSize(row.head.data()), row.size);

  auto ape = [](std::uint32_t size, std::uint32_t flags) {
    B footer = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07, 0, 0};
    for (std::uint32_t v : {size, 1u, flags}) {
      for (int i = 0; i < 4; ++i) footer.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    footer.resize(32, 0);
    return footer;
  };
  B v1(128, ' ');
  v1[0] = 'T', v1[1] = 'A', v1[2] = 'G';
  const struct {
    B tail;
    std::uint64_t room = 1000;  // bytes of the file up to the tail's end
    std::uint32_t size;
  } trailing[] = {
      {.tail = v1, .size = 128},
      {.tail = ape(500, 0x80000000u), .size = 532},  // with its header
      {.tail = ape(500, 0), .size = 500},
      {.tail = ape(500, 0xA0000000u), .size = 0},               // a header, not a footer
      {.tail = ape(500, 0x80000000u), .room = 531, .size = 0},  // more than the file holds
      {.tail = {'3', 'D', 'I', 4, 0, 0x10, 0, 0, 2, 1}, .size = 257 + 20},
      {.tail = B(128, 0xFF), .size = 0}};
  for (const auto& row : trailing)
    EXPECT_EQ(decoding::TrailingTagSize(row.tail.data(), row.tail.size(), row.room), row.size);
}

TEST(Mp3Quantizer, ClipsWithoutWrapping) {
  MadDitherRecord d;
  for (std::int32_t s : {0x10000000, 0x0FFFFFFF + 4096, 0x7FFFFFFF, 0x40000000, -0x10000000,
                         -0x10000000 - 4096, INT32_MIN, -0x40000000}) {
    for (int i = 0; i < 100; ++i) {
      const int q = QuantizeMadSample(s, d);  // the dither may take the lowest step
      ASSERT_TRUE(s > 0 ? q == 32767 : q == -32768 || q == -32767)
          << std::hex << s << " gave " << std::dec << q;
    }
  }
}

TEST(Mp3Quantizer, DitherRecordsAreSharedAcrossDecodersUntilReset) {
  auto decode = [] {
    CMadDecoder decoder;
    EXPECT_TRUE(OpenPath(decoder, Path("silence.mp3")));
    return DecodeAll(decoder);
  };
  CMadDecoder::ResetDitherRecordsForTesting();
  const auto first = decode();
  const auto second = decode();
  CMadDecoder::ResetDitherRecordsForTesting();
  EXPECT_EQ(decode(), first);
  EXPECT_NE(second, first) << "the second file carries on from the first file's records";
  ASSERT_FALSE(first.empty());
  const auto zeros = std::count(first.begin(), first.end(), 0);
  EXPECT_TRUE(std::all_of(first.begin(), first.end(), [](int v) { return v >= -2 && v <= 2; }));
  EXPECT_GT(zeros, static_cast<long>(first.size()) * 4 / 10);
  EXPECT_LT(zeros, static_cast<long>(first.size()) * 6 / 10);
}

// Each hole is one line of the program's own on stderr, and decoding goes on past
// it (how much the damage takes, against ffmpeg, is measured by the corpus).
TEST(OggDecoder, DamagedPagesAreReportedOnceEachAndDecodingGoesOn) {
  COggVorbisDecoder damaged;
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(OpenPath(damaged, Path("damaged.ogg")));
  ::testing::internal::GetCapturedStdout();
  std::vector<std::uint32_t> sizes;
  ::testing::internal::CaptureStderr();
  const auto pcm = DecodeAll(damaged, &sizes);
  const std::string log = ::testing::internal::GetCapturedStderr();
  const std::string line = "tonaria: Hole in OGG/VORBIS datastream, ignoring...\n";
  ASSERT_GE(log.size(), line.size());
  EXPECT_EQ(log.substr(0, line.size()), line);
  EXPECT_EQ(log.size() % line.size(), 0u) << log;
  EXPECT_LE(log.size() / line.size(), 3u);
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i) ASSERT_EQ(sizes[i], 4608u) << "Read " << i;
  EXPECT_GT(pcm.size(), Reference("stereo.ogg").size() / 2);
}

TEST(FlacDecoder, FramesOf4096AreHandedOutIn576FrameSteps) {
  CFLACDecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, Path("b4096.flac")));
  char block[16000];
  // One frame decoded, then seven Reads from it; the eighth joins 64 old frames to 512 new.
  const std::uint32_t held[] = {3520, 2944, 2368, 1792, 1216, 640, 64, 4096 + 64 - 576};
  for (std::uint32_t expected : held) {
    ASSERT_EQ(decoder.Read(block, sizeof(block)), 2304u);
    EXPECT_EQ(decoder.HeldFrames(), expected);
  }
  decoder.Close();
  ASSERT_TRUE(OpenPath(decoder, Path("s16.flac")));
  EXPECT_EQ(decoder.HeldFrames(), 0u) << "a new file starts with an empty reservoir";
}

// The reader is picked by the extension, whatever its case. (How it decodes is the
// decoder contract's part.)
TEST(ApeDecompress, TakesApeMacAndAplFilesWithoutRegardToCase) {
  const std::pair<const char*, bool> rows[] = {{"ape", true}, {"APE", true},  {"Mac", true},
                                               {"apl", true}, {"wav", false}, {"apex", false},
                                               {"ap", false}};
  for (const auto& [extension, accepted] : rows) {
    const std::string copy = testing_support::TempPath(std::string("copy.") + extension);
    std::filesystem::copy_file(Path("ape-44100-1-16.ape"), copy,
                               std::filesystem::copy_options::overwrite_existing);
    int error = -7;
    const auto decompressor = ape::CreateIAPEDecompress(platform::FromUtf8(copy).c_str(), &error);
    EXPECT_EQ(decompressor != nullptr, accepted) << extension;
    EXPECT_EQ(error, accepted ? 0 : ape::ERROR_UNSUPPORTED_FILE_TYPE) << extension;
  }
}

TEST(WmaDecoder, SeveralAudioOutputsReportTheChosenOnesFormat) {
  CWMADecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, Path("two-audio.wma")));
  // The later output with as many bits wins; its own rate and channels are reported.
  EXPECT_EQ(decoder.GetSampleRate(), 44100);
  EXPECT_EQ(decoder.GetChannels(), 2);
  // The file's duration is that of its longer, 22050 Hz stream.
  EXPECT_NEAR(decoder.Duration() / 1e7, kFrames / 22050.0, 0.2);
  EXPECT_TRUE(DecodeAll(decoder) == Reference("two-audio.wma")) << "ffmpeg decodes it otherwise";
}

TEST(WmaDecoder, ComIsPairedOnTheOpeningAndTheReadingThread) {
  auto decoder = std::make_unique<CWMADecoder>();
  ASSERT_TRUE(OpenPath(*decoder, Path("wmav2-22050-2.wma")));
  EXPECT_EQ(com::CoInitializeDepth(), 0);
  auto playback = std::async(std::launch::async, [&] {
    std::uint8_t block[4608];
    const std::uint32_t first = decoder->Read(block, sizeof(block));
    const int during = com::CoInitializeDepth();
    decoder.reset();
    return std::make_tuple(first, during, com::CoInitializeDepth());
  });
  const auto [first, during, after] = playback.get();
  EXPECT_GT(first, 0u);
  EXPECT_EQ(during, 1) << "initialised for reading";
  EXPECT_EQ(after, 0) << "and undone by the destruction on the same thread";
}

// At the end a read gives no bytes and all ones; nothing is written into the user's
// file; the last release of the COM stream leaves the file stream to its owner.
TEST(AudioStream, EndsWithAllOnesWritesNothingAndLeavesTheFileToItsOwner) {
  const std::string path = testing_support::TempPath("stream.bin");
  std::ofstream(path, std::ios::binary) << "0123456789";
  CFileStream file(platform::FromUtf8(path).c_str());
  CAudioStream* stream = CAudioStream::Create(&file);
  stream->AddRef();
  std::uint64_t position = 0;
  EXPECT_EQ(stream->Seek(-4, com::STREAM_SEEK_END, &position), platform::S_OK);
  EXPECT_EQ(position, 6u);
  char buffer[16];
  com::ULONG got = 99;
  EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &got), platform::S_OK);
  EXPECT_EQ(std::string(buffer, got), "6789");
  constexpr auto kAllOnes = static_cast<platform::HRESULT>(0xFFFFFFFFu);
  EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &got), kAllOnes);
  EXPECT_EQ(got, 0u);
  com::ULONG written = 5;
  EXPECT_EQ(stream->Write("x", 1, &written), kAllOnes);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(stream->Release(), 0u);
  ASSERT_TRUE(file.Handle().IsOpen());
  EXPECT_EQ(file.Seek(3, 0), 3u);
  EXPECT_EQ(file.Read(buffer, 1), 1u);
  EXPECT_EQ(buffer[0], '3');
}

TEST(FileStream, MissingFileShowsItsNameAndReadsNothing) {
  testing_support::MessageBoxRecorder boxes;
  const std::string path = testing_support::TempPath("absent.wma");
  CFileStream file(platform::FromUtf8(path).c_str());
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(testing_support::Narrow(boxes.Boxes()[0].text), "Can not open file '" + path + "'.");
  EXPECT_EQ(testing_support::Narrow(boxes.Boxes()[0].caption), "Error");
  EXPECT_EQ(boxes.Boxes()[0].flags, 0u);
  std::uint8_t byte = 0;
  EXPECT_EQ(file.Read(&byte, 1), 0u);
  EXPECT_EQ(file.Seek(0, 0), platform::kInvalidSetFilePointer);
}

}  // namespace
