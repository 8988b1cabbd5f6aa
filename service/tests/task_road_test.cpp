// The whole task road through the real libcurl client against the embedded
// emulator over HTTPS: memparm, uploadpar, chunks or text, polling, result
// text, taskdown and the saved result, with the emulator's faults.
#include <gtest/gtest.h>
#include <json/value.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "service/task_naming.h"
#include "service/task_protocol.h"
#include "service/tests/task_test_support.h"
#include "service/trans_task_manager.h"
#include "service/transport/json_answer.h"
#include "service/transport/remote_services.h"

namespace quillora {
namespace {

using emulator::Emulator;
using emulator::Fault;
using emulator::JournalEntry;
using testing_support::FileExists;
using testing_support::FinishedTask;
using testing_support::ReadFile;
using testing_support::RecordingNotifier;
using testing_support::TempDir;
using testing_support::WriteFileOfSize;
using testing_support::WriteTextFile;

constexpr char kMachineId[] = "0123456789ABCDEF0123456789ABCDEF";

Json::Value BodyOf(const JournalEntry& e) { return ParseJsonAnswer(e.body).value_or(Json::Value()); }

std::string Member(const JournalEntry& e, const char* key) {
  return JsonString(BodyOf(e), key).value_or("<missing>");
}

// The tag of the task a chunk belongs to, from the chunk's query.
std::string TaskTagOf(const JournalEntry& chunk) {
  const size_t at = chunk.query.find("tasktag=") + 8;
  return chunk.query.substr(at, chunk.query.find('&', at) - at);
}

class TaskRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    emulator::Options eo;
    eo.threads = 8;
    eo.taskProcessingTime = std::chrono::milliseconds(30);
    emu_ = std::make_unique<Emulator>(eo);
    ASSERT_TRUE(emu_->Start()) << emu_->LastError();
    emulator::TaskBehaviour b;
    b.processingTime = std::chrono::milliseconds(30);
    emu_->SetTaskBehaviour(b);
    ConfigureRemoteServices(emu_->Settings());
    outFolder_ = dir_.path() + "out/";
    tempFolder_ = dir_.path() + "tmp/";
    std::filesystem::create_directories(outFolder_);
    std::filesystem::create_directories(tempFolder_);
    MakeManager();
  }

  void TearDown() override {
    manager_.reset();  // before the notifier it reports to
  }

  void MakeManager(std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    manager_.reset();
    TaskManagerOptions o;
    o.pollInterval = std::chrono::milliseconds(15);
    o.pollBound = bound;
    o.identity.machineId = kMachineId;
    o.identity.softwareName = "Quillora";
    o.identity.softwareVersion = "1.0.0";
    o.identity.productId = "342";
    o.outputFolder = [this] { return outFolder_; };
    o.creatableOutputFolder = creatableFolder_;
    o.maxResultBytes = maxResultBytes_;
    o.signIn = [this]() -> std::optional<SignInValues> { return signIn_; };
    o.tempFolder = tempFolder_;
    manager_ = std::make_unique<TransTaskManager>(std::move(o));
    manager_->SetNotifier(&notifier_);
  }

  std::unique_ptr<TransTask> FileTask(const std::string& path, const std::string& type = "fanyi") {
    auto t = std::make_unique<TransTask>();
    t->notifyTarget = TargetA();
    t->sourcePath = path;
    t->taskType = type;
    t->sourceLang = "zh";
    t->targetLang = "en";
    if (type == "fanyi") {
      const std::string_view ext = ExtensionOf(path);
      t->outputExt = ext.empty() ? "txt" : std::string(ext.substr(1));
      t->paraInfo = "tempfile:txt;maxlimit:char0page0;";
      t->isDocument = true;
    } else {
      t->outputExt = "txt";
    }
    return t;
  }

  std::unique_ptr<TransTask> TextTask(const std::string& text) {
    auto t = std::make_unique<TransTask>();
    t->notifyTarget = TargetA();
    t->sourcePath = "fanyiwendang1.txt";
    t->taskType = "fanyi";
    t->sourceLang = "zh";
    t->targetLang = "en";
    t->outputExt = "txt";
    t->sourceText = text;
    return t;
  }

  // Runs one task to its end and returns what the notifier received.
  FinishedTask RunOne(std::unique_ptr<TransTask> task) {
    const size_t before = notifier_.FinishedCount();
    manager_->AddTask(std::move(task));
    EXPECT_TRUE(notifier_.WaitForFinished(before + 1));
    std::vector<FinishedTask> all = notifier_.TakeFinished();
    EXPECT_EQ(all.size(), before + 1) << "exactly one notification per task";
    if (all.empty()) return {};
    return std::move(all.back());
  }

  std::string Path(const std::string& name) const { return dir_.path() + name; }

  // Makes the emulator answer `code` on `path` for `count` requests (-1: until
  // cleared) and returns the fault, for tests that vary it afterwards.
  Fault InjectCode(const std::string& path, int code, int count = -1) {
    Fault f;
    f.path = path;
    f.kind = Fault::Kind::kCode;
    f.code = code;
    f.count = count;
    emu_->SetFault(f);
    return f;
  }

  TempDir dir_;
  std::string outFolder_;
  std::string tempFolder_;
  std::string creatableFolder_;
  uint64_t maxResultBytes_ = kMaxDownloadBytes;
  std::unique_ptr<Emulator> emu_;
  RecordingNotifier notifier_;
  std::unique_ptr<TransTaskManager> manager_;
  std::optional<SignInValues> signIn_;
  // Two stand-ins for pages: distinct addresses, never dereferenced.
  NotifyTarget TargetA() { return reinterpret_cast<NotifyTarget>(&pages_[0]); }
  NotifyTarget TargetB() { return reinterpret_cast<NotifyTarget>(&pages_[1]); }
  alignas(16) char pages_[2][16] = {};
};

