// The sync reader over the FFmpeg media module. Outputs are the file's streams
// in order (output i is stream number i + 1); audio outputs offer 16-bit and
// 8-bit PCM at the stream's own rate and channel count (at most two).
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/ffmpeg/media_loader.h"
#include "platform/wmf/media_objects.h"
#include "platform/wmf/wmf.h"

namespace platform::wmf {

namespace {

constexpr WORD kOfferedBits[] = {16, 8};

// The module reads the file through the caller's IStream and nothing else.
class StreamByteSource final : public ffmpeg::ByteSource {
 public:
  explicit StreamByteSource(com::IStream* stream) : stream_(stream) {}

  int Read(std::uint8_t* buffer, int size) override {
    com::ULONG got = 0;
    stream_->Read(buffer, static_cast<com::ULONG>(size), &got);
    return got <= static_cast<com::ULONG>(size) ? static_cast<int>(got) : 0;
  }

  bool SeekTo(std::int64_t offset) override {
    std::uint64_t position = ~std::uint64_t{0};
    return Succeeded(stream_->Seek(offset, com::STREAM_SEEK_SET, &position)) &&
           position == static_cast<std::uint64_t>(offset);
  }

  std::int64_t Size() override {
    com::STATSTG stat{};
    if (Failed(stream_->Stat(&stat, 1))) return -1;
    return static_cast<std::int64_t>(stat.cbSize);
  }

 private:
  com::IStream* stream_;  // not owned; the reader holds a reference while open
};

struct Output {
  ffmpeg::StreamInfo info;
  WORD bits = 16;  // of the PCM delivered
};

class SyncReader final : public IWMSyncReader, public IWMHeaderInfo {
 public:
  SyncReader() = default;

