#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "tests/visual/visual_doubles.h"
#include "visual/digital_signal_processing_audio_data_consumer.h"

namespace {

using testing_support::PositionedOutput;
using testing_support::ProcessCall;
using testing_support::RecordingProcessor;
using testing_support::SampleAt;
using testing_support::SteppedClock;
using testing_support::Stream;

// Writes into the arrays, as the spectrum analyser does (it mixes into left): -1, a
// value the test stream never holds, must never come back to the next tick. It reads
// only the first 512 frames, which must not shorten what a processor beside it gets.
class SpoilingProcessor final : public DigitalSignalProcessor {
 public:
  std::uint32_t FramesRead() const override { return 512; }
  void Process(float* left, float* right, float) override {
    std::fill_n(left, 2048, -1.0f);
    std::fill_n(right, 2048, -1.0f);
  }
};

// A consumer on a stepped clock: each tick runs only when the test allows it.
struct Rig {
  // The first tick may come at once, so the position it reads is set before the start.
  // `next`, if given, is called after the recording processor.
  void Start(std::uint32_t queueTarget, std::uint32_t bytesPerFrame, std::int64_t played = 0,
             DigitalSignalProcessor* next = nullptr, bool record = true) {
    output = std::make_unique<PositionedOutput>(queueTarget, bytesPerFrame);
    output->played = played;
    if (record) consumer.AddProcessor(&processor);
    if (next != nullptr) consumer.AddProcessor(next);
    consumer.StartProcessing(output.get());
  }
  // Lets the thread finish the tick it is in and run the next one.
  void NextTick() {
    const std::size_t seen = processor.Calls().size();
    clock.AllowTicks(1);
    ASSERT_TRUE(processor.WaitForCalls(seen + 1));
  }
  ~Rig() {
    clock.Release();
    consumer.StopProcessing();
  }

