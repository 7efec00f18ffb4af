#include "decoders/mac_decoder.h"

#include <filesystem>
#include <utility>

#include <gtest/gtest.h>

#include "platform/kernel/text.h"
#include "tests/decoders/fixtures.h"
#include "tests/support/audio_fixtures.h"

namespace {

using namespace fixtures;
namespace ape = platform::ape;

// The reader is picked by the extension, whatever its case.
TEST(ApeDecompress, TakesApeMacAndAplFilesWithoutRegardToCase) {
  const std::pair<const char*, bool> rows[] = {{"ape", true}, {"APE", true},  {"Mac", true},
                                               {"apl", true}, {"wav", false}, {"apex", false},
                                               {"ap", false}};
  for (const auto& [extension, accepted] : rows) {
    const std::string copy = testing_support::TempPath(std::string("copy.") + extension);
    std::filesystem::copy_file(Path("ape-44100-1-16.ape"), copy,
                               std::filesystem::copy_options::overwrite_existing);
    int error = -7;
    const auto decompressor = ape::CreateIAPEDecompress(platform::FromUtf8(copy).c_str(), &error);
    EXPECT_EQ(decompressor != nullptr, accepted) << extension;
    EXPECT_EQ(error, accepted ? 0 : ape::ERROR_UNSUPPORTED_FILE_TYPE) << extension;
  }
}

TEST(ApeDecompress, ReportsTheFormatAndHandsOutWholeBlocks) {
  int error = -1;
  const auto d =
      ape::CreateIAPEDecompress(platform::FromUtf8(Path("ape-44100-2-16.ape")).c_str(), &error);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(d->GetInfo(ape::APE_INFO_SAMPLE_RATE), 44100);
  EXPECT_EQ(d->GetInfo(ape::APE_INFO_BITS_PER_SAMPLE), 16);
  EXPECT_EQ(d->GetInfo(ape::APE_INFO_CHANNELS), 2);
  EXPECT_EQ(d->GetInfo(ape::APE_INFO_BLOCK_ALIGN), 4);
  // Odd block counts that cut across the decoder's own frames.
  const auto source = testing_support::ToBytes(ReadWav(Path("src-44100-2-16.wav")).samples);
  std::vector<std::uint8_t> all;
  char buffer[4 * 1001];
  for (int retrieved = -1; retrieved != 0;) {
    retrieved = -1;
    EXPECT_EQ(d->GetData(buffer, 1001, &retrieved), 0);
    ASSERT_GE(retrieved, 0);
    ASSERT_LE(retrieved, 1001);
    all.insert(all.end(), buffer, buffer + retrieved * 4);
  }
  EXPECT_EQ(all, source);
}

}  // namespace
