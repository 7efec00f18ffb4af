// Every file type against every kind of bad input, through the real engine: no
// crash, no hang, every object released, the menu back in its stopped state, the
// message a user is owed (the decoder's own texts, or none where the type fails
// silently), and the next good file plays exactly.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>

#include "app/shell_globals.h"
#include "platform/kernel/text.h"
#include "player/decoder_factory.h"
#include "tests/player/engine_session.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/message_box_recorder.h"
#include "tools/corpus_edits.h"

// LeakSanitizer's built-in suppressions for this test program (used only in sanitizer
// builds). libvorbisfile 1.3.7 does not free the serial-number list _fetch_headers
// grew when ov_open_callbacks fails on a later stream's headers; nothing of the
// program's own is listed.
extern "C" const char* __lsan_default_suppressions() { return "leak:libvorbisfile.so\n"; }

namespace {

using namespace testing_support;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// What each decoder may say about a file it cannot play. Texts ending in '*' are
// prefixes (formatted with a number or a name). An empty set with `silent` means the
// type reports nothing; WAV passes on the library's own text, so any text will do.
struct ExpectedMessages {
  const char* type;
  bool silent;
  bool anyText;
  std::vector<std::string> texts;
};

const ExpectedMessages& MessagesFor(const std::string& type) {
  static const ExpectedMessages table[] = {
      {"mp3", true, false, {}},
      {"wav", false, true, {}},
      {"ogg", false, false,
       {"Can't open file.", "Input does not appear to be an Ogg bitstream.",
        "Can't deal with multiple streams yet. Streams:*", "Unable to get ogg info.",
        "Can't deal with more than 2 channels yet. Channels:*"}},
      {"wma", false, false,
       {"Can't open file.", "No audio data exist in this file.", "Can not open file '*", "Out of memory!"}},
      {"ape", false, false, {"Can not create APE decompress interface."}},
      {"flac", false, false, {"Failed when initialize FLAC decoder.", "Can not process metadata properly."}},
  };
  for (const auto& row : table) {
    if (type == row.type) return row;
  }
  return table[1];
}

bool TextAllowed(const ExpectedMessages& row, const std::string& text) {
  if (row.anyText) return !text.empty();
  return std::any_of(row.texts.begin(), row.texts.end(), [&](const std::string& t) {
    if (!t.empty() && t.back() == '*') return text.rfind(t.substr(0, t.size() - 1), 0) == 0;
    return text == t;
  });
}

bool HasDecoder(const std::string& type) {
  const std::u16string probe = platform::FromUtf8("probe." + type);
  return MakeDecoderFor(probe.c_str()) != nullptr;
}

constexpr int kRate = 44100;
constexpr int kChannels = 2;

// Test material shared by the test processes of one run: made once, each file
// written under a private name and renamed into place.
std::string SharedDir() {
  static const std::string dir = [] {
    const fs::path path = fs::path(TempDir()).parent_path() / "bad-input-material";
    fs::create_directories(path);
    return path.string();
  }();
  return dir;
}

// A file of the type holding `frames` frames of the test signal; nullopt when the
// encoder for it is not installed or failed.
std::optional<std::string> Material(const std::string& type, int frames) {
  const std::string stem = SharedDir() + "/" + std::to_string(frames);
  const std::string path = stem + "." + type;
  if (fs::exists(path)) return path;
  const std::string wav = TempPath("source-" + std::to_string(frames) + ".wav");
  if (!fs::exists(wav) &&
      !WriteSoundFile(wav, kRate, kChannels, SF_FORMAT_WAV | SF_FORMAT_PCM_16, MakeTestSignal(kRate, kChannels, frames))) {
    return std::nullopt;
  }
  const std::string made = TempPath("made." + type);
  if (frames == 0 && type == "ape") {
    // jmac writes nothing for no samples: a file cut before its first frame holds
    // only its headers, as a copy that stopped early does.
    const auto whole = Material(type, kRate);
    if (!whole) return std::nullopt;
    corpus::Cut(*whole, made, corpus::ApeHeaderBytes(*whole));
  } else {
    std::string command;
    if (type == "wav") command = "cp '" + wav + "' '" + made + "'";
    if (type == "mp3" && HaveTool("lame")) command = "lame --quiet -b 128 '" + wav + "' '" + made + "'";
    if (type == "ogg" && HaveTool("oggenc")) command = "oggenc -Q -q 2 -o '" + made + "' '" + wav + "'";
    if (type == "flac" && HaveTool("flac")) command = "flac -s -f -o '" + made + "' '" + wav + "'";
    // flac refuses a WAV without samples; sox writes the stream header alone.
    if (type == "flac" && frames == 0 && HaveTool("sox")) {
      command = "sox -n -r " + std::to_string(kRate) + " -c " + std::to_string(kChannels) + " -b 16 '" + made +
                "' trim 0 0";
    }
    if (type == "wma" && HaveTool("ffmpeg")) {
      command = "ffmpeg -nostdin -v error -y -i '" + wav + "' -c:a wmav2 -b:a 128k '" + made + "'";
    }
    if (type == "ape" && HaveTool("jmac")) command = "jmac c2 '" + wav + "' '" + made + "'";
    if (command.empty() || !RunTool(command)) return std::nullopt;
  }
  if (!fs::exists(made) || fs::file_size(made) == 0) return std::nullopt;
  std::error_code ignored;
  fs::rename(made, path, ignored);
  return fs::exists(path) ? std::optional<std::string>(path) : std::nullopt;
}

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

enum class Case { kMissing, kEmpty, kZeroLength, kTruncated, kRandom, kOtherFormat, kDirectory, kUnreadable,
                  kNonUtf8Name, kLongPath };

const char* CaseName(Case c) {
  constexpr const char* names[] = {"Missing", "NoAudio", "ZeroLength", "Truncated", "RandomBytes",
                                   "OtherFormat", "Directory", "Unreadable", "NonUtf8Name", "Path259"};
  return names[static_cast<int>(c)];
}

// Cases no decoder can play: a message is owed (unless the type is silent).
bool MustFail(Case c) {
  return c == Case::kMissing || c == Case::kZeroLength || c == Case::kDirectory ||
         (c == Case::kUnreadable && ::geteuid() != 0);
}
// Cases that hold a good file: it must play, without a message.
bool MustPlay(Case c) { return c == Case::kNonUtf8Name || c == Case::kLongPath; }

struct Input {
  std::string label;
  std::u16string path;
};

// A window, scripted devices and a box recorder around an EngineSession.
class EngineFixture : public ::testing::Test {
 protected:
  // Plays a fresh good WAV and checks it arrives whole, with no message.
  void ExpectNextGoodFilePlays(EngineSession& session, const std::string& after) {
    SCOPED_TRACE("the good WAV after " + after);
    const auto samples = MakeTestSignal(22050, 2, 3000, 5);
    const std::string path = TempPath("good.wav");
    ASSERT_TRUE(WriteSoundFile(path, 22050, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples));
    boxes.Clear();
    session.PlayNewFile(platform::FromUtf8(path));
    ASSERT_TRUE(session.WaitEnded()) << "the good file never ended";
    ASSERT_NE(session.lastOutput(), nullptr);
    std::scoped_lock hold(session.lastOutput()->mutex);
    EXPECT_TRUE(session.lastOutput()->written == ToBytes(samples)) << "the good file's PCM differs";
    EXPECT_EQ(boxes.Count(), 0u);
  }

