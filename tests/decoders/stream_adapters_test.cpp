#include <fstream>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "decoders/audio_stream.h"
#include "decoders/file_stream.h"
#include "platform/com/com_ptr.h"
#include "platform/kernel/text.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/message_box_recorder.h"

namespace {

namespace com = platform::com;
using testing_support::MessageBoxRecorder;
using testing_support::Narrow;

constexpr std::uint32_t kFileBytes = 1000000;

// Its byte at position i is i * 7 mod 251, so that where a read came from shows.
std::uint8_t ByteAt(std::uint32_t position) {
  return static_cast<std::uint8_t>(position * 7 % 251);
}

class AudioStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::uint8_t> bytes(kFileBytes);
    for (std::uint32_t i = 0; i < kFileBytes; ++i) bytes[i] = ByteAt(i);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(bytes.data()), kFileBytes);
    file = std::make_unique<CFileStream>(platform::FromUtf8(path).c_str());
    stream = CAudioStream::Create(file.get());
    stream->AddRef();
  }
  void TearDown() override {
    if (stream != nullptr) stream->Release();
  }

  const std::string path = testing_support::TempPath("stream.bin");
  std::unique_ptr<CFileStream> file;
  CAudioStream* stream = nullptr;  // one reference, dropped in TearDown
};

TEST_F(AudioStreamTest, QueryInterfaceAnswersOnlyIUnknownAndIStream) {
  void* out = &out;
  EXPECT_EQ(stream->QueryInterface(com::IID_ISequentialStream, &out), platform::E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  for (const com::IID& iid : {com::IID_IUnknown, com::IID_IStream}) {
    out = nullptr;
    ASSERT_EQ(stream->QueryInterface(iid, &out), platform::S_OK);
    EXPECT_EQ(out, static_cast<com::IStream*>(stream));
    EXPECT_EQ(stream->AddRef(), 3u) << "the query took a reference";
    stream->Release();
    stream->Release();
  }
}

TEST_F(AudioStreamTest, ReadAtTheEndGivesNoBytesAndAllOnes) {
  std::uint64_t position = 0;
  EXPECT_EQ(stream->Seek(-10, com::STREAM_SEEK_END, &position), platform::S_OK);
  EXPECT_EQ(position, kFileBytes - 10);
  std::uint8_t buffer[64];
  com::ULONG got = 99;
  EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &got), platform::S_OK);
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(buffer[0], ByteAt(kFileBytes - 10));
  EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &got),
            static_cast<platform::HRESULT>(0xFFFFFFFFu));
  EXPECT_EQ(got, 0u);
}

TEST_F(AudioStreamTest, SeekCountsOnlyTheLow32BitsAndReportsWhereItLanded) {
  std::uint64_t position = 0;
  EXPECT_EQ(stream->Seek((std::int64_t{1} << 32) + 10, com::STREAM_SEEK_SET, &position),
            platform::S_OK);
  EXPECT_EQ(position, 10u);
  std::uint8_t byte = 0;
  com::ULONG got = 0;
  ASSERT_EQ(stream->Read(&byte, 1, &got), platform::S_OK);
  EXPECT_EQ(byte, ByteAt(10));
  EXPECT_EQ(stream->Seek(5, com::STREAM_SEEK_CUR, &position), platform::S_OK);
  EXPECT_EQ(position, 16u);
  EXPECT_EQ(stream->Seek(0, com::STREAM_SEEK_END, &position), platform::S_OK);
  EXPECT_EQ(position, kFileBytes);
  EXPECT_EQ(stream->Seek(-1, com::STREAM_SEEK_SET, nullptr), platform::S_OK)
      << "failures are not reported";
  EXPECT_EQ(stream->Seek(0, com::STREAM_SEEK_CUR, &position), platform::S_OK);
  EXPECT_EQ(position, kFileBytes) << "a failed move leaves the position";
  EXPECT_EQ(stream->SetSize(20), platform::S_OK);
  EXPECT_EQ(stream->Seek(0, com::STREAM_SEEK_CUR, &position), platform::S_OK);
  EXPECT_EQ(position, 20u) << "SetSize moves, and changes no size";
  EXPECT_EQ(file->GetSize(), kFileBytes);
  EXPECT_EQ(file->Seek(0, 1), 20u) << "GetSize keeps the position";
}

