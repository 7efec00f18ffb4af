#include "tests/app/shell_fixture.h"

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <sndfile.h>

#include "app/shell_globals.h"
#include "app/win_main.h"
#include "platform/kernel/text.h"
#include "platform/ui/menu.h"
#include "tests/support/audio_fixtures.h"

namespace app_testing {

using namespace testing_support;

std::u16string Wide(const std::string& text) { return platform::FromUtf8(text); }

namespace {

std::unique_ptr<QApplication> application;

// The QApplication goes before main returns: left to static destruction it would
// outlive the platform plugin it needs.
class ApplicationEnvironment final : public ::testing::Environment {
 public:
  void TearDown() override {
    if (!application) return;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    application.reset();
  }
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

}  // namespace

void EnsureApplication() {
  if (application) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "app_test";
  static char* argv[] = {name, nullptr};
  application = std::make_unique<QApplication>(argc, argv);
}

void PumpPending() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

bool PumpUntil(const std::function<bool()>& predicate) {
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  for (;;) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (predicate()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

QAction* FindAction(QWidget* window, const QString& text) {
  for (QAction* action : window->findChildren<QAction*>()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

QMessageBox* WaitForBox(const QString& text) {
  QMessageBox* shown = nullptr;
  PumpUntil([&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box != nullptr && box->isVisible() && box->text() == text) shown = box;
    }
    return shown != nullptr;
  });
  return shown;
}

void ShellTest::SetUp() {
  EnsureApplication();
  devices.next->full = true;
  SetDefaultCollaborators({&devices, &displays});
  boxes = std::make_unique<MessageBoxRecorder>();
  platform::qt::SetOpenFileDialog([this](const platform::qt::OpenFileName& request) {
    dialogRequests.push_back(request);
    return dialogAnswer;
  });
}

void ShellTest::CloseShell() {
  app::ResetShell();
  if (app::MainWindow() != nullptr && !app::MainWindow()->IsDestroyed())
    app::MainWindow()->DestroyWindow();
  app::DestroyMainWindow();
  platform::qt::TakePendingQuit();
  PumpPending();
}

void ShellTest::TearDown() {
  for (const auto& out : devices.created) out->OpenGate();  // no engine stays held in a Write
  CloseShell();
  platform::qt::SetOpenFileDialog({});
  SetDefaultCollaborators({});
  boxes.reset();
  shell::headless = false;
}

void ShellTest::Start(const std::u16string& path) {
  ASSERT_TRUE(app::StartShell(path));
  ASSERT_NE(app::MainWindow(), nullptr);
}

void ShellTest::PressKey(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text) {
  // Every playback the key may start gets an output that holds it on.
  devices.next->full = true;
  QKeyEvent press(QEvent::KeyPress, qtKey, modifiers, text);
  QCoreApplication::sendEvent(Window().Widget(), &press);
}

void ShellTest::Command(std::uint32_t id) {
  devices.next->full = true;
  Window().SendMessage(platform::qt::WM_COMMAND, id, 0);
}

void ShellTest::Drop(const std::vector<std::string>& paths) {
  devices.next->full = true;
  QMimeData mime;
  QList<QUrl> urls;
  for (const std::string& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path));
  mime.setUrls(urls);
  // As a real drag does: Qt delivers the drop only to a widget that took the enter.
  QDragEnterEvent enter(QPoint(20, 40), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Window().Widget(), &enter);
  QDropEvent drop(QPointF(20, 40), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Window().Widget(), &drop);
}

std::string ShellTest::MakeWav(const std::string& name, int frames) {
  const std::string path = TempPath(name);
  EXPECT_TRUE(WriteSoundFile(path, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                             MakeTestSignal(44100, 2, frames)));
  return path;
}

void ShellTest::ReleaseLatestOutput() {
  ASSERT_FALSE(devices.created.empty());
  auto& state = *devices.created.back();
  std::scoped_lock hold(state.mutex);
  state.full = false;
  state.changed.notify_all();
}

std::size_t ShellTest::Unreleased(std::size_t keep) {
  std::size_t alive = 0;
  const auto count = [&](const auto& states) {
    for (std::size_t i = 0; i + keep < states.size(); ++i) {
      std::scoped_lock hold(states[i]->mutex);
      if (!states[i]->destroyed) ++alive;
    }
  };
  count(devices.created);
  count(displays.created);
  return alive;
}

}  // namespace app_testing
