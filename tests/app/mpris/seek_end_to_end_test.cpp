// Seeking in the real program over a private bus, heard through a private sound server.
// A lossless file is index-coded; a lossy one is compared with its own linear decode.
#include <cmath>
#include <regex>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "decoders/mad_decoder.h"
#include "decoders/ogg_vorbis_decoder.h"
#include "decoders/wma_decoder.h"
#include "tests/decoders/fixtures.h"
#include "tests/output/index_coded.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/child_process.h"
#include "tests/support/playback_doubles.h"  // kBound
#include "tests/support/private_sound_server.h"

namespace {

namespace fs = std::filesystem;
namespace support = testing_support;
using mpris_testing::ChildProcess;
using mpris_testing::Environment;
using Samples = std::vector<std::int16_t>;

constexpr auto kBoundMs = std::chrono::duration_cast<std::chrono::milliseconds>(support::kBound);
constexpr std::int64_t kRate = 44100;
constexpr std::int64_t kFrames = kRate * 4;
constexpr std::int64_t kTarget = kRate * 3 + 1153;  // where SetPosition sends each file
constexpr std::int64_t kLongFrames = kRate * 20;
constexpr std::int64_t kMs = kRate / 1000;

std::int64_t Us(std::int64_t frames) { return std::llround(frames * 1e6 / kRate); }

fs::path Files() {
  return fixtures::MadeOnce("seek-e2e", "2", [](const fs::path& dir) {
    const std::string d = dir.string() + "/";
    auto run = [&](const std::string& command) {
      return support::RunTool("cd " + d + " && " + command);
    };
    auto wav = [&](const char* name, const Samples& samples) {
      return support::WriteSoundFile(d + name, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples);
    };
    // MP3 is judged within libmad's dither: a tone with noise tells its frames apart.
    return wav("idx.wav", index_coded::Samples(0, kFrames)) &&
           wav("long.wav", index_coded::Samples(0, kLongFrames)) &&
           wav("tone.wav", support::MakeTestSignal(kRate, 2, kFrames)) &&
           run("flac -s -f -o idx.flac idx.wav") && run("oggenc -Q -q 4 -o idx.ogg idx.wav") &&
           run("ffmpeg -v error -y -i idx.wav -c:a wmav2 -b:a 128k idx.wma") &&
           run("jmac c2 idx.wav idx.ape") && run("lame --quiet -V 2 tone.wav tone.mp3");
  });
}

// The whole file as the program's own decoder reads it from the start.
template <typename Decoder>
Samples LinearDecode(const std::string& path) {
  Decoder decoder;
  return fixtures::OpenPath(decoder, path) ? fixtures::DecodeAll(decoder) : Samples{};
}
Samples IndexCoded(const std::string&) { return index_coded::Samples(0, kFrames); }

struct FormatRow {
  const char* file;
  std::function<Samples(const std::string&)> reference;  // the file decoded whole
  int tolerance;  // per sample; above 0 the corpus's MP3 floor is asked for as well
};
void PrintTo(const FormatRow& row, std::ostream* out) { *out << row.file; }

const FormatRow kFormats[] = {
    {.file = "idx.wav", .reference = IndexCoded, .tolerance = 0},
    {.file = "idx.flac", .reference = IndexCoded, .tolerance = 0},
    {.file = "idx.ape", .reference = IndexCoded, .tolerance = 0},
    {.file = "idx.ogg", .reference = LinearDecode<COggVorbisDecoder>, .tolerance = 0},
    {.file = "idx.wma", .reference = LinearDecode<CWMADecoder>, .tolerance = 0},
    {.file = "tone.mp3", .reference = LinearDecode<CMadDecoder>, .tolerance = 8},
};
constexpr double kMp3FloorDb = 65;

bool Near(const Samples& a, std::int64_t atA, const Samples& b, std::int64_t atB,
          std::int64_t frames, int tolerance) {
  for (std::int64_t i = 0; i < frames * 2; ++i) {
    if (std::abs(a[atA * 2 + i] - b[atB * 2 + i]) > tolerance) return false;
  }
  return true;
}

// The frame of the recording where `ref` from `from` to its end is heard, each sample
// within `tolerance`, after something other than the frame before `from`; -1 if nowhere.
std::int64_t Landing(const Samples& heard, const Samples& ref, std::int64_t from, int tolerance) {
  const std::int64_t count = static_cast<std::int64_t>(ref.size() / 2) - from;
  for (std::int64_t at = 1; at + count <= static_cast<std::int64_t>(heard.size() / 2); ++at) {
    if (Near(heard, at, ref, from, count, tolerance))
      return Near(heard, at - 1, ref, from - 1, 1, tolerance) ? -1 : at;
  }
  return -1;
}

class SeekOverTheBus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Runs that keep programs off D-Bus (the ThreadSanitizer one) have no media controls.
    const char* noMpris = std::getenv("TONARIA_NO_MPRIS");
    if (noMpris != nullptr && std::string(noMpris) == "1") return;
    for (const char* tool : {"dbus-daemon", "dbus-monitor", "pulseaudio", "flac", "oggenc", "lame",
                             "ffmpeg", "jmac"}) {
      if (!support::HaveTool(tool)) return;
    }
    server_ = std::make_unique<support::PrivateSoundServer>();
    if (!server_->Start()) server_.reset();
    bus_ = mpris_testing::StartPrivateBus(&address_, kBoundMs);
  }
  static void TearDownTestSuite() {
    bus_.reset();
    server_.reset();
  }

  void SetUp() override {
    if (!server_ || !bus_)
      GTEST_SKIP() << "needs media controls, pulseaudio, dbus and the encoders";
    ASSERT_TRUE(fs::exists(Files() / "tone.mp3")) << "the test files were not made";
    ASSERT_TRUE(monitor_.Start(
        {"dbus-monitor", "--address", address_, "type='signal',path='/org/mpris/MediaPlayer2'"},
        {}));
    ASSERT_NE(monitor_.WaitForLine("member=NameLost", 0, kBoundMs), std::string::npos);
    seen_ = monitor_.Out().size();
    ASSERT_TRUE(server_->StartRecording());
  }

  void TearDown() override {
    if (program_.Running()) Call("org.mpris.MediaPlayer2.Quit");
    program_.Wait(kBoundMs);
  }

  // The program on `file`, headless, once its sound is heard.
  void Play(const std::string& file) {
    Environment env = {{"DBUS_SESSION_BUS_ADDRESS", address_},
                       {"DBUS_STARTER_ADDRESS", ""},
                       {"DISPLAY", ""},
                       {"WAYLAND_DISPLAY", ""},
                       {"SDL_AUDIODRIVER", ""}};
    for (const std::string& entry : server_->Environment())
      env[entry.substr(0, entry.find('='))] = entry.substr(entry.find('=') + 1);
    ASSERT_TRUE(program_.Start({TONARIA_PROGRAM, file}, env));
    ASSERT_TRUE(StatusBecomes("Playing")) << program_.Err();
    ASSERT_TRUE(server_->WaitForMoreRecorded(300 * kMs * 4));
  }

  // A method of the program's media controls; its reply with blanks collapsed.
  static std::string Call(const std::string& method, std::vector<std::string> args = {}) {
    args.insert(args.begin(),
                {"dbus-send", "--session", "--print-reply", "--dest=org.mpris.MediaPlayer2.tonaria",
                 "/org/mpris/MediaPlayer2", method});
    const std::string reply =
        mpris_testing::RunCommand(args, {{"DBUS_SESSION_BUS_ADDRESS", address_}}, kBoundMs).out;
    return std::regex_replace(reply, std::regex("\\s+"), " ");
  }
  static std::string Property(const std::string& name) {
    return Call("org.freedesktop.DBus.Properties.Get",
                {"string:org.mpris.MediaPlayer2.Player", "string:" + name});
  }
  bool StatusBecomes(const std::string& status) {
    const auto deadline = std::chrono::steady_clock::now() + support::kBound;
    while (Property("PlaybackStatus").find('"' + status + '"') == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
    }
    return true;
  }
  static void SetPosition(std::int64_t frame) {
    std::smatch track;
    const std::string metadata = Property("Metadata");
    std::regex_search(metadata, track,
                      std::regex(R"("mpris:trackid" variant object path "([^"]+))"));
    Call("org.mpris.MediaPlayer2.Player.SetPosition",
         {"objpath:" + track[1].str(), "int64:" + std::to_string(Us(frame))});
  }

  // The position the next Seeked signal carries, in microseconds; -1 if none came.
  std::int64_t NextSeeked() {
    const std::size_t signal = monitor_.WaitForLine("member=Seeked", seen_, kBoundMs);
    if (signal == std::string::npos) return -1;
    seen_ = monitor_.WaitForLine("int64", signal, kBoundMs);
    const std::string& out = monitor_.Out();
    return seen_ == std::string::npos ? -1 : std::stoll(out.substr(out.find("int64", signal) + 6));
  }

  // What the sink played, once the program has ended by itself (exit code 0).
  Samples HeardToTheEnd() {
    EXPECT_EQ(program_.Wait(kBoundMs), 0) << program_.Err();
    server_->WaitForMoreRecorded(200 * kMs * 4);
    return fixtures::Samples(server_->StopRecording());
  }

  static inline std::unique_ptr<support::PrivateSoundServer> server_;
  static inline std::unique_ptr<ChildProcess> bus_;
  static inline std::string address_;
  ChildProcess program_;
  ChildProcess monitor_;
  std::size_t seen_ = 0;
};

class SeekEachFormat : public SeekOverTheBus, public ::testing::WithParamInterface<FormatRow> {};

// SetPosition moves to its frame: from there the sink plays exactly what a decode from
// the start plays, to the end. Seeked tells the new place once it is heard.
TEST_P(SeekEachFormat, SetPositionLandsOnItsFrame) {
  const FormatRow& row = GetParam();
  const std::string path = (Files() / row.file).string();
  const Samples ref = row.reference(path);
  ASSERT_GT(ref.size(), static_cast<std::size_t>(kTarget * 2));
  ASSERT_NO_FATAL_FAILURE(Play(path));
  ASSERT_NE(Property("CanSeek").find("boolean true"), std::string::npos);
  SetPosition(kTarget);
  const std::int64_t seeked = NextSeeked();
  EXPECT_GE(seeked, Us(kTarget) - 1);
  EXPECT_LE(seeked, Us(kTarget) + 100'000);

  const Samples heard = HeardToTheEnd();
  const std::int64_t at = Landing(heard, ref, kTarget, row.tolerance);
  ASSERT_GE(at, 0) << "frame " << kTarget << " onwards was not heard right after the seek";
  const fixtures::Pcm decoded{kRate, 2, heard}, reference{kRate, 2, ref};
  const fixtures::Lineup lineup{decoded, reference};
  EXPECT_GE(lineup.SnrDb(at - kTarget, kTarget, reference.Frames()),
            row.tolerance > 0 ? kMp3FloorDb : INFINITY);
}

INSTANTIATE_TEST_SUITE_P(Formats, SeekEachFormat, ::testing::ValuesIn(kFormats),
                         [](const auto& info) {
                           const std::string name = info.param.file;
                           return name.substr(name.find('.') + 1);
                         });

// A stream from a pipe has no size: CanSeek is false, and Seek and SetPosition are
// ignored: every frame is heard once, in order, and no Seeked comes.
TEST_F(SeekOverTheBus, APipeCannotSeekAndIgnoresSeeks) {
  const std::string pipe = support::TempPath("pipe.wav");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  ChildProcess writer;
  ASSERT_TRUE(
      writer.Start({"sh", "-c", "cat \"$0\" > \"$1\"", (Files() / "idx.wav").string(), pipe}, {}));
  ASSERT_NO_FATAL_FAILURE(Play(pipe));
  EXPECT_NE(Property("CanSeek").find("boolean false"), std::string::npos);
  Call("org.mpris.MediaPlayer2.Player.Seek", {"int64:2000000"});
  SetPosition(kTarget);
  const Samples heard = HeardToTheEnd();
  EXPECT_EQ(index_coded::PlayedOnceInOrder(index_coded::Read(support::ToBytes(heard)), kFrames, 0),
            "");
  EXPECT_EQ(monitor_.WaitForLine("member=Seeked", seen_, std::chrono::milliseconds(300)),
            std::string::npos);
}

// The frame the sink put out last.
std::int64_t LastInSink(const support::PrivateSoundServer& server) {
  const std::vector<index_coded::Run> last =
      index_coded::Runs(index_coded::Read(server.LastFrame()));
  return last.empty() ? -1 : last[0].first;
}

// Position is the frame being heard; SetPosition is refused for another track and
// outside the file; Seek moves by its amount from what is heard, before the start
// goes to the start, and past the end ends the file (and so the headless program).
TEST_F(SeekOverTheBus, PositionIsWhatIsHeardAndSeekMovesByItsAmount) {
  ASSERT_NO_FATAL_FAILURE(Play((Files() / "long.wav").string()));
  EXPECT_NE(Property("Metadata").find("\"mpris:length\" variant int64 20000000"),
            std::string::npos);

  // The pipe sink writes a block (some 30 ms) ahead of its clock, so the frame heard
  // lies a little behind the last one it wrote before the question, and never ahead
  // of the last one after it.
  for (int i = 0; i < 10; ++i) {
    const std::int64_t before = LastInSink(*server_);
    const std::string reply = Property("Position");
    const std::int64_t after = LastInSink(*server_);
    const std::int64_t position =
        std::stoll(reply.substr(reply.find("int64 ") + 6)) * kRate / 1'000'000;
    EXPECT_GE(position, before - 70 * kMs) << "behind what is heard, in frames";
    EXPECT_LE(position, after + 20 * kMs) << "ahead of what is heard, in frames";
  }

  Call("org.mpris.MediaPlayer2.Player.SetPosition",
       {"objpath:/org/tonaria/Tonaria/track/999", "int64:1000000"});
  SetPosition(-1);
  SetPosition(kLongFrames + 1);
  Call("org.mpris.MediaPlayer2.Player.Seek", {"int64:5000000"});
  EXPECT_GT(NextSeeked(), 5'000'000) << "a refused SetPosition moved, or Seek did not";
  ASSERT_TRUE(server_->WaitForMoreRecorded(200 * kMs * 4));           // the new place is heard
  Call("org.mpris.MediaPlayer2.Player.Seek", {"int64:-3600000000"});  // before the start
  EXPECT_LT(NextSeeked(), 100'000);
  ASSERT_TRUE(server_->WaitForMoreRecorded(200 * kMs * 4));
  Call("org.mpris.MediaPlayer2.Player.Seek", {"int64:3600000000"});
  ASSERT_EQ(program_.Wait(kBoundMs), 0) << "a seek past the end ended nothing";
  EXPECT_NE(monitor_.WaitForLine(R"("CanSeek")", seen_, kBoundMs), std::string::npos);

  // Heard: from the start, 5 s on (nothing for the refused SetPositions), the start
  // again, and nothing after the seek past the end.
  const index_coded::Capture heard = index_coded::Read(server_->StopRecording());
  ASSERT_EQ(heard.damage, "");
  const std::vector<index_coded::Run> runs = index_coded::Runs(heard);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].first, 0);
  EXPECT_GE(runs[1].first - runs[0].end, 5 * kRate - 70 * kMs);
  EXPECT_LE(runs[1].first - runs[0].end, 5 * kRate + 20 * kMs);
  EXPECT_EQ(runs[2].first, 0);
  EXPECT_LT(runs[2].end, kRate);
}

}  // namespace
