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

namespace {

// Blocks in flight between the rows being read and the parts being sent; the
// reader waits when the sending falls that far behind.
constexpr int kMaxBlocks = 4;

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
  pFilling = std::make_unique<Block>();
  iBlocks = 1;
}

LogReplyStreamer::~LogReplyStreamer() {
  Drain();
}

void LogReplyStreamer::Row(const LogRow& r) {
  if (++iRows > iMaxRows) bTooMany = true;
  if (bTooMany || bNotSent) return;
  Block& b = *pFilling;
  // Texts beyond the frame limit could never be sent.
  const std::size_t bytes = r.PHONE_ID.size() + r.MPP_TRANSACTION_ID.size() + r.REMARK.size();
  if (bytes > tmb_stream::kMaxFrameSize - b.strText.size()) {
    bTooMany = true;
    return;
  }
  b.vRows.push_back(
      {r.SO_NBR, r.SO_DATE, r.BUSI_CODE, r.AMOUNT, static_cast<uint32_t>(r.PHONE_ID.size()),
       static_cast<uint32_t>(r.MPP_TRANSACTION_ID.size()), static_cast<uint32_t>(r.REMARK.size())});
  b.strText.append(r.PHONE_ID).append(r.MPP_TRANSACTION_ID).append(r.REMARK);
  if (r.BUSI_CODE == kDepositBusiCode) {
    ++sStat.DEPOSIT_COUNT;
    sStat.DEPOSIT_SUM += r.AMOUNT;
  } else if (r.BUSI_CODE == kWithdrawBusiCode) {
    // Withdrawals are stored as negative amounts; the total is their size.
    ++sStat.WITHDRAW_COUNT;
    sStat.WITHDRAW_SUM -= r.AMOUNT;
  }
  if (b.vRows.size() < static_cast<std::size_t>(kPartRows)) return;

  // A full block goes to the encoding thread; the next one is a free block,
  // a new one, or the first to come back.
  std::unique_lock lock(mLock);
  if (!tEncoder.joinable()) tEncoder = std::thread([this] { Run(); });
  qFull.push_back(std::move(pFilling));
  cvWork.notify_one();
  if (vFree.empty() && iBlocks < kMaxBlocks) {
    ++iBlocks;
    lock.unlock();
    pFilling = std::make_unique<Block>();
    return;
  }
  cvBlocks.wait(lock, [this] { return !vFree.empty(); });
  pFilling = std::move(vFree.back());
  vFree.pop_back();
  pFilling->vRows.clear();
  pFilling->strText.clear();
}

void LogReplyStreamer::EncodeRows(const Block& block) {
  const char* text = block.strText.data();
  for (const Block::Slot& r : block.vRows) {
    sInfo.SO_NBR = r.SO_NBR;
    sInfo.BUSI_CODE = r.BUSI_CODE;
    sInfo.PHONE_ID.assign(text, r.phoneLen);
    text += r.phoneLen;
    sInfo.AMOUNT = r.AMOUNT;
    sInfo.MPP_TRANSACTION_ID.assign(text, r.serialLen);
    text += r.serialLen;
    sInfo.MPP_TIME = FromStamp(r.SO_DATE);
    sInfo.REMARK.assign(text, r.remarkLen);
    text += r.remarkLen;
    sPart << sInfo;
  }
}

void LogReplyStreamer::SendPart() {
  // A reply larger than a frame may be asks the operator to narrow the query
  // just as too many rows do.
  const std::string_view bytes = sPart.written();
  if (sPart.failed() || bytes.size() > tmb_stream::kMaxFrameSize - iTotal) {
    bTooMany = true;
  } else if (!(bBegun || (bBegun = cWriter.Begin(iTotal))) || !cWriter.Append(bytes)) {
    bNotSent = true;
  }
  iTotal += bytes.size();
  sPart.open();
}

void LogReplyStreamer::Run() {
  sPart.open();
  std::unique_lock lock(mLock);
  while (true) {
    cvWork.wait(lock, [this] { return !qFull.empty() || bDone; });
    if (qFull.empty()) return;
    std::unique_ptr<Block> block = std::move(qFull.front());
    qFull.pop_front();
    lock.unlock();
    if (!bTooMany && !bNotSent) {
      EncodeRows(*block);
      SendPart();
    }
    lock.lock();
    vFree.push_back(std::move(block));
    cvBlocks.notify_one();
  }
}

void LogReplyStreamer::Drain() {
  if (!tEncoder.joinable()) return;
  {
    std::lock_guard lock(mLock);
    bDone = true;
  }
  cvWork.notify_one();
  tEncoder.join();
}

LogReplyStreamer::Outcome LogReplyStreamer::Finish(std::string& reply) {
  const bool streamed = tEncoder.joinable();
  Drain();
  if (!bTooMany && !bNotSent) {
    // The last rows and the rest of the reply, on this thread.
    sPart.open();
    EncodeRows(*pFilling);
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
    } else if (!streamed) {
      // A reply that fits in one part goes whole.
      const std::string_view bytes = sPart.written();
      reply.reserve(head.bytes().size() + bytes.size());
      reply.assign(head.bytes()).append(bytes);
    } else {
      SendPart();
      if (!bTooMany && !bNotSent && !cWriter.Finish(head.bytes())) bNotSent = true;
    }
  }
  if (bTooMany) return Outcome::kTooManyRows;
  return bNotSent ? Outcome::kNotSent : Outcome::kSent;
}

}  // namespace backoffice
