#include "output/wave_format.h"

namespace sound = platform::sound;

sound::WaveFormat BuildWaveFormat(std::uint32_t channels, std::uint32_t sampleRate,
                                  std::uint32_t bitsPerSample) {
  const std::uint32_t containerBits = (bitsPerSample + 7) & ~7u;
  sound::WaveFormat format;
  format.nChannels = static_cast<std::uint16_t>(channels);
  format.nSamplesPerSec = sampleRate;
  format.wBitsPerSample = static_cast<std::uint16_t>(containerBits);
  format.nBlockAlign = static_cast<std::uint16_t>(containerBits * channels / 8);
  format.nAvgBytesPerSec = format.nBlockAlign * sampleRate;
  if (channels <= 2 && bitsPerSample <= 16) {
    format.wFormatTag = sound::WAVE_FORMAT_PCM;
    format.cbSize = 0;
    return format;
  }
  format.wFormatTag = sound::WAVE_FORMAT_EXTENSIBLE;
  format.cbSize = 22;
  format.wValidBitsPerSample = static_cast<std::uint16_t>(bitsPerSample);
  format.dwChannelMask = 0xFFFFFFFFu;
  format.SubFormat = sound::KSDATAFORMAT_SUBTYPE_PCM;
  return format;
}
