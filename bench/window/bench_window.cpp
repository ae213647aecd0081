// The query window answering a log query of 100,000 rows, as an operator
// meets it: the window shown offscreen, the time range ticked, a real click on
// the query button, and the clock stopped once the last row is in the list
// view with its columns fitted and the pending events handled. The real
// mpay-backoffice serves a 300,000-row demo database beside this process over
// tcp. In the same run, as the floor, the same SQL is stepped in this process
// with its columns read. Figures are medians of the queries after the
// window's first, which is printed apart; the peak resident memory is this
// process's (the window's side).
#include <benchmark/benchmark.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QMainWindow>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backoffice/sqlite_db.h"
#include "backoffice/store.h"
#include "bench_rounds.h"
#include "bench_support.h"
#include "child_process.h"
#include "forms/formMicroPayLogQueryMain.h"
#include "guicommon/presenter.h"
#include "tmclient/broker_resolver.h"
#include "tmclient/call_wait.h"
#include "toolkit/toolkit.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int64_t kRows = 100000;
constexpr int64_t kDbRows = 300000;
constexpr char kBroker[] = "TALMIRON";

std::string BenchFile(const char* name) {
  std::error_code ec;
  auto dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
  return (dir.empty() ? std::filesystem::path(".") : dir).append(name).string();
}

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// This thread's CPU time: the window's own work, whatever else the shared
// machine runs.
double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double StatusMb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::string(field).size())) / 1024;
  return 0;
}

// Wait boxes are the package's real ones; a message box would wait for an
// operator, so messages are printed and counted instead.
class TBenchPresenter : public IGUIPresenter {
 public:
  explicit TBenchPresenter(IGUIPresenter* boxes) : boxes_(boxes) {}
  int ShowMessage(const char* text, const char*, int) override {
    std::fprintf(stderr, "bench_window: message box: %s\n", text);
    ++messages;
    return 1;
  }
  void ShowWaitBox(const char* text) override { boxes_->ShowWaitBox(text); }
  void UpdateWaitBox(const char* text) override { boxes_->UpdateWaitBox(text); }
  void CloseWaitBox() override { boxes_->CloseWaitBox(); }
  int messages = 0;

 private:
  IGUIPresenter* boxes_;
};

struct Env {
  std::string db;
  backoffice::LogConditions cond;  // the time range of exactly kRows rows
  Backoffice server;
  TfrmMicroPayLogQueryMain* window = nullptr;
  std::string smallPhone;                           // a phone number with two users
  TfrmMicroPayLogQueryMain* smallWindow = nullptr;  // queries it
  std::vector<double> smallLiveMs, smallBlockingMs;
  std::vector<double> sqlMs, windowMs;
  std::vector<double> callMs, callCpuMs, showMs, showCpuMs, eventsMs, freeMs, clearMs;
  double firstMs = 0;  // the window's first query
  double peakMb = 0;   // after the window's queries
};
Env* env = nullptr;

bool MakeDemoDatabase() {
  env->db = BenchFile("window.db");
  if (std::filesystem::exists(env->db)) return true;
  const std::string part = env->db + ".part";
  std::filesystem::remove(part);  // left by an interrupted run
  ChildProcess init;
  if (!init.Start({BACKOFFICE_EXE, "--init-demo", part, "--rows", std::to_string(kDbRows)}))
    return false;
  init.WaitForLine("demo database", std::chrono::seconds(600));
  if (init.Wait() != 0) {
    std::fprintf(stderr, "bench_window: --init-demo failed:\n%s\n", init.output().c_str());
    return false;
  }
  std::filesystem::rename(part, env->db);
  return true;
}

