#pragma once

#include "guicommon/export.h"
#include "guicommon/presenter.h"

// The presenter with real Qt dialogs. It is the default presenter of a
// process with the Qt part of the package loaded (installed at load time).
//
// ShowMessage: a modal message box (flags 16 error icon, 32 question, 48
// warning, 64 information) with the caption and text as given; returns IDOK
// when it is closed. The wait box appears and is painted before ShowWaitBox
// returns; UpdateWaitBox replaces and paints its text; CloseWaitBox hides it.
GUICOMMON_API IGUIPresenter* QtGUIPresenter();
