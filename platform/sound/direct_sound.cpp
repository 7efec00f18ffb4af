#include "platform/sound/direct_sound.h"

#include <algorithm>

namespace platform::sound {

bool Guid::IsNull() const {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

HRESULT LockRegions(std::uint8_t* base, std::uint32_t size, std::uint32_t offset,
                    std::uint32_t bytes, std::uint32_t flags, void** region1, std::uint32_t* size1,
                    void** region2, std::uint32_t* size2) {
  if (region1 == nullptr || size1 == nullptr) return DSERR_INVALIDPARAM;
  if ((flags & DSBLOCK_ENTIREBUFFER) != 0) {
    offset = 0;
    bytes = size;
  }
  if (size == 0 || offset >= size || bytes == 0 || bytes > size) return DSERR_INVALIDPARAM;
  const std::uint32_t first = std::min(bytes, size - offset);
  const std::uint32_t second = bytes - first;
  if (second > 0 && (region2 == nullptr || size2 == nullptr)) return DSERR_INVALIDPARAM;
  *region1 = base + offset;
  *size1 = first;
  if (region2 != nullptr) *region2 = second > 0 ? base : nullptr;
  if (size2 != nullptr) *size2 = second;
  return DS_OK;
}

// Two 64-bit FNV-1a hashes with different offsets: enough to keep names apart.
Guid DeviceGuid(bool isPlayback, const char* name, int occurrence) {
  std::uint64_t h1 = 0xcbf29ce484222325ull;
  std::uint64_t h2 = 0x84222325cbf29ce4ull;
  auto mix = [&](std::uint8_t byte) {
    h1 = (h1 ^ byte) * 0x100000001b3ull;
    h2 = (h2 ^ byte) * 0x100000001b3ull;
    h2 ^= h2 >> 29;
  };
  mix(isPlayback ? 'P' : 'C');
  for (const char* p = name != nullptr ? name : ""; *p != '\0'; ++p)
    mix(static_cast<std::uint8_t>(*p));
  mix(0);
  mix(static_cast<std::uint8_t>(occurrence));
  mix(static_cast<std::uint8_t>(occurrence >> 8));
  Guid guid;
  for (int i = 0; i < 8; ++i) {
    guid.bytes[i] = static_cast<std::uint8_t>(h1 >> (8 * i));
    guid.bytes[8 + i] = static_cast<std::uint8_t>(h2 >> (8 * i));
  }
  if (guid.IsNull()) guid.bytes[0] = 1;  // the null GUID means "default"
  return guid;
}

}  // namespace platform::sound
