// One decoder on fuzzed bytes, the way the engine uses it: the bytes become a file
// with the type's extension, then SetFile, Open and Read to the end, with one seek
// on the way to a place the input picks. Built once per type with
// TONARIA_FUZZ_EXTENSION ("mp3", "wav", ...).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/kernel/text.h"
#include "platform/ui/message_box.h"
#include "player/decoder_factory.h"

#ifndef TONARIA_FUZZ_EXTENSION
#error "TONARIA_FUZZ_EXTENSION names the file type to fuzz"
#endif

namespace {

// Enough for many minutes of audio from a small input; a decoder that needs more
// reads than this without reaching its end is looping, which -timeout also catches.
constexpr int kMaxReads = 200000;
constexpr std::uint32_t kEngineBlock = 16000;  // what the engine offers to Read

std::string inputPath;  // one file per process, rewritten for every input

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Boxes would go to stderr for every rejected input; nobody reads them here.
  platform::ui::SetMessageBoxSink([](platform::ui::HWND, std::u16string_view, std::u16string_view,
                                     std::uint32_t) { return platform::ui::IDOK; });
  const char* root = std::getenv("TMPDIR");
  std::string dir = std::string(root != nullptr ? root : "/tmp") + "/tonaria-fuzz-XXXXXX";
  if (::mkdtemp(dir.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  inputPath = dir + "/input." TONARIA_FUZZ_EXTENSION;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(inputPath.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  const std::u16string path = platform::FromUtf8(inputPath);
  std::unique_ptr<CDecoder> decoder = MakeDecoderFor(path.c_str());
  if (!decoder) return 0;
  decoder->SetFile(path.c_str());
  decoder->Open();
  // The engine's own checks on the format, so the same reads happen as in playback.
  if (decoder->GetSampleRate() <= 0 || decoder->GetChannels() <= 0) return 0;
  std::vector<std::uint8_t> block(kEngineBlock);
  // Where to seek, from the input's last bytes: anywhere up to a little past the end.
  std::uint64_t pick = 0;
  for (std::size_t i = size > 4 ? size - 4 : 0; i < size; ++i) pick = pick << 8 | data[i];
  for (int i = 0; i < kMaxReads; ++i) {
    if (i == 2) {
      const bool seekable = decoder->CanSeek();
      const std::uint64_t length = decoder->GetLengthInFrames();
      const std::int32_t result = decoder->SeekToFrame(pick % (length + 4096));
      // A decoder that finds damage only when it seeks refuses, and says so after.
      const bool refusedAsSaid = result == CDecoder::kSeekRefused && !decoder->CanSeek();
      if (result < CDecoder::kSeekRefused || result > CDecoder::kSeekPastEnd ||
          ((result == CDecoder::kSeekRefused) == seekable && !refusedAsSaid)) {
        std::fprintf(stderr, "SeekToFrame gave %d where CanSeek said %d\n", result, seekable);
        std::abort();
      }
    }
    const std::uint32_t n = decoder->Read(block.data(), kEngineBlock);
    if (n == 0) break;
    // Every decoder promises at most kMaxReadBytes a call; more would overrun
    // callers that offer exactly that.
    if (n > CDecoder::kMaxReadBytes) {
      std::fprintf(stderr, "Read returned %u bytes, more than %u\n", n, CDecoder::kMaxReadBytes);
      std::abort();
    }
  }
  return 0;
}
