// Ogg Vorbis: COggVorbisDecoder against a bare vorbisfile loop and ffmpeg (oggenc -q5, 60 s).
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "bench/decoders/decode_bench_support.h"
#include "decoders/ogg_vorbis_decoder.h"

namespace {

const std::string& OggFile() {
  static const std::string path =
      decode_bench::Encoded("bench.ogg", "oggenc -Q -q 5 {in} -o {out}");
  return path;
}

std::size_t BareVorbisfile(const std::string& path) {
  OggVorbis_File vf;
  if (ov_fopen(path.c_str(), &vf) != 0) return 0;
  static char out[4608];
  std::size_t bytes = 0;
  int section = 0;
  for (long n; (n = ov_read(&vf, out, sizeof(out), 0, 2, 1, &section)) != 0;) {
    if (n > 0) bytes += static_cast<std::size_t>(n);
    benchmark::DoNotOptimize(out);
  }
  ov_clear(&vf);
  return bytes;
}

void BM_Ogg_Ffmpeg(benchmark::State& state) { decode_bench::RunFfmpeg(state, OggFile()); }

void BM_Ogg_COggVorbisDecoder(benchmark::State& state) {
  decode_bench::RunDecoder(
      state, [] { return std::make_unique<COggVorbisDecoder>(); }, OggFile());
}

void BM_Ogg_BareVorbisfile(benchmark::State& state) {
  decode_bench::RunBare(state, OggFile(), [] { return BareVorbisfile(OggFile()); });
}

}  // namespace

BENCHMARK(BM_Ogg_Ffmpeg)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ogg_COggVorbisDecoder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ogg_BareVorbisfile)->Unit(benchmark::kMillisecond);
