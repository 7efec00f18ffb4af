// The FFmpeg side of the media module: demuxing, decoding and conversion to
// 16- or 8-bit interleaved PCM. Built as its own shared library; see media_module.h.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/ffmpeg/media_module.h"
#include "platform/ffmpeg/pcm_converter.h"

namespace platform::ffmpeg {
namespace {

constexpr int kIoBufferSize = 32768;
constexpr std::int64_t k100nsPerSecond = 10000000;

struct FormatCloser {
  void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct IoCloser {
  void operator()(AVIOContext* p) const {
    av_freep(&p->buffer);
    avio_context_free(&p);
  }
};
struct CodecCloser {
  void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct PacketCloser {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameCloser {
  void operator()(AVFrame* p) const { av_frame_free(&p); }
};

int ReadPacket(void* opaque, std::uint8_t* buffer, int size) {
  const int n = static_cast<ByteSource*>(opaque)->Read(buffer, size);
  return n > 0 ? n : AVERROR_EOF;
}

std::int64_t SeekSource(void* opaque, std::int64_t offset, int whence) {
  auto* source = static_cast<ByteSource*>(opaque);
  if ((whence & AVSEEK_SIZE) != 0) return source->Size();
  whence &= ~AVSEEK_FORCE;
  if (whence == SEEK_END) {
    const std::int64_t size = source->Size();
    if (size < 0) return -1;
    offset += size;
  } else if (whence != SEEK_SET) {
    return -1;  // AVIO resolves SEEK_CUR itself before it gets here
  }
  return offset >= 0 && source->SeekTo(offset) ? offset : -1;
}

class FfmpegMediaSource final : public MediaSource {
 public:
  bool Open(ByteSource* source, const char* path, const char* demuxer) {
    const AVInputFormat* format = av_find_input_format(demuxer);
    if (format == nullptr) return false;
    AVFormatContext* context = avformat_alloc_context();
    if (context == nullptr) return false;
    source_ = source;
    if (source != nullptr) {
      auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferSize));
      if (buffer == nullptr) {
        avformat_free_context(context);
        return false;
      }
      io_.reset(
          avio_alloc_context(buffer, kIoBufferSize, 0, source, ReadPacket, nullptr, SeekSource));
      if (!io_) {
        av_free(buffer);
        avformat_free_context(context);
        return false;
      }
      context->pb = io_.get();
      context->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    // On failure avformat_open_input frees the context itself.
    if (avformat_open_input(&context, source != nullptr ? "" : path, format, nullptr) < 0)
      return false;
    format_.reset(context);
    // Fills in what a header leaves open; a damaged file may still play what it has.
    avformat_find_stream_info(format_.get(), nullptr);
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    return packet_ && frame_;
  }

  int StreamCount() override { return static_cast<int>(format_->nb_streams); }

  StreamInfo Stream(int index) override {
    StreamInfo info;
    if (index < 0 || index >= StreamCount()) return info;
    const AVCodecParameters* par = format_->streams[index]->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_AUDIO || par->sample_rate <= 0 ||
        par->ch_layout.nb_channels <= 0) {
      return info;
    }
    info.audio = true;
    info.sampleRate = par->sample_rate;
    info.sourceChannels = par->ch_layout.nb_channels;
    info.channels = info.sourceChannels > 2 ? 2 : info.sourceChannels;
    info.sourceBits =
        par->bits_per_raw_sample > 0 ? par->bits_per_raw_sample : par->bits_per_coded_sample;
    return info;
  }

  std::int64_t Duration100ns() override {
    if (format_->duration == AV_NOPTS_VALUE || format_->duration <= 0) return 0;
    return av_rescale(format_->duration, k100nsPerSecond, AV_TIME_BASE);
  }

  bool SelectAudio(int index, int bitsPerSample) override {
    if (codec_ || !Stream(index).audio || (bitsPerSample != 16 && bitsPerSample != 8)) return false;
    AVStream* stream = format_->streams[index];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) return false;
    codec_.reset(avcodec_alloc_context3(codec));
    if (!codec_ || avcodec_parameters_to_context(codec_.get(), stream->codecpar) < 0 ||
        avcodec_open2(codec_.get(), codec, nullptr) < 0) {
      codec_.reset();
      return false;
    }
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
      format_->streams[i]->discard =
          static_cast<int>(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    streamIndex_ = index;
    rate_ = Stream(index).sampleRate;
    sampleFormat_ = bitsPerSample == 16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_U8;
    frameBytes_ = Stream(index).channels * bitsPerSample / 8;
    // Output at the rate and channel count the stream announced, whatever its
    // frames turn out to be.
    const StreamInfo info = Stream(index);
    converter_ = std::make_unique<PcmConverter>(
        info.sampleRate, info.channels, bitsPerSample == 16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_U8);
    return true;
  }

