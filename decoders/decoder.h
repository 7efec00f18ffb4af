// The decoder interface. One object per playback: SetFile, Open and the format
// queries on the window's thread, then Read until it returns 0 and destruction on
// the playback thread. Read delivers interleaved 16-bit signed little-endian
// frames, at most kMaxReadBytes per call, whatever capacity the caller offers.
#pragma once

#include <cstdint>

#include "platform/kernel/hresult.h"

class CDecoder {
 public:
  // Every path the shell accepts (259 characters and the terminator) fits.
  static constexpr std::uint32_t kPathCapacity = 260;
  // Callers must offer at least this much to Read.
  static constexpr std::uint32_t kMaxReadBytes = 4608;

  CDecoder() = default;
  CDecoder(const CDecoder&) = delete;
  CDecoder& operator=(const CDecoder&) = delete;

  // Derived destructors call their own Close first.
  virtual ~CDecoder() = default;
  // Stores the path to decode. 0 when it was stored whole, 0x8007007A when it
  // did not fit and was cut (Open then fails to find the file).
  virtual platform::HRESULT SetFile(const char16_t* path) = 0;
  // Opens the stored path and learns the format; nonzero when ready.
  virtual std::int32_t Open() = 0;
  // Releases the file and the library state; harmless when not open.
  virtual void Close() = 0;
  virtual std::int32_t GetSampleRate() = 0;
  virtual std::int32_t GetBitsPerSample() = 0;
  virtual std::int32_t GetChannels() = 0;
  // Fills buffer with PCM bytes; 0 means the end, an error, or not open.
  virtual std::uint32_t Read(void* buffer, std::uint32_t capacity) = 0;

  // Seeking, after the eight operations above (whose order stays). The engine
  // calls these on the playback thread between Reads, never during one, on an
  // open decoder; a time before the start is the engine's to make 0. Frames count
  // in the delivered format, from 0 at the first frame a linear decode delivers:
  // after SeekToFrame(n), Read gives what a linear decode gives from frame n on
  // (MP3 within libmad's dither). A seek after the end has been read is allowed.
  enum SeekResult : std::int32_t {
    kSeekRefused = 0,  // the stream cannot seek (a pipe, unknown size); nothing moved
    kSeekLanded = 1,   // the next Read starts exactly at the frame asked for
    kSeekPastEnd = 2,  // the frame is at or past the end: the next Read returns 0
  };
  // Moves so that the next Read delivers from `frame` on. A failure part-way
  // (the file went away) ends the stream as kSeekPastEnd does, which the engine
  // treats as the file's natural end.
  virtual std::int32_t SeekToFrame(std::uint64_t frame);
  // Whether SeekToFrame can succeed: the open stream has a known size and can
  // move (a chained Ogg file whose links differ in format cannot). After Open,
  // on the thread that reads.
  virtual bool CanSeek();
  // The stream's length in delivered frames; 0 when unknown (a pipe). MP3 reads
  // every frame header once for it (13 ms for an hour from the page cache); WMA
  // gives the length its header states, which may be off by a codec frame.
  virtual std::uint64_t GetLengthInFrames();

 protected:
  // The bounded copy every decoder makes of its path.
  static platform::HRESULT StorePath(char16_t (&field)[kPathCapacity], const char16_t* path);
};