TEST_F(TaskRoad, DocumentIsSavedUnderItsDerivedNameWithThePreviewText) {
  // CR LF lines: the preview comes back with CR LF and must read as LF.
  const std::string source = "你好，世界！\n这是一个测试文档。\n";
  ASSERT_TRUE(WriteTextFile(Path("report.docx"), source));
  FinishedTask done = RunOne(FileTask(Path("report.docx")));

  ASSERT_EQ(done.notification, kNotifySucceeded) << done.task->failureReason;
  EXPECT_EQ(done.target, TargetA());
  const std::string expected = Emulator::Translate(source, "zh", "en");
  EXPECT_EQ(done.task->resultPath, outFolder_ + "report_en.docx");
  EXPECT_EQ(ReadFile(done.task->resultPath), expected);
  EXPECT_EQ(done.task->resultText, expected);
  // The preview arrived with CR LF line ends; the result text has none.
  EXPECT_NE(ReadFile(tempFolder_ + "wae1.txt").find("\r\n"), std::string::npos);
  EXPECT_EQ(done.task->resultText.find('\r'), std::string::npos);

  const auto par = emu_->Requests("/api/v4/uploadpar");
  ASSERT_EQ(par.size(), 1u);
  EXPECT_EQ(Member(par[0], "filename"), "QuilloraFileSize1.docx");
  EXPECT_EQ(Member(par[0], "parainfo"), "tempfile:txt;maxlimit:char0page0;");
  EXPECT_EQ(Member(par[0], "limitsize"), "30720");
  EXPECT_EQ(Member(par[0], "outputfileextension"), "docx");
  EXPECT_EQ(Member(par[0], "machineid"), kMachineId);
  EXPECT_EQ(Member(par[0], "account"), "<missing>");  // signed out
  EXPECT_EQ(emu_->Requests("/preview/fanyi/*").size(), 1u);

  // The stages arrive in the order of the road.
  std::vector<TaskStage> stages;
  for (const auto& p : notifier_.Progress()) {
    if (stages.empty() || stages.back() != p.progress.stage) stages.push_back(p.progress.stage);
  }
  EXPECT_EQ(stages, (std::vector<TaskStage>{TaskStage::kQueued, TaskStage::kUploading,
                                            TaskStage::kWaitingForService, TaskStage::kDownloading}));
}

TEST_F(TaskRoad, SecondDocumentUsesTheNextPreviewFileAndUploadName) {
  ASSERT_TRUE(WriteTextFile(Path("a.pdf"), "hello world\r\nthank you\r\n"));
  ASSERT_TRUE(WriteTextFile(Path("b.pdf"), "good weather today\n"));
  FinishedTask first = RunOne(FileTask(Path("a.pdf")));
  FinishedTask second = RunOne(FileTask(Path("b.pdf")));
  ASSERT_EQ(first.notification, kNotifySucceeded);
  ASSERT_EQ(second.notification, kNotifySucceeded);
  // CR LF in the preview becomes LF, and nothing is repeated at the end.
  EXPECT_EQ(first.task->resultText, Emulator::Translate("hello world\nthank you\n", "zh", "en"));
  EXPECT_EQ(second.task->resultText, Emulator::Translate("good weather today\n", "zh", "en"));
  EXPECT_TRUE(FileExists(tempFolder_ + "wae1.txt"));
  EXPECT_TRUE(FileExists(tempFolder_ + "wae2.txt"));
  const auto par = emu_->Requests("/api/v4/uploadpar");
  ASSERT_EQ(par.size(), 2u);
  EXPECT_EQ(Member(par[1], "filename"), "QuilloraFileSize2.pdf");
  EXPECT_EQ(emu_->Requests("/api/v4/memparm").size(), 1u) << "memparm runs once per process";
}

TEST_F(TaskRoad, AudioAndPictureTakeTheirTextFromTheTaskState) {
  std::string binary(3000, '\0');
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(WriteTextFile(Path("talk.mp3"), binary));
  ASSERT_TRUE(WriteTextFile(Path("scan.png"), binary));
  FinishedTask audio = RunOne(FileTask(Path("talk.mp3"), "voicefanyi"));
  FinishedTask picture = RunOne(FileTask(Path("scan.png"), "ocrfanyi"));

  for (FinishedTask* done : {&audio, &picture}) {
    ASSERT_EQ(done->notification, kNotifySucceeded) << done->task->failureReason;
    EXPECT_FALSE(done->task->resultText.empty());
    EXPECT_EQ(done->task->resultText.rfind("[en] ", 0), 0u) << done->task->resultText;
    EXPECT_EQ(ReadFile(done->task->resultPath), done->task->resultText);
  }
  EXPECT_EQ(audio.task->resultPath, outFolder_ + "talk_en.txt");
  EXPECT_EQ(picture.task->resultPath, outFolder_ + "scan_en.txt");
  const auto par = emu_->Requests("/api/v4/uploadpar");
  ASSERT_EQ(par.size(), 2u);
  EXPECT_EQ(Member(par[0], "tasktype"), "voicefanyi");
  EXPECT_EQ(Member(par[1], "tasktype"), "ocrfanyi");
  EXPECT_EQ(Member(par[0], "parainfo"), "<missing>");
  EXPECT_TRUE(emu_->Requests("/preview/*").empty());
}

