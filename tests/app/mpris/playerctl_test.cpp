// The media controls seen from outside: a private session bus, the test host
// program on it, and playerctl (and dbus-send) driving it as a desktop would.
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "tests/app/mpris/child_process.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/playback_doubles.h"

namespace {

using namespace std::chrono_literals;
using mpris_testing::ChildProcess;
using mpris_testing::CommandResult;
using mpris_testing::Environment;
using mpris_testing::RunCommand;
using testing_support::kBound;

constexpr auto kBoundMs = std::chrono::duration_cast<std::chrono::milliseconds>(kBound);

// Collapses runs of blanks so dbus-send's indented replies can be searched.
std::string Flat(const std::string& text) {
  return std::regex_replace(text, std::regex("\\s+"), " ");
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

class MprisBus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!testing_support::HaveTool("dbus-daemon") || !testing_support::HaveTool("playerctl")) {
      return;
    }
    bus_ = std::make_unique<ChildProcess>();
    const std::vector<std::string> argv = {"dbus-daemon", "--session", "--nofork", "--nopidfile",
                                           "--print-address=1"};
    if (!bus_->Start(argv, {}) || bus_->WaitForLine("unix:", 0, kBoundMs) == std::string::npos) {
      bus_.reset();
      return;
    }
    address_ = Trimmed(bus_->Out().substr(0, bus_->Out().find('\n')));

    dir_ = testing_support::TempPath("mpris_files");
    ::mkdir(dir_.c_str(), 0755);
    const auto samples = testing_support::MakeTestSignal(8000, 1, 800);
    for (const char* name : {"first song.wav", "second.wav"}) {
      testing_support::WriteSoundFile(dir_ + "/" + name, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                      samples);
    }
    std::ofstream(dir_ + "/third.mp3") << "stand-in: the fake shell never decodes it";
    std::ofstream(dir_ + "/notes.txt") << "not audio";
  }

  static void TearDownTestSuite() { bus_.reset(); }

  void SetUp() override {
    if (!bus_) GTEST_SKIP() << "needs dbus-daemon and playerctl (scripts/install-deps.sh)";
    StartHost(host_);
  }

  void TearDown() override {
    if (!bus_) return;
    host_.CloseInput();
    host_.Wait(kBoundMs);
  }

  static Environment BusEnvironment() {
    return {{"DBUS_SESSION_BUS_ADDRESS", address_}, {"DISPLAY", ""}, {"DBUS_STARTER_ADDRESS", ""}};
  }

  static void StartHost(ChildProcess& host) {
    ASSERT_TRUE(host.Start({MPRIS_TEST_HOST}, BusEnvironment()));
    ASSERT_NE(host.WaitForLine("ready org.mpris.MediaPlayer2.tonaria", 0, kBoundMs),
              std::string::npos)
        << host.Out() << host.Err();
  }

  static CommandResult Playerctl(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"playerctl", "-p", "tonaria"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, BusEnvironment(), kBoundMs);
  }

  // dbus-send to the player; the reply's text with blanks collapsed.
  static CommandResult Send(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"dbus-send", "--session", "--print-reply",
                                     "--dest=org.mpris.MediaPlayer2.tonaria",
                                     "/org/mpris/MediaPlayer2"};
    argv.insert(argv.end(), args.begin(), args.end());
    CommandResult result = RunCommand(argv, BusEnvironment(), kBoundMs);
    result.out = Flat(result.out);
    return result;
  }

  // Each of `expected` appears in the reply to GetAll on the interface.
  static void ExpectProperties(const std::string& interface, std::initializer_list<const char*> expected) {
    const CommandResult all = Send({"org.freedesktop.DBus.Properties.GetAll", "string:" + interface});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    for (const char* text : expected) {
      EXPECT_NE(all.out.find(text), std::string::npos) << text << "\nin: " << all.out;
    }
  }

  static std::string Status() { return Trimmed(Playerctl({"status"}).out); }

  // Asks again (each ask a playerctl run) until holds() is true, within the bound.
  static bool Eventually(const std::function<bool()>& holds) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (!holds()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
    }
    return true;
  }
  static bool WaitForStatus(const std::string& expected) {
    return Eventually([&] { return Status() == expected; });
  }

  // Waits until the host has logged `text` (after what was already checked).
  bool HostLogged(const std::string& text) {
    const std::size_t end = host_.WaitForLine(text, logged_, kBoundMs);
    if (end == std::string::npos) return false;
    logged_ = end;
    return true;
  }

  static std::string FileUri(const std::string& encodedName) {
    return "file://" + dir_ + "/" + encodedName;
  }

  void OpenFirstSong() {
    ASSERT_EQ(Playerctl({"open", FileUri("first%20song.wav")}).exitCode, 0);
    ASSERT_TRUE(WaitForStatus("Playing"));
  }

  static inline std::unique_ptr<ChildProcess> bus_;
  static inline std::string address_;
  static inline std::string dir_;
  ChildProcess host_;
  std::size_t logged_ = 0;
};

