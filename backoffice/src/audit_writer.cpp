#include "backoffice/audit_writer.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include <unistd.h>

#include "backoffice/log.h"
#include "backoffice/stamp.h"
#include "backoffice/store.h"

namespace backoffice {
namespace {

// Entries per transaction at most. Every commit makes the read connections
// drop their page caches (the queries after it read their pages again), so
// commits are kept few: one per 8,192 queries or per kBatchDelay, whichever
// comes first. (At 1,024 a busy service committed every 30 ms, and its p99
// was three times the bare statement's.)
constexpr std::size_t kBatch = 8192;
// How long entries may wait to fill a batch.
constexpr auto kBatchDelay = std::chrono::milliseconds(200);
// How often a batch the database refused is tried again.
constexpr auto kRetryDelay = std::chrono::seconds(1);
// Rows deleted per transaction, and how often expired rows are looked for.
constexpr int64_t kPruneBatch = 10000;
constexpr int64_t kPruneEveryMs = 3600 * 1000;

// The caller's address without its port ("tcp:ADDRESS:PORT"): a peer that
// connects again is the same peer.
std::string PeerHost(const std::string& peer) {
  const auto colon = peer.rfind(':');
  return peer.starts_with("tcp:") && colon > 3 ? peer.substr(0, colon) : peer;
}

// The local time `days` days ago as yyyymmddhhmmss.
int64_t StampDaysAgo(const Clock& clock, int days) {
  return SecondsToStamp(StampToSeconds(NowStamp(clock)) - int64_t{days} * 86400);
}

}  // namespace

std::string SubscriberOf(const std::string& conditions) {
  static constexpr std::string_view kKey = "PHONE_ID=";
  std::size_t at = conditions.find(kKey);
  // A key, not the end of another one's name.
  while (at != std::string::npos && at > 0 && conditions[at - 1] != ' ')
    at = conditions.find(kKey, at + 1);
  if (at == std::string::npos) return {};
  at += kKey.size();
  return conditions.substr(at, conditions.find(' ', at) - at);
}

AuditWriter::AuditWriter(const std::string& path, std::size_t maxQueued, AuditPolicy policy)
    : iMaxQueued(maxQueued ? maxQueued : 1),
      cPolicy(policy),
      cClock(policy.pClock ? *policy.pClock : SystemClock()),
      cMerge(policy.iMergeIntervalMs, cClock) {
  if (!cPolicy.strJournalDir.empty())
    pJournal = std::make_unique<AuditJournal>(cPolicy.strJournalDir, path);
  tWriter = std::thread([this, path] { Run(path); });
  std::unique_lock lock(mLock);
  cvProgress.wait(lock, [&] { return bOpened || !strOpenError.empty(); });
  if (!bOpened) {
    std::string error = strOpenError;
    lock.unlock();
    tWriter.join();
    throw DbError(error);
  }
}

AuditWriter::~AuditWriter() {
  Stop();
}

void AuditWriter::Submit(AuditEntry entry) {
  if (entry.subscriber.empty()) entry.subscriber = SubscriberOf(entry.conditions);
  std::unique_lock lock(mLock);
  cvProgress.wait(lock, [&] { return qEntries.size() < iMaxQueued || bStopping; });
  if (bStopping) {
    ++iFailures;
    return;
  }
  Journal(entry);
  qEntries.push_back(std::move(entry));
  ++iSubmitted;
  // The writer waits for the first entry, then for a full batch.
  if (qEntries.size() == 1 || qEntries.size() == std::min(kBatch, iMaxQueued)) cvWake.notify_one();
}

bool AuditMerge::Admit(const AuditEntry& entry, const std::string& kind, int64_t nowMs,
                       std::vector<AuditEntry>& due) {
  auto [it, fresh] =
      mMerged.try_emplace(PeerHost(entry.peer) + '\n' + entry.serviceCode + '\n' + kind);
  Merged& m = it->second;
  if (!fresh) {
    if (m.iUntilMs > nowMs) {
      ++m.iMore;
      return false;
    }
    // Its interval has ended, whether or not its count was taken since:
    // the count, then a new interval with a row of its own.
    Count(m, due);
    m.iMore = 0;
  }
  m.first = entry;
  m.kind = kind;
  m.iUntilMs = nowMs + iIntervalMs;
  return true;
}

int64_t AuditMerge::TakeEnded(int64_t nowMs, bool all, std::vector<AuditEntry>& due) {
  int64_t next = INT64_MAX;
  for (auto it = mMerged.begin(); it != mMerged.end();) {
    const Merged& m = it->second;
    if (!all && m.iUntilMs > nowMs) {
      next = std::min(next, m.iUntilMs);
      ++it;
      continue;
    }
    Count(m, due);
    it = mMerged.erase(it);
  }
  return next;
}

void AuditMerge::Count(const Merged& m, std::vector<AuditEntry>& due) const {
  if (m.iMore == 0) return;
  AuditEntry row = m.first;
  row.conditions =
      m.kind + ", " + std::to_string(m.iMore) + " more since " + std::to_string(m.first.at);
  row.at = NowStamp(cClock);
  due.push_back(std::move(row));
}

void AuditWriter::SubmitMerged(AuditEntry entry, const std::string& kind) {
  std::unique_lock lock(mLock);
  std::vector<AuditEntry> due;
  const bool first = cMerge.Admit(entry, kind, cClock.SteadyMs(), due);
  QueueCounts(due);
  if (!first) return;
  lock.unlock();
  cvWake.notify_one();  // the writer's wait now ends with this interval at the latest
  Submit(std::move(entry));
}

void AuditWriter::QueueCounts(std::vector<AuditEntry>& due) {
  for (AuditEntry& row : due) {
    Journal(row);
    qEntries.push_back(std::move(row));
    ++iSubmitted;
  }
}

void AuditWriter::Flush() {
  std::unique_lock lock(mLock);
  // The counts of merge intervals that have ended are due by now.
  QueueMerged(false);
  uint64_t target = iSubmitted;
  ++iFlushing;
  cvWake.notify_one();
  cvProgress.wait(lock, [&] { return iWritten >= target || bFinished; });
  --iFlushing;
}

void AuditWriter::Stop() {
  {
    std::lock_guard lock(mLock);
    if (bStopping) return;
    bStopping = true;
  }
  cvWake.notify_one();
  cvProgress.notify_all();
  if (tWriter.joinable()) tWriter.join();
}

uint64_t AuditWriter::failures() const {
  std::lock_guard lock(mLock);
  return iFailures;
}

AuditWriter::Counts AuditWriter::counts() const {
  std::lock_guard lock(mLock);
  return {qEntries.size(), iBatchesWritten, iBatchesFailed,
          !accepting(),    iCheckpoints,    iLastCheckpointId};
}

int64_t AuditWriter::QueueMerged(bool all) {
  std::vector<AuditEntry> due;
  const int64_t next = cMerge.TakeEnded(cClock.SteadyMs(), all, due);
  QueueCounts(due);
  return next;
}

void AuditWriter::Journal(const AuditEntry& entry) {
  if (!pJournal) return;
  try {
    pJournal->Append(entry);
  } catch (const std::runtime_error& e) {
    // Kept in memory all the same, as without a journal.
    if (iJournalFailures++ == 0)
      log::Write(log::Level::kError, "audit_journal_failed", {{"reason", e.what()}});
  }
}

void AuditWriter::Replay(AuditStore& store, const std::string& path) {
  if (cPolicy.strJournalDir.empty()) return;
  for (AuditJournal::Orphan& orphan : AuditJournal::Orphans(cPolicy.strJournalDir, path)) {
    try {
      const int64_t held = store.JournalSeq(orphan.journal);
      std::vector<AuditEntry> batch;
      JournalMark mark{orphan.journal, held};
      int64_t replayed = 0;
      auto flush = [&] {
        if (batch.empty()) return;
        store.Append(batch, nullptr, 0, nullptr, &mark);
        replayed += static_cast<int64_t>(batch.size());
        batch.clear();
      };
      for (auto& [seq, entry] : AuditJournal::Read(orphan)) {
        if (seq <= held) continue;
        if (entry.subscriber.empty()) entry.subscriber = SubscriberOf(entry.conditions);
        batch.push_back(std::move(entry));
        mark.seq = seq;
        if (batch.size() == kBatch) flush();
      }
      flush();
      store.ForgetJournal(orphan.journal);
      AuditJournal::Forget(orphan);
      // Covered by the first checkpoint this writer signs.
      if (replayed > 0) {
        std::lock_guard lock(mLock);
        iUncovered += replayed;
        iUncoveredSinceMs = cClock.SteadyMs();
      }
      log::Write(log::Level::kWarn, "audit_journal_replayed",
                 {{"journal", orphan.journal}, {"entries", replayed}, {"held_before", held}});
    } catch (const DbError& e) {
      // Kept for the next start.
      log::Write(log::Level::kError, "audit_journal_replay_failed",
                 {{"journal", orphan.journal}, {"reason", e.what()}});
    }
  }
}

void AuditWriter::Prune(AuditStore& store) {
  if (cPolicy.iKeepDays <= 0) return;
  const int64_t before = StampDaysAgo(cClock, cPolicy.iKeepDays);
  int64_t deleted = 0;
  try {
    // Short transactions, so that the entries being written never wait long.
    for (int64_t n = kPruneBatch; n == kPruneBatch;) {
      n = store.DeleteBefore(before, kPruneBatch);
      deleted += n;
    }
  } catch (const DbError& e) {
    log::Write(log::Level::kError, "audit_prune_failed", {{"reason", e.what()}});
  }
  if (deleted > 0)
    log::Write(log::Level::kInfo, "audit_pruned", {{"rows", deleted}, {"before", before}});
}

void AuditWriter::Write(AuditStore& store, const std::vector<AuditEntry>& batch, bool last) {
  const int64_t now = cClock.SteadyMs();
  int64_t uncovered, since;
  JournalMark mark;
  {
    std::lock_guard lock(mLock);
    uncovered = iUncovered;
    since = iUncoveredSinceMs;
    // The journal's positions are the queue's order: this batch ends at this one.
    if (pJournal) mark = {pJournal->id(), static_cast<int64_t>(iWritten + batch.size())};
  }
  const int64_t rows = uncovered + static_cast<int64_t>(batch.size());
  const bool due = cPolicy.pSigner && rows > 0 &&
                   (last || rows >= cPolicy.iCheckpointRows ||
                    (uncovered > 0 && now - since >= cPolicy.iCheckpointMs));
  AuditCheckpoint cp;
  store.Append(batch, due ? cPolicy.pSigner : nullptr, NowStamp(cClock), &cp,
               pJournal && !batch.empty() ? &mark : nullptr);
  if (pJournal && !batch.empty()) pJournal->Committed(mark.seq);
  std::lock_guard lock(mLock);
  if (!due) {
    if (iUncovered == 0 && !batch.empty()) iUncoveredSinceMs = now;
    iUncovered += static_cast<int64_t>(batch.size());
    return;
  }
  iUncovered = 0;
  ++iCheckpoints;
  iLastCheckpointId = cp.lastId;
  // The head, outside the database: kept by the log collector, it shows
  // rows removed at the end of the chain and a chain replaced as a whole.
  log::Write(log::Level::kInfo, "audit_checkpoint",
             {{"seq", cp.seq},
              {"last_id", cp.lastId},
              log::Field::Verbatim("last_hash", ToHex(cp.lastHash)),
              {"at", cp.at},
              log::Field::Verbatim("key", ToHex(cp.key)),
              log::Field::Verbatim("signature", ToHex(cp.signature))});
}

int64_t AuditWriter::CheckpointDueMs() const {
  if (!cPolicy.pSigner || iUncovered == 0) return INT64_MAX;
  return iUncoveredSinceMs + cPolicy.iCheckpointMs;
}

void AuditWriter::Run(const std::string& path) {
  std::unique_ptr<AuditStore> store;
  try {
    store = OpenStore(path)->OpenAudit();
  } catch (const DbError& e) {
    std::lock_guard lock(mLock);
    strOpenError = e.what();
    if (strOpenError.empty()) strOpenError = "audit: cannot open";
    cvProgress.notify_all();
    return;
  }
  Replay(*store, path);
  Prune(*store);
  int64_t nextPruneMs = cClock.SteadyMs() + kPruneEveryMs;
  {
    std::lock_guard lock(mLock);
    bOpened = true;
  }
  cvProgress.notify_all();

  struct Finished {
    AuditWriter* w;
    ~Finished() {
      std::lock_guard lock(w->mLock);
      w->bFinished = true;
      w->cvProgress.notify_all();
    }
  } finished{this};

  std::vector<AuditEntry> batch;
  for (;;) {
    if (batch.empty()) {
      std::unique_lock lock(mLock);
      // Wakes for entries, the end of a merge interval, the hourly prune or the stop.
      bool checkpointDue = false;
      for (;;) {
        const int64_t until = std::min({QueueMerged(bStopping), nextPruneMs, CheckpointDueMs()});
        const int64_t now = cClock.SteadyMs();
        checkpointDue = now >= CheckpointDueMs();
        if (!qEntries.empty() || bStopping || now >= nextPruneMs || checkpointDue) break;
        // At most until the next prune, an hour away: the wait never overflows.
        cvWake.wait_for(lock, std::chrono::milliseconds(until - now));
      }
      if (qEntries.empty() && bStopping) {
        const bool all = iFailures == 0;
        lock.unlock();
        // Everything is written: the last rows are covered before the end.
        try {
          Write(*store, {}, true);
          // The journal holds nothing the database does not.
          if (pJournal && all) {
            pJournal->Finish();
            store->ForgetJournal(pJournal->id());
          }
        } catch (const DbError& e) {
          log::Write(log::Level::kError, "audit_checkpoint_failed", {{"reason", e.what()}});
        }
        return;
      }
      if (qEntries.empty() && checkpointDue) {
        lock.unlock();
        try {
          Write(*store, {}, false);
        } catch (const DbError& e) {
          log::Write(log::Level::kError, "audit_checkpoint_failed", {{"reason", e.what()}});
          lock.lock();
          cvWake.wait_for(lock, kRetryDelay, [&] { return bStopping; });
        }
        continue;
      }
      cvWake.wait_for(lock, kBatchDelay, [&] {
        return qEntries.size() >= std::min(kBatch, iMaxQueued) || bStopping || iFlushing > 0;
      });
      while (!qEntries.empty() && batch.size() < kBatch) {
        batch.push_back(std::move(qEntries.front()));
        qEntries.pop_front();
      }
    }
    cvProgress.notify_all();  // room in the queue
    if (cClock.SteadyMs() >= nextPruneMs) {
      Prune(*store);
      nextPruneMs = cClock.SteadyMs() + kPruneEveryMs;
    }
    if (batch.empty()) continue;
    std::string failure;
    try {
      Write(*store, batch, false);
    } catch (const DbError& e) {
      failure = e.what();
    }
    bool stopping;
    {
      std::lock_guard lock(mLock);
      stopping = bStopping;
    }
    if (!failure.empty() && cPolicy.bFailClosed && !stopping) {
      // Kept and tried again; queries are refused meanwhile.
      if (!bFailing.exchange(true)) {
        log::Write(log::Level::kError, "audit_failing",
                   {{"entries", batch.size()},
                    {"reason", failure},
                    {"queries", "refused until the audit can be written"}});
      }
      std::unique_lock lock(mLock);
      cvWake.wait_for(lock, kRetryDelay, [&] { return bStopping; });
      continue;
    }
    if (failure.empty() && bFailing.exchange(false))
      log::Write(log::Level::kWarn, "audit_written_again", {{"queries", "answered again"}});
    if (!failure.empty()) {
      log::Write(log::Level::kError, "audit_batch_lost",
                 {{"entries", batch.size()}, {"reason", failure}});
    }
    {
      std::lock_guard lock(mLock);
      iWritten += batch.size();
      if (!failure.empty()) iFailures += batch.size();
      ++(failure.empty() ? iBatchesWritten : iBatchesFailed);
    }
    batch.clear();
    cvProgress.notify_all();
  }
}

}  // namespace backoffice
