#include "toolkit/datetimepicker.h"

#include <QDateTimeEdit>

#include "guarded.h"
#include "qt_app.h"
#include "toolkit/layout.h"

using namespace toolkit_detail;

namespace {

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
  auto* edit = DateTimeEdit();
  Put(edit, QDate::currentDate(), QTime::currentTime());
  QObject::connect(edit, &QDateTimeEdit::dateTimeChanged,
                   [this] { Guarded(this, [this] { OnChange(this); }); });
  SetTabStop(true);
  ApplyFormat();
  Widget()->resize(186, 21);
}

TDateTimePicker::~TDateTimePicker() = default;

void TDateTimePicker::ApplyFormat() {
  auto* edit = DateTimeEdit();
  QString fmt;
  if (!sFormat.empty()) {
    fmt = Q(sFormat);
  } else if (iKind == dtkTime) {
    fmt = QStringLiteral("HH:mm:ss");
  } else {
    fmt = iDateFormat == dfLong ? QStringLiteral("yyyy'\u5e74'M'\u6708'd'\u65e5'")
                                : QStringLiteral("yyyy-MM-dd");
  }
  edit->setDisplayFormat(fmt);
  edit->setCalendarPopup(iKind == dtkDate && iDateMode == dmComboBox);
}

void TDateTimePicker::SetKind(TDateTimeKind kind) {
  iKind = kind;
  ApplyFormat();
}

void TDateTimePicker::SetDateMode(TDTDateMode mode) {
  iDateMode = mode;
  ApplyFormat();
}

void TDateTimePicker::SetDateFormat(TDTDateFormat format) {
  iDateFormat = format;
  ApplyFormat();
}

void TDateTimePicker::SetFormat(const std::string& format) {
  sFormat = format;
  ApplyFormat();
}

QDateTimeEdit* TDateTimePicker::DateTimeEdit() const {
  return static_cast<QDateTimeEdit*>(Widget());
}

TDateTime TDateTimePicker::Date() const {
  const QDate d = DateTimeEdit()->date();
  return TDateTime::EncodeDate(d.year(), d.month(), d.day());
}

void TDateTimePicker::SetDate(TDateTime date) {
  Put(DateTimeEdit(), ToQDate(date), DateTimeEdit()->time());
}

TDateTime TDateTimePicker::Time() const {
  const QTime t = DateTimeEdit()->time();
  return TDateTime::EncodeTime(t.hour(), t.minute(), t.second(), t.msec());
}

void TDateTimePicker::SetTime(TDateTime time) {
  Put(DateTimeEdit(), DateTimeEdit()->date(), ToQTime(time));
}

TDateTime TDateTimePicker::DateTime() const {
  return Date() + Time();
}

void TDateTimePicker::SetDateTime(TDateTime value) {
  Put(DateTimeEdit(), ToQDate(value), ToQTime(value));
}

bool TDateTimePicker::SetProperty(const std::string& name, const std::string& value,
                                  TComponent* root) {
  using namespace layout_values;
  using C = TDateTimePicker;
  static constexpr TEnumName<TDateTimeKind> kKinds[] = {{"dtkDate", dtkDate}, {"dtkTime", dtkTime}};
  static constexpr TEnumName<TDTDateMode> kDateModes[] = {{"dmComboBox", dmComboBox},
                                                          {"dmUpDown", dmUpDown}};
  static constexpr TEnumName<TDTDateFormat> kDateFormats[] = {{"dfShort", dfShort},
                                                              {"dfLong", dfLong}};
  static constexpr TEnumName<TDTCalAlignment> kCalAlignments[] = {{"dtaLeft", dtaLeft},
                                                                  {"dtaRight", dtaRight}};
  static constexpr TPropertySetter<C> kProperties[] = {
      {"Kind",
       [](C& c, const std::string& v, TComponent*) { c.SetKind(EnumFromName(kKinds, v, "kind")); }},
      {"DateMode", [](C& c, const std::string& v,
                      TComponent*) { c.SetDateMode(EnumFromName(kDateModes, v, "date mode")); }},
      {"DateFormat",
       [](C& c, const std::string& v, TComponent*) {
         c.SetDateFormat(EnumFromName(kDateFormats, v, "date format"));
       }},
      {"CalAlignment",
       [](C& c, const std::string& v, TComponent*) {
         c.SetCalAlignment(EnumFromName(kCalAlignments, v, "calendar alignment"));
       }},
      {"Format", TextSetter<C, &C::SetFormat>},
      {"ParseInput", BoolSetter<C, &C::SetParseInput>},
      // "yyyy-mm-dd"
      {"Date",
       [](C& c, const std::string& v, TComponent*) {
         try {
           c.SetDate(TDateTime::EncodeDate(Field(v, 0, 4), Field(v, 5, 2), Field(v, 8, 2)));
         } catch (const EConvertError&) {
           throw std::invalid_argument("bad date " + v);
         }
       }},
      // "hh:mm:ss"
      {"Time",
       [](C& c, const std::string& v, TComponent*) {
         try {
           c.SetTime(TDateTime::EncodeTime(Field(v, 0, 2), Field(v, 3, 2), Field(v, 6, 2)));
         } catch (const EConvertError&) {
           throw std::invalid_argument("bad time " + v);
         }
       }},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TWinControl::SetProperty(name, value, root);
}

bool TDateTimePicker::BindEvent(const std::string& event, const THandler& handler) {
  using namespace layout_values;
  static constexpr TEventBinder<TDateTimePicker> kEvents[] = {
      {"OnChange", EventBinder<TDateTimePicker, &TDateTimePicker::OnChange>},
  };
  return BindFromTable(kEvents, *this, event, handler) || TWinControl::BindEvent(event, handler);
}
