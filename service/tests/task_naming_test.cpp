#include "service/task_naming.h"

#include <gtest/gtest.h>

namespace quillora {
namespace {

TEST(TaskNaming, ChunkCountRoundsUpAndStays64Bit) {
  EXPECT_EQ(ChunkCount(0), 0u);
  EXPECT_EQ(ChunkCount(1), 1u);
  EXPECT_EQ(ChunkCount(kUploadChunkSize), 1u);
  EXPECT_EQ(ChunkCount(kUploadChunkSize + 1), 2u);
  // 5 GiB + 1 byte: a 32-bit size would have wrapped to 1 byte and one chunk.
  EXPECT_EQ(ChunkCount(5ull * 1024 * 1024 * 1024 + 1), 1281u);
}

TEST(TaskNaming, UploadNameTakesTheExtensionOfTheFileNameOnly) {
  EXPECT_EQ(UploadName(3, "/home/u/report.docx"), "QuilloraFileSize3.docx");
  EXPECT_EQ(UploadName(1, "/home/u/README"), "QuilloraFileSize1");
  // A dot in a folder name is not an extension.
  EXPECT_EQ(UploadName(2, "/home/u.name/notes"), "QuilloraFileSize2");
  EXPECT_EQ(UploadName(4, "C:\\docs\\a.b.pdf"), "QuilloraFileSize4.pdf");
}

TEST(TaskNaming, ResultPathFromBaseNameCodeAndExtension) {
  EXPECT_EQ(ResultPathFor("/out/", "/in/report.docx", "en", "docx"), "/out/report_en.docx");
  EXPECT_EQ(ResultPathFor("/out", "/in/report.docx", "en", "docx"), "/out/report_en.docx");
  EXPECT_EQ(ResultPathFor("/out/", "/in/README", "zh", "txt"), "/out/README_zh.txt");
  EXPECT_EQ(ResultPathFor("/out/", "fanyiwendang1.txt", "en", "txt"), "/out/fanyiwendang1_en.txt");
  EXPECT_EQ(ResultPathFor("/out/", "/in/a.tar.gz", "en", "gz"), "/out/a.tar_en.gz");
}

TEST(TaskNaming, ResultPathCannotLeaveTheOutputFolder) {
  EXPECT_EQ(ResultPathFor("/out/", "/in/r.txt", "../../etc/x", "txt"), "/out/r_.._.._etc_x.txt");
  EXPECT_EQ(ResultPathFor("/out/", "/in/r.txt", "en", "/../../y"), "/out/r_en._.._.._y");
  EXPECT_EQ(ResultPathFor("/out/", "/in/r.txt", "en", ".."), "/out/r_en.__");
}

TEST(TaskNaming, EscapesEveryUtf16Unit) {
  EXPECT_EQ(EscapeUtf16Units("A"), "\\u0041");
  EXPECT_EQ(EscapeUtf16Units("\"\\\n"), "\\u0022\\u005c\\u000a");
  EXPECT_EQ(EscapeUtf16Units("\xe4\xb8\xad"), "\\u4e2d");  // 中
  // U+1F600 travels as its surrogate pair.
  EXPECT_EQ(EscapeUtf16Units("\xf0\x9f\x98\x80"), "\\ud83d\\ude00");
  EXPECT_EQ(EscapeUtf16Units(""), "");
}

TEST(TaskNaming, UrlEncodeKeepsOnlyUnreservedCharacters) {
  EXPECT_EQ(UrlEncode("abcXYZ019-._~"), "abcXYZ019-._~");
  EXPECT_EQ(UrlEncode("a&chunk=9 #/?"), "a%26chunk%3D9%20%23%2F%3F");
  EXPECT_EQ(UrlEncode("\xe4\xb8\xad"), "%E4%B8%AD");
}

TEST(TaskNaming, UrlEncodePathKeepsSubFoldersAndEncodesWhatAPathCannotCarry) {
  EXPECT_EQ(UrlEncodePath("2024/a_b-c.~txt"), "2024/a_b-c.~txt");
  EXPECT_EQ(UrlEncodePath("a b\t\x7f"), "a%20b%09%7F");
  EXPECT_EQ(UrlEncodePath("\xe4\xb8\xad.txt"), "%E4%B8%AD.txt");
  // Characters that would end the path or start an escape stay data.
  EXPECT_EQ(UrlEncodePath("x?y#z%41"), "x%3Fy%23z%2541");
}

TEST(TaskNaming, PreviewNameCutsThirteenAndTwoUnits) {
  EXPECT_EQ(PreviewNameFromConvertInfo("0123456789abcNAME.txtXY"), "NAME.txt");
  EXPECT_EQ(PreviewNameFromConvertInfo("0123456789abcXY"), "");  // exactly 15
  EXPECT_EQ(PreviewNameFromConvertInfo("0123456789abcX"), "");   // too short
  // Counted in UTF-16 units: 13 CJK characters in front, a surrogate pair kept whole.
  const std::string cjk13 =
      "\xe4\xb8\x80\xe4\xb8\x80\xe4\xb8\x80\xe4\xb8\x80\xe4\xb8\x80\xe4\xb8\x80\xe4\xb8\x80"
      "\xe4\xb8\x80\xe4\xb8\x80\xe4\xb8\x80\xe4\xb8\x80\xe4\xb8\x80\xe4\xb8\x80";
  EXPECT_EQ(PreviewNameFromConvertInfo(cjk13 + "\xf0\x9f\x98\x80.t\"}"), "\xf0\x9f\x98\x80.t");
}

TEST(TaskNaming, CrLfBecomesLfWithoutTouchingLoneCr) {
  EXPECT_EQ(CrLfToLf("a\r\nb\r\n"), "a\nb\n");
  EXPECT_EQ(CrLfToLf("a\rb\n\r"), "a\rb\n\r");
  EXPECT_EQ(CrLfToLf("\r\n\r\n"), "\n\n");
}

}  // namespace
}  // namespace quillora
