// APE: CMACDecoder (over the FFmpeg media module) against a bare FFmpeg loop and
// the ffmpeg command (jmac c2, 60 s of 44.1 kHz stereo).
#include "bench/decoders/decode_bench_support.h"
#include "bench/decoders/ffmpeg_bare_loop.h"
#include "decoders/mac_decoder.h"

namespace {

const std::string& ApeFile() {
  static const std::string path = decode_bench::Encoded("bench.ape", "jmac c2 {in} {out}");
  return path;
}

void BM_Ape_Ffmpeg(benchmark::State& state) { decode_bench::RunFfmpeg(state, ApeFile()); }

void BM_Ape_CMACDecoder(benchmark::State& state) {
  decode_bench::RunDecoder(
      state, [] { return std::make_unique<CMACDecoder>(); }, ApeFile());
}

void BM_Ape_BareFfmpeg(benchmark::State& state) {
  decode_bench::RunBare(state, ApeFile(), [] { return decode_bench::BareFfmpegDecode(ApeFile()); });
}

}  // namespace

BENCHMARK(BM_Ape_Ffmpeg)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ape_CMACDecoder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ape_BareFfmpeg)->Unit(benchmark::kMillisecond);
