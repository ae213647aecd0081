#pragma once

#include <gtest/gtest.h>

#include <string>

#include "backoffice/protocol.h"
#include "backoffice/sqlite_db.h"
#include "records/mmicropaymentdef.h"

// Checks that `got` holds exactly the log rows of `phone` in the database at
// `db`, in time order, field by field, each with every field present.
inline void ExpectLogRowsOfPhone(const std::string& db, const std::string& phone,
                                 const MMicroPaymentDef::SMpInfoList& got) {
  using namespace backoffice;
  Database d(db, Database::Mode::kReadOnly);
  Statement s = d.Prepare(
      "SELECT so_nbr, busi_code, phone_id, amount, mpp_transaction_id, so_date, remark "
      "FROM mp_so_log WHERE phone_id = ?1 ORDER BY so_date, so_nbr");
  s.Bind(1, phone);
  std::size_t i = 0;
  while (s.Step()) {
    ASSERT_LT(i, got.size());
    const auto& r = got[i++];
    EXPECT_EQ(r.Marker, 0x7Fu);
    EXPECT_EQ(r.SO_NBR, s.Int(0));
    EXPECT_EQ(r.BUSI_CODE, s.Int(1));
    EXPECT_EQ(r.PHONE_ID, s.Text(2));
    EXPECT_EQ(r.AMOUNT, s.Int(3));
    EXPECT_EQ(r.MPP_TRANSACTION_ID, s.Text(4));
    EXPECT_EQ(ToStamp(r.MPP_TIME), s.Int(5));
    EXPECT_EQ(r.REMARK, s.Text(6));
  }
  EXPECT_EQ(i, got.size());
  EXPECT_GT(i, 0u);
}
