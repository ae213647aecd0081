#include "toolkit/render.h"

#include <QPixmap>
#include <QWidget>

#include "toolkit/application.h"
#include "toolkit/forms.h"

bool RenderToPng(TControl* control, const std::string& path) {
  if (!control) return false;
  TApplication::Instance()->ProcessMessages();
  QWidget* w = control->Widget();
  if (auto* form = dynamic_cast<TForm*>(control); form && form->WindowWidget()) {
    w = form->WindowWidget();
  }
  w->ensurePolished();
  return w->grab().save(QString::fromStdString(path), "PNG");
}
