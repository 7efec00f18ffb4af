#include "decoders/ogg_link_check.h"

#include <cstdint>
#include <cstring>

#include <ogg/ogg.h>

#include "platform/kernel/file.h"

namespace decoding {
namespace {

// Frees libogg's sync buffer whichever way the scan ends.
struct SyncState {
  SyncState() { ogg_sync_init(&state); }
  ~SyncState() { ogg_sync_clear(&state); }
  SyncState(const SyncState&) = delete;
  SyncState& operator=(const SyncState&) = delete;
  ogg_sync_state state{};
};

}  // namespace

bool PagesLieInTheirLinks(std::u16string_view path, const OggVorbis_File& vf) {
  if (vf.links < 1 || vf.offsets == nullptr || vf.serialnos == nullptr) return false;
  platform::File file;
  if (!file.OpenRead(path)) return false;
  SyncState sync;
  constexpr std::uint32_t kChunk = 64 * 1024;
  std::int64_t pageStart = 0;  // file offset of the next byte libogg looks at
  int link = 0;
  for (;;) {
    ogg_page page;
    const long skipped = ogg_sync_pageseek(&sync.state, &page);
    if (skipped < 0) {  // bytes that are no page
      pageStart += -skipped;
      continue;
    }
    if (skipped > 0) {
      while (link + 1 < vf.links && pageStart >= vf.offsets[link + 1]) ++link;
      if (static_cast<long>(ogg_page_serialno(&page)) != vf.serialnos[link]) return false;
      pageStart += skipped;
      continue;
    }
    char* buffer = ogg_sync_buffer(&sync.state, kChunk);
    std::uint32_t got = 0;
    if (buffer == nullptr || !file.Read(buffer, kChunk, &got)) return false;
    if (got == 0) return true;
    ogg_sync_wrote(&sync.state, static_cast<long>(got));
  }
}

}  // namespace decoding
