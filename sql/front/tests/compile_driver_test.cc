// The compile driver with fake phases over a real kernel word storage: restart
// after workspace growth, the cache key and the cache's answers, the compile
// modes, definition statements, storage exhaustion, descriptions and bad
// input.
#include "sql/front/compile_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kernel/word_storage.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/compile_services.h"
#include "sql/front/stmt_description.h"
#include "sql/front/stmt_tree.h"

namespace {

// What the fake phases do, and what they saw.
struct Script {
  int32_t kind = 1;
  int32_t nodes = 10;  // expression nodes the parse builds
  int32_t statement_end = -1;
  bool warn = false;           // the parse reports a warning first
  std::vector<int32_t> sizes;  // workspace size of every parse
  int32_t semantic_calls = 0;
  int32_t optimize_calls = 0;
  int32_t build_calls = 0;
  int32_t definition_calls = 0;
  int32_t cache_calls = 0;
  int32_t cache_answer = 1;
  std::vector<uint8_t> key;
  int32_t releases = 0;
  uint64_t tree_sum = 0;
};
Script g;
struct Condition {
  int32_t position, code, severity;
  std::string text;
};
std::vector<Condition> g_conditions;
int32_t* g_pool = nullptr;

void Diag(int32_t, int32_t position, int32_t code, int32_t severity, const char* text,
          int32_t length) {
  g_conditions.push_back({position, code, severity, std::string(text, length)});
}
int32_t Cache(int32_t, int32_t* shp, int32_t* second, const uint8_t* key, int32_t length,
              const uint8_t*, int32_t) {
  ++g.cache_calls;
  g.key.assign(key, key + length);
  if (g.cache_answer == 0) {
    *shp = 4711;
    *second = 12;
  }
  return g.cache_answer;
}
void Release(int32_t) {
  ++g.releases;
}
void AllocWords(int32_t* index, int32_t words) {
  DSGetMem(g_pool, index, words * 4);
}
// Kernel blocks the caller holds: allocations not given back.
int64_t BlocksHeld() {
  return DSPoolSize(g_pool, sqlpool::ITEM_ALLOCS) - DSPoolSize(g_pool, sqlpool::ITEM_DEALLOCS);
}
// The n-th description block (1-based) the storage cannot supply.
int32_t g_fail_block = 0;
int32_t g_blocks_asked = 0;
void AllocWordsUntil(int32_t* index, int32_t words) {
  if (++g_blocks_asked == g_fail_block) {
    *index = 0;
    return;
  }
  DSGetMem(g_pool, index, words * 4);
}
void NoChunks(int32_t*, int32_t* index, int32_t bytes) {
  if (bytes > 0) *index = 0;
}

// Builds a chain of expression nodes and a one-column result list; the sum of
// the node references' contents tells whether two runs built the same tree.
void Parse(SqlCompileCtx* ctx) {
  g.sizes.push_back(ctx->workspace_size);
  if (g.warn) qcerrec(ctx, nullptr, "QSA", -12107, 1, nullptr);
  int32_t at[2] = {1, 0};
  int32_t previous = 0;
  for (int32_t i = 0; i < g.nodes; ++i) {
    at[1] = i;
    previous = qqcbix(ctx, 8, at, previous, i, i, 0);
  }
  int32_t type = TreeRecord(ctx, 4, nullptr);
  const int32_t varchar[4] = {8, 20, 0, 0};
  std::memcpy(qqwsadr(ctx, type), varchar, 16);
  int32_t column = ExprFixed(ctx, kExprColumnRef, at, nullptr, 0);
  WsWord(ctx, column, EXN_TYPE) = type;
  WsWord(ctx, column, EXN_NULLABLE) = 0;
  WsWord(ctx, column, 37) = 5;
  WsWord(ctx, column, 26) = 6;
  int32_t name = TreeTextCopy(ctx, "NAME", 4);
  const int32_t args[4] = {column, name, 0, 0};
  int32_t result_column = StmtNode(ctx, kResultColumnKind, at, args, 4);
  ctx->result_list = qqlcons(ctx, 0, result_column);
  ctx->parse_root = StmtRoot(ctx, at, previous);
  ctx->statement_kind = g.kind;
  ctx->statement_end = g.statement_end;
  uint64_t sum = 0;
  for (int32_t r = previous; r != 0; r = WsWord(ctx, r, EXN_OPERAND1)) {
    sum = sum * 31 +
          static_cast<uint32_t>(WsWord(ctx, r, EXN_OPERAND2) + WsWord(ctx, r, EXN_POSITION));
  }
  g.tree_sum = sum;
}
void Semantic(SqlCompileCtx*, int32_t) {
  ++g.semantic_calls;
}
void Optimize(SqlCompileCtx*, int32_t) {
  ++g.optimize_calls;
}
// Writes a five-word "program" into a block of its own.
int32_t Build(SqlCompileCtx* ctx, int32_t) {
  ++g.build_calls;
  int32_t first = qqwscur(ctx);
  int32_t block = qqwsnewblk(ctx);
  int32_t program = qqwsal(ctx, 20);
  for (int32_t i = 0; i < 5; ++i) WsWord(ctx, program, i) = 41 + i;
  WsBlock(ctx, block)[WSB_ROOT] = program;
  qqwswb(ctx, first);
  return block;
}
void Definition(SqlCompileCtx*, int32_t) {
  ++g.definition_calls;
}

class Driver : public ::testing::Test {
 protected:
  Driver() {
    g = Script{};
    g_conditions.clear();
    g_pool = SqlPoolCreate(int64_t{1} << 26, 1 << 20);
    int32_t w = 1 << 20;
    DSPoolMem(g_pool, &w, -1, 0);
    SqlKernelServices k;
    k.pool = g_pool;
    k.add_diag = Diag;
    k.cursor_create = Cache;
    k.release_shared_program = Release;
    k.alloc_words = AllocWords;
    old_kernel_ = SqlInstallKernelServices(&k);
    SqlPhaseServices p;
    p.parse = Parse;
    p.semantic = Semantic;
    p.optimize = Optimize;
    p.build = Build;
    old_phases_ = SqlInstallPhaseServices(&p);
    SqlDefinitionServices d;
    d.qqrtex = Definition;
    old_definition_ = SqlInstallDefinitionServices(&d);
  }
  ~Driver() override {
    SqlInstallKernelServices(&old_kernel_);
    SqlInstallPhaseServices(&old_phases_);
    SqlInstallDefinitionServices(&old_definition_);
    SqlPoolDestroy(g_pool);
  }

