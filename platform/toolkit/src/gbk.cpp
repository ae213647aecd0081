// The one place where GBK bytes and Qt text meet.

#include <QStringDecoder>
#include <QStringEncoder>
#include <vector>

#include "toolkit/qtext.h"

namespace {

constexpr char16_t kRawByteBase = 0xF700;  // U+F780..U+F7FF stand for bytes 0x80..0xFF

// Stateless codecs, one pair per thread: a stateful decoder would glue a
// cut-off lead byte of one string onto the next. Their error flag is not
// used: it stays set once raised, so bad input is recognised by its bytes.
struct Codecs {
  QStringDecoder decoder{"GBK", QStringConverter::Flag::Stateless};
  QStringEncoder encoder{"GBK", QStringConverter::Flag::Stateless};
  bool valid = decoder.isValid() && encoder.isValid();
};

Codecs& ThreadCodecs() {
  thread_local Codecs codecs;
  return codecs;
}

bool IsLead(unsigned char b) {
  return b >= 0x81 && b <= 0xFE;
}
bool IsTrail(unsigned char b) {
  return b >= 0x40 && b <= 0xFE && b != 0x7F;
}
bool IsRawMark(char16_t u) {
  return u >= kRawByteBase + 0x80 && u <= kRawByteBase + 0xFF;
}

// True when every byte is ASCII, a single byte the codec maps (0x80, 0xFF),
// or a lead byte followed by a trail byte.
bool WellFormed(std::string_view gbk) {
  for (size_t i = 0; i < gbk.size(); ++i) {
    const auto b = static_cast<unsigned char>(gbk[i]);
    if (b < 0x80 || b == 0x80 || b == 0xFF) continue;
    if (i + 1 >= gbk.size() || !IsTrail(static_cast<unsigned char>(gbk[i + 1]))) return false;
    ++i;
  }
  return true;
}

bool HasReplacement(const QString& text) {
  return text.contains(QChar::ReplacementCharacter);
}

// Slow path for text with bytes that are not GBK: decode character by
// character and keep every byte that is not part of a character as a mark.
QString DecodeMixed(std::string_view gbk, QStringDecoder& decoder) {
  QString out;
  out.reserve(static_cast<qsizetype>(gbk.size()));
  size_t i = 0;
  while (i < gbk.size()) {
    const auto b = static_cast<unsigned char>(gbk[i]);
    if (b < 0x80) {
      out.append(QChar(char16_t(b)));
      ++i;
      continue;
    }
    const size_t len =
        IsLead(b) && i + 1 < gbk.size() && IsTrail(static_cast<unsigned char>(gbk[i + 1])) ? 2 : 1;
    const QString one = decoder.decode(QByteArrayView(gbk.data() + i, static_cast<qsizetype>(len)));
    if (one.size() == 1 && one[0] != QChar::ReplacementCharacter && !IsRawMark(one[0].unicode())) {
      out.append(one);
      i += len;
      continue;
    }
    out.append(QChar(char16_t(kRawByteBase + b)));
    ++i;
  }
  return out;
}

}  // namespace

bool GbkCodecAvailable() {
  return ThreadCodecs().valid;
}

QString GbkToQString(std::string_view gbk) {
  if (gbk.empty()) return {};
  Codecs& c = ThreadCodecs();
  if (!c.valid) return QString::fromLatin1(gbk.data(), static_cast<qsizetype>(gbk.size()));
  if (WellFormed(gbk)) {
    QString text = c.decoder.decode(QByteArrayView(gbk.data(), static_cast<qsizetype>(gbk.size())));
    if (!HasReplacement(text)) return text;
  }
  return DecodeMixed(gbk, c.decoder);
}

