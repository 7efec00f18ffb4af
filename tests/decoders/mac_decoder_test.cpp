#include "decoders/mac_decoder.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/kernel/text.h"
#include "tests/decoders/fixtures.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/message_box_recorder.h"

namespace {

using namespace fixtures;
using testing_support::MessageBoxRecorder;
namespace ape = platform::ape;

// --- the decompressor itself ---

struct ExtensionCase {
  const char* extension;
  bool accepted;
};

class ApeExtensions : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(ApeExtensions, PickTheReaderWithoutRegardToCase) {
  const ExtensionCase& c = GetParam();
  const std::string copy = testing_support::TempPath(std::string("copy.") + c.extension);
  std::filesystem::copy_file(Path("ape-44100-1-16.ape"), copy,
                             std::filesystem::copy_options::overwrite_existing);
  int error = -7;
  const auto decompressor = ape::CreateIAPEDecompress(platform::FromUtf8(copy).c_str(), &error);
  EXPECT_EQ(decompressor != nullptr, c.accepted) << c.extension;
  EXPECT_EQ(error == 0, c.accepted) << c.extension;
  if (!c.accepted) {
    EXPECT_EQ(error, ape::ERROR_UNSUPPORTED_FILE_TYPE);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, ApeExtensions,
                         ::testing::Values(ExtensionCase{"ape", true}, ExtensionCase{"APE", true},
                                           ExtensionCase{"Mac", true}, ExtensionCase{"apl", true},
                                           ExtensionCase{"wav", false},
                                           ExtensionCase{"apex", false},
                                           ExtensionCase{"ap", false}),
                         [](const auto& info) { return std::string(info.param.extension); });

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
  const auto source = testing_support::ToBytes(WavSamples("src-44100-2-16.wav"));
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
