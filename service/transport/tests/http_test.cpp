#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

#include "service/transport/http.h"
#include "service/transport/json_answer.h"
#include "service/transport/remote_services.h"
#include "service/transport/server_time.h"
#include "service/transport/tests/fixture_server.h"

namespace quillora {
namespace {

using namespace std::chrono_literals;
using testing_support::ClosedPort;
using testing_support::FixtureServer;
using testing_support::SettingsGuard;
using testing_support::SilentServer;
using testing_support::TempDir;
using testing_support::TestCertificate;
using testing_support::UseCaFile;
using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t EntriesIn(const std::filesystem::path& dir) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

TEST(BlockingPost, JsonAndBytesArriveIntactWhateverTheStatus) {
  FixtureServer server;
  server.Http().Post("/json", [](const httplib::Request&, httplib::Response& res) {
    res.status = 500;  // not looked at: the body is the answer
    res.set_content(R"({"code":18000})", "application/json");
  });
  server.Http().Post("/chunk", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content("{\"code\":11000,\"n\":" + std::to_string(req.body.size()) + "}", "application/json");
  });
  server.Start();

  EXPECT_EQ(PostJsonBlocking(server.Base() + "/json", R"({"a":"1"})"), R"({"code":18000})");

  std::string chunk(300000, '\0');
  for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 7);
  std::uint64_t lastDone = 0, lastTotal = 0;
  int calls = 0;
  const std::string answer = PostBytesBlocking(server.Base() + "/chunk", chunk.data(), chunk.size(),
                                               [&](std::uint64_t done, std::uint64_t total) {
                                                 EXPECT_GE(done, lastDone);
                                                 lastDone = done;
                                                 lastTotal = total;
                                                 ++calls;
                                               });
  EXPECT_EQ(answer, "{\"code\":11000,\"n\":300000}");
  EXPECT_GT(calls, 0);
  EXPECT_EQ(lastDone, chunk.size());
  EXPECT_EQ(lastTotal, chunk.size());

  const auto seen = server.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].method, "POST");
  EXPECT_EQ(seen[0].body, R"({"a":"1"})");
  EXPECT_EQ(seen[0].Header("Content-Type"), "application/json");
  EXPECT_TRUE(seen[1].body == chunk) << "chunk bytes differ";
  EXPECT_EQ(seen[1].Header("Content-Type"), "application/json");
}

TEST(BlockingPost, RedirectsAreNotFollowed) {
  FixtureServer server;
  server.Http().Post("/moved", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("/elsewhere", 307);
    res.set_content("moved", "text/plain");
  });
  server.Start();
  EXPECT_EQ(PostJsonBlocking(server.Base() + "/moved", "{}"), "moved");
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(BlockingPost, OversizedAnswerIsTreatedAsNothing) {
  // One recipe suffices: every request shares the capped answer buffer. (The
  // GET recipe's 3 s limit could run out first on a slow machine.)
  FixtureServer server;
  const std::string huge(kMaxAnswerBytes + 1, 'x');
  server.Http().Post("/huge", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(huge, "application/json");
  });
  server.Start();
  EXPECT_EQ(PostJsonBlocking(server.Base() + "/huge", "{}"), "");
}

TEST(GetBlocking, UnreachableOrSilentHostGivesSubstituteWithinThreeSeconds) {
  const auto t0 = Clock::now();
  EXPECT_EQ(GetBlocking("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/ver1/getUnixTime"),
            kSubstituteAnswer);
  EXPECT_LT(Clock::now() - t0, 3500ms);

  SilentServer silent;
  const auto t1 = Clock::now();
  EXPECT_EQ(GetBlocking("http://127.0.0.1:" + std::to_string(silent.Port()) + "/ver1/getUnixTime"),
            kSubstituteAnswer);
  const auto waited = Clock::now() - t1;
  EXPECT_GE(waited, 2500ms);
  EXPECT_LT(waited, 4500ms);
}

