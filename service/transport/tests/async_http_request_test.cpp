#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/transport/async_http_request.h"
#include "service/transport/http.h"
#include "service/transport/remote_services.h"
#include "service/transport/signing.h"
#include "service/transport/tests/fixture_server.h"

namespace quillora {
namespace {

using namespace std::chrono_literals;
using testing_support::ClosedPort;
using testing_support::FixtureServer;
using testing_support::SettingsGuard;
using testing_support::SilentServer;
using Clock = std::chrono::steady_clock;

struct Delivery {
  std::int32_t kind;
  std::int32_t userValue;
  std::string response;
  std::u16string wide;
};

// Collects callbacks, which arrive on the request object's thread.
class Inbox {
 public:
  static void Narrow(void* context, std::int32_t kind, std::int32_t userValue, std::string response) {
    static_cast<Inbox*>(context)->Add({kind, userValue, std::move(response), {}});
  }
  static void Wide(void* context, std::int32_t kind, std::int32_t userValue, std::u16string response) {
    static_cast<Inbox*>(context)->Add({kind, userValue, {}, std::move(response)});
  }

  // Waits until `count` deliveries arrived; false at the deadline.
  bool WaitFor(std::size_t count, std::chrono::milliseconds deadline = 15s) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, deadline, [&] { return items_.size() >= count; });
  }
  std::vector<Delivery> Items() {
    std::lock_guard lock(mutex_);
    return items_;
  }

 private:
  void Add(Delivery d) {
    {
      std::lock_guard lock(mutex_);
      items_.push_back(std::move(d));
    }
    arrived_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Delivery> items_;
};

TEST(AsyncPost, DeliversAnswerWithContextKindAndUserValue) {
  FixtureServer server;
  server.Http().Post("/api/v4/login", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(R"({"code":10000,"echo":")" + req.body.substr(0, 5) + "\"}", "application/json");
  });
  server.Http().Post("/form", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("{\"msg\":\"\xE4\xBD\xA0\xE5\xA5\xBD\"}", "application/json");
  });
  server.Start();

  Inbox inbox;
  AsyncHttpRequest json(&inbox, 10, &Inbox::Narrow, 7);
  std::string body = R"({"a":"1"})";
  ASSERT_TRUE(json.PostJson(server.Base() + "/api/v4/login", body));
  body = "overwritten";  // the object keeps its own copy
  ASSERT_TRUE(inbox.WaitFor(1));
  json.SetUserValue(8);
  AsyncHttpRequest form(&inbox, 11, &Inbox::Wide, 3);
  ASSERT_TRUE(form.PostForm(server.Base() + "/form", "x=1&y=2"));
  ASSERT_TRUE(inbox.WaitFor(2));

  const auto items = inbox.Items();
  EXPECT_EQ(items[0].kind, 10);
  EXPECT_EQ(items[0].userValue, 7);
  EXPECT_EQ(items[0].response, R"({"code":10000,"echo":"{"a":"})");
  EXPECT_EQ(items[1].kind, 11);
  EXPECT_EQ(items[1].userValue, 3);
  EXPECT_EQ(items[1].wide, u"{\"msg\":\"\u4f60\u597d\"}");

  const auto seen = server.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].body, R"({"a":"1"})");
  EXPECT_EQ(seen[0].Header("Content-Type"), "application/json");
  EXPECT_EQ(seen[1].body, "x=1&y=2");
  EXPECT_EQ(seen[1].Header("Content-Type"), "application/x-www-form-urlencoded;charset:utf-8");
}

TEST(AsyncPost, SecondPostWhileBusyIsDroppedWithoutCallback) {
  FixtureServer server;
  server.Http().Post(R"(/p(\d))", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(std::string("{\"code\":") + req.matches[1].str() + "}", "application/json");
  });
  server.Start();
  Inbox inbox;
  AsyncHttpRequest request(&inbox, 10, &Inbox::Narrow, 0);
  EXPECT_TRUE(request.PostForm(server.Base() + "/p1", "a=1"));
  EXPECT_FALSE(request.PostForm(server.Base() + "/p2", "a=2"));
  ASSERT_TRUE(inbox.WaitFor(1));
  // Once idle the object takes requests again; callbacks come in order, so
  // the next one being p3's shows p2 never produced one.
  const auto deadline = Clock::now() + 5s;
  while (request.Busy() && Clock::now() < deadline) std::this_thread::yield();
  EXPECT_TRUE(request.PostForm(server.Base() + "/p3", "a=3"));
  ASSERT_TRUE(inbox.WaitFor(2));
  const auto items = inbox.Items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].response, "{\"code\":1}");
  EXPECT_EQ(items[1].response, "{\"code\":3}");
  const auto seen = server.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].path, "/p3");
}

TEST(AsyncPost, UnreachableHostDeliversSubstitute) {
  Inbox inbox;
  AsyncHttpRequest request(&inbox, 12, &Inbox::Narrow, 0);
  ASSERT_TRUE(request.PostJson("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/api/v4/x", "{}"));
  ASSERT_TRUE(inbox.WaitFor(1, 10s));
  EXPECT_EQ(inbox.Items()[0].response, kSubstituteAnswer);
}

