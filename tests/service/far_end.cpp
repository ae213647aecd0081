#include "far_end.h"

#include <cstdlib>
#include <memory>
#include <mutex>

#include "tmclient/broker_resolver.h"
#include "tmclient/tmd_error.h"
#include "tmclient/transport.h"

namespace far_end {

namespace {

struct State {
  Handler handler;
  std::vector<Call> calls;
  int opened = 0;
  int live = 0;
};

State& TheState() {
  static State state;
  return state;
}

class CFarEndTransport : public tmclient::Transport {
 public:
  CFarEndTransport() {
    ++TheState().opened;
    ++TheState().live;
  }
  ~CFarEndTransport() override { --TheState().live; }

  int Call(const std::string& interfaceName, const std::string& serviceCode,
           std::string_view request, std::string& reply) override {
    State& state = TheState();
    state.calls.push_back({interfaceName, serviceCode, std::string(request)});
    if (!state.handler) return tmclient::kErrTransport;
    return state.handler(interfaceName, serviceCode, request, reply);
  }
};

void InstallScheme() {
  static std::once_flag once;
  std::call_once(once, [] {
    tmclient::RegisterTransportScheme(
        "svctest", [](const std::string&, std::unique_ptr<tmclient::Transport>& out) {
          out = std::make_unique<CFarEndTransport>();
          return 0;
        });
  });
}

template <class In>
bool Decode(std::string_view request, const char* streamName, In& sIn,
            MCustQryAccept::SQueryLogSoInfo& sSoInfo) {
  tmb_stream s;
  s.load(request);
  s.begin_stream(streamName);
  s >> sIn;
  s >> sSoInfo;
  s.end_stream();
  return !s.failed();
}

}  // namespace

void Answer(Handler handler) {
  InstallScheme();
  TheState().handler = std::move(handler);
}

const std::vector<Call>& Calls() {
  return TheState().calls;
}

void Reset() {
  InstallScheme();
  TheState().handler = nullptr;
  TheState().calls.clear();
}

int OpenedTransports() {
  return TheState().opened;
}
int LiveTransports() {
  return TheState().live;
}

void RouteBroker(const std::string& brokerName) {
  InstallScheme();
  setenv(tmclient::BrokerEnvironmentVariable(brokerName).c_str(), "svctest://far", 1);
}

std::string Frame(const std::string& streamName, const std::function<void(tmb_stream&)>& body,
                  bool withEnd) {
  tmb_stream s;
  s.open();
  s.begin_stream(streamName.c_str());
  body(s);
  if (withEnd) s.end_stream();
  return std::string(s.bytes());
}

bool DecodeSoList(std::string_view request, MCustQryAccept::SQuerySoInfoListIn& sIn,
                  MCustQryAccept::SQueryLogSoInfo& sSoInfo) {
  return Decode(request, "busiordmgnt.MCustQryAccept.IBusiOrdmgnt.query_mpSoList.ParamIn", sIn,
                sSoInfo);
}

bool DecodeFetch(std::string_view request, MCustQryAccept::SFetchInfoIn& sIn,
                 MCustQryAccept::SQueryLogSoInfo& sSoInfo) {
  return Decode(request, "custqryaccept.MCustQryAccept.ICustQryAccept.query_mppUser.ParamIn", sIn,
                sSoInfo);
}

bool DecodeExport(std::string_view request, MCustQryAccept::SListExportIn& sIn,
                  MCustQryAccept::SQueryLogSoInfo& sSoInfo) {
  return Decode(request, "busiordmgnt.MCustQryAccept.IBusiOrdmgnt.record_listExport.ParamIn", sIn,
                sSoInfo);
}

MMicroPaymentDef::SMpInfo SampleInfo(int i) {
  MMicroPaymentDef::SMpInfo r;
  r.set_SO_NBR(202612070000001 + i);
  r.set_BUSI_CODE(1332 + i % 6);
  r.set_PHONE_ID("1380013" + std::to_string(8000 + i));
  r.set_AMOUNT(-1205 * (i + 1));
  r.set_MPP_TRANSACTION_ID("MPP2026120700000" + std::to_string(1000 + i));
  r.set_MPP_TIME(QRSDateTime(2026, 12, 7, 9, 30, i % 60));
  r.set_REMARK("营业厅受理");
  return r;
}

MMicroPaymentDef::SMpUserInfo SampleUser(int i) {
  MMicroPaymentDef::SMpUserInfo r;
  r.set_SERV_ID(1000000000 + i);
  r.set_PHONE_ID("1390013" + std::to_string(8000 + i));
  r.set_MP_PWD("******");
  r.set_REG_TYPE(1);
  r.set_REG_NBR("11010519491231002X");
  r.set_FEE_LIMIT(50000);
  r.set_MP_STS(1);
  r.set_MP_CREATE_DATE(QRSDateTime(2025, 1, 2, 3, 4, 5));
  r.set_MPP_TRANS_ID("T" + std::to_string(i));
  r.set_SO_NBR(202612070000001 + i);
  r.set_REMARK("开户");
  return r;
}

}  // namespace far_end
