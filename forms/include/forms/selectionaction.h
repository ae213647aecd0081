#pragma once

// What Ctrl+A, Ctrl+Z and Ctrl+T do to the check marks of a list view.
namespace MBaseWindow {

enum TSelectionAction { saCheckAll = 0, saUncheckAll = 1, saInvertCheck = 2 };

// The check mark a row gets from `action` when it has `checked` now; any
// value outside the enumeration leaves the mark as it is.
bool CheckMarkAfter(TSelectionAction action, bool checked);

}  // namespace MBaseWindow
