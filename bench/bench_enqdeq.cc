// Uncontended ENQ/DEQ take-and-give against std::mutex lock-and-unlock, both
// measured in the same run; the "ratio" counter is enqdeq time / mutex time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <mutex>

#include "platform/enqdeq.h"

namespace {

constexpr int kBatch = 4096;

void BM_EnqdeqVersusMutex(benchmark::State& state) {
  int32_t sem[2];
  enqdeq_init_semaphore(sem, 1);
  std::mutex mutex;
  int64_t shared = 0;
  double enqdeq_ns = 0, mutex_ns = 0;
  using Clock = std::chrono::steady_clock;
  auto enqdeq_batch = [&] {
    auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      enqdeq_take(sem);
      benchmark::DoNotOptimize(++shared);
      enqdeq_give(sem);
    }
    enqdeq_ns += std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
  };
  auto mutex_batch = [&] {
    auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      mutex.lock();
      benchmark::DoNotOptimize(++shared);
      mutex.unlock();
    }
    mutex_ns += std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
  };
  // Alternate which goes first, so neither always runs on a cache or branch
  // state the other left behind.
  bool enqdeq_first = true;
  for (auto _ : state) {
    if (enqdeq_first) {
      enqdeq_batch();
      mutex_batch();
    } else {
      mutex_batch();
      enqdeq_batch();
    }
    enqdeq_first = !enqdeq_first;
  }
  double pairs = static_cast<double>(state.iterations()) * kBatch;
  state.counters["enqdeq_ns"] = enqdeq_ns / pairs;
  state.counters["mutex_ns"] = mutex_ns / pairs;
  state.counters["ratio"] = enqdeq_ns / mutex_ns;
}
BENCHMARK(BM_EnqdeqVersusMutex);

}  // namespace
