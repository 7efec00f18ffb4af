#include "player/extension_tests.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  const char16_t* name;
  int mp3, wav, ogg, wma, ape, flac;
};

class ExtensionTests : public ::testing::TestWithParam<Case> {};

TEST_P(ExtensionTests, MatchesOnlyTheLastCharacters) {
  const Case& c = GetParam();
  EXPECT_EQ(IsMp3File(c.name), c.mp3);
  EXPECT_EQ(IsWavFile(c.name), c.wav);
  EXPECT_EQ(IsOggFile(c.name), c.ogg);
  EXPECT_EQ(IsWmaFile(c.name), c.wma);
  EXPECT_EQ(IsApeFile(c.name), c.ape);
  EXPECT_EQ(IsFlacFile(c.name), c.flac);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ExtensionTests,
    ::testing::Values(Case{u"song.mp3", 1, 0, 0, 0, 0, 0}, Case{u"SONG.MP3", 1, 0, 0, 0, 0, 0},
                      Case{u"a.Mp3", 1, 0, 0, 0, 0, 0}, Case{u"songmp3", 1, 0, 0, 0, 0, 0},
                      Case{u"song.mp3 ", 0, 0, 0, 0, 0, 0}, Case{u"song.mp", 0, 0, 0, 0, 0, 0},
                      Case{u"x.FLAC", 0, 0, 0, 0, 0, 1}, Case{u"x.flac", 0, 0, 0, 0, 0, 1},
                      Case{u"x.wav", 0, 1, 0, 0, 0, 0}, Case{u"x.OGG", 0, 0, 1, 0, 0, 0},
                      Case{u"x.wma", 0, 0, 0, 1, 0, 0}, Case{u"x.Ape", 0, 0, 0, 0, 1, 0},
                      Case{u"/music/\u00e9t\u00e9.mp3", 1, 0, 0, 0, 0, 0},
                      Case{u"p3", 0, 0, 0, 0, 0, 0}, Case{u"a", 0, 0, 0, 0, 0, 0},
                      Case{u"", 0, 0, 0, 0, 0, 0}, Case{u"lac", 0, 0, 0, 0, 0, 0},
                      Case{u"x.m\u00d03", 0, 0, 0, 0, 0, 0},  // non-ASCII letters never match
                      Case{nullptr, 0, 0, 0, 0, 0, 0}));

}  // namespace
