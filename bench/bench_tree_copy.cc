// The tree copy (qqcrel) against a recursive C++ copy of the same trees with
// an std::unordered_map from old to new references, in one run. The trees
// are expression DAGs of 100 and 10,000 nodes in a workspace block: each
// inner node takes two operands among the nodes made before it (so nodes are
// shared, about one in two reached twice), the leaves are literals. Both
// copies allocate 40-word nodes in a destination area, rewrite the operand
// words and keep one copy of a node reached twice. "ratio" is qqcrel's time
// over the baseline's. The reference map (one word per four bytes of the
// source block) is cleared whole only by the first copy over a scratch area;
// later copies clear the entries they set. "full_clear_share" is what a
// clearing of the whole map would add, over qqcrel's time: the design's
// fixed cost of a copy when the area is not known to be clean.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <random>
#include <unordered_map>
#include <vector>

#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/tree_copy.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Fixture {
  SqlCompileCtx ctx;
  int32_t source = 0;
  int32_t root = 0;
  int32_t destination = 0;

  explicit Fixture(int32_t nodes) {
    ArenaUseLocalStorage(&ctx.arena);
    ctx.arena.minimum_chunk = 65536;
    ctx.workspace_size = 1 << 26;
    WorkspaceAllocate(&ctx);
    source = qqwsnewblk(&ctx);
    std::mt19937 rng(static_cast<uint32_t>(nodes));
    const int32_t at[2] = {1, 1};
    std::vector<int32_t> made;
    int32_t leaves = nodes / 2 + 1;
    for (int32_t i = 0; i < leaves; ++i) {
      made.push_back(ExprLiteral(&ctx, at, 1, TreeCountedCopy(&ctx, "12", 2), 0));
    }
    while (static_cast<int32_t>(made.size()) < nodes) {
      // Operands among the newest nodes, so that the DAG stays shallow
      // enough for the copy's value stack and every node is reachable.
      int32_t n = static_cast<int32_t>(made.size());
      int32_t window = std::min(n, 64);
      int32_t a = made[static_cast<size_t>(n - 1 - static_cast<int32_t>(rng() % window))];
      int32_t b = made[static_cast<size_t>(n - 1 - static_cast<int32_t>(rng() % window))];
      made.push_back(qqcbix(&ctx, 1 + static_cast<int32_t>(rng() % 4), at, a, b, 0, 0));
    }
    root = made.back();
    destination = qqwsnewblk(&ctx);
  }
  ~Fixture() { ArenaRelease(&ctx.arena); }

  // Empties the destination block for the next copy.
  void Reset() {
    ctx.ws.used = WSB_HEADER_BYTES;
    WsBlock(&ctx, destination)[WSB_USED] = WSB_HEADER_BYTES;
  }
};

// The baseline: recursion and a hash map over the same node words.
struct Baseline {
  const char* src;
  std::vector<int32_t> out;
  std::unordered_map<int32_t, int32_t> map;

  int32_t Copy(int32_t ref) {
    if (ref == 0) return 0;
    auto it = map.find(ref);
    if (it != map.end()) return it->second;
    const int32_t* node = reinterpret_cast<const int32_t*>(src + ref);
    int32_t copy = static_cast<int32_t>(out.size()) * 4;
    out.insert(out.end(), node, node + kExprNodeWords);
    map.emplace(ref, copy);
    int32_t kind = node[EXN_KIND];
    if (kind >= 1 && kind <= 15) {
      int32_t a = Copy(node[EXN_OPERAND1]);
      int32_t b = Copy(node[EXN_OPERAND2]);
      out[static_cast<size_t>(copy / 4 + EXN_OPERAND1)] = a;
      out[static_cast<size_t>(copy / 4 + EXN_OPERAND2)] = b;
    } else if (kind == 29) {
      const int32_t* text = reinterpret_cast<const int32_t*>(src + node[EXN_OPERAND1]);
      int32_t t = static_cast<int32_t>(out.size()) * 4;
      out.insert(out.end(), text, text + 2);
      out[static_cast<size_t>(copy / 4 + EXN_OPERAND1)] = t;
    }
    return copy;
  }
};

void BM_TreeCopyAgainstRecursiveCopy(benchmark::State& state) {
  const int32_t nodes = static_cast<int32_t>(state.range(0));
  Fixture f(nodes);
  const int32_t rounds = nodes >= 10000 ? 50 : 5000;
  for (auto _ : state) {
    auto t0 = Clock::now();
    int32_t result = 0;
    for (int32_t r = 0; r < rounds; ++r) {
      f.Reset();
      f.ctx.trav.depth = 0;
      qqcrel(&f.ctx, f.destination, f.source, kRefExpression, f.root, &result);
    }
    double ours = std::chrono::duration<double>(Clock::now() - t0).count();
    benchmark::DoNotOptimize(result);

    Baseline b{f.ctx.ws.base + f.source - 1, {}, {}};
    t0 = Clock::now();
    for (int32_t r = 0; r < rounds; ++r) {
      b.out.clear();
      b.out.resize(4);
      b.map.clear();
      benchmark::DoNotOptimize(b.Copy(f.root));
    }
    double theirs = std::chrono::duration<double>(Clock::now() - t0).count();

    // The map clearing alone, over the source block's extent.
    int32_t extent = WsBlock(&f.ctx, f.source)[WSB_USED];
    t0 = Clock::now();
    for (int32_t r = 0; r < rounds; ++r) {
      std::memset(f.ctx.ws.scratch, 0, (static_cast<size_t>(extent) / 4 + 1) * 4);
      benchmark::ClobberMemory();
    }
    double clear = std::chrono::duration<double>(Clock::now() - t0).count();

    state.counters["ours_us"] = ours / rounds * 1e6;
    state.counters["baseline_us"] = theirs / rounds * 1e6;
    state.counters["ratio"] = ours / theirs;
    state.counters["full_clear_share"] = clear / ours;
  }
}
BENCHMARK(BM_TreeCopyAgainstRecursiveCopy)->Arg(100)->Arg(10000)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
