#include "emulator/emulator.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "common/codec.h"
#include "common/ini.h"
#include "common/text.h"
#include "emulator/client_rules.h"
#include "emulator/emulator_impl.h"
#include "emulator/translation.h"

namespace quillora::emulator {

namespace fs = std::filesystem;

namespace {

constexpr size_t kJournalMaxEntries = 20000;
constexpr size_t kKeepAliveRequests = 1000;

// The answer body that stands in for a malformed answer: it starts like a
// real answer but does not parse.
constexpr char kMalformedBody[] = "{\"code\":10000,\"tasktag\"::<emulator: malformed answer>";

int AnswerCode(const std::string& body) {
  if (body.empty() || body.front() != '{') return 0;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value v;
  std::string errors;
  if (!reader->parse(body.data(), body.data() + body.size(), &v, &errors)) return 0;
  if (!v.isObject() || !v["code"].isInt()) return 0;
  return v["code"].asInt();
}

std::string MakeTempStateDir() {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "quillora-emulator-%08x", static_cast<unsigned>(rd()));
    fs::path p = base / name;
    if (fs::create_directory(p, ec)) return p.string();
  }
  return std::string();
}

}  // namespace

// ---------------------------------------------------------------- helpers

std::string JsonText(const Json::Value& v) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, v);
}

Answer JsonAnswer(const Json::Value& v) {
  Answer a;
  a.body = JsonText(v);
  return a;
}

Answer CodeAnswer(int code, const std::string& message) {
  Json::Value v(Json::objectValue);
  v["code"] = code;
  if (!message.empty()) v["message"] = message;
  return JsonAnswer(v);
}

Answer ContentTypeAnswer(const httplib::Request& req) {
  if (req.get_header_value("Content-Type") == "application/json") return Answer{};
  Answer a = CodeAnswer(kCodeContentType, "Content-Type must be application/json");
  a.status = 415;
  return a;
}

std::string JournalEntry::Header(const std::string& name) const {
  for (const auto& [k, v] : headers) {
    if (EqualsIgnoringAsciiCase(k, name)) return v;
  }
  return std::string();
}

std::string SignatureFor(const std::vector<std::pair<std::string, std::string>>& members) {
  return SigningDigest(members);
}

std::string BodyFor(std::vector<std::pair<std::string, std::string>> members, bool sign) {
  std::stable_sort(members.begin(), members.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string body = "{";
  for (const auto& [k, v] : members) body += "\"" + k + "\":\"" + v + "\",";
  if (sign) {
    body += "\"datasign\":\"" + SigningDigest(members) + "\"}";
  } else {
    if (body.size() > 1) body.pop_back();
    body += "}";
  }
  return body;
}

std::string StatisticsSignValue(const std::string& timeText) {
  return Md5Hex(std::string(kStatisticsSalt) + timeText) + timeText;
}

// ---------------------------------------------------------------- Impl

Emulator::Impl::Impl(Options o) : opts(std::move(o)) {
  taskBehaviour.processingTime = opts.taskProcessingTime;
}

Emulator::Impl::~Impl() { Stop(); }

int64_t Emulator::Impl::ServerTime() const {
  std::lock_guard lock(mu);
  return static_cast<int64_t>(std::time(nullptr)) + timeOffset;
}

std::string Emulator::Impl::NewId(const char* prefix, size_t hexDigits) {
  uint64_t n;
  {
    std::lock_guard lock(mu);
    n = ++idCounter;
  }
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  std::string hex = Md5Hex(std::to_string(n) + ":" + std::to_string(rng()));
  return std::string(prefix) + hex.substr(0, std::min<size_t>(hexDigits, hex.size()));
}

bool Emulator::Impl::PathMatches(const std::string& pattern, const std::string& path) {
  if (!pattern.empty() && pattern.back() == '*') {
    return path.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
  }
  return pattern == path;
}

std::optional<Fault> Emulator::Impl::TakeFault(const std::string& path, uint64_t* id) {
  std::lock_guard lock(mu);
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    if (!PathMatches(it->fault.path, path)) continue;
    Fault f = it->fault;
    *id = it->id;
    if (it->fault.count > 0 && --it->fault.count == 0) faults.erase(it);
    return f;
  }
  return std::nullopt;
}

