#include "backoffice/protocol.h"

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

LogReplyWriter::LogReplyWriter(tmb_stream& stream, int64_t count) : stream_(stream), count_(count) {
  stream_.open();
  stream_.begin_stream(kLogReplyStream);
  // The framing of the list writer, with the rows coming one by one.
  stream_.begin_write_list(MMicroPaymentDef::kSMpInfoListName,
                           count > INT32_MAX ? -1 : static_cast<int>(count));
  info_.Marker = info_.UsedMarker = (uint64_t{1} << MMicroPaymentDef::SMpInfo::kFieldCount) - 1;
  stat_.set_DEPOSIT_COUNT(0);
  stat_.set_DEPOSIT_SUM(0);
  stat_.set_WITHDRAW_COUNT(0);
  stat_.set_WITHDRAW_SUM(0);
}

void LogReplyWriter::Row(const LogRow& r) {
  ++rows_;
  info_.SO_NBR = r.SO_NBR;
  info_.BUSI_CODE = r.BUSI_CODE;
  info_.PHONE_ID.assign(r.PHONE_ID);
  info_.AMOUNT = r.AMOUNT;
  info_.MPP_TRANSACTION_ID.assign(r.MPP_TRANSACTION_ID);
  info_.MPP_TIME = FromStamp(r.SO_DATE);
  info_.REMARK.assign(r.REMARK);
  stream_ << info_;
  if (r.BUSI_CODE == kDepositBusiCode) {
    ++stat_.DEPOSIT_COUNT;
    stat_.DEPOSIT_SUM += r.AMOUNT;
  } else if (r.BUSI_CODE == kWithdrawBusiCode) {
    // Withdrawals are stored as negative amounts; the total is their size.
    ++stat_.WITHDRAW_COUNT;
    stat_.WITHDRAW_SUM -= r.AMOUNT;
  }
}

bool LogReplyWriter::Finish(std::string& out) {
  if (rows_ != count_) return false;
  stream_.end_write_list();
  stream_ << stat_;
  stream_ << 0;
  stream_ << QRSErrorMsg();
  if (!stream_.end_stream() || stream_.failed()) return false;
  out = stream_.bytes();
  return true;
}

}  // namespace backoffice
