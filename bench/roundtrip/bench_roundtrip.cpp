// Round trip of one small user query (one row back) over tcp:// and nats://,
// next to a bare loopback TCP ping-pong and a bare NATS request/reply that
// carry the same number of bytes. The ratios of the medians show what the
// transports add to the network itself. The same call over tls://, against
// tcp:// in alternating rounds (each client's connection reused, as a
// client object does), shows what TLS adds. The back office's own service
// with a verified session against the same service with --auth off shows
// what checking the session costs a call, and the sign-in's own time
// (slow on purpose: a password hash) is reported beside it.
//
//   bench_roundtrip [google benchmark flags]
//
// Starts its own nats-server on a free loopback port (the NATS half is
// skipped when nats-server is missing). Ends with `name: value` lines.

#include <benchmark/benchmark.h>
#include <nats/nats.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "backoffice/authenticator.h"
#include "backoffice/demo_data.h"
#include "backoffice/demo_operators.h"
#include "backoffice/directory.h"
#include "backoffice/server.h"
#include "backoffice/service.h"
#include "backoffice/sqlite_db.h"
#include "backoffice/sqlite_operator_store.h"
#include "bench_rounds.h"
#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "service/operator_auth.h"
#include "test_certs.h"
#include "test_db.h"
#include "tmclient/nats_responder.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/session.h"
#include "tmclient/tcp_server.h"
#include "tmclient/tls_server.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_client_object.h"

