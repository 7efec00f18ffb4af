#include <algorithm>
#include <array>
#include <random>

#include <gtest/gtest.h>

#include "output/wave_format.h"
#include "tests/output/index_coded.h"
#include "tests/output/output_fixture.h"

namespace sound = platform::sound;
using index_coded::Bytes;
using output_testing::ManualOutputTest;

namespace {

// Rate, bytes per frame, channels; then the buffer's and the queue's bytes.
using SizeRow = std::array<std::uint32_t, 5>;

class BufferSizes : public ManualOutputTest, public ::testing::WithParamInterface<SizeRow> {};

TEST_P(BufferSizes, FollowTheRateAndFrameSize) {
  const auto [rate, bytesPerFrame, channels, bufferBytes, queueTarget] = GetParam();
  auto output = Make(static_cast<float>(rate), bytesPerFrame, channels);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(output->bufferBytes, bufferBytes);
  EXPECT_EQ(output->queueTarget, queueTarget);
  const sound::ManualBufferState& device = Device();
  EXPECT_EQ(device.description.dwFlags, 0x18000u);
  EXPECT_EQ(device.description.dwBufferBytes, bufferBytes);
  EXPECT_EQ(device.format.wFormatTag, sound::WAVE_FORMAT_PCM);
  EXPECT_EQ(device.format.wBitsPerSample, 16);
  EXPECT_EQ(device.format.nBlockAlign, bytesPerFrame);
  EXPECT_EQ(device.format.nAvgBytesPerSec, bufferBytes / 2);
  // The queue outlasts four of the engine's 125 ms offers.
  EXPECT_GE(std::uint64_t{queueTarget} * 1000, std::uint64_t{bufferBytes / 2} * 500);
  // A fresh output is all silence, has nothing queued and has played nothing.
  EXPECT_TRUE(AllSilent(device.memory));
  EXPECT_EQ(output->writePos, -1);
  EXPECT_EQ(output->silenceAhead, bufferBytes);
  EXPECT_EQ(output->GetPlayedBytes(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BufferSizes,
    ::testing::Values(SizeRow{44100, 4, 2, 352800, 88200}, SizeRow{48000, 4, 2, 384000, 96000},
                      SizeRow{44100, 2, 1, 176400, 88200}, SizeRow{8000, 2, 1, 32000, 16000},
                      SizeRow{96000, 4, 2, 768000, 192000}, SizeRow{176400, 4, 2, 1411200, 352800},
                      SizeRow{192000, 4, 2, 1536000, 384000}, SizeRow{192000, 2, 1, 768000, 192000},
                      SizeRow{384000, 4, 2, 3072000, 768000}));

TEST(WaveFormat, ManyChannelsUseTheExtensibleForm) {
  struct Row {
    std::uint32_t channels, bits, containerBits, blockAlign;
  };
  for (const Row row : {Row{3, 8, 8, 3}, Row{4, 8, 8, 4}, Row{6, 0, 0, 0}, Row{2, 24, 24, 6}}) {
    const sound::WaveFormat format = BuildWaveFormat(row.channels, 48000, row.bits);
    EXPECT_EQ(format.wFormatTag, sound::WAVE_FORMAT_EXTENSIBLE) << row.channels << " channels";
    EXPECT_EQ(format.cbSize, 22);
    EXPECT_EQ(format.dwChannelMask, 0xFFFFFFFFu);
    EXPECT_EQ(format.wBitsPerSample, row.containerBits);
    EXPECT_EQ(format.wValidBitsPerSample, row.bits);
    EXPECT_EQ(format.nBlockAlign, row.blockAlign);
    EXPECT_EQ(format.nAvgBytesPerSec, row.blockAlign * 48000);
    EXPECT_EQ(format.SubFormat, sound::KSDATAFORMAT_SUBTYPE_PCM);
  }
  EXPECT_EQ(BuildWaveFormat(2, 44100, 12).wBitsPerSample, 16);  // rounded up to whole bytes
}

using StreamingOutput = ManualOutputTest;

// The first write after Start crosses the buffer's end: one Lock, two regions.
TEST_F(StreamingOutput, FirstWriteAfterStartGoesToTheWriteCursorWrapsAndStartsPlaying) {
  auto output = Make();
  const std::uint32_t near = output->bufferBytes - 1000;
  Device().SetCursors(near - 3000, near);
  ASSERT_EQ(output->Start(), 1);
  EXPECT_EQ(Device().playCalls, 0) << "nothing to play yet";
  const auto block = Bytes(0, 1152);
  EXPECT_EQ(output->Write(block.data(), 4608), 4608u);
  EXPECT_EQ(Device().playCalls, 1);
  EXPECT_EQ(Device().Read(near, 4608), block);
  EXPECT_EQ(output->writePos, 3608);
  EXPECT_NE(std::find(Device().locks.begin(), Device().locks.end(), std::make_pair(near, 4608u)),
            Device().locks.end());
  // Further writes continue behind it without a new Play.
  EXPECT_EQ(output->Write(block.data(), 4608), 4608u);
  EXPECT_EQ(Device().playCalls, 1);
  EXPECT_EQ(Device().Read(3608, 4608), block);
}

// Whether what fits is then played once and in order is the engine-feed tests' part.
TEST_F(StreamingOutput, WriteBeforeStartTakesWhatFitsAndStartPlaysItOnce) {
  auto output = Make();
  const auto data = Bytes(0, 25000);
  EXPECT_EQ(output->Write(data.data(), 100000), 88200u) << "what fits below the queue target";
  EXPECT_EQ(output->Write(data.data(), 4000), 0u) << "queue full";
  EXPECT_EQ(Device().playCalls, 0);
  EXPECT_EQ(output->GetPlayedBytes(), 0) << "all queued on a stopped buffer: nothing played";
  ASSERT_EQ(output->Start(), 1);
  EXPECT_EQ(Device().playCalls, 1);
  EXPECT_TRUE(Device().playing);
  EXPECT_EQ(output->Start(), 1);
  EXPECT_EQ(Device().playCalls, 1) << "Start while playing changes nothing";
}

// Also where one device read past the write cursor lies beyond the buffer's end.
TEST_F(StreamingOutput, UnderrunIsNoticedAndWritingRestartsOneDeviceReadPastTheWriteCursor) {
  for (const std::uint32_t startsAt : {0u, 352800u - 24600u}) {
    SCOPED_TRACE(startsAt);
    auto output = Make();
    Device().lead = 400;
    Device().SetCursors(startsAt, startsAt);
    ASSERT_EQ(output->Start(), 1);
    const auto block = Bytes(0, 4000);
    ASSERT_EQ(output->Write(block.data(), 16000), 16000u);
    const int playsBefore = Device().playCalls;
    Device().Advance(16000 + 8000);  // played past the data into the silence behind it
    EXPECT_EQ(output->GetPlayedBytes(), 16000) << "all written data counts as played";
    EXPECT_EQ(output->underrun, 0u) << "the DSP thread's query does not record it";
    EXPECT_EQ(output->GetWritableBytes(nullptr, nullptr, nullptr, true), output->queueTarget);
    EXPECT_EQ(output->underrun, 1u);
    const auto next = Bytes(4000, 1000);
    EXPECT_EQ(output->Write(next.data(), 4000), 4000u);
    const std::uint32_t restart = (Device().write + 400) % output->bufferBytes;
    EXPECT_NE(
        std::find(Device().locks.begin(), Device().locks.end(), std::make_pair(restart, 4000u)),
        Device().locks.end())
        << "written one device read (the cursors' distance) past the write cursor";
    EXPECT_EQ(Device().playCalls, playsBefore + 1);
    EXPECT_EQ(output->underrun, 0u);
    Device().Advance(30000);
    EXPECT_EQ(index_coded::PlayedOnceInOrder(index_coded::Read(Device().heard), 5000, 1), "")
        << "a gap of silence, nothing replayed";
  }
}

TEST_F(StreamingOutput, StartAfterStopPlaysAtOnceAndSilencesTheFreePart) {
  auto output = Make();
  ASSERT_EQ(output->Start(), 1);
  const auto data = Bytes(0, 22050);
  ASSERT_EQ(output->Write(data.data(), 88200), 88200u);
  Device().Advance(60000);
  output->Stop();
  EXPECT_FALSE(Device().playing);
  EXPECT_EQ(output->started, 0u);
  EXPECT_TRUE(AllSilent(Device().Read(0, 60000))) << "the device leaves what it played silent";
  const int playsBefore = Device().playCalls;
  ASSERT_EQ(output->Start(), 1);
  EXPECT_EQ(Device().playCalls, playsBefore + 1);
  EXPECT_TRUE(AllSilent(Device().Read(88200, output->bufferBytes - 88200 + 60000)));
  EXPECT_EQ(Device().Read(60000, 28200),
            std::vector<std::uint8_t>(data.begin() + 60000, data.end()));
  EXPECT_EQ(output->silenceAhead, output->bufferBytes - 88200 + 60000);
}

// Write meets the loss in Lock, or with the queue full without one. A restore that
// works starts the count again and the block goes to the write cursor; only ten
// seconds of failed restores (a restarting sound server takes a few) end it.
class LostBuffer : public ManualOutputTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(LostBuffer, IsRestoredAndTakesTheBlockOrEndsAfterTenSecondsOfFailedRestores) {
  const std::uint32_t queued = GetParam();
  const int attempts = StreamingAudioOutput::kRestoreAttempts;
  auto output = Make();
  ASSERT_EQ(output->Start(), 1);
  const auto data = Bytes(0, queued / 4);
  ASSERT_EQ(output->Write(data.data(), queued), queued);
  Device().lost = true;
  Device().playing = false;
  Device().restoreFailures = attempts - 1;
  const auto next = Bytes(50000, 1000);
  for (int i = 0; i < attempts - 1; ++i) EXPECT_EQ(output->Write(next.data(), 4000), 0u);
  const int plays = Device().playCalls;
  EXPECT_EQ(output->Write(next.data(), 4000), 4000u);
  EXPECT_EQ(Device().restoreCalls, attempts);
  EXPECT_EQ(Device().playCalls, plays + 1) << "playback is asked for again";
  EXPECT_EQ(Device().Read(Device().write, 4000), next)
      << "written at the write cursor, not dropped";
  ASSERT_EQ(output->Write(data.data(), queued - 4000), queued - 4000) << "queued as before";
  Device().lost = true;
  Device().restoreFailures = 1000;
  for (int i = 0; i < attempts; ++i) {
    EXPECT_FALSE(output->DeviceFailed()) << "attempt " << i << " of a run after a restore";
    EXPECT_EQ(output->Write(next.data(), 4000), 0u);
  }
  EXPECT_FALSE(output->DeviceFailed()) << "many quick failures, but not yet for long";
  nowMs += StreamingAudioOutput::kRestoreWindowMs - 1;
  EXPECT_EQ(output->Write(next.data(), 4000), 0u);
  EXPECT_FALSE(output->DeviceFailed());
  nowMs += 1;
  EXPECT_EQ(output->Write(next.data(), 4000), 0u);
  EXPECT_TRUE(output->DeviceFailed());
}

INSTANTIATE_TEST_SUITE_P(Queue, LostBuffer, ::testing::Values(8000u, 88200u));

TEST_F(StreamingOutput, FailingCursorQueryOrLockTakesNothingAndFailingPlayOrStatusFailsStart) {
  auto output = Make();
  const auto block = Bytes(0, 1000);
  Device().positionResult = sound::DSERR_GENERIC;
  EXPECT_EQ(output->Write(block.data(), 4000), 0u);
  EXPECT_EQ(output->GetPlayedBytes(), 0);
  Device().positionResult = sound::DS_OK;
  Device().lockResult = sound::DSERR_GENERIC;
  EXPECT_EQ(output->Write(block.data(), 4000), 0u);
  EXPECT_EQ(output->totalBytesWritten, 0);
  Device().lockResult = sound::DS_OK;
  ASSERT_EQ(output->Write(block.data(), 4000), 4000u);
  Device().playResult = sound::DSERR_GENERIC;
  EXPECT_EQ(output->Start(), 0);
  Device().playResult = sound::DS_OK;
  Device().statusResult = sound::DSERR_GENERIC;
  EXPECT_EQ(output->Start(), 0);
  EXPECT_FALSE(output->DeviceFailed());
}

TEST_F(StreamingOutput, CreationFailuresYieldNoOutputAndDropTheDevice) {
  system.createResult = sound::DSERR_NODRIVER;
  EXPECT_EQ(Make(), nullptr);
  system.createResult = sound::DS_OK;
  system.cooperativeResult = sound::DSERR_GENERIC;
  EXPECT_EQ(Make(), nullptr);
  EXPECT_EQ(system.devicesAlive, 0);
  system.cooperativeResult = sound::DS_OK;
  system.bufferResult = sound::DSERR_BADFORMAT;
  EXPECT_EQ(Make(), nullptr);
  EXPECT_EQ(system.devicesAlive, 0);
  EXPECT_EQ(table.RowInfo(0).references, 0u);
  system.bufferResult = sound::DS_OK;
  starter.Shutdown();
  EXPECT_EQ(Make(), nullptr) << "no starter worker, no output";
}

TEST_F(StreamingOutput, PlayedBytesNeverExceedWhatWasWrittenAndFollowTheDevice) {
  auto output = Make();
  Device().lead = 1764;
  ASSERT_EQ(output->Start(), 1);
  std::mt19937 random(42);
  const auto data = Bytes(0, 100000);
  std::uint32_t offset = 0;
  std::int64_t previous = 0;
  for (int step = 0; step < 400 && offset < data.size(); ++step) {
    const std::uint32_t offer =
        std::min<std::uint32_t>(4608, static_cast<std::uint32_t>(data.size()) - offset);
    offset += output->Write(data.data() + offset, offer);
    Device().Advance(4 * (random() % 1500));
    const std::int64_t played = output->GetPlayedBytes();
    ASSERT_LE(played, output->totalBytesWritten.load()) << "step " << step;
    ASSERT_GE(played, previous) << "step " << step;
    previous = played;
  }
}

}  // namespace
