// MP3 decoding over libmad. Open skips the tags around the audio and scans for
// the first run of agreeing MPEG frames (a leading Xing/Info frame gives way to
// the next for the format); Read then decodes from that frame, one 1152-frame
// step per call (576 at 22050 Hz), and turns libmad's fixed-point samples into
// 16-bit PCM with noise-shaped, dithered rounding. Frames of another channel
// count or rate (files joined from different encodes) are converted to the
// first frame's format. A pipe, or any file of unknown size, is read forward
// only: the tags at its start are stepped over, those at its end are not looked for.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "decoders/decoder.h"
#include "decoders/format_converter.h"
#include "platform/kernel/file.h"

namespace decoding {

// The error feedback and random state of one output channel's quantiser.
struct MadDitherRecord {
  std::int32_t e0 = 0;
  std::int32_t e1 = 0;
  std::int32_t e2 = 0;
  std::uint32_t random = 0;
};

// Quantises one libmad sample (28 fraction bits, 1.0 = 0x10000000) to 16 bits
// with noise shaping, triangular dither and clipping, updating the record.
std::int16_t QuantizeMadSample(std::int32_t sample, MadDitherRecord& record);

}  // namespace decoding

class CMadDecoder final : public CDecoder {
 public:
  static constexpr std::uint32_t kInputCapacity = 200000;
  static constexpr std::uint32_t kScanBufferBytes = 8192;

  CMadDecoder();
  ~CMadDecoder() override;

  platform::HRESULT SetFile(const char16_t* path) override;
  std::int32_t Open() override;
  void Close() override;
  std::int32_t GetSampleRate() override { return sampleRate_; }
  std::int32_t GetBitsPerSample() override { return bitsPerSample_; }
  std::int32_t GetChannels() override { return channels_; }
  std::uint32_t Read(void* buffer, std::uint32_t capacity) override;

  // The two dither records are shared by every MP3 decoder and carry over from one
  // file to the next. Tests only: puts them back to their start-up zeros.
  static void ResetDitherRecordsForTesting();

 private:
  struct MadState;  // libmad's stream, frame and synth; defined with libmad's header
  struct FreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
  };

  // Refills the input buffer after an unrecoverable (buffer) error; false at the
  // end of the file or on a read error.
  bool Refill();
  // Decodes and synthesises the next frame; false at the end of the stream.
  bool DecodeFrame();
  // Quantises `count` frames of the current synth output, in its own channel count.
  void Quantize(std::uint32_t first, std::uint32_t count, std::int16_t* out);

  // All fields: the window's thread until Open returns, the playback thread after.
  char16_t path_[kPathCapacity] = {};
  platform::File file_;  // open exactly while opened_
  std::int32_t opened_ = 0;
  std::uint32_t consumed_ = 0;   // frames of the current synth output already converted
  std::uint32_t held_ = 0;       // bytes of input in input_
  std::uint32_t remaining_ = 0;  // bytes of the stream not yet read from the file
  bool bounded_ = false;         // remaining_ counts: the file's size is known
  bool ended_ = false;           // the last frame has been decoded
  std::int32_t sampleRate_ = 0;
  std::int32_t bitsPerSample_ = 0;
  std::int32_t channels_ = 0;
  std::int32_t outputWidth_ = 0;
  std::unique_ptr<MadState> mad_;                      // live exactly while opened_
  std::unique_ptr<unsigned char, FreeDeleter> input_;  // kInputCapacity bytes while opened_
  std::uint32_t inputCapacity_ = 0;
  bool guardAppended_ = false;  // the zero bytes libmad needs after the last frame
  std::unique_ptr<decoding::FormatConverter> converter_;  // to the first frame's format
  std::int16_t scratch_[2 * 1152] = {};                   // one frame on its way to converter_
  std::int16_t output_[kMaxReadBytes / 2] = {};
};
