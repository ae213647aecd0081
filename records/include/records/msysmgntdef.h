#pragma once

#include <cstdint>
#include <string>

#include "records/record.h"

class tmb_reader;
class tmb_writer;

namespace MSysmgntDef {

// The operator signed in at the host; handed to the module in memory. The
// back office's sign-in reply carries it, with OP_PASSWD never set.
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

// Request of the sign-in: who signs in, and the address the host declares.
// SIGNIN_NONCE (64 hexadecimal digits, random, the same in every attempt of
// one sign-in) makes the sign-in safe to repeat: a repeat gets the same
// session, and a repeated wrong password counts once. Empty: every attempt
// is a sign-in of its own.
#define MPAY_SSIGNININ_FIELDS(F) \
  F(0, std::string, LOGIN_NAME)  \
  F(1, std::string, OP_PASSWD)   \
  F(2, std::string, OP_ADDRESS)  \
  F(3, std::string, SIGNIN_NONCE)
MPAY_RECORD(SSignInIn, "MSysmgntDef.SSignInIn", MPAY_SSIGNININ_FIELDS)

// The session a successful sign-in opens. SESSION_TOKEN is the bearer token
// (64 hexadecimal digits); the times are in seconds; RIGHTS lists the
// service codes the operator may call, separated by commas.
#define MPAY_SSESSIONINFO_FIELDS(F) \
  F(0, std::string, SESSION_TOKEN)  \
  F(1, int, IDLE_TIMEOUT)           \
  F(2, int, MAX_AGE)                \
  F(3, std::string, RIGHTS)
MPAY_RECORD(SSessionInfo, "MSysmgntDef.SSessionInfo", MPAY_SSESSIONINFO_FIELDS)

tmb_writer& operator<<(tmb_writer& s, const SOperator& r);
tmb_reader& operator>>(tmb_reader& s, SOperator& r);
tmb_writer& operator<<(tmb_writer& s, const SSignInIn& r);
tmb_reader& operator>>(tmb_reader& s, SSignInIn& r);
tmb_writer& operator<<(tmb_writer& s, const SSessionInfo& r);
tmb_reader& operator>>(tmb_reader& s, SSessionInfo& r);

}  // namespace MSysmgntDef
