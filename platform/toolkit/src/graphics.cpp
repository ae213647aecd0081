#include "toolkit/graphics.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QWidget>
#include <optional>

#include "qt_app.h"
#include "toolkit/qtext.h"

namespace {
// The window font of the suite, as GBK bytes.
const std::string& SongTi() {
  static const std::string name = QStringToGbk(QStringLiteral("宋体"));
  return name;
}
}  // namespace

uint32_t ColorToRGB(TColor color) {
  if ((static_cast<uint32_t>(color) & 0xFF000000u) == 0xFF000000u) {
    switch (color & 0xFF) {
      case 5:  // window
        return 0xFFFFFF;
      case 8:     // window text
      case 0x12:  // button text
      case 0x17:  // info text
        return 0x000000;
      case 0x18:  // info background
        return 0xE1FFFF;
      default:  // button face and the rest
        return 0xF0F0F0;
    }
  }
  return static_cast<uint32_t>(color) & 0xFFFFFFu;
}

TFont::TFont() : sName(SongTi()), iHeight(-12), iColor(clWindowText), iCharset(GB2312_CHARSET) {}

TFont::TFont(const TFont& other)
    : sName(other.sName),
      iHeight(other.iHeight),
      iColor(other.iColor),
      iStyle(other.iStyle),
      iCharset(other.iCharset) {}

TFont& TFont::operator=(const TFont& other) {
  Assign(other);
  return *this;
}

TFont::~TFont() = default;

void TFont::Assign(const TFont& other) {
  if (this == &other) return;
  sName = other.sName;
  iHeight = other.iHeight;
  iColor = other.iColor;
  iStyle = other.iStyle;
  iCharset = other.iCharset;
  Changed();
}

void TFont::Changed() {
  if (OnChange) OnChange();
}

void TFont::SetName(const std::string& name) {
  sName = name;
  Changed();
}

void TFont::SetHeight(int height) {
  iHeight = height;
  Changed();
}

int TFont::Size() const {
  // 96 dots per inch: points = pixels * 72 / 96.
  const int px = iHeight < 0 ? -iHeight : iHeight;
  return (px * 72 + 48) / 96;
}

void TFont::SetSize(int points) {
  iHeight = -((points * 96 + 36) / 72);
  Changed();
}

void TFont::SetColor(TColor color) {
  iColor = color;
  Changed();
}

void TFont::SetStyle(unsigned style) {
  iStyle = style;
  Changed();
}

QFont TFont::ToQFont() const {
  QFont f;
  f.setFamilies(toolkit_detail::QtFamilies(GbkToQString(sName)));
  f.setPixelSize(iHeight < 0 ? -iHeight : (iHeight > 0 ? iHeight : 12));
  f.setBold(iStyle & fsBold);
  f.setItalic(iStyle & fsItalic);
  f.setUnderline(iStyle & fsUnderline);
  f.setStrikeOut(iStyle & fsStrikeOut);
  return f;
}

struct TCanvas::TMetricsCache {
  QFont font;
  TEXTMETRIC metrics;
};

TCanvas::TCanvas(QWidget* widget) : pWidget(widget) {}
TCanvas::~TCanvas() = default;

HDC TCanvas::Handle() {
  return reinterpret_cast<HDC>(this);
}

QFont TCanvas::MeasureFont() const {
  if (pWidget && !pImage) return pWidget->font();
  return cFont.ToQFont();
}

void TCanvas::ReadTextMetrics(TEXTMETRIC* tm) {
  // A list view asks on every change of its rows, for the same font: the
  // control's font is compared without a copy, and as a copy of the one
  // measured last when it is one.
  std::optional<QFont> made;
  const QFont& font = pWidget && !pImage ? pWidget->font() : made.emplace(cFont.ToQFont());
  if (pMetrics && (pMetrics->font.isCopyOf(font) || pMetrics->font == font)) {
    *tm = pMetrics->metrics;
    return;
  }
  QFontMetrics fm(font);
  tm->tmHeight = fm.height();
  tm->tmAscent = fm.ascent();
  tm->tmDescent = fm.descent();
  tm->tmInternalLeading = fm.height() - font.pixelSize();
  tm->tmExternalLeading = fm.leading();
  tm->tmAveCharWidth = fm.averageCharWidth();
  tm->tmMaxCharWidth = fm.maxWidth();
  tm->tmWeight = font.bold() ? 700 : 400;
  if (!pMetrics)
    pMetrics = std::make_unique<TMetricsCache>(TMetricsCache{font, *tm});
  else
    *pMetrics = TMetricsCache{font, *tm};
}

int TCanvas::TextWidth(const std::string& text) {
  return QFontMetrics(MeasureFont()).horizontalAdvance(GbkToQString(text));
}

int TCanvas::TextHeight(const std::string& text) {
  return QFontMetrics(MeasureFont()).boundingRect(GbkToQString(text)).height();
}

static QColor ToQColor(TColor c) {
  const uint32_t rgb = ColorToRGB(c);
  return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  if (!pImage) return;
  QPainter p(pImage);
  p.setFont(cFont.ToQFont());
  p.setPen(ToQColor(cFont.Color()));
  QFontMetrics fm(p.font());
  p.drawText(x, y + fm.ascent(), GbkToQString(text));
}

void TCanvas::FillRect(const TRect& r) {
  if (!pImage) return;
  QPainter p(pImage);
  p.fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), ToQColor(iBrush));
}

BOOL GetTextMetrics(HDC dc, TEXTMETRIC* tm) {
  if (!dc || !tm) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  reinterpret_cast<TCanvas*>(dc)->ReadTextMetrics(tm);
  return TRUE;
}

TBitmap::TBitmap() : pImage(std::make_unique<QImage>()) {}

TBitmap::TBitmap(const TBitmap& other) : pImage(std::make_unique<QImage>(*other.pImage)) {}

TBitmap& TBitmap::operator=(const TBitmap& other) {
  if (this != &other) *pImage = *other.pImage;
  return *this;
}

TBitmap::~TBitmap() = default;

int TBitmap::Width() const {
  return pImage->width();
}
int TBitmap::Height() const {
  return pImage->height();
}
bool TBitmap::Empty() const {
  return pImage->isNull();
}

void TBitmap::SetSize(int width, int height) {
  *pImage = QImage(std::max(width, 0), std::max(height, 0), QImage::Format_ARGB32);
  pImage->fill(Qt::white);
}

TCanvas* TBitmap::Canvas() {
  if (!pCanvas) pCanvas = std::make_unique<TCanvas>();
  pCanvas->SetTarget(pImage.get());
  return pCanvas.get();
}

bool TBitmap::LoadFromFile(const std::string& path) {
  QImage img;
  if (!img.load(QString::fromStdString(path))) return false;
  *pImage = img.convertToFormat(QImage::Format_ARGB32);
  return true;
}

bool TBitmap::SaveToFile(const std::string& path) const {
  return pImage->save(QString::fromStdString(path));
}

const QImage& TBitmap::Image() const {
  return *pImage;
}
void TBitmap::SetImage(const QImage& image) {
  *pImage = image;
}