  int NextPcm(const std::uint8_t** pcm, std::int64_t* time100ns) override {
    if (!codec_ || ended_) return 0;
    // A decoder that keeps failing without taking more input would never end.
    for (int failures = 0; failures < kMostFailuresInARow;) {
      // A frame held by Peek comes first.
      const int received = held_ ? 0 : avcodec_receive_frame(codec_.get(), frame_.get());
      if (received == 0) {
        const std::int64_t at = held_ ? heldPlace_ : PlaceOf(frame_.get());
        held_ = false;
        const int bytes = converter_->Convert(frame_.get());
        time_ = TimeOf(frame_.get());
        av_frame_unref(frame_.get());
        if (bytes < 0) break;  // no converter for this frame: the stream ends here
        if (bytes == 0) continue;
        // After a seek, what comes before the target is dropped.
        const std::int64_t drop =
            dropUntil_ > at ? std::min<std::int64_t>(dropUntil_ - at, bytes / frameBytes_) : 0;
        if (drop > 0 && drop * frameBytes_ == bytes) continue;
        const int skipped = drop > 0 ? static_cast<int>(drop * frameBytes_) : 0;
        *pcm = converter_->Data() + skipped;
        *time100ns = time_;
        return bytes - skipped;
      }
      if (received == AVERROR_EOF) break;
      if (received != AVERROR(EAGAIN)) {
        // A damaged packet: the decoder has dropped it; the next may decode, as
        // FFmpeg's own tools go on.
        ++failures;
        continue;
      }
      if (flushed_) break;
      failures = 0;
      if (av_read_frame(format_.get(), packet_.get()) < 0) {
        // End of file or a damaged tail: drain what the decoder still holds.
        flushed_ = true;
        avcodec_send_packet(codec_.get(), nullptr);
        continue;
      }
      // A packet the decoder refuses is skipped like a damaged one.
      if (packet_->stream_index == streamIndex_) avcodec_send_packet(codec_.get(), packet_.get());
      av_packet_unref(packet_.get());
    }
    ended_ = true;
    const int rest = converter_->Flush();
    if (rest <= 0) return 0;
    *pcm = converter_->Data();
    *time100ns = time_;
    return rest;
  }

  std::int64_t SeekableFrames() override {
    if (!codec_) return 0;
    const bool seekable =
        io_ ? source_->Size() > 0
            : format_->pb != nullptr && (format_->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0;
    if (!seekable) return 0;
    if (!originKnown_ && !ended_) Peek();
    const AVStream* stream = format_->streams[streamIndex_];
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
      const std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
      return av_rescale_q(stream->duration + start, stream->time_base, SampleBase()) - LeadFrames();
    }
    return av_rescale(Duration100ns(), rate_, k100nsPerSecond);
  }

  bool SeekToFrame(std::int64_t frame) override {
    if (SeekableFrames() <= 0 || frame < 0 || !originKnown_) return Fail();
    // Back by a few codec frames: an overlapping transform needs the frame before.
    const std::int64_t target = origin_ + frame;
    std::int64_t from = std::max<std::int64_t>(0, target - kPrerollFrames);
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!Restart(av_rescale_q(from, SampleBase(), format_->streams[streamIndex_]->time_base)))
        return Fail();
      dropUntil_ = target;
      // The demuxer may land late where its index is coarse: then from the start.
      if (Peek() && heldPlace_ <= target) return true;
      from = 0;
    }
    return Fail();
  }

 private:
  static constexpr int kMostFailuresInARow = 16;
  static constexpr std::int64_t kPrerollFrames = 8192;

  AVRational SampleBase() const { return AVRational{1, rate_}; }
  // Frames of the stream before the first one the decoder delivers.
  std::int64_t LeadFrames() const { return originKnown_ ? origin_ : 0; }

  bool Fail() {
    ended_ = true;
    return false;
  }

  // Moves the demuxer to the packet at or before ts and empties the decoder.
  bool Restart(std::int64_t ts) {
    if (av_seek_frame(format_.get(), streamIndex_, ts, AVSEEK_FLAG_BACKWARD) < 0 &&
        avformat_seek_file(format_.get(), streamIndex_, INT64_MIN, ts, ts, 0) < 0)
      return false;
    avcodec_flush_buffers(codec_.get());
    const StreamInfo info = Stream(streamIndex_);
    converter_ = std::make_unique<PcmConverter>(info.sampleRate, info.channels, sampleFormat_);
    av_frame_unref(frame_.get());
    flushed_ = ended_ = held_ = false;
    placed_ = false;
    dropUntil_ = INT64_MIN;
    return true;
  }

