// Saving lists without Qt: how cells are typed, the CSV coding, the file
// that replaces its target only when whole, and both writers read back
// (CSV byte for byte, XLSX through Python's openpyxl) or failing without
// leaving a file.
#include "guicommon/list_export.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace MListExport;

namespace {

TEST(ListExportCells, FormatsByExtension) {
  const struct {
    const char* path;
    bool known;
    TFormat format;
  } cases[] = {
      {"a.csv", true, TFormat::Csv},         {"/x/LIST.CSV", true, TFormat::Csv},
      {"b.xlsx", true, TFormat::Xlsx},       {"b.XlSx", true, TFormat::Xlsx},
      {"b.xls", false, TFormat::Csv},        {"noext", false, TFormat::Csv},
      {"dir.csv/file", false, TFormat::Csv}, {".csv", true, TFormat::Csv},
  };
  for (const auto& c : cases) {
    TFormat format = TFormat::Csv;
    EXPECT_EQ(FormatOfFileName(c.path, format), c.known) << c.path;
    if (c.known) {
      EXPECT_EQ(format, c.format) << c.path;
    }
  }
}

TEST(ListExportCells, ReadsOnlyWhatTheListShowsAsTyped) {
  SDateTime when{};
  EXPECT_TRUE(ReadDateTimeCell("2024/02/29 23:59:59", when));
  EXPECT_EQ(when.iYear * 10000 + when.iMonth * 100 + when.iDay, 20240229);
  EXPECT_EQ(when.iHour * 10000 + when.iMinute * 100 + when.iSecond, 235959);
  for (const char* text :
       {"2023/02/29 00:00:00", "2024/13/01 00:00:00", "2024/01/01 24:00:00", "2024-01-01 00:00:00",
        "2024/01/01 00:00", "0000/00/00 00:00:00", "2024/01/0a 00:00:00", ""})
    EXPECT_FALSE(ReadDateTimeCell(text, when)) << text;

  int64_t fen = 0;
  const struct {
    const char* text;
    bool ok;
    int64_t fen;
  } amounts[] = {{"0.00", true, 0},
                 {"-12.05", true, -1205},
                 {"1234.50", true, 123450},
                 {"12.5", false, 0},
                 {"1,234.00", false, 0},
                 {" 1.00", false, 0},
                 {"-.00", false, 0},
                 {"abc", false, 0},
                 {"", false, 0},
                 {"99999999999999999999.00", false, 0}};
  for (const auto& a : amounts) {
    EXPECT_EQ(ReadAmountCell(a.text, fen), a.ok) << a.text;
    if (a.ok) {
      EXPECT_EQ(fen, a.fen) << a.text;
    }
  }

  int64_t value = 0;
  const struct {
    const char* text;
    bool ok;
  } numbers[] = {{"0", true},    {"123", true},  {"-5", true}, {"007", false}, {"", false},
                 {"1e3", false}, {"12 ", false}, {"-", false}, {"-0", true}};
  for (const auto& n : numbers) EXPECT_EQ(ReadNumberCell(n.text, value), n.ok) << n.text;
}

TEST(ListExportCells, QuotesCsvFieldsThatNeedIt) {
  const struct {
    const char* text;
    const char* field;
  } cases[] = {{"plain", "plain"},
               {"", ""},
               {"a,b", "\"a,b\""},
               {"say \"hi\"", "\"say \"\"hi\"\"\""},
               {"two\r\nlines", "\"two\r\nlines\""},
               {"\"", "\"\"\"\""},
               {" lead", " lead"}};
  for (const auto& c : cases) {
    std::string out = "x";
    AppendCsvField(out, c.text);
    EXPECT_EQ(out, std::string("x") + c.field) << c.text;
  }
}

// A folder of its own per test, and what is in it.
class ListExportFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/list-export-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    sDir = name;
  }
  void TearDown() override {
    for (const std::string& f : Files()) std::remove((sDir + "/" + f).c_str());
    ::chmod(sDir.c_str(), 0700);
    ::rmdir(sDir.c_str());
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(sDir.c_str())) {
      while (dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
      }
      ::closedir(d);
    }
    return names;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  // Writes a header and `rows` copies of one row; the error, "" when saved.
  std::string Save(const std::string& path, TFormat format, int rows) {
    CExportFile file;
    std::string error;
    if (!file.Create(path, error)) return error;
    auto writer = MakeListFileWriter(format, file);
    const std::vector<std::string> captions = {"order", "phone", "amount", "time", "remark"};
    const std::vector<TCellKind> kinds = {TCellKind::Text, TCellKind::Text, TCellKind::Amount,
                                          TCellKind::DateTime, TCellKind::Text};
    const std::vector<std::string_view> cells = {"0012", "013800138000", "-12.05",
                                                 "2024/02/29 08:30:00", "a,\"b\""};
    bool ok = writer->Begin(captions, kinds, error);
    for (int r = 0; ok && r < rows; ++r) ok = writer->Row(cells, error);
    ok = ok && writer->Finish(error);
    writer.reset();
    if (ok && file.Commit(error)) return {};
    return error.empty() ? "failed without a reason" : error;
  }
  std::string sDir;
};

