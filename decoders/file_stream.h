// Byte streams over a file, as the WMA decoder hands a file to the reader:
// CStream is the abstract stream, CHandleStream works on an open file handle and
// CFileStream opens that handle itself by path.
#pragma once

#include <cstdint>

#include "platform/kernel/file.h"

class CStream {
 public:
  CStream() = default;
  CStream(const CStream&) = delete;
  CStream& operator=(const CStream&) = delete;
  virtual ~CStream() = default;

  // Bytes read; 0 at the end or on an error.
  virtual std::uint32_t Read(void* buffer, std::uint32_t byteCount) = 0;
  // Bytes written; 0 on an error.
  virtual std::uint32_t Write(const void* buffer, std::uint32_t byteCount) = 0;
  // origin: 0 from the start, 1 from the current position, 2 from the end. The new
  // position, or platform::kInvalidSetFilePointer on failure.
  virtual std::uint32_t Seek(std::int32_t distance, std::uint16_t origin) = 0;
  // The size, leaving the position where it was.
  virtual std::uint64_t GetSize();
  virtual void Reserved32(std::uint32_t value);
  virtual void Reserved64(std::uint64_t value);
};

class CHandleStream : public CStream {
 public:
  std::uint32_t Read(void* buffer, std::uint32_t byteCount) override;
  std::uint32_t Write(const void* buffer, std::uint32_t byteCount) override;
  std::uint32_t Seek(std::int32_t distance, std::uint16_t origin) override;

  // The open file; not open when none could be opened.
  platform::File& Handle() { return handle_; }

 protected:
  platform::File handle_;
};

class CFileStream final : public CHandleStream {
 public:
  // Opens path for reading. When it can't, shows "Can not open file '<path>'."
  // and stays without a file, so that every read gives 0 bytes.
  explicit CFileStream(const char16_t* path);
  ~CFileStream() override;
};
