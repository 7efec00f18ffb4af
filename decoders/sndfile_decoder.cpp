#include "decoders/sndfile_decoder.h"

#include <cstring>
#include <iterator>
#include <string>

#include "decoders/downmix.h"
#include "platform/kernel/text.h"
#include "platform/ui/message_box.h"

namespace ui = platform::ui;

CSndFileDecoder::CSndFileDecoder() = default;

CSndFileDecoder::~CSndFileDecoder() { Close(); }

platform::HRESULT CSndFileDecoder::SetFile(const char16_t* path) {
  Close();
  opened_ = 0;
  handle_ = nullptr;
  info_ = SF_INFO{};
  return StorePath(widePath_, path);
}

std::int32_t CSndFileDecoder::Open() {
  Close();
  info_ = SF_INFO{};
  const std::string narrowPath = platform::ToUtf8(widePath_);
  handle_ = sf_open(narrowPath.c_str(), SFM_READ, &info_);
  if (handle_ == nullptr || info_.channels <= 0 || info_.samplerate <= 0) {
    // sf_strerror(nullptr) describes the last failed open; read it before closing.
    const std::string reason =
        handle_ == nullptr ? sf_strerror(nullptr) : "The file has no channels or no sample rate.";
    if (handle_ != nullptr) sf_close(handle_);
    handle_ = nullptr;
    std::u16string text = platform::FromUtf8(reason);
    if (text.size() > 511) text.resize(511);
    ui::MessageBox(ui::GetActiveWindow(), text, u"Error", ui::MB_OK | ui::MB_ICONEXCLAMATION);
    return 0;
  }
  sampleRate_ = info_.samplerate;
  channels_ = info_.channels == 1 ? 1 : 2;
  bitsPerSample_ = 16;
  opened_ = 1;
  return 1;
}

void CSndFileDecoder::Close() {
  if (opened_ == 0) return;
  if (handle_ != nullptr) sf_close(handle_);
  handle_ = nullptr;
  opened_ = 0;
}

std::uint32_t CSndFileDecoder::Read(void* buffer, std::uint32_t) {
  if (opened_ == 0) return 0;
  // A full block is 4608 bytes of delivered (mono or stereo) 16-bit frames.
  sf_count_t frames = kMaxReadBytes / (2 * channels_);
  const sf_count_t room = static_cast<sf_count_t>(std::size(readBuffer_)) / info_.channels;
  if (frames > room) frames = room;
  const sf_count_t got = sf_readf_short(handle_, readBuffer_, frames);
  if (got <= 0) return 0;
  if (info_.channels > 2) {
    decoding::DownmixToStereo(readBuffer_, static_cast<std::uint32_t>(got), info_.channels, readBuffer_);
  }
  const auto bytes = static_cast<std::uint32_t>(got) * 2u * static_cast<std::uint32_t>(channels_);
  std::memcpy(buffer, readBuffer_, bytes);
  return bytes;
}
