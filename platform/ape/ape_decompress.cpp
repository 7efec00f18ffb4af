#include "platform/ape/ape_decompress.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ffmpeg/media_loader.h"
#include "platform/kernel/text.h"

namespace platform::ape {

namespace {

bool HasApeExtension(std::u16string_view path) {
  const auto dot = path.rfind(u'.');
  if (dot == std::u16string_view::npos || path.size() - dot != 4) return false;
  std::u16string ext(path.substr(dot + 1));
  for (char16_t& c : ext) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return ext == u"ape" || ext == u"mac" || ext == u"apl";
}

class ApeDecompress final : public IAPEDecompress {
 public:
  ApeDecompress(std::unique_ptr<ffmpeg::MediaSource> media, const ffmpeg::StreamInfo& info)
      : media_(std::move(media)), info_(info) {}

  int GetData(char* buffer, int blocks, int* retrieved) override {
    if (retrieved != nullptr) *retrieved = 0;
    if (buffer == nullptr || blocks <= 0 || retrieved == nullptr) return ERROR_INVALID_INPUT_FILE;
    const std::size_t align = BlockAlign();
    const std::size_t want = static_cast<std::size_t>(blocks) * align;
    std::size_t have = 0;
    while (have < want) {
      if (pendingOffset_ == pending_.size()) {
        const std::uint8_t* pcm = nullptr;
        std::int64_t time = 0;
        const int n = ended_ ? 0 : media_->NextPcm(&pcm, &time);
        if (n <= 0) {
          ended_ = true;
          break;
        }
        pending_.assign(pcm, pcm + n);
        pendingOffset_ = 0;
      }
      const std::size_t take = std::min(want - have, pending_.size() - pendingOffset_);
      std::memcpy(buffer + have, pending_.data() + pendingOffset_, take);
      have += take;
      pendingOffset_ += take;
    }
    // Only whole blocks leave; a torn block at the very end of a damaged file is dropped.
    *retrieved = static_cast<int>(have / align);
    return ERROR_SUCCESS;
  }

  int Seek(int blockOffset) override {
    pending_.clear();
    pendingOffset_ = 0;
    ended_ = blockOffset < 0 || blockOffset >= TotalBlocks() || !media_->SeekToFrame(blockOffset);
    return ended_ ? ERROR_SEEKING : ERROR_SUCCESS;
  }

  std::intptr_t GetInfo(APE_DECOMPRESS_FIELDS field, std::intptr_t, std::intptr_t) override {
    switch (field) {
      case APE_DECOMPRESS_TOTAL_BLOCKS:
        return TotalBlocks();
      case APE_INFO_SAMPLE_RATE:
        return info_.sampleRate;
      case APE_INFO_BITS_PER_SAMPLE:
        return 16;
      case APE_INFO_BYTES_PER_SAMPLE:
        return 2;
      case APE_INFO_CHANNELS:
        return info_.channels;
      case APE_INFO_BLOCK_ALIGN:
        return static_cast<std::intptr_t>(BlockAlign());
    }
    return 0;
  }

 private:
  int TotalBlocks() {
    const std::int64_t frames = media_->SeekableFrames();
    return frames > 0 && frames <= 0x7FFFFFFF ? static_cast<int>(frames) : 0;
  }
  std::size_t BlockAlign() const { return static_cast<std::size_t>(info_.channels) * 2; }

  std::unique_ptr<ffmpeg::MediaSource> media_;
  ffmpeg::StreamInfo info_;
  std::vector<std::uint8_t> pending_;  // decoded PCM not yet handed out
  std::size_t pendingOffset_ = 0;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<IAPEDecompress> CreateIAPEDecompress(const char16_t* fileName, int* errorCode) {
  int ignored = 0;
  int& error = errorCode != nullptr ? *errorCode : ignored;
  error = ERROR_SUCCESS;
  if (fileName == nullptr || !HasApeExtension(fileName)) {
    error = ERROR_UNSUPPORTED_FILE_TYPE;
    return nullptr;
  }
  if (ffmpeg::LoadMediaModule() == nullptr) {
    error = ERROR_LOADING_APE_DLL;
    return nullptr;
  }
  std::unique_ptr<ffmpeg::MediaSource> media =
      ffmpeg::OpenMediaPath(ToUtf8(fileName).c_str(), "ape");
  if (!media) {
    error = ERROR_INVALID_INPUT_FILE;
    return nullptr;
  }
  int audio = -1;
  for (int i = 0; i < media->StreamCount() && audio < 0; ++i) {
    if (media->Stream(i).audio) audio = i;
  }
  if (audio < 0 || !media->SelectAudio(audio, 16)) {
    error = ERROR_INVALID_INPUT_FILE;
    return nullptr;
  }
  const ffmpeg::StreamInfo info = media->Stream(audio);
  return std::make_unique<ApeDecompress>(std::move(media), info);
}

}  // namespace platform::ape
