// Stereo 16-bit audio whose frames carry their number (left i % 30000 + 1, right
// i / 30000 + 1): a capture shows lost, doubled and reordered frames, and silence (0, 0).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/audio_fixtures.h"

namespace index_coded {

inline constexpr std::int64_t kPeriod = 30000;

// Frames first .. first + count - 1, interleaved, and as little-endian bytes.
inline std::vector<std::int16_t> Samples(std::int64_t first, std::int64_t count) {
  std::vector<std::int16_t> samples;
  for (std::int64_t i = first; i < first + count; ++i) {
    samples.push_back(static_cast<std::int16_t>(i % kPeriod + 1));
    samples.push_back(static_cast<std::int16_t>(i / kPeriod + 1));
  }
  return samples;
}
inline std::vector<std::uint8_t> Bytes(std::int64_t first, std::int64_t count) {
  return testing_support::ToBytes(Samples(first, count));
}

// A capture read back: stretches of consecutive source frames and of silence, in order.
struct Stretch {
  bool silent = false;
  std::int64_t first = 0;  // the first source frame; unused for silence
  std::int64_t frames = 0;
};
struct Capture {
  std::vector<Stretch> stretches;
  std::string damage;  // the first frame that is neither silence nor a source frame

  // Silent stretches between the first and the last source frame (silence never
  // follows silence, so those are the inner ones).
  std::vector<std::int64_t> Gaps() const {
    std::vector<std::int64_t> gaps;
    for (std::size_t i = 1; i + 1 < stretches.size(); ++i) {
      if (stretches[i].silent) gaps.push_back(stretches[i].frames);
    }
    return gaps;
  }
};

// The source frames heard, silence left out, as runs of consecutive frames [first, end).
struct Run {
  std::int64_t first = 0, end = 0;
};
inline std::vector<Run> Runs(const Capture& capture) {
  std::vector<Run> runs;
  for (const Stretch& s : capture.stretches) {
    if (s.silent) continue;
    if (!runs.empty() && runs.back().end == s.first) {
      runs.back().end += s.frames;
    } else {
      runs.push_back({s.first, s.first + s.frames});
    }
  }
  return runs;
}

inline Capture Read(const std::vector<std::uint8_t>& bytes) {
  Capture capture;
  for (std::size_t at = 0; at + 3 < bytes.size(); at += 4) {
    const auto left = static_cast<std::int16_t>(bytes[at] | (bytes[at + 1] << 8));
    const auto right = static_cast<std::int16_t>(bytes[at + 2] | (bytes[at + 3] << 8));
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

// "" when the capture holds source frames 0 .. frames - 1 each once and in order,
// with at most maxGaps silent stretches among them; otherwise what is wrong. Given
// `skipped`, frames may be left out: it counts them.
inline std::string PlayedOnceInOrder(const Capture& capture, std::int64_t frames,
                                     std::size_t maxGaps, std::int64_t* skipped = nullptr) {
  if (!capture.damage.empty()) return capture.damage;
  std::int64_t next = 0;
  for (const Stretch& s : capture.stretches) {
    if (s.silent) continue;
    if (skipped != nullptr && s.first > next) *skipped += s.first - next;
    if (s.first != next && (skipped == nullptr || s.first < next)) {
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
