// Turns a URI handed to OpenUri into a path the shell may play, or says why not.
#pragma once

#include <string>
#include <string_view>

namespace mpris {

inline constexpr char kErrorInvalidArgs[] = "org.freedesktop.DBus.Error.InvalidArgs";
inline constexpr char kErrorFileNotFound[] = "org.freedesktop.DBus.Error.FileNotFound";

struct OpenUriResult {
  bool accepted = false;
  std::u16string path;    // when accepted: the decoded local path
  std::string errorName;  // when refused: the D-Bus error to answer with
  std::string message;    // when refused: one line for the caller
};

// Accepts only a file:// URI (empty or "localhost" host, no query or fragment)
// whose decoded path fits the shell's path buffer, passes one of the six
// extension tests and names an existing regular file. Percent-escapes decode to
// bytes, which need not be UTF-8.
OpenUriResult ResolveOpenUri(std::string_view uri);

}  // namespace mpris
