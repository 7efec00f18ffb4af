#include "decoders/ogg_vorbis_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "decoders/ogg_link_check.h"
#include "platform/kernel/debug_output.h"
#include "platform/kernel/strsafe.h"
#include "platform/ui/message_box.h"

namespace ui = platform::ui;

namespace {

void ShowError(const char16_t* text, std::uint32_t icon = 0) {
  ui::MessageBox(ui::GetActiveWindow(), text, u"Error", ui::MB_OK | icon);
}

// Texts with a number are formatted into at most 255 characters.
void ShowError(const char16_t* format, int number) {
  char16_t text[256];
  platform::StringCbPrintfW(text, sizeof(text), format, {number});
  ShowError(text);
}

}  // namespace

int COggVorbisDecoder::VorbisFile::Open(void* source, const ov_callbacks& callbacks) {
  Clear();
  const int result = ov_open_callbacks(source, &vf_, nullptr, 0, callbacks);
  // On failure vorbisfile has already released what it built.
  live_ = result >= 0;
  return result;
}

void COggVorbisDecoder::VorbisFile::Clear() {
  if (live_) ov_clear(&vf_);
  live_ = false;
  vf_ = OggVorbis_File{};
}

std::size_t COggVorbisDecoder::ReadCallback(void* destination, std::size_t size, std::size_t count,
                                            void* source) {
  auto* self = static_cast<COggVorbisDecoder*>(source);
  const std::size_t wanted = size * count;
  // platform::File reads at most 4 GiB at once; vorbisfile asks for a few KiB.
  const auto asked = static_cast<std::uint32_t>(wanted > 0x7FFFFFFF ? 0x7FFFFFFF : wanted);
  std::uint32_t got = 0;
  if (!self->file_.Read(destination, asked, &got)) return 0;
  return got;
}

int COggVorbisDecoder::SeekCallback(void* source, ogg_int64_t offset, int origin) {
  auto* self = static_cast<COggVorbisDecoder*>(source);
  std::uint32_t position;
  if (origin == SEEK_END) {
    position = self->file_.SetPointer(0, platform::SeekOrigin::kEnd);
  } else if (origin == SEEK_SET || origin == SEEK_CUR) {
    const auto origin16 =
        origin == SEEK_SET ? platform::SeekOrigin::kBegin : platform::SeekOrigin::kCurrent;
    position = self->file_.SetPointer(static_cast<std::int32_t>(offset), origin16);
  } else {
    return -1;
  }
  // Positions are 32-bit: files must stay under 2 GB. vorbisfile takes only -1 as failure.
  if (position == platform::kInvalidSetFilePointer || position > 0x7FFFFFFF) return -1;
  return static_cast<int>(position);
}

int COggVorbisDecoder::CloseCallback(void* source) {
  static_cast<COggVorbisDecoder*>(source)->file_.Close();
  return 1;
}

long COggVorbisDecoder::TellCallback(void* source) {
  const std::uint32_t position =
      static_cast<COggVorbisDecoder*>(source)->file_.SetPointer(0, platform::SeekOrigin::kCurrent);
  return position == platform::kInvalidSetFilePointer ? -1 : static_cast<long>(position);
}

COggVorbisDecoder::COggVorbisDecoder() = default;

COggVorbisDecoder::~COggVorbisDecoder() { Close(); }

platform::HRESULT COggVorbisDecoder::SetFile(const char16_t* path) {
  Close();
  return StorePath(path_, path);
}

std::int32_t COggVorbisDecoder::Open() {
  Close();
  sampleRate_ = bitsPerSample_ = channels_ = 0;
  ended_ = false;
  if (!file_.OpenRead(path_)) {
    ShowError(u"Can't open file.", ui::MB_ICONEXCLAMATION);
    return 0;
  }
  static constexpr ov_callbacks kCallbacks = {ReadCallback, SeekCallback, CloseCallback,
                                              TellCallback};
  if (vf_.Open(this, kCallbacks) < 0) {
    file_.Close();
    ShowError(u"Input does not appear to be an Ogg bitstream.");
    return 0;
  }
  // From here on, clearing vf_ closes the file through the close callback.
  OggVorbis_File* vf = vf_.get();
  const vorbis_info* vi = ov_info(vf, -1);
  if (vi == nullptr) {
    ShowError(u"Unable to get ogg info.");
    vf_.Clear();
    return 0;
  }
  // Every link of a chained file is known here (a pipe's only as it comes).
  uniform_ = true;
  pagesInLinks_ = 0;
  for (int link = 0; link < vf->links; ++link) {
    const vorbis_info* linkInfo = ov_info(vf, link);
    if (linkInfo == nullptr || linkInfo->rate != vi->rate || linkInfo->channels != vi->channels)
      uniform_ = false;
    if (linkInfo != nullptr && linkInfo->channels > 2) {
      ShowError(u"Can't deal with more than 2 channels yet. Channels:%d", linkInfo->channels);
      vf_.Clear();
      return 0;
    }
  }
  sampleRate_ = static_cast<std::int32_t>(vi->rate);
  channels_ = vi->channels;
  bitsPerSample_ = 16;
  converter_ = std::make_unique<decoding::FormatConverter>(sampleRate_, channels_);
  opened_ = 1;
  std::printf("samplerate=%d\n", sampleRate_);
  std::printf("channels=%d\n", channels_);
  std::fflush(stdout);
  return 1;
}