bool Emulator::Impl::FaultStillSet(uint64_t id) const {
  return std::any_of(faults.begin(), faults.end(), [id](const FaultSlot& s) { return s.id == id; });
}

void Emulator::Impl::DropConnection(const httplib::Request& req) {
  if (req.ssl) {
    int fd = SSL_get_fd(req.ssl);
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    return;
  }
  // Plain HTTP: find the server-side socket of this exchange by its two ports.
  ShutdownSockets(req.local_port, req.remote_port);
}

void Emulator::Impl::ShutdownSockets(int localPort, int peerPort) {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return;
  while (dirent* e = readdir(dir)) {
    char* end = nullptr;
    long fd = std::strtol(e->d_name, &end, 10);
    if (end == e->d_name || *end != '\0' || fd == dirfd(dir)) continue;
    sockaddr_in local{}, peer{};
    socklen_t ll = sizeof local, pl = sizeof peer;
    if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &ll) != 0) continue;
    if (local.sin_family != AF_INET || ntohs(local.sin_port) != localPort) continue;
    if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &pl) != 0) continue;
    if (peerPort != 0 && ntohs(peer.sin_port) != peerPort) continue;
    ::shutdown(static_cast<int>(fd), SHUT_RDWR);
  }
  closedir(dir);
}

uint64_t Emulator::Impl::JournalBegin(const char* service, const httplib::Request& req) {
  JournalEntry e;
  e.service = service;
  e.method = req.method;
  e.path = req.path;
  size_t q = req.target.find('?');
  if (q != std::string::npos) e.query = req.target.substr(q + 1);
  for (const auto& [k, v] : req.headers) {
    if (k == "REMOTE_ADDR" || k == "REMOTE_PORT" || k == "LOCAL_ADDR" || k == "LOCAL_PORT") continue;
    e.headers.emplace_back(k, v);
  }
  e.remotePort = req.remote_port;
  e.bodySize = req.body.size();
  e.body = req.body.substr(0, kJournalBodyLimit);
  std::lock_guard lock(journalMu);
  e.seq = nextSeq++;
  journal.push_back(std::move(e));
  while (journal.size() > kJournalMaxEntries) journal.pop_front();
  journalCv.notify_all();
  return journal.back().seq;
}

void Emulator::Impl::JournalBody(uint64_t seq, const std::string& prefix, uint64_t size) {
  std::lock_guard lock(journalMu);
  for (auto it = journal.rbegin(); it != journal.rend(); ++it) {
    if (it->seq == seq) {
      it->body = prefix;
      it->bodySize = size;
      break;
    }
    if (it->seq < seq) break;
  }
  journalCv.notify_all();
}

void Emulator::Impl::JournalFinish(uint64_t seq, int status, const std::string& body) {
  int code = status ? AnswerCode(body) : 0;
  std::lock_guard lock(journalMu);
  for (auto it = journal.rbegin(); it != journal.rend(); ++it) {
    if (it->seq == seq) {
      it->httpStatus = status;
      it->code = code;
      break;
    }
    if (it->seq < seq) break;
  }
  journalCv.notify_all();
}

