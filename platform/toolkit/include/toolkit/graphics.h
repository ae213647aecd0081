#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "toolkit/export.h"
#include "toolkit/types.h"
#include "toolkit/winapi.h"

class QFont;
class QImage;
class QWidget;

// Colours are 0x00BBGGRR values; values with the top byte 0xFF name system
// colours (the index in the low byte), as on the platform.
using TColor = int32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clScrollBar = static_cast<TColor>(0xFF000000);
constexpr TColor clWindow = static_cast<TColor>(0xFF000005);
constexpr TColor clWindowText = static_cast<TColor>(0xFF000008);
constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000F);
constexpr TColor clBtnText = static_cast<TColor>(0xFF000012);
constexpr TColor clInfoText = static_cast<TColor>(0xFF000017);
constexpr TColor clInfoBk = static_cast<TColor>(0xFF000018);
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

// The RGB value a colour shows as (system colours resolved).
TOOLKIT_API uint32_t ColorToRGB(TColor color);

// Font style bits.
constexpr unsigned fsBold = 1;
constexpr unsigned fsItalic = 2;
constexpr unsigned fsUnderline = 4;
constexpr unsigned fsStrikeOut = 8;

constexpr int DEFAULT_CHARSET = 1;
constexpr int GB2312_CHARSET = 134;

// A font description. Height < 0 is the character height in pixels, > 0 the
// cell height; Size is in points at 96 dots per inch. "宋体" (GBK bytes) and
// the other Windows CJK family names are shown with the installed CJK font.
class TOOLKIT_API TFont {
 public:
  TFont();
  TFont(const TFont& other);
  TFont& operator=(const TFont& other);
  ~TFont();

  std::string Name() const { return sName; }
  void SetName(const std::string& name);
  int Height() const { return iHeight; }
  void SetHeight(int height);
  int Size() const;
  void SetSize(int points);
  TColor Color() const { return iColor; }
  void SetColor(TColor color);
  unsigned Style() const { return iStyle; }
  void SetStyle(unsigned style);
  int Charset() const { return iCharset; }
  void SetCharset(int charset) { iCharset = charset; }
  void Assign(const TFont& other);

  // Called after every change (the owning control applies the font).
  std::function<void()> OnChange;

  // The Qt font this describes.
  QFont ToQFont() const;

 private:
  void Changed();
  std::string sName;
  int iHeight;
  TColor iColor;
  unsigned iStyle = 0;
  int iCharset = DEFAULT_CHARSET;
};

// Measuring and drawing. A control's canvas measures with the control's
// font; a bitmap's canvas also draws into the bitmap.
class TOOLKIT_API TCanvas {
 public:
  // Measures with `widget`'s font (null: with Font()).
  explicit TCanvas(QWidget* widget = nullptr);
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;
  ~TCanvas();

  // For GetTextMetrics.
  HDC Handle();
  TFont* Font() { return &cFont; }
  TColor BrushColor() const { return iBrush; }
  void SetBrushColor(TColor color) { iBrush = color; }

  int TextWidth(const std::string& text);
  int TextHeight(const std::string& text);
  // Drawing does nothing on a control's canvas.
  void TextOut(int x, int y, const std::string& text);
  void FillRect(const TRect& rect);

  // Internal: the canvas draws into `image` (not owned), or measures only.
  void SetTarget(QImage* image) { pImage = image; }
  QFont MeasureFont() const;
  // For GetTextMetrics: the metrics of the font the canvas measures with,
  // kept until that font changes.
  void ReadTextMetrics(TEXTMETRIC* metrics);

 private:
  struct TMetricsCache;
  QWidget* pWidget;
  QImage* pImage = nullptr;
  std::unique_ptr<TMetricsCache> pMetrics;
  TFont cFont;
  TColor iBrush = clWhite;
};

// A picture in memory.
class TOOLKIT_API TBitmap {
 public:
  TBitmap();
  TBitmap(const TBitmap& other);
  TBitmap& operator=(const TBitmap& other);
  ~TBitmap();

  int Width() const;
  int Height() const;
  bool Empty() const;
  // Cleared to white.
  void SetSize(int width, int height);
  TCanvas* Canvas();
  // False when the file cannot be read as an image.
  bool LoadFromFile(const std::string& path);
  bool SaveToFile(const std::string& path) const;

  const QImage& Image() const;
  void SetImage(const QImage& image);

 private:
  std::unique_ptr<QImage> pImage;
  std::unique_ptr<TCanvas> pCanvas;
};
