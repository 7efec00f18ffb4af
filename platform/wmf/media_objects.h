// The small objects the sync reader hands out: a sample of decoded PCM and the
// media properties of an output or of one of its formats.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/wmf/wmf.h"

namespace platform::wmf {

// A PCM wave format for nChannels at nSamplesPerSec, bits wide.
WAVEFORMATEX MakePcmFormat(WORD channels, DWORD sampleRate, WORD bits);

class PcmSample final : public INSSBuffer {
 public:
  // Takes one reference for the caller.
  static com::ComPtr<INSSBuffer> Create(const std::uint8_t* data, std::size_t size);

  HRESULT QueryInterface(const IID& riid, void** ppv) override;
  com::ULONG AddRef() override;
  com::ULONG Release() override;
  HRESULT GetLength(DWORD* pdwLength) override;
  HRESULT SetLength(DWORD dwLength) override;
  HRESULT GetMaxLength(DWORD* pdwLength) override;
  HRESULT GetBuffer(BYTE** ppdwBuffer) override;
  HRESULT GetBufferAndLength(BYTE** ppdwBuffer, DWORD* pdwLength) override;

 private:
  PcmSample(const std::uint8_t* data, std::size_t size)
      : bytes_(data, data + size), length_(static_cast<DWORD>(size)) {}
  ~PcmSample() = default;

  std::atomic<com::ULONG> refs_{1};
  std::vector<std::uint8_t> bytes_;
  DWORD length_;
};

class MediaProps final : public IWMOutputMediaProps {
 public:
  // A wave format when given one, else a type of that major kind with no format block.
  static com::ComPtr<IWMOutputMediaProps> Create(const GUID& majorType,
                                                 std::optional<WAVEFORMATEX> wave);

  HRESULT QueryInterface(const IID& riid, void** ppv) override;
  com::ULONG AddRef() override;
  com::ULONG Release() override;
  HRESULT GetType(GUID* pguidType) override;
  HRESULT GetMediaType(WM_MEDIA_TYPE* pType, DWORD* pcbType) override;
  HRESULT SetMediaType(WM_MEDIA_TYPE* pType) override;

 private:
  MediaProps(const GUID& majorType, std::optional<WAVEFORMATEX> wave)
      : major_(majorType), wave_(wave) {}
  ~MediaProps() = default;

  std::atomic<com::ULONG> refs_{1};
  GUID major_;
  std::optional<WAVEFORMATEX> wave_;
};

// Reads the PCM wave format out of any IWMMediaProps; empty when it has none.
std::optional<WAVEFORMATEX> ReadPcmFormat(IWMMediaProps* props);

}  // namespace platform::wmf
