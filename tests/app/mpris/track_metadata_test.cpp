// The Metadata map and the file URL it carries.
#include "app/mpris/track_metadata.h"

#include <QDBusObjectPath>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/kernel/text.h"

namespace {

using mpris::BuildMetadata;
using mpris::TrackInfo;

QString TrackId(const QVariantMap& metadata) {
  return metadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path();
}

TEST(TrackMetadata, FileGivesUrlTitleAndKnownLengthAndNoFileTheNoTrackId) {
  const QVariantMap none = BuildMetadata(TrackInfo{});
  EXPECT_EQ(none.size(), 1);
  EXPECT_EQ(TrackId(none), QString::fromLatin1(mpris::kNoTrackId));

  TrackInfo track{u"/music/a b/Song.flac", u"Song.flac", 183'000'000, 7};
  QVariantMap metadata = BuildMetadata(track);
  EXPECT_EQ(TrackId(metadata), QStringLiteral("/org/tonaria/Tonaria/track/7"));
  EXPECT_EQ(metadata.value(QStringLiteral("xesam:url")).toString(),
            QStringLiteral("file:///music/a%20b/Song.flac"));
  EXPECT_EQ(metadata.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("Song.flac"));
  EXPECT_EQ(metadata.value(QStringLiteral("mpris:length")).toLongLong(), 183'000'000);

  track.lengthUs = 0;
  track.name.clear();
  metadata = BuildMetadata(track);
  EXPECT_FALSE(metadata.contains(QStringLiteral("mpris:length")));
  EXPECT_EQ(metadata.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("Song.flac"));
}

TEST(TrackMetadata, RelativePathsAreTakenFromTheWorkingDirectory) {
  char directory[4096];
  ASSERT_NE(::getcwd(directory, sizeof directory), nullptr);
  const std::string here = std::string(directory) == "/" ? "" : directory;
  EXPECT_EQ(platform::ToUtf8(mpris::AbsolutePath(u"song.wav")), here + "/song.wav");
  EXPECT_EQ(mpris::AbsolutePath(u"/music/song.wav"), u"/music/song.wav");
  EXPECT_EQ(mpris::AbsolutePath(u""), u"");
}

TEST(TrackMetadata, UrlEscapesEverythingButUnreservedAndSlashAndBusTextIsValid) {
  EXPECT_EQ(mpris::FileUrl(u"/a b/#1 %ü~_.-.mp3"), "file:///a%20b/%231%20%25%C3%BC~_.-.mp3");
  EXPECT_EQ(mpris::FileUrl(platform::FromUtf8("/x\xff.ogg")), "file:///x%FF.ogg");
  EXPECT_EQ(mpris::ToBusText(platform::FromUtf8("a\xff.ogg")), QStringLiteral("a\uFFFD.ogg"));
}

}  // namespace
