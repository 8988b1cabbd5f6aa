#pragma once
// FileTooBigTip: the modal notice shown when a source is over the limit.
// Mode 0 (file too large) keeps the text of "lb_desc" from "FileTooBig.xml";
// mode 1 (text too long) replaces it. Closed by "closebtn".
#include "ui/UIlib.h"

namespace quillora::workspace {

class FileTooBigTip : public DirectUI::CWindowImplBaseUI {
 public:
  static constexpr char kTextTooLong[] = "抱歉，当前仅支持30000字以内短句";

  explicit FileTooBigTip(int mode) : mode_(mode) {}
  ~FileTooBigTip() override;

  std::string GetWindowClassName() const override { return "FileTooBigTip"; }
  std::string GetSkinFile() override { return "FileTooBig.xml"; }
  void InitWindow() override;
  int Mode() const { return mode_; }

  // Opens the notice modally over `owner`, centred, and returns when it is
  // closed.
  static void ShowModalOver(DirectUI::HWND owner, int mode);
  // The notice open right now, or null (UI thread; tests and tools).
  static FileTooBigTip* Open();

 private:
  const int mode_;
};

}  // namespace quillora::workspace
