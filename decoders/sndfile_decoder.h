// WAV decoding over libsndfile. Integer samples of any width come out as their
// top 16 bits, floating-point ones with 1.0 as full scale (clipped); more than
// two channels are mixed to stereo by the speaker layout the file declares, or
// the default one for its channel count. A compressed format stops at the
// frame count of its fact chunk; BW64 is read as the RF64 it is.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <sndfile.h>

#include "decoders/decoder.h"
#include "decoders/downmix.h"
#include "decoders/wav_header_view.h"

class CSndFileDecoder final : public CDecoder {
 public:
  CSndFileDecoder();
  ~CSndFileDecoder() override;

  platform::HRESULT SetFile(const char16_t* path) override;
  std::int32_t Open() override;
  void Close() override;
  std::int32_t GetSampleRate() override { return sampleRate_; }
  std::int32_t GetBitsPerSample() override { return bitsPerSample_; }
  std::int32_t GetChannels() override { return channels_; }
  std::uint32_t Read(void* buffer, std::uint32_t capacity) override;
  std::int32_t SeekToFrame(std::uint64_t frame) override;
  bool CanSeek() override;
  std::uint64_t GetLengthInFrames() override;

 private:
  // All fields: the window's thread until Open returns, the playback thread after.
  SNDFILE* handle_ = nullptr;  // owned; live exactly while opened_
  // The view libsndfile reads a file with a mended header through; outlives handle_.
  std::unique_ptr<decoding::WavHeaderView> view_;
  std::int64_t framesLeft_ = -1;  // before the fact chunk's end; -1: to the end of the data
  std::int64_t length_ = 0;       // frames in all: the fact chunk's count, else libsndfile's
  SF_INFO info_{};
  bool floatingPoint_ = false;                // the file holds float or double samples
  std::unique_ptr<decoding::StereoMix> mix_;  // when the file has more than two channels
  // One Read's frames of every channel of the file, sized at Open.
  std::vector<std::int16_t> shorts_;
  std::vector<double> doubles_;
  std::int16_t output_[kMaxReadBytes / 2];
  char16_t widePath_[kPathCapacity] = {};
  std::int32_t opened_ = 0;
  std::int32_t sampleRate_ = 0;
  std::int32_t bitsPerSample_ = 0;
  std::int32_t channels_ = 0;  // channels delivered: the file's, at most 2
};
