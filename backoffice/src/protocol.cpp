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

void LogRowBuffer::Clear() {
  vRows.clear();
  strText.clear();
  bOverflow = false;
  sStat = MMicroPaymentDef::SMpAcctStatInfo();
  sStat.set_DEPOSIT_COUNT(0);
  sStat.set_DEPOSIT_SUM(0);
  sStat.set_WITHDRAW_COUNT(0);
  sStat.set_WITHDRAW_SUM(0);
}

void LogRowBuffer::Row(const LogRow& r) {
  // Texts beyond the frame limit could never be sent; stopping there also
  // keeps the 32-bit offsets valid.
  const std::size_t bytes = r.PHONE_ID.size() + r.MPP_TRANSACTION_ID.size() + r.REMARK.size();
  if (bOverflow || bytes > tmb_stream::kMaxFrameSize - strText.size()) {
    bOverflow = true;
    return;
  }
  vRows.push_back({r.SO_NBR, r.SO_DATE, r.BUSI_CODE, r.AMOUNT,
                   static_cast<uint32_t>(strText.size()), static_cast<uint32_t>(r.PHONE_ID.size()),
                   static_cast<uint32_t>(r.MPP_TRANSACTION_ID.size()),
                   static_cast<uint32_t>(r.REMARK.size())});
  strText.append(r.PHONE_ID).append(r.MPP_TRANSACTION_ID).append(r.REMARK);
  if (r.BUSI_CODE == kDepositBusiCode) {
    ++sStat.DEPOSIT_COUNT;
    sStat.DEPOSIT_SUM += r.AMOUNT;
  } else if (r.BUSI_CODE == kWithdrawBusiCode) {
    // Withdrawals are stored as negative amounts; the total is their size.
    ++sStat.WITHDRAW_COUNT;
    sStat.WITHDRAW_SUM -= r.AMOUNT;
  }
}

bool LogRowBuffer::Encode(tmb_stream& s, std::string& out) const {
  if (bOverflow || vRows.size() > static_cast<std::size_t>(INT32_MAX)) return false;
  s.open();
  s.begin_stream(kLogReplyStream);
  // The list writer's framing, with each row written through one reused record.
  s.begin_write_list(MMicroPaymentDef::kSMpInfoListName, static_cast<int>(vRows.size()));
  MMicroPaymentDef::SMpInfo info;
  info.Marker = info.UsedMarker = (uint64_t{1} << MMicroPaymentDef::SMpInfo::kFieldCount) - 1;
  for (const Slot& r : vRows) {
    const char* text = strText.data() + r.text;
    info.SO_NBR = r.SO_NBR;
    info.BUSI_CODE = r.BUSI_CODE;
    info.PHONE_ID.assign(text, r.phoneLen);
    info.AMOUNT = r.AMOUNT;
    info.MPP_TRANSACTION_ID.assign(text + r.phoneLen, r.serialLen);
    info.MPP_TIME = FromStamp(r.SO_DATE);
    info.REMARK.assign(text + r.phoneLen + r.serialLen, r.remarkLen);
    s << info;
  }
  s.end_write_list();
  s << sStat;
  s << 0;
  s << QRSErrorMsg();
  if (!s.end_stream() || s.failed()) return false;
  out = s.bytes();
  return true;
}

}  // namespace backoffice
