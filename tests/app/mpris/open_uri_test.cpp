// Which URIs OpenUri plays, and which it refuses with which D-Bus error. Only the
// name and the file's existence count, so the files here hold no sound.
#include "app/mpris/open_uri.h"

#include <fstream>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/kernel/text.h"
#include "tests/support/audio_fixtures.h"

namespace {

using mpris::kErrorFileNotFound;
using mpris::kErrorInvalidArgs;
using mpris::ResolveOpenUri;

class OpenUri : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = testing_support::TempPath("open_uri");
    ::mkdir(dir_.c_str(), 0755);
    for (const char* name :
         {"song.wav", "my song.mp3", "Ünïcode.flac", "\xff.ogg", "songwma", "notes.txt"}) {
      std::ofstream(dir_ + "/" + name) << "x";
    }
    ::mkdir((dir_ + "/folder.mp3").c_str(), 0755);
  }

  static std::string Uri(const std::string& encodedName) {
    return "file://" + dir_ + "/" + encodedName;
  }

  static inline std::string dir_;
};

// Local files of the six types play; everything else is refused with a reason.
TEST_F(OpenUri, PlaysLocalFilesOfTheSixTypesAndRefusesTheRest) {
  struct Row {
    std::string uri;
    std::string result;  // the path (bytes) it plays, or the error it is refused with
  };
  const std::string invalid = kErrorInvalidArgs;
  const Row rows[] = {
      {Uri("song.wav"), dir_ + "/song.wav"},
      {"FILE://localhost" + dir_ + "/song.wav", dir_ + "/song.wav"},
      {Uri("my%20song.mp3"), dir_ + "/my song.mp3"},
      {Uri("%C3%9Cn%C3%AFcode.flac"), dir_ + "/Ünïcode.flac"},
      {Uri("Ünïcode.flac"), dir_ + "/Ünïcode.flac"},
      {Uri("%FF.ogg"), dir_ + "/\xff.ogg"},  // not UTF-8: kept byte for byte
      {Uri("songwma"), dir_ + "/songwma"},   // the engine's rule: the dot is not looked at
      {"", invalid},
      {"song.wav", invalid},
      {"file:", invalid},
      {"file://", invalid},
      {"http://example.com/song.mp3", invalid},
      {"file://otherhost" + dir_ + "/song.wav", invalid},
      {Uri("song.wav?start=3"), invalid},
      {Uri("song.wav#t=3"), invalid},
      {Uri("song%2"), invalid},
      {Uri("song%zz.wav"), invalid},
      {Uri("song%00.wav"), invalid},
      {Uri("notes.txt"), invalid},
      {Uri("missing.mp3"), kErrorFileNotFound},
      {Uri("folder.mp3"), kErrorFileNotFound},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.uri);
    const mpris::OpenUriResult result = ResolveOpenUri(row.uri);
    if (row.result.starts_with('/')) {
      EXPECT_TRUE(result.accepted) << result.message;
      EXPECT_EQ(platform::ToUtf8(result.path), row.result);
    } else {
      EXPECT_FALSE(result.accepted);
      EXPECT_EQ(result.errorName, row.result);
      EXPECT_FALSE(result.message.empty());
      EXPECT_EQ(result.message.find('\n'), std::string::npos);
    }
  }
}

// The shell keeps 259 characters and a terminator; a longer path would be cut
// into the name of some other file.
TEST_F(OpenUri, PathMustFitTheShellsBuffer) {
  if (dir_.size() > 140) GTEST_SKIP() << "temporary folder path too long: " << dir_;
  const std::string deep = dir_ + "/" + std::string(150 - dir_.size(), 'd');
  ::mkdir(deep.c_str(), 0755);
  const std::size_t room = 259 - (deep.size() + 1);
  ASSERT_GT(room, 5u);
  const std::string fits = deep + "/" + std::string(room - 4, 'f') + ".mp3";
  const std::string tooLong = deep + "/" + std::string(room - 3, 'f') + ".mp3";
  ASSERT_EQ(fits.size(), 259u);
  for (const std::string& path : {fits, tooLong}) std::ofstream(path) << "x";

  EXPECT_TRUE(ResolveOpenUri("file://" + fits).accepted);
  const mpris::OpenUriResult refused = ResolveOpenUri("file://" + tooLong);
  EXPECT_FALSE(refused.accepted);
  EXPECT_EQ(refused.errorName, kErrorInvalidArgs);
}

}  // namespace
