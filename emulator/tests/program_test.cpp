// The quillora-emulator program: starts, prints its addresses, writes the
// [Service] section, serves, and ends cleanly on SIGTERM.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "emulator/tests/emulator_fixture.h"

extern char** environ;

namespace quillora::emulator::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Reads from fd until `marker` has been seen or the deadline passes.
bool ReadUntil(int fd, const std::string& marker, std::string* out, Clock::time_point deadline) {
  while (out->find(marker) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    out->append(buf, static_cast<size_t>(n));
  }
  return true;
}

// Waits for the child's exit through a pidfd, which becomes readable when it ends.
bool WaitExit(pid_t pid, int* status, Clock::time_point deadline) {
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{pidfd, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(std::max<long long>(0, left)));
    close(pidfd);
    if (ready <= 0) return false;
  }
  return waitpid(pid, status, 0) == pid;
}

TEST(EmulatorProgram, ServesUntilSigterm) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("qe-prog-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string ini = (dir / "set.ini").string();
  {
    std::ofstream out(ini);
    out << "[Install]\nAutoRun=1\n";
  }
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::string program = QUILLORA_EMULATOR_PROGRAM;
  std::string stateDir = (dir / "state").string();
  std::vector<std::string> args = {program, "--write-ini", ini, "--state-dir", stateDir, "--task-ms", "10"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);

  std::string output;
  bool started = ReadUntil(pipeFds[0], "CAFile=", &output, Clock::now() + std::chrono::seconds(30)) &&
                 ReadUntil(pipeFds[0], "\n", &output, Clock::now() + std::chrono::seconds(5));
  EXPECT_TRUE(started) << output;
  if (started) {
    size_t at = output.find("control    ");
    EXPECT_NE(at, std::string::npos);
    if (at == std::string::npos) at = 0;
    std::string status = output.substr(at + 11, output.find('\n', at) - at - 11);
    Json::Value v = ParseAnswer(Get(status).body);
    EXPECT_EQ(v["stateDir"].asString(), stateDir);
    EXPECT_TRUE(Get(v["statistics"].asString() + "/ver1/getUnixTime", v["caFile"].asString()).Ok());

    std::ifstream in(ini);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.rfind("[Install]\nAutoRun=1\n[Service]\nApi=https://127.0.0.1:", 0), 0u) << text;
  }
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_TRUE(WaitExit(pid, &status, Clock::now() + std::chrono::seconds(30)));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(pipeFds[0]);
  // A given state folder is kept, with its certificate.
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(stateDir) / "ca.pem"));
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
}  // namespace quillora::emulator::testing
