// The boundary between the codec stand-ins and the FFmpeg-backed module. The
// module is a shared library loaded on first use, so that a program that never
// plays an APE or WMA file never maps FFmpeg (it costs ~33 MB resident). Only
// this header is shared: abstract classes and one C entry point.
#pragma once

#include <cstdint>

namespace platform::ffmpeg {

inline constexpr int kMediaApiVersion = 2;

// Where the module reads a file from when it is not given a path.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Bytes read into buffer; 0 at the end or on an error.
  virtual int Read(std::uint8_t* buffer, int size) = 0;
  // Moves to offset from the start; false when the source cannot go there.
  virtual bool SeekTo(std::int64_t offset) = 0;
  // Total size in bytes, or -1 when unknown.
  virtual std::int64_t Size() = 0;
};

struct StreamInfo {
  bool audio = false;
  int sampleRate = 0;  // audio only
  int channels = 0;    // as delivered: the source's count, at most 2
  int sourceChannels = 0;
  int sourceBits = 0;  // the source's own sample width, 0 when it has none
};

// One opened file. Decoding delivers signed 16-bit or unsigned 8-bit PCM,
// interleaved, at the stream's own rate, mixed to stereo above two channels.
class MediaSource {
 public:
  virtual ~MediaSource() = default;
  virtual int StreamCount() = 0;
  virtual StreamInfo Stream(int index) = 0;
  // Length of the file in 100-ns units, 0 when unknown.
  virtual std::int64_t Duration100ns() = 0;
  // Opens the codec of an audio stream; bitsPerSample is 16 or 8. Once only.
  virtual bool SelectAudio(int index, int bitsPerSample) = 0;
  // Decodes until PCM comes out. Returns its byte count with *pcm valid until the
  // next call, 0 at the end (or an error that ends the stream); *time100ns is the
  // presentation time of its first frame.
  virtual int NextPcm(const std::uint8_t** pcm, std::int64_t* time100ns) = 0;
  // The selected stream's length in frames as the file states it; 0 when the
  // file cannot seek (a pipe) or does not say.
  virtual std::int64_t SeekableFrames() = 0;
  // After a true result NextPcm delivers from `frame` (counted from the first
  // frame NextPcm delivered, or would) on. False when the file cannot seek or the
  // demuxer found no place; decoding then ends.
  virtual bool SeekToFrame(std::int64_t frame) = 0;
};

struct MediaApi {
  int version;
  // demuxer: FFmpeg's short name ("ape", "asf"); the file must be of that kind.
  // Both return null when the file cannot be opened; the caller owns the result.
  MediaSource* (*openPath)(const char* utf8Path, const char* demuxer);
  MediaSource* (*openSource)(ByteSource* source,
                             const char* demuxer);  // source must outlive the result
};

}  // namespace platform::ffmpeg

// The module's one exported symbol.
extern "C" const platform::ffmpeg::MediaApi* TonariaMediaModule();
inline constexpr const char* kTonariaMediaModuleSymbol = "TonariaMediaModule";
