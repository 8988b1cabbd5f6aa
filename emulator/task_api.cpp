// The translation task endpoints of the service API, and the preview storage
// that serves previews, result files and avatars.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/codec.h"
#include "common/text.h"
#include "emulator/client_rules.h"
#include "emulator/emulator_impl.h"
#include "emulator/picture.h"
#include "emulator/translation.h"

namespace quillora::emulator {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kTranslateLimit = 16ull * 1024 * 1024;  // input bytes translated into a result
constexpr size_t kPreviewLimit = 1024 * 1024;              // bytes of text in a preview or txtcontent
constexpr size_t kLongLine = 64 * 1024;                    // longest line translated in one piece
constexpr int64_t kClockTolerance = 600;  // seconds an uploadpar time may be off the server clock
const std::vector<std::string> kUserMembers = {"account", "usertoken"};

bool SafeName(const std::string& name) {
  if (name.empty() || name.size() > 200 || name == "." || name == "..") return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
  });
}

std::string Sanitize(const std::string& text, const char* fallback) {
  std::string out;
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') out += c;
  }
  if (out.size() > 32) out.resize(32);
  return out.empty() ? fallback : out;
}

// Cuts text to at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  text.resize(n);
  return text;
}

bool LooksLikeText(const std::string& sample) {
  if (sample.find('\0') != std::string::npos) return false;
  // A cut at the end of the sample may split one sequence.
  for (size_t trim = 0; trim <= 3 && trim <= sample.size(); ++trim) {
    if (IsValidUtf8(std::string_view(sample).substr(0, sample.size() - trim))) return true;
  }
  return false;
}

std::string ToCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

// What the emulator "recognises" in material that is not plain text.
std::string StandInSource(const Task& task) {
  const char* zhKind = "文档";
  const char* enKind = "document";
  if (task.tasktype == "voicefanyi") zhKind = "音频", enKind = "audio";
  if (task.tasktype == "ocrfanyi") zhKind = "图片", enKind = "picture";
  std::string facts = task.filename + " " + std::to_string(task.bytes);
  if (GlossaryLanguage(task.from) == "zh")
    return std::string("你好，世界！这是一个") + zhKind + "文件。\n" + facts;
  return std::string("Hello world, this is a ") + enKind + " file.\n" + facts;
}

bool WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.flush();
  return static_cast<bool>(out);
}

// Checks the optional account/usertoken pair of a task request.
bool UserOk(const FlatBody& body, const std::optional<User>& user) {
  bool hasAccount = body.Has("account"), hasToken = body.Has("usertoken");
  if (!hasAccount && !hasToken) return true;
  if (!hasAccount || !hasToken || !user) return false;
  std::string account = body.Value("account");
  return user->username == account || (!user->bindmobile.empty() && user->bindmobile == account);
}

}  // namespace

std::shared_ptr<Task> Emulator::Impl::FindTask(const std::string& tag) const {
  std::lock_guard lock(mu);
  auto it = tasks.find(tag);
  return it == tasks.end() ? nullptr : it->second;
}

