#include "buttonimages.h"

#include <optional>
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

// Each face is drawn once per process, when a window first shows it: every
// window shows the same faces, and a window shows few of them (drawing all
// of them took a good part of opening the first window).
const TBitmap& ButtonImage(int index) {
  static std::vector<std::optional<TBitmap>> images(kButtonImageCount);
  std::optional<TBitmap>& image = images[static_cast<size_t>(index)];
  if (!image) image = DrawButtonImage(index);
  return *image;
}

}  // namespace

void FillButtonImages(TImageList* images) {
  if (images == nullptr) return;
  images->Clear();
  for (int i = 0; i < kButtonImageCount; ++i) images->AddDeferred([i] { return ButtonImage(i); });
}