TEST_F(ListExportFiles, CsvIsTheShownTextWithBomAndCrlfOwnerOnly) {
  const std::string path = sDir + "/list.csv";
  ASSERT_EQ(Save(path, TFormat::Csv, 2), "");
  const std::string row = "0012,013800138000,-12.05,2024/02/29 08:30:00,\"a,\"\"b\"\"\"\r\n";
  EXPECT_EQ(Read(path), "\xEF\xBB\xBForder,phone,amount,time,remark\r\n" + row + row);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(Files(), std::vector<std::string>{"list.csv"});  // no temporary file left
}

TEST_F(ListExportFiles, XlsxCellsReadBackTyped) {
  const std::string path = sDir + "/list.xlsx";
  ASSERT_EQ(Save(path, TFormat::Xlsx, 3), "");
  EXPECT_EQ(Files(), std::vector<std::string>{"list.xlsx"});
  const std::string script = sDir + "/read.py";
  std::ofstream(script) << "import openpyxl,sys\n"
                           "ws = openpyxl.load_workbook(sys.argv[1]).active\n"
                           "for row in ws.iter_rows():\n"
                           "  print('|'.join(type(c.value).__name__ + ':' + str(c.value) + ':' +"
                           " c.number_format for c in row))\n";
  const std::string out = sDir + "/out.txt";
  ASSERT_EQ(std::system(("/usr/bin/python3 " + script + " " + path + " > " + out).c_str()), 0);
  const std::string row =
      "str:0012:General|str:013800138000:General|float:-12.05:0.00|"
      "datetime:2024-02-29 08:30:00:yyyy-mm-dd hh:mm:ss|str:a,\"b\":General\n";
  EXPECT_EQ(Read(out),
            "str:order:General|str:phone:General|str:amount:General|"
            "str:time:General|str:remark:General\n" +
                row + row + row);
}

TEST_F(ListExportFiles, ReplacesAnExistingFileOnlyWhenWhole) {
  const std::string path = sDir + "/list.csv";
  std::ofstream(path) << "old";
  CExportFile file;
  std::string error;
  ASSERT_TRUE(file.Create(path, error));
  ASSERT_TRUE(file.Write("new", error));
  EXPECT_EQ(Read(path), "old");
  file.Discard();
  EXPECT_EQ(Read(path), "old");
  EXPECT_EQ(Files(), std::vector<std::string>{"list.csv"});
}

TEST_F(ListExportFiles, FailuresLeaveNoFile) {
  // A folder that is not there, and one that cannot be written (root may
  // write anywhere: /proc refuses it too).
  EXPECT_NE(Save(sDir + "/missing/list.csv", TFormat::Csv, 1).find("No such file"),
            std::string::npos);
  const std::string locked = geteuid() == 0 ? "/proc" : sDir;
  if (geteuid() != 0) ::chmod(sDir.c_str(), 0500);
  for (TFormat format : {TFormat::Csv, TFormat::Xlsx})
    EXPECT_NE(Save(locked + "/list." + FormatName(format), format, 1), "");
  ::chmod(sDir.c_str(), 0700);

  // A full disk, as a file-size limit: both formats fail with a reason.
  struct rlimit before {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = before;
  small.rlim_cur = 256 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string csv = Save(sDir + "/big.csv", TFormat::Csv, 20000);
  const std::string xlsx = Save(sDir + "/big.xlsx", TFormat::Xlsx, 60000);
  ::setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, previous);
  EXPECT_NE(csv.find("File too large"), std::string::npos) << csv;
  EXPECT_NE(xlsx, "");
  EXPECT_EQ(Files(), std::vector<std::string>{});
}

}  // namespace