  FakeWindow window;
  ScriptedOutputDevices devices;
  RecordingDisplayFactory displays;
  MessageBoxRecorder boxes;
};

class BadInputTest : public EngineFixture, public ::testing::WithParamInterface<std::tuple<const char*, Case>> {
 protected:
  std::string Type() const { return std::get<0>(GetParam()); }
  Case Kind() const { return std::get<1>(GetParam()); }
  std::string Name(const std::string& base) const { return TempPath(base + "." + Type()); }

  // The inputs of this row; empty when the material for it cannot be made here.
  std::vector<Input> MakeInputs() {
    const std::string type = Type();
    const auto good = Material(type, kRate);
    auto fromGood = [&](const std::string& label, const std::string& path) -> std::vector<Input> {
      if (!good) return {};
      fs::copy_file(*good, path, fs::copy_options::overwrite_existing);
      return {{label, platform::FromUtf8(path)}};
    };
    switch (Kind()) {
      case Case::kMissing:
        return {{"missing", platform::FromUtf8(Name("does-not-exist"))}};
      case Case::kEmpty: {
        const auto none = Material(type, 0);
        if (!none) return {};
        return {{"no audio", platform::FromUtf8(*none)}};
      }
      case Case::kZeroLength:
        WriteAll(Name("zero"), {});
        return {{"zero length", platform::FromUtf8(Name("zero"))}};
      case Case::kTruncated: {
        if (!good) return {};
        const Bytes whole = ReadAll(*good);
        const std::size_t n = whole.size();
        std::vector<Input> inputs;
        for (std::size_t cut : {std::size_t{1}, std::size_t{4}, std::size_t{12}, std::size_t{45}, n / 10, n / 4,
                                n / 2, 3 * n / 4, 9 * n / 10, n - 1}) {
          const std::string path = Name("cut-" + std::to_string(cut));
          WriteAll(path, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(std::min(cut, n))));
          inputs.push_back({"cut at " + std::to_string(cut) + " of " + std::to_string(n), platform::FromUtf8(path)});
        }
        return inputs;
      }
      case Case::kRandom: {
        std::mt19937 random(static_cast<unsigned>(type.size() * 131 + type[0]));
        Bytes bytes(16384);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
        WriteAll(Name("random"), bytes);
        return {{"random bytes", platform::FromUtf8(Name("random"))}};
      }
      case Case::kOtherFormat: {
        std::optional<std::string> other;
        for (const char* candidate : {"wav", "ogg", "flac", "mp3"}) {
          if (type != candidate && !other) other = Material(candidate, kRate);
        }
        if (!other) return {};
        WriteAll(Name("other"), ReadAll(*other));
        return {{"bytes of " + fs::path(*other).extension().string(), platform::FromUtf8(Name("other"))}};
      }
      case Case::kDirectory:
        fs::create_directories(Name("folder"));
        return {{"directory", platform::FromUtf8(Name("folder"))}};
      case Case::kUnreadable: {
        auto inputs = fromGood("unreadable", Name("locked"));
        if (!inputs.empty()) ::chmod(Name("locked").c_str(), 0);
        return inputs;
      }
      case Case::kNonUtf8Name:
        return fromGood("name with bytes FF FE", Name("\xff\xfe-latin1-\xe9"));
      case Case::kLongPath: {
        // Several folders, since one name may not exceed 255 bytes; 259 characters in all.
        std::string dir = TempDir() + "/long";
        while (259 - dir.size() > 120) dir += "/" + std::string(100, 'd');
        fs::create_directories(dir);
        const std::size_t stem = 259 - dir.size() - 2 - type.size();
        const std::string path = dir + "/" + std::string(stem, 'f') + "." + type;
        EXPECT_EQ(path.size(), 259u);
        return fromGood("259-character path", path);
      }
    }
    return {};
  }

