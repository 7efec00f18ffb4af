#include "decoders/mac_decoder.h"

#include <cstring>

#include "platform/ui/message_box.h"

namespace ape = platform::ape;
namespace ui = platform::ui;

CMACDecoder::~CMACDecoder() { Close(); }

platform::HRESULT CMACDecoder::SetFile(const char16_t* path) {
  Close();
  return StorePath(widePath_, path);
}

std::int32_t CMACDecoder::Open() {
  Close();
  sampleRate_ = bitsPerSample_ = channels_ = blockAlign_ = 0;
  int error = 0;
  decompressor_ = ape::CreateIAPEDecompress(widePath_, &error);
  if (error != 0 || !decompressor_) {
    decompressor_.reset();
    ui::MessageBox(ui::GetActiveWindow(), u"Can not create APE decompress interface.", u"Error",
                   ui::MB_OK | ui::MB_ICONEXCLAMATION);
    return 0;
  }
  blockAlign_ = static_cast<std::int32_t>(decompressor_->GetInfo(ape::APE_INFO_BLOCK_ALIGN));
  channels_ = static_cast<std::int32_t>(decompressor_->GetInfo(ape::APE_INFO_CHANNELS));
  bitsPerSample_ = static_cast<std::int32_t>(decompressor_->GetInfo(ape::APE_INFO_BITS_PER_SAMPLE));
  sampleRate_ = static_cast<std::int32_t>(decompressor_->GetInfo(ape::APE_INFO_SAMPLE_RATE));
  opened_ = 1;
  return 1;
}

void CMACDecoder::Close() {
  if (opened_ == 0) return;
  decompressor_.reset();
  opened_ = 0;
}

std::uint32_t CMACDecoder::Read(void* buffer, std::uint32_t) {
  // A block align of 0 (or one too wide for a single Read) can deliver nothing.
  if (opened_ == 0 || blockAlign_ <= 0 || blockAlign_ > static_cast<std::int32_t>(kMaxReadBytes))
    return 0;
  const int blocks = static_cast<int>(kMaxReadBytes) / blockAlign_;
  int retrieved = 0;
  decompressor_->GetData(stagingBuffer_, blocks, &retrieved);
  if (retrieved <= 0) return 0;
  if (retrieved > blocks) retrieved = blocks;
  const auto bytes =
      static_cast<std::uint32_t>(retrieved) * static_cast<std::uint32_t>(blockAlign_);
  std::memcpy(buffer, stagingBuffer_, bytes);
  return bytes;
}

std::uint64_t CMACDecoder::GetLengthInFrames() {
  if (opened_ == 0) return 0;
  const std::intptr_t blocks = decompressor_->GetInfo(ape::APE_DECOMPRESS_TOTAL_BLOCKS);
  return blocks > 0 ? static_cast<std::uint64_t>(blocks) : 0;
}

bool CMACDecoder::CanSeek() { return GetLengthInFrames() > 0; }

std::int32_t CMACDecoder::SeekToFrame(std::uint64_t frame) {
  if (!CanSeek()) return kSeekRefused;
  // A block is one frame of every channel; past the last one the stream ends.
  if (frame >= GetLengthInFrames() || decompressor_->Seek(static_cast<int>(frame)) != 0) {
    decompressor_->Seek(-1);
    return kSeekPastEnd;
  }
  return kSeekLanded;
}
