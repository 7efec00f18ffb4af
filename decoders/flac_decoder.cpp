#include "decoders/flac_decoder.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "decoders/downmix.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "platform/ui/message_box.h"

namespace ui = platform::ui;

namespace {

// Scales a sample of the stream's size to 16 bits: wider ones lose their low bits,
// narrower ones are shifted up.
inline std::int16_t To16Bits(FLAC__int32 sample, unsigned bits) {
  return static_cast<std::int16_t>(bits >= 16 ? sample >> (bits - 16)
                                              : sample * (1 << (16 - bits)));
}

}  // namespace

void CFLACDecoder::StreamDecoderDeleter::operator()(FLAC__StreamDecoder* decoder) const {
  if (FLAC__stream_decoder_get_state(decoder) != FLAC__STREAM_DECODER_UNINITIALIZED) {
    FLAC__stream_decoder_finish(decoder);
  }
  FLAC__stream_decoder_delete(decoder);
}

CFLACDecoder::CFLACDecoder() = default;

CFLACDecoder::~CFLACDecoder() { Close(); }

platform::HRESULT CFLACDecoder::SetFile(const char16_t* path) {
  Close();
  return StorePath(widePath_, path);
}

std::int32_t CFLACDecoder::Fail(const char16_t* text) {
  // A failed Open keeps nothing of libFLAC's.
  decoder_.reset();
  char16_t message[512];
  platform::StringCbPrintfW(message, sizeof(message), u"%s", {text});
  ui::MessageBox(ui::GetActiveWindow(), message, u"Error", ui::MB_OK | ui::MB_ICONEXCLAMATION);
  return 0;
}

