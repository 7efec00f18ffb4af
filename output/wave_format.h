// The wave format handed to the device layer for a stream buffer.
#pragma once

#include <cstdint>

#include "platform/sound/direct_sound.h"

// Plain PCM for up to two channels of up to 16 bits; the extensible form otherwise
// (every channel bit set, PCM subformat).
platform::sound::WaveFormat BuildWaveFormat(std::uint32_t channels, std::uint32_t sampleRate,
                                            std::uint32_t bitsPerSample);
