// File and folder dialogs: ownership (the owner is disabled while the dialog
// is up), what the chooser is asked, the real dialog offscreen, case-blind
// type filters.
#include <QApplication>
#include <QFileDialog>
#include <QRegularExpression>
#include <QTimer>

#include "ui/qt/qt_host.h"
#include "ui/tests/ui_test_support.h"

using namespace DirectUI;
using uitest::UiTest;
using uitest::WaitUntil;

namespace {

class OwnerWnd : public CWindowImplBaseUI {
 public:
  std::string GetWindowClassName() const override { return "DialogOwner"; }
  std::string GetSkinFile() override { return "owner.xml"; }
};

class DialogTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    skin.Write("owner.xml", R"(<Window size="300,200"><VerticalLayout bkcolor="#FFFFFFFF"/></Window>)");
    ASSERT_NE(owner.Create(nullptr, "", UI_WNDSTYLE_DIALOG, 0), nullptr);
    owner.ShowWindow(true);
  }
  void TearDown() override {
    SetDialogChooser({});
    if (IsWindow(owner.GetHWND())) owner.Close();
    WaitUntil([&] { return !IsWindow(owner.GetHWND()); });
    UiTest::TearDown();
  }
  OwnerWnd owner;
};

const std::vector<FileFilter> kDocFilter{{"文档 (WORD, EXCEL, PPT, PDF)", "*.doc;*.docx;*.xls;*.xlsx;*.ppt;*.pptx;*.pdf"}};

// Answers the next real dialog from inside its own loop.
void AnswerRealDialog(const std::function<void(QFileDialog*)>& act) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    act(dialog);
  });
  poll->start(10);
}

}  // namespace

TEST_F(DialogTest, ChooserRunsWithOwnerDisabledAndSeesTheRequest) {
  std::vector<DialogRequest> seen;
  std::vector<bool> ownerEnabled;
  SetDialogChooser([&](const DialogRequest& r) {
    seen.push_back(r);
    ownerEnabled.push_back(owner.IsEnabled());
    return r.kind == DialogRequest::OpenFile ? std::string("/tmp/报告.docx") : std::string();
  });
  OpenFileOptions opts;
  opts.filters = kDocFilter;
  EXPECT_EQ(OpenFileDialog(owner.GetHWND(), opts), "/tmp/报告.docx");
  EXPECT_TRUE(owner.IsEnabled());
  EXPECT_EQ(BrowseForFolder(owner.GetHWND(), "从下面选文件夹目录:"), "");  // cancelled
  EXPECT_TRUE(owner.IsEnabled());

  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].kind, DialogRequest::OpenFile);
  EXPECT_EQ(seen[0].owner, owner.GetHWND());
  ASSERT_EQ(seen[0].filters.size(), 1u);
  EXPECT_EQ(seen[0].filters[0].pattern, kDocFilter[0].pattern);
  EXPECT_EQ(seen[1].kind, DialogRequest::Folder);
  EXPECT_EQ(seen[1].title, "从下面选文件夹目录:");
  EXPECT_EQ(ownerEnabled, (std::vector<bool>{false, false}));
}

TEST_F(DialogTest, OwnerClosedWhileDialogIsUpIsHarmless) {
  SetDialogChooser([&](const DialogRequest&) {
    owner.Close();
    WaitUntil([&] { return !IsWindow(owner.GetHWND()); });
    return std::string("/tmp/x.pdf");
  });
  EXPECT_EQ(OpenFileDialog(owner.GetHWND(), {}), "/tmp/x.pdf");
  EXPECT_FALSE(IsWindow(owner.GetHWND()));
}

TEST_F(DialogTest, RealOpenDialogIsModalToOwnerAndReturnsThePick) {
  uitest::SkinDir files;
  files.Write("Report.DOCX", "x");
  bool ownerDisabled = false;
  QStringList filters;
  AnswerRealDialog([&](QFileDialog* d) {
    ownerDisabled = !owner.IsEnabled();
    filters = d->nameFilters();
    d->selectFile(ToQ(files.Path("Report.DOCX")));
    static_cast<QDialog*>(d)->accept();
  });
  OpenFileOptions opts;
  opts.filters = kDocFilter;
  opts.folder = files.Path("");
  EXPECT_EQ(OpenFileDialog(owner.GetHWND(), opts), files.Path("Report.DOCX"));
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(owner.IsEnabled());
  ASSERT_EQ(filters.size(), 1);
  EXPECT_TRUE(filters[0].startsWith(QStringLiteral("文档 (WORD, EXCEL, PPT, PDF) (")));
}

TEST_F(DialogTest, RealFolderDialogCancelGivesEmpty) {
  bool ownerDisabled = false;
  AnswerRealDialog([&](QFileDialog* d) {
    ownerDisabled = !owner.IsEnabled();
    d->reject();
  });
  EXPECT_EQ(BrowseForFolder(owner.GetHWND(), "从下面选文件夹目录:"), "");
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(owner.IsEnabled());
}

TEST(DialogFilter, PatternsMatchWithoutRegardToCase) {
  auto matches = [](const FileFilter& f, const QString& name) {
    QString patterns = ToQ(DialogNameFilter(f));
    patterns = patterns.mid(patterns.lastIndexOf('(') + 1).chopped(1);
    for (const QString& p : patterns.split(' ', Qt::SkipEmptyParts))
      if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(p)).match(name).hasMatch()) return true;
    return false;
  };
  const FileFilter audio{"语音文件 (MP3, AVI, M4A, WMA)", "*.mp3;*.avi;*.m4a;*.wma;"};
  EXPECT_TRUE(matches(audio, "song.MP3"));
  EXPECT_TRUE(matches(audio, "clip.M4a"));
  EXPECT_FALSE(matches(audio, "song.mp4"));
  EXPECT_TRUE(matches(kDocFilter[0], "REPORT.DocX"));
  EXPECT_FALSE(matches(kDocFilter[0], "notes.txt"));
  EXPECT_EQ(DialogNameFilter({"全部", ";"}), "全部 (*)");
}