void Emulator::Impl::Serve(const char* service, const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader* reader, const ReaderHandler& handler) {
  uint64_t seq = JournalBegin(service, req);
  uint64_t faultId = 0;
  std::optional<Fault> fault = TakeFault(req.path, &faultId);
  auto drain = [&] {
    if (reader) (*reader)([](const char*, size_t) { return true; });
  };

  if (fault && fault->delay.count() > 0) {
    std::unique_lock lock(mu);
    faultCv.wait_for(lock, fault->delay, [&] { return stopping; });
  }
  if (fault && fault->kind == Fault::Kind::kHang) {
    std::unique_lock lock(mu);
    faultCv.wait(lock, [&] { return stopping || !FaultStillSet(faultId); });
    if (stopping) {
      lock.unlock();
      DropConnection(req);
      return;
    }
    fault.reset();  // released: answer normally
  }
  if (fault && fault->kind == Fault::Kind::kDrop) {
    DropConnection(req);
    return;
  }
  if (fault && (fault->kind == Fault::Kind::kCode || fault->kind == Fault::Kind::kMalformed)) {
    drain();
    std::string body = fault->kind == Fault::Kind::kCode ? CodeAnswer(fault->code).body : kMalformedBody;
    res.status = fault->httpStatus;
    res.set_content(body, "application/json; charset=utf-8");
    JournalFinish(seq, res.status, body);
    return;
  }

  Answer a = handler(req, reader ? *reader : httplib::ContentReader(nullptr, nullptr), seq);
  if (fault && fault->httpStatus != 200 && fault->kind == Fault::Kind::kNone) a.status = fault->httpStatus;
  res.status = a.status;
  for (const auto& [k, v] : a.headers) res.set_header(k, v);

  if (fault && fault->kind == Fault::Kind::kTruncated) {
    // Announce the whole length, send half of it, then close.
    auto full = std::make_shared<std::string>(a.body);
    if (!a.filePath.empty()) {
      std::ifstream in(a.filePath, std::ios::binary);
      full->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (full->empty()) full->assign("{}");
    size_t half = full->size() / 2;
    res.set_content_provider(full->size(), a.contentType,
                             [full, half](size_t offset, size_t, httplib::DataSink& sink) {
                               if (offset < half) sink.write(full->data() + offset, half - offset);
                               return false;
                             });
    JournalFinish(seq, res.status, *full);
    return;
  }

  if (fault && fault->kind == Fault::Kind::kCloseAfter && a.filePath.empty() && !a.body.empty()) {
    // The whole answer, then the connection ends without "Connection: close",
    // as when a server ends an idle connection: the client only finds out
    // when it uses the connection again.
    auto body = std::make_shared<std::string>(a.body);
    res.set_content_provider(body->size(), a.contentType,
                             [this, body, &req](size_t offset, size_t, httplib::DataSink& sink) {
                               if (!sink.write(body->data() + offset, body->size() - offset)) return false;
                               DropConnection(req);
                               return true;
                             });
    JournalFinish(seq, res.status, *body);
    return;
  }

  if (!a.filePath.empty()) {
    auto file = std::make_shared<std::ifstream>(a.filePath, std::ios::binary);
    if (!*file) {
      Answer nf = CodeAnswer(kCodeInternal, "file missing");
      res.status = 500;
      res.set_content(nf.body, nf.contentType);
      JournalFinish(seq, res.status, nf.body);
      return;
    }
    res.set_content_provider(
        a.fileSize, a.contentType, [file](size_t offset, size_t length, httplib::DataSink& sink) {
          char buf[65536];
          file->seekg(static_cast<std::streamoff>(offset));
          size_t n = std::min(length, sizeof buf);
          file->read(buf, static_cast<std::streamsize>(n));
          std::streamsize got = file->gcount();
          if (got <= 0) return false;
          return sink.write(buf, static_cast<size_t>(got));
        });
    JournalFinish(seq, res.status, std::string());
    return;
  }
  res.set_content(a.body, a.contentType);
  JournalFinish(seq, res.status, a.body);
}

void Emulator::Impl::Route(httplib::Server& server, const char* service, const std::string& method,
                           const std::string& pattern, Handler handler) {
  auto wrapped = [this, service, handler = std::move(handler)](const httplib::Request& req,
                                                               httplib::Response& res) {
    Serve(service, req, res, nullptr,
          [&handler](const httplib::Request& r, const httplib::ContentReader&, uint64_t) { return handler(r); });
  };
  if (method == "GET") server.Get(pattern, wrapped);
  else if (method == "POST") server.Post(pattern, wrapped);
  else if (method == "PUT") server.Put(pattern, wrapped);
  else if (method == "DELETE") server.Delete(pattern, wrapped);
}

void Emulator::Impl::RouteWithReader(httplib::Server& server, const char* service,
                                     const std::string& pattern, ReaderHandler handler) {
  server.Post(pattern, [this, service, handler = std::move(handler)](
                           const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader& reader) {
    Serve(service, req, res, &reader, handler);
  });
}

void Emulator::Impl::RegisterFallback(httplib::Server& s, const char* service) {
  auto unknown = [](const httplib::Request&) {
    Answer a = CodeAnswer(kCodeUnknownEndpoint, "no such endpoint");
    a.status = 404;
    return a;
  };
  Route(s, service, "GET", ".*", unknown);
  Route(s, service, "POST", ".*", unknown);
}

std::optional<FlatBody> Emulator::Impl::CheckBody(const httplib::Request& req, bool signedBody,
                                                  const std::vector<std::string>& required,
                                                  Answer* failure) {
  if (Answer wrongType = ContentTypeAnswer(req); wrongType.status != 200) {
    *failure = wrongType;
    return std::nullopt;
  }
  std::string error;
  std::optional<FlatBody> body = ParseFlatBody(req.body, &error);
  if (!body) {
    *failure = CodeAnswer(kCodeMalformed, error);
    return std::nullopt;
  }
  if (signedBody) {
    switch (CheckSignature(*body)) {
      case SignatureCheck::kValid: break;
      case SignatureCheck::kMissing: *failure = CodeAnswer(kCodeBadSignature, "datasign missing"); return std::nullopt;
      case SignatureCheck::kMisplaced: *failure = CodeAnswer(kCodeBadSignature, "datasign must be the last member"); return std::nullopt;
      case SignatureCheck::kWrong: *failure = CodeAnswer(kCodeBadSignature, "datasign wrong"); return std::nullopt;
    }
  }
  if (!MembersInOrder(*body)) {
    *failure = CodeAnswer(kCodeMalformed, "members not in ascending byte order");
    return std::nullopt;
  }
  for (const auto& key : required) {
    if (!body->Has(key)) {
      *failure = CodeAnswer(kCodeMalformed, "missing member " + key);
      return std::nullopt;
    }
  }
  return body;
}

std::optional<FlatBody> Emulator::Impl::CheckClientBody(const httplib::Request& req, bool signedBody,
                                                        const std::vector<std::string>& required,
                                                        const std::vector<std::string>& optional,
                                                        Answer* failure) {
  std::optional<FlatBody> body = CheckBody(req, signedBody, required, failure);
  if (!body) return std::nullopt;
  if (auto extra = UndefinedMember(*body, required, optional, signedBody)) {
    *failure = CodeAnswer(kCodeUndefinedMember, "member " + *extra + " is not defined for this request");
    return std::nullopt;
  }
  if (auto wrong = WrongConstant(*body)) {
    *failure = CodeAnswer(kCodeWrongConstant, "member " + *wrong + " differs from the client's identity");
    return std::nullopt;
  }
  return body;
}

bool Emulator::Impl::Start() {
  if (running) return true;
  {
    std::lock_guard lock(mu);
    stopping = false;
  }
  // A dropped connection makes the next write fail; that must not end the
  // process. A handler the embedding process installed itself is kept.
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
  }
  std::error_code ec;
  if (opts.stateDir.empty()) {
    stateDir = MakeTempStateDir();
    ownStateDir = true;
    if (stateDir.empty()) {
      lastError = "cannot create a state folder";
      return false;
    }
  } else {
    // set.ini names files in this folder for clients that run from other
    // folders: every path handed out is absolute.
    stateDir = fs::absolute(opts.stateDir, ec).lexically_normal().string();
    fs::create_directories(stateDir, ec);
    if (!fs::is_directory(stateDir)) {
      lastError = "cannot create the state folder " + stateDir;
      return false;
    }
  }
  fs::create_directories(fs::path(stateDir) / "uploads", ec);
  fs::create_directories(fs::path(stateDir) / "results", ec);

  if (opts.certFile.empty()) {
    std::string err;
    if (!CreateTlsFiles(stateDir, &tls, &err)) {
      lastError = err;
      return false;
    }
  } else {
    tls.certFile = fs::absolute(opts.certFile, ec).string();
    tls.keyFile = fs::absolute(opts.keyFile, ec).string();
    tls.caFile = fs::absolute(opts.caFile.empty() ? opts.certFile : opts.caFile, ec).string();
  }

  api = std::make_unique<httplib::SSLServer>(tls.certFile.c_str(), tls.keyFile.c_str());
  stats = std::make_unique<httplib::SSLServer>(tls.certFile.c_str(), tls.keyFile.c_str());
  if (!api->is_valid() || !stats->is_valid()) {
    lastError = "cannot load the certificate or key";
    api.reset();
    stats.reset();
    return false;
  }
  pages = std::make_unique<httplib::Server>();
  preview = std::make_unique<httplib::Server>();
  update = std::make_unique<httplib::Server>();
  control = std::make_unique<httplib::Server>();

  size_t apiThreads = static_cast<size_t>(std::max(8, opts.threads));
  size_t otherThreads = std::max<size_t>(8, apiThreads / 4);
  struct Slot {
    httplib::Server* server;
    int wanted;
    int* port;
    size_t threads;
    const char* name;
  };
  Slot slots[] = {
      {api.get(), opts.apiPort, &apiPort, apiThreads, "api"},
      {pages.get(), opts.pagesPort, &pagesPort, otherThreads, "pages"},
      {preview.get(), opts.previewPort, &previewPort, std::max<size_t>(8, apiThreads / 2), "preview"},
      {stats.get(), opts.statsPort, &statsPort, otherThreads, "stats"},
      {update.get(), opts.updatePort, &updatePort, otherThreads, "update"},
      {control.get(), opts.controlPort, &controlPort, 8, "control"},
  };
  for (auto& s : slots) {
    size_t n = s.threads;
    s.server->new_task_queue = [n] { return new httplib::ThreadPool(n); };
    // Address reuse for quick restarts, but no port sharing: a fixed port
    // that is taken must make Start fail.
    s.server->set_socket_options([](int sock) {
      int yes = 1;
      setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // No Nagle delay: a small answer must not wait for the client's delayed
    // ACK (40 ms per exchange), or latency figures measure the stall.
    s.server->set_tcp_nodelay(true);
    s.server->set_keep_alive_timeout(1);
    // A whole upload (a 1 GiB file is 256 chunks) may ride one connection.
    s.server->set_keep_alive_max_count(kKeepAliveRequests);
    s.server->set_read_timeout(10, 0);
    s.server->set_write_timeout(10, 0);
    s.server->set_payload_max_length(2 * kChunkSize);
    s.server->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
      res.status = 500;
      res.set_content(CodeAnswer(kCodeInternal, "internal error").body, "application/json");
    });
  }
  RegisterApi(*api);
  RegisterPages(*pages);
  RegisterPreview(*preview);
  RegisterStats(*stats);
  RegisterUpdate(*update);
  RegisterControl(*control);

  bool bound = true;
  for (auto& s : slots) {
    int p = s.wanted > 0 ? (s.server->bind_to_port("127.0.0.1", s.wanted) ? s.wanted : 0)
                         : s.server->bind_to_any_port("127.0.0.1");
    *s.port = p > 0 ? p : 0;
    if (*s.port == 0) {
      if (bound) lastError = std::string("cannot bind the ") + s.name + " port" +
                             (s.wanted > 0 ? " " + std::to_string(s.wanted) : std::string());
      bound = false;
    }
  }
  // Every bound server gets its listening thread, also when Start is about to
  // fail: only a running server can be stopped, which closes its socket.
  auto exited = std::make_shared<std::array<std::atomic<bool>, 6>>();
  for (size_t i = 0; i < std::size(slots); ++i) {
    (*exited)[i] = *slots[i].port == 0;
    if (*slots[i].port == 0) continue;
    httplib::Server* server = slots[i].server;
    threads.emplace_back([server, exited, i] {
      server->listen_after_bind();
      (*exited)[i] = true;
    });
  }
  // A server can only be stopped once its thread has marked it running.
  auto deadline = Clock::now() + std::chrono::seconds(30);
  for (size_t i = 0; i < std::size(slots); ++i) {
    while (!slots[i].server->is_running() && !(*exited)[i] && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!slots[i].server->is_running() && bound) {
      lastError = std::string("the ") + slots[i].name + " server did not start";
      bound = false;
    }
  }
  if (!bound) {
    Stop();
    return false;
  }
  for (int i = 0; i < 2; ++i) resultWorkers.emplace_back([this] { ResultWorker(); });
  running = true;
  return true;
}

