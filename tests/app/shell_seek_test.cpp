// The arrow keys move by 5 s (Left, Right) and 60 s (Down, Up) from the frame heard,
// which the test knows exactly: the output takes only what it grants.
#include <sndfile.h>

#include "app/shell_globals.h"
#include "tests/app/shell_fixture.h"
#include "tests/output/index_coded.h"
#include "tests/support/audio_fixtures.h"

namespace app_testing {
namespace {

using testing_support::TempPath;

constexpr int kRate = 8000;
constexpr std::int64_t kFrames = std::int64_t{kRate} * 130;

// The source frame an index-coded frame of 16-bit stereo carries.
std::int64_t FrameAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  const auto left = static_cast<std::int16_t>(bytes[at] | (bytes[at + 1] << 8));
  const auto right = static_cast<std::int16_t>(bytes[at + 2] | (bytes[at + 3] << 8));
  return std::int64_t{right - 1} * index_coded::kPeriod + (left - 1);
}

struct KeyRow {
  int qtKey;
  std::int64_t seconds;
};

using ShellSeek = ShellTest;

TEST_F(ShellSeek, ArrowKeysMoveFromTheFrameHeardByTheirAmounts) {
  const std::string path = TempPath("keys.wav");
  ASSERT_TRUE(testing_support::WriteSoundFile(path, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                              index_coded::Samples(0, kFrames)));
  devices.next->full = false;
  devices.next->gated = true;
  Start(Wide(path));
  ASSERT_FALSE(devices.created.empty());
  auto& out = *devices.created.back();
  // About a second is heard first, in whole blocks of the WAV decoder's.
  constexpr std::uint64_t kFirst = 4608 * 7;
  out.Grant(kFirst);
  ASSERT_TRUE(PumpUntil([&] {
    std::scoped_lock hold(out.mutex);
    return out.written.size() >= kFirst;
  }));

  const KeyRow rows[] = {{.qtKey = Qt::Key_Up, .seconds = 60},
                         {.qtKey = Qt::Key_Right, .seconds = 5},
                         {.qtKey = Qt::Key_Left, .seconds = -5},
                         {.qtKey = Qt::Key_Down, .seconds = -60},
                         {.qtKey = Qt::Key_Down, .seconds = -60}};
  std::size_t seeks = 0;
  for (const KeyRow& row : rows) {
    PressKey(row.qtKey);
    ++seeks;
    // The engine finishes the block it is writing, then seeks.
    out.Grant(64000);
    ASSERT_TRUE(PumpUntil([&] {
      std::scoped_lock hold(out.mutex);
      return out.flushedAt.size() == seeks && out.written.size() >= out.flushedAt.back() + 4;
    })) << "seek "
        << seeks;
    std::scoped_lock hold(out.mutex);
    // Nothing was left unplayed: the frame heard at the seek is the last one written.
    const std::size_t flushed = out.flushedAt.back();
    const std::int64_t heard = FrameAt(out.written, flushed - 4) + 1;
    const std::int64_t expected = std::max<std::int64_t>(0, heard + row.seconds * kRate);
    EXPECT_EQ(FrameAt(out.written, flushed), expected) << "seek " << seeks;
  }
}

}  // namespace
}  // namespace app_testing