// Status as read, and as a follower learns it from PropertiesChanged signals alone.
TEST_F(MprisBus, StatusFollowsEveryChangeAndEachIsSignalled) {
  EXPECT_EQ(Status(), "Stopped");
  ChildProcess follower;
  ASSERT_TRUE(follower.Start({"playerctl", "-p", "tonaria", "--follow", "status"}, BusEnvironment()));
  std::size_t seen = follower.WaitForLine("Stopped", 0, kBoundMs);
  ASSERT_NE(seen, std::string::npos) << follower.Err();

  const std::pair<std::function<int()>, std::string> steps[] = {
      {[] { return Playerctl({"open", FileUri("first%20song.wav")}).exitCode; }, "Playing"},
      {[] { return Playerctl({"pause"}).exitCode; }, "Paused"},
      {[] { return Playerctl({"play"}).exitCode; }, "Playing"},  // Play resumes the paused file
      {[this] { host_.WriteLine("end"); return 0; }, "Stopped"},  // the file ends by itself
      {[] { return Playerctl({"open", FileUri("second.wav")}).exitCode; }, "Playing"},
      {[] { return Playerctl({"stop"}).exitCode; }, "Stopped"},
  };
  for (const auto& [act, expected] : steps) {
    ASSERT_EQ(act(), 0) << expected;
    seen = follower.WaitForLine(expected, seen, kBoundMs);
    ASSERT_NE(seen, std::string::npos) << "no signal for " << expected << "; got:\n" << follower.Out();
    EXPECT_TRUE(WaitForStatus(expected));
  }
  EXPECT_TRUE(HostLogged("open " + dir_ + "/first song.wav"));
  EXPECT_TRUE(HostLogged("ended"));
  // The metadata keeps naming the file that was played.
  EXPECT_EQ(Trimmed(Playerctl({"metadata", "xesam:title"}).out), "second.wav");
}

// The File menu grays Pause and Stop while stopped, Pause while paused and Play
// while playing; a remote command meets the same gate as a key, and Play without
// a file asks for one as the menu does.
TEST_F(MprisBus, CommandsMeetTheFileMenusGate) {
  Playerctl({"pause"});
  EXPECT_TRUE(HostLogged("command 32781 refused"));
  Playerctl({"stop"});
  EXPECT_TRUE(HostLogged("command 32783 refused"));
  ASSERT_EQ(Playerctl({"play"}).exitCode, 0);
  EXPECT_TRUE(HostLogged("command 32772 accepted"));
  EXPECT_TRUE(HostLogged("dialog cancelled"));
  EXPECT_EQ(Status(), "Stopped");

  OpenFirstSong();
  Playerctl({"play"});
  EXPECT_TRUE(HostLogged("command 32772 refused"));
  ASSERT_EQ(Playerctl({"play-pause"}).exitCode, 0);
  EXPECT_TRUE(WaitForStatus("Paused"));
  EXPECT_TRUE(HostLogged("command 32781 accepted"));
  Playerctl({"pause"});
  EXPECT_TRUE(HostLogged("command 32781 refused"));
  EXPECT_EQ(Status(), "Paused");
  ASSERT_EQ(Playerctl({"play-pause"}).exitCode, 0);
  EXPECT_TRUE(WaitForStatus("Playing"));
  EXPECT_TRUE(HostLogged("command 32772 accepted"));
}

TEST_F(MprisBus, MetadataShowsTheFile) {
  EXPECT_EQ(Trimmed(Playerctl({"metadata", "mpris:trackid"}).out),
            "'/org/mpris/MediaPlayer2/TrackList/NoTrack'");  // playerctl quotes object paths
  OpenFirstSong();
  EXPECT_EQ(Trimmed(Playerctl({"metadata", "xesam:title"}).out), "first song.wav");
  EXPECT_EQ(Trimmed(Playerctl({"metadata", "xesam:url"}).out), FileUri("first%20song.wav"));
  EXPECT_EQ(Trimmed(Playerctl({"metadata", "mpris:length"}).out), "2500000");
  const std::string firstTrack = Trimmed(Playerctl({"metadata", "mpris:trackid"}).out);
  EXPECT_TRUE(firstTrack.starts_with("'/org/tonaria/Tonaria/track/")) << firstTrack;

  // A file whose length the shell does not know, opened while another plays.
  ASSERT_EQ(Playerctl({"open", FileUri("third.mp3")}).exitCode, 0);
  EXPECT_TRUE(HostLogged("open " + dir_ + "/third.mp3"));
  EXPECT_TRUE(Eventually([] { return Trimmed(Playerctl({"metadata", "xesam:title"}).out) == "third.mp3"; }));
  EXPECT_NE(Playerctl({"metadata", "mpris:length"}).exitCode, 0);  // no such key
  EXPECT_NE(Trimmed(Playerctl({"metadata", "mpris:trackid"}).out), firstTrack);
}

