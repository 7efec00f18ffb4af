#include "tests/app/mpris/child_process.h"

#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>

extern char** environ;

namespace mpris_testing {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> MergedEnvironment(const Environment& env) {
  std::vector<std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    if (env.find(name) == env.end()) merged.push_back(text);
  }
  for (const auto& [name, value] : env) {
    if (!value.empty()) merged.push_back(name + "=" + value);
  }
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

ChildProcess::~ChildProcess() {
  CloseFd(in_);
  if (pid_ > 0 && Running()) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status_, 0);
  }
  CloseFd(outFd_);
  CloseFd(errFd_);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const Environment& env) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (::pipe2(inPipe, O_CLOEXEC) != 0) return false;
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  std::vector<std::string> args = argv;
  std::vector<std::string> environment = MergedEnvironment(env);
  std::vector<char*> argPointers = Pointers(args);
  std::vector<char*> envPointers = Pointers(environment);
  const int failed = ::posix_spawnp(&pid_, args[0].c_str(), &actions, nullptr, argPointers.data(),
                                    envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  in_ = inPipe[1];
  outFd_ = outPipe[0];
  errFd_ = errPipe[0];
  if (failed != 0) {
    pid_ = -1;
    return false;
  }
  return true;
}

bool ChildProcess::Running() {
  if (pid_ <= 0) return false;
  if (status_ != -1) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = status;
    return false;
  }
  return true;
}

void ChildProcess::WriteLine(const std::string& line) {
  if (in_ < 0) return;
  const std::string text = line + "\n";
  [[maybe_unused]] const ssize_t written = ::write(in_, text.data(), text.size());
}

void ChildProcess::CloseInput() { CloseFd(in_); }

// Reads what the pipes hold, waiting at most timeoutMs; false once both are closed.
bool ChildProcess::Pump(int timeoutMs) {
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  if (outFd_ < 0 && errFd_ < 0) return false;
  if (::poll(fds, 2, timeoutMs) <= 0) return true;
  char buffer[4096];
  int* descriptors[2] = {&outFd_, &errFd_};
  std::string* sinks[2] = {&out_, &err_};
  for (int k = 0; k < 2; ++k) {
    if (*descriptors[k] < 0 || fds[k].revents == 0) continue;
    const ssize_t n = ::read(*descriptors[k], buffer, sizeof buffer);
    if (n > 0) {
      sinks[k]->append(buffer, static_cast<std::size_t>(n));
    } else {
      CloseFd(*descriptors[k]);
    }
  }
  return true;
}

void ChildProcess::Drain() {
  while ((outFd_ >= 0 || errFd_ >= 0)) {
    const std::size_t before = out_.size() + err_.size();
    if (!Pump(0) || out_.size() + err_.size() == before) break;
  }
}

std::size_t ChildProcess::WaitForLine(const std::string& text, std::size_t from,
                                      std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  while (true) {
    std::size_t start = from;
    while (true) {
      const std::size_t end = out_.find('\n', start);
      if (end == std::string::npos) break;
      if (out_.substr(start, end - start).find(text) != std::string::npos) return end + 1;
      start = end + 1;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || !Pump(static_cast<int>(std::min<long long>(left, 100)))) {
      return std::string::npos;
    }
  }
}

int ChildProcess::Wait(std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  while (Running()) {
    if (Clock::now() >= deadline) return -1;
    if (!Pump(20)) ::poll(nullptr, 0, 20);  // both pipes closed: look again for the exit shortly
  }
  Drain();
  if (pid_ <= 0) return -1;
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
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

}  // namespace mpris_testing
