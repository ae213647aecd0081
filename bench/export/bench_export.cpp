// Saving 100,000 log rows from a list view as XLSX and as CSV, each in turn
// with its bare reference on the same cells (libxlsxwriter in a loop over
// cells already typed and coded; one fwrite of the very text saved, flushed
// to the disk as a save is), and printing 1,000 rows to PDF.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <QApplication>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench_rounds.h"
#include "forms/formmdichild.h"
#include "guicommon/list_export.h"
#include "guicommon/list_output.h"
#include "guicommon/presenter.h"
#include "toolkit/qtext.h"
#include "toolkit/toolkit.h"

namespace {

using namespace MListExport;

constexpr int kRows = 100000;
constexpr int kPrintRows = 1000;
constexpr int kColumns = 7;
// Order number, phone, business type, transaction id, time, amount, remark:
// the log list's columns and kinds.
const std::array<TCellKind, kColumns> kKinds = {
    TCellKind::Text,     TCellKind::Text,   TCellKind::Text, TCellKind::Text,
    TCellKind::DateTime, TCellKind::Amount, TCellKind::Text};

std::string Gbk(const char* utf8) {
  return QStringToGbk(QString::fromUtf8(utf8));
}

// A file next to the benchmark program.
std::string BenchFile(const char* name) {
  std::error_code ec;
  auto dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
  return (dir.empty() ? std::filesystem::path(".") : dir).append(name).string();
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The base window with one list view of the log list's shape.
struct TFixture {
  TfrmMDIChild* form = new TfrmMDIChild(nullptr);
  TListView* list = new TListView(form);
  CRecordingPresenter presenter;
  SListOutput output;

  TFixture() {
    SetGUIPresenter(&presenter);
    list->SetParent(form);
    list->SetViewStyle(vsReport);
    const char* captions[kColumns] = {"工单编号", "手机号码", "业务类型", "流水号",
                                      "时间戳",   "涉及金额", "备注"};
    for (const char* caption : captions) list->Columns()->Add()->SetCaption(Gbk(caption));
    const std::array<std::string, 3> types = {
        Gbk("[1332] 小额支付冻结"), Gbk("[1333] 小额支付解冻"), Gbk("[1336] 小额支付帐户存款")};
    const std::array<std::string, 3> remarks = {Gbk("营业厅办理"), Gbk("客户自助, \"加急\""), ""};
    std::mt19937_64 random(20261208);
    char buffer[64];
    for (int r = 0; r < kRows; ++r) {
      TListItem* item = list->Items()->Add();
      TStrings* cells = item->SubItems();
      cells->Add("13" + std::to_string(100000000 + random() % 900000000));
      cells->Add(types[random() % types.size()]);
      cells->Add("MPP" + std::to_string(random() % 1000000000));
      std::snprintf(buffer, sizeof buffer, "2026/%02d/%02d %02d:%02d:%02d",
                    static_cast<int>(1 + random() % 12), static_cast<int>(1 + random() % 28),
                    static_cast<int>(random() % 24), static_cast<int>(random() % 60),
                    static_cast<int>(random() % 60));
      cells->Add(buffer);
      const long fen = static_cast<long>(random() % 2000000) - 1000000;
      std::snprintf(buffer, sizeof buffer, "%s%ld.%02ld", fen < 0 ? "-" : "", std::labs(fen) / 100,
                    std::labs(fen) % 100);
      cells->Add(buffer);
      cells->Add(remarks[random() % remarks.size()]);
      item->SetCaption(std::to_string(202612000000000 + r));
    }
    output.sTitle = Gbk("小额支付日志查询");
    output.sList = "log";
    output.sOperator = "1001";
    output.vKinds.assign(kKinds.begin(), kKinds.end());
    output.fnPermit = [](const SListExportRecord&) { return true; };
    presenter.saveAnswer = true;
    presenter.printAnswer = IGUIPresenter::kPrintToPdf;
  }

  double Save(const std::string& path) {
    presenter.savePath = path;
    const auto start = std::chrono::steady_clock::now();
    if (!SaveListView(list, output)) return -1;
    return Seconds(start);
  }
};

TFixture& Fixture() {
  static TFixture* fixture = new TFixture;
  return *fixture;
}

std::vector<double> xlsxOurs, xlsxBare, csvOurs, csvBare, printMs;

// The same cells as the list shows, already in UTF-8 and typed.
struct TBareCells {
  std::vector<std::array<std::string, kColumns>> text;
  std::vector<std::array<double, kColumns>> number;
  std::vector<std::array<lxw_datetime, kColumns>> when;
};

const TBareCells& BareCells() {
  static const TBareCells cells = [] {
    TBareCells c;
    TListView* list = Fixture().list;
    c.text.resize(kRows);
    c.number.resize(kRows);
    c.when.resize(kRows);
    for (int r = 0; r < kRows; ++r) {
      for (int k = 0; k < kColumns; ++k) {
        AppendGbkAsUtf8(list->Items()->Item(r)->CellText(k), c.text[r][k]);
        int64_t fen = 0;
        SDateTime t{};
        if (kKinds[k] == TCellKind::Amount && ReadAmountCell(c.text[r][k], fen))
          c.number[r][k] = static_cast<double>(fen) / 100;
        if (kKinds[k] == TCellKind::DateTime && ReadDateTimeCell(c.text[r][k], t))
          c.when[r][k] = {t.iYear, t.iMonth, t.iDay, t.iHour, t.iMinute, double(t.iSecond)};
      }
    }
    return c;
  }();
  return cells;
}

double BareXlsx(const std::string& path) {
  const TBareCells& c = BareCells();
  const auto start = std::chrono::steady_clock::now();
  std::string folder = path.substr(0, path.rfind('/'));
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = folder.data();
  lxw_workbook* book = workbook_new_opt(path.c_str(), &options);
  lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
  lxw_format* bold = workbook_add_format(book);
  format_set_bold(bold);
  lxw_format* amount = workbook_add_format(book);
  format_set_num_format(amount, "0.00");
  lxw_format* date = workbook_add_format(book);
  format_set_num_format(date, "yyyy-mm-dd hh:mm:ss");
  for (int k = 0; k < kColumns; ++k) worksheet_write_string(sheet, 0, k, "caption", bold);
  for (int r = 0; r < kRows; ++r) {
    for (int k = 0; k < kColumns; ++k) {
      if (c.text[r][k].empty()) continue;
      if (kKinds[k] == TCellKind::Amount)
        worksheet_write_number(sheet, r + 1, k, c.number[r][k], amount);
      else if (kKinds[k] == TCellKind::DateTime)
        worksheet_write_datetime(sheet, r + 1, k, const_cast<lxw_datetime*>(&c.when[r][k]), date);
      else
        worksheet_write_string(sheet, r + 1, k, c.text[r][k].c_str(), nullptr);
    }
  }
  if (workbook_close(book) != LXW_NO_ERROR) return -1;
  return Seconds(start);
}

double BareCsv(const std::string& path, const std::string& text) {
  const auto start = std::chrono::steady_clock::now();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return -1;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                       std::fflush(file) == 0 && ::fsync(fileno(file)) == 0;
  std::fclose(file);
  return written ? Seconds(start) : -1;
}

// One save and its reference per iteration, alternating which goes first.
void BM_SaveXlsx(benchmark::State& state) {
  const std::string ours = BenchFile("export-ours.xlsx");
  const std::string bare = BenchFile("export-bare.xlsx");
  BareCells();
  int i = 0;
  for (auto _ : state) {
    double a = 0, b = 0;
    if (i++ % 2) {
      b = BareXlsx(bare);
      a = Fixture().Save(ours);
    } else {
      a = Fixture().Save(ours);
      b = BareXlsx(bare);
    }
    if (a < 0 || b < 0) state.SkipWithError("a save failed");
    xlsxOurs.push_back(a);
    xlsxBare.push_back(b);
    state.SetIterationTime(a);
  }
  std::remove(ours.c_str());
  std::remove(bare.c_str());
}

void BM_SaveCsv(benchmark::State& state) {
  const std::string ours = BenchFile("export-ours.csv");
  const std::string bare = BenchFile("export-bare.csv");
  Fixture().Save(ours);
  std::stringstream all;
  all << std::ifstream(ours, std::ios::binary).rdbuf();
  const std::string text = all.str();
  int i = 0;
  for (auto _ : state) {
    double a = 0, b = 0;
    if (i++ % 2) {
      b = BareCsv(bare, text);
      a = Fixture().Save(ours);
    } else {
      a = Fixture().Save(ours);
      b = BareCsv(bare, text);
    }
    if (a < 0 || b < 0) state.SkipWithError("a save failed");
    csvOurs.push_back(a);
    csvBare.push_back(b);
    state.SetIterationTime(a);
  }
  state.counters["csv_mb"] = static_cast<double>(text.size()) / (1 << 20);
  std::remove(ours.c_str());
  std::remove(bare.c_str());
}

void BM_PrintPdf(benchmark::State& state) {
  TFixture& f = Fixture();
  // The first 1,000 rows in a list of their own.
  auto* list = new TListView(f.form);
  list->SetViewStyle(vsReport);
  for (int k = 0; k < kColumns; ++k)
    list->Columns()->Add()->SetCaption(f.list->Columns()->Items(k)->Caption());
  for (int r = 0; r < kPrintRows; ++r) {
    TListItem* item = list->Items()->Add();
    for (int k = 1; k < kColumns; ++k) item->SubItems()->Add(f.list->CellText(r, k));
    item->SetCaption(f.list->CellText(r, 0));
  }
  const std::string pdf = BenchFile("export-print.pdf");
  f.presenter.printPath = pdf;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (!PrintListView(list, f.output)) state.SkipWithError("printing failed");
    const double seconds = Seconds(start);
    printMs.push_back(seconds * 1e3);
    state.SetIterationTime(seconds);
  }
  std::remove(pdf.c_str());
  delete list;
}

}  // namespace

