// The roll-forward of a databank from the log (DSTabScan1) against the
// least a redo of the same log must do: one DKGNS1 pass over the log that
// applies each insert by DKINS1. The log holds 100,000 inserts of 16-byte
// records in 1,000 transactions (each ended by its commit record); both
// sides redo them into the same empty table. "ratio" is the roll-forward's
// time over the single pass's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dk/background_threads.h"
#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/databank_operations.h"
#include "dk/request.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/table_open.h"
#include "dk/transactions.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/hash_lists.h"
#include "kernel/roll_forward.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"
#include "kernel/word_storage.h"
#include "platform/enqdeq.h"
#include "platform/host_services.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kTransactions = 1000, kInsertsEach = 100;
constexpr int32_t kDataLid = 5, kTbl = 77, kKey = 8, kLength = 16;

struct QuietServices : HostServices {
  void write_output(StatusPair* status, int, const char*, int) override { set_success(status); }
};

int32_t InfoOk(int32_t*, int32_t*) {
  return 0;
}
int32_t EscOk(int32_t*) {
  return 0;
}

void Names(int32_t* rq, const std::string& path) {
  char* file = reinterpret_cast<char*>(rq + CRD_FILE);
  std::memset(file, ' ', 256);
  std::memcpy(file, path.data(), path.size());
  std::memset(rq + CRD_NAME, ' ', 128);
}

int32_t Databank(const std::string& path, int32_t did, int32_t type) {
  std::vector<int32_t> rq(CRD_WORDS, 0);
  rq[CRD_MODE] = -2;
  rq[CRD_UNITS] = 20000;
  rq[CRD_DID] = did;
  rq[CRD_SEQNO] = 1;
  rq[CRD_TYPE] = 9;
  Names(rq.data(), path);
  DKCRD1(rq.data());
  if (type == 9) return rq[CRD_UNITS];
  // Opened for use as a start opens it: the LOG databank makes its log.
  int32_t cld[4] = {1, 0, did, -1};
  DKEXE1(12, cld);
  std::fill(rq.begin(), rq.end(), 0);
  rq[CRD_MODE] = 3;
  rq[CRD_DID] = did;
  rq[CRD_SEQNO] = -1;
  rq[CRD_TYPE] = type;
  Names(rq.data(), path);
  DKEXE1(44, rq.data());
  return rq[CRD_UNITS];
}

struct Setup {
  Setup() {
    InstallHostServices(&quiet);
    enq.assign(static_cast<size_t>(enqdeq_size(8) / 4), 0);
    enqdeq_init(enq.data(), 8, nullptr, nullptr, 0);
    enqdeq_attach(enq.data(), 1);
    int32_t counts[4] = {0, 60, 30, 90}, pages[3] = {4000, 300, 0}, threads[5] = {4, 1, 0, 10, 0};
    int32_t rc = 0;
    DKCheckParams(&rc, counts, pages, threads);
    DKSTA9(&rc, "BENCH", 5, counts, pages, threads, 0);
    char tmpl[] = "/tmp/bench_roll_forward_XXXXXX";
    dir = mkdtemp(tmpl);
    data = Databank(dir + "/data.dbf", kDataLid, 9);
    log = Databank(dir + "/log.dbf", LOG_LID, 3);
    FillLog();
    base = SqlPoolCreate(int64_t{4} << 20, 1 << 18);
    int32_t w = 1 << 18;
    DSPoolMem(base, &w, -1, 0);
    services.info_build = InfoOk;
    services.info_error_table = InfoOk;
    services.reg_esc_callbacks = EscOk;
    KernelInstallUpperServices(&services);
    int32_t status = 0;
    DSInitSys(base, &status);
    const int32_t sys = KernelSys(base);
    for (auto [lid, did] : {std::pair{kDataLid, data}, {LOG_LID, log}}) {
      int32_t dcb = 0;
      DSGetMem(base, &dcb, DCB_BYTES);
      Wd(base, dcb, DCB_LID) = lid;
      Wd(base, dcb, DCB_DID) = did;
      Wd(base, dcb, DCB_ACCESS_MODE) = lid == kDataLid ? 1 : 3;
      const int32_t list = Wd(base, sys, SYS_DCB_LIST);
      const int32_t head = HashListHead(base, list, HashListBucket(base, list, lid));
      Wd(base, dcb, DCB_NEXT) = sqlpool_word(base, head);
      sqlpool_word(base, head) = dcb;
    }
    DSGetMem(base, &usr, USR_BYTES);
  }
  ~Setup() {
    int32_t rc = 0;
    for (int32_t e : {data, log}) ReleaseDatabank(e, false);
    PoolWord(BP_STATUS).store(BP_STATUS_SHUTDOWN);
    DKShutdown(&rc);
    std::filesystem::remove_all(dir);
  }

