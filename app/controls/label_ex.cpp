#include "app/controls/label_ex.h"

namespace quillora {

using namespace DirectUI;

std::string CLabelEx::GetClass() const { return kClassName; }

void* CLabelEx::GetInterface(const std::string& name) {
  if (name == kClassName) return this;
  return CLabelUI::GetInterface(name);
}

void CLabelEx::SetText(const std::string& text) {
  CLabelUI::SetText(text);
  NeedParentUpdate();
}

SIZE CLabelEx::EstimateSize(SIZE) {
  CPaintManagerUI* pm = GetManager();
  int scale = pm ? pm->GetDPIScale() : 100;
  RECT rc{0, 0, pm ? pm->ScaleValue(1000) : 1000, 0};
  CRenderEngine::MeasureText(pm, rc, GetText(), GetFont(), GetTextStyle() | DT_CALCRECT, IsShowHtml());
  RECT pad = GetTextPadding();
  int width = rc.Width() + pad.left + pad.right;
  // Stored unscaled, like every size the skin gives.
  fixed_.cx = width * 100 / scale;
  if (fixed_.cy > 0) return {GetFixedWidth(), GetFixedHeight()};
  int fontHeight = 0;
  if (pm) {
    if (const TFontInfo* f = pm->GetFontInfo(GetFont())) fontHeight = f->height;
  }
  return {width, fontHeight + 4};
}

}  // namespace quillora
