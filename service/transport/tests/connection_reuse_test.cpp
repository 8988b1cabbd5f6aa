// Requests of every kind share connections, TLS sessions and the trust store,
// from any thread, also while the trust store is being replaced.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "service/transport/async_http_request.h"
#include "service/transport/http.h"
#include "service/transport/tests/fixture_server.h"

namespace quillora {
namespace {

using testing_support::FixtureServer;
using testing_support::SettingsGuard;
using testing_support::TempDir;
using testing_support::TestCertificate;
using testing_support::UseCaFile;

// Hands the answers of an asynchronous request object to the test thread.
class AnswerQueue {
 public:
  static void Receive(void* self, std::int32_t, std::int32_t, std::string response) {
    auto* queue = static_cast<AnswerQueue*>(self);
    {
      std::lock_guard lock(queue->mutex_);
      queue->answers_.push_back(std::move(response));
    }
    queue->arrived_.notify_all();
  }
  // The next answer; empty when none came within 30 s.
  std::string Next() {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::seconds(30), [&] { return taken_ < answers_.size(); })) return {};
    return answers_[taken_++];
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::string> answers_;
  std::size_t taken_ = 0;
};

// The callback runs just before the object turns idle again.
bool PostWhenIdle(AsyncHttpRequest& async, const std::string& url, const std::string& body) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (async.Busy() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  return async.PostForm(url, body);
}

class ConnectionReuse : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { certificate_ = new TestCertificate("DNS:localhost,IP:127.0.0.1"); }
  static void TearDownTestSuite() { delete certificate_; }

  void SetUp() override {
    ASSERT_TRUE(certificate_->Ok()) << "openssl tool missing?";
    UseCaFile(certificate_->Cert().string());
  }

  // Echoes the body size, so every answer tells which request it belongs to.
  static void Serve(FixtureServer& server) {
    server.Http().Post(".*", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(R"({"code":10000,"size":)" + std::to_string(req.body.size()) + "}", "application/json");
    });
    server.Http().Get(".*", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(R"({"code":1,"path":")" + req.path + "\"}", "application/json");
    });
    server.Start();
  }
  static std::string SizeAnswer(std::size_t size) {
    return R"({"code":10000,"size":)" + std::to_string(size) + "}";
  }

  SettingsGuard guard_;
  static TestCertificate* certificate_;
};
TestCertificate* ConnectionReuse::certificate_ = nullptr;

TEST_F(ConnectionReuse, EveryRecipeAndAsynchronousRequestsRideOneConnection) {
  FixtureServer server(certificate_->Cert(), certificate_->Key());
  server.Http().set_keep_alive_max_count(100);
  Serve(server);
  const std::string chunk(300000, 'c');
  EXPECT_EQ(PostJsonBlocking(server.Base() + "/a", "{}"), SizeAnswer(2));
  EXPECT_EQ(PostBytesBlocking(server.Base() + "/b", chunk.data(), chunk.size()), SizeAnswer(chunk.size()));
  EXPECT_EQ(GetBlocking(server.Base() + "/c"), R"({"code":1,"path":"/c"})");
  AnswerQueue queue;
  AsyncHttpRequest async(&queue, 10, &AnswerQueue::Receive, 0);
  ASSERT_TRUE(async.PostJson(server.Base() + "/d", "{\"x\":1}"));
  EXPECT_EQ(queue.Next(), SizeAnswer(7));
  ASSERT_TRUE(PostWhenIdle(async, server.Base() + "/d", "x=12"));  // the same object again
  EXPECT_EQ(queue.Next(), SizeAnswer(4));
  TempDir dir;
  EXPECT_TRUE(DownloadToFile(server.Base() + "/e", dir.Path() / "e.json"));
  EXPECT_EQ(PostJsonBlocking(server.Base() + "/f", "{}"), SizeAnswer(2));

  const auto seen = server.Requests();
  ASSERT_EQ(seen.size(), 7u);
  for (const auto& request : seen) EXPECT_EQ(request.remotePort, seen[0].remotePort) << request.path;
}

TEST_F(ConnectionReuse, NewConnectionsResumeTheTlsSession) {
  FixtureServer server(certificate_->Cert(), certificate_->Key());
  server.Http().set_keep_alive_max_count(1);  // every answer closes its connection
  Serve(server);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(PostJsonBlocking(server.Base() + "/a", "{}"), SizeAnswer(2));

  const auto seen = server.Requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_NE(seen[1].remotePort, seen[0].remotePort);
  EXPECT_FALSE(seen[0].tlsResumed);
  EXPECT_TRUE(seen[1].tlsResumed);
  EXPECT_TRUE(seen[2].tlsResumed);
}

// Blocking requests on several threads and an asynchronous request object
// share connections and sessions while another thread keeps replacing the CA
// file (each replacement starts a new trust store and share). Every answer
// must arrive intact; a ThreadSanitizer build checks the hand-overs.
TEST_F(ConnectionReuse, ThreadsShareWhileTheTrustStoreIsReplaced) {
  FixtureServer server(certificate_->Cert(), certificate_->Key());
  server.Http().new_task_queue = [] { return new httplib::ThreadPool(16); };
  Serve(server);
  TempDir dir;
  const auto caFile = dir.Path() / "ca.pem";
  std::filesystem::copy_file(certificate_->Cert(), caFile);
  UseCaFile(caFile.string());

  constexpr int kRounds = 25;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      const std::string bytes(1000 + static_cast<std::size_t>(t), 'b');
      for (int i = 0; i < kRounds; ++i) {
        const std::string answer = i % 2 == 0 ? PostBytesBlocking(server.Base() + "/b", bytes.data(), bytes.size())
                                              : PostJsonBlocking(server.Base() + "/j", bytes);
        if (answer != SizeAnswer(bytes.size())) ++wrong;
      }
    });
  }
  threads.emplace_back([&] {
    AnswerQueue queue;
    AsyncHttpRequest async(&queue, 10, &AnswerQueue::Receive, 0);
    for (int i = 0; i < kRounds; ++i) {
      if (!PostWhenIdle(async, server.Base() + "/f", "a=1") || queue.Next() != SizeAnswer(3)) ++wrong;
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      const auto next = dir.Path() / ("next" + std::to_string(i) + ".pem");
      std::filesystem::copy_file(certificate_->Cert(), next);
      std::filesystem::rename(next, caFile);  // a new file: a new trust store
      std::this_thread::yield();
    }
  });
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(server.Requests().size(), 4u * kRounds);

  // Connections were shared: far fewer than one per request.
  std::set<int> ports;
  for (const auto& request : server.Requests()) ports.insert(request.remotePort);
  EXPECT_LT(ports.size(), 4u * kRounds);
}

}  // namespace
}  // namespace quillora