TEST_F(TaskRoad, TextTravelsAsUtf16EscapesAndArrivesIntact) {
  // Quote, backslash, line break, CJK and a character beyond the basic plane.
  const std::string text = "say \"hi\" \\ 你好\n\xf0\x9f\x98\x80 thank you";
  FinishedTask done = RunOne(TextTask(text));
  ASSERT_EQ(done.notification, kNotifySucceeded) << done.task->failureReason;

  const auto up = emu_->Requests("/api/v4/uploadtext");
  ASSERT_EQ(up.size(), 1u);
  const std::string& body = up[0].body;
  EXPECT_NE(body.find("\"textvoice\":\"\\u0073\\u0061\\u0079\\u0020\\u0022"), std::string::npos) << body;
  EXPECT_NE(body.find("\\u005c\\u0020\\u4f60\\u597d\\u000a\\ud83d\\ude00"), std::string::npos) << body;
  EXPECT_EQ(body.find("datasign"), std::string::npos);
  // Members in key order.
  const size_t f = body.find("\"fileindex\""), g = body.find("\"tasktag\""),
               k = body.find("\"tasktoken\""), v = body.find("\"textvoice\""),
               t = body.find("\"timestamp\"");
  EXPECT_TRUE(f < g && g < k && k < v && v < t) << body;
  // The service decoded exactly the text that was typed.
  EXPECT_EQ(done.task->resultText, Emulator::Translate(text, "zh", "en"));
  EXPECT_EQ(done.task->resultPath, outFolder_ + "fanyiwendang1_en.txt");
  EXPECT_TRUE(emu_->Requests("/api/v4/uploadfile").empty());
}

TEST_F(TaskRoad, EmptyFileSendsNoChunkAndIsStillPolled) {
  ASSERT_TRUE(WriteTextFile(Path("empty.docx"), ""));
  FinishedTask done = RunOne(FileTask(Path("empty.docx")));
  EXPECT_EQ(done.notification, kNotifySucceeded) << done.task->failureReason;
  EXPECT_TRUE(emu_->Requests("/api/v4/uploadfile").empty());
  EXPECT_FALSE(emu_->Requests("/api/v4/taskstate").empty());
  EXPECT_TRUE(FileExists(outFolder_ + "empty_en.docx"));
}

TEST_F(TaskRoad, ChunkBoundariesAtFourMebibytes) {
  ASSERT_TRUE(WriteFileOfSize(Path("one.mp3"), kUploadChunkSize));
  ASSERT_TRUE(WriteFileOfSize(Path("two.mp3"), kUploadChunkSize + 1));
  FinishedTask one = RunOne(FileTask(Path("one.mp3"), "voicefanyi"));
  ASSERT_EQ(one.notification, kNotifySucceeded) << one.task->failureReason;
  auto chunks = emu_->Requests("/api/v4/uploadfile");
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_NE(chunks[0].query.find("&fileindex=0&chunks=1&chunk=0"), std::string::npos) << chunks[0].query;
  EXPECT_EQ(chunks[0].bodySize, kUploadChunkSize);
  EXPECT_EQ(chunks[0].Header("Content-Type"), "application/json");

  emu_->ClearJournal();
  FinishedTask two = RunOne(FileTask(Path("two.mp3"), "voicefanyi"));
  ASSERT_EQ(two.notification, kNotifySucceeded) << two.task->failureReason;
  chunks = emu_->Requests("/api/v4/uploadfile");
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_NE(chunks[0].query.find("chunks=2&chunk=0"), std::string::npos);
  EXPECT_NE(chunks[1].query.find("chunks=2&chunk=1"), std::string::npos);
  EXPECT_EQ(chunks[0].bodySize, kUploadChunkSize);
  EXPECT_EQ(chunks[1].bodySize, 1u);
  // The service holds exactly the bytes of the file.
  const auto uploaded = emu_->UploadedBytes(TaskTagOf(chunks[1]));
  ASSERT_TRUE(uploaded.has_value());
  EXPECT_EQ(*uploaded, ReadFile(Path("two.mp3")));

  // Upload progress reached the whole size and never went back.
  uint64_t last = 0;
  bool sawAll = false;
  for (const auto& p : notifier_.Progress()) {
    if (p.progress.taskId != 2 || p.progress.stage != TaskStage::kUploading) continue;
    EXPECT_GE(p.progress.bytesSent, last);
    EXPECT_EQ(p.progress.bytesTotal, kUploadChunkSize + 1);
    last = p.progress.bytesSent;
    sawAll = sawAll || last == kUploadChunkSize + 1;
  }
  EXPECT_TRUE(sawAll);
}

TEST_F(TaskRoad, FileWithoutExtension) {
  ASSERT_TRUE(WriteTextFile(Path("README"), "hello"));
  FinishedTask done = RunOne(FileTask(Path("README"), "ocrfanyi"));
  ASSERT_EQ(done.notification, kNotifySucceeded) << done.task->failureReason;
  EXPECT_EQ(done.task->resultPath, outFolder_ + "README_en.txt");
  const auto par = emu_->Requests("/api/v4/uploadpar");
  ASSERT_EQ(par.size(), 1u);
  EXPECT_EQ(Member(par[0], "filename"), "QuilloraFileSize1");
}

