// Pattern programs: the programs the compilers build for listed patterns,
// their matches, the errors, the capacity edge (nothing written past the
// buffer), and random patterns matched against SQLite's LIKE (with an escape,
// case_sensitive_like on) and against a small model of the "*" "?" "!"
// syntax, through every compiler and matcher.
#include "du/pattern_programs.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/host_services.h"

namespace {

// The program as text: "SMC 'a' FPOS 1 CLB 'b' EOS"; literals read from
// `literals`, an SMC of a 3-byte program shows its length in characters.
std::string Listing(const int32_t* p, ConstByteSpan literals, int width = 1) {
  std::string out;
  int32_t at = PAT_CODE;
  auto literal = [&](int32_t offset, int32_t bytes) {
    std::string text;
    for (int32_t i = 0; i < bytes; i += width)
      text += char(literals[size_t(offset + i + width - 1)]);
    return "'" + text + "'";
  };
  for (;;) {
    if (!out.empty()) out += " ";
    switch (p[at]) {
      case PAT_EXIT:
        return out + "EXIT";
      case PAT_EOS:
        return out + "EOS";
      case PAT_EOSR:
        return out + "EOSR " + std::to_string(p[at + 1]);
      case PAT_SMC:
        out += "SMC " + literal(p[at + 1], p[at + 2] * width);
        at += 3;
        break;
      case PAT_RSMC:
        out += "RSMC " + literal(p[at + 1], p[at + 2]) + " " + std::to_string(p[at + 3]);
        at += 4;
        break;
      case PAT_CLB:
        out += "CLB " + literal(p[at + 1], p[at + 2]);
        at += 3;
        break;
      case PAT_FSTEP:
        out += "FSTEP " + std::to_string(p[at + 1] / width);
        at += 2;
        break;
      case PAT_FPOS:
        out += "FPOS " + std::to_string(p[at + 1] / width);
        at += 2;
        break;
      default:
        return out + "?" + std::to_string(p[at]);
    }
  }
}

// A pattern compiled in place into a storage area of its own; the subject
// then goes behind it into the same area.
struct InPlace {
  std::vector<uint8_t> storage;
  int32_t program[PAT_CAPACITY] = {};
  int32_t result = 0;
  int32_t length = 0;

