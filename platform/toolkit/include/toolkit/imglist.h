#pragma once

#include <functional>
#include <vector>

#include "toolkit/classes.h"
#include "toolkit/export.h"
#include "toolkit/graphics.h"

// Images of one size, by index.
class TOOLKIT_API TImageList : public TComponent {
 public:
  explicit TImageList(TComponent* owner);
  ~TImageList() override;

  int Width() const { return iWidth; }
  int Height() const { return iHeight; }
  // Clears the list.
  void SetSize(int width, int height);
  TColor BkColor() const { return iBkColor; }
  void SetBkColor(TColor color) { iBkColor = color; }
  bool Masked() const { return bMasked; }
  void SetMasked(bool value) { bMasked = value; }
  int AllocBy() const { return iAllocBy; }
  void SetAllocBy(int count) { iAllocBy = count; }

  int Count() const { return static_cast<int>(vImages.size()); }
  // Adds a copy scaled to the list's size; returns its index.
  int Add(const TBitmap& image);
  // Adds an image that `draw` makes when it is first asked for, scaled and
  // kept from then on; returns its index. For lists of many images of which
  // a window shows few.
  int AddDeferred(std::function<TBitmap()> draw);
  // False outside 0..Count()-1.
  bool GetBitmap(int index, TBitmap* image) const;
  void Clear() { vImages.clear(); }

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;

 private:
  int iWidth = 16;
  int iHeight = 16;
  TColor iBkColor = clNone;
  bool bMasked = true;
  int iAllocBy = 4;
  struct Entry {
    TBitmap image;
    std::function<TBitmap()> draw;  // set until the image is drawn
  };
  TBitmap Scaled(const TBitmap& image) const;
  mutable std::vector<Entry> vImages;
};
