#include "app/mpris/open_uri.h"

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "app/shell_globals.h"
#include "platform/kernel/text.h"
#include "player/extension_tests.h"

namespace mpris {
namespace {

OpenUriResult Refuse(const char* errorName, std::string message) {
  OpenUriResult result;
  result.errorName = errorName;
  result.message = std::move(message);
  return result;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

bool IsSupportedName(const std::u16string& path) {
  const char16_t* p = path.c_str();
  return IsMp3File(p) || IsWavFile(p) || IsOggFile(p) || IsWmaFile(p) || IsApeFile(p) ||
         IsFlacFile(p);
}

}  // namespace

OpenUriResult ResolveOpenUri(std::string_view uri) {
  const std::string shown(uri.substr(0, 200));
  if (!StartsWithNoCase(uri, "file://")) {
    return Refuse(kErrorInvalidArgs, "Only file:// URIs can be opened: " + shown);
  }
  std::string_view rest = uri.substr(7);
  const std::size_t slash = rest.find('/');
  const std::string_view host = rest.substr(0, slash);
  const bool localHost = host.empty() || (host.size() == 9 && StartsWithNoCase(host, "localhost"));
  if (slash == std::string_view::npos || !localHost) {
    return Refuse(kErrorInvalidArgs, "Only files on this computer can be opened: " + shown);
  }
  const std::string_view encoded = rest.substr(slash);
  if (encoded.find_first_of("?#") != std::string_view::npos) {
    return Refuse(kErrorInvalidArgs,
                  "A file URI with a query or fragment cannot be opened: " + shown);
  }
  const std::optional<std::string> bytes = PercentDecode(encoded);
  if (!bytes || bytes->find('\0') != std::string::npos) {
    return Refuse(kErrorInvalidArgs, "Malformed file URI: " + shown);
  }

  std::u16string path = platform::FromUtf8(*bytes);
  if (!IsSupportedName(path)) {
    return Refuse(kErrorInvalidArgs,
                  "Only mp3, wav, ogg, wma, ape and flac files can be played: " + shown);
  }
  if (path.size() >= static_cast<std::size_t>(shell::kPathCapacity)) {
    return Refuse(kErrorInvalidArgs, "The file's path is too long to be played: " + shown);
  }
  struct stat info {};
  if (::stat(bytes->c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      ::access(bytes->c_str(), R_OK) != 0) {
    return Refuse(kErrorFileNotFound, "No readable file at " + shown);
  }

  OpenUriResult result;
  result.accepted = true;
  result.path = std::move(path);
  return result;
}

}  // namespace mpris
