#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "backoffice/conditions.h"
#include "backoffice/query_connection.h"
#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/service_handler.h"
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

// Encodes the successful log reply as SQLite hands over its rows, and passes
// it on through `writer` in parts of kPartRows rows: the list, the totals of
// the deposits and withdrawals, the result and the error record, with the
// stream's start (which holds the row count) supplied last. A reply that fits
// in one part is not streamed.
//
// Rows are copied compactly on the caller's thread (no allocation per row);
// once there is more than one part, a thread of the streamer's own encodes and
// sends the parts while the caller goes on reading rows, so that the reply
// costs little more than the query.
class LogReplyStreamer : public LogRowSink {
 public:
  // About 270 KB of a typical log reply.
  static constexpr int kPartRows = 2000;

  // At most `maxRows` rows are taken; more make Finish() fail with
  // kTooManyRows. `part` is the encoding buffer (a stream kept for the next
  // reply keeps its memory).
  LogReplyStreamer(tmb_stream& part, tmclient::ReplyWriter& writer, int64_t maxRows);
  // Ends the encoding thread (as Finish does) when Finish was not reached.
  ~LogReplyStreamer() override;
  LogReplyStreamer(const LogReplyStreamer&) = delete;
  LogReplyStreamer& operator=(const LogReplyStreamer&) = delete;

  void Row(const LogRow& row) override;

  enum class Outcome {
    kSent,         // the reply is complete
    kTooManyRows,  // more rows than maxRows, or a reply larger than a frame
    kNotSent,      // the writer refused the bytes: the client is gone
  };
  // Completes the reply after the last row. A reply of one part is not
  // streamed: it goes whole into `reply`.
  Outcome Finish(std::string& reply);
  // Rows handed over so far, the one beyond the limit included.
  int64_t rows() const { return iRows; }

 private:
  // Up to kPartRows rows, their texts in one buffer.
  struct Block {
    struct Slot {
      int64_t SO_NBR;
      int64_t SO_DATE;
      int32_t BUSI_CODE;
      int32_t AMOUNT;
      uint32_t phoneLen, serialLen, remarkLen;  // texts one after the other
    };
    std::vector<Slot> vRows;
    std::string strText;
  };

  // Encodes the rows of `block` into sPart.
  void EncodeRows(const Block& block);
  // Hands sPart to the writer, beginning the streamed reply first if needed.
  void SendPart();
  // The encoding thread: sends each full block handed over.
  void Run();
  // Waits for the encoding thread to send every block handed over, and ends it.
  void Drain();

  // What the two threads write row after row lies on cache lines of its own,
  // so that neither keeps taking the other's line away.
  static constexpr std::size_t kCacheLine = 64;

  tmb_stream& sPart;
  tmclient::ReplyWriter& cWriter;
  const int64_t iMaxRows;
  // The thread reading the rows.
  int64_t iRows = 0;
  MMicroPaymentDef::SMpAcctStatInfo sStat;
  std::unique_ptr<Block> pFilling;  // the block that Row() fills

  // The encoding thread (the reading thread's, once that has ended).
  alignas(kCacheLine) std::size_t iTotal = 0;  // bytes of the reply so far, its head included
  bool bBegun = false;                         // the writer has begun the streamed reply
  MMicroPaymentDef::SMpInfo sInfo;             // reused for every row

  alignas(kCacheLine) std::mutex mLock;  // guards what follows
  std::condition_variable cvWork;        // the encoder: a block, or the end
  std::condition_variable cvBlocks;      // Row(): a free block
  std::deque<std::unique_ptr<Block>> qFull;
  std::vector<std::unique_ptr<Block>> vFree;
  int iBlocks = 0;     // blocks in existence
  bool bDone = false;  // no more blocks will come
  std::atomic<bool> bTooMany{false};
  std::atomic<bool> bNotSent{false};
  std::thread tEncoder;
};

}  // namespace backoffice