void Emulator::Impl::Stop() {
  {
    std::lock_guard lock(mu);
    stopping = true;
  }
  faultCv.notify_all();
  resultCv.notify_all();
  for (auto& t : resultWorkers) {
    if (t.joinable()) t.join();
  }
  resultWorkers.clear();
  for (httplib::Server* s : {static_cast<httplib::Server*>(api.get()), pages.get(), preview.get(),
                             static_cast<httplib::Server*>(stats.get()), update.get(), control.get()}) {
    if (s) s->stop();
  }
  // Clients keep idle connections open for reuse; a worker waiting on one
  // would hold the stop for the whole keep-alive time.
  for (int port : {apiPort, pagesPort, previewPort, statsPort, updatePort, controlPort}) {
    if (port != 0) ShutdownSockets(port, 0);
  }
  for (auto& t : threads) {
    if (t.joinable()) t.join();
  }
  threads.clear();
  running = false;
  if (ownStateDir && !stateDir.empty()) {
    std::error_code ec;
    fs::remove_all(stateDir, ec);
    stateDir.clear();
    ownStateDir = false;
  }
}

void Emulator::Impl::RegisterApi(httplib::Server& s) {
  RegisterTaskApi(s);
  RegisterAccountApi(s);
  RegisterFallback(s, "api");
}

// ---------------------------------------------------------------- Emulator

Emulator::Emulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Emulator::~Emulator() { impl_->Stop(); }

bool Emulator::Start() { return impl_->Start(); }
void Emulator::Stop() { impl_->Stop(); }
bool Emulator::Running() const { return impl_->running; }
std::string Emulator::LastError() const { return impl_->lastError; }

namespace {
std::string Base(const char* scheme, int port) {
  return port ? std::string(scheme) + "://127.0.0.1:" + std::to_string(port) : std::string();
}
}  // namespace

std::string Emulator::ApiBase() const { return Base("https", impl_->apiPort); }
std::string Emulator::PageBase() const { return Base("http", impl_->pagesPort); }
std::string Emulator::PreviewBase() const { return Base("http", impl_->previewPort); }
std::string Emulator::StatsBase() const { return Base("https", impl_->statsPort); }
std::string Emulator::UpdateBase() const { return Base("http", impl_->updatePort); }
std::string Emulator::ControlBase() const { return Base("http", impl_->controlPort); }
std::string Emulator::CaFile() const { return impl_->tls.caFile; }
std::string Emulator::StateDir() const { return impl_->stateDir; }

ServiceSettings Emulator::Impl::Settings() const {
  ServiceSettings s;
  s.apiBase = Base("https", apiPort);
  s.pageBase = Base("http", pagesPort);
  s.previewBase = Base("http", previewPort);
  s.statsBase = Base("https", statsPort);
  s.updateBase = Base("http", updatePort);
  s.chatPage = s.pageBase + "/chat";
  // No QQ platform here: its sign-in page address points at the pages
  // server, so nothing leaves the machine (confirm QQ sign-ins through the
  // control port or the qqlogin page).
  s.qqAuthBase = s.pageBase;
  s.caFile = tls.caFile;
  return s;
}

