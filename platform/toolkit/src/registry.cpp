// The toolkit's classes that layouts can name.

#include <map>
#include <string>

#include "registry.h"
#include "toolkit/toolkit.h"

namespace toolkit_detail {

template <class T>
TComponent* Make(TComponent* owner) {
  return new T(owner);
}

void AddToolkitClasses(std::map<std::string, TComponentFactory>& r) {
  r["TFrame"] = &Make<TFrame>;
  r["TGroupBox"] = &Make<TGroupBox>;
  r["TPanel"] = &Make<TPanel>;
  r["TScrollBox"] = &Make<TScrollBox>;
  r["TControlBar"] = &Make<TControlBar>;
  r["THeaderControl"] = &Make<THeaderControl>;
  r["TToolBar"] = &Make<TToolBar>;
  r["TCoolBar"] = &Make<TCoolBar>;
  r["TTabSheet"] = &Make<TTabSheet>;
  r["TEdit"] = &Make<TEdit>;
  r["TLabeledEdit"] = &Make<TLabeledEdit>;
  r["TCheckBox"] = &Make<TCheckBox>;
  r["TComboBox"] = &Make<TComboBox>;
  r["TBitBtn"] = &Make<TBitBtn>;
  r["TListView"] = &Make<TListView>;
  r["TDateTimePicker"] = &Make<TDateTimePicker>;
  r["THintWindow"] = &Make<THintWindow>;
  r["TPopupMenu"] = &Make<TPopupMenu>;
  r["TMenuItem"] = &Make<TMenuItem>;
  r["TImageList"] = &Make<TImageList>;
  r["TActionList"] = &Make<TActionList>;
  r["TAction"] = &Make<TAction>;
}

}  // namespace toolkit_detail