void Emulator::Impl::MakeResult(const std::shared_ptr<Task>& shared) {
  // The material is fixed once the upload is complete: work on a copy of the
  // task's fields so state polls are not held up while the result is made.
  Task task;
  {
    std::lock_guard lock(shared->mu);
    if (shared->resultReady) return;
    task.tag = shared->tag;
    task.tasktype = shared->tasktype;
    task.from = shared->from;
    task.to = shared->to;
    task.outputExt = shared->outputExt;
    task.filename = shared->filename;
    task.upload = shared->upload;
    task.bytes = shared->bytes;
    task.spillPath = shared->spillPath;
    task.text = shared->text;
  }
  fs::path dir = fs::path(stateDir) / "results";
  std::string to = Sanitize(task.to, "xx");
  std::string ext = Sanitize(task.outputExt, "txt");
  task.resultName = "result_" + to + "." + ext;
  task.resultPath = (dir / (task.tag + "_" + task.resultName)).string();

  std::string shown;  // translated text for txtcontent or the preview
  bool textual = false;
  if (task.upload == Task::Upload::kText) {
    textual = true;
    shown = TranslateText(task.text, task.from, task.to);
    if (!WriteFile(task.resultPath, shown)) task.resultPath.clear();
  } else if (task.upload == Task::Upload::kFile && task.bytes > 0) {
    std::ifstream in(task.spillPath, std::ios::binary);
    std::string sample(static_cast<size_t>(std::min<uint64_t>(task.bytes, 65536)), '\0');
    in.read(sample.data(), static_cast<std::streamsize>(sample.size()));
    textual = LooksLikeText(sample);
    if (textual) {
      in.clear();
      in.seekg(0);
      std::ofstream out(task.resultPath, std::ios::binary | std::ios::trunc);
      // Read in blocks and translate line by line; a line longer than
      // kLongLine is translated in pieces so memory stays bounded even for a
      // file without line breaks.
      std::string pending;
      std::vector<char> block(65536);
      uint64_t consumed = 0;
      bool cut = false;
      auto emit = [&](std::string_view piece, bool newline) {
        bool cr = newline && !piece.empty() && piece.back() == '\r';
        if (cr) piece.remove_suffix(1);
        std::string translated = TranslateLine(piece, task.to) + (cr ? "\r" : "") + (newline ? "\n" : "");
        out << translated;
        if (shown.size() < kPreviewLimit) shown += translated;
      };
      while (!cut && in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        std::streamsize got = in.gcount();
        if (got <= 0) break;
        consumed += static_cast<uint64_t>(got);
        pending.append(block.data(), static_cast<size_t>(got));
        size_t start = 0;
        for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
          emit(std::string_view(pending).substr(start, nl - start), true);
        }
        pending.erase(0, start);
        if (pending.size() > kLongLine) {
          size_t n = kLongLine;
          while (n > 0 && (static_cast<unsigned char>(pending[n]) & 0xC0) == 0x80) --n;
          emit(std::string_view(pending).substr(0, n), false);
          pending.erase(0, n);
        }
        cut = consumed >= kTranslateLimit && consumed < task.bytes;
      }
      if (!pending.empty()) emit(pending, false);
      if (cut) out << "\n[emulator: translation stops after the first 16 MiB of input]\n";
      out.flush();
      if (!out) task.resultPath.clear();
    }
  }
  if (!textual) {
    std::string source = task.upload == Task::Upload::kNone || task.bytes == 0
                             ? std::string()
                             : StandInSource(task);
    shown = TranslateText(source, task.from, task.to);
    if (!WriteFile(task.resultPath, shown)) task.resultPath.clear();
  }
  task.resultText = CutUtf8(shown, kPreviewLimit);
  // Answers carry text as UTF-8; bytes that are not become U+FFFD.
  if (!IsValidUtf8(task.resultText)) task.resultText = Utf16ToUtf8(Utf8ToUtf16(task.resultText));
  bool document = task.tasktype == "fanyi" && task.upload != Task::Upload::kText;
  if (document) {
    task.previewName = task.tag + "_" + to + ".txt";
    fs::path previews = dir / "previews";
    std::error_code ec;
    fs::create_directories(previews, ec);
    if (!WriteFile((previews / task.previewName).string(), ToCrLf(task.resultText))) task.previewName.clear();
  }
  std::lock_guard lock(shared->mu);
  shared->resultName = task.resultName;
  shared->resultPath = task.resultPath;
  shared->resultText = std::move(task.resultText);
  shared->previewName = task.previewName;
  shared->resultReady = true;
}

void Emulator::Impl::QueueResult(const std::shared_ptr<Task>& task) {
  {
    std::lock_guard lock(mu);
    resultQueue.push_back(task);
  }
  resultCv.notify_one();
}

