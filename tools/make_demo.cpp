// Writes the demo track: 24 seconds of 44.1 kHz stereo 16-bit WAV, a melody over
// a bass line with noise-burst drums, all from code so nothing is downloaded.
//   make_demo OUTPUT.wav
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <sndfile.h>

namespace {

constexpr int kRate = 44100;
constexpr double kBeat = 0.5;  // seconds per beat: 120 beats a minute
constexpr int kBeats = 48;     // 24 seconds
constexpr double kPi = 3.14159265358979323846;

double NoteHz(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

// A small deterministic noise source, so the demo is the same every build.
class Noise {
 public:
  double Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<double>(state_ >> 8) / 8388608.0 - 1.0;
  }

 private:
  std::uint32_t state_ = 12345;
};

void AddTone(std::vector<double>& left, std::vector<double>& right, double start, double length,
             double hz, double gain, double pan, bool bright) {
  const auto first = static_cast<std::size_t>(start * kRate);
  const auto count = static_cast<std::size_t>(length * kRate);
  for (std::size_t i = 0; i < count && first + i < left.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double envelope = std::min(1.0, t * 200.0) * std::exp(-t * (bright ? 3.0 : 2.0));
    const double phase = 2.0 * kPi * hz * t;
    double v = std::sin(phase) + (bright ? 0.35 * std::sin(2 * phase) + 0.2 * std::sin(3 * phase)
                                         : 0.25 * std::sin(2 * phase));
    v *= gain * envelope;
    left[first + i] += v * (1.0 - pan);
    right[first + i] += v * (1.0 + pan);
  }
}

void AddDrum(std::vector<double>& left, std::vector<double>& right, double start, int kind,
             Noise& noise) {
  const auto first = static_cast<std::size_t>(start * kRate);
  const double length = kind == 0 ? 0.25 : kind == 1 ? 0.18 : 0.05;
  const auto count = static_cast<std::size_t>(length * kRate);
  for (std::size_t i = 0; i < count && first + i < left.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    double v = 0.0;
    if (kind == 0) {  // kick: a falling sine with a click of noise
      v = 0.9 * std::sin(2 * kPi * (50.0 * t + 60.0 * (1 - std::exp(-t * 30.0)) / 30.0)) *
          std::exp(-t * 12.0);
      v += 0.1 * noise.Next() * std::exp(-t * 200.0);
    } else if (kind == 1) {  // snare: a noise burst over a short tone
      v = (0.5 * noise.Next() + 0.2 * std::sin(2 * kPi * 190.0 * t)) * std::exp(-t * 22.0);
    } else {  // hat: a very short, bright burst
      v = 0.25 * noise.Next() * std::exp(-t * 90.0);
    }
    left[first + i] += v;
    right[first + i] += v;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_demo OUTPUT.wav\n");
    return 1;
  }
  const std::size_t frames = static_cast<std::size_t>(kBeats * kBeat * kRate);
  std::vector<double> left(frames, 0.0);
  std::vector<double> right(frames, 0.0);

  // A - F - C - G, two beats... a bar of four beats per chord.
  constexpr std::array<int, 4> kBassRoots = {45, 41, 48, 43};
  constexpr std::array<int, 16> kMelody = {76, 74, 72, 74, 76, 76, 76, 79,
                                           77, 76, 74, 72, 74, 76, 74, 71};
  Noise noise;
  for (int beat = 0; beat < kBeats; ++beat) {
    const double t = beat * kBeat;
    const int root = kBassRoots[(beat / 4) % 4];
    AddTone(left, right, t, kBeat * 0.9, NoteHz(root), 0.35, -0.2, false);
    AddTone(left, right, t + kBeat / 2, kBeat * 0.45, NoteHz(root + 12), 0.2, -0.2, false);
    AddTone(left, right, t, kBeat * 0.95, NoteHz(kMelody[beat % 16]), 0.22, 0.3, true);
    if (beat % 2 == 1)
      AddTone(left, right, t + kBeat / 2, kBeat * 0.45, NoteHz(kMelody[(beat + 3) % 16] + 12), 0.12,
              0.4, true);
    AddDrum(left, right, t, beat % 2 == 0 ? 0 : 1, noise);
    AddDrum(left, right, t + kBeat / 2, 2, noise);
  }

  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(argv[1], SFM_WRITE, &info);
  if (file == nullptr) {
    std::fprintf(stderr, "make_demo: %s\n", sf_strerror(nullptr));
    return 1;
  }
  std::vector<short> pcm(frames * 2);
  for (std::size_t i = 0; i < frames; ++i) {
    pcm[2 * i] = static_cast<short>(std::lround(std::clamp(left[i] * 0.6, -1.0, 1.0) * 32767.0));
    pcm[2 * i + 1] =
        static_cast<short>(std::lround(std::clamp(right[i] * 0.6, -1.0, 1.0) * 32767.0));
  }
  const sf_count_t written = sf_writef_short(file, pcm.data(), static_cast<sf_count_t>(frames));
  sf_close(file);
  return written == static_cast<sf_count_t>(frames) ? 0 : 1;
}
