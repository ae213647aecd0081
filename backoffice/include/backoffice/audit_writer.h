#pragma once

// No <chrono> here: sources compiled to GBK include this header.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backoffice/audit_chain.h"
#include "backoffice/audit_journal.h"
#include "backoffice/clock.h"
#include "backoffice/stamp.h"

namespace backoffice {

class AuditStore;

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
  // The subscriber asked about (the phone number condition), "" for none;
  // filled from `conditions` when left empty.
  std::string subscriber;
  int64_t rowCount = 0;
  int32_t result = 0;
};

// Entries of one kind from one peer, merged so that a peer cannot grow the
// audit without bound: the first within an interval is written as it is,
// the next ones only counted, and when the interval ends one row says how
// many more came. The key is the transport's address without its port
// (which a request cannot choose, and a peer that connects again keeps),
// the service and the kind: each adds at most two rows per interval. Not
// thread-safe: its owner locks.
class AuditMerge {
 public:
  // `clock` stamps the count rows; it must outlive the object.
  explicit AuditMerge(int64_t intervalMs, const Clock& clock = SystemClock())
      : iIntervalMs(intervalMs), cClock(clock) {}
  // True when `entry` opens an interval and is to be written as it is;
  // false when it was only counted. The count of its key's interval that
  // ended before `nowMs` (steady clock) goes to `due` first.
  bool Admit(const AuditEntry& entry, const std::string& kind, int64_t nowMs,
             std::vector<AuditEntry>& due);
  // Moves the counts of the intervals ended by `nowMs` (of all, with `all`)
  // to `due`; returns when the next one ends, INT64_MAX for none.
  int64_t TakeEnded(int64_t nowMs, bool all, std::vector<AuditEntry>& due);

 private:
  struct Merged {
    AuditEntry first;
    std::string kind;
    uint64_t iMore = 0;    // entries after the first
    int64_t iUntilMs = 0;  // steady clock
  };
  // The row that says how many more came in `m`'s interval, if any did.
  void Count(const Merged& m, std::vector<AuditEntry>& due) const;

  const int64_t iIntervalMs;
  const Clock& cClock;
  std::map<std::string, Merged> mMerged;  // by peer, service and kind
};

// What the writer does when the audit cannot be written, and what it keeps.
struct AuditPolicy {
  // True: a batch the database refuses is kept and tried again (every
  // second) until it is written, and accepting() is false meanwhile, so that
  // queries are refused rather than answered unaudited. False: the batch is
  // dropped (and counted) and queries go on.
  bool bFailClosed = true;
  // Rows older than this many days are deleted, in batches, at start-up and
  // every hour after; 0 keeps every row.
  int iKeepDays = 0;
  // Merged entries (SubmitMerged) of one peer and kind within this time
  // make one row, then a second that says how many more came.
  int64_t iMergeIntervalMs = 60000;
  // Signs a checkpoint of the chain after this many rows, or this long
  // after the first row it does not cover yet, whichever comes first. No
  // signer: no checkpoints (tests of other things).
  const AuditSigner* pSigner = nullptr;
  int64_t iCheckpointRows = 10000;
  int64_t iCheckpointMs = 60000;
  // The journal's folder (audit_journal.h): every entry is appended there
  // before Submit returns, and the entries of journals whose process died
  // are written at start-up. "": none (an entry lives in memory until it
  // is committed).
  std::string strJournalDir;
  // Where the writer's time comes from (the rows' stamps, the batching, the
  // merge intervals, checkpoints and pruning); null: the system's. Must
  // outlive the writer.
  const Clock* pClock = nullptr;
};

// The subscriber of a conditions text: what follows "PHONE_ID=" up to the
// next blank; "" when it names none.
std::string SubscriberOf(const std::string& conditions);