// The time range that holds exactly kRows rows, a third into the year.
bool FindRange() {
  backoffice::Database d(env->db, backoffice::Database::Mode::kReadOnly);
  backoffice::Statement s =
      d.Prepare("SELECT so_date FROM mp_so_log ORDER BY so_date LIMIT 1 OFFSET ?1");
  s.Bind(1, kDbRows / 3);
  if (!s.Step()) return false;
  env->cond.BEGIN_SO_DATE = s.Int(0);
  s.Reset();
  s.Bind(1, kDbRows / 3 + kRows - 1);
  if (!s.Step()) return false;
  env->cond.END_SO_DATE = s.Int(0);
  backoffice::Statement count =
      d.Prepare("SELECT count(*) FROM mp_so_log WHERE so_date BETWEEN ?1 AND ?2");
  count.Bind(1, env->cond.BEGIN_SO_DATE);
  count.Bind(2, env->cond.END_SO_DATE);
  if (!count.Step() || count.Int(0) != kRows) return false;
  backoffice::Statement two =
      d.Prepare("SELECT phone_id FROM mp_user GROUP BY phone_id HAVING count(*) = 2 LIMIT 1");
  if (!two.Step()) return false;
  env->smallPhone = std::string(two.Text(0));
  return true;
}

TDateTime DatePart(int64_t stamp) {
  const int64_t day = stamp / 1000000;
  return TDateTime::EncodeDate(static_cast<int>(day / 10000), static_cast<int>(day / 100 % 100),
                               static_cast<int>(day % 100));
}

TDateTime TimePart(int64_t stamp) {
  const int64_t time = stamp % 1000000;
  return TDateTime::EncodeTime(static_cast<int>(time / 10000), static_cast<int>(time / 100 % 100),
                               static_cast<int>(time % 100));
}

void Flush() {
  QApplication::processEvents();
}

// The window as CreateBusinessForm makes it, with the time range ticked by a
// click and the pickers set to the range.
bool OpenWindow() {
  Application()->MainWindow()->resize(1024, 768);
  Application()->MainWindow()->show();
  MSysmgntDef::SOperator op;
  op.set_OP_ID(4711);
  op.set_ORG_ID(10086);
  env->window = new TfrmMicroPayLogQueryMain(nullptr);
  env->window->Init(op);
  Flush();
  TfrmMicroPayLogQueryMain* w = env->window;
  QTest::mouseClick(w->chkSoDate->Widget(), Qt::LeftButton);
  if (!w->chkSoDate->Checked()) return false;
  w->dtpBeginDate->SetDate(DatePart(env->cond.BEGIN_SO_DATE));
  w->dtpBeginTime->SetTime(TimePart(env->cond.BEGIN_SO_DATE));
  w->dtpEndDate->SetDate(DatePart(env->cond.END_SO_DATE));
  w->dtpEndTime->SetTime(TimePart(env->cond.END_SO_DATE));
  Flush();
  // The small query's window: the user query of a phone number.
  env->smallWindow = new TfrmMicroPayLogQueryMain(nullptr);
  env->smallWindow->Init(op);
  Flush();
  QTest::mouseClick(env->smallWindow->chkQryUser->Widget(), Qt::LeftButton);
  env->smallWindow->edtMobilno->SetText(env->smallPhone);
  Flush();
  return env->smallWindow->chkQryUser->Checked();
}

int64_t StepSql(backoffice::StoreReader& q) {
  bench::ReadRows sink;
  const int64_t n = q.QueryLog(env->cond, kRows + 1, sink);
  return n;
}

// From the click to the last row shown, as the operator of a window meets it
// query after query: the click itself empties the rows of the previous round.
// The first round, in a fresh window on fresh memory, is kept apart.
bool QueryThroughTheWindow(double& ms) {
  TfrmMicroPayLogQueryMain* w = env->window;
  const auto start = Clock::now();
  QTest::mouseClick(w->btnQuery->Widget(), Qt::LeftButton);
  Flush();
  ms = Ms(start);
  auto* view = static_cast<QTableView*>(w->lvstShow->Widget());
  return w->lvstShow->Items()->Count() == kRows && view->model()->rowCount() == kRows &&
         w->lvstShow->Columns()->Count() == 7;
}

