// A stream whose frames change rate, sample format or channel layout part-way is
// converted as each frame is, to the rate and channels the stream announced.
#include "platform/ffmpeg/pcm_converter.h"

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

// A frame of `count` samples holding `value` on every channel listed in `sounding`
// (all when empty), silence on the rest.
template <typename T>
FramePtr MakeFrame(int rate, int channels, AVSampleFormat format, int count, T value,
                   std::vector<int> sounding = {}) {
  FramePtr frame(av_frame_alloc());
  frame->sample_rate = rate;
  frame->format = format;
  frame->nb_samples = count;
  av_channel_layout_default(&frame->ch_layout, channels);
  EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  auto sounds = [&](int c) {
    return sounding.empty() || std::find(sounding.begin(), sounding.end(), c) != sounding.end();
  };
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  for (int c = 0; c < channels; ++c) {
    for (int i = 0; i < count; ++i) {
      T* at = planar ? reinterpret_cast<T*>(frame->extended_data[c]) + i
                     : reinterpret_cast<T*>(frame->extended_data[0]) + i * channels + c;
      *at = sounds(c) ? value : T{};
    }
  }
  return frame;
}

std::vector<std::int16_t> Samples(const PcmConverter& converter, int bytes) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(bytes) / 2);
  std::memcpy(samples.data(), converter.Data(), samples.size() * 2);
  return samples;
}

TEST(PcmConverter, EachFrameIsConvertedAsWhatItIs) {
  PcmConverter converter(44100, 2, AV_SAMPLE_FMT_S16);

  // Planar float stereo, as the stream began.
  auto first = MakeFrame<float>(44100, 2, AV_SAMPLE_FMT_FLTP, 1024, 0.5f, {0});
  std::vector<std::int16_t> out = Samples(converter, converter.Convert(first.get()));
  ASSERT_EQ(out.size(), 2048u);
  EXPECT_EQ(out[0], 16384);
  EXPECT_EQ(out[1], 0);

  // Interleaved 16-bit mono: the same level on both sides, from the mono samples.
  auto mono = MakeFrame<std::int16_t>(44100, 1, AV_SAMPLE_FMT_S16, 512, 10000);
  out = Samples(converter, converter.Convert(mono.get()));
  ASSERT_EQ(out.size(), 1024u);
  EXPECT_EQ(out[1000], out[1001]);
  EXPECT_GT(out[1000], 7000);
  EXPECT_LE(out[1000], 10000);

  // 5.1 float: the front left alone sounds on the left only.
  auto surround = MakeFrame<float>(44100, 6, AV_SAMPLE_FMT_FLT, 256, 0.5f, {0});
  out = Samples(converter, converter.Convert(surround.get()));
  ASSERT_EQ(out.size(), 512u);
  EXPECT_GT(out[100], 4000);
  EXPECT_EQ(out[101], 0);

  // 48000 Hz: resampled to the announced 44100, what the resampler holds back
  // coming out at the end.
  auto faster = MakeFrame<std::int16_t>(48000, 2, AV_SAMPLE_FMT_S16, 4800, 8000);
  const int converted = converter.Convert(faster.get());
  out = Samples(converter, converted);
  const int flushed = converter.Flush();
  ASSERT_GE(converted, 0);
  ASSERT_GE(flushed, 0);
  EXPECT_NEAR((converted + flushed) / 4, 4410, 4) << "frames after resampling";
  ASSERT_GT(out.size(), 2000u);
  EXPECT_NEAR(out[2000], 8000, 80);
}

}  // namespace
