// The sync reader on its own, fed through an IStream over memory, so that every
// byte it sees must have come through the stream.
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "platform/com/com_ptr.h"
#include "platform/wmf/media_objects.h"
#include "platform/wmf/wmf.h"
#include "tests/decoders/fixtures.h"

namespace {

namespace com = platform::com;
namespace wmf = platform::wmf;
using platform::S_OK;

class MemoryStream final : public com::IStream {
 public:
  explicit MemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t bytesRead = 0;

  platform::HRESULT QueryInterface(const com::IID&, void** ppv) override {
    *ppv = nullptr;
    return platform::E_NOINTERFACE;
  }
  com::ULONG AddRef() override { return ++refs_; }
  com::ULONG Release() override { return --refs_; }  // lives on the test's stack
  platform::HRESULT Read(void* pv, com::ULONG cb, com::ULONG* pcbRead) override {
    const std::size_t n = std::min<std::size_t>(cb, bytes_.size() - position_);
    std::memcpy(pv, bytes_.data() + position_, n);
    position_ += n;
    bytesRead += n;
    *pcbRead = static_cast<com::ULONG>(n);
    return n > 0 ? S_OK : platform::S_FALSE;
  }
  platform::HRESULT Write(const void*, com::ULONG, com::ULONG*) override {
    return platform::E_FAIL;
  }
  platform::HRESULT Seek(std::int64_t move, com::DWORD origin,
                         std::uint64_t* newPosition) override {
    const std::int64_t base = origin == 0   ? 0
                              : origin == 1 ? static_cast<std::int64_t>(position_)
                                            : static_cast<std::int64_t>(bytes_.size());
    if (base + move < 0 || base + move > static_cast<std::int64_t>(bytes_.size()))
      return platform::E_FAIL;
    position_ = static_cast<std::size_t>(base + move);
    if (newPosition != nullptr) *newPosition = position_;
    return S_OK;
  }
  platform::HRESULT SetSize(std::uint64_t) override { return platform::E_NOTIMPL; }
  platform::HRESULT CopyTo(IStream*, std::uint64_t, std::uint64_t*, std::uint64_t*) override {
    return platform::E_NOTIMPL;
  }
  platform::HRESULT Commit(com::DWORD) override { return S_OK; }
  platform::HRESULT Revert() override { return S_OK; }
  platform::HRESULT LockRegion(std::uint64_t, std::uint64_t, com::DWORD) override { return S_OK; }
  platform::HRESULT UnlockRegion(std::uint64_t, std::uint64_t, com::DWORD) override { return S_OK; }
  platform::HRESULT Stat(com::STATSTG* stat, com::DWORD) override {
    stat->cbSize = bytes_.size();
    return S_OK;
  }
  platform::HRESULT Clone(IStream**) override { return platform::E_NOTIMPL; }
  int References() const { return refs_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
  std::atomic<int> refs_{1};
};

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

com::ComPtr<wmf::IWMSyncReader> OpenReader(MemoryStream& stream) {
  com::ComPtr<wmf::IWMSyncReader> reader;
  EXPECT_EQ(wmf::WMCreateSyncReader(nullptr, 0, reader.Put()), S_OK);
  if (reader) {
    EXPECT_EQ(reader->OpenStream(&stream), S_OK);
  }
  return reader;
}

std::vector<std::uint8_t> ReadAllSamples(wmf::IWMSyncReader* reader, wmf::WORD stream) {
  std::vector<std::uint8_t> all;
  for (;;) {
    com::ComPtr<wmf::INSSBuffer> sample;
    wmf::QWORD time = 0, duration = 0;
    wmf::DWORD flags = 0, output = 9;
    wmf::WORD streamNumber = 0;
    const auto hr = reader->GetNextSample(stream, sample.Put(), &time, &duration, &flags, &output,
                                          &streamNumber);
    if (hr != S_OK) {
      EXPECT_EQ(hr, wmf::NS_E_NO_MORE_SAMPLES);
      EXPECT_EQ(sample.Get(), nullptr);
      return all;
    }
    EXPECT_EQ(streamNumber, stream);
    wmf::BYTE* data = nullptr;
    wmf::DWORD length = 0;
    EXPECT_EQ(sample->GetBufferAndLength(&data, &length), S_OK);
    all.insert(all.end(), data, data + length);
  }
}

TEST(WmaSyncReader, OffersSixteenAndEightBitPcmAtTheStreamsOwnFormat) {
  MemoryStream stream(FileBytes(fixtures::Path("wmav2-22050-1.wma")));
  auto reader = OpenReader(stream);
  ASSERT_TRUE(reader);
  wmf::DWORD outputs = 0;
  ASSERT_EQ(reader->GetOutputCount(&outputs), S_OK);
  ASSERT_EQ(outputs, 1u);
  wmf::DWORD formats = 0;
  ASSERT_EQ(reader->GetOutputFormatCount(0, &formats), S_OK);
  ASSERT_EQ(formats, 2u);
  std::vector<int> bits;
  for (wmf::DWORD j = 0; j < formats; ++j) {
    com::ComPtr<wmf::IWMOutputMediaProps> props;
    ASSERT_EQ(reader->GetOutputFormat(0, j, props.Put()), S_OK);
    wmf::GUID major{};
    props->GetType(&major);
    EXPECT_TRUE(major == wmf::WMMEDIATYPE_Audio);
    const auto wave = wmf::ReadPcmFormat(props.Get());
    ASSERT_TRUE(wave.has_value());
    EXPECT_EQ(wave->nSamplesPerSec, 22050u);
    EXPECT_EQ(wave->nChannels, 1u);
    EXPECT_EQ(wave->nBlockAlign, wave->wBitsPerSample / 8);
    bits.push_back(wave->wBitsPerSample);
  }
  EXPECT_EQ(bits, (std::vector<int>{16, 8}));
  EXPECT_GT(stream.References(), 1) << "the open reader holds the stream";
  EXPECT_EQ(reader->Close(), S_OK);
  EXPECT_EQ(stream.References(), 1) << "Close gives the stream back";
}

TEST(WmaSyncReader, EightBitOutputIsTheSixteenBitOneNarrowed) {
  const auto bytes = FileBytes(fixtures::Path("wmav2-22050-1.wma"));
  MemoryStream wideStream(bytes);
  auto wide = OpenReader(wideStream);
  ASSERT_TRUE(wide);
  const auto pcm16 = ReadAllSamples(wide.Get(), 1);
  EXPECT_EQ(wideStream.bytesRead >= bytes.size(), true) << "every byte came through the stream";

  MemoryStream narrowStream(bytes);
  auto narrow = OpenReader(narrowStream);
  ASSERT_TRUE(narrow);
  com::ComPtr<wmf::IWMOutputMediaProps> eightBit;
  ASSERT_EQ(narrow->GetOutputFormat(0, 1, eightBit.Put()), S_OK);
  ASSERT_EQ(narrow->SetOutputProps(0, eightBit.Get()), S_OK);
  const auto pcm8 = ReadAllSamples(narrow.Get(), 1);
  ASSERT_EQ(pcm8.size() * 2, pcm16.size());
  for (std::size_t i = 0; i < pcm8.size(); ++i) {
    const int s16 = static_cast<std::int16_t>(pcm16[2 * i] | (pcm16[2 * i + 1] << 8));
    ASSERT_NEAR(pcm8[i] - 128, s16 / 256.0, 1.0) << "sample " << i;
  }
}

TEST(WmaSyncReader, HeaderInfoGivesTheDurationIn100nsUnits) {
  MemoryStream stream(FileBytes(fixtures::Path("wmav2-44100-2.wma")));
  auto reader = OpenReader(stream);
  ASSERT_TRUE(reader);
  com::ComPtr<wmf::IWMHeaderInfo> header;
  ASSERT_EQ(reader->QueryInterface(wmf::IID_IWMHeaderInfo, header.PutVoid()), S_OK);
  wmf::WORD streamNumber = 0;
  wmf::WMT_ATTR_DATATYPE type{};
  wmf::QWORD duration = 0;
  wmf::WORD length = 4;
  EXPECT_EQ(header->GetAttributeByName(&streamNumber, u"Duration", &type,
                                       reinterpret_cast<wmf::BYTE*>(&duration), &length),
            wmf::ASF_E_BUFFERTOOSMALL);
  length = 8;
  ASSERT_EQ(header->GetAttributeByName(&streamNumber, u"Duration", &type,
                                       reinterpret_cast<wmf::BYTE*>(&duration), &length),
            S_OK);
  EXPECT_EQ(type, wmf::WMT_TYPE_QWORD);
  EXPECT_NEAR(static_cast<double>(duration), fixtures::kFrames / 44100.0 * 1e7, 0.2e7);
  EXPECT_EQ(header->GetAttributeByName(&streamNumber, u"Title", &type, nullptr, &length),
            wmf::ASF_E_NOTFOUND);
}

TEST(WmaSyncReader, VideoOnlyFileOffersNoAudioOutput) {
  MemoryStream stream(FileBytes(fixtures::Path("video-only.wma")));
  auto reader = OpenReader(stream);
  ASSERT_TRUE(reader);
  wmf::DWORD outputs = 0;
  ASSERT_EQ(reader->GetOutputCount(&outputs), S_OK);
  for (wmf::DWORD i = 0; i < outputs; ++i) {
    com::ComPtr<wmf::IWMOutputMediaProps> props;
    ASSERT_EQ(reader->GetOutputProps(i, props.Put()), S_OK);
    wmf::GUID major{};
    props->GetType(&major);
    EXPECT_FALSE(major == wmf::WMMEDIATYPE_Audio);
    EXPECT_FALSE(wmf::ReadPcmFormat(props.Get()).has_value());
  }
  com::ComPtr<wmf::INSSBuffer> sample;
  EXPECT_NE(reader->GetNextSample(0, sample.Put(), nullptr, nullptr, nullptr, nullptr, nullptr),
            S_OK);
}

TEST(WmaSyncReader, NonAsfBytesDoNotOpen) {
  MemoryStream stream(std::vector<std::uint8_t>(4000, 0x41));
  com::ComPtr<wmf::IWMSyncReader> reader;
  ASSERT_EQ(wmf::WMCreateSyncReader(nullptr, 0, reader.Put()), S_OK);
  EXPECT_NE(reader->OpenStream(&stream), S_OK);
  EXPECT_EQ(stream.References(), 1) << "a failed open keeps no reference";
  wmf::DWORD outputs = 0;
  EXPECT_NE(reader->GetOutputCount(&outputs), S_OK);
}

}  // namespace
