// Where the MPEG audio of a file lies: after the ID3v2 tags at its start (album
// art and all) and before the ID3v1, APEv2 or appended ID3v2 tags at its end.
// Tag bodies are never handed to the decoder: picture data is full of byte runs
// that look like frame headers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/kernel/file.h"

namespace decoding {

// Bytes taken by the ID3v2 tag (versions 2.2 to 2.4) whose header starts at head:
// header, body and, in 2.4, the footer its flags announce. 0 when head (at least
// 10 bytes) is not such a header.
std::uint32_t Id3v2TagSize(const std::uint8_t* head);

// Bytes taken by the one tag that ends exactly at the end of tail (ID3v1, APEv2
// with or without its header, or ID3v2.4 with a footer); 0 when none ends there or
// when it would reach back past the first `room` bytes of the file.
std::uint32_t TrailingTagSize(const std::uint8_t* tail, std::size_t length, std::uint64_t room);

struct AudioSpan {
  std::uint32_t begin = 0;  // first byte after the leading tags
  std::uint32_t end = 0;    // one past the last byte before the trailing tags
};

// Finds the span in an open file of `size` bytes; the file position is left
// anywhere. Files of 2 GiB and more are looked at only in their first 2 GiB.
AudioSpan FindAudioSpan(platform::File& file, std::uint64_t size);

inline constexpr std::uint32_t kTagHeadBytes = 10;

// For a stream that cannot seek (a pipe) or whose size is unknown: reads past the
// ID3v2 tags at its start. The bytes read after them, kTagHeadBytes or fewer at
// the end, are left in head for the caller. False on a read error.
bool SkipLeadingTags(platform::File& file, std::uint8_t (&head)[kTagHeadBytes],
                     std::uint32_t* headBytes);

}  // namespace decoding
