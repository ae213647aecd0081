#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "backoffice/store.h"

class tmb_stream;
namespace tmclient {
class ReplyWriter;
}

namespace backoffice {

// Encodes the successful log reply as the store hands over its rows, and passes
// it on through `writer` in parts of kPartRows rows: the list, the totals of
// the deposits and withdrawals, the result and the error record, with the
// stream's start (which holds the row count) supplied last. A reply that fits
// in one part is not streamed.
//
// Rows are kept compactly in blocks on the caller's thread (no allocation
// per row), each written out as the log record it unpacks to;
// once there is more than one part, a thread of the streamer's own encodes and
// sends the parts while the caller goes on reading rows, so that the reply
// costs little more than the query. When the writer makes the encoding thread
// wait (a client that reads slowly), the rows wait too, a few parts' worth
// at most.
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

  LogRows& Block() override;
  // False once the reply has failed: the rows after it are not wanted.
  bool Added() override;

  enum class Outcome {
    kSent,         // the reply is complete
    kTooManyRows,  // more rows than maxRows, or a reply larger than a frame
    kNotSent,      // the writer refused the bytes: the client is gone
    kFailed,       // the encoding thread failed (out of memory)
  };
  // Completes the reply after the last row. A reply of one part is not
  // streamed: it goes whole into `reply`.
  Outcome Finish(std::string& reply);
  // Rows handed over so far, the one beyond the limit included.
  int64_t rows() const;

 private:
  class Impl;
  std::unique_ptr<Impl> pImpl;
};

}  // namespace backoffice
