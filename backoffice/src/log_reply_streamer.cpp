#include "backoffice/log_reply_streamer.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <string_view>
#include <thread>
#include <vector>

#include "backoffice/block_queue.h"
#include "backoffice/protocol.h"
#include "records/mmicropaymentdef.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/service_handler.h"
#include "tmclient/tmb_stream.h"

// Two threads: the caller's reads the rows into blocks, the streamer's own
// encodes each full block into a part and hands it to the writer. Blocks go
// from one to the other through a BlockQueue; either thread may find the
// reply failed (too many rows, too large, the client gone), and the first
// failure, in one atomic, stops them both.

namespace backoffice {
namespace {

using Outcome = LogReplyStreamer::Outcome;

// Blocks in flight between the rows being read and the parts being sent,
// the one being filled included; the reader waits when the sending falls
// that far behind.
constexpr int kMaxBlocks = 4;

// The start of the log reply: the stream's name and the list header with
// its count, of a size that does not depend on the count.
bool LogReplyHead(tmb_stream& s, int64_t rows) {
  s.open();
  s.begin_stream(kLogReplyStream);
  s.begin_write_list(MMicroPaymentDef::kSMpInfoListName, static_cast<int>(rows));
  return !s.failed();
}

// Turns blocks into parts of the reply and hands them to the writer. Used by
// one thread at a time: the encoding thread while it runs, then the reading
// thread for the last part.
class PartEncoder {
 public:
  PartEncoder(tmb_stream& part, tmclient::ReplyWriter& writer) : sPart(part), cWriter(writer) {
    tmb_stream head;
    iTotal = LogReplyHead(head, 0) ? head.bytes().size() : tmb_stream::kMaxFrameSize;
    sPart.open();
  }

  // Encodes the rows of `block` into the part: each unpacked into the
  // record, then written as the record.
  void Encode(const LogRows& block) {
    for (std::size_t i = 0; i < block.size(); ++i) {
      block.Get(i, sInfo);
      sPart << sInfo;
    }
  }

  tmb_stream& part() { return sPart; }

  // Hands the part to the writer, beginning the streamed reply first if
  // needed, and starts the next part. kSent when the writer took it.
  Outcome Send() {
    Outcome o = Outcome::kSent;
    // A reply larger than a frame may be asks the operator to narrow the
    // query just as too many rows do.
    const std::string_view bytes = sPart.written();
    if (sPart.failed() || bytes.size() > tmb_stream::kMaxFrameSize - iTotal) {
      o = Outcome::kTooManyRows;
    } else if (!(bBegun || (bBegun = cWriter.Begin(iTotal))) || !cWriter.Append(bytes)) {
      o = Outcome::kNotSent;
    }
    iTotal += bytes.size();
    sPart.open();
    return o;
  }

  // The reply was sent in parts: Finish() must supply its head.
  bool streamed() const { return bBegun; }
  tmclient::ReplyWriter& writer() { return cWriter; }

 private:
  tmb_stream& sPart;
  tmclient::ReplyWriter& cWriter;
  std::size_t iTotal = 0;           // bytes of the reply so far, its head included
  bool bBegun = false;              // the writer has begun the streamed reply
  MMicroPaymentDef::SMpInfo sInfo;  // reused for every row
};

}  // namespace

class LogReplyStreamer::Impl {
 public:
  Impl(tmb_stream& part, tmclient::ReplyWriter& writer, int64_t maxRows)
      : iMaxRows(std::min<int64_t>(maxRows, INT32_MAX)),
        pFilling(std::make_unique<LogRows>()),
        cEncoder(part, writer) {
    sStat.set_DEPOSIT_COUNT(0);
    sStat.set_DEPOSIT_SUM(0);
    sStat.set_WITHDRAW_COUNT(0);
    sStat.set_WITHDRAW_SUM(0);
  }
  ~Impl() { Drain(); }

  LogRows& Rows() { return *pFilling; }

  bool Added() {
    if (++iRows > iMaxRows) Fail(Outcome::kTooManyRows);
    // Texts beyond the frame limit could never be sent.
    LogRows& b = *pFilling;
    if (b.textBytes() > tmb_stream::kMaxFrameSize) Fail(Outcome::kTooManyRows);
    if (failed()) return false;
    const std::size_t last = b.size() - 1;
    const int64_t busiCode = b.Int(last, iBusiCode), amount = b.Int(last, iAmount);
    if (busiCode == kDepositBusiCode) {
      ++sStat.DEPOSIT_COUNT;
      sStat.DEPOSIT_SUM += amount;
    } else if (busiCode == kWithdrawBusiCode) {
      // Withdrawals are stored as negative amounts; the total is their size.
      ++sStat.WITHDRAW_COUNT;
      sStat.WITHDRAW_SUM -= amount;
    }
    if (b.size() < static_cast<std::size_t>(kPartRows)) return true;
    // A full block goes to the encoding thread, started with the first one.
    if (!tEncoder.joinable()) tEncoder = std::thread([this] { Run(); });
    pFilling = qBlocks.Push(std::move(pFilling));
    pFilling->Clear();
    return true;
  }

