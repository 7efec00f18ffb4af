// Entry point: options, the choice between a real display and none, what Qt needs
// to stay quiet, the real sound output and spectrum, then the shell.
#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <pwd.h>

#include "app/command_line.h"
#include "app/display_platform.h"
#include "app/headless_reports.h"
#include "app/launch_handoff.h"
#include "app/shell.h"
#include "app/shell_mpris_host.h"
#include "app/win_main.h"
#include "app/window_proc.h"
#include "output/system_output_devices.h"
#include "platform/kernel/text.h"
#include "platform/portal/session_bus.h"
#include "platform/qt/message_boxes.h"
#include "platform/qt/qt_window.h"
#include "visual/spectrum_analyzer_factory.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnQuitSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

// Without a login session (ssh, a service) XDG_RUNTIME_DIR is unset and Qt warns.
// Give it the folder it would fall back to, made as it wants it: ours, mode 0700.
// Anything else there is left alone, and Qt says what it thinks of it.
void ProvideRuntimeDir() {
  if (IsSet("XDG_RUNTIME_DIR")) return;
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  const passwd* user = getpwuid(geteuid());
  dir += "/runtime-" + (user != nullptr ? std::string(user->pw_name) : std::to_string(geteuid()));
  mkdir(dir.c_str(), 0700);
  struct stat info = {};
  if (lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) return;
  if ((info.st_mode & 07777) != 0700 && chmod(dir.c_str(), 0700) != 0) return;
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
}

// What Qt still has to say goes out as the program's own lines; its debug chatter not at all.
void QtMessagesAsOwnLines(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtDebugMsg || type == QtInfoMsg) return;
  std::fputs(app::headless::ReportLine(u"", message.toStdU16String()).c_str(), stderr);
}

// With the media controls turned off, or no session bus to reach, nothing of the
// program goes on D-Bus: Qt (menus, accessibility) and SDL's audio start-up would
// connect and, with no session bus set, start a bus daemon that outlives the
// program. An address no transport takes keeps every library off.
void KeepOffTheBus() { setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1); }

// SIGINT and SIGTERM quit like Exit; the handler only wakes the window's thread.
// Installed early, so a signal that comes before the window waits in the pipe.
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
  auto* notifier =
      new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &application);  // Qt parent owns it
  QObject::connect(notifier, &QSocketNotifier::activated, [] {
    char byte = 0;
    while (read(signalPipe[0], &byte, 1) > 0) {
    }
    // A box or dialog open now, even one of start-up before the message loop runs,
    // must not hold the quit until somebody answers it.
    platform::qt::CloseModalWindows();
    if (platform::qt::QtWindow* window = app::MainWindow()) {
      window->SendMessage(platform::qt::WM_COMMAND, 105, 0);
    } else {
      platform::qt::PostQuitMessage(0);
    }
  });
}

}  // namespace

int main(int argc, char** argv) {
  const app::ParsedOptions options = app::ParseOptions(argc, argv);
  switch (options.action) {
    case app::OptionAction::kHelp:
      std::fputs(app::kUsage, stdout);
      return 0;
    case app::OptionAction::kVersion:
      std::fputs(app::VersionLine().c_str(), stdout);
      return 0;
    case app::OptionAction::kUsageError:
      std::fprintf(stderr, "tonaria: unknown option '%s' (tonaria --help shows the usage)\n",
                   options.badOption.c_str());
      return 1;
    case app::OptionAction::kRun:
      break;
  }
  std::fputs(app::IgnoredFilesLine(options).c_str(), stderr);

  InstallQuitSignals();
  app::DisplayPlatform display;  // says so when there will be no window
  ProvideRuntimeDir();
  app::sessionBusAllowed =
      !app::MediaControlsTurnedOff() && platform::portal::SessionBusConfigured();
  if (!app::sessionBusAllowed) KeepOffTheBus();
  qInstallMessageHandler(QtMessagesAsOwnLines);
  // Qt sees only the program name: file names must never be taken for Qt options.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication application(qtArgc, qtArgv);
  shell::headless = !display.HasWindow();
  QApplication::setApplicationName(QStringLiteral("tonaria"));
  QApplication::setDesktopFileName(QStringLiteral("org.tonaria.Tonaria"));
  if (shell::headless) {
    app::headless::InstallReports();
  } else {
    platform::qt::InstallMessageBoxes();
  }
  // Without a window nobody sees the spectrum: no analysis runs at all.
  SetDefaultCollaborators(
      {&SystemOutputDevices(), shell::headless ? &BlankDisplays() : &SpectrumAnalyzers()});
  ListenForQuitSignals(application);
  // Where Tonaria already shows a window, the file plays there.
  if (!shell::headless && app::sessionBusAllowed && !options.newInstance &&
      app::ClaimOrHandOver(options.file, app::OpenHandedOverFile) == app::LaunchRole::kHandedOver) {
    return 0;
  }

  return app::wWinMain(platform::FromUtf8(options.file));
}
