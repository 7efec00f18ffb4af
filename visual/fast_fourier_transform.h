// Radix-2 FFT for real samples, single precision, with the twiddle factors and the
// bit-reversal order computed once so that a transform needs only table look-ups.
// Pure: no threads, no clock, no allocation after construction.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

class FastFourierTransform {
 public:
  // size: a power of two, at least 2 (512 for the spectrum).
  explicit FastFourierTransform(int size);

  // Loads count samples (every count / N-th one when there are more, zeros after a short
  // input), transforms them and returns the N / 2 magnitudes: the constant component
  // divided by N, every other bin doubled, so a full-scale sine on a bin gives about 1.
  std::span<const float> Transform(const float* samples, int count);

  int Size() const { return n; }
  int Stages() const { return stages; }
  std::span<const float> SinTable() const { return sinTable; }
  std::span<const float> CosTable() const { return cosTable; }
  std::span<const std::int32_t> BitReverseTable() const { return bitReverse; }

  static std::int32_t BitReverse(std::int32_t j, int stages);

 private:
  std::vector<float> real;
  std::vector<float> imaginary;
  std::vector<float> magnitudes;
  std::vector<float> sinTable;  // stages x N / 2 entries, stage after stage
  std::vector<float> cosTable;
  std::vector<std::int32_t> bitReverse;
  int n;
  int half;
  int stages;
  int stagesMinusOne;
};
