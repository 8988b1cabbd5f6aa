// Fault switches and the journal, through the C++ interface and the control port.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>

#include "emulator/tests/emulator_fixture.h"

namespace quillora::emulator::testing {
namespace {

const Members kMemparm = {{"productid", "342"}, {"softname", "Quillora"}, {"softversion", "1.0.0"}};

TEST_F(EmulatorTest, CodeMalformedAndTruncatedAnswers) {
  Fault f;
  f.path = "/api/v4/memparm";
  f.kind = Fault::Kind::kCode;
  f.code = 18000;
  f.count = 1;
  emu.SetFault(f);
  EXPECT_EQ(Api("memparm", kMemparm)["code"].asInt(), 18000);
  EXPECT_EQ(Api("memparm", kMemparm)["code"].asInt(), 10000) << "the fault lapses after one request";

  f.kind = Fault::Kind::kMalformed;
  f.count = -1;
  emu.SetFault(f);
  HttpResult malformed = RawApi("memparm", BodyFor(kMemparm));
  EXPECT_TRUE(malformed.Ok());
  EXPECT_TRUE(ParseAnswer(malformed.body).isNull());

  f.kind = Fault::Kind::kTruncated;
  emu.SetFault(f);
  HttpResult truncated = RawApi("memparm", BodyFor(kMemparm));
  EXPECT_EQ(truncated.curl, CURLE_PARTIAL_FILE);
  EXPECT_FALSE(truncated.body.empty());
  EXPECT_TRUE(ParseAnswer(truncated.body).isNull());

  // A pattern with "*" covers every path under it; clearing restores answers.
  f.path = "/ver1/*";
  f.kind = Fault::Kind::kCode;
  f.code = 0;
  f.httpStatus = 503;
  emu.SetFault(f);
  HttpResult time = Get(emu.StatsBase() + "/ver1/getUnixTime", emu.CaFile());
  EXPECT_EQ(time.status, 503);
  emu.ClearFaults();
  EXPECT_EQ(Api("memparm", kMemparm)["code"].asInt(), 10000);
  EXPECT_EQ(Get(emu.StatsBase() + "/ver1/getUnixTime", emu.CaFile()).status, 200);
}

TEST_F(EmulatorTest, DroppedConnectionsOnBothSchemes) {
  Fault f;
  f.path = "/api/v4/memparm";
  f.kind = Fault::Kind::kDrop;
  emu.SetFault(f);
  HttpResult https = RawApi("memparm", BodyFor(kMemparm));
  EXPECT_FALSE(https.Ok());
  EXPECT_EQ(https.status, 0);

  f.path = "/ver1/checkUpdate";
  emu.SetFault(f);
  HttpResult http = Post(emu.UpdateBase() + "/ver1/checkUpdate", "{}");
  EXPECT_EQ(http.curl, CURLE_GOT_NOTHING);
  // The server goes on serving.
  emu.ClearFaults();
  EXPECT_EQ(Api("memparm", kMemparm)["code"].asInt(), 10000);
}

TEST_F(EmulatorTest, HangingAnswerIsReleasedByClearingOrStopping) {
  Fault f;
  f.path = "/api/v4/memparm";
  f.kind = Fault::Kind::kHang;
  emu.SetFault(f);
  auto pending = std::async(std::launch::async, [&] { return RawApi("memparm", BodyFor(kMemparm)); });
  ASSERT_TRUE(emu.WaitForRequests("/api/v4/memparm", 1, std::chrono::seconds(10)));
  EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  emu.ClearFault("/api/v4/memparm");
  HttpResult released = pending.get();
  EXPECT_EQ(ParseAnswer(released.body)["code"].asInt(), 10000);

  emu.SetFault(f);
  auto stuck = std::async(std::launch::async, [&] { return RawApi("memparm", BodyFor(kMemparm)); });
  ASSERT_TRUE(emu.WaitForRequests("/api/v4/memparm", 2, std::chrono::seconds(10)));
  auto before = std::chrono::steady_clock::now();
  emu.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  EXPECT_FALSE(stuck.get().Ok());
  EXPECT_FALSE(emu.Running());
}

TEST_F(EmulatorTest, DelayHoldsTheAnswer) {
  Fault f;
  f.path = "/ver1/getUnixTime";
  f.delay = std::chrono::milliseconds(300);
  emu.SetFault(f);
  auto start = std::chrono::steady_clock::now();
  HttpResult r = Get(emu.StatsBase() + "/ver1/getUnixTime", emu.CaFile());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(ParseAnswer(r.body)["code"].asInt(), 1);
}

TEST_F(EmulatorTest, ControlPortDrivesTheSameSwitches) {
  std::string control = emu.ControlBase() + "/control";
  HttpResult set = Post(control + "/fault", R"({"path":"/api/v4/memparm","kind":"code","code":19025,"count":1})");
  ASSERT_EQ(set.status, 200) << set.body;
  EXPECT_EQ(Api("memparm", kMemparm)["code"].asInt(), 19025);
  EXPECT_EQ(Post(control + "/fault", R"({"path":"/x","kind":"explode"})").status, 400);
  EXPECT_EQ(Post(control + "/fault", "not json").status, 400);
  EXPECT_EQ(Post(control + "/fault", R"({"path":"/x","code":"abc"})").status, 400) << "a wrong type, not a crash";
  EXPECT_EQ(Post(control + "/update", R"({"checksum":"yes"})").status, 400);
  EXPECT_EQ(Post(control + "/time", R"({"offset":1e300})").status, 400);

  ASSERT_EQ(Post(control + "/update", R"({"code":1,"version":"2.0.0"})").status, 200);
  EXPECT_EQ(emu.GetUpdate().version, "2.0.0");
  ASSERT_EQ(Post(control + "/task", R"({"processingMs":5,"finalCode":19000})").status, 200);
  EXPECT_EQ(emu.GetTaskBehaviour().finalCode, 19000);

  Json::Value journal = ParseAnswer(Get(control + "/journal?path=/api/v4/memparm").body);
  ASSERT_TRUE(journal.isArray());
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0]["code"].asInt(), 19025);
  EXPECT_EQ(journal[0]["body"].asString(), BodyFor(kMemparm));
  EXPECT_EQ(ParseAnswer(Get(control + "/journal?since=" + journal[0]["seq"].asString()).body).size(), 0u);

