// Read-only (and, for the stream adapters, writable) file access by UTF-16 path,
// with 32-bit positions the way the decoders expect them.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

inline constexpr std::uint32_t kInvalidSetFilePointer = 0xFFFFFFFF;

enum class SeekOrigin : std::uint16_t { kBegin = 0, kCurrent = 1, kEnd = 2 };

struct FileTimes {
  std::uint64_t lastWrite = 0;  // 100-ns units since 1601-01-01, as file times are counted
  std::uint64_t creation = 0;   // the status-change time here: Linux keeps no birth time in stat
  std::uint64_t lastAccess = 0;
};

struct FileInformation {
  std::uint64_t size = 0;
  FileTimes times;
};

class File {
 public:
  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // Opens an existing regular file for reading. A directory does not open.
  bool OpenRead(std::u16string_view path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Reads up to byteCount bytes; false on an error (bytesRead is then 0).
  bool Read(void* buffer, std::uint32_t byteCount, std::uint32_t* bytesRead);
  bool Write(const void* buffer, std::uint32_t byteCount, std::uint32_t* bytesWritten);

  // Moves the position; returns the new position, or kInvalidSetFilePointer on failure
  // (including a result at or past 4 GiB or before the start).
  std::uint32_t SetPointer(std::int32_t distance, SeekOrigin origin);

  // Size and times of the open file; false when it is not open or cannot be read.
  bool GetInformation(FileInformation* info) const;

 private:
  int fd_ = -1;
};

}  // namespace platform
