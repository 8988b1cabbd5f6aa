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
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "account/session/user_session.h"
#include "cli/cli_options.h"
#include "common/ini.h"
#include "emulator/emulator.h"

extern char** environ;

namespace quillora::cli {
namespace {

using emulator::Emulator;

std::string ReadAll(const std::string& path) {
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
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/quillora-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = new std::string(std::string(pattern) + "/");
    // The per-user store of this process and of every program it starts.
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", (*root_ + "xdg").c_str(), 1), 0);
  }

  static void TearDownTestSuite() {
    std::error_code ec;
    std::filesystem::remove_all(*root_, ec);
    delete root_;
    root_ = nullptr;
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

  RunResult Run(const std::vector<std::string>& args) {
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
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    RunResult r;
    EXPECT_EQ(spawned, 0) << "cannot start " << argp[0];
    if (spawned != 0) return r;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
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

  static std::string* root_;
  std::string dir_, home_, out_;
  std::unique_ptr<Emulator> emu_;
};

std::string* CliProgram::root_ = nullptr;

TEST_F(CliProgram, TranslatesAFileAndPrintsPathTextAndProgress) {
  const std::string source = "hello world\nthank you\n";
  const std::string file = Write("notes.docx", source);
  const RunResult r = Run({"--from", "en", "--to", "zh", file});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string expected = Emulator::Translate(source, "en", "zh");
  const std::string resultPath = out_ + "notes_zh.docx";
  EXPECT_EQ(ReadAll(resultPath), expected);
  EXPECT_EQ(r.out, "notes.docx -> " + resultPath + "\n" + expected);
  EXPECT_NE(r.err.find("notes.docx: uploading"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("notes.docx: waiting for the service"), std::string::npos) << r.err;
  // The main program's first run is still to come.
  EXPECT_EQ(IniReadFileString(home_ + "set.ini", "Install", "FirstRun").value_or("0"), "0");
}

TEST_F(CliProgram, TranslatesATextWithTheSavedSignIn) {
  emulator::User user;
  user.username = "13800000000";
  user.usertoken = "token-abc";
  emu_->AddUser(user);
  UserSession& session = UserSession::Instance();
  session.SetSignIn("13800000000", "token-abc", LoginType::Mobile);
  ASSERT_TRUE(session.Save());

  const std::string text = "你好，世界！\"quoted\"";
  const RunResult r = Run({"--from", "zh", "--to", "en", "--text", text});
  session.SignOut();
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find(Emulator::Translate(text, "zh", "en")), std::string::npos) << r.out;
  EXPECT_TRUE(std::filesystem::exists(out_ + "fanyiwendang1_en.txt"));
  const auto par = emu_->Requests("/api/v4/uploadpar");
  ASSERT_EQ(par.size(), 1u);
  EXPECT_NE(par[0].body.find("\"account\":\"13800000000\""), std::string::npos) << par[0].body;
  EXPECT_NE(par[0].body.find("\"usertoken\":\"token-abc\""), std::string::npos) << par[0].body;
}

TEST_F(CliProgram, JsonOutputListsEveryTaskInOrder) {
  const std::string a = Write("a.pdf", "good weather today\n");
  std::string binary(5000, '\0');
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 13);
  const std::string b = Write("b.mp3", binary);
  const RunResult r = Run({"--json", "--quiet", "--from", "en", "--to", "zh", a, b});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  const Json::Value v = ParseJson(r.out);
  EXPECT_TRUE(v["ok"].asBool());
  ASSERT_EQ(v["tasks"].size(), 2u);
  EXPECT_EQ(v["tasks"][0]["source"].asString(), a);
  EXPECT_EQ(v["tasks"][0]["kind"].asString(), "document");
  EXPECT_EQ(v["tasks"][0]["resultPath"].asString(), out_ + "a_zh.pdf");
  EXPECT_EQ(v["tasks"][0]["resultText"].asString(), Emulator::Translate("good weather today\n", "en", "zh"));
  EXPECT_EQ(v["tasks"][1]["kind"].asString(), "audio");
  EXPECT_EQ(v["tasks"][1]["resultPath"].asString(), out_ + "b_zh.txt");
  EXPECT_EQ(v["tasks"][1]["resultText"].asString(), ReadAll(out_ + "b_zh.txt"));
  for (const auto& t : v["tasks"]) {
    EXPECT_TRUE(t["ok"].asBool());
    EXPECT_EQ(t["notification"].asString(), "uploadfilesuccess");
  }
}

TEST_F(CliProgram, FailedTaskExitsNonZeroWithTheReason) {
  emulator::TaskBehaviour b;
  b.processingTime = std::chrono::milliseconds(0);
  b.finalCode = 19025;
  emu_->SetTaskBehaviour(b);
  const std::string file = Write("a.docx", "hello");
  const RunResult plain = Run({"--from", "en", "--to", "zh", file});
  EXPECT_EQ(plain.exitCode, 1);
  EXPECT_TRUE(plain.out.empty()) << plain.out;
  EXPECT_NE(plain.err.find("a.docx: the service could not translate the task"), std::string::npos)
      << plain.err;

  const RunResult json = Run({"--json", "--from", "en", "--to", "zh", file});
  EXPECT_EQ(json.exitCode, 1);
  const Json::Value v = ParseJson(json.out);
  EXPECT_FALSE(v["ok"].asBool());
  ASSERT_EQ(v["tasks"].size(), 1u);
  EXPECT_EQ(v["tasks"][0]["notification"].asString(), "uploadfilefaild");
  EXPECT_FALSE(v["tasks"][0]["error"].asString().empty());
  EXPECT_TRUE(v["tasks"][0]["resultPath"].asString().empty());
}

TEST_F(CliProgram, UnreachableServiceAndUsageErrors) {
  emu_->Stop();
  const std::string file = Write("a.docx", "hello");
  const RunResult down = Run({"--from", "en", "--to", "zh", file});
  EXPECT_EQ(down.exitCode, 1);
  EXPECT_NE(down.err.find("service parameters could not be obtained"), std::string::npos) << down.err;

  const RunResult noTarget = Run({"--from", "en", file});
  EXPECT_EQ(noTarget.exitCode, 2);
  EXPECT_NE(noTarget.err.find("--to"), std::string::npos);
  const RunResult missing = Run({"--from", "en", "--to", "zh", dir_ + "absent.docx"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("absent.docx"), std::string::npos);
}

TEST(CliOptions, ParsesAndChecksTheCommandLine) {
  std::string error;
  auto o = ParseCommandLine({"--json", "--from=zh", "--to", "en-US", "a.docx", "--", "--b.pdf"}, error);
  ASSERT_TRUE(o.has_value()) << error;
  EXPECT_TRUE(o->json);
  EXPECT_EQ(o->from, "zh");
  EXPECT_EQ(o->to, "en-US");
  EXPECT_EQ(o->files, (std::vector<std::string>{"a.docx", "--b.pdf"}));

  EXPECT_FALSE(ParseCommandLine({"--from", "zh", "--to", "en", "--text", "x", "a.pdf"}, error));
  EXPECT_FALSE(ParseCommandLine({"--from", "zh", "--to", "en"}, error));
  EXPECT_FALSE(ParseCommandLine({"--from", "zh", "--to", "../x", "a.pdf"}, error));
  EXPECT_FALSE(ParseCommandLine({"--from", "zh", "--to"}, error));
  EXPECT_FALSE(ParseCommandLine({"--from", "zh", "--to", "en", "--type", "video", "a"}, error));
  EXPECT_FALSE(ParseCommandLine({"--colour"}, error));
  EXPECT_TRUE(ParseCommandLine({"--help"}, error).has_value());
}

TEST(CliOptions, TasksLookLikeThoseOfThePages) {
  EXPECT_EQ(KindOfFile("/x/a.PDF"), FileKind::kDocument);
  EXPECT_EQ(KindOfFile("/x/a.wma"), FileKind::kAudio);
  EXPECT_EQ(KindOfFile("/x/a.Jpg"), FileKind::kPicture);
  EXPECT_EQ(KindOfFile("/x.mp3/a"), FileKind::kAuto);

  std::string error;
  const auto text = MakeTextTask("hi", 1, "en", "zh", error);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(text->sourcePath, "fanyiwendang1.txt");
  EXPECT_EQ(text->outputExt, "txt");
  EXPECT_FALSE(text->isDocument);
  EXPECT_TRUE(MakeTextTask(std::string(30000, 'a'), 1, "en", "zh", error).has_value());
  EXPECT_FALSE(MakeTextTask(std::string(30001, 'a'), 1, "en", "zh", error).has_value());
  // Counted in UTF-16 units: 15000 characters beyond the basic plane are 30000 units.
  std::string astral;
  for (int i = 0; i < 15001; ++i) astral += "\xf0\x9f\x98\x80";
  EXPECT_FALSE(MakeTextTask(astral, 1, "en", "zh", error).has_value());
  EXPECT_FALSE(MakeTextTask("", 1, "en", "zh", error).has_value());
}

}  // namespace
}  // namespace quillora::cli
