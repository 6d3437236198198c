// The string functions on random strings against SQLite's: SUBSTRING from
// positive starts, TRIM, POSITION, REPLACE, UPPER and LOWER of ASCII text,
// the length and hexadecimal text, in the byte form on ASCII strings and in
// the wide form on strings of characters of one to four UTF-8 bytes. (Starts
// below 1, RIGHT, REPEAT and case of other letters, where SQLite differs or
// has no function, are held to PostgreSQL's results in
// string_functions_pg15_test.cc.)
#include <sqlite3.h>

#include <random>

#include "interp/tests/string_functions_fixture.h"

using namespace interp;

namespace {

class SqliteReference {
 public:
  SqliteReference() { sqlite3_open(":memory:", &db_); }
  ~SqliteReference() { sqlite3_close(db_); }
  SqliteReference(const SqliteReference&) = delete;
  SqliteReference& operator=(const SqliteReference&) = delete;

  // The value of `expression` over ?1.. bound to the arguments (text, or an
  // integer when it starts with '#', or a blob when it starts with '%'):
  // text (a blob's bytes), or nullopt for null.
  std::optional<std::string> Eval(const std::string& expression,
                                  const std::vector<std::string>& arguments) {
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, ("SELECT " + expression).c_str(), -1, &stmt, nullptr),
              SQLITE_OK);
    for (size_t i = 0; i < arguments.size(); ++i) {
      const std::string& a = arguments[i];
      const int k = static_cast<int>(i) + 1;
      if (!a.empty() && a[0] == '#')
        sqlite3_bind_int(stmt, k, std::stoi(a.substr(1)));
      else if (!a.empty() && a[0] == '%')
        sqlite3_bind_blob(stmt, k, a.data() + 1, static_cast<int>(a.size()) - 1, SQLITE_TRANSIENT);
      else
        sqlite3_bind_text(stmt, k, a.data(), static_cast<int>(a.size()), SQLITE_TRANSIENT);
    }
    std::optional<std::string> out;
    if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_type(stmt, 0) != SQLITE_NULL) {
      const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt, 0));
      out = std::string(p == nullptr ? "" : p, static_cast<size_t>(sqlite3_column_bytes(stmt, 0)));
    }
    sqlite3_finalize(stmt);
    return out;
  }

 private:
  sqlite3* db_ = nullptr;
};

class SqliteStrings : public StringFunctions {
 protected:
  std::string AsciiText(int max_length) {
    static const char kAlphabet[] = "abcxyzABZ -";
    std::string s(Pick(max_length + 1), ' ');
    for (char& c : s) c = kAlphabet[Pick(sizeof kAlphabet - 1)];
    return s;
  }
  std::u32string WideText(int max_length) {
    static const char32_t kAlphabet[] = U"abcxyz -\u00e9\u03a3\u03c3\u0416\u4e2d\U0001F600";
    std::u32string s(Pick(max_length + 1), U' ');
    for (char32_t& c : s) c = kAlphabet[Pick(sizeof kAlphabet / sizeof(char32_t) - 1)];
    return s;
  }
  // A stretch of the text (maybe empty, maybe absent from it).
  template <typename S>
  S Part(const S& s) {
    if (s.empty() || Pick(5) == 0) return S(Pick(3), s.empty() ? 'q' : s[0]);
    const size_t at = Pick(static_cast<int>(s.size()));
    return s.substr(at, Pick(4));
  }
  size_t Pick(int n) { return static_cast<size_t>(rng_() % static_cast<uint32_t>(n)); }

  std::mt19937 rng_{26};
  SqliteReference sqlite_;
};

constexpr int kRounds = 150;

