#include "player/decoder_factory.h"

#include "decoders/flac_decoder.h"
#include "decoders/mac_decoder.h"
#include "decoders/mad_decoder.h"
#include "decoders/ogg_vorbis_decoder.h"
#include "decoders/sndfile_decoder.h"
#include "decoders/wma_decoder.h"
#include "player/extension_tests.h"

std::unique_ptr<CDecoder> MakeDecoderFor(const char16_t* path) {
  if (IsMp3File(path)) return std::make_unique<CMadDecoder>();
  if (IsWavFile(path)) return std::make_unique<CSndFileDecoder>();
  if (IsOggFile(path)) return std::make_unique<COggVorbisDecoder>();
  if (IsWmaFile(path)) return std::make_unique<CWMADecoder>();
  if (IsApeFile(path)) return std::make_unique<CMACDecoder>();
  if (IsFlacFile(path)) return std::make_unique<CFLACDecoder>();
  return nullptr;
}
