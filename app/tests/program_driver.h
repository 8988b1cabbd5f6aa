#pragma once
// Runs the real Quillora program offscreen in a private home and drives it
// through its test driver (standard input and output), as a user would.
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace quillora::e2e {

// One user's machine: the program folder, set.ini's folder, the per-user
// configuration and runtime folders.
struct Machine {
  std::string programFolder;  // holds Quillora, Update and skin/
  std::string home;           // QUILLORA_HOME (empty: unset, as installed programs run)
  std::string userHome;       // HOME (empty: `home`)
  std::string config;         // XDG_CONFIG_HOME
  std::string runtime;        // XDG_RUNTIME_DIR
  std::string temp;           // TMPDIR
  std::map<std::string, std::string> extraEnv;
};

class RunningProgram {
 public:
  // Starts the program; `driven` attaches the test driver.
  RunningProgram(const Machine& machine, bool driven = true);
  ~RunningProgram();  // ends the program if it still runs
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool Ready() const { return ready_; }
  // One command, one reply ("" when the program went away).
  std::string Ask(const std::string& command);
  // Asks until the reply satisfies `pred` (or `timeout` passes); the last reply.
  bool AskUntil(const std::string& command, const std::function<bool(const std::string&)>& pred,
                std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Asks until the reply is `expected`.
  bool WaitFor(const std::string& command, const std::string& expected,
               std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    return AskUntil(command, [&](const std::string& r) { return r == expected; }, timeout);
  }
  // Waits for the program to end; its exit code, or -1 after the timeout.
  // The program's input is closed first unless `keepInput` (then the
  // driver's reader is still waiting for a line when the program ends).
  int WaitExit(std::chrono::milliseconds timeout = std::chrono::seconds(30), bool keepInput = false);
  // Everything the program wrote to standard error so far (after WaitExit: all).
  const std::string& ErrorText() const { return stderrText_; }
  int Pid() const { return pid_; }

 private:
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout);
  void DrainStderr();

  int pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  bool ready_ = false;
  int exitCode_ = -2;
  std::string outBuffer_;
  std::string stderrText_;
};

// "key=value" words of the driver's "state" reply.
std::map<std::string, std::string> ParseState(const std::string& reply);

}  // namespace quillora::e2e
