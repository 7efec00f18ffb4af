// WMA decoding through the sync reader: the file goes to the reader as an
// IStream (a CAudioStream over a CFileStream), the decoder picks the audio
// output and its widest PCM format, and Read hands on the reader's samples.
#pragma once

#include <cstdint>
#include <memory>
#include <thread>

#include "decoders/audio_stream.h"
#include "decoders/decoder.h"
#include "decoders/file_stream.h"
#include "platform/com/com_ptr.h"
#include "platform/kernel/file.h"
#include "platform/wmf/wmf.h"

class CWMADecoder final : public CDecoder {
 public:
  CWMADecoder();
  ~CWMADecoder() override;

  platform::HRESULT SetFile(const char16_t* path) override;
  std::int32_t Open() override;
  void Close() override;
  std::int32_t GetSampleRate() override { return static_cast<std::int32_t>(sampleRate_); }
  std::int32_t GetBitsPerSample() override { return bitsPerSample_; }
  std::int32_t GetChannels() override { return channels_; }
  std::uint32_t Read(void* buffer, std::uint32_t capacity) override;
  // The length comes from the file's stated duration, so it may be off by a part
  // of a codec frame; a seek between the true end and that length ends the stream.
  std::int32_t SeekToFrame(std::uint64_t frame) override;
  bool CanSeek() override;
  std::uint64_t GetLengthInFrames() override;

  // The file's length in 100-ns units as the reader reported it; 0 when unknown.
  std::uint64_t Duration() const { return readerContext_ ? readerContext_->duration : 0; }

 private:
  // What the decoder holds of the reader. Released in Close (or by a failed Open).
  struct ReaderContext {
    CAudioStream* audioStream = nullptr;  // the adapter as made; its reference is in stream
    platform::com::ComPtr<platform::wmf::IWMSyncReader> reader;
    platform::com::ComPtr<platform::wmf::INSSBuffer> currentSample;
    platform::com::ComPtr<platform::wmf::IWMHeaderInfo> headerInfo;
    std::uint32_t sampleOffset = 0;  // bytes of currentSample already handed out
    platform::com::ComPtr<platform::com::IStream> stream;
    std::uint16_t streamNumber = 0;
    std::uint32_t outputNumber = 0;
    std::int32_t found = 0;
    std::uint16_t channels = 0;       // of the output's default type
    std::uint32_t sampleRate = 0;     // of the output's default type
    std::uint16_t bitsPerSample = 0;  // best so far
    std::uint64_t duration = 0;
    // The taken format's own rate and channels, which a later audio output's
    // default type must not overwrite.
    std::uint16_t chosenChannels = 0;
    std::uint32_t chosenSampleRate = 0;
  };

  void OpenReaderContext();
  void ConsiderOutput(platform::wmf::IWMSyncReader* reader, std::uint32_t output);
  void ReleaseReaderContext();
  void ReleaseAll();
  void InitialiseReadThread();
  std::uint32_t TakeBytes(std::uint8_t* into, std::uint32_t want);

  char16_t widePath_[kPathCapacity] = {};
  std::int32_t opened_ = 0;
  std::unique_ptr<ReaderContext> readerContext_;
  platform::File fileHandle_;                // the decoder's own open of the file, held while open
  std::unique_ptr<CFileStream> fileStream_;  // outlives the adapter over it
  std::uint32_t sampleRate_ = 0;
  std::uint16_t bitsPerSample_ = 0;
  std::uint16_t channels_ = 0;
  std::uint8_t stagingBuffer_[kMaxReadBytes];
  // COM is initialised on the thread that reads (once, at its first Read) and
  // undone on that thread in Close; Open brackets its own use on its thread.
  bool readThreadInitialised_ = false;
  bool ended_ = false;  // a seek past the end or one that failed: Read gives nothing more
  std::thread::id readThread_;
};
