#include "toolkit/hintwindow.h"

#include <QFontMetrics>
#include <QLabel>

#include "qt_app.h"

using namespace toolkit_detail;

namespace {
QLabel* MakeHintLabel() {
  auto* label = MakeWidget<QLabel>();
  label->setWordWrap(true);
  label->setFrameStyle(QFrame::Box | QFrame::Plain);
  label->setMargin(2);
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  return label;
}
constexpr int kPadding = 6;  // frame and margin on both sides
}  // namespace

THintWindow::THintWindow(TComponent* owner) : TWinControl(owner, MakeHintLabel()) {
  SetColor(clInfoBk);
}
THintWindow::~THintWindow() = default;

TRect THintWindow::CalcHintRect(int maxWidth, const std::string& hint) {
  QFontMetrics fm(Widget()->font());
  const QRect r = fm.boundingRect(QRect(0, 0, std::max(maxWidth - kPadding, 1), 100000),
                                  Qt::TextWordWrap | Qt::AlignLeft, Q(hint));
  return {0, 0, r.width() + kPadding, r.height() + kPadding};
}

void THintWindow::ActivateHint(const TRect& screenRect, const std::string& hint) {
  SetText(hint);
  QWidget* w = Widget();
  QPoint topLeft(screenRect.Left, screenRect.Top);
  if (QWidget* parent = w->parentWidget()) topLeft = parent->mapFromGlobal(topLeft);
  w->setGeometry(topLeft.x(), topLeft.y(), std::max(screenRect.Width(), 1),
                 std::max(screenRect.Height(), 1));
  Show();
  w->show();
  w->raise();
}

QLabel* THintWindow::Label() const {
  return static_cast<QLabel*>(Widget());
}

std::string THintWindow::GetText() const {
  return G(Label()->text());
}

void THintWindow::ApplyText(const std::string& text) {
  Label()->setText(Q(text));
}
