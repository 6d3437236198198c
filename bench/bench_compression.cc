// Compression and expansion of table records by both methods, against memcpy
// of the same bytes, and the comparison of a compressed key with a plain key,
// against memcmp, measured in one run; prints the ratios and the compressed
// sizes at the end.
//
// The records are rows as tables hold them: a key of a number and a code,
// blank-padded CHAR fields, binary numbers with their high zeros, and a text
// field of words. Every record is moved from its own place into a buffer of
// its own, as a record routine moves a row into its work area.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dk/compression.h"

namespace {

constexpr int kRecords = 4096;
constexpr int kRecordBytes = 240;

struct Corpus {
  std::vector<uint8_t> plain;                  // kRecords records of kRecordBytes
  std::vector<std::vector<uint8_t>> forms[3];  // by method
  int64_t form_bytes[3] = {};
};

void Field(std::vector<uint8_t>& r, const std::string& text, size_t width, char pad) {
  for (size_t i = 0; i < width; ++i) r.push_back(i < text.size() ? text[i] : pad);
}

std::vector<uint8_t> Record(std::mt19937& rng, int number) {
  static const char* const kNames[] = {"ANDERSEN", "BAKER",  "CASTILLO", "DUBOIS", "EKSTROM",
                                       "FISCHER",  "GARCIA", "HOLM",     "IVANOV", "JENSEN"};
  static const char* const kWords[] = {"order ",    "shipped ", "pending ", "invoice ",
                                       "customer ", "north ",   "express ", "returned "};
  std::vector<uint8_t> r;
  char key[16];
  std::snprintf(key, sizeof key, "%08d", number);
  Field(r, key, 8, ' ');
  Field(r, "DK" + std::to_string(rng() % 40), 8, ' ');
  Field(r, kNames[rng() % 10], 30, ' ');
  Field(r, kNames[rng() % 10], 30, ' ');
  for (int i = 0; i < 6; ++i) {  // 64-bit numbers, big-endian, mostly small
    const uint64_t v = rng() % (i < 3 ? 1000 : 1000000);
    for (int b = 7; b >= 0; --b) r.push_back(static_cast<uint8_t>(v >> (8 * b)));
  }
  std::string text;
  while (text.size() < 90) text += kWords[rng() % 8];
  Field(r, text, 116, ' ');
  r.resize(kRecordBytes, 0);
  return r;
}

const Corpus& corpus() {
  static const Corpus c = [] {
    Corpus c;
    std::mt19937 rng(17);
    for (int i = 0; i < kRecords; ++i) {
      const std::vector<uint8_t> r = Record(rng, i * 7);
      c.plain.insert(c.plain.end(), r.begin(), r.end());
    }
    for (int method : {1, 2}) {
      for (int i = 0; i < kRecords; ++i) {
        std::vector<uint8_t> form(CompressedSizeBound(kRecordBytes));
        int32_t length = 0;
        DKCompress(form, 0, &length, c.plain, i * kRecordBytes, kRecordBytes, method);
        form.resize(length);
        c.form_bytes[method] += length;
        c.forms[method].push_back(std::move(form));
      }
    }
    return c;
  }();
  return c;
}

void BM_Memcpy(benchmark::State& state) {
  const Corpus& c = corpus();
  std::vector<uint8_t> work(kRecordBytes * 2);
  for (auto _ : state) {
    for (int i = 0; i < kRecords; ++i) {
      std::memcpy(work.data(), c.plain.data() + i * kRecordBytes, kRecordBytes);
      benchmark::DoNotOptimize(work.data());
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(state.iterations() * kRecords * kRecordBytes);
}

void BM_Compress(benchmark::State& state, int32_t method) {
  const Corpus& c = corpus();
  std::vector<uint8_t> work(CompressedSizeBound(kRecordBytes));
  for (auto _ : state) {
    for (int i = 0; i < kRecords; ++i) {
      int32_t length = 0;
      DKCompress(work, 0, &length, c.plain, i * kRecordBytes, kRecordBytes, method);
      benchmark::DoNotOptimize(length);
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(state.iterations() * kRecords * kRecordBytes);
}

void BM_Expand(benchmark::State& state, int32_t method) {
  const Corpus& c = corpus();
  std::vector<uint8_t> work(kRecordBytes);
  for (auto _ : state) {
    for (int i = 0; i < kRecords; ++i) {
      const std::vector<uint8_t>& form = c.forms[method][i];
      int32_t length = kRecordBytes;
      DKExpand(work, 0, &length, form, 0, static_cast<int32_t>(form.size()), method);
      benchmark::DoNotOptimize(length);
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(state.iterations() * kRecords * kRecordBytes);
}

// A probe of the index search on a directory page: the compressed record's
// key against a plain key over the key length. The keys are equal, so every
// byte of the key is compared, as on the last probe of a search that finds
// its key.
constexpr int kKeyBytes = 16;

void BM_Memcmp(benchmark::State& state) {
  const Corpus& c = corpus();
  std::vector<uint8_t> keys(c.plain);  // a copy, as the search key is elsewhere
  for (auto _ : state) {
    for (int i = 0; i < kRecords; ++i) {
      const int r =
          std::memcmp(c.plain.data() + i * kRecordBytes, keys.data() + i * kRecordBytes, kKeyBytes);
      benchmark::DoNotOptimize(r);
    }
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_CompareKey(benchmark::State& state, int32_t method) {
  const Corpus& c = corpus();
  for (auto _ : state) {
    for (int i = 0; i < kRecords; ++i) {
      const int32_t r =
          DKCompareKey(c.forms[method][i], 0, c.plain, i * kRecordBytes, kKeyBytes, method);
      benchmark::DoNotOptimize(r);
    }
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

// Collects the CPU time of every run while printing as usual; ratios are of
// the medians, which one slow run on a busy machine does not move (the
// machine is shared, so CPU time is steadier than wall time).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, std::vector<double>> runs_seconds;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration) {
        runs_seconds[r.benchmark_name()].push_back(r.GetAdjustedCPUTime());
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians() const {
    std::map<std::string, double> m;
    for (auto [name, times] : runs_seconds) {
      std::sort(times.begin(), times.end());
      const size_t n = times.size();
      m[name.substr(0, name.find("/repeats"))] =
          n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    }
    return m;
  }
};

}  // namespace

BENCHMARK(BM_Memcpy)->Repetitions(5);
BENCHMARK_CAPTURE(BM_Compress, method1, 1)->Repetitions(5);
BENCHMARK_CAPTURE(BM_Compress, method2, 2)->Repetitions(5);
BENCHMARK_CAPTURE(BM_Expand, method1, 1)->Repetitions(5);
BENCHMARK_CAPTURE(BM_Expand, method2, 2)->Repetitions(5);
BENCHMARK(BM_Memcmp)->Repetitions(5);
BENCHMARK_CAPTURE(BM_CompareKey, method1, 1)->Repetitions(5);
BENCHMARK_CAPTURE(BM_CompareKey, method2, 2)->Repetitions(5);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto s = reporter.medians();
  const Corpus& c = corpus();
  std::printf("\nRatios (median CPU time for the same %d records of %d bytes):\n", kRecords,
              kRecordBytes);
  for (const char* what :
       {"BM_Compress/method1", "BM_Compress/method2", "BM_Expand/method1", "BM_Expand/method2"}) {
    if (s.count(what) && s.count("BM_Memcpy") && s["BM_Memcpy"] > 0) {
      std::printf("%-22s / BM_Memcpy = %7.2f\n", what, s[what] / s["BM_Memcpy"]);
    }
  }
  for (const char* what : {"BM_CompareKey/method1", "BM_CompareKey/method2"}) {
    if (s.count(what) && s.count("BM_Memcmp") && s["BM_Memcmp"] > 0) {
      std::printf("%-22s / BM_Memcmp = %7.2f  (%d-byte keys)\n", what, s[what] / s["BM_Memcmp"],
                  kKeyBytes);
    }
  }
  const double plain = static_cast<double>(kRecords) * kRecordBytes;
  std::printf("compressed size: method 1 %.1f%%, method 2 %.1f%% of the plain bytes\n",
              100.0 * c.form_bytes[1] / plain, 100.0 * c.form_bytes[2] / plain);
  benchmark::Shutdown();
  return 0;
}
