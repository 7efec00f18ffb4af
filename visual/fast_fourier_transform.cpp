#include "visual/fast_fourier_transform.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

// One group of butterflies: the upper half against the lower, with the group's stretch
// of the twiddle tables. Kept apart, over distinct arrays, so that it vectorises.
void Butterflies(float* __restrict reLow, float* __restrict imLow, float* __restrict reHigh,
                 float* __restrict imHigh, const float* __restrict c, const float* __restrict s,
                 int span) {
  for (int i = 0; i < span; ++i) {
    const float tr = reHigh[i] * c[i] + imHigh[i] * s[i];
    const float ti = imHigh[i] * c[i] - reHigh[i] * s[i];
    reHigh[i] = reLow[i] - tr;
    imHigh[i] = imLow[i] - ti;
    reLow[i] = reLow[i] + tr;
    imLow[i] = imLow[i] + ti;
  }
}

// The last stages have groups of 1, 2 or 4 butterflies, hundreds of them: one loop over
// the whole stage, with each butterfly's arithmetic exactly as above, instead of a call
// per group.
template <int kSpan>
void SmallGroupStage(float* __restrict re, float* __restrict im, const float* __restrict c,
                     const float* __restrict s, int n) {
  for (int k = 0; k < n; k += 2 * kSpan, c += kSpan, s += kSpan) {
    for (int i = 0; i < kSpan; ++i) {
      const float tr = re[k + kSpan + i] * c[i] + im[k + kSpan + i] * s[i];
      const float ti = im[k + kSpan + i] * c[i] - re[k + kSpan + i] * s[i];
      re[k + kSpan + i] = re[k + i] - tr;
      im[k + kSpan + i] = im[k + i] - ti;
      re[k + i] = re[k + i] + tr;
      im[k + i] = im[k + i] + ti;
    }
  }
}

int PowerOfTwoAtLeast2(int size) {
  const auto u = static_cast<unsigned>(std::clamp(size, 2, 1 << 24));
  return static_cast<int>(std::bit_floor(u));
}

}  // namespace

std::int32_t FastFourierTransform::BitReverse(std::int32_t j, int stageCount) {
  std::int32_t r = 0;
  for (int i = 0; i < stageCount; ++i) {
    r = 2 * r + (j & 1);
    j >>= 1;
  }
  return r;
}

FastFourierTransform::FastFourierTransform(int size)
    : n(PowerOfTwoAtLeast2(size)),
      half(n / 2),
      // Integer log2: the float quotient ln N / ln 2 may land just below a whole number.
      stages(std::countr_zero(static_cast<unsigned>(n))),
      stagesMinusOne(stages - 1) {
  real.assign(n, 0.0f);
  imaginary.assign(n, 0.0f);
  magnitudes.assign(half, 0.0f);
  sinTable.assign(static_cast<std::size_t>(stages) * half, 0.0f);
  cosTable.assign(static_cast<std::size_t>(stages) * half, 0.0f);
  bitReverse.resize(n);
  for (int k = 0; k < n; ++k) bitReverse[k] = BitReverse(k, stages);

  constexpr float kTwoPi = 6.2831850f;
  std::size_t x = 0;
  int shift = stagesMinusOne;
  int span = half;
  for (int stage = 1; stage <= stages; ++stage) {
    for (int k = 0; k < n; k += span) {
      for (int i = 0; i < span; ++i, ++k, ++x) {
        const std::int32_t p = BitReverse(k >> shift, stages);
        const float angle = kTwoPi * static_cast<float>(p) / static_cast<float>(n);
        sinTable[x] = static_cast<float>(std::sin(static_cast<double>(angle)));
        cosTable[x] = static_cast<float>(std::cos(static_cast<double>(angle)));
      }
    }
    --shift;
    span /= 2;
  }
}

std::span<const float> FastFourierTransform::Transform(const float* samples, int count) {
  const int step = std::max(count / n, 1);
  const int loaded = count > 0 ? std::min((count + step - 1) / step, n) : 0;
  if (step == 1) {
    std::copy(samples, samples + loaded, real.begin());
  } else {
    for (int b = 0; b < loaded; ++b) real[b] = samples[static_cast<std::ptrdiff_t>(b) * step];
  }
  std::fill(real.begin() + loaded, real.end(), 0.0f);
  std::fill(imaginary.begin(), imaginary.end(), 0.0f);

  float* re = real.data();
  float* im = imaginary.data();
  std::size_t x = 0;
  int span = half;
  for (int stage = 1; stage <= stages; ++stage) {
    const float* c = cosTable.data() + x;
    const float* s = sinTable.data() + x;
    if (span == 4) {
      SmallGroupStage<4>(re, im, c, s, n);
    } else if (span == 2) {
      SmallGroupStage<2>(re, im, c, s, n);
    } else if (span == 1) {
      SmallGroupStage<1>(re, im, c, s, n);
    } else {
      for (int k = 0; k < n; k += 2 * span, c += span, s += span)
        Butterflies(re + k, im + k, re + k + span, im + k + span, c, s, span);
    }
    x += static_cast<std::size_t>(n / 2);
    span /= 2;
  }
  // Bin i lies at its bit-reversed place: read it there rather than reorder the arrays.
  // n is a power of two, so multiplying by 1 / n rounds exactly as dividing by n.
  const float inverse = 1.0f / static_cast<float>(n);
  const std::int32_t* order = bitReverse.data();
  magnitudes[0] = std::sqrt(re[0] * re[0] + im[0] * im[0]) * inverse;
  for (int i = 1; i < half; ++i) {
    const int r = order[i];
    magnitudes[i] = 2.0f * std::sqrt(re[r] * re[r] + im[r] * im[r]) * inverse;
  }
  return magnitudes;
}
