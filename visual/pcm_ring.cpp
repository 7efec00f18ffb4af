#include "visual/pcm_ring.h"

#include <algorithm>

PcmRing::PcmRing(std::uint32_t bytes)
    : ringBytes(bytes & ~std::uint32_t{3}),
      sampleRing(ringBytes > 0 ? std::make_unique<std::atomic<std::uint32_t>[]>(ringBytes / 4)
                               : nullptr) {}

void PcmRing::Store(std::uint32_t pos, const std::uint8_t* data, std::uint32_t n) {
  // A byte on its own goes into its word; only this thread writes, so load and store do.
  const auto storeByte = [this](std::uint32_t at, std::uint8_t byte) {
    std::atomic<std::uint32_t>& word = sampleRing[at / 4];
    const std::uint32_t shift = (at % 4) * 8;
    const std::uint32_t kept =
        word.load(std::memory_order_relaxed) & ~(std::uint32_t{0xFF} << shift);
    word.store(kept | (std::uint32_t{byte} << shift), std::memory_order_relaxed);
  };
  for (; n > 0 && pos % 4 != 0; --n) storeByte(pos++, *data++);
  for (; n >= 4; n -= 4, pos += 4, data += 4) {
    const std::uint32_t word = data[0] | (std::uint32_t{data[1]} << 8) |
                               (std::uint32_t{data[2]} << 16) | (std::uint32_t{data[3]} << 24);
    sampleRing[pos / 4].store(word, std::memory_order_relaxed);
  }
  for (; n > 0; --n) storeByte(pos++, *data++);
}

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
    Store(w, data, first);
    if (rest > 0) {
      Store(0, data + first, rest);
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
  std::uint32_t i = 0;
  while (i < frames) {
    if (pos >= ringBytes) {
      wraps += pos / ringBytes;
      pos %= ringBytes;
    }
    // The frames up to the ring's end: the words are read first, then converted in a
    // loop of plain arithmetic the compiler can vectorise.
    constexpr std::uint32_t kChunk = 256;
    const std::uint32_t run = std::min({frames - i, (ringBytes - pos) / step, kChunk});
    if (mono) {
      for (std::uint32_t k = 0; k < run; ++k, pos += 2) {
        const std::uint32_t word = sampleRing[pos / 4].load(std::memory_order_relaxed);
        left[i + k] = right[i + k] =
            SampleToFloat(static_cast<std::int16_t>(word >> ((pos % 4) * 8)));
      }
    } else {
      std::uint32_t words[kChunk];
      const std::atomic<std::uint32_t>* from = sampleRing.get() + pos / 4;
      for (std::size_t k = 0; k < run; ++k) words[k] = from[k].load(std::memory_order_relaxed);
      float* l = left + i;
      float* r = right + i;
      for (std::size_t k = 0; k < run; ++k) {
        l[k] = SampleToFloat(static_cast<std::int16_t>(words[k] & 0xFFFF));
        r[k] = SampleToFloat(static_cast<std::int16_t>(words[k] >> 16));
      }
      pos += run * 4;
    }
    i += run;
  }
}
