// Writes and reads 100,000-row replies of both queries, next to a memcpy of
// the same number of bytes, and prints the codec's speed relative to it.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_rounds.h"
#include "frames.h"
#include "records/mmicropaymentdef.h"
#include "sample_records.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/tmb_stream.h"

using namespace MMicroPaymentDef;

namespace {

constexpr int kRows = 100000;
constexpr const char* kLogReply = samples::kLogQueryReply;
constexpr const char* kUserReply = samples::kUserQueryReply;

// Remarks of 10 to 30 GBK bytes.
const char* const kRemarks[] = {"小额支付冻结",
                                "小额支付解冻成功",
                                "账户变更已完成",
                                "用户号码变更已处理",
                                "营业厅现金充值",
                                "提现到银行卡完成",
                                "营业厅受理小额支付充值业务"};

std::string Digits(uint64_t v, int width) {
  std::string s(static_cast<std::size_t>(width), '0');
  for (int i = width - 1; i >= 0 && v > 0; --i, v /= 10) s[i] = static_cast<char>('0' + v % 10);
  return s;
}

SMpInfoList MakeLogRows() {
  SMpInfoList rows;
  rows.reserve(kRows);
  for (int i = 0; i < kRows; ++i) {
    SMpInfo r;
    r.set_SO_NBR(202400000000000 + i * 7919LL);
    r.set_BUSI_CODE(1 + i % 6);
    r.set_PHONE_ID("139" + Digits(static_cast<uint64_t>(i) * 104729u, 8));
    r.set_AMOUNT((i % 5 == 0 ? -1 : 1) * (100 + i % 50000));
    r.set_MPP_TRANSACTION_ID("MPP" + Digits(static_cast<uint64_t>(i) * 2654435761u, 17));
    r.set_MPP_TIME(QRSDateTime(2024, 1 + i % 12, 1 + i % 28, i % 24, i % 60, (i * 7) % 60));
    r.set_REMARK(kRemarks[i % 7]);
    rows.push_back(r);
  }
  return rows;
}

SMpUserInfoList MakeUserRows() {
  SMpUserInfoList rows;
  rows.reserve(kRows);
  for (int i = 0; i < kRows; ++i) {
    SMpUserInfo r;
    r.set_SERV_ID(8800000000000 + i);
    r.set_PHONE_ID("138" + Digits(static_cast<uint64_t>(i) * 7907u, 8));
    r.set_MP_PWD("******");
    r.set_REG_TYPE(static_cast<short>(1 + i % 4));
    r.set_REG_NBR("3301021990" + Digits(static_cast<uint64_t>(i), 8));
    r.set_FEE_LIMIT(50000 + i % 7 * 10000);
    r.set_MP_STS(static_cast<short>(i % 3));
    r.set_MP_CREATE_DATE(QRSDateTime(2023, 1 + i % 12, 1 + i % 28, 9, i % 60, 0));
    r.set_MPP_TRANS_ID("MPT" + Digits(static_cast<uint64_t>(i) * 2246822519u, 17));
    r.set_SO_NBR(202300000000000 + i * 31LL);
    r.set_REMARK(kRemarks[(i + 3) % 7]);
    rows.push_back(r);
  }
  return rows;
}

// The totals and the server's result come only with log replies.
template <class List>
void WriteReply(tmb_stream& s, const char* streamName, const List& rows, bool withStat) {
  if (withStat) {
    samples::WriteFrame(s, streamName, rows, samples::Totals(), 0, QRSErrorMsg());
  } else {
    samples::WriteFrame(s, streamName, rows, QRSErrorMsg());
  }
}

template <class List>
bool ReadReply(tmb_stream& s, const char* streamName, List& rows, bool withStat) {
  QRSErrorMsg err;
  if (withStat) {
    SMpAcctStatInfo stat;
    int result = -1;
    return samples::ReadFrame(s, streamName, rows, stat, result, err);
  }
  return samples::ReadFrame(s, streamName, rows, err);
}

const SMpInfoList& LogRows() {
  static const SMpInfoList rows = MakeLogRows();
  return rows;
}
const SMpUserInfoList& UserRows() {
  static const SMpUserInfoList rows = MakeUserRows();
  return rows;
}
const std::string& LogFrame() {
  static const std::string frame = [] {
    tmb_stream s;
    WriteReply(s, kLogReply, LogRows(), true);
    return std::string(s.bytes());
  }();
  return frame;
}
const std::string& UserFrame() {
  static const std::string frame = [] {
    tmb_stream s;
    WriteReply(s, kUserReply, UserRows(), false);
    return std::string(s.bytes());
  }();
  return frame;
}

void Account(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRows));
}

