#pragma once
// Handing documents, folders and addresses to the user's desktop.
#include <string>

namespace quillora::platform {

// Opens a URL or a document with the desktop's preferred program. Returns
// false when no opener could be started; the opener runs on its own.
bool OpenWithDesktop(const std::string& urlOrPath);

// Shows `path` selected in the file manager, or its folder when the file
// manager cannot select it. Returns false when nothing could be started.
bool RevealInFileManager(const std::string& path);

// "file://" URI of an absolute path, with every byte outside the unreserved
// set and "/" percent-encoded.
std::string FileUriFromPath(const std::string& path);

}  // namespace quillora::platform
