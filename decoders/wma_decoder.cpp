#include "decoders/wma_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/ui/message_box.h"

namespace com = platform::com;
namespace wmf = platform::wmf;
namespace ui = platform::ui;
using platform::S_OK;

namespace {

constexpr std::uint32_t kMaxMediaTypeBytes = 65536;

// A heap block for a WM_MEDIA_TYPE of the reported size; empty when it can't be had.
std::unique_ptr<std::uint64_t[]> AllocateMediaType(wmf::IWMMediaProps* props, wmf::DWORD* size) {
  *size = 0;
  if (props->GetMediaType(nullptr, size) != S_OK || *size < sizeof(wmf::WM_MEDIA_TYPE) ||
      *size > kMaxMediaTypeBytes) {
    return nullptr;
  }
  return std::unique_ptr<std::uint64_t[]>(new (std::nothrow) std::uint64_t[(*size + 7) / 8]);
}

void OutOfMemory() {
  ui::MessageBox(ui::GetActiveWindow(), u"Out of memory!", u"Error", ui::MB_OK);
}

const wmf::WAVEFORMATEX* WaveFormat(const wmf::WM_MEDIA_TYPE* type) {
  if (!(type->formattype == wmf::WMFORMAT_WaveFormatEx) || type->pbFormat == nullptr ||
      type->cbFormat < sizeof(wmf::WAVEFORMATEX)) {
    return nullptr;
  }
  return reinterpret_cast<const wmf::WAVEFORMATEX*>(type->pbFormat);
}

// Pairs CoInitialize with CoUninitialize on the thread that runs Open.
struct ComScope {
  ComScope() { com::CoInitialize(nullptr); }
  ~ComScope() { com::CoUninitialize(); }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
};

}  // namespace

CWMADecoder::CWMADecoder() : readerContext_(std::make_unique<ReaderContext>()) {}

CWMADecoder::~CWMADecoder() { Close(); }

platform::HRESULT CWMADecoder::SetFile(const char16_t* path) {
  Close();
  return StorePath(widePath_, path);
}

std::int32_t CWMADecoder::Open() {
  Close();
  sampleRate_ = 0;
  bitsPerSample_ = channels_ = 0;
  // The reader opens the file again for itself: a pipe, whose one writer the
  // first open has taken, would keep that second open waiting for ever.
  if (!fileHandle_.OpenRead(widePath_) ||
      fileHandle_.SetPointer(0, platform::SeekOrigin::kCurrent) ==
          platform::kInvalidSetFilePointer) {
    fileHandle_.Close();
    ui::MessageBox(ui::GetActiveWindow(), u"Can't open file.", u"Error",
                   ui::MB_OK | ui::MB_ICONEXCLAMATION);
    return 0;
  }
  const ComScope com;
  readerContext_ = std::make_unique<ReaderContext>();
  fileStream_ = std::make_unique<CFileStream>(widePath_);
  OpenReaderContext();
  if (readerContext_->found == 0) {
    ui::MessageBox(ui::GetActiveWindow(), u"No audio data exist in this file.", u"Error",
                   ui::MB_OK | ui::MB_ICONEXCLAMATION);
    ReleaseAll();
    return 0;
  }
  channels_ = readerContext_->chosenChannels;
  bitsPerSample_ = readerContext_->bitsPerSample;
  sampleRate_ = readerContext_->chosenSampleRate;
  opened_ = 1;
  return 1;
}

