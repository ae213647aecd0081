#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "tmclient/tmb_stream.h"

// The far end of the proxies in these tests: the transport scheme
// "svctest://" whose transports hand every call to the handler installed
// here. A handler can answer like a server, return any code, or throw.
namespace far_end {

using Handler = std::function<int(const std::string& interfaceName, const std::string& serviceCode,
                                  std::string_view request, std::string& reply)>;

struct Call {
  std::string interfaceName, serviceCode, request;
};

// Installs `handler` for later calls (an empty one answers -9971).
void Answer(Handler handler);
// Every call made since the last Reset, in order.
const std::vector<Call>& Calls();
// Forgets the calls and the handler.
void Reset();
// svctest transports opened so far, and those still alive.
int OpenedTransports();
int LiveTransports();

// Points the broker name at the svctest far end.
void RouteBroker(const std::string& brokerName);

// A reply frame: the stream begin named `streamName`, what `body` writes, and
// the stream end unless `withEnd` is false.
std::string Frame(const std::string& streamName, const std::function<void(tmb_stream&)>& body,
                  bool withEnd = true);

// The request of a query as the far end decodes it with the records' readers.
// False when the frame does not read cleanly.
bool DecodeSoList(std::string_view request, MCustQryAccept::SQuerySoInfoListIn& sIn,
                  MCustQryAccept::SQueryLogSoInfo& sSoInfo);
bool DecodeFetch(std::string_view request, MCustQryAccept::SFetchInfoIn& sIn,
                 MCustQryAccept::SQueryLogSoInfo& sSoInfo);

bool DecodeExport(std::string_view request, MCustQryAccept::SListExportIn& sIn,
                  MCustQryAccept::SQueryLogSoInfo& sSoInfo);

// Realistic reply rows, different for each `i`.
MMicroPaymentDef::SMpInfo SampleInfo(int i);
MMicroPaymentDef::SMpUserInfo SampleUser(int i);

inline constexpr const char kSoListOut[] =
    "busiordmgnt.MCustQryAccept.IBusiOrdmgnt.query_mpSoList.ParamOut";
inline constexpr const char kUserOut[] =
    "custqryaccept.MCustQryAccept.ICustQryAccept.query_mppUser.ParamOut";

inline constexpr const char kExportOut[] =
    "busiordmgnt.MCustQryAccept.IBusiOrdmgnt.record_listExport.ParamOut";

}  // namespace far_end