  // Decodes the next frame and holds it for NextPcm, placed; false when none comes.
  bool Peek() {
    if (held_) return true;
    for (int failures = 0; failures < kMostFailuresInARow;) {
      const int received = avcodec_receive_frame(codec_.get(), frame_.get());
      if (received == 0) {
        heldPlace_ = PlaceOf(frame_.get());
        held_ = true;
        return true;
      }
      if (received == AVERROR_EOF) return false;
      if (received != AVERROR(EAGAIN)) {
        ++failures;
        continue;
      }
      if (av_read_frame(format_.get(), packet_.get()) < 0) return false;
      if (packet_->stream_index == streamIndex_) avcodec_send_packet(codec_.get(), packet_.get());
      av_packet_unref(packet_.get());
    }
    return false;
  }

  // Where a decoded frame lies, in frames of the stream: counted on from the
  // frame before, and after a restart from its timestamp. Timestamps coarser
  // than a frame (ASF's milliseconds) are put on the grid of whole codec frames
  // that the first frame began.
  std::int64_t PlaceOf(const AVFrame* frame) {
    std::int64_t at = next_;
    if (!placed_) {
      const std::int64_t pts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->pkt_dts;
      const AVRational base = format_->streams[streamIndex_]->time_base;
      at = pts == AV_NOPTS_VALUE ? 0 : av_rescale_q(pts, base, SampleBase());
      if (originKnown_ && static_cast<std::int64_t>(base.num) * rate_ > base.den &&
          frame->nb_samples > 0) {
        const std::int64_t n = frame->nb_samples;
        const std::int64_t offset = at - origin_;
        at = origin_ + (offset >= 0 ? (offset + n / 2) / n : -((-offset + n / 2) / n)) * n;
      }
      if (!originKnown_) origin_ = at;
      originKnown_ = placed_ = true;
    }
    next_ = at + frame->nb_samples;
    return at;
  }

  std::int64_t TimeOf(const AVFrame* frame) const {
    const AVRational base = format_->streams[streamIndex_]->time_base;
    const std::int64_t pts = frame->best_effort_timestamp;
    return pts == AV_NOPTS_VALUE
               ? 0
               : av_rescale_q(pts, base, AVRational{1, static_cast<int>(k100nsPerSecond)});
  }

  // Declared before format_ so that it is released after it.
  std::unique_ptr<AVIOContext, IoCloser> io_;
  std::unique_ptr<AVFormatContext, FormatCloser> format_;
  std::unique_ptr<AVCodecContext, CodecCloser> codec_;
  std::unique_ptr<AVPacket, PacketCloser> packet_;
  std::unique_ptr<AVFrame, FrameCloser> frame_;
  std::unique_ptr<PcmConverter> converter_;  // made by SelectAudio
  int streamIndex_ = -1;
  int rate_ = 0;        // of the selected stream
  int frameBytes_ = 1;  // of the PCM delivered
  AVSampleFormat sampleFormat_ = AV_SAMPLE_FMT_S16;
  ByteSource* source_ = nullptr;  // the caller's, when not opened by path
  // Places in frames of the stream, from its timestamps: the first frame the
  // decoder gives (frame 0 of the delivered stream), the next frame's, and the
  // first one NextPcm may deliver after a seek.
  std::int64_t origin_ = 0;
  bool originKnown_ = false;
  bool placed_ = false;  // next_ counts on; false after a restart
  std::int64_t next_ = 0;
  std::int64_t dropUntil_ = INT64_MIN;
  bool held_ = false;  // frame_ holds a decoded frame that NextPcm has not taken
  std::int64_t heldPlace_ = 0;
  std::int64_t time_ = 0;
  bool flushed_ = false;  // the decoder has been told the input ended
  bool ended_ = false;    // and has given all it had
};

MediaSource* Open(ByteSource* source, const char* path, const char* demuxer) {
  auto media = std::unique_ptr<FfmpegMediaSource>(new (std::nothrow) FfmpegMediaSource());
  if (!media || !media->Open(source, path, demuxer)) return nullptr;
  return media.release();
}

MediaSource* OpenPath(const char* utf8Path, const char* demuxer) {
  return utf8Path != nullptr ? Open(nullptr, utf8Path, demuxer) : nullptr;
}

MediaSource* OpenSource(ByteSource* source, const char* demuxer) {
  return source != nullptr ? Open(source, nullptr, demuxer) : nullptr;
}

constexpr MediaApi kApi = {kMediaApiVersion, OpenPath, OpenSource};

}  // namespace
}  // namespace platform::ffmpeg

extern "C" __attribute__((visibility("default"))) const platform::ffmpeg::MediaApi*
TonariaMediaModule() {
  // The program reports bad files by its own messages; FFmpeg's log would only
  // repeat them on standard error.
  av_log_set_level(AV_LOG_QUIET);
  return &platform::ffmpeg::kApi;
}
