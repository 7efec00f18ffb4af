// MP3: CMadDecoder against a bare libmad loop and ffmpeg, on a 60 s lame -V2 file.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#include <mad.h>

#include "bench/decoders/decode_bench_support.h"
#include "decoders/mad_decoder.h"

namespace {

const std::string& Mp3File() {
  static const std::string path =
      decode_bench::Encoded("bench.mp3", "lame --quiet -V 2 {in} {out}");
  return path;
}

// The whole file in memory, synthesised and rounded to 16 bits without dither.
std::size_t BareLibmad(const std::vector<unsigned char>& data) {
  mad_stream stream;
  mad_frame frame;
  mad_synth synth;
  mad_stream_init(&stream);
  mad_frame_init(&frame);
  mad_synth_init(&synth);
  mad_stream_buffer(&stream, data.data(), data.size());
  static std::int16_t out[1152 * 2];
  std::size_t bytes = 0;
  for (;;) {
    if (mad_frame_decode(&frame, &stream) == -1) {
      if (MAD_RECOVERABLE(stream.error)) continue;
      break;
    }
    mad_synth_frame(&synth, &frame);
    for (unsigned i = 0; i < synth.pcm.length; ++i) {
      for (unsigned c = 0; c < synth.pcm.channels; ++c) {
        const mad_fixed_t s =
            std::clamp<mad_fixed_t>(synth.pcm.samples[c][i] + (1 << 12), -MAD_F_ONE, MAD_F_ONE - 1);
        out[i * synth.pcm.channels + c] = static_cast<std::int16_t>(s >> 13);
      }
    }
    benchmark::DoNotOptimize(out);
    bytes += synth.pcm.length * synth.pcm.channels * 2;
  }
  mad_frame_finish(&frame);
  mad_stream_finish(&stream);
  return bytes;
}

void BM_Mp3_Ffmpeg(benchmark::State& state) { decode_bench::RunFfmpeg(state, Mp3File()); }

void BM_Mp3_CMadDecoder(benchmark::State& state) {
  decode_bench::RunDecoder(
      state, [] { return std::make_unique<CMadDecoder>(); }, Mp3File());
}

void BM_Mp3_BareLibmad(benchmark::State& state) {
  std::ifstream in(Mp3File(), std::ios::binary);
  std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  data.resize(data.size() + MAD_BUFFER_GUARD, 0);
  decode_bench::RunBare(state, Mp3File(), [&] { return BareLibmad(data); });
}

}  // namespace

BENCHMARK(BM_Mp3_Ffmpeg)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mp3_CMadDecoder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mp3_BareLibmad)->Unit(benchmark::kMillisecond);