  // 1,000 transactions of 100 inserts, each ended by its commit record, as
  // the background copies applied write sets to the log.
  void FillLog() {
    std::vector<int32_t> b(SetRequestBlockWords(), 0);
    b[SETRQ_TABLE] = Bufferpool()[BP_LOG_TABLE];
    b[SETRQ_TBL] = LOG_TABLE;
    auto append = [&](const std::vector<int32_t>& r) {
      b[SETRQ_RC] = 0;
      b[SETRQ_LENGTH] = static_cast<int32_t>(r.size());
      std::copy(r.begin(), r.end(), b.begin() + SETRQ_RECORD);
      DKAXR0(b);
    };
    int32_t key = 0;
    for (int32_t t = 1; t <= kTransactions; ++t) {
      for (int32_t i = 0; i < kInsertsEach; ++i, ++key) {
        std::vector<int32_t> r(RQ_RECORD + kLength / 4, 0);
        r[WS_CODE] = 1;
        r[1] = t;
        r[RQ_DID] = kDataLid;
        r[WSR_KIND] = 1;
        r[RQ_TBL] = kTbl;
        r[RQ_KEY_LENGTH] = kKey;
        r[RQ_RECORD_LENGTH] = kLength;
        r[RQ_RECORD] =
            static_cast<int32_t>(__builtin_bswap32(static_cast<uint32_t>(key) * 2654435761u));
        r[RQ_RECORD + 1] = __builtin_bswap32(static_cast<uint32_t>(key));
        append(r);
      }
      std::vector<int32_t> header(WSH_DATABANKS + 1, 0);
      header[WS_CODE] = kCodeHeader;
      header[1] = t;
      header[WSH_KIND] = 129;
      std::memcpy(header.data() + LOGREC_COMMIT_KEY, "0000000000000500", 16);
      header[WSH_DATABANKS] = -1;
      append(header);
    }
  }

  // An empty table 77, closed (as a restored copy holds it).
  void EmptyTable() {
    int32_t b[CRT_WORDS] = {};
    b[RQ_STATUS] = -2;
    b[RQ_DID] = kDataLid;
    b[RQ_TYPE] = 10;
    b[RQ_TBL] = kTbl;
    b[RQ_KEY_LENGTH] = kKey;
    b[RQ_RECORD_LENGTH] = kLength;
    b[RQ_INDEX_PAGE_SIZE] = 2048;
    b[RQ_DATA_PAGE_SIZE] = 2048;
    DKCRT1(b);
    CloseTable(b[RQ_TABLE], kTbl);
  }
  int32_t OpenTable() {
    int32_t o[CRT_WORDS] = {};
    o[RQ_STATUS] = 3;
    o[RQ_DID] = kDataLid;
    o[OPT_KIND] = 1;
    o[RQ_TBL] = kTbl;
    o[RQ_KEY_LENGTH] = kKey;
    o[RQ_RECORD_LENGTH] = kLength;
    DKOPT1(o);
    return o[RQ_TABLE];
  }
  void DropTable() {
    const int32_t t = OpenTable();
    int32_t d[CRT_WORDS] = {};
    d[RQ_DID] = kDataLid;
    d[RQ_TABLE] = t;
    d[RQ_TBL] = kTbl;
    DKDRT1(d);
    int32_t c[CRT_WORDS] = {};
    c[RQ_STATUS] = -22;
    c[RQ_TABLE] = t;
    c[RQ_TBL] = kTbl;
    DKCLT1(c);
  }

  // The floor: one pass over the log, each insert applied by DKINS1.
  int32_t ApplyPass() {
    const int32_t table = OpenTable();
    std::vector<int32_t> b(SetRequestBlockWords(), 0);
    b[SETRQ_TABLE] = Bufferpool()[BP_LOG_TABLE];
    b[SETRQ_TBL] = LOG_TABLE;
    std::vector<int32_t> request(LOG_BUFFER_WORDS + 256, 0);
    int32_t applied = 0;
    for (;;) {
      b[SETRQ_RC] = 0;
      b[SETRQ_LENGTH] = LOG_BUFFER_WORDS;
      DKEXE1(34, b.data());
      if (b[SETRQ_RC] != 0) break;
      if (b[SETRQ_RECORD] != 1) continue;
      std::copy(b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + b[SETRQ_LENGTH],
                request.begin());
      request[RQ_STATUS] = 0;
      request[RQ_TABLE] = table;
      DKEXE1(38, request.data());
      if (request[RQ_STATUS] == 0) ++applied;
    }
    CloseTable(table, kTbl);
    return applied;
  }
  int32_t RollForward() {
    int32_t rq[RFW_WORDS] = {0, usr, kDataLid};
    DSTabScan1(base, rq);
    return rq[RFW_MODE];
  }

  QuietServices quiet;
  std::vector<int32_t> enq;
  std::string dir;
  int32_t data = 0, log = 0, usr = 0;
  int32_t* base = nullptr;
  KernelUpperServices services{};
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void BM_RollForwardAgainstOneApplyPass(benchmark::State& state) {
  Setup& s = TheSetup();
  double rf = 0, pass = 0;
  int32_t redone = 0, applied = 0;
  // A first round of each, untimed: the first redo into the file pays for
  // its pages' first use.
  for (int side = 0; side < 2; ++side) {
    s.EmptyTable();
    side == 0 ? s.RollForward() : s.ApplyPass();
    s.DropTable();
  }
  bool roll_forward_first = true;
  for (auto _ : state) {
    // Each side in turn goes first: the first redo after a drop finds the
    // dropped table's pages not yet given back.
    for (int side = 0; side < 2; ++side) {
      const bool do_roll_forward = (side == 0) == roll_forward_first;
      s.EmptyTable();
      auto t0 = Clock::now();
      if (do_roll_forward)
        redone = s.RollForward();
      else
        applied = s.ApplyPass();
      auto t1 = Clock::now();
      s.DropTable();
      (do_roll_forward ? rf : pass) += Seconds(t0, t1);
    }
    roll_forward_first = !roll_forward_first;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["roll_forward_ms"] = 1000 * rf / n;
  state.counters["apply_pass_ms"] = 1000 * pass / n;
  state.counters["ratio"] = rf / pass;
  state.counters["redone"] = redone;
  state.counters["applied"] = applied;
}
BENCHMARK(BM_RollForwardAgainstOneApplyPass)->Iterations(6)->Unit(benchmark::kMillisecond);

}  // namespace
