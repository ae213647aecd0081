#include "file_actions.h"

#include <QMdiArea>
#include <QMdiSubWindow>

#include "toolkit/actnlist.h"
#include "toolkit/application.h"
#include "toolkit/forms.h"

TForm* ActiveBusinessForm() {
  QMdiSubWindow* active = Application()->MdiArea()->activeSubWindow();
  for (int i = 0; active && i < Application()->MDIChildCount(); ++i) {
    TForm* form = Application()->MDIChildren(i);
    if (form->WindowWidget() == active) return form;
  }
  return nullptr;
}

TAction* RunnableAction(TForm* form, const char* name) {
  if (form == nullptr) return nullptr;
  auto* action = dynamic_cast<TAction*>(form->FindComponent(name));
  if (action == nullptr || !action->OnExecute) return nullptr;
  action->Update();
  return action->Enabled() ? action : nullptr;
}
