// A WAV whose data chunk size was never filled in (a recorder cut off, or a
// writer that sends the header first) says it holds 0 bytes of samples while
// they follow. libsndfile takes the 0 at its word; read through this view, the
// file shows the RIFF and data sizes of what it really holds, as other players
// read it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include <sndfile.h>

namespace decoding {

class WavSizeRepair {
 public:
  // True when path is a regular RIFF WAVE file whose data chunk says 0 bytes and
  // has bytes after its header; the view is then ready.
  bool Open(const std::string& path);
  // libsndfile over the repaired view; this object must outlive the handle.
  SNDFILE* OpenSndFile(SF_INFO* info);

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  static sf_count_t Length(void* self);
  static sf_count_t Seek(sf_count_t offset, int whence, void* self);
  static sf_count_t Read(void* buffer, sf_count_t count, void* self);
  static sf_count_t Tell(void* self);

  std::unique_ptr<std::FILE, FileCloser> file_;
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;  // of the view, which libsndfile moves
  std::uint8_t riffSize_[4] = {};
  std::int64_t dataSizeAt_ = 0;  // where the data chunk's size field lies
  std::uint8_t dataSize_[4] = {};
};

}  // namespace decoding
