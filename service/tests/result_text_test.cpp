// The result text of a document task comes from a preview file on the
// preview storage; here a plain local server stands in for the storage, so
// that the request line can be checked exactly as it arrived.
#include <gtest/gtest.h>
#include <httplib.h>
#include <json/value.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/task_protocol.h"
#include "service/tests/task_test_support.h"
#include "service/transport/remote_services.h"

namespace quillora {
namespace {

class PreviewStorage {
 public:
  explicit PreviewStorage(std::string servedTarget) {
    server_.Get(R"(/preview/fanyi/.*)", [this, servedTarget](const httplib::Request& req, httplib::Response& res) {
      {
        std::lock_guard lock(mutex_);
        targets_.push_back(req.target);
      }
      if (req.target == servedTarget) {
        res.set_content("hello\r\nworld", "text/plain");
      } else {
        res.status = 404;
      }
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() before the accept loop runs would be lost.
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~PreviewStorage() {
    server_.stop();
    thread_.join();
  }
  PreviewStorage(const PreviewStorage&) = delete;
  PreviewStorage& operator=(const PreviewStorage&) = delete;

  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> Targets() {
    std::lock_guard lock(mutex_);
    return targets_;
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> targets_;
};

TEST(ResultText, PreviewNameWithSubFolderKeepsItsSlash) {
  PreviewStorage storage("/preview/fanyi/2024/a%20b.txt");
  ServiceSettings settings;
  settings.previewBase = storage.Base();
  ConfigureRemoteServices(settings);

  testing_support::TempDir dir;
  TransTask task;
  task.isDocument = true;
  Json::Value answer;
  answer["fileconvertinfos"] = "{\"filename\":\"2024/a b.txt\"}";
  FetchResultText(task, answer, [&] { return dir.path() + "wae1.txt"; });
  EXPECT_EQ(task.resultText, "hello\nworld");
  EXPECT_EQ(storage.Targets(), std::vector<std::string>{"/preview/fanyi/2024/a%20b.txt"});
}

}  // namespace
}  // namespace quillora
