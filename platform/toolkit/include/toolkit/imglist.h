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

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Clears the list.
  void SetSize(int width, int height);
  TColor BkColor() const { return bkColor_; }
  void SetBkColor(TColor color) { bkColor_ = color; }
  bool Masked() const { return masked_; }
  void SetMasked(bool value) { masked_ = value; }
  int AllocBy() const { return allocBy_; }
  void SetAllocBy(int count) { allocBy_ = count; }

  int Count() const { return static_cast<int>(images_.size()); }
  // Adds a copy scaled to the list's size; returns its index.
  int Add(const TBitmap& image);
  // Adds an image that `draw` makes when it is first asked for, scaled and
  // kept from then on; returns its index. For lists of many images of which
  // a window shows few.
  int AddDeferred(std::function<TBitmap()> draw);
  // False outside 0..Count()-1.
  bool GetBitmap(int index, TBitmap* image) const;
  void Clear() { images_.clear(); }

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;

 private:
  int width_ = 16;
  int height_ = 16;
  TColor bkColor_ = clNone;
  bool masked_ = true;
  int allocBy_ = 4;
  struct Entry {
    TBitmap image;
    std::function<TBitmap()> draw;  // set until the image is drawn
  };
  TBitmap Scaled(const TBitmap& image) const;
  mutable std::vector<Entry> images_;
};
