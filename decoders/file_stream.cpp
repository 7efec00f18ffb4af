#include "decoders/file_stream.h"

#include "platform/kernel/strsafe.h"
#include "platform/ui/message_box.h"

namespace ui = platform::ui;

std::uint64_t CStream::GetSize() {
  const std::uint32_t saved = Seek(0, 1);
  const std::uint32_t size = Seek(0, 2);
  Seek(static_cast<std::int32_t>(saved), 0);
  return size;
}

void CStream::Reserved32(std::uint32_t) {}

void CStream::Reserved64(std::uint64_t value) { Reserved32(static_cast<std::uint32_t>(value)); }

std::uint32_t CHandleStream::Read(void* buffer, std::uint32_t byteCount) {
  std::uint32_t got = 0;
  return handle_.Read(buffer, byteCount, &got) ? got : 0;
}

std::uint32_t CHandleStream::Write(const void* buffer, std::uint32_t byteCount) {
  std::uint32_t written = 0;
  return handle_.Write(buffer, byteCount, &written) ? written : 0;
}

std::uint32_t CHandleStream::Seek(std::int32_t distance, std::uint16_t origin) {
  if (origin > 2) return platform::kInvalidSetFilePointer;
  return handle_.SetPointer(distance, static_cast<platform::SeekOrigin>(origin));
}

CFileStream::CFileStream(const char16_t* path) {
  if (handle_.OpenRead(path != nullptr ? path : u"")) return;
  char16_t text[520];
  platform::StringCbPrintfW(text, sizeof(text), u"Can not open file '%s'.",
                            {path != nullptr ? path : u""});
  ui::MessageBox(ui::GetActiveWindow(), text, u"Error", ui::MB_OK);
}

CFileStream::~CFileStream() { handle_.Close(); }
