// Every file type against every kind of bad input, through the real shell and engine:
// no crash or hang, all released, the decoder's own message, and the next file plays.
#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "app/shell_globals.h"
#include "app/window_proc.h"
#include "platform/kernel/text.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/audio_fixtures.h"
#include "tools/corpus_edits.h"

// For sanitizer builds: libvorbisfile 1.3.7 leaks when a later stream's headers fail.
extern "C" const char* __lsan_default_suppressions() { return "leak:libvorbisfile.so\n"; }

namespace {

using namespace testing_support;
using app_testing::kStoppedMenu;
using app_testing::PumpUntil;
namespace fs = std::filesystem;
using corpus::Bytes;

// What each decoder may say about a file it cannot play: '*' ends a prefix (WAV passes
// on the library's text); a type with no texts fails silently.
const std::vector<std::string>& MessagesFor(const std::string& type) {
  static const std::map<std::string, std::vector<std::string>> table = {
      {"mp3", {}},
      {"wav", {"*"}},
      {"ogg",
       {"Can't open file.", "Input does not appear to be an Ogg bitstream.",
        "Can't deal with multiple streams yet. Streams:*", "Unable to get ogg info.",
        "Can't deal with more than 2 channels yet. Channels:*"}},
      {"wma",
       {"Can't open file.", "No audio data exist in this file.", "Can not open file '*",
        "Out of memory!"}},
      {"ape", {"Can not create APE decompress interface."}},
      {"flac", {"Failed when initialize FLAC decoder.", "Can not process metadata properly."}},
  };
  return table.at(type);
}

bool TextAllowed(const std::vector<std::string>& allowed, const std::string& text) {
  return !text.empty() && std::any_of(allowed.begin(), allowed.end(), [&](const std::string& t) {
    if (t.back() == '*') return text.rfind(t.substr(0, t.size() - 1), 0) == 0;
    return text == t;
  });
}

// What an output was given, read under its lock.
Bytes Written(const ScriptedOutputState& out) {
  std::scoped_lock hold(out.mutex);
  return out.written;
}

constexpr int kRate = 44100;

// A file of the type holding `frames` frames of the test signal, made once for all test
// processes (under a private name, then renamed); nullopt without its encoder.
std::optional<std::string> Material(const std::string& type, int frames) {
  static const fs::path shared = fs::path(TempDir()).parent_path() / "bad-input-material";
  fs::create_directories(shared);
  const std::string path = (shared / (std::to_string(frames) + "." + type)).string();
  if (fs::exists(path)) return path;
  const std::string wav = TempPath("source-" + std::to_string(frames) + ".wav");
  if (!fs::exists(wav) && !WriteSoundFile(wav, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                          MakeTestSignal(kRate, 2, frames))) {
    return std::nullopt;
  }
  const std::string made = TempPath("made." + type);
  if (frames == 0 && type == "ape") {
    // jmac writes nothing for no samples: a file cut before its first frame instead.
    const auto whole = Material(type, kRate);
    if (!whole) return std::nullopt;
    corpus::Cut(*whole, made, corpus::ApeHeaderBytes(*whole));
  } else {
    const std::string in = "'" + wav + "'", out = "'" + made + "'";
    // flac refuses a WAV without samples; sox writes the stream header alone.
    const bool noFlacSamples = type == "flac" && frames == 0;
    const std::map<std::string, std::string> encoders = {
        {"wav", "cp " + in + " " + out},
        {"mp3", "lame --quiet -b 128 " + in + " " + out},
        {"ogg", "oggenc -Q -q 2 -o " + out + " " + in},
        {"flac", noFlacSamples
                     ? "sox -n -r " + std::to_string(kRate) + " -c 2 -b 16 " + out + " trim 0 0"
                     : "flac -s -f -o " + out + " " + in},
        {"wma", "ffmpeg -nostdin -v error -y -i " + in + " -c:a wmav2 -b:a 128k " + out},
        {"ape", "jmac c2 " + in + " " + out},
    };
    const std::string& command = encoders.at(type);
    if (!HaveTool(command.substr(0, command.find(' '))) || !RunTool(command)) return std::nullopt;
  }
  if (!fs::exists(made) || fs::file_size(made) == 0) return std::nullopt;
  std::error_code ignored;
  fs::rename(made, path, ignored);
  return fs::exists(path) ? std::optional<std::string>(path) : std::nullopt;
}

// The kinds of bad input, each a row for every type.
enum Case { kMissing, kNoAudio, kZero, kCut, kRandom, kOther, kFolder, kLocked, kNonUtf8, kLong };
constexpr const char* kCaseNames[] = {"Missing",     "NoAudio",     "ZeroLength", "Truncated",
                                      "RandomBytes", "OtherFormat", "Directory",  "Unreadable",
                                      "NonUtf8Name", "Path259"};

// Cases no decoder can play: a message is owed (unless the type is silent).
bool MustFail(Case c) {
  return c == kMissing || c == kZero || c == kFolder || (c == kLocked && ::geteuid() != 0);
}
// Cases that hold a good file: it must play, without a message.
bool MustPlay(Case c) { return c == kNonUtf8 || c == kLong; }

struct Input {
  std::string label;
  std::u16string path;
};

// The real shell, each file opened as the media controls open one.
class EngineFixture : public app_testing::ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    Start();
  }

  // Plays path and waits (bounded) until its playback has ended and been released.
  // The output it made, or null.
  std::shared_ptr<ScriptedOutputState> PlayToTheEnd(const std::u16string& path) {
    const std::size_t before = devices.created.size();
    devices.next->full = false;
    app::RemoteOpenFile(path);
    EXPECT_TRUE(PumpUntil([&] { return Title().ends_with(u"[Stopped]") && Unreleased() == 0; }))
        << "the playback hangs, or left " << Unreleased() << " objects";
    return devices.created.size() > before ? devices.created.back() : nullptr;
  }

  // Plays a fresh good WAV and checks it arrives whole, with no message.
  void ExpectNextGoodFilePlays(const std::string& after) {
    SCOPED_TRACE("the good WAV after " + after);
    const auto samples = MakeTestSignal(22050, 2, 3000, 5);
    const std::string path = TempPath("good.wav");
    ASSERT_TRUE(WriteSoundFile(path, 22050, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples));
    boxes->Clear();
    const auto out = PlayToTheEnd(platform::FromUtf8(path));
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(Written(*out) == ToBytes(samples)) << "the good file's PCM differs";
    EXPECT_EQ(boxes->Count(), 0u);
  }
};

