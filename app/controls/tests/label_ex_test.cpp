// CLabelEx: the label's width follows its text and its neighbours move.
#include <gtest/gtest.h>

#include "app/controls/label_ex.h"

using namespace DirectUI;
using quillora::CLabelEx;

namespace {

struct Factory : IDialogBuilderCallback {
  CControlUI* CreateControl(const std::string& cls) override {
    return EqualsNoCaseAscii(cls, "LabelEx") ? new CLabelEx : nullptr;
  }
  static bool EqualsNoCaseAscii(std::string a, std::string b) {
    for (auto* s : {&a, &b})
      for (auto& ch : *s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return a == b;
  }
};

class LabelExTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    pm.SetDPIScale(100);
    CDialogBuilder b;
    CControlUI* root = b.CreateFromText(R"(<Window><HorizontalLayout>
        <labelex name="lbx" text="ab" textpadding="3,0,5,0"/>
        <Button name="next" width="50"/>
        <LabelEx name="tall" text="x" height="30"/>
        <LabelEx name="html" showhtml="true" text="&lt;b&gt;bold&lt;/b&gt;"/>
        <Control/>
      </HorizontalLayout></Window>)",
                                        "labelex.xml", &factory, &pm);
    ASSERT_NE(root, nullptr) << b.GetLastError();
    pm.AttachDialog(root);
    pm.SetClientSizeForTest({800, 100});
  }
  CLabelEx* Label(const char* n) { return static_cast<CLabelEx*>(pm.FindControl(n)); }
  Factory factory;
  CPaintManagerUI pm;
};

}  // namespace

TEST_F(LabelExTest, WidthFollowsTextAndPushesNeighbour) {
  CLabelEx* lbx = Label("lbx");
  ASSERT_NE(lbx, nullptr);
  EXPECT_EQ(lbx->GetClass(), "LabelEx");
  int textWidth = lbx->MeasureText(1000).cx;
  EXPECT_EQ(lbx->GetPos().Width(), textWidth + 8);  // text plus left and right padding
  int nextLeft = pm.FindControl("next")->GetPos().left;
  EXPECT_EQ(nextLeft, lbx->GetPos().right);

  lbx->SetText("a much longer caption 更长的文字");
  pm.UpdateLayout();
  int grown = lbx->MeasureText(1000).cx + 8;
  EXPECT_GT(grown, textWidth + 8);
  EXPECT_EQ(lbx->GetPos().Width(), grown);
  EXPECT_EQ(pm.FindControl("next")->GetPos().left, nextLeft + (grown - textWidth - 8));
  EXPECT_EQ(pm.FindControl("next")->GetPos().Width(), 50);

  lbx->SetText("");
  pm.UpdateLayout();
  EXPECT_EQ(lbx->GetPos().Width(), 8);
}

TEST_F(LabelExTest, HeightIsFontPlusFourUnlessFixed) {
  const TFontInfo* f = pm.GetFontInfo(-1);
  EXPECT_EQ(Label("lbx")->GetPos().Height(), f->height + 4);
  EXPECT_EQ(Label("tall")->GetPos().Height(), 30);
}

TEST_F(LabelExTest, HtmlMeasuresTheVisibleText) {
  CLabelEx* html = Label("html");
  CLabelEx* lbx = Label("lbx");
  lbx->SetText("bold");
  pm.UpdateLayout();
  // Markup is not measured as characters; bold glyphs are a little wider.
  EXPECT_LT(html->GetPos().Width(), lbx->GetPos().Width() * 2);
  EXPECT_GE(html->GetPos().Width(), lbx->GetPos().Width() - 8);
}

TEST_F(LabelExTest, StoresUnscaledWidthUnderDpiScale) {
  CLabelEx* lbx = Label("lbx");
  pm.SetDPIScale(200);
  pm.SetClientSizeForTest({1600, 200});
  int scaled = lbx->GetPos().Width();
  EXPECT_EQ(scaled, lbx->MeasureText(2000).cx + 16);
  // The stored fixed width is in skin units: scaling it back gives the width (±1 for rounding).
  EXPECT_NEAR(lbx->GetFixedWidth(), scaled, 1);
  EXPECT_EQ(pm.FindControl("next")->GetPos().Width(), 100);
}
