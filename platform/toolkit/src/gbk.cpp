// The one place where GBK bytes and Qt text meet.

#include <QStringDecoder>
#include <QStringEncoder>
#include <cstdio>

#include "toolkit/qtext.h"

namespace {

constexpr char16_t kRawByteBase = 0xF700;  // U+F780..U+F7FF stand for bytes 0x80..0xFF

// Stateless codecs, one pair per thread: a stateful decoder would glue a
// cut-off lead byte of one string onto the next.
struct Codecs {
  QStringDecoder decoder{"GBK", QStringConverter::Flag::Stateless};
  QStringEncoder encoder{"GBK", QStringConverter::Flag::Stateless};
  bool valid = decoder.isValid() && encoder.isValid();
};

Codecs& ThreadCodecs() {
  thread_local Codecs codecs;
  return codecs;
}

bool IsLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool IsTrail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

QChar RawByte(unsigned char b) { return QChar(char16_t(kRawByteBase + b)); }

// Slow path for text the decoder flagged: decode character by character and
// keep every byte that is not part of a valid character as a raw-byte mark.
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
    if (IsLead(b) && i + 1 < gbk.size() && IsTrail(static_cast<unsigned char>(gbk[i + 1]))) {
      QString one = decoder.decode(QByteArrayView(gbk.data() + i, 2));
      if (!decoder.hasError() && one.size() == 1 && one[0] != QChar::ReplacementCharacter) {
        out.append(one);
        i += 2;
        continue;
      }
      decoder.resetState();
    }
    out.append(RawByte(b));
    ++i;
  }
  return out;
}

}  // namespace

bool GbkCodecAvailable() { return ThreadCodecs().valid; }

QString GbkToQString(std::string_view gbk) {
  if (gbk.empty()) return {};
  Codecs& c = ThreadCodecs();
  if (!c.valid) return QString::fromLatin1(gbk.data(), static_cast<qsizetype>(gbk.size()));
  QString text = c.decoder.decode(QByteArrayView(gbk.data(), static_cast<qsizetype>(gbk.size())));
  if (!c.decoder.hasError()) return text;
  c.decoder.resetState();
  return DecodeMixed(gbk, c.decoder);
}

std::string QStringToGbk(const QString& text) {
  if (text.isEmpty()) return {};
  Codecs& c = ThreadCodecs();
  if (!c.valid) return text.toLatin1().toStdString();
  bool plain = true;
  for (QChar ch : text) {
    if (ch.unicode() >= kRawByteBase + 0x80 && ch.unicode() <= kRawByteBase + 0xFF) {
      plain = false;
      break;
    }
  }
  if (plain) {
    QByteArray bytes = c.encoder.encode(text);
    if (!c.encoder.hasError()) return bytes.toStdString();
    c.encoder.resetState();
  }
  // Raw-byte marks, or characters GBK cannot hold: one character at a time.
  std::string out;
  out.reserve(static_cast<size_t>(text.size()) * 2);
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t u = text[i].unicode();
    if (u >= kRawByteBase + 0x80 && u <= kRawByteBase + 0xFF) {
      out.push_back(static_cast<char>(u - kRawByteBase));
      continue;
    }
    const qsizetype len = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
    QByteArray one = c.encoder.encode(QStringView(text).mid(i, len));
    if (c.encoder.hasError() || one.isEmpty()) {
      c.encoder.resetState();
      out.push_back('?');
    } else {
      out.append(one.constData(), static_cast<size_t>(one.size()));
    }
    i += len - 1;
  }
  return out;
}
