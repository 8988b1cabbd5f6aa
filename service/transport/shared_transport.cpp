#include "service/transport/shared_transport.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "service/transport/http.h"
#include "service/transport/remote_services.h"

namespace quillora::transport_detail {
namespace {

std::int64_t Nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Which CA file, and which version of it: a file replaced by a rename or
// rewritten in place differs in at least one of these.
struct TrustSource {
  std::string caFile;
  bool present = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::int64_t changedNs = 0;

  bool operator==(const TrustSource&) const = default;
};

TrustSource CurrentTrustSource() {
  TrustSource source;
  source.caFile = CaFile();
  struct stat st {};
  if (source.caFile.empty() || ::stat(source.caFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return source;
  source.present = true;
  source.device = st.st_dev;
  source.inode = st.st_ino;
  source.size = st.st_size;
  source.modifiedNs = Nanoseconds(st.st_mtim);
  source.changedNs = Nanoseconds(st.st_ctim);
  return source;
}

// Where libcurl looks for the system's certificates by default.
struct SystemTrust {
  std::string bundle = "/etc/ssl/certs/ca-certificates.crt";
  std::string folder;
};

SystemTrust SystemTrustLocations() {
  SystemTrust trust;
  CURL* probe = curl_easy_init();
  if (probe == nullptr) return trust;
  char* path = nullptr;
  if (curl_easy_getinfo(probe, CURLINFO_CAINFO, &path) == CURLE_OK && path != nullptr) trust.bundle = path;
  path = nullptr;
  if (curl_easy_getinfo(probe, CURLINFO_CAPATH, &path) == CURLE_OK && path != nullptr) trust.folder = path;
  curl_easy_cleanup(probe);
  return trust;
}

// The system store plus the CA file. A missing system bundle leaves the CA
// file alone; a CA file that is missing, unreadable or far too big for a
// certificate bundle leaves the system store alone. Chains are built with
// the rules libcurl applies to the store it would build itself.
X509_STORE* BuildTrustStore(const TrustSource& source) {
  static const SystemTrust system = SystemTrustLocations();
  X509_STORE* store = X509_STORE_new();
  if (store == nullptr) return nullptr;
  X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
  X509_STORE_load_file(store, system.bundle.c_str());
  if (!system.folder.empty()) X509_STORE_load_path(store, system.folder.c_str());
  if (source.present && source.size <= static_cast<std::int64_t>(kMaxAnswerBytes)) {
    X509_STORE_load_file(store, source.caFile.c_str());
  }
  // What failed to load is not an error of the requests that follow.
  ERR_clear_error();
  return store;
}

// Each new connection's TLS context verifies against the shared store (the
// context takes a reference; the store is never changed once built).
CURLcode UseTrustStore(CURL*, void* sslContext, void* store) {
  SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), static_cast<X509_STORE*>(store));
  return CURLE_OK;
}

}  // namespace

class SharedTransport {
 public:
  explicit SharedTransport(TrustSource source) : source_(std::move(source)), store_(BuildTrustStore(source_)) {
    share_ = curl_share_init();
    if (share_ != nullptr && !ConfigureShare()) {
      curl_share_cleanup(share_);
      share_ = nullptr;
    }
  }
  ~SharedTransport() {
    // Every handle attached to the share has let go of it by now: each holds
    // a reference while attached.
    if (share_ != nullptr) curl_share_cleanup(share_);
    if (store_ != nullptr) X509_STORE_free(store_);
  }
  SharedTransport(const SharedTransport&) = delete;
  SharedTransport& operator=(const SharedTransport&) = delete;

  const TrustSource& Source() const { return source_; }
  X509_STORE* Store() const { return store_; }
  CURLSH* Share() const { return share_; }

 private:
  bool ConfigureShare() {
    bool ok = curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &SharedTransport::Lock) == CURLSHE_OK;
    ok = ok && curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &SharedTransport::Unlock) == CURLSHE_OK;
    ok = ok && curl_share_setopt(share_, CURLSHOPT_USERDATA, this) == CURLSHE_OK;
    for (curl_lock_data data : {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_DNS}) {
      ok = ok && curl_share_setopt(share_, CURLSHOPT_SHARE, data) == CURLSHE_OK;
    }
    return ok;
  }

  std::mutex* LockFor(curl_lock_data data) {
    const auto index = static_cast<std::size_t>(data);
    return index < locks_.size() ? &locks_[index] : nullptr;
  }
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    if (std::mutex* m = static_cast<SharedTransport*>(self)->LockFor(data)) m->lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    if (std::mutex* m = static_cast<SharedTransport*>(self)->LockFor(data)) m->unlock();
  }

  const TrustSource source_;
  X509_STORE* const store_;
  CURLSH* share_ = nullptr;
  // One lock per kind of shared data; libcurl never nests two of one kind.
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
};

namespace {

// The generation new requests attach to, replaced when the CA file changes.
// Never destroyed: request threads may run until the process ends.
SharedTransportRef CurrentGeneration() {
  static std::mutex* const mutex = new std::mutex;
  static SharedTransportRef* const current = new SharedTransportRef;
  TrustSource source = CurrentTrustSource();
  std::lock_guard lock(*mutex);
  if (!*current || !((*current)->Source() == source)) {
    *current = std::make_shared<SharedTransport>(std::move(source));
  }
  return *current;
}

template <typename T>
bool Set(CURL* easy, CURLoption option, T value) {
  return curl_easy_setopt(easy, option, value) == CURLE_OK;
}

}  // namespace

bool AttachSharedTransport(CURL* easy, SharedTransportRef& holder) {
  EnsureCurlInitialised();
  SharedTransportRef generation = CurrentGeneration();
  // The share first: attaching it lets go of the share the handle had.
  bool ok = generation->Share() == nullptr || Set(easy, CURLOPT_SHARE, generation->Share());
  // Without a store nothing could be verified: no request is made.
  char* const none = nullptr;
  ok = ok && generation->Store() != nullptr && Set(easy, CURLOPT_CAINFO, none) &&
       Set(easy, CURLOPT_CAPATH, none) && Set(easy, CURLOPT_SSL_CTX_FUNCTION, &UseTrustStore) &&
       Set(easy, CURLOPT_SSL_CTX_DATA, static_cast<void*>(generation->Store()));
  // Even after a failed step the handle may point at this generation.
  holder = std::move(generation);
  return ok;
}

}  // namespace quillora::transport_detail
