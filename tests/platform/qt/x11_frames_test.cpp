// Frames sent straight to the client area's X window on a private Xvfb: the X server
// holds the picture, patched where a frame says it changed, restored after hiding.
#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include "platform/qt/main_widget.h"
#include "platform/qt/qt_window.h"
#include "tests/support/child_process.h"

namespace {

namespace qt = platform::qt;
namespace ui = platform::ui;
constexpr auto kBound = std::chrono::seconds(10);

std::intptr_t PlainProc(ui::HWND window, std::uint32_t message, std::uintptr_t wParam,
                        std::intptr_t lParam) {
  return qt::DefWindowProc(window, message, wParam, lParam);
}

std::vector<std::uint32_t> Pattern(int width, int height, std::uint32_t offset) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = (static_cast<std::uint32_t>(i) * 2654435761u + offset) & 0xFFFFFF;
  return pixels;
}

class X11Frames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server = std::make_unique<mpris_testing::ChildProcess>();  // on a display of its choosing
    const std::size_t line =
        server->Start({"Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"},
                      {})
            ? server->WaitForLine("", 0, std::chrono::milliseconds(kBound))
            : std::string::npos;
    if (line == std::string::npos) return;
    ::setenv("DISPLAY", (":" + server->Out().substr(0, line - 1)).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::unsetenv("QT_SCALE_FACTOR");  // a scaled screen takes the Qt path
    static int argc = 1;
    static char name[] = "x11_frames_test";
    static char* argv[] = {name, nullptr};
    app = std::make_unique<QApplication>(argc, argv);
    qt::RegisterClassEx({u"X11FramesTest", PlainProc, {}, "", ""});
  }
  static void TearDownTestSuite() {
    app.reset();
    server.reset();
  }
  void SetUp() override {
    if (app == nullptr) GTEST_SKIP() << "no Xvfb";
    OpenWindow();
  }
  void OpenWindow() {
    window = qt::QtWindow::Create(u"X11FramesTest", u"Frames", {0, 0, 120, 50, true});
    ASSERT_TRUE(window);
    window->Show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return window->GetClientSize().width == 120; }));
    view = static_cast<qt::MainWidget*>(window->Widget())->View();
    ASSERT_TRUE(view->testAttribute(Qt::WA_PaintOnScreen)) << "frames should go straight to X";
  }
  void TearDown() override { window.reset(); }

  template <typename Condition>
  static bool ProcessEventsUntil(Condition done) {
    const auto until = std::chrono::steady_clock::now() + kBound;
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
  }

  // Narrow rectangles (gathered row by row), a whole-width band and one off the edge;
  // then more small changes than the window sends one by one. Returns the client
  // area's picture that should result.
  std::vector<std::uint32_t> PresentChangedFrames() {
    const int w = 100, h = 30;  // smaller than the client area: the rest stays black
    std::vector<std::uint32_t> expected = Pattern(w, h, 1);
    window->PresentFrame(expected, w, h);
    const auto present = [&](const std::vector<std::uint32_t>& frame,
                             std::span<const ui::FrameRect> changed) {
      for (const ui::FrameRect& r : changed)
        for (int y = r.top; y < std::min(r.bottom, h); ++y)
          for (int x = r.left; x < std::min(r.right, w); ++x)
            expected[y * w + x] = frame[y * w + x];
      window->PresentChangedFrame(frame, w, h, changed);
    };
    const ui::FrameRect changed[] = {
        {3, 4, 9, 20}, {50, 0, 51, 30}, {0, 25, 100, 27}, {95, 28, 140, 60}};
    present(Pattern(w, h, 2), changed);
    present(Pattern(w, h, 3), {});  // nothing changed: nothing sent
    std::vector<ui::FrameRect> dots;
    for (int i = 0; i < 90; ++i)
      dots.push_back({(i * 37) % w, (i * 11) % h, (i * 37) % w + 1, (i * 11) % h + 1});
    present(Pattern(w, h, 4), dots);
    const int cw = window->GetClientSize().width, ch = window->GetClientSize().height;
    std::vector<std::uint32_t> want(static_cast<std::size_t>(cw) * ch, 0);
    for (int y = 0; y < h; ++y) std::copy_n(expected.begin() + y * w, w, want.begin() + y * cw);
    return want;
  }
  // Whether frames go through memory the X server maps.
  static bool SharesMemory() {
    std::ifstream maps("/proc/self/maps");
    const std::string all{std::istreambuf_iterator<char>(maps), {}};
    return all.find("tonaria-frame") != std::string::npos;
  }

  // The client area's pixels as the X server holds them (asked on Qt's connection, so
  // after everything sent before).
  std::vector<std::uint32_t> OnScreen(int width, int height) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11->connection();
    xcb_get_image_reply_t* reply = xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, static_cast<xcb_drawable_t>(view->winId()), 0,
                      0, static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height),
                      ~0u),
        nullptr);
    std::vector<std::uint32_t> pixels;
    if (reply != nullptr) {
      const auto* data = reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(reply));
      pixels.assign(data, data + xcb_get_image_data_length(reply) / 4);
      for (std::uint32_t& p : pixels) p &= 0xFFFFFF;
      std::free(reply);
    }
    return pixels;
  }

  static std::unique_ptr<mpris_testing::ChildProcess> server;
  static std::unique_ptr<QApplication> app;
  std::unique_ptr<qt::QtWindow> window;
  QWidget* view = nullptr;
};
std::unique_ptr<mpris_testing::ChildProcess> X11Frames::server;
std::unique_ptr<QApplication> X11Frames::app;