class BadInputTest : public EngineFixture,
                     public ::testing::WithParamInterface<std::tuple<const char*, int>> {
 protected:
  std::string Type() const { return std::get<0>(GetParam()); }
  Case Kind() const { return static_cast<Case>(std::get<1>(GetParam())); }
  std::string Name(const std::string& base) const { return TempPath(base + "." + Type()); }

  // The inputs of this row; empty when the material for it cannot be made here.
  std::vector<Input> MakeInputs() {
    const std::string type = Type();
    const auto good = Material(type, kRate);
    const auto input = [](const std::string& label, const std::string& path) {
      return std::vector<Input>{{label, platform::FromUtf8(path)}};
    };
    const auto written = [&](const std::string& label, const std::string& path, const Bytes& b) {
      corpus::WriteFile(path, b);
      return input(label, path);
    };
    const auto fromGood = [&](const std::string& label, const std::string& path) {
      if (!good) return std::vector<Input>{};
      fs::copy_file(*good, path, fs::copy_options::overwrite_existing);
      return input(label, path);
    };
    switch (Kind()) {
      case kMissing:
        return input("missing", Name("does-not-exist"));
      case kNoAudio: {
        const auto none = Material(type, 0);
        return none ? input("no audio", *none) : std::vector<Input>{};
      }
      case kZero:
        return written("zero length", Name("zero"), {});
      case kCut: {
        if (!good) return {};
        const std::size_t n = fs::file_size(*good);
        std::vector<Input> inputs;
        for (std::size_t cut : {std::size_t{1}, std::size_t{4}, std::size_t{12}, std::size_t{45},
                                n / 10, n / 4, n / 2, 3 * n / 4, 9 * n / 10, n - 1}) {
          const std::string path = Name("cut-" + std::to_string(cut));
          corpus::Cut(*good, path, cut);
          inputs.push_back(
              input("cut at " + std::to_string(cut) + " of " + std::to_string(n), path)[0]);
        }
        return inputs;
      }
      case kRandom: {
        std::mt19937 random(static_cast<unsigned>(type.size() * 131 + type[0]));
        Bytes bytes(16384);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
        return written("random bytes", Name("random"), bytes);
      }
      case kOther: {
        std::optional<std::string> other;
        for (const char* candidate : {"wav", "ogg", "flac", "mp3"}) {
          if (type != candidate && !other) other = Material(candidate, kRate);
        }
        if (!other) return {};
        return written("bytes of " + fs::path(*other).extension().string(), Name("other"),
                       corpus::ReadFile(*other));
      }
      case kFolder:
        fs::create_directories(Name("folder"));
        return input("directory", Name("folder"));
      case kLocked: {
        auto inputs = fromGood("unreadable", Name("locked"));
        if (!inputs.empty()) ::chmod(Name("locked").c_str(), 0);
        return inputs;
      }
      case kNonUtf8:
        return fromGood("name with bytes FF FE", Name("\xff\xfe-latin1-\xe9"));
      case kLong: {
        // Several folders, since one name may not exceed 255 bytes; 259 characters in all.
        std::string dir = TempDir() + "/long";
        while (259 - dir.size() > 120) dir += "/" + std::string(100, 'd');
        fs::create_directories(dir);
        const std::string path =
            dir + "/" + std::string(259 - dir.size() - 2 - type.size(), 'f') + "." + type;
        EXPECT_EQ(path.size(), 259u);
        return fromGood("259-character path", path);
      }
    }
    return {};
  }

  void TearDown() override {
    ::chmod(Name("locked").c_str(), 0600);
    EngineFixture::TearDown();
  }
};

