#pragma once

#include <cstdint>
#include <string>

#include "records/record.h"

namespace MSysmgntDef {

// The operator logged in at the host; handed to the module in memory and
// never put on a stream.
#define MPAY_SOPERATOR_FIELDS(F)  \
  F(0, int, OP_ID)                \
  F(1, std::string, OP_NAME)      \
  F(2, std::string, LOGIN_NAME)   \
  F(3, short, REG_TYPE)           \
  F(4, std::string, REG_NBR)      \
  F(5, std::string, PHONE)        \
  F(6, std::string, ADDRESS)      \
  F(7, int, POST_CODE)            \
  F(8, short, TYPE)               \
  F(9, std::string, OP_PASSWD)    \
  F(10, short, OP_STATUS)         \
  F(11, short, LOCK_STATUS)       \
  F(12, QRSDateTime, CREATE_DATE) \
  F(13, QRSDateTime, VALID_DATE)  \
  F(14, QRSDateTime, EXPIRE_DATE) \
  F(15, int, SECURITY_ID)         \
  F(16, int, ORG_ID)              \
  F(17, int, COUNTY_CODE)         \
  F(18, int, REGION_CODE)         \
  F(19, std::string, MEMO)
MPAY_RECORD(SOperator, "MSysmgntDef.SOperator", MPAY_SOPERATOR_FIELDS)

}  // namespace MSysmgntDef
