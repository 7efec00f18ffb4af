// WMA: CWMADecoder (sync reader over the FFmpeg media module, file read through
// the stream adapters) against a bare FFmpeg loop and the ffmpeg command
// (wmav2 at 128 kb/s, 60 s of 44.1 kHz stereo).
#include "bench/decoders/decode_bench_support.h"
#include "bench/decoders/ffmpeg_bare_loop.h"
#include "decoders/wma_decoder.h"

namespace {

const std::string& WmaFile() {
  static const std::string path = decode_bench::Encoded(
      "bench.wma", "ffmpeg -nostdin -y -i {in} -c:a wmav2 -b:a 128k -f asf {out}");
  return path;
}

void BM_Wma_Ffmpeg(benchmark::State& state) { decode_bench::RunFfmpeg(state, WmaFile()); }

void BM_Wma_CWMADecoder(benchmark::State& state) {
  decode_bench::RunDecoder(
      state, [] { return std::make_unique<CWMADecoder>(); }, WmaFile());
}

void BM_Wma_BareFfmpeg(benchmark::State& state) {
  decode_bench::RunBare(state, WmaFile(), [] { return decode_bench::BareFfmpegDecode(WmaFile()); });
}

}  // namespace

BENCHMARK(BM_Wma_Ffmpeg)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Wma_CWMADecoder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Wma_BareFfmpeg)->Unit(benchmark::kMillisecond);
