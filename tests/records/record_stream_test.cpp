// Records and lists on a stream: what the writers put there, what the readers
// take back and where they stop.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "frames.h"
#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "sample_records.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/stream_dump.h"
#include "tmclient/tmb_stream.h"

using MCustQryAccept::SFetchInfoIn;
using MCustQryAccept::SQueryLogSoInfo;
using MCustQryAccept::SQuerySoInfoListIn;
using MMicroPaymentDef::SMpAcctStatInfo;
using MMicroPaymentDef::SMpInfo;
using MMicroPaymentDef::SMpInfoList;
using MMicroPaymentDef::SMpUserInfo;
using MMicroPaymentDef::SMpUserInfoList;

namespace {

template <class T>
std::string Listing(const T& value) {
  tmb_stream s;
  s.open();
  s << value;
  EXPECT_FALSE(s.failed());
  return tmclient::DumpStream(s.bytes());
}

template <class T>
std::string Encode(const T& value) {
  tmb_stream s;
  s.open();
  s << value;
  return std::string(s.bytes());
}

// A whole log-query reply as the back office sends it.
std::string LogQueryReply() {
  return samples::Frame(samples::kLogQueryReply,
                        SMpInfoList{samples::LogRow(1), samples::LogRow(2), samples::LogRow(3)},
                        samples::Totals(), 0, QRSErrorMsg());
}

// Reads a log-query reply the way the proxy does; true when it all decoded.
bool ReadLogQueryReply(const std::string& bytes, SMpInfoList& rows) {
  tmb_stream s;
  s.load(bytes);
  SMpAcctStatInfo stat;
  int result = -1;
  QRSErrorMsg err;
  return samples::ReadFrame(s, samples::kLogQueryReply, rows, stat, result, err);
}

}  // namespace

TEST(RequestWriter, DefaultRecordIsFrameAndTwoZeroMasks) {
  EXPECT_EQ(Listing(SFetchInfoIn()),
            "struct \"MCustQryAccept.SFetchInfoIn\"\n"
            "  uint64 0\n"
            "  uint64 0\n"
            "end struct\n");
  EXPECT_EQ(Listing(SQuerySoInfoListIn()),
            "struct \"MCustQryAccept.SQuerySoInfoListIn\"\n"
            "  uint64 0\n"
            "  uint64 0\n"
            "end struct\n");
}

TEST(RequestWriter, LogQueryFieldsGoOutInBitOrder) {
  EXPECT_EQ(Listing(samples::LogQuery()),
            "struct \"MCustQryAccept.SQuerySoInfoListIn\"\n"
            "  uint64 35843\n"
            "  uint64 35843\n"
            "  int64 123456789012345\n"
            "  int32 2\n"
            "  datetime 2024-01-01 00:00:00\n"
            "  datetime 2024-01-31 23:59:59\n"
            "  string \"13912345678\"\n"
            "end struct\n");
}

TEST(RequestWriter, UserQueryAndServiceOrderInfo) {
  EXPECT_EQ(Listing(samples::UserQuery()),
            "struct \"MCustQryAccept.SFetchInfoIn\"\n"
            "  uint64 262160\n"
            "  uint64 262160\n"
            "  string \"13912345678\"\n"
            "  int16 1\n"
            "end struct\n");

  SQueryLogSoInfo so;
  so.set_SO_MODE(0);
  so.set_OP_ADDRESS("10.1.2.3");
  so.UsedMarker |= uint64_t{1} << 11;  // UsedMarker travels but selects nothing
  EXPECT_EQ(Listing(so),
            "struct \"MCustQryAccept.SQueryLogSoInfo\"\n"
            "  uint64 2308\n"
            "  uint64 260\n"
            "  int16 0\n"
            "  string \"10.1.2.3\"\n"
            "end struct\n");
}

TEST(RequestWriter, WritesEverythingEvenAfterTheStreamFailed) {
  SFetchInfoIn in;
  in.set_PHONE_ID("1");
  tmb_stream s;  // never opened: failed from the start
  s << in;
  EXPECT_TRUE(s.failed());
  EXPECT_EQ(s.bytes(), "");
}

