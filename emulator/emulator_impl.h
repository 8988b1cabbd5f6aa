#pragma once
// Internal state of the emulator, shared by its handler files. Not installed
// for other components: they use emulator/emulator.h only.
#include <httplib.h>
#include <json/json.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "emulator/emulator.h"
#include "emulator/flat_body.h"
#include "emulator/tls.h"

namespace quillora::emulator {

using Clock = std::chrono::steady_clock;

inline constexpr uint64_t kChunkSize = 4194304;

struct Task {
  std::mutex mu;  // guards every field below
  std::string tag, token, timestamp;
  std::string tasktype, from, to, outputExt, filename, parainfo, account;
  std::string machineid;  // taskstate and taskdown must carry it as deviceid
  TaskBehaviour behaviour;
  enum class Upload { kNone, kFile, kText } upload = Upload::kNone;
  int chunks = -1;    // announced chunk count, -1 until the first chunk
  int nextChunk = 0;  // the chunk expected next
  uint64_t bytes = 0; // committed bytes in the spill file
  bool uploadComplete = false;
  std::string spillPath;
  std::string text;   // decoded text of a text task
  std::optional<Clock::time_point> processingStart;
  // Filled once when the task is first seen done.
  bool resultReady = false;
  std::string resultText;   // "txtcontent", or the preview text of a document
  std::string previewName;  // name under /preview/fanyi/, documents only
  std::string resultName;   // name under /download/<tag>/
  std::string resultPath;   // file in the state folder
};

// What a handler hands back: the JSON answer (or other content) to send.
struct Answer {
  int status = 200;
  std::string body;
  std::string contentType = "application/json; charset=utf-8";
  // When set, the body is streamed from this file instead (downloads).
  std::string filePath;
  uint64_t fileSize = 0;
  std::vector<std::pair<std::string, std::string>> headers;
};

Answer JsonAnswer(const Json::Value& v);
// HTTP 415 with kCodeContentType unless the request says application/json;
// a default Answer (status 200, empty body) when it does.
Answer ContentTypeAnswer(const httplib::Request& req);
Answer CodeAnswer(int code, const std::string& message = std::string());
std::string JsonText(const Json::Value& v);

class Emulator::Impl {
 public:
  explicit Impl(Options o);
  ~Impl();

  bool Start();
  void Stop();

  // --- request plumbing (emulator.cpp)
  using Handler = std::function<Answer(const httplib::Request&)>;
  using ReaderHandler =
      std::function<Answer(const httplib::Request&, const httplib::ContentReader&, uint64_t seq)>;
  void Route(httplib::Server& server, const char* service, const std::string& method,
             const std::string& pattern, Handler handler);
  void RouteWithReader(httplib::Server& server, const char* service, const std::string& pattern,
                       ReaderHandler handler);
  void Serve(const char* service, const httplib::Request& req, httplib::Response& res,
             const httplib::ContentReader* reader, const ReaderHandler& handler);
  uint64_t JournalBegin(const char* service, const httplib::Request& req);
  void JournalBody(uint64_t seq, const std::string& prefix, uint64_t size);
  void JournalFinish(uint64_t seq, int status, const std::string& body);
  std::optional<Fault> TakeFault(const std::string& path, uint64_t* id);
  bool FaultStillSet(uint64_t id) const;
  static bool PathMatches(const std::string& pattern, const std::string& path);
  void DropConnection(const httplib::Request& req);
  // Shuts down this process's connected sockets whose local port is
  // `localPort` and, unless `peerPort` is 0, whose peer port is `peerPort`.
  static void ShutdownSockets(int localPort, int peerPort);

  // --- services
  void RegisterApi(httplib::Server& s);       // task_api.cpp, account_api.cpp
  void RegisterTaskApi(httplib::Server& s);   // task_api.cpp
  void RegisterAccountApi(httplib::Server& s);  // account_api.cpp
  void RegisterPages(httplib::Server& s);     // account_api.cpp
  void RegisterPreview(httplib::Server& s);   // task_api.cpp
  void RegisterStats(httplib::Server& s);     // side_services.cpp
  void RegisterUpdate(httplib::Server& s);    // side_services.cpp
  void RegisterControl(httplib::Server& s);   // control.cpp
  void RegisterFallback(httplib::Server& s, const char* service);

  // Parses and checks a signed (or plain) body. On failure returns nothing
  // and sets *failure to the answer to send.
  std::optional<FlatBody> CheckBody(const httplib::Request& req, bool signedBody,
                                    const std::vector<std::string>& required, Answer* failure);

  // CheckBody, then the client's own rules: no member beyond `required` and
  // `optional`, and the identity constants right where they appear.
  std::optional<FlatBody> CheckClientBody(const httplib::Request& req, bool signedBody,
                                          const std::vector<std::string>& required,
                                          const std::vector<std::string>& optional, Answer* failure);

  int64_t ServerTime() const;
  // The base addresses of the running servers and the CA file to trust.
  ServiceSettings Settings() const;
  std::string NewId(const char* prefix, size_t hexDigits);
  std::shared_ptr<Task> FindTask(const std::string& tag) const;
  void MakeResult(const std::shared_ptr<Task>& task);  // without task->mu held
  void QueueResult(const std::shared_ptr<Task>& task);
  void ResultWorker();
  Json::Value UserInfo(const User& user) const;
  std::optional<User> UserByToken(const std::string& token) const;  // with mu held
  std::string UserKeyForAccount(const std::string& account) const;  // with mu held

  Options opts;
  std::string lastError;

  // Servers.
  std::unique_ptr<httplib::SSLServer> api, stats;
  std::unique_ptr<httplib::Server> pages, preview, update, control;
  std::vector<std::thread> threads;
  int apiPort = 0, pagesPort = 0, previewPort = 0, statsPort = 0, updatePort = 0, controlPort = 0;
  std::atomic<bool> running{false};
  std::string stateDir;
  bool ownStateDir = false;
  TlsFiles tls;

  // General state.
  mutable std::mutex mu;
  std::condition_variable faultCv;  // with mu: hang release and stop
  bool stopping = false;
  struct FaultSlot {
    Fault fault;
    uint64_t id;
  };
  std::vector<FaultSlot> faults;
  uint64_t nextFaultId = 1;
  uint64_t idCounter = 0;

  // Journal.
  mutable std::mutex journalMu;
  mutable std::condition_variable journalCv;
  std::deque<JournalEntry> journal;
  uint64_t nextSeq = 1;

  // Tasks (under mu).
  std::map<std::string, std::shared_ptr<Task>> tasks;
  TaskBehaviour taskBehaviour;
  int64_t timeOffset = 0;
  std::set<std::string> productInfos;
  // Results are made by background workers once a task's material is complete.
  std::deque<std::shared_ptr<Task>> resultQueue;
  std::condition_variable resultCv;  // with mu
  std::vector<std::thread> resultWorkers;

  // Update (under mu).
  UpdateBehaviour updateBehaviour;

  // Accounts (under mu).
  std::map<std::string, User> users;              // by username
  std::map<std::string, std::string> smsCodes;    // mobile -> last code sent
  std::map<std::string, std::string> captchas;    // deviceid -> answer
  std::string lastCaptcha;
  bool captchaRequired = false;
  struct LoginTag {
    bool confirmed = false;
    std::string username;
  };
  std::map<std::string, LoginTag> loginTags;
  std::vector<std::string> loginTagOrder;
  int64_t nextUid = 100001;

  // Statistics (under mu).
  std::vector<StatsEvent> statsEvents;
};

}  // namespace quillora::emulator