  InPlace(const std::string& pattern, int32_t mode, char escape = '\\') {
    // Some bytes in front so that offsets are not all from 0.
    storage.assign(5, 'z');
    storage.insert(storage.end(), pattern.begin(), pattern.end());
    const uint8_t escape_value[] = {0, uint8_t(escape)};
    length = int32_t(pattern.size());
    result = DUCmpPattern2(program, PAT_CAPACITY, storage, 5, &length, mode, escape_value, 0);
    if (result >= 0) program[PAT_LITERAL_BASE] = 1;
  }
  std::string Text() const { return Listing(program, storage); }
  int32_t Match(const std::string& subject) {
    std::vector<uint8_t> area = storage;
    area.insert(area.end(), subject.begin(), subject.end());
    std::vector<int32_t> stack(size_t(program[PAT_STORAGE]) + 1);
    return DUMatchPattern2(program, stack.data(), area, int32_t(storage.size()),
                           int32_t(subject.size()));
  }
};

struct CompileCase {
  int32_t mode;
  const char* pattern;
  const char* program;
  std::vector<std::string> match;
  std::vector<std::string> no_match;
};

TEST(PatternCompile, ListedPatternsCompileAndMatchAsGiven) {
  const CompileCase cases[] = {
      {2, "", "EOS", {""}, {"a"}},
      {2, "%", "EXIT", {"", "abc"}, {}},
      {2, "_", "FSTEP 1 EOS", {"a"}, {"", "ab"}},
      {2, "a%", "CLB 'a' EXIT", {"a", "abc"}, {"", "ba"}},
      {2, "%a%b", "SMC 'a' FPOS 1 CLB 'b' EOS", {"ab", "xaxb", "abab"}, {"ba", "a", "abba"}},
      {2, "%_", "FSTEP 1 EXIT", {"a", "ab"}, {""}},
      {2, "%abc", "FPOS 3 CLB 'abc' EOS", {"abc", "xxabc"}, {"ab", "abcx"}},
      {2, "%ab_c", "FPOS 4 CLB 'ab' FSTEP 1 CLB 'c' EOS", {"abxc", "zabxc"}, {"abc", "abxcz"}},
      {2, "%x_y%", "SMC 'x' FSTEP 1 CLB 'y' EXIT", {"xay", "bxxxay", "xxyqy"}, {"xy", "xaz"}},
      {2, "_b%", "FSTEP 1 CLB 'b' EXIT", {"ab", "abzz"}, {"b", "aab"}},
      {1, "??x", "RSMC 'x' 3 EOS", {"x", "ax", "abx"}, {"abcx", "xa"}},
      {1, "a??", "CLB 'a' EOSR 2", {"a", "ab", "abc"}, {"abcd", "b"}},
      {1, "*a", "FPOS 1 CLB 'a' EOS", {"a", "ba"}, {"ab"}},
      {1, "a!*b", "CLB 'a*b' EOS", {"a*b"}, {"axb"}},
      {1, "ab!", "CLB 'ab!' EOS", {"ab!"}, {"ab"}},
      {3, "100\\%", "CLB '100%' EOS", {"100%"}, {"100", "1000", "100%x"}},
      {3, "a\\_%", "CLB 'a_' EXIT", {"a_", "a_b"}, {"ab"}},
      {3, "%\\\\", "FPOS 1 CLB '\\' EOS", {"\\", "a\\"}, {"a"}},
  };
  for (const CompileCase& c : cases) {
    InPlace p(c.pattern, c.mode);
    ASSERT_GE(p.result, 0) << c.pattern;
    EXPECT_EQ(p.Text(), c.program) << c.pattern;
    EXPECT_EQ(p.program[PAT_FIRST], PAT_RETRY);
    for (const std::string& s : c.match) EXPECT_EQ(p.Match(s), PAT_MATCH) << c.pattern << " " << s;
    for (const std::string& s : c.no_match)
      EXPECT_EQ(p.Match(s), PAT_NO_MATCH) << c.pattern << " " << s;
  }
}

TEST(PatternCompile, EscapesAreCutOutOfTheTextAndTheLengthSaysSo) {
  InPlace p("a\\%b\\\\", 3);
  ASSERT_EQ(p.result, 4);
  EXPECT_EQ(p.length, 4);
  EXPECT_EQ(std::string(p.storage.begin() + 5, p.storage.begin() + 9), "a%b\\");
  EXPECT_EQ(p.Text(), "CLB 'a%b\\' EOS");
}

TEST(PatternCompile, BadEscapesAndModesAreRefused) {
  for (const char* pattern : {"abc\\", "a\\b", "\\", "%\\x%"}) {
    InPlace p(pattern, 3);
    EXPECT_EQ(p.result, PAT_BAD_ESCAPE) << pattern;
    EXPECT_EQ(p.program[PAT_SIZE], PAT_BAD_ESCAPE);
  }
  // The escape takes precedence over a wildcard it equals.
  InPlace percent("a%%b", 3, '%');
  EXPECT_EQ(percent.Text(), "CLB 'a%b' EOS");
  // The 3-byte compiler takes modes 2 and 3 only.
  std::vector<uint8_t> storage(9, 0);
  int32_t program[PAT_CAPACITY];
  int32_t length = 3;
  EXPECT_EQ(DUCmpPattern1(program, PAT_CAPACITY, storage, 0, &length, 1, 0), PAT_BAD_ESCAPE);
  EXPECT_EQ(program[PAT_SIZE], PAT_BAD_ESCAPE);
  // A pattern that does not lie inside its storage.
  length = 10;
  EXPECT_EQ(DUCmpPattern2(program, PAT_CAPACITY, storage, 0, &length, 2, {}, 0), PAT_BAD_ARGUMENT);
  length = 1;
  EXPECT_EQ(DUCmpPattern2(program, PAT_CAPACITY, storage, 0, &length, 3, storage, 8),
            PAT_BAD_ARGUMENT);
}

// Every capacity from 0 to what the program needs: the compile either fits or
// answers -11011 (-1 for the self-contained one), and the words behind the
// capacity stay as they were.
TEST(PatternCompile, NothingIsWrittenPastTheCapacity) {
  constexpr int32_t kGuard = 0x5a5a5a5a;
  for (const char* pattern : {"%abc", "%a%b_c", "a_%b%cd%e", "%x_y%", "_%a"}) {
    InPlace whole(pattern, 2);
    const int32_t need = whole.program[PAT_SIZE];
    for (int32_t capacity = 0; capacity <= need + 1; ++capacity) {
      std::vector<int32_t> program(size_t(capacity) + 8, kGuard);
      std::string text = pattern;
      std::vector<uint8_t> storage(text.begin(), text.end());
      int32_t length = int32_t(text.size());
      const int32_t result = DUCmpPattern2(program.data(), capacity, storage, 0, &length, 2, {}, 0);
      if (capacity >= need)
        EXPECT_EQ(result, length) << pattern << " " << capacity;
      else
        EXPECT_EQ(result, PAT_TOO_LONG) << pattern << " " << capacity;
      for (size_t i = size_t(capacity); i < program.size(); ++i)
        ASSERT_EQ(program[i], kGuard) << pattern << " capacity " << capacity << " word " << i;
    }
  }
  for (const char* pattern : {"%abc", "a*b?c!", "%x_y%"}) {
    const std::string text = pattern;
    const std::vector<uint8_t> storage(text.begin(), text.end());
    int32_t full[PAT_CAPACITY];
    const int32_t need = DUCmpPattern3(full, PAT_CAPACITY, storage, 0, int32_t(text.size()), 2);
    ASSERT_GT(need, 0);
    for (int32_t capacity = 0; capacity <= need + 4; ++capacity) {
      std::vector<int32_t> program(size_t(capacity) + 8, kGuard);
      const int32_t result =
          DUCmpPattern3(program.data(), capacity, storage, 0, int32_t(text.size()), 2);
      EXPECT_TRUE(result == PAT_SELF_TOO_LONG || result > 0) << pattern << " " << capacity;
      for (size_t i = size_t(capacity); i < program.size(); ++i)
        ASSERT_EQ(program[i], kGuard) << pattern << " capacity " << capacity << " word " << i;
    }
  }
}

TEST(PatternMatch, UnknownOpcodesAndBrokenProgramsAreRefused) {
  InPlace p("%a%b", 2);
  int32_t stack[16];
  const std::vector<uint8_t> area = {'x', 'a', 'b'};
  // Replace the last instruction (EOS) by opcode 10, then 0.
  for (int32_t op : {10, 0, 99}) {
    std::vector<int32_t> program(p.program, p.program + p.program[PAT_SIZE]);
    program.back() = op;
    EXPECT_EQ(DUMatchPattern2(program.data(), stack, area, 0, 3), PAT_BAD_PROGRAM) << op;
    EXPECT_EQ(DUMatchPattern5(program.data(), stack, area, 0, 3, 0), PAT_BAD_OPCODE) << op;
  }
  std::vector<int32_t> program(p.program, p.program + p.program[PAT_SIZE]);
  // A literal that lies outside its area, a stack the program does not ask for.
  program[PAT_CODE + 1] = 1000;
  EXPECT_EQ(DUMatchPattern2(program.data(), stack, area, 0, 3), PAT_BAD_PROGRAM);
  program = {p.program, p.program + p.program[PAT_SIZE]};
  program[PAT_STORAGE] = 0;
  EXPECT_EQ(DUMatchPattern2(program.data(), stack, area, 0, 3), PAT_BAD_PROGRAM);
  // A subject outside the storage.
  EXPECT_EQ(DUMatchPattern2(p.program, stack, area, 2, 5), PAT_BAD_ARGUMENT);
}

// A search for an empty literal whose every retry fails: each retry starts
// one byte further on, and a start behind the end finds nothing, so the
// match ends (it searched on behind the end without end).
TEST(PatternMatch, RetriesOfAnEmptyLiteralEndBehindTheSubject) {
  const int32_t program[] = {8, PAT_STACK_ENTRY, 1, PAT_RETRY, PAT_SMC, 0, 0, PAT_RETRY};
  const std::vector<uint8_t> area = {'a', 'b', 'c'};
  int32_t stack[PAT_STACK_ENTRY];
  for (int32_t length : {0, 1, 3}) {
    EXPECT_EQ(DUMatchPattern2(program, stack, area, 0, length), PAT_NO_MATCH) << length;
    EXPECT_EQ(DUMatchPattern5(program, stack, area, 0, length, 0), 0) << length;
  }
}

TEST(PatternMatch, NegationFlagOfTheFifthMatcher) {
  // DUMatchPattern5 reads literals from the start of the subject's storage:
  // compile in the storage that the subject then joins.
  InPlace p("a%", 2);
  std::vector<uint8_t> area = p.storage;
  for (char c : std::string("abc")) area.push_back(uint8_t(c));
  int32_t stack[8];
  const int32_t at = int32_t(p.storage.size());
  EXPECT_GT(DUMatchPattern5(p.program, stack, area, at, 3, 0), 0);
  EXPECT_EQ(DUMatchPattern5(p.program, stack, area, at, 3, 1), 0);
  EXPECT_EQ(DUMatchPattern5(p.program, stack, area, at + 1, 2, 0), 0);
  EXPECT_GT(DUMatchPattern5(p.program, stack, area, at + 1, 2, 1), 0);
}

class LogLines : public HostServices {
 public:
  LogLines() { previous_ = InstallHostServices(this); }
  ~LogLines() override { InstallHostServices(previous_); }
  void write_output(StatusPair* status, int, const char* area, int count) override {
    set_success(status);
    for (int i = 0; i < std::max(count, -count); ++i) {
      lines.emplace_back(area);
      area += lines.back().size() + 1;
    }
  }
  std::vector<std::string> lines;

