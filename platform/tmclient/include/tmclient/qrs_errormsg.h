#pragma once

#include <string>

#include "tmclient/export.h"

// The error record of a remote call: a code and a message text (0 and
// "no error" until set), plus a second code and text (also 0 and "no error")
// that the far end may fill with detail of its own. All four travel on the
// wire.
class TMCLIENT_API QRSErrorMsg {
 public:
  QRSErrorMsg();
  virtual ~QRSErrorMsg();
  QRSErrorMsg(const QRSErrorMsg&) = default;
  QRSErrorMsg& operator=(const QRSErrorMsg&) = default;

  void set_code(int code) { iCode = code; }
  int get_code() const { return iCode; }
  void set_msg(const std::string& msg) { strMsg = msg; }
  const std::string& get_msg() const { return strMsg; }

  void set_sub_code(int code) { iSubCode = code; }
  int get_sub_code() const { return iSubCode; }
  void set_sub_msg(const std::string& msg) { strSubMsg = msg; }
  const std::string& get_sub_msg() const { return strSubMsg; }

 private:
  int iCode;
  std::string strMsg;
  int iSubCode;
  std::string strSubMsg;
};
