// The Qt window layer on its own: messages and menu changes from other threads,
// frames, closing, and the small dialog and message-box helpers.
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QTimer>
#include <filesystem>
#include <future>
#include <thread>

#include "app/resources_menu.h"
#include "platform/qt/dialog_box.h"
#include "platform/qt/main_widget.h"
#include "platform/qt/open_file_dialog.h"
#include "platform/qt/qt_window.h"
#include "platform/qt/x11_hot_keys.h"
#include "platform/ui/message_box.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/fake_window.h"

namespace app_testing {
namespace {

namespace qt = platform::qt;
namespace ui = platform::ui;
using testing_support::kBound;

struct Seen {
  std::uint32_t message;
  std::uintptr_t wParam;
};
std::vector<Seen> seen;  // window's thread only

std::intptr_t RecordingProc(ui::HWND window, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam) {
  seen.push_back({message, wParam});
  return qt::DefWindowProc(window, message, wParam, lParam);
}

class WindowLayer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    EnsureApplication();
    qt::RegisterClassEx(
        {u"WindowLayerTest", RecordingProc, testing_support::MakeProgramMenu, "", ""});
  }
  void SetUp() override {
    seen.clear();
    window = qt::QtWindow::Create(u"WindowLayerTest", u"Test", {1, 1, 287, 120, true});
    ASSERT_TRUE(window);
    window->Show();
  }
  void TearDown() override {
    window.reset();
    qt::TakePendingQuit();
  }
  bool Saw(std::uint32_t message) { return std::ranges::count(seen, message, &Seen::message) > 0; }
  // The wParams of the messages of one kind, in the order they came.
  std::vector<std::uintptr_t> Params(std::uint32_t message) {
    std::vector<std::uintptr_t> params;
    for (const Seen& s : seen) {
      if (s.message == message) params.push_back(s.wParam);
    }
    return params;
  }
  std::unique_ptr<qt::QtWindow> window;
};

TEST_F(WindowLayer, CreateSendsWmCreateUnknownClassesGiveNoWindowAndHotKeysNeedX11) {
  EXPECT_TRUE(Saw(qt::WM_CREATE));
  EXPECT_FALSE(qt::QtWindow::Create(u"NoSuchClass", u"x", {0, 0, 10, 10, false}));
  EXPECT_EQ(window->Widget()->width(), 287);
  EXPECT_EQ(window->Widget()->height(), 120);
  EXPECT_TRUE(window->Widget()->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(window->Widget()->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(qt::X11HotKeys::Connect({}), nullptr) << "offscreen has no hot keys";
  window->UnregisterHotKey(1);  // harmless
}

TEST_F(WindowLayer, MessagesPostedFromAnotherThreadArriveOnTheWindowThreadInOrder) {
  std::thread([&] {
    for (std::uintptr_t i = 0; i < 3; ++i) window->PostMessage(0x8001, i, 0);
  }).join();
  ASSERT_TRUE(PumpUntil([&] { return Params(0x8001).size() == 3; }));
  EXPECT_EQ(Params(0x8001), (std::vector<std::uintptr_t>{0, 1, 2}));
}

// The menu bar shows the model: a change from another thread never blocks and
// reaches it, and a check mark follows the model, not the click.
TEST_F(WindowLayer, MenuChangesFromAnyThreadReachTheMenuBarAndCheckMarksFollowTheModel) {
  const char16_t* pauseText = app::MenuItemText(app::IDM_PAUSE);
  const char16_t* peaksText = app::MenuItemText(app::IDM_SHOW_PEAKS);
  QAction* pause = FindAction(window->Widget(), QString::fromStdU16String(pauseText));
  QAction* peaks = FindAction(window->Widget(), QString::fromStdU16String(peaksText));
  ASSERT_TRUE(pause != nullptr && peaks != nullptr);
  EXPECT_FALSE(pause->isEnabled());
  // The window's thread is not pumping while the other thread changes the menu.
  auto change = std::async(std::launch::async,
                           [&] { window->GetMenu()->ModifyMenu(app::IDM_PAUSE, 0, pauseText); });
  ASSERT_EQ(change.wait_for(kBound), std::future_status::ready);
  EXPECT_TRUE(PumpUntil([&] { return pause->isEnabled(); }));

  EXPECT_TRUE(peaks->isChecked());
  peaks->trigger();  // the procedure ignores it: the model still says checked
  EXPECT_TRUE(peaks->isChecked());
  EXPECT_TRUE(Saw(qt::WM_COMMAND));
  window->GetMenu()->ModifyMenu(app::IDM_SHOW_PEAKS, 0, peaksText);
  EXPECT_TRUE(PumpUntil([&] { return !peaks->isChecked(); }));
}

TEST_F(WindowLayer, PresentFrameFromAnotherThreadReturnsAtOnce) {
  std::vector<std::uint32_t> pixels(281 * 62, 0x00FF0000);
  auto present = std::async(std::launch::async, [&] {
    for (int i = 0; i < 100; ++i) window->PresentFrame(pixels, 281, 62);
  });
  ASSERT_EQ(present.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(window->PresentedFrames(), 100u);
  // Too short: ignored.
  window->PresentFrame(std::span<const std::uint32_t>(pixels).first(10), 281, 62);
  PumpPending();
}

TEST_F(WindowLayer, CloseBoxDestroysTheWindowThroughTheDefaultProcedure) {
  QCloseEvent close;
  QCoreApplication::sendEvent(window->Widget(), &close);
  EXPECT_TRUE(Saw(qt::WM_CLOSE) && Saw(qt::WM_DESTROY));
  EXPECT_TRUE(window->IsDestroyed());
  const std::size_t count = seen.size();
  window->SendMessage(qt::WM_COMMAND, 1, 0);  // a destroyed window gets nothing more
  EXPECT_EQ(seen.size(), count);
}

TEST_F(WindowLayer, TheOpenDialogOpensInTheFolderItIsGiven) {
  const std::string folder = testing_support::TempPath("dialog folder");
  std::filesystem::create_directories(folder);
  std::vector<QString> shownIn;
  QTimer poll;  // answers the dialog once it is up: cancelled, after noting its folder
  QObject::connect(&poll, &QTimer::timeout, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QFileDialog*>(widget);
      if (dialog == nullptr || !dialog->isVisible()) continue;
      shownIn.push_back(dialog->directory().absolutePath());
      dialog->reject();
    }
  });
  poll.start(10);
  EXPECT_FALSE(qt::GetOpenFileName(
      {.owner = window.get(), .filter = {{u"All", u"*.wav"}}, .initialDir = Wide(folder)}));
  EXPECT_EQ(shownIn, std::vector<QString>{QString::fromStdString(folder)});
}

TEST(DialogPieces, StaticTextAndKeys) {
  EXPECT_EQ(qt::StaticText(u"libogg && libvorbis"), u"libogg & libvorbis");
  EXPECT_EQ(qt::StaticText(u"&OK"), u"OK");
  for (const auto& [key, virtualKey] :
       {std::pair{Qt::Key_A, 0x41u}, {Qt::Key_4, 0x34u}, {Qt::Key_F1, 0x70u}, {Qt::Key_Slash, 0u}})
    EXPECT_EQ(qt::VirtualKeyOf(key), virtualKey) << key;
}

}  // namespace
}  // namespace app_testing
