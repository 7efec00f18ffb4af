#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "tests/visual/visual_doubles.h"
#include "visual/digital_signal_processing_audio_data_consumer.h"

namespace {

using testing_support::PositionedOutput;
using testing_support::RecordingProcessor;
using testing_support::SteppedClock;

// Stream bytes from..from+bytes whose 16-bit sample at byte k is k / 2 (mod 32768).
std::vector<std::uint8_t> Stream(std::uint32_t from, std::uint32_t bytes) {
  std::vector<std::uint8_t> s(bytes);
  for (std::uint32_t i = 0; i < bytes; i += 2) {
    const auto v = static_cast<std::uint16_t>(((from + i) / 2) & 0x7FFF);
    s[i] = static_cast<std::uint8_t>(v & 0xFF);
    s[i + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  return s;
}

float SampleAt(std::uint32_t k) { return static_cast<float>((k / 2) & 0x7FFF) / 32767.0f; }

// Writes into the arrays the way the spectrum analyser does (it mixes into left).
class MixingProcessor final : public DigitalSignalProcessor {
 public:
  void Process(float* left, float* right, float) override {
    for (int i = 0; i < 512; ++i) left[i] = (left[i] + right[i]) * 0.5f;
  }
};

// A consumer on a stepped clock: each tick runs only when the test allows it.
class ConsumerTest : public testing::Test {
 protected:
  // The first tick may come at once, so the position it reads is set before the start.
  // `next`, if given, is called after the recording processor.
  void Start(std::uint32_t queueTarget, std::uint32_t bytesPerFrame, std::int64_t played = 0,
             DigitalSignalProcessor* next = nullptr) {
    output = std::make_unique<PositionedOutput>(queueTarget, bytesPerFrame);
    output->played = played;
    consumer.AddProcessor(&processor);
    if (next != nullptr) consumer.AddProcessor(next);
    consumer.StartProcessing(output.get());
  }
  // Lets the thread finish the tick it is in and run the next one.
  void NextTick() {
    const std::size_t seen = processor.Calls().size();
    clock.AllowTicks(1);
    ASSERT_TRUE(processor.WaitForCalls(seen + 1));
  }
  void TearDown() override {
    clock.Release();
    consumer.StopProcessing();
  }

  SteppedClock clock;
  RecordingProcessor processor;
  MixingProcessor mixer;
  std::unique_ptr<PositionedOutput> output;
  DigitalSignalProcessingAudioDataConsumer consumer{70, clock};
};

TEST_F(ConsumerTest, TheFirstTickConvertsNothingAndTheArraysStartCleared) {
  Start(16384, 4, 4096);
  const auto s = Stream(0, 16384);
  consumer.Consume(s.data(), static_cast<std::uint32_t>(s.size()));
  ASSERT_TRUE(processor.WaitForCalls(1));
  const auto first = processor.Calls()[0];
  for (float v : first.left) ASSERT_EQ(v, 0.0f);
  for (float v : first.right) ASSERT_EQ(v, 0.0f);
  NextTick();
  const auto second = processor.Calls()[1];
  EXPECT_EQ(second.left[0], SampleAt(4096))
      << "the window starts where playback was at the previous tick";
  EXPECT_EQ(second.right[0], SampleAt(4098));
  EXPECT_EQ(second.left[100], SampleAt(4096 + 400));
}

TEST_F(ConsumerTest, AMonoWindowStartsAtThePlayedFrameAndFeedsBothChannels) {
  Start(16384, 2, 2000);  // 1000 mono frames
  const auto s = Stream(0, 16384);
  consumer.Consume(s.data(), static_cast<std::uint32_t>(s.size()));
  ASSERT_TRUE(processor.WaitForCalls(1));
  NextTick();
  const auto call = processor.Calls()[1];
  EXPECT_EQ(call.left[0], SampleAt(2000));
  EXPECT_EQ(call.left[1], SampleAt(2002));
  EXPECT_EQ(call.right, call.left);
}

// Tick after tick the window moves on by 750 frames, and several windows in a row run
// past the ring's end or start after it: every one must hold the stream's samples
// from where playback was, never what a processor left in the arrays.
TEST_F(ConsumerTest, EveryTickAcrossTheRingsEndGetsFreshSamples) {
  Start(8192, 4, 0, &mixer);  // a 16384-byte ring; the mixer spoils what the recorder saw
  ASSERT_TRUE(processor.WaitForCalls(1));
  std::uint32_t consumed = 0;
  for (std::uint32_t tick = 1; tick <= 12; ++tick) {
    const std::uint32_t windowStart = (tick - 1) * 3000;  // where playback was at the last tick
    const std::uint32_t upTo = windowStart + 12000;       // queued ahead, as the engine keeps it
    const auto s = Stream(consumed, upTo - consumed);
    consumer.Consume(s.data(), upTo - consumed);
    consumed = upTo;
    output->played = tick * 3000;
    NextTick();
    if (tick == 1) continue;  // nothing played before it
    const auto call = processor.Calls()[tick];
    for (std::uint32_t i = 0; i < 2048; i += 341) {
      ASSERT_EQ(call.left[i], SampleAt(windowStart + 4 * i)) << "tick " << tick << ", frame " << i;
      ASSERT_EQ(call.right[i], SampleAt(windowStart + 4 * i + 2))
          << "tick " << tick << ", frame " << i;
    }
  }
}

TEST_F(ConsumerTest, PlayedBytesBelowZeroConvertNothing) {
  Start(16384, 4, -500);
  ASSERT_TRUE(processor.WaitForCalls(1));
  NextTick();
  const auto calls = processor.Calls();
  for (float v : calls[1].left) ASSERT_EQ(v, 0.0f);
}

TEST_F(ConsumerTest, TicksSleepOutTheRestOfTheNominalPeriod) {
  processor.onProcess = [&] { clock.Advance(300'000); };
  Start(16384, 4);
  ASSERT_TRUE(processor.WaitForCalls(1));
  NextTick();
  ASSERT_TRUE(clock.WaitForSleeps(2));
  EXPECT_EQ(clock.Sleeps()[0], 14u);
  EXPECT_EQ(clock.Sleeps()[1], 14u);
  EXPECT_FLOAT_EQ(processor.Calls()[1].timeScale, 1.0f);
}

TEST_F(ConsumerTest, WorkLongerThanAPeriodStretchesItAndRaisesTimeScale) {
  processor.onProcess = [&] { clock.Advance(20'000'000); };
  Start(16384, 4);
  ASSERT_TRUE(processor.WaitForCalls(1));
  NextTick();
  NextTick();
  ASSERT_TRUE(clock.WaitForSleeps(3));
  EXPECT_EQ(clock.Sleeps()[0], 10u) << "overrun: a 10 ms sleep";
  EXPECT_EQ(clock.Sleeps()[1], 10u);
  EXPECT_NEAR(processor.Calls()[1].timeScale, 1.4f, 1e-6);
  EXPECT_NEAR(processor.Calls()[2].timeScale, 1.4f, 1e-6);
}

TEST(ConsumerIdle, WithoutProcessorsTheThreadWakesOnceASecond) {
  SteppedClock clock;
  PositionedOutput output(16384, 4);
  DigitalSignalProcessingAudioDataConsumer consumer(70, clock);
  consumer.StartProcessing(&output);
  ASSERT_TRUE(clock.WaitForSleeps(1));
  EXPECT_EQ(clock.Sleeps()[0], 1000u);
  clock.Release();
  consumer.StopProcessing();
}

TEST_F(ConsumerTest, PauseHoldsTheThreadUntilResume) {
  Start(16384, 4);
  ASSERT_TRUE(processor.WaitForCalls(1));
  consumer.PauseThread();
  EXPECT_EQ(consumer.Control()->paused.load(), 1);
  clock.Release();
  EXPECT_EQ(processor.Calls().size(), 1u);
  consumer.ResumeThread();
  EXPECT_EQ(consumer.Control()->paused.load(), 0);
  EXPECT_TRUE(processor.WaitForCalls(2));
}

TEST_F(ConsumerTest, StopWhilePausedWakesAndEndsTheThread) {
  Start(16384, 4);
  ASSERT_TRUE(processor.WaitForCalls(1));
  consumer.PauseThread();
  clock.Release();
  consumer.StopProcessing();
  EXPECT_FALSE(consumer.HasThread());
  consumer.ResumeThread();  // nothing to resume
}

TEST_F(ConsumerTest, AThrowingProcessorEndsTheThreadAndStopStillReturns) {
  processor.onProcess = [] { throw std::runtime_error("processor failed"); };
  Start(16384, 4);
  clock.Release();
  consumer.StopProcessing();
  EXPECT_FALSE(consumer.HasThread());
  EXPECT_TRUE(processor.Calls().empty());
  const auto s = Stream(0, 64);
  consumer.Consume(s.data(), 64);  // no ring any more: nothing happens
}

TEST_F(ConsumerTest, StartingAgainStopsTheOldThreadFirst) {
  Start(16384, 4);
  ASSERT_TRUE(processor.WaitForCalls(1));
  clock.Release();
  consumer.StartProcessing(output.get());
  EXPECT_TRUE(consumer.HasThread());
  EXPECT_TRUE(processor.WaitForCalls(2));
}

TEST(ConsumerLifecycle, StopWithoutStartAndConsumeWithoutRingDoNothing) {
  SteppedClock clock;
  DigitalSignalProcessingAudioDataConsumer consumer(70, clock);
  consumer.StopProcessing();
  const auto s = Stream(0, 64);
  consumer.Consume(s.data(), 0, 64);
  consumer.PauseThread();
  EXPECT_FALSE(consumer.HasThread());
}

TEST(ConsumerLifecycle, DestroyingARunningConsumerStopsItsThread) {
  SteppedClock clock;
  clock.Release();
  RecordingProcessor processor;
  PositionedOutput output(16384, 4);
  {
    DigitalSignalProcessingAudioDataConsumer consumer(70, clock);
    consumer.AddProcessor(&processor);
    consumer.StartProcessing(&output);
    ASSERT_TRUE(processor.WaitForCalls(1));
  }
  // Reaching here without a hang, and without ASan seeing the ring freed under the
  // thread, is the point.
}

TEST(ConsumerLifecycle, WithoutAnOutputProcessorsAreStillCalledWithSilence) {
  SteppedClock clock;
  clock.Release();
  RecordingProcessor processor;
  DigitalSignalProcessingAudioDataConsumer consumer(70, clock);
  consumer.AddProcessor(&processor);
  consumer.StartProcessing(nullptr);
  ASSERT_TRUE(processor.WaitForCalls(3));
  consumer.StopProcessing();
  const auto calls = processor.Calls();
  for (float v : calls[2].left) ASSERT_EQ(v, 0.0f);
}

TEST(ConsumerEvents, EachConsumerHasItsOwnPauseAndStop) {
  SteppedClock clockA, clockB;
  clockB.Release();
  RecordingProcessor a, b;
  PositionedOutput output(16384, 4);
  DigitalSignalProcessingAudioDataConsumer first(70, clockA), second(70, clockB);
  first.AddProcessor(&a);
  second.AddProcessor(&b);
  first.StartProcessing(&output);
  second.StartProcessing(&output);
  ASSERT_TRUE(a.WaitForCalls(1));
  first.PauseThread();
  clockA.Release();
  first.StopProcessing();
  const std::size_t seen = b.Calls().size();
  EXPECT_TRUE(b.WaitForCalls(seen + 3)) << "stopping one consumer leaves the other ticking";
  EXPECT_TRUE(second.HasThread());
  second.StopProcessing();
}

TEST(ConsumerProcessors, RemovingTakesOutEveryEntryOfThatProcessor) {
  SteppedClock clock;
  RecordingProcessor p, q;
  DigitalSignalProcessingAudioDataConsumer consumer(70, clock);
  EXPECT_TRUE(consumer.AddProcessor(&p));
  EXPECT_TRUE(consumer.AddProcessor(&q));
  EXPECT_TRUE(consumer.AddProcessor(&p));
  EXPECT_FALSE(consumer.AddProcessor(nullptr));
  consumer.RemoveProcessor(&p);
  PositionedOutput output(16384, 4);
  consumer.StartProcessing(&output);
  ASSERT_TRUE(q.WaitForCalls(1));
  clock.Release();
  consumer.StopProcessing();
  EXPECT_TRUE(p.Calls().empty());
}

}  // namespace
