// A program that publishes the media controls for a FakeHost, so that a test can
// drive it from outside with playerctl. Standard input takes "end" (the file ends
// by itself) and "quit"; standard output logs each step, starting with
// "ready <bus name>" or "ready none" when there is no session bus.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "app/mpris/mpris_service.h"
#include "tests/app/mpris/fake_host.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  auto log = [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  };
  mpris_testing::FakeHost host(log, [] { QCoreApplication::quit(); });
  mpris::MprisService service(&host);
  host.SetNotify([&service] { service.NotifyStateChanged(); });

  if (service.Start()) {
    log("ready " + service.BusName().toStdString());
  } else {
    std::fprintf(stderr, "%s\n", service.FailureMessage().c_str());
    log("ready none");
  }

  std::string pending;
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      input.setEnabled(false);
      QCoreApplication::quit();
      return;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      const std::string command = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (command == "end") host.EndOfFile();
      if (command == "quit") QCoreApplication::quit();
    }
  });
  const int code = QCoreApplication::exec();
  log("exit");
  return code;
}