std::string QStringToGbk(const QString& text) {
  if (text.isEmpty()) return {};
  Codecs& c = ThreadCodecs();
  if (!c.valid) return text.toLatin1().toStdString();
  bool marks = false;
  for (QChar ch : text) {
    if (IsRawMark(ch.unicode())) {
      marks = true;
      break;
    }
  }
  if (!marks) {
    QByteArray bytes = c.encoder.encode(text);
    // Checked by decoding back: a character GBK cannot hold came out as '?'.
    const QString back = c.decoder.decode(bytes);
    if (back == text) return bytes.toStdString();
  }
  std::string out;
  out.reserve(static_cast<size_t>(text.size()) * 2);
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t u = text[i].unicode();
    if (IsRawMark(u)) {
      out.push_back(static_cast<char>(u - kRawByteBase));
      continue;
    }
    const qsizetype len = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
    const QByteArray one = c.encoder.encode(QStringView(text).mid(i, len));
    const QString back = c.decoder.decode(one);
    if (one.isEmpty() || back != QStringView(text).mid(i, len)) {
      out.push_back('?');
    } else {
      out.append(one.constData(), static_cast<size_t>(one.size()));
    }
    i += len - 1;
  }
  return out;
}

namespace {

// The character of every two-byte GBK code (lead 0x81..0xFE, trail
// 0x40..0xFE without 0x7F), made once through the codec itself so that it
// gives exactly what GbkToQString gives; 0 where the two bytes are not one
// character. Converting a list of 100,000 rows then costs one look-up per
// character instead of a decoder call and two allocations per cell.
constexpr int kTrails = 0xFE - 0x40 + 1;

const std::vector<char16_t>& DoubleByteTable() {
  static const std::vector<char16_t> table = [] {
    std::vector<char16_t> t(static_cast<size_t>(0xFE - 0x81 + 1) * kTrails, 0);
    Codecs& c = ThreadCodecs();
    if (!c.valid) return t;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
      for (int trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        const QString one = c.decoder.decode(QByteArrayView(pair, 2));
        if (one.size() != 1 || one[0] == QChar::ReplacementCharacter || one[0].isSurrogate() ||
            IsRawMark(one[0].unicode()))
          continue;
        t[static_cast<size_t>(lead - 0x81) * kTrails + static_cast<size_t>(trail - 0x40)] =
            one[0].unicode();
      }
    }
    return t;
  }();
  return table;
}

}  // namespace

void AppendGbkAsUtf8(std::string_view gbk, std::string& out) {
  // Most cells of a result list (numbers, codes, times, amounts) are ASCII,
  // which is the same in both codings; characters are looked up. Written
  // through a pointer into room for the longest result (a two-byte
  // character takes at most three bytes).
  const size_t start = out.size();
  out.resize(start + gbk.size() * 3 / 2 + 1);
  char* p = out.data() + start;
  const std::vector<char16_t>* table = nullptr;
  size_t i = 0;
  while (i < gbk.size()) {
    const auto b = static_cast<unsigned char>(gbk[i]);
    if (b < 0x80) {
      *p++ = static_cast<char>(b);
      ++i;
      continue;
    }
    if (table == nullptr) table = &DoubleByteTable();
    const auto trail = i + 1 < gbk.size() ? static_cast<unsigned char>(gbk[i + 1]) : 0;
    const char16_t u =
        IsLead(b) && IsTrail(trail)
            ? (*table)[static_cast<size_t>(b - 0x81) * kTrails + static_cast<size_t>(trail - 0x40)]
            : 0;
    if (u == 0) break;  // a byte that is no character here: the codec decides
    if (u < 0x800) {
      *p++ = static_cast<char>(0xC0 | (u >> 6));
    } else {
      *p++ = static_cast<char>(0xE0 | (u >> 12));
      *p++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    }
    *p++ = static_cast<char>(0x80 | (u & 0x3F));
    i += 2;
  }
  out.resize(static_cast<size_t>(p - out.data()));
  if (i == gbk.size()) return;
  const QByteArray utf8 = GbkToQString(gbk.substr(i)).toUtf8();
  out.append(utf8.constData(), static_cast<size_t>(utf8.size()));
}
