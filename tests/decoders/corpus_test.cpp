// Every file of the corpus (tools/make_corpus) played by the engine to its end against
// ffmpeg's decode: its rate and channels (many mixed to stereo), length within a frame,
// SNR at the format's floor (damaged files either side of the damage, cut ones up to
// the cut). Empty files and files of another format put nothing out.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdlib.h>

#include <gtest/gtest.h>

#include "app/shell_globals.h"
#include "decoders/mad_decoder.h"
#include "output/system_output_devices.h"
#include "platform/kernel/text.h"
#include "player/player.h"
#include "tests/decoders/fixtures.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/fake_window.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/playback_doubles.h"
#include "tools/corpus_edits.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using fixtures::Pcm;
using fixtures::Samples;

struct Entry {
  std::string file, family;
  std::string expect;  // play, pipe, damaged, cut, empty, refused
  std::string kind;
};

void PrintTo(const Entry& e, std::ostream* os) { *os << e.file; }

// The list make_corpus wrote at build time, so that the tests are known before
// any file is made.
std::vector<Entry> Manifest() {
  std::vector<Entry> entries;
  std::ifstream in(TONARIA_CORPUS_MANIFEST);
  for (Entry e; std::getline(in, e.file, '\t') && std::getline(in, e.family, '\t') &&
                std::getline(in, e.expect, '\t') && std::getline(in, e.kind);) {
    entries.push_back(e);
  }
  return entries;
}

// The corpus is made once per build tree, and again when the tool has been
// rebuilt since.
const fs::path& CorpusDir() {
  static const fs::path dir = fixtures::MadeOnce(
      "corpus", std::to_string(fs::last_write_time(TONARIA_MAKE_CORPUS).time_since_epoch().count()),
      [](const fs::path& dir) {
        return RunTool(std::string("'") + TONARIA_MAKE_CORPUS + "' '" + dir.string() + "'");
      });
  return dir;
}

// Plays path through the engine until it ends by itself.
void PlayToEnd(const std::string& path, OutputDevices& devices, RecordingDisplayFactory& displays) {
  FakeWindow window;
  shell::mainWindow = &window;
  SetCurrentFile(path);
  CMadDecoder::ResetDitherRecordsForTesting();
  Player player(PlaybackCollaborators{&devices, &displays});
  ::testing::internal::CaptureStdout();  // the Ogg decoder prints its format
  player.PreparePlayback();
  ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(player.StartPlaybackThread());
  ASSERT_TRUE(EndsByItself(player));
  shell::mainWindow = nullptr;
}

// What each family of files may differ by from ffmpeg's reading of it.
struct Rule {
  const char* family;
  double floorDb;     // INFINITY: bit for bit
  long frame = 0;     // the format's frame, in sample frames: whole lengths agree within one
  long maxShift = 0;  // how far the start of the output may lie from ffmpeg's
  long damage = 0;    // the most a damaged stretch may take, in frames
};

// ffmpeg trims MP3's encoder delay and Info frame; we play them. Lossy decoders round
// differently (libmad's dither, ADPCM's step formula), mixes by their weights. Over
// damage libFLAC puts silence where ffmpeg drops the frame and may lose the next;
// APE and WMA lose what ffmpeg loses. Stretches are measured in 1024-frame blocks.
constexpr Rule kRules[] = {
    {.family = "mp3", .floorDb = 65, .frame = 1152, .maxShift = 3000, .damage = 5 * 1152},
    {.family = "wav", .floorDb = INFINITY},
    {.family = "adpcm", .floorDb = 40},
    {.family = "mix", .floorDb = 70},
    {.family = "flac", .floorDb = INFINITY, .damage = 3 * 4096},
    {.family = "ogg", .floorDb = 90, .frame = 2048, .damage = 2 * 2048},
    // A link resampled by soxr in both, from 16-bit samples here and from float in
    // ffmpeg, dithered here: two good resamplers agree to about 85 dB.
    {.family = "ogg-resampled", .floorDb = 80, .frame = 2048, .damage = 2 * 2048},
    {.family = "ape", .floorDb = INFINITY},
    {.family = "wma", .floorDb = INFINITY, .frame = 2048, .damage = 2 * 2048},
};

// Files also played through the real output on SDL's disk driver (at the sound's pace,
// so a few light ones: libmad's, libsndfile's float and hi-res, the FFmpeg module's).
const std::set<std::string> kThroughTheDevice = {"mono-22k.mp3", "f32.wav", "s24-192k.wav",
                                                 "wmav1-22k-mono.wma"};

