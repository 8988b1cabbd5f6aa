#pragma once
// The signed-in user's picture: the account code downloads it into the
// temporary folder as "<user token>.png"; the windows only show it.
#include <string>

namespace quillora {

// "<temporary folder><token>.png"; empty for an empty token.
std::string UserPictureFile(const std::string& userToken);

// The picture file of `userToken` when it exists, else empty.
std::string ExistingUserPictureFile(const std::string& userToken);

// A background-image attribute showing `file` inside `dest` ("l,t,r,b").
std::string PictureImageAttribute(const std::string& file, const std::string& dest = {});

}  // namespace quillora
