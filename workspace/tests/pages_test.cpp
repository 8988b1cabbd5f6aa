// The four pages in their host window, offscreen, running real tasks through
// the task manager against the embedded emulator.
#include <QTimer>
#include <filesystem>

#include "common/text.h"
#include "service/transport/json_answer.h"
#include "workspace/file_too_big_tip.h"
#include "workspace/tests/workspace_test_support.h"

namespace quillora::workspace::testing {
namespace {

using namespace DirectUI;
using emulator::Fault;

constexpr uint64_t KiB = 1024;

// The failure text as the editor keeps it: line breaks without CR.
std::string ShownFailureText() {
  std::string text = TransPage::kFailureText;
  std::erase(text, '\r');
  return text;
}

class FilePagesTest : public PagesTest {
 protected:
  // Chooses `path` on `page` through its add button and the dialog.
  void Choose(FileTransPage* page, const std::string& path) {
    AnswerDialog(path);
    ClickIn(page, page->IsEmpty() ? "btnAddFile" : "btn_re_add");
    ASSERT_EQ(page->SourcePath(), path);
  }
  bool WaitFinished(TransPage* page) {
    return WaitUntil([&] { return !page->IsWaitingForTask(); });
  }
  std::string Output(TransPage* page) { return TextOf(In(page, "ed_output")); }
  void ExpectFailureShown(FileTransPage* page) {
    auto* out = In<CRichEditUI>(page, "ed_output", "RichEdit");
    EXPECT_EQ(out->GetText(), ShownFailureText());
    EXPECT_EQ(out->GetTextColor(), TransPage::kFailureColor);
    EXPECT_EQ(out->GetFont(), TransPage::kFailureFont);
    EXPECT_EQ(TextOf(In(page, "btn_export")), "请检测文件");
    EXPECT_EQ(TextOf(In(page, "lb_dest_name")), "");
    EXPECT_TRUE(page->ResultPath().empty());
    EXPECT_EQ(page->State(), FilePageState::kFinished);
  }
};

TEST_F(FilePagesTest, DropTakesTheFirstMatchingRegularFileOnlyWhileEmpty) {
  OpenHost();
  std::filesystem::create_directories(dir_.path() + "folder.pdf");
  const std::string pdf = File("b.PDF", 3 * KiB / 2);
  ASSERT_TRUE(host_->IsAcceptingDrops());
  ASSERT_TRUE(Drop({dir_.path() + "folder.pdf", File("a.txt", 10), pdf, File("c.docx", 10)}));
  EXPECT_EQ(Doc()->SourcePath(), pdf);
  EXPECT_EQ(Doc()->State(), FilePageState::kFileChosen);
  EXPECT_EQ(In<CTabLayoutUI>(Doc(), "ly_icon1", "TabLayout")->GetCurSel(), 3);
  EXPECT_EQ(In<CTabLayoutUI>(Doc(), "ly_source", "TabLayout")->GetCurSel(), 1);
  EXPECT_EQ(TextOf(In(Doc(), "lb_source_name")), "b.PDF");
  EXPECT_EQ(TextOf(In(Doc(), "lb_size")), "1.50KB");
  EXPECT_FALSE(host_->IsAcceptingDrops());
  // A drop delivered anyway while a file is chosen changes nothing.
  DropFiles again{{File("d.doc", 10)}, {}};
  Doc()->AcceptDrop(&again);
  EXPECT_EQ(Doc()->SourcePath(), pdf);
  // Nothing matching: nothing changes.
  ShowTab(1);
  EXPECT_TRUE(host_->IsAcceptingDrops());
  Drop({File("e.txt", 10), dir_.path() + "folder.pdf"});
  EXPECT_TRUE(Music()->IsEmpty());
  // The text tab refuses drops; a drop forced through is still ignored.
  ShowTab(3);
  EXPECT_FALSE(host_->IsAcceptingDrops());
  DropFiles forced{{File("f.mp3", 10)}, {}};
  host_->SendMessage(WM_DROPFILES, reinterpret_cast<WPARAM>(&forced), 0);
  EXPECT_TRUE(Music()->IsEmpty());
  ShowTab(0);
  EXPECT_FALSE(host_->IsAcceptingDrops());
  ClickIn(Doc(), "btn_delete");
  EXPECT_TRUE(Doc()->IsEmpty());
  EXPECT_TRUE(host_->IsAcceptingDrops());
}

TEST_F(FilePagesTest, DialogUsesEachPagesFilterAndCancelChangesNothing) {
  OpenHost();
  AnswerDialog(std::nullopt);
  ClickIn(Doc(), "btnAddFile");
  EXPECT_TRUE(Doc()->IsEmpty());
  ASSERT_EQ(dialogRequests_.size(), 1u);
  const DialogRequest& asked = dialogRequests_[0];
  EXPECT_EQ(asked.kind, DialogRequest::OpenFile);
  ASSERT_EQ(asked.filters.size(), 1u);
  EXPECT_EQ(asked.filters[0].text, "文档 (WORD, EXCEL, PPT, PDF)");
  EXPECT_EQ(asked.filters[0].pattern, "*.doc;*.docx;*.xls;*.xlsx;*.ppt;*.pptx;*.pdf");
  EXPECT_EQ(asked.filterIndex, 1);
  EXPECT_TRUE(asked.title.empty());
  EXPECT_TRUE(asked.folder.empty());
  EXPECT_EQ(asked.owner, host_->GetHWND());
  ShowTab(1);
  // The dialog may return any file; its extension is not checked.
  Choose(Music(), File("talk.ogg", 2048));
  EXPECT_EQ(dialogRequests_.back().filters.at(0).pattern, "*.mp3;*.avi;*.m4a;*.wma;");
  EXPECT_EQ(TextOf(In(Music(), "lb_size")), "2.00KB");
  ShowTab(2);
  AnswerDialog(std::nullopt);
  ClickIn(Pic(), "btnAddFile");
  EXPECT_EQ(dialogRequests_.back().filters.at(0).text, "图片文件 (PNG, JPG, BMP)");
}

TEST_F(FilePagesTest, SizeLimitCountsWholeKibibytes) {
  OpenHost();
  const auto sparse = [&](const std::string& name, uint64_t size) {
    const std::string path = dir_.path() + name;
    testing_support::WriteTextFile(path, "");
    std::filesystem::resize_file(path, size);
    return path;
  };
  NoticeWatcher notice;
  Choose(Doc(), sparse("over.docx", 51201 * KiB));
  ClickIn(Doc(), "btnTrans");
  EXPECT_EQ(notice.seen, 1);
  EXPECT_EQ(notice.mode, 0);
  EXPECT_EQ(notice.desc, "抱歉，当前仅支持50MB以内的文件，请压缩或拆分后再试");
  EXPECT_EQ(Doc()->State(), FilePageState::kFileChosen);
  EXPECT_FALSE(Doc()->IsWaitingForTask());

  for (uint64_t size : {51200 * KiB, 51201 * KiB - 1}) {
    Choose(Doc(), sparse("edge" + std::to_string(size) + ".docx", size));
    ClickIn(Doc(), "btnTrans");
    EXPECT_EQ(Doc()->State(), FilePageState::kTranslating) << size;
    ASSERT_TRUE(WaitFinished(Doc())) << size;
    EXPECT_EQ(TextOf(In(Doc(), "btn_export")), "导出文件") << size;
  }
  EXPECT_EQ(notice.seen, 1);
}

TEST_F(FilePagesTest, DocumentResultIsShownAndRevealedOnlyAfterSuccess) {
  OpenHost();
  ClickIn(Doc(), "btnTrans");  // nothing chosen: ignored
  EXPECT_TRUE(Doc()->IsEmpty());
  Choose(Doc(), TextFile("report.docx", "Hello World"));
  ClickIn(Doc(), "btnTrans");
  EXPECT_EQ(Doc()->State(), FilePageState::kTranslating);
  EXPECT_FALSE(In(Doc(), "btn_delete")->IsEnabled());
  ClickIn(Doc(), "btnTrans");  // ignored while translating
  ASSERT_TRUE(WaitFinished(Doc()));
  EXPECT_EQ(Doc()->State(), FilePageState::kFinished);
  EXPECT_TRUE(In(Doc(), "btn_delete")->IsEnabled());
  EXPECT_EQ(Output(Doc()), "[zh] 你好 世界");
  EXPECT_EQ(Doc()->ResultPath(), outFolder_ + "report_zh.docx");
  EXPECT_TRUE(std::filesystem::exists(Doc()->ResultPath()));
  EXPECT_EQ(TextOf(In(Doc(), "lb_dest_name")), "report_zh.docx");
  EXPECT_EQ(In(Doc(), "lb_dest_name")->GetToolTip(), "report_zh.docx");
  EXPECT_TRUE(In(Doc(), "ly_icon2")->IsVisible());
  EXPECT_EQ(In<CTabLayoutUI>(Doc(), "ly_icon2", "TabLayout")->GetCurSel(), 0);
  EXPECT_TRUE(revealed_.empty());
  ClickIn(Doc(), "btn_export");
  EXPECT_EQ(revealed_, std::vector<std::string>{Doc()->ResultPath()});
  // Only one task reached the service, with the document's fields.
  auto par = emu_->Requests("/api/v4/uploadpar");
  ASSERT_EQ(par.size(), 1u);
  auto body = ParseJsonAnswer(par[0].body).value_or(Json::Value());
  EXPECT_EQ(body["tasktype"].asString(), "fanyi");
  EXPECT_EQ(body["outputfileextension"].asString(), "docx");
  EXPECT_EQ(body["parainfo"].asString(), "tempfile:txt;maxlimit:char0page0;");
  EXPECT_EQ(body["fanyi_from"].asString(), "en");
  EXPECT_EQ(body["fanyi_to"].asString(), "zh");

  // A finished file may be translated again; a failure then hides the
  // result and the reveal.
  emu_->SetFault({"/api/v4/taskstate", Fault::Kind::kCode, 18000, 200, {}, 1});
  ClickIn(Doc(), "btnTrans");
  EXPECT_TRUE(Doc()->ResultPath().empty());
  ASSERT_TRUE(WaitFinished(Doc()));
  ExpectFailureShown(Doc());
  EXPECT_FALSE(In(Doc(), "ly_icon2")->IsVisible());
  ClickIn(Doc(), "btn_export");
  EXPECT_EQ(revealed_.size(), 1u);
}

TEST_F(FilePagesTest, EveryKindOfTaskFailureEndsInTheFailureLook) {
  OpenHost();
  ShowTab(1);
  Choose(Music(), TextFile("talk.mp3", "voice"));
  const Fault faults[] = {
      {"/api/v4/memparm", Fault::Kind::kCode, 18000, 200, {}, 1},
      {"/api/v4/uploadpar", Fault::Kind::kCode, 19000, 200, {}, 1},
      {"/api/v4/uploadfile", Fault::Kind::kCode, 50000, 200, {}, 1},
      {"/api/v4/taskstate", Fault::Kind::kCode, 19025, 200, {}, 1},
      {"/api/v4/taskstate", Fault::Kind::kCode, -201904, 200, {}, 1},
      {"/api/v4/taskdown", Fault::Kind::kMalformed, 0, 200, {}, -1},
      {"/download/*", Fault::Kind::kTruncated, 0, 200, {}, -1},
  };
  for (const Fault& fault : faults) {
    emu_->ClearFaults();
    emu_->SetFault(fault);
    ClickIn(Music(), "btnTrans");
    ASSERT_TRUE(WaitFinished(Music())) << fault.path;
    ExpectFailureShown(Music());
    EXPECT_FALSE(In(Music(), "lb_dest")->IsVisible()) << fault.path;
    EXPECT_TRUE(In(Music(), "con_hide")->IsVisible()) << fault.path;
  }
  emu_->ClearFaults();
  ClickIn(Music(), "btnTrans");
  ASSERT_TRUE(WaitFinished(Music()));
  EXPECT_TRUE(In(Music(), "lb_dest")->IsVisible());
  EXPECT_EQ(Music()->ResultPath(), outFolder_ + "talk_zh.txt");
  EXPECT_EQ(TextOf(In(Music(), "lb_hide")), "talk.mp3");
}

TEST_F(FilePagesTest, AFileThatVanishesBeforeTranslatingFails) {
  OpenHost();
  const std::string path = TextFile("gone.pdf", "text");
  Choose(Doc(), path);
  std::filesystem::remove(path);
  ClickIn(Doc(), "btnTrans");
  ASSERT_TRUE(WaitFinished(Doc()));
  ExpectFailureShown(Doc());
  EXPECT_EQ(Doc()->SourcePath(), path);
  EXPECT_EQ(TextOf(In(Doc(), "lb_size")), "4B");
}

TEST_F(FilePagesTest, TwoPagesQueueAndEachShowsItsOwnResult) {
  OpenHost();
  emu_->SetFault({"/api/v4/uploadfile", Fault::Kind::kNone, 0, 200, std::chrono::milliseconds(600), 1});
  Choose(Doc(), TextFile("first.pdf", "Hello"));
  ClickIn(Doc(), "btnTrans");
  ShowTab(2);
  Choose(Pic(), TextFile("second.png", "World"));
  ClickIn(Pic(), "btnTrans");
  ASSERT_TRUE(WaitUntil([&] { return TextOf(In(Pic(), "lb_progress_detail")) == "前面还有 1 个任务"; }));
  EXPECT_EQ(TextOf(In(Pic(), "lb_progress")), "排队中");
  ASSERT_TRUE(WaitFinished(Doc()));
  ASSERT_TRUE(WaitFinished(Pic()));
  EXPECT_EQ(Output(Doc()), "[zh] 你好");
  EXPECT_EQ(Output(Pic()), "[zh] 世界");
  EXPECT_EQ(Doc()->ResultPath(), outFolder_ + "first_zh.pdf");
  EXPECT_EQ(Pic()->ResultPath(), outFolder_ + "second_zh.txt");
}

TEST_F(FilePagesTest, ProgressStagesArriveInOrderAndFewerThanReports) {
  OpenHost();
  uitest::Recorder stages;
  std::vector<TaskStage> seen;
  struct StageListener : INotifyUI {
    std::vector<TaskStage>* out;
    void Notify(TNotifyUI& msg) override {
      if (msg.sType == kNotifyTaskProgress) out->push_back(ProgressOf(msg).stage);
    }
  } listener;
  listener.out = &seen;
  Pm().AddNotifier(&listener);
  std::vector<std::string> uploadTexts;
  emu_->SetFault({"/api/v4/uploadfile", Fault::Kind::kNone, 0, 200, std::chrono::milliseconds(150), -1});
  Choose(Doc(), File("big.pdf", 9 * 1024 * KiB));
  ClickIn(Doc(), "btnTrans");
  ASSERT_TRUE(WaitUntil([&] {
    const std::string t = TextOf(In(Doc(), "lb_progress"));
    if (t.starts_with("上传中") && (uploadTexts.empty() || uploadTexts.back() != t)) uploadTexts.push_back(t);
    return !Doc()->IsWaitingForTask();
  }));
  Pm().RemoveNotifier(&listener);
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  for (TaskStage s : {TaskStage::kQueued, TaskStage::kUploading, TaskStage::kWaitingForService,
                      TaskStage::kDownloading})
    EXPECT_NE(std::find(seen.begin(), seen.end(), s), seen.end()) << TaskStageName(s);
  ASSERT_FALSE(uploadTexts.empty());
  EXPECT_EQ(uploadTexts.back(), "上传中 100%");
  EXPECT_TRUE(std::any_of(uploadTexts.begin(), uploadTexts.end(),
                          [](const std::string& t) { return t == "上传中 44%"; }));
  const auto counters = host_->Bridge()->GetCounters();
  EXPECT_LE(counters.progressDelivered, counters.reportsReceived);
}

TEST_F(FilePagesTest, SwappingDuringATaskKeepsTheTaskLanguages) {
  OpenHost();
  emu_->SetFault({"/api/v4/uploadfile", Fault::Kind::kNone, 0, 200, std::chrono::milliseconds(300), 1});
  Choose(Doc(), TextFile("swap.doc", "Hello"));
  ClickIn(Doc(), "btnTrans");
  ClickIn(Doc(), "btnChange");
  EXPECT_EQ(In(Doc(), "btnSource")->GetCustomAttribute("code"), "zh");
  EXPECT_EQ(TextOf(In(Doc(), "btnDest")), "英语");
  ASSERT_TRUE(WaitFinished(Doc()));
  EXPECT_EQ(Doc()->ResultPath(), outFolder_ + "swap_zh.doc");
  EXPECT_EQ(Output(Doc()), "[zh] 你好");
}

TEST_F(FilePagesTest, AResultForAFileGivenUpIsDestroyedUnseen) {
  OpenHost();
  emu_->SetFault({"/api/v4/uploadfile", Fault::Kind::kNone, 0, 200, std::chrono::milliseconds(300), 1});
  Choose(Doc(), TextFile("old.docx", "Hello"));
  ClickIn(Doc(), "btnTrans");
  Doc()->ClearFile();
  const std::string next = TextFile("new.docx", "World");
  DropFiles drop{{next}, {}};
  Doc()->AcceptDrop(&drop);
  ASSERT_TRUE(emu_->WaitForRequests("/download/*", 1, std::chrono::seconds(30)));
  ASSERT_TRUE(WaitUntil([&] { return !manager_->IsBusy(); }));
  uitest::Drain();
  EXPECT_EQ(Doc()->State(), FilePageState::kFileChosen);
  EXPECT_EQ(Doc()->SourcePath(), next);
  EXPECT_EQ(Output(Doc()), "");
  EXPECT_TRUE(Doc()->ResultPath().empty());
}

TEST_F(FilePagesTest, AwkwardPathsTravelEndToEnd) {
  OpenHost();
  const std::string names[] = {
      "my report \"final\" 'v2'.docx",
      "季度报告 年终.xlsx",
      std::string(245, 'n') + ".pptx",
  };
  for (const std::string& name : names) {
    const std::string path = TextFile(name, "Hello");
    Choose(Doc(), path);
    EXPECT_EQ(TextOf(In(Doc(), "lb_source_name")), name);
    ClickIn(Doc(), "btnTrans");
    ASSERT_TRUE(WaitFinished(Doc())) << name;
    const std::string ext = name.substr(name.rfind('.'));
    const std::string expected = outFolder_ + name.substr(0, name.rfind('.')) + "_zh" + ext;
    EXPECT_EQ(Doc()->ResultPath(), expected);
    EXPECT_TRUE(std::filesystem::exists(expected)) << name;
  }
}

class TextPageTest : public FilePagesTest {
 protected:
  CRichEditUI* Input() { return In<CRichEditUI>(Text(), "ed_input", "RichEdit"); }
  int DocumentNumber() {
    const std::string& n = Text()->LastDocumentName();
    return n.empty() ? 0 : std::stoi(n.substr(12));
  }
};

TEST_F(TextPageTest, LimitCountsUtf16UnitsAndKeepsTheInput) {
  OpenHost();
  ShowTab(3);
  NoticeWatcher notice;
  const std::string smile = "\xF0\x9F\x98\x80";  // outside the BMP: two units
  const std::string over = std::string(29999, 'a') + smile;
  Input()->SetText(over);
  ClickIn(Text(), "btnTrans");
  EXPECT_EQ(notice.seen, 1);
  EXPECT_EQ(notice.mode, 1);
  EXPECT_EQ(notice.desc, "抱歉，当前仅支持30000字以内短句");
  EXPECT_EQ(Text()->State(), TextPageState::kEmpty);
  EXPECT_EQ(Input()->GetText(), over);

  const std::string exact = std::string(29998, 'b') + smile;
  Input()->SetText(exact);
  ClickIn(Text(), "btnTrans");
  EXPECT_EQ(notice.seen, 1);
  EXPECT_EQ(Text()->State(), TextPageState::kTranslating);
  EXPECT_TRUE(Input()->IsReadOnly());
  ASSERT_TRUE(WaitFinished(Text()));
  EXPECT_FALSE(Input()->IsReadOnly());
  auto sent = emu_->Requests("/api/v4/uploadtext");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Output(Text()).size(), std::string("[zh] ").size() + exact.size());
}

TEST_F(TextPageTest, EmptyClicksStillCountDocuments) {
  OpenHost();
  ShowTab(3);
  ClickIn(Text(), "btnTrans");
  const int first = DocumentNumber();
  ClickIn(Text(), "btnTrans");
  ClickIn(Text(), "btnTrans");
  EXPECT_EQ(Text()->State(), TextPageState::kEmpty);
  Input()->SetText("你好世界");
  ClickIn(Text(), "btnTrans");
  EXPECT_EQ(DocumentNumber(), first + 3);
  ClickIn(Text(), "btnTrans");  // ignored while translating, still counted
  EXPECT_EQ(DocumentNumber(), first + 4);
  ASSERT_TRUE(WaitFinished(Text()));
  EXPECT_EQ(Output(Text()), "[zh] 你好世界");
  // The made-up document name is what the service was told.
  auto par = emu_->Requests("/api/v4/uploadpar");
  ASSERT_EQ(par.size(), 1u);
  EXPECT_NE(par[0].body.find(".txt"), std::string::npos);
  ClickIn(Text(), "btn_export");
  EXPECT_EQ(revealed_, std::vector<std::string>{Text()->ResultPath()});
  // Failure: red text, editing allowed again.
  emu_->SetFault({"/api/v4/uploadtext", Fault::Kind::kCode, 19000, 200, {}, 1});
  ClickIn(Text(), "btnTrans");
  ASSERT_TRUE(WaitFinished(Text()));
  EXPECT_EQ(Output(Text()), ShownFailureText());
  EXPECT_FALSE(Input()->IsReadOnly());
  EXPECT_EQ(Text()->State(), TextPageState::kFinished);
}

}  // namespace
}  // namespace quillora::workspace::testing
