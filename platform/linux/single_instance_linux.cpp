// The guard is an exclusive lock (flock) on "<name>.lock" in the user's
// runtime folder: the kernel drops it when the holder exits, however it exits.
// The holder also listens on the local socket "<name>.sock"; a later copy
// connects, sends "show" and waits for "ok". The holder answers once it has
// a handler for the request, on a thread it starts then.
#include "platform/single_instance.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/linux/xdg.h"

namespace quillora::platform {
namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kShowReply[] = "ok\n";
constexpr int kExchangeTimeoutMs = 2000;

// $XDG_RUNTIME_DIR, else a private folder of the user's in the temporary
// folder. Empty when the folder is not private to this user.
std::string RuntimeFolder() {
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && run[0] == '/') return run;
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillora-" + std::to_string(::geteuid());
  ::mkdir(folder.c_str(), 0700);
  struct stat st{};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & 077) != 0)
    return {};
  return folder;
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Reads until `expected` arrived or the deadline passed.
bool ReceiveExactly(int fd, std::string_view expected) {
  std::string got;
  while (got.size() < expected.size()) {
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, kExchangeTimeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    char buffer[16];
    const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, expected.size() - got.size()), 0);
    if (n <= 0) return false;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got == expected;
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

struct SingleInstance::State {
  Role role = Role::Unavailable;
  int lockFd = -1;
  int listenFd = -1;
  int wakeRead = -1;
  int wakeWrite = -1;
  std::string socketPath;
  std::thread listener;
  std::mutex handlerMutex;
  std::function<void()> handler;

  ~State() {
    if (listener.joinable()) {
      const char stop = 's';
      while (::write(wakeWrite, &stop, 1) < 0 && errno == EINTR) {
      }
      listener.join();
    }
    if (listenFd >= 0) {
      ::close(listenFd);
      ::unlink(socketPath.c_str());
    }
    for (int fd : {wakeRead, wakeWrite, lockFd})
      if (fd >= 0) ::close(fd);
  }

  void Listen() {
    while (true) {
      pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeRead, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents) return;
      if (!(fds[0].revents & POLLIN)) continue;
      const int conn = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (conn < 0) continue;
      if (ReceiveExactly(conn, kShowRequest)) {
        std::function<void()> h;
        {
          std::lock_guard lock(handlerMutex);
          h = handler;
        }
        if (h) h();
        SendAll(conn, kShowReply);
      }
      ::close(conn);
    }
  }

  bool StartListening() {
    sockaddr_un addr{};
    if (!FillAddress(socketPath, addr)) return false;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    wakeRead = pipeFds[0];
    wakeWrite = pipeFds[1];
    listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd < 0) return false;
    // A socket left by a copy that crashed: we hold the lock, so it is stale.
    ::unlink(socketPath.c_str());
    if (::bind(listenFd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd, 8) != 0) {
      ::close(listenFd);
      listenFd = -1;
      return false;
    }
    ::chmod(socketPath.c_str(), 0600);
    return true;
  }

  // Requests that came before wait in the socket's queue until then.
  void StartListener() {
    if (listenFd < 0 || listener.joinable()) return;
    try {
      listener = std::thread([this] { Listen(); });
    } catch (const std::system_error&) {
      // No thread: later copies get no answer and end, as when we are busy.
    }
  }
};

SingleInstance::SingleInstance(std::unique_ptr<State> state) : state_(std::move(state)) {}

SingleInstance::~SingleInstance() = default;

std::unique_ptr<SingleInstance> SingleInstance::Acquire(const std::string& name, const std::string& folder) {
  auto state = std::make_unique<State>();
  const std::string dir = folder.empty() ? RuntimeFolder() : folder;
  if (dir.empty() || name.empty() || name.find('/') != std::string::npos)
    return std::unique_ptr<SingleInstance>(new SingleInstance(std::move(state)));
  state->socketPath = dir + "/" + name + ".sock";
  const std::string lockPath = dir + "/" + name + ".lock";
  state->lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (state->lockFd >= 0) {
    int rc;
    while ((rc = ::flock(state->lockFd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc == 0) {
      state->role = Role::Primary;
      state->StartListening();
    } else if (errno == EWOULDBLOCK) {
      state->role = Role::Secondary;
      ::close(state->lockFd);
      state->lockFd = -1;
    }
  }
  return std::unique_ptr<SingleInstance>(new SingleInstance(std::move(state)));
}

SingleInstance::Role SingleInstance::GetRole() const { return state_->role; }

void SingleInstance::SetShowRequestHandler(std::function<void()> onShowRequest) {
  {
    std::lock_guard lock(state_->handlerMutex);
    state_->handler = std::move(onShowRequest);
  }
  state_->StartListener();
}

bool SingleInstance::RequestShow() const {
  if (state_->role != Role::Secondary) return false;
  sockaddr_un addr{};
  if (!FillAddress(state_->socketPath, addr)) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
                  SendAll(fd, kShowRequest) && ReceiveExactly(fd, kShowReply);
  ::close(fd);
  return ok;
}

}  // namespace quillora::platform
