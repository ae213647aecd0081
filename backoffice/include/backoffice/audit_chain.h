#pragma once

// Tamper evidence for the audit table.
//
// Every row carries the hash of the row before it (prev_hash) and its own
// hash: BLAKE2b-256 over the previous hash, the row's id and every field in
// the canonical encoding of ChainHashOf. The first row ever written follows
// the all-zero hash. Anyone with the database can recompute a chain, so the
// writer also signs checkpoints (the last row's id and hash, the time) with
// an Ed25519 key that the database never holds; a table changed and chained
// again fails at the first checkpoint after the change.
//
// Hashes, keys and signatures are stored and logged as lower-case hex.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace backoffice {

struct AuditEntry;

using ChainHash = std::array<unsigned char, 32>;
using AuditPublicKey = std::array<unsigned char, 32>;
using AuditSignature = std::array<unsigned char, 64>;

std::string ToHex(const unsigned char* bytes, std::size_t n);
template <std::size_t N>
std::string ToHex(const std::array<unsigned char, N>& a) {
  return ToHex(a.data(), N);
}
// False when `hex` is not exactly 2*N hex digits.
bool FromHex(std::string_view hex, unsigned char* out, std::size_t n);
template <std::size_t N>
bool FromHex(std::string_view hex, std::array<unsigned char, N>& out) {
  return FromHex(hex, out.data(), N);
}

// The hash of the row `id` holding `entry`, after the row whose hash is
// `prev`. On disk: never change the encoding (every stored chain depends on
// it); a new encoding needs a new domain text.
ChainHash ChainHashOf(const ChainHash& prev, int64_t id, const AuditEntry& entry);

// The last row of a chain: 0 and the zero hash for an empty one.
struct AuditHead {
  int64_t id = 0;
  ChainHash hash{};
};

// A row as stored, for verification.
struct ChainedRow {
  int64_t id = 0;
  ChainHash prev{};
  ChainHash hash{};
  bool bChained = false;  // false: the row has no hashes (stored before chaining)
};

struct AuditCheckpoint {
  int64_t seq = 0;  // the checkpoint table's own key
  int64_t lastId = 0;
  ChainHash lastHash{};
  int64_t at = 0;  // yyyymmddhhmmss, local time
  AuditPublicKey key{};
  AuditSignature signature{};
};

// True when the checkpoint's signature is its key's over its id, hash and time.
bool CheckpointSignatureValid(const AuditCheckpoint& cp);

// The Ed25519 key that signs checkpoints, kept in a file only its owner may
// read: "mpay-audit-key 1" and the 32-byte seed in hex, one line each.
class AuditSigner {
 public:
  // Reads the key at `path`; when the file does not exist and `create` is
  // true, makes a new key there (mode 0600, never through a link). Throws
  // std::runtime_error when the file cannot be read, is not a key, or
  // others may read it.
  static AuditSigner Open(const std::string& path, bool create);
  ~AuditSigner();
  AuditSigner(AuditSigner&&) noexcept;
  AuditSigner& operator=(AuditSigner&&) = delete;
  AuditSigner(const AuditSigner&) = delete;

  const AuditPublicKey& publicKey() const { return cPublic; }
  // A signed checkpoint of `head` at `at`.
  AuditCheckpoint Sign(const AuditHead& head, int64_t at) const;

 private:
  AuditSigner() = default;
  AuditPublicKey cPublic{};
  std::array<unsigned char, 64> cSecret{};
};

// Where the key of a database is kept when --audit-key does not say: beside
// an SQLite file ("FILE.audit-key"); for PostgreSQL in $STATE_DIRECTORY, else
// the working folder ("mpay-audit.key").
std::string DefaultAuditKeyPath(const std::string& db);

// What a verification found. The first problem of each kind is kept; the
// walk goes on past it so that the counts cover the whole table.
struct AuditVerification {
  int64_t rows = 0;
  int64_t checkpoints = 0;
  int64_t unchained = 0;           // rows stored before chaining began (not covered)
  int64_t firstId = 0;             // the first row walked
  int64_t lastCoveredId = 0;       // the last row a valid checkpoint covers
  int64_t firstBadRow = 0;         // 0: none
  std::string rowProblem;          // "changed", "inserted", "removed before", ...
  int64_t firstBadCheckpoint = 0;  // its seq; 0: none
  std::string checkpointProblem;

  bool ok() const { return firstBadRow == 0 && firstBadCheckpoint == 0; }
};

// Walks a chain row by row in id order, against the checkpoints.
class AuditVerifier {
 public:
  // `trusted`: the public keys whose checkpoints count. `fromStart`: the
  // rows fed begin with the table's first, whose predecessor must then be
  // the zero hash or a trusted checkpoint's (what pruning leaves).
  AuditVerifier(std::vector<AuditPublicKey> trusted, std::vector<AuditCheckpoint> checkpoints,
                bool fromStart);

  // Rows in id order. `entryHash`: ChainHashOf(row.prev, row.id, its
  // entry), computed by the caller (unused for an unchained row).
  void Row(const ChainedRow& row, const ChainHash& entryHash);
  AuditVerification Finish();

 private:
  void RowProblem(int64_t id, const char* what);
  void CheckpointProblem(const AuditCheckpoint& cp, const char* what);
  // Checks the checkpoints naming rows before `id` (or all: INT64_MAX)
  // against the rows that passed.
  void PassCheckpoints(int64_t id, const ChainedRow* row);
  bool Anchored(const ChainHash& prev, int64_t id) const;

  std::vector<AuditPublicKey> vTrusted;
  std::vector<AuditCheckpoint> vCheckpoints;  // by lastId
  std::vector<bool> vValid;                   // signature and key, per checkpoint
  std::size_t iNextCheckpoint = 0;
  bool bFromStart;
  AuditVerification cResult;
  bool bStarted = false;
  ChainHash cRunning{};     // the hash the next row must follow
  ChainHash cBeforeLast{};  // the hash the last row followed
  int64_t iLastId = 0;
};

// The last verification a running back office made, for its metrics.
struct AuditVerifyStatus {
  double at = 0;  // seconds since the epoch; 0: none yet
  bool bOk = false;
  int64_t rows = 0;
  int64_t lastCoveredId = 0;
};

class AuditStore;

// The public keys a verification trusts: the key file's own and those of
// its retired keys, listed one per line in hex in "KEYFILE.trusted" (what a
// key rotation leaves). Throws std::runtime_error as AuditSigner::Open.
std::vector<AuditPublicKey> TrustedAuditKeys(const std::string& keyPath);

// Walks the audit rows from `fromId` on (0: from the table's first) against
// every checkpoint. Throws DbError when the database cannot be read.
AuditVerification VerifyAudit(AuditStore& store, std::vector<AuditPublicKey> trusted,
                              int64_t fromId);

}  // namespace backoffice