BENCHMARK(BM_SaveXlsx)
    ->Iterations(2 * bench::kMinRounds)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveCsv)
    ->Iterations(4 * bench::kMinRounds)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrintPdf)
    ->Iterations(bench::kMinRounds)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  Application();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Fixture();
  std::printf("rows: %d x %d columns\n", kRows, kColumns);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (xlsxOurs.empty() && csvOurs.empty() && printMs.empty()) {
    std::fprintf(stderr, "bench_export: no benchmark ran\n");
    return 1;
  }
  if (!xlsxOurs.empty()) {
    std::printf("saveas_xlsx_100k_ms: %.0f\nbare_xlsx_100k_ms: %.0f\n",
                bench::Median(xlsxOurs) * 1e3, bench::Median(xlsxBare) * 1e3);
    bench::PrintRounds("saveas_xlsx_100k_vs_bare",
                       bench::SliceRatios(xlsxOurs, xlsxBare, bench::kMinRounds));
  }
  if (!csvOurs.empty()) {
    std::printf("saveas_csv_100k_ms: %.1f\nfwrite_csv_100k_ms: %.1f\n",
                bench::Median(csvOurs) * 1e3, bench::Median(csvBare) * 1e3);
    bench::PrintRounds("saveas_csv_100k_vs_fwrite",
                       bench::SliceRatios(csvOurs, csvBare, bench::kMinRounds));
  }
  if (!printMs.empty()) std::printf("print_pdf_1k_ms: %.0f\n", bench::Median(printMs));
  return 0;
}
