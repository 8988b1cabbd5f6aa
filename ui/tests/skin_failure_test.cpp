// A window whose skin cannot be loaded ends the process with exit code 1
// after naming the file (the message box is skipped offscreen).
#include "ui/tests/ui_test_support.h"

using namespace DirectUI;

namespace {

class SkinnedWnd : public CWindowImplBaseUI {
 public:
  explicit SkinnedWnd(std::string file) : file_(std::move(file)) {}
  std::string GetWindowClassName() const override { return "SkinnedWnd"; }
  std::string GetSkinFile() override { return file_; }

 private:
  std::string file_;
};

void OpenWindowWithSkin(const std::string& dir, const std::string& file) {
  EnsureApplication();
  CPaintManagerUI::SetResourcePath(dir);
  SkinnedWnd w(file);
  w.Create(nullptr, "", UI_WNDSTYLE_FRAME, 0);
  std::fprintf(stderr, "window survived\n");
  std::exit(0);
}

}  // namespace

TEST(SkinFailureDeathTest, MissingSkinExitsWithCodeOneNamingTheFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  uitest::SkinDir dir;
  EXPECT_EXIT(OpenWindowWithSkin(dir.Path(""), "FileTooBig.xml"), ::testing::ExitedWithCode(1),
              "加载资源文件失败：FileTooBig.xml");
}

TEST(SkinFailureDeathTest, MalformedSkinReportsFileAndLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  uitest::SkinDir dir;
  dir.Write("broken.xml", "<Window>\n  <VerticalLayout>\n    <Label text=\"unclosed>\n</Window>\n");
  EXPECT_EXIT(OpenWindowWithSkin(dir.Path(""), "broken.xml"), ::testing::ExitedWithCode(1),
              "加载资源文件失败：broken.xml\nbroken.xml:[0-9]+:");
}

TEST(SkinFailureDeathTest, GoodSkinKeepsTheProcessAlive) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  uitest::SkinDir dir;
  dir.Write("ok.xml", "<Window size=\"100,100\"><VerticalLayout/></Window>");
  EXPECT_EXIT(OpenWindowWithSkin(dir.Path(""), "ok.xml"), ::testing::ExitedWithCode(0), "window survived");
}
