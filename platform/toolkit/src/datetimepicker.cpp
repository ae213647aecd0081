#include "toolkit/datetimepicker.h"

#include <QDateTimeEdit>

#include "internal.h"
#include "toolkit/layout.h"

using namespace toolkit_detail;

namespace {

QDateTimeEdit* Edit(QWidget* w) {
  return static_cast<QDateTimeEdit*>(w);
}

QDate ToQDate(TDateTime d) {
  int y, m, day;
  d.DecodeDate(y, m, day);
  return QDate(y, m, day);
}

QTime ToQTime(TDateTime t) {
  int h, n, s, ms;
  t.DecodeTime(h, n, s, ms);
  return QTime(h, n, s, ms);
}

// Sets date and time together. QDateTimeEdit's own setDate/setTime narrow the
// range to the value when the display shows no date (or no time), and then
// clamp the other part; a date-only or time-only picker keeps both here.
void Put(QDateTimeEdit* edit, QDate date, QTime time) {
  edit->setDateTimeRange(QDateTime(QDate(1900, 1, 1), QTime(0, 0)),
                         QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999)));
  edit->setDateTime(QDateTime(date, time));
}

// "yyyy-mm-dd" / "hh:mm:ss" from a layout.
int Field(const std::string& text, size_t pos, size_t len) {
  if (pos + len > text.size()) throw std::invalid_argument("bad date-time " + text);
  return layout_values::ToInt(text.substr(pos, len));
}

}  // namespace

TDateTimePicker::TDateTimePicker(TComponent* owner)
    : TWinControl(owner, MakeWidget<QDateTimeEdit>()) {
  auto* edit = Edit(Widget());
  Put(edit, QDate::currentDate(), QTime::currentTime());
  QObject::connect(edit, &QDateTimeEdit::dateTimeChanged,
                   [this] { Guarded(this, [this] { OnChange(this); }); });
  SetTabStop(true);
  ApplyFormat();
  Widget()->resize(186, 21);
}

TDateTimePicker::~TDateTimePicker() = default;

void TDateTimePicker::ApplyFormat() {
  auto* edit = Edit(Widget());
  QString fmt;
  if (!format_.empty()) {
    fmt = Q(format_);
  } else if (kind_ == dtkTime) {
    fmt = QStringLiteral("HH:mm:ss");
  } else {
    fmt = dateFormat_ == dfLong ? QStringLiteral("yyyy'\u5e74'M'\u6708'd'\u65e5'")
                                : QStringLiteral("yyyy-MM-dd");
  }
  edit->setDisplayFormat(fmt);
  edit->setCalendarPopup(kind_ == dtkDate && dateMode_ == dmComboBox);
}

void TDateTimePicker::SetKind(TDateTimeKind kind) {
  kind_ = kind;
  ApplyFormat();
}

void TDateTimePicker::SetDateMode(TDTDateMode mode) {
  dateMode_ = mode;
  ApplyFormat();
}

void TDateTimePicker::SetDateFormat(TDTDateFormat format) {
  dateFormat_ = format;
  ApplyFormat();
}

void TDateTimePicker::SetFormat(const std::string& format) {
  format_ = format;
  ApplyFormat();
}

TDateTime TDateTimePicker::Date() const {
  const QDate d = Edit(Widget())->date();
  return TDateTime::EncodeDate(d.year(), d.month(), d.day());
}

void TDateTimePicker::SetDate(TDateTime date) {
  Put(Edit(Widget()), ToQDate(date), Edit(Widget())->time());
}

TDateTime TDateTimePicker::Time() const {
  const QTime t = Edit(Widget())->time();
  return TDateTime::EncodeTime(t.hour(), t.minute(), t.second(), t.msec());
}

void TDateTimePicker::SetTime(TDateTime time) {
  Put(Edit(Widget()), Edit(Widget())->date(), ToQTime(time));
}

TDateTime TDateTimePicker::DateTime() const {
  return Date() + Time();
}

void TDateTimePicker::SetDateTime(TDateTime value) {
  Put(Edit(Widget()), ToQDate(value), ToQTime(value));
}

bool TDateTimePicker::SetProperty(const std::string& name, const std::string& value,
                                  TComponent* root) {
  using namespace layout_values;
  if (name == "Kind") {
    if (value == "dtkDate")
      SetKind(dtkDate);
    else if (value == "dtkTime")
      SetKind(dtkTime);
    else
      throw std::invalid_argument("unknown kind " + value);
  } else if (name == "DateMode") {
    if (value == "dmComboBox")
      SetDateMode(dmComboBox);
    else if (value == "dmUpDown")
      SetDateMode(dmUpDown);
    else
      throw std::invalid_argument("unknown date mode " + value);
  } else if (name == "DateFormat") {
    if (value == "dfShort")
      SetDateFormat(dfShort);
    else if (value == "dfLong")
      SetDateFormat(dfLong);
    else
      throw std::invalid_argument("unknown date format " + value);
  } else if (name == "CalAlignment") {
    if (value == "dtaLeft")
      SetCalAlignment(dtaLeft);
    else if (value == "dtaRight")
      SetCalAlignment(dtaRight);
    else
      throw std::invalid_argument("unknown calendar alignment " + value);
  } else if (name == "Format") {
    SetFormat(value);
  } else if (name == "ParseInput") {
    SetParseInput(ToBool(value));
  } else if (name == "Date") {
    try {
      SetDate(TDateTime::EncodeDate(Field(value, 0, 4), Field(value, 5, 2), Field(value, 8, 2)));
    } catch (const EConvertError&) {
      throw std::invalid_argument("bad date " + value);
    }
  } else if (name == "Time") {
    try {
      SetTime(TDateTime::EncodeTime(Field(value, 0, 2), Field(value, 3, 2), Field(value, 6, 2)));
    } catch (const EConvertError&) {
      throw std::invalid_argument("bad time " + value);
    }
  } else {
    return TWinControl::SetProperty(name, value, root);
  }
  return true;
}

bool TDateTimePicker::BindEvent(const std::string& event, const THandler& handler) {
  if (event == "OnChange")
    layout_values::Bind(OnChange, handler);
  else
    return TWinControl::BindEvent(event, handler);
  return true;
}