  SteppedClock clock;
  RecordingProcessor processor;
  SpoilingProcessor spoiler;
  std::unique_ptr<PositionedOutput> output;
  DigitalSignalProcessingAudioDataConsumer consumer{70, clock};
};

class ConsumerTest : public testing::Test, protected Rig {};

// Windows moving on 3000 bytes a tick, across the ring's end: each holds the stream
// from where playback was at the tick before, never what a processor left; the first
// two ticks (the position below 0) get silence.
TEST(Consumer, EveryTickAcrossTheRingsEndGetsFreshSamples) {
  for (const std::uint32_t frameBytes : {4u, 2u}) {
    SCOPED_TRACE(frameBytes == 4 ? "stereo" : "mono");
    Rig rig;  // a 16384-byte ring; the spoiler runs after the recorder
    rig.Start(8192, frameBytes, -500, &rig.spoiler);
    ASSERT_TRUE(rig.processor.WaitForCalls(1));
    std::uint32_t consumed = 0;
    for (std::uint32_t tick = 1; tick <= 12; ++tick) {
      const std::uint32_t windowStart = (tick - 1) * 3000;  // played at the last tick
      const std::uint32_t upTo = windowStart + 12000;       // queued ahead, as the engine keeps it
      const auto s = Stream(consumed, upTo - consumed);
      rig.consumer.Consume(s.data(), upTo - consumed);
      consumed = upTo;
      rig.output->played = tick * 3000;
      rig.NextTick();
      std::vector<float> left(2048, 0.0f), right(2048, 0.0f);
      for (std::uint32_t i = 0; tick > 1 && i < 2048; ++i) {
        left[i] = SampleAt(windowStart + frameBytes * i);
        right[i] = SampleAt(windowStart + frameBytes * i + frameBytes - 2);
      }
      const ProcessCall call = rig.processor.Calls()[tick];
      ASSERT_TRUE(call.left == left && call.right == right) << "tick " << tick;
    }
    const ProcessCall first = rig.processor.Calls()[0];
    EXPECT_TRUE(first.left == std::vector<float>(2048, 0.0f) && first.right == first.left);
  }
}

// The pacer's arithmetic has its own test; here, that the thread measures its work,
// sleeps what the pacer says and hands its time scale to the processors.
TEST(Consumer, EachTickSleepsWhatThePacerSaysAndPassesOnItsTimeScale) {
  struct Row {
    std::int64_t workNs;  // below 0: no processors at all
    std::uint32_t sleepMs;
    float laterTimeScale = 0;
  };
  for (const Row row : {Row{.workNs = 300'000, .sleepMs = 14, .laterTimeScale = 1.0f},
                        Row{.workNs = 20'000'000, .sleepMs = 10, .laterTimeScale = 1.4f},
                        Row{.workNs = -1, .sleepMs = 1000}}) {
    SCOPED_TRACE(testing::Message() << "work " << row.workNs << " ns");
    Rig rig;
    rig.processor.onProcess = [&] { rig.clock.Advance(row.workNs); };
    rig.Start(16384, 4, 0, nullptr, row.workNs >= 0);
    rig.clock.AllowTicks(2);
    ASSERT_TRUE(rig.clock.WaitForSleeps(3));
    EXPECT_EQ(rig.clock.Sleeps(), std::vector<std::uint32_t>(3, row.sleepMs));
    if (row.workNs < 0) continue;
    const auto calls = rig.processor.Calls();
    EXPECT_FLOAT_EQ(calls[0].timeScale, 1.0f);
    for (int i : {1, 2}) EXPECT_NEAR(calls[i].timeScale, row.laterTimeScale, 1e-6) << i;
  }
}

// Pause holds the thread until Resume, Stop while paused wakes and ends it, and none of
// this reaches another consumer.
TEST_F(ConsumerTest, PauseHoldsTheThreadAndStopWhilePausedEndsItLeavingOtherConsumersTicking) {
  SteppedClock otherClock;
  RecordingProcessor otherProcessor;
  DigitalSignalProcessingAudioDataConsumer other(70, otherClock);
  other.AddProcessor(&otherProcessor);
  Start(16384, 4);
  other.StartProcessing(output.get());
  ASSERT_TRUE(processor.WaitForCalls(1));
  consumer.PauseThread();
  EXPECT_EQ(consumer.Control()->paused.load(), 1);
  clock.Release();
  EXPECT_EQ(processor.Calls().size(), 1u);
  consumer.ResumeThread();
  EXPECT_EQ(consumer.Control()->paused.load(), 0);
  EXPECT_TRUE(processor.WaitForCalls(2));

  consumer.PauseThread();
  consumer.StopProcessing();
  EXPECT_FALSE(consumer.HasThread());
  consumer.ResumeThread();  // nothing to resume
  otherClock.AllowTicks(3);
  EXPECT_TRUE(otherProcessor.WaitForCalls(4)) << "the other consumer stopped too";
  EXPECT_TRUE(other.HasThread());
  otherClock.Release();
  other.StopProcessing();
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

TEST_F(ConsumerTest, StartingAgainStopsTheOldThreadFirstAndWithoutAnOutputTicksOnSilence) {
  Start(16384, 4);
  ASSERT_TRUE(processor.WaitForCalls(1));
  clock.Release();
  consumer.StartProcessing(nullptr);
  EXPECT_TRUE(consumer.HasThread());
  const std::size_t seen = processor.Calls().size();
  ASSERT_TRUE(processor.WaitForCalls(seen + 3));
  EXPECT_EQ(processor.Calls()[seen + 2].left, std::vector<float>(2048, 0.0f));
}

// Removing a processor takes out every entry of it; a consumer destroyed while its
// thread runs stops it (without a hang, and without ASan seeing the ring freed under it).
TEST(ConsumerProcessors, RemovingTakesOutEveryEntryOfThatProcessor) {
  SteppedClock clock;
  RecordingProcessor p, q;
  auto consumer = std::make_unique<DigitalSignalProcessingAudioDataConsumer>(70, clock);
  consumer->StopProcessing();  // never started: nothing happens, nor below
  const auto s = Stream(0, 64);
  consumer->Consume(s.data(), 0, 64);
  consumer->PauseThread();
  EXPECT_FALSE(consumer->HasThread());
  for (RecordingProcessor* added : {&p, &q, &p}) EXPECT_TRUE(consumer->AddProcessor(added));
  EXPECT_FALSE(consumer->AddProcessor(nullptr));
  consumer->RemoveProcessor(&p);
  PositionedOutput output(16384, 4);
  consumer->StartProcessing(&output);
  ASSERT_TRUE(q.WaitForCalls(1));
  clock.Release();
  ASSERT_TRUE(q.WaitForCalls(3));
  consumer.reset();
  EXPECT_TRUE(p.Calls().empty());
}

}  // namespace
