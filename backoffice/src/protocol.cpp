#include "backoffice/protocol.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "tmclient/tmb_stream.h"

namespace backoffice {
namespace {

template <class First, class Second>
bool DecodeRequest(std::string_view bytes, const char* streamName, First& first, Second& second) {
  if (bytes.size() > kMaxRequestBytes) return false;
  tmb_stream in;
  in.load(bytes);
  if (in.failed() || !in.begin_stream(streamName)) return false;
  in >> first;
  if (in.failed()) return false;
  in >> second;
  if (in.failed()) return false;
  return in.end_stream() && !in.failed();
}

void TakeBytes(tmb_stream& s, std::string& out) {
  if (!s.end_stream()) {
    out.clear();
    return;
  }
  out = s.bytes();
}

}  // namespace

bool DecodeLogRequest(std::string_view bytes, LogRequest& r) {
  return DecodeRequest(bytes, kLogRequestStream, r.sIn, r.sSoInfo);
}

bool DecodeUserRequest(std::string_view bytes, UserRequest& r) {
  return DecodeRequest(bytes, kUserRequestStream, r.sIn, r.sSoInfo);
}

int64_t ToStamp(const QRSDateTime& t) {
  if (t.isNull()) return 0;
  return t.year() * 10000000000LL + t.month() * 100000000LL + t.day() * 1000000LL +
         t.hour() * 10000LL + t.minute() * 100LL + t.second();
}

QRSDateTime FromStamp(int64_t stamp) {
  if (stamp <= 0) return QRSDateTime();
  return QRSDateTime(static_cast<int>(stamp / 10000000000LL),
                     static_cast<int>(stamp / 100000000 % 100),
                     static_cast<int>(stamp / 1000000 % 100), static_cast<int>(stamp / 10000 % 100),
                     static_cast<int>(stamp / 100 % 100), static_cast<int>(stamp % 100));
}

LogConditions ToConditions(const MCustQryAccept::SQuerySoInfoListIn& sIn) {
  LogConditions c;
  c.SO_NBR = sIn.SO_NBR;
  c.BUSI_CODE = sIn.BUSI_CODE;
  c.PHONE_ID = sIn.PHONE_ID;
  c.BEGIN_SO_DATE = ToStamp(sIn.BEGIN_SO_DATE);
  c.END_SO_DATE = ToStamp(sIn.END_SO_DATE);
  return c;
}

std::string MaskedPassword(bool stored) {
  return stored ? "******" : "";
}

void EncodeLogReply(const MMicroPaymentDef::SMpInfoList& list,
                    const MMicroPaymentDef::SMpAcctStatInfo& stat, int iReturnInfo,
                    const QRSErrorMsg& cErrorMsg, std::string& out) {
  tmb_stream s;
  s.open();
  s.begin_stream(kLogReplyStream);
  s << list << stat;
  s << iReturnInfo;
  s << cErrorMsg;
  TakeBytes(s, out);
}

void EncodeUserReply(const MMicroPaymentDef::SMpUserInfoList& list, const QRSErrorMsg& cErrorMsg,
                     std::string& out) {
  tmb_stream s;
  s.open();
  s.begin_stream(kUserReplyStream);
  s << list;
  s << cErrorMsg;
  TakeBytes(s, out);
}

namespace {

// The start of the log reply: the stream's name and the list header with
// its count, of a size that does not depend on the count.
bool LogReplyHead(tmb_stream& s, int64_t rows) {
  s.open();
  s.begin_stream(kLogReplyStream);
  s.begin_write_list(MMicroPaymentDef::kSMpInfoListName, static_cast<int>(rows));
  return !s.failed();
}

}  // namespace

LogReplyStreamer::LogReplyStreamer(tmb_stream& part, tmclient::ReplyWriter& writer, int64_t maxRows)
    : sPart(part), cWriter(writer), iMaxRows(std::min<int64_t>(maxRows, INT32_MAX)) {
  sInfo.Marker = sInfo.UsedMarker = (uint64_t{1} << MMicroPaymentDef::SMpInfo::kFieldCount) - 1;
  sStat.set_DEPOSIT_COUNT(0);
  sStat.set_DEPOSIT_SUM(0);
  sStat.set_WITHDRAW_COUNT(0);
  sStat.set_WITHDRAW_SUM(0);
  tmb_stream head;
  iTotal = LogReplyHead(head, 0) ? head.bytes().size() : tmb_stream::kMaxFrameSize;
  sPart.open();
}

void LogReplyStreamer::Row(const LogRow& r) {
  if (++iRows > iMaxRows) bTooMany = true;
  if (bTooMany || bNotSent) return;
  sInfo.SO_NBR = r.SO_NBR;
  sInfo.BUSI_CODE = r.BUSI_CODE;
  sInfo.PHONE_ID.assign(r.PHONE_ID);
  sInfo.AMOUNT = r.AMOUNT;
  sInfo.MPP_TRANSACTION_ID.assign(r.MPP_TRANSACTION_ID);
  sInfo.MPP_TIME = FromStamp(r.SO_DATE);
  sInfo.REMARK.assign(r.REMARK);
  sPart << sInfo;
  if (r.BUSI_CODE == kDepositBusiCode) {
    ++sStat.DEPOSIT_COUNT;
    sStat.DEPOSIT_SUM += r.AMOUNT;
  } else if (r.BUSI_CODE == kWithdrawBusiCode) {
    // Withdrawals are stored as negative amounts; the total is their size.
    ++sStat.WITHDRAW_COUNT;
    sStat.WITHDRAW_SUM -= r.AMOUNT;
  }
  if (++iPartRows == kPartRows) Flush();
}

void LogReplyStreamer::Flush() {
  // A reply larger than a frame may be asks the operator to narrow the query
  // just as too many rows do.
  const std::string& bytes = sPart.bytes();
  if (sPart.failed() || bytes.size() > tmb_stream::kMaxFrameSize - iTotal) {
    bTooMany = true;
  } else if (!(bBegun || (bBegun = cWriter.Begin(iTotal))) || !cWriter.Append(bytes)) {
    bNotSent = true;
  }
  iTotal += bytes.size();
  iPartRows = 0;
  sPart.open();
}

LogReplyStreamer::Outcome LogReplyStreamer::Finish(std::string& reply) {
  if (!bTooMany && !bNotSent) {
    sPart.end_write_list();
    sPart << sStat;
    sPart << 0;
    sPart << QRSErrorMsg();
    sPart.end_stream();
    if (sPart.failed()) bTooMany = true;
  }
  if (!bTooMany && !bNotSent) {
    tmb_stream head;
    if (!LogReplyHead(head, iRows)) {
      bTooMany = true;
    } else if (!bBegun) {
      // A reply that fits in one part goes whole.
      reply.reserve(head.bytes().size() + sPart.bytes().size());
      reply.assign(head.bytes()).append(sPart.bytes());
    } else {
      Flush();
      if (!bTooMany && !bNotSent && !cWriter.Finish(head.bytes())) bNotSent = true;
    }
  }
  if (bTooMany) return Outcome::kTooManyRows;
  return bNotSent ? Outcome::kNotSent : Outcome::kSent;
}

}  // namespace backoffice
