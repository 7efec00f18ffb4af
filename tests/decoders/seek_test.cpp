// Seeking in every format: after SeekToFrame(n) the decoder delivers what a linear
// decode delivers from frame n on (lossless ones: the index-coded source's frames).
#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <memory>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "decoders/flac_decoder.h"
#include "decoders/mac_decoder.h"
#include "decoders/mad_decoder.h"
#include "decoders/ogg_vorbis_decoder.h"
#include "decoders/sndfile_decoder.h"
#include "decoders/wma_decoder.h"
#include "tests/decoders/fixtures.h"
#include "tests/output/index_coded.h"
#include "tests/support/audio_fixtures.h"
#include "tools/corpus_edits.h"

namespace {

namespace fs = std::filesystem;
using testing_support::RunTool;

constexpr std::int64_t kSourceFrames = 150000;  // 3.4 s: right channel runs 1 to 5
constexpr std::int64_t kCompared = 6000;        // frames compared after each seek

fs::path Files() {
  return fixtures::MadeOnce("seek", "7", [](const fs::path& dir) {
    const std::string src = (dir / "idx.wav").string();
    const std::string tone = (dir / "tone.wav").string();
    if (!testing_support::WriteSoundFile(src, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                         index_coded::Samples(0, kSourceFrames)) ||
        !testing_support::WriteSoundFile(
            tone, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
            testing_support::MakeTestSignal(44100, 2, static_cast<int>(kSourceFrames))))
      return false;
    const std::string d = dir.string();
    // A recorder cut off before it wrote the sizes: read through the mended view.
    corpus::ZeroWavSizes(src, dir / "cut.wav");
    const bool made =
        RunTool("sox " + src + " -e ima-adpcm " + d + "/ima.wav") &&
        RunTool("flac -s -f -o " + d + "/idx.flac " + src) &&
        RunTool("oggenc -Q -q 4 -o " + d + "/idx.ogg " + src) &&
        // Chained files (joined below): two links alike, and one of another format.
        RunTool("oggenc -Q -q 4 -s 777 -o " + d + "/idx2.ogg " + src) &&
        RunTool("sox " + src + " -r 22050 -c 1 " + d + "/mono.wav") &&
        RunTool("oggenc -Q -q 4 -o " + d + "/mono.ogg " + d + "/mono.wav") &&
        RunTool("lame --quiet -V 2 " + tone + " " + d + "/tone.mp3") &&
        RunTool("ffmpeg -v error -y -i " + src + " -c:a wmav2 -b:a 128k " + d + "/idx.wma") &&
        RunTool("cd " + d + " && jmac c2 idx.wav idx.ape");
    corpus::Join({dir / "idx.ogg", dir / "idx2.ogg"}, dir / "chain.ogg");
    corpus::Join({dir / "idx.ogg", dir / "mono.ogg"}, dir / "mixed.ogg");
    return made;
  });
}

// How a format's output after a seek is judged.
enum class Judge {
  kIndex,      // bit for bit the source's frames
  kLinear,     // bit for bit the decoder's own linear decode
  kLinearSnr,  // the linear decode within a few steps (MP3: libmad's dither differs)
};

struct Row {
  const char* file;
  std::function<std::unique_ptr<CDecoder>()> make;
  Judge judge;
  std::int64_t lengthSlack = 0;  // how far the stated length may be from the frames decoded
  // Whether the file plays from a pipe: WMA does not (its reader opens the file a
  // second time), and a WAV without its data size is mended only where it can be measured.
  bool pipe = true;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.file; }

template <typename T>
std::function<std::unique_ptr<CDecoder>()> Make() {
  return [] { return std::make_unique<T>(); };
}

const Row kRows[] = {
    {.file = "idx.wav", .make = Make<CSndFileDecoder>(), .judge = Judge::kIndex},
    {.file = "cut.wav", .make = Make<CSndFileDecoder>(), .judge = Judge::kIndex, .pipe = false},
    // Compressed blocks padded past the fact chunk's frame count.
    {.file = "ima.wav", .make = Make<CSndFileDecoder>(), .judge = Judge::kLinear},
    {.file = "idx.flac", .make = Make<CFLACDecoder>(), .judge = Judge::kIndex},
    {.file = "idx.ape", .make = Make<CMACDecoder>(), .judge = Judge::kIndex},
    {.file = "idx.ogg", .make = Make<COggVorbisDecoder>(), .judge = Judge::kLinear},
    {.file = "chain.ogg", .make = Make<COggVorbisDecoder>(), .judge = Judge::kLinear},
    // WMA states its length in time, not in frames: a codec frame either way.
    {.file = "idx.wma",
     .make = Make<CWMADecoder>(),
     .judge = Judge::kLinear,
     .lengthSlack = 2048,
     .pipe = false},
    {.file = "tone.mp3", .make = Make<CMadDecoder>(), .judge = Judge::kLinearSnr},
};

// The first `frames` frames the decoder delivers from where it is (stereo).
std::vector<std::int16_t> ReadFrames(CDecoder& decoder, std::int64_t frames) {
  return fixtures::DecodeAll(decoder, nullptr, static_cast<std::size_t>(frames) * 2);
}

class Seek : public ::testing::TestWithParam<Row> {};
class SeekFromPipe : public ::testing::TestWithParam<Row> {};

std::vector<Row> PipeRows() {
  std::vector<Row> rows;
  std::copy_if(std::begin(kRows), std::end(kRows), std::back_inserter(rows),
               [](const Row& row) { return row.pipe; });
  return rows;
}

TEST_P(Seek, LandsOnTheFrameAskedFor) {
  const Row& row = GetParam();
  const auto open = [&] {
    auto decoder = row.make();
    EXPECT_TRUE(fixtures::OpenPath(*decoder, (Files() / row.file).string()));
    return decoder;
  };
  const std::vector<std::int16_t> linear = fixtures::DecodeAll(*open());
  const auto length = static_cast<std::int64_t>(linear.size() / 2);
  auto decoder = open();
  ASSERT_TRUE(decoder->CanSeek());
  EXPECT_NEAR(static_cast<std::int64_t>(decoder->GetLengthInFrames()), length, row.lengthSlack);
  if (row.judge == Judge::kIndex) {
    EXPECT_EQ(length, kSourceFrames);
  }

  // Forward and back, within the first codec frame, the first and the last frame.
  const std::int64_t targets[] = {length / 2, 100, 0, 77777, 5000, 1153, 100001, 44100, length - 1};
  for (const std::int64_t target : targets) {
    SCOPED_TRACE(target);
    ASSERT_EQ(decoder->SeekToFrame(static_cast<std::uint64_t>(target)), CDecoder::kSeekLanded);
    const std::int64_t count = std::min(kCompared, length - target);
    const std::vector<std::int16_t> got = ReadFrames(*decoder, kCompared);
    ASSERT_EQ(static_cast<std::int64_t>(got.size()), count * 2);
    const std::vector<std::int16_t> fromLinear(linear.begin() + target * 2,
                                               linear.begin() + (target + count) * 2);
    if (row.judge != Judge::kLinearSnr) {
      ASSERT_EQ(got, row.judge == Judge::kIndex ? index_coded::Samples(target, count) : fromLinear);
      continue;
    }
    // Only libmad's dither differs, by a few steps; a frame off would differ by
    // hundreds on this tone.
    int worst = 0;
    for (std::size_t i = 0; i < got.size(); ++i)
      worst = std::max(worst, std::abs(got[i] - fromLinear[i]));
    EXPECT_LE(worst, 8);
  }
  EXPECT_TRUE(ReadFrames(*decoder, 1).empty()) << "the last frame is the last";
}

// Past the end ends the stream; a seek back starts it again.
TEST_P(Seek, PastTheEndEndsTheStreamUntilASeekBack) {
  auto decoder = GetParam().make();
  ASSERT_TRUE(fixtures::OpenPath(*decoder, (Files() / GetParam().file).string()));
  const std::uint64_t stated = decoder->GetLengthInFrames();
  for (const std::uint64_t past : {stated + GetParam().lengthSlack, stated + 1000000}) {
    EXPECT_EQ(decoder->SeekToFrame(past), CDecoder::kSeekPastEnd) << past;
    EXPECT_TRUE(ReadFrames(*decoder, 1).empty()) << past;
  }
  ASSERT_EQ(decoder->SeekToFrame(0), CDecoder::kSeekLanded);
  EXPECT_FALSE(ReadFrames(*decoder, 1).empty());
}

// Links of another format are converted to the first one's, and would not count
// as vorbisfile counts frames: such a chain does not seek.
TEST(SeekOgg, ChainOfTwoFormatsRefuses) {
  COggVorbisDecoder decoder;
  ASSERT_TRUE(fixtures::OpenPath(decoder, (Files() / "mixed.ogg").string()));
  EXPECT_FALSE(decoder.CanSeek());
  EXPECT_EQ(decoder.GetLengthInFrames(), 0u);
  EXPECT_EQ(decoder.SeekToFrame(1000), CDecoder::kSeekRefused);
  EXPECT_FALSE(ReadFrames(decoder, 1).empty());
}

// A file spliced from pieces of others, with a page of the first link inside the
// second's range: vorbisfile's seek would corrupt libogg's state (a write out of
// bounds), so the first seek looks at every page, refuses and plays on.
TEST(SeekOgg, APageOutsideItsLinkRefuses) {
  const corpus::Bytes first = corpus::ReadFile(Files() / "idx.ogg");
  corpus::Bytes spliced = corpus::ReadFile(Files() / "chain.ogg");
  auto pageStarts = [](const corpus::Bytes& bytes, std::size_t from) {
    std::vector<std::size_t> starts;
    for (std::size_t at = from; at + 27 <= bytes.size();) {
      starts.push_back(at);
      const std::size_t segments = bytes[at + 26];
      std::size_t body = 0;
      for (std::size_t i = 0; i < segments; ++i) body += bytes[at + 27 + i];
      at += 27 + segments + body;
    }
    return starts;
  };
  const std::vector<std::size_t> ours = pageStarts(first, 0);
  const std::vector<std::size_t> theirs = pageStarts(spliced, first.size());
  ASSERT_GE(ours.size(), 4u);
  ASSERT_GE(theirs.size(), 4u);
  const std::size_t page = ours[ours.size() / 2];
  spliced.insert(spliced.begin() + static_cast<std::ptrdiff_t>(theirs[theirs.size() / 2]),
                 first.begin() + static_cast<std::ptrdiff_t>(page),
                 first.begin() + static_cast<std::ptrdiff_t>(ours[ours.size() / 2 + 1]));
  const std::string path = testing_support::TempPath("spliced.ogg");
  corpus::WriteFile(path, spliced);

  COggVorbisDecoder decoder;
  ASSERT_TRUE(fixtures::OpenPath(decoder, path));
  EXPECT_EQ(decoder.SeekToFrame(kSourceFrames + 1000), CDecoder::kSeekRefused);
  EXPECT_FALSE(decoder.CanSeek());
  EXPECT_FALSE(ReadFrames(decoder, 1).empty());
}

// A pipe has no size: it cannot seek, says so, and plays on from where it was.
TEST_P(SeekFromPipe, RefusesAndPlaysOn) {
  const Row& row = GetParam();
  testing_support::ThroughPipe(Files() / row.file, [&](const std::string& pipe) {
    auto decoder = row.make();
    EXPECT_TRUE(fixtures::OpenPath(*decoder, pipe));
    EXPECT_FALSE(decoder->CanSeek());
    EXPECT_EQ(decoder->GetLengthInFrames(), 0u);
    EXPECT_EQ(decoder->SeekToFrame(1000), CDecoder::kSeekRefused);
    const std::vector<std::int16_t> got = ReadFrames(*decoder, 1000);
    EXPECT_EQ(got.size(), 2000u);
    if (row.judge == Judge::kIndex) {
      EXPECT_EQ(got, index_coded::Samples(0, 1000));
    }
  });
}

// WMA's reader opens the file a second time; from a pipe that open would wait
// for a second writer for ever, so the decoder refuses the pipe at once.
TEST(SeekWma, PipeIsRefusedNotWaitedOn) {
  testing_support::ThroughPipe(Files() / "idx.wma", [](const std::string& pipe) {
    CWMADecoder decoder;
    EXPECT_FALSE(fixtures::OpenPath(decoder, pipe));
    EXPECT_FALSE(decoder.CanSeek());
    EXPECT_EQ(decoder.SeekToFrame(1000), CDecoder::kSeekRefused);
  });
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
  std::string name = info.param.file;
  name[name.find('.')] = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Formats, Seek, ::testing::ValuesIn(kRows), RowName);
INSTANTIATE_TEST_SUITE_P(Formats, SeekFromPipe, ::testing::ValuesIn(PipeRows()), RowName);

}  // namespace