  // Compiles a text of `chars` characters; returns the result block.
  std::vector<int32_t> Run(int32_t mode = 0, const int32_t* hosts = nullptr, int32_t chars = 12,
                           int32_t start = 0) {
    std::vector<uint8_t> text(3 * 64, 0);
    for (size_t i = 2; i < text.size(); i += 3) text[i] = 'A';
    std::vector<int32_t> result(kResultWords, 99);
    request_[REQ_MODE] = mode;
    start_ = start;
    static const int32_t kNoHosts[3] = {0, 0, 0};
    qmcpsn(result.data(), text.data(), &start_, chars, hosts != nullptr ? hosts : kNoHosts,
           request_, nullptr, nullptr, 0);
    return result;
  }
  int32_t PoolWord(int32_t index) { return sqlpool_word(g_pool, index); }

  int32_t request_[kRequestWords] = {};
  int32_t start_ = 0;

 private:
  SqlKernelServices old_kernel_;
  SqlPhaseServices old_phases_;
  SqlDefinitionServices old_definition_;
};

TEST_F(Driver, AQueryRunsEveryPhaseAndDescribesItsColumn) {
  auto r = Run();
  EXPECT_EQ(r[RES_STATUS], 0);
  EXPECT_EQ(r[RES_KIND], 1);
  EXPECT_EQ(g.semantic_calls, 1);
  EXPECT_EQ(g.optimize_calls, 1);
  EXPECT_EQ(g.build_calls, 1);
  EXPECT_EQ(start_, 12);
  ASSERT_GT(r[RES_DESCRIPTION], 0);
  int32_t d = r[RES_DESCRIPTION];
  const int32_t header[9] = {27, 27, 26, 1, 9, 8, 9, 0, 0};  // 26 words and "NAME"
  for (int32_t i = 0; i < 9; ++i) EXPECT_EQ(PoolWord(d + i), header[i]) << i;
  const int32_t statement[8] = {1, 0, 12, 1, 0, 4, 0, 0};
  for (int32_t i = 0; i < 8; ++i) EXPECT_EQ(PoolWord(d + 9 + i), statement[i]) << i;
  const int32_t column[9] = {11, 20, 0, 0, 4, 5, 6, 0, 10};
  for (int32_t i = 0; i < 9; ++i) EXPECT_EQ(PoolWord(d + 17 + i), column[i]) << i;
  EXPECT_EQ(std::memcmp(&sqlpool_word(g_pool, d + 26), "NAME", 4), 0);
  ASSERT_GT(r[RES_PROGRAM], 0);
  for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(PoolWord(r[RES_PROGRAM] + i), 41 + i);
  EXPECT_EQ(r[RES_CURSORS], 0);
}

TEST_F(Driver, ATreeThatOverflowsTwiceCompilesThreeTimesToTheSameResult) {
  // About 250000 bytes of nodes: too much for 100000 and 200000 bytes.
  g.nodes = 1500;
  g.warn = true;
  auto r = Run();
  EXPECT_EQ(r[RES_STATUS], 0);
  ASSERT_EQ(g.sizes.size(), 3u);
  const int32_t expected[3] = {100000, 200000, 400000};
  for (int i = 0; i < 3; ++i) {
    EXPECT_LE(g.sizes[i], expected[i]);
    EXPECT_GE(g.sizes[i], expected[i] - 32);
  }
  // The warning of the parse is in the diagnostics area once, not three times.
  ASSERT_EQ(g_conditions.size(), 1u);
  EXPECT_EQ(g_conditions[0].code, -12107);
  uint64_t grown_sum = g.tree_sum;
  SqlCompileCtx big;
  ArenaUseLocalStorage(&big.arena);
  big.workspace_size = 1 << 20;
  WorkspaceAllocate(&big);
  qqwsnewblk(&big);
  Parse(&big);
  EXPECT_EQ(g.tree_sum, grown_sum);
  ArenaRelease(&big.arena);
  EXPECT_EQ(g.semantic_calls, 1);
  EXPECT_GT(r[RES_DESCRIPTION], 0);
}

TEST_F(Driver, ModeSixNeverAsksTheCacheAndModeFiveBuildsNoDescription) {
  auto r = Run(kModeNoCache);
  EXPECT_EQ(r[RES_STATUS], 0);
  EXPECT_EQ(g.cache_calls, 0);
  EXPECT_EQ(g.build_calls, 1);
  g = Script{};
  r = Run(kModeStopAfterSemantics);
  EXPECT_EQ(r[RES_STATUS], 0);
  EXPECT_EQ(g.semantic_calls, 1);
  EXPECT_EQ(g.cache_calls, 0);
  EXPECT_EQ(g.optimize_calls, 0);
  EXPECT_EQ(r[RES_DESCRIPTION], 0);
  EXPECT_EQ(r[RES_KIND], 1);
}

TEST_F(Driver, TheCacheKeyHoldsTheKindCodeAndTheHostVariables) {
  Run();
  EXPECT_EQ(g.key, (std::vector<uint8_t>{82, 0}));
  g = Script{};
  g.kind = 5;
  const int32_t hosts[] = {3, 4, 0, 38, 100, 1, 0, 0, 0};
  Run(0, hosts);
  std::vector<uint8_t> expected = {0, 0};
  for (const char* item : {"1", "4", "0", "32", "100", "1"}) {
    expected.insert(expected.end(), item, item + std::strlen(item) + 1);
  }
  EXPECT_EQ(g.key, expected);
}

TEST_F(Driver, AHostKindWithoutATypeIsAnInternalError) {
  const int32_t hosts[] = {5, 4, 0, 0, 0, 0};
  auto r = Run(0, hosts);
  EXPECT_EQ(r[RES_STATUS], -1);
  EXPECT_EQ(r[RES_KIND], -1);
  ASSERT_EQ(g_conditions.size(), 1u);
  EXPECT_EQ(g_conditions[0].code, -19256);
  EXPECT_EQ(g_conditions[0].text, "N\tQMN: qqrhva");
  EXPECT_EQ(g.optimize_calls, 0);
}

TEST_F(Driver, TheCachesAnswersEndOrFailTheCompilation) {
  g.cache_answer = 0;
  auto r = Run();
  EXPECT_EQ(r[RES_STATUS], 5);
  EXPECT_EQ(r[RES_SHARED_PROGRAM], 4711);
  EXPECT_EQ(r[RES_CACHE_SECOND], 12);
  EXPECT_EQ(g.optimize_calls, 0);
  EXPECT_EQ(start_, 12);
  g = Script{};
  g.cache_answer = -19081;
  r = Run();
  EXPECT_EQ(r[RES_STATUS], -1);
  ASSERT_EQ(g_conditions.size(), 1u);
  EXPECT_EQ(g_conditions[0].code, -19081);
  EXPECT_EQ(g_conditions[0].severity, 5);
}

TEST_F(Driver, AFailingProviderGivesOutOfStorage) {
  SqlKernelServices k = SqlKernel();
  k.chunk_provider = NoChunks;
  SqlKernelServices old = SqlInstallKernelServices(&k);
  auto r = Run();
  SqlInstallKernelServices(&old);
  EXPECT_EQ(r[RES_STATUS], -11002);
  EXPECT_EQ(r[RES_KIND], -1);
  for (int32_t w : {1, 2, 3, 5, 6}) EXPECT_EQ(r[w], 0);
}

TEST_F(Driver, BlocksMadeBeforeOneTheStorageCannotSupplyAreGivenBack) {
  // Description, program copy and two cursor records: each block in turn is
  // the one that fails; the call ends out of storage and holds nothing.
  SqlPhaseServices p = SqlPhases();
  p.build = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t list = 0;
    for (int32_t i = 0; i < 2; ++i) {
      int32_t entry = qqwsal(ctx, kCursorEntryWords * 4);
      std::memset(qqwsadr(ctx, entry), 0, kCursorEntryWords * 4);
      list = qqlcons(ctx, list, entry);
    }
    ctx->cursor_list = list;
    return Build(ctx, root);
  };
  SqlPhaseServices old_phases = SqlInstallPhaseServices(&p);
  SqlKernelServices k = SqlKernel();
  k.alloc_words = AllocWordsUntil;
  SqlKernelServices old = SqlInstallKernelServices(&k);
  for (int32_t fail = 1; fail <= 4; ++fail) {
    g_fail_block = fail;
    g_blocks_asked = 0;
    int64_t held = BlocksHeld();
    auto r = Run();
    EXPECT_EQ(r[RES_STATUS], SQLPOOL_EXHAUSTED_ERROR) << fail;
    for (int32_t w : {RES_DESCRIPTION, RES_PROGRAM, RES_CURSORS}) EXPECT_EQ(r[w], 0) << fail;
    EXPECT_EQ(BlocksHeld(), held) << fail;
  }
  // All four supplied: the caller holds them.
  g_fail_block = 0;
  int64_t held = BlocksHeld();
  auto r = Run();
  EXPECT_EQ(r[RES_STATUS], 0);
  EXPECT_EQ(BlocksHeld(), held + 4);
  // An internal error after the description was made (the builder names a
  // block that is not in the chain) gives it back too.
  p.build = [](SqlCompileCtx*, int32_t) { return 9999; };
  SqlInstallPhaseServices(&p);
  held = BlocksHeld();
  r = Run();
  EXPECT_EQ(r[RES_STATUS], -1);
  EXPECT_EQ(r[RES_DESCRIPTION], 0);
  EXPECT_EQ(g_conditions.back().code, -19217);
  EXPECT_EQ(BlocksHeld(), held);
  SqlInstallKernelServices(&old);
  SqlInstallPhaseServices(&old_phases);
}