TEST(RecordRoundTrip, EveryRecordReencodesToTheSameBytes) {
  SQuerySoInfoListIn a;
  a.set_SO_NBR(INT64_MIN);
  a.set_ISNORMAL(-1);
  a.set_AFTER_FLAG(-32768);
  a.set_STS_DATE(QRSDateTime("99991231235959"));
  a.set_ROAM_SIM("sim");
  SQuerySoInfoListIn a2;
  tmb_stream s;
  s.load(Encode(a));
  s >> a2;
  ASSERT_FALSE(s.failed());
  EXPECT_EQ(Encode(a2), Encode(a));
  EXPECT_EQ(a2.get_AFTER_FLAG(), -32768);

  const SMpUserInfo u = samples::UserRow(9000000001);
  SMpUserInfo u2;
  s.load(Encode(u));
  s >> u2;
  ASSERT_FALSE(s.failed());
  EXPECT_EQ(Encode(u2), Encode(u));
  EXPECT_EQ(u2.REMARK, "开户");
  EXPECT_EQ(u2.MP_CREATE_DATE, QRSDateTime("20230101080000"));
}

TEST(ReplyReader, MarkerSelectsTheFieldsRead) {
  SMpInfo sent = samples::LogRow(42);
  sent.Marker = 0x5;  // SO_NBR and PHONE_ID only
  SMpInfo got;
  tmb_stream s;
  s.load(Encode(sent));
  s >> got;
  ASSERT_FALSE(s.failed());
  EXPECT_EQ(s.remaining(), 0u);
  EXPECT_EQ(got.Marker, 0x5u);
  EXPECT_EQ(got.UsedMarker, 0x7Fu);
  EXPECT_EQ(got.SO_NBR, 42);
  EXPECT_EQ(got.PHONE_ID, "13912345678");
  EXPECT_EQ(got.BUSI_CODE, 0);
  EXPECT_EQ(got.AMOUNT, 0);
  EXPECT_EQ(got.MPP_TRANSACTION_ID, "");
  EXPECT_TRUE(got.MPP_TIME.isNull());
  EXPECT_EQ(got.REMARK, "");

  sent.Marker = 0;
  SMpInfo none;
  s.load(Encode(sent));
  s >> none;
  ASSERT_FALSE(s.failed());
  EXPECT_EQ(s.remaining(), 0u);
  EXPECT_EQ(none.Marker, 0u);
  EXPECT_EQ(none.SO_NBR, 0);
  EXPECT_EQ(none.PHONE_ID, "");
}

TEST(ReplyReader, UnknownHighBitIsKeptAndReadsNothing) {
  SMpAcctStatInfo sent;
  sent.set_DEPOSIT_COUNT(5);
  sent.set_DEPOSIT_SUM(100);
  sent.set_WITHDRAW_COUNT(1);
  sent.set_WITHDRAW_SUM(20);
  sent.Marker |= uint64_t{1} << 40;
  SMpAcctStatInfo got;
  tmb_stream s;
  s.load(Encode(sent));
  s >> got;
  ASSERT_FALSE(s.failed());
  EXPECT_EQ(s.remaining(), 0u);
  EXPECT_EQ(got.Marker, (uint64_t{1} << 40) | 0xF);
  EXPECT_EQ(got.WITHDRAW_SUM, 20);
}

TEST(ReplyReader, StopsAtTheFirstBadFieldKeepingWhatWasRead) {
  tmb_stream w;
  w.open();
  w.begin_write_struct(SMpInfo::kStreamName);
  w << uint64_t{0x7F} << uint64_t{0x7F};
  w << int64_t{7} << 3;
  w << 99;  // PHONE_ID should be a string
  w << std::string("rest");
  w.end_write_struct();

  SMpInfo got;
  tmb_stream s;
  s.load(w.bytes());
  s >> got;
  EXPECT_TRUE(s.failed());
  EXPECT_EQ(got.Marker, 0x7Fu);
  EXPECT_EQ(got.SO_NBR, 7);
  EXPECT_EQ(got.BUSI_CODE, 3);
  EXPECT_EQ(got.PHONE_ID, "");
  EXPECT_EQ(got.AMOUNT, 0);  // nothing after the bad field either
  EXPECT_EQ(got.MPP_TRANSACTION_ID, "");
  EXPECT_EQ(s.failed_at(), "string in MMicroPaymentDef.SMpInfo at offset 58");
}

TEST(ReplyReader, WrongRecordNameFails) {
  SMpUserInfo got;
  tmb_stream s;
  s.load(Encode(samples::LogRow(1)));
  s >> got;
  EXPECT_TRUE(s.failed());
  EXPECT_EQ(got.Marker, 0u);
}

TEST(ListReader, EmptyListLeavesTheListAlone) {
  tmb_stream w;
  w.open();
  w << SMpInfoList();
  EXPECT_EQ(tmclient::DumpStream(w.bytes()),
            "list \"MMicroPaymentDef..SMpInfoList\" count 0\nend list\n");

  SMpInfoList list{samples::LogRow(9)};
  tmb_stream s;
  s.load(w.bytes());
  s >> list;
  ASSERT_FALSE(s.failed());
  EXPECT_EQ(s.remaining(), 0u);  // the list end was read
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].SO_NBR, 9);
}

