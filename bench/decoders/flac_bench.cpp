// FLAC: CFLACDecoder against a bare libFLAC loop and ffmpeg (flac -5, 60 s).
#include <FLAC/stream_decoder.h>

#include "bench/decoders/decode_bench_support.h"
#include "decoders/flac_decoder.h"

namespace {

const std::string& FlacFile() {
  static const std::string path = decode_bench::Encoded("bench.flac", "flac -s -f {in} -o {out}");
  return path;
}

// Interleaves each frame into 16-bit samples, as a player must.
FLAC__StreamDecoderWriteStatus Write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                     const FLAC__int32* const planes[], void* client) {
  static std::int16_t out[65536 * 2];
  const unsigned channels = frame->header.channels;
  for (unsigned i = 0; i < frame->header.blocksize; ++i) {
    for (unsigned c = 0; c < channels && c < 2; ++c)
      out[i * 2 + c] = static_cast<std::int16_t>(planes[c][i]);
  }
  benchmark::DoNotOptimize(out);
  *static_cast<std::size_t*>(client) += frame->header.blocksize * channels * 2;
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void Metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata*, void*) {}
void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

std::size_t BareLibflac(const std::string& path) {
  std::size_t bytes = 0;
  FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
  FLAC__stream_decoder_set_md5_checking(decoder, false);
  if (FLAC__stream_decoder_init_file(decoder, path.c_str(), Write, Metadata, Error, &bytes) ==
      FLAC__STREAM_DECODER_INIT_STATUS_OK) {
    FLAC__stream_decoder_process_until_end_of_stream(decoder);
    FLAC__stream_decoder_finish(decoder);
  }
  FLAC__stream_decoder_delete(decoder);
  return bytes;
}

void BM_Flac_Ffmpeg(benchmark::State& state) { decode_bench::RunFfmpeg(state, FlacFile()); }

void BM_Flac_CFLACDecoder(benchmark::State& state) {
  decode_bench::RunDecoder(
      state, [] { return std::make_unique<CFLACDecoder>(); }, FlacFile());
}

void BM_Flac_BareLibflac(benchmark::State& state) {
  decode_bench::RunBare(state, FlacFile(), [] { return BareLibflac(FlacFile()); });
}

}  // namespace

BENCHMARK(BM_Flac_Ffmpeg)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Flac_CFLACDecoder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Flac_BareLibflac)->Unit(benchmark::kMillisecond);
