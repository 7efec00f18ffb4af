// The media controls' interface seen from outside: a private session bus, the test
// host program on it, and playerctl (and dbus-send) asking it as a desktop would. How
// commands, files and metadata reach the real shell is tried on the real program
// (e2e_program.sh, seek_end_to_end_test.cpp).
#include <chrono>
#include <memory>
#include <regex>

#include <gtest/gtest.h>

#include "tests/support/audio_fixtures.h"
#include "tests/support/child_process.h"
#include "tests/support/playback_doubles.h"  // kBound

namespace {

using mpris_testing::ChildProcess;
using mpris_testing::CommandResult;
using mpris_testing::Environment;
using mpris_testing::RunCommand;
using mpris_testing::StartPrivateBus;
using testing_support::kBound;

constexpr auto kBoundMs = std::chrono::duration_cast<std::chrono::milliseconds>(kBound);

class MprisBus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    using testing_support::HaveTool;
    if (!HaveTool("dbus-daemon") || !HaveTool("playerctl")) return;
    bus_ = StartPrivateBus(&address_, kBoundMs);
  }

  static void TearDownTestSuite() { bus_.reset(); }

  void SetUp() override {
    if (!bus_) GTEST_SKIP() << "needs dbus-daemon and playerctl (scripts/install-deps.sh)";
    ASSERT_TRUE(host_.Start({MPRIS_TEST_HOST}, BusEnvironment()));
    ASSERT_TRUE(HostLogged("ready org.mpris.MediaPlayer2.tonaria")) << host_.Out() << host_.Err();
  }

  void TearDown() override {
    host_.CloseInput();
    host_.Wait(kBoundMs);
  }

  static Environment BusEnvironment() {
    return {{"DBUS_SESSION_BUS_ADDRESS", address_}, {"DISPLAY", ""}, {"DBUS_STARTER_ADDRESS", ""}};
  }

  // `first` and then `args`, run on the private bus.
  static CommandResult Run(std::vector<std::string> first, const std::vector<std::string>& args) {
    first.insert(first.end(), args.begin(), args.end());
    return RunCommand(first, BusEnvironment(), kBoundMs);
  }
  static CommandResult Playerctl(const std::vector<std::string>& args) {
    return Run({"playerctl", "-p", "tonaria"}, args);
  }
  // dbus-send to the player; blanks collapsed in the reply so that it can be searched.
  static CommandResult Send(const std::vector<std::string>& args) {
    CommandResult result = Run({"dbus-send", "--session", "--print-reply",
                                "--dest=org.mpris.MediaPlayer2.tonaria", "/org/mpris/MediaPlayer2"},
                               args);
    result.out = std::regex_replace(result.out, std::regex("\\s+"), " ");
    return result;
  }

  // Each of `expected` appears in the reply to GetAll on the interface.
  static void ExpectProperties(const std::string& interface,
                               std::initializer_list<const char*> expected) {
    const CommandResult all =
        Send({"org.freedesktop.DBus.Properties.GetAll", "string:" + interface});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    for (const char* text : expected) {
      EXPECT_NE(all.out.find(text), std::string::npos) << text << "\nin: " << all.out;
    }
  }

  // Waits until the host has logged `text` (after what was already checked). The
  // host logs a step as it takes it, so any question asked afterwards sees its outcome.
  bool HostLogged(const std::string& text) {
    const std::size_t end = host_.WaitForLine(text, logged_, kBoundMs);
    if (end == std::string::npos) return false;
    logged_ = end;
    return true;
  }

  static inline std::unique_ptr<ChildProcess> bus_;
  static inline std::string address_;
  ChildProcess host_;
  std::size_t logged_ = 0;
};

TEST_F(MprisBus, PropertiesDescribeAPlayerWithoutSeekingAndWithFixedRateAndVolume) {
  ExpectProperties(
      "org.mpris.MediaPlayer2",
      {R"(string "Identity" variant string "Tonaria")",
       R"(string "DesktopEntry" variant string "org.tonaria.Tonaria")",
       R"(string "CanQuit" variant boolean true)", R"(string "CanRaise" variant boolean false)",
       R"(string "HasTrackList" variant boolean false)",
       R"(string "SupportedUriSchemes" variant array [ string "file" ])",
       R"(string "SupportedMimeTypes" variant array [ string "audio/mpeg" string "audio/x-wav" )"
       R"(string "audio/wav" string "audio/x-vorbis+ogg" string "audio/ogg" )"
       R"(string "audio/x-ms-wma" string "audio/x-ape" string "audio/flac" string "audio/x-flac" ])"});
  ExpectProperties(
      "org.mpris.MediaPlayer2.Player",
      {R"(string "Rate" variant double 1)", R"(string "Volume" variant double 1)",
       R"(string "MinimumRate" variant double 1)", R"(string "MaximumRate" variant double 1)",
       R"(string "Position" variant int64 0)", R"(string "CanPlay" variant boolean true)",
       R"(string "CanPause" variant boolean true)", R"(string "CanControl" variant boolean true)",
       R"(string "CanSeek" variant boolean false)", R"(string "CanGoNext" variant boolean false)",
       R"(string "CanGoPrevious" variant boolean false)",
       R"(string "PlaybackStatus" variant string "Stopped")"});
  const CommandResult setVolume =
      Send({"org.freedesktop.DBus.Properties.Set", "string:org.mpris.MediaPlayer2.Player",
            "string:Volume", "variant:double:0.5"});
  EXPECT_NE(setVolume.exitCode, 0);

  // Accepted and ignored, and nothing starts.
  for (const std::vector<std::string>& call : std::vector<std::vector<std::string>>{
           {"org.mpris.MediaPlayer2.Raise"},
           {"org.mpris.MediaPlayer2.Player.Next"},
           {"org.mpris.MediaPlayer2.Player.Previous"},
           {"org.mpris.MediaPlayer2.Player.Seek", "int64:1000000"},
           {"org.mpris.MediaPlayer2.Player.SetPosition",
            "objpath:/org/mpris/MediaPlayer2/TrackList/NoTrack", "int64:0"}}) {
    EXPECT_EQ(Send(call).exitCode, 0) << call[0];
  }
  EXPECT_EQ(Playerctl({"status"}).out, "Stopped\n");
}

TEST_F(MprisBus, ASecondCopyTakesAnInstanceNameAndQuitEndsTheProgram) {
  ChildProcess second;
  ASSERT_TRUE(second.Start({MPRIS_TEST_HOST}, BusEnvironment()));
  const std::string instance = "tonaria.instance" + std::to_string(second.Pid());
  EXPECT_NE(second.WaitForLine("ready org.mpris.MediaPlayer2." + instance, 0, kBoundMs),
            std::string::npos)
      << second.Out();
  EXPECT_NE(Run({"playerctl", "-l"}, {}).out.find(instance), std::string::npos);
  second.CloseInput();
  EXPECT_EQ(second.Wait(kBoundMs), 0);

  ASSERT_EQ(Send({"org.mpris.MediaPlayer2.Quit"}).exitCode, 0);
  EXPECT_TRUE(HostLogged("quit"));
  EXPECT_EQ(host_.Wait(kBoundMs), 0);
}

}  // namespace