  HRESULT QueryInterface(const IID& riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == com::IID_IUnknown || riid == IID_IWMSyncReader) {
      *ppv = static_cast<IWMSyncReader*>(this);
    } else if (riid == IID_IWMHeaderInfo) {
      *ppv = static_cast<IWMHeaderInfo*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  com::ULONG AddRef() override { return ++refs_; }
  com::ULONG Release() override {
    const com::ULONG count = --refs_;
    if (count == 0) delete this;
    return count;
  }

  HRESULT OpenStream(com::IStream* pStream) override {
    if (pStream == nullptr) return E_INVALIDARG;
    if (media_) return NS_E_INVALID_REQUEST;
    pStream->AddRef();
    stream_ = com::ComPtr<com::IStream>::Attach(pStream);
    // Whatever the caller did with the stream, the file starts at byte 0.
    std::uint64_t position = 0;
    pStream->Seek(0, com::STREAM_SEEK_SET, &position);
    source_ = std::make_unique<StreamByteSource>(pStream);
    media_ = ffmpeg::OpenMediaSource(source_.get(), "asf");
    if (!media_) {
      Close();
      return E_FAIL;
    }
    outputs_.clear();
    for (int i = 0; i < media_->StreamCount(); ++i) outputs_.push_back(Output{media_->Stream(i)});
    return S_OK;
  }

  HRESULT Close() override {
    if (!stream_) return NS_E_INVALID_REQUEST;
    media_.reset();
    source_.reset();
    stream_.Reset();
    outputs_.clear();
    selected_ = -1;
    return S_OK;
  }

  HRESULT GetOutputCount(DWORD* pcOutputs) override {
    if (pcOutputs == nullptr) return E_POINTER;
    if (!media_) return NS_E_INVALID_REQUEST;
    *pcOutputs = static_cast<DWORD>(outputs_.size());
    return S_OK;
  }

  HRESULT GetOutputProps(DWORD dwOutputNum, IWMOutputMediaProps** ppOutput) override {
    if (ppOutput == nullptr) return E_POINTER;
    *ppOutput = nullptr;
    const Output* output = Find(dwOutputNum);
    if (output == nullptr) return E_INVALIDARG;
    *ppOutput = (output->info.audio ? MakeProps(*output, output->bits)
                                    : MediaProps::Create(WMMEDIATYPE_Video, std::nullopt))
                    .Detach();
    return S_OK;
  }

  HRESULT SetOutputSetting(DWORD dwOutputNum, const char16_t* pszName, WMT_ATTR_DATATYPE,
                           const BYTE*, WORD) override {
    // Discrete output and the other settings change nothing for PCM of two channels at most.
    return Find(dwOutputNum) != nullptr && pszName != nullptr ? S_OK : E_INVALIDARG;
  }

  HRESULT GetOutputFormatCount(DWORD dwOutputNum, DWORD* pcFormats) override {
    if (pcFormats == nullptr) return E_POINTER;
    const Output* output = Find(dwOutputNum);
    if (output == nullptr) return E_INVALIDARG;
    *pcFormats = output->info.audio ? static_cast<DWORD>(std::size(kOfferedBits)) : 0;
    return S_OK;
  }

  HRESULT GetOutputFormat(DWORD dwOutputNum, DWORD dwFormatNum,
                          IWMOutputMediaProps** ppProps) override {
    if (ppProps == nullptr) return E_POINTER;
    *ppProps = nullptr;
    const Output* output = Find(dwOutputNum);
    if (output == nullptr || !output->info.audio || dwFormatNum >= std::size(kOfferedBits))
      return E_INVALIDARG;
    *ppProps = MakeProps(*output, kOfferedBits[dwFormatNum]).Detach();
    return S_OK;
  }

  HRESULT SetOutputProps(DWORD dwOutputNum, IWMOutputMediaProps* pOutput) override {
    Output* output = Find(dwOutputNum);
    if (output == nullptr || !output->info.audio) return E_INVALIDARG;
    if (selected_ >= 0) return NS_E_INVALID_REQUEST;  // decoding has begun
    const auto wave = ReadPcmFormat(pOutput);
    if (!wave || wave->nSamplesPerSec != static_cast<DWORD>(output->info.sampleRate) ||
        wave->nChannels != output->info.channels ||
        (wave->wBitsPerSample != 16 && wave->wBitsPerSample != 8)) {
      return NS_E_INVALID_OUTPUT_FORMAT;
    }
    output->bits = wave->wBitsPerSample;
    return S_OK;
  }

  HRESULT GetStreamNumberForOutput(DWORD dwOutputNum, WORD* pwStreamNum) override {
    if (pwStreamNum == nullptr) return E_POINTER;
    if (Find(dwOutputNum) == nullptr) return E_INVALIDARG;
    *pwStreamNum = static_cast<WORD>(dwOutputNum + 1);
    return S_OK;
  }

  HRESULT SetReadStreamSamples(WORD wStreamNum, BOOL fCompressed) override {
    if (wStreamNum == 0 || Find(wStreamNum - 1u) == nullptr) return E_INVALIDARG;
    if (fCompressed) return E_NOTIMPL;  // only decoded samples are offered
    readStream_ = wStreamNum;
    return S_OK;
  }

  HRESULT SetRange(QWORD cnsStartTime, LONGLONG cnsDuration) override {
    if (!media_ || cnsDuration != 0 || !Seekable()) return NS_E_INVALID_REQUEST;
    const auto rate =
        static_cast<QWORD>(outputs_[static_cast<std::size_t>(selected_)].info.sampleRate);
    // 100-ns units to frames, rounded down: a frame's own time, rounded up, comes back as it.
    const QWORD frame =
        cnsStartTime / 10000000u * rate + cnsStartTime % 10000000u * rate / 10000000u;
    return media_->SeekToFrame(static_cast<std::int64_t>(frame)) ? S_OK : NS_E_INVALID_REQUEST;
  }

  HRESULT GetNextSample(WORD wStreamNum, INSSBuffer** ppSample, QWORD* pcnsSampleTime,
                        QWORD* pcnsDuration, DWORD* pdwFlags, DWORD* pdwOutputNum,
                        WORD* pwStreamNum) override {
    if (ppSample == nullptr) return E_POINTER;
    *ppSample = nullptr;
    if (!media_) return NS_E_INVALID_REQUEST;
    if (selected_ < 0 && !Select(wStreamNum)) return NS_E_INVALID_REQUEST;
    if (wStreamNum != 0 && wStreamNum != selected_ + 1) return NS_E_INVALID_REQUEST;
    const std::uint8_t* pcm = nullptr;
    std::int64_t time = 0;
    const int bytes = media_->NextPcm(&pcm, &time);
    if (bytes <= 0) return NS_E_NO_MORE_SAMPLES;
    const Output& output = outputs_[static_cast<std::size_t>(selected_)];
    const int frameBytes = output.info.channels * output.bits / 8;
    if (pcnsSampleTime != nullptr) *pcnsSampleTime = static_cast<QWORD>(time);
    if (pcnsDuration != nullptr) {
      *pcnsDuration = static_cast<QWORD>(bytes / frameBytes) * 10000000u /
                      static_cast<QWORD>(output.info.sampleRate);
    }
    if (pdwFlags != nullptr) *pdwFlags = 0;
    if (pdwOutputNum != nullptr) *pdwOutputNum = static_cast<DWORD>(selected_);
    if (pwStreamNum != nullptr) *pwStreamNum = static_cast<WORD>(selected_ + 1);
    *ppSample = PcmSample::Create(pcm, static_cast<std::size_t>(bytes)).Detach();
    return S_OK;
  }

  // IWMHeaderInfo: the one file attribute kept is "Duration".
  HRESULT GetAttributeCount(WORD wStreamNum, WORD* pcAttributes) override {
    if (pcAttributes == nullptr) return E_POINTER;
    if (!media_) return NS_E_INVALID_REQUEST;
    *pcAttributes = wStreamNum == 0 ? 1 : 0;
    return S_OK;
  }

  HRESULT GetAttributeByName(WORD* pwStreamNum, const char16_t* pszName, WMT_ATTR_DATATYPE* pType,
                             BYTE* pValue, WORD* pcbLength) override {
    if (pwStreamNum == nullptr || pszName == nullptr || pType == nullptr || pcbLength == nullptr)
      return E_POINTER;
    if (!media_) return NS_E_INVALID_REQUEST;
    if (*pwStreamNum == 0 && std::u16string_view(pszName) == u"Seekable") {
      *pType = WMT_TYPE_BOOL;
      const WORD given = *pcbLength;
      *pcbLength = sizeof(BOOL);
      if (pValue == nullptr) return S_OK;
      if (given < sizeof(BOOL)) return ASF_E_BUFFERTOOSMALL;
      const BOOL seekable = Seekable() ? 1 : 0;
      std::memcpy(pValue, &seekable, sizeof(seekable));
      return S_OK;
    }
    if (*pwStreamNum != 0 || std::u16string_view(pszName) != u"Duration") return ASF_E_NOTFOUND;
    *pType = WMT_TYPE_QWORD;
    const WORD given = *pcbLength;
    *pcbLength = sizeof(QWORD);
    if (pValue == nullptr) return S_OK;
    if (given < sizeof(QWORD)) return ASF_E_BUFFERTOOSMALL;
    const QWORD duration = static_cast<QWORD>(media_->Duration100ns());
    std::memcpy(pValue, &duration, sizeof(duration));
    return S_OK;
  }

 private:
  ~SyncReader() { Close(); }

  Output* Find(DWORD outputNum) {
    return media_ && outputNum < outputs_.size() ? &outputs_[outputNum] : nullptr;
  }

  static com::ComPtr<IWMOutputMediaProps> MakeProps(const Output& output, WORD bits) {
    return MediaProps::Create(WMMEDIATYPE_Audio,
                              MakePcmFormat(static_cast<WORD>(output.info.channels),
                                            static_cast<DWORD>(output.info.sampleRate), bits));
  }

  // Seeking needs the decoder of the stream to be read open.
  bool Seekable() {
    if (selected_ < 0 && !Select(readStream_)) return false;
    return media_->SeekableFrames() > 0;
  }

  // Opens the decoder of the asked stream, or of the first audio output for 0.
  bool Select(WORD streamNum) {
    int index = -1;
    if (streamNum != 0) {
      index = streamNum - 1;
    } else {
      for (std::size_t i = 0; i < outputs_.size() && index < 0; ++i) {
        if (outputs_[i].info.audio) index = static_cast<int>(i);
      }
    }
    if (index < 0 || static_cast<std::size_t>(index) >= outputs_.size() ||
        !outputs_[index].info.audio)
      return false;
    if (!media_->SelectAudio(index, outputs_[index].bits)) return false;
    selected_ = index;
    return true;
  }

  std::atomic<com::ULONG> refs_{1};
  // Below: one thread at a time, as with the runtime's own reader.
  com::ComPtr<com::IStream> stream_;
  std::unique_ptr<StreamByteSource> source_;  // released after media_, which reads through it
  std::unique_ptr<ffmpeg::MediaSource> media_;
  std::vector<Output> outputs_;
  int selected_ = -1;    // the output being decoded, once the first sample is asked for
  WORD readStream_ = 0;  // the stream SetReadStreamSamples named; 0: the first audio one
};

}  // namespace

HRESULT WMCreateSyncReader(IUnknown*, DWORD, IWMSyncReader** ppSyncReader) {
  if (ppSyncReader == nullptr) return E_POINTER;
  *ppSyncReader = nullptr;
  if (ffmpeg::LoadMediaModule() == nullptr) return E_FAIL;
  *ppSyncReader = new SyncReader();  // deletes itself on its last Release
  return S_OK;
}

}  // namespace platform::wmf