TEST_F(AudioStreamTest, StatGivesSizeAndTimesAndLeavesTheRestAlone) {
  com::STATSTG stat{};
  char16_t name[] = u"caller's";
  stat.pwcsName = name;
  stat.type = 77;
  stat.grfMode = 5;
  stat.grfLocksSupported = 9;
  ASSERT_EQ(stream->Seek(123, com::STREAM_SEEK_SET, nullptr), platform::S_OK);
  EXPECT_EQ(stream->Stat(&stat, 0), platform::S_OK);
  EXPECT_EQ(stat.cbSize, kFileBytes);
  EXPECT_EQ(stat.pwcsName, name);
  EXPECT_EQ(stat.type, 77u);
  EXPECT_EQ(stat.grfMode, 5u);
  EXPECT_EQ(stat.grfLocksSupported, 0u);
  EXPECT_TRUE(stat.clsid == com::IID_IStream);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  // File times count 100 ns from 1601; Unix seconds start 11644473600 s later.
  auto fileTime = [](const com::FILETIME& t) {
    return ((std::uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime) / 10000000u) - 11644473600u;
  };
  EXPECT_EQ(fileTime(stat.mtime), static_cast<std::uint64_t>(info.st_mtim.tv_sec));
  EXPECT_EQ(fileTime(stat.atime), static_cast<std::uint64_t>(info.st_atim.tv_sec));
  EXPECT_EQ(fileTime(stat.ctime), static_cast<std::uint64_t>(info.st_ctim.tv_sec));
  std::uint64_t position = 0;
  stream->Seek(0, com::STREAM_SEEK_CUR, &position);
  EXPECT_EQ(position, 123u);
}

TEST_F(AudioStreamTest, CloneAndWriteFail) {
  com::IStream* clone = stream;
  EXPECT_EQ(stream->Clone(&clone), platform::E_NOTIMPL);
  EXPECT_EQ(clone, nullptr);
  com::ULONG written = 5;
  EXPECT_EQ(stream->Write("x", 1, &written), static_cast<platform::HRESULT>(0xFFFFFFFFu));
  EXPECT_EQ(written, 0u);
}

TEST_F(AudioStreamTest, LastReleaseLeavesTheFileStreamOpen) {
  EXPECT_EQ(stream->AddRef(), 2u);
  EXPECT_EQ(stream->Release(), 1u);
  EXPECT_EQ(stream->Release(), 0u);
  stream = nullptr;
  ASSERT_TRUE(file->Handle().IsOpen());
  std::uint8_t byte = 0;
  EXPECT_EQ(file->Seek(3, 0), 3u);
  EXPECT_EQ(file->Read(&byte, 1), 1u);
  EXPECT_EQ(byte, ByteAt(3));
}

TEST(FileStream, MissingFileShowsItsNameAndReadsNothing) {
  MessageBoxRecorder boxes;
  const std::string path = testing_support::TempPath("absent.wma");
  CFileStream file(platform::FromUtf8(path).c_str());
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(Narrow(boxes.Boxes()[0].text), "Can not open file '" + path + "'.");
  EXPECT_EQ(Narrow(boxes.Boxes()[0].caption), "Error");
  EXPECT_EQ(boxes.Boxes()[0].flags, 0u);
  std::uint8_t byte = 0;
  EXPECT_EQ(file.Read(&byte, 1), 0u);
  EXPECT_EQ(file.Seek(0, 0), platform::kInvalidSetFilePointer);
}

TEST(ComInitialisation, PairsPerThread) {
  EXPECT_EQ(com::CoInitializeDepth(), 0);
  EXPECT_EQ(com::CoInitialize(nullptr), platform::S_OK);
  EXPECT_EQ(com::CoInitialize(nullptr), platform::S_FALSE);
  EXPECT_EQ(com::CoInitializeDepth(), 2);
  com::CoUninitialize();
  com::CoUninitialize();
  com::CoUninitialize();  // one too many does nothing
  EXPECT_EQ(com::CoInitializeDepth(), 0);
}

}  // namespace