namespace {

using Clock = std::chrono::steady_clock;

inline constexpr const operations::Descriptor& kUserQuery = operations::Of(operations::Id::kUser);
constexpr const char* kInStream = kUserQuery.requestStream;
constexpr const char* kOutStream = kUserQuery.replyStream;
constexpr const char* kIface = kUserQuery.interfaceName;
constexpr const char* kCode = kUserQuery.serviceCode;
// The NATS subject of the bare responder.
const std::string kRawSubject = std::string("RAW.") + kCode;
// Envelope bytes around the streams on the wire: request (kind, call id, two
// names with their lengths) and reply (kind, call id, result).
constexpr std::size_t kRequestEnvelope =
    1 + 4 + 1 + std::string_view(kIface).size() + 1 + std::string_view(kCode).size();
constexpr std::size_t kReplyEnvelope = 1 + 4 + 4;

std::map<std::string, double> gP50, gP99;  // microseconds, by benchmark
// The call's p50 over the bare round trip's in each round, by call.
std::map<std::string, std::vector<double>> gRoundRatios;
constexpr int kRounds = 7;

void WriteRequest(tmb_stream& s, const std::string& phone = "13800138000") {
  MCustQryAccept::SFetchInfoIn in;
  in.set_PHONE_ID(phone);
  MCustQryAccept::SQueryLogSoInfo so;
  so.set_OP_ID(10086);
  so.set_SO_ORG_ID(2001);
  so.set_OP_ADDRESS("10.20.30.40");
  so.set_SO_DATE(QRSDateTime("20261207093000"));
  s.open();
  s.begin_stream(kInStream);
  s << in << so;
  s.end_stream();
}

std::string ReplyBytes() {
  MMicroPaymentDef::SMpUserInfo u;
  u.set_SERV_ID(100000000012345);
  u.set_PHONE_ID("13800138000");
  u.set_MP_PWD("******");
  u.set_REG_TYPE(1);
  u.set_REG_NBR("110101199001011234");
  u.set_FEE_LIMIT(50000);
  u.set_MP_STS(1);
  u.set_MP_CREATE_DATE(QRSDateTime("20250301101500"));
  u.set_MPP_TRANS_ID("MPP20250301101500001");
  u.set_SO_NBR(202503011015000);
  u.set_REMARK("user opened at hall 3");  // as long as a short GBK remark
  MMicroPaymentDef::SMpUserInfoList list{u};
  QRSErrorMsg err;
  tmb_stream s;
  s.open();
  s.begin_stream(kOutStream);
  s << list << err;
  s.end_stream();
  return std::string(s.bytes());
}

// What a server does with the request: decode it, answer the prepared row.
int Serve(std::string_view request, std::string& reply) {
  static const std::string kReply = ReplyBytes();
  tmb_stream s;
  s.load(request);
  MCustQryAccept::SFetchInfoIn in;
  MCustQryAccept::SQueryLogSoInfo so;
  s.begin_stream(kInStream);
  s >> in >> so;
  if (!s.end_stream()) return 1;
  reply = kReply;
  return 0;
}

void Record(benchmark::State& state, const char* name, std::vector<double>& us) {
  if (us.empty()) return;
  std::sort(us.begin(), us.end());
  double p50 = us[us.size() / 2];
  double p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  state.counters[std::string(name) + "_p50_us"] = p50;
  state.counters[std::string(name) + "_p99_us"] = p99;
  gP50[name] = p50;
  gP99[name] = p99;
}

// Alternates a bare round trip and a call, so that both see the same
// machine (the load of a shared machine changes from second to second); the
// ratio is taken in each of kRounds consecutive slices of the pairs.
template <class Raw, class Call>
void TimePairs(benchmark::State& state, const char* rawName, Raw raw, const char* callName,
               Call call) {
  std::vector<double> rawUs, callUs;
  rawUs.reserve(1 << 16);
  callUs.reserve(1 << 16);
  for (auto _ : state) {
    auto t0 = Clock::now();
    bool ok = raw();
    auto t1 = Clock::now();
    ok = ok && call();
    auto t2 = Clock::now();
    if (!ok) {
      state.SkipWithError("round trip failed");
      break;
    }
    rawUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    callUs.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
  }
  gRoundRatios[callName] = bench::SliceRatios(callUs, rawUs, kRounds);
  Record(state, rawName, rawUs);
  Record(state, callName, callUs);
}

// One call as a proxy makes it: write the request, call, read the row.
bool CallThrough(CTmdClientObject& client, const std::string& phone = "13800138000") {
  tmb_stream in, out;
  WriteRequest(in, phone);
  if (client.call_server(kIface, kCode, nullptr, in, out) != 0) return false;
  MMicroPaymentDef::SMpUserInfoList list;
  QRSErrorMsg err;
  out.begin_stream(kOutStream);
  out >> list >> err;
  return out.end_stream() && list.size() == 1;
}

std::size_t RequestSize() {
  tmb_stream s;
  WriteRequest(s);
  return s.bytes().size();
}

// ---- tcp ------------------------------------------------------------------

bool ReadN(int fd, char* p, std::size_t n) {
  while (n > 0) {
    ssize_t r = ::recv(fd, p, n, 0);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

bool WriteN(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

void NoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Keeps the calling thread, and every thread it starts meanwhile, on the CPU
// it runs on. On a machine with idle CPUs a round trip costs 5 to 10 µs when
// both ends share a CPU and 40 to 70 µs when the wake-up crosses to an idle
// one, and which happens is the scheduler's choice, made afresh for each
// thread: the bare peer and the server's workers would not get the same
// luck. On one CPU both pairs measure the software, not the placement.
class SameCpu {
 public:
  SameCpu() {
    bSaved = ::sched_getaffinity(0, sizeof cSaved, &cSaved) == 0;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(::sched_getcpu(), &one);
    if (bSaved) ::sched_setaffinity(0, sizeof one, &one);
  }
  ~SameCpu() {
    if (bSaved) ::sched_setaffinity(0, sizeof cSaved, &cSaved);
  }

 private:
  cpu_set_t cSaved;
  bool bSaved = false;
};

void BM_Tcp(benchmark::State& state) {
  SameCpu sameCpu;
  tmclient::TcpServer server([](const std::string&, const std::string&, std::string_view r,
                                std::string& out) { return Serve(r, out); },
                             {.workers = 2});
  if (!server.Start()) return state.SkipWithError("cannot listen");
  ::setenv("TMCLIENT_BROKER_BENCHTCP", ("tcp://127.0.0.1:" + std::to_string(server.port())).c_str(),
           1);
  CTmdClientObject client;
  if (client.bind_openBroker("BENCHTCP") != 0) return state.SkipWithError("cannot bind");

  // The bare ping-pong carries the same bytes as a tcp:// call: length
  // prefix, envelope and streams.
  const std::size_t up = 4 + kRequestEnvelope + RequestSize();
  const std::size_t down = 4 + kReplyEnvelope + ReplyBytes().size();
  int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(lfd, 1);
  ::getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
  std::thread peer([&] {
    int fd = ::accept(lfd, nullptr, nullptr);
    NoDelay(fd);
    std::string in(up, '\0'), out(down, 'r');
    while (ReadN(fd, in.data(), up) && WriteN(fd, out.data(), down)) {
    }
    ::close(fd);
  });
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  NoDelay(fd);
  std::string out(up, 'q'), in(down, '\0');
  TimePairs(
      state, "tcp_raw", [&] { return WriteN(fd, out.data(), up) && ReadN(fd, in.data(), down); },
      "tcp_call", [&] { return CallThrough(client); });
  ::close(fd);
  peer.join();
  ::close(lfd);
}

// ---- tls ------------------------------------------------------------------

void BM_Tls(benchmark::State& state) {
  SameCpu sameCpu;
  TestCerts certs;
  if (!certs.ok()) return state.SkipWithError("no certificates (openssl)");
  std::string error;
  tmclient::TcpServerOptions options{.workers = 2};
  options.layer = tmclient::MakeTlsServerLayer(certs.good.cert, certs.good.key, error);
  if (!options.layer) return state.SkipWithError(error.c_str());
  auto handler = [](const std::string&, const std::string&, std::string_view r, std::string& out) {
    return Serve(r, out);
  };
  tmclient::TcpServer tls(handler, options);
  tmclient::TcpServer tcp(handler, {.workers = 2});
  if (!tls.Start() || !tcp.Start()) return state.SkipWithError("cannot listen");
  ::setenv("TMCLIENT_BROKER_BENCHTLS",
           ("tls://127.0.0.1:" + std::to_string(tls.port()) + "?ca=" + certs.caFile).c_str(), 1);
  ::setenv("TMCLIENT_BROKER_BENCHTLSTCP", ("tcp://127.0.0.1:" + std::to_string(tcp.port())).c_str(),
           1);
  CTmdClientObject tlsClient, tcpClient;
  if (tlsClient.bind_openBroker("BENCHTLS") != 0 || tcpClient.bind_openBroker("BENCHTLSTCP") != 0)
    return state.SkipWithError("cannot bind");
  TimePairs(
      state, "tls_tcp_call", [&] { return CallThrough(tcpClient); }, "tls_call",
      [&] { return CallThrough(tlsClient); });
}

// ---- nats -----------------------------------------------------------------

pid_t gNatsPid = -1;
std::string gNatsUrl;

uint16_t FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

bool StartNats() {
  uint16_t port = FreePort();
  std::string p = std::to_string(port);
  gNatsPid = ::fork();
  if (gNatsPid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::execlp("nats-server", "nats-server", "-a", "127.0.0.1", "-p", p.c_str(), nullptr);
    ::_exit(127);
  }
  gNatsUrl = "nats://127.0.0.1:" + p;
  for (int i = 0; i < 200; ++i) {
    natsConnection* nc = nullptr;
    if (natsConnection_ConnectTo(&nc, gNatsUrl.c_str()) == NATS_OK) {
      natsConnection_Destroy(nc);
      return true;
    }
    if (::waitpid(gNatsPid, nullptr, WNOHANG) == gNatsPid) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

void StopNats() {
  if (gNatsPid > 0) {
    ::kill(gNatsPid, SIGTERM);
    ::waitpid(gNatsPid, nullptr, 0);
  }
}

natsConnection* ConnectAsap() {
  natsOptions* o = nullptr;
  natsOptions_Create(&o);
  natsOptions_SetURL(o, gNatsUrl.c_str());
  natsOptions_SetSendAsap(o, true);
  natsConnection* nc = nullptr;
  natsConnection_Connect(&nc, o);
  natsOptions_Destroy(o);
  return nc;
}

void BM_Nats(benchmark::State& state) {
  if (gNatsPid <= 0) return state.SkipWithError("no nats-server");
  tmclient::NatsResponder responder([](const std::string&, const std::string&, std::string_view r,
                                       std::string& out) { return Serve(r, out); },
                                    {gNatsUrl, "BENCHNATS", 2});
  if (!responder.Start()) return state.SkipWithError("responder did not start");
  ::setenv("TMCLIENT_BROKER_BENCHNATS", gNatsUrl.c_str(), 1);
  CTmdClientObject client;
  if (client.bind_openBroker("BENCHNATS") != 0) return state.SkipWithError("cannot bind");

  // The bare request/reply carries the same payloads as a nats:// call
  // (envelope and streams), with a responder that answers on the client
  // library's delivery thread and sends at once.
  const std::string up(kRequestEnvelope + RequestSize(), 'q');
  static std::string down;
  down.assign(kReplyEnvelope + ReplyBytes().size(), 'r');
  natsConnection* bareResponder = ConnectAsap();
  natsConnection* requester = ConnectAsap();
  if (!bareResponder || !requester) return state.SkipWithError("cannot connect");
  natsSubscription* sub = nullptr;
  natsConnection_Subscribe(
      &sub, bareResponder, kRawSubject.c_str(),
      [](natsConnection* nc, natsSubscription*, natsMsg* m, void*) {
        natsConnection_Publish(nc, natsMsg_GetReply(m), down.data(), static_cast<int>(down.size()));
        natsMsg_Destroy(m);
      },
      nullptr);
  natsConnection_Flush(bareResponder);
  TimePairs(
      state, "nats_raw",
      [&] {
        natsMsg* reply = nullptr;
        natsStatus s = natsConnection_Request(&reply, requester, kRawSubject.c_str(), up.data(),
                                              static_cast<int>(up.size()), 5000);
        bool ok = s == NATS_OK && natsMsg_GetDataLength(reply) == static_cast<int>(down.size());
        natsMsg_Destroy(reply);
        return ok;
      },
      "nats_call", [&] { return CallThrough(client); });
  natsSubscription_Destroy(sub);
  natsConnection_Destroy(requester);
  natsConnection_Destroy(bareResponder);
}

// ---- auth -----------------------------------------------------------------

std::vector<double> gSignInMs, gSignInLdapMs;
constexpr int kSignIns = 7;

// The private directory of scripts/ldap-start, in a folder of the bench's
// own, stopped with the object; the directory half is left out when it does
// not start.
struct LdapEnv {
  explicit LdapEnv(const std::string& dir) : strDir(dir) {
    ::setenv("MPAY_LDAP_DIR", dir.c_str(), 1);
    bStarted = std::system(("bash " MPAY_SOURCE_PATH "/scripts/ldap-start >/dev/null")) == 0;
  }
  ~LdapEnv() {
    // A directory that fails to stop is reported by the script itself.
    if (bStarted &&
        std::system("bash " MPAY_SOURCE_PATH "/scripts/ldap-stop --remove >/dev/null") != 0)
      std::fprintf(stderr, "ldap-stop failed\n");
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(strDir + "/" + name);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.substr(0, name == "map.conf" ? text.size() : text.find('\n'));
  }
  std::unique_ptr<backoffice::Directory> Open() const {
    backoffice::DirectoryConfig c;
    c.uri = Read("ldaps-uri");
    c.caFile = strDir + "/ca.pem";
    c.bindDn = "cn=reader,dc=mpay,dc=test";
    c.bindPassword = Read("reader.password");
    if (!backoffice::ParseDirectoryMap(Read("map.conf"), "map.conf", c.map).empty()) return nullptr;
    return backoffice::MakeLdapDirectory(std::move(c));
  }
  std::string strDir;
  bool bStarted = false;
};

// Signs in over the wire `kSignIns` times, as the host does, each timed into
// `ms`; false when one fails.
bool TimedSignIns(const char* login, const char* password, std::vector<double>& ms,
                  std::string& error) {
  for (int i = 0; i < kSignIns; ++i) {
    MSysmgntDef::SOperator op;
    MSysmgntDef::SSessionInfo session;
    QRSErrorMsg err;
    const auto t0 = Clock::now();
    const int rc = service::SignIn("BENCHAUTH", login, password, "127.0.0.1", op, session, err);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (rc != 0) {
      error = std::string("sign-in of ") + login + " failed: " + std::to_string(rc);
      return false;
    }
  }
  return true;
}

// A demo database with its operators, and the back office's service on it
// twice: verifying every call's session and right, and with --auth off.
// Made once: adding the operators hashes their passwords. With the private
// directory, its operator alice signs in too, and her session is the one
// the calls carry (a directory operator's calls check the same session).
struct AuthEnv {
  TempDir cDir;
  LdapEnv cLdap{cDir.File("ldap")};
  std::unique_ptr<backoffice::Directory> pDirectory;
  std::string strPhone;  // a phone number with one user
  std::unique_ptr<backoffice::SqliteOperatorStore> pOperators;
  std::unique_ptr<backoffice::Authenticator> pAuth;
  std::unique_ptr<backoffice::Service> pVerifying, pOpen;
  std::unique_ptr<backoffice::Endpoint> pVerifyingEnd, pOpenEnd;
  std::string strSession;

  bool Start(std::string& error) {
    const std::string db = cDir.File("demo.db");
    backoffice::DemoOptions demo;
    demo.rows = 2000;
    backoffice::GenerateDemo(db, demo);
    pOperators = std::make_unique<backoffice::SqliteOperatorStore>(db);
    backoffice::AddDemoOperators(*pOperators);
    {
      backoffice::Database d(db, backoffice::Database::Mode::kReadOnly);
      backoffice::Statement one =
          d.Prepare("SELECT phone_id FROM mp_user GROUP BY phone_id HAVING count(*) = 1 LIMIT 1");
      if (!one.Step()) {
        error = "no phone number with one user";
        return false;
      }
      strPhone = std::string(one.Text(0));
    }
    if (cLdap.bStarted) pDirectory = cLdap.Open();
    pAuth = std::make_unique<backoffice::Authenticator>(
        *pOperators, backoffice::AuthPolicy(), backoffice::SystemClock(), pDirectory.get());
    backoffice::ServiceConfig config;
    config.dbPath = db;
    config.connections = 2;
    pVerifying = std::make_unique<backoffice::Service>(config, nullptr, pAuth.get());
    pOpen = std::make_unique<backoffice::Service>(config, nullptr);
    pVerifyingEnd = backoffice::MakeTcpEndpoint("tcp://127.0.0.1:0", 2, *pVerifying);
    pOpenEnd = backoffice::MakeTcpEndpoint("tcp://127.0.0.1:0", 2, *pOpen);
    if (!pVerifyingEnd->Start(error) || !pOpenEnd->Start(error)) return false;
    ::setenv("TMCLIENT_BROKER_BENCHAUTH", pVerifyingEnd->Describe().c_str(), 1);
    ::setenv("TMCLIENT_BROKER_BENCHNOAUTH", pOpenEnd->Describe().c_str(), 1);

    if (!TimedSignIns(backoffice::kDemoLogin, backoffice::kDemoPassword, gSignInMs, error))
      return false;
    if (pDirectory && !TimedSignIns("alice", "alice-Pass-2026", gSignInLdapMs, error)) return false;
    strSession = tmclient::CurrentSession();
    tmclient::SetSession("");
    return true;
  }
  ~AuthEnv() {
    if (pVerifyingEnd) pVerifyingEnd->Stop();
    if (pOpenEnd) pOpenEnd->Stop();
  }
};
AuthEnv* gAuthEnv = nullptr;

void BM_Auth(benchmark::State& state) {
  SameCpu sameCpu;
  if (!gAuthEnv) {
    gAuthEnv = new AuthEnv;
    std::string error;
    if (!gAuthEnv->Start(error)) {
      delete gAuthEnv;
      gAuthEnv = nullptr;
      return state.SkipWithError(error.c_str());
    }
  }
  // Both calls carry the session: the service with --auth off ignores it.
  tmclient::SetSession(gAuthEnv->strSession);
  CTmdClientObject verified, open;
  if (verified.bind_openBroker("BENCHAUTH") != 0 || open.bind_openBroker("BENCHNOAUTH") != 0)
    return state.SkipWithError("cannot bind");
  const std::string& phone = gAuthEnv->strPhone;
  TimePairs(
      state, "noauth_call", [&] { return CallThrough(open, phone); }, "auth_call",
      [&] { return CallThrough(verified, phone); });
  tmclient::SetSession("");
}

BENCHMARK(BM_Tcp)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Tls)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Nats)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Auth)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  bool nats = StartNats();
  if (!nats) std::fprintf(stderr, "bench_roundtrip: nats-server did not start; NATS skipped\n");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  StopNats();
  delete gAuthEnv;

  std::printf("roundtrip_request_bytes: %zu\n", RequestSize());
  std::printf("roundtrip_reply_bytes: %zu\n", ReplyBytes().size());
  for (const char* name : {"tcp_raw", "tcp_call", "tls_tcp_call", "tls_call", "nats_raw",
                           "nats_call", "noauth_call", "auth_call"}) {
    if (!gP50.count(name)) continue;
    std::printf("%s_p50_us: %.1f\n%s_p99_us: %.1f\n", name, gP50[name], name, gP99[name]);
  }
  bench::PrintRounds("tcp_call_vs_raw_p50", gRoundRatios["tcp_call"]);
  bench::PrintRounds("nats_call_vs_raw_p50", gRoundRatios["nats_call"]);
  bench::PrintRounds("tls_call_vs_tcp_p50", gRoundRatios["tls_call"]);
  bench::PrintRounds("auth_call_vs_noauth_p50", gRoundRatios["auth_call"]);
  // No target: the hash check is slow on purpose.
  bench::PrintRounds("signin_ms", gSignInMs, 0);
  if (!gSignInLdapMs.empty()) bench::PrintRounds("signin_ldap_ms", gSignInLdapMs, 0);
  return 0;
}
