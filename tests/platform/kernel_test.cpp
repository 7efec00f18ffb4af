#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/kernel/event.h"
#include "platform/kernel/file.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "platform/ui/menu.h"
#include "tests/support/audio_fixtures.h"

using namespace platform;

TEST(BoundedCopy, FitsWholeOrIsCutAndTerminated) {
  char16_t buffer[5];
  EXPECT_EQ(StringCchCopyW(buffer, 5, u"abcd"), S_OK);
  EXPECT_EQ(std::u16string(buffer), u"abcd");
  EXPECT_EQ(StringCchCopyW(buffer, 5, u"abcde"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(buffer), u"abcd");
  EXPECT_EQ(StringCchCopyW(buffer, 5, nullptr), S_OK);
  EXPECT_EQ(buffer[0], u'\0');
  EXPECT_EQ(StringCchCopyW(buffer, 0, u"x"), E_INVALIDARG);
}

TEST(BoundedFormat, ByteCapacityCountsTheTerminator) {
  char16_t title[8];
  EXPECT_EQ(StringCbPrintfW(title, sizeof(title), u"%s-[%s]", {u"ab", u"cd"}), S_OK);
  EXPECT_EQ(std::u16string(title), u"ab-[cd]");
  EXPECT_EQ(StringCbPrintfW(title, sizeof(title), u"%s - [%s]", {u"ab", u"cd"}),
            STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(title), u"ab - [c");
  EXPECT_EQ(Format(u"Streams:%d %u%%", {2, 7u}), u"Streams:2 7%");
  EXPECT_EQ(Format(u"SpectrumAnalyzer[%d]", {-5}), u"SpectrumAnalyzer[-5]");
}

TEST(TextConversion, RoundTripsUnicodeAndRawBytes) {
  const std::u16string wide = u"Caf\u00e9 \u266b \U0001F3B5.flac";
  EXPECT_EQ(FromUtf8(ToUtf8(wide)), wide);
  // A file name that is not UTF-8 must come back as the same bytes.
  const std::string raw = "bad\xff\xfe name.wav";
  EXPECT_EQ(ToUtf8(FromUtf8(raw)), raw);
  // Overlong and truncated sequences are raw bytes, not characters.
  EXPECT_EQ(ToUtf8(FromUtf8("\xc0\xaf\xe2\x82")), "\xc0\xaf\xe2\x82");
  EXPECT_EQ(ToUtf8(u"\xd800x"), "\xef\xbf\xbdx");  // a lone surrogate
}

TEST(EventWait, AutoResetConsumesManualStaysAndAWaiterWakesFromAnotherThread) {
  Event autoReset(Event::Reset::kAuto);
  autoReset.Set();
  EXPECT_EQ(autoReset.Wait(std::chrono::milliseconds(0)), WaitResult::kSignalled);
  EXPECT_EQ(autoReset.Wait(std::chrono::milliseconds(1)), WaitResult::kTimedOut);
  std::thread setter([&] { autoReset.Set(); });
  EXPECT_EQ(autoReset.Wait(), WaitResult::kSignalled);
  setter.join();

  Event manual(Event::Reset::kManual, true);
  EXPECT_EQ(manual.Wait(std::chrono::milliseconds(0)), WaitResult::kSignalled);
  EXPECT_EQ(manual.Wait(std::chrono::milliseconds(0)), WaitResult::kSignalled);
  manual.Reset();
  EXPECT_EQ(manual.Wait(std::chrono::milliseconds(1)), WaitResult::kTimedOut);
}

TEST(FileAccess, ReadsSeeksAndReportsSizeAndMissingFilesDoNotOpen) {
  File file;
  EXPECT_FALSE(file.OpenRead(FromUtf8(testing_support::TempPath("missing.wav"))));
  EXPECT_FALSE(file.OpenRead(FromUtf8(testing_support::TempDir())));
  EXPECT_FALSE(file.OpenRead(u""));
  std::uint32_t got = 1;
  char buffer[16] = {};
  EXPECT_FALSE(file.Read(buffer, 1, &got));
  EXPECT_EQ(got, 0u);

  const std::string path = testing_support::TempPath("ten.bin");
  std::ofstream(path, std::ios::binary) << "0123456789";
  ASSERT_TRUE(file.OpenRead(FromUtf8(path)));
  ASSERT_TRUE(file.Read(buffer, 4, &got));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(file.SetPointer(0, SeekOrigin::kCurrent), 4u);
  EXPECT_EQ(file.SetPointer(-2, SeekOrigin::kEnd), 8u);
  ASSERT_TRUE(file.Read(buffer, 16, &got));
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(std::string(buffer, 2), "89");
  EXPECT_EQ(file.SetPointer(-11, SeekOrigin::kEnd), kInvalidSetFilePointer);
  EXPECT_EQ(file.SetPointer(0, SeekOrigin::kCurrent), 10u) << "a failed seek keeps the position";
  FileInformation info;
  ASSERT_TRUE(file.GetInformation(&info));
  EXPECT_EQ(info.size, 10u);
  EXPECT_GT(info.times.lastWrite, 116444736000000000ull);  // after 1970
}

TEST(MenuModel, ItemsAreRewrittenByCommandIdentifierAndTheListenerHearsFromAnyThread) {
  ui::Menu menu({{u"&Things", {{1, u"&One", ui::MF_ENABLED}, {2, u"T&wo", ui::MF_GRAYED}}},
                 {u"Opt", {{3, u"X", ui::MF_CHECKED}}}});
  std::atomic<int> heard{0};
  menu.SetChangeListener([&] { ++heard; });
  EXPECT_EQ(menu.GetMenuState(2), ui::MF_GRAYED);
  std::thread other([&] { EXPECT_TRUE(menu.ModifyMenu(2, ui::MF_ENABLED, u"T&wo\tCtrl+2")); });
  other.join();
  EXPECT_EQ(heard.load(), 1);
  EXPECT_EQ(menu.GetMenuState(2), ui::MF_ENABLED);
  EXPECT_EQ(menu.GetMenuText(2), u"T&wo\tCtrl+2");
  EXPECT_EQ(menu.GetMenuState(3), ui::MF_CHECKED);
  EXPECT_FALSE(menu.ModifyMenu(99, 0, u"none"));
  EXPECT_EQ(menu.GetMenuState(99), ui::kMenuItemNotFound);
}
