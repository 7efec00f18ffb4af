#include "player/decoder_factory.h"

#include "decoders/sndfile_decoder.h"
#include "player/extension_tests.h"

std::unique_ptr<CDecoder> MakeDecoderFor(const char16_t* path) {
  if (IsWavFile(path)) return std::make_unique<CSndFileDecoder>();
  return nullptr;
}
