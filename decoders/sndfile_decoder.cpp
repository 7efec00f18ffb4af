#include "decoders/sndfile_decoder.h"

#include <algorithm>
#include <cstring>
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

namespace {

decoding::Speaker SpeakerOf(int position) {
  using S = decoding::Speaker;
  switch (position) {
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT:
      return S::kFrontLeft;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT:
      return S::kFrontRight;
    case SF_CHANNEL_MAP_MONO:
    case SF_CHANNEL_MAP_CENTER:
    case SF_CHANNEL_MAP_FRONT_CENTER:
      return S::kFrontCentre;
    case SF_CHANNEL_MAP_LFE:
      return S::kLowFrequency;
    case SF_CHANNEL_MAP_REAR_LEFT:
      return S::kBackLeft;
    case SF_CHANNEL_MAP_REAR_RIGHT:
      return S::kBackRight;
    case SF_CHANNEL_MAP_REAR_CENTER:
      return S::kBackCentre;
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
      return S::kFrontLeftOfCentre;
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
      return S::kFrontRightOfCentre;
    case SF_CHANNEL_MAP_SIDE_LEFT:
      return S::kSideLeft;
    case SF_CHANNEL_MAP_SIDE_RIGHT:
      return S::kSideRight;
    case SF_CHANNEL_MAP_TOP_CENTER:
      return S::kTopCentre;
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
      return S::kTopFrontLeft;
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
      return S::kTopFrontRight;
    case SF_CHANNEL_MAP_TOP_FRONT_CENTER:
      return S::kTopFrontCentre;
    case SF_CHANNEL_MAP_TOP_REAR_LEFT:
      return S::kTopBackLeft;
    case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
      return S::kTopBackRight;
    case SF_CHANNEL_MAP_TOP_REAR_CENTER:
      return S::kTopBackCentre;
    default:
      return S::kUnknown;
  }
}

// The speaker of every channel: as the file declares them, else the default.
std::vector<decoding::Speaker> LayoutOf(SNDFILE* handle, int channels) {
  std::vector<int> positions(static_cast<std::size_t>(channels));
  if (sf_command(handle, SFC_GET_CHANNEL_MAP_INFO, positions.data(),
                 static_cast<int>(positions.size() * sizeof(int))) != SF_TRUE) {
    return decoding::DefaultLayout(channels);
  }
  std::vector<decoding::Speaker> layout;
  for (const int p : positions) layout.push_back(SpeakerOf(p));
  return layout;
}

}  // namespace

std::int32_t CSndFileDecoder::Open() {
  Close();
  info_ = SF_INFO{};
  const std::string narrowPath = platform::ToUtf8(widePath_);
  view_ = std::make_unique<decoding::WavHeaderView>();
  const bool known = view_->Open(narrowPath);
  const std::int64_t factFrames = known ? view_->FactFrames() : -1;
  if (!known || !view_->NeedsMending()) view_.reset();
  handle_ = view_ ? view_->OpenSndFile(&info_) : sf_open(narrowPath.c_str(), SFM_READ, &info_);
  if (handle_ == nullptr || info_.channels <= 0 || info_.samplerate <= 0) {
    // sf_strerror(nullptr) describes the last failed open; read it before closing.
    const std::string reason =
        handle_ == nullptr ? sf_strerror(nullptr) : "The file has no channels or no sample rate.";
    if (handle_ != nullptr) sf_close(handle_);
    handle_ = nullptr;
    view_.reset();
    std::u16string text = platform::FromUtf8(reason);
    if (text.size() > 511) text.resize(511);
    ui::MessageBox(ui::GetActiveWindow(), text, u"Error", ui::MB_OK | ui::MB_ICONEXCLAMATION);
    return 0;
  }
  sampleRate_ = info_.samplerate;
  // libsndfile decodes the last block whole, padding and all.
  framesLeft_ = factFrames >= 0 && factFrames < info_.frames ? factFrames : -1;
  length_ = framesLeft_ >= 0 ? framesLeft_ : info_.frames;
  channels_ = info_.channels == 1 ? 1 : 2;
  bitsPerSample_ = 16;
  const int subtype = info_.format & SF_FORMAT_SUBMASK;
  floatingPoint_ = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
  mix_.reset();
  if (info_.channels > 2)
    mix_ = std::make_unique<decoding::StereoMix>(LayoutOf(handle_, info_.channels));
  // A full block is 4608 bytes of delivered (mono or stereo) 16-bit frames.
  const std::size_t samples =
      kMaxReadBytes / (2u * channels_) * static_cast<std::size_t>(info_.channels);
  shorts_.assign(floatingPoint_ ? 0 : samples, 0);
  doubles_.assign(floatingPoint_ ? samples : 0, 0.0);
  opened_ = 1;
  return 1;
}

void CSndFileDecoder::Close() {
  if (opened_ == 0) return;
  if (handle_ != nullptr) sf_close(handle_);
  handle_ = nullptr;
  view_.reset();
  opened_ = 0;
}

std::uint32_t CSndFileDecoder::Read(void* buffer, std::uint32_t) {
  if (opened_ == 0) return 0;
  sf_count_t frames = kMaxReadBytes / (2 * channels_);
  if (framesLeft_ >= 0) frames = std::min<sf_count_t>(frames, framesLeft_);
  if (frames == 0) return 0;
  // libsndfile would read float samples as integers unscaled (0.5 becomes 0):
  // they are converted here, 1.0 being full scale.
  const sf_count_t got = floatingPoint_ ? sf_readf_double(handle_, doubles_.data(), frames)
                                        : sf_readf_short(handle_, shorts_.data(), frames);
  if (got <= 0) return 0;
  if (framesLeft_ >= 0) framesLeft_ -= got;
  const auto count = static_cast<std::uint32_t>(got);
  if (mix_ && floatingPoint_) {
    mix_->Mix(doubles_.data(), count, output_);
  } else if (mix_) {
    mix_->Mix(shorts_.data(), count, output_);
  } else if (floatingPoint_) {
    for (std::uint32_t i = 0; i < count * channels_; ++i)
      output_[i] = decoding::FloatToSample(doubles_[i]);
  } else {
    std::memcpy(output_, shorts_.data(), count * channels_ * 2u);
  }
  const auto bytes = count * 2u * static_cast<std::uint32_t>(channels_);
  std::memcpy(buffer, output_, bytes);
  return bytes;
}

bool CSndFileDecoder::CanSeek() { return opened_ != 0 && info_.seekable != 0 && length_ > 0; }

std::uint64_t CSndFileDecoder::GetLengthInFrames() {
  return CanSeek() ? static_cast<std::uint64_t>(length_) : 0;
}

std::int32_t CSndFileDecoder::SeekToFrame(std::uint64_t frame) {
  if (!CanSeek()) return kSeekRefused;
  if (frame >= static_cast<std::uint64_t>(length_) ||
      sf_seek(handle_, static_cast<sf_count_t>(frame), SF_SEEK_SET) < 0) {
    // Read stops at a count of 0 left.
    framesLeft_ = 0;
    return kSeekPastEnd;
  }
  // Compressed blocks are padded past the fact chunk's count; that limit moves along.
  framesLeft_ = length_ - static_cast<std::int64_t>(frame);
  return kSeekLanded;
}
