#include "app/shell/user_picture.h"

#include <filesystem>
#include <system_error>

#include "platform/paths.h"

namespace quillora {

std::string UserPictureFile(const std::string& userToken) {
  // A token is the service's text: never let it name a file outside the
  // temporary folder.
  if (userToken.empty() || userToken.find('/') != std::string::npos || userToken == "." || userToken == "..")
    return {};
  return platform::GetTempFolder() + userToken + ".png";
}

std::string ExistingUserPictureFile(const std::string& userToken) {
  const std::string file = UserPictureFile(userToken);
  std::error_code ec;
  if (file.empty() || !std::filesystem::is_regular_file(file, ec)) return {};
  return file;
}

std::string PictureImageAttribute(const std::string& file, const std::string& dest) {
  std::string attr = "file='" + file + "'";
  if (!dest.empty()) attr += " dest='" + dest + "'";
  return attr;
}

}  // namespace quillora
