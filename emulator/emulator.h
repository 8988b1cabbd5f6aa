#pragma once
// A local stand-in for the remote services the client talks to: the service
// API (HTTPS) with its browser pages (HTTP), the preview storage (HTTP), the
// statistics host (HTTPS) and the update host (HTTP), plus a control port
// (HTTP, JSON) that drives the same switches as this C++ interface.
//
// Tests embed it in-process:
//
//   quillora::emulator::Emulator emu;
//   ASSERT_TRUE(emu.Start()) << emu.LastError();
//   quillora::ServiceSettings s = emu.Settings();   // hand to the client
//   ... run the client ...
//   auto chunks = emu.Requests("/api/v4/uploadfile");
//
// Every server binds to 127.0.0.1 on an OS-chosen port unless a port is given.
// All member functions are thread-safe. No exception leaves this interface.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/service_settings.h"

namespace quillora::emulator {

// Answer codes of the emulator's own (the client gives them no meaning).
inline constexpr int kCodeSuccess = 10000;          // success
inline constexpr int kCodeChunkAccepted = 11000;    // intermediate chunk accepted
inline constexpr int kCodeProcessing = 11000;       // task still being processed (default)
inline constexpr int kCodeMalformed = 40000;        // body not laid out as a flat object of strings, missing member
inline constexpr int kCodeBadSignature = 40100;     // "datasign" missing or wrong
inline constexpr int kCodeTaskMismatch = 40300;     // token or timestamp does not belong to the task
inline constexpr int kCodeBadUser = 40301;          // unknown account or user token
inline constexpr int kCodeUnknownEndpoint = 40400;  // no such path
inline constexpr int kCodeUnknownTask = 40401;      // no such task tag
inline constexpr int kCodeChunkOutOfOrder = 40900;  // a chunk skipped ahead
inline constexpr int kCodeChunkDuplicate = 40901;   // a chunk sent again
inline constexpr int kCodeChunkNumbering = 40902;   // chunks/chunk/fileindex invalid or inconsistent
inline constexpr int kCodeChunkSize = 40903;        // a chunk of the wrong length
inline constexpr int kCodeTaskNotDone = 40910;      // taskdown before the task finished
inline constexpr int kCodeUploadRepeated = 40911;    // uploadtext/uploadfile repeated or mixed
inline constexpr int kCodeScanPending = 41000;      // wechatstate: not confirmed yet
inline constexpr int kCodeUnknownLoginTag = 41001;  // wechatstate: tag never issued
inline constexpr int kCodeInternal = 50000;         // the emulator could not store data (disk full)
// A request the client's own rules would never produce (the emulator as a
// strict referee of the client):
inline constexpr int kCodeUndefinedMember = 42001;  // a member the endpoint does not define; datasign in uploadtext
inline constexpr int kCodeWrongConstant = 42002;    // productid, softname, filecount, isshare, ifshowtxt, limitsize, parainfo
inline constexpr int kCodeBadUploadName = 42003;    // filename not "QuilloraFileSize<n>[.<ext>]"
inline constexpr int kCodeBadTimestamp = 42004;     // uploadpar timestamp not decimal
inline constexpr int kCodeDeviceMismatch = 42005;   // deviceid not the machineid the task was created with
inline constexpr int kCodeClockSkew = 42006;        // uploadpar timestamp over 10 minutes from the server clock
inline constexpr int kCodeBadTextEscape = 42007;    // textvoice not all \uXXXX escapes
inline constexpr int kCodeContentType = 42008;      // Content-Type not application/json (HTTP 415)
inline constexpr int kCodeQueryOrder = 42009;       // uploadfile query names not in the client's order
inline constexpr int kCodeUpdateLayout = 42010;     // checkUpdate members missing, extra or out of order
inline constexpr int kCodeUpdateTime = 42011;       // checkUpdate machine_code not decimal or not equal to guid

// The signing key and statistics salt the client uses; the emulator checks
// with its own copies.
inline constexpr char kSigningKey[] = "kQwEr20190311ZaXcV";
inline constexpr char kStatisticsSalt[] = "zorvik_counts_k7_##**?";

struct Options {
  // 0: OS-chosen port.
  int apiPort = 0;
  int pagesPort = 0;
  int previewPort = 0;
  int statsPort = 0;
  int updatePort = 0;
  int controlPort = 0;
  // Folder for the certificate, the CA file, upload spill files and result
  // files. Empty: a fresh folder under the system temporary folder, removed
  // when the emulator stops.
  std::string stateDir;
  // Given certificate and key (PEM). Empty: generated at start (a small CA
  // and a server certificate for 127.0.0.1 and localhost, signed by it).
  std::string certFile;
  std::string keyFile;
  std::string caFile;  // CA to hand to clients when certFile is given; default certFile
  // Worker threads per server: the API server gets this many, the preview
  // storage half, the others a quarter (at least 8 each). A connection holds
  // a worker while it is open, so this bounds the concurrent clients.
  int threads = 64;
  // Processing time of a task from the end of its upload until taskstate
  // answers done.
  std::chrono::milliseconds taskProcessingTime{200};
};

// Where a fault applies: `path` matches a request path exactly, or, when it
// ends in "*", every path starting with the text before the "*".
struct Fault {
  enum class Kind {
    kNone,       // only the delay (if any), then the normal answer
    kCode,       // answer {"code":<code>} (HTTP status `httpStatus`)
    kMalformed,  // answer a body that is not JSON
    kTruncated,  // announce the full length, send half the body, close
    kDrop,       // close the connection without sending anything
    kHang,       // never answer (until the fault is cleared or the emulator stops)
    kCloseAfter, // answer normally, then close the connection without announcing it
  };
  std::string path;
  Kind kind = Kind::kNone;
  int code = 0;
  int httpStatus = 200;
  std::chrono::milliseconds delay{0};
  int count = -1;  // requests it applies to before it lapses; -1: until cleared
};

// One request as received (the control port is not recorded).
struct JournalEntry {
  uint64_t seq = 0;      // 1, 2, ... in order of arrival
  std::string service;   // "api", "pages", "preview", "stats", "update"
  std::string method;
  std::string path;      // decoded path, without the query
  std::string query;     // raw text after "?", empty when none
  int remotePort = 0;    // the client's port: requests of one connection share it
  // Header lines, sorted by name without regard to case (the order on the
  // wire is not kept); repeated names appear once per line.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;      // at most kJournalBodyLimit bytes of it (uploadfile: 256)
  uint64_t bodySize = 0; // full size
  int httpStatus = 0;    // status answered (0: not yet, dropped or hanging)
  int code = 0;          // "code" of the answer when it was JSON with an integer code
  std::string Header(const std::string& name) const;  // case-insensitive; empty when absent
};
inline constexpr size_t kJournalBodyLimit = 64 * 1024;

// How tasks run. Applies to tasks created after it is set.
struct TaskBehaviour {
  std::chrono::milliseconds processingTime{200};
  int processingCode = kCodeProcessing;  // answered by taskstate while processing
  int finalCode = kCodeSuccess;          // answered when done: 10000, or a failure such as 18000
};

// What /ver1/checkUpdate answers.
struct UpdateBehaviour {
  int code = 0;                  // 0 or 3: no update; 1: responseData; anything else: bare code
  std::string version = "1.1.0"; // "software_version"
  std::string downloadUrl;       // "software_download"; empty: the emulator's installer URL
  int updateType = 0;            // "software_update_type"
  std::string installerBytes = "MZ quillora emulator installer\n";
  bool includeChecksum = false;  // adds "software_md5" (MD5 hex of installerBytes)
};

struct User {
  std::string username;     // "username"
  std::string usertoken;    // "usertoken"
  std::string nickname;
  std::string bindmobile;
  int64_t uid = 0;
  int accounttype = 1;      // 1 mobile, 3 WeChat, 4 QQ, 5 other
  bool vip = false;
};

// One statistics event as received.
struct StatsEvent {
  std::string name;     // "AppInstall", "AppStart", "AppLogin"
  std::vector<std::pair<std::string, std::string>> values;  // path pairs, e.g. {"loginMethod","mobile"}
  std::string timeText; // the time text carried by the sign line
  bool signValid = false;
  JournalEntry request;
};

class Emulator {
 public:
  explicit Emulator(Options options = {});
  ~Emulator();  // stops
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  // Binds every server and starts serving. False (see LastError) when a port
  // cannot be bound or the certificate cannot be made or loaded.
  bool Start();
  // Releases hanging answers, stops every server and joins its threads.
  void Stop();
  bool Running() const;
  std::string LastError() const;