  HttpResult ini = Get(control + "/settings");
  EXPECT_EQ(ini.body, emu.ServiceIniSection());
  EXPECT_EQ(Get(control + "/nothing").status, 404);
  ASSERT_EQ(Post(control + "/journal/clear", "").status, 200);
  EXPECT_TRUE(emu.Journal().empty());
  EXPECT_FALSE(emu.WaitForRequests("/api/v4/memparm", 1, std::chrono::milliseconds(50)));
}

TEST_F(EmulatorTest, SurvivesGarbageAndOversizedRequests) {
  // A body beyond any chunk is refused before it is read into memory.
  HttpResult huge = Post(emu.ApiBase() + "/api/v4/uploadpar", std::string(9 * 1024 * 1024, '{'), emu.CaFile());
  EXPECT_EQ(huge.status, 413);
  HttpResult junk = Post(emu.ApiBase() + "/api/v4/taskstate", "{\"a\":\"\\", emu.CaFile());
  EXPECT_EQ(ParseAnswer(junk.body)["code"].asInt(), kCodeMalformed);
  HttpResult update = Post(emu.UpdateBase() + "/ver1/checkUpdate", "[1,2");
  EXPECT_EQ(ParseAnswer(update.body)["code"].asInt(), kCodeMalformed);
  EXPECT_EQ(Api("memparm", kMemparm)["code"].asInt(), 10000);

  // Bytes that are not HTTP at all, on a plain port: an error answer or a close, then service as usual.
  int port = std::stoi(emu.UpdateBase().substr(emu.UpdateBase().rfind(':') + 1));
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const char garbage[] = "\x01\x02\xff GARBAGE /\x00?? HTTP/9\r\n\r\n";
  ASSERT_GT(send(fd, garbage, sizeof garbage - 1, MSG_NOSIGNAL), 0);
  char reply[256];
  ssize_t n = recv(fd, reply, sizeof reply - 1, 0);
  close(fd);
  if (n > 0) {
    EXPECT_EQ(std::string(reply, static_cast<size_t>(n)).substr(0, 9), "HTTP/1.1 ");
  }
  EXPECT_EQ(ParseAnswer(Post(emu.UpdateBase() + "/ver1/checkUpdate", "{}").body)["code"].asInt(), kCodeUpdateLayout);
  EXPECT_EQ(ParseAnswer(Post(emu.UpdateBase() + "/ver1/checkUpdate", "[").body)["code"].asInt(), kCodeMalformed);
}

}  // namespace
}  // namespace quillora::emulator::testing