 private:
  HostServices* previous_;
};

TEST(PatternPrint, ListsEveryInstructionUnderItsWordNumber) {
  InPlace p("%x_y%", 2);
  {
    LogLines log;
    DUPrtPattern(p.program, p.storage);
    const std::vector<std::string> expected = {
        "Pattern program size: 13",
        "Maximum storage size: 3",
        "  4: RETRY",
        "  5: SMC   'x'",
        "  8: FSTEP  1",
        " 10: CLB   'y'",
        " 13: EXIT",
    };
    EXPECT_EQ(log.lines, expected);
  }
  InPlace w("??x", 1);
  LogLines log;
  w.program[w.program[PAT_SIZE] - 1] = 12;  // EOS becomes an unknown opcode
  DUPrtPattern(w.program, w.storage);
  ASSERT_EQ(log.lines.size(), 5u);
  EXPECT_EQ(log.lines[3], "  5: RSMC  'x'  3");
  EXPECT_EQ(log.lines[4], "  9: Unknown opcode 12");
}

// ---- random comparisons ----

class SqliteLike {
 public:
  SqliteLike() {
    EXPECT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    sqlite3_exec(db_, "PRAGMA case_sensitive_like=ON", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db_, "SELECT ?1 LIKE ?2 ESCAPE '\\'", -1, &escaped_, nullptr);
    sqlite3_prepare_v2(db_, "SELECT ?1 LIKE ?2", -1, &plain_, nullptr);
  }
  ~SqliteLike() {
    sqlite3_finalize(escaped_);
    sqlite3_finalize(plain_);
    sqlite3_close(db_);
  }
  bool Like(const std::string& subject, const std::string& pattern, bool escape) {
    sqlite3_stmt* s = escape ? escaped_ : plain_;
    sqlite3_reset(s);
    sqlite3_bind_text(s, 1, subject.data(), int(subject.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 2, pattern.data(), int(pattern.size()), SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(s), SQLITE_ROW);
    return sqlite3_column_int(s, 0) == 1;
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* escaped_ = nullptr;
  sqlite3_stmt* plain_ = nullptr;
};

std::string RandomText(std::mt19937& rng, const char* alphabet, int max_length) {
  const int n = int(rng() % uint32_t(max_length + 1));
  const size_t k = std::strlen(alphabet);
  std::string s;
  for (int i = 0; i < n; ++i) s += alphabet[rng() % k];
  return s;
}

std::vector<uint8_t> Wide(const std::string& s) {
  std::vector<uint8_t> out;
  for (char c : s) out.insert(out.end(), {0, 0, uint8_t(c)});
  return out;
}

// Every compiler and matcher over one pattern and subject; all must agree.
// Returns 1 match, 2 no match, or the compile error.
int32_t MatchEveryWay(const std::string& pattern, const std::string& subject, int32_t mode) {
  InPlace in_place(pattern, mode);
  if (in_place.result < 0) return in_place.result;
  const int32_t result = in_place.Match(subject);

  // Self-contained program (mode 2 only: mode 3 has no self-contained form).
  if (mode != PAT_MODE_LIKE_ESCAPE) {
    const std::vector<uint8_t> text(pattern.begin(), pattern.end());
    int32_t program[PAT_CAPACITY];
    EXPECT_GT(DUCmpPattern3(program, PAT_CAPACITY, text, 0, int32_t(text.size()), mode), 0);
    std::vector<int32_t> stack(size_t(program[PAT_STORAGE]) + 1);
    const std::vector<uint8_t> area(subject.begin(), subject.end());
    EXPECT_EQ(DUMatchPattern4(program, stack.data(), area, 0, int32_t(area.size())), result)
        << "DUMatchPattern4 '" << pattern << "' '" << subject << "'";
  }
  // Literal offsets from the start of the storage.
  {
    std::vector<uint8_t> area = in_place.storage;
    area.insert(area.end(), subject.begin(), subject.end());
    std::vector<int32_t> stack(size_t(in_place.program[PAT_STORAGE]) + 1);
    const int32_t r = DUMatchPattern5(in_place.program, stack.data(), area,
                                      int32_t(in_place.storage.size()), int32_t(subject.size()), 0);
    EXPECT_EQ(r > 0 ? PAT_MATCH : PAT_NO_MATCH, result)
        << "DUMatchPattern5 '" << pattern << "' '" << subject << "'";
  }
  // The same in 3-byte characters.
  if (mode >= PAT_MODE_LIKE) {
    // The escape value (indicator and one character), then the text from byte 8.
    std::vector<uint8_t> area = {0, 0, 0, '\\', 0, 0, 0, 0};
    const std::vector<uint8_t> wide = Wide(pattern);
    area.insert(area.end(), wide.begin(), wide.end());
    int32_t program[PAT_CAPACITY];
    int32_t chars = int32_t(pattern.size());
    const int32_t compiled = DUCmpPattern1(program, PAT_CAPACITY, area, 8, &chars, mode, 0);
    EXPECT_EQ(compiled, in_place.length) << pattern;
    program[PAT_LITERAL_BASE] = 1;
    const size_t subject_at = area.size();
    const std::vector<uint8_t> wide_subject = Wide(subject);
    area.insert(area.end(), wide_subject.begin(), wide_subject.end());
    EXPECT_EQ(DUMatchPattern1(program, area, int32_t(subject_at), int32_t(subject.size())), result)
        << "DUMatchPattern1 '" << pattern << "' '" << subject << "'";
  }
  return result;
}

TEST(PatternMatch, RandomPatternsAnswerAsSqliteLike) {
  SqliteLike sqlite;
  std::mt19937 rng(20261210);
  int compiled = 0;
  for (int i = 0; i < 4000; ++i) {
    const std::string pattern = RandomText(rng, "ab%_\\", 8);
    const bool escape = i % 4 != 0;
    for (int j = 0; j < 12; ++j) {
      const std::string subject = RandomText(rng, j % 3 ? "ab" : "ab%_\\", 10);
      const int32_t ours =
          MatchEveryWay(pattern, subject, escape ? PAT_MODE_LIKE_ESCAPE : PAT_MODE_LIKE);
      if (ours < 0) {
        ASSERT_EQ(ours, PAT_BAD_ESCAPE) << pattern;
        break;
      }
      ++compiled;
      ASSERT_EQ(ours == PAT_MATCH, sqlite.Like(subject, pattern, escape))
          << "'" << subject << "' LIKE '" << pattern << "'" << (escape ? " ESCAPE" : "");
    }
  }
  EXPECT_GT(compiled, 20000);
}

// The "*" "?" "!" syntax: "*" any run, "?" one character or none, "!" takes
// the next character literally (a trailing one stands for itself).
bool WildcardModel(const std::string& p, size_t i, const std::string& s, size_t j) {
  if (i == p.size()) return j == s.size();
  const char c = p[i];
  if (c == '*') {
    for (size_t k = j; k <= s.size(); ++k)
      if (WildcardModel(p, i + 1, s, k)) return true;
    return false;
  }
  if (c == '?')
    return WildcardModel(p, i + 1, s, j) || (j < s.size() && WildcardModel(p, i + 1, s, j + 1));
  char literal = c;
  size_t next = i + 1;
  if (c == '!' && i + 1 < p.size()) {
    literal = p[i + 1];
    next = i + 2;
  }
  return j < s.size() && s[j] == literal && WildcardModel(p, next, s, j + 1);
}

TEST(PatternMatch, RandomWildcardPatternsAnswerAsTheModel) {
  std::mt19937 rng(7);
  for (int i = 0; i < 3000; ++i) {
    const std::string pattern = RandomText(rng, "ab*?!", 8);
    for (int j = 0; j < 12; ++j) {
      const std::string subject = RandomText(rng, j % 3 ? "ab" : "ab*?!", 9);
      const int32_t ours = MatchEveryWay(pattern, subject, PAT_MODE_WILDCARD);
      ASSERT_EQ(ours == PAT_MATCH, WildcardModel(pattern, 0, subject, 0))
          << "'" << subject << "' against '" << pattern << "'";
    }
  }
}

}  // namespace
