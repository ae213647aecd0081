#pragma once

#include <memory>
#include <string>

#include "backoffice/operator_store.h"

namespace backoffice {

// The operator store in the back office's SQLite database (the tables
// mp_operator, mp_operator_right and mp_session of schema.h). One read-write
// connection of its own, used by one caller at a time: each method is a few
// indexed statements.
class SqliteOperatorStore final : public OperatorStore {
 public:
  // Opens `path`, whose tables must exist (CreateTables); throws DbError
  // when it cannot, or when mp_operator lacks a column for a field of the
  // operator record.
  explicit SqliteOperatorStore(const std::string& path);
  ~SqliteOperatorStore() override;

  bool FindOperator(std::string_view login, OperatorAccount& out) override;
  bool FindOperatorById(int32_t opId, OperatorAccount& out) override;
  std::vector<OperatorAccount> ListOperators() override;
  int32_t AddOperator(const OperatorAccount& account) override;
  bool SetPasswordHash(std::string_view login, std::string_view hash) override;
  bool SetLocked(std::string_view login, bool locked) override;
  void RecordFailedSignIns(int32_t opId, int failures, int64_t lockedUntil,
                           std::string_view failedNonce = {}) override;
  void RecordSignIn(int32_t opId, int64_t at) override;
  int LockUnused(int64_t now, int64_t signedInBefore) override;
  bool UpdateDirectoryOperator(const OperatorAccount& account) override;
  void CreateSession(const SessionRecord& session) override;
  bool FindSession(std::string_view tokenHash, SessionRecord& out) override;
  // In one statement.
  bool FindSessionAccount(std::string_view tokenHash, SessionRecord& session,
                          OperatorAccount& account) override;
  void TouchSession(std::string_view tokenHash, int64_t at) override;
  bool EndSession(std::string_view tokenHash) override;

 private:
  class Impl;
  std::unique_ptr<Impl> pImpl;
};

}  // namespace backoffice
