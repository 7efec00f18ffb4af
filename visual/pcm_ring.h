// The PCM bytes that went to the output, kept in a ring so that the DSP thread can take
// the frames being heard. Byte k of the stream lies at position k mod Bytes().
// One thread writes, another converts; the ring is relaxed atomic words (four bytes,
// the first in the low bits) because the two may meet when the writer is far ahead or
// behind, and a torn sample is harmless. A stereo frame is one word.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

// A signed 16-bit sample as a float, full scale 32767.
inline float SampleToFloat(std::int16_t sample) { return static_cast<float>(sample) / 32767.0f; }
inline float SampleToFloat(std::uint8_t low, std::uint8_t high) {
  return SampleToFloat(static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8))));
}

class PcmRing {
 public:
  // bytes is rounded down to whole 4-byte frames, so no frame straddles the end;
  // 0 makes a ring that holds nothing. Starts silent.
  explicit PcmRing(std::uint32_t bytes);

  std::uint32_t Bytes() const { return ringBytes; }
  std::uint32_t WritePos() const { return ringWritePos; }  // writer only

  // Appends length bytes; a block longer than the ring leaves its last Bytes() bytes.
  void Write(const std::uint8_t* data, std::uint32_t length);

  // Converts frames frames of bytesPerFrame bytes (2: mono, copied to both channels;
  // otherwise 16-bit stereo) starting at byte start. A window running past the end goes
  // on at the start and adds 1 to wraps for every end it passes.
  void Convert(std::uint32_t start, std::uint32_t frames, std::uint32_t bytesPerFrame, float* left,
               float* right, std::uint64_t& wraps) const;

 private:
  // Stores n bytes from byte position pos on; pos + n <= ringBytes.
  void Store(std::uint32_t pos, const std::uint8_t* data, std::uint32_t n);

  std::uint32_t ringBytes;
  std::unique_ptr<std::atomic<std::uint32_t>[]> sampleRing;  // ringBytes / 4 words
  std::uint32_t ringWritePos = 0;                            // writer only
};
