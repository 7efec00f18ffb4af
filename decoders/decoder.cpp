#include "decoders/decoder.h"

#include "platform/kernel/strsafe.h"

platform::HRESULT CDecoder::StorePath(char16_t (&field)[kPathCapacity], const char16_t* path) {
  return platform::StringCchCopyW(field, kPathCapacity, path);
}

// A decoder that does not override these cannot seek.
std::int32_t CDecoder::SeekToFrame(std::uint64_t) { return kSeekRefused; }
bool CDecoder::CanSeek() { return false; }
std::uint64_t CDecoder::GetLengthInFrames() { return 0; }