TEST(AsyncPost, SilentHostDeliversSubstituteWithinTenSeconds) {
  SilentServer silent;
  Inbox inbox;
  AsyncHttpRequest request(&inbox, 12, &Inbox::Narrow, 0);
  const auto t0 = Clock::now();
  ASSERT_TRUE(request.PostJson("http://127.0.0.1:" + std::to_string(silent.Port()) + "/api/v4/x", "{}"));
  ASSERT_TRUE(inbox.WaitFor(1, 13s));
  const auto waited = Clock::now() - t0;
  EXPECT_GE(waited, 9s);
  EXPECT_LT(waited, 11500ms);
  EXPECT_EQ(inbox.Items()[0].response, kSubstituteAnswer);
}

TEST(AsyncPost, DestroyingAnObjectInFlightReturnsPromptlyWithoutCallback) {
  SilentServer silent;
  Inbox inbox;
  const auto t0 = Clock::now();
  {
    AsyncHttpRequest request(&inbox, 12, &Inbox::Narrow, 0);
    ASSERT_TRUE(request.PostJson("http://127.0.0.1:" + std::to_string(silent.Port()) + "/x", "{}"));
  }
  EXPECT_LT(Clock::now() - t0, 2s);
  EXPECT_TRUE(inbox.Items().empty());
}

// The statistics exchange against one server that plays the statistics host.
class StatisticsExchange : public ::testing::Test {
 protected:
  void StartWithTimeAnswer(int status, std::string timeAnswer) {
    server_.Http().Get("/ver1/getUnixTime", [status, timeAnswer](const httplib::Request&, httplib::Response& res) {
      res.status = status;
      if (!timeAnswer.empty()) res.set_content(timeAnswer, "application/json");
    });
    server_.Http().Get(R"(/ver1/App.*)", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"({"code":1,"event":"ok"})", "application/json");
    });
    server_.Start();
    ServiceSettings s = CurrentServiceSettings();
    s.statsBase = server_.Base();
    ConfigureRemoteServices(s);
  }

  static AsyncHttpRequest::EventLines Lines() {
    return {StatisticsSignLine(""), "distinct_id:D1",       "os:Windows",         "os_version:10",
            "device_id:D1",         "screen_height:1080",   "screen_width:1920",  "mac_address:D1",
            "install_filename:setup_Quillora_1.0.0.exe",    "software_name:Quillora",
            "software_version:1.0.0"};
  }

  // Runs one exchange; returns the event request the server saw.
  testing_support::SeenRequest Exchange(std::vector<Delivery>& deliveries) {
    Inbox inbox;
    AsyncHttpRequest request(&inbox, 20, &Inbox::Narrow, 5);
    EXPECT_TRUE(request.SendEvent(server_.Base() + "/ver1/AppStart/isLogin/0/isVip/0", Lines()));
    EXPECT_FALSE(request.SendEvent(server_.Base() + "/ver1/AppInstall", Lines()));  // busy: dropped
    EXPECT_TRUE(inbox.WaitFor(2));
    deliveries = inbox.Items();
    const auto seen = server_.Requests();
    EXPECT_EQ(seen.size(), 2u);
    if (seen.size() < 2) return {};
    EXPECT_EQ(seen[0].method, "GET");
    EXPECT_EQ(seen[0].path, "/ver1/getUnixTime");
    EXPECT_EQ(seen[1].method, "GET");
    EXPECT_EQ(seen[1].path, "/ver1/AppStart/isLogin/0/isVip/0");
    return seen[1];
  }

  static void ExpectEventHeaders(const testing_support::SeenRequest& event, const std::string& signValue) {
    EXPECT_EQ(event.Header("Content-Type"), "application/x-www-form-urlencoded;charset:utf-8");
    EXPECT_EQ(event.headers.count("sign"), 1u);  // the caller's own line 1 is replaced
    EXPECT_EQ(event.Header("sign"), signValue);
    EXPECT_EQ(event.Header("distinct_id"), "D1");
    EXPECT_EQ(event.Header("os"), "Windows");
    EXPECT_EQ(event.Header("os_version"), "10");
    EXPECT_EQ(event.Header("device_id"), "D1");
    EXPECT_EQ(event.Header("screen_height"), "1080");
    EXPECT_EQ(event.Header("screen_width"), "1920");
    EXPECT_EQ(event.Header("mac_address"), "D1");
    EXPECT_EQ(event.Header("install_filename"), "setup_Quillora_1.0.0.exe");
    EXPECT_EQ(event.Header("software_name"), "Quillora");
    EXPECT_EQ(event.Header("software_version"), "1.0.0");
  }

  SettingsGuard guard_;
  FixtureServer server_;
};

