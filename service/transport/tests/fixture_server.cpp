#include "service/transport/tests/fixture_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <random>
#include <stdexcept>

namespace quillora::testing_support {
namespace {

int BindLoopback(int fd) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 0;
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

std::filesystem::path UniqueTempPath(const char* prefix) {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  return std::filesystem::temp_directory_path() /
         (std::string(prefix) + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
          std::to_string(rd()));
}

// The client keeps idle connections open for reuse; the server's workers
// would wait on them for the whole keep-alive time before a stop completes.
void ShutdownConnectionsOnPort(int port) {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return;
  while (dirent* e = ::readdir(dir)) {
    const int fd = std::atoi(e->d_name);
    sockaddr_in local{}, peer{};
    socklen_t localLen = sizeof local, peerLen = sizeof peer;
    if (fd <= 2 || fd == ::dirfd(dir) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLen) != 0 || local.sin_family != AF_INET ||
        ntohs(local.sin_port) != port || ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0) {
      continue;
    }
    ::shutdown(fd, SHUT_RDWR);
  }
  ::closedir(dir);
}

}  // namespace

FixtureServer::FixtureServer() : server_(std::make_unique<httplib::Server>()) {}

FixtureServer::FixtureServer(const std::filesystem::path& certFile, const std::filesystem::path& keyFile)
    : server_(std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str())), tls_(true) {}

FixtureServer::~FixtureServer() {
  server_->stop();
  if (port_ > 0) ShutdownConnectionsOnPort(port_);
  if (thread_.joinable()) thread_.join();
}

void FixtureServer::Start() {
  // Runs for every request just before its response is written, by which
  // time the body has been read.
  server_->set_post_routing_handler([this](const httplib::Request& req, httplib::Response&) {
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(SeenRequest{req.method, req.path, req.body, req.headers, req.remote_port,
                                      req.ssl != nullptr && SSL_session_reused(req.ssl) == 1});
    }
    seen_.notify_all();
  });
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("fixture server: cannot bind");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // The socket listens already; wait for the accept loop so that stop()
  // always finds it running.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server_->is_running()) {
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("fixture server: not running");
    std::this_thread::yield();
  }
}

std::string FixtureServer::Base() const {
  return (tls_ ? "https://localhost:" : "http://127.0.0.1:") + std::to_string(port_);
}

std::vector<SeenRequest> FixtureServer::Requests() {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool FixtureServer::WaitForRequests(std::size_t count, std::chrono::milliseconds deadline) {
  std::unique_lock lock(mutex_);
  return seen_.wait_for(lock, deadline, [&] { return requests_.size() >= count; });
}

int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const int port = BindLoopback(fd);
  ::close(fd);  // bound, never listened: nothing accepts on this port now
  return port;
}

SilentServer::SilentServer() {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  port_ = BindLoopback(fd_);
  if (port_ == 0 || ::listen(fd_, 16) != 0) throw std::runtime_error("silent server: cannot listen");
}

SilentServer::~SilentServer() { ::close(fd_); }

RawCaptureServer::RawCaptureServer() {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  port_ = BindLoopback(fd_);
  if (port_ == 0 || ::listen(fd_, 4) != 0) throw std::runtime_error("capture server: cannot listen");
  thread_ = std::thread([this] {
    std::vector<std::string> lines;
    const int conn = ::accept(fd_, nullptr, nullptr);  // fails once the socket is shut down
    if (conn >= 0) {
      std::string raw;
      char buf[4096];
      while (raw.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
        if (n <= 0) break;
        raw.append(buf, static_cast<size_t>(n));
      }
      const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}";
      (void)::send(conn, reply.data(), reply.size(), MSG_NOSIGNAL);
      ::close(conn);
      raw = raw.substr(0, raw.find("\r\n\r\n"));
      for (size_t start = 0; start <= raw.size();) {
        const size_t end = raw.find("\r\n", start);
        lines.push_back(raw.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 2;
      }
    }
    {
      std::lock_guard lock(mutex_);
      head_ = std::move(lines);
      finished_ = true;
    }
    done_.notify_all();
  });
}

RawCaptureServer::~RawCaptureServer() {
  ::shutdown(fd_, SHUT_RDWR);  // wakes a pending accept
  thread_.join();
  ::close(fd_);
}

std::vector<std::string> RawCaptureServer::WaitForHead(std::chrono::milliseconds deadline) {
  std::unique_lock lock(mutex_);
  done_.wait_for(lock, deadline, [this] { return finished_; });
  return head_;
}

TestCertificate::TestCertificate(const std::string& altNames) {
  dir_ = UniqueTempPath("quillora-cert-");
  std::filesystem::create_directories(dir_);
  cert_ = dir_ / "cert.pem";
  key_ = dir_ / "key.pem";
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
      " -subj /CN=quillora-test -addext 'subjectAltName=" +
      altNames + "' -keyout '" + key_.string() + "' -out '" + cert_.string() + "' >/dev/null 2>&1";
  ok_ = std::system(command.c_str()) == 0 && std::filesystem::exists(cert_);
}

TestCertificate::~TestCertificate() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

TempDir::TempDir() : path_(UniqueTempPath("quillora-transport-")) { std::filesystem::create_directories(path_); }

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace quillora::testing_support