// Writes audit entries on one thread of its own, many per transaction (up to
// 1024, or what arrived within 200 ms of the first), so that a request never
// waits for the disk and the readers' caches are seldom invalidated. Entries queued before Stop()
// (or destruction) are all written. A full queue makes Submit wait rather than drop an entry.
// With a journal, Submit returns once the entry is in the journal's file: a
// reply sent after it never outlives its entry, whatever happens to the process.
class AuditWriter {
 public:
  // Opens its own connection to `path` and deletes the rows the policy no
  // longer keeps; throws DbError when it cannot.
  explicit AuditWriter(const std::string& path, std::size_t maxQueued = 65536,
                       AuditPolicy policy = {});
  ~AuditWriter();
  AuditWriter(const AuditWriter&) = delete;
  AuditWriter& operator=(const AuditWriter&) = delete;

  void Submit(AuditEntry entry);
  // An entry of `kind` ("malformed request", "no session" ...), merged
  // with the others of its peer, service and kind (AuditMerge): the first
  // within the merge interval is queued as it is, the next ones only
  // counted; at the interval's end one row, "KIND, N more since STAMP",
  // says how many more came.
  void SubmitMerged(AuditEntry entry, const std::string& kind);
  // A request that could not be read.
  void SubmitMalformed(AuditEntry entry) { SubmitMerged(std::move(entry), "malformed request"); }
  // False while the audit cannot be written and the policy is to refuse
  // queries meanwhile.
  bool accepting() const { return !bFailing.load(std::memory_order_relaxed); }
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
    bool refusing = false;         // the audit cannot be written and queries are refused
    int64_t checkpoints = 0;       // signed by this writer
    int64_t lastCheckpointId = 0;  // the last row the last one covers
  };
  Counts counts() const;

 private:
  void Run(const std::string& path);
  // Queues the merged rows whose interval has ended (all of them when
  // `all`); `mLock` is held. Returns when the next one ends (steady clock,
  // ms), INT64_MAX for none.
  int64_t QueueMerged(bool all);
  // Queues the count rows in `due`; `mLock` is held.
  void QueueCounts(std::vector<AuditEntry>& due);
  // Deletes the rows older than the policy keeps; logs what it did.
  void Prune(AuditStore& store);
  // Appends `entry` to the journal, if there is one; `mLock` is held.
  void Journal(const AuditEntry& entry);
  // Writes the entries of the journals of database `path` left by
  // processes that are gone.
  void Replay(AuditStore& store, const std::string& path);
  // Writes `batch` (possibly empty), with a checkpoint when one is due.
  // `last`: a checkpoint of whatever is not covered yet, however little.
  void Write(AuditStore& store, const std::vector<AuditEntry>& batch, bool last);
  // When the rows not yet covered need their checkpoint (steady clock, ms),
  // INT64_MAX for never; `mLock` is held.
  int64_t CheckpointDueMs() const;

  std::size_t iMaxQueued;
  const AuditPolicy cPolicy;
  const Clock& cClock;
  std::atomic<bool> bFailing{false};
  AuditMerge cMerge;
  mutable std::mutex mLock;
  std::condition_variable cvWake;      // the writer: work or stop
  std::condition_variable cvProgress;  // producers: room, or entries committed
  std::deque<AuditEntry> qEntries;
  uint64_t iSubmitted = 0;
  uint64_t iWritten = 0;  // submitted entries handled, committed or failed
  uint64_t iFailures = 0;
  uint64_t iBatchesWritten = 0;
  uint64_t iBatchesFailed = 0;
  int64_t iCheckpoints = 0;
  int64_t iLastCheckpointId = 0;
  // Rows written since the last checkpoint, and when the first of them was (steady ms).
  int64_t iUncovered = 0;
  int64_t iUncoveredSinceMs = 0;
  bool bStopping = false;
  bool bOpened = false;
  bool bFinished = false;  // the thread has ended
  int iFlushing = 0;       // callers waiting in Flush()
  std::string strOpenError;
  std::unique_ptr<AuditJournal> pJournal;
  uint64_t iJournalFailures = 0;
  std::thread tWriter;
};

}  // namespace backoffice