// A definition statement that opens a dictionary transaction and then finds
// the arena's storage exhausted.
int32_t g_rollbacks = 0;
void RunOutInsideTransaction(SqlCompileCtx* ctx, int32_t) {
  ctx->dictionary_transaction = 1;
  throw ArenaExit(1);
}
void CountRollbacks(SqlCompileCtx*, int32_t* status, int32_t mode) {
  if (mode == 1) ++g_rollbacks;
  *status = 0;
}

TEST_F(Driver, AnArenaExitRollsAnOpenDictionaryTransactionBack) {
  SqlDefinitionServices d;
  d.qqrtex = RunOutInsideTransaction;
  d.qrdend = CountRollbacks;
  SqlDefinitionServices old = SqlInstallDefinitionServices(&d);
  g.kind = 30;
  g_rollbacks = 0;
  auto r = Run();
  SqlInstallDefinitionServices(&old);
  EXPECT_EQ(r[RES_STATUS], SQLPOOL_EXHAUSTED_ERROR);
  EXPECT_EQ(r[RES_KIND], -1);
  EXPECT_EQ(g_rollbacks, 1);
}

TEST_F(Driver, ADefinitionBeforeASeparatorIsNotExecuted) {
  g.kind = 30;
  g.statement_end = 7;
  request_[REQ_MULTI_STATEMENT] = 1;
  auto r = Run();
  EXPECT_EQ(g.definition_calls, 0);
  EXPECT_EQ(r[RES_STATUS], 0);
  EXPECT_EQ(start_, 7);
  g = Script{};
  g.kind = 30;
  Run();
  EXPECT_EQ(g.definition_calls, 1);
  g = Script{};
  g.kind = 30;
  Run(kModeNoDefinitions);
  EXPECT_EQ(g.definition_calls, 0);
}

