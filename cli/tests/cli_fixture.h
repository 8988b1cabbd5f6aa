#pragma once
// Runs the real quillora-cli program against the embedded emulator, with a
// set.ini that the emulator wrote in a QUILLORA_HOME of its own and a private
// per-user store (XDG_CONFIG_HOME).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "account/session/user_session.h"
#include "cli/cli_options.h"
#include "common/ini.h"
#include "emulator/emulator.h"

extern char** environ;

namespace quillora::cli::cli_testing {

using emulator::Emulator;

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class CliProgram : public ::testing::Test {
 protected:
  // One root for the whole process: the process's own per-user store is
  // opened once and must stay where the programs it starts write.
  static void SetUpTestSuite() {
    if (root_ != nullptr) return;
    char pattern[] = "/tmp/quillora-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = new std::string(std::string(pattern) + "/");
    // The per-user store of this process and of every program it starts.
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", (*root_ + "xdg").c_str(), 1), 0);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(*root_, ec);
    });
  }

  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = *root_ + name + "/";
    home_ = dir_ + "home/";
    out_ = dir_ + "out/";
    for (const std::string& d : {home_, out_, dir_ + "tmp/"}) std::filesystem::create_directories(d);
    emulator::Options o;
    o.threads = 8;
    o.taskProcessingTime = std::chrono::milliseconds(20);
    emu_ = std::make_unique<Emulator>(o);
    ASSERT_TRUE(emu_->Start()) << emu_->LastError();
    emulator::TaskBehaviour b;
    b.processingTime = std::chrono::milliseconds(20);
    emu_->SetTaskBehaviour(b);
    ASSERT_TRUE(emu_->WriteServiceIni(home_ + "set.ini"));
    std::ofstream ini(home_ + "set.ini", std::ios::app);
    ini << "\n[Install]\nExplortPath=" << out_ << "\n";
  }

  // `feed`, when given, writes the program's standard input on a thread of
  // its own (it may wait for the emulator) and the input is closed after it.
  RunResult Run(const std::vector<std::string>& args, const std::function<void(int fd)>& feed = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      if (entry.rfind("QUILLORA_HOME=", 0) == 0 || entry.rfind("TMPDIR=", 0) == 0) continue;
      env.push_back(entry);
    }
    env.push_back("QUILLORA_HOME=" + home_);
    env.push_back("TMPDIR=" + dir_ + "tmp");
    std::vector<std::string> argv{QUILLORA_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp, envp;
    for (auto& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    const std::string outPath = dir_ + "stdout", errPath = dir_ + "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int input[2] = {-1, -1};
    if (feed) {
      EXPECT_EQ(::pipe2(input, O_CLOEXEC), 0);
      posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    } else {
      posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    RunResult r;
    EXPECT_EQ(spawned, 0) << "cannot start " << argp[0];
    std::thread feeder;
    if (feed) {
      ::close(input[0]);
      feeder = std::thread([&feed, fd = input[1]] {
        feed(fd);
        ::close(fd);
      });
    }
    if (spawned != 0) {
      if (feeder.joinable()) feeder.join();
      return r;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (feeder.joinable()) feeder.join();
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadAll(outPath);
    r.err = ReadAll(errPath);
    return r;
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  static Json::Value ParseJson(const std::string& text) {
    Json::Value v;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &v, &errors)) << errors << text;
    return v;
  }

  static inline std::string* root_ = nullptr;
  std::string dir_, home_, out_;
  std::unique_ptr<Emulator> emu_;
};

}  // namespace quillora::cli::cli_testing
