#include "platform/kernel/file.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/kernel/text.h"

namespace platform {
namespace {

std::uint64_t ToFileTime(const timespec& t) {
  constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600ull;
  return (static_cast<std::uint64_t>(t.tv_sec) + kSecondsFrom1601To1970) * 10'000'000ull +
         static_cast<std::uint64_t>(t.tv_nsec) / 100;
}

}  // namespace

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

File::~File() { Close(); }

bool File::OpenRead(std::u16string_view path) {
  Close();
  const std::string narrow = ToUtf8(path);
  if (narrow.empty()) return false;
  const int fd = ::open(narrow.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void File::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool File::Read(void* buffer, std::uint32_t byteCount, std::uint32_t* bytesRead) {
  *bytesRead = 0;
  if (fd_ < 0) return false;
  auto* out = static_cast<char*>(buffer);
  std::uint32_t total = 0;
  while (total < byteCount) {
    const ssize_t n = ::read(fd_, out + total, byteCount - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    total += static_cast<std::uint32_t>(n);
  }
  *bytesRead = total;
  return true;
}

bool File::Write(const void* buffer, std::uint32_t byteCount, std::uint32_t* bytesWritten) {
  *bytesWritten = 0;
  if (fd_ < 0) return false;
  const ssize_t n = ::write(fd_, buffer, byteCount);
  if (n < 0) return false;
  *bytesWritten = static_cast<std::uint32_t>(n);
  return true;
}

std::uint32_t File::SetPointer(std::int32_t distance, SeekOrigin origin) {
  if (fd_ < 0) return kInvalidSetFilePointer;
  const int whence = origin == SeekOrigin::kBegin     ? SEEK_SET
                     : origin == SeekOrigin::kCurrent ? SEEK_CUR
                                                      : SEEK_END;
  const off_t now = ::lseek(fd_, 0, SEEK_CUR);
  const off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? now : ::lseek(fd_, 0, SEEK_END);
  const off_t target = base + distance;
  if (now < 0 || base < 0 || target < 0 || target >= static_cast<off_t>(kInvalidSetFilePointer)) {
    if (now >= 0) ::lseek(fd_, now, SEEK_SET);
    return kInvalidSetFilePointer;
  }
  return ::lseek(fd_, target, SEEK_SET) < 0 ? kInvalidSetFilePointer
                                            : static_cast<std::uint32_t>(target);
}

bool File::GetInformation(FileInformation* info) const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
  info->size = static_cast<std::uint64_t>(st.st_size);
  info->times.lastWrite = ToFileTime(st.st_mtim);
  info->times.creation = ToFileTime(st.st_ctim);
  info->times.lastAccess = ToFileTime(st.st_atim);
  return true;
}

}  // namespace platform