void Emulator::Impl::ResultWorker() {
  while (true) {
    std::shared_ptr<Task> task;
    {
      std::unique_lock lock(mu);
      resultCv.wait(lock, [&] { return stopping || !resultQueue.empty(); });
      if (stopping) return;
      task = resultQueue.front();
      resultQueue.pop_front();
    }
    MakeResult(task);
  }
}

void Emulator::Impl::RegisterTaskApi(httplib::Server& s) {
  Route(s, "api", "POST", "/api/v4/memparm", [this](const httplib::Request& req) {
    Answer fail;
    auto body = CheckClientBody(req, true, {"productid", "softname", "softversion"}, {}, &fail);
    if (!body) return fail;
    std::string info = "pi" + Md5Hex(body->Value("productid") + "|" + body->Value("softname")).substr(0, 16);
    {
      std::lock_guard lock(mu);
      productInfos.insert(info);
    }
    Json::Value v(Json::objectValue);
    v["code"] = kCodeSuccess;
    v["productinfo"] = info;
    return JsonAnswer(v);
  });

  Route(s, "api", "POST", "/api/v4/uploadpar", [this](const httplib::Request& req) {
    Answer fail;
    auto body = CheckClientBody(req, true,
                                {"tasktype", "limitsize", "filename", "filecount", "isshare", "timestamp", "softname",
                                 "softversion", "machineid", "productid", "fanyi_from", "fanyi_to",
                                 "outputfileextension"},
                                {"parainfo", "account", "usertoken"}, &fail);
    if (!body) return fail;
    std::string type = body->Value("tasktype");
    if (type != "fanyi" && type != "voicefanyi" && type != "ocrfanyi")
      return CodeAnswer(kCodeMalformed, "unknown tasktype");
    if (!IsUploadName(body->Value("filename")))
      return CodeAnswer(kCodeBadUploadName, "filename is not QuilloraFileSize<n>.<ext>");
    const std::string& sentTime = body->Find("timestamp")->raw;
    if (!IsDecimal(sentTime)) return CodeAnswer(kCodeBadTimestamp, "timestamp is not decimal");
    // The client takes this time from the statistics host's clock, which is
    // the one the service trusts; a time far off it means that clock was
    // not asked or its answer was misread.
    if (std::llabs(std::stoll(sentTime) - ServerTime()) > kClockTolerance)
      return CodeAnswer(kCodeClockSkew, "timestamp more than 10 minutes from the server clock");
    {
      std::lock_guard lock(mu);
      if (!UserOk(*body, UserByToken(body->Value("usertoken")))) return CodeAnswer(kCodeBadUser, "unknown user");
    }
    auto task = std::make_shared<Task>();
    task->tag = NewId("T", 20);
    task->token = NewId("K", 24);
    task->timestamp = std::to_string(ServerTime());
    task->tasktype = type;
    task->from = body->Value("fanyi_from");
    task->to = body->Value("fanyi_to");
    task->outputExt = body->Value("outputfileextension");
    task->filename = body->Value("filename");
    task->parainfo = body->Value("parainfo");
    task->account = body->Value("account");
    task->machineid = body->Value("machineid");
    task->spillPath = (fs::path(stateDir) / "uploads" / (task->tag + ".bin")).string();
    {
      std::lock_guard lock(mu);
      task->behaviour = taskBehaviour;
      tasks[task->tag] = task;
    }
    Json::Value v(Json::objectValue);
    v["code"] = kCodeSuccess;
    v["tasktag"] = task->tag;
    v["tasktoken"] = task->token;
    v["timestamp"] = task->timestamp;
    return JsonAnswer(v);
  });

  RouteWithReader(s, "api", "/api/v4/uploadfile",
                  [this](const httplib::Request& req, const httplib::ContentReader& reader, uint64_t seq) {
    // Every early answer still reads the body so the connection stays in step.
    std::string journalPrefix;
    uint64_t received = 0;
    auto drain = [&] {
      reader([&](const char* data, size_t n) {
        if (journalPrefix.size() < 256) journalPrefix.append(data, std::min<size_t>(n, 256 - journalPrefix.size()));
        received += n;
        return true;
      });
      JournalBody(seq, journalPrefix, received);
    };
    auto reject = [&](int code, const std::string& why) {
      drain();
      return CodeAnswer(code, why);
    };
    auto intParam = [&](const char* key, long long* out) {
      if (!req.has_param(key)) return false;
      std::string v = req.get_param_value(key);
      if (v.empty() || v.size() > 9 || !std::all_of(v.begin(), v.end(), ::isdigit)) return false;
      *out = std::stoll(v);
      return true;
    };
    if (Answer wrongType = ContentTypeAnswer(req); wrongType.status != 200) {
      drain();
      return wrongType;
    }
    const size_t queryStart = req.target.find('?');
    if (queryStart == std::string::npos ||
        !ChunkQueryInClientOrder(std::string_view(req.target).substr(queryStart + 1)))
      return reject(kCodeQueryOrder, "query must be tasktag, timestamp, tasktoken, fileindex, chunks, chunk");
    std::shared_ptr<Task> task = FindTask(req.get_param_value("tasktag"));
    if (!task) return reject(kCodeUnknownTask, "unknown tasktag");
    std::lock_guard taskLock(task->mu);
    if (req.get_param_value("tasktoken") != task->token || req.get_param_value("timestamp") != task->timestamp)
      return reject(kCodeTaskMismatch, "tasktoken or timestamp does not belong to the task");
    long long chunks = 0, chunk = 0, fileindex = 0;
    if (!intParam("fileindex", &fileindex) || fileindex != 0 || !intParam("chunks", &chunks) || chunks < 1 ||
        !intParam("chunk", &chunk) || chunk >= chunks)
      return reject(kCodeChunkNumbering, "bad fileindex, chunks or chunk");
    if (task->upload == Task::Upload::kText) return reject(kCodeUploadRepeated, "the task already has its text");
    if (task->chunks >= 0 && task->chunks != chunks) return reject(kCodeChunkNumbering, "chunk count changed");
    if (task->uploadComplete || chunk < task->nextChunk) return reject(kCodeChunkDuplicate, "chunk already received");
    if (chunk > task->nextChunk) return reject(kCodeChunkOutOfOrder, "chunk out of order");

    // Stream the chunk straight into the task's spill file: memory stays
    // bounded whatever the file size.
    FILE* f = std::fopen(task->spillPath.c_str(), task->bytes == 0 ? "wb" : "r+b");
    if (!f) return reject(kCodeInternal, "cannot open the upload file");
    bool writeOk = fseeko(f, static_cast<off_t>(task->bytes), SEEK_SET) == 0;
    bool readOk = reader([&](const char* data, size_t n) {
      if (journalPrefix.size() < 256) journalPrefix.append(data, std::min<size_t>(n, 256 - journalPrefix.size()));
      received += n;
      if (received > kChunkSize) return true;  // counted, not stored: the size check below rejects it
      if (writeOk && std::fwrite(data, 1, n, f) != n) writeOk = false;
      return true;
    });
    writeOk = std::fflush(f) == 0 && writeOk;
    writeOk = std::fclose(f) == 0 && writeOk;
    JournalBody(seq, journalPrefix, received);
    auto rollback = [&] {
      std::error_code ec;
      fs::resize_file(task->spillPath, task->bytes, ec);
    };
    if (!readOk) {
      rollback();
      return CodeAnswer(kCodeMalformed, "chunk body incomplete");
    }
    if (!writeOk) {
      rollback();
      return CodeAnswer(kCodeInternal, "cannot store the chunk");
    }
    bool last = chunk == chunks - 1;
    if ((!last && received != kChunkSize) || (last && (received == 0 || received > kChunkSize))) {
      rollback();
      return CodeAnswer(kCodeChunkSize, "chunk of " + std::to_string(received) + " bytes");
    }
    task->upload = Task::Upload::kFile;
    task->chunks = static_cast<int>(chunks);
    task->nextChunk = static_cast<int>(chunk) + 1;
    task->bytes += received;
    if (last) {
      task->uploadComplete = true;
      task->processingStart = Clock::now();
      QueueResult(task);
      return CodeAnswer(kCodeSuccess);
    }
    return CodeAnswer(kCodeChunkAccepted);
  });

  Route(s, "api", "POST", "/api/v4/uploadtext", [this](const httplib::Request& req) {
    Answer fail;
    auto body =
        CheckClientBody(req, false, {"fileindex", "tasktag", "tasktoken", "textvoice", "timestamp"}, {}, &fail);
    if (!body) return fail;
    if (!IsUnitEscapedText(body->Find("textvoice")->raw))
      return CodeAnswer(kCodeBadTextEscape, "textvoice must be \\uXXXX escapes only");
    std::shared_ptr<Task> task = FindTask(body->Value("tasktag"));
    if (!task) return CodeAnswer(kCodeUnknownTask, "unknown tasktag");
    std::lock_guard taskLock(task->mu);
    if (body->Value("tasktoken") != task->token || body->Value("timestamp") != task->timestamp)
      return CodeAnswer(kCodeTaskMismatch, "tasktoken or timestamp does not belong to the task");
    if (body->Value("fileindex") != "0") return CodeAnswer(kCodeChunkNumbering, "fileindex must be 0");
    if (task->upload != Task::Upload::kNone) return CodeAnswer(kCodeUploadRepeated, "the task already has its material");
    task->upload = Task::Upload::kText;
    task->text = body->Value("textvoice");
    task->bytes = task->text.size();
    task->uploadComplete = true;
    task->processingStart = Clock::now();
    QueueResult(task);
    return CodeAnswer(kCodeSuccess);
  });

  // taskstate and taskdown share their checks.
  auto taskRequest = [this](const httplib::Request& req, const std::vector<std::string>& required, Answer* fail)
      -> std::shared_ptr<Task> {
    auto body = CheckClientBody(req, true, required, kUserMembers, fail);
    if (!body) return nullptr;
    {
      std::lock_guard lock(mu);
      if (!productInfos.count(body->Value("productinfo"))) {
        *fail = CodeAnswer(kCodeMalformed, "unknown productinfo");
        return nullptr;
      }
      if (!UserOk(*body, UserByToken(body->Value("usertoken")))) {
        *fail = CodeAnswer(kCodeBadUser, "unknown user");
        return nullptr;
      }
    }
    std::shared_ptr<Task> task = FindTask(body->Value("tasktag"));
    if (!task) {
      *fail = CodeAnswer(kCodeUnknownTask, "unknown tasktag");
      return nullptr;
    }
    std::lock_guard taskLock(task->mu);
    if (body->Value("timestamp") != task->timestamp) {
      *fail = CodeAnswer(kCodeTaskMismatch, "timestamp does not belong to the task");
      return nullptr;
    }
    if (body->Value("deviceid") != task->machineid) {
      *fail = CodeAnswer(kCodeDeviceMismatch, "deviceid is not the machineid the task was created with");
      return nullptr;
    }
    return task;
  };

  Route(s, "api", "POST", "/api/v4/taskstate", [this, taskRequest](const httplib::Request& req) {
    Answer fail;
    std::shared_ptr<Task> task =
        taskRequest(req, {"deviceid", "timestamp", "productinfo", "tasktag", "ifshowtxt"}, &fail);
    if (!task) return fail;
    std::lock_guard taskLock(task->mu);
    if (task->upload == Task::Upload::kFile && !task->uploadComplete)
      return CodeAnswer(19000, "upload incomplete");
    if (!task->processingStart) {  // an empty file: nothing was sent
      task->processingStart = Clock::now();
      QueueResult(task);
    }
    if (Clock::now() < *task->processingStart + task->behaviour.processingTime)
      return CodeAnswer(task->behaviour.processingCode);
    if (task->behaviour.finalCode != kCodeSuccess) return CodeAnswer(task->behaviour.finalCode);
    // The result is made in the background; until it is there the task is still processing.
    if (!task->resultReady) return CodeAnswer(task->behaviour.processingCode);
    Json::Value v(Json::objectValue);
    v["code"] = kCodeSuccess;
    if (!task->previewName.empty()) {
      // Framed so that dropping 13 leading and 2 trailing characters leaves the name.
      v["fileconvertinfos"] = "{\"filename\":\"" + task->previewName + "\"}";
    } else {
      v["txtcontent"] = task->resultText;
    }
    return JsonAnswer(v);
  });

  Route(s, "api", "POST", "/api/v4/taskdown", [this, taskRequest](const httplib::Request& req) {
    Answer fail;
    std::shared_ptr<Task> task = taskRequest(req, {"deviceid", "timestamp", "productinfo", "tasktag"}, &fail);
    if (!task) return fail;
    std::lock_guard taskLock(task->mu);
    bool elapsed = task->processingStart &&
                   Clock::now() >= *task->processingStart + task->behaviour.processingTime;
    if (elapsed && task->behaviour.finalCode != kCodeSuccess) return CodeAnswer(task->behaviour.finalCode);
    if (!elapsed || !task->resultReady) return CodeAnswer(kCodeTaskNotDone, "task not finished");
    if (task->resultPath.empty()) return CodeAnswer(kCodeInternal, "result could not be stored");
    Json::Value v(Json::objectValue);
    v["code"] = kCodeSuccess;
    v["downurl"] = "http://127.0.0.1:" + std::to_string(previewPort) + "/download/" + task->tag + "/" + task->resultName;
    return JsonAnswer(v);
  });
}

