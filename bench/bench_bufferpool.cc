// Bufferpool costs against their plain equivalents, measured in the same run:
// a hit (get and release of a resident 16K page) against a std::unordered_map
// lookup of the same page number, and a miss (a 16K page read into the pool)
// against a bare pread of 16K from the page cache. "ratio" is pool / baseline.
// Beside the hit runs its floor: the nine locked read-modify-writes that
// every shared hit and release is made of (request counter, partition lock
// taken and given, users up, W taken and given, the reader registered on R;
// R given and users down on release), done on words laid out as in a BCB and
// with nothing else around them. "floor_ratio" is floor / lookup, the least
// ratio a hit can have while it keeps those locks and counters.
// Both sides of each pair run the same loop over the same pages; every
// result goes through DoNotOptimize, whose memory clobber keeps the map
// lookup from being hoisted out of its loop.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "platform/enqdeq.h"
#include "platform/host_services.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kPageSize = 16384;
constexpr int32_t kUnits = 8;
constexpr int32_t kFileUnits = 9000;
constexpr int32_t kFirstPage = 16;
constexpr int32_t kPoolBuffers = 24;  // 16K page buffers of the pool
constexpr int32_t kMissPages = 1000;  // far more than the pool's buffers
constexpr int kBatch = 256;

struct QuietServices : HostServices {
  void write_output(StatusPair* status, int, const char*, int) override { set_success(status); }
};

// A started kernel with one databank file of kFileUnits units.
struct Kernel {
  Kernel() {
    InstallHostServices(&quiet);
    enq.assign(static_cast<size_t>(enqdeq_size(4) / 4), 0);
    enqdeq_init(enq.data(), 4, nullptr, nullptr, 0);
    enqdeq_attach(enq.data(), 1);
    int32_t counts[4] = {0, 30, 30, 30}, pages[3] = {64, kPoolBuffers, 21},
            threads[5] = {2, 2, 0, 10, 0};
    int32_t rc = 0;
    DKCheckParams(&rc, counts, pages, threads);
    DKSTA9(&rc, "BENCH", 5, counts, pages, threads, 0);
    char tmpl[] = "/tmp/bench_bufferpool_XXXXXX";
    dir = mkdtemp(tmpl);
    path = dir + "/bench.dbf";
    std::vector<int32_t> rq(CRD_WORDS, 0);
    rq[CRD_MODE] = -2;
    rq[CRD_UNITS] = kFileUnits;
    rq[CRD_DID] = 5;
    rq[CRD_SEQNO] = 1;
    rq[CRD_TYPE] = 9;
    char* file = reinterpret_cast<char*>(rq.data() + CRD_FILE);
    std::memset(file, ' ', 256);
    std::memcpy(file, path.data(), path.size());
    std::memset(rq.data() + CRD_NAME, ' ', 128);
    DKCRD1(rq.data());
    entry = rq[CRD_UNITS];
    fd = open(path.c_str(), O_RDONLY);
    // Bring the whole file into the page cache.
    std::vector<char> buf(kPageSize);
    for (int64_t off = 0; off < int64_t{kFileUnits} * 2048; off += kPageSize)
      benchmark::DoNotOptimize(pread(fd, buf.data(), kPageSize, off));
  }
  ~Kernel() {
    close(fd);
    ReleaseDatabank(entry, false);
    int32_t rc = 0;
    DKShutdown(&rc);
    std::filesystem::remove_all(dir);
  }
  QuietServices quiet;
  std::vector<int32_t> enq;
  std::string dir, path;
  int32_t entry = 0;
  int fd = -1;
};

Kernel& TheKernel() {
  static Kernel kernel;
  return kernel;
}

