#include <array>

#include <gtest/gtest.h>

#include "platform/sound/direct_sound.h"

namespace sound = platform::sound;

namespace {

struct LockRow {
  const char* name;
  std::uint32_t offset, bytes, flags;
  platform::HRESULT result;
  std::uint32_t firstOffset, size1, size2;
};

class LockRegions : public ::testing::TestWithParam<LockRow> {};

TEST_P(LockRegions, SplitAtTheEnd) {
  const LockRow row = GetParam();
  std::array<std::uint8_t, 100> memory{};
  void* region1 = nullptr;
  void* region2 = reinterpret_cast<void*>(1);
  std::uint32_t size1 = 99, size2 = 99;
  const platform::HRESULT hr = sound::LockRegions(memory.data(), 100, row.offset, row.bytes,
                                                  row.flags, &region1, &size1, &region2, &size2);
  ASSERT_EQ(hr, row.result);
  if (hr != sound::DS_OK) return;
  EXPECT_EQ(region1, memory.data() + row.firstOffset);
  EXPECT_EQ(size1, row.size1);
  EXPECT_EQ(size2, row.size2);
  EXPECT_EQ(region2, row.size2 > 0 ? memory.data() : nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LockRegions,
    ::testing::Values(
        LockRow{"inside", 10, 20, 0, sound::DS_OK, 10, 20, 0},
        LockRow{"up_to_the_end", 80, 20, 0, sound::DS_OK, 80, 20, 0},
        LockRow{"crossing_the_end", 90, 30, 0, sound::DS_OK, 90, 10, 20},
        LockRow{"whole_buffer_flag", 50, 1, sound::DSBLOCK_ENTIREBUFFER, sound::DS_OK, 0, 100, 0},
        LockRow{"offset_outside", 100, 1, 0, sound::DSERR_INVALIDPARAM, 0, 0, 0},
        LockRow{"more_than_the_buffer", 0, 101, 0, sound::DSERR_INVALIDPARAM, 0, 0, 0},
        LockRow{"nothing", 5, 0, 0, sound::DSERR_INVALIDPARAM, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceIdentity, IsStableAndTellsDevicesApart) {
  EXPECT_EQ(sound::DeviceGuid(true, "Speakers", 0), sound::DeviceGuid(true, "Speakers", 0));
  EXPECT_NE(sound::DeviceGuid(true, "Speakers", 0), sound::DeviceGuid(true, "Speakers", 1));
  EXPECT_NE(sound::DeviceGuid(true, "Speakers", 0), sound::DeviceGuid(false, "Speakers", 0));
  EXPECT_NE(sound::DeviceGuid(true, "Speakers", 0), sound::DeviceGuid(true, "Headset", 0));
  EXPECT_FALSE(sound::DeviceGuid(true, "", 0).IsNull());
}

}  // namespace