void Emulator::Impl::RegisterPreview(httplib::Server& s) {
  Route(s, "preview", "GET", R"(/preview/fanyi/([^/]+))", [this](const httplib::Request& req) {
    std::string name = req.matches[1];
    fs::path path = fs::path(stateDir) / "results" / "previews" / name;
    std::error_code ec;
    if (!SafeName(name) || !fs::is_regular_file(path, ec)) {
      Answer a;
      a.status = 404;
      a.body = "no such preview";
      a.contentType = "text/plain";
      return a;
    }
    Answer a;
    a.filePath = path.string();
    a.fileSize = fs::file_size(path, ec);
    a.contentType = "text/plain; charset=utf-8";
    return a;
  });

  Route(s, "preview", "GET", R"(/download/([^/]+)/([^/]+))", [this](const httplib::Request& req) {
    std::shared_ptr<Task> task = FindTask(req.matches[1]);
    Answer a;
    if (task) {
      std::lock_guard taskLock(task->mu);
      std::error_code ec;
      if (task->resultReady && !task->resultPath.empty() && task->resultName == req.matches[2].str() &&
          fs::is_regular_file(task->resultPath, ec)) {
        a.filePath = task->resultPath;
        a.fileSize = fs::file_size(task->resultPath, ec);
        a.contentType = "application/octet-stream";
        return a;
      }
    }
    a.status = 404;
    a.body = "no such result";
    a.contentType = "text/plain";
    return a;
  });

  Route(s, "preview", "GET", R"(/avatar/(\d{1,12})\.png)", [](const httplib::Request& req) {
    std::string uid = req.matches[1];
    Answer a;
    a.body = AvatarPng(static_cast<uint32_t>(std::stoull(uid)), uid.back());
    a.contentType = "image/png";
    return a;
  });
  RegisterFallback(s, "preview");
}

}  // namespace quillora::emulator