std::int32_t CFLACDecoder::Open() {
  Close();
  sampleRate_ = sourceBits_ = sourceChannels_ = 0;
  totalFrames_ = 0;
  bitsPerSample_ = channels_ = 0;
  held_ = 0;
  ended_ = false;
  // libFLAC opens the file by a narrow path, which is UTF-8 here.
  const std::string narrowPath = platform::ToUtf8(widePath_);

  decoder_.reset(FLAC__stream_decoder_new());
  if (!decoder_) return Fail(u"Failed when initialize FLAC decoder.");
  FLAC__StreamDecoder* d = decoder_.get();
  FLAC__stream_decoder_set_md5_checking(d, false);
  FLAC__stream_decoder_set_metadata_ignore_all(d);
  FLAC__stream_decoder_set_metadata_respond(d, FLAC__METADATA_TYPE_STREAMINFO);
  FLAC__stream_decoder_set_metadata_respond(d, FLAC__METADATA_TYPE_VORBIS_COMMENT);
  if (FLAC__stream_decoder_init_file(d, narrowPath.c_str(), WriteCallback, MetadataCallback,
                                     ErrorCallback, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
    return Fail(u"Failed when initialize FLAC decoder.");
  }
  // STREAMINFO sets the format fields during this call; a stream without one has no format.
  if (!FLAC__stream_decoder_process_until_end_of_metadata(d) || sampleRate_ == 0 ||
      sourceChannels_ == 0) {
    return Fail(u"Can not process metadata properly.");
  }
  channels_ = sourceChannels_ == 1 ? 1 : 2;
  bitsPerSample_ = 16;
  // libFLAC seeks by moving in the file; a pipe has no length to bisect.
  FLAC__uint64 position = 0;
  seekable_ = std::filesystem::is_regular_file(std::filesystem::path(narrowPath)) &&
              FLAC__stream_decoder_get_decode_position(d, &position);
  reservoir_.assign(static_cast<std::size_t>(kReservoirFrames) * 2, 0);
  opened_ = 1;
  return 1;
}

void CFLACDecoder::Close() {
  if (opened_ == 0) return;
  decoder_.reset();
  held_ = 0;
  opened_ = 0;
}

bool CFLACDecoder::Append(const FLAC__Frame& frame, const FLAC__int32* const planes[]) {
  const std::uint32_t count = frame.header.blocksize;
  const unsigned frameChannels = frame.header.channels;
  const unsigned bits = frame.header.bits_per_sample;
  if (count > kReservoirFrames - held_ || frameChannels == 0 || bits == 0 || bits > 32)
    return false;
  std::int16_t* out = reservoir_.data() + static_cast<std::size_t>(held_) * channels_;
  if (frameChannels > 2 && channels_ == 2) {
    // FLAC's own layouts are the default ones for the count.
    if (mix_.Channels() != static_cast<int>(frameChannels))
      mix_ = decoding::StereoMix(decoding::DefaultLayout(static_cast<int>(frameChannels)));
    mix_.Mix(planes, count, static_cast<int>(bits), out);
  } else {
    const FLAC__int32* left = planes[0];
    const FLAC__int32* right = frameChannels > 1 ? planes[1] : planes[0];
    for (std::uint32_t i = 0; i < count; ++i) {
      *out++ = To16Bits(left[i], bits);
      if (channels_ == 2) *out++ = To16Bits(right[i], bits);
    }
  }
  held_ += count;
  return true;
}

FLAC__StreamDecoderWriteStatus CFLACDecoder::WriteCallback(const FLAC__StreamDecoder*,
                                                           const FLAC__Frame* frame,
                                                           const FLAC__int32* const planes[],
                                                           void* client) {
  auto* self = static_cast<CFLACDecoder*>(client);
  // Frames arrive only from Read, once the reservoir exists.
  if (self->reservoir_.empty() || !self->Append(*frame, planes))
    return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void CFLACDecoder::MetadataCallback(const FLAC__StreamDecoder*,
                                    const FLAC__StreamMetadata* metadata, void* client) {
  if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO) return;
  auto* self = static_cast<CFLACDecoder*>(client);
  self->sampleRate_ = metadata->data.stream_info.sample_rate;
  self->sourceChannels_ = metadata->data.stream_info.channels;
  self->sourceBits_ = metadata->data.stream_info.bits_per_sample;
  self->totalFrames_ = metadata->data.stream_info.total_samples;
}

// libFLAC recovers from damaged frames by its own rules; nothing to add.
void CFLACDecoder::ErrorCallback(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus,
                                 void*) {}

std::uint32_t CFLACDecoder::Read(void* buffer, std::uint32_t) {
  if (opened_ == 0 || ended_) return 0;
  FLAC__StreamDecoder* d = decoder_.get();
  while (held_ < kFramesPerRead) {
    if (FLAC__stream_decoder_get_state(d) == FLAC__STREAM_DECODER_END_OF_STREAM) break;
    if (!FLAC__stream_decoder_process_single(d)) break;
  }
  const std::uint32_t n = std::min(held_, kFramesPerRead);
  if (n == 0) return 0;
  const std::size_t samples = static_cast<std::size_t>(n) * channels_;
  std::memcpy(staging_, reservoir_.data(), samples * 2);
  held_ -= n;
  std::memmove(reservoir_.data(), reservoir_.data() + samples,
               static_cast<std::size_t>(held_) * channels_ * 2);
  const auto bytes = static_cast<std::uint32_t>(samples * 2);
  std::memcpy(buffer, staging_, bytes);
  return bytes;
}

bool CFLACDecoder::CanSeek() { return opened_ != 0 && seekable_ && totalFrames_ > 0; }

std::uint64_t CFLACDecoder::GetLengthInFrames() { return CanSeek() ? totalFrames_ : 0; }

std::int32_t CFLACDecoder::SeekToFrame(std::uint64_t frame) {
  if (!CanSeek()) return kSeekRefused;
  // What was decoded for the old place goes; libFLAC hands the frame holding the
  // target to the write callback already cut to start at it.
  held_ = 0;
  ended_ = false;
  FLAC__StreamDecoder* d = decoder_.get();
  if (frame >= totalFrames_ || !FLAC__stream_decoder_seek_absolute(d, frame)) {
    // A failed seek leaves libFLAC wanting a flush; the stream ends either way.
    if (FLAC__stream_decoder_get_state(d) == FLAC__STREAM_DECODER_SEEK_ERROR)
      FLAC__stream_decoder_flush(d);
    held_ = 0;
    ended_ = true;
    return kSeekPastEnd;
  }
  return kSeekLanded;
}