void BM_HitVersusHashLookup(benchmark::State& state) {
  Kernel& k = TheKernel();
  std::unordered_map<int32_t, int32_t> map;
  for (int32_t i = 0; i < 24; ++i) map[kFirstPage + kUnits * i] = i;
  int32_t page = kFirstPage + kUnits * 5;
  int32_t rq[REQ_WORDS] = {k.entry, page, kPageSize, 0, -1, 0};
  DKPUT0(PUT_END_SHARED, DKGET0(rq, GET_SHARED));  // now resident
  // The words the nine operations touch: pool counter, partition lock, and
  // the users, R and W words of one BCB, each in its own place as in the pool.
  alignas(64) static std::atomic<int32_t> words[3][32];
  std::atomic<int32_t>& requests = words[0][PART_STAT_REQUESTS];
  std::atomic<int32_t>& lock = words[1][1];
  std::atomic<int32_t>* bcb = words[2];
  double pool_ns = 0, map_ns = 0, floor_ns = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      int32_t buffer = DKGET0(rq, GET_SHARED);
      benchmark::DoNotOptimize(buffer);
      DKPUT0(PUT_END_SHARED, buffer);
    }
    auto t1 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      auto it = map.find(page);
      benchmark::DoNotOptimize(it->second);
    }
    auto t2 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      requests.fetch_add(1, std::memory_order_relaxed);
      lock.fetch_sub(1);
      bcb[BCB_USERS].fetch_add(1);
      lock.fetch_add(1);
      bcb[BCB_W].fetch_sub(1);
      bcb[BCB_R].fetch_sub(1);
      bcb[BCB_W].fetch_add(1);
      benchmark::ClobberMemory();
      bcb[BCB_R].fetch_add(1);
      bcb[BCB_USERS].fetch_sub(1);
    }
    auto t3 = Clock::now();
    pool_ns += std::chrono::duration<double, std::nano>(t1 - t0).count();
    map_ns += std::chrono::duration<double, std::nano>(t2 - t1).count();
    floor_ns += std::chrono::duration<double, std::nano>(t3 - t2).count();
  }
  double n = static_cast<double>(state.iterations()) * kBatch;
  state.counters["pool_ns"] = pool_ns / n;
  state.counters["map_ns"] = map_ns / n;
  state.counters["floor_ns"] = floor_ns / n;
  state.counters["ratio"] = pool_ns / map_ns;
  state.counters["floor_ratio"] = floor_ns / map_ns;
}
BENCHMARK(BM_HitVersusHashLookup);

void BM_MissVersusPread(benchmark::State& state) {
  Kernel& k = TheKernel();
  // The bare reads go to as many buffers in turn as the pool has, so that
  // both sides copy into memory that is equally far from the cache.
  std::vector<char> buf(int64_t{kPageSize} * kPoolBuffers);
  double pool_ns = 0, pread_ns = 0;
  int32_t next = 0;
  for (auto _ : state) {
    int32_t start = next;
    auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      int32_t rq[REQ_WORDS] = {k.entry, kFirstPage + kUnits * next, kPageSize, 0, -1, 0};
      next = (next + 1) % kMissPages;
      int32_t buffer = DKGET0(rq, GET_SHARED);
      benchmark::DoNotOptimize(buffer);
      DKPUT0(PUT_END_SHARED, buffer);
    }
    auto t1 = Clock::now();
    for (int i = 0, p = start; i < kBatch; ++i, p = (p + 1) % kMissPages) {
      int64_t off = int64_t{kFirstPage + kUnits * p} * 2048;
      char* to = buf.data() + int64_t{kPageSize} * (p % kPoolBuffers);
      benchmark::DoNotOptimize(pread(k.fd, to, kPageSize, off));
    }
    auto t2 = Clock::now();
    pool_ns += std::chrono::duration<double, std::nano>(t1 - t0).count();
    pread_ns += std::chrono::duration<double, std::nano>(t2 - t1).count();
  }
  double n = static_cast<double>(state.iterations()) * kBatch;
  state.counters["pool_ns"] = pool_ns / n;
  state.counters["pread_ns"] = pread_ns / n;
  state.counters["ratio"] = pool_ns / pread_ns;
}
BENCHMARK(BM_MissVersusPread);

}  // namespace
