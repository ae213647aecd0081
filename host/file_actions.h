#pragma once

class TAction;
class TForm;

// The 文件 menu's entries act on the active business window through its
// shared actions, by name: actSaveAs, actPreview and actPrint.

// The form of the MDI area's active sub-window; null when none is active.
TForm* ActiveBusinessForm();
// The action `name` of `form` when it has a handler and, asked now
// (TAction::Update), is enabled; null otherwise (also for a null form).
TAction* RunnableAction(TForm* form, const char* name);
