#include "toolkit/imglist.h"

#include <QImage>

#include "toolkit/layout.h"

TImageList::TImageList(TComponent* owner) : TComponent(owner) {}
TImageList::~TImageList() = default;

void TImageList::SetSize(int width, int height) {
  iWidth = std::max(width, 1);
  iHeight = std::max(height, 1);
  vImages.clear();
}

TBitmap TImageList::Scaled(const TBitmap& image) const {
  TBitmap copy;
  if (image.Empty()) {
    copy.SetSize(iWidth, iHeight);
  } else {
    copy.SetImage(
        image.Image().scaled(iWidth, iHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  }
  return copy;
}

int TImageList::Add(const TBitmap& image) {
  vImages.push_back({Scaled(image), nullptr});
  return Count() - 1;
}

int TImageList::AddDeferred(std::function<TBitmap()> draw) {
  vImages.push_back({TBitmap(), std::move(draw)});
  return Count() - 1;
}

bool TImageList::GetBitmap(int index, TBitmap* image) const {
  if (index < 0 || index >= Count() || !image) return false;
  Entry& entry = vImages[static_cast<size_t>(index)];
  if (entry.draw) {
    entry.image = Scaled(entry.draw());
    entry.draw = nullptr;
  }
  *image = entry.image;
  return true;
}

bool TImageList::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  using C = TImageList;
  static constexpr TPropertySetter<C> kProperties[] = {
      {"Width", [](C& c, const std::string& v, TComponent*) { c.SetSize(ToInt(v), c.iHeight); }},
      {"Height", [](C& c, const std::string& v, TComponent*) { c.SetSize(c.iWidth, ToInt(v)); }},
      {"BkColor", IntSetter<C, &C::SetBkColor>},
      {"Masked", BoolSetter<C, &C::SetMasked>},
      {"AllocBy", IntSetter<C, &C::SetAllocBy>},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TComponent::SetProperty(name, value, root);
}
