#include "player/extension_tests.h"

#include <string>

#include <gtest/gtest.h>

namespace {

struct Case {
  const char16_t* name;
  const char* type = "";  // the one test that matches; none when empty
};

class ExtensionTests : public ::testing::TestWithParam<Case> {};

TEST_P(ExtensionTests, MatchesOnlyTheLastCharacters) {
  const std::pair<const char*, int (*)(const char16_t*)> tests[] = {
      {"mp3", IsMp3File}, {"wav", IsWavFile}, {"ogg", IsOggFile},
      {"wma", IsWmaFile}, {"ape", IsApeFile}, {"flac", IsFlacFile}};
  for (const auto& [type, test] : tests) {
    EXPECT_EQ(test(GetParam().name), std::string(type) == GetParam().type ? 1 : 0) << type;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, ExtensionTests,
    ::testing::Values(Case{.name = u"song.mp3", .type = "mp3"},
                      Case{.name = u"SONG.MP3", .type = "mp3"},
                      Case{.name = u"a.Mp3", .type = "mp3"},
                      Case{.name = u"songmp3", .type = "mp3"}, Case{.name = u"song.mp3 "},
                      Case{.name = u"song.mp"}, Case{.name = u"x.FLAC", .type = "flac"},
                      Case{.name = u"x.flac", .type = "flac"},
                      Case{.name = u"x.wav", .type = "wav"}, Case{.name = u"x.OGG", .type = "ogg"},
                      Case{.name = u"x.wma", .type = "wma"}, Case{.name = u"x.Ape", .type = "ape"},
                      Case{.name = u"/music/\u00e9t\u00e9.mp3", .type = "mp3"}, Case{.name = u"p3"},
                      Case{.name = u"a"}, Case{.name = u""}, Case{.name = u"lac"},
                      Case{.name = u"x.m\u00d03"},  // non-ASCII letters never match
                      Case{.name = nullptr}));

}  // namespace