TEST_F(TaskRoad, ExtensionThatNeedsEscapingIsSignedAsSentAndSaved) {
  // The quote is escaped in the body; the signature must cover that same
  // escaped text, or the service refuses the task at its creation.
  const std::string name = "notes.t\"x";
  ASSERT_TRUE(WriteTextFile(Path(name), "hello\n"));
  FinishedTask done = RunOne(FileTask(Path(name)));
  ASSERT_EQ(done.notification, kNotifySucceeded) << done.task->failureReason;
  EXPECT_EQ(done.task->resultPath, outFolder_ + "notes_en.t\"x");
  EXPECT_EQ(ReadFile(done.task->resultPath), Emulator::Translate("hello\n", "zh", "en"));
  const auto par = emu_->Requests("/api/v4/uploadpar");
  ASSERT_EQ(par.size(), 1u);
  EXPECT_EQ(par[0].code, 10000);
  EXPECT_NE(par[0].body.find(R"("filename":"QuilloraFileSize1.t\"x")"), std::string::npos) << par[0].body;
  EXPECT_EQ(Member(par[0], "outputfileextension"), "t\"x");
}

TEST_F(TaskRoad, TaskCreationCarriesTheServerClockOrTheLocalOneWhenItIsDown) {
  ASSERT_TRUE(WriteTextFile(Path("a.mp3"), "hello"));
  auto sentTime = [this] {
    const auto par = emu_->Requests("/api/v4/uploadpar");
    return par.empty() ? int64_t{0} : std::stoll(Member(par.back(), "timestamp"));
  };
  auto near = [](int64_t sent, int64_t expected) { return std::llabs(sent - expected) <= 120; };
  constexpr int64_t kOffset = 3 * 3600;

  // The service's clock runs three hours ahead of this machine's.
  emu_->SetServerTimeOffset(kOffset);
  FinishedTask ahead = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  EXPECT_EQ(ahead.notification, kNotifySucceeded) << ahead.task->failureReason;
  EXPECT_TRUE(near(sentTime(), std::time(nullptr) + kOffset)) << sentTime();

  // The time service drops every request: the local clock is sent instead.
  emu_->SetServerTimeOffset(0);
  Fault down;
  down.path = "/ver1/getUnixTime";
  down.kind = Fault::Kind::kDrop;
  emu_->SetFault(down);
  FinishedTask local = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  EXPECT_EQ(local.notification, kNotifySucceeded) << local.task->failureReason;
  EXPECT_TRUE(near(sentTime(), std::time(nullptr))) << sentTime();

  // With the time service down and the service's clock far off, the service
  // refuses the local time and the task fails at its creation.
  emu_->SetServerTimeOffset(kOffset);
  FinishedTask skewed = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  EXPECT_EQ(skewed.notification, kNotifyFailed);
  EXPECT_EQ(emu_->Requests("/api/v4/uploadpar").back().code, emulator::kCodeClockSkew);
}

TEST_F(TaskRoad, QueuedTasksKeepTheirOrderAndReachTheirOwnTargets) {
  emulator::TaskBehaviour slow;
  slow.processingTime = std::chrono::milliseconds(150);
  emu_->SetTaskBehaviour(slow);
  ASSERT_TRUE(WriteTextFile(Path("first.docx"), "hello"));
  ASSERT_TRUE(WriteTextFile(Path("second.mp3"), "world"));
  ASSERT_TRUE(WriteTextFile(Path("third.png"), "test"));
  auto a = FileTask(Path("first.docx"));
  auto b = FileTask(Path("second.mp3"), "voicefanyi");
  auto c = FileTask(Path("third.png"), "ocrfanyi");
  b->notifyTarget = TargetB();
  manager_->AddTask(std::move(a));
  manager_->AddTask(std::move(b));
  manager_->AddTask(std::move(c));
  EXPECT_TRUE(manager_->IsBusy());
  ASSERT_TRUE(notifier_.WaitForFinished(3));
  std::vector<FinishedTask> done = notifier_.TakeFinished();
  ASSERT_EQ(done.size(), 3u);
  EXPECT_EQ(FileNameOf(done[0].task->sourcePath), "first.docx");
  EXPECT_EQ(FileNameOf(done[1].task->sourcePath), "second.mp3");
  EXPECT_EQ(FileNameOf(done[2].task->sourcePath), "third.png");
  for (const FinishedTask& f : done) {
    EXPECT_EQ(f.notification, kNotifySucceeded) << f.task->failureReason;
    EXPECT_EQ(f.target, f.task->notifyTarget);
  }
  EXPECT_EQ(done[1].target, TargetB());
  // One task at a time: each uploadpar follows the previous task's download.
  const auto journal = emu_->Journal();
  std::vector<std::string> order;
  for (const auto& e : journal) {
    if (e.path == "/api/v4/uploadpar" || e.path == "/api/v4/taskdown") order.push_back(e.path);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"/api/v4/uploadpar", "/api/v4/taskdown",
                                             "/api/v4/uploadpar", "/api/v4/taskdown",
                                             "/api/v4/uploadpar", "/api/v4/taskdown"}));
  // The waiting tasks were told their place in the queue.
  bool thirdQueuedBehindTwo = false;
  for (const auto& p : notifier_.Progress()) {
    if (p.progress.taskId == 3 && p.progress.stage == TaskStage::kQueued && p.progress.queuePosition == 2)
      thirdQueuedBehindTwo = true;
  }
  EXPECT_TRUE(thirdQueuedBehindTwo);
}

