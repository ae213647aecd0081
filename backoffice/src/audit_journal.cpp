#include "backoffice/audit_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sodium.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string_view>

#include "backoffice/audit_chain.h"
#include "backoffice/audit_writer.h"
#include "backoffice/store.h"

namespace backoffice {
namespace {

// A segment's size, made at once and mapped: an entry is copied into the
// mapping, which is the kernel's page cache of the file, with no system
// call (the next segment begins when one is full).
constexpr int64_t kSegmentBytes = 16 << 20;
// How long an appended entry may wait for the disk.
constexpr auto kSyncDelay = std::chrono::milliseconds(5);
constexpr std::size_t kSumBytes = 8;
constexpr std::size_t kMaxRecord = 1 << 20;
constexpr std::string_view kSuffix = ".journal";

void PutInt(std::string& out, int64_t v) {
  const auto u = static_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) out += static_cast<char>((u >> (8 * i)) & 0xff);
}

void PutText(std::string& out, const std::string& s) {
  PutInt(out, static_cast<int64_t>(s.size()));
  out += s;
}

// Reads what PutInt and PutText wrote; false past the end.
class Cursor {
 public:
  explicit Cursor(std::string_view data) : sData(data) {}
  bool Int(int64_t& v) {
    if (sData.size() < 8) return false;
    uint64_t u = 0;
    for (int i = 7; i >= 0; --i) u = u << 8 | static_cast<unsigned char>(sData[i]);
    v = static_cast<int64_t>(u);
    sData.remove_prefix(8);
    return true;
  }
  template <class T>
  bool Int32(T& v) {
    int64_t n = 0;
    if (!Int(n)) return false;
    v = static_cast<T>(n);
    return true;
  }
  bool Text(std::string& s) {
    int64_t n = 0;
    if (!Int(n) || n < 0 || static_cast<uint64_t>(n) > sData.size()) return false;
    s.assign(sData.substr(0, static_cast<std::size_t>(n)));
    sData.remove_prefix(static_cast<std::size_t>(n));
    return true;
  }
  bool done() const { return sData.empty(); }

 private:
  std::string_view sData;
};

// The record of `e` at `seq` in `out`.
void Record(int64_t seq, const AuditEntry& e, std::string& out) {
  out.assign(4 + kSumBytes, '\0');
  std::string& payload = out;
  PutInt(payload, seq);
  PutInt(payload, e.at);
  PutInt(payload, e.OP_ID);
  PutText(payload, e.OP_ADDRESS);
  PutInt(payload, e.SO_ORG_ID);
  PutText(payload, e.login);
  PutInt(payload, e.declaredOpId);
  PutText(payload, e.peer);
  PutText(payload, e.serviceCode);
  PutText(payload, e.conditions);
  PutText(payload, e.subscriber);
  PutInt(payload, e.rowCount);
  PutInt(payload, e.result);
  const auto n = static_cast<uint32_t>(out.size() - 4 - kSumBytes);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((n >> (8 * i)) & 0xff);
  crypto_generichash(reinterpret_cast<unsigned char*>(&out[4]), kSumBytes,
                     reinterpret_cast<const unsigned char*>(out.data() + 4 + kSumBytes), n, nullptr,
                     0);
}

bool ParsePayload(std::string_view payload, int64_t& seq, AuditEntry& e) {
  Cursor c(payload);
  return c.Int(seq) && c.Int(e.at) && c.Int32(e.OP_ID) && c.Text(e.OP_ADDRESS) &&
         c.Int32(e.SO_ORG_ID) && c.Text(e.login) && c.Int32(e.declaredOpId) && c.Text(e.peer) &&
         c.Text(e.serviceCode) && c.Text(e.conditions) && c.Text(e.subscriber) &&
         c.Int(e.rowCount) && c.Int32(e.result) && c.done();
}

// The journals of the database `db` begin with this.
std::string Prefix(const std::string& db) {
  unsigned char h[8];
  crypto_generichash(h, sizeof h, reinterpret_cast<const unsigned char*>(db.data()), db.size(),
                     nullptr, 0);
  return ToHex(h, sizeof h) + "-";
}

std::runtime_error JournalError(const std::string& what) {
  return std::runtime_error("audit journal " + what + ": " + std::strerror(errno));
}

}  // namespace

std::string DefaultAuditJournalDir(const std::string& db) {
  if (!IsPostgresUri(db)) return db + ".audit-journal";
  const char* state = std::getenv("STATE_DIRECTORY");
  if (state && *state) {
    std::string dir = state;
    return dir.substr(0, dir.find(':')) + "/audit-journal";
  }
  return "mpay-audit-journal";
}

AuditJournal::AuditJournal(std::string dir, const std::string& db) : strDir(std::move(dir)) {
  if (::mkdir(strDir.c_str(), 0700) != 0 && errno != EEXIST) throw JournalError(strDir);
  unsigned char id[8];
  randombytes_buf(id, sizeof id);
  strId = Prefix(db) + ToHex(id, sizeof id);
  OpenSegment();
  tSync = std::thread([this] { SyncLoop(); });
}

AuditJournal::~AuditJournal() {
  {
    std::lock_guard lock(mLock);
    bStopping = true;
  }
  cvDirty.notify_one();
  tSync.join();
  for (Segment& s : vSegments) Close(s);
}

void AuditJournal::Close(Segment& s) {
  if (s.map) ::munmap(s.map, kSegmentBytes);
  if (s.fd >= 0) ::close(s.fd);
  s.map = nullptr;
  s.fd = -1;
}

