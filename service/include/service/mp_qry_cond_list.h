#pragma once

#include <cstdint>
#include <string>

#include "tmclient/qrs_datetime.h"

// The conditions of a log query as the window collects them. A field that is
// not a condition keeps its default: 0, an empty text, a default date-time.
struct MpQryCondList {
  int64_t SO_NBR = 0;         // service-order number
  int BUSI_CODE = 0;          // business type code
  QRSDateTime BEGIN_SO_DATE;  // start of the acceptance time range
  QRSDateTime END_SO_DATE;    // end of the acceptance time range
  std::string PHONE_ID;       // mobile number
};