TEST_F(TaskRoad, ParametersFailThenSucceedOnTheNextTask) {
  InjectCode("/api/v4/memparm", 18000, 1);
  ASSERT_TRUE(WriteTextFile(Path("a.docx"), "hello"));
  FinishedTask first = RunOne(FileTask(Path("a.docx")));
  EXPECT_EQ(first.notification, kNotifyParamsFailed);
  EXPECT_TRUE(emu_->Requests("/api/v4/uploadpar").empty()) << "nothing is sent for the task";
  EXPECT_TRUE(manager_->ProductInfo().empty());

  FinishedTask second = RunOne(FileTask(Path("a.docx")));
  EXPECT_EQ(second.notification, kNotifySucceeded) << second.task->failureReason;
  EXPECT_EQ(emu_->Requests("/api/v4/memparm").size(), 2u);
  EXPECT_FALSE(manager_->ProductInfo().empty());
  FinishedTask third = RunOne(FileTask(Path("a.docx")));
  EXPECT_EQ(third.notification, kNotifySucceeded);
  EXPECT_EQ(emu_->Requests("/api/v4/memparm").size(), 2u);
  // The upload counter counts tasks that reached the upload name.
  EXPECT_EQ(Member(emu_->Requests("/api/v4/uploadpar").back(), "filename"), "QuilloraFileSize2.docx");
}

TEST_F(TaskRoad, CreationRefusedOrUnreadable) {
  ASSERT_TRUE(WriteTextFile(Path("a.mp3"), "hello"));
  Fault f = InjectCode("/api/v4/uploadpar", 40000, 1);
  FinishedTask refused = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  EXPECT_EQ(refused.notification, kNotifyFailed);
  EXPECT_TRUE(emu_->Requests("/api/v4/uploadfile").empty());

  // Unreadable answer: the task goes on with empty values and fails later.
  f.kind = Fault::Kind::kMalformed;
  emu_->SetFault(f);
  FinishedTask unreadable = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  EXPECT_EQ(unreadable.notification, kNotifyFailed);
  const auto chunks = emu_->Requests("/api/v4/uploadfile");
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].query.rfind("tasktag=&timestamp=&tasktoken=&", 0), 0u) << chunks[0].query;
}

TEST_F(TaskRoad, SourceFileThatCannotBeOpened) {
  FinishedTask done = RunOne(FileTask(Path("missing.docx")));
  EXPECT_EQ(done.notification, kNotifyFailed);
  EXPECT_TRUE(emu_->Requests("/api/v4/uploadfile").empty());
  EXPECT_TRUE(emu_->Requests("/api/v4/taskstate").empty());
}

TEST_F(TaskRoad, RefusedChunkStopsTheUpload) {
  ASSERT_TRUE(WriteFileOfSize(Path("big.mp3"), 2 * kUploadChunkSize + 10));
  InjectCode("/api/v4/uploadfile", 40903, 1);
  FinishedTask done = RunOne(FileTask(Path("big.mp3"), "voicefanyi"));
  EXPECT_EQ(done.notification, kNotifyFailed);
  EXPECT_EQ(emu_->Requests("/api/v4/uploadfile").size(), 1u) << "later chunks are not sent";
  EXPECT_TRUE(emu_->Requests("/api/v4/taskstate").empty());
}

TEST_F(TaskRoad, UnreadableChunkAnswerSendsTheNextChunk) {
  ASSERT_TRUE(WriteFileOfSize(Path("big.mp3"), kUploadChunkSize + 10));
  Fault f;
  f.path = "/api/v4/uploadfile";
  f.kind = Fault::Kind::kMalformed;
  f.count = 1;
  emu_->SetFault(f);
  FinishedTask done = RunOne(FileTask(Path("big.mp3"), "voicefanyi"));
  const auto chunks = emu_->Requests("/api/v4/uploadfile");
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_NE(chunks[1].query.find("chunk=1"), std::string::npos);
  // The service never stored chunk 0, so it refuses chunk 1 and the task fails.
  EXPECT_EQ(done.notification, kNotifyFailed);
}

// A chunk that got no whole answer may never have reached the service: the
// task fails, the service is not polled, and an earlier result of the same
// name stays as it was.
TEST_F(TaskRoad, ChunkWithoutAnAnswerFailsTheTask) {
  const std::string earlier = outFolder_ + "lost_en.txt";
  ASSERT_TRUE(WriteTextFile(earlier, "an earlier good result"));
  const std::string small = Path("lost.mp3");
  const std::string big = Path("big/lost.mp3");
  ASSERT_TRUE(WriteTextFile(small, "hello"));
  std::filesystem::create_directories(Path("big"));
  ASSERT_TRUE(WriteFileOfSize(big, kUploadChunkSize + 10));
  const auto expectLost = [&](const char* what) {
    ASSERT_TRUE(notifier_.WaitForFinished(1, std::chrono::seconds(90))) << what;
    std::vector<FinishedTask> done = notifier_.TakeFinished();
    ASSERT_EQ(done.size(), 1u) << what;
    EXPECT_EQ(done[0].notification, kNotifyFailed) << what;
    EXPECT_NE(done[0].task->failureReason.find("no answer arrived"), std::string::npos)
        << what << ": " << done[0].task->failureReason;
    EXPECT_TRUE(emu_->Requests("/api/v4/taskstate").empty()) << what;
    EXPECT_EQ(ReadFile(earlier), "an earlier good result") << what;
    emu_->ClearFaults();
    emu_->ClearJournal();
  };
  Fault hang;
  hang.path = "/api/v4/uploadfile";
  hang.kind = Fault::Kind::kHang;
  for (const Fault::Kind kind : {Fault::Kind::kDrop, Fault::Kind::kTruncated}) {
    Fault f;
    f.path = hang.path;
    f.kind = kind;
    // A request dropped on a reused connection is sent again over a new one
    // (and then arrives): the drop must meet every attempt to lose the chunk.
    f.count = kind == Fault::Kind::kDrop ? -1 : 1;
    // The only chunk of a small file.
    emu_->SetFault(f);
    manager_->AddTask(FileTask(small, "voicefanyi"));
    expectLost("only chunk");
    // The last of two chunks: the first is held until the fault for the
    // second replaces the hold, which lets the first through.
    emu_->SetFault(hang);
    manager_->AddTask(FileTask(big, "voicefanyi"));
    ASSERT_TRUE(emu_->WaitForRequests(f.path, 1, std::chrono::seconds(30)));
    emu_->SetFault(f);
    expectLost("last chunk");
  }
  // A chunk that is never answered is given up when the transfer stalls.
  emu_->SetFault(hang);
  manager_->AddTask(FileTask(small, "voicefanyi"));
  expectLost("hung chunk");
}

