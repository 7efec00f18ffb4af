#include "decoders/audio_stream.h"

namespace com = platform::com;
using platform::S_OK;

namespace {

constexpr platform::HRESULT kNoBytes = static_cast<platform::HRESULT>(0xFFFFFFFFu);

com::FILETIME ToFileTime(std::uint64_t time) {
  return {static_cast<com::DWORD>(time), static_cast<com::DWORD>(time >> 32)};
}

}  // namespace

CAudioStream* CAudioStream::Create(CStream* stream) {
  return new CAudioStream(stream);  // deletes itself on its last Release
}

platform::HRESULT CAudioStream::QueryInterface(const com::IID& riid, void** ppv) {
  if (ppv == nullptr) return platform::E_POINTER;
  if (riid == com::IID_IStream || riid == com::IID_IUnknown) {
    *ppv = this;
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return platform::E_NOINTERFACE;
}

com::ULONG CAudioStream::AddRef() { return ++refs_; }

com::ULONG CAudioStream::Release() {
  const ULONG count = --refs_;
  if (count == 0) delete this;
  return count;
}

platform::HRESULT CAudioStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
  const ULONG got = stream_->Read(pv, cb);
  if (pcbRead != nullptr) *pcbRead = got;
  return got > 0 ? S_OK : kNoBytes;
}

platform::HRESULT CAudioStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
  const ULONG written = stream_->Write(pv, cb);
  if (pcbWritten != nullptr) *pcbWritten = written;
  return written > 0 ? S_OK : kNoBytes;
}

platform::HRESULT CAudioStream::Seek(std::int64_t dlibMove, DWORD dwOrigin,
                                     std::uint64_t* plibNewPosition) {
  const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(dlibMove));
  const std::uint32_t position = stream_->Seek(low, static_cast<std::uint16_t>(dwOrigin));
  if (plibNewPosition != nullptr) *plibNewPosition = position;
  return S_OK;
}

platform::HRESULT CAudioStream::SetSize(std::uint64_t libNewSize) {
  stream_->Seek(static_cast<std::int32_t>(static_cast<std::uint32_t>(libNewSize)), 0);
  return S_OK;
}

platform::HRESULT CAudioStream::CopyTo(IStream*, std::uint64_t, std::uint64_t*, std::uint64_t*) {
  return S_OK;
}
platform::HRESULT CAudioStream::Commit(DWORD) { return S_OK; }
platform::HRESULT CAudioStream::Revert() { return S_OK; }
platform::HRESULT CAudioStream::LockRegion(std::uint64_t, std::uint64_t, DWORD) { return S_OK; }
platform::HRESULT CAudioStream::UnlockRegion(std::uint64_t, std::uint64_t, DWORD) { return S_OK; }

platform::HRESULT CAudioStream::Stat(com::STATSTG* pstatstg, DWORD) {
  if (pstatstg == nullptr) return platform::E_POINTER;
  platform::FileInformation info;
  if (auto* handleStream = dynamic_cast<CHandleStream*>(stream_); handleStream != nullptr) {
    if (!handleStream->Handle().GetInformation(&info)) info = platform::FileInformation{};
  }
  pstatstg->cbSize = info.size;
  pstatstg->mtime = ToFileTime(info.times.lastWrite);
  pstatstg->ctime = ToFileTime(info.times.creation);
  pstatstg->atime = ToFileTime(info.times.lastAccess);
  pstatstg->grfLocksSupported = 0;
  pstatstg->clsid = com::IID_IStream;
  pstatstg->reserved = 0;
  return S_OK;
}

platform::HRESULT CAudioStream::Clone(IStream** ppstm) {
  if (ppstm != nullptr) *ppstm = nullptr;
  return platform::E_NOTIMPL;
}
