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

// The reader is picked by the extension, whatever its case. (How it decodes is the
// decoder contract's part.)
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

}  // namespace
