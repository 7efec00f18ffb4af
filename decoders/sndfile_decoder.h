// WAV decoding over libsndfile. Whatever the file's sample format, libsndfile
// converts to 16-bit signed samples; more than two channels are mixed to stereo.
#pragma once

#include <sndfile.h>

#include <cstdint>

#include "decoders/decoder.h"

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

 private:
  SNDFILE* handle_ = nullptr;  // owned; live exactly while opened_
  SF_INFO info_{};
  // Decoded samples of one Read, before a mix-down; room for 8 channels of the
  // frames that make up one 4608-byte stereo block.
  std::int16_t readBuffer_[kMaxReadBytes / 4 * 8];
  char16_t widePath_[kPathCapacity] = {};
  std::int32_t opened_ = 0;
  std::int32_t sampleRate_ = 0;
  std::int32_t bitsPerSample_ = 0;
  std::int32_t channels_ = 0;  // channels delivered: the file's, at most 2
};
