#include "bench/decoders/ffmpeg_bare_loop.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}
#include <cstdint>
#include <vector>

#include <dlfcn.h>

namespace decode_bench {

namespace {

// The FFmpeg entry points the loop uses, looked up once.
struct Ffmpeg {
  decltype(&avformat_open_input) openInput = nullptr;
  decltype(&avformat_find_stream_info) findStreamInfo = nullptr;
  decltype(&av_find_best_stream) findBestStream = nullptr;
  decltype(&avformat_close_input) closeInput = nullptr;
  decltype(&av_read_frame) readFrame = nullptr;
  decltype(&avcodec_find_decoder) findDecoder = nullptr;
  decltype(&avcodec_alloc_context3) allocContext = nullptr;
  decltype(&avcodec_parameters_to_context) parametersToContext = nullptr;
  decltype(&avcodec_open2) open = nullptr;
  decltype(&avcodec_send_packet) sendPacket = nullptr;
  decltype(&avcodec_receive_frame) receiveFrame = nullptr;
  decltype(&avcodec_free_context) freeContext = nullptr;
  decltype(&av_packet_alloc) packetAlloc = nullptr;
  decltype(&av_packet_unref) packetUnref = nullptr;
  decltype(&av_packet_free) packetFree = nullptr;
  decltype(&av_frame_alloc) frameAlloc = nullptr;
  decltype(&av_frame_free) frameFree = nullptr;
  decltype(&swr_alloc_set_opts2) swrAlloc = nullptr;
  decltype(&swr_init) swrInit = nullptr;
  decltype(&swr_convert) swrConvert = nullptr;
  decltype(&swr_free) swrFree = nullptr;
  bool ok = false;
};

template <typename T>
void Find(void* library, const char* name, T* slot, bool* ok) {
  *slot = reinterpret_cast<T>(library != nullptr ? dlsym(library, name) : nullptr);
  *ok = *ok && *slot != nullptr;
}

const Ffmpeg& Load() {
  static const Ffmpeg ffmpeg = [] {
    Ffmpeg f;
    void* format = dlopen("libavformat.so.59", RTLD_NOW);
    void* codec = dlopen("libavcodec.so.59", RTLD_NOW);
    void* util = dlopen("libavutil.so.57", RTLD_NOW);
    void* swr = dlopen("libswresample.so.4", RTLD_NOW);
    bool ok = true;
    Find(format, "avformat_open_input", &f.openInput, &ok);
    Find(format, "avformat_find_stream_info", &f.findStreamInfo, &ok);
    Find(format, "av_find_best_stream", &f.findBestStream, &ok);
    Find(format, "avformat_close_input", &f.closeInput, &ok);
    Find(format, "av_read_frame", &f.readFrame, &ok);
    Find(codec, "avcodec_find_decoder", &f.findDecoder, &ok);
    Find(codec, "avcodec_alloc_context3", &f.allocContext, &ok);
    Find(codec, "avcodec_parameters_to_context", &f.parametersToContext, &ok);
    Find(codec, "avcodec_open2", &f.open, &ok);
    Find(codec, "avcodec_send_packet", &f.sendPacket, &ok);
    Find(codec, "avcodec_receive_frame", &f.receiveFrame, &ok);
    Find(codec, "avcodec_free_context", &f.freeContext, &ok);
    Find(codec, "av_packet_alloc", &f.packetAlloc, &ok);
    Find(codec, "av_packet_unref", &f.packetUnref, &ok);
    Find(codec, "av_packet_free", &f.packetFree, &ok);
    Find(util, "av_frame_alloc", &f.frameAlloc, &ok);
    Find(util, "av_frame_free", &f.frameFree, &ok);
    Find(swr, "swr_alloc_set_opts2", &f.swrAlloc, &ok);
    Find(swr, "swr_init", &f.swrInit, &ok);
    Find(swr, "swr_convert", &f.swrConvert, &ok);
    Find(swr, "swr_free", &f.swrFree, &ok);
    f.ok = ok;
    return f;
  }();
  return ffmpeg;
}

}  // namespace

std::size_t BareFfmpegDecode(const std::string& path) {
  const Ffmpeg& f = Load();
  if (!f.ok) return 0;
  AVFormatContext* format = nullptr;
  if (f.openInput(&format, path.c_str(), nullptr, nullptr) < 0) return 0;
  std::size_t bytes = 0;
  f.findStreamInfo(format, nullptr);
  const AVCodec* codec = nullptr;
  const int index = f.findBestStream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  AVCodecContext* context = index >= 0 ? f.allocContext(codec) : nullptr;
  AVPacket* packet = f.packetAlloc();
  AVFrame* frame = f.frameAlloc();
  SwrContext* swr = nullptr;
  std::vector<std::uint8_t> pcm;
  if (context != nullptr && f.parametersToContext(context, format->streams[index]->codecpar) >= 0 &&
      f.open(context, codec, nullptr) >= 0) {
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    auto drain = [&] {
      while (f.receiveFrame(context, frame) == 0) {
        if (swr == nullptr) {
          f.swrAlloc(&swr, &stereo, AV_SAMPLE_FMT_S16, frame->sample_rate, &frame->ch_layout,
                     static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
          f.swrInit(swr);
        }
        pcm.resize(static_cast<std::size_t>(frame->nb_samples) * 4);
        std::uint8_t* out[1] = {pcm.data()};
        const int got =
            f.swrConvert(swr, out, frame->nb_samples,
                         const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
        if (got > 0) bytes += static_cast<std::size_t>(got) * 4;
      }
    };
    while (f.readFrame(format, packet) >= 0) {
      if (packet->stream_index == index && f.sendPacket(context, packet) >= 0) drain();
      f.packetUnref(packet);
    }
    f.sendPacket(context, nullptr);
    drain();
  }
  f.swrFree(&swr);
  f.frameFree(&frame);
  f.packetFree(&packet);
  f.freeContext(&context);
  f.closeInput(&format);
  return bytes;
}

}  // namespace decode_bench
