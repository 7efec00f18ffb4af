// Entry point: options, the choice between a real display and the offscreen one,
// the real sound output and spectrum, then the shell.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/command_line.h"
#include "app/display_platform.h"
#include "app/shell.h"
#include "app/win_main.h"
#include "output/system_output_devices.h"
#include "platform/qt/message_boxes.h"
#include "platform/qt/qt_window.h"
#include "visual/spectrum_analyzer_factory.h"

#ifndef TONARIA_DEMO_PATH
#define TONARIA_DEMO_PATH ""
#endif

namespace {

int signalPipe[2] = {-1, -1};

void OnQuitSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM quit like Exit; the handler only wakes the window's thread.
// Installed first thing, so a signal that comes early waits in the pipe.
void InstallQuitSignals() {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action = {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void ListenForQuitSignals(QApplication& application) {
  if (signalPipe[0] < 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &application);  // Qt parent owns it
  QObject::connect(notifier, &QSocketNotifier::activated, [] {
    char byte = 0;
    while (read(signalPipe[0], &byte, 1) > 0) {
    }
    if (platform::qt::QtWindow* window = app::MainWindow()) {
      window->SendMessage(platform::qt::WM_COMMAND, 105, 0);
    } else {
      platform::qt::PostQuitMessage(0);
    }
  });
}

}  // namespace

int main(int argc, char** argv) {
  app::ParsedOptions options = app::ParseOptions(argc, argv);
  switch (options.action) {
    case app::OptionAction::kHelp:
      std::fputs(app::kUsage, stdout);
      return 0;
    case app::OptionAction::kVersion:
      std::fputs(app::kVersion, stdout);
      return 0;
    case app::OptionAction::kUsageError:
      std::fprintf(stderr, "tonaria: unknown option '%s'\n%s", options.badOption.c_str(), app::kUsage);
      return 1;
    case app::OptionAction::kRun:
      break;
  }
  if (options.operands.empty()) {
    std::error_code error;
    if (std::filesystem::exists(TONARIA_DEMO_PATH, error)) options.operands.emplace_back(TONARIA_DEMO_PATH);
  }

  InstallQuitSignals();
  app::DisplayPlatform display;  // says so when there will be no window
  // Qt sees only the program name: file names must never be taken for Qt options.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication application(qtArgc, qtArgv);
  app::headless = !display.HasWindow();
  QApplication::setApplicationName(QStringLiteral("tonaria"));
  QApplication::setDesktopFileName(QStringLiteral("org.tonaria.Tonaria"));
  platform::qt::InstallMessageBoxes(app::headless ? platform::qt::MessageBoxMode::kHeadless
                                                  : platform::qt::MessageBoxMode::kWindows);
  SetDefaultCollaborators({&SystemOutputDevices(), &SpectrumAnalyzers()});
  ListenForQuitSignals(application);

  return app::wWinMain(app::BuildCommandLine(options.operands));
}
