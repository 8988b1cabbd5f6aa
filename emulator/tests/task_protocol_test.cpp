// The translation API end to end over HTTPS: signatures, chunked upload,
// the task life cycle, previews and result files.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "common/codec.h"
#include "emulator/tests/emulator_fixture.h"

namespace quillora::emulator::testing {
namespace {

constexpr size_t kChunk = 4194304;

TEST_F(EmulatorTest, ServesTlsThatVerifiesForIpAndLocalhost) {
  ASSERT_FALSE(emu.CaFile().empty());
  // Host verification on, only the CA file trusted.
  HttpResult byIp = Get(emu.StatsBase() + "/ver1/getUnixTime", emu.CaFile());
  EXPECT_TRUE(byIp.Ok()) << curl_easy_strerror(byIp.curl);
  std::string localhost = emu.ApiBase();
  localhost.replace(localhost.find("127.0.0.1"), 9, "localhost");
  HttpResult byName = Post(localhost + "/api/v4/memparm", "{}", emu.CaFile());
  EXPECT_TRUE(byName.Ok()) << curl_easy_strerror(byName.curl);
  // Without the CA the peer is not trusted.
  HttpResult untrusted = Get(emu.StatsBase() + "/ver1/getUnixTime", "/dev/null");
  EXPECT_FALSE(untrusted.Ok());

  ServiceSettings s = emu.Settings();
  EXPECT_EQ(s.apiBase.rfind("https://127.0.0.1:", 0), 0u);
  EXPECT_EQ(s.previewBase.rfind("http://127.0.0.1:", 0), 0u);
  EXPECT_EQ(s.caFile, emu.CaFile());
  std::string ini = emu.ServiceIniSection();
  EXPECT_EQ(ini.rfind("[Service]\n", 0), 0u);
  EXPECT_NE(ini.find("\nApi=" + s.apiBase + "\n"), std::string::npos);
  EXPECT_NE(ini.find("\nCAFile=" + s.caFile + "\n"), std::string::npos);
  std::string path = emu.StateDir() + "/set.ini";
  ASSERT_TRUE(emu.WriteServiceIni(path));
  std::ifstream in(path);
  std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, ini);
  EXPECT_FALSE(emu.WriteServiceIni("/nonexistent-dir/set.ini"));
}

TEST_F(EmulatorTest, ChecksSignaturesAndBodyLayout) {
  Members m = {{"productid", "342"}, {"softname", "Quillora"}, {"softversion", "1.0.0"}};
  EXPECT_EQ(Api("memparm", m)["code"].asInt(), 10000);
  EXPECT_EQ(Api("memparm", m, false)["code"].asInt(), kCodeBadSignature);

  std::string tampered = BodyFor(m);
  tampered.replace(tampered.find("1.0.0"), 5, "1.0.1");
  EXPECT_EQ(ParseAnswer(RawApi("memparm", tampered).body)["code"].asInt(), kCodeBadSignature);

  // Unsorted members, a number value, garbage, a missing member.
  std::string unsorted = "{\"softname\":\"Quillora\",\"productid\":\"342\",\"softversion\":\"1.0.0\",\"datasign\":\"" +
                         SignatureFor(m) + "\"}";
  EXPECT_EQ(ParseAnswer(RawApi("memparm", unsorted).body)["code"].asInt(), kCodeMalformed);
  EXPECT_EQ(ParseAnswer(RawApi("memparm", "{\"productid\":342}").body)["code"].asInt(), kCodeMalformed);
  EXPECT_EQ(ParseAnswer(RawApi("memparm", std::string("\x00\xff{{", 4)).body)["code"].asInt(), kCodeMalformed);
  EXPECT_EQ(Api("memparm", {{"productid", "342"}})["code"].asInt(), kCodeMalformed);
  EXPECT_EQ(Api("nosuchthing", m)["code"].asInt(), kCodeUnknownEndpoint);

  // Every request was journaled with its body and the answer's code.
  auto journal = emu.Requests("/api/v4/memparm");
  ASSERT_EQ(journal.size(), 7u);
  EXPECT_EQ(journal[0].code, 10000);
  EXPECT_EQ(journal[0].body, BodyFor(m));
  EXPECT_EQ(journal[0].Header("content-type"), "application/json");
  EXPECT_EQ(journal[1].code, kCodeBadSignature);
}

TEST_F(EmulatorTest, DocumentTaskLifeCycle) {
  TaskBehaviour slow;
  slow.processingTime = std::chrono::milliseconds(300);
  emu.SetTaskBehaviour(slow);
  std::string info = Memparm();
  CreatedTask t = UploadPar("fanyi", "QuilloraFileSize1.txt", "txt", {{"parainfo", "tempfile:txt;maxlimit:char0page0;"}});

  // 4 MiB + 1 byte of text: two chunks, the second one byte long.
  std::string line = "你好世界 hello\r\n";
  std::string file;
  while (file.size() < kChunk) file += line;
  file.resize(kChunk);
  file.back() = '\n';
  file += "X";
  EXPECT_EQ(ChunkCode(t, 2, 0, file.substr(0, kChunk)), 11000);
  EXPECT_EQ(State(t, info)["code"].asInt(), 19000) << "polling before the upload ends fails the task";
  auto started = std::chrono::steady_clock::now();  // processing starts when the last chunk arrives
  EXPECT_EQ(ChunkCode(t, 2, 1, file.substr(kChunk)), 10000);
  EXPECT_EQ(emu.UploadedBytes(t.tag), file);

  EXPECT_EQ(State(t, info)["code"].asInt(), kCodeProcessing);
  EXPECT_EQ(Api("taskdown", TaskMembers(t, info))["code"].asInt(), kCodeTaskNotDone);
  Json::Value done = WaitDone(t, info);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
  ASSERT_EQ(done["code"].asInt(), 10000);

  // The client drops 13 leading and 2 trailing characters to get the name.
  std::string infos = done["fileconvertinfos"].asString();
  ASSERT_GT(infos.size(), 15u);
  std::string name = infos.substr(13, infos.size() - 15);
  EXPECT_EQ(name, t.tag + "_en.txt");
  HttpResult preview = Get(emu.PreviewBase() + "/preview/fanyi/" + name);
  ASSERT_EQ(preview.status, 200);
  EXPECT_EQ(preview.body.rfind("[en] hello world hello\r\n[en] hello world hello\r\n", 0), 0u);

  std::string result = Download(t, info);
  EXPECT_EQ(result, Emulator::Translate(file, "zh", "en"));
  EXPECT_EQ(Get(emu.PreviewBase() + "/preview/fanyi/..%2Fca.pem").status, 404);
}

TEST_F(EmulatorTest, TextAndAudioTasksAnswerWithText) {
  std::string info = Memparm();
  CreatedTask text = UploadPar("fanyi", "QuilloraFileSize1.txt", "txt");
  // "你好" and U+1F600 as the client escapes them: every UTF-16 unit as \uXXXX.
  std::string escaped = "\\u4f60\\u597d\\u0020\\ud83d\\ude00";
  Members upload = {{"fileindex", "0"}, {"tasktag", text.tag}, {"tasktoken", text.token},
                    {"textvoice", escaped}, {"timestamp", text.timestamp}};
  EXPECT_EQ(Api("uploadtext", upload, false)["code"].asInt(), 10000);
  EXPECT_EQ(Api("uploadtext", upload, false)["code"].asInt(), kCodeUploadRepeated) << "a second upload";
  Json::Value done = WaitDone(text, info);
  ASSERT_EQ(done["code"].asInt(), 10000);
  EXPECT_EQ(done["txtcontent"].asString(), "[en] hello \xF0\x9F\x98\x80");
  EXPECT_FALSE(done.isMember("fileconvertinfos"));
  EXPECT_EQ(Download(text, info), done["txtcontent"].asString());

  CreatedTask audio = UploadPar("voicefanyi", "QuilloraFileSize2.mp3", "txt");
  EXPECT_EQ(ChunkCode(audio, 1, 0, std::string("ID3\0\0\x01\x02", 7)), 10000);
  done = WaitDone(audio, info);
  ASSERT_EQ(done["code"].asInt(), 10000);
  EXPECT_EQ(done["txtcontent"].asString().rfind("[en] hello, world! this is a audio file.", 0), 0u)
      << done["txtcontent"].asString();

  // An empty file sends no chunk; the task still finishes.
  CreatedTask empty = UploadPar("fanyi", "QuilloraFileSize3.docx", "docx");
  EXPECT_EQ(WaitDone(empty, info)["code"].asInt(), 10000);
  EXPECT_EQ(Download(empty, info), "");
}

TEST_F(EmulatorTest, LongLinesAreTranslatedInPiecesWithoutLoss) {
  std::string info = Memparm();
  CreatedTask t = UploadPar("fanyi", "QuilloraFileSize1.txt", "txt");
  std::string file(200 * 1024, 'a');
  file += " hello";
  ASSERT_EQ(ChunkCode(t, 1, 0, file), 10000);
  ASSERT_EQ(WaitDone(t, info)["code"].asInt(), 10000);
  std::string result = Download(t, info);
  EXPECT_EQ(std::count(result.begin(), result.end(), 'a'), 200 * 1024);
  EXPECT_EQ(result.substr(result.size() - 6), " hello");
  EXPECT_EQ(result.rfind("[en] ", 0), 0u);
}

TEST_F(EmulatorTest, EnforcesChunkOrderCountAndSize) {
  CreatedTask t = UploadPar("fanyi", "QuilloraFileSize1.pdf", "pdf");
  std::string full(kChunk, 'a');
  EXPECT_EQ(ChunkCode(t, 3, 1, full), kCodeChunkOutOfOrder);
  EXPECT_EQ(ChunkCode(t, 3, 0, std::string(100, 'a')), kCodeChunkSize) << "only the last chunk may be short";
  EXPECT_EQ(ChunkCode(t, 3, 3, full), kCodeChunkNumbering);
  EXPECT_EQ(ChunkCode(t, 0, 0, full), kCodeChunkNumbering);
  EXPECT_EQ(ChunkCode(t, 3, 0, full), 11000) << "a rejected chunk leaves nothing behind";
  EXPECT_EQ(ChunkCode(t, 3, 0, full), kCodeChunkDuplicate);
  EXPECT_EQ(ChunkCode(t, 4, 1, full), kCodeChunkNumbering) << "the count may not change";
  EXPECT_EQ(ChunkCode(t, 3, 1, std::string(kChunk, 'b')), 11000);
  EXPECT_EQ(ChunkCode(t, 3, 2, ""), kCodeChunkSize) << "an empty last chunk";
  EXPECT_EQ(ChunkCode(t, 3, 2, "tail"), 10000);
  EXPECT_EQ(ChunkCode(t, 3, 2, "tail"), kCodeChunkDuplicate);
  EXPECT_EQ(std::filesystem::file_size(emu.UploadPath(t.tag)), 2 * kChunk + 4);

  CreatedTask forged = t;
  forged.token = "K0";
  EXPECT_EQ(ChunkCode(forged, 1, 0, "x"), kCodeTaskMismatch);
  forged.tag = "Tnope";
  EXPECT_EQ(ChunkCode(forged, 1, 0, "x"), kCodeUnknownTask);
  std::string base = emu.ApiBase() + "/api/v4/uploadfile?tasktag=" + t.tag + "&timestamp=" + t.timestamp +
                     "&tasktoken=" + t.token + "&fileindex=0";
  for (const char* bad : {"&chunks=3&chunk=-1", "&chunks=3&chunk=abc", "&chunks=99999999999&chunk=0"}) {
    EXPECT_EQ(ParseAnswer(Post(base + bad, "x", emu.CaFile()).body)["code"].asInt(), kCodeChunkNumbering) << bad;
  }
  // The query must hold the six names in the client's order, each once.
  for (const char* bad : {"&chunks=3", "&chunk=0&chunks=3", "&chunks=3&chunk=0&chunk=0"}) {
    EXPECT_EQ(ParseAnswer(Post(base + bad, "x", emu.CaFile()).body)["code"].asInt(), kCodeQueryOrder) << bad;
  }
  HttpResult noParams = Post(emu.ApiBase() + "/api/v4/uploadfile", "x", emu.CaFile());
  EXPECT_EQ(ParseAnswer(noParams.body)["code"].asInt(), kCodeQueryOrder);
}

TEST_F(EmulatorTest, ConfiguredFailureEndsTheTaskAndChecksTheUser) {
  TaskBehaviour failing;
  failing.processingTime = std::chrono::milliseconds(0);
  failing.finalCode = 18000;
  emu.SetTaskBehaviour(failing);
  std::string info = Memparm();
  CreatedTask t = UploadPar("ocrfanyi", "QuilloraFileSize1.png", "txt");
  EXPECT_EQ(ChunkCode(t, 1, 0, "\x89PNG"), 10000);
  EXPECT_EQ(WaitDone(t, info)["code"].asInt(), 18000);
  EXPECT_EQ(Api("taskdown", TaskMembers(t, info))["code"].asInt(), 18000);
  EXPECT_EQ(State(t, "pi-forged")["code"].asInt(), kCodeMalformed);

  // A signed-in user's account and token must belong together.
  User u;
  u.username = "13800000000";
  u.usertoken = "tok-1";
  emu.AddUser(u);
  Members members = {{"tasktype", "fanyi"},    {"limitsize", "30720"}, {"filename", "QuilloraFileSize1.txt"},
                     {"filecount", "1"},       {"isshare", "0"},       {"timestamp", std::to_string(std::time(nullptr))},
                     {"softname", "Quillora"}, {"softversion", "1"},   {"machineid", "m"},
                     {"productid", "342"},     {"fanyi_from", "zh"},   {"fanyi_to", "en"},
                     {"outputfileextension", "txt"}, {"account", "13800000000"}};
  members.emplace_back("usertoken", "tok-1");
  EXPECT_EQ(Api("uploadpar", members)["code"].asInt(), 10000);
  members.back().second = "tok-2";
  EXPECT_EQ(Api("uploadpar", members)["code"].asInt(), kCodeBadUser);
}

}  // namespace
}  // namespace quillora::emulator::testing
