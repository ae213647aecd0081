#pragma once

// The audit's rows as both stores read them back for verification: the
// statements, written once (sql_dialect.h), and the readers of their rows
// (`row` answers Null(column), Int(column) and Text(column)).

#include "backoffice/audit_chain.h"
#include "backoffice/audit_writer.h"

namespace backoffice::audit_rows {

// The rows from id ?1 on, at most ?2, by id.
inline constexpr char kChainSql[] =
    "SELECT id, at, op_id, op_address, so_org_id, service_code, conditions, row_count, result, "
    "op_login, declared_op_id, peer_address, subscriber, prev_hash, row_hash FROM mp_audit "
    "WHERE id >= ?1 ORDER BY id LIMIT ?2";

inline constexpr char kCheckpointsSql[] =
    "SELECT seq, last_id, last_hash, at, signer, signature FROM mp_audit_checkpoint ORDER BY seq";

template <class Row>
void ReadChained(const Row& row, ChainedRow& r, AuditEntry& e) {
  r.id = row.Int(0);
  e.at = row.Int(1);
  e.OP_ID = static_cast<int32_t>(row.Int(2));
  e.OP_ADDRESS = row.Text(3);
  e.SO_ORG_ID = static_cast<int32_t>(row.Int(4));
  e.serviceCode = row.Text(5);
  e.conditions = row.Text(6);
  e.rowCount = row.Int(7);
  e.result = static_cast<int32_t>(row.Int(8));
  e.login = row.Text(9);
  e.declaredOpId = static_cast<int32_t>(row.Int(10));
  e.peer = row.Text(11);
  e.subscriber = row.Text(12);
  r.bChained = !row.Null(13) && !row.Null(14) && FromHex(row.Text(13), r.prev) &&
               FromHex(row.Text(14), r.hash);
}

// A field that is not hex leaves zeros: its signature fails.
template <class Row>
AuditCheckpoint ReadCheckpoint(const Row& row) {
  AuditCheckpoint cp;
  cp.seq = row.Int(0);
  cp.lastId = row.Int(1);
  FromHex(row.Text(2), cp.lastHash);
  cp.at = row.Int(3);
  FromHex(row.Text(4), cp.key);
  FromHex(row.Text(5), cp.signature);
  return cp;
}

}  // namespace backoffice::audit_rows
