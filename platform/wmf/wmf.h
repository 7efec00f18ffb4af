// The synchronous media reader: WMCreateSyncReader and the interfaces it hands
// out, with the types and identifiers callers compare. The reader takes a file
// only as an IStream and reads every byte through it; decoding is done by the
// FFmpeg media module, loaded on the first reader made.
#pragma once

#include <cstdint>

#include "platform/com/com.h"

namespace platform::wmf {

using com::BOOL;
using com::BYTE;
using com::DWORD;
using com::GUID;
using com::IID;
using com::IUnknown;
using com::WORD;
using QWORD = std::uint64_t;
using LONGLONG = std::int64_t;

inline constexpr GUID WMMEDIATYPE_Audio = {
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID WMMEDIATYPE_Video = {
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID WMMEDIASUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID WMFORMAT_WaveFormatEx = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GUID WMFORMAT_None = {
    0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID IID_IWMSyncReader = {
    0x9397F121, 0x7705, 0x4DC9, {0xB0, 0x49, 0x98, 0xB6, 0x98, 0x18, 0x84, 0x14}};
inline constexpr GUID IID_IWMHeaderInfo = {
    0x96406BDA, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr GUID IID_IWMOutputMediaProps = {
    0x96406BD7, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr GUID IID_INSSBuffer = {
    0xE1CD3524, 0x03D7, 0x11D2, {0x9E, 0xED, 0x00, 0x60, 0x97, 0xD2, 0xD7, 0xCF}};

inline constexpr HRESULT NS_E_NO_MORE_SAMPLES = static_cast<HRESULT>(0xC00D0BCFu);
inline constexpr HRESULT NS_E_INVALID_REQUEST = static_cast<HRESULT>(0xC00D002Bu);
inline constexpr HRESULT NS_E_INVALID_OUTPUT_FORMAT = static_cast<HRESULT>(0xC00D0BC0u);
inline constexpr HRESULT ASF_E_BUFFERTOOSMALL = static_cast<HRESULT>(0xC00D07D1u);
inline constexpr HRESULT ASF_E_NOTFOUND = static_cast<HRESULT>(0xC00D07F0u);

inline constexpr WORD WAVE_FORMAT_PCM = 1;

#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
#pragma pack(pop)

struct WM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  std::uint32_t lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  std::uint32_t cbFormat;
  BYTE* pbFormat;  // points into the same block, just after this record
};

enum WMT_ATTR_DATATYPE : std::int32_t {
  WMT_TYPE_DWORD = 0,
  WMT_TYPE_STRING = 1,
  WMT_TYPE_BINARY = 2,
  WMT_TYPE_BOOL = 3,
  WMT_TYPE_QWORD = 4,
  WMT_TYPE_WORD = 5,
  WMT_TYPE_GUID = 6,
};

class INSSBuffer : public IUnknown {
 public:
  virtual HRESULT GetLength(DWORD* pdwLength) = 0;
  virtual HRESULT SetLength(DWORD dwLength) = 0;
  virtual HRESULT GetMaxLength(DWORD* pdwLength) = 0;
  virtual HRESULT GetBuffer(BYTE** ppdwBuffer) = 0;
  virtual HRESULT GetBufferAndLength(BYTE** ppdwBuffer, DWORD* pdwLength) = 0;

 protected:
  ~INSSBuffer() = default;
};

class IWMMediaProps : public IUnknown {
 public:
  virtual HRESULT GetType(GUID* pguidType) = 0;
  // With pType null, *pcbType receives the size of the block to offer.
  virtual HRESULT GetMediaType(WM_MEDIA_TYPE* pType, DWORD* pcbType) = 0;
  virtual HRESULT SetMediaType(WM_MEDIA_TYPE* pType) = 0;

 protected:
  ~IWMMediaProps() = default;
};

class IWMOutputMediaProps : public IWMMediaProps {
 protected:
  ~IWMOutputMediaProps() = default;
};

class IWMHeaderInfo : public IUnknown {
 public:
  virtual HRESULT GetAttributeCount(WORD wStreamNum, WORD* pcAttributes) = 0;
  // "Duration" on stream 0: the file's length in 100-ns units, a QWORD.
  // "Seekable" on stream 0: a BOOL, whether SetRange can succeed.
  virtual HRESULT GetAttributeByName(WORD* pwStreamNum, const char16_t* pszName,
                                     WMT_ATTR_DATATYPE* pType, BYTE* pValue, WORD* pcbLength) = 0;

 protected:
  ~IWMHeaderInfo() = default;
};

class IWMSyncReader : public IUnknown {
 public:
  virtual HRESULT Close() = 0;
  // wStreamNum 0 reads from any selected stream. NS_E_NO_MORE_SAMPLES at the end.
  virtual HRESULT GetNextSample(WORD wStreamNum, INSSBuffer** ppSample, QWORD* pcnsSampleTime,
                                QWORD* pcnsDuration, DWORD* pdwFlags, DWORD* pdwOutputNum,
                                WORD* pwStreamNum) = 0;
  virtual HRESULT SetReadStreamSamples(WORD wStreamNum, BOOL fCompressed) = 0;
  virtual HRESULT SetOutputSetting(DWORD dwOutputNum, const char16_t* pszName,
                                   WMT_ATTR_DATATYPE Type, const BYTE* pValue, WORD cbLength) = 0;
  virtual HRESULT GetOutputCount(DWORD* pcOutputs) = 0;
  virtual HRESULT GetOutputProps(DWORD dwOutputNum, IWMOutputMediaProps** ppOutput) = 0;
  virtual HRESULT SetOutputProps(DWORD dwOutputNum, IWMOutputMediaProps* pOutput) = 0;
  virtual HRESULT GetOutputFormatCount(DWORD dwOutputNum, DWORD* pcFormats) = 0;
  virtual HRESULT GetOutputFormat(DWORD dwOutputNum, DWORD dwFormatNum,
                                  IWMOutputMediaProps** ppProps) = 0;
  virtual HRESULT GetStreamNumberForOutput(DWORD dwOutputNum, WORD* pwStreamNum) = 0;
  virtual HRESULT OpenStream(com::IStream* pStream) = 0;
  // Reading goes on from cnsStartTime (100-ns units from the start of the file's
  // audio, rounded down to a frame) on; cnsDuration 0 reads to the end. Fails
  // (NS_E_INVALID_REQUEST) when the file cannot seek or the time is not in it.
  virtual HRESULT SetRange(QWORD cnsStartTime, LONGLONG cnsDuration) = 0;

 protected:
  ~IWMSyncReader() = default;
};

// pUnkCert and dwRights are accepted and ignored. Fails (E_FAIL, *ppSyncReader
// null) when the media module cannot be loaded.
HRESULT WMCreateSyncReader(IUnknown* pUnkCert, DWORD dwRights, IWMSyncReader** ppSyncReader);

}  // namespace platform::wmf