  // Base addresses, "scheme://127.0.0.1:port" without a trailing slash.
  std::string ApiBase() const;      // https
  std::string PageBase() const;     // http
  std::string PreviewBase() const;  // http
  std::string StatsBase() const;    // https
  std::string UpdateBase() const;   // http
  std::string ControlBase() const;  // http
  std::string CaFile() const;       // PEM to trust for the two HTTPS servers
  std::string StateDir() const;

  // A ServiceSettings record with every base address and the CA file filled.
  ServiceSettings Settings() const;
  // The set.ini "Service" section as INI text (section line and key lines).
  std::string ServiceIniSection() const;
  // Writes ServiceIniSection() into the INI file `path`: replaces its
  // "Service" section and keeps every other section; creates the file when
  // missing. Written to a temporary file first, then renamed. False on failure.
  bool WriteServiceIni(const std::string& path) const;

  // Journal.
  std::vector<JournalEntry> Journal() const;
  std::vector<JournalEntry> Requests(const std::string& pathPattern) const;  // same matching as Fault::path
  void ClearJournal();
  // Waits until `pred` holds over the journal, or the deadline passes.
  bool WaitUntil(const std::function<bool(const std::vector<JournalEntry>&)>& pred,
                 std::chrono::milliseconds timeout) const;
  // Waits until at least `count` requests match `pathPattern`.
  bool WaitForRequests(const std::string& pathPattern, size_t count,
                       std::chrono::milliseconds timeout) const;