TEST_F(SqliteStrings, SubstringFromPositiveStarts) {
  for (int i = 0; i < kRounds; ++i) {
    const std::string s = AsciiText(12);
    const int32_t b = static_cast<int32_t>(Pick(15)) + 1, n = static_cast<int32_t>(Pick(15));
    const bool to_end = Pick(3) == 0;
    SCOPED_TRACE("'" + s + "' " + std::to_string(b) + " " + std::to_string(n));
    const std::string args = to_end ? "A, 10, -1, 0" : "A, 10, B, 10";
    LoadBody("SUS R, 300, R.len, S, 100, S.len, " + args + "\n USU WR, 300, WRL, WS, 100, WSL, " +
             args);
    const std::u32string w = WideText(12);
    PutBytes("S", 100, s);
    PutWide("WS", "WSL", 100, w);
    PutNumber("A", b);
    PutNumber("B", n);
    Run();
    ASSERT_EQ(Code(), 1);
    const std::string b_arg = "#" + std::to_string(b), n_arg = "#" + std::to_string(n);
    EXPECT_EQ(GetBytes("R", 300), to_end ? sqlite_.Eval("substr(?1, ?2)", {s, b_arg})
                                         : sqlite_.Eval("substr(?1, ?2, ?3)", {s, b_arg, n_arg}));
    const auto want = to_end ? sqlite_.Eval("substr(?1, ?2)", {Utf8(w), b_arg})
                             : sqlite_.Eval("substr(?1, ?2, ?3)", {Utf8(w), b_arg, n_arg});
    EXPECT_EQ(Utf8(*GetWide("WR", "WRL", 300)), *want);
  }
}

TEST_F(SqliteStrings, Trim) {
  const char* kFunctions[] = {"", "ltrim", "rtrim", "trim"};
  for (int i = 0; i < kRounds; ++i) {
    const int mode = static_cast<int>(Pick(3)) + 1;
    std::string s = AsciiText(10);
    std::u32string w = WideText(10);
    const std::string c(1, s.empty() || Pick(4) == 0 ? ' ' : s[Pick(static_cast<int>(s.size()))]);
    const std::u32string wc(1, w.empty() ? U'\u03a3' : w[Pick(static_cast<int>(w.size()))]);
    // Runs of the trim character at both ends now and then.
    if (Pick(2) == 0) s = c + c + s + c;
    if (Pick(2) == 0) w = wc + w + wc + wc;
    SCOPED_TRACE("'" + s + "' '" + c + "' " + Utf8(w) + " " + Utf8(wc) + " " +
                 std::to_string(mode));
    const std::string m = std::to_string(mode);
    LoadBody("TRV " + m + ", 0, 0, F, 20, F.len, S, 100, S.len\n TVU " + m +
             ", 0, 0, WF, 20, WFL, WS, 100, WSL");
    PutBytes("S", 100, s);
    PutBytes("F", 20, c);
    PutWide("WS", "WSL", 100, w);
    PutWide("WF", "WFL", 20, wc);
    Run();
    ASSERT_EQ(Code(), 1);
    const std::string f = kFunctions[mode];
    EXPECT_EQ(GetBytes("S", 100), sqlite_.Eval(f + "(?1, ?2)", {s, c}));
    EXPECT_EQ(Utf8(*GetWide("WS", "WSL", 100)), *sqlite_.Eval(f + "(?1, ?2)", {Utf8(w), Utf8(wc)}));
  }
}

TEST_F(SqliteStrings, PositionAndLength) {
  for (int i = 0; i < kRounds; ++i) {
    const std::string s = AsciiText(12), f = Part(s);
    const std::u32string w = WideText(12), wf = Part(w);
    SCOPED_TRACE("'" + s + "' '" + f + "' " + Utf8(w) + " " + Utf8(wf));
    LoadBody(
        "POS P, 10, F, 20, F.len, S, 100, S.len\n POU A, 10, WF, 20, WFL, WS, 100, WSL\n"
        " CHL B, 10, S, 100, S.len\n UNL R, 3, WS, 100, WSL");
    PutBytes("S", 100, s);
    PutBytes("F", 20, f);
    PutWide("WS", "WSL", 100, w);
    PutWide("WF", "WFL", 20, wf);
    Run();
    ASSERT_EQ(Code(), 1);
    EXPECT_EQ(std::to_string(*GetNumber("P")), *sqlite_.Eval("instr(?1, ?2)", {s, f}));
    EXPECT_EQ(std::to_string(*GetNumber("A")), *sqlite_.Eval("instr(?1, ?2)", {Utf8(w), Utf8(wf)}));
    EXPECT_EQ(std::to_string(*GetNumber("B")), *sqlite_.Eval("length(?1)", {s}));
    int32_t wide_length = 0;
    decimal_to_int(&wide_length, Area(), value_descriptor{Off("R"), 3});
    EXPECT_EQ(std::to_string(wide_length), *sqlite_.Eval("length(?1)", {Utf8(w)}));
  }
}

