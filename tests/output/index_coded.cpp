#include "tests/output/index_coded.h"

#include <fstream>
#include <iterator>

#include "tests/support/audio_fixtures.h"

namespace index_coded {

namespace {
constexpr std::int64_t kPeriod = 30000;

std::int16_t Sample(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8)));
}
}  // namespace

std::vector<std::int16_t> Samples(std::int64_t first, std::int64_t count) {
  std::vector<std::int16_t> samples;
  for (std::int64_t i = first; i < first + count; ++i) {
    samples.push_back(static_cast<std::int16_t>(i % kPeriod + 1));
    samples.push_back(static_cast<std::int16_t>(i / kPeriod + 1));
  }
  return samples;
}

std::vector<std::uint8_t> Bytes(std::int64_t first, std::int64_t count) {
  return testing_support::ToBytes(Samples(first, count));
}

Capture Read(const std::vector<std::uint8_t>& bytes) {
  Capture capture;
  for (std::size_t at = 0; at + 3 < bytes.size(); at += 4) {
    const std::int16_t left = Sample(bytes, at);
    const std::int16_t right = Sample(bytes, at + 2);
    const bool silent = left == 0 && right == 0;
    if (!silent && (left < 1 || left > kPeriod || right < 1)) {
      capture.damage = "frame " + std::to_string(at / 4) + " of the capture is (" +
                       std::to_string(left) + ", " + std::to_string(right) + ")";
      return capture;
    }
    const std::int64_t index = silent ? 0 : (right - 1) * kPeriod + (left - 1);
    Stretch* last = capture.stretches.empty() ? nullptr : &capture.stretches.back();
    if (last != nullptr && last->silent == silent &&
        (silent || last->first + last->frames == index)) {
      ++last->frames;
    } else {
      capture.stretches.push_back({silent, index, 1});
    }
  }
  return capture;
}

Capture ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Read(std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {}));
}

std::vector<std::int64_t> Capture::Gaps() const {
  std::vector<std::int64_t> gaps;
  bool heardAudio = false;
  std::int64_t pending = -1;
  for (const Stretch& s : stretches) {
    if (s.silent) {
      if (heardAudio) pending = s.frames;
      continue;
    }
    if (pending >= 0) gaps.push_back(pending);
    pending = -1;
    heardAudio = true;
  }
  return gaps;
}

std::string PlayedOnceInOrder(const Capture& capture, std::int64_t frames, std::size_t maxGaps) {
  if (!capture.damage.empty()) return capture.damage;
  std::int64_t next = 0;
  for (const Stretch& s : capture.stretches) {
    if (s.silent) continue;
    if (s.first != next) {
      return "frame " + std::to_string(s.first) + " follows frame " + std::to_string(next - 1) +
             (s.first < next ? " (heard again)" : " (frames skipped)");
    }
    next = s.first + s.frames;
  }
  if (next != frames) {
    return "heard frames 0.." + std::to_string(next - 1) + " of " + std::to_string(frames);
  }
  const std::size_t gaps = capture.Gaps().size();
  if (gaps > maxGaps) {
    return std::to_string(gaps) + " silent gaps inside the audio, at most " +
           std::to_string(maxGaps) + " expected";
  }
  return "";
}

}  // namespace index_coded
