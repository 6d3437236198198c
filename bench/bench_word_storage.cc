// Word-storage allocate-and-free against malloc/free in the same run, for
// requests of 64, 400 and 4000 bytes (one per memory class). Each round
// takes 64 blocks and gives them back in the order taken. Counters:
// "ratio" = DSGetMemRaw time / malloc time, "ratio_cleared" = DSGetMem
// (which clears the data) / calloc.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>

#include "kernel/word_storage.h"

namespace {

constexpr int kBlocks = 64;

template <typename Take, typename Give>
double TimeRound(Take take, Give give) {
  using Clock = std::chrono::steady_clock;
  const auto t0 = Clock::now();
  for (int i = 0; i < kBlocks; ++i) take(i);
  for (int i = 0; i < kBlocks; ++i) give(i);
  return std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
}

void BM_WordStorageVersusMalloc(benchmark::State& state) {
  const int32_t bytes = static_cast<int32_t>(state.range(0));
  int32_t* base = SqlPoolCreate(int64_t{1} << 26, 1 << 20);
  int32_t w = 1 << 20;
  DSPoolMem(base, &w, -1, 0);
  int32_t index[kBlocks];
  void* ptr[kBlocks];
  double pool_ns = 0, malloc_ns = 0, cleared_ns = 0, calloc_ns = 0;
  for (auto _ : state) {
    pool_ns += TimeRound([&](int i) { DSGetMemRaw(base, &index[i], bytes); },
                         [&](int i) { DSGetMem(base, &index[i], 0); });
    malloc_ns += TimeRound(
        [&](int i) {
          ptr[i] = std::malloc(bytes);
          benchmark::DoNotOptimize(ptr[i]);
        },
        [&](int i) { std::free(ptr[i]); });
    cleared_ns += TimeRound([&](int i) { DSGetMem(base, &index[i], bytes); },
                            [&](int i) { DSGetMem(base, &index[i], 0); });
    calloc_ns += TimeRound(
        [&](int i) {
          ptr[i] = std::calloc(1, bytes);
          benchmark::DoNotOptimize(ptr[i]);
        },
        [&](int i) { std::free(ptr[i]); });
  }
  const double pairs = static_cast<double>(state.iterations()) * kBlocks;
  state.counters["pool_ns"] = pool_ns / pairs;
  state.counters["malloc_ns"] = malloc_ns / pairs;
  state.counters["ratio"] = pool_ns / malloc_ns;
  state.counters["ratio_cleared"] = cleared_ns / calloc_ns;
  SqlPoolDestroy(base);
}
BENCHMARK(BM_WordStorageVersusMalloc)->Arg(64)->Arg(400)->Arg(4000);

}  // namespace