ServiceSettings Emulator::Settings() const { return impl_->Settings(); }

std::string Emulator::ServiceIniSection() const { return ServiceSettingsIniSection(Settings()); }

bool Emulator::WriteServiceIni(const std::string& path) const {
  // Keep every other section of an existing file (the user's own settings
  // live in it); only the "Service" section is replaced. A file that exists
  // but cannot be read is left alone rather than replaced by the section.
  std::string existing;
  std::error_code ec;
  if (fs::exists(path, ec)) {
    auto text = ReadTextFile(path);
    if (!text) return false;
    existing = std::move(*text);
  }
  std::string kept;
  std::istringstream in(existing);
  std::string line;
  bool inService = false;
  while (std::getline(in, line)) {
    std::string t = line;
    if (!t.empty() && t.back() == '\r') t.pop_back();
    size_t a = t.find_first_not_of(" \t");
    if (a != std::string::npos && t[a] == '[') {
      size_t b = t.find(']', a);
      std::string name = t.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
      inService = EqualsIgnoringAsciiCase(name, kServiceSection);
    }
    if (!inService) kept += line + "\n";
  }
  return WriteTextFileAtomically(path, kept + ServiceIniSection());
}

std::vector<JournalEntry> Emulator::Journal() const {
  std::lock_guard lock(impl_->journalMu);
  return {impl_->journal.begin(), impl_->journal.end()};
}

