#include "toolkit/graphics.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QWidget>
#include <optional>

#include "internal.h"
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

TFont::TFont() : name_(SongTi()), height_(-12), color_(clWindowText), charset_(GB2312_CHARSET) {}

TFont::TFont(const TFont& other)
    : name_(other.name_),
      height_(other.height_),
      color_(other.color_),
      style_(other.style_),
      charset_(other.charset_) {}

TFont& TFont::operator=(const TFont& other) {
  Assign(other);
  return *this;
}

TFont::~TFont() = default;

void TFont::Assign(const TFont& other) {
  if (this == &other) return;
  name_ = other.name_;
  height_ = other.height_;
  color_ = other.color_;
  style_ = other.style_;
  charset_ = other.charset_;
  Changed();
}

void TFont::Changed() {
  if (OnChange) OnChange();
}

void TFont::SetName(const std::string& name) {
  name_ = name;
  Changed();
}

void TFont::SetHeight(int height) {
  height_ = height;
  Changed();
}

int TFont::Size() const {
  // 96 dots per inch: points = pixels * 72 / 96.
  const int px = height_ < 0 ? -height_ : height_;
  return (px * 72 + 48) / 96;
}

void TFont::SetSize(int points) {
  height_ = -((points * 96 + 36) / 72);
  Changed();
}

void TFont::SetColor(TColor color) {
  color_ = color;
  Changed();
}

void TFont::SetStyle(unsigned style) {
  style_ = style;
  Changed();
}

QFont TFont::ToQFont() const {
  QFont f;
  f.setFamilies(toolkit_detail::QtFamilies(GbkToQString(name_)));
  f.setPixelSize(height_ < 0 ? -height_ : (height_ > 0 ? height_ : 12));
  f.setBold(style_ & fsBold);
  f.setItalic(style_ & fsItalic);
  f.setUnderline(style_ & fsUnderline);
  f.setStrikeOut(style_ & fsStrikeOut);
  return f;
}

struct TCanvas::TMetricsCache {
  QFont font;
  TEXTMETRIC metrics;
};

TCanvas::TCanvas(QWidget* widget) : widget_(widget) {}
TCanvas::~TCanvas() = default;

HDC TCanvas::Handle() {
  return reinterpret_cast<HDC>(this);
}

QFont TCanvas::MeasureFont() const {
  if (widget_ && !image_) return widget_->font();
  return font_.ToQFont();
}

void TCanvas::ReadTextMetrics(TEXTMETRIC* tm) {
  // A list view asks on every change of its rows, for the same font: the
  // control's font is compared without a copy, and as a copy of the one
  // measured last when it is one.
  std::optional<QFont> made;
  const QFont& font = widget_ && !image_ ? widget_->font() : made.emplace(font_.ToQFont());
  if (metrics_ && (metrics_->font.isCopyOf(font) || metrics_->font == font)) {
    *tm = metrics_->metrics;
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
  if (!metrics_)
    metrics_ = std::make_unique<TMetricsCache>(TMetricsCache{font, *tm});
  else
    *metrics_ = TMetricsCache{font, *tm};
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
  if (!image_) return;
  QPainter p(image_);
  p.setFont(font_.ToQFont());
  p.setPen(ToQColor(font_.Color()));
  QFontMetrics fm(p.font());
  p.drawText(x, y + fm.ascent(), GbkToQString(text));
}

void TCanvas::FillRect(const TRect& r) {
  if (!image_) return;
  QPainter p(image_);
  p.fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), ToQColor(brush_));
}

BOOL GetTextMetrics(HDC dc, TEXTMETRIC* tm) {
  if (!dc || !tm) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  reinterpret_cast<TCanvas*>(dc)->ReadTextMetrics(tm);
  return TRUE;
}

TBitmap::TBitmap() : image_(std::make_unique<QImage>()) {}

TBitmap::TBitmap(const TBitmap& other) : image_(std::make_unique<QImage>(*other.image_)) {}

TBitmap& TBitmap::operator=(const TBitmap& other) {
  if (this != &other) *image_ = *other.image_;
  return *this;
}

TBitmap::~TBitmap() = default;

int TBitmap::Width() const {
  return image_->width();
}
int TBitmap::Height() const {
  return image_->height();
}
bool TBitmap::Empty() const {
  return image_->isNull();
}

void TBitmap::SetSize(int width, int height) {
  *image_ = QImage(std::max(width, 0), std::max(height, 0), QImage::Format_ARGB32);
  image_->fill(Qt::white);
}

TCanvas* TBitmap::Canvas() {
  if (!canvas_) canvas_ = std::make_unique<TCanvas>();
  canvas_->SetTarget(image_.get());
  return canvas_.get();
}

bool TBitmap::LoadFromFile(const std::string& path) {
  QImage img;
  if (!img.load(QString::fromStdString(path))) return false;
  *image_ = img.convertToFormat(QImage::Format_ARGB32);
  return true;
}

bool TBitmap::SaveToFile(const std::string& path) const {
  return image_->save(QString::fromStdString(path));
}

const QImage& TBitmap::Image() const {
  return *image_;
}
void TBitmap::SetImage(const QImage& image) {
  *image_ = image;
}
