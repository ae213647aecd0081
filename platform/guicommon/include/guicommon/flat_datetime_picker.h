#pragma once

#include "guicommon/export.h"
#include "toolkit/datetimepicker.h"

// The package's date-time picker: a flat-looking TDateTimePicker. Layouts
// create it by the class name "TFlatDateTimePicker".
class GUICOMMON_API TFlatDateTimePicker : public TDateTimePicker {
 public:
  explicit TFlatDateTimePicker(TComponent* owner);
  ~TFlatDateTimePicker() override;
};