TEST_F(MprisBus, RefusedOpenUriGivesAnErrorAndChangesNothing) {
  OpenFirstSong();
  ASSERT_EQ(Playerctl({"pause"}).exitCode, 0);
  ASSERT_TRUE(WaitForStatus("Paused"));
  const std::string before = Playerctl({"metadata"}).out;

  struct Row {
    std::string uri;
    bool viaPlayerctl;  // playerctl rewrites file://otherhost/... to a local URI itself
  };
  const Row rows[] = {
      {"http://example.com/song.mp3", true},
      {FileUri("notes.txt"), true},
      {FileUri("missing.flac"), true},
      {"file://otherhost" + dir_ + "/second.wav", false},
  };
  for (const Row& row : rows) {
    const CommandResult result =
        Send({"org.mpris.MediaPlayer2.Player.OpenUri", "string:" + row.uri});
    EXPECT_NE(result.exitCode, 0) << row.uri;
    EXPECT_NE(result.err.find("Error org.freedesktop.DBus.Error."), std::string::npos)
        << row.uri << ": " << result.err;
    if (!row.viaPlayerctl) continue;
    const CommandResult viaPlayerctl = Playerctl({"open", row.uri});
    EXPECT_NE(viaPlayerctl.exitCode, 0) << row.uri << ": " << viaPlayerctl.out;
    EXPECT_NE(viaPlayerctl.err.find("org.freedesktop.DBus.Error."), std::string::npos)
        << row.uri << ": " << viaPlayerctl.err;
  }
  EXPECT_EQ(Status(), "Paused");
  EXPECT_EQ(Playerctl({"metadata"}).out, before);
  host_.CloseInput();
  host_.Wait(kBoundMs);
  EXPECT_EQ(host_.Out().find("open " + dir_ + "/second.wav"), std::string::npos);
  EXPECT_EQ(host_.Out().find("notes.txt"), std::string::npos);
}

TEST_F(MprisBus, RootPropertiesDescribeThePlayer) {
  ExpectProperties("org.mpris.MediaPlayer2",
                   {R"(string "Identity" variant string "Tonaria")",
                    R"(string "DesktopEntry" variant string "org.tonaria.Tonaria")",
                    R"(string "CanQuit" variant boolean true)",
                    R"(string "CanRaise" variant boolean false)",
                    R"(string "HasTrackList" variant boolean false)",
                    R"(string "SupportedUriSchemes" variant array [ string "file" ])",
                    R"(string "SupportedMimeTypes" variant array [ string "audio/mpeg" string "audio/x-wav" )"
                    R"(string "audio/wav" string "audio/x-vorbis+ogg" string "audio/ogg" )"
                    R"(string "audio/x-ms-wma" string "audio/x-ape" string "audio/flac" string "audio/x-flac" ])"});
  EXPECT_EQ(Send({"org.mpris.MediaPlayer2.Raise"}).exitCode, 0);
}

TEST_F(MprisBus, PlayerHasNoSeekingAndFixedRateAndVolume) {
  ExpectProperties("org.mpris.MediaPlayer2.Player",
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
           {"org.mpris.MediaPlayer2.Player.Next"},
           {"org.mpris.MediaPlayer2.Player.Previous"},
           {"org.mpris.MediaPlayer2.Player.Seek", "int64:1000000"},
           {"org.mpris.MediaPlayer2.Player.SetPosition",
            "objpath:/org/mpris/MediaPlayer2/TrackList/NoTrack", "int64:0"}}) {
    EXPECT_EQ(Send(call).exitCode, 0) << call[0];
  }
  EXPECT_EQ(Status(), "Stopped");
}

TEST_F(MprisBus, QuitEndsTheProgram) {
  ASSERT_EQ(Send({"org.mpris.MediaPlayer2.Quit"}).exitCode, 0);
  EXPECT_TRUE(HostLogged("quit"));
  EXPECT_EQ(host_.Wait(kBoundMs), 0);
}

TEST_F(MprisBus, SecondCopyTakesAnInstanceName) {
  ChildProcess second;
  ASSERT_TRUE(second.Start({MPRIS_TEST_HOST}, BusEnvironment()));
  const std::string expected =
      "ready org.mpris.MediaPlayer2.tonaria.instance" + std::to_string(second.Pid());
  EXPECT_NE(second.WaitForLine(expected, 0, kBoundMs), std::string::npos) << second.Out();
  const std::string players = RunCommand({"playerctl", "-l"}, BusEnvironment(), kBoundMs).out;
  EXPECT_NE(players.find("tonaria.instance" + std::to_string(second.Pid())), std::string::npos)
      << players;
  second.CloseInput();
  EXPECT_EQ(second.Wait(kBoundMs), 0);
}

// Headless, or CI without a session bus: the program runs on without the
// controls and says so in exactly one line.
TEST(MprisWithoutBus, RunsOnAndSaysSoOnce) {
  ChildProcess host;
  ASSERT_TRUE(host.Start({MPRIS_TEST_HOST},
                         {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tonaria-bus"},
                          {"DISPLAY", ""},
                          {"DBUS_STARTER_ADDRESS", ""}}));
  EXPECT_NE(host.WaitForLine("ready none", 0, kBoundMs), std::string::npos);
  EXPECT_TRUE(host.Running());
  host.CloseInput();
  EXPECT_EQ(host.Wait(kBoundMs), 0);
  EXPECT_EQ(host.Err(),
            "tonaria: no D-Bus session bus, so media keys and desktop controls are off\n");
}

}  // namespace