// Steady state: one stream reused for every reply (a server worker's
// pattern) and one list emptied before every call (the query facade's
// pattern). The *Cold variants build a new stream and list every time and pay
// for the first touch of fresh memory as well.
template <class List>
void WriteBench(benchmark::State& state, const char* streamName, const List& rows, bool withStat,
                bool cold) {
  tmb_stream reused;
  std::size_t bytes = 0;
  for (auto _ : state) {
    tmb_stream fresh;
    tmb_stream& s = cold ? fresh : reused;
    WriteReply(s, streamName, rows, withStat);
    bytes = s.bytes().size();
    benchmark::DoNotOptimize(s.bytes().data());
  }
  Account(state, bytes);
}

template <class List>
void ReadBench(benchmark::State& state, const char* streamName, const std::string& frame,
               bool withStat, bool cold) {
  tmb_stream reusedStream;
  List reusedRows;
  for (auto _ : state) {
    tmb_stream freshStream;
    List freshRows;
    tmb_stream& s = cold ? freshStream : reusedStream;
    List& rows = cold ? freshRows : reusedRows;
    rows.clear();
    s.attach(frame);  // as a received reply moved into the stream: no copy
    if (!ReadReply(s, streamName, rows, withStat) || rows.size() != kRows) {
      state.SkipWithError("reply did not decode");
      break;
    }
    benchmark::DoNotOptimize(rows.data());
  }
  Account(state, frame.size());
}

void BM_WriteMpInfoList(benchmark::State& state) {
  WriteBench(state, kLogReply, LogRows(), true, false);
}
void BM_ReadMpInfoList(benchmark::State& state) {
  ReadBench<SMpInfoList>(state, kLogReply, LogFrame(), true, false);
}
void BM_WriteMpUserInfoList(benchmark::State& state) {
  WriteBench(state, kUserReply, UserRows(), false, false);
}
void BM_ReadMpUserInfoList(benchmark::State& state) {
  ReadBench<SMpUserInfoList>(state, kUserReply, UserFrame(), false, false);
}
void BM_WriteMpInfoListCold(benchmark::State& state) {
  WriteBench(state, kLogReply, LogRows(), true, true);
}
void BM_ReadMpInfoListCold(benchmark::State& state) {
  ReadBench<SMpInfoList>(state, kLogReply, LogFrame(), true, true);
}

// The physical reference: copying the log reply's bytes once.
void BM_MemcpyMpInfoFrame(benchmark::State& state) {
  const std::string& frame = LogFrame();
  std::vector<char> target(frame.size());
  for (auto _ : state) {
    std::memcpy(target.data(), frame.data(), frame.size());
    benchmark::ClobberMemory();
  }
  Account(state, frame.size());
}

// The ratios, round by round: each round copies, writes and reads the log
// reply three times each, in turns, and takes the fastest of each, so that
// the codec and its yardstick see the machine in the same state (its caches
// and memory bandwidth shared with whatever else runs). A reply is read into
// an empty list, as the facade empties the caller's list before each call;
// emptying it of the previous reply's rows frees what reading allocated and
// is timed on its own.
std::vector<double> gReadRounds, gWriteRounds, gDiscardRounds;

