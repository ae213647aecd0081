#include "buttonimages.h"

#include <vector>

#include "forms/sharedactions.h"
#include "toolkit/graphics.h"
#include "toolkit/imglist.h"

using namespace MBaseWindow;

namespace {

constexpr TColor kLabelColor = 0x00602010;  // dark blue text
constexpr TColor kFrameColor = 0x00B08060;  // a thin frame a shade darker than the face
constexpr int kLabelHeight = -14;

TBitmap DrawButtonImage(int index) {
  TBitmap image;
  image.SetSize(kButtonImageWidth, kButtonImageHeight);
  TCanvas* canvas = image.Canvas();
  canvas->SetBrushColor(kFrameColor);
  canvas->FillRect(Rect(0, 0, kButtonImageWidth, kButtonImageHeight));
  canvas->SetBrushColor(static_cast<TColor>(kButtonImageBackground));
  canvas->FillRect(Rect(1, 1, kButtonImageWidth - 1, kButtonImageHeight - 1));
  const char* label = ButtonImageLabel(index);
  if (*label != '\0') {
    canvas->Font()->SetName("宋体");
    canvas->Font()->SetHeight(kLabelHeight);
    canvas->Font()->SetStyle(fsBold);
    canvas->Font()->SetColor(kLabelColor);
    const int x = (kButtonImageWidth - canvas->TextWidth(label)) / 2;
    const int y = (kButtonImageHeight - canvas->TextHeight(label)) / 2;
    canvas->TextOut(x, y, label);
  }
  return image;
}

// Drawn once per process: every window shows the same faces.
const std::vector<TBitmap>& ButtonImages() {
  static const std::vector<TBitmap> images = [] {
    std::vector<TBitmap> all;
    all.reserve(kButtonImageCount);
    for (int i = 0; i < kButtonImageCount; ++i) all.push_back(DrawButtonImage(i));
    return all;
  }();
  return images;
}

}  // namespace

void FillButtonImages(TImageList* images) {
  if (images == nullptr) return;
  images->Clear();
  for (const TBitmap& image : ButtonImages()) images->Add(image);
}
