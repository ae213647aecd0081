#include "backoffice/audit_chain.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "backoffice/audit_writer.h"
#include "backoffice/store.h"

namespace backoffice {
namespace {

// Domain texts: a hash or signature made for one purpose never passes for
// the other. On disk: never change.
constexpr std::string_view kRowDomain = "mpay-audit-row/1";
constexpr std::string_view kCheckpointDomain = "mpay-audit-checkpoint/1";
constexpr std::string_view kKeyHeader = "mpay-audit-key 1";

void Ready() {
  static const bool started = sodium_init() >= 0;
  if (!started) throw std::runtime_error("libsodium cannot start");
}

void PutInt(std::string& out, int64_t v) {
  const auto u = static_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) out += static_cast<char>((u >> (8 * i)) & 0xff);
}

// Length first: no two field lists encode alike.
void PutText(std::string& out, std::string_view s) {
  PutInt(out, static_cast<int64_t>(s.size()));
  out.append(s);
}

std::string CheckpointMessage(const AuditCheckpoint& cp) {
  std::string m(kCheckpointDomain);
  PutInt(m, cp.lastId);
  m.append(reinterpret_cast<const char*>(cp.lastHash.data()), cp.lastHash.size());
  PutInt(m, cp.at);
  return m;
}

std::runtime_error KeyError(const std::string& path, const std::string& why) {
  return std::runtime_error("audit key " + path + ": " + why);
}

}  // namespace

