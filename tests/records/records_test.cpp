// Construction, setters, getters and copying of the records.
#include <gtest/gtest.h>

#include <type_traits>

#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "records/msysmgntdef.h"
#include "sample_records.h"

using MCustQryAccept::SFetchInfoIn;
using MCustQryAccept::SQueryLogSoInfo;
using MCustQryAccept::SQuerySoInfoListIn;
using MMicroPaymentDef::SMpInfo;
using MMicroPaymentDef::SMpUserInfo;
using MSysmgntDef::SOperator;

TEST(RecordDefaults, EveryFieldAtItsDefaultAndMasksZero) {
  const SMpInfo info;
  EXPECT_EQ(info.SO_NBR, 0);
  EXPECT_EQ(info.BUSI_CODE, 0);
  EXPECT_EQ(info.PHONE_ID, "");
  EXPECT_EQ(info.AMOUNT, 0);
  EXPECT_EQ(info.MPP_TRANSACTION_ID, "");
  EXPECT_TRUE(info.MPP_TIME.isNull());
  EXPECT_EQ(info.REMARK, "");
  EXPECT_EQ(info.Marker, 0u);
  EXPECT_EQ(info.UsedMarker, 0u);

  const SOperator op;
  EXPECT_EQ(op.OP_ID, 0);
  EXPECT_EQ(op.REG_TYPE, 0);
  EXPECT_TRUE(op.EXPIRE_DATE.isNull());
  EXPECT_EQ(op.MEMO, "");
  EXPECT_EQ(op.Marker | op.UsedMarker, 0u);
}

// Lists of records grow and shrink without the risk of a throwing default.
static_assert(std::is_nothrow_default_constructible_v<SMpInfo>);
static_assert(std::is_nothrow_move_constructible_v<SMpUserInfo>);

TEST(RecordDefaults, FieldCountsMatchTheTables) {
  EXPECT_EQ(SOperator::kFieldCount, 20);
  EXPECT_EQ(SQuerySoInfoListIn::kFieldCount, 20);
  EXPECT_EQ(SQueryLogSoInfo::kFieldCount, 12);
  EXPECT_EQ(SFetchInfoIn::kFieldCount, 19);
  EXPECT_EQ(SMpInfo::kFieldCount, 7);
  EXPECT_EQ(SMpUserInfo::kFieldCount, 11);
  EXPECT_EQ(MMicroPaymentDef::SMpAcctStatInfo::kFieldCount, 4);
}

TEST(RecordSetters, UserQueryRequestMasks) {
  SFetchInfoIn in;
  in.set_PHONE_ID("x");
  in.set_QUERY_TYPE(1);
  EXPECT_EQ(in.Marker, 0x40010u);
  EXPECT_EQ(in.UsedMarker, 0x40010u);
  in.set_PHONE_ID("13900000000");
  EXPECT_EQ(in.Marker, 0x40010u);
  EXPECT_EQ(in.UsedMarker, 0x40010u);
  EXPECT_EQ(in.get_PHONE_ID(), "13900000000");
  EXPECT_EQ(in.get_QUERY_TYPE(), 1);
}

TEST(RecordSetters, LogQueryRequestMasks) {
  SQuerySoInfoListIn in;
  in.set_SO_NBR(0);  // a default value still counts as present
  in.set_PHONE_ID("");
  in.set_BUSI_CODE(0);
  in.set_BEGIN_SO_DATE(QRSDateTime());
  in.set_END_SO_DATE(QRSDateTime());
  EXPECT_EQ(in.Marker, 0x8C03u);
  EXPECT_EQ(in.UsedMarker, 0x8C03u);
}

TEST(RecordSetters, ServiceOrderInfoMasks) {
  const SQueryLogSoInfo so = samples::ServiceOrder();  // default values count as present too
  EXPECT_EQ(so.Marker, 0x7FEu);
  EXPECT_EQ(so.UsedMarker, 0x7FEu);
  EXPECT_EQ(so.get_SO_REGION_CODE(), 571);
  EXPECT_EQ(so.get_SO_DATE(), QRSDateTime("20240102030405"));
}

TEST(RecordSetters, HighestBitOfALongRecord) {
  SOperator op;
  op.set_MEMO("m");
  op.set_REGION_CODE(0x12345);
  EXPECT_EQ(op.Marker, (1u << 19) | (1u << 18));
  EXPECT_EQ(op.get_REGION_CODE(), 0x12345);
}

namespace {

SOperator SampleOperator() {
  SOperator op;
  op.set_OP_ID(1001);
  op.set_OP_NAME("张三");
  op.set_ORG_ID(88);
  op.set_COUNTY_CODE(70000);
  op.set_REGION_CODE(571);
  op.set_VALID_DATE(QRSDateTime("20200101000000"));
  op.MEMO = "not marked";  // a field set directly, bit clear
  return op;
}

}  // namespace

TEST(RecordCopy, SelfAssignmentChangesNothing) {
  SOperator op = SampleOperator();
  SOperator& alias = op;
  op = alias;
  EXPECT_EQ(op.OP_NAME, "张三");
  EXPECT_EQ(op.MEMO, "not marked");
  EXPECT_EQ(op.Marker, SampleOperator().Marker);
}

TEST(RecordCopy, AssignmentReplacesMasksAndCopiesUnmarkedFields) {
  const SOperator src = SampleOperator();
  SOperator dst;
  dst.set_PHONE("0571");  // a bit the source does not have
  dst.UsedMarker |= 1u << 30;
  dst = src;
  EXPECT_EQ(dst.Marker, src.Marker);
  EXPECT_EQ(dst.UsedMarker, src.UsedMarker);
  EXPECT_EQ(dst.PHONE, "");  // copied although its bit is clear in the source
  EXPECT_EQ(dst.MEMO, "not marked");
  EXPECT_EQ(dst.OP_NAME, "张三");
  EXPECT_EQ(dst.get_COUNTY_CODE(), 70000);
  EXPECT_EQ(dst.VALID_DATE, QRSDateTime("20200101000000"));
}

TEST(RecordCopy, CopyAndMoveConstructionGiveTheSameRecord) {
  SMpUserInfo src;
  src.Marker = 0x7FF;
  src.UsedMarker = 0x1;
  src.PHONE_ID = "13900000000";
  src.REMARK = "备注";
  src.MP_STS = 2;
  const SMpUserInfo copy(src);
  EXPECT_EQ(copy.Marker, 0x7FFu);
  EXPECT_EQ(copy.UsedMarker, 0x1u);
  EXPECT_EQ(copy.PHONE_ID, "13900000000");
  EXPECT_EQ(copy.REMARK, "备注");
  EXPECT_EQ(copy.MP_STS, 2);
  SMpUserInfo moved(std::move(src));
  EXPECT_EQ(moved.REMARK, "备注");
  EXPECT_EQ(moved.Marker, 0x7FFu);
}
