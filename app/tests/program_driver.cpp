#include "app/tests/program_driver.h"

#include <csignal>
#include <cstring>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quillora::e2e {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> BuildEnvironment(const Machine& m, bool driven) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    const size_t eq = kv.find('=');
    if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  env["QT_QPA_PLATFORM"] = "offscreen";
  if (m.home.empty())
    env.erase("QUILLORA_HOME");
  else
    env["QUILLORA_HOME"] = m.home;
  env["XDG_CONFIG_HOME"] = m.config;
  env["XDG_RUNTIME_DIR"] = m.runtime;
  env["TMPDIR"] = m.temp;
  env["HOME"] = m.userHome.empty() ? m.home : m.userHome;
  if (driven) env["QUILLORA_TEST_DRIVER"] = "stdio";
  else env.erase("QUILLORA_TEST_DRIVER");
  for (const auto& [k, v] : m.extraEnv) env[k] = v;
  std::vector<std::string> out;
  for (const auto& [k, v] : env) out.push_back(k + "=" + v);
  return out;
}

// The driver writes line breaks in a reply as "\\n" and "\\" as "\\\\".
std::string UnescapeLine(const std::string& line) {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\' || i + 1 == line.size()) {
      out += line[i];
      continue;
    }
    const char next = line[++i];
    out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return out;
}

}  // namespace

RunningProgram::RunningProgram(const Machine& machine, bool driven) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (::pipe2(inPipe, O_CLOEXEC) || ::pipe2(outPipe, O_CLOEXEC) || ::pipe2(errPipe, O_CLOEXEC)) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  const std::string program = machine.programFolder + "/Quillora";
  std::vector<std::string> envText = BuildEnvironment(machine, driven);
  std::vector<char*> envp;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string arg0 = program;
  char* argv[] = {arg0.data(), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  in_ = inPipe[1];
  out_ = outPipe[0];
  err_ = errPipe[0];
  ::fcntl(err_, F_SETFL, O_NONBLOCK);
  if (rc != 0) return;
  pid_ = pid;
  std::string line;
  ready_ = driven ? ReadLine(line, std::chrono::seconds(60)) && line == "ready" : true;
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0 && exitCode_ == -2) {
    ::kill(pid_, SIGTERM);
    WaitExit(std::chrono::seconds(30));
  }
  for (int fd : {in_, out_, err_})
    if (fd >= 0) ::close(fd);
}

void RunningProgram::DrainStderr() {
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(err_, buffer, sizeof buffer)) > 0) stderrText_.append(buffer, static_cast<size_t>(n));
}

bool RunningProgram::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (true) {
    const size_t nl = outBuffer_.find('\n');
    if (nl != std::string::npos) {
      line = outBuffer_.substr(0, nl);
      outBuffer_.erase(0, nl + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    outBuffer_.append(buffer, static_cast<size_t>(n));
  }
}

std::string RunningProgram::Ask(const std::string& command) {
  if (!ready_) return {};
  const std::string text = command + "\n";
  if (::write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return {};
  std::string reply;
  return ReadLine(reply, std::chrono::seconds(90)) ? UnescapeLine(reply) : std::string();
}

bool RunningProgram::AskUntil(const std::string& command, const std::function<bool(const std::string&)>& pred,
                              std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (true) {
    const std::string reply = Ask(command);
    if (pred(reply)) return true;
    if (reply.empty() || Clock::now() > deadline) return false;
    // The program acts on posted messages; give its loop a turn.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int RunningProgram::WaitExit(std::chrono::milliseconds timeout, bool keepInput) {
  if (exitCode_ != -2) return exitCode_;
  if (pid_ <= 0) return -1;
  if (in_ >= 0 && !keepInput) {
    ::close(in_);
    in_ = -1;
  }
  const auto deadline = Clock::now() + timeout;
  while (true) {
    DrainStderr();
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      DrainStderr();
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exitCode_;
    }
    if (Clock::now() > deadline) return -1;
    pollfd p{err_, POLLIN, 0};
    ::poll(&p, 1, 50);
  }
}

std::map<std::string, std::string> ParseState(const std::string& reply) {
  std::map<std::string, std::string> state;
  std::istringstream in(reply);
  for (std::string word; in >> word;) {
    const size_t eq = word.find('=');
    if (eq != std::string::npos) state[word.substr(0, eq)] = word.substr(eq + 1);
  }
  return state;
}

}  // namespace quillora::e2e