TEST_F(StatisticsExchange, GoodTimeAnswerSignsOverTheServerTime) {
  const std::string timeAnswer = R"({"code":1,"responseData":{"time":1700000000}})";
  StartWithTimeAnswer(200, timeAnswer);
  std::vector<Delivery> got;
  const auto event = Exchange(got);
  ExpectEventHeaders(event, "57156a7cc64b2952f97eb320285a6670" "1700000000");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].response, timeAnswer);  // the callback sees the time answer first
  EXPECT_EQ(got[1].response, R"({"code":1,"event":"ok"})");
  EXPECT_EQ(got[1].kind, 20);
  EXPECT_EQ(got[1].userValue, 5);
}

TEST_F(StatisticsExchange, FailedTimeQueryStillSendsEventSignedOverSaltAlone) {
  StartWithTimeAnswer(500, "");
  std::vector<Delivery> got;
  const auto event = Exchange(got);
  ExpectEventHeaders(event, "93f2ba1f45f7f9839724c7bfde45d435");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].response, kSubstituteAnswer);
}

TEST_F(StatisticsExchange, TwentyTwoByteTimeAnswerGivesEmptyTime) {
  StartWithTimeAnswer(200, R"({"a":{"t":1700000000}})");
  std::vector<Delivery> got;
  const auto event = Exchange(got);
  ExpectEventHeaders(event, "93f2ba1f45f7f9839724c7bfde45d435");
}

TEST_F(StatisticsExchange, TwentyThreeByteTimeAnswerIsCut) {
  StartWithTimeAnswer(200, R"({"ab":{"t":1700000000}})");
  std::vector<Delivery> got;
  const auto event = Exchange(got);
  ExpectEventHeaders(event, "57156a7cc64b2952f97eb320285a6670" "1700000000");
}

TEST_F(StatisticsExchange, LineBreaksInLinesCannotAddHeaders) {
  StartWithTimeAnswer(200, "");
  Inbox inbox;
  AsyncHttpRequest request(&inbox, 21, &Inbox::Narrow, 0);
  auto lines = Lines();
  lines[2] = "os:Windows\r\nX-Injected: 1";
  ASSERT_TRUE(request.SendEvent(server_.Base() + "/ver1/AppLogin", lines));
  ASSERT_TRUE(inbox.WaitFor(2));
  ASSERT_TRUE(server_.WaitForRequests(2, 5s));
  const auto event = server_.Requests()[1];
  EXPECT_EQ(event.Header("os"), "Windows");
  EXPECT_FALSE(event.HasHeader("X-Injected"));
}

}  // namespace
}  // namespace quillora

namespace quillora {
namespace {

TEST_F(StatisticsExchange, EventHeaderLinesGoInOrder) {
  StartWithTimeAnswer(200, R"({"code":1,"responseData":{"time":1700000000}})");
  testing_support::RawCaptureServer capture;
  Inbox inbox;
  AsyncHttpRequest request(&inbox, 19, &Inbox::Narrow, 0);
  ASSERT_TRUE(request.SendEvent("http://127.0.0.1:" + std::to_string(capture.Port()) + "/ver1/AppInstall", Lines()));
  const auto head = capture.WaitForHead(10s);
  ASSERT_FALSE(head.empty());
  EXPECT_EQ(head[0], "GET /ver1/AppInstall HTTP/1.1");
  std::vector<std::string> ours;  // our lines, without those libcurl adds (Host, Accept)
  for (const auto& line : head) {
    if (line.find(':') != std::string::npos && line.rfind("Host:", 0) != 0 && line.rfind("Accept:", 0) != 0) {
      ours.push_back(line);
    }
  }
  auto expected = Lines();
  expected[0] = StatisticsSignLine("1700000000");
  std::vector<std::string> want{"Content-Type:application/x-www-form-urlencoded;charset:utf-8"};
  want.insert(want.end(), expected.begin(), expected.end());
  EXPECT_EQ(ours, want);
  EXPECT_TRUE(inbox.WaitFor(2));
}

TEST_F(StatisticsExchange, RawTextInTheEventPathArrives) {
  StartWithTimeAnswer(200, "");
  Inbox inbox;
  AsyncHttpRequest request(&inbox, 21, &Inbox::Narrow, 0);
  const std::string reason = "\xE9\xAA\x8C\xE8\xAF\x81\xE7\xA0\x81 wrong";  // raw UTF-8 with a space
  ASSERT_TRUE(request.SendEvent(server_.Base() + "/ver1/AppLogin/loginMethod/mobile/isSuccess/0/failReason/" + reason +
                                    "/isVip/0",
                                Lines()));
  ASSERT_TRUE(inbox.WaitFor(2));
  ASSERT_TRUE(server_.WaitForRequests(2, 5s));
  EXPECT_EQ(server_.Requests()[1].path, "/ver1/AppLogin/loginMethod/mobile/isSuccess/0/failReason/" + reason + "/isVip/0");
  EXPECT_EQ(inbox.Items()[1].response, R"({"code":1,"event":"ok"})");
}

}  // namespace
}  // namespace quillora
