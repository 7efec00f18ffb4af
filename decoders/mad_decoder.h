// MP3 decoding over libmad. Open skips the tags around the audio and scans for
// the first run of agreeing MPEG frames (a leading Xing/Info frame gives way to
// the next for the format); Read then decodes from that frame, one 1152-frame
// step per call (576 at 22050 Hz), and turns libmad's fixed-point samples into
// 16-bit PCM with noise-shaped, dithered rounding. Frames of another channel
// count or rate (files joined from different encodes) are converted to the
// first frame's format. A pipe, or any file of unknown size, is read forward
// only: the tags at its start are stepped over, those at its end are not looked for.
// Seeking finds frames by their headers (an index built as far as a seek needs)
// and decodes a few frames before the target, so that libmad has the bit
// reservoir and the filter history a linear decode would have had there.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

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
  // Frames count as libmad gives them, each at its own length: in a file joined
  // from encodes of other rates the position is in the source's frames.
  std::int32_t SeekToFrame(std::uint64_t frame) override;
  bool CanSeek() override;
  // Reads every frame header once (an index kept for later seeks).
  std::uint64_t GetLengthInFrames() override;

  // Frames decoded and thrown away before a seek's target: libmad's main data
  // may begin up to 511 bytes back, nine frames at the lowest bitrates, and the
  // synthesis filter and the overlap of the frame before need one more.
  static constexpr std::uint32_t kPrerollFrames = 10;

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
  // Extends the frame index until it covers `frame` or the audio ends.
  void IndexTo(std::uint64_t frame);
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
  bool guardAppended_ = false;     // the zero bytes libmad needs after the last frame
  std::uint32_t inputOffset_ = 0;  // file offset of input_[0] (bounded files)
  std::uint32_t spanEnd_ = 0;      // file offset where the audio ends (bounded files)
  // The frame index: file offset and first delivered frame of each MPEG frame
  // found so far, from the first one on.
  std::vector<std::uint32_t> frameOffsets_;
  std::vector<std::uint64_t> frameStarts_;
  std::uint32_t indexNext_ = 0;    // file offset where the index goes on
  std::uint64_t indexFrames_ = 0;  // delivered frames of the indexed MPEG frames
  bool indexComplete_ = false;
  std::unique_ptr<decoding::FormatConverter> converter_;  // to the first frame's format
  std::int16_t scratch_[2 * 1152] = {};                   // one frame on its way to converter_
  std::int16_t output_[kMaxReadBytes / 2] = {};
};
