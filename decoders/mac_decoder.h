// APE decoding. The decompressor hands out whole interleaved 16-bit blocks;
// Read passes on as many as fit in 4608 bytes.
#pragma once

#include <cstdint>
#include <memory>

#include "decoders/decoder.h"
#include "platform/ape/ape_decompress.h"

class CMACDecoder final : public CDecoder {
 public:
  CMACDecoder() = default;
  ~CMACDecoder() override;

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
  char16_t widePath_[kPathCapacity] = {};
  std::int32_t opened_ = 0;
  std::int32_t sampleRate_ = 0;
  std::int32_t bitsPerSample_ = 0;
  std::int32_t channels_ = 0;
  std::int32_t blockAlign_ = 0;
  char stagingBuffer_[kMaxReadBytes];
  std::unique_ptr<platform::ape::IAPEDecompress> decompressor_;  // live exactly while opened_
};
