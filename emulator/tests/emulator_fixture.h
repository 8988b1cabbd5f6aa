#pragma once
// A started emulator and the client steps its tests repeat.
#include <gtest/gtest.h>
#include <json/json.h>

#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "emulator/emulator.h"
#include "emulator/tests/http_client.h"

namespace quillora::emulator::testing {

using Members = std::vector<std::pair<std::string, std::string>>;

struct CreatedTask {
  std::string tag, token, timestamp;
};

class EmulatorTest : public ::testing::Test {
 protected:
  explicit EmulatorTest(Options o = {}) : emu(o) {}

  void SetUp() override {
    ASSERT_TRUE(emu.Start()) << emu.LastError();
    TaskBehaviour quick;
    quick.processingTime = std::chrono::milliseconds(0);
    emu.SetTaskBehaviour(quick);
  }

  HttpResult RawApi(const std::string& endpoint, const std::string& body) {
    return Post(emu.ApiBase() + "/api/v4/" + endpoint, body, emu.CaFile());
  }
  Json::Value Api(const std::string& endpoint, const Members& members, bool sign = true) {
    HttpResult r = RawApi(endpoint, BodyFor(members, sign));
    EXPECT_TRUE(r.Ok()) << curl_easy_strerror(r.curl);
    return ParseAnswer(r.body);
  }

  std::string Memparm() {
    Json::Value v = Api("memparm", {{"productid", "342"}, {"softname", "Quillora"}, {"softversion", "1.0.0"}});
    EXPECT_EQ(v["code"].asInt(), 10000);
    return v["productinfo"].asString();
  }

  CreatedTask UploadPar(const std::string& type, const std::string& filename, const std::string& ext,
                        Members extra = {}) {
    Members m = {{"tasktype", type},         {"limitsize", "30720"},   {"filename", filename},
                 {"filecount", "1"},         {"isshare", "0"},         {"timestamp", std::to_string(std::time(nullptr))},
                 {"softname", "Quillora"},   {"softversion", "1.0.0"}, {"machineid", "m1"},
                 {"productid", "342"},       {"fanyi_from", "zh"},     {"fanyi_to", "en"},
                 {"outputfileextension", ext}};
    for (auto& e : extra) m.push_back(e);
    Json::Value v = Api("uploadpar", m);
    EXPECT_EQ(v["code"].asInt(), 10000) << v.toStyledString();
    EXPECT_TRUE(v["tasktag"].isString() && v["tasktoken"].isString() && v["timestamp"].isString());
    return {v["tasktag"].asString(), v["tasktoken"].asString(), v["timestamp"].asString()};
  }

  HttpResult Chunk(const CreatedTask& t, int chunks, int chunk, const std::string& bytes) {
    std::string url = emu.ApiBase() + "/api/v4/uploadfile?tasktag=" + t.tag + "&timestamp=" + t.timestamp +
                      "&tasktoken=" + t.token + "&fileindex=0&chunks=" + std::to_string(chunks) +
                      "&chunk=" + std::to_string(chunk);
    return Post(url, bytes, emu.CaFile());
  }
  int ChunkCode(const CreatedTask& t, int chunks, int chunk, const std::string& bytes) {
    HttpResult r = Chunk(t, chunks, chunk, bytes);
    EXPECT_TRUE(r.Ok());
    return ParseAnswer(r.body)["code"].asInt();
  }

  Members TaskMembers(const CreatedTask& t, const std::string& productinfo) {
    return {{"deviceid", "m1"}, {"timestamp", t.timestamp}, {"productinfo", productinfo}, {"tasktag", t.tag}};
  }
  Json::Value State(const CreatedTask& t, const std::string& productinfo) {
    Members m = TaskMembers(t, productinfo);
    m.emplace_back("ifshowtxt", "1");
    return Api("taskstate", m);
  }
  // Polls the task state until it leaves the processing code or the deadline passes.
  Json::Value WaitDone(const CreatedTask& t, const std::string& productinfo,
                       std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    auto end = std::chrono::steady_clock::now() + deadline;
    Json::Value v;
    do {
      v = State(t, productinfo);
      if (v["code"].asInt() != kCodeProcessing) return v;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < end);
    return v;
  }
  std::string Download(const CreatedTask& t, const std::string& productinfo) {
    Json::Value v = Api("taskdown", TaskMembers(t, productinfo));
    EXPECT_EQ(v["code"].asInt(), 10000) << v.toStyledString();
    HttpResult r = Get(v["downurl"].asString());
    EXPECT_EQ(r.status, 200);
    return r.body;
  }

  Emulator emu;
};

}  // namespace quillora::emulator::testing