TEST_F(TaskRoad, RefusedTextUpload) {
  Fault f = InjectCode("/api/v4/uploadtext", 19000);
  FinishedTask done = RunOne(TextTask("hello"));
  EXPECT_EQ(done.notification, kNotifyFailed);
  EXPECT_TRUE(emu_->Requests("/api/v4/taskstate").empty());

  f.kind = Fault::Kind::kDrop;
  emu_->SetFault(f);
  FinishedTask dropped = RunOne(TextTask("hello"));
  EXPECT_EQ(dropped.notification, kNotifyFailed);
}

TEST_F(TaskRoad, EveryFailureCodeOfTheTaskStateEndsTheTask) {
  ASSERT_TRUE(WriteTextFile(Path("a.mp3"), "hello"));
  for (const int code : {18000, 19000, 19025, -201904}) {
    emulator::TaskBehaviour b;
    b.processingTime = std::chrono::milliseconds(0);
    b.finalCode = code;
    emu_->SetTaskBehaviour(b);
    emu_->ClearJournal();
    FinishedTask done = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
    EXPECT_EQ(done.notification, kNotifyFailed) << code;
    EXPECT_TRUE(emu_->Requests("/api/v4/taskdown").empty()) << code;
    EXPECT_FALSE(FileExists(outFolder_ + "a_en.txt")) << code;
  }
}

TEST_F(TaskRoad, UnlistedAndUnreadableStateAnswersKeepPolling) {
  ASSERT_TRUE(WriteTextFile(Path("a.mp3"), "hello"));
  Fault f = InjectCode("/api/v4/taskstate", 12345, 3);
  FinishedTask unlisted = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  EXPECT_EQ(unlisted.notification, kNotifySucceeded) << unlisted.task->failureReason;
  auto polls = emu_->Requests("/api/v4/taskstate");
  ASSERT_GE(polls.size(), 4u);
  EXPECT_EQ(std::count_if(polls.begin(), polls.end(), [](const JournalEntry& e) { return e.code == 12345; }), 3);
  // The same signed body on every poll.
  for (const auto& p : polls) EXPECT_EQ(p.body, polls.front().body);
  EXPECT_EQ(Member(polls.front(), "ifshowtxt"), "1");

  emu_->ClearJournal();
  f.kind = Fault::Kind::kMalformed;
  f.count = 2;
  emu_->SetFault(f);
  FinishedTask unreadable = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  EXPECT_EQ(unreadable.notification, kNotifySucceeded) << unreadable.task->failureReason;
  EXPECT_GE(emu_->Requests("/api/v4/taskstate").size(), 3u);
}

TEST_F(TaskRoad, PollingBoundEndsTheTask) {
  MakeManager(std::chrono::milliseconds(250));
  emulator::TaskBehaviour b;
  b.processingTime = std::chrono::seconds(60);
  emu_->SetTaskBehaviour(b);
  ASSERT_TRUE(WriteTextFile(Path("a.mp3"), "hello"));
  FinishedTask done = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  EXPECT_EQ(done.notification, kNotifyFailed);
  EXPECT_NE(done.task->failureReason.find("in time"), std::string::npos) << done.task->failureReason;
  EXPECT_TRUE(emu_->Requests("/api/v4/taskdown").empty());
}

TEST_F(TaskRoad, DownloadAddressRefused) {
  InjectCode("/api/v4/taskdown", 40910);
  ASSERT_TRUE(WriteTextFile(Path("a.mp3"), "hello"));
  FinishedTask done = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  EXPECT_EQ(done.notification, kNotifyFailed);
  EXPECT_TRUE(done.task->resultPath.empty());
  EXPECT_TRUE(emu_->Requests("/download/*").empty());
}

TEST_F(TaskRoad, FailedSaveLeavesNoResult) {
  ASSERT_TRUE(WriteTextFile(Path("a.mp3"), "hello"));
  // A truncated download: nothing at the result path, the task fails.
  Fault f;
  f.path = "/download/*";
  f.kind = Fault::Kind::kTruncated;
  emu_->SetFault(f);
  FinishedTask truncated = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  EXPECT_EQ(truncated.notification, kNotifyFailed);
  EXPECT_TRUE(truncated.task->resultPath.empty());
  EXPECT_TRUE(std::filesystem::is_empty(outFolder_));

  // A result over the size bound: the task fails and nothing is left.
  emu_->ClearFaults();
  maxResultBytes_ = 4;
  MakeManager();
  FinishedTask oversized = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  EXPECT_EQ(oversized.notification, kNotifyFailed);
  EXPECT_TRUE(oversized.task->resultPath.empty());
  EXPECT_TRUE(std::filesystem::is_empty(outFolder_));
}