// Each iteration steps the SQL and queries through the window, in an order
// that alternates, so that both see the same machine.
void BM_WindowQuery(benchmark::State& state) {
  auto reader = backoffice::OpenStore(env->db)->OpenReader();
  backoffice::StoreReader& q = *reader;
  int i = 0;
  for (auto _ : state) {
    for (int k = 0; k < 2; ++k) {
      if ((i + k) % 2 == 0) {
        const auto start = Clock::now();
        if (StepSql(q) != kRows) state.SkipWithError("wrong row count");
        env->sqlMs.push_back(Ms(start));
      } else {
        double ms = 0;
        if (!QueryThroughTheWindow(ms)) state.SkipWithError("the window did not show the rows");
        if (env->firstMs == 0)
          env->firstMs = ms;
        else
          env->windowMs.push_back(ms);
      }
    }
    ++i;
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  env->peakMb = StatusMb("VmHWM:");
}

// Where the window's time goes: the facade's call (request, back office,
// transport, reply decoding), emptying the list of the previous round, the
// rows handed to the list view with their cells formatted, the pending events
// (the view taking the rows in, painting) and releasing the records.
void BM_Breakdown(benchmark::State& state) {
  TfrmMicroPayLogQueryMain* w = env->window;
  CMicroPayLogQry facade;
  MSysmgntDef::SOperator op;
  facade.Init(op);
  MpQryCondList cond;
  cond.BEGIN_SO_DATE = QRSDateTime(std::to_string(env->cond.BEGIN_SO_DATE));
  cond.END_SO_DATE = QRSDateTime(std::to_string(env->cond.END_SO_DATE));
  for (auto _ : state) {
    MMicroPaymentDef::SMpInfoList list;
    auto start = Clock::now();
    const double callCpuStart = ThreadCpuMs();
    if (!facade.QueryMpSoList(cond, list) || static_cast<int64_t>(list.size()) != kRows)
      state.SkipWithError("the call failed");
    env->callCpuMs.push_back(ThreadCpuMs() - callCpuStart);
    env->callMs.push_back(Ms(start));
    start = Clock::now();
    w->ClearListView();
    Flush();
    env->clearMs.push_back(Ms(start));
    w->InitListColumns();
    Flush();
    start = Clock::now();
    const double cpuStart = ThreadCpuMs();
    w->ShowLogList(list);
    env->showCpuMs.push_back(ThreadCpuMs() - cpuStart);
    env->showMs.push_back(Ms(start));
    start = Clock::now();
    Flush();
    env->eventsMs.push_back(Ms(start));
    start = Clock::now();
    MMicroPaymentDef::SMpInfoList().swap(list);
    env->freeMs.push_back(Ms(start));
  }
}

// The user query of a phone number that has two users, from the click to the
// two rows shown, with the live wait (the toolkit's wait hook) and with the
// hook removed (the call blocks the thread, as before), alternating, so that
// both see the same machine.
void BM_SmallQuery(benchmark::State& state) {
  TfrmMicroPayLogQueryMain* w = env->smallWindow;
  tmclient::CallWaitHook* live = tmclient::GetCallWaitHook();
  int i = 0;
  for (auto _ : state) {
    for (int k = 0; k < 2; ++k) {
      const bool withLive = (i + k) % 2 == 0;
      tmclient::SetCallWaitHook(withLive ? live : nullptr);
      const auto start = Clock::now();
      QTest::mouseClick(w->btnQuery->Widget(), Qt::LeftButton);
      Flush();
      (withLive ? env->smallLiveMs : env->smallBlockingMs).push_back(Ms(start));
      if (w->lvstShow->Items()->Count() != 2) state.SkipWithError("the window did not show 2 rows");
    }
    ++i;
  }
  tmclient::SetCallWaitHook(live);
}

BENCHMARK(BM_WindowQuery)->Unit(benchmark::kMillisecond)->Iterations(21);
BENCHMARK(BM_Breakdown)->Unit(benchmark::kMillisecond)->Iterations(7);
BENCHMARK(BM_SmallQuery)->Unit(benchmark::kMillisecond)->Iterations(301);

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  Env e;
  env = &e;
  try {
    if (!MakeDemoDatabase() || !FindRange()) {
      std::fprintf(stderr, "bench_window: no demo database with a range of %lld rows\n",
                   static_cast<long long>(kRows));
      return 1;
    }
  } catch (const backoffice::DbError& error) {
    std::fprintf(stderr, "bench_window: %s\n", error.what());
    return 1;
  }
  // The window's query, not the sign-in: the back office answers whoever asks
  // (loopback only).
  if (!e.server.Start(e.db, 0, "", {"--auth", "off"})) {
    std::fprintf(stderr, "bench_window: mpay-backoffice did not start:\n%s\n",
                 e.server.proc.output().c_str());
    return 1;
  }
  setenv(tmclient::BrokerEnvironmentVariable(kBroker).c_str(), e.server.Url().c_str(), 1);

  Application();  // makes the Qt application
  TBenchPresenter presenter(GetGUIPresenter());
  CScopedGUIPresenter scope(&presenter);
  if (!OpenWindow()) {
    std::fprintf(stderr, "bench_window: the window did not open\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  delete e.window;
  delete e.smallWindow;
  Flush();

  if (presenter.messages != 0) {
    std::fprintf(stderr, "bench_window: a query failed\n");
    return 1;
  }
  // The breakdown first, so that the output ends with the figures.
  if (!e.callMs.empty()) {
    std::printf("window_query_100k_call_ms: %.2f\n", Median(e.callMs));
    std::printf("window_query_100k_call_cpu_ms: %.2f\n", Median(e.callCpuMs));
    std::printf("window_query_100k_show_rows_ms: %.2f\n", Median(e.showMs));
    std::printf("window_query_100k_show_rows_cpu_ms: %.2f\n", Median(e.showCpuMs));
    std::printf("window_query_100k_pending_events_ms: %.2f\n", Median(e.eventsMs));
    std::printf("window_query_100k_clear_rows_ms: %.2f\n", Median(e.clearMs));
    std::printf("window_query_100k_free_records_ms: %.2f\n", Median(e.freeMs));
  }
  if (!e.smallLiveMs.empty()) {
    std::printf("window_query_small_blocking_ms: %.3f\n", Median(e.smallBlockingMs));
    std::printf("window_query_small_ms: %.3f\n", Median(e.smallLiveMs));
    // Five rounds of sixty alternating pairs.
    bench::PrintRounds("livewait_small_vs_blocking",
                       bench::SliceRatios(e.smallLiveMs, e.smallBlockingMs, bench::kMinRounds), 3);
  }
  if (!e.windowMs.empty()) {
    const double sql = Median(e.sqlMs), window = Median(e.windowMs);
    // The best of each, for a machine shared with other work.
    std::printf("window_query_100k_best_ms: %.2f\n",
                *std::min_element(e.windowMs.begin(), e.windowMs.end()));
    std::printf("window_query_100k_sql_best_ms: %.2f\n",
                *std::min_element(e.sqlMs.begin(), e.sqlMs.end()));
    std::printf("window_query_100k_first_ms: %.2f\n", e.firstMs);
    std::printf("window_query_100k_sql_ms: %.2f\n", sql);
    std::printf("window_query_100k_ms: %.2f\n", window);
    // Five rounds of four iterations, the SQL of the first one (beside the
    // window's first query) left out.
    const std::vector<double> sqlAfterFirst(e.sqlMs.begin() + 1, e.sqlMs.end());
    bench::PrintRounds("window_query_100k_vs_sql",
                       bench::SliceRatios(e.windowMs, sqlAfterFirst, bench::kMinRounds));
    std::printf("window_query_100k_peak_rss_mb: %.1f\n", e.peakMb);
  }
  return 0;
}
