// Run-time pattern compiles (IMC/RMC, IMV/RMV, IMU/RMU) with record
// access's own compilers and matchers: LIKE over random patterns and values
// agrees with SQLite's (case_sensitive_like on), a program is compiled once
// or again as the instruction says, and the blocks it takes are given back.
#include <sqlite3.h>

#include <random>

#include "interp/tests/interp_fixture.h"
#include "platform/packed_decimal.h"

using namespace interp;

namespace {

// MVT branches to `yes` when S LIKE P (mode op1 of RMV, escape E).
constexpr const char* kLike = R"(
field P varchar 400
field E varchar 2
field S varchar 20
field PW word
code
 BEG
 RMV MODE, PW, 0, P, 400, P.len, E, 2, E.len
 MVT 1, S, 20, S.len, PW, yes
 END 1
yes: END 2
)";

class PatternCompiles : public InterpTest {
 protected:
  ByteSpan Storage() {
    return ByteSpan(reinterpret_cast<uint8_t*>(storage_.data()), storage_.size() * 4);
  }
  void PutVarying(const std::string& field, int32_t max, const std::string& s) {
    Bytes(field)[0] = 0;
    std::memcpy(Bytes(field) + 1, s.data(), s.size());
    int32_t digits = 1;
    for (int32_t m = max; m >= 10; m /= 10) ++digits;
    int_to_decimal(Storage(), value_descriptor{Off(field + ".len"), digits},
                   static_cast<int32_t>(s.size()));
  }
  void LoadLike(int mode) {
    std::string text = kLike;
    text.replace(text.find("MODE"), 4, std::to_string(mode));
    Load(text);
  }
  // 2 when S matches, 1 when not; an error otherwise.
  int32_t Like(const std::string& pattern, const std::string& subject, const std::string& escape) {
    PutVarying("P", 400, pattern);
    PutVarying("E", 2, escape);
    PutVarying("S", 20, subject);
    pos_ = 2;
    Run();
    return rvec_[0];
  }
  int64_t Allocs() { return DSPoolSize(base_, sqlpool::ITEM_ALLOCS); }
  int64_t Frees() { return DSPoolSize(base_, sqlpool::ITEM_DEALLOCS); }
};

bool SqliteLike(sqlite3* db, const std::string& subject, const std::string& pattern, bool escape) {
  sqlite3_stmt* st = nullptr;
  const char* q = escape ? "SELECT ?1 LIKE ?2 ESCAPE '!'" : "SELECT ?1 LIKE ?2";
  EXPECT_EQ(sqlite3_prepare_v2(db, q, -1, &st, nullptr), SQLITE_OK);
  sqlite3_bind_text(st, 1, subject.data(), static_cast<int>(subject.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, pattern.data(), static_cast<int>(pattern.size()), SQLITE_TRANSIENT);
  EXPECT_EQ(sqlite3_step(st), SQLITE_ROW);
  const bool r = sqlite3_column_int(st, 0) != 0;
  sqlite3_finalize(st);
  return r;
}

TEST_F(PatternCompiles, RandomPatternsAgreeWithSqlite) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA case_sensitive_like = ON", nullptr, nullptr, nullptr);
  std::mt19937 rng(125);
  auto random = [&](const char* alphabet, size_t letters, int max) {
    std::string s(rng() % static_cast<uint32_t>(max + 1), ' ');
    for (char& c : s) c = alphabet[rng() % letters];
    return s;
  };
  int matches = 0;
  for (int mode : {2, 3}) {
    LoadLike(mode);
    for (int i = 0; i < 1500; ++i) {
      std::string pattern = random("aB%_!", 5, 7);
      if (mode == 3) {
        // Every escape character escapes a special character or itself.
        std::string escaped;
        for (char c : pattern)
          escaped += c == '!' ? std::string("!") + "%_!"[rng() % 3] : std::string(1, c);
        pattern = escaped;
      }
      const std::string subject = random("aBb%_!", 6, 8);
      const int32_t ours = Like(pattern, subject, "!");
      ASSERT_TRUE(ours == 1 || ours == 2) << pattern << ": " << ours;
      const bool theirs = SqliteLike(db, subject, pattern, mode == 3);
      ASSERT_EQ(ours == 2, theirs) << "'" << subject << "' LIKE '" << pattern << "' mode " << mode;
      matches += theirs;
    }
  }
  EXPECT_GT(matches, 100);
  sqlite3_close(db);
}

TEST_F(PatternCompiles, CompiledOnceOrAgain) {
  Load(R"(
field P bytes 12
field PW word
field S char 3 = 'xyz'
code
 BEG
 IMC 2, PW, 0, P, 0
 MCT 1, S, 3, PW, yes
 END 1
yes: END 2
again:
 RMC 2, PW, 0, P, 0
 MCT 1, S, 3, PW, yes
 END 1
)");
  auto pattern = [&](const std::string& s) {
    Bytes("P")[0] = 0;
    Bytes("P")[1] = 0;
    Bytes("P")[2] = static_cast<uint8_t>(s.size());
    std::memcpy(Bytes("P") + 3, s.data(), s.size());
  };
  pattern("x%");
  Run();
  EXPECT_EQ(rvec_[0], 2);
  const int32_t first = WordAt("PW");
  EXPECT_GT(first, 0);
  // IMC again with another pattern: the first program stays (its literals
  // are read in place, so it now looks for a leading '%').
  pattern("%z");
  const int64_t allocs = Allocs();
  pos_ = 2;
  Run();
  EXPECT_EQ(rvec_[0], 1);
  EXPECT_EQ(WordAt("PW"), first);
  EXPECT_EQ(Allocs(), allocs) << "IMC compiles nothing when a program is held";
  const int64_t frees = Frees();
  pos_ = asm_.labels.at("again");
  Run();
  EXPECT_EQ(rvec_[0], 2) << "RMC compiles '%z' again";
  EXPECT_EQ(Frees(), frees + 1) << "the first program's block is freed";
}