void BM_Rounds(benchmark::State& state) {
  const std::string& frame = LogFrame();
  std::vector<char> target(frame.size());
  tmb_stream writer, reader;
  SMpInfoList rows;
  // The thread's CPU clock: on a shared machine the wall clock counts the
  // time other programs run too. (<chrono> does not build with this
  // program's GBK execution charset.)
  const auto now = [] {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  };
  const auto seconds = [&now](double t0) { return now() - t0; };
  for (auto _ : state) {
    double copy = 1e9, write = 1e9, read = 1e9, discard = 1e9;
    for (int i = 0; i < 3; ++i) {
      double t = now();
      std::memcpy(target.data(), frame.data(), frame.size());
      benchmark::ClobberMemory();
      copy = std::min(copy, seconds(t));
      t = now();
      WriteReply(writer, kLogReply, LogRows(), true);
      benchmark::DoNotOptimize(writer.bytes().data());
      write = std::min(write, seconds(t));
      const bool held = !rows.empty();  // not before the first read
      t = now();
      rows.clear();
      if (held) discard = std::min(discard, seconds(t));
      t = now();
      reader.attach(frame);
      if (!ReadReply(reader, kLogReply, rows, true) || rows.size() != kRows) {
        return state.SkipWithError("reply did not decode");
      }
      benchmark::DoNotOptimize(rows.data());
      read = std::min(read, seconds(t));
    }
    gReadRounds.push_back(copy / read);
    gWriteRounds.push_back(copy / write);
    if (discard < 1e9) gDiscardRounds.push_back(copy / discard);
  }
}

BENCHMARK(BM_Rounds)->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_MemcpyMpInfoFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteMpInfoList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadMpInfoList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteMpUserInfoList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadMpUserInfoList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteMpInfoListCold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadMpInfoListCold)->Unit(benchmark::kMillisecond);

// Keeps the rates of every run besides printing the usual table.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> bytesPerSecond;
  std::map<std::string, double> itemsPerSecond;

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const std::string name = run.benchmark_name();
      if (auto it = run.counters.find("bytes_per_second"); it != run.counters.end()) {
        bytesPerSecond[name] = it->second.value;
      }
      if (auto it = run.counters.find("items_per_second"); it != run.counters.end()) {
        itemsPerSecond[name] = it->second.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (const char* remark : kRemarks) {
    if (std::strlen(remark) < 10 || std::strlen(remark) > 30) {
      std::fprintf(stderr, "bench_codec: remark of %zu bytes\n", std::strlen(remark));
      return 1;
    }
  }
  std::printf("log reply: %zu bytes, user reply: %zu bytes, %d rows each\n", LogFrame().size(),
              UserFrame().size(), kRows);
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  // The machine-readable lines; a figure whose benchmark was filtered out is
  // left out.
  auto& bytes = reporter.bytesPerSecond;
  auto& items = reporter.itemsPerSecond;
  const auto line = [](const char* name, const char* format, double value) {
    std::printf("%s: ", name);
    std::printf(format, value);
    std::printf("\n");
  };
  const auto has = [](const std::map<std::string, double>& m, const char* name) {
    const auto it = m.find(name);
    return it != m.end() && it->second > 0;
  };
  if (has(bytes, "BM_MemcpyMpInfoFrame")) {
    line("codec_memcpy_mb_per_s", "%.0f", bytes["BM_MemcpyMpInfoFrame"] / 1e6);
  }
  for (const auto& [bench, name] :
       {std::pair{"BM_ReadMpInfoList", "codec_read_mb_per_s"},
        std::pair{"BM_WriteMpInfoList", "codec_write_mb_per_s"},
        std::pair{"BM_ReadMpInfoListCold", "codec_cold_read_mb_per_s"},
        std::pair{"BM_WriteMpInfoListCold", "codec_cold_write_mb_per_s"}}) {
    if (has(bytes, bench)) line(name, "%.0f", bytes[bench] / 1e6);
  }
  if (has(items, "BM_ReadMpUserInfoList")) {
    line("codec_user_read_rows_per_s", "%.0f", items["BM_ReadMpUserInfoList"]);
  }
  if (has(items, "BM_ReadMpInfoList")) {
    line("codec_read_rows_per_s", "%.0f", items["BM_ReadMpInfoList"]);
  }
  bench::PrintRounds("codec_read_vs_memcpy", gReadRounds, 3);
  bench::PrintRounds("codec_write_vs_memcpy", gWriteRounds, 3);
  bench::PrintRounds("codec_discard_vs_memcpy", gDiscardRounds, 3);
  return 0;
}
