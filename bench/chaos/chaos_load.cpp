// chaos_load: the demo's mix of queries from many clients at once, through
// the broker as the query window makes them, while scripts/chaos kills and
// restarts the servers behind it. Every answer is checked against the one
// the same query got before the load began; what does not match is a wrong
// answer. Ends with `name: value` lines (calls, answers, wrong answers,
// failed calls by code) for the script to print.
//
//   chaos_load --broker NAME --seconds S --clients N --begin yyyymmddhhmmss [--think-ms T]
//
// --think-ms: each client pauses between 0 and 2T ms (T on average) after
// each answer, as an operator reading it would: thousands of clients then
// make a known rate of queries (clients / T a millisecond) instead of as many
// as the servers answer.
// --begin: a time with log rows in the hour after it (the demo's first row):
// the wide queries cover that hour, and the phone numbers, order numbers and
// business codes of the other queries come from its rows. Signs in as the
// demo operator (MPAY_PASSWORD, else the demo's published password).
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "backoffice/demo_operators.h"
#include "service/busi_ordmgnt.h"
#include "service/cust_qry_accept.h"
#include "service/operator_auth.h"
#include "tmclient/tmd_error.h"

namespace {

using Clock = std::chrono::steady_clock;

MSysmgntDef::SOperator gOperator;

// `t` moved by `seconds` (calendar arithmetic through UTC, where no clock
// jumps).
QRSDateTime Plus(const QRSDateTime& t, int64_t seconds) {
  std::tm tm{};
  tm.tm_year = t.year() - 1900;
  tm.tm_mon = t.month() - 1;
  tm.tm_mday = t.day();
  tm.tm_hour = t.hour();
  tm.tm_min = t.minute();
  tm.tm_sec = t.second();
  const std::time_t moved = ::timegm(&tm) + static_cast<std::time_t>(seconds);
  std::tm out{};
  ::gmtime_r(&moved, &out);
  return QRSDateTime(out.tm_year + 1900, out.tm_mon + 1, out.tm_mday, out.tm_hour, out.tm_min,
                     out.tm_sec);
}

MCustQryAccept::SQueryLogSoInfo Asker() {
  MCustQryAccept::SQueryLogSoInfo s;
  s.set_SO_ORG_ID(gOperator.ORG_ID);
  s.set_OP_ID(gOperator.OP_ID);
  s.set_OP_ADDRESS("127.0.0.1");
  s.set_SO_DATE(QRSDateTime::currentDateTime());
  s.set_REMARK("chaos");
  return s;
}

// Every field of every record, in order, as one text: equal texts, equal answers.
template <class List>
std::string Digest(const List& list) {
  std::string out;
  for (const auto& r : list) {
    std::decay_t<decltype(r)>::ForEachField(r, [&out](int, const auto& field) {
      using T = std::decay_t<decltype(field)>;
      if constexpr (std::is_same_v<T, std::string>)
        out += field;
      else if constexpr (std::is_same_v<T, QRSDateTime>)
        out += field.toString("%Y%M%D%H%N%S");
      else
        out += std::to_string(field);
      out += '\t';
      return true;
    });
    out += '\n';
  }
  return out;
}

// One query of the mix: its kind, and what it sends.
struct Query {
  enum Kind { kSmall, kOrder, kWide, kUser } kind;
  std::string phone;
  int64_t soNbr = 0;
  int busi = 0;
  QRSDateTime begin, end;
};

const char* KindName(Query::Kind k) {
  switch (k) {
    case Query::kSmall:
      return "small";
    case Query::kOrder:
      return "order";
    case Query::kWide:
      return "wide";
    case Query::kUser:
      return "user";
  }
  return "?";
}

// Calls `q` through the client's proxies; the answer's digest in `digest`.
int Run(const std::string& broker, const Query& q, MCustQryAccept::IBusiOrdmgnt& log,
        MCustQryAccept::ICustQryAccept& user, std::string& digest) {
  QRSErrorMsg error;
  if (!log.is_bound())
    if (int rc = log.bind_openBroker(broker); rc != 0) return rc;
  if (!user.is_bound())
    if (int rc = user.bind_openBroker(broker); rc != 0) return rc;
  if (q.kind == Query::kUser) {
    MCustQryAccept::SFetchInfoIn in;
    in.set_PHONE_ID(q.phone);
    in.set_QUERY_TYPE(1);
    MMicroPaymentDef::SMpUserInfoList list;
    const int rc = user.query_mppUser(in, Asker(), list, error, nullptr);
    if (rc == 0) digest = Digest(list);
    return rc;
  }
  MCustQryAccept::SQuerySoInfoListIn in;
  if (q.kind == Query::kOrder) in.set_SO_NBR(q.soNbr);
  if (q.kind == Query::kSmall) in.set_PHONE_ID(q.phone);
  if (q.kind == Query::kWide) in.set_BUSI_CODE(q.busi);
  in.set_BEGIN_SO_DATE(q.begin);
  in.set_END_SO_DATE(q.end);
  MMicroPaymentDef::SMpInfoList list;
  MMicroPaymentDef::SMpAcctStatInfo stat;
  int ret = 0;
  const int rc = log.query_mpSoList(in, Asker(), list, stat, ret, error, nullptr);
  if (rc == 0) {
    digest = Digest(list);
    digest += std::to_string(stat.DEPOSIT_COUNT) + ' ' + std::to_string(stat.DEPOSIT_SUM) + ' ' +
              std::to_string(stat.WITHDRAW_COUNT) + ' ' + std::to_string(stat.WITHDRAW_SUM);
  }
  return rc;
}

// Tries `call` until it succeeds or `seconds` pass (the servers may still be
// starting); its last result.
int Patiently(int seconds, const std::function<int()>& call) {
  const auto until = Clock::now() + std::chrono::seconds(seconds);
  int rc;
  while ((rc = call()) != 0 && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  std::string broker = "TALMIRON";
  int seconds = 60, clients = 16, thinkMs = 0;
  QRSDateTime begin;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i], v = argv[i + 1];
    if (a == "--broker")
      broker = v;
    else if (a == "--seconds")
      seconds = std::atoi(v.c_str());
    else if (a == "--clients")
      clients = std::atoi(v.c_str());
    else if (a == "--begin")
      begin = QRSDateTime(v);
    else if (a == "--think-ms")
      thinkMs = std::atoi(v.c_str());
  }
  if (begin.isNull() || seconds < 1 || clients < 1) {
    std::fprintf(stderr,
                 "usage: chaos_load --broker NAME --seconds S --clients N --begin "
                 "yyyymmddhhmmss\n");
    return 2;
  }
  const char* password = std::getenv("MPAY_PASSWORD");
  MSysmgntDef::SSessionInfo session;
  QRSErrorMsg error;
  if (int rc = Patiently(60,
                         [&] {
                           return service::SignIn(broker, backoffice::kDemoLogin,
                                                  password ? password : backoffice::kDemoPassword,
                                                  "127.0.0.1", gOperator, session, error);
                         });
      rc != 0) {
    std::fprintf(stderr, "chaos_load: sign-in failed with %d: %s\n", rc, error.get_msg().c_str());
    return 1;
  }