std::string ToHex(const unsigned char* bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex(2 * n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    hex[2 * i] = kDigits[bytes[i] >> 4];
    hex[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  return hex;
}

bool FromHex(std::string_view hex, unsigned char* out, std::size_t n) {
  if (hex.size() != 2 * n) return false;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < n; ++i) {
    const int hi = nibble(hex[2 * i]), lo = nibble(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<unsigned char>(hi << 4 | lo);
  }
  return true;
}

ChainHash ChainHashOf(const ChainHash& prev, int64_t id, const AuditEntry& e) {
  thread_local std::string buffer;
  buffer.assign(kRowDomain);
  buffer.append(reinterpret_cast<const char*>(prev.data()), prev.size());
  PutInt(buffer, id);
  PutInt(buffer, e.at);
  PutInt(buffer, e.OP_ID);
  PutText(buffer, e.OP_ADDRESS);
  PutInt(buffer, e.SO_ORG_ID);
  PutText(buffer, e.login);
  PutInt(buffer, e.declaredOpId);
  PutText(buffer, e.peer);
  PutText(buffer, e.serviceCode);
  PutText(buffer, e.conditions);
  PutText(buffer, e.subscriber);
  PutInt(buffer, e.rowCount);
  PutInt(buffer, e.result);
  ChainHash h;
  crypto_generichash(h.data(), h.size(), reinterpret_cast<const unsigned char*>(buffer.data()),
                     buffer.size(), nullptr, 0);
  return h;
}

bool CheckpointSignatureValid(const AuditCheckpoint& cp) {
  Ready();
  const std::string m = CheckpointMessage(cp);
  return crypto_sign_verify_detached(cp.signature.data(),
                                     reinterpret_cast<const unsigned char*>(m.data()), m.size(),
                                     cp.key.data()) == 0;
}

AuditSigner::~AuditSigner() {
  sodium_memzero(cSecret.data(), cSecret.size());
}

AuditSigner::AuditSigner(AuditSigner&& other) noexcept
    : cPublic(other.cPublic), cSecret(other.cSecret) {
  sodium_memzero(other.cSecret.data(), other.cSecret.size());
}

AuditSigner AuditSigner::Open(const std::string& path, bool create) {
  Ready();
  AuditSigner signer;
  std::array<unsigned char, crypto_sign_SEEDBYTES> seed{};
  struct Wipe {
    std::array<unsigned char, crypto_sign_SEEDBYTES>& s;
    std::string text;
    ~Wipe() {
      sodium_memzero(s.data(), s.size());
      sodium_memzero(text.data(), text.size());
    }
  } wipe{seed, {}};
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT && create) {
    // Written whole under another name, its owner's only, then linked into
    // place: a back office starting at the same time reads either no key
    // or all of one, and the first to link wins.
    std::string temporary = path + ".XXXXXX";
    const int out = ::mkstemp(temporary.data());
    if (out < 0) throw KeyError(path, std::strerror(errno));
    randombytes_buf(seed.data(), seed.size());
    wipe.text = std::string(kKeyHeader) + '\n' + ToHex(seed) + '\n';
    const bool written = ::fchmod(out, 0600) == 0 &&
                         ::write(out, wipe.text.data(), wipe.text.size()) ==
                             static_cast<ssize_t>(wipe.text.size()) &&
                         ::fsync(out) == 0;
    ::close(out);
    const int linked = written ? ::link(temporary.c_str(), path.c_str()) : -1;
    const int error = errno;
    ::unlink(temporary.c_str());
    if (!written || (linked != 0 && error != EEXIST)) throw KeyError(path, "cannot be written");
    fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0) throw KeyError(path, std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw KeyError(path, "not a regular file");
  }
  if ((st.st_mode & 077) != 0) {
    ::close(fd);
    throw KeyError(path, "others may read it (chmod 600 it)");
  }
  char buffer[256];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (n > 0) wipe.text.assign(buffer, static_cast<std::size_t>(n));
  sodium_memzero(buffer, sizeof buffer);
  const std::string header = std::string(kKeyHeader) + '\n';
  std::string_view body(wipe.text);
  if (!body.starts_with(header)) throw KeyError(path, "not an audit key");
  body.remove_prefix(header.size());
  if (body.ends_with('\n')) body.remove_suffix(1);
  if (!FromHex(body, seed)) throw KeyError(path, "not an audit key");
  crypto_sign_seed_keypair(signer.cPublic.data(), signer.cSecret.data(), seed.data());
  return signer;
}

AuditCheckpoint AuditSigner::Sign(const AuditHead& head, int64_t at) const {
  AuditCheckpoint cp;
  cp.lastId = head.id;
  cp.lastHash = head.hash;
  cp.at = at;
  cp.key = cPublic;
  const std::string m = CheckpointMessage(cp);
  crypto_sign_detached(cp.signature.data(), nullptr,
                       reinterpret_cast<const unsigned char*>(m.data()), m.size(), cSecret.data());
  return cp;
}

std::string DefaultAuditKeyPath(const std::string& db) {
  if (!IsPostgresUri(db)) return db + ".audit-key";
  const char* state = std::getenv("STATE_DIRECTORY");
  if (state && *state) {
    std::string dir = state;
    // systemd may name several folders, ':'-separated: the first is ours.
    dir = dir.substr(0, dir.find(':'));
    return dir + "/audit.key";
  }
  return "mpay-audit.key";
}

AuditVerifier::AuditVerifier(std::vector<AuditPublicKey> trusted,
                             std::vector<AuditCheckpoint> checkpoints, bool fromStart)
    : vTrusted(std::move(trusted)), vCheckpoints(std::move(checkpoints)), bFromStart(fromStart) {
  std::stable_sort(
      vCheckpoints.begin(), vCheckpoints.end(),
      [](const AuditCheckpoint& a, const AuditCheckpoint& b) { return a.lastId < b.lastId; });
  vValid.reserve(vCheckpoints.size());
  for (const AuditCheckpoint& cp : vCheckpoints) {
    const bool known = std::find(vTrusted.begin(), vTrusted.end(), cp.key) != vTrusted.end();
    const bool valid = known && CheckpointSignatureValid(cp);
    vValid.push_back(valid);
    if (!known) {
      CheckpointProblem(cp, "signed by a key that is not trusted");
    } else if (!valid) {
      CheckpointProblem(cp, "signature fails");
    }
  }
  cResult.checkpoints = static_cast<int64_t>(vCheckpoints.size());
}

void AuditVerifier::RowProblem(int64_t id, const char* what) {
  if (cResult.firstBadRow != 0) return;
  cResult.firstBadRow = id;
  cResult.rowProblem = what;
}

void AuditVerifier::CheckpointProblem(const AuditCheckpoint& cp, const char* what) {
  if (cResult.firstBadCheckpoint != 0 && cResult.firstBadCheckpoint <= cp.seq) return;
  cResult.firstBadCheckpoint = cp.seq;
  cResult.checkpointProblem = what;
}

bool AuditVerifier::Anchored(const ChainHash& prev, int64_t id) const {
  if (prev == ChainHash{}) return true;
  for (std::size_t i = 0; i < vCheckpoints.size() && vCheckpoints[i].lastId < id; ++i) {
    if (vValid[i] && vCheckpoints[i].lastHash == prev) return true;
  }
  return false;
}

void AuditVerifier::PassCheckpoints(int64_t id, const ChainedRow* row) {
  for (; iNextCheckpoint < vCheckpoints.size() && vCheckpoints[iNextCheckpoint].lastId <= id;
       ++iNextCheckpoint) {
    const AuditCheckpoint& cp = vCheckpoints[iNextCheckpoint];
    if (!vValid[iNextCheckpoint]) continue;
    // Before the first row walked: an anchor of pruning, or of --from.
    if (!bStarted) continue;
    if (cp.lastId < id || !row) {
      CheckpointProblem(cp, "its row was removed");
      RowProblem(cp.lastId, "removed");
    } else if (!row->bChained || row->hash != cp.lastHash) {
      CheckpointProblem(cp, "its row's hash differs: rows were changed and chained again");
    } else {
      cResult.lastCoveredId = std::max(cResult.lastCoveredId, cp.lastId);
    }
  }
}

void AuditVerifier::Row(const ChainedRow& row, const ChainHash& entryHash) {
  ++cResult.rows;
  if (!row.bChained) {
    // Before the chain began: stored before chaining, and not covered.
    // After it: slipped in.
    ++cResult.unchained;
    if (bStarted) RowProblem(row.id, "has no hash: inserted");
    return;
  }
  if (!bStarted) {
    // Checkpoints that end before the first chained row anchor it; none is checked.
    while (iNextCheckpoint < vCheckpoints.size() && vCheckpoints[iNextCheckpoint].lastId < row.id)
      ++iNextCheckpoint;
    cResult.firstId = row.id;
    if (entryHash != row.hash) {
      RowProblem(row.id, "changed");
    } else if (bFromStart && !Anchored(row.prev, row.id)) {
      RowProblem(row.id, "rows before it were removed");
    }
  } else if (entryHash != row.hash) {
    RowProblem(row.id, "changed");
  } else if (row.prev != cRunning) {
    // Following what the row before followed: that one was slipped in.
    if (row.prev == cBeforeLast) {
      RowProblem(iLastId, "inserted");
    } else {
      RowProblem(row.id, "rows before it were removed");
    }
  }
  bStarted = true;
  PassCheckpoints(row.id, &row);
  cBeforeLast = row.prev;
  cRunning = row.hash;
  iLastId = row.id;
}

AuditVerification AuditVerifier::Finish() {
  if (bStarted) PassCheckpoints(INT64_MAX, nullptr);
  return cResult;
}

std::vector<AuditPublicKey> TrustedAuditKeys(const std::string& keyPath) {
  std::vector<AuditPublicKey> keys{AuditSigner::Open(keyPath, false).publicKey()};
  std::FILE* f = std::fopen((keyPath + ".trusted").c_str(), "r");
  if (!f) return keys;
  char line[256];
  while (std::fgets(line, sizeof line, f)) {
    std::string_view text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    AuditPublicKey key;
    if (FromHex(text, key)) keys.push_back(key);
  }
  std::fclose(f);
  return keys;
}

AuditVerification VerifyAudit(AuditStore& store, std::vector<AuditPublicKey> trusted,
                              int64_t fromId) {
  AuditVerifier verifier(std::move(trusted), store.ReadCheckpoints(), fromId <= 0);
  store.ReadChain(fromId, [&](const ChainedRow& row, const AuditEntry& entry) {
    verifier.Row(row, row.bChained ? ChainHashOf(row.prev, row.id, entry) : ChainHash{});
    return true;
  });
  return verifier.Finish();
}

}  // namespace backoffice
