#include "platform/wmf/media_objects.h"

#include <cstring>
#include <memory>

namespace platform::wmf {

WAVEFORMATEX MakePcmFormat(WORD channels, DWORD sampleRate, WORD bits) {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = channels;
  format.nSamplesPerSec = sampleRate;
  format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  format.nAvgBytesPerSec = sampleRate * format.nBlockAlign;
  format.wBitsPerSample = bits;
  format.cbSize = 0;
  return format;
}

// --- PcmSample ---

com::ComPtr<INSSBuffer> PcmSample::Create(const std::uint8_t* data, std::size_t size) {
  // COM objects delete themselves on their last Release.
  return com::ComPtr<INSSBuffer>::Attach(new PcmSample(data, size));
}

HRESULT PcmSample::QueryInterface(const IID& riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == com::IID_IUnknown || riid == IID_INSSBuffer) {
    *ppv = static_cast<INSSBuffer*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

com::ULONG PcmSample::AddRef() { return ++refs_; }

com::ULONG PcmSample::Release() {
  const com::ULONG count = --refs_;
  if (count == 0) delete this;
  return count;
}

HRESULT PcmSample::GetLength(DWORD* pdwLength) {
  if (pdwLength == nullptr) return E_POINTER;
  *pdwLength = length_;
  return S_OK;
}

HRESULT PcmSample::SetLength(DWORD dwLength) {
  if (dwLength > bytes_.size()) return E_INVALIDARG;
  length_ = dwLength;
  return S_OK;
}

HRESULT PcmSample::GetMaxLength(DWORD* pdwLength) {
  if (pdwLength == nullptr) return E_POINTER;
  *pdwLength = static_cast<DWORD>(bytes_.size());
  return S_OK;
}

HRESULT PcmSample::GetBuffer(BYTE** ppdwBuffer) {
  if (ppdwBuffer == nullptr) return E_POINTER;
  *ppdwBuffer = bytes_.data();
  return S_OK;
}

HRESULT PcmSample::GetBufferAndLength(BYTE** ppdwBuffer, DWORD* pdwLength) {
  if (ppdwBuffer == nullptr || pdwLength == nullptr) return E_POINTER;
  *ppdwBuffer = bytes_.data();
  *pdwLength = length_;
  return S_OK;
}

// --- MediaProps ---

com::ComPtr<IWMOutputMediaProps> MediaProps::Create(const GUID& majorType,
                                                    std::optional<WAVEFORMATEX> wave) {
  return com::ComPtr<IWMOutputMediaProps>::Attach(new MediaProps(majorType, wave));
}

HRESULT MediaProps::QueryInterface(const IID& riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == com::IID_IUnknown || riid == IID_IWMOutputMediaProps) {
    *ppv = static_cast<IWMOutputMediaProps*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

com::ULONG MediaProps::AddRef() { return ++refs_; }

com::ULONG MediaProps::Release() {
  const com::ULONG count = --refs_;
  if (count == 0) delete this;
  return count;
}

HRESULT MediaProps::GetType(GUID* pguidType) {
  if (pguidType == nullptr) return E_POINTER;
  *pguidType = major_;
  return S_OK;
}

HRESULT MediaProps::GetMediaType(WM_MEDIA_TYPE* pType, DWORD* pcbType) {
  if (pcbType == nullptr) return E_POINTER;
  const DWORD formatSize = wave_ ? sizeof(WAVEFORMATEX) : 0;
  const DWORD needed = sizeof(WM_MEDIA_TYPE) + formatSize;
  if (pType == nullptr) {
    *pcbType = needed;
    return S_OK;
  }
  if (*pcbType < needed) {
    *pcbType = needed;
    return ASF_E_BUFFERTOOSMALL;
  }
  WM_MEDIA_TYPE type{};
  type.majortype = major_;
  type.subtype = wave_ ? WMMEDIASUBTYPE_PCM : GUID{};
  type.bFixedSizeSamples = wave_ ? 1 : 0;
  type.lSampleSize = wave_ ? wave_->nBlockAlign : 0;
  type.formattype = wave_ ? WMFORMAT_WaveFormatEx : WMFORMAT_None;
  type.cbFormat = formatSize;
  auto* block = reinterpret_cast<BYTE*>(pType);
  type.pbFormat = wave_ ? block + sizeof(WM_MEDIA_TYPE) : nullptr;
  std::memcpy(block, &type, sizeof(type));
  if (wave_) std::memcpy(block + sizeof(WM_MEDIA_TYPE), &*wave_, sizeof(WAVEFORMATEX));
  *pcbType = needed;
  return S_OK;
}

HRESULT MediaProps::SetMediaType(WM_MEDIA_TYPE* pType) {
  if (pType == nullptr) return E_POINTER;
  major_ = pType->majortype;
  wave_.reset();
  if (pType->formattype == WMFORMAT_WaveFormatEx && pType->pbFormat != nullptr &&
      pType->cbFormat >= sizeof(WAVEFORMATEX)) {
    WAVEFORMATEX wave;
    std::memcpy(&wave, pType->pbFormat, sizeof(wave));
    wave_ = wave;
  }
  return S_OK;
}

std::optional<WAVEFORMATEX> ReadPcmFormat(IWMMediaProps* props) {
  DWORD size = 0;
  if (props == nullptr || props->GetMediaType(nullptr, &size) != S_OK ||
      size < sizeof(WM_MEDIA_TYPE) || size > 65536) {
    return std::nullopt;
  }
  // WM_MEDIA_TYPE holds pointers, so the block is kept aligned for it.
  std::vector<std::uint64_t> block((size + 7) / 8);
  auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(block.data());
  if (props->GetMediaType(type, &size) != S_OK || !(type->formattype == WMFORMAT_WaveFormatEx) ||
      type->pbFormat == nullptr || type->cbFormat < sizeof(WAVEFORMATEX)) {
    return std::nullopt;
  }
  WAVEFORMATEX wave;
  std::memcpy(&wave, type->pbFormat, sizeof(wave));
  if (wave.wFormatTag != WAVE_FORMAT_PCM) return std::nullopt;
  return wave;
}

}  // namespace platform::wmf
