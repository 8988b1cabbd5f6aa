#pragma once
// A small local HTTP(S) server for the transport tests: loopback only, on a
// port chosen by the OS, recording every request it sees.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/transport/remote_services.h"

namespace quillora::testing_support {

// Restores the process-wide service settings after a test changed them.
class SettingsGuard {
 public:
  SettingsGuard() : saved_(CurrentServiceSettings()) {}
  ~SettingsGuard() { ConfigureRemoteServices(saved_); }
  SettingsGuard(const SettingsGuard&) = delete;
  SettingsGuard& operator=(const SettingsGuard&) = delete;

 private:
  ServiceSettings saved_;
};

// Trusts `caFile` besides the system store from the next request on.
inline void UseCaFile(const std::string& caFile) {
  ServiceSettings s = CurrentServiceSettings();
  s.caFile = caFile;
  ConfigureRemoteServices(s);
}

struct SeenRequest {
  std::string method;
  std::string path;
  std::string body;
  httplib::Headers headers;
  int remotePort = 0;          // the client's port: requests of one connection share it
  bool tlsResumed = false;     // the connection resumed an earlier TLS session

  std::string Header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
  bool HasHeader(const std::string& name) const { return headers.count(name) > 0; }
};

class FixtureServer {
 public:
  // Plain HTTP.
  FixtureServer();
  // HTTPS with the given PEM files.
  FixtureServer(const std::filesystem::path& certFile, const std::filesystem::path& keyFile);
  ~FixtureServer();
  FixtureServer(const FixtureServer&) = delete;
  FixtureServer& operator=(const FixtureServer&) = delete;

  // Register handlers before Start. Every request is recorded after its
  // handler ran, before the response goes out.
  httplib::Server& Http() { return *server_; }
  void Start();

  int Port() const { return port_; }
  // "http://127.0.0.1:<port>" or "https://localhost:<port>".
  std::string Base() const;

  std::vector<SeenRequest> Requests();
  // Waits until at least `count` requests were seen; false at the deadline.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds deadline);

 private:
  std::unique_ptr<httplib::Server> server_;
  bool tls_ = false;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable seen_;
  std::vector<SeenRequest> requests_;
};

// A loopback port where nothing listens (connections are refused).
int ClosedPort();

// A loopback socket that listens but never accepts or answers: connections
// succeed and then hear nothing. Closed on destruction.
class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Answers one HTTP request with "{}" and keeps its raw header block, so a
// test can see the order of the header lines as sent.
class RawCaptureServer {
 public:
  RawCaptureServer();
  ~RawCaptureServer();
  RawCaptureServer(const RawCaptureServer&) = delete;
  RawCaptureServer& operator=(const RawCaptureServer&) = delete;
  int Port() const { return port_; }
  // The request line and header lines, each without its line break; empty
  // when nothing arrived before the deadline.
  std::vector<std::string> WaitForHead(std::chrono::milliseconds deadline);

 private:
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::vector<std::string> head_;
};

// A self-signed certificate and its key, made with the openssl tool in a
// temporary folder removed on destruction.
class TestCertificate {
 public:
  // `altNames` such as "DNS:localhost,IP:127.0.0.1".
  explicit TestCertificate(const std::string& altNames);
  ~TestCertificate();
  TestCertificate(const TestCertificate&) = delete;
  TestCertificate& operator=(const TestCertificate&) = delete;
  bool Ok() const { return ok_; }
  const std::filesystem::path& Cert() const { return cert_; }
  const std::filesystem::path& Key() const { return key_; }

 private:
  std::filesystem::path dir_;
  std::filesystem::path cert_;
  std::filesystem::path key_;
  bool ok_ = false;
};

// A temporary folder removed on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace quillora::testing_support
