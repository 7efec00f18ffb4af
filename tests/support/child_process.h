// Runs the test's helper programs (a private bus, the program itself, playerctl) with
// their output captured and every wait bounded.
#pragma once

#include <QProcess>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace mpris_testing {

// Variables to set for a child; an empty value removes the variable.
using Environment = std::map<std::string, std::string>;

struct CommandResult {
  int exitCode = -1;  // -1 when it did not finish in time or could not start
  std::string out;
  std::string err;
};

// Runs argv to completion (killed after `bound`), with stdin empty.
CommandResult RunCommand(const std::vector<std::string>& argv, const Environment& env,
                         std::chrono::milliseconds bound);

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();  // kills the child if it still runs

  bool Start(const std::vector<std::string>& argv, const Environment& env);
  bool Running() const { return process_.state() != QProcess::NotRunning; }
  void WriteLine(const std::string& line);
  void CloseInput() { process_.closeWriteChannel(); }
  // Reads standard output until a whole line containing `text` has arrived after
  // `from` (an offset into Out()); the line's end offset, or npos on time-out.
  std::size_t WaitForLine(const std::string& text, std::size_t from,
                          std::chrono::milliseconds bound);
  // Waits for the child to exit; its exit code, or -1 on time-out.
  int Wait(std::chrono::milliseconds bound);
  // What the child wrote, as far as the last wait collected it.
  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }
  qint64 Pid() const { return process_.processId(); }

 private:
  void Collect();

  QProcess process_;
  std::string out_;
  std::string err_;
};

// A private session bus for one test suite: the running dbus-daemon, with its
// address in *address; null when dbus-daemon is missing or does not answer. It
// starts no service on demand: only what the test runs answers there.
std::unique_ptr<ChildProcess> StartPrivateBus(std::string* address,
                                              std::chrono::milliseconds bound);

}  // namespace mpris_testing
