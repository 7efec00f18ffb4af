#include "tests/support/child_process.h"

namespace mpris_testing {

using Clock = std::chrono::steady_clock;

ChildProcess::~ChildProcess() {
  if (!Running()) return;
  process_.kill();
  process_.waitForFinished();
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const Environment& env) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const auto& [name, value] : env) {
    if (value.empty()) {
      environment.remove(QString::fromStdString(name));
    } else {
      environment.insert(QString::fromStdString(name), QString::fromStdString(value));
    }
  }
  QStringList arguments;
  for (std::size_t i = 1; i < argv.size(); ++i) arguments << QString::fromStdString(argv[i]);
  process_.setProcessEnvironment(environment);
  process_.start(QString::fromStdString(argv[0]), arguments);
  return process_.waitForStarted();
}

void ChildProcess::WriteLine(const std::string& line) {
  process_.write((line + "\n").c_str());
  process_.waitForBytesWritten();  // no event loop here writes it later
}

void ChildProcess::Collect() {
  out_ += process_.readAllStandardOutput().toStdString();
  err_ += process_.readAllStandardError().toStdString();
}

std::size_t ChildProcess::WaitForLine(const std::string& text, std::size_t from,
                                      std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  for (;;) {
    Collect();
    for (std::size_t end; (end = out_.find('\n', from)) != std::string::npos; from = end + 1) {
      if (out_.substr(from, end - from).find(text) != std::string::npos) return end + 1;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || (!Running() && process_.bytesAvailable() == 0))
      return std::string::npos;
    process_.waitForReadyRead(static_cast<int>(std::min<long long>(left.count(), 100)));
  }
}

int ChildProcess::Wait(std::chrono::milliseconds bound) {
  if (Running() && !process_.waitForFinished(static_cast<int>(bound.count()))) return -1;
  Collect();
  if (process_.error() == QProcess::FailedToStart) return -1;
  return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : 128;
}

CommandResult RunCommand(const std::vector<std::string>& argv, const Environment& env,
                         std::chrono::milliseconds bound) {
  CommandResult result;
  ChildProcess child;
  if (!child.Start(argv, env)) return result;
  child.CloseInput();
  result.exitCode = child.Wait(bound);
  result.out = child.Out();
  result.err = child.Err();
  return result;
}

std::unique_ptr<ChildProcess> StartPrivateBus(std::string* address,
                                              std::chrono::milliseconds bound) {
  auto bus = std::make_unique<ChildProcess>();
  if (!bus->Start({"dbus-daemon", "--config-file=" PRIVATE_BUS_CONFIG, "--nofork", "--nopidfile",
                   "--print-address=1"},
                  {}) ||
      bus->WaitForLine("unix:", 0, bound) == std::string::npos) {
    return nullptr;
  }
  *address = bus->Out().substr(0, bus->Out().find('\n'));
  return bus;
}

}  // namespace mpris_testing
