// Packed decimal add, multiply, divide, compare and text reading on 15-digit values
// against the same on int64_t and double (and memcmp of the stored bytes,
// and strtod), measured in one run; prints the ratios at the end.
//
// Add alternates a += b and a -= b over an array so that values stay put;
// multiply copies a into the result first (for int64_t and double the
// product is stored likewise). Values are DECIMAL(15,2) amounts of both
// signs with integer parts of 8 to 13 digits.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/decimal_arith.h"
#include "platform/decimal_text.h"
#include "platform/packed_decimal.h"

namespace {

constexpr int kCount = 1024;
constexpr int kPrecision = 15;
constexpr int kBytes = decimal_bytes(kPrecision);  // 9
const value_descriptor kDesc{0, kPrecision, 2, 0};

struct Data {
  std::vector<int64_t> ia, ib;
  std::vector<double> da, db;
  std::vector<uint8_t> pa, pb;  // kCount values of kBytes each
  std::vector<std::string> texts;
};

const Data& data() {
  static const Data d = [] {
    Data d;
    std::mt19937_64 rng(42);
    auto amount = [&]() {
      int64_t limit = 1;
      for (int i = 0, n = 10 + rng() % 6; i < n; ++i) limit *= 10;  // 10..15 digits
      const int64_t v = static_cast<int64_t>(rng() % limit);
      return rng() % 4 == 0 ? -v : v;
    };
    for (int i = 0; i < kCount; ++i) {
      for (int side = 0; side < 2; ++side) {
        const int64_t cents = amount();
        const int64_t whole = cents / 100;
        const int64_t frac = (cents < 0 ? -cents : cents) % 100;
        std::string text = (cents < 0 && whole == 0 ? "-" : "") + std::to_string(whole) + "." +
                           (frac < 10 ? "0" : "") + std::to_string(frac);
        uint8_t v[kBytes];
        text_to_decimal(v, kDesc,
                        ConstByteSpan(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                        0, static_cast<int32_t>(text.size()));
        (side == 0 ? d.ia : d.ib).push_back(cents);
        (side == 0 ? d.da : d.db).push_back(static_cast<double>(cents) / 100);
        auto& p = side == 0 ? d.pa : d.pb;
        p.insert(p.end(), v, v + kBytes);
        if (side == 0) d.texts.push_back(text);
      }
    }
    return d;
  }();
  return d;
}

// a += b then a -= b over the arrays, for the binary types.
template <typename T>
void AddThenSubtract(benchmark::State& state, const std::vector<T>& first,
                     const std::vector<T>& b) {
  std::vector<T> a = first;
  for (auto _ : state) {
    for (int i = 0; i < kCount; ++i) benchmark::DoNotOptimize(a[i] += b[i]);
    for (int i = 0; i < kCount; ++i) benchmark::DoNotOptimize(a[i] -= b[i]);
  }
  state.SetItemsProcessed(state.iterations() * 2 * kCount);
}

void BM_Int64Add(benchmark::State& state) {
  AddThenSubtract(state, data().ia, data().ib);
}
void BM_DoubleAdd(benchmark::State& state) {
  AddThenSubtract(state, data().da, data().db);
}

void BM_DecimalAdd(benchmark::State& state) {
  std::vector<uint8_t> a = data().pa;
  const std::vector<uint8_t>& b = data().pb;
  // As an interpreter has it: the descriptor is data, not a constant the
  // compiler could fold into the inline path.
  value_descriptor desc = kDesc;
  benchmark::DoNotOptimize(desc);
  for (auto _ : state) {
    for (int i = 0; i < kCount; ++i)
      benchmark::DoNotOptimize(decimal_arith(ByteSpan(&a[i * kBytes], kBytes), desc,
                                             ConstByteSpan(&b[i * kBytes], kBytes), desc,
                                             kDecimalAdd, kDecimalSilent));
    for (int i = 0; i < kCount; ++i)
      benchmark::DoNotOptimize(decimal_arith(ByteSpan(&a[i * kBytes], kBytes), desc,
                                             ConstByteSpan(&b[i * kBytes], kBytes), desc,
                                             kDecimalSubtract, kDecimalSilent));
  }
  state.SetItemsProcessed(state.iterations() * 2 * kCount);
}

// r = op(a, b) stored into a result array, for the binary types.
template <typename T, typename Op>
void StoreEach(benchmark::State& state, const std::vector<T>& a, const std::vector<T>& b, Op op) {
  std::vector<T> r(kCount);
  for (auto _ : state) {
    for (int i = 0; i < kCount; ++i) benchmark::DoNotOptimize(r[i] = op(a[i], b[i]));
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

// The decimal product or quotient: a is copied into the result first.
void DecimalStoreEach(benchmark::State& state, int32_t operation) {
  const std::vector<uint8_t>& a = data().pa;
  const std::vector<uint8_t>& b = data().pb;
  const value_descriptor wide{0, kPrecision, -1, 0};
  uint8_t r[kBytes];
  for (auto _ : state) {
    for (int i = 0; i < kCount; ++i) {
      std::memcpy(r, &a[i * kBytes], kBytes);
      benchmark::DoNotOptimize(decimal_arith(r, wide, ConstByteSpan(&b[i * kBytes], kBytes), wide,
                                             operation, kDecimalSilent));
    }
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

// The truth code of a < b, a == b, a > b, for the binary types.
template <typename T>
void CompareEach(benchmark::State& state, const std::vector<T>& a, const std::vector<T>& b) {
  for (auto _ : state) {
    for (int i = 0; i < kCount; ++i)
      benchmark::DoNotOptimize(a[i] < b[i] ? 2 : (a[i] == b[i] ? 3 : 4));
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

void BM_Int64Multiply(benchmark::State& state) {
  StoreEach(state, data().ia, data().ib, [](int64_t x, int64_t y) { return x * (y | 1); });
}
void BM_DoubleMultiply(benchmark::State& state) {
  StoreEach(state, data().da, data().db, [](double x, double y) { return x * y; });
}
void BM_DecimalMultiply(benchmark::State& state) {
  DecimalStoreEach(state, kDecimalMultiply);
}
void BM_Int64Divide(benchmark::State& state) {
  StoreEach(state, data().ia, data().ib, [](int64_t x, int64_t y) { return x / (y | 1); });
}
void BM_DoubleDivide(benchmark::State& state) {
  StoreEach(state, data().da, data().db, [](double x, double y) { return x / y; });
}
void BM_DecimalDivide(benchmark::State& state) {
  DecimalStoreEach(state, kDecimalDivide);
}
void BM_Int64Compare(benchmark::State& state) {
  CompareEach(state, data().ia, data().ib);
}
void BM_DoubleCompare(benchmark::State& state) {
  CompareEach(state, data().da, data().db);
}

void BM_Memcmp(benchmark::State& state) {
  const std::vector<uint8_t>& a = data().pa;
  const std::vector<uint8_t>& b = data().pb;
  size_t n = kBytes;
  benchmark::DoNotOptimize(n);  // a call, as a caller with a run-time length makes it
  for (auto _ : state) {
    for (int i = 0; i < kCount; ++i)
      benchmark::DoNotOptimize(std::memcmp(&a[i * kBytes], &b[i * kBytes], n));
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

void BM_DecimalCompare(benchmark::State& state) {
  const std::vector<uint8_t>& a = data().pa;
  const std::vector<uint8_t>& b = data().pb;
  for (auto _ : state) {
    for (int i = 0; i < kCount; ++i)
      benchmark::DoNotOptimize(decimal_compare(ConstByteSpan(&a[i * kBytes], kBytes), kDesc,
                                               ConstByteSpan(&b[i * kBytes], kBytes), kDesc));
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

void BM_Strtod(benchmark::State& state) {
  const std::vector<std::string>& t = data().texts;
  for (auto _ : state) {
    for (int i = 0; i < kCount; ++i) benchmark::DoNotOptimize(std::strtod(t[i].c_str(), nullptr));
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

void BM_TextToDecimal(benchmark::State& state) {
  const std::vector<std::string>& t = data().texts;
  uint8_t v[kBytes];
  for (auto _ : state) {
    for (int i = 0; i < kCount; ++i) {
      const auto n = static_cast<int32_t>(t[i].size());
      benchmark::DoNotOptimize(text_to_decimal(
          v, kDesc, ConstByteSpan(reinterpret_cast<const uint8_t*>(t[i].data()), n), 0, n));
    }
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

// Collects the time of every run of each benchmark while printing as usual;
// a ratio is of the medians, which a slow or fast run on a busy machine does
// not move.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, std::vector<double>> runs_seconds;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration)
        runs_seconds[r.run_name.function_name].push_back(r.GetAdjustedRealTime());
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians() const {
    std::map<std::string, double> m;
    for (auto [name, times] : runs_seconds) {
      std::sort(times.begin(), times.end());
      const size_t n = times.size();
      m[name] = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    }
    return m;
  }
};

}  // namespace

// The add ratio has a goal: several runs each, for a steady median.
BENCHMARK(BM_Int64Add)->Repetitions(5);
BENCHMARK(BM_DoubleAdd)->Repetitions(5);
BENCHMARK(BM_DecimalAdd)->Repetitions(5);
BENCHMARK(BM_Int64Multiply);
BENCHMARK(BM_DoubleMultiply);
BENCHMARK(BM_DecimalMultiply);
BENCHMARK(BM_Int64Divide);
BENCHMARK(BM_DoubleDivide);
BENCHMARK(BM_DecimalDivide);
BENCHMARK(BM_Int64Compare);
BENCHMARK(BM_DoubleCompare);
BENCHMARK(BM_Memcmp);
BENCHMARK(BM_DecimalCompare);
BENCHMARK(BM_Strtod);
BENCHMARK(BM_TextToDecimal);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto s = reporter.medians();
  auto ratio = [&](const char* what, const char* base) {
    if (s.count(what) && s.count(base) && s[base] > 0)
      std::printf("%-20s / %-18s = %6.2f\n", what, base, s[what] / s[base]);
  };
  std::printf(
      "\nRatios (median time per operation; add is goal <= 10x int64, compare <= memcmp):\n");
  ratio("BM_DecimalAdd", "BM_Int64Add");
  ratio("BM_DecimalAdd", "BM_DoubleAdd");
  ratio("BM_DecimalMultiply", "BM_Int64Multiply");
  ratio("BM_DecimalMultiply", "BM_DoubleMultiply");
  ratio("BM_DecimalDivide", "BM_Int64Divide");
  ratio("BM_DecimalDivide", "BM_DoubleDivide");
  ratio("BM_DecimalCompare", "BM_Memcmp");
  ratio("BM_DecimalCompare", "BM_Int64Compare");
  ratio("BM_DecimalCompare", "BM_DoubleCompare");
  ratio("BM_TextToDecimal", "BM_Strtod");
  benchmark::Shutdown();
  return 0;
}
