// Commits per second of one-row transactions, with 1, 4 and 16 committing
// threads, against SQLite doing the same from one connection per thread.
// Kernel side: each thread fills its own write set (the header and one
// insert) and ends the transaction with DKETR1; a commit returns once its
// records are in the commit set on disk (databank files write through, each
// page write synced), and two background threads apply and write the table
// pages behind. SQLite side: WAL, synchronous=FULL, one autocommit INSERT
// per transaction. "ratio" is kernel commits/s over SQLite's. The floor is
// what one group commit of the kernel writes, alone: the 16K commit-set data
// page written and synced (its list page changes only when a new data page
// enters it).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "dk/background_threads.h"
#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/request.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/transactions.h"
#include "platform/enqdeq.h"
#include "platform/host_services.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kEnqThreads = 40;
constexpr int kBackground = 2;
constexpr int32_t kKey = 8, kLength = 16;
constexpr int kCommitsPerRun = 1200;  // spread over the committing threads

struct QuietServices : HostServices {
  void write_output(StatusPair* status, int, const char*, int) override { set_success(status); }
};

int32_t CreateDatabank(const std::string& path, int32_t did, int32_t type) {
  std::vector<int32_t> rq(CRD_WORDS, 0);
  rq[CRD_MODE] = -2;
  rq[CRD_UNITS] = 20000;
  rq[CRD_DID] = did;
  rq[CRD_SEQNO] = 1;
  rq[CRD_TYPE] = type;
  char* file = reinterpret_cast<char*>(rq.data() + CRD_FILE);
  std::memset(file, ' ', 256);
  std::memcpy(file, path.data(), path.size());
  std::memset(rq.data() + CRD_NAME, ' ', 128);
  DKCRD1(rq.data());
  return rq[CRD_UNITS];
}

int32_t CreateTable(int32_t did, int32_t type, int32_t tbl, int32_t data, int32_t index) {
  int32_t b[CRT_WORDS] = {};
  b[RQ_DID] = did;
  b[RQ_TYPE] = type;
  b[RQ_TBL] = tbl;
  b[RQ_KEY_LENGTH] = type == 50 ? 0 : kKey;
  b[RQ_RECORD_LENGTH] = type == 50 ? 0 : kLength;
  b[RQ_DATA_PAGE_SIZE] = data;
  b[RQ_INDEX_PAGE_SIZE] = index;
  DKCRT1(b);
  return b[RQ_STATUS] == 0 ? b[RQ_TABLE] : 0;
}

// A started kernel: a table databank, a work databank for the write sets,
// the commit set's databank, and the background threads.
struct Kernel {
  Kernel() {
    InstallHostServices(&quiet);
    enq.assign(static_cast<size_t>(enqdeq_size(kEnqThreads) / 4), 0);
    enqdeq_init(enq.data(), kEnqThreads, nullptr, nullptr, 0);
    enqdeq_attach(enq.data(), 1);
    int32_t counts[4] = {0, 600, 30, 90}, pages[3] = {2000, 300, 0},
            threads[5] = {16, kBackground, 0, 20, 0};
    int32_t rc = 0;
    DKCheckParams(&rc, counts, pages, threads);
    DKSTA9(&rc, "BENCH", 5, counts, pages, threads, 0);
    char tmpl[] = "/tmp/bench_commit_XXXXXX";
    dir = mkdtemp(tmpl);
    data = CreateDatabank(dir + "/data.dbf", 5, 9);
    work = CreateDatabank(dir + "/work.dbf", 6, DBT_WORK);
    trans = CreateDatabank(dir + "/trans.dbf", 7, 9);
    Bufferpool()[BP_TRANS_DATABANK] = trans;
    Bufferpool()[BP_COMMIT_SET_TBL] = CreateTable(7, 50, 10, kCommitSetPageSize, 2048);
    table = CreateTable(5, 10, 77, 2048, 2048);
    for (int i = 0; i < kBackground; ++i)
      background.emplace_back([this, i] {
        enqdeq_attach(enq.data(), 2 + i);
        DKSSD1();
      });
  }
  ~Kernel() {
    int32_t rc = 0;
    DKStopBackground(&rc);
    for (std::thread& t : background) t.join();
    for (int32_t e : {data, work, trans}) ReleaseDatabank(e, false);
    PoolWord(BP_STATUS).store(BP_STATUS_SHUTDOWN);
    DKShutdown(&rc);
    std::filesystem::remove_all(dir);
  }
  QuietServices quiet;
  std::vector<int32_t> enq;
  std::vector<std::thread> background;
  std::string dir;
  int32_t data = 0, work = 0, trans = 0, table = 0;
};

Kernel& TheKernel() {
  static Kernel kernel;
  return kernel;
}

void Append(std::vector<int32_t>& b, const std::vector<int32_t>& record) {
  b[SETRQ_RC] = 0;
  b[SETRQ_LENGTH] = static_cast<int32_t>(record.size());
  std::copy(record.begin(), record.end(), b.begin() + SETRQ_RECORD);
  DKAXR0(b);
}

