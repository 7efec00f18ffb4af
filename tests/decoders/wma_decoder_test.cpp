// What only WMA does: the sync reader on its own, fed as the decoder feeds it
// (a CAudioStream over a CFileStream), and the decoder's choice among several
// audio outputs and its COM pairing. (What every decoder does is in
// decoder_contract_test.)
#include "decoders/wma_decoder.h"

#include <future>

#include <gtest/gtest.h>

#include "decoders/audio_stream.h"
#include "platform/com/com_ptr.h"
#include "platform/kernel/text.h"
#include "platform/wmf/media_objects.h"
#include "platform/wmf/wmf.h"
#include "tests/decoders/fixtures.h"

namespace {

using namespace fixtures;
namespace com = platform::com;
namespace wmf = platform::wmf;
using platform::S_OK;

struct Input {
  explicit Input(const std::string& name)
      : file(platform::FromUtf8(Path(name)).c_str()), stream(CAudioStream::Create(&file)) {
    stream->AddRef();
  }
  ~Input() { stream->Release(); }
  int References() {
    stream->AddRef();
    return static_cast<int>(stream->Release());
  }

  CFileStream file;
  CAudioStream* stream;
};

com::ComPtr<wmf::IWMSyncReader> OpenReader(Input& input) {
  com::ComPtr<wmf::IWMSyncReader> reader;
  EXPECT_EQ(wmf::WMCreateSyncReader(nullptr, 0, reader.Put()), S_OK);
  if (reader) {
    EXPECT_EQ(reader->OpenStream(input.stream), S_OK);
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

// Both formats are at the stream's own rate and channels; the 8-bit one is the
// 16-bit one narrowed.
TEST(WmaSyncReader, OffersSixteenAndEightBitPcmOfTheSameSound) {
  Input input("wmav2-22050-1.wma");
  auto reader = OpenReader(input);
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
  const auto pcm16 = ReadAllSamples(reader.Get(), 1);
  EXPECT_GT(input.References(), 1) << "the open reader holds the stream";
  EXPECT_EQ(reader->Close(), S_OK);
  EXPECT_EQ(input.References(), 1) << "Close gives the stream back";

  Input again("wmav2-22050-1.wma");
  auto narrow = OpenReader(again);
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
  Input input("wmav2-44100-2.wma");
  auto reader = OpenReader(input);
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
  EXPECT_NEAR(static_cast<double>(duration), kFrames / 44100.0 * 1e7, 0.2e7);
  EXPECT_EQ(header->GetAttributeByName(&streamNumber, u"Title", &type, nullptr, &length),
            wmf::ASF_E_NOTFOUND);
}

TEST(WmaSyncReader, NonAsfBytesDoNotOpen) {
  Input input("text.wma");
  com::ComPtr<wmf::IWMSyncReader> reader;
  ASSERT_EQ(wmf::WMCreateSyncReader(nullptr, 0, reader.Put()), S_OK);
  EXPECT_NE(reader->OpenStream(input.stream), S_OK);
  EXPECT_EQ(input.References(), 1) << "a failed open keeps no reference";
  wmf::DWORD outputs = 0;
  EXPECT_NE(reader->GetOutputCount(&outputs), S_OK);
}

TEST(WmaDecoder, SeveralAudioOutputsReportTheChosenOnesFormat) {
  CWMADecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, Path("two-audio.wma")));
  // The later output with as many bits wins; its own rate and channels are reported.
  EXPECT_EQ(decoder.GetSampleRate(), 44100);
  EXPECT_EQ(decoder.GetChannels(), 2);
  // The file's duration is that of its longer, 22050 Hz stream.
  EXPECT_NEAR(decoder.Duration() / 1e7, kFrames / 22050.0, 0.2);
  EXPECT_TRUE(DecodeAll(decoder) == Reference("two-audio.wma")) << "ffmpeg decodes it otherwise";
}

TEST(WmaDecoder, ComIsPairedOnTheOpeningAndTheReadingThread) {
  auto decoder = std::make_unique<CWMADecoder>();
  ASSERT_TRUE(OpenPath(*decoder, Path("wmav2-22050-2.wma")));
  EXPECT_EQ(platform::com::CoInitializeDepth(), 0);
  auto playback = std::async(std::launch::async, [&] {
    std::uint8_t block[4608];
    const std::uint32_t first = decoder->Read(block, sizeof(block));
    const int during = platform::com::CoInitializeDepth();
    decoder.reset();
    return std::make_tuple(first, during, platform::com::CoInitializeDepth());
  });
  const auto [first, during, after] = playback.get();
  EXPECT_GT(first, 0u);
  EXPECT_EQ(during, 1) << "initialised for reading";
  EXPECT_EQ(after, 0) << "and undone by the destruction on the same thread";
}

}  // namespace
