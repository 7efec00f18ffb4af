#include "decoders/format_converter.h"

#include <algorithm>

#include <soxr.h>

namespace decoding {
namespace {

// Queued samples already taken are dropped from the front once there are this many.
constexpr std::size_t kCompactAfter = 16384;
// Output frames asked of the resampler per call while it is drained, and how many
// calls at most: its filter holds far less.
constexpr std::size_t kDrainFrames = 4096;
constexpr int kMostDrainCalls = 64;
// A resampler that neither takes input nor gives output this often in a row is stuck.
constexpr int kMostIdleCalls = 4;

}  // namespace

void FormatConverter::SoxrDeleter::operator()(soxr* resampler) const { soxr_delete(resampler); }

FormatConverter::FormatConverter(int rate, int channels) : rate_(rate), channels_(channels) {}

FormatConverter::~FormatConverter() = default;

bool FormatConverter::Push(const std::int16_t* samples, std::uint32_t frames, int rate,
                           int channels) {
  if ((channels != 1 && channels != 2) || rate <= 0) return false;
  const std::int16_t* in = samples;
  if (channels != channels_) {
    mapped_.resize(std::size_t{frames} * channels_);
    for (std::uint32_t i = 0; i < frames; ++i) {
      if (channels == 1) {
        mapped_[2 * i] = mapped_[2 * i + 1] = samples[i];
      } else {
        mapped_[i] = static_cast<std::int16_t>((samples[2 * i] + samples[2 * i + 1]) / 2);
      }
    }
    in = mapped_.data();
  }
  // What the resampler holds of the part before comes out before anything after it.
  if (resampler_ && rate != resamplerRate_) Drain();
  if (rate == rate_) {
    queue_.insert(queue_.end(), in, in + std::size_t{frames} * channels_);
    return true;
  }
  if (!resampler_) {
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    resampler_.reset(soxr_create(rate, rate_, static_cast<unsigned>(channels_), &error, &io,
                                 &quality, &runtime));
    if (error != nullptr || !resampler_) {
      resampler_.reset();
      return false;
    }
    resamplerRate_ = rate;
  }
  Resample(in, frames);
  return true;
}

void FormatConverter::Resample(const std::int16_t* samples, std::size_t frames) {
  std::size_t done = 0;
  for (int idle = 0; done < frames && idle < kMostIdleCalls;) {
    const std::size_t room = (frames - done) * static_cast<std::size_t>(rate_) /
                                 static_cast<std::size_t>(resamplerRate_) +
                             64;
    const std::size_t old = queue_.size();
    queue_.resize(old + room * channels_);
    std::size_t taken = 0;
    std::size_t made = 0;
    const soxr_error_t error =
        soxr_process(resampler_.get(), samples + done * channels_, frames - done, &taken,
                     queue_.data() + old, room, &made);
    queue_.resize(old + made * channels_);
    if (error != nullptr) return;
    idle = taken == 0 && made == 0 ? idle + 1 : 0;
    done += taken;
  }
}

void FormatConverter::Drain() {
  if (!resampler_) return;
  for (int i = 0; i < kMostDrainCalls; ++i) {
    const std::size_t old = queue_.size();
    queue_.resize(old + kDrainFrames * channels_);
    std::size_t made = 0;
    const soxr_error_t error = soxr_process(resampler_.get(), nullptr, 0, nullptr,
                                            queue_.data() + old, kDrainFrames, &made);
    queue_.resize(old + made * channels_);
    if (error != nullptr || made == 0) break;
  }
  resampler_.reset();
  resamplerRate_ = 0;
}

void FormatConverter::Finish() { Drain(); }

std::uint32_t FormatConverter::Pull(std::int16_t* out, std::uint32_t maxFrames) {
  const auto frames = static_cast<std::uint32_t>(std::min<std::size_t>(QueuedFrames(), maxFrames));
  const std::size_t count = std::size_t{frames} * channels_;
  std::copy_n(queue_.begin() + static_cast<std::ptrdiff_t>(head_), count, out);
  head_ += count;
  if (head_ == queue_.size()) {
    queue_.clear();
    head_ = 0;
  } else if (head_ >= kCompactAfter) {
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
  return frames;
}

}  // namespace decoding
