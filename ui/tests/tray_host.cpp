#include "ui/tests/tray_host.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quillora::testing_support {

namespace {

constexpr char kBusDaemon[] = "/usr/bin/dbus-daemon";
constexpr char kXServer[] = "/usr/bin/Xvfb";

// Starts `argv` with its standard input from `in` (-1: /dev/null) and its
// standard output into the returned read end; `extraEnv` ("NAME=value")
// is added to this process's environment. The pid, or -1.
int Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv, int* out, int* in) {
  int outPipe[2], inPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return -1;
  if (::pipe2(inPipe, O_CLOEXEC) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return -1;
  }
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> envStrings(extraEnv);
  for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);  // earlier entries win
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(inPipe[0]);
  if (rc != 0) {
    ::close(outPipe[0]);
    ::close(inPipe[1]);
    return -1;
  }
  *out = outPipe[0];
  if (in)
    *in = inPipe[1];
  else
    ::close(inPipe[1]);
  return pid;
}

void End(int& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  pid = -1;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

std::string PrivateTrayHost::MissingTools() {
  std::string missing;
  if (::access(kBusDaemon, X_OK) != 0) missing += std::string(kBusDaemon) + " (package dbus) ";
  if (::access(kXServer, X_OK) != 0) missing += std::string(kXServer) + " (package xvfb) ";
  return missing.empty() ? missing : missing + "not installed";
}

bool PrivateTrayHost::StartDisplay() {
  // The server picks a free display number and writes it to its output.
  displayPid_ = Spawn({kXServer, "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, {},
                      &displayOut_, nullptr);
  std::string number;
  if (displayPid_ < 0 || !ReadLine(displayOut_, displayBuffer_, number, std::chrono::seconds(30)) || number.empty())
    return false;
  display_ = ":" + number;
  return true;
}

bool PrivateTrayHost::StartBus() {
  busPid_ = Spawn({kBusDaemon, "--session", "--nofork", "--nopidfile", "--print-address=1"}, {}, &busOut_, nullptr);
  return busPid_ > 0 && ReadLine(busOut_, busBuffer_, address_, std::chrono::seconds(30)) && !address_.empty();
}

PrivateTrayHost::PrivateTrayHost(const std::string& watcherProgram) {
  problem_ = MissingTools();
  if (!problem_.empty()) return;
  if (!StartDisplay()) {
    problem_ = "Xvfb did not start";
    return;
  }
  if (!StartBus()) {
    problem_ = "dbus-daemon did not start";
    return;
  }
  watcherPid_ = Spawn({watcherProgram}, {"DBUS_SESSION_BUS_ADDRESS=" + address_}, &watcherOut_, &watcherIn_);
  if (watcherPid_ < 0 || WaitForLine("ready", std::chrono::seconds(30)).empty()) {
    problem_ = "the StatusNotifier watcher did not start: " + watcherProgram;
    return;
  }
  ready_ = true;
}

PrivateTrayHost::~PrivateTrayHost() {
  CloseFd(watcherIn_);  // the watcher ends when its input closes
  if (watcherPid_ > 0) ::waitpid(watcherPid_, nullptr, 0);
  watcherPid_ = -1;
  End(busPid_);
  End(displayPid_);
  CloseFd(watcherOut_);
  CloseFd(busOut_);
  CloseFd(displayOut_);
}

bool PrivateTrayHost::Send(const std::string& command) {
  const std::string line = command + "\n";
  return watcherIn_ >= 0 && ::write(watcherIn_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

std::vector<std::string> PrivateTrayHost::Environment() const {
  return {"DBUS_SESSION_BUS_ADDRESS=" + address_, "DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb"};
}

void PrivateTrayHost::EnterEnvironment() const {
  for (const std::string& entry : Environment()) {
    const size_t eq = entry.find('=');
    ::setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
  }
}

bool PrivateTrayHost::ReadLine(int fd, std::string& buffer, std::string& line, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const size_t eol = buffer.find('\n');
    if (eol != std::string::npos) {
      line = buffer.substr(0, eol);
      buffer.erase(0, eol + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count())));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char chunk[1024];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
  }
}

std::string PrivateTrayHost::WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout, size_t from) {
  for (size_t i = from; i < lines_.size(); ++i)
    if (lines_[i].rfind(prefix, 0) == 0) return lines_[i];
  const auto end = std::chrono::steady_clock::now() + timeout;
  std::string line;
  while (watcherOut_ >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (!ReadLine(watcherOut_, watcherBuffer_, line, left)) return {};
    lines_.push_back(line);
    if (line.rfind(prefix, 0) == 0) return line;
  }
  return {};
}

}  // namespace quillora::testing_support