void CWMADecoder::OpenReaderContext() {
  ReaderContext& context = *readerContext_;
  if (wmf::WMCreateSyncReader(nullptr, 0, context.reader.Put()) != S_OK || !context.reader) return;
  context.audioStream = CAudioStream::Create(fileStream_.get());
  context.audioStream->AddRef();
  context.stream = com::ComPtr<com::IStream>::Attach(context.audioStream);
  wmf::IWMSyncReader* reader = context.reader.Get();
  wmf::DWORD outputs = 0;
  if (reader->OpenStream(context.stream.Get()) != S_OK) {
    context.stream->Seek(30, com::STREAM_SEEK_SET, nullptr);
    if (reader->OpenStream(context.stream.Get()) != S_OK) outputs = ~wmf::DWORD{0};
  }
  if (outputs != 0 || reader->GetOutputCount(&outputs) != S_OK) {
    ReleaseReaderContext();
    return;
  }
  for (std::uint32_t i = 0; i < outputs; ++i) ConsiderOutput(reader, i);
  if (context.found == 0) return;
  reader->GetStreamNumberForOutput(context.outputNumber, &context.streamNumber);
  reader->SetReadStreamSamples(context.streamNumber, 0);
  if (reader->QueryInterface(wmf::IID_IWMHeaderInfo, context.headerInfo.PutVoid()) == S_OK) {
    wmf::WORD streamNumber = 0;
    wmf::WORD length = sizeof(context.duration);
    wmf::WMT_ATTR_DATATYPE type = wmf::WMT_TYPE_QWORD;
    if (context.headerInfo->GetAttributeByName(&streamNumber, u"Duration", &type,
                                               reinterpret_cast<wmf::BYTE*>(&context.duration),
                                               &length) != S_OK) {
      context.duration &= ~std::uint64_t{0xFFFFFFFF};
    }
  }
}

// Takes the output's widest PCM format at its own rate and channel count; a
// later output or format with as many bits replaces an earlier one.
void CWMADecoder::ConsiderOutput(wmf::IWMSyncReader* reader, std::uint32_t output) {
  ReaderContext& context = *readerContext_;
  com::ComPtr<wmf::IWMOutputMediaProps> props;
  if (reader->GetOutputProps(output, props.Put()) != S_OK || !props) return;
  wmf::DWORD size = 0;
  const auto block = AllocateMediaType(props.Get(), &size);
  if (!block) {
    OutOfMemory();
    return;
  }
  auto* type = reinterpret_cast<wmf::WM_MEDIA_TYPE*>(block.get());
  if (props->GetMediaType(type, &size) != S_OK || !(type->majortype == wmf::WMMEDIATYPE_Audio))
    return;
  const wmf::WAVEFORMATEX* defaultFormat = WaveFormat(type);
  if (defaultFormat == nullptr) return;
  const wmf::BYTE discrete[4] = {};
  reader->SetOutputSetting(output, u"EnableDiscreteOutput", wmf::WMT_TYPE_BOOL, discrete,
                           sizeof(discrete));
  context.channels = defaultFormat->nChannels;
  context.sampleRate = defaultFormat->nSamplesPerSec;
  wmf::DWORD formats = 0;
  if (reader->GetOutputFormatCount(output, &formats) != S_OK) return;
  for (std::uint32_t j = 0; j < formats; ++j) {
    com::ComPtr<wmf::IWMOutputMediaProps> formatProps;
    if (reader->GetOutputFormat(output, j, formatProps.Put()) != S_OK || !formatProps) continue;
    wmf::DWORD formatSize = 0;
    const auto formatBlock = AllocateMediaType(formatProps.Get(), &formatSize);
    if (!formatBlock) {
      OutOfMemory();
      continue;
    }
    auto* formatType = reinterpret_cast<wmf::WM_MEDIA_TYPE*>(formatBlock.get());
    if (formatProps->GetMediaType(formatType, &formatSize) != S_OK) continue;
    const wmf::WAVEFORMATEX* wave = WaveFormat(formatType);
    if (wave == nullptr || wave->wBitsPerSample < context.bitsPerSample ||
        wave->nSamplesPerSec != context.sampleRate || wave->nChannels != context.channels) {
      continue;
    }
    context.found = 1;
    context.outputNumber = output;
    context.bitsPerSample = wave->wBitsPerSample;
    context.chosenChannels = wave->nChannels;
    context.chosenSampleRate = wave->nSamplesPerSec;
    reader->SetOutputProps(output, formatProps.Get());
  }
}

// Drops the reader's interfaces in the order the reader expects, the stream last.
void CWMADecoder::ReleaseReaderContext() {
  if (!readerContext_) return;
  ReaderContext& context = *readerContext_;
  if (context.headerInfo) {
    const auto count = static_cast<std::int32_t>(context.headerInfo.Reset());
    if (count < 0) {
      ui::MessageBox(ui::GetActiveWindow(), u"An error occurred when release IWMHeaderInfo.",
                     u"Info", ui::MB_OK);
    }
  }
  context.currentSample.Reset();
  if (context.reader) {
    context.reader->Close();
    context.reader.Reset();
  }
  context.stream.Reset();
  context.audioStream = nullptr;
  context.sampleOffset = 0;
}