TEST_F(PatternCompiles, EscapeAndNullRules) {
  LoadLike(3);
  EXPECT_EQ(Like("a!%", "a%", "!!"), -10315);
  EXPECT_EQ(WordAt("PW"), 0);
  EXPECT_EQ(Like("a!%", "a%", ""), -10315);
  EXPECT_EQ(Like("a!x", "a%", "!"), -10314);
  EXPECT_EQ(WordAt("PW"), 0);
  // A null escape or pattern: the pattern word -1, the match unknown.
  Bytes("E")[0] = 255;
  PutVarying("S", 20, "a");
  pos_ = 2;
  Run();
  EXPECT_EQ(rvec_[0], 1);
  EXPECT_EQ(WordAt("PW"), -1);
  Load(R"(
field P varchar 4 = null
field S varchar 4 = 'a'
field PW word
code
 BEG
 IMV 2, PW, 0, P, 4, P.len, 0, 0, 0
 MVT 2, S, 4, S.len, PW, yes
 END 1
yes: END 2
)");
  Run();
  EXPECT_EQ(rvec_[0], 1) << "NOT LIKE a null pattern is unknown, not true";
  EXPECT_EQ(WordAt("PW"), -1);
}

TEST_F(PatternCompiles, LongEscapedPatternIsCopiedThroughATemporaryBlock) {
  LoadLike(3);
  std::string pattern(300, 'a');
  pattern.replace(100, 2, "!%");
  pattern.back() = '%';
  const int64_t allocs = Allocs(), frees = Frees();
  EXPECT_EQ(Like(pattern, "aaaa", "!"), 1);
  EXPECT_EQ(Allocs(), allocs + 2) << "the temporary copy and the program";
  EXPECT_EQ(Frees(), frees + 1) << "the temporary copy is given back";
  // The pattern value keeps its escape characters.
  EXPECT_EQ(std::memcmp(Bytes("P") + 101, "!%", 2), 0);
}

// A translation converts the program's copy of the literals (here to upper
// case); the pattern value stays as it was.
TEST_F(PatternCompiles, TranslatedPatternMatchesTheTranslatedText) {
  std::string text = kLike;
  text.replace(text.find("MODE, PW, 0"), 11, "2, PW, 3");
  Load(text);
  EXPECT_EQ(Like("ab%", "ABc", ""), 2);
  EXPECT_EQ(Like("ab%", "abc", ""), 1);
  EXPECT_EQ(std::memcmp(Bytes("P") + 1, "ab%", 3), 0);
}

TEST_F(PatternCompiles, WideFormRefusesATranslation) {
  Load(R"(
field P bytes 13
field PW word
code
 BEG
 RMU 2, PW, 5, P, 4, -1, 0, 0, 0
 END 1
)");
  Run();
  EXPECT_EQ(rvec_[0], -19114);
  EXPECT_EQ(WordAt("PW"), 0);
}

}  // namespace

// The wide form in mode 3: the pattern value keeps its escape characters, so
// compiling it again gives the same program.
TEST_F(PatternCompiles, WideEscapedPatternKeepsItsValue) {
  Load(R"(
field P bytes 31
field PL bytes 4
field E bytes 4
field EL bytes 4
field S bytes 31
field SL bytes 4
field PW word
code
 BEG
 RMU 3, PW, 0, P, 10, PL, E, 1, EL
 MUT 1, S, 10, SL, PW, yes
 END 1
yes: END 2
)");
  auto wide = [&](const std::string& field, const std::string& length, int32_t max,
                  const std::string& s) {
    uint8_t* p = Bytes(field);
    p[0] = 0;
    for (size_t i = 0; i < static_cast<size_t>(max); ++i) {
      p[1 + 3 * i] = p[2 + 3 * i] = 0;
      p[3 + 3 * i] = static_cast<uint8_t>(i < s.size() ? s[i] : ' ');
    }
    int_to_decimal(Storage(), value_descriptor{Off(length), max >= 10 ? 2 : 1},
                   static_cast<int32_t>(s.size()));
  };
  wide("P", "PL", 10, "a!%");
  wide("E", "EL", 1, "!");
  const std::vector<uint8_t> pattern(Bytes("P"), Bytes("P") + 31);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    wide("S", "SL", 10, "a%");
    pos_ = 2;
    Run();
    EXPECT_EQ(rvec_[0], 2) << "'a%' LIKE 'a!%' ESCAPE '!'";
    wide("S", "SL", 10, "ab");
    pos_ = 2;
    Run();
    EXPECT_EQ(rvec_[0], 1) << "'ab' NOT LIKE 'a!%' ESCAPE '!'";
    EXPECT_EQ(std::memcmp(Bytes("P"), pattern.data(), pattern.size()), 0)
        << "the pattern value is left as it was";
  }
}