std::vector<JournalEntry> Emulator::Requests(const std::string& pathPattern) const {
  std::vector<JournalEntry> out;
  std::lock_guard lock(impl_->journalMu);
  for (const auto& e : impl_->journal) {
    if (Impl::PathMatches(pathPattern, e.path)) out.push_back(e);
  }
  return out;
}

void Emulator::ClearJournal() {
  std::lock_guard lock(impl_->journalMu);
  impl_->journal.clear();
}

bool Emulator::WaitUntil(const std::function<bool(const std::vector<JournalEntry>&)>& pred,
                         std::chrono::milliseconds timeout) const {
  auto deadline = Clock::now() + timeout;
  std::unique_lock lock(impl_->journalMu);
  while (true) {
    std::vector<JournalEntry> snapshot(impl_->journal.begin(), impl_->journal.end());
    if (pred(snapshot)) return true;
    if (impl_->journalCv.wait_until(lock, deadline) == std::cv_status::timeout) {
      snapshot.assign(impl_->journal.begin(), impl_->journal.end());
      return pred(snapshot);
    }
  }
}

bool Emulator::WaitForRequests(const std::string& pathPattern, size_t count,
                               std::chrono::milliseconds timeout) const {
  return WaitUntil(
      [&](const std::vector<JournalEntry>& j) {
        return static_cast<size_t>(std::count_if(j.begin(), j.end(), [&](const JournalEntry& e) {
                 return Impl::PathMatches(pathPattern, e.path);
               })) >= count;
      },
      timeout);
}

void Emulator::SetFault(const Fault& fault) {
  {
    std::lock_guard lock(impl_->mu);
    auto& f = impl_->faults;
    f.erase(std::remove_if(f.begin(), f.end(), [&](const Impl::FaultSlot& s) { return s.fault.path == fault.path; }),
            f.end());
    if (fault.count != 0) f.push_back({fault, impl_->nextFaultId++});
  }
  impl_->faultCv.notify_all();
}

