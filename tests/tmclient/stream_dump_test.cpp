#include "tmclient/stream_dump.h"

#include <gtest/gtest.h>

#include <string>

#include "tmclient/qrs_datetime.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/tmb_stream.h"

TEST(StreamDump, ListsEveryKindOfItem) {
  tmb_stream s;
  s.open();
  s.begin_stream("op.ParamOut");
  s.begin_write_list("M..L", 1);
  s.begin_write_struct("M.R");
  s << 1 << short{-2} << int64_t{-3} << uint64_t{4};
  s << std::string("a\"b\\c\n备");
  s << QRSDateTime("20240102030405") << QRSDateTime();
  s.end_write_struct();
  s.end_write_list();
  QRSErrorMsg e;
  e.set_code(-1);
  e.set_msg("bad");
  s << e;
  s.end_stream();
  EXPECT_EQ(tmclient::DumpStream(s.bytes()),
            "stream \"op.ParamOut\"\n"
            "  list \"M..L\" count 1\n"
            "    struct \"M.R\"\n"
            "      int32 1\n"
            "      int16 -2\n"
            "      int64 -3\n"
            "      uint64 4\n"
            "      string \"a\\\"b\\\\c\\x0A\\xB1\\xB8\"\n"
            "      datetime 2024-01-02 03:04:05\n"
            "      datetime null\n"
            "    end struct\n"
            "  end list\n"
            "  errormsg -1 \"bad\" 0 \"no error\"\n"
            "end stream\n");
}

TEST(StreamDump, StopsAtBytesThatDoNotDecode) {
  EXPECT_EQ(tmclient::DumpStream(""), "");
  EXPECT_EQ(tmclient::DumpStream(std::string("\x01\x02\x00\x00\x00\x99", 6)),
            "int32 2\nerror at offset 5: unknown tag 0x99\n");
  EXPECT_EQ(tmclient::DumpStream(std::string("\x05\xFF\xFF\xFF\xFF", 5)),
            "error at offset 0: truncated string\n");
  EXPECT_EQ(tmclient::DumpStream(std::string("\x12\x05M.", 4)),
            "error at offset 0: truncated name\n");
  EXPECT_EQ(tmclient::DumpStream(std::string("\x06\xE8\x07\x0D\x01\x00\x00\x00", 8)),
            "error at offset 0: invalid datetime\n");
}
