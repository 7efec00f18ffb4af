// Turns decoded FFmpeg frames into interleaved 16- or 8-bit PCM at one fixed
// rate and channel count, mixing more channels down and resampling when a frame
// comes at another rate. A frame whose rate, sample format or channel layout
// differs from the one before gets a converter made for it: a stream that changes
// format part-way is converted as what it has become, never as what it was.
#pragma once

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

#include <cstdint>
#include <memory>
#include <vector>

struct SwrContext;

namespace platform::ffmpeg {

class PcmConverter {
 public:
  PcmConverter(int rate, int channels, AVSampleFormat format);
  ~PcmConverter();
  PcmConverter(const PcmConverter&) = delete;
  PcmConverter& operator=(const PcmConverter&) = delete;

  // Converts one frame; the byte count (0 when the resampler holds it all back),
  // or -1 when no converter can be made for it. The bytes stay in Data() until
  // the next call.
  int Convert(const AVFrame* frame);
  // What the resampler still holds, at the end of the stream; byte count as above.
  int Flush();
  const std::uint8_t* Data() const { return pcm_.data(); }

 private:
  struct SwrCloser {
    void operator()(SwrContext* p) const;
  };

  bool Matches(const AVFrame* frame) const;
  bool Rebuild(const AVFrame* frame);
  // Converts `count` input frames (none: drain) onto the end of pcm_; false on failure.
  bool Append(const std::uint8_t* const* data, int count);

  const int rate_;
  const int channels_;
  const AVSampleFormat format_;
  std::unique_ptr<SwrContext, SwrCloser> swr_;
  // What swr_ was made for.
  int inRate_ = 0;
  int inFormat_ = AV_SAMPLE_FMT_NONE;
  AVChannelLayout inLayout_{};
  std::vector<std::uint8_t> pcm_;
};

}  // namespace platform::ffmpeg
