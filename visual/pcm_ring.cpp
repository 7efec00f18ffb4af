#include "visual/pcm_ring.h"

#include <algorithm>

PcmRing::PcmRing(std::uint32_t bytes)
    : ringBytes(bytes & ~std::uint32_t{3}),
      sampleRing(ringBytes > 0 ? std::make_unique<std::atomic<std::uint8_t>[]>(ringBytes)
                               : nullptr) {}

void PcmRing::Write(const std::uint8_t* data, std::uint32_t length) {
  if (ringBytes == 0 || data == nullptr) return;
  const std::uint32_t r = ringBytes;
  while (length > 0) {
    // At most one ring length per step, so no copy runs past the end.
    const std::uint32_t piece = std::min(length, r);
    const std::uint32_t w = ringWritePos;
    std::uint32_t first = piece;
    std::uint32_t rest = 0;
    if (w + piece > r - 1) {
      first = r - w;
      rest = w + piece - r;
    }
    for (std::uint32_t i = 0; i < first; ++i)
      sampleRing[w + i].store(data[i], std::memory_order_relaxed);
    if (rest > 0) {
      for (std::uint32_t i = 0; i < rest; ++i)
        sampleRing[i].store(data[first + i], std::memory_order_relaxed);
      ringWritePos = rest;
    } else {
      ringWritePos = w + first;  // may equal r: the next block starts at the front
    }
    data += piece;
    length -= piece;
  }
}

void PcmRing::Convert(std::uint32_t start, std::uint32_t frames, std::uint32_t bytesPerFrame,
                      float* left, float* right, std::uint64_t& wraps) const {
  if (ringBytes == 0) return;
  const bool mono = bytesPerFrame == 2;
  const std::uint32_t step = mono ? 2 : 4;
  std::uint32_t pos = start - start % step;  // whole frames only, so a sample never leaves the ring
  auto byteAt = [this](std::uint32_t p) { return sampleRing[p].load(std::memory_order_relaxed); };
  for (std::uint32_t i = 0; i < frames; ++i) {
    if (pos >= ringBytes) {
      wraps += pos / ringBytes;
      pos %= ringBytes;
    }
    left[i] = SampleToFloat(byteAt(pos), byteAt(pos + 1));
    right[i] = mono ? left[i] : SampleToFloat(byteAt(pos + 2), byteAt(pos + 3));
    pos += step;
  }
}