// A chosen output folder that is missing (an unplugged drive) fails the task
// instead of receiving a new folder; only the default folder is created.
TEST_F(TaskRoad, MissingOutputFolderIsCreatedOnlyWhenItIsTheDefault) {
  ASSERT_TRUE(WriteTextFile(Path("a.mp3"), "hello"));
  const std::string chosen = outFolder_ + "usb-stick/";
  outFolder_ = chosen;
  FinishedTask refused = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  EXPECT_EQ(refused.notification, kNotifyFailed);
  EXPECT_NE(refused.task->failureReason.find("does not exist"), std::string::npos)
      << refused.task->failureReason;
  EXPECT_FALSE(FileExists(chosen));

  outFolder_ = dir_.path() + "home/Documents/";
  creatableFolder_ = outFolder_;
  MakeManager();
  FinishedTask done = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  ASSERT_EQ(done.notification, kNotifySucceeded) << done.task->failureReason;
  EXPECT_EQ(done.task->resultPath, outFolder_ + "a_en.txt");
  EXPECT_TRUE(FileExists(done.task->resultPath));

  // The default folder that cannot be made (its parent is a plain file).
  ASSERT_TRUE(WriteTextFile(dir_.path() + "plain", "not a folder"));
  outFolder_ = dir_.path() + "plain/Documents/";
  creatableFolder_ = outFolder_;
  MakeManager();
  FinishedTask blocked = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  EXPECT_EQ(blocked.notification, kNotifyFailed);
  EXPECT_TRUE(blocked.task->resultPath.empty());
  EXPECT_NE(blocked.task->failureReason.find("cannot be created"), std::string::npos)
      << blocked.task->failureReason;
}

// A legal result name close to the 255-byte limit is saved: the staging file
// beside it has a short name of its own.
TEST_F(TaskRoad, LongResultNameIsSaved) {
  std::string base;
  for (int i = 0; i < 80; ++i) base += "\xe8\xaf\x91";  // 80 CJK characters: 240 bytes
  ASSERT_TRUE(WriteTextFile(Path(base + ".mp3"), "hello"));
  FinishedTask done = RunOne(FileTask(Path(base + ".mp3"), "voicefanyi"));
  ASSERT_EQ(done.notification, kNotifySucceeded) << done.task->failureReason;
  EXPECT_EQ(done.task->resultPath, outFolder_ + base + "_en.txt");  // 247 bytes
  EXPECT_EQ(ReadFile(done.task->resultPath), done.task->resultText);
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(outFolder_)) entries += e.exists() ? 1 : 0;
  EXPECT_EQ(entries, 1u) << "no staging file is left behind";
}

TEST_F(TaskRoad, SignedInUserTravelsWithEveryRequest) {
  emulator::User user;
  user.username = "reader";
  user.usertoken = "tok-123";
  emu_->AddUser(user);
  signIn_ = SignInValues{"reader", "tok-123"};
  ASSERT_TRUE(WriteTextFile(Path("a.mp3"), "hello"));
  FinishedTask done = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  ASSERT_EQ(done.notification, kNotifySucceeded) << done.task->failureReason;
  for (const char* path : {"/api/v4/uploadpar", "/api/v4/taskstate", "/api/v4/taskdown"}) {
    const auto requests = emu_->Requests(path);
    ASSERT_FALSE(requests.empty()) << path;
    EXPECT_EQ(Member(requests.back(), "account"), "reader") << path;
    EXPECT_EQ(Member(requests.back(), "usertoken"), "tok-123") << path;
  }
}

TEST_F(TaskRoad, NullTargetIsDestroyedAndTheQueueGoesOn) {
  ASSERT_TRUE(WriteTextFile(Path("a.mp3"), "hello"));
  auto silent = FileTask(Path("a.mp3"), "voicefanyi");
  silent->notifyTarget = nullptr;
  manager_->AddTask(std::move(silent));
  FinishedTask next = RunOne(FileTask(Path("a.mp3"), "voicefanyi"));
  EXPECT_EQ(next.notification, kNotifySucceeded);
  EXPECT_EQ(emu_->Requests("/api/v4/uploadpar").size(), 2u);
  for (const auto& p : notifier_.Progress()) EXPECT_NE(p.target, nullptr);
}

TEST_F(TaskRoad, DestroyingTheManagerEndsRunningAndWaitingTasks) {
  emulator::TaskBehaviour b;
  b.processingTime = std::chrono::seconds(60);
  emu_->SetTaskBehaviour(b);
  ASSERT_TRUE(WriteTextFile(Path("a.mp3"), "hello"));
  manager_->AddTask(FileTask(Path("a.mp3"), "voicefanyi"));
  manager_->AddTask(FileTask(Path("a.mp3"), "voicefanyi"));
  ASSERT_TRUE(emu_->WaitForRequests("/api/v4/taskstate", 1, std::chrono::seconds(10)));
  const auto started = std::chrono::steady_clock::now();
  manager_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  std::vector<FinishedTask> done = notifier_.TakeFinished();
  ASSERT_EQ(done.size(), 2u);
  for (const FinishedTask& f : done) {
    EXPECT_EQ(f.notification, kNotifyFailed);
    EXPECT_EQ(f.task->failureReason, "cancelled");
  }
}

TEST_F(TaskRoad, FilesOverFourGibibytesKeepTheirSize) {
  // A sparse file of 4 GiB + 1 byte: a 32-bit size would have wrapped to one
  // byte. Only the first chunk is sent: the service does not know the task,
  // and the cancel check would stop the rest anyway.
  const std::string path = Path("huge.avi");
  { std::ofstream touch(path, std::ios::binary); }
  std::filesystem::resize_file(path, (4ull << 30) + 1);
  TaskTicket ticket{"T1", "K1", "100"};
  int asked = 0;
  uint64_t total = 0;
  EXPECT_FALSE(UploadFileChunks(
      path, ticket, [&](uint64_t, uint64_t t) { total = t; }, [&] { return ++asked > 1; }));
  EXPECT_EQ(total, (4ull << 30) + 1);
  const auto chunks = emu_->Requests("/api/v4/uploadfile");
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_NE(chunks[0].query.find("&chunks=1025&chunk=0"), std::string::npos) << chunks[0].query;
  EXPECT_EQ(chunks[0].bodySize, kUploadChunkSize);
}