TEST_F(Driver, StopAfterParseKindsReturnAtOnce) {
  for (int32_t kind : {47, 55, 83, 91}) {
    g = Script{};
    g.kind = kind;
    auto r = Run();
    EXPECT_EQ(r[RES_STATUS], 0);
    EXPECT_EQ(r[RES_KIND], kind);
    EXPECT_EQ(g.semantic_calls, 0);
    EXPECT_EQ(r[RES_DESCRIPTION], 0);
  }
}

TEST_F(Driver, BadLengthsAreRefused) {
  auto r = Run(0, nullptr, -1);
  EXPECT_EQ(r[RES_STATUS], -1);
  EXPECT_EQ(r[RES_KIND], -1);
  ASSERT_EQ(g_conditions.size(), 1u);
  EXPECT_EQ(g_conditions[0].code, -19253);
  r = Run(0, nullptr, 5, -2);
  EXPECT_EQ(r[RES_STATUS], -1);
  EXPECT_EQ(start_, -2);
  // A statement whose end lies past the 32-bit character positions: the
  // start position could not be advanced past it.
  r = Run(0, nullptr, 5, INT32_MAX - 2);
  EXPECT_EQ(r[RES_STATUS], -1);
  EXPECT_EQ(start_, INT32_MAX - 2);
  EXPECT_EQ(g_conditions.back().code, -19253);
  EXPECT_EQ(g_conditions.back().text, "N\tQMN: qmcpsn");
  EXPECT_EQ(g.sizes.size(), 0u);
}

