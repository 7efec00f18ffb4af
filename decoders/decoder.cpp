#include "decoders/decoder.h"

#include "platform/kernel/strsafe.h"

platform::HRESULT CDecoder::StorePath(char16_t (&field)[kPathCapacity], const char16_t* path) {
  return platform::StringCchCopyW(field, kPathCapacity, path);
}