TEST(TransportServerTime, TakenFromTheStatisticsHostOrTheLocalClock) {
  SettingsGuard guard;
  FixtureServer server;
  std::string answer = R"({"code":1,"responseData":{"time":1234567890}})";
  std::mutex m;
  server.Http().Get("/ver1/getUnixTime", [&](const httplib::Request&, httplib::Response& res) {
    std::lock_guard lock(m);
    res.set_content(answer, "application/json");
  });
  server.Start();
  ServiceSettings s = CurrentServiceSettings();
  s.statsBase = server.Base();
  ConfigureRemoteServices(s);
  EXPECT_EQ(GetServerTime(), 1234567890);

  auto local = [] {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  for (const char* bad : {R"({"code":0,"responseData":{"time":1234567890}})",
                          R"({"code":1,"responseData":{"time":"1234567890"}})", R"({"code":1})",
                          "<html>oops</html>"}) {
    {
      std::lock_guard lock(m);
      answer = bad;
    }
    const auto before = local();
    const auto t = GetServerTime();
    EXPECT_GE(t, before) << bad;
    EXPECT_LE(t, local()) << bad;
  }

  s.statsBase = "http://127.0.0.1:" + std::to_string(ClosedPort());
  ConfigureRemoteServices(s);
  const auto before = local();
  EXPECT_GE(GetServerTime(), before);
}

TEST(TransportDownload, MissingFolderFailsWithoutARequest) {
  FixtureServer server;
  server.Http().Get("/r", [](const httplib::Request&, httplib::Response& res) { res.set_content("x", "text/plain"); });
  server.Start();
  TempDir dir;
  EXPECT_FALSE(DownloadToFile(server.Base() + "/r", dir.Path() / "missing" / "r.docx"));
  EXPECT_TRUE(server.Requests().empty());
}

TEST(TransportDownload, CompleteBodyReplacesTargetAtomically) {
  FixtureServer server;
  std::string body(200000, 'd');
  body[0] = '\0';
  server.Http().Get("/r", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(body, "application/octet-stream");
  });
  server.Start();
  TempDir dir;
  const auto target = dir.Path() / "report_en.docx";
  std::ofstream(target) << "older result";
  std::uint64_t last = 0;
  EXPECT_TRUE(DownloadToFile(server.Base() + "/r", target, [&](std::uint64_t done, std::uint64_t) { last = done; }));
  EXPECT_TRUE(ReadFile(target) == body) << "downloaded bytes differ";
  EXPECT_EQ(last, body.size());
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);  // no temporary file left behind
}

TEST(TransportDownload, ErrorStatusOrCutBodyLeavesTargetUntouched) {
  FixtureServer server;
  server.Http().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content("<html>not found</html>", "text/html");
  });
  server.Http().Get("/cut", [](const httplib::Request&, httplib::Response& res) {
    // Announces 100000 bytes, sends 1000, then drops the connection.
    res.set_content_provider(100000, "application/octet-stream",
                             [](size_t offset, size_t, httplib::DataSink& sink) {
                               if (offset > 0) return false;
                               const std::string part(1000, 'p');
                               sink.write(part.data(), part.size());
                               return true;
                             });
  });
  server.Start();
  TempDir dir;

  const auto fresh = dir.Path() / "fresh.docx";
  EXPECT_FALSE(DownloadToFile(server.Base() + "/missing", fresh));
  EXPECT_FALSE(std::filesystem::exists(fresh));
  EXPECT_FALSE(DownloadToFile(server.Base() + "/cut", fresh));
  EXPECT_FALSE(std::filesystem::exists(fresh));

  const auto kept = dir.Path() / "kept.docx";
  std::ofstream(kept) << "earlier";
  EXPECT_FALSE(DownloadToFile(server.Base() + "/cut", kept));
  EXPECT_FALSE(DownloadToFile("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/r", kept));
  EXPECT_EQ(ReadFile(kept), "earlier");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);
  EXPECT_EQ(server.Requests().size(), 3u);
}

TEST(TransportDownload, TargetNameAtTheFileSystemLimitIsSaved) {
  FixtureServer server;
  server.Http().Get("/r", [](const httplib::Request&, httplib::Response& res) { res.set_content("r", "text/plain"); });
  server.Start();
  TempDir dir;
  const auto target = dir.Path() / std::string(255, 'n');
  EXPECT_TRUE(DownloadToFile(server.Base() + "/r", target));
  EXPECT_EQ(ReadFile(target), "r");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(TransportDownload, BodyOverTheBoundFailsAndLeavesNothing) {
  FixtureServer server;
  const std::string body(5000, 'b');
  server.Http().Get("/announced", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(body, "application/octet-stream");
  });
  // No length announced: the bound must hold while the body arrives.
  server.Http().Get("/chunked", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("application/octet-stream", [&](size_t offset, httplib::DataSink& sink) {
      if (offset >= body.size()) {
        sink.done();
        return true;
      }
      sink.write(body.data() + offset, 500);
      return true;
    });
  });
  server.Start();
  TempDir dir;
  const auto kept = dir.Path() / "kept.docx";
  std::ofstream(kept) << "earlier";
  for (const char* path : {"/announced", "/chunked"}) {
    EXPECT_FALSE(DownloadToFile(server.Base() + path, kept, {}, body.size() - 1)) << path;
    EXPECT_EQ(ReadFile(kept), "earlier") << path;
    EXPECT_EQ(EntriesIn(dir.Path()), 1u) << path;
    EXPECT_TRUE(DownloadToFile(server.Base() + path, dir.Path() / "exact", {}, body.size())) << path;
    EXPECT_EQ(ReadFile(dir.Path() / "exact"), body) << path;
    std::filesystem::remove(dir.Path() / "exact");
  }
}

