// Seeking: the time from SeekToFrame to the first block of the new place, per
// format on the 60 s files, and MP3 in a 60-minute file, where the first seek
// pays for reading the frame headers up to its target and later ones do not.
#include <cstdint>
#include <functional>
#include <memory>

#include "bench/decoders/decode_bench_support.h"
#include "decoders/flac_decoder.h"
#include "decoders/mac_decoder.h"
#include "decoders/mad_decoder.h"
#include "decoders/ogg_vorbis_decoder.h"
#include "decoders/sndfile_decoder.h"
#include "decoders/wma_decoder.h"
#include "platform/kernel/text.h"

namespace {

using Make = std::function<std::unique_ptr<CDecoder>()>;

std::unique_ptr<CDecoder> Opened(const Make& make, const std::string& path) {
  std::unique_ptr<CDecoder> decoder = make();
  decoder->SetFile(platform::FromUtf8(path).c_str());
  if (path.empty() || decoder->Open() == 0) return nullptr;
  return decoder;
}

// Seeks to targets spread over the file in a fixed, jumping order and reads one block.
void SeekAndRead(benchmark::State& state, CDecoder& decoder, std::uint64_t length) {
  std::uint8_t block[16000];
  std::uint64_t step = 0;
  for (auto _ : state) {
    step = (step * 7 + 3) % 97;
    const std::uint64_t target = length * step / 97;
    if (decoder.SeekToFrame(target) != CDecoder::kSeekLanded ||
        decoder.Read(block, sizeof(block)) == 0) {
      state.SkipWithError("the seek did not land");
      return;
    }
  }
}

void RunSeeks(benchmark::State& state, const Make& make, const std::string& path) {
  const std::unique_ptr<CDecoder> decoder = Opened(make, path);
  if (!decoder || !decoder->CanSeek()) {
    state.SkipWithError("cannot open or seek");
    return;
  }
  const std::uint64_t length = decoder->GetLengthInFrames();
  // MP3's index is built by the length query above; every seek here is a later one.
  SeekAndRead(state, *decoder, length - length / 50);
}

template <typename T>
Make MakeOf() {
  return [] { return std::make_unique<T>(); };
}

void BM_Seek_Wav(benchmark::State& state) {
  RunSeeks(state, MakeOf<CSndFileDecoder>(), decode_bench::Encoded("seek.wav", "cp {in} {out}"));
}
void BM_Seek_Flac(benchmark::State& state) {
  RunSeeks(state, MakeOf<CFLACDecoder>(),
           decode_bench::Encoded("bench.flac", "flac -s -f {in} -o {out}"));
}
void BM_Seek_Ogg(benchmark::State& state) {
  RunSeeks(state, MakeOf<COggVorbisDecoder>(),
           decode_bench::Encoded("bench.ogg", "oggenc -Q -q 5 {in} -o {out}"));
}
void BM_Seek_Ape(benchmark::State& state) {
  RunSeeks(state, MakeOf<CMACDecoder>(), decode_bench::Encoded("bench.ape", "jmac c2 {in} {out}"));
}
void BM_Seek_Wma(benchmark::State& state) {
  RunSeeks(
      state, MakeOf<CWMADecoder>(),
      decode_bench::Encoded("seek.wma", "ffmpeg -v error -y -i {in} -c:a wmav2 -b:a 128k {out}"));
}
void BM_Seek_Mp3(benchmark::State& state) {
  RunSeeks(state, MakeOf<CMadDecoder>(),
           decode_bench::Encoded("bench.mp3", "lame --quiet -V 2 {in} {out}"));
}

// Sixty minutes of two tones, a 57 MB MP3.
const std::string& HourMp3() {
  static const std::string path =
      decode_bench::Encoded("hour.mp3",
                            "sox -n -r 44100 -c 2 -b 16 {out}.wav synth 3600 sine 220 sine 330 && "
                            "lame --quiet -b 128 -q 7 {out}.wav {out} && rm {out}.wav");
  return path;
}

// Sixty minutes of the same tones as Ogg Vorbis (-q 4), about 30 MB.
const std::string& HourOgg() {
  static const std::string path =
      decode_bench::Encoded("hour.ogg",
                            "sox -n -r 44100 -c 2 -b 16 {out}.wav synth 3600 sine 220 sine 330 && "
                            "oggenc -Q -q 4 {out}.wav -o {out} && rm {out}.wav");
  return path;
}

// A fresh decoder per seek, so each pays for its first seek: MP3 reads the frame
// headers up to the target; Ogg reads every page once to check it lies in its link.
void FirstSeeks(benchmark::State& state, const Make& make, const std::string& path) {
  const double fraction = static_cast<double>(state.range(0)) / 100;
  std::uint8_t block[16000];
  std::unique_ptr<CDecoder> decoder;
  for (auto _ : state) {
    state.PauseTiming();
    decoder.reset();  // neither the last one's destruction nor the opening is timed
    decoder = Opened(make, path);
    state.ResumeTiming();
    if (!decoder ||
        decoder->SeekToFrame(static_cast<std::uint64_t>(3600 * 44100 * fraction)) !=
            CDecoder::kSeekLanded ||
        decoder->Read(block, sizeof(block)) == 0) {
      state.SkipWithError("the seek did not land");
      return;
    }
  }
}

void BM_Seek_Mp3Hour_First(benchmark::State& state) {
  FirstSeeks(state, MakeOf<CMadDecoder>(), HourMp3());
}
void BM_Seek_OggHour_First(benchmark::State& state) {
  FirstSeeks(state, MakeOf<COggVorbisDecoder>(), HourOgg());
}

void BM_Seek_Mp3Hour_Later(benchmark::State& state) {
  RunSeeks(state, MakeOf<CMadDecoder>(), HourMp3());
}

}  // namespace

BENCHMARK(BM_Seek_Wav)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Seek_Flac)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Seek_Ogg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Seek_Ape)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Seek_Wma)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Seek_Mp3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Seek_Mp3Hour_First)->Arg(50)->Arg(99)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Seek_Mp3Hour_Later)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Seek_OggHour_First)->Arg(50)->Arg(99)->Iterations(5)->Unit(benchmark::kMillisecond);
