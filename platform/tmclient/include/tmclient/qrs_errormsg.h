#pragma once

#include <string>

#include "tmclient/export.h"

// The error record of a remote call: code 0 and "no error" until set.
class TMCLIENT_API QRSErrorMsg {
 public:
  QRSErrorMsg();
  virtual ~QRSErrorMsg();
  QRSErrorMsg(const QRSErrorMsg&) = default;
  QRSErrorMsg& operator=(const QRSErrorMsg&) = default;

  // (set/get of the code and the message text, and of the second code and
  //  text, are the implementation's to name)
};