  // Fault injection. A later fault for the same path replaces the earlier.
  void SetFault(const Fault& fault);
  void ClearFault(const std::string& path);
  void ClearFaults();

  // Tasks.
  void SetTaskBehaviour(const TaskBehaviour& behaviour);
  TaskBehaviour GetTaskBehaviour() const;
  // Shift of the statistics host's clock against the local clock, seconds.
  void SetServerTimeOffset(int64_t seconds);
  // The reassembled upload of a task (empty when unknown); for tests.
  std::optional<std::string> UploadedBytes(const std::string& tasktag) const;
  std::string UploadPath(const std::string& tasktag) const;  // spill file of the task
  size_t TaskCount() const;
  // The translation engine, exposed so tests can compute expected results.
  static std::string Translate(const std::string& utf8Text, const std::string& from,
                               const std::string& to);

  // Update host.
  void SetUpdate(const UpdateBehaviour& behaviour);
  UpdateBehaviour GetUpdate() const;
  std::string InstallerUrl() const;  // where the configured installer is served

  // Accounts.
  std::string LastSmsCode(const std::string& mobile) const;  // empty when none sent
  std::string LastCaptchaAnswer() const;                     // empty when none issued
  void SetCaptchaRequired(bool required);  // safsmsverify and safloginquick then answer 28001
  // Confirms a scan sign-in for the tag (false: unknown tag). The next
  // wechatstate poll signs in `username` (created when new); an empty name
  // makes a new WeChat user, a name starting with "qq_" a QQ user.
  bool ConfirmScan(const std::string& logintag, const std::string& username = "");
  std::vector<std::string> IssuedLoginTags() const;
  void AddUser(const User& user);  // replaces a user with the same username
  std::optional<User> FindUser(const std::string& usernameOrMobile) const;
  std::vector<User> Users() const;

  // Statistics.
  std::vector<StatsEvent> StatsEvents() const;

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Signature helpers, with the emulator's own canonicalisation (for tests that
// build requests by hand).
// "k1=v1&k2=v2...<key>" over the members in ascending byte order of keys.
std::string SignatureFor(const std::vector<std::pair<std::string, std::string>>& members);
// A body laid out as the client lays it out: members sorted, every value a
// JSON string inserted as it is, then "datasign" when `sign` is true.
std::string BodyFor(std::vector<std::pair<std::string, std::string>> members, bool sign = true);
// "sign:" line value for a statistics request over `timeText` (without "sign:").
std::string StatisticsSignValue(const std::string& timeText);

}  // namespace quillora::emulator