  void TearDown() override { ::chmod(Name("locked").c_str(), 0600); }
};

TEST_P(BadInputTest, EndsCleanlyWithTheTypesMessageAndTheNextFilePlays) {
  const std::string type = Type();
  const std::vector<Input> inputs = MakeInputs();
  if (inputs.empty()) GTEST_SKIP() << "no encoder for ." << type << " test material here";
  const bool decoderExists = HasDecoder(type);
  const ExpectedMessages& expected = MessagesFor(type);

  EngineSession session(window, devices, displays);
  std::string record;  // every message shown, kept in the test report
  for (const Input& input : inputs) {
    SCOPED_TRACE(input.label);
    boxes.Clear();
    session.PlayNewFile(input.path);
    ASSERT_TRUE(session.WaitEnded()) << "the playback hangs";
    session.PumpMessages();
    EXPECT_EQ(session.MenuMismatch(), "");
    EXPECT_EQ(session.LeftoverObjects(), "");
    EXPECT_EQ(shell::fileReady.load(), 0);

    const auto shown = boxes.Boxes();
    std::vector<std::string> texts;
    record += input.label + ":";
    for (const auto& box : shown) {
      texts.push_back(Narrow(box.text));
      record += " \"" + texts.back() + "\"";
    }
    record += "; ";
    if (!decoderExists) {
      ASSERT_EQ(texts.size(), 1u);
      EXPECT_EQ(texts[0], "Unknown file type.");
      continue;
    }
    EXPECT_LE(texts.size(), 2u) << "one clear message, not a cascade";
    for (std::size_t i = 0; i < shown.size(); ++i) {
      EXPECT_TRUE(TextAllowed(expected, texts[i])) << "unexpected message \"" << texts[i] << "\"";
      const std::string caption = Narrow(shown[i].caption);
      EXPECT_TRUE(caption == "Error" || caption == "Info") << caption;
    }
    EXPECT_TRUE(!expected.silent || texts.empty()) << "this type fails silently";
    if (MustFail(Kind())) {
      EXPECT_TRUE(expected.silent || !texts.empty()) << "the user is owed a message";
      if (session.lastOutput()) {
        std::scoped_lock hold(session.lastOutput()->mutex);
        EXPECT_TRUE(session.lastOutput()->written.empty()) << "sound from a file that cannot be read";
      }
    }
    if (MustPlay(Kind())) {
      EXPECT_TRUE(texts.empty()) << "a good file behind an unusual path";
      ASSERT_NE(session.lastOutput(), nullptr) << "a good file behind an unusual path made no output";
      std::scoped_lock hold(session.lastOutput()->mutex);
      EXPECT_FALSE(session.lastOutput()->written.empty()) << "a good file behind an unusual path made no sound";
    }
  }
  RecordProperty("messages", record);
  ExpectNextGoodFilePlays(session, CaseName(Kind()));
  EXPECT_EQ(session.LeftoverObjects(), "");
}