void Emulator::ClearFault(const std::string& path) {
  {
    std::lock_guard lock(impl_->mu);
    auto& f = impl_->faults;
    f.erase(std::remove_if(f.begin(), f.end(), [&](const Impl::FaultSlot& s) { return s.fault.path == path; }),
            f.end());
  }
  impl_->faultCv.notify_all();
}

void Emulator::ClearFaults() {
  {
    std::lock_guard lock(impl_->mu);
    impl_->faults.clear();
  }
  impl_->faultCv.notify_all();
}

void Emulator::SetTaskBehaviour(const TaskBehaviour& behaviour) {
  std::lock_guard lock(impl_->mu);
  impl_->taskBehaviour = behaviour;
}

TaskBehaviour Emulator::GetTaskBehaviour() const {
  std::lock_guard lock(impl_->mu);
  return impl_->taskBehaviour;
}

void Emulator::SetServerTimeOffset(int64_t seconds) {
  std::lock_guard lock(impl_->mu);
  impl_->timeOffset = seconds;
}

std::optional<std::string> Emulator::UploadedBytes(const std::string& tasktag) const {
  std::shared_ptr<Task> task = impl_->FindTask(tasktag);
  if (!task) return std::nullopt;
  std::lock_guard lock(task->mu);
  if (task->upload == Task::Upload::kText) return task->text;
  if (task->upload != Task::Upload::kFile) return std::string();
  std::ifstream in(task->spillPath, std::ios::binary);
  std::string data(task->bytes, '\0');
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  if (static_cast<uint64_t>(in.gcount()) != task->bytes) return std::nullopt;
  return data;
}

std::string Emulator::UploadPath(const std::string& tasktag) const {
  std::shared_ptr<Task> task = impl_->FindTask(tasktag);
  if (!task) return std::string();
  std::lock_guard lock(task->mu);
  return task->spillPath;
}

size_t Emulator::TaskCount() const {
  std::lock_guard lock(impl_->mu);
  return impl_->tasks.size();
}

std::string Emulator::Translate(const std::string& utf8Text, const std::string& from, const std::string& to) {
  return TranslateText(utf8Text, from, to);
}

void Emulator::SetUpdate(const UpdateBehaviour& behaviour) {
  std::lock_guard lock(impl_->mu);
  impl_->updateBehaviour = behaviour;
}

UpdateBehaviour Emulator::GetUpdate() const {
  std::lock_guard lock(impl_->mu);
  return impl_->updateBehaviour;
}

std::string Emulator::LastSmsCode(const std::string& mobile) const {
  std::lock_guard lock(impl_->mu);
  auto it = impl_->smsCodes.find(mobile);
  return it == impl_->smsCodes.end() ? std::string() : it->second;
}

std::string Emulator::LastCaptchaAnswer() const {
  std::lock_guard lock(impl_->mu);
  return impl_->lastCaptcha;
}

void Emulator::SetCaptchaRequired(bool required) {
  std::lock_guard lock(impl_->mu);
  impl_->captchaRequired = required;
}

std::vector<std::string> Emulator::IssuedLoginTags() const {
  std::lock_guard lock(impl_->mu);
  return impl_->loginTagOrder;
}

void Emulator::AddUser(const User& user) {
  std::lock_guard lock(impl_->mu);
  User u = user;
  if (u.uid == 0) u.uid = impl_->nextUid++;
  impl_->users[u.username] = u;
}

std::optional<User> Emulator::FindUser(const std::string& usernameOrMobile) const {
  std::lock_guard lock(impl_->mu);
  std::string key = impl_->UserKeyForAccount(usernameOrMobile);
  if (key.empty()) return std::nullopt;
  return impl_->users.at(key);
}

std::vector<User> Emulator::Users() const {
  std::lock_guard lock(impl_->mu);
  std::vector<User> out;
  for (const auto& [k, u] : impl_->users) out.push_back(u);
  return out;
}

std::vector<StatsEvent> Emulator::StatsEvents() const {
  std::lock_guard lock(impl_->mu);
  return impl_->statsEvents;
}

}  // namespace quillora::emulator
