#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "backoffice/conditions.h"
#include "backoffice/query_connection.h"
#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/tmb_stream.h"

// The two operations the back office answers, as they travel: names on the
// wire, never change.
namespace backoffice {

inline constexpr char kLogInterface[] = "MCustQryAccept_IBusiOrdmgnt";
inline constexpr char kLogServiceCode[] = "BABOMOMP";
inline constexpr char kLogRequestStream[] =
    "busiordmgnt.MCustQryAccept.IBusiOrdmgnt.query_mpSoList.ParamIn";
inline constexpr char kLogReplyStream[] =
    "busiordmgnt.MCustQryAccept.IBusiOrdmgnt.query_mpSoList.ParamOut";

inline constexpr char kUserInterface[] = "MCustQryAccept_ICustQryAccept";
inline constexpr char kUserServiceCode[] = "BACUQQMP";
inline constexpr char kUserRequestStream[] =
    "custqryaccept.MCustQryAccept.ICustQryAccept.query_mppUser.ParamIn";
inline constexpr char kUserReplyStream[] =
    "custqryaccept.MCustQryAccept.ICustQryAccept.query_mppUser.ParamOut";

// Requests larger than this are refused unread: a real one is a few hundred
// bytes.
inline constexpr std::size_t kMaxRequestBytes = 64 * 1024;

struct LogRequest {
  MCustQryAccept::SQuerySoInfoListIn sIn;
  MCustQryAccept::SQueryLogSoInfo sSoInfo;
};

struct UserRequest {
  MCustQryAccept::SFetchInfoIn sIn;
  MCustQryAccept::SQueryLogSoInfo sSoInfo;
};

// Decode a whole request stream: its name, both records, its end and
// nothing after it. False on any fault, with the records partly filled.
bool DecodeLogRequest(std::string_view bytes, LogRequest& request);
bool DecodeUserRequest(std::string_view bytes, UserRequest& request);

// The conditions a log request carries (zero, empty and null values are
// "not a condition").
LogConditions ToConditions(const MCustQryAccept::SQuerySoInfoListIn& sIn);

// yyyymmddhhmmss of a date-time; 0 for the null one. And back.
int64_t ToStamp(const QRSDateTime& t);
QRSDateTime FromStamp(int64_t stamp);

// What the user reply shows in place of a stored transaction password.
std::string MaskedPassword(bool stored);

// Encode whole reply streams into `out` (replacing its content).
void EncodeLogReply(const MMicroPaymentDef::SMpInfoList& list,
                    const MMicroPaymentDef::SMpAcctStatInfo& stat, int iReturnInfo,
                    const QRSErrorMsg& cErrorMsg, std::string& out);
void EncodeUserReply(const MMicroPaymentDef::SMpUserInfoList& list, const QRSErrorMsg& cErrorMsg,
                     std::string& out);

// The rows of one log query, kept compactly (one text buffer for all their
// strings) so that a large reply costs no allocation per row. Reused from
// one request to the next, it keeps its memory. Totals the deposits and
// withdrawals as rows arrive.
class LogRowBuffer : public LogRowSink {
 public:
  LogRowBuffer() { Clear(); }
  // Empties it for the next query, keeping the memory.
  void Clear();
  void Row(const LogRow& row) override;
  std::size_t size() const { return vRows.size(); }
  const MMicroPaymentDef::SMpAcctStatInfo& totals() const { return sStat; }

  // Encodes the successful reply with every row into `out`, using `stream`
  // as the buffer (a stream kept for the next reply keeps its memory).
  // False (and `out` untouched) when the reply would be larger than a frame
  // may be.
  bool Encode(tmb_stream& stream, std::string& out) const;

 private:
  struct Slot {
    int64_t SO_NBR;
    int64_t SO_DATE;
    int32_t BUSI_CODE;
    int32_t AMOUNT;
    uint32_t text;  // offset of PHONE_ID, then MPP_TRANSACTION_ID, then REMARK in strText
    uint32_t phoneLen, serialLen, remarkLen;
  };
  std::vector<Slot> vRows;
  std::string strText;
  bool bOverflow = false;  // the texts outgrew what a frame can carry
  MMicroPaymentDef::SMpAcctStatInfo sStat;
};

}  // namespace backoffice
