// The per-user values live in one text file, "values", in the user's
// configuration folder for the program:
//
//   # Quillora per-user values 1
//   [Software\\Quillora]
//   UID=0123...
//
// Names and values escape "\" as "\\" and control characters, "=", "[" and
// "]" as "\xHH". A file that does not follow this form exactly (another
// program's file, a truncated or damaged one) reads as empty; the next write
// moves it aside as "values.damaged-<time>" instead of overwriting it.
#include "platform/key_value_store.h"

#include <cerrno>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/text.h"
#include "platform/linux/xdg.h"
#include "platform/paths.h"

namespace quillora::platform {
namespace {

constexpr std::string_view kHeader = "# Quillora per-user values 1";
constexpr char kFileName[] = "values";
constexpr char kLockName[] = "values.lock";

struct Value {
  std::string name;
  std::string data;
};
struct Key {
  std::string path;
  std::vector<Value> values;
};
using Contents = std::vector<Key>;

std::string Escape(std::string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7F || c == '=' || c == '[' || c == ']') {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> Unescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (i + 1 < s.size() && s[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (i + 3 < s.size() && s[i + 1] == 'x' && HexDigit(s[i + 2]) >= 0 && HexDigit(s[i + 3]) >= 0) {
      out += static_cast<char>(HexDigit(s[i + 2]) * 16 + HexDigit(s[i + 3]));
      i += 3;
    } else {
      return std::nullopt;
    }
  }
  if (!IsValidUtf8(out)) return std::nullopt;
  return out;
}

Key* FindKey(Contents& contents, std::string_view path) {
  for (Key& k : contents)
    if (EqualsIgnoringAsciiCase(k.path, path)) return &k;
  return nullptr;
}

Value* FindValue(Key& key, std::string_view name) {
  for (Value& v : key.values)
    if (EqualsIgnoringAsciiCase(v.name, name)) return &v;
  return nullptr;
}

// Nothing when the text is not a store file in good order.
std::optional<Contents> Parse(std::string_view text) {
  if (text.substr(0, kHeader.size()) != kHeader) return std::nullopt;
  text.remove_prefix(kHeader.size());
  if (!text.empty() && text.front() != '\n') return std::nullopt;
  if (!text.empty() && text.back() != '\n') return std::nullopt;  // truncated
  Contents contents;
  Key* current = nullptr;
  size_t pos = text.empty() ? 0 : 1;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (line.back() != ']') return std::nullopt;
      auto path = Unescape(line.substr(1, line.size() - 2));
      if (!path || path->empty() || FindKey(contents, *path)) return std::nullopt;
      contents.push_back({std::move(*path), {}});
      current = &contents.back();
      continue;
    }
    const size_t eq = line.find('=');
    if (!current || eq == std::string_view::npos) return std::nullopt;
    auto name = Unescape(line.substr(0, eq));
    auto data = Unescape(line.substr(eq + 1));
    if (!name || !data || FindValue(*current, *name)) return std::nullopt;
    current->values.push_back({std::move(*name), std::move(*data)});
  }
  return contents;
}

std::string Serialise(const Contents& contents) {
  std::string out(kHeader);
  out += '\n';
  for (const Key& k : contents) {
    if (k.values.empty()) continue;
    out += "[" + Escape(k.path) + "]\n";
    for (const Value& v : k.values) out += Escape(v.name) + "=" + Escape(v.data) + "\n";
  }
  return out;
}

enum class FileState { Missing, Good, Damaged, Unreadable };

// Reads the store file. A file that belongs to another user, is not a regular
// file, or is not in good order counts as damaged.
FileState Load(const std::string& path, Contents& contents) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT ? FileState::Missing : (errno == ELOOP ? FileState::Damaged : FileState::Unreadable);
  struct stat st{};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return FileState::Unreadable;
  }
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_size > (16 << 20)) {
    ::close(fd);
    return FileState::Damaged;
  }
  std::string text;
  char buffer[8192];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return FileState::Unreadable;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  auto parsed = Parse(text);
  if (!parsed) return FileState::Damaged;
  contents = std::move(*parsed);
  return FileState::Good;
}

