// What a WAV header says that libsndfile does not act on, and a view of the file
// through which libsndfile reads it as other players do:
// - a data chunk whose size was never filled in (a recorder cut off, or a writer
//   that sends the header first) says 0 bytes while samples follow: the view
//   shows the RIFF and data sizes of what the file really holds;
// - BW64, the broadcast twin of RF64 with the same layout, is shown as RF64;
// - a compressed format's fact chunk gives the file's true frame count, which
//   the last block, padded to its full size, would overrun.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <sndfile.h>

namespace decoding {

class WavHeaderView {
 public:
  // Reads the header when path is a regular RIFF, RF64 or BW64 WAVE file; false
  // for anything else (a pipe's bytes would be gone once looked at).
  bool Open(const std::string& path);
  // The header needs mending: libsndfile must read the file through this view.
  bool NeedsMending() const { return !patches_.empty(); }
  // The frame count of a compressed format's fact chunk; -1 when there is none.
  std::int64_t FactFrames() const { return factFrames_; }
  // libsndfile over the mended view; this object must outlive the handle.
  SNDFILE* OpenSndFile(SF_INFO* info);

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  // Four bytes shown at a file offset in place of the file's own.
  struct Patch {
    std::int64_t at;
    std::uint8_t bytes[4];
  };
  static sf_count_t Length(void* self);
  static sf_count_t Seek(sf_count_t offset, int whence, void* self);
  static sf_count_t Read(void* buffer, sf_count_t count, void* self);
  static sf_count_t Tell(void* self);

  std::unique_ptr<std::FILE, FileCloser> file_;
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;  // of the view, which libsndfile moves
  std::vector<Patch> patches_;
  std::int64_t factFrames_ = -1;
};

}  // namespace decoding
