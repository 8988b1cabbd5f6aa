// quillora-cli translations against the embedded emulator.
#include "cli/tests/cli_fixture.h"

namespace quillora::cli {
namespace {

using cli_testing::CliProgram;
using cli_testing::ReadAll;
using cli_testing::RunResult;
using emulator::Emulator;

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