  Outcome Finish(std::string& reply) {
    const bool streamed = tEncoder.joinable();
    Drain();
    // The encoder is this thread's now: the last rows and the rest of the
    // reply.
    tmb_stream& part = cEncoder.part();
    if (!failed()) {
      cEncoder.Encode(*pFilling);
      part.end_write_list();
      part << sStat;
      part << 0;
      part << QRSErrorMsg();
      part.end_stream();
      if (part.failed()) Fail(Outcome::kTooManyRows);
    }
    tmb_stream head;
    if (!failed() && !LogReplyHead(head, iRows)) Fail(Outcome::kTooManyRows);
    if (failed()) return aOutcome;
    if (!streamed) {
      // A reply that fits in one part goes whole.
      const std::string_view bytes = part.written();
      reply.reserve(head.bytes().size() + bytes.size());
      reply.assign(head.bytes()).append(bytes);
      return Outcome::kSent;
    }
    if (Fail(cEncoder.Send())) return aOutcome;
    if (!cEncoder.writer().Finish(head.bytes())) Fail(Outcome::kNotSent);
    return aOutcome;
  }

  int64_t rows() const { return iRows; }

 private:
  bool failed() const { return aOutcome.load(std::memory_order_relaxed) != Outcome::kSent; }
  // Records the first failure; true when `o` is one.
  bool Fail(Outcome o) {
    Outcome none = Outcome::kSent;
    aOutcome.compare_exchange_strong(none, o);
    return o != Outcome::kSent;
  }

  // The encoding thread: sends each full block handed over; once the reply
  // failed it only gives the blocks back.
  void Run() {
    while (std::unique_ptr<LogRows> block = qBlocks.Pop()) {
      if (!failed()) {
        // Nothing may leave a thread's function: what the encoding or the
        // writer throws (out of memory, most likely) fails the reply, as it
        // would on the request's own thread.
        try {
          cEncoder.Encode(*block);
          Fail(cEncoder.Send());
        } catch (...) {
          Fail(Outcome::kFailed);
        }
      }
      qBlocks.Recycle(std::move(block));
    }
  }

  // Waits for the encoding thread to send every block handed over, and ends it.
  void Drain() {
    if (!tEncoder.joinable()) return;
    qBlocks.Close();
    tEncoder.join();
  }

  // What the two threads write row after row lies on cache lines of its own,
  // so that neither keeps taking the other's line away.
  static constexpr std::size_t kCacheLine = 64;

  // The reading thread.
  const int64_t iMaxRows;
  // Where the totals' fields are in a row.
  const int iBusiCode = LogRows::FieldIndex(&MMicroPaymentDef::SMpInfo::BUSI_CODE);
  const int iAmount = LogRows::FieldIndex(&MMicroPaymentDef::SMpInfo::AMOUNT);
  int64_t iRows = 0;
  MMicroPaymentDef::SMpAcctStatInfo sStat;
  std::unique_ptr<LogRows> pFilling;  // the block the store fills
  // Both.
  alignas(kCacheLine) std::atomic<Outcome> aOutcome{Outcome::kSent};  // kSent: no failure yet
  BlockQueue<LogRows> qBlocks{kMaxBlocks - 1};
  std::thread tEncoder;
  // The encoding thread.
  alignas(kCacheLine) PartEncoder cEncoder;
};

LogReplyStreamer::LogReplyStreamer(tmb_stream& part, tmclient::ReplyWriter& writer, int64_t maxRows)
    : pImpl(std::make_unique<Impl>(part, writer, maxRows)) {}

LogReplyStreamer::~LogReplyStreamer() = default;

LogRows& LogReplyStreamer::Block() {
  return pImpl->Rows();
}

bool LogReplyStreamer::Added() {
  return pImpl->Added();
}

LogReplyStreamer::Outcome LogReplyStreamer::Finish(std::string& reply) {
  return pImpl->Finish(reply);
}

int64_t LogReplyStreamer::rows() const {
  return pImpl->rows();
}

}  // namespace backoffice
