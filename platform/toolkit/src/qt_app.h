#pragma once

// The Qt side every widget-backed class needs (application.cpp): the Qt
// application made on first use, widgets made after it, GBK texts to and
// from Qt, and the Qt font families for a window font.

#include <QString>
#include <QStringList>
#include <string>
#include <utility>

#include "toolkit/qtext.h"

namespace toolkit_detail {

inline QString Q(const std::string& gbk) {
  return GbkToQString(gbk);
}
inline std::string G(const QString& text) {
  return QStringToGbk(text);
}

// Makes sure the Qt application exists (tests and tools may not make one).
void EnsureQtApplication();
// A widget of type W, made once the Qt application exists.
template <class W, class... A>
W* MakeWidget(A&&... args) {
  EnsureQtApplication();
  return new W(std::forward<A>(args)...);
}

// The Qt families for a window font's family name: no Linux font has the
// Windows CJK names (宋体, SimSun, ...), which stand for the installed CJK
// fonts, most preferred first; any other name comes first, with the usual
// CJK font behind it.
QStringList QtFamilies(const QString& family);

}  // namespace toolkit_detail
