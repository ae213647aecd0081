#include "backoffice/audit_writer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "backoffice/schema.h"
#include "backoffice/sqlite_db.h"

namespace backoffice {
namespace {

constexpr std::size_t kBatch = 1024;
// How long entries may wait to fill a batch. Every commit makes the read
// connections drop their page caches, so commits are kept few.
constexpr auto kBatchDelay = std::chrono::milliseconds(200);

}  // namespace

int64_t NowStamp() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return (tm.tm_year + 1900) * 10000000000LL + (tm.tm_mon + 1) * 100000000LL +
         tm.tm_mday * 1000000LL + tm.tm_hour * 10000LL + tm.tm_min * 100LL + tm.tm_sec;
}

AuditWriter::AuditWriter(const std::string& path, std::size_t maxQueued)
    : maxQueued_(maxQueued ? maxQueued : 1) {
  thread_ = std::thread([this, path] { Run(path); });
  std::unique_lock lock(mutex_);
  progress_.wait(lock, [&] { return opened_ || !openError_.empty(); });
  if (!opened_) {
    std::string error = openError_;
    lock.unlock();
    thread_.join();
    throw DbError(error);
  }
}

AuditWriter::~AuditWriter() {
  Stop();
}

void AuditWriter::Submit(AuditEntry entry) {
  std::unique_lock lock(mutex_);
  progress_.wait(lock, [&] { return queue_.size() < maxQueued_ || stopping_; });
  if (stopping_) {
    ++failures_;
    return;
  }
  queue_.push_back(std::move(entry));
  ++submitted_;
  // The writer waits for the first entry, then for a full batch.
  if (queue_.size() == 1 || queue_.size() == std::min(kBatch, maxQueued_)) wake_.notify_one();
}

void AuditWriter::Flush() {
  std::unique_lock lock(mutex_);
  uint64_t target = submitted_;
  ++flushing_;
  wake_.notify_one();
  progress_.wait(lock, [&] { return written_ >= target || finished_; });
  --flushing_;
}

void AuditWriter::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  wake_.notify_one();
  progress_.notify_all();
  if (thread_.joinable()) thread_.join();
}

uint64_t AuditWriter::failures() const {
  std::lock_guard lock(mutex_);
  return failures_;
}

void AuditWriter::Run(const std::string& path) {
  std::unique_ptr<Database> db;
  Statement insert;
  try {
    db = std::make_unique<Database>(path, Database::Mode::kReadWrite);
    CreateTables(*db);
    insert = db->Prepare(
        "INSERT INTO mp_audit (at, op_id, op_address, so_org_id, service_code, conditions, "
        "row_count, result) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  } catch (const DbError& e) {
    std::lock_guard lock(mutex_);
    openError_ = e.what();
    if (openError_.empty()) openError_ = "audit: cannot open";
    progress_.notify_all();
    return;
  }
  {
    std::lock_guard lock(mutex_);
    opened_ = true;
  }
  progress_.notify_all();

  struct Finished {
    AuditWriter* w;
    ~Finished() {
      std::lock_guard lock(w->mutex_);
      w->finished_ = true;
      w->progress_.notify_all();
    }
  } finished{this};

  std::vector<AuditEntry> batch;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return !queue_.empty() || stopping_; });
      if (queue_.empty()) return;  // stopping, and everything is written
      wake_.wait_for(lock, kBatchDelay, [&] {
        return queue_.size() >= std::min(kBatch, maxQueued_) || stopping_ || flushing_ > 0;
      });
      while (!queue_.empty() && batch.size() < kBatch) {
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
    }
    progress_.notify_all();  // room in the queue
    bool ok = true;
    try {
      Transaction tx(*db);
      for (const AuditEntry& e : batch) {
        insert.Bind(1, e.at);
        insert.Bind(2, static_cast<int64_t>(e.OP_ID));
        insert.Bind(3, e.OP_ADDRESS);
        insert.Bind(4, static_cast<int64_t>(e.SO_ORG_ID));
        insert.Bind(5, e.serviceCode);
        insert.Bind(6, e.conditions);
        insert.Bind(7, e.rowCount);
        insert.Bind(8, static_cast<int64_t>(e.result));
        insert.Run();
      }
      tx.Commit();
    } catch (const DbError& e) {
      insert.Reset();
      ok = false;
      std::fprintf(stderr, "mpay-backoffice: audit batch of %zu lost: %s\n", batch.size(),
                   e.what());
    }
    {
      std::lock_guard lock(mutex_);
      written_ += batch.size();
      if (!ok) failures_ += batch.size();
    }
    batch.clear();
    progress_.notify_all();
  }
}

}  // namespace backoffice