// Parameters: the n-th on the list must carry sequence number n.
int32_t g_sequence[2];
void ParameterSemantic(SqlCompileCtx* ctx, int32_t) {
  int32_t at[2] = {1, 3};
  int32_t list = 0;
  for (int32_t n : {g_sequence[1], g_sequence[0]}) {
    int32_t p = ExprOfKind(ctx, kExprHostParameter, at, 0, 0);
    WsWord(ctx, p, PRM_SEQUENCE) = n;
    WsWord(ctx, p, PRM_MODE) = 2;
    list = qqlcons(ctx, list, p);
  }
  ctx->parameter_list = list;
}

TEST_F(Driver, ParametersAreDescribedInSequence) {
  SqlPhaseServices p = SqlPhases();
  p.semantic = ParameterSemantic;
  SqlPhaseServices old = SqlInstallPhaseServices(&p);
  g_sequence[0] = 1;
  g_sequence[1] = 2;
  auto r = Run();
  ASSERT_EQ(r[RES_STATUS], 0);
  int32_t d = r[RES_DESCRIPTION];
  EXPECT_EQ(PoolWord(d + 9 + 4), 2);       // two parameters
  EXPECT_EQ(PoolWord(d + 26 + 0), 0);      // untyped: client code 0
  EXPECT_EQ(PoolWord(d + 26 + 7), 2);      // the mode word
  EXPECT_EQ(PoolWord(d + 2), 17 + 9 * 3);  // bytes before the names / 4
  g_sequence[1] = 3;
  r = Run();
  SqlInstallPhaseServices(&old);
  EXPECT_EQ(r[RES_STATUS], -1);
  EXPECT_EQ(r[RES_DESCRIPTION], 0);
  ASSERT_FALSE(g_conditions.empty());
  EXPECT_EQ(g_conditions.back().code, -19213);
  EXPECT_EQ(g_conditions.back().text, "N\tQMN: qmcpsn");
}