  // The queries, from the rows of the first hour, and their answers now.
  const QRSDateTime hourEnd = Plus(begin, 3600);
  MCustQryAccept::IBusiOrdmgnt log;
  MCustQryAccept::ICustQryAccept user;
  MMicroPaymentDef::SMpInfoList rows;
  if (int rc = Patiently(60,
                         [&] {
                           if (!log.is_bound())
                             if (int b = log.bind_openBroker(broker); b != 0) return b;
                           MCustQryAccept::SQuerySoInfoListIn in;
                           in.set_BEGIN_SO_DATE(begin);
                           in.set_END_SO_DATE(hourEnd);
                           MMicroPaymentDef::SMpAcctStatInfo stat;
                           int ret = 0;
                           rows.clear();
                           return log.query_mpSoList(in, Asker(), rows, stat, ret, error, nullptr);
                         });
      rc != 0 || rows.empty()) {
    std::fprintf(stderr, "chaos_load: the first hour's rows: %d, %zu rows\n", rc, rows.size());
    return 1;
  }
  std::vector<Query> queries;
  std::set<int> busis;
  for (std::size_t i = 0; i < rows.size() && queries.size() < 96; i += rows.size() / 32 + 1) {
    const auto& r = rows[i];
    queries.push_back({Query::kSmall, r.PHONE_ID, 0, 0, begin, Plus(begin, 86400 * 31)});
    queries.push_back({Query::kOrder, "", r.SO_NBR, 0, begin, Plus(begin, 86400 * 365)});
    queries.push_back({Query::kUser, r.PHONE_ID, 0, 0, {}, {}});
    if (busis.insert(r.BUSI_CODE).second)
      queries.push_back({Query::kWide, "", 0, r.BUSI_CODE, begin, hourEnd});
  }
  std::vector<std::string> expected(queries.size());
  for (std::size_t i = 0; i < queries.size(); ++i) {
    if (int rc = Patiently(60, [&] { return Run(broker, queries[i], log, user, expected[i]); });
        rc != 0) {
      std::fprintf(stderr, "chaos_load: the answer to query %zu: %d\n", i, rc);
      return 1;
    }
  }
  std::printf("chaos_load: %zu queries (%zu business codes), %d clients, %d s\n", queries.size(),
              busis.size(), clients, seconds);
  std::fflush(stdout);

  std::atomic<long> calls{0}, answered{0}, wrong{0};
  std::mutex lock;
  std::map<int, long> failed;               // by code
  std::map<std::string, long> wrongByKind;  // what a wrong answer was to
  const auto until = Clock::now() + std::chrono::seconds(seconds);
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      std::minstd_rand random(static_cast<unsigned>(c) * 7919u + 1u);
      MCustQryAccept::IBusiOrdmgnt myLog;
      MCustQryAccept::ICustQryAccept myUser;
      std::string digest;
      while (Clock::now() < until) {
        if (thinkMs > 0)
          std::this_thread::sleep_for(std::chrono::microseconds(random() % (2000u * thinkMs + 1)));
        const std::size_t i = random() % queries.size();
        const int rc = Run(broker, queries[i], myLog, myUser, digest);
        ++calls;
        if (rc == 0 && digest == expected[i]) {
          ++answered;
          continue;
        }
        {
          std::lock_guard g(lock);
          if (rc == 0) {
            ++wrong;
            ++wrongByKind[KindName(queries[i].kind)];
          } else {
            ++failed[rc];
          }
        }
        // An operator whose query failed does not ask again within the same
        // instant: the failures count what operators would see, not how
        // fast a refusal comes back.
        if (rc != 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  for (auto& t : threads) t.join();
  service::SignOut(broker);

  std::printf("chaos_calls: %ld\n", calls.load());
  std::printf("chaos_answered: %ld\n", answered.load());
  std::printf("chaos_wrong_answers: %ld\n", wrong.load());
  for (const auto& [kind, n] : wrongByKind) std::printf("chaos_wrong_%s: %ld\n", kind.c_str(), n);
  long failures = 0;
  for (const auto& [code, n] : failed) {
    failures += n;
    std::printf("chaos_failed_%d: %ld (%s)\n", code, n, tmd_getErrorMsg(code));
  }
  std::printf("chaos_failed: %ld\n", failures);
  return wrong.load() == 0 ? 0 : 1;
}
