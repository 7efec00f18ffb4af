#include "platform/ffmpeg/pcm_converter.h"

extern "C" {
#include <libswresample/swresample.h>
}

namespace platform::ffmpeg {

void PcmConverter::SwrCloser::operator()(SwrContext* p) const { swr_free(&p); }

PcmConverter::PcmConverter(int rate, int channels, AVSampleFormat format)
    : rate_(rate), channels_(channels), format_(format) {}

PcmConverter::~PcmConverter() { av_channel_layout_uninit(&inLayout_); }

bool PcmConverter::Matches(const AVFrame* frame) const {
  return swr_ && frame->sample_rate == inRate_ && frame->format == inFormat_ &&
         av_channel_layout_compare(&frame->ch_layout, &inLayout_) == 0;
}

bool PcmConverter::Rebuild(const AVFrame* frame) {
  swr_.reset();
  av_channel_layout_uninit(&inLayout_);
  if (av_channel_layout_copy(&inLayout_, &frame->ch_layout) < 0) return false;
  inRate_ = frame->sample_rate;
  inFormat_ = frame->format;
  // Channels without a declared order mix as the default layout for their count.
  AVChannelLayout in{};
  if (inLayout_.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_default(&in, inLayout_.nb_channels);
  } else if (av_channel_layout_copy(&in, &inLayout_) < 0) {
    return false;
  }
  AVChannelLayout out{};
  av_channel_layout_default(&out, channels_);
  SwrContext* swr = nullptr;
  const int made = swr_alloc_set_opts2(&swr, &out, format_, rate_, &in,
                                       static_cast<AVSampleFormat>(inFormat_), inRate_, 0, nullptr);
  av_channel_layout_uninit(&in);
  av_channel_layout_uninit(&out);
  swr_.reset(swr);
  if (made < 0 || swr_init(swr_.get()) < 0) {
    swr_.reset();
    return false;
  }
  return true;
}

bool PcmConverter::Append(const std::uint8_t* const* data, int count) {
  const int room = swr_get_out_samples(swr_.get(), count);
  if (room < 0) return false;
  const int frameBytes = channels_ * av_get_bytes_per_sample(format_);
  const std::size_t used = pcm_.size();
  pcm_.resize(used + static_cast<std::size_t>(room) * frameBytes);
  std::uint8_t* out[1] = {pcm_.data() + used};
  const int frames =
      swr_convert(swr_.get(), out, room, const_cast<const std::uint8_t**>(data), count);
  if (frames < 0) return false;
  pcm_.resize(used + static_cast<std::size_t>(frames) * frameBytes);
  return true;
}

int PcmConverter::Convert(const AVFrame* frame) {
  pcm_.clear();
  if (frame->nb_samples <= 0) return 0;
  if (!Matches(frame)) {
    // What the old converter still holds belongs before this frame.
    if (swr_ && !Append(nullptr, 0)) return -1;
    if (!Rebuild(frame)) return -1;
  }
  if (!Append(const_cast<const std::uint8_t* const*>(frame->extended_data), frame->nb_samples))
    return -1;
  return static_cast<int>(pcm_.size());
}

int PcmConverter::Flush() {
  pcm_.clear();
  if (swr_ && !Append(nullptr, 0)) return -1;
  return static_cast<int>(pcm_.size());
}

}  // namespace platform::ffmpeg
