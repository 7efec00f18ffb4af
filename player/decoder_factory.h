// Chooses the decoder by the path's extension, in the fixed order MP3, WAV, OGG,
// WMA, APE, FLAC; null for a type no decoder serves.
#pragma once

#include <memory>

#include "decoders/decoder.h"

std::unique_ptr<CDecoder> MakeDecoderFor(const char16_t* path);