// Holds an exclusive lock on the store's lock file, so that two processes
// never interleave their read-modify-write cycles.
class FileLock {
 public:
  explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace

KeyValueStore& KeyValueStore::CurrentUser() {
  static KeyValueStore* store = new KeyValueStore(GetUserStateFolder());
  return *store;
}

KeyValueStore::KeyValueStore(std::string folder) : folder_(std::move(folder)) {}

KeyValueStore::~KeyValueStore() = default;

std::optional<std::string> KeyValueStore::ReadString(std::string_view keyPath, std::string_view valueName) const {
  if (folder_.empty()) return std::nullopt;
  std::lock_guard lock(mutex_);
  Contents contents;
  if (Load(folder_ + "/" + kFileName, contents) != FileState::Good) return std::nullopt;
  Key* key = FindKey(contents, keyPath);
  Value* value = key ? FindValue(*key, valueName) : nullptr;
  if (!value) return std::nullopt;
  if (Utf8ToUtf16(value->data).size() > kMaxStoredValueUnits) return std::nullopt;
  return value->data;
}

namespace {

template <typename Change>
bool Modify(const std::string& folder, Change change) {
  if (folder.empty()) return false;
  if (!linux_impl::MakeFolders(folder, 0700)) return false;
  // The folder holds the user's sign-in: keep it private to the user.
  struct stat st{};
  if (::lstat(folder.c_str(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
    ::chmod(folder.c_str(), 0700);
  FileLock lock(folder + "/" + kLockName);
  if (!lock.Held()) return false;
  const std::string path = folder + "/" + kFileName;
  Contents contents;
  switch (Load(path, contents)) {
    case FileState::Good:
    case FileState::Missing:
      break;
    case FileState::Unreadable:
      return false;
    case FileState::Damaged: {
      const std::string aside = path + ".damaged-" + std::to_string(static_cast<long long>(std::time(nullptr)));
      if (::rename(path.c_str(), aside.c_str()) != 0) return false;
      contents.clear();
      break;
    }
  }
  if (!change(contents)) return true;  // nothing to write
  return linux_impl::WriteFileAtomically(path, Serialise(contents), 0600) == 0;
}

}  // namespace

namespace {

void SetValue(Contents& contents, std::string_view keyPath, std::string_view valueName, std::string_view value) {
  Key* key = FindKey(contents, keyPath);
  if (!key) {
    contents.push_back({std::string(keyPath), {}});
    key = &contents.back();
  }
  if (Value* v = FindValue(*key, valueName)) {
    v->data = std::string(value);
  } else {
    key->values.push_back({std::string(valueName), std::string(value)});
  }
}

bool IsWritable(std::string_view keyPath, std::string_view valueName, std::string_view value) {
  return !keyPath.empty() && IsValidUtf8(keyPath) && IsValidUtf8(valueName) && IsValidUtf8(value);
}

}  // namespace

bool KeyValueStore::WriteString(std::string_view keyPath, std::string_view valueName, std::string_view value) {
  if (!IsWritable(keyPath, valueName, value)) return false;
  std::lock_guard lock(mutex_);
  return Modify(folder_, [&](Contents& contents) {
    SetValue(contents, keyPath, valueName, value);
    return true;
  });
}

std::string KeyValueStore::ReadOrCreateString(std::string_view keyPath, std::string_view valueName,
                                              const std::function<std::string()>& make) {
  if (auto stored = ReadString(keyPath, valueName); stored && !stored->empty()) return *stored;
  std::lock_guard lock(mutex_);
  std::optional<std::string> result;
  // Modify reads the file again after taking the file lock, so a value that
  // another process stored meanwhile is found here and kept.
  Modify(folder_, [&](Contents& contents) {
    Key* key = FindKey(contents, keyPath);
    Value* value = key ? FindValue(*key, valueName) : nullptr;
    if (value && !value->data.empty() && Utf8ToUtf16(value->data).size() <= kMaxStoredValueUnits) {
      result = value->data;
      return false;
    }
    result = make();
    if (!IsWritable(keyPath, valueName, *result)) return false;
    SetValue(contents, keyPath, valueName, *result);
    return true;
  });
  return result ? *result : make();
}

bool KeyValueStore::DeleteValue(std::string_view keyPath, std::string_view valueName) {
  std::lock_guard lock(mutex_);
  Contents contents;
  const FileState state = folder_.empty() ? FileState::Missing : Load(folder_ + "/" + kFileName, contents);
  // A missing or damaged store holds no value to remove; a damaged one is
  // left as it is.
  if (state == FileState::Missing || state == FileState::Damaged) return true;
  if (state == FileState::Unreadable) return false;
  Key* found = FindKey(contents, keyPath);
  if (!found || !FindValue(*found, valueName)) return true;
  return Modify(folder_, [&](Contents& c) {
    Key* key = FindKey(c, keyPath);
    if (!key) return false;
    const auto before = key->values.size();
    std::erase_if(key->values, [&](const Value& v) { return EqualsIgnoringAsciiCase(v.name, valueName); });
    return key->values.size() != before;
  });
}

}  // namespace quillora::platform
