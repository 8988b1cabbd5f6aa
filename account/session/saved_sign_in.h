#pragma once
// The signed-in user kept across restarts: account, user token and login type,
// enciphered with RC4 and stored as Base64 text under the device's
// "LogonRegister" key, value "User".
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillora {
namespace platform {
class KeyValueStore;
}

// The template of the key path; the marker is replaced by the device UID.
inline constexpr char kSavedSignInKeyTemplate[] = "Software\\Quillora\\{MAGICIAN_NAME}\\LogonRegister";
inline constexpr char kSavedSignInValueName[] = "User";

// "Software\\Quillora\\" + uid + "\\LogonRegister".
std::string SavedSignInKeyPath(std::string_view deviceUid);

struct SavedSignIn {
  std::string account;
  std::string usertoken;
  int32_t loginType = 0;
};

// The stored text of a record: Base64 of the RC4-enciphered UTF-16LE text
// account + "&&&" + usertoken + "&&&" + type digit, with its zero terminator.
// A type outside 0..4 leaves the third part empty.
std::string EncodeSavedSignIn(const SavedSignIn& record);

// What a stored text turned out to be.
enum class SavedSignInStatus {
  Loaded,        // record holds the saved user
  Unreadable,    // missing, empty or undecodable: the session is to be cleared
  NoSeparators,  // deciphered but without two "&&&": the session is left as it is
};

struct SavedSignInDecoded {
  SavedSignInStatus status = SavedSignInStatus::Unreadable;
  SavedSignIn record;
};

// Decodes a stored text (nothing = the value was missing).
SavedSignInDecoded DecodeSavedSignIn(const std::optional<std::string>& storedText);

// Reads and decodes the record under `keyPath` of `store`.
SavedSignInDecoded ReadSavedSignIn(const platform::KeyValueStore& store, std::string_view keyPath);

// Encodes and writes the record; false when the store could not be written.
bool WriteSavedSignIn(platform::KeyValueStore& store, std::string_view keyPath, const SavedSignIn& record);

}  // namespace quillora
