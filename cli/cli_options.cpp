#include "cli/cli_options.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "common/text.h"
#include "service/task_naming.h"

namespace quillora::cli {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::optional<FileKind> KindByName(const std::string& name) {
  const std::string n = Lower(name);
  if (n == "auto") return FileKind::kAuto;
  if (n == "document" || n == "doc") return FileKind::kDocument;
  if (n == "audio" || n == "voice") return FileKind::kAudio;
  if (n == "picture" || n == "image") return FileKind::kPicture;
  return std::nullopt;
}

}  // namespace

std::string UsageText() {
  return "Usage:\n"
         "  quillora-cli [options] --from CODE --to CODE FILE...\n"
         "  quillora-cli [options] --from CODE --to CODE --text TEXT\n"
         "\n"
         "Translates documents (doc, docx, xls, xlsx, ppt, pptx, pdf), audio or video\n"
         "(mp3, avi, m4a, wma) and pictures (png, jpg, bmp) up to 50 MiB, or a text of\n"
         "at most 30000 characters, through the translation service configured in\n"
         "set.ini (installed: ~/.config/Quillora; else the folder named by QUILLORA_HOME,\n"
         "or the program's folder). Results\n"
         "are saved in the output folder as <name>_<target code>.<extension>. A saved\n"
         "sign-in of the main program is used.\n"
         "\n"
         "Options:\n"
         "  --from CODE     source language code (for example zh, en, ja)\n"
         "  --to CODE       target language code\n"
         "  --text TEXT     translate TEXT instead of files; \"-\" reads standard input\n"
         "  --type KIND     document, audio or picture (default: by file extension;\n"
         "                  files of other extensions go as documents)\n"
         "  --json          print the outcome as one JSON object on standard output\n"
         "  --quiet         no progress lines on standard error\n"
         "  --version       print the program version\n"
         "  --help          print this text\n"
         "\n"
         "Exit status: 0 when every task succeeded, 1 when a task failed, 2 on a usage\n"
         "error.\n"
         "\n"
         "Signing in: quillora-cli login|bind|whoami|logout (see quillora-cli login --help).\n";
}

std::optional<CliOptions> ParseCommandLine(const std::vector<std::string>& args, std::string& error) {
  CliOptions o;
  bool onlyFiles = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (onlyFiles || a.empty() || a[0] != '-' || a == "-") {
      o.files.push_back(a);
      continue;
    }
    if (a == "--") {
      onlyFiles = true;
      continue;
    }
    std::string name = a;
    std::optional<std::string> inlineValue;
    if (const size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = a.substr(0, eq);
      inlineValue = a.substr(eq + 1);
    }
    const auto value = [&]() -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return std::nullopt;
      }
      return args[++i];
    };
    if (name == "--json" && !inlineValue) {
      o.json = true;
    } else if ((name == "--quiet" || name == "-q") && !inlineValue) {
      o.quiet = true;
    } else if ((name == "--help" || name == "-h") && !inlineValue) {
      o.help = true;
    } else if (name == "--version" && !inlineValue) {
      o.version = true;
    } else if (name == "--from" || name == "--to" || name == "--text" || name == "--type") {
      const auto v = value();
      if (!v) return std::nullopt;
      if (name == "--from") {
        o.from = *v;
      } else if (name == "--to") {
        o.to = *v;
      } else if (name == "--text") {
        o.text = *v;
      } else {
        const auto kind = KindByName(*v);
        if (!kind) {
          error = "unknown --type " + *v + " (document, audio or picture)";
          return std::nullopt;
        }
        o.kind = *kind;
      }
    } else {
      error = "unknown option " + a;
      return std::nullopt;
    }
  }
  if (o.help || o.version) return o;
  if (o.from.empty() || o.to.empty()) {
    error = "both --from and --to are needed";
    return std::nullopt;
  }
  for (const std::string* code : {&o.from, &o.to}) {
    if (!IsPlausibleLanguageCode(*code)) {
      error = "\"" + *code + "\" is not a language code";
      return std::nullopt;
    }
  }
  if (o.text && !o.files.empty()) {
    error = "give either --text or files, not both";
    return std::nullopt;
  }
  if (!o.text && o.files.empty()) {
    error = "nothing to translate: give files or --text";
    return std::nullopt;
  }
  return o;
}

bool IsPlausibleLanguageCode(const std::string& code) {
  if (code.empty() || code.size() > 16) return false;
  return std::all_of(code.begin(), code.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
  });
}

FileKind KindOfFile(const std::string& path) {
  const std::string ext = Lower(std::string(ExtensionOf(path)));
  for (const char* e : {".doc", ".docx", ".xls", ".xlsx", ".ppt", ".pptx", ".pdf"}) {
    if (ext == e) return FileKind::kDocument;
  }
  for (const char* e : {".mp3", ".avi", ".m4a", ".wma"}) {
    if (ext == e) return FileKind::kAudio;
  }
  for (const char* e : {".png", ".jpg", ".jpeg", ".bmp"}) {
    if (ext == e) return FileKind::kPicture;
  }
  return FileKind::kAuto;
}

std::optional<TransTask> MakeFileTask(const std::string& path, FileKind kind, const std::string& from,
                                      const std::string& to, std::string& error) {
  if (kind == FileKind::kAuto) kind = KindOfFile(path);
  // Like the document page's file dialog, which checks no extension: any
  // other file goes to the service as a document.
  if (kind == FileKind::kAuto) kind = FileKind::kDocument;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = path + ": not a readable file";
    return std::nullopt;
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxFileBytes) {
    error = path + ": larger than 50 MiB, the most the service accepts";
    return std::nullopt;
  }
  TransTask task;
  task.sourcePath = path;
  task.sourceLang = from;
  task.targetLang = to;
  task.limitSize = kDefaultLimitSize;
  switch (kind) {
    case FileKind::kDocument:
      task.taskType = "fanyi";
      if (const std::string_view ext = ExtensionOf(path); ext.size() > 1) {
        task.outputExt = std::string(ext.substr(1));
      }
      task.paraInfo = "tempfile:txt;maxlimit:char0page0;";
      task.isDocument = true;
      break;
    case FileKind::kAudio:
      task.taskType = "voicefanyi";
      task.outputExt = "txt";
      break;
    case FileKind::kPicture:
    case FileKind::kAuto:
      task.taskType = "ocrfanyi";
      task.outputExt = "txt";
      break;
  }
  // A document given by --type without an extension keeps a text result.
  if (task.outputExt.empty()) task.outputExt = "txt";
  return task;
}

std::optional<TransTask> MakeTextTask(const std::string& text, int documentNumber,
                                      const std::string& from, const std::string& to,
                                      std::string& error) {
  if (text.empty()) {
    error = "the text is empty";
    return std::nullopt;
  }
  if (Utf8ToUtf16(text).size() > kMaxTextUnits) {
    error = "the text is longer than 30000 characters";
    return std::nullopt;
  }
  TransTask task;
  task.sourcePath = "fanyiwendang" + std::to_string(documentNumber) + ".txt";
  task.taskType = "fanyi";
  task.sourceLang = from;
  task.targetLang = to;
  task.sourceText = text;
  task.outputExt = "txt";
  task.limitSize = kDefaultLimitSize;
  return task;
}

}  // namespace quillora::cli