class TransportTls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    trusted_ = new TestCertificate("DNS:localhost,IP:127.0.0.1");
    other_ = new TestCertificate("DNS:localhost,IP:127.0.0.1");
    wrongName_ = new TestCertificate("DNS:somewhere.else");
  }
  static void TearDownTestSuite() {
    delete trusted_;
    delete other_;
    delete wrongName_;
  }
  void SetUp() override {
    ASSERT_TRUE(trusted_->Ok() && other_->Ok() && wrongName_->Ok()) << "openssl tool missing?";
  }

  static void Serve(FixtureServer& server) {
    server.Http().Post("/api/v4/memparm", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"({"code":10000})", "application/json");
    });
    server.Http().Get("/file", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("result", "text/plain");
    });
    server.Start();
  }

  SettingsGuard guard_;
  static TestCertificate* trusted_;
  static TestCertificate* other_;
  static TestCertificate* wrongName_;
};
TestCertificate* TransportTls::trusted_ = nullptr;
TestCertificate* TransportTls::other_ = nullptr;
TestCertificate* TransportTls::wrongName_ = nullptr;

TEST_F(TransportTls, ConfiguredCaFileIsTrusted) {
  FixtureServer server(trusted_->Cert(), trusted_->Key());
  Serve(server);
  UseCaFile(trusted_->Cert().string());
  EXPECT_EQ(PostJsonBlocking(server.Base() + "/api/v4/memparm", "{}"), R"({"code":10000})");
  TempDir dir;
  EXPECT_TRUE(DownloadToFile(server.Base() + "/file", dir.Path() / "f.txt"));
  EXPECT_EQ(ReadFile(dir.Path() / "f.txt"), "result");
}

TEST_F(TransportTls, UntrustedCertificateOrWrongHostIsRefused) {
  TempDir dir;
  {
    FixtureServer server(trusted_->Cert(), trusted_->Key());
    Serve(server);
    UseCaFile("");  // only the system store: a self-signed certificate fails
    EXPECT_EQ(PostJsonBlocking(server.Base() + "/api/v4/memparm", "{}"), "");
    UseCaFile(other_->Cert().string());  // a different certificate fails too
    EXPECT_EQ(PostJsonBlocking(server.Base() + "/api/v4/memparm", "{}"), "");
    EXPECT_EQ(GetBlocking(server.Base() + "/file"), kSubstituteAnswer);
    EXPECT_FALSE(DownloadToFile(server.Base() + "/file", dir.Path() / "f.txt"));
    EXPECT_TRUE(server.Requests().empty());
  }
  {
    // Trusted certificate, but issued for another host name.
    FixtureServer server(wrongName_->Cert(), wrongName_->Key());
    Serve(server);
    UseCaFile(wrongName_->Cert().string());
    EXPECT_EQ(PostJsonBlocking(server.Base() + "/api/v4/memparm", "{}"), "");
    EXPECT_TRUE(server.Requests().empty());
  }
  EXPECT_EQ(EntriesIn(dir.Path()), 0u);
}

// The trust store is built once, not per request; replacing the CA file must
// still take effect with the next request, including for a server that an
// open connection and a cached TLS session were verified under the old file.
TEST_F(TransportTls, ReplacedCaFileIsHonouredByTheNextRequest) {
  FixtureServer first(trusted_->Cert(), trusted_->Key());
  FixtureServer second(other_->Cert(), other_->Key());
  Serve(first);
  Serve(second);
  TempDir dir;
  const auto caFile = dir.Path() / "ca.pem";
  const auto replaceWith = [&](const std::filesystem::path& cert) {
    std::filesystem::copy_file(cert, dir.Path() / "next.pem", std::filesystem::copy_options::overwrite_existing);
    std::filesystem::rename(dir.Path() / "next.pem", caFile);
  };
  const auto memparm = [](const FixtureServer& server) {
    return PostJsonBlocking(server.Base() + "/api/v4/memparm", "{}");
  };
  replaceWith(trusted_->Cert());
  UseCaFile(caFile.string());
  EXPECT_EQ(memparm(first), R"({"code":10000})");
  EXPECT_EQ(memparm(second), "");

  replaceWith(other_->Cert());
  EXPECT_EQ(memparm(first), "") << "a connection verified under the old file was reused";
  EXPECT_EQ(memparm(second), R"({"code":10000})");

  std::filesystem::remove(caFile);  // the system store alone
  EXPECT_EQ(memparm(second), "");
  replaceWith(trusted_->Cert());
  EXPECT_EQ(memparm(first), R"({"code":10000})");
  EXPECT_EQ(first.Requests().size(), 2u);
  EXPECT_EQ(second.Requests().size(), 1u);
}

}  // namespace
}  // namespace quillora
