// Parsing against scanning alone: a generated 1 MB text of the sample
// statement language is scanned by the generic scanner, then scanned and
// parsed by the generic parser engine, in the same run. Reports MB/s of both
// and their ratio (goal: parsing costs at most twice the scan).
#include <benchmark/benchmark.h>

#include <chrono>
#include <random>
#include <string>

#include "calc_grammar.h"
#include "calc_lexer.h"
#include "sql/front/gpr_parser.h"

namespace {

std::string MakeInput(size_t bytes) {
  std::mt19937 rng(42);
  std::string out;
  const char* ops[] = {" + ", " - ", " * ", " / "};
  while (out.size() < bytes) {
    out += rng() % 3 == 0 ? "PRINT " : "LET v" + std::to_string(rng() % 1000) + " = ";
    int terms = 2 + static_cast<int>(rng() % 6);
    for (int i = 0; i < terms; ++i) {
      if (i > 0) out += ops[rng() % 4];
      if (rng() % 4 == 0) {
        out += "(x" + std::to_string(rng() % 50) + " - " + std::to_string(rng() % 100000) + ")";
      } else {
        out += std::to_string(rng() % 100000);
      }
    }
    out += ";\n";
  }
  out += "0";
  return out;
}

const std::string& Input() {
  static const std::string text = MakeInput(1 << 20);
  return text;
}

int64_t ScanOnly(CompileArena* arena, const std::string& text) {
  GlxScanner* s = GlxCreate(arena, &kCalcLexer);
  GlxSetInput(s, reinterpret_cast<const uint8_t*>(text.data()));
  GlxSetLength(s, static_cast<int32_t>(text.size()));
  int64_t tokens = 0;
  while (GlxNext(s) != kGlxEndToken) ++tokens;
  GlxFree(s);
  return tokens;
}

// The reductions of a parse that reached the end of the text, or -1 when a
// syntax error stopped it early (and would make parsing look cheap).
int64_t ScanAndParse(CompileArena* arena, const std::string& text) {
  GlxScanner* s = GlxCreate(arena, &kCalcLexer);
  GprParser* p = GprCreate(arena, &kCalcGrammar);
  GlxSetInput(s, reinterpret_cast<const uint8_t*>(text.data()));
  GlxSetLength(s, static_cast<int32_t>(text.size()));
  int64_t reductions = 0;
  for (;;) {
    int32_t tok = GlxNext(s);
    int32_t r;
    while ((r = GprFeed(p, tok)) > 0) {
      ++reductions;
      GprParser* ref = p;
      GprSetValue(ref, 0, GprTakeValue(ref, 0) + 1);
    }
    if (r < 0) {
      reductions = -1;
      break;
    }
    if (tok == kGlxEndToken) break;
  }
  GprFree(p);
  GlxFree(s);
  return reductions;
}

void BM_ParseAgainstScan(benchmark::State& state) {
  const std::string& text = Input();
  CompileArena arena;
  ArenaUseLocalStorage(&arena);
  double scan_seconds = 0;
  double parse_seconds = 0;
  int64_t tokens = 0, reductions = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    tokens += ScanOnly(&arena, text);
    auto t1 = std::chrono::steady_clock::now();
    int64_t reduced = ScanAndParse(&arena, text);
    auto t2 = std::chrono::steady_clock::now();
    if (reduced < 0) {
      state.SkipWithError("the generated text did not parse to its end");
      break;
    }
    reductions += reduced;
    scan_seconds += std::chrono::duration<double>(t1 - t0).count();
    parse_seconds += std::chrono::duration<double>(t2 - t1).count();
  }
  ArenaRelease(&arena);
  double mb = static_cast<double>(text.size()) * state.iterations() / (1024.0 * 1024.0);
  state.counters["scan_MBps"] = mb / scan_seconds;
  state.counters["parse_MBps"] = mb / parse_seconds;
  state.counters["parse_over_scan"] = parse_seconds / scan_seconds;
  state.counters["tokens"] = static_cast<double>(tokens) / state.iterations();
  state.counters["reductions"] = static_cast<double>(reductions) / state.iterations();
}
BENCHMARK(BM_ParseAgainstScan)->Unit(benchmark::kMillisecond);

}  // namespace
