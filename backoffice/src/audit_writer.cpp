#include "backoffice/audit_writer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "backoffice/log.h"
#include "backoffice/store.h"

namespace backoffice {
namespace {

constexpr std::size_t kBatch = 1024;
// How long entries may wait to fill a batch. Every commit makes the read
// connections drop their page caches, so commits are kept few.
constexpr auto kBatchDelay = std::chrono::milliseconds(200);

}  // namespace

AuditWriter::AuditWriter(const std::string& path, std::size_t maxQueued)
    : iMaxQueued(maxQueued ? maxQueued : 1) {
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
  std::unique_lock lock(mLock);
  cvProgress.wait(lock, [&] { return qEntries.size() < iMaxQueued || bStopping; });
  if (bStopping) {
    ++iFailures;
    return;
  }
  qEntries.push_back(std::move(entry));
  ++iSubmitted;
  // The writer waits for the first entry, then for a full batch.
  if (qEntries.size() == 1 || qEntries.size() == std::min(kBatch, iMaxQueued)) cvWake.notify_one();
}

void AuditWriter::Flush() {
  std::unique_lock lock(mLock);
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
  return {qEntries.size(), iBatchesWritten, iBatchesFailed};
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
    {
      std::unique_lock lock(mLock);
      cvWake.wait(lock, [&] { return !qEntries.empty() || bStopping; });
      if (qEntries.empty()) return;  // stopping, and everything is written
      cvWake.wait_for(lock, kBatchDelay, [&] {
        return qEntries.size() >= std::min(kBatch, iMaxQueued) || bStopping || iFlushing > 0;
      });
      while (!qEntries.empty() && batch.size() < kBatch) {
        batch.push_back(std::move(qEntries.front()));
        qEntries.pop_front();
      }
    }
    cvProgress.notify_all();  // room in the queue
    bool ok = true;
    try {
      store->Append(batch);
    } catch (const DbError& e) {
      ok = false;
      log::Write(log::Level::kError, "audit_batch_lost",
                 {{"entries", batch.size()}, {"reason", e.what()}});
    }
    {
      std::lock_guard lock(mLock);
      iWritten += batch.size();
      if (!ok) iFailures += batch.size();
      ++(ok ? iBatchesWritten : iBatchesFailed);
    }
    batch.clear();
    cvProgress.notify_all();
  }
}

}  // namespace backoffice
