// Size texts, names, extensions and the size limit of the file pages.
#include "workspace/file_info.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace quillora::workspace {
namespace {

TEST(FileInfo, SizesReadInTheirUnitWithTwoDecimals) {
  const std::pair<uint64_t, const char*> cases[] = {
      {0, "0B"},           {1023, "1023B"},           {1024, "1.00KB"},         {1536, "1.50KB"},
      {1048575, "1024.00KB"}, {1048576, "1.00MB"},    {1073741823, "1024.00MB"}, {1073741824, "1.00GB"},
      // Beyond 32 bits the size is still the file's own.
      {5ull << 30, "5.00GB"}, {(4ull << 30) + (1 << 20), "4.00GB"}};
  for (auto [bytes, text] : cases) EXPECT_EQ(FormatFileSize(bytes), text) << bytes;
}

TEST(FileInfo, NamesAndExtensionsComeFromTheLastComponent) {
  EXPECT_EQ(FileNameOf("/home/u/a b/报告.docx"), "报告.docx");
  EXPECT_EQ(FileNameOf("C:\\docs\\x.pdf"), "x.pdf");
  EXPECT_EQ(FileNameOf("plain"), "plain");
  EXPECT_EQ(ExtensionOf("/a.b/c"), "");
  EXPECT_EQ(ExtensionOf("/a/archive.tar.GZ"), ".GZ");
  EXPECT_EQ(ExtensionOf("/a/.pdf"), ".pdf");
  constexpr std::string_view exts[] = {".doc", ".docx", ".pdf"};
  EXPECT_EQ(MatchExtension("/x/B.PDF", exts), 2);
  EXPECT_EQ(MatchExtension("/x/c.DocX", exts), 1);
  EXPECT_EQ(MatchExtension("/x/c.docx.txt", exts), -1);
  EXPECT_EQ(MatchExtension("/x/pdf", exts), -1);
}

TEST(FileInfo, LimitCountsWholeKibibytesOnSixtyFourBitSizes) {
  EXPECT_TRUE(WithinSizeLimit(51200 * 1024));
  EXPECT_TRUE(WithinSizeLimit(51201 * 1024 - 1));
  EXPECT_FALSE(WithinSizeLimit(51201 * 1024));
  // A size that would wrap to a small number in 32 bits is still refused.
  EXPECT_FALSE(WithinSizeLimit((4ull << 30) + 1024));
}

TEST(FileInfo, OnlyRegularFilesHaveASize) {
  const auto dir = std::filesystem::temp_directory_path() / ("fileinfo_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "folder.pdf");
  std::ofstream(dir / "five.pdf") << "12345";
  EXPECT_EQ(RegularFileSize((dir / "five.pdf").string()), 5u);
  EXPECT_FALSE(RegularFileSize((dir / "folder.pdf").string()));
  EXPECT_FALSE(RegularFileSize((dir / "missing.pdf").string()));
  EXPECT_FALSE(RegularFileSize("/dev/null"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quillora::workspace
