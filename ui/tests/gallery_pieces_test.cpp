// The gallery's dialogs, combo drop-down and reader access, end to end; run
// at 100 % (ui_tests) and 200 % (ui_hidpi_tests), with screenshots of both.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <filesystem>
#include <functional>

#include "ui/tests/gallery_fixture.h"

using namespace DirectUI;
using uitest::Click;
using uitest::WaitUntil;

namespace {

class GalleryPiecesTest : public uitest::GalleryFixture {
 protected:
  void TearDown() override {
    SetDialogChooser({});
    GalleryFixture::TearDown();
  }
};

}  // namespace

TEST_F(GalleryPiecesTest, DialogButtonsShowThePickOrTheCancel) {
  std::vector<DialogRequest> asked;
  bool ownerDisabled = false;
  SetDialogChooser([&](const DialogRequest& r) {
    asked.push_back(r);
    ownerDisabled = !wnd.IsEnabled();
    return r.kind == DialogRequest::OpenFile ? std::string("/home/user/报告.docx") : std::string();
  });
  Click(wnd, Find("btn_open_file"));
  EXPECT_EQ(Find("lb_picked")->GetText(), "/home/user/报告.docx");
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(wnd.IsEnabled());
  Click(wnd, Find("btn_pick_folder"));
  EXPECT_EQ(Find("lb_picked")->GetText(), "已取消");
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].filters.size(), 2u);
  EXPECT_EQ(asked[1].kind, DialogRequest::Folder);
}

TEST_F(GalleryPiecesTest, ComboDropDownPicksARowAndIsPhotographed) {
  auto* combo = static_cast<CComboUI*>(Find("cb_lang"));
  Click(wnd, combo);
  CWindowHost* host = HostFromHandle(combo->GetDropWindow());
  ASSERT_NE(host, nullptr);
  auto* drop = dynamic_cast<CComboWnd*>(host->Window());
  ASSERT_NE(drop, nullptr);
  drop->GetPaintManager().UpdateLayout();
  ASSERT_TRUE(wnd.SaveScreenshot(Shot("gallery_edits")));
  ASSERT_TRUE(drop->SaveScreenshot(Shot("gallery_combo_drop")));
  Click(*drop, drop->GetList()->GetItemAt(2));
  EXPECT_EQ(combo->GetText(), "日本語");
  EXPECT_EQ(Find("lb_status")->GetText(), "选择：日本語");
}

TEST_F(GalleryPiecesTest, ReaderFindsAndPressesTheGalleryButtons) {
  int asked = 0;
  SetDialogChooser([&](const DialogRequest&) {
    ++asked;
    return std::string("/tmp/a.pdf");
  });
  QAccessibleInterface* top = QAccessible::queryAccessibleInterface(wnd.Host());
  ASSERT_NE(top, nullptr);
  std::function<QAccessibleInterface*(QAccessibleInterface*)> find = [&](QAccessibleInterface* i) {
    for (int k = 0; k < i->childCount(); ++k) {
      QAccessibleInterface* c = i->child(k);
      if (!c) continue;
      if (c->text(QAccessible::Name) == QStringLiteral("打开文件…")) return c;
      if (QAccessibleInterface* d = find(c)) return d;
    }
    return static_cast<QAccessibleInterface*>(nullptr);
  };
  QAccessibleInterface* open = find(top);
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->role(), QAccessible::Button);
  open->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(Find("lb_picked")->GetText(), "/tmp/a.pdf");
}
