// Compiled to GBK: the operators' names are Chinese.
#include "backoffice/demo_operators.h"

#include "backoffice/credentials.h"
#include "backoffice/stamp.h"
#include "records/operations.h"

namespace backoffice {
namespace {

struct DemoOperator {
  int opId;
  const char* login;
  const char* password;
  const char* name;
  bool userQuery;   // the user query's right besides the log query's
  int64_t expires;  // yyyymmddhhmmss; 0: never
};

constexpr DemoOperator kOperators[] = {
    {1001, kDemoLogin, kDemoPassword, "演示操作员", true, 0},
    {1002, kDemoLogOnlyLogin, kDemoLogOnlyPassword, "日志查询员", false, 0},
    {1003, kDemoExpiredLogin, kDemoExpiredPassword, "过期操作员", true, 20200101000000},
};

}  // namespace

int AddDemoOperators(OperatorStore& store) {
  int added = 0;
  for (const DemoOperator& d : kOperators) {
    OperatorAccount a;
    a.record.set_OP_ID(d.opId);
    a.record.set_OP_NAME(d.name);
    a.record.set_LOGIN_NAME(d.login);
    a.record.set_OP_STATUS(1);
    a.record.set_LOCK_STATUS(0);
    a.record.set_ORG_ID(101);
    a.record.set_REGION_CODE(10);
    a.record.set_COUNTY_CODE(1001);
    a.record.set_CREATE_DATE(FromStamp(20250101090000));
    a.record.set_EXPIRE_DATE(FromStamp(d.expires));
    a.passwordHash = HashPassword(d.password);
    a.rights.emplace_back(operations::Of(operations::Id::kLog).right);
    if (d.userQuery) a.rights.emplace_back(operations::Of(operations::Id::kUser).right);
    // Saving and printing lists: not the log-only operator.
    if (d.userQuery) a.rights.emplace_back(operations::Of(operations::Id::kExport).right);
    store.AddOperator(a);
    ++added;
  }
  return added;
}

}  // namespace backoffice
