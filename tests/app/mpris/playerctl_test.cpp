// The media controls' interface seen from outside: the real program, with no file and
// its window offscreen, on a private session bus, asked by playerctl and dbus-send as a
// desktop would. Commands, files and metadata: e2e_program.sh; seeking:
// seek_end_to_end_test.cpp.
#include <chrono>
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
using testing_support::kBound;

constexpr auto kBoundMs = std::chrono::duration_cast<std::chrono::milliseconds>(kBound);

class MprisBus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    using testing_support::HaveTool;
    if (!HaveTool("dbus-daemon") || !HaveTool("playerctl")) return;
    bus_ = mpris_testing::StartPrivateBus(&address_, kBoundMs);
  }
  static void TearDownTestSuite() { bus_.reset(); }

  void SetUp() override {
    if (!bus_) GTEST_SKIP() << "needs dbus-daemon and playerctl (scripts/install-deps.sh)";
    ASSERT_TRUE(Launch(program_, {}));
    ASSERT_TRUE(OnBus("tonaria")) << program_.Err();
  }
  void TearDown() override {
    if (program_.Running()) Send({"org.mpris.MediaPlayer2.Quit"});
    program_.Wait(kBoundMs);
  }

  static bool Launch(ChildProcess& program, std::vector<std::string> args) {
    args.insert(args.begin(), TONARIA_PROGRAM);
    return program.Start(args, {{"DBUS_SESSION_BUS_ADDRESS", address_},
                                {"DBUS_STARTER_ADDRESS", ""},
                                {"DISPLAY", ":4099"},  // never opened: Qt draws offscreen
                                {"QT_QPA_PLATFORM", "offscreen"},
                                {"WAYLAND_DISPLAY", ""},
                                {"SDL_AUDIODRIVER", "dummy"},
                                {"TONARIA_NO_MPRIS", "0"}});
  }
  // `first` and then `args`, run on the private bus.
  static CommandResult Run(std::vector<std::string> first, const std::vector<std::string>& args) {
    first.insert(first.end(), args.begin(), args.end());
    return RunCommand(first, {{"DBUS_SESSION_BUS_ADDRESS", address_}}, kBoundMs);
  }
  // Waits until playerctl lists the player `name`.
  static bool OnBus(const std::string& name) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (Run({"playerctl", "-l"}, {}).out.find(name + "\n") == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
    }
    return true;
  }
  // dbus-send to the player; blanks collapsed in the reply so that it can be searched.
  static CommandResult Send(const std::vector<std::string>& args,
                            const std::string& name = "tonaria") {
    CommandResult result = Run({"dbus-send", "--session", "--print-reply",
                                "--dest=org.mpris.MediaPlayer2." + name, "/org/mpris/MediaPlayer2"},
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

  static inline std::unique_ptr<ChildProcess> bus_;
  static inline std::string address_;
  ChildProcess program_;
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
  EXPECT_EQ(Run({"playerctl", "-p", "tonaria", "status"}, {}).out, "Stopped\n");
}

TEST_F(MprisBus, ASecondCopyTakesAnInstanceNameAndQuitEndsEach) {
  ChildProcess second;
  ASSERT_TRUE(Launch(second, {"--new-instance"}));
  const std::string instance = "tonaria.instance" + std::to_string(second.Pid());
  ASSERT_TRUE(OnBus(instance)) << second.Err();
  for (auto [program, name] :
       {std::pair{&second, instance}, std::pair{&program_, std::string("tonaria")}}) {
    ASSERT_EQ(Send({"org.mpris.MediaPlayer2.Quit"}, name).exitCode, 0) << name;
    EXPECT_EQ(program->Wait(kBoundMs), 0) << name;
  }
}

}  // namespace
