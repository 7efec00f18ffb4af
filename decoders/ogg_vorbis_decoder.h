// Ogg Vorbis decoding over vorbisfile, fed through our own file callbacks. Streams
// of one or two channels; a chained file (radio recordings) plays every link in
// turn, each converted to the first link's rate and channel count. Every Read
// fills 4608 bytes of 16-bit PCM except the last. Refusals are shown in message boxes.
#pragma once

#include <cstddef>
#include <cstdint>

// The header's static stdio callbacks are not used here.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <memory>

#include <vorbis/vorbisfile.h>

#include "decoders/decoder.h"
#include "decoders/format_converter.h"
#include "platform/kernel/file.h"

class COggVorbisDecoder final : public CDecoder {
 public:
  // Failed ov_read calls in a row, with no PCM between them, before the stream is
  // taken to have ended. vorbisfile reports each hole once and moves past it.
  static constexpr int kMaxFailuresWithoutProgress = 64;

  COggVorbisDecoder();
  ~COggVorbisDecoder() override;

  platform::HRESULT SetFile(const char16_t* path) override;
  std::int32_t Open() override;
  void Close() override;
  std::int32_t GetSampleRate() override { return sampleRate_; }
  std::int32_t GetBitsPerSample() override { return bitsPerSample_; }
  std::int32_t GetChannels() override { return channels_; }
  std::uint32_t Read(void* buffer, std::uint32_t capacity) override;
  // A chained file seeks only when every link has the first one's rate and
  // channel count: frames of converted links would not count as vorbisfile counts them.
  // The first seek reads the file once and refuses (and CanSeek turns false) where a
  // page lies outside its link, which vorbisfile's seek cannot survive.
  std::int32_t SeekToFrame(std::uint64_t frame) override;
  bool CanSeek() override;
  std::uint64_t GetLengthInFrames() override;

 private:
  // Owns vorbisfile's state: ov_clear exactly once for each successful open.
  class VorbisFile {
   public:
    VorbisFile() = default;
    VorbisFile(const VorbisFile&) = delete;
    VorbisFile& operator=(const VorbisFile&) = delete;
    ~VorbisFile() { Clear(); }
    // Negative vorbisfile result on failure; the data source is then not closed.
    int Open(void* source, const ov_callbacks& callbacks);
    // Releases the state and closes the data source through the close callback.
    void Clear();
    OggVorbis_File* get() { return &vf_; }

   private:
    OggVorbis_File vf_{};
    bool live_ = false;
  };

  // The four callbacks vorbisfile reads the file through; source is the decoder.
  static std::size_t ReadCallback(void* destination, std::size_t size, std::size_t count,
                                  void* source);
  static int SeekCallback(void* source, ogg_int64_t offset, int origin);
  static int CloseCallback(void* source);
  static long TellCallback(void* source);

  // All fields: the window's thread until Open returns, the playback thread after.
  VorbisFile vf_;                                         // live exactly while opened_
  std::int16_t pcm_[kMaxReadBytes / 2] = {};              // the block being filled
  std::int16_t link_[kMaxReadBytes / 2] = {};             // one ov_read, in its link's format
  std::unique_ptr<decoding::FormatConverter> converter_;  // to the first link's format
  char16_t path_[kPathCapacity] = {};
  platform::File file_;  // closed through vf_ once vorbisfile has it
  std::int32_t opened_ = 0;
  int section_ = 0;
  bool uniform_ = false;  // every link known at Open has the first one's format
  int pagesInLinks_ = 0;  // by the first seek: 1 every page lies in its link, -1 not
  bool ended_ = false;    // the last link, or a run of failures past the bound, ended the stream
  std::int32_t sampleRate_ = 0;
  std::int32_t bitsPerSample_ = 0;
  std::int32_t channels_ = 0;
};
