// LIKE patterns compiled into pattern programs against glibc's fnmatch (C
// locale) on the same patterns written with "*" and "?": 1,000,000 random
// subjects of 20 to 60 lower-case letters, each matched against '%abc',
// 'a%b%c', '_b%' and '%x_y%' (both sides take each subject against the four
// patterns in turn). Prints the ratio of the median CPU times at the end
// (goal: at most 0.5); CPU time, since a shared machine stretches the wall
// time of whichever side it happens to preempt.
#include <benchmark/benchmark.h>
#include <fnmatch.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "du/pattern_programs.h"

namespace {

constexpr int kSubjects = 1000000;
const char* const kLike[] = {"%abc", "a%b%c", "_b%", "%x_y%"};
const char* const kGlob[] = {"*abc", "a*b*c", "?b*", "*x?y*"};

// One storage area: the pattern texts first (the programs' literals), then
// every subject followed by a zero byte for fnmatch.
struct Data {
  std::vector<uint8_t> storage;
  std::vector<int32_t> offsets;
  std::vector<int32_t> lengths;
  std::vector<std::vector<int32_t>> programs;
  std::vector<std::vector<int32_t>> stacks;

  Data() {
    for (const char* like : kLike) {
      const int32_t at = int32_t(storage.size());
      storage.insert(storage.end(), like, like + std::strlen(like));
      std::vector<int32_t> program(PAT_CAPACITY);
      int32_t length = int32_t(std::strlen(like));
      DUCmpPattern2(program.data(), PAT_CAPACITY, storage, at, &length, PAT_MODE_LIKE, {}, 0);
      program[PAT_LITERAL_BASE] = 1;
      stacks.emplace_back(size_t(program[PAT_STORAGE]) + 1);
      programs.push_back(std::move(program));
    }
    std::mt19937 rng(42);
    for (int i = 0; i < kSubjects; ++i) {
      const int32_t n = 20 + int32_t(rng() % 41);
      offsets.push_back(int32_t(storage.size()));
      lengths.push_back(n);
      for (int32_t j = 0; j < n; ++j) storage.push_back(uint8_t('a' + rng() % 26));
      storage.push_back(0);
    }
  }
};

const Data& TheData() {
  static const Data data;
  return data;
}

void BM_PatternProgram(benchmark::State& state) {
  const Data& d = TheData();
  for (auto _ : state) {
    int64_t matches = 0;
    for (int i = 0; i < kSubjects; ++i)
      for (size_t p = 0; p < d.programs.size(); ++p)
        matches +=
            DUMatchPattern2(d.programs[p].data(), const_cast<int32_t*>(d.stacks[p].data()),
                            d.storage, d.offsets[size_t(i)], d.lengths[size_t(i)]) == PAT_MATCH;
    benchmark::DoNotOptimize(matches);
    state.counters["matches"] = double(matches);
  }
  state.SetItemsProcessed(state.iterations() * kSubjects * 4);
}

// The floor of the design: the program '%' (a single EXIT) run four times
// per subject, which is the cost of a call with its checks and nothing
// matched.
void BM_ProgramFloor(benchmark::State& state) {
  const Data& d = TheData();
  std::vector<int32_t> program(PAT_CAPACITY);
  std::vector<uint8_t> text = {'%'};
  int32_t length = 1;
  DUCmpPattern2(program.data(), PAT_CAPACITY, text, 0, &length, PAT_MODE_LIKE, {}, 0);
  program[PAT_LITERAL_BASE] = 1;
  int32_t stack[4];
  for (auto _ : state) {
    int64_t matches = 0;
    for (int i = 0; i < kSubjects; ++i)
      for (int p = 0; p < 4; ++p)
        matches += DUMatchPattern2(program.data(), stack, d.storage, d.offsets[size_t(i)],
                                   d.lengths[size_t(i)]) == PAT_MATCH;
    benchmark::DoNotOptimize(matches);
  }
  state.SetItemsProcessed(state.iterations() * kSubjects * 4);
}

void BM_Fnmatch(benchmark::State& state) {
  const Data& d = TheData();
  std::setlocale(LC_ALL, "C");
  for (auto _ : state) {
    int64_t matches = 0;
    for (int i = 0; i < kSubjects; ++i)
      for (const char* glob : kGlob)
        matches +=
            fnmatch(glob, reinterpret_cast<const char*>(d.storage.data()) + d.offsets[size_t(i)],
                    0) == 0;
    benchmark::DoNotOptimize(matches);
    state.counters["matches"] = double(matches);
  }
  state.SetItemsProcessed(state.iterations() * kSubjects * 4);
}

}  // namespace

BENCHMARK(BM_PatternProgram)->Repetitions(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramFloor)->Repetitions(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fnmatch)->Repetitions(5)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double ours = reporter.Median("BM_PatternProgram");
  const double base = reporter.Median("BM_Fnmatch");
  const double floor = reporter.Median("BM_ProgramFloor");
  if (ours > 0 && base > 0)
    std::printf("\nPattern programs / fnmatch (median CPU time, goal <= 0.5): %.3f\n", ours / base);
  if (floor > 0 && base > 0)
    std::printf("Floor (a one-instruction program) / fnmatch: %.3f\n", floor / base);
  return 0;
}
