#include "forms/selectionaction.h"

namespace MBaseWindow {

bool CheckMarkAfter(TSelectionAction action, bool checked) {
  switch (action) {
    case saCheckAll:
      return true;
    case saUncheckAll:
      return false;
    case saInvertCheck:
      return !checked;
  }
  return checked;
}

}  // namespace MBaseWindow
