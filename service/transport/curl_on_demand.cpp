// Linked into the windowed program only (as objects, ahead of the real
// libraries): defines the libcurl and OpenSSL entry points the transport
// uses and forwards each to the real library, which is loaded the first time
// any of them is called. The program then opens its window without mapping
// and relocating libcurl and the forty libraries it brings along; the first
// request, made after the window has painted, pays for that once.
//
// Every other program (tools, tests, the Update program) links the libraries
// as usual and never sees this file.
#define CURL_DISABLE_TYPECHECK  // the real prototypes, not libcurl's checking macros
#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include <dlfcn.h>

static_assert(OPENSSL_VERSION_MAJOR == 3, "the library names below are OpenSSL 3's");

namespace {

enum class Library { kCurl, kSsl, kCrypto };

// The libraries, loaded together on first use. libcurl brings libssl and
// libcrypto along, so all three are the instances libcurl itself uses.
void* Handle(Library library) {
  static void* const handles[3] = {
      dlopen("libcurl.so.4", RTLD_NOW | RTLD_GLOBAL),
      dlopen("libssl.so.3", RTLD_NOW | RTLD_GLOBAL),
      dlopen("libcrypto.so.3", RTLD_NOW | RTLD_GLOBAL),
  };
  void* handle = handles[static_cast<int>(library)];
  if (handle == nullptr) {
    // What the loader would have said at start: the program cannot work without it.
    std::fprintf(stderr, "Quillora: cannot load a network library: %s\n", dlerror());
    std::_Exit(1);
  }
  return handle;
}

template <class Fn>
Fn Real(Library library, const char* name) {
  void* symbol = dlsym(Handle(library), name);
  if (symbol == nullptr) {
    std::fprintf(stderr, "Quillora: the network library lacks %s\n", name);
    std::_Exit(1);
  }
  return reinterpret_cast<Fn>(symbol);
}

// Resolved once, on the first call of each.
#define QUILLORA_REAL(library, name) \
  static const auto real = Real<decltype(&name)>(Library::library, #name)

using FunctionPointer = void (*)();

// Reads the one argument of an easy or multi option the way libcurl does,
// by the option's number range, and hands it on with the same type.
template <class Handle_, class Option, class Result>
Result ForwardOption(Result (*real)(Handle_*, Option, ...), Handle_* handle, Option option, va_list args) {
  const long number = static_cast<long>(option);
  if (number < CURLOPTTYPE_OBJECTPOINT) return real(handle, option, va_arg(args, long));
  if (number < CURLOPTTYPE_FUNCTIONPOINT) return real(handle, option, va_arg(args, void*));
  if (number < CURLOPTTYPE_OFF_T) return real(handle, option, va_arg(args, FunctionPointer));
  if (number < CURLOPTTYPE_BLOB) return real(handle, option, va_arg(args, curl_off_t));
  return real(handle, option, va_arg(args, void*));
}

}  // namespace

extern "C" {

CURLcode curl_global_init(long flags) {
  QUILLORA_REAL(kCurl, curl_global_init);
  return real(flags);
}

CURL* curl_easy_init() {
  QUILLORA_REAL(kCurl, curl_easy_init);
  return real();
}

CURLcode curl_easy_setopt(CURL* easy, CURLoption option, ...) {
  QUILLORA_REAL(kCurl, curl_easy_setopt);
  va_list args;
  va_start(args, option);
  const CURLcode result = ForwardOption(real, easy, option, args);
  va_end(args);
  return result;
}

CURLcode curl_easy_getinfo(CURL* easy, CURLINFO info, ...) {
  QUILLORA_REAL(kCurl, curl_easy_getinfo);
  va_list args;
  va_start(args, info);
  void* out = va_arg(args, void*);  // every query writes through one pointer
  va_end(args);
  return real(easy, info, out);
}

CURLcode curl_easy_perform(CURL* easy) {
  QUILLORA_REAL(kCurl, curl_easy_perform);
  return real(easy);
}

void curl_easy_reset(CURL* easy) {
  QUILLORA_REAL(kCurl, curl_easy_reset);
  real(easy);
}

void curl_easy_cleanup(CURL* easy) {
  QUILLORA_REAL(kCurl, curl_easy_cleanup);
  real(easy);
}

curl_slist* curl_slist_append(curl_slist* list, const char* text) {
  QUILLORA_REAL(kCurl, curl_slist_append);
  return real(list, text);
}

void curl_slist_free_all(curl_slist* list) {
  QUILLORA_REAL(kCurl, curl_slist_free_all);
  real(list);
}

CURLSH* curl_share_init() {
  QUILLORA_REAL(kCurl, curl_share_init);
  return real();
}

CURLSHcode curl_share_setopt(CURLSH* share, CURLSHoption option, ...) {
  QUILLORA_REAL(kCurl, curl_share_setopt);
  va_list args;
  va_start(args, option);
  CURLSHcode result;
  switch (option) {
    case CURLSHOPT_SHARE:
    case CURLSHOPT_UNSHARE:
      result = real(share, option, va_arg(args, int));
      break;
    case CURLSHOPT_LOCKFUNC:
    case CURLSHOPT_UNLOCKFUNC:
      result = real(share, option, va_arg(args, FunctionPointer));
      break;
    default:
      result = real(share, option, va_arg(args, void*));
      break;
  }
  va_end(args);
  return result;
}

CURLSHcode curl_share_cleanup(CURLSH* share) {
  QUILLORA_REAL(kCurl, curl_share_cleanup);
  return real(share);
}

CURLM* curl_multi_init() {
  QUILLORA_REAL(kCurl, curl_multi_init);
  return real();
}

CURLMcode curl_multi_setopt(CURLM* multi, CURLMoption option, ...) {
  QUILLORA_REAL(kCurl, curl_multi_setopt);
  va_list args;
  va_start(args, option);
  const CURLMcode result = ForwardOption(real, multi, option, args);
  va_end(args);
  return result;
}

CURLMcode curl_multi_add_handle(CURLM* multi, CURL* easy) {
  QUILLORA_REAL(kCurl, curl_multi_add_handle);
  return real(multi, easy);
}

CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* easy) {
  QUILLORA_REAL(kCurl, curl_multi_remove_handle);
  return real(multi, easy);
}

CURLMcode curl_multi_perform(CURLM* multi, int* running) {
  QUILLORA_REAL(kCurl, curl_multi_perform);
  return real(multi, running);
}

CURLMcode curl_multi_poll(CURLM* multi, curl_waitfd extra[], unsigned int count, int timeoutMs, int* ready) {
  QUILLORA_REAL(kCurl, curl_multi_poll);
  return real(multi, extra, count, timeoutMs, ready);
}

CURLMcode curl_multi_wakeup(CURLM* multi) {
  QUILLORA_REAL(kCurl, curl_multi_wakeup);
  return real(multi);
}

CURLMcode curl_multi_cleanup(CURLM* multi) {
  QUILLORA_REAL(kCurl, curl_multi_cleanup);
  return real(multi);
}

X509_STORE* X509_STORE_new() {
  QUILLORA_REAL(kCrypto, X509_STORE_new);
  return real();
}

void X509_STORE_free(X509_STORE* store) {
  QUILLORA_REAL(kCrypto, X509_STORE_free);
  real(store);
}

int X509_STORE_set_flags(X509_STORE* store, unsigned long flags) {
  QUILLORA_REAL(kCrypto, X509_STORE_set_flags);
  return real(store, flags);
}

int X509_STORE_load_file(X509_STORE* store, const char* file) {
  QUILLORA_REAL(kCrypto, X509_STORE_load_file);
  return real(store, file);
}

int X509_STORE_load_path(X509_STORE* store, const char* path) {
  QUILLORA_REAL(kCrypto, X509_STORE_load_path);
  return real(store, path);
}

void ERR_clear_error() {
  QUILLORA_REAL(kCrypto, ERR_clear_error);
  real();
}

void SSL_CTX_set1_cert_store(SSL_CTX* context, X509_STORE* store) {
  QUILLORA_REAL(kSsl, SSL_CTX_set1_cert_store);
  real(context, store);
}

}  // extern "C"
