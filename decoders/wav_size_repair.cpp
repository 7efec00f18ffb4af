#include "decoders/wav_size_repair.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace decoding {
namespace {

constexpr int kMostChunks = 64;  // before the data chunk; more means it is not a WAV we know

std::uint32_t LittleEndian32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void PutLittleEndian32(std::uint8_t* p, std::int64_t value) {
  const auto v = static_cast<std::uint32_t>(std::min<std::int64_t>(value, 0xFFFFFFFF));
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Puts `patch` (4 bytes that belong at file offset `at`) over the part of
// buffer, which holds the bytes from `from` on, that it covers.
void Overlay(std::uint8_t* buffer, std::int64_t from, std::int64_t count, std::int64_t at,
             const std::uint8_t* patch) {
  for (int i = 0; i < 4; ++i) {
    const std::int64_t offset = at + i - from;
    if (offset >= 0 && offset < count) buffer[offset] = patch[i];
  }
}

}  // namespace

bool WavSizeRepair::Open(const std::string& path) {
  // Only a file can be looked into first: a pipe's bytes would be gone.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  file_.reset(std::fopen(path.c_str(), "rb"));
  if (!file_ || fseeko(file_.get(), 0, SEEK_END) != 0) return false;
  size_ = ftello(file_.get());
  std::uint8_t head[12];
  if (fseeko(file_.get(), 0, SEEK_SET) != 0 || std::fread(head, 1, 12, file_.get()) != 12 ||
      std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) {
    return false;
  }
  std::int64_t at = 12;
  for (int i = 0; i < kMostChunks; ++i) {
    std::uint8_t chunk[8];
    if (fseeko(file_.get(), at, SEEK_SET) != 0 || std::fread(chunk, 1, 8, file_.get()) != 8)
      return false;
    const std::uint32_t size = LittleEndian32(chunk + 4);
    if (std::memcmp(chunk, "data", 4) == 0) {
      const std::int64_t samples = size_ - (at + 8);
      if (size != 0 || samples <= 0) return false;
      PutLittleEndian32(riffSize_, size_ - 8);
      dataSizeAt_ = at + 4;
      PutLittleEndian32(dataSize_, samples);
      position_ = 0;
      return true;
    }
    at += 8 + std::int64_t{size} + (size & 1);  // chunks are padded to even sizes
  }
  return false;
}

SNDFILE* WavSizeRepair::OpenSndFile(SF_INFO* info) {
  static SF_VIRTUAL_IO io = {Length, Seek, Read, nullptr, Tell};
  return sf_open_virtual(&io, SFM_READ, info, this);
}

sf_count_t WavSizeRepair::Length(void* self) { return static_cast<WavSizeRepair*>(self)->size_; }

sf_count_t WavSizeRepair::Seek(sf_count_t offset, int whence, void* self) {
  auto* view = static_cast<WavSizeRepair*>(self);
  const sf_count_t base = whence == SEEK_CUR   ? view->position_
                          : whence == SEEK_END ? view->size_
                                               : 0;
  if (base + offset < 0) return -1;
  view->position_ = base + offset;
  return view->position_;
}

sf_count_t WavSizeRepair::Read(void* buffer, sf_count_t count, void* self) {
  auto* view = static_cast<WavSizeRepair*>(self);
  if (count <= 0 || fseeko(view->file_.get(), view->position_, SEEK_SET) != 0) return 0;
  const auto got = static_cast<sf_count_t>(
      std::fread(buffer, 1, static_cast<std::size_t>(count), view->file_.get()));
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  Overlay(bytes, view->position_, got, 4, view->riffSize_);
  Overlay(bytes, view->position_, got, view->dataSizeAt_, view->dataSize_);
  view->position_ += got;
  return got;
}

sf_count_t WavSizeRepair::Tell(void* self) { return static_cast<WavSizeRepair*>(self)->position_; }

}  // namespace decoding
