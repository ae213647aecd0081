// mpay-query: runs one log or user query through the broker, the way the
// query window does, and prints the rows tab-separated (texts as GBK bytes).
//
//   mpay-query [--broker NAME] [--login NAME [--password-file FILE]]
//              [--so-nbr N] [--busi CODE] [--phone P]
//              [--begin yyyymmddhhmmss] [--end yyyymmddhhmmss]
//   mpay-query [--broker NAME] [--login NAME [--password-file FILE]] --user PHONE
//
// With --login it signs in first (the password from --password-file, which
// only its owner may read, else from MPAY_PASSWORD) and signs out at the
// end; without, only a back office with --auth off answers.
//
// Texts of the server are printed with their control characters escaped
// (\xNN). The broker's URL and where it came from go to stderr first. Exit status:
// 0 with rows or none, 1 when the call fails (code and message
// on stderr), 2 for a wrong command line. A value that cannot be read is a
// wrong command line: it is never dropped as "no condition", which would
// widen the query.
#include <charconv>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "service/busi_ordmgnt.h"
#include "service/cust_qry_accept.h"
#include "service/operator_auth.h"
#include "tmclient/broker_resolver.h"
#include "tmclient/text_escape.h"
#include "tmclient/tmd_error.h"

namespace {

constexpr char kTimePattern[] = "%Y/%M/%D %H:%N:%S";
constexpr char kDateTimeExpected[] = "a real date and time as yyyymmddhhmmss";

std::string Yuan(int64_t fen) {
  char text[32];
  const char* sign = fen < 0 ? "-" : "";
  uint64_t v = fen < 0 ? 0 - static_cast<uint64_t>(fen) : static_cast<uint64_t>(fen);
  std::snprintf(text, sizeof text, "%s%" PRIu64 ".%02" PRIu64, sign, v / 100, v % 100);
  return text;
}

// Who asks: the signed-in operator, or nobody in particular.
MSysmgntDef::SOperator gOperator;

MCustQryAccept::SQueryLogSoInfo Operator() {
  MCustQryAccept::SQueryLogSoInfo s;
  s.set_SO_NBR(0);
  s.set_SO_MODE(0);
  s.set_SO_REGION_CODE(0);
  s.set_SO_COUNTY_CODE(0);
  s.set_SO_ORG_ID(gOperator.ORG_ID);
  s.set_AGENT_ID(0);
  s.set_OP_ID(gOperator.OP_ID);
  s.set_OP_ADDRESS("127.0.0.1");
  s.set_SO_DATE(QRSDateTime::currentDateTime());
  s.set_REMARK("mpay-query");
  return s;
}

// A whole number from 1 to `max`, nothing else.
bool ReadNumber(std::string_view text, int64_t max, int64_t& out) {
  int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < 1 || v > max)
    return false;
  out = v;
  return true;
}

// yyyymmddhhmmss, a real date and time.
bool ReadDateTime(std::string_view text, QRSDateTime& out) {
  out = QRSDateTime(std::string(text));
  return !out.isNull();
}

// A text of the server's as printed: its control characters escaped (\xNN),
// so that it can neither drive the terminal nor break a row.
std::string Shown(const std::string& text) {
  return tmclient::Escaped(text);
}

int Fail(int rc, const QRSErrorMsg& error) {
  std::fprintf(stderr, "mpay-query: call failed with %d: %s\n", rc, Shown(error.get_msg()).c_str());
  return 1;
}

int Query(const std::string& broker, int64_t soNbr, int64_t busi, const std::string& phone,
          const QRSDateTime& begin, const QRSDateTime& end, bool userQuery,
          const std::string& user);

}  // namespace