TEST_F(Driver, EarlyReturnKindsHandBackTheirResultWord) {
  struct Case {
    int32_t kind;
    bool phases_go_on;
  };
  for (Case c : {Case{100, true}, Case{102, true}, Case{103, false}, Case{104, false}}) {
    g = Script{};
    g.kind = c.kind;
    SqlPhaseServices p = SqlPhases();
    p.semantic = [](SqlCompileCtx* ctx, int32_t) {
      ++g.semantic_calls;
      ctx->early_result = 321;
    };
    p.parse = [](SqlCompileCtx* ctx) {
      Parse(ctx);
      ctx->early_result = 321;
    };
    SqlPhaseServices old = SqlInstallPhaseServices(&p);
    request_[REQ_VERSION] = 0;
    auto r = Run();
    SqlInstallPhaseServices(&old);
    EXPECT_EQ(r[RES_STATUS], 0) << c.kind;
    EXPECT_EQ(request_[REQ_VERSION], 321) << c.kind;
    EXPECT_EQ(g.semantic_calls, c.phases_go_on ? 1 : 0) << c.kind;
  }
}

// The finish: usages registered for the request's object until one fails,
// the empty entry after a CREATE SCHEMA, and kind 35's version change.
std::vector<int32_t> g_usages;
int32_t g_nops = 0;
void Use(SqlCompileCtx*, int32_t object_id, int32_t usage_kind, int32_t entry, int32_t* status) {
  EXPECT_EQ(object_id, 900);
  EXPECT_EQ(usage_kind, kUsageKindStatement);
  g_usages.push_back(entry);
  *status = entry == 22 ? 1 : 0;
}
void Nop(SqlCompileCtx*, int32_t* status) {
  ++g_nops;
  *status = 0;
}
void UsageParse(SqlCompileCtx* ctx) {
  Parse(ctx);
  int32_t list = 0;
  for (int32_t entry : {33, 22, 11}) list = qqlcons(ctx, list, entry);
  ctx->usage_list = list;  // 11, 22, 33
  ctx->schema_flag = 1;
  ctx->changed_definitions = 1;
  ctx->version = 8;
}

TEST_F(Driver, TheFinishRegistersUsagesAndReportsChangedDefinitions) {
  g_usages.clear();
  g_nops = 0;
  SqlPhaseServices p = SqlPhases();
  p.parse = UsageParse;
  SqlPhaseServices old_phases = SqlInstallPhaseServices(&p);
  SqlDefinitionServices d;
  d.qqrtex = Definition;
  d.qrduse = Use;
  d.qrdnop = Nop;
  SqlDefinitionServices old = SqlInstallDefinitionServices(&d);
  request_[REQ_OBJECT_ID] = 900;
  g.kind = 35;
  auto r = Run();
  EXPECT_EQ(g_usages, (std::vector<int32_t>{11, 22}));
  EXPECT_EQ(g_nops, 1);
  EXPECT_EQ(g.definition_calls, 1);
  EXPECT_EQ(r[RES_STATUS], 1);
  EXPECT_EQ(request_[REQ_VERSION], 8);
  g_usages.clear();
  request_[REQ_OBJECT_ID] = 0;
  Run();
  EXPECT_TRUE(g_usages.empty());
  SqlInstallDefinitionServices(&old);
  SqlInstallPhaseServices(&old_phases);
}

// Kind 42 describes its two operands: a host parameter as CHAR(128) under its
// name, a named value by its counted name. Cursor records chain backwards.
void OperandParse(SqlCompileCtx* ctx) {
  int32_t at[2] = {1, 0};
  int32_t parameter = ExprOfKind(ctx, kExprHostParameter, at, 0, 0);
  WsWord(ctx, parameter, PRM_NAME) = TreeTextCopy(ctx, "P1", 2);
  WsWord(ctx, parameter, EXN_NULLABLE) = 0;
  int32_t named = ExprOfKind(ctx, 31, at, TreeCountedCopy(ctx, "DESCR", 5), 0);
  // Kind 42 has no constructor of its own: its operands are words 3 and 4.
  int32_t top = StmtGeneric3(ctx, 42, at, parameter);
  WsWord(ctx, top, 4) = named;
  ctx->parse_root = StmtRoot(ctx, at, top);
  ctx->statement_kind = 42;
  int32_t list = 0;
  for (int32_t i = 0; i < 2; ++i) {
    std::vector<int32_t> words(kCursorEntryWords, 70 + i);
    int32_t entry = qqwsal(ctx, kCursorEntryWords * 4);
    std::memcpy(qqwsadr(ctx, entry), words.data(), kCursorEntryWords * 4);
    list = qqlcons(ctx, list, entry);
  }
  ctx->cursor_list = qqlrev(ctx, list);
}

