// Keeps a stream in the format its output was made for when the stream itself
// changes part-way (MP3s joined from different encodes, chained Ogg files): one
// channel goes to both, two are mixed to one as their mean, and other rates are
// resampled with libsoxr. Converted frames queue up until the decoder takes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct soxr;  // libsoxr's resampler

namespace decoding {

class FormatConverter {
 public:
  // The output's format: rate in Hz, 1 or 2 channels.
  FormatConverter(int rate, int channels);
  ~FormatConverter();
  FormatConverter(const FormatConverter&) = delete;
  FormatConverter& operator=(const FormatConverter&) = delete;

  // Nothing queued and no resampler holding input: frames already in the
  // output's format may go straight to the output.
  bool Idle() const { return queue_.size() == head_ && !resampler_; }
  std::size_t QueuedFrames() const { return (queue_.size() - head_) / channels_; }

  // Takes `frames` interleaved 16-bit frames of `rate` and `channels` (1 or 2).
  // False, and nothing taken, for a format it cannot convert.
  bool Push(const std::int16_t* samples, std::uint32_t frames, int rate, int channels);
  // The end of the stream: what the resampler still holds joins the queue.
  void Finish();
  // Moves at most `maxFrames` queued frames to out; returns how many.
  std::uint32_t Pull(std::int16_t* out, std::uint32_t maxFrames);

 private:
  struct SoxrDeleter {
    void operator()(soxr* resampler) const;
  };
  void Resample(const std::int16_t* samples, std::size_t frames);
  void Drain();

  const int rate_;
  const int channels_;
  std::unique_ptr<soxr, SoxrDeleter> resampler_;  // while input of another rate is in flight
  int resamplerRate_ = 0;                         // the rate resampler_ takes
  std::vector<std::int16_t> mapped_;              // one Push's frames in the output's channels
  std::vector<std::int16_t> queue_;               // converted frames; the first head_ samples taken
  std::size_t head_ = 0;
};

}  // namespace decoding