int main(int argc, char** argv) {
  std::string broker = "TALMIRON", phone, user, login, passwordFile;
  int64_t soNbr = 0, busi = 0;
  QRSDateTime begin, end;
  bool userQuery = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "mpay-query: missing value after %s\n", argv[i]);
      return 2;
    }
    const char* v = argv[++i];
    const char* unreadable = nullptr;  // what was expected, when the value is not that
    if (a == "--broker")
      broker = v;
    else if (a == "--login")
      login = v;
    else if (a == "--password-file")
      passwordFile = v;
    else if (a == "--so-nbr")
      unreadable = ReadNumber(v, INT64_MAX, soNbr) ? nullptr
                                                   : "a whole number from 1 to 9223372036854775807";
    else if (a == "--busi")
      unreadable = ReadNumber(v, INT32_MAX, busi) ? nullptr : "a whole number from 1 to 2147483647";
    else if (a == "--phone")
      phone = v;
    else if (a == "--begin")
      unreadable = ReadDateTime(v, begin) ? nullptr : kDateTimeExpected;
    else if (a == "--end")
      unreadable = ReadDateTime(v, end) ? nullptr : kDateTimeExpected;
    else if (a == "--user") {
      userQuery = true;
      user = v;
    } else {
      std::fprintf(stderr, "mpay-query: unknown option %s\n", argv[i - 1]);
      return 2;
    }
    if (unreadable != nullptr) {
      std::fprintf(stderr, "mpay-query: %s %s: expected %s\n", argv[i - 1], v, unreadable);
      return 2;
    }
  }
  // Where the calls go, and who decided it, before anything is sent there.
  std::string url, origin;
  if (tmclient::ResolveBroker(broker, url, &origin) == 0) {
    std::fprintf(stderr, "mpay-query: broker %s is %s (from %s)\n", broker.c_str(), url.c_str(),
                 origin.c_str());
  }
  if (login.empty()) return Query(broker, soNbr, busi, phone, begin, end, userQuery, user);
  std::string password, why;
  if (!service::HeadlessPassword(passwordFile, password, why)) {
    std::fprintf(stderr, "mpay-query: %s\n", why.c_str());
    return 2;
  }
  MSysmgntDef::SSessionInfo session;
  QRSErrorMsg error;
  const int signedIn =
      service::SignIn(broker, login, password, "127.0.0.1", gOperator, session, error);
  password.assign(password.size(), '\0');
  if (signedIn != 0) return Fail(signedIn, error);
  const int status = Query(broker, soNbr, busi, phone, begin, end, userQuery, user);
  service::SignOut(broker);
  return status;
}

namespace {

int Query(const std::string& broker, int64_t soNbr, int64_t busi, const std::string& phone,
          const QRSDateTime& begin, const QRSDateTime& end, bool userQuery,
          const std::string& user) {
  QRSErrorMsg error;
  if (userQuery) {
    MCustQryAccept::ICustQryAccept proxy;
    if (int rc = proxy.bind_openBroker(broker); rc != 0) {
      error.set_msg(tmd_getErrorMsg(rc));
      return Fail(rc, error);
    }
    MCustQryAccept::SFetchInfoIn in;
    in.set_PHONE_ID(user);
    in.set_QUERY_TYPE(1);
    MMicroPaymentDef::SMpUserInfoList list;
    if (int rc = proxy.query_mppUser(in, Operator(), list, error, nullptr); rc != 0) {
      return Fail(rc, error);
    }
    for (const auto& u : list) {
      std::printf("%" PRId64 "\t%s\t%s\t%d\t%s\t%s\t%d\t%s\t%s\t%" PRId64 "\t%s\n", u.SERV_ID,
                  Shown(u.PHONE_ID).c_str(), Shown(u.MP_PWD).c_str(), u.REG_TYPE,
                  Shown(u.REG_NBR).c_str(), Yuan(u.FEE_LIMIT).c_str(), u.MP_STS,
                  u.MP_CREATE_DATE.toString(kTimePattern).c_str(), Shown(u.MPP_TRANS_ID).c_str(),
                  u.SO_NBR, Shown(u.REMARK).c_str());
    }
    std::printf("%zu user rows\n", list.size());
    return 0;
  }
  MCustQryAccept::IBusiOrdmgnt proxy;
  if (int rc = proxy.bind_openBroker(broker); rc != 0) {
    error.set_msg(tmd_getErrorMsg(rc));
    return Fail(rc, error);
  }
  MCustQryAccept::SQuerySoInfoListIn in;
  in.set_SO_NBR(soNbr);
  in.set_PHONE_ID(phone);
  in.set_BUSI_CODE(static_cast<int>(busi));
  in.set_BEGIN_SO_DATE(begin);
  in.set_END_SO_DATE(end);
  MMicroPaymentDef::SMpInfoList list;
  MMicroPaymentDef::SMpAcctStatInfo stat;
  int ret = 0;
  if (int rc = proxy.query_mpSoList(in, Operator(), list, stat, ret, error, nullptr); rc != 0) {
    return Fail(rc, error);
  }
  for (const auto& r : list) {
    std::printf("%" PRId64 "\t%s\t%d\t%s\t%s\t%s\t%s\n", r.SO_NBR, Shown(r.PHONE_ID).c_str(),
                r.BUSI_CODE, Shown(r.MPP_TRANSACTION_ID).c_str(),
                r.MPP_TIME.toString(kTimePattern).c_str(), Yuan(r.AMOUNT).c_str(),
                Shown(r.REMARK).c_str());
  }
  std::printf("%zu rows; deposits %" PRId64 " (%s), withdrawals %" PRId64 " (%s)\n", list.size(),
              stat.DEPOSIT_COUNT, Yuan(stat.DEPOSIT_SUM).c_str(), stat.WITHDRAW_COUNT,
              Yuan(stat.WITHDRAW_SUM).c_str());
  return 0;
}

}  // namespace
