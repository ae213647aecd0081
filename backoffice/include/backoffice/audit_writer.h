#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "backoffice/stamp.h"

namespace backoffice {

// Who asked what, and when. With sign-in required, OP_ID, SO_ORG_ID and
// login are the verified operator's (0 and "" when the call was refused
// before one was known), and declaredOpId is the OP_ID the request claimed
// when it differs (else 0). With --auth off login stays "" and OP_ID and
// SO_ORG_ID are what the request declared.
struct AuditEntry {
  int64_t at = 0;  // yyyymmddhhmmss, local time
  int32_t OP_ID = 0;
  std::string OP_ADDRESS;  // as the request declares it
  int32_t SO_ORG_ID = 0;
  std::string login;
  int32_t declaredOpId = 0;
  std::string peer;  // the transport's own view of the caller (CallContext::peer)
  std::string serviceCode;
  std::string conditions;
  int64_t rowCount = 0;
  int32_t result = 0;
};

// Writes audit entries on one thread of its own, many per transaction (up to
// 1024, or what arrived within 200 ms of the first), so that a request never
// waits for the disk and the readers' caches are seldom invalidated. Entries queued before Stop()
// (or destruction) are all written. A full queue makes Submit wait rather than drop an entry.
class AuditWriter {
 public:
  // Opens its own connection to `path`; throws DbError when it cannot.
  explicit AuditWriter(const std::string& path, std::size_t maxQueued = 65536);
  ~AuditWriter();
  AuditWriter(const AuditWriter&) = delete;
  AuditWriter& operator=(const AuditWriter&) = delete;

  void Submit(AuditEntry entry);
  // Returns once every entry submitted before the call is committed.
  void Flush();
  // Writes what is queued and ends the thread. Idempotent.
  void Stop();

  // Entries that could not be written (database errors), for the logs.
  uint64_t failures() const;
  // For the metrics: entries waiting to be written, and transactions
  // committed and lost so far.
  struct Counts {
    uint64_t queued = 0;
    uint64_t batchesWritten = 0;
    uint64_t batchesFailed = 0;
  };
  Counts counts() const;

 private:
  void Run(const std::string& path);

  std::size_t iMaxQueued;
  mutable std::mutex mLock;
  std::condition_variable cvWake;      // the writer: work or stop
  std::condition_variable cvProgress;  // producers: room, or entries committed
  std::deque<AuditEntry> qEntries;
  uint64_t iSubmitted = 0;
  uint64_t iWritten = 0;  // submitted entries handled, committed or failed
  uint64_t iFailures = 0;
  uint64_t iBatchesWritten = 0;
  uint64_t iBatchesFailed = 0;
  bool bStopping = false;
  bool bOpened = false;
  bool bFinished = false;  // the thread has ended
  int iFlushing = 0;       // callers waiting in Flush()
  std::string strOpenError;
  std::thread tWriter;
};

}  // namespace backoffice