// Found by fuzzing: a whole Ogg Vorbis stream followed by only the first page of a
// second one. vorbisfile 1.3.7 loses 8 bytes on it (its own fault; see below); the
// program must still refuse it cleanly and play on.
using BadInputRegression = EngineFixture;

TEST_F(BadInputRegression, OggChainEndingAfterTheSecondStreamsFirstPage) {
  if (!HaveTool("oggenc")) GTEST_SKIP() << "oggenc is not installed";
  const std::string wav = TempPath("chain.wav");
  ASSERT_TRUE(WriteSoundFile(wav, 11025, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, MakeTestSignal(11025, 1, 3300)));
  ASSERT_TRUE(RunTool("oggenc -Q --serial 1 -o '" + TempPath("one.ogg") + "' '" + wav + "'"));
  ASSERT_TRUE(RunTool("oggenc -Q --serial 2 -o '" + TempPath("two.ogg") + "' '" + wav + "'"));
  Bytes bytes = ReadAll(TempPath("one.ogg"));
  const Bytes second = ReadAll(TempPath("two.ogg"));
  ASSERT_GT(second.size(), 27u);
  std::size_t firstPage = 27 + second[26];  // page header and its segment table
  for (std::size_t i = 0; i < second[26]; ++i) firstPage += second[27 + i];
  bytes.insert(bytes.end(), second.begin(), second.begin() + static_cast<std::ptrdiff_t>(firstPage));
  WriteAll(TempPath("chain.ogg"), bytes);

  EngineSession session(window, devices, displays);
  session.PlayNewFile(platform::FromUtf8(TempPath("chain.ogg")));
  ASSERT_TRUE(session.WaitEnded());
  session.PumpMessages();
  EXPECT_EQ(session.LeftoverObjects(), "");
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_TRUE(TextAllowed(MessagesFor("ogg"), Narrow(boxes.Boxes()[0].text))) << Narrow(boxes.Boxes()[0].text);
  ExpectNextGoodFilePlays(session, "the chain");
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, BadInputTest,
    ::testing::Combine(::testing::Values("mp3", "wav", "ogg", "wma", "ape", "flac"),
                       ::testing::Values(Case::kMissing, Case::kEmpty, Case::kZeroLength, Case::kTruncated,
                                         Case::kRandom, Case::kOtherFormat, Case::kDirectory, Case::kUnreadable,
                                         Case::kNonUtf8Name, Case::kLongPath)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param)) + "_" + CaseName(std::get<1>(info.param));
    });

}  // namespace
