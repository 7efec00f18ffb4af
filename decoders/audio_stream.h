// The IStream the WMA reader reads a file through: reading, writing and seeking
// go to a CStream, which must outlive this object; the other methods succeed
// and do nothing. Reference counted; the last Release deletes it (never the CStream).
#pragma once

#include <atomic>

#include "decoders/file_stream.h"
#include "platform/com/com.h"

class CAudioStream final : public platform::com::IStream {
 public:
  using HRESULT = platform::HRESULT;
  using ULONG = platform::com::ULONG;
  using DWORD = platform::com::DWORD;

  // Made with a count of 0; the maker takes the first reference with AddRef.
  static CAudioStream* Create(CStream* stream);

  HRESULT QueryInterface(const platform::com::IID& riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;
  // S_OK when bytes came, else 0xFFFFFFFF (the end of the file included).
  HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override;
  HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
  // Only the low 32 bits of the move count. Always S_OK; *plibNewPosition, when
  // asked for, gets what the stream's Seek returned.
  HRESULT Seek(std::int64_t dlibMove, DWORD dwOrigin, std::uint64_t* plibNewPosition) override;
  // Moves to the given position; the size itself is not changed.
  HRESULT SetSize(std::uint64_t libNewSize) override;
  HRESULT CopyTo(IStream* pstm, std::uint64_t cb, std::uint64_t* pcbRead,
                 std::uint64_t* pcbWritten) override;
  HRESULT Commit(DWORD grfCommitFlags) override;
  HRESULT Revert() override;
  HRESULT LockRegion(std::uint64_t libOffset, std::uint64_t cb, DWORD dwLockType) override;
  HRESULT UnlockRegion(std::uint64_t libOffset, std::uint64_t cb, DWORD dwLockType) override;
  // Size and times of the file behind the stream; other members are left alone.
  HRESULT Stat(platform::com::STATSTG* pstatstg, DWORD grfStatFlag) override;
  // E_NOTIMPL: no second stream over the same file is offered.
  HRESULT Clone(IStream** ppstm) override;

 private:
  explicit CAudioStream(CStream* stream) : stream_(stream) {}
  ~CAudioStream() = default;

  std::atomic<ULONG> refs_{0};  // any thread
  CStream* stream_;             // not owned; one thread at a time reads, writes and seeks
};
