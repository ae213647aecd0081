#include <memory>
#include <utility>

#include "forms/formmdichild.h"
#include "guicommon/list_output.h"
#include "toolkit/actnlist.h"
#include "toolkit/listview.h"

void TfrmMDIChild::AttachListOutput(TListView* L, std::function<void(SListOutput&)> Describe) {
  if (L == nullptr || !Describe) return;
  // What the three closures share lives with them, not in the window.
  auto describe = std::make_shared<std::function<void(SListOutput&)>>(std::move(Describe));
  auto attach = [&](TAction* action, bool (*run)(TListView*, const SListOutput&)) {
    if (action == nullptr) return;
    action->OnExecute = TNotifyEvent([L, describe, run](TObject*) {
      SListOutput output;
      (*describe)(output);
      run(L, output);
    });
    action->OnUpdate = TNotifyEvent([L](TObject* sender) {
      static_cast<TAction*>(sender)->SetEnabled(L->Items()->Count() > 0);
    });
  };
  attach(actSaveAs, &SaveListView);
  attach(actPreview, &PreviewListView);
  attach(actPrint, &PrintListView);
}
