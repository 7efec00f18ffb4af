#include "decoders/mpeg_audio_span.h"

#include <algorithm>
#include <cstring>

namespace decoding {
namespace {

constexpr std::uint32_t kId3v1Bytes = 128;
constexpr std::uint32_t kApeFooterBytes = 32;
constexpr std::uint32_t kId3v2HeaderBytes = 10;
constexpr std::uint32_t kApeHasHeader = 0x80000000u;
constexpr std::uint32_t kApeIsHeader = 0x20000000u;
constexpr int kMostTags = 16;  // more in a row than any tagger writes: the rest is not a tag

std::uint32_t LittleEndian32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The 28-bit "syncsafe" size of ID3v2 headers and footers: 7 bits a byte.
bool SyncsafeSize(const std::uint8_t* p, std::uint32_t* size) {
  if ((p[0] | p[1] | p[2] | p[3]) & 0x80) return false;
  *size = (p[0] << 21) | (p[1] << 14) | (p[2] << 7) | p[3];
  return true;
}

// Bytes 3 to 9 of an ID3v2 header or footer: version, flags, size.
bool Id3v2Fields(const std::uint8_t* p, int* major, std::uint32_t* size) {
  *major = p[3];
  return *major >= 2 && *major <= 4 && p[4] != 0xFF && SyncsafeSize(p + 6, size);
}

}  // namespace

std::uint32_t Id3v2TagSize(const std::uint8_t* head) {
  int major = 0;
  std::uint32_t size = 0;
  if (std::memcmp(head, "ID3", 3) != 0 || !Id3v2Fields(head, &major, &size)) return 0;
  const bool footer = major == 4 && (head[5] & 0x10) != 0;
  return kId3v2HeaderBytes + size + (footer ? kId3v2HeaderBytes : 0);
}

std::uint32_t TrailingTagSize(const std::uint8_t* tail, std::size_t length, std::uint64_t room) {
  std::uint64_t size = 0;
  if (length >= kId3v1Bytes && std::memcmp(tail + length - kId3v1Bytes, "TAG", 3) == 0) {
    size = kId3v1Bytes;
  } else if (length >= kApeFooterBytes &&
             std::memcmp(tail + length - kApeFooterBytes, "APETAGEX", 8) == 0) {
    // The footer's size counts the items and the footer, not the optional header.
    const std::uint8_t* footer = tail + length - kApeFooterBytes;
    const std::uint32_t flags = LittleEndian32(footer + 20);
    const std::uint32_t counted = LittleEndian32(footer + 12);
    if ((flags & kApeIsHeader) != 0 || counted < kApeFooterBytes) return 0;
    size = std::uint64_t{counted} + ((flags & kApeHasHeader) != 0 ? kApeFooterBytes : 0);
  } else if (length >= kId3v2HeaderBytes &&
             std::memcmp(tail + length - kId3v2HeaderBytes, "3DI", 3) == 0) {
    int major = 0;
    std::uint32_t body = 0;
    if (!Id3v2Fields(tail + length - kId3v2HeaderBytes, &major, &body) || major != 4) return 0;
    size = std::uint64_t{body} + 2 * kId3v2HeaderBytes;
  }
  return size <= room ? static_cast<std::uint32_t>(size) : 0;
}

AudioSpan FindAudioSpan(platform::File& file, std::uint64_t size) {
  const auto limit = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0x7FFFFFFF));
  AudioSpan span{0, limit};
  for (int i = 0; i < kMostTags; ++i) {
    std::uint8_t head[kId3v2HeaderBytes];
    std::uint32_t got = 0;
    if (limit - span.begin < sizeof(head) ||
        file.SetPointer(static_cast<std::int32_t>(span.begin), platform::SeekOrigin::kBegin) !=
            span.begin ||
        !file.Read(head, sizeof(head), &got) || got != sizeof(head)) {
      break;
    }
    const std::uint32_t tag = Id3v2TagSize(head);
    if (tag == 0) break;
    // A tag that claims more than the file holds leaves no audio after it.
    span.begin = tag < limit - span.begin ? span.begin + tag : limit;
  }
  for (int i = 0; i < kMostTags && span.end > span.begin; ++i) {
    std::uint8_t tail[kId3v1Bytes];
    const std::uint32_t length = std::min<std::uint32_t>(sizeof(tail), span.end - span.begin);
    const std::uint32_t from = span.end - length;
    std::uint32_t got = 0;
    if (file.SetPointer(static_cast<std::int32_t>(from), platform::SeekOrigin::kBegin) != from ||
        !file.Read(tail, length, &got) || got != length) {
      break;
    }
    const std::uint32_t tag = TrailingTagSize(tail, length, span.end - span.begin);
    if (tag == 0) break;
    span.end -= tag;
  }
  return span;
}

bool SkipLeadingTags(platform::File& file, std::uint8_t (&head)[kTagHeadBytes],
                     std::uint32_t* headBytes) {
  for (int i = 0;; ++i) {
    if (!file.Read(head, kTagHeadBytes, headBytes)) return false;
    const std::uint32_t tag = *headBytes == kTagHeadBytes ? Id3v2TagSize(head) : 0;
    if (tag == 0 || i == kMostTags) return true;
    for (std::uint32_t left = tag - kTagHeadBytes; left > 0;) {
      std::uint8_t skipped[4096];
      std::uint32_t got = 0;
      if (!file.Read(skipped, std::min<std::uint32_t>(left, sizeof(skipped)), &got)) return false;
      if (got == 0) {
        // The tag claims more than the stream holds: no audio follows it.
        *headBytes = 0;
        return true;
      }
      left -= got;
    }
  }
}

}  // namespace decoding
