#include "app/mpris/track_metadata.h"

#include <QDBusObjectPath>
#include <climits>
#include <unistd.h>

#include "platform/kernel/text.h"

namespace mpris {
namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

std::u16string LastPart(const std::u16string& path) {
  const std::size_t slash = path.find_last_of(u'/');
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::u16string AbsolutePath(std::u16string_view path) {
  if (path.empty() || path.front() == u'/') return std::u16string(path);
  char directory[PATH_MAX];
  if (::getcwd(directory, sizeof directory) == nullptr) return std::u16string(path);
  std::u16string absolute = platform::FromUtf8(directory);
  if (absolute.empty() || absolute.back() != u'/') absolute.push_back(u'/');
  return absolute + std::u16string(path);
}

std::string FileUrl(std::u16string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char byte : platform::ToUtf8(path)) {
    const auto c = static_cast<unsigned char>(byte);
    if (IsUnreserved(c) || c == '/') {
      url.push_back(byte);
    } else {
      url.push_back('%');
      url.push_back(kHex[c >> 4]);
      url.push_back(kHex[c & 0x0F]);
    }
  }
  return url;
}

QString ToBusText(std::u16string_view text) {
  const std::string bytes = platform::ToUtf8(text);
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QVariantMap BuildMetadata(const TrackInfo& track) {
  QVariantMap metadata;
  if (track.path.empty()) {
    metadata.insert(QStringLiteral("mpris:trackid"),
                    QVariant::fromValue(QDBusObjectPath(QString::fromLatin1(kNoTrackId))));
    return metadata;
  }
  const QString trackId = QStringLiteral("/org/tonaria/Tonaria/track/%1").arg(track.number);
  metadata.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(trackId)));
  metadata.insert(QStringLiteral("xesam:url"), QString::fromStdString(FileUrl(track.path)));
  const std::u16string title = track.name.empty() ? LastPart(track.path) : track.name;
  metadata.insert(QStringLiteral("xesam:title"), ToBusText(title));
  if (track.lengthUs > 0) {
    metadata.insert(QStringLiteral("mpris:length"), static_cast<qlonglong>(track.lengthUs));
  }
  return metadata;
}

}  // namespace mpris