TEST_F(X11Frames, ChangedFramesPatchOnlyTheirRectanglesAndARepaintRestoresThePicture) {
  const std::vector<std::uint32_t> want = PresentChangedFrames();
  const int cw = window->GetClientSize().width, ch = window->GetClientSize().height;
  EXPECT_EQ(OnScreen(cw, ch), want);
  EXPECT_TRUE(SharesMemory()) << "Xvfb maps the frames' memory";

  // Hidden and shown again: the window's thread repaints the kept picture.
  EXPECT_TRUE(window->ShowsFrames());
  window->Widget()->hide();
  ASSERT_TRUE(ProcessEventsUntil([&] { return !view->isVisible(); }));
  EXPECT_FALSE(window->ShowsFrames()) << "a hidden window needs no drawing";
  window->Widget()->show();
  EXPECT_TRUE(ProcessEventsUntil([&] { return OnScreen(cw, ch) == want; }));
  EXPECT_TRUE(window->ShowsFrames());
  EXPECT_EQ(window->PresentedFrames(), 4u);
}

// Qt's switch against shared memory holds for the frames too: their pixels then go in
// the requests.
TEST_F(X11Frames, WithoutSharedMemoryThePixelsGoInTheRequests) {
  window.reset();
  ::setenv("QT_XCB_NO_MITSHM", "1", 1);
  OpenWindow();
  ::unsetenv("QT_XCB_NO_MITSHM");
  const std::vector<std::uint32_t> want = PresentChangedFrames();
  EXPECT_EQ(OnScreen(window->GetClientSize().width, window->GetClientSize().height), want);
  EXPECT_FALSE(SharesMemory());
}

TEST_F(X11Frames, FramesFromAnotherThreadWhileTheWindowIsDestroyed) {
  const std::vector<std::uint32_t> frame = Pattern(120, 30, 3);
  std::atomic<bool> stop{false};
  qt::QtWindow* target = window.get();
  std::thread painter([&] {
    const ui::FrameRect band{0, 10, 120, 12};
    while (!stop) target->PresentChangedFrame(frame, 120, 30, {&band, 1});
  });
  ASSERT_TRUE(ProcessEventsUntil([&] { return target->PresentedFrames() > 100; }));
  window->DestroyWindow();
  ASSERT_TRUE(ProcessEventsUntil([&] { return target->PresentedFrames() > 200; }));
  stop = true;
  painter.join();
  window.reset();
  // The connection is still good: Qt would have dropped it after a protocol fault.
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  EXPECT_EQ(xcb_connection_has_error(x11->connection()), 0);
}

}  // namespace
