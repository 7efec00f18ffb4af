// A stream whose frames change rate, sample format or channel layout part-way is
// converted as each frame is, to the rate and channels the stream announced.
#include "platform/ffmpeg/pcm_converter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

namespace {

using platform::ffmpeg::PcmConverter;

struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

// A frame of `count` samples holding `level` (16-bit full scale, floats scaled to
// 1.0) on every channel listed in `sounding` (all when empty), silence on the rest.
FramePtr MakeFrame(int rate, int channels, AVSampleFormat format, int count, int level,
                   const std::vector<int>& sounding) {
  FramePtr frame(av_frame_alloc());
  frame->sample_rate = rate;
  frame->format = format;
  frame->nb_samples = count;
  av_channel_layout_default(&frame->ch_layout, channels);
  EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  const bool floats = av_get_packed_sample_fmt(format) == AV_SAMPLE_FMT_FLT;
  for (int c = 0; c < channels; ++c) {
    const bool sounds =
        sounding.empty() || std::find(sounding.begin(), sounding.end(), c) != sounding.end();
    std::uint8_t* data = frame->extended_data[planar ? c : 0];
    for (int i = 0; i < count; ++i) {
      const int at = planar ? i : i * channels + c;
      if (floats) {
        reinterpret_cast<float*>(data)[at] = sounds ? level / 32768.0f : 0.0f;
      } else {
        reinterpret_cast<std::int16_t*>(data)[at] = static_cast<std::int16_t>(sounds ? level : 0);
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

// Frames one after the other, each unlike the one before, and the level each puts
// out on either side in the middle of what it gives.
struct Step {
  const char* what;
  int rate;
  int channels;
  AVSampleFormat format;
  int count;
  int level;
  std::vector<int> sounding;  // all when empty
  int left;
  int right;
};

TEST(PcmConverter, EachFrameIsConvertedAsWhatItIs) {
  const Step steps[] = {
      {.what = "planar float stereo, as the stream began",
       .rate = 44100,
       .channels = 2,
       .format = AV_SAMPLE_FMT_FLTP,
       .count = 1024,
       .level = 16384,
       .sounding = {0},
       .left = 16384,
       .right = 0},
      {.what = "16-bit mono: the same level on both sides",
       .rate = 44100,
       .channels = 1,
       .format = AV_SAMPLE_FMT_S16,
       .count = 512,
       .level = 10000,
       .left = 7071,
       .right = 7071},
      {.what = "16-bit stereo: only the layout changed",
       .rate = 44100,
       .channels = 2,
       .format = AV_SAMPLE_FMT_S16,
       .count = 512,
       .level = 10000,
       .sounding = {1},
       .left = 0,
       .right = 10000},
      {.what = "float 5.1: the front left alone sounds on the left only",
       .rate = 44100,
       .channels = 6,
       .format = AV_SAMPLE_FMT_FLT,
       .count = 256,
       .level = 16384,
       .sounding = {0},
       .left = 6786,
       .right = 0},
      {.what = "48000 Hz: resampled to the announced 44100",
       .rate = 48000,
       .channels = 2,
       .format = AV_SAMPLE_FMT_S16,
       .count = 4800,
       .level = 8000,
       .left = 8000,
       .right = 8000},
      // The 48000 Hz resampler's held-back frames come out before this one's.
      {.what = "32000 Hz: only the rate changed",
       .rate = 32000,
       .channels = 2,
       .format = AV_SAMPLE_FMT_S16,
       .count = 3200,
       .level = 8000,
       .left = 8000,
       .right = 8000},
  };
  PcmConverter converter(44100, 2, AV_SAMPLE_FMT_S16);
  long frames = 0;
  long expected = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    const auto frame = MakeFrame(s.rate, s.channels, s.format, s.count, s.level, s.sounding);
    const int bytes = converter.Convert(frame.get());
    ASSERT_GT(bytes, 0);
    const std::vector<std::int16_t> out = Samples(converter, bytes);
    const std::size_t middle = out.size() / 4 * 2;
    EXPECT_NEAR(out[middle], s.left, 80);
    EXPECT_NEAR(out[middle + 1], s.right, 80);
    frames += bytes / 4;
    expected += s.count * 44100L / s.rate;
  }
  const int flushed = converter.Flush();
  ASSERT_GE(flushed, 0);
  EXPECT_NEAR(frames + flushed / 4, expected, 4) << "frames after resampling, held-back ones too";
}

}  // namespace
