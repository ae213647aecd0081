#include "tmclient/qrs_errormsg.h"

QRSErrorMsg::QRSErrorMsg() : iCode(0), strMsg("no error"), iSubCode(0), strSubMsg("no error") {}

QRSErrorMsg::~QRSErrorMsg() = default;
