#pragma once
// CLabelEx (skin class "LabelEx"): a label whose width follows its text, so
// that neighbours in the same layout move when the text changes.
#include "ui/UIlib.h"

namespace quillora {

class CLabelEx : public DirectUI::CLabelUI {
 public:
  static constexpr char kClassName[] = "LabelEx";

  std::string GetClass() const override;
  void* GetInterface(const std::string& name) override;
  void SetText(const std::string& text) override;
  // Measures the current text, stores the width (unscaled) as the fixed
  // width and answers the size to lay out with.
  DirectUI::SIZE EstimateSize(DirectUI::SIZE available) override;
};

}  // namespace quillora
