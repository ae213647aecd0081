#pragma once

#include <string>

#include "tmclient/export.h"

// A calendar date and time to the second, as carried by the broker.
//
// The default value is "no date-time" (all fields zero); it round-trips on
// the wire and compares below every real date-time. Text that is not 14
// digits forming a valid date and time gives the default value.
class TMCLIENT_API QRSDateTime {
 public:
  QRSDateTime();
  // From "yyyymmddhhmmss".
  explicit QRSDateTime(const std::string& text);
  QRSDateTime(const QRSDateTime&) = default;
  QRSDateTime& operator=(const QRSDateTime&) = default;

  // Replaces %Y (4 digits), %M %D %H %N (minutes) %S (2 digits each) and %%
  // in `pattern`; other characters are copied.
  std::string toString(const std::string& pattern) const;

  bool isNull() const;
  // (accessors, comparison and the packed form used on the wire are the
  //  implementation's to add)
};