void AuditJournal::OpenSegment() {
  // The full one goes to the disk first; the sync thread looks after the new one.
  if (!vSegments.empty()) ::fdatasync(vSegments.back().fd);
  Segment s;
  s.path = strDir + "/" + strId + "." + std::to_string(vSegments.size() + 1) + std::string(kSuffix);
  s.fd = ::open(s.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (s.fd < 0) throw JournalError(s.path);
  // Held while this process lives: a journal whose lock can be taken is an orphan.
  if (::flock(s.fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(s.fd, kSegmentBytes) != 0) {
    Close(s);
    throw JournalError(s.path);
  }
  void* map = ::mmap(nullptr, kSegmentBytes, PROT_READ | PROT_WRITE, MAP_SHARED, s.fd, 0);
  if (map == MAP_FAILED) {
    Close(s);
    throw JournalError(s.path);
  }
  s.map = static_cast<char*>(map);
  vSegments.push_back(s);
  iSegmentBytes = 0;
}

int64_t AuditJournal::Append(const AuditEntry& entry) {
  thread_local std::string record;
  std::lock_guard lock(mLock);
  Record(iSeq + 1, entry, record);
  const auto n = static_cast<int64_t>(record.size());
  if (n > kSegmentBytes / 2)
    throw std::runtime_error("audit journal: an entry of " + std::to_string(n) + " bytes");
  if (iSegmentBytes + n > kSegmentBytes) OpenSegment();
  Segment& s = vSegments.back();
  // A process killed part-way leaves a torn last record, which Read drops.
  std::memcpy(s.map + iSegmentBytes, record.data(), record.size());
  iSegmentBytes += n;
  s.lastSeq = ++iSeq;
  if (!bDirty) {
    bDirty = true;
    cvDirty.notify_one();
  }
  return iSeq;
}

void AuditJournal::SyncLoop() {
  std::unique_lock lock(mLock);
  for (;;) {
    cvDirty.wait(lock, [&] { return bDirty || bStopping; });
    if (!bDirty && bStopping) return;
    // More entries join the same flush meanwhile.
    cvDirty.wait_for(lock, kSyncDelay, [&] { return bStopping; });
    bDirty = false;
    const int fd = vSegments.back().fd;
    lock.unlock();
    ::fdatasync(fd);
    lock.lock();
  }
}

void AuditJournal::Committed(int64_t seq) {
  std::lock_guard lock(mLock);
  // Every segment but the one being written, once the database holds all of it.
  for (std::size_t i = 0; i + 1 < vSegments.size(); ++i) {
    Segment& s = vSegments[i];
    if (s.fd < 0 || s.lastSeq > seq) continue;
    ::unlink(s.path.c_str());
    Close(s);
  }
}

void AuditJournal::Finish() {
  std::lock_guard lock(mLock);
  for (Segment& s : vSegments) {
    if (s.fd < 0) continue;
    ::unlink(s.path.c_str());
  }
}

std::vector<AuditJournal::Orphan> AuditJournal::Orphans(const std::string& dir,
                                                        const std::string& db) {
  const std::string prefix = Prefix(db);
  std::map<std::string, std::map<int, std::string>> journals;  // id -> n -> file
  DIR* d = ::opendir(dir.c_str());
  if (!d) return {};
  while (const dirent* e = ::readdir(d)) {
    const std::string_view name = e->d_name;
    if (!name.ends_with(kSuffix) || !name.starts_with(prefix)) continue;
    const std::string_view stem = name.substr(0, name.size() - kSuffix.size());
    const auto dot = stem.rfind('.');
    if (dot == std::string_view::npos) continue;
    const int n = std::atoi(std::string(stem.substr(dot + 1)).c_str());
    journals[std::string(stem.substr(0, dot))][n] = dir + "/" + std::string(name);
  }
  ::closedir(d);
  std::vector<Orphan> out;
  for (auto& [id, files] : journals) {
    Orphan o;
    o.journal = id;
    bool alive = false;
    for (auto& [n, file] : files) {
      const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
      if (fd < 0) continue;
      if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        alive = true;
        break;
      }
      o.files.push_back(file);
      o.locks.push_back(fd);
    }
    if (!alive) out.push_back(std::move(o));
  }
  return out;
}

std::vector<std::pair<int64_t, AuditEntry>> AuditJournal::Read(const Orphan& orphan) {
  std::vector<std::pair<int64_t, AuditEntry>> out;
  for (int fd : orphan.locks) {
    std::string data;
    char buffer[65536];
    ssize_t n;
    ::lseek(fd, 0, SEEK_SET);
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) data.append(buffer, n);
    std::string_view rest(data);
    while (rest.size() >= 4 + kSumBytes) {
      uint32_t len = 0;
      for (int i = 3; i >= 0; --i) len = len << 8 | static_cast<unsigned char>(rest[i]);
      if (len == 0) break;  // the segment's unwritten rest
      if (len > kMaxRecord || rest.size() < 4 + kSumBytes + len) return out;
      const std::string_view payload = rest.substr(4 + kSumBytes, len);
      unsigned char sum[kSumBytes];
      crypto_generichash(sum, kSumBytes, reinterpret_cast<const unsigned char*>(payload.data()),
                         payload.size(), nullptr, 0);
      if (std::memcmp(sum, rest.data() + 4, kSumBytes) != 0) return out;
      std::pair<int64_t, AuditEntry> entry;
      if (!ParsePayload(payload, entry.first, entry.second)) return out;
      out.push_back(std::move(entry));
      rest.remove_prefix(4 + kSumBytes + len);
    }
    // Torn: nothing after it counts.
    if (rest.find_first_not_of('\0') != std::string_view::npos) return out;
  }
  return out;
}

void AuditJournal::Forget(Orphan& orphan) {
  for (const std::string& file : orphan.files) ::unlink(file.c_str());
}

AuditJournal::Orphan::~Orphan() {
  for (int fd : locks) ::close(fd);
}

}  // namespace backoffice