TEST_F(Driver, KindFortyTwoDescribesItsOperandsAndCursorsChain) {
  SqlPhaseServices p = SqlPhases();
  p.parse = OperandParse;
  SqlPhaseServices old = SqlInstallPhaseServices(&p);
  auto r = Run();
  SqlInstallPhaseServices(&old);
  ASSERT_EQ(r[RES_STATUS], 0);
  EXPECT_EQ(r[RES_KIND], 42);
  int32_t d = r[RES_DESCRIPTION];
  ASSERT_GT(d, 0);
  EXPECT_EQ(PoolWord(d + 9 + 3), 1);  // one named operand
  EXPECT_EQ(PoolWord(d + 9 + 4), 1);  // one parameter operand
  EXPECT_EQ(PoolWord(d + 9 + 5), 7);  // "DESCR" and "P1"
  EXPECT_EQ(PoolWord(d + 17 + 4), 5);
  EXPECT_EQ(PoolWord(d + 26 + 0), 1);  // CHAR, not null
  EXPECT_EQ(PoolWord(d + 26 + 1), 128);
  EXPECT_EQ(PoolWord(d + 26 + 3), 5);
  EXPECT_EQ(std::memcmp(&sqlpool_word(g_pool, d + 35), "DESCRP1", 7), 0);
  int32_t last = r[RES_CURSORS];
  ASSERT_GT(last, 0);
  EXPECT_EQ(PoolWord(last + 2), 71);
  int32_t first = PoolWord(last);
  ASSERT_GT(first, 0);
  EXPECT_EQ(PoolWord(first + 2), 70);
  EXPECT_EQ(PoolWord(first + 21), 70);
  EXPECT_EQ(PoolWord(first), 0);
}

// Caller names: pairs with a negative offset are skipped; names are cut at
// 128 characters and at the end of the caller's area.
std::string g_names[4];
void NameParse(SqlCompileCtx* ctx) {
  for (int i = 0; i < 4; ++i) g_names[i] = ctx->caller_names_set ? ctx->caller_names[i] : "-";
  ctx->statement_kind = 47;
}

TEST_F(Driver, CallerNamesAreBounded) {
  SqlPhaseServices p = SqlPhases();
  p.parse = NameParse;
  SqlPhaseServices old = SqlInstallPhaseServices(&p);
  std::string area = std::string(200, 'x') + "abc";
  const int32_t pairs[8] = {0, 200, 5, -5, 200, 3, 201, 50};
  uint8_t text[3] = {0, 0, 'A'};
  int32_t result[kResultWords];
  int32_t start = 0;
  qmcpsn(result, text, &start, 1, nullptr, request_, pairs, area.data(),
         static_cast<int32_t>(area.size()));
  EXPECT_EQ(result[RES_STATUS], 0);
  EXPECT_EQ(g_names[0], std::string(128, 'x'));
  EXPECT_EQ(g_names[1], "");
  EXPECT_EQ(g_names[2], "abc");
  EXPECT_EQ(g_names[3], "bc");
  // A negative offset in the second pair: no names at all.
  const int32_t without[8] = {0, 3, -1, 0, 0, 3, 0, 3};
  start = 0;
  qmcpsn(result, text, &start, 1, nullptr, request_, without, area.data(),
         static_cast<int32_t>(area.size()));
  EXPECT_EQ(g_names[0], "-");
  // A negative area size is an empty area: every name is empty, and nothing
  // before the name fields is written.
  const int32_t first[8] = {0, 3, 0, 3, 0, 3, 0, 3};
  for (int32_t bytes : {-1, -200, INT32_MIN}) {
    start = 0;
    qmcpsn(result, text, &start, 1, nullptr, request_, first, area.data(), bytes);
    EXPECT_EQ(result[RES_STATUS], 0) << bytes;
    for (const std::string& name : g_names) EXPECT_EQ(name, "") << bytes;
  }
  SqlInstallPhaseServices(&old);
}

}  // namespace
