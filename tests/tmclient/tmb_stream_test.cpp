// The stream coding: exact bytes, boundary values, and how readers fail.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "tmclient/qrs_datetime.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/tmb_stream.h"

namespace {

std::string Hex(std::string_view bytes) {
  std::string out;
  char buf[4];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", c);
    out += buf;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

template <class T>
std::string EncodeOne(const T& v) {
  tmb_stream s;
  s.open();
  s << v;
  EXPECT_FALSE(s.failed());
  return std::string(s.bytes());
}

template <class T>
T DecodeOne(const std::string& bytes, bool& ok) {
  tmb_stream s;
  s.load(bytes);
  T v{};
  s >> v;
  ok = !s.failed() && s.remaining() == 0;
  return v;
}

template <class T>
void ExpectRoundTrip(const T& v) {
  bool ok = false;
  const std::string bytes = EncodeOne(v);
  EXPECT_EQ(DecodeOne<T>(bytes, ok), v);
  EXPECT_TRUE(ok);
}

}  // namespace

TEST(TmbStreamBytes, SmallStreamExactly) {
  tmb_stream s;
  s.open();
  s.begin_stream("S");
  s.begin_write_struct("R");
  s << 1 << short{-2} << int64_t{3} << uint64_t{4} << std::string("ab");
  s << QRSDateTime("20240102030405") << QRSDateTime();
  s.end_write_struct();
  s.begin_write_list("L", 0);
  s.end_write_list();
  s.end_stream();
  ASSERT_FALSE(s.failed());
  EXPECT_EQ(Hex(s.bytes()),
            "10 01 01 53 "                 // stream begin, version 1, "S"
            "12 01 52 "                    // struct begin "R"
            "01 01 00 00 00 "              // int32 1
            "02 FE FF "                    // int16 -2
            "03 03 00 00 00 00 00 00 00 "  // int64 3
            "04 04 00 00 00 00 00 00 00 "  // uint64 4
            "05 02 00 00 00 61 62 "        // string "ab"
            "06 E8 07 01 02 03 04 05 "     // 2024-01-02 03:04:05
            "06 00 00 00 00 00 00 00 "     // null date-time
            "13 "                          // struct end
            "14 01 4C 00 00 00 00 "        // list begin "L", count 0
            "15 "                          // list end
            "11");                         // stream end
}

TEST(TmbStreamBytes, ErrorRecordIsItsFourFields) {
  QRSErrorMsg e;
  e.set_code(-10000);
  e.set_msg("x");
  EXPECT_EQ(Hex(EncodeOne(e)),
            "07 F0 D8 FF FF 01 00 00 00 78 00 00 00 00 08 00 00 00 " + Hex("no error"));
}

TEST(TmbStreamValues, BoundaryValuesRoundTrip) {
  ExpectRoundTrip(INT_MIN);
  ExpectRoundTrip(INT_MAX);
  ExpectRoundTrip(short{SHRT_MIN});
  ExpectRoundTrip(short{SHRT_MAX});
  ExpectRoundTrip(int64_t{INT64_MIN});
  ExpectRoundTrip(int64_t{INT64_MAX});
  ExpectRoundTrip(uint64_t{UINT64_MAX});
  ExpectRoundTrip(std::string());
  constexpr char kWithNul[] = "小额支付\0with nul";
  ExpectRoundTrip(std::string(kWithNul, sizeof kWithNul - 1));
  ExpectRoundTrip(std::string(1 << 20, '\xB6'));
  ExpectRoundTrip(QRSDateTime());
  ExpectRoundTrip(QRSDateTime("00010101000000"));
  ExpectRoundTrip(QRSDateTime("99991231235959"));
}

TEST(TmbStreamValues, ErrorRecordRoundTrips) {
  QRSErrorMsg e;
  e.set_code(-9970);
  e.set_msg("查询条件不能为空");
  e.set_sub_code(7);
  e.set_sub_msg(std::string(300, 'd'));
  tmb_stream s;
  s.load(EncodeOne(e));
  QRSErrorMsg got;
  s >> got;
  ASSERT_FALSE(s.failed());
  EXPECT_EQ(got.get_code(), -9970);
  EXPECT_EQ(got.get_msg(), "查询条件不能为空");
  EXPECT_EQ(got.get_sub_code(), 7);
  EXPECT_EQ(got.get_sub_msg(), std::string(300, 'd'));
}

TEST(TmbStreamState, OpenLoadAndModes) {
  tmb_stream s;
  EXPECT_TRUE(s.failed());  // not open
  int v = 5;
  s >> v;
  EXPECT_EQ(v, 5);
  EXPECT_TRUE(s.open());
  EXPECT_FALSE(s.failed());
  s >> v;  // reading while writing
  EXPECT_TRUE(s.failed());
  EXPECT_NE(s.failed_at(), "");

  s.load(EncodeOne(7));
  EXPECT_FALSE(s.failed());
  EXPECT_EQ(s.failed_at(), "");
  s << 1;  // writing while reading
  EXPECT_TRUE(s.failed());

  s.open();  // open again: empty and usable
  s << 2;
  EXPECT_FALSE(s.failed());
  EXPECT_EQ(s.bytes(), EncodeOne(2));
}

TEST(TmbStreamState, AttachReadsTheCallersBytesInPlace) {
  tmb_stream w;
  w.open();
  w.begin_write_struct("M.R");
  w << std::string("abc") << 5;
  w.end_write_struct();
  const std::string frame(w.bytes());

  tmb_stream s;
  s.attach(frame);
  EXPECT_EQ(s.bytes(), frame);
  std::string text;
  short wrong = 0;
  s.begin_read_struct("M.R");
  s >> text >> wrong;
  EXPECT_EQ(text, "abc");
  EXPECT_TRUE(s.failed());
  EXPECT_EQ(s.failed_at(), "int16 in M.R at offset 13");

  // A reused stream forgets the attached bytes.
  s.load(EncodeOne(3));
  int v = 0;
  s >> v;
  EXPECT_EQ(v, 3);
  EXPECT_FALSE(s.failed());
}

TEST(TmbStreamState, WrittenBytesInPlaceAcrossReuse) {
  tmb_stream s;
  EXPECT_TRUE(s.written().empty());  // not open
  s.open();
  s << std::string(10000, 'x');
  EXPECT_EQ(s.written(), EncodeOne(std::string(10000, 'x')));
  // Reused for a shorter frame: only that frame's bytes, nothing of the last.
  s.open();
  EXPECT_TRUE(s.written().empty());
  s << 7;
  EXPECT_EQ(s.written(), EncodeOne(7));
  EXPECT_EQ(s.bytes(), EncodeOne(7));
  s.load(EncodeOne(7));
  EXPECT_TRUE(s.written().empty());  // read mode
}

TEST(TmbStreamState, WriterAppendsAcrossGrowthAndTrimming) {
  tmb_stream s;
  s.open();
  std::string expected;
  for (int i = 0; i < 3000; ++i) {  // well past the first buffer
    s << i << std::string(i % 40, 't');
    expected += EncodeOne(i) + EncodeOne(std::string(i % 40, 't'));
    if (i % 1000 == 0) {
      // bytes() trims the buffer to what was written; writing goes on after it.
      EXPECT_EQ(s.bytes(), expected);
    }
  }
  EXPECT_EQ(s.written(), expected);
  EXPECT_FALSE(s.failed());
}

TEST(TmbStreamState, FailedOrReadingStreamWritesNothing) {
  tmb_stream s;
  s.open();
  s << 1;
  const std::string before(s.written());
  EXPECT_FALSE(s.begin_write_struct(std::string_view()));
  s << 2 << short{3} << int64_t{4} << uint64_t{5} << std::string("six")
    << QRSDateTime(2026, 1, 2, 3, 4, 5);
  EXPECT_FALSE(s.begin_write_struct("M.R"));
  EXPECT_FALSE(s.end_write_struct());
  EXPECT_EQ(s.written(), before);
  EXPECT_EQ(s.failed_at(), "bad frame name");

  s.load(EncodeOne(7));
  s << 8 << std::string("nine");
  EXPECT_TRUE(s.failed());
  EXPECT_EQ(s.bytes(), EncodeOne(7));

  tmb_stream closed;  // never opened
  closed << 1;
  EXPECT_FALSE(closed.end_write_struct());
  EXPECT_EQ(closed.bytes(), "");
}

TEST(TmbStreamState, SharedFrameIsReadInPlaceAndReleased) {
  auto frame = std::make_shared<std::string>(EncodeOne(std::string("abc")));
  tmb_stream s;
  s.load(std::shared_ptr<const std::string>(frame));
  EXPECT_EQ(frame.use_count(), 2);
  EXPECT_EQ(s.bytes().data(), frame->data());  // no copy
  std::string text;
  s >> text;
  EXPECT_EQ(text, "abc");
  EXPECT_EQ(s.remaining(), 0u);

  // Taking its own bytes as the next frame copies them before letting go.
  s.load(std::string_view(s.bytes()));
  EXPECT_EQ(frame.use_count(), 1);
  s >> text;
  EXPECT_EQ(text, "abc");
  EXPECT_FALSE(s.failed());

  s.load(std::shared_ptr<const std::string>(frame));
  s.open();
  EXPECT_EQ(frame.use_count(), 1);
  s.load(std::shared_ptr<const std::string>());
  EXPECT_FALSE(s.failed());
  EXPECT_EQ(s.bytes(), "");
  {
    tmb_stream t;
    t.load(std::shared_ptr<const std::string>(frame));
  }
  EXPECT_EQ(frame.use_count(), 1);
}

TEST(TmbStreamState, FailureIsStickyAndLeavesTargetsAlone) {
  tmb_stream w;
  w.open();
  w << 1 << std::string("x") << int64_t{2};
  tmb_stream s;
  s.load(w.bytes());
  short wrong = 9;
  s >> wrong;
  EXPECT_TRUE(s.failed());
  EXPECT_EQ(wrong, 9);
  EXPECT_NE(s.failed_at().find("int16"), std::string::npos);
  EXPECT_NE(s.failed_at().find("offset 0"), std::string::npos);
  const std::string first = s.failed_at();
  int right = 0;
  s >> right;  // the int is there, but the stream has failed
  EXPECT_EQ(right, 0);
  EXPECT_EQ(s.failed_at(), first);
  EXPECT_EQ(s.remaining(), 0u);
}

TEST(TmbStreamState, WriterRejectsBadNamesAndCounts) {
  tmb_stream s;
  s.open();
  EXPECT_FALSE(s.begin_write_struct(""));
  EXPECT_TRUE(s.failed());
  s.open();
  EXPECT_FALSE(s.begin_write_struct(std::string(256, 'n').c_str()));
  s.open();
  EXPECT_TRUE(s.begin_write_struct(std::string(255, 'n').c_str()));
  s.open();
  EXPECT_FALSE(s.begin_write_list("L", -1));
  EXPECT_TRUE(s.failed());
}

TEST(TmbStreamReader, WrongTagNameOrVersionFails) {
  bool ok = true;
  DecodeOne<int>(EncodeOne(short{1}), ok);
  EXPECT_FALSE(ok);
  DecodeOne<int64_t>(EncodeOne(uint64_t{1}), ok);
  EXPECT_FALSE(ok);
  DecodeOne<std::string>(EncodeOne(QRSDateTime()), ok);
  EXPECT_FALSE(ok);

  tmb_stream w;
  w.open();
  w.begin_stream("a.ParamOut");
  w.begin_write_struct("M.SRec");
  w.begin_write_list("M..SList", 0);
  const std::string bytes(w.bytes());

  const auto readsWith = [&bytes](const char* streamName, const char* structName,
                                  const char* listName) {
    tmb_stream s;
    s.load(bytes);
    s.begin_stream(streamName);
    s.begin_read_struct(structName);
    int count = -1;
    s.begin_read_list(listName, count);
    return !s.failed() && count == 0;
  };
  EXPECT_TRUE(readsWith("a.ParamOut", "M.SRec", "M..SList"));
  EXPECT_FALSE(readsWith("a.ParamIn", "M.SRec", "M..SList"));
  EXPECT_FALSE(readsWith("a.ParamOut", "M.SRe", "M..SList"));    // a prefix
  EXPECT_FALSE(readsWith("a.ParamOut", "M.SRecX", "M..SList"));  // longer
  EXPECT_FALSE(readsWith("a.ParamOut", "M.SRec", "M.SList"));
  EXPECT_FALSE(readsWith("a.ParamOut", "M.SRec", ""));

  std::string otherVersion = bytes;
  otherVersion[1] = 2;
  tmb_stream s;
  s.load(otherVersion);
  EXPECT_FALSE(s.begin_stream("a.ParamOut"));
}

TEST(TmbStreamReader, EndOfStreamRejectsTrailingBytes) {
  tmb_stream w;
  w.open();
  w.begin_stream("x");
  w.end_stream();
  tmb_stream s;
  s.load(w.bytes());
  EXPECT_TRUE(s.begin_stream("x"));
  EXPECT_TRUE(s.end_stream());
  s.load(std::string(w.bytes()) + "\x11");
  s.begin_stream("x");
  EXPECT_FALSE(s.end_stream());
  EXPECT_NE(s.failed_at().find("trailing"), std::string::npos);
}

TEST(TmbStreamReader, InvalidDateTimeOnTheWireFails) {
  std::string bytes = EncodeOne(QRSDateTime("20240131000000"));
  bool ok = true;
  bytes[3] = 2;  // 2024-02-31
  DecodeOne<QRSDateTime>(bytes, ok);
  EXPECT_FALSE(ok);
  bytes[4] = 29;  // 2024-02-29: a leap day
  EXPECT_EQ(DecodeOne<QRSDateTime>(bytes, ok), QRSDateTime("20240229000000"));
  EXPECT_TRUE(ok);
  bytes[1] = static_cast<char>(2023 & 0xFF);  // 2023-02-29
  DecodeOne<QRSDateTime>(bytes, ok);
  EXPECT_FALSE(ok);

  bytes = EncodeOne(QRSDateTime());
  bytes[7] = 1;  // a null date-time with one second
  DecodeOne<QRSDateTime>(bytes, ok);
  EXPECT_FALSE(ok);

  // A failed read leaves the target as it was and names what it was reading;
  // the null value read whole replaces a real one.
  const QRSDateTime before("20200101120000");
  tmb_stream s;
  s.load(bytes);
  QRSDateTime t = before;
  s >> t;
  EXPECT_TRUE(s.failed());
  EXPECT_EQ(t, before);
  EXPECT_EQ(s.failed_at(), "datetime value at offset 8");
  s.load(EncodeOne(QRSDateTime()));
  s >> t;
  EXPECT_FALSE(s.failed());
  EXPECT_TRUE(t.isNull());
}

TEST(TmbStreamReader, TextsReplaceWhatTheStringHeld) {
  const std::string longText(40, 'L');
  const std::string withZeros("a\0b\0", 4);
  for (const std::string& text : {std::string(), std::string("ab"), longText, withZeros}) {
    for (const std::string& held : {std::string(), std::string("xy"), std::string(100, 'h')}) {
      tmb_stream s;
      s.load(EncodeOne(text));
      std::string v = held;
      s >> v;
      EXPECT_FALSE(s.failed());
      EXPECT_EQ(v, text) << "over " << held.size() << " bytes";
    }
  }

  // A string with room keeps its memory, also when it is empty.
  std::string v;
  v.reserve(64);
  const char* memory = v.data();
  tmb_stream s;
  s.load(EncodeOne(longText) + EncodeOne(std::string("short")));
  s >> v;
  EXPECT_EQ(v, longText);
  EXPECT_EQ(v.data(), memory);
  s >> v;
  EXPECT_EQ(v, "short");
  EXPECT_EQ(v.data(), memory);
  EXPECT_EQ(s.remaining(), 0u);

  // A length of exactly the bytes that remain is whole; one more is not.
  bool ok = false;
  std::string bytes = EncodeOne(std::string("abcd"));
  EXPECT_EQ(DecodeOne<std::string>(bytes, ok), "abcd");
  EXPECT_TRUE(ok);
  bytes[1] = 5;
  std::string kept = "kept";
  s.load(bytes);
  s >> kept;
  EXPECT_TRUE(s.failed());
  EXPECT_EQ(kept, "kept");
  EXPECT_EQ(s.failed_at(), "string length at offset 5");
}

TEST(TmbStreamReader, NamesAreNeverEmptyAndMatchWhole) {
  // A zero-length name on the wire matches no name, not even an empty one.
  for (const char* expected : {"", static_cast<const char*>(nullptr)}) {
    tmb_stream s;
    s.load(std::string("\x12\x00\x13", 3));
    EXPECT_FALSE(s.begin_read_struct(expected));
    s.load(std::string("\x14\x00\x00\x00\x00\x00\x15", 7));
    int count = -1;
    EXPECT_FALSE(s.begin_read_list(expected, count));
    EXPECT_EQ(count, -1);
    s.load(std::string("\x10\x01\x00\x11", 4));
    EXPECT_FALSE(s.begin_stream(expected));
  }

  // A name known by its length needs no terminator; the longest name reads.
  const std::string longest(255, 'n');
  tmb_stream w;
  w.open();
  w.begin_write_struct("M.Rec");
  w.begin_write_struct(longest.c_str());
  tmb_stream s;
  s.load(w.bytes());
  EXPECT_TRUE(s.begin_read_struct(std::string_view("M.RecX", 5)));
  EXPECT_TRUE(s.begin_read_struct(std::string_view(longest)));
  EXPECT_EQ(s.remaining(), 0u);
  s.load(w.bytes());
  EXPECT_FALSE(s.begin_read_struct(std::string_view("M.RecX", 6)));
  EXPECT_EQ(s.failed_at(), "struct begin at offset 2");
}

TEST(TmbStreamReader, HostileLengthsFailWithoutAllocating) {
  const std::string lengths[] = {std::string("\xFF\xFF\xFF\xFF", 4),
                                 std::string("\x00\x00\x00\x80", 4),
                                 std::string("\x05\x00\x00\x00", 4)};
  for (const std::string& len : lengths) {
    tmb_stream s;
    s.load("\x05" + len + "abcd");
    std::string got;
    const std::size_t capacity = got.capacity();
    s >> got;
    EXPECT_TRUE(s.failed());
    EXPECT_EQ(got, "");
    EXPECT_EQ(got.capacity(), capacity);  // nothing was reserved for the claimed length

    s.load("\x07" + std::string(4, '\0') + len + "abcd");
    QRSErrorMsg e;
    s >> e;
    EXPECT_TRUE(s.failed());
    EXPECT_EQ(e.get_msg(), "no error");
  }
  tmb_stream s;
  s.load(std::string("\x14\x01L\xFF\xFF\xFF\x7F\x15", 8));
  int count = -1;
  EXPECT_FALSE(s.begin_read_list("L", count));
  EXPECT_EQ(count, -1);
}

TEST(TmbStreamReader, ListCountMustFitTheRemainingBytes) {
  tmb_stream w;
  w.open();
  w.begin_write_list("L", 2);
  w << 1 << 2;
  w.end_write_list();
  tmb_stream s;
  s.load(w.bytes());
  int count = 0;
  EXPECT_TRUE(s.begin_read_list("L", count));
  EXPECT_EQ(count, 2);
  // Eleven bytes follow the count; one more element than that is a lie.
  std::string bytes(w.bytes());
  bytes[3] = 12;
  s.load(bytes);
  EXPECT_FALSE(s.begin_read_list("L", count));
  bytes[3] = 11;
  s.load(bytes);
  EXPECT_TRUE(s.begin_read_list("L", count));
}