TEST_F(TaskRoad, ServiceValuesCannotRewriteRequests) {
  // A hostile uploadpar answer: the values stay values in the URL and bodies.
  TaskTicket ticket{"T&chunk=9#", "K ?x=1", "1\"}"};
  ASSERT_TRUE(WriteTextFile(Path("a.mp3"), "hello"));
  EXPECT_FALSE(UploadFileChunks(Path("a.mp3"), ticket));
  const auto chunks = emu_->Requests("/api/v4/uploadfile");
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].query,
            "tasktag=T%26chunk%3D9%23&timestamp=1%22%7D&tasktoken=K%20%3Fx%3D1&fileindex=0&chunks=1&chunk=0");

  SoftwareIdentity id;
  id.machineId = kMachineId;
  id.productInfo = "pi";
  StatusRequest status;
  status.ticket = &ticket;
  status.identity = &id;
  EXPECT_TRUE(FetchDownloadUrl(status).empty());
  const auto down = emu_->Requests("/api/v4/taskdown");
  ASSERT_EQ(down.size(), 1u);
  const Json::Value body = BodyOf(down[0]);
  EXPECT_EQ(body.size(), 5u) << down[0].body;  // deviceid, productinfo, tasktag, timestamp, datasign
  EXPECT_EQ(Member(down[0], "timestamp"), "1\"}");
  EXPECT_EQ(Member(down[0], "tasktag"), "T&chunk=9#");
}

// The task's requests to the service ride one connection: the chunks follow
// the task's creation on it instead of each opening a connection of its own.
TEST_F(TaskRoad, ChunksRideTheConnectionOfTheTaskCreation) {
  ASSERT_TRUE(WriteFileOfSize(Path("three.mp3"), 2 * kUploadChunkSize + 10));
  FinishedTask done = RunOne(FileTask(Path("three.mp3"), "voicefanyi"));
  ASSERT_EQ(done.notification, kNotifySucceeded) << done.task->failureReason;
  std::vector<JournalEntry> road = emu_->Requests("/api/v4/uploadpar");
  const auto chunks = emu_->Requests("/api/v4/uploadfile");
  ASSERT_EQ(chunks.size(), 3u);
  road.insert(road.end(), chunks.begin(), chunks.end());
  std::set<int> ports;
  for (const auto& e : road) ports.insert(e.remotePort);
  // One connection; a second one is tolerated should a very slow machine let
  // it idle past the server's keep-alive time.
  EXPECT_LE(ports.size(), 2u);
}

// A server may end a kept-alive connection after any answer. The next chunk
// must then go over a new connection and be accepted once; the upload must
// never be reported as done with a chunk missing. (Whether libcurl notices
// the closed connection before sending or only when no answer comes, it
// sends the chunk again; the server keeps nothing of a request it could not
// answer.)
TEST_F(TaskRoad, ConnectionClosedAfterAChunkIsReplacedForTheNextChunk) {
  ASSERT_TRUE(WriteFileOfSize(Path("three.mp3"), 2 * kUploadChunkSize + 10));
  Fault f;
  f.path = "/api/v4/uploadfile";
  f.kind = Fault::Kind::kCloseAfter;
  f.count = 1;
  emu_->SetFault(f);
  FinishedTask done = RunOne(FileTask(Path("three.mp3"), "voicefanyi"));
  ASSERT_EQ(done.notification, kNotifySucceeded) << done.task->failureReason;
  std::vector<JournalEntry> accepted = emu_->Requests("/api/v4/uploadfile");
  std::erase_if(accepted, [](const JournalEntry& e) { return e.code != 10000 && e.code != 11000; });
  ASSERT_EQ(accepted.size(), 3u);
  for (size_t i = 0; i < accepted.size(); ++i) {
    EXPECT_TRUE(accepted[i].query.ends_with("&chunk=" + std::to_string(i))) << accepted[i].query;
  }
  EXPECT_NE(accepted[1].remotePort, accepted[0].remotePort);
  EXPECT_EQ(emu_->UploadedBytes(TaskTagOf(accepted[0])), ReadFile(Path("three.mp3")));
}

// A request that meets a kept-alive connection the server has just dropped is
// sent again over a new connection, so the chunk arrives once and intact.
TEST_F(TaskRoad, ChunkDroppedOnAReusedConnectionIsSentAgain) {
  ASSERT_TRUE(WriteFileOfSize(Path("small.mp3"), 5000));
  Fault f;
  f.path = "/api/v4/uploadfile";
  f.kind = Fault::Kind::kDrop;
  f.count = 1;
  emu_->SetFault(f);
  FinishedTask done = RunOne(FileTask(Path("small.mp3"), "voicefanyi"));
  ASSERT_EQ(done.notification, kNotifySucceeded) << done.task->failureReason;
  const auto chunks = emu_->Requests("/api/v4/uploadfile");
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].remotePort, emu_->Requests("/api/v4/uploadpar").at(0).remotePort);
  EXPECT_NE(chunks[1].remotePort, chunks[0].remotePort);
  EXPECT_EQ(emu_->UploadedBytes(TaskTagOf(chunks[1])), ReadFile(Path("small.mp3")));
}

}  // namespace
}  // namespace quillora
