#pragma once
// Pure text rules of the task protocol: names, paths and escapes. Kept apart
// from the requests so that each rule can be checked on its own.
#include <cstdint>
#include <string>
#include <string_view>

namespace quillora {

// Chunk size of file uploads; the service numbers chunks from 0.
inline constexpr uint64_t kUploadChunkSize = 4194304;

// Number of 4 MiB chunks for a file of `size` bytes (0 for an empty file).
uint64_t ChunkCount(uint64_t size);

// The file name part of a path: after the last "/" or "\".
std::string_view FileNameOf(std::string_view path);

// Extension of the file name part of `path`, dot included; empty without a dot.
std::string_view ExtensionOf(std::string_view path);

// "QuilloraFileSize<counter><extension>", the name a task uploads under.
std::string UploadName(int counter, std::string_view sourcePath);

// Output folder + base name of sourcePath + "_" + targetLang + "." + outputExt.
// The base name is the file name cut before its last "." (the whole name when
// there is none). Path separators inside the language code or the extension
// become "_", so that no code can place the result outside the folder.
std::string ResultPathFor(std::string_view outputFolder, std::string_view sourcePath,
                          std::string_view targetLang, std::string_view outputExt);

// Every UTF-16 code unit of the UTF-8 text as "\u" and four lowercase hex
// digits; characters beyond the basic plane become their two surrogates.
std::string EscapeUtf16Units(std::string_view utf8);

// Percent-encoding of everything but the unreserved characters (RFC 3986).
std::string UrlEncode(std::string_view text);

// Percent-encoding for a name appended to a URL path: what a path can carry
// as it is (unreserved characters, sub-delimiters, ":", "@" and "/") stays,
// so a name with sub-folders keeps them; spaces, controls, non-ASCII bytes
// and the characters that would end or change the path ("%", "?", "#", ...)
// are encoded.
std::string UrlEncodePath(std::string_view text);

// The preview file name carried in a "fileconvertinfos" text: its first 13 and
// last 2 UTF-16 units dropped. Empty when the text is shorter than 15 units or
// nothing remains.
std::string PreviewNameFromConvertInfo(std::string_view fileConvertInfos);

// Every CR LF pair turned into LF (other CRs kept).
std::string CrLfToLf(std::string_view text);

}  // namespace quillora