TEST_P(BadInputTest, EndsCleanlyWithTheTypesMessageAndTheNextFilePlays) {
  const std::string type = Type();
  const std::vector<Input> inputs = MakeInputs();
  if (inputs.empty()) GTEST_SKIP() << "no encoder for ." << type << " test material here";
  const auto& expected = MessagesFor(type);
  const bool silent = expected.empty();

  for (const Input& input : inputs) {
    SCOPED_TRACE(input.label);
    boxes->Clear();
    const auto out = PlayToTheEnd(input.path);
    EXPECT_EQ(FileMenu(), kStoppedMenu);
    EXPECT_EQ(shell::fileReady.load(), 0);

    const auto shown = boxes->Boxes();
    EXPECT_LE(shown.size(), 2u) << "one clear message, not a cascade";
    for (const auto& box : shown) {
      EXPECT_TRUE(TextAllowed(expected, Narrow(box.text))) << "said \"" << Narrow(box.text) << '"';
      EXPECT_TRUE(box.caption == u"Error" || box.caption == u"Info") << Narrow(box.caption);
    }
    EXPECT_TRUE(!silent || shown.empty()) << "this type fails silently";
    if (MustFail(Kind())) {
      EXPECT_TRUE(silent || !shown.empty()) << "the user is owed a message";
      EXPECT_TRUE(!out || Written(*out).empty()) << "sound from a file that cannot be read";
    }
    if (MustPlay(Kind())) {
      EXPECT_TRUE(shown.empty()) << "a message for a good file behind an unusual path";
      ASSERT_NE(out, nullptr) << "a good file behind an unusual path made no output";
      EXPECT_FALSE(Written(*out).empty()) << "a good file behind an unusual path made no sound";
    }
  }
  ExpectNextGoodFilePlays(kCaseNames[Kind()]);
}

// Found by fuzzing: an Ogg stream and only the first page of a second one.
using BadInputRegression = EngineFixture;

TEST_F(BadInputRegression, OggChainEndingAfterTheSecondStreamsFirstPage) {
  if (!HaveTool("oggenc")) GTEST_SKIP() << "oggenc is not installed";
  const std::string wav = TempPath("chain.wav");
  ASSERT_TRUE(WriteSoundFile(wav, 11025, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                             MakeTestSignal(11025, 1, 3300)));
  ASSERT_TRUE(RunTool("oggenc -Q --serial 1 -o '" + TempPath("one.ogg") + "' '" + wav + "'"));
  ASSERT_TRUE(RunTool("oggenc -Q --serial 2 -o '" + TempPath("two.ogg") + "' '" + wav + "'"));
  Bytes bytes = corpus::ReadFile(TempPath("one.ogg"));
  const Bytes second = corpus::ReadFile(TempPath("two.ogg"));
  ASSERT_GT(second.size(), 27u);
  std::size_t firstPage = 27 + second[26];  // page header and its segment table
  for (std::size_t i = 0; i < second[26]; ++i) firstPage += second[27 + i];
  bytes.insert(bytes.end(), second.begin(),
               second.begin() + static_cast<std::ptrdiff_t>(firstPage));
  corpus::WriteFile(TempPath("chain.ogg"), bytes);

  PlayToTheEnd(platform::FromUtf8(TempPath("chain.ogg")));
  ASSERT_EQ(boxes->Count(), 1u);
  EXPECT_TRUE(TextAllowed(MessagesFor("ogg"), Narrow(boxes->Boxes()[0].text)))
      << Narrow(boxes->Boxes()[0].text);
  ExpectNextGoodFilePlays("the chain");
}

INSTANTIATE_TEST_SUITE_P(AllTypes, BadInputTest,
                         ::testing::Combine(::testing::Values("mp3", "wav", "ogg", "wma", "ape",
                                                              "flac"),
                                            ::testing::Range(0, kLong + 1)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)) + "_" +
                                  kCaseNames[std::get<1>(info.param)];
                         });

}  // namespace
