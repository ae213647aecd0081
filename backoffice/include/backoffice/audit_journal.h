#pragma once

// The audit entries of one back-office process on their way to the
// database, kept in files of a folder first, so that an answered query's
// entry survives the process being killed before the entry is committed.
//
// Each process writes a journal of its own: segment files
// "DB-ID.N.journal" (DB a hash of the database's name, so that a folder
// shared by back offices of several databases gives each its own; ID
// random; N from 1), each locked (flock) by the process while it lives. An entry is appended with
// one write() before the reply leaves (copied into the file's shared mapping, which is the kernel's
// page cache): from then on it survives the process; a thread of the journal flushes the files to
// the disk (fdatasync) a few milliseconds later, so a power loss may still lose those milliseconds.
// The database records, in the audit's transaction, the last journal position it holds
// (mp_audit_journal); at start-up a back office writes into the database
// the entries of the journals whose process is gone (their files are no
// longer locked) that it does not hold yet, then deletes them.
//
// On disk, never change: a segment is 16 MiB, made at once; a record is a
// 4-byte little-endian length, an 8-byte BLAKE2b of the payload, then the
// payload (the position as 8 bytes, then the entry's fields); a zero length
// ends the segment, and a torn or damaged record ends the journal.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace backoffice {

struct AuditEntry;

// A journal and how far the database holds it.
struct JournalMark {
  std::string journal;  // its ID
  int64_t seq = 0;      // entries 1 .. seq are in the database
};

class AuditJournal {
 public:
  // Starts a new journal of the database `db` in `dir` (made, owner-only,
  // when missing). Throws std::runtime_error when it cannot.
  AuditJournal(std::string dir, const std::string& db);
  // Flushes and closes; the segments stay (Finish deletes them).
  ~AuditJournal();
  AuditJournal(const AuditJournal&) = delete;
  AuditJournal& operator=(const AuditJournal&) = delete;

  const std::string& id() const { return strId; }
  // Appends `entry` as the next position, which it returns; throws
  // std::runtime_error when the file refuses it.
  int64_t Append(const AuditEntry& entry);
  // The database holds every entry up to `seq`: segments wholly before go.
  void Committed(int64_t seq);
  // Everything is in the database: deletes every segment.
  void Finish();

  // A journal left by a process that is gone, locked by the caller while
  // the object lives.
  struct Orphan {
    Orphan() = default;
    Orphan(Orphan&& o) noexcept
        : journal(std::move(o.journal)), files(std::move(o.files)), locks(std::move(o.locks)) {
      o.locks.clear();
    }
    Orphan& operator=(Orphan&&) = delete;
    ~Orphan();

    std::string journal;
    std::vector<std::string> files;  // in order
    std::vector<int> locks;          // their descriptors
  };
  static std::vector<Orphan> Orphans(const std::string& dir, const std::string& db);
  // Its entries in order with their positions, up to the first damaged record.
  static std::vector<std::pair<int64_t, AuditEntry>> Read(const Orphan& orphan);
  // Deletes its files.
  static void Forget(Orphan& orphan);

 private:
  void OpenSegment();
  void SyncLoop();

  struct Segment {
    std::string path;
    int fd = -1;
    char* map = nullptr;  // the whole file
    int64_t lastSeq = 0;
  };
  static void Close(Segment& s);
  std::string strDir;
  std::string strId;
  std::mutex mLock;
  std::vector<Segment> vSegments;  // the last is written
  int64_t iSeq = 0;
  int64_t iSegmentBytes = 0;
  bool bDirty = false;
  bool bStopping = false;
  std::condition_variable cvDirty;
  std::thread tSync;
};

// The journal folder of a database when --audit-journal does not say:
// beside an SQLite file ("FILE.audit-journal"); for PostgreSQL in
// $STATE_DIRECTORY, else the working folder ("mpay-audit-journal").
std::string DefaultAuditJournalDir(const std::string& db);

}  // namespace backoffice
