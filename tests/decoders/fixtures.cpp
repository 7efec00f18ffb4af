#include "tests/decoders/fixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/file.h>
#include <unistd.h>

#include <FLAC/stream_encoder.h>
#include <sndfile.h>

#include "platform/kernel/text.h"
#include "tests/support/audio_fixtures.h"
#include "tools/corpus_edits.h"

namespace fixtures {
namespace {

namespace fs = std::filesystem;
using testing_support::MakeTestSignal;
using testing_support::RunTool;

void Wav(const fs::path& dir, const std::string& name, int rate, int channels, int frames,
         unsigned salt = 1, int format = SF_FORMAT_PCM_16) {
  auto samples = MakeTestSignal(rate, channels, frames, salt);
  if (salt == 0) samples.assign(samples.size(), 0);
  testing_support::WriteSoundFile((dir / name).string(), rate, channels, SF_FORMAT_WAV | format,
                                  samples);
}

// Sample sizes the flac tool does not write (12, 20, 32 bits) come from libFLAC's encoder.
void EncodeFlac(const fs::path& path, unsigned bits, const std::vector<FLAC__int32>& interleaved) {
  FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
  FLAC__stream_encoder_set_channels(encoder, 2);
  FLAC__stream_encoder_set_bits_per_sample(encoder, bits);
  FLAC__stream_encoder_set_sample_rate(encoder, 44100);
  if (FLAC__stream_encoder_init_file(encoder, path.c_str(), nullptr, nullptr) ==
      FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    FLAC__stream_encoder_process_interleaved(encoder, interleaved.data(),
                                             static_cast<unsigned>(interleaved.size() / 2));
    FLAC__stream_encoder_finish(encoder);
  }
  FLAC__stream_encoder_delete(encoder);
}

bool Generate(const fs::path& dir) {
  Wav(dir, "s44.wav", 44100, 2, 88200);
  Wav(dir, "s44b.wav", 44100, 2, 44100, 2);
  Wav(dir, "m44.wav", 44100, 1, 88200);
  Wav(dir, "s22.wav", 22050, 2, 44100);
  Wav(dir, "s24.wav", 24000, 2, 48000);
  Wav(dir, "six.wav", 44100, 6, 44100);
  Wav(dir, "zero.wav", 44100, 2, 44100, 0);
  Wav(dir, "u8.wav", 44100, 2, 30000, 3, SF_FORMAT_PCM_U8);
  for (const auto& [rate, channels] : {std::pair{44100, 2}, {44100, 1}, {22050, 2}, {22050, 1}}) {
    Wav(dir, "src-" + std::to_string(rate) + "-" + std::to_string(channels) + "-16.wav", rate,
        channels, kFrames);
  }
  {
    // 12 bits keep the top of the signal (delivered with zero low bits); 20 and 32
    // bits add low bits below it (dropped again on delivery).
    const auto signal = MakeTestSignal(44100, 2, 88200);
    std::vector<FLAC__int32> b12, b20, b32;
    std::vector<std::int16_t> top12;
    for (const std::int16_t v : signal) {
      b12.push_back(v >> 4);
      top12.push_back(static_cast<std::int16_t>(v & ~0xF));
      b20.push_back(v * 16 + static_cast<FLAC__int32>(b20.size() * 5 % 16));
      b32.push_back(v * 65536 + static_cast<FLAC__int32>(b32.size() * 7919 % 65536));
    }
    EncodeFlac(dir / "b12.flac", 12, b12);
    EncodeFlac(dir / "b20.flac", 20, b20);
    EncodeFlac(dir / "b32.flac", 32, b32);
    testing_support::WriteSoundFile((dir / "top12.wav").string(), 44100, 2,
                                    SF_FORMAT_WAV | SF_FORMAT_PCM_16, top12);
  }
  const char* steps[] = {
      "sox {s44.wav} -b 24 {b24.wav} vol 0.93",
      "lame --quiet -b 128 {s44.wav} {cbr.mp3}",
      "lame --quiet -V 2 {s44.wav} {vbr.mp3}",
      "lame --quiet -b 64 --resample 22.05 {s22.wav} {r22050.mp3}",
      "lame --quiet -b 64 --resample 24 {s24.wav} {r24000.mp3}",
      "lame --quiet -m m -b 96 {m44.wav} {mono.mp3}",
      "lame --quiet -b 128 {zero.wav} {silence.mp3}",
      "oggenc -Q -q 5 {s44.wav} -o {stereo.ogg}",
      "oggenc -Q -q 5 {m44.wav} -o {mono.ogg}",
      "oggenc -Q -q 5 {six.wav} -o {six.ogg}",
      "oggenc -Q -q 5 {s44b.wav} -o {second.ogg}",
      "flac -s -f --blocksize=1152 {s44.wav} -o {s16.flac}",
      "flac -s -f --blocksize=4096 {s44.wav} -o {b4096.flac}",
      "flac -s -f {u8.wav} -o {u8.flac}",
      "flac -s -f {b24.wav} -o {b24.flac}",
      "ffmpeg -nostdin -v error -y -i {src-22050-1-16.wav} -i {src-44100-2-16.wav} "
      "-map 0:a -map 1:a -c:a wmav2 -b:a 128k -f asf {two-audio.wma}",
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -t 2 -c:v wmv2 -an "
      "-f asf {video-only.wma}",
      // MP3 goes by lame's own decoder: ffmpeg's strays from it and from libmad at 24000 Hz.
      "lame --quiet --decode -t {cbr.mp3} {cbr.mp3.raw}",
      "lame --quiet --decode -t {vbr.mp3} {vbr.mp3.raw}",
      "lame --quiet --decode -t {r22050.mp3} {r22050.mp3.raw}",
      "lame --quiet --decode -t {r24000.mp3} {r24000.mp3.raw}",
      "lame --quiet --decode -t {mono.mp3} {mono.mp3.raw}",
      "ffmpeg -v error -y -i {two-audio.wma} -map 0:a:1 -f s16le -acodec pcm_s16le "
      "{two-audio.wma.raw}",
  };
  const std::string d = dir.string() + "/";
  auto quoted = [&](std::string step) {
    for (std::size_t at; (at = step.find('{')) != std::string::npos;) {
      const std::size_t end = step.find('}', at);
      step = step.substr(0, at) + "'" + d + step.substr(at + 1, end - at - 1) + "'" +
             step.substr(end + 1);
    }
    return step;
  };
  for (const std::string name : {"ape-44100-2-16", "ape-44100-1-16"}) {
    RunTool(quoted("jmac c2 {src" + name.substr(3) + ".wav} {" + name + ".ape}"));
  }
  for (const std::string name : {"wmav2-44100-2", "wmav1-44100-2", "wmav2-44100-1", "wmav2-22050-2",
                                 "wmav2-22050-1", "wmav1-22050-1"}) {
    RunTool(quoted("ffmpeg -nostdin -v error -y -i {src" + name.substr(5) + "-16.wav} -c:a " +
                   name.substr(0, 5) + " -b:a 128k -f asf {" + name + ".wma}"));
  }
  for (const char* step : steps) RunTool(quoted(step));
  for (const char* name :
       {"stereo.ogg", "second.ogg", "mono.ogg", "wmav2-44100-2.wma", "wmav1-44100-2.wma",
        "wmav2-44100-1.wma", "wmav2-22050-2.wma", "wmav1-22050-1.wma"}) {
    RunTool(quoted("ffmpeg -v error -y -i {" + std::string(name) +
                   "} -f s16le -acodec pcm_s16le {" + name + ".raw}"));
  }
  // Two links one after the other, each played whole.
  corpus::Join({dir / "stereo.ogg", dir / "second.ogg"}, dir / "chained.ogg");
  corpus::Join({dir / "stereo.ogg.raw", dir / "second.ogg.raw"}, dir / "chained.ogg.raw");
  corpus::Damage(dir / "stereo.ogg", dir / "damaged.ogg", 0.4, 3000);
  for (const char* name : {"notes.mp3", "notes.ogg", "text.ape", "text.wma"})
    std::ofstream(dir / name) << "These are notes, not audio.\n";
  return true;
}

}  // namespace

fs::path MadeOnce(const std::string& name, const std::string& stamp,
                  const std::function<bool(const fs::path&)>& make) {
  const char* root = std::getenv("TONARIA_TEST_TMP");
  const fs::path dir =
      fs::path(root != nullptr ? root : fs::temp_directory_path() / "tonaria-tests") / name;
  fs::create_directories(dir);
  const int lock = ::open((dir / ".lock").c_str(), O_CREAT | O_RDWR, 0644);
  ::flock(lock, LOCK_EX);
  std::string done;
  std::ifstream(dir / ".done") >> done;
  if (done != stamp) {
    for (const auto& item : fs::directory_iterator(dir)) {
      if (item.path().filename() != ".lock") fs::remove_all(item.path());
    }
    if (make(dir)) std::ofstream(dir / ".done") << stamp << "\n";
  }
  ::flock(lock, LOCK_UN);
  ::close(lock);
  return dir;
}

std::string Path(const std::string& name) {
  static const fs::path dir = MadeOnce("decoder-fixtures", "6", Generate);
  return (dir / name).string();
}

std::vector<std::int16_t> Reference(const std::string& name) {
  return Samples(corpus::ReadFile(Path(name + ".raw")));
}

bool OpenPath(CDecoder& decoder, const std::string& path) {
  const std::u16string wide = platform::FromUtf8(path);
  decoder.SetFile(wide.c_str());
  return decoder.Open() != 0;
}

std::vector<std::int16_t> DecodeAll(CDecoder& decoder, std::vector<std::uint32_t>* sizes,
                                    std::size_t atMost) {
  std::vector<std::uint8_t> bytes;
  std::uint8_t block[16000];
  for (std::uint32_t n;
       bytes.size() / 2 < atMost && (n = decoder.Read(block, sizeof(block))) != 0;) {
    bytes.insert(bytes.end(), block, block + n);
    if (sizes != nullptr) sizes->push_back(n);
  }
  bytes.resize(std::min(bytes.size(), atMost * 2));
  return Samples(bytes);
}

int OpenFileCount() {
  return static_cast<int>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{}));
}

