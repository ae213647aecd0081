#pragma once

#include <string>

#include "toolkit/controls.h"
#include "toolkit/export.h"

class QDateTimeEdit;

enum TDateTimeKind { dtkDate, dtkTime };
enum TDTDateMode { dmComboBox, dmUpDown };
enum TDTDateFormat { dfShort, dfLong };
enum TDTCalAlignment { dtaLeft, dtaRight };

// A date or time picker. Date() and Time() keep their parts apart: setting
// the date keeps the time and the other way round.
class TOOLKIT_API TDateTimePicker : public TWinControl {
 public:
  explicit TDateTimePicker(TComponent* owner);
  ~TDateTimePicker() override;

  TDateTimeKind Kind() const { return iKind; }
  void SetKind(TDateTimeKind kind);
  // dmComboBox: a calendar drops down; dmUpDown: arrows step the value.
  TDTDateMode DateMode() const { return iDateMode; }
  void SetDateMode(TDTDateMode mode);
  TDTDateFormat DateFormat() const { return iDateFormat; }
  void SetDateFormat(TDTDateFormat format);
  TDTCalAlignment CalAlignment() const { return iCalAlignment; }
  void SetCalAlignment(TDTCalAlignment alignment) { iCalAlignment = alignment; }
  bool ParseInput() const { return bParseInput; }
  void SetParseInput(bool value) { bParseInput = value; }
  // Display format with yyyy, MM, dd, HH, mm, ss; empty: by Kind and
  // DateFormat.
  const std::string& Format() const { return sFormat; }
  void SetFormat(const std::string& format);

  // The date (midnight) and the time of day (on 1899-12-30).
  TDateTime Date() const;
  void SetDate(TDateTime date);
  TDateTime Time() const;
  void SetTime(TDateTime time);
  TDateTime DateTime() const;
  void SetDateTime(TDateTime value);

  // The Qt widget the picker is made of.
  QDateTimeEdit* DateTimeEdit() const;

  TNotifyEvent OnChange;

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;
  bool BindEvent(const std::string& event, const THandler& handler) override;

 private:
  void ApplyFormat();
  TDateTimeKind iKind = dtkDate;
  TDTDateMode iDateMode = dmComboBox;
  TDTDateFormat iDateFormat = dfShort;
  TDTCalAlignment iCalAlignment = dtaLeft;
  bool bParseInput = false;
  std::string sFormat;
};
