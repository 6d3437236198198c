// A second session preparing a cached SQL text: the kernel's shared-program
// cache (find by text, a private 256-word storage copy, release) over 1,000
// texts of 200 bytes, against a std::unordered_map under a std::mutex with a
// use count and a std::vector copy, on 1 and 8 threads. Counters: "ratio" =
// kernel time / map time per prepare, measured in the same run by each
// thread in alternating batches.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "kernel/control_blocks.h"
#include "kernel/shared_programs.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"
#include "kernel/word_storage.h"
#include "platform/enqdeq.h"

namespace {

constexpr int kTexts = 1000;
constexpr int kStorageWords = 256;
constexpr int kBatch = 64;

int32_t Ok(int32_t*, int32_t*) {
  return 0;
}
int32_t OkBase(int32_t*) {
  return 0;
}
int32_t OkTables(int32_t*, int32_t, int32_t) {
  return 0;
}

struct MapEntry {
  int32_t count = 0;
  std::vector<int32_t> storage = std::vector<int32_t>(kStorageWords, 7);
};

struct World {
  int32_t* base = nullptr;
  std::vector<std::string> texts;
  std::unordered_map<std::string, MapEntry> map;
  std::mutex mutex;
  KernelUpperServices services{};
  int32_t enq[2048];
  std::atomic<int32_t> next_index{2};

  World() {
    services.info_build = Ok;
    services.info_error_table = Ok;
    services.reg_esc_callbacks = OkBase;
    services.open_com_tables = OkTables;
    KernelInstallUpperServices(&services);
    enqdeq_init(enq, 64, nullptr, nullptr, 0);
    enqdeq_attach(enq, 1);
    base = SqlPoolCreate(int64_t{1} << 26, 1 << 22);
    int32_t w = 1 << 22;
    DSPoolMem(base, &w, -1, 0);
    int32_t status = 0;
    DSInitSys(base, &status);
    for (int i = 0; i < kTexts; ++i) {
      std::string t = "select c" + std::to_string(i) + " from t where ";
      t.resize(200, 'x');
      texts.push_back(t);
      map[t];
      // The first session compiles and keeps it: later holders copy.
      ShpHandle h;
      DSFindShpSql(base, 1, reinterpret_cast<const uint8_t*>("Q"), 1,
                   reinterpret_cast<const uint8_t*>(t.data()), 200, &h);
      int32_t sd = 0, stg = 0, com = 0;
      DSGetMem(base, &sd, 4 * 32);
      DSGetMem(base, &stg, 4 * kStorageWords);
      DSGetMem(base, &com, 4 * 11);
      sqlpool_word(base, sd + SD_STORAGE_WORDS) = kStorageWords;
      sqlpool_word(base, sd + SD_CALL_LIST) = -1;
      sqlpool_word(base, com + COM_SD) = sd;
      sqlpool_word(base, com + COM_STG) = stg;
      sqlpool_word(base, com + COM_SHP) = h.shp;
      DSPublishShp(base, 1, com);
    }
  }
};

World& TheWorld() {
  static World w;
  return w;
}

thread_local bool attached = false;

void BM_SecondSessionPrepare(benchmark::State& state) {
  World& w = TheWorld();
  if (!attached) {
    enqdeq_attach(w.enq, w.next_index++);
    attached = true;
  }
  const int32_t usr = 1000 + state.thread_index();
  uint32_t pick = 12345u * (state.thread_index() + 1);
  double kernel_ns = 0, map_ns = 0;
  using Clock = std::chrono::steady_clock;
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      pick = pick * 1103515245u + 12345u;
      const std::string& t = w.texts[(pick >> 8) % kTexts];
      ShpHandle h;
      DSFindShpSql(w.base, usr, reinterpret_cast<const uint8_t*>("Q"), 1,
                   reinterpret_cast<const uint8_t*>(t.data()), 200, &h);
      benchmark::DoNotOptimize(h.stg);
      DSRSH3(w.base, usr, &h.shp, &h.stg);
    }
    auto t1 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      pick = pick * 1103515245u + 12345u;
      const std::string& t = w.texts[(pick >> 8) % kTexts];
      std::vector<int32_t> copy;
      {
        std::lock_guard<std::mutex> lock(w.mutex);
        MapEntry& e = w.map.find(t)->second;
        ++e.count;
        copy = e.storage;
      }
      benchmark::DoNotOptimize(copy.data());
      std::lock_guard<std::mutex> lock(w.mutex);
      --w.map.find(t)->second.count;
    }
    auto t2 = Clock::now();
    kernel_ns += std::chrono::duration<double, std::nano>(t1 - t0).count();
    map_ns += std::chrono::duration<double, std::nano>(t2 - t1).count();
  }
  const double n = static_cast<double>(state.iterations()) * kBatch;
  state.counters["kernel_ns"] = benchmark::Counter(kernel_ns / n, benchmark::Counter::kAvgThreads);
  state.counters["map_ns"] = benchmark::Counter(map_ns / n, benchmark::Counter::kAvgThreads);
  state.counters["ratio"] = benchmark::Counter(kernel_ns / map_ns, benchmark::Counter::kAvgThreads);
}
BENCHMARK(BM_SecondSessionPrepare)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace
