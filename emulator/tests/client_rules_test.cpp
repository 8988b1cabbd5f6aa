// The emulator as a strict referee: requests that only a faulty client would
// send are refused with the emulator's own codes.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "emulator/client_rules.h"
#include "emulator/tests/emulator_fixture.h"

namespace quillora::emulator::testing {
namespace {

std::string Now(int64_t shift = 0) { return std::to_string(static_cast<int64_t>(std::time(nullptr)) + shift); }

Members GoodUploadPar() {
  return {{"tasktype", "fanyi"},     {"limitsize", "30720"},      {"filename", "QuilloraFileSize1.docx"},
          {"filecount", "1"},        {"isshare", "0"},            {"timestamp", Now()},
          {"softname", "Quillora"},  {"softversion", "1.0.0"},    {"machineid", "m1"},
          {"productid", "342"},      {"fanyi_from", "zh"},        {"fanyi_to", "en"},
          {"outputfileextension", "docx"}, {"parainfo", "tempfile:txt;maxlimit:char0page0;"}};
}

Members With(Members m, const std::string& key, const std::string& value) {
  for (auto& [k, v] : m) {
    if (k == key) {
      v = value;
      return m;
    }
  }
  m.emplace_back(key, value);
  return m;
}

std::string UpdateBody(const std::string& machineCode, const std::string& guid) {
  return R"({"software_name":"Quillora","software_version":"1.0.0","software_package":"setup_Quillora_1.0.0.exe",)"
         R"("machine_code":")" + machineCode + R"(","guid":")" + guid + R"(","time":"","token":""})";
}

TEST(ClientRules, UploadNamesEscapedTextAndChunkQueries) {
  for (const char* good : {"QuilloraFileSize1.docx", "QuilloraFileSize12", "QuilloraFileSize3.t\"x"})
    EXPECT_TRUE(IsUploadName(good)) << good;
  for (const char* bad : {"a.txt", "QuilloraFileSize.txt", "QuilloraFileSize0.txt", "QuilloraFileSize01.txt",
                          "QuilloraFileSize1x.txt", "QuilloraFileSize1.tar.gz", "QuilloraFileSize1./x", ""})
    EXPECT_FALSE(IsUploadName(bad)) << bad;

  EXPECT_TRUE(IsUnitEscapedText("\\u4f60\\u597d"));
  EXPECT_TRUE(IsUnitEscapedText(""));
  for (const char* bad : {"A", "\\u4F60", "\\u4f6", "\\u4f60x", "\\n", "\\\\u0041"})
    EXPECT_FALSE(IsUnitEscapedText(bad)) << bad;

  EXPECT_TRUE(ChunkQueryInClientOrder("tasktag=T&timestamp=1&tasktoken=K&fileindex=0&chunks=2&chunk=1"));
  EXPECT_TRUE(ChunkQueryInClientOrder("tasktag=&timestamp=&tasktoken=&fileindex=0&chunks=1&chunk=0"));
  for (const char* bad : {"", "tasktag=T", "timestamp=1&tasktag=T&tasktoken=K&fileindex=0&chunks=2&chunk=1",
                          "tasktag=T&timestamp=1&tasktoken=K&fileindex=0&chunks=2&chunk=1&x=1",
                          "tasktag&timestamp=1&tasktoken=K&fileindex=0&chunks=2&chunk=1"})
    EXPECT_FALSE(ChunkQueryInClientOrder(bad)) << bad;
}

TEST(ClientRules, UpdateBodyInTheClientsLayoutOnly) {
  EXPECT_EQ(CheckUpdateBody(UpdateBody("1700000000", "1700000000")).code, 0);
  EXPECT_EQ(CheckUpdateBody(UpdateBody("1700000000", "1700000001")).code, kCodeUpdateTime);
  EXPECT_EQ(CheckUpdateBody(UpdateBody("", "")).code, kCodeUpdateTime);
  EXPECT_EQ(CheckUpdateBody(UpdateBody("-1", "-1")).code, kCodeUpdateTime);
  // Shuffled, extra, missing and non-string members.
  EXPECT_EQ(CheckUpdateBody(R"({"software_version":"1","software_name":"Quillora","software_package":"p",)"
                            R"("machine_code":"1","guid":"1","time":"","token":""})").code,
            kCodeUpdateLayout);
  std::string extra = UpdateBody("1", "1");
  extra.insert(extra.size() - 1, R"(,"admin":"1")");
  EXPECT_EQ(CheckUpdateBody(extra).code, kCodeUpdateLayout);
  EXPECT_EQ(CheckUpdateBody(R"({"software_name":"Quillora"})").code, kCodeUpdateLayout);
  std::string number = UpdateBody("1", "1");
  number.replace(number.find(R"("guid":"1")"), 10, R"("guid":1)");
  EXPECT_EQ(CheckUpdateBody(number).code, kCodeMalformed);
}

class StrictEmulator : public EmulatorTest {
 protected:
  int UploadParCode(const Members& m) { return Api("uploadpar", m)["code"].asInt(); }
};

TEST_F(StrictEmulator, TaskCreationHoldsTheClientToItsIdentityAndClock) {
  EXPECT_EQ(UploadParCode(GoodUploadPar()), 10000);
  EXPECT_EQ(UploadParCode(With(GoodUploadPar(), "extra", "1")), kCodeUndefinedMember);
  for (const char* key : {"productid", "softname", "filecount", "isshare", "limitsize", "parainfo"})
    EXPECT_EQ(UploadParCode(With(GoodUploadPar(), key, "2")), kCodeWrongConstant) << key;
  EXPECT_EQ(UploadParCode(With(GoodUploadPar(), "filename", "report.docx")), kCodeBadUploadName);
  EXPECT_EQ(UploadParCode(With(GoodUploadPar(), "timestamp", "17e8")), kCodeBadTimestamp);
  EXPECT_EQ(UploadParCode(With(GoodUploadPar(), "timestamp", Now(-3600))), kCodeClockSkew);
  EXPECT_EQ(UploadParCode(With(GoodUploadPar(), "timestamp", Now(+601 + 5))), kCodeClockSkew);
  // The window follows the server clock, not the local one.
  emu.SetServerTimeOffset(-3600);
  EXPECT_EQ(UploadParCode(With(GoodUploadPar(), "timestamp", Now(-3600))), 10000);
  EXPECT_EQ(UploadParCode(GoodUploadPar()), kCodeClockSkew);
  // Identity members are checked on memparm too.
  EXPECT_EQ(Api("memparm", {{"productid", "343"}, {"softname", "Quillora"}, {"softversion", "1"}})["code"].asInt(),
            kCodeWrongConstant);
}

TEST_F(StrictEmulator, LaterRequestsMustMatchTheTaskAndTheirOwnLayout) {
  const std::string info = Memparm();
  CreatedTask t = UploadPar("fanyi", "QuilloraFileSize1.txt", "txt");
  Members text = {{"fileindex", "0"}, {"tasktag", t.tag}, {"tasktoken", t.token}, {"textvoice", "hello"},
                  {"timestamp", t.timestamp}};
  EXPECT_EQ(Api("uploadtext", text, false)["code"].asInt(), kCodeBadTextEscape);
  EXPECT_EQ(Api("uploadtext", With(text, "textvoice", "\\u0041"), true)["code"].asInt(), kCodeUndefinedMember)
      << "uploadtext carries no datasign";
  EXPECT_EQ(Api("uploadtext", With(text, "textvoice", "\\u0041"), false)["code"].asInt(), 10000);

  Members state = TaskMembers(t, info);
  state.emplace_back("ifshowtxt", "1");
  EXPECT_EQ(Api("taskstate", With(state, "deviceid", "m2"))["code"].asInt(), kCodeDeviceMismatch);
  EXPECT_EQ(Api("taskdown", With(TaskMembers(t, info), "deviceid", "m2"))["code"].asInt(), kCodeDeviceMismatch);
  EXPECT_EQ(Api("taskstate", With(state, "ifshowtxt", "0"))["code"].asInt(), kCodeWrongConstant);
  EXPECT_EQ(Api("taskdown", state)["code"].asInt(), kCodeUndefinedMember) << "ifshowtxt belongs to taskstate";
  EXPECT_NE(WaitDone(t, info)["code"].asInt(), kCodeDeviceMismatch);
}

TEST_F(StrictEmulator, RequestsMustSayTheyCarryJson) {
  HttpRequest r;
  r.method = "POST";
  r.caFile = emu.CaFile();
  r.headers = {"Content-Type:application/x-www-form-urlencoded"};
  r.url = emu.ApiBase() + "/api/v4/memparm";
  r.body = BodyFor({{"productid", "342"}, {"softname", "Quillora"}, {"softversion", "1"}});
  for (const std::string& url :
       {emu.ApiBase() + "/api/v4/memparm",
        emu.ApiBase() + "/api/v4/uploadfile?tasktag=T&timestamp=1&tasktoken=K&fileindex=0&chunks=1&chunk=0",
        emu.UpdateBase() + "/ver1/checkUpdate"}) {
    r.url = url;
    HttpResult res = Perform(r);
    EXPECT_EQ(res.status, 415) << url;
    EXPECT_EQ(ParseAnswer(res.body)["code"].asInt(), kCodeContentType) << url;
  }
  EXPECT_EQ(ParseAnswer(Post(emu.UpdateBase() + "/ver1/checkUpdate", UpdateBody("5", "5")).body)["code"].asInt(), 0);
}

}  // namespace
}  // namespace quillora::emulator::testing
