#pragma once
// Per-user store of string values addressed by a key path and a value name,
// standing in for the current user's registry: the same key paths
// ("Software\\Quillora") and value names ("UID") are used on every platform.
// Key paths and value names compare case-insensitively (ASCII).
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace quillora::platform {

// Longest value, in UTF-16 code units, that a read accepts; a longer value
// reads as unreadable, as the registry helpers of the program treat it.
inline constexpr size_t kMaxStoredValueUnits = 2599;

class KeyValueStore {
 public:
  // The current user's store. Created on first use, never destroyed.
  static KeyValueStore& CurrentUser();

  // A store kept in `folder` (created on the first write). Tests use this to
  // stay out of the user's real store.
  explicit KeyValueStore(std::string folder);
  ~KeyValueStore();
  KeyValueStore(const KeyValueStore&) = delete;
  KeyValueStore& operator=(const KeyValueStore&) = delete;

  // The value, or nothing when it is missing, too long, or the store cannot be
  // read (an unreadable, corrupt or foreign store reads as empty).
  std::optional<std::string> ReadString(std::string_view keyPath, std::string_view valueName) const;

  // Writes the value, creating the key; every other key and value is kept.
  // Returns false when the store could not be written.
  bool WriteString(std::string_view keyPath, std::string_view valueName, std::string_view value);

  // The stored value when it is not empty. Otherwise, holding the store's
  // lock across processes, reads it again and, when it is still missing or
  // empty, stores and returns what `make` gives: processes that start
  // together agree on one value. When the store cannot be written the made
  // value is returned all the same.
  std::string ReadOrCreateString(std::string_view keyPath, std::string_view valueName,
                                 const std::function<std::string()>& make);

  // Removes the value. Returns true when it is gone afterwards (also when it
  // never existed).
  bool DeleteValue(std::string_view keyPath, std::string_view valueName);

  // Where the store lives (for messages and tests).
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
  mutable std::mutex mutex_;
};

}  // namespace quillora::platform
