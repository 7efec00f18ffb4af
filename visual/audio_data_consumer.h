// Receives the PCM blocks that went to the output, on the playback thread.
#pragma once

#include <cstdint>

class AudioDataConsumer {
 public:
  // Takes length bytes starting at data + offset.
  virtual void Consume(const std::uint8_t* data, std::uint32_t offset, std::uint32_t length) = 0;
  virtual void Consume(const std::uint8_t* data, std::uint32_t length) = 0;

 protected:
  ~AudioDataConsumer() = default;  // never deleted through this interface
};
