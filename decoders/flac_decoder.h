// FLAC decoding over libFLAC's stream decoder. libFLAC pushes whole frames into
// the write callback; they are kept in a reservoir as 16-bit frames (whatever the
// stream's sample size, more than two channels mixed to stereo) and handed out at
// most 576 frames per Read.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <FLAC/stream_decoder.h>

#include "decoders/decoder.h"
#include "decoders/downmix.h"

class CFLACDecoder final : public CDecoder {
 public:
  static constexpr std::uint32_t kFramesPerRead = 576;
  // Twice the largest FLAC block: a Read asks for a frame only while fewer than
  // kFramesPerRead frames are held, so one more block always fits.
  static constexpr std::uint32_t kReservoirFrames = 131070;

  CFLACDecoder();
  ~CFLACDecoder() override;

  platform::HRESULT SetFile(const char16_t* path) override;
  std::int32_t Open() override;
  void Close() override;
  std::int32_t GetSampleRate() override { return static_cast<std::int32_t>(sampleRate_); }
  std::int32_t GetBitsPerSample() override { return bitsPerSample_; }
  std::int32_t GetChannels() override { return channels_; }
  std::uint32_t Read(void* buffer, std::uint32_t capacity) override;
  std::int32_t SeekToFrame(std::uint64_t frame) override;
  bool CanSeek() override;
  std::uint64_t GetLengthInFrames() override;

  // Frames decoded but not handed out yet.
  std::uint32_t HeldFrames() const { return held_; }

 private:
  struct StreamDecoderDeleter {
    void operator()(FLAC__StreamDecoder* decoder) const;
  };

  static FLAC__StreamDecoderWriteStatus WriteCallback(const FLAC__StreamDecoder* decoder,
                                                      const FLAC__Frame* frame,
                                                      const FLAC__int32* const planes[],
                                                      void* client);
  static void MetadataCallback(const FLAC__StreamDecoder* decoder,
                               const FLAC__StreamMetadata* metadata, void* client);
  static void ErrorCallback(const FLAC__StreamDecoder* decoder,
                            FLAC__StreamDecoderErrorStatus status, void* client);
  // Appends one decoded frame to the reservoir as 16-bit frames; false if it cannot fit.
  bool Append(const FLAC__Frame& frame, const FLAC__int32* const planes[]);
  // Releases libFLAC's state, shows the message and returns Open's failure result.
  std::int32_t Fail(const char16_t* text);

  // All fields: the window's thread until Open returns, the playback thread after
  // (the callbacks run inside libFLAC calls made from those threads).
  char16_t widePath_[kPathCapacity] = {};
  std::int32_t opened_ = 0;
  std::uint32_t sampleRate_ = 0;      // from STREAMINFO
  std::uint32_t sourceBits_ = 0;      // from STREAMINFO
  std::uint32_t sourceChannels_ = 0;  // from STREAMINFO
  std::uint64_t totalFrames_ = 0;     // from STREAMINFO; 0 when the encoder did not know it
  bool seekable_ = false;             // a regular file, which libFLAC can move in
  bool ended_ = false;                // a seek past the end: Read gives nothing more
  std::int32_t bitsPerSample_ = 0;    // delivered: 16 once open
  std::int32_t channels_ = 0;         // delivered: 1 or 2 once open
  std::uint8_t staging_[kMaxReadBytes] = {};
  // Live exactly while opened_; a failed Open deletes it at once.
  std::unique_ptr<FLAC__StreamDecoder, StreamDecoderDeleter> decoder_;
  decoding::StereoMix mix_;              // for frames of more than two channels
  std::vector<std::int16_t> reservoir_;  // kReservoirFrames interleaved frames of channels_
  std::uint32_t held_ = 0;               // frames in reservoir_, from its start
};
