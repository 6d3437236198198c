// The statement pre-scan: routine texts, stored-statement prefixes with their
// schema and name, ordinary statements (also ones that meet a pre-scan word
// later), arbitrary bytes; and the routine language's token filter.
#include "sql/front/statement_prescan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "sql/front/compile_services.h"

namespace {

// 3 bytes a character, code points as given.
std::string Wide(const std::u32string& text) {
  std::string w;
  for (char32_t c : text) {
    w += static_cast<char>((c >> 16) & 0xFF);
    w += static_cast<char>((c >> 8) & 0xFF);
    w += static_cast<char>(c & 0xFF);
  }
  return w;
}

std::u32string U(const std::string& s) {
  return std::u32string(s.begin(), s.end());
}

struct Scan {
  int32_t result, qs, ql, ns, nl;
  bool operator==(const Scan& o) const {
    return result == o.result && qs == o.qs && ql == o.ql && ns == o.ns && nl == o.nl;
  }
};

std::ostream& operator<<(std::ostream& os, const Scan& s) {
  return os << "{" << s.result << ", q " << s.qs << "/" << s.ql << ", n " << s.ns << "/" << s.nl
            << "}";
}

Scan Prescan(const std::u32string& text) {
  std::string wide = Wide(text);
  CompileArena arena;
  ArenaUseLocalStorage(&arena);
  Scan s{-7, 77, 77, 77, 77};
  qmscan(&s.result, &arena, reinterpret_cast<const uint8_t*>(wide.data()),
         static_cast<int32_t>(text.size()), &s.qs, &s.ql, &s.ns, &s.nl);
  ArenaRelease(&arena);
  return s;
}

TEST(Prescan, ClassesNamesAndQualifiers) {
  struct Case {
    std::string text;
    Scan want;
  } cases[] = {
      // Routine texts: the name words are 0, the qualifier words untouched.
      {"CREATE PROCEDURE p() BEGIN END", {4, 77, 77, 0, 0}},
      {"create function f(x int) returns int", {4, 77, 77, 0, 0}},
      {"Create Trigger t", {4, 77, 77, 0, 0}},
      {"CREATE MODULE m", {4, 77, 77, 0, 0}},
      {"CALL p(1)", {4, 77, 77, 0, 0}},
      {"SET ? = CALL p()", {4, 77, 77, 0, 0}},
      {"  -- a comment\n lbl: BEGIN END", {4, 77, 77, 0, 0}},
      // Prefixes: classes 2 to 5 give 7 to 10.
      {"CREATE SCROLL STATEMENT sch.nm SELECT 1", {7, 24, 3, 28, 2}},
      {"CREATE NO SCROLL STATEMENT \"My s\".x SELECT 1", {8, 27, 6, 34, 1}},
      {"CREATE STATEMENT s1 AS SELECT 1", {9, 0, 0, 17, 2}},
      {"create statement procedure", {9, 0, 0, 17, 9}},
      {"EXECUTE STATEMENT a . b", {10, 18, 1, 22, 1}},
      {"EXECUTE STATEMENT a.", {10, 18, 1, 20, 0}},
      // Ordinary statements, including ones that meet pre-scan words later.
      {"SELECT * FROM t", {1, 77, 77, 0, 0}},
      {"SET SCHEMA ?", {1, 77, 77, 0, 0}},
      {"UPDATE t SET a = :x", {1, 77, 77, 0, 0}},
      {"CREATE TABLE t (a INT)", {1, 77, 77, 0, 0}},
      {"CREATE STATEMENT", {1, 77, 77, 0, 0}},
      {"'x': BEGIN END", {1, 77, 77, 0, 0}},
      {"", {1, 77, 77, 0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(Prescan(U(c.text)), c.want) << c.text;
  // Characters above 255 read as one character each (byte 191, which only a
  // delimited name takes).
  std::u32string wide = U("EXECUTE STATEMENT \"") + U"\x4E2D\x6587" + U("\".x go");
  EXPECT_EQ(Prescan(wide), (Scan{10, 18, 4, 23, 1}));
  EXPECT_EQ(Prescan(U("EXECUTE STATEMENT ") + U"\x4E2D"), (Scan{1, 77, 77, 0, 0}));
}

TEST(Prescan, ArbitraryTextsGiveAClassWithinTheText) {
  std::mt19937 rng(5);
  const char* words[] = {"CREATE", "STATEMENT", "SCROLL", "NO", "EXECUTE", ".", ":",  "?",
                         "CALL",   "SET",       "x",      "\"", "'",       "-", "\n", " "};
  for (int round = 0; round < 2000; ++round) {
    std::u32string text;
    int n = static_cast<int>(rng() % 8);
    for (int i = 0; i < n; ++i) {
      if (rng() % 4 == 0) {
        text += static_cast<char32_t>(rng() % 0x110000);
      } else {
        text += U(words[rng() % 16]);
        if (rng() % 2) text += U" ";
      }
    }
    Scan s = Prescan(text);
    int32_t len = static_cast<int32_t>(text.size());
    ASSERT_TRUE(s.result == 1 || s.result == 4 || (s.result >= 7 && s.result <= 10)) << round;
    ASSERT_TRUE(s.ns >= 0 && s.nl >= 0 && s.ns + s.nl <= len) << s << " round " << round;
    if (s.result >= 7) {
      ASSERT_TRUE(s.qs >= 0 && s.ql >= 0 && s.qs + s.ql <= len) << s << " round " << round;
    }
  }
}

TEST(RoutineTokenFilter, SecondCodesAndDroppedLineEnds) {
  CompileArena arena;
  ArenaUseLocalStorage(&arena);
  GlxScanner* s = nullptr;
  EXPECT_EQ(qmnewlex(&s, &arena), s);
  qmsettok(s, 0);
  std::string text = Wide(U("BEGIN ATOMIC :\nFOR EACH ROW\nFOR x ATOMIC BEGIN"));
  GlxSetInput(s, reinterpret_cast<const uint8_t*>(text.data()));
  GlxSetWide(s);
  GlxSetLength(s, static_cast<int32_t>(text.size() / 3));
  auto code_of = [&](const char* name) {
    for (int32_t c = 32; c < 411; ++c) {
      if (std::string(GlxTokName(s, c), GlxTokNameLen(s, c)) == name) return c;
    }
    return -99;
  };
  std::vector<int32_t> want = {code_of("BEGIN"),   kRoutineTokAtomicLabel,
                               kRoutineTokColon,   -1,
                               kRoutineTokForEach, kRoutineTokEach,
                               code_of("ROW"),     -1,
                               kRoutineTokFor,     28,
                               kRoutineTokAtomic,  code_of("BEGIN"),
                               kGlxEndToken};
  std::vector<int32_t> got;
  for (size_t i = 0; i < want.size(); ++i) got.push_back(GlxNext(s));
  EXPECT_EQ(got, want);
  EXPECT_EQ(code_of("ATOMIC"), kRoutineTokAtomic);
  EXPECT_EQ(code_of("FOR"), kRoutineTokFor);
  EXPECT_EQ(code_of("EACH"), kRoutineTokEach);
  GlxFree(s);
  ArenaRelease(&arena);
}

// Chunks from the local word storage, or none at all.
bool g_starve = false;
void TestChunks(int32_t* base, int32_t* index, int32_t bytes) {
  if (g_starve && bytes > 0) {
    *index = 0;
    return;
  }
  ArenaLocalProvider(base, index, bytes);
}

struct KernelFixture : ::testing::Test {
  SqlKernelServices old;
  void SetUp() override {
    SqlKernelServices k;
    k.pool = ArenaLocalBase();
    k.chunk_provider = TestChunks;
    old = SqlInstallKernelServices(&k);
    g_starve = false;
  }
  void TearDown() override {
    SqlInstallKernelServices(&old);
    SqlInstallRoutineCompiler(nullptr);
  }
};

TEST_F(KernelFixture, Qmcallsp2ScansAtTheStartPosition) {
  std::string text = Wide(U("SELECT 1; EXECUTE STATEMENT s.n"));
  auto* base = reinterpret_cast<const uint8_t*>(text.data());
  Scan s{-7, 77, 77, 77, 77};
  qmcallsp2(&s.result, base, 10, 21, &s.qs, &s.ql, &s.ns, &s.nl);
  EXPECT_EQ(s, (Scan{10, 18, 1, 20, 1}));
  qmcallsp2(&s.result, base, 0, 31, &s.qs, &s.ql, &s.ns, &s.nl);
  EXPECT_EQ(s.result, 1);
  qmcallsp2(&s.result, base, -1, 31, &s.qs, &s.ql, &s.ns, &s.nl);
  EXPECT_EQ(s.result, 0);
  g_starve = true;
  qmcallsp2(&s.result, base, 10, 21, &s.qs, &s.ql, &s.ns, &s.nl);
  EXPECT_EQ(s.result, 0);
}

void ConsumeFive(int32_t* status, CompileArena* arena, const uint8_t* text, int32_t length,
                 int32_t* consumed, void* further) {
  ArenaAlloc(arena, nullptr, 4000);  // storage comes from the armed arena
  *static_cast<int32_t*>(further) = text[2];
  *consumed = length < 5 ? length : 5;
  *status = 0;
}

TEST_F(KernelFixture, QmcallspdRunsTheRoutineCompilerInItsArena) {
  std::string text = Wide(U("xxCREATE PROCEDURE"));
  auto* base = reinterpret_cast<const uint8_t*>(text.data());
  int32_t status = 9, position = 2, seen = 0;
  qmcallspd(&status, base, &position, 16, &seen);
  EXPECT_EQ(status, kSqlServiceMissing);
  EXPECT_EQ(position, 2);
  SqlInstallRoutineCompiler(ConsumeFive);
  qmcallspd(&status, base, &position, 16, &seen);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(position, 7);
  EXPECT_EQ(seen, 'C');
  g_starve = true;
  qmcallspd(&status, base, &position, 9, &seen);
  EXPECT_EQ(status, kRoutineArenaExhausted);
  EXPECT_EQ(position, 7);
}

int32_t Setting(int32_t selector) {
  return selector == 2 ? 65000 : -1;
}

TEST(Glue, RoutineParserAndKernelSettingComeFromTheirOwners) {
  CompileArena arena;
  ArenaUseLocalStorage(&arena);
  GprParser* p = reinterpret_cast<GprParser*>(1);
  EXPECT_EQ(qmnewprs(&p, &arena), nullptr);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(qmrunkernel(2), -1);
  SqlInstallRoutineGrammar(&kPrescanGrammar);
  SqlInstallKernelSetting(Setting);
  EXPECT_EQ(qmnewprs(&p, &arena), p);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->terminal_count, 18);
  EXPECT_EQ(qmrunkernel(2), 65000);
  GprFree(p);
  SqlInstallRoutineGrammar(nullptr);
  SqlInstallKernelSetting(nullptr);
  ArenaRelease(&arena);
}

TEST(Qmnoop, AnswersMinusOne) {
  int32_t status = 5;
  qmnoop(&status);
  EXPECT_EQ(status, -1);
}

}  // namespace