// The device plays silence before the first block and after the last; between
// them it must play exactly what the engine wrote, with no gap.
void ExpectHeardExactly(const std::vector<std::int16_t>& heard, std::vector<std::int16_t> written) {
  auto sounding = [](std::int16_t v) { return v != 0; };
  const long lead = (std::find_if(heard.begin(), heard.end(), sounding) - heard.begin()) -
                    (std::find_if(written.begin(), written.end(), sounding) - written.begin());
  ASSERT_GE(lead, 0);
  written.insert(written.begin(), lead, 0);
  written.resize(std::max(written.size(), heard.size()), 0);
  EXPECT_TRUE(heard == written) << "the device played other PCM than the engine wrote";
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char text[160];
  std::snprintf(text, sizeof(text), format, args...);
  return text;
}

// One row of the results table in docs/corpus.md.
void Report(const Entry& e, const std::string& verdict, const std::string& snr) {
  std::printf("| %s | `%s` | %s | %s |\n", e.kind.c_str(), e.file.c_str(), verdict.c_str(),
              snr.c_str());
}

class Corpus : public ::testing::TestWithParam<Entry> {};

TEST_P(Corpus, PlaysAsFfmpegReadsIt) {
  const Entry& e = GetParam();
  const std::string path = (CorpusDir() / e.file).string();
  ASSERT_TRUE(fs::exists(path)) << "make_corpus did not make it; see tools.log";
  ScriptedOutputDevices devices;
  RecordingDisplayFactory displays;
  MessageBoxRecorder boxes;
  if (e.expect == "pipe") {
    ThroughPipe(path, [&](const std::string& pipe) { PlayToEnd(pipe, devices, displays); });
  } else {
    PlayToEnd(path, devices, displays);
  }
  const std::vector<std::uint8_t> written =
      devices.created.empty() ? std::vector<std::uint8_t>{} : devices.created.back()->written;
  if (e.expect == "empty" || e.expect == "refused") {
    EXPECT_TRUE(written.empty()) << written.size() << " bytes of " << e.kind
                                 << " reached the output";
    Report(e, boxes.Count() > 0 ? "nothing played; a message" : "nothing played", "");
    return;
  }
  const Pcm reference = fixtures::ReadWav(path + ".ref.wav");
  ASSERT_GT(reference.Frames(), 0) << "ffmpeg made no reference";
  ASSERT_FALSE(devices.created.empty()) << "no output was made";
  const auto& out = *devices.created.back();
  EXPECT_EQ(out.sampleRate, static_cast<float>(reference.rate));
  EXPECT_EQ(out.channels, static_cast<std::uint32_t>(reference.channels));
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_TRUE(displays.created.back()->consumed == written) << "the display saw other PCM";
  const Pcm played{reference.rate, reference.channels, Samples(written)};

  const Rule* rule = std::find_if(std::begin(kRules), std::end(kRules),
                                  [&](const Rule& r) { return e.family == r.family; });
  ASSERT_NE(rule, std::end(kRules)) << "no rule for " << e.family;
  const fixtures::Lineup lineup{played, reference};
  const long frames = reference.Frames();
  const long head = lineup.BestShift(std::min(frames / 8, 8192L), 0, rule->maxShift);
  const long lengthDiff = played.Frames() - head - frames;
  if (kThroughTheDevice.count(e.file) != 0) {
    // Set before this process's first use of SDL; each test runs in its own process.
    const fs::path capture = TempPath("disk-" + e.file + ".raw");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
    RecordingDisplayFactory heardDisplays;
    PlayToEnd(path, SystemOutputDevices(), heardDisplays);
    ExpectHeardExactly(Samples(corpus::ReadFile(capture)), played.samples);
  }
  if (e.expect == "damaged") {
    // The tail lines up from the end: the decoders may lose different amounts.
    const long tail = lineup.BestShift(frames - frames / 8 - 4096, played.Frames() - frames,
                                       rule->maxShift + rule->damage);
    const auto [stretch, worst] = lineup.DamagedStretch(head, tail, rule->floorDb);
    Report(e,
           Format("%d Hz, %d ch; the damage takes %ld frames", reference.rate, reference.channels,
                  stretch),
           Format("%.1f dB elsewhere", worst));
    EXPECT_LE(stretch, rule->damage) << "the damage took more than it may";
    EXPECT_LE(std::abs(lengthDiff), rule->damage);
    return;
  }
  const double snr = lineup.SnrDb(head, 0, e.expect == "cut" ? frames - rule->frame : frames);
  Report(e,
         Format("%d Hz, %d ch; starts %ld frames later, %+ld frames long", reference.rate,
                reference.channels, head, lengthDiff),
         Format("%.1f dB", snr));
  EXPECT_GE(snr, rule->floorDb);
  EXPECT_LE(std::abs(lengthDiff), e.expect != "cut" ? rule->frame : 4 * rule->frame);
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus, ::testing::ValuesIn(Manifest()),
                         [](const ::testing::TestParamInfo<Entry>& info) {
                           std::string name = info.param.file;
                           for (char& ch : name) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

}  // namespace
