#include "toolkit/extctrls.h"

#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QScrollArea>

#include "qt_app.h"
#include "toolkit/layout.h"

using namespace toolkit_detail;

TGroupBox::TGroupBox(TComponent* owner) : TWinControl(owner, MakeWidget<QGroupBox>()) {
  Widget()->resize(185, 105);
}
TGroupBox::~TGroupBox() = default;

TRect TGroupBox::ClientRect() const {
  // Inside the frame, below the title.
  const int title = QFontMetrics(Widget()->font()).height();
  TRect r = Bounds(0, 0, Width(), Height());
  return {r.Left + 1, r.Top + title, std::max(r.Right - 1, 1), std::max(r.Bottom - 1, title)};
}

QGroupBox* TGroupBox::GroupBox() const {
  return static_cast<QGroupBox*>(Widget());
}

std::string TGroupBox::GetText() const {
  return G(GroupBox()->title());
}

void TGroupBox::ApplyText(const std::string& text) {
  GroupBox()->setTitle(Q(text));
}

TPanel::TPanel(TComponent* owner) : TWinControl(owner, MakeWidget<QFrame>()) {
  SetBevelOuter(bvRaised);
  Widget()->resize(185, 41);
}
TPanel::~TPanel() = default;

QFrame* TPanel::Frame() const {
  return static_cast<QFrame*>(Widget());
}

void TPanel::SetBevelOuter(TBevelCut bevel) {
  iBevelOuter = bevel;
  auto* frame = Frame();
  switch (bevel) {
    case bvRaised:
      frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
      break;
    case bvLowered:
      frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      break;
    default:
      frame->setFrameStyle(QFrame::NoFrame);
      break;
  }
}

bool TPanel::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  static constexpr TEnumName<TBevelCut> kBevels[] = {
      {"bvNone", bvNone}, {"bvLowered", bvLowered}, {"bvRaised", bvRaised}, {"bvSpace", bvSpace}};
  static constexpr TPropertySetter<TPanel> kProperties[] = {
      {"BevelOuter", [](TPanel& c, const std::string& v,
                        TComponent*) { c.SetBevelOuter(EnumFromName(kBevels, v, "bevel")); }},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TWinControl::SetProperty(name, value, root);
}

std::string TPanel::GetText() const {
  return TWinControl::GetText();
}
void TPanel::ApplyText(const std::string& text) {
  TWinControl::ApplyText(text);
}

namespace {
QScrollArea* MakeScrollArea() {
  auto* area = MakeWidget<QScrollArea>();
  area->setWidgetResizable(true);
  area->setWidget(new QWidget);
  return area;
}
}  // namespace

TScrollBox::TScrollBox(TComponent* owner) : TWinControl(owner, MakeScrollArea()) {
  pInner = static_cast<QScrollArea*>(Widget())->widget();
  Bridge(pInner);
  Widget()->resize(185, 41);
}
TScrollBox::~TScrollBox() = default;
QWidget* TScrollBox::ClientWidget() const {
  return pInner;
}

TControlBar::TControlBar(TComponent* owner) : TWinControl(owner, MakeWidget<QFrame>()) {}
TControlBar::~TControlBar() = default;
THeaderControl::THeaderControl(TComponent* owner) : TWinControl(owner, MakeWidget<QFrame>()) {}
THeaderControl::~THeaderControl() = default;
TToolBar::TToolBar(TComponent* owner) : TWinControl(owner, MakeWidget<QFrame>()) {}
TToolBar::~TToolBar() = default;
TCoolBar::TCoolBar(TComponent* owner) : TWinControl(owner, MakeWidget<QFrame>()) {}
TCoolBar::~TCoolBar() = default;
TTabSheet::TTabSheet(TComponent* owner) : TWinControl(owner, MakeWidget<QWidget>()) {}
TTabSheet::~TTabSheet() = default;