TEST(ListReader, AppendsAfterExistingRows) {
  SMpUserInfoList list{samples::UserRow(1)};
  SMpUserInfoList sent{samples::UserRow(2), samples::UserRow(3)};
  sent[1].Marker = 0x1;
  tmb_stream s;
  s.load(Encode(sent));
  s >> list;
  ASSERT_FALSE(s.failed());
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].SERV_ID, 1);
  EXPECT_EQ(list[1].SERV_ID, 2);
  EXPECT_EQ(list[1].REMARK, "开户");
  EXPECT_EQ(list[2].SERV_ID, 3);
  EXPECT_EQ(list[2].REMARK, "");  // not sent: construction value
  EXPECT_EQ(list[2].Marker, 0x1u);
}

TEST(ListReader, ThirdElementFailingLeavesTwo) {
  tmb_stream w;
  w.open();
  w.begin_write_list(MMicroPaymentDef::kSMpInfoListName, 4);
  w << samples::LogRow(1) << samples::LogRow(2);
  w.begin_write_struct(SMpInfo::kStreamName);
  w << uint64_t{1} << uint64_t{1} << std::string("not an int64");
  w.end_write_struct();
  w << samples::LogRow(4);
  w.end_write_list();

  SMpInfoList list;
  tmb_stream s;
  s.load(w.bytes());
  s >> list;
  EXPECT_TRUE(s.failed());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].SO_NBR, 1);
  EXPECT_EQ(list[1].SO_NBR, 2);
  EXPECT_EQ(list[1].REMARK, "冻结");
}

TEST(ListReader, WrongListNameReadsNothing) {
  SMpUserInfoList list;
  tmb_stream s;
  s.load(Encode(SMpInfoList{samples::LogRow(1)}));
  s >> list;
  EXPECT_TRUE(s.failed());
  EXPECT_TRUE(list.empty());
}

TEST(ListReader, HostileCountFailsBeforeAnyElement) {
  tmb_stream w;
  w.open();
  w.begin_write_list(MMicroPaymentDef::kSMpInfoListName, 1);
  w << samples::LogRow(1);
  w.end_write_list();
  std::string bytes(w.bytes());
  // The count follows the tag, the name length and the name.
  const std::size_t countAt = 2 + std::string(MMicroPaymentDef::kSMpInfoListName).size();
  for (const uint32_t count : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 1000000u}) {
    std::memcpy(&bytes[countAt], &count, 4);
    SMpInfoList list;
    tmb_stream s;
    s.load(bytes);
    s >> list;
    EXPECT_TRUE(s.failed()) << count;
    EXPECT_TRUE(list.empty()) << count;
    EXPECT_LT(list.capacity(), 16u) << count;
  }
}

TEST(ReplyFrame, WholeReplyDecodes) {
  SMpInfoList rows;
  ASSERT_TRUE(ReadLogQueryReply(LogQueryReply(), rows));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].SO_NBR, 3);
  EXPECT_EQ(rows[2].MPP_TIME, QRSDateTime("20240229235959"));
}

TEST(ReplyFrame, EveryTruncatedPrefixFails) {
  const std::string full = LogQueryReply();
  for (std::size_t n = 0; n < full.size(); ++n) {
    SMpInfoList rows;
    EXPECT_FALSE(ReadLogQueryReply(full.substr(0, n), rows)) << "prefix of " << n << " bytes";
  }
}

TEST(ReplyFrame, TrailingGarbageFails) {
  SMpInfoList rows;
  EXPECT_FALSE(ReadLogQueryReply(LogQueryReply() + '\0', rows));
  EXPECT_FALSE(ReadLogQueryReply(LogQueryReply() + LogQueryReply(), rows));
}

TEST(ReplyFrame, EverySingleByteCorruptionEndsCleanly) {
  // Any outcome is allowed except a crash or a read outside the frame; the
  // sanitizer builds check the latter.
  const std::string full = LogQueryReply();
  for (std::size_t i = 0; i < full.size(); ++i) {
    for (const unsigned char flip : {0x01, 0x80, 0xFF}) {
      std::string bytes = full;
      bytes[i] = static_cast<char>(bytes[i] ^ flip);
      SMpInfoList rows;
      ReadLogQueryReply(bytes, rows);
      EXPECT_LE(rows.size(), 3u);
    }
  }
}
