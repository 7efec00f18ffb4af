// The Metadata map of the MPRIS Player interface, built from what the shell knows
// of the current file.
#pragma once

#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <string>
#include <string_view>

namespace mpris {

inline constexpr char kNoTrackId[] = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

struct TrackInfo {
  std::u16string path;        // empty when no file has been chosen
  std::u16string name;        // the name the title shows; the path's last part when empty
  std::int64_t lengthUs = 0;  // 0 when unknown
  std::uint64_t number = 0;   // distinguishes successive playbacks in the track id
};

// mpris:trackid always; xesam:url, xesam:title and (when known) mpris:length once
// there is a file.
QVariantMap BuildMetadata(const TrackInfo& track);

// A path named relative to the working directory (as on the command line) made
// absolute, since a URL cannot be relative; others unchanged.
std::u16string AbsolutePath(std::u16string_view path);

// "file://" and the path's bytes, percent-encoded except unreserved characters and '/'.
std::string FileUrl(std::u16string_view path);

// D-Bus text must be valid UTF-8: bytes of a non-UTF-8 file name become U+FFFD.
QString ToBusText(std::u16string_view text);

}  // namespace mpris