std::vector<std::int16_t> Samples(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> samples(bytes.size() / 2);
  if (!samples.empty())  // memcpy may not be given the null of an empty vector
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);  // little-endian, as ToBytes
  return samples;
}

Pcm ReadWav(const std::string& path) {
  Pcm pcm;
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return pcm;
  pcm.rate = info.samplerate;
  pcm.channels = info.channels;
  pcm.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_short(file, pcm.samples.data(), info.frames);
  sf_close(file);
  return pcm;
}

double Lineup::Error(long shift, long from, long to, double* signal) const {
  const int ch = reference.channels;
  double noise = 0;
  for (long f = std::max({from, -shift, 0L});
       f < std::min({to, decoded.Frames() - shift, reference.Frames()}); ++f) {
    for (int c = 0; c < ch; ++c) {
      const double r = reference.samples[f * ch + c];
      const double e = decoded.samples[(f + shift) * ch + c] - r;
      noise += e * e;
      if (signal != nullptr) *signal += r * r;
    }
  }
  return noise;
}

long Lineup::BestShift(long from, long around, long range) const {
  long best = around;
  double least = INFINITY;
  for (long shift = around - range; shift <= around + range; ++shift) {
    const double e = Error(shift, from, from + 4096);
    if (e < least) least = e, best = shift;
  }
  return best;
}

double Lineup::SnrDb(long shift, long from, long to) const {
  double signal = 0;
  const double noise = Error(shift, from, to, &signal);
  return noise == 0 ? INFINITY : 10 * std::log10(signal / noise);
}

std::pair<long, double> Lineup::DamagedStretch(long head, long tail, double floorDb) const {
  constexpr long kBlock = 1024;
  const long frames = reference.Frames();
  double worst = INFINITY;
  long good = 0;
  for (; good + kBlock <= frames; good += kBlock) {
    const double snr = SnrDb(head, good, good + kBlock);
    if (snr < floorDb) break;
    worst = std::min(worst, snr);
  }
  long rest = frames;
  for (long from; rest > good; rest = from) {
    from = std::max(good, rest - kBlock);
    const double snr = SnrDb(tail, from, rest);
    if (snr < floorDb) break;
    worst = std::min(worst, snr);
  }
  return {rest - good, worst};
}

}  // namespace fixtures
