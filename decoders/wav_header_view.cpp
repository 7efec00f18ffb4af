#include "decoders/wav_header_view.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace decoding {
namespace {

constexpr int kMostChunks = 64;  // before the data chunk; more means it is not a WAV we know
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr std::uint32_t kSubFormatAt = 24;  // in an extensible fmt chunk: the real format tag

std::uint16_t LittleEndian16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t LittleEndian32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void PutLittleEndian32(std::uint8_t* p, std::int64_t value) {
  const auto v = static_cast<std::uint32_t>(std::min<std::int64_t>(value, 0xFFFFFFFF));
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool ReadAt(std::FILE* file, std::int64_t at, void* buffer, std::size_t count) {
  return fseeko(file, at, SEEK_SET) == 0 && std::fread(buffer, 1, count, file) == count;
}

}  // namespace

bool WavHeaderView::Open(const std::string& path) {
  patches_.clear();
  factFrames_ = -1;
  position_ = 0;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  file_.reset(std::fopen(path.c_str(), "rb"));
  if (!file_ || fseeko(file_.get(), 0, SEEK_END) != 0) return false;
  size_ = ftello(file_.get());
  std::FILE* file = file_.get();
  std::uint8_t head[12];
  if (!ReadAt(file, 0, head, sizeof(head)) || std::memcmp(head + 8, "WAVE", 4) != 0) return false;
  const bool riff = std::memcmp(head, "RIFF", 4) == 0;
  const bool bw64 = std::memcmp(head, "BW64", 4) == 0;
  if (!riff && !bw64 && std::memcmp(head, "RF64", 4) != 0) return false;
  if (bw64) patches_.push_back(Patch{0, {'R', 'F', '6', '4'}});

  std::uint16_t format = 0;
  std::uint32_t fact = 0;
  std::int64_t at = 12;
  for (int i = 0; i < kMostChunks; ++i) {
    std::uint8_t chunk[8];
    if (!ReadAt(file, at, chunk, sizeof(chunk))) break;
    const std::uint32_t size = LittleEndian32(chunk + 4);
    std::uint8_t body[kSubFormatAt + 2];
    if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 2 && ReadAt(file, at + 8, body, 2)) {
      format = LittleEndian16(body);
      if (format == kFormatExtensible && size >= kSubFormatAt + 2 &&
          ReadAt(file, at + 8, body, sizeof(body))) {
        format = LittleEndian16(body + kSubFormatAt);
      }
    } else if (std::memcmp(chunk, "fact", 4) == 0 && size >= 4 && ReadAt(file, at + 8, body, 4)) {
      fact = LittleEndian32(body);
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      const std::int64_t samples = size_ - (at + 8);
      if (riff && size == 0 && samples > 0) {
        Patch riffSize{4, {}};
        PutLittleEndian32(riffSize.bytes, size_ - 8);
        Patch dataSize{at + 4, {}};
        PutLittleEndian32(dataSize.bytes, samples);
        patches_.push_back(riffSize);
        patches_.push_back(dataSize);
      }
      break;
    }
    at += 8 + std::int64_t{size} + (size & 1);  // chunks are padded to even sizes
  }
  // PCM and float need no fact chunk, and some writers fill it wrongly; 0 and
  // all ones are what writers leave when they never fill it in.
  if (format != 0 && format != kFormatPcm && format != kFormatFloat && fact != 0 &&
      fact != 0xFFFFFFFF) {
    factFrames_ = fact;
  }
  return true;
}

SNDFILE* WavHeaderView::OpenSndFile(SF_INFO* info) {
  static SF_VIRTUAL_IO io = {Length, Seek, Read, nullptr, Tell};
  return sf_open_virtual(&io, SFM_READ, info, this);
}

sf_count_t WavHeaderView::Length(void* self) { return static_cast<WavHeaderView*>(self)->size_; }

sf_count_t WavHeaderView::Seek(sf_count_t offset, int whence, void* self) {
  auto* view = static_cast<WavHeaderView*>(self);
  const sf_count_t base = whence == SEEK_CUR   ? view->position_
                          : whence == SEEK_END ? view->size_
                                               : 0;
  if (base + offset < 0) return -1;
  view->position_ = base + offset;
  return view->position_;
}

sf_count_t WavHeaderView::Read(void* buffer, sf_count_t count, void* self) {
  auto* view = static_cast<WavHeaderView*>(self);
  if (count <= 0 || fseeko(view->file_.get(), view->position_, SEEK_SET) != 0) return 0;
  const auto got = static_cast<sf_count_t>(
      std::fread(buffer, 1, static_cast<std::size_t>(count), view->file_.get()));
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  for (const Patch& patch : view->patches_) {
    for (int i = 0; i < 4; ++i) {
      const std::int64_t offset = patch.at + i - view->position_;
      if (offset >= 0 && offset < got) bytes[offset] = patch.bytes[i];
    }
  }
  view->position_ += got;
  return got;
}

sf_count_t WavHeaderView::Tell(void* self) { return static_cast<WavHeaderView*>(self)->position_; }

}  // namespace decoding