void COggVorbisDecoder::Close() {
  if (opened_ == 0) return;
  file_.Close();
  vf_.Clear();
  converter_.reset();
  opened_ = 0;
}

std::uint32_t COggVorbisDecoder::Read(void* buffer, std::uint32_t) {
  if (opened_ == 0) return 0;
  const auto channels = static_cast<std::uint32_t>(channels_);
  const std::uint32_t capacity = kMaxReadBytes / (2 * channels);  // frames of a full block
  std::uint32_t filled = 0;
  int failures = 0;
  while (filled < capacity) {
    // What was converted from a link of another format comes first.
    filled += converter_->Pull(pcm_ + filled * channels, capacity - filled);
    if (filled == capacity || ended_) break;
    const long r =
        ov_read(vf_.get(), reinterpret_cast<char*>(link_), sizeof(link_), 0, 2, 1, &section_);
    if (r == 0) {
      ended_ = true;
      converter_->Finish();
      continue;
    }
    if (r < 0) {
      platform::OutputDebugString("Hole in OGG/VORBIS datastream, ignoring...\n");
      // vorbisfile normally moves past a hole; an error that keeps coming back ends the stream.
      if (++failures >= kMaxFailuresWithoutProgress) {
        ended_ = true;
        converter_->Finish();
      }
      continue;
    }
    failures = 0;
    // One ov_read never crosses from one link into the next.
    const vorbis_info* vi = ov_info(vf_.get(), -1);
    if (vi == nullptr || vi->channels <= 0) {
      ended_ = true;
      converter_->Finish();
      continue;
    }
    const auto frames =
        static_cast<std::uint32_t>(r) / (2u * static_cast<std::uint32_t>(vi->channels));
    if (vi->rate == sampleRate_ && vi->channels == channels_ && converter_->Idle()) {
      const std::uint32_t n = std::min(frames, capacity - filled);
      std::memcpy(pcm_ + filled * channels, link_, n * 2u * channels);
      filled += n;
      if (n < frames) converter_->Push(link_ + n * channels, frames - n, sampleRate_, channels_);
    } else if (!converter_->Push(link_, frames, static_cast<int>(vi->rate), vi->channels)) {
      // Only a pipe gets this far with a link of more than two channels.
      platform::OutputDebugString(
          "Can't deal with more than 2 channels yet, the stream ends here\n");
      ended_ = true;
      converter_->Finish();
    }
  }
  const std::uint32_t bytes = filled * 2u * channels;
  std::memcpy(buffer, pcm_, bytes);
  return bytes;
}

bool COggVorbisDecoder::CanSeek() {
  return opened_ != 0 && uniform_ && pagesInLinks_ >= 0 && ov_seekable(vf_.get()) != 0 &&
         ov_pcm_total(vf_.get(), -1) > 0;
}

std::uint64_t COggVorbisDecoder::GetLengthInFrames() {
  return CanSeek() ? static_cast<std::uint64_t>(ov_pcm_total(vf_.get(), -1)) : 0;
}

std::int32_t COggVorbisDecoder::SeekToFrame(std::uint64_t frame) {
  if (!CanSeek()) return kSeekRefused;
  if (pagesInLinks_ == 0)
    pagesInLinks_ = decoding::PagesLieInTheirLinks(path_, *vf_.get()) ? 1 : -1;
  if (pagesInLinks_ < 0) return kSeekRefused;
  // Frames queued for the old place are dropped with the converter.
  converter_ = std::make_unique<decoding::FormatConverter>(sampleRate_, channels_);
  const auto total = static_cast<std::uint64_t>(ov_pcm_total(vf_.get(), -1));
  if (frame >= total || ov_pcm_seek(vf_.get(), static_cast<ogg_int64_t>(frame)) != 0) {
    ended_ = true;
    return kSeekPastEnd;
  }
  ended_ = false;
  return kSeekLanded;
}
