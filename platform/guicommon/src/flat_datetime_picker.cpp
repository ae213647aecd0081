#include "guicommon/flat_datetime_picker.h"

#include <QDateTimeEdit>

TFlatDateTimePicker::TFlatDateTimePicker(TComponent* owner) : TDateTimePicker(owner) {
  // The flat look: a thin single-line border instead of the sunken frame.
  Widget()->setStyleSheet(QStringLiteral("QDateTimeEdit { border: 1px solid #7A9CC6; }"));
}

TFlatDateTimePicker::~TFlatDateTimePicker() = default;