TEST_F(SqliteStrings, Replace) {
  for (int i = 0; i < kRounds; ++i) {
    const std::string s = AsciiText(12), f = Part(s), t = AsciiText(3);
    const std::u32string w = WideText(12), wf = Part(w), wt = WideText(3);
    SCOPED_TRACE("'" + s + "' '" + f + "' '" + t + "' " + Utf8(w) + " " + Utf8(wf) + " " +
                 Utf8(wt));
    LoadBody(
        "RPL 0, 0, R, 300, R.len, S, 100, S.len, F, 20, F.len, T, 20, T.len\n"
        " RPU 0, 0, WR, 300, WRL, WS, 100, WSL, WF, 20, WFL, WT, 20, WTL");
    PutBytes("S", 100, s);
    PutBytes("F", 20, f);
    PutBytes("T", 20, t);
    PutWide("WS", "WSL", 100, w);
    PutWide("WF", "WFL", 20, wf);
    PutWide("WT", "WTL", 20, wt);
    Run();
    ASSERT_EQ(Code(), 1);
    EXPECT_EQ(GetBytes("R", 300), sqlite_.Eval("replace(?1, ?2, ?3)", {s, f, t}));
    EXPECT_EQ(Utf8(*GetWide("WR", "WRL", 300)),
              *sqlite_.Eval("replace(?1, ?2, ?3)", {Utf8(w), Utf8(wf), Utf8(wt)}));
  }
}

TEST_F(SqliteStrings, UpperAndLowerOfAscii) {
  for (int i = 0; i < kRounds; ++i) {
    const bool upper = Pick(2) == 0;
    const std::string s = AsciiText(12);
    std::u32string w(s.begin(), s.end());
    SCOPED_TRACE("'" + s + "'" + (upper ? " upper" : " lower"));
    LoadBody(std::string("TRL ") + (upper ? "2" : "3") + ", S, 101\n TLU " + (upper ? "4" : "5") +
             ", WS, 100, WSL");
    PutBytes("S", 100, s);
    PutWide("WS", "WSL", 100, w);
    Run();
    ASSERT_EQ(Code(), 1);
    const auto want = sqlite_.Eval(upper ? "upper(?1)" : "lower(?1)", {s});
    EXPECT_EQ(GetBytes("S", 100), want);
    EXPECT_EQ(Utf8(*GetWide("WS", "WSL", 100)), *want);
  }
}

TEST_F(SqliteStrings, HexText) {
  for (int i = 0; i < kRounds; ++i) {
    std::string binary(Pick(30), '\0');
    for (char& c : binary) c = static_cast<char>(rng_());
    LoadBody("TCH 0, R, 300, R.len, S, 100, S.len\n THC 0, T, 20, T.len, R, 300, R.len");
    PutBytes("S", 100, binary);
    Run();
    ASSERT_EQ(Code(), binary.size() > 20 ? -10311 : 1) << binary.size();
    EXPECT_EQ(GetBytes("R", 300), sqlite_.Eval("hex(?1)", {"%" + binary}));
    if (binary.size() <= 20) {
      EXPECT_EQ(GetBytes("T", 20), binary);
    }
  }
}

}  // namespace