// One thread's one-row transactions on the kernel; keys (thread, n).
void KernelCommits(Kernel& k, int thread, int count, std::atomic<int>* failures) {
  // An index is attached once per process: every thread takes a new one.
  static std::atomic<int32_t> next_index{2 + kBackground};
  enqdeq_attach(k.enq.data(), next_index.fetch_add(1));
  const int32_t write_set = CreateTable(6, 50, -1, 2048, 2048);
  const int32_t read_set = CreateTable(6, 50, -1, 2048, 2048);
  std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
  b[SETRQ_TABLE] = write_set;
  b[SETRQ_TBL] = -1;
  std::vector<int32_t> header(WSH_DATABANKS, 0);
  header[WS_CODE] = kCodeHeader;
  header.insert(header.end(), {k.data, 5, 0, 2, 0, 1, -1});
  static std::atomic<int32_t> serial{0};
  for (int n = 0; n < count; ++n) {
    b[SETRQ_RC] = 1;  // keep the first pages, emptied
    DKDXT0(b);
    Append(b, header);
    std::vector<int32_t> insert(RQ_RECORD + kLength / 4, 0);
    insert[WS_CODE] = 1;
    insert[RQ_DID] = 5;
    insert[RQ_TABLE] = k.table;
    insert[RQ_TBL] = 77;
    insert[RQ_RECORD_LENGTH] = kLength;
    const int32_t key = serial.fetch_add(1);
    insert[RQ_RECORD] = __builtin_bswap32(thread);
    insert[RQ_RECORD + 1] = __builtin_bswap32(key);
    Append(b, insert);
    int32_t begin[ETR_WORDS] = {};
    do {
      begin[BTR_MODE] = 0;
      DKEXE1(8, begin);
    } while (begin[BTR_MODE] == -84);
    int32_t end[ETR_WORDS] = {kEndCommit, write_set, read_set, begin[BTR_TSS], 0, 0, 0};
    DKEXE1(25, end);
    if (end[ETR_MODE] != 0) failures->fetch_add(1);
  }
}

double RunKernel(int threads) {
  Kernel& k = TheKernel();
  std::atomic<int> failures{0};
  const int each = kCommitsPerRun / threads;
  const auto start = Clock::now();
  std::vector<std::thread> running;
  for (int t = 0; t < threads; ++t)
    running.emplace_back([&, t] { KernelCommits(k, t, each, &failures); });
  for (std::thread& t : running) t.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (failures.load() != 0) return 0;
  return each * threads / seconds;
}

double RunSqlite(int threads) {
  char tmpl[] = "/tmp/bench_commit_sqlite_XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string path = dir + "/t.db";
  sqlite3* setup = nullptr;
  sqlite3_open(path.c_str(), &setup);
  sqlite3_exec(setup, "PRAGMA journal_mode=WAL; CREATE TABLE t(k INTEGER PRIMARY KEY, v BLOB);",
               nullptr, nullptr, nullptr);
  const int each = kCommitsPerRun / threads;
  std::atomic<int> failures{0};
  const auto start = Clock::now();
  std::vector<std::thread> running;
  for (int t = 0; t < threads; ++t) {
    running.emplace_back([&, t] {
      sqlite3* db = nullptr;
      sqlite3_open(path.c_str(), &db);
      sqlite3_busy_timeout(db, 60000);
      sqlite3_exec(db, "PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr);
      sqlite3_stmt* insert = nullptr;
      sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?)", -1, &insert, nullptr);
      const char value[kLength - kKey] = {};
      for (int n = 0; n < each; ++n) {
        sqlite3_bind_int64(insert, 1, int64_t{t} << 32 | n);
        sqlite3_bind_blob(insert, 2, value, sizeof value, SQLITE_STATIC);
        if (sqlite3_step(insert) != SQLITE_DONE) failures.fetch_add(1);
        sqlite3_reset(insert);
      }
      sqlite3_finalize(insert);
      sqlite3_close(db);
    });
  }
  for (std::thread& t : running) t.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sqlite3_close(setup);
  std::filesystem::remove_all(dir);
  return failures.load() == 0 ? each * threads / seconds : 0;
}

void BM_CommitsAgainstSqlite(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  double kernel = 0, sqlite = 0;
  for (auto _ : state) {
    kernel = RunKernel(threads);
    sqlite = RunSqlite(threads);
  }
  state.counters["kernel_commits_per_s"] = kernel;
  state.counters["sqlite_commits_per_s"] = sqlite;
  state.counters["ratio"] = sqlite > 0 ? kernel / sqlite : 0;
}
BENCHMARK(BM_CommitsAgainstSqlite)->Arg(1)->Arg(4)->Arg(16)->Iterations(1)->UseRealTime();

// One group commit's write alone: a 16K page written and synced.
void BM_GroupCommitFloor(benchmark::State& state) {
  char tmpl[] = "/tmp/bench_commit_floor_XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const int fd = open((dir + "/floor").c_str(), O_RDWR | O_CREAT, 0600);
  std::vector<char> page(16384, 'x');
  benchmark::DoNotOptimize(pwrite(fd, page.data(), page.size(), 0));
  fdatasync(fd);
  for (auto _ : state) {
    benchmark::DoNotOptimize(pwrite(fd, page.data(), 16384, 16384));
    fdatasync(fd);
  }
  close(fd);
  std::filesystem::remove_all(dir);
  state.counters["groups_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GroupCommitFloor)->UseRealTime();

}  // namespace
