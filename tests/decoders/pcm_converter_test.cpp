// A stream whose frames change rate, sample format or channel layout part-way is
// converted as each frame is, to the rate and channels the stream announced.
#include "platform/ffmpeg/pcm_converter.h"

#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using platform::ffmpeg::PcmConverter;

struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

// A frame of `count` samples holding `level` (16-bit full scale, floats scaled to
// 1.0) on channel `only`, silence on the rest; on every channel when only is -1.
FramePtr MakeFrame(int rate, int channels, AVSampleFormat format, int count, int level, int only) {
  FramePtr frame(av_frame_alloc());
  frame->sample_rate = rate;
  frame->format = format;
  frame->nb_samples = count;
  av_channel_layout_default(&frame->ch_layout, channels);
  EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  const bool floats = av_get_packed_sample_fmt(format) == AV_SAMPLE_FMT_FLT;
  for (int c = 0; c < channels; ++c) {
    const int value = only == -1 || only == c ? level : 0;
    std::uint8_t* data = frame->extended_data[planar ? c : 0];
    for (int i = 0; i < count; ++i) {
      const int at = planar ? i : i * channels + c;
      if (floats) {
        reinterpret_cast<float*>(data)[at] = static_cast<float>(value) / 32768.0f;
      } else {
        reinterpret_cast<std::int16_t*>(data)[at] = static_cast<std::int16_t>(value);
      }
    }
  }
  return frame;
}

std::vector<std::int16_t> Samples(const PcmConverter& converter, int bytes) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(bytes) / 2);
  std::memcpy(samples.data(), converter.Data(), samples.size() * 2);
  return samples;
}

// Frames of 20 ms one after the other, each unlike the one before, of level 10000,
// and the level each puts out on either side in the middle of what it gives.
struct Step {
  int channels;
  AVSampleFormat format;
  int rate;
  int only = -1;  // the one channel that sounds; -1: all
  int left = 0, right = 0;
};

TEST(PcmConverter, EachFrameIsConvertedAsWhatItIs) {
  const Step steps[] = {
      // Planar float stereo, as the stream began.
      {.channels = 2, .format = AV_SAMPLE_FMT_FLTP, .rate = 44100, .only = 0, .left = 10000},
      // 16-bit mono: the same level on both sides.
      {.channels = 1, .format = AV_SAMPLE_FMT_S16, .rate = 44100, .left = 7071, .right = 7071},
      // 16-bit stereo: only the layout changed.
      {.channels = 2, .format = AV_SAMPLE_FMT_S16, .rate = 44100, .only = 1, .right = 10000},
      // Float 5.1: the front left alone sounds on the left only.
      {.channels = 6, .format = AV_SAMPLE_FMT_FLT, .rate = 44100, .only = 0, .left = 4142},
      // Resampled to the announced 44100 Hz.
      {.channels = 2, .format = AV_SAMPLE_FMT_S16, .rate = 48000, .left = 10000, .right = 10000},
      // Only the rate changed: what the last resampler held back comes first.
      {.channels = 2, .format = AV_SAMPLE_FMT_S16, .rate = 32000, .left = 10000, .right = 10000},
  };
  PcmConverter converter(44100, 2, AV_SAMPLE_FMT_S16);
  long frames = 0;
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    const Step& s = steps[i];
    SCOPED_TRACE("frame " + std::to_string(i));
    const auto frame = MakeFrame(s.rate, s.channels, s.format, s.rate / 50, 10000, s.only);
    const int bytes = converter.Convert(frame.get());
    ASSERT_GT(bytes, 0);
    const std::vector<std::int16_t> out = Samples(converter, bytes);
    const std::size_t middle = out.size() / 4 * 2;
    EXPECT_NEAR(out[middle], s.left, 50);
    EXPECT_NEAR(out[middle + 1], s.right, 50);
    frames += bytes / 4;
  }
  const int flushed = converter.Flush();
  ASSERT_GE(flushed, 0);
  EXPECT_NEAR(frames + flushed / 4, 882 * std::size(steps), 4) << "frames, held-back ones too";
}

}  // namespace
