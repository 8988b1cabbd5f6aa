// Every page in every state at 100 % and 200 %, saved as PNG for people to
// look at; the checks make sure each picture shows the state it is named by.
#include <QColor>
#include <QImage>
#include <filesystem>

#include "workspace/tests/workspace_test_support.h"

namespace quillora::workspace::testing {
namespace {

using namespace DirectUI;
using emulator::Fault;

class ScreenshotsTest : public PagesTest, public ::testing::WithParamInterface<int> {
 protected:
  int Scale() const { return GetParam(); }
  std::string NoticeShot(const char* name) {
    return std::string(QUILLORA_SCREENSHOT_DIR) + "/" + name + "_" + std::to_string(Scale()) + ".png";
  }
  void Choose(FileTransPage* page, const std::string& path) {
    SetDialogChooser([path](const DialogRequest&) { return path; });
    ClickIn(page, page->IsEmpty() ? "btnAddFile" : "btn_re_add");
    ASSERT_EQ(page->SourcePath(), path);
  }
  // Holds the upload so the translating panel can be photographed mid-way.
  // A text goes up in one request, so it shows 0 % until it is through.
  void TranslateHeld(TransPage* page, const char* uploadPath, const std::string& shot, bool chunked = true) {
    emu_->SetFault({uploadPath, Fault::Kind::kNone, 0, 200, std::chrono::milliseconds(700), -1});
    ClickIn(page, "btnTrans");
    ASSERT_TRUE(WaitUntil([&] {
      const std::string t = TextOf(In(page, "lb_progress"));
      return t.starts_with("上传中") && (!chunked || t != "上传中 0%");
    })) << TextOf(In(page, "lb_progress"));
    const std::string path = Shot(shot);
    emu_->ClearFaults();
    ASSERT_TRUE(WaitUntil([&] { return !page->IsWaitingForTask(); }));
    if (!chunked) return;
    // The fill of the bar is drawn in the blue of the palette.
    QImage img(QString::fromStdString(path));
    const RECT fill = In(page, "ctl_progress_fill")->GetPos();
    EXPECT_GT(fill.Width(), 0);
    EXPECT_EQ(img.pixelColor(fill.left + 2, (fill.top + fill.bottom) / 2), QColor(0x2F, 0x6B, 0xFF));
  }
  std::string Picture() {
    QImage img(320, 200, QImage::Format_RGB32);
    img.fill(QColor(0x88, 0xC0, 0xE8));
    for (int y = 120; y < 200; ++y)
      for (int x = 0; x < 320; ++x) img.setPixelColor(x, y, QColor(0x3C, 0x9A, 0x5A));
    const std::string path = dir_.path() + "海边 photo.png";
    img.save(QString::fromStdString(path));
    return path;
  }
};

TEST_P(ScreenshotsTest, DocumentPageInEveryState) {
  OpenHost(Scale());
  Shot("doc_1_empty");
  Choose(Doc(), File("季度报告 2026 final.docx", 123456));
  Shot("doc_2_chosen");
  EXPECT_EQ(TextOf(In(Doc(), "lb_size")), "120.56KB");
  TranslateHeld(Doc(), "/api/v4/uploadfile", "doc_3_translating");
  Shot("doc_4_finished");
  EXPECT_EQ(TextOf(In(Doc(), "btn_export")), "导出文件");
  emu_->SetFault({"/api/v4/taskstate", Fault::Kind::kCode, 18000, 200, {}, 1});
  ClickIn(Doc(), "btnTrans");
  ASSERT_TRUE(WaitUntil([&] { return !Doc()->IsWaitingForTask(); }));
  Shot("doc_5_failed");
  NoticeWatcher notice(NoticeShot("notice_file"), Scale());
  std::filesystem::resize_file(Doc()->SourcePath(), 60ull << 20);
  ClickIn(Doc(), "btnTrans");
  EXPECT_EQ(notice.seen, 1);
}

TEST_P(ScreenshotsTest, AudioAndPicturePagesInEveryState) {
  OpenHost(Scale());
  ShowTab(1);
  Shot("audio_1_empty");
  Choose(Music(), File("interview with the author (full).mp3", 5 << 20));
  Shot("audio_2_chosen");
  TranslateHeld(Music(), "/api/v4/uploadfile", "audio_3_translating");
  Shot("audio_4_finished");
  ShowTab(2);
  Shot("picture_1_empty");
  Choose(Pic(), Picture());
  Shot("picture_2_chosen");
  // The picture is drawn inside its frame without being stretched.
  const RECT frame = In(Pic(), "lb_image")->GetPos();
  const std::string image = In(Pic(), "lb_image")->GetBkImage();
  EXPECT_NE(image.find("dest='0,"), std::string::npos) << image;
  EXPECT_GT(frame.Width(), 0);
  TranslateHeld(Pic(), "/api/v4/uploadfile", "picture_3_translating");
  Shot("picture_4_finished");
}

TEST_P(ScreenshotsTest, TextPageAndPickerInEveryState) {
  OpenHost(Scale());
  ShowTab(3);
  Shot("text_1_empty");
  auto* input = In<CRichEditUI>(Text(), "ed_input", "RichEdit");
  input->SetText("Hello world.\n这是一段需要翻译的短句，检查中文在两种缩放下都不被截断。");
  Shot("text_2_typed");
  TranslateHeld(Text(), "/api/v4/uploadtext", "text_3_translating", false);
  Shot("text_4_finished");
  ClickIn(Text(), "btnDest");
  ASSERT_TRUE(host_->Picker()->IsVisible());
  Shot("text_5_picker_over_input");
  NoticeWatcher notice(NoticeShot("notice_text"), Scale());
  input->SetText(std::string(30001, 'x'));
  ClickIn(Text(), "btnTrans");
  EXPECT_EQ(notice.seen, 1);
}

INSTANTIATE_TEST_SUITE_P(Scales, ScreenshotsTest, ::testing::Values(100, 200),
                         [](const ::testing::TestParamInfo<int>& p) { return "At" + std::to_string(p.param); });

}  // namespace
}  // namespace quillora::workspace::testing