void CWMADecoder::ReleaseAll() {
  ReleaseReaderContext();
  readerContext_.reset();
  fileStream_.reset();
  fileHandle_.Close();
}

void CWMADecoder::InitialiseReadThread() {
  if (readThreadInitialised_) return;
  com::CoInitialize(nullptr);
  readThreadInitialised_ = true;
  readThread_ = std::this_thread::get_id();
}

void CWMADecoder::Close() {
  if (opened_ == 0) return;
  ReleaseAll();
  if (readThreadInitialised_ && readThread_ == std::this_thread::get_id()) com::CoUninitialize();
  readThreadInitialised_ = false;
  opened_ = 0;
}

std::uint32_t CWMADecoder::Read(void* buffer, std::uint32_t) {
  if (opened_ == 0 || ended_) return 0;
  InitialiseReadThread();
  const std::uint32_t want = sampleRate_ == 22050 ? kMaxReadBytes / 2 : kMaxReadBytes;
  const std::uint32_t taken = TakeBytes(stagingBuffer_, want);
  std::memcpy(buffer, stagingBuffer_, taken);
  return taken;
}

std::uint32_t CWMADecoder::TakeBytes(std::uint8_t* into, std::uint32_t want) {
  ReaderContext& context = *readerContext_;
  for (;;) {
    if (context.currentSample) {
      wmf::BYTE* data = nullptr;
      wmf::DWORD length = 0;
      context.currentSample->GetBufferAndLength(&data, &length);
      if (context.sampleOffset < length) {
        const std::uint32_t m = std::min(want, length - context.sampleOffset);
        std::memcpy(into, data + context.sampleOffset, m);
        context.sampleOffset += m;
        return m;
      }
      context.currentSample.Reset();
      context.sampleOffset = 0;
    }
    wmf::QWORD time = 0;
    wmf::QWORD duration = 0;
    wmf::DWORD flags = 0;
    wmf::DWORD outputNumber = 0;
    wmf::WORD streamNumber = 0;
    if (context.reader->GetNextSample(context.streamNumber, context.currentSample.Put(), &time,
                                      &duration, &flags, &outputNumber, &streamNumber) != S_OK) {
      return 0;
    }
  }
}

bool CWMADecoder::CanSeek() {
  if (opened_ == 0 || !readerContext_ || !readerContext_->headerInfo || sampleRate_ == 0)
    return false;
  wmf::WORD streamNumber = 0;
  com::BOOL seekable = 0;
  wmf::WORD length = sizeof(seekable);
  wmf::WMT_ATTR_DATATYPE type = wmf::WMT_TYPE_BOOL;
  return readerContext_->headerInfo->GetAttributeByName(&streamNumber, u"Seekable", &type,
                                                        reinterpret_cast<wmf::BYTE*>(&seekable),
                                                        &length) == S_OK &&
         seekable != 0 && Duration() > 0;
}

std::uint64_t CWMADecoder::GetLengthInFrames() {
  if (!CanSeek()) return 0;
  const std::uint64_t d = Duration();
  return d / 10000000u * sampleRate_ + d % 10000000u * sampleRate_ / 10000000u;
}

std::int32_t CWMADecoder::SeekToFrame(std::uint64_t frame) {
  if (!CanSeek()) return kSeekRefused;
  InitialiseReadThread();
  ReaderContext& context = *readerContext_;
  context.currentSample.Reset();
  context.sampleOffset = 0;
  // The frame's time rounded up: the reader's rounding down gives the frame back.
  const std::uint64_t time = frame / sampleRate_ * 10000000u +
                             (frame % sampleRate_ * 10000000u + sampleRate_ - 1) / sampleRate_;
  ended_ = frame >= GetLengthInFrames() || context.reader->SetRange(time, 0) != S_OK;
  return ended_ ? kSeekPastEnd : kSeekLanded;
}
