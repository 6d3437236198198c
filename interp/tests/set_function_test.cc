// The set-function instructions: begin, feed and end over fixed, varying and
// collated values, against SQLite's aggregates over the same random columns
// with nulls, and the edge cases of empty and all-null feeds.
#include <sqlite3.h>

#include <cmath>
#include <random>

#include "du/collation.h"
#include "interp/tests/interp_fixture.h"
#include "platform/decimal_arith.h"
#include "platform/decimal_text.h"
#include "platform/packed_decimal.h"

using namespace interp;

namespace {

// COUNT, SUM, AVG, MAX and MIN of a DECIMAL(15) column V, MAX and MIN of a
// CHAR(6) column C and of a VARCHAR(6) column W. One row is fed per run
// from `feed`; `fin` ends the functions.
constexpr const char* kProgram = R"(
field V decimal 15
field C char 6
field W varchar 6
field N1 decimal 9
field N2 decimal 9
field N3 decimal 9
field N4 decimal 9
field N5 decimal 9
field N6 decimal 9
field N7 decimal 9
field N8 decimal 9
field N9 decimal 9
field R1 decimal 9
field R2 decimal 30
field R3 decimal 30
field R4 decimal 15
field R5 decimal 15
field R6 char 6
field R7 char 6
field R8 varchar 6
field R9 varchar 6
code
 BEG
 SFB 5, N1, 9, R1, 9
 SFB 3, N2, 9, R2, 30
 SFB 4, N3, 9, R3, 30
 SFB 1, N4, 9, R4, 9
 SFB 2, N5, 9, R5, 9
 SFB 1, N6, 9, R6, 7
 SFB 2, N7, 9, R7, 7
 SVB 1, N8, 9, R8, 7, R8.len
 SVB 2, N9, 9, R9, 7, R9.len
 EXI 0
feed:
 SFH 5, N1, 9, R1, 9, V, 15
 SFH 3, N2, 9, R2, 30, V, 15
 SFH 4, N3, 9, R3, 30, V, 15
 SFH 1, N4, 9, R4, 9, V, 9
 SFH 2, N5, 9, R5, 9, V, 9
 SFH 1, N6, 9, R6, 7, C, 7
 SFH 2, N7, 9, R7, 7, C, 7
 SVH 1, N8, 9, R8, 0, R8.len, W, 7, W.len
 SVH 2, N9, 9, R9, 0, R9.len, W, 7, W.len
 EXI 0
fin:
 SFE 5, N1, 9, R1, 9
 SFE 3, N2, 9, R2, 30
 SFE 4, N3, 9, R3, 30
 SFE 1, N4, 9, R4, 15
 SFE 2, N5, 9, R5, 15
 SFE 1, N6, 9, R6, 7
 SFE 2, N7, 9, R7, 7
 SVE 1, N8, 9, R8, 7, R8.len
 SVE 2, N9, 9, R9, 7, R9.len
 END 1
)";

struct Row {
  bool v_null, c_null, w_null;
  int64_t v;
  std::string c, w;
};

// What one query gives: null, a whole number, a double or a text.
struct Value {
  bool null = true;
  double number = 0;
  std::string text;
};

class SetFunctions : public InterpTest {
 protected:
  ByteSpan Storage() {
    return ByteSpan(reinterpret_cast<uint8_t*>(storage_.data()), storage_.size() * 4);
  }
  // Runs from `label`; the feed and the begin end with EXI (0), the end
  // with END 1.
  void RunAt(const std::string& label) {
    pos_ = asm_.labels.at(label);
    Run();
    ASSERT_EQ(rvec_[0], label == "fin" ? 1 : 0) << "at " << label;
  }
  void Feed(const Row& r) {
    if (r.v_null)
      decimal_set_null(Storage(), value_descriptor{Off("V"), 15});
    else
      int64_to_decimal(Storage(), value_descriptor{Off("V"), 15}, static_cast<int32_t>(r.v >> 32),
                       static_cast<int32_t>(r.v & 0xFFFFFFFF));
    PutChar("C", r.c_null, r.c);
    PutChar("W", r.w_null, r.w);
    uint8_t* len = Bytes("W.len");
    if (r.w_null) {
      std::memset(len, 255, 2);
    } else {
      int_to_decimal(Storage(), value_descriptor{Off("W.len"), 1},
                     static_cast<int32_t>(r.w.size()));
    }
    RunAt("feed");
  }
  void PutChar(const std::string& f, bool null, const std::string& s) {
    uint8_t* p = Bytes(f);
    if (null) return (void)std::memset(p, 255, 7);
    p[0] = 0;
    std::memset(p + 1, ' ', 6);
    std::memcpy(p + 1, s.data(), s.size());
  }
  Value Number(const std::string& f, int32_t precision) {
    Value v;
    if (Bytes(f)[0] == 255) return v;
    v.null = false;
    EXPECT_GE(decimal_to_double(&v.number, Storage(), value_descriptor{Off(f), precision}), 0);
    return v;
  }
  Value Text(const std::string& f, bool varying) {
    Value v;
    if (Bytes(f)[0] == 255) return v;
    v.null = false;
    int32_t n = 6;
    if (varying) {
      EXPECT_EQ(decimal_to_int(&n, Storage(), value_descriptor{Off(f + ".len"), 1}), 0) << f;
    }
    v.text.assign(reinterpret_cast<const char*>(Bytes(f) + 1), static_cast<size_t>(n));
    if (!varying) v.text.erase(v.text.find_last_not_of(' ') + 1);
    return v;
  }
};

Value Sqlite(sqlite3* db, const std::string& query) {
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, query.c_str(), -1, &st, nullptr), SQLITE_OK) << query;
  Value v;
  if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_type(st, 0) != SQLITE_NULL) {
    v.null = false;
    v.number = sqlite3_column_double(st, 0);
    v.text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  }
  sqlite3_finalize(st);
  return v;
}

TEST_F(SetFunctions, RandomColumnsWithNullsAgreeWithSqlite) {
  for (int rows : {0, 1, 7, 300}) {
    for (double null_share : {0.0, 0.3, 1.0}) {
      std::mt19937 rng(static_cast<uint32_t>(rows * 10 + null_share * 10));
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
      sqlite3_exec(db, "CREATE TABLE t(v INTEGER, c TEXT, w TEXT)", nullptr, nullptr, nullptr);
      Load(kProgram);
      Run();
      ASSERT_EQ(rvec_[0], 0);
      std::uniform_real_distribution<double> share(0, 1);
      std::uniform_int_distribution<int64_t> number(-999999999999999, 999999999999999);
      auto text = [&](int min) {
        std::string s(static_cast<size_t>(std::uniform_int_distribution<int>(min, 6)(rng)), 'a');
        for (char& ch : s) ch = static_cast<char>("abcABC"[rng() % 6]);
        return s;
      };
      for (int i = 0; i < rows; ++i) {
        Row r{share(rng) < null_share,
              share(rng) < null_share,
              share(rng) < null_share,
              number(rng) / (i % 3 == 0 ? 1 : 1000000),
              text(1),
              text(0)};
        Feed(r);
        const std::string q = "INSERT INTO t VALUES(" + (r.v_null ? "NULL" : std::to_string(r.v)) +
                              "," + (r.c_null ? "NULL" : "'" + r.c + "'") + "," +
                              (r.w_null ? "NULL" : "'" + r.w + "'") + ")";
        sqlite3_exec(db, q.c_str(), nullptr, nullptr, nullptr);
      }
      RunAt("fin");
      const std::string at =
          std::to_string(rows) + " rows, null share " + std::to_string(null_share);
      const struct {
        const char* query;
        Value ours;
      } numbers[] = {{"count(v)", Number("R1", 9)},
                     {"sum(v)", Number("R2", 30)},
                     {"avg(v)", Number("R3", 30)},
                     {"max(v)", Number("R4", 15)},
                     {"min(v)", Number("R5", 15)}};
      for (const auto& n : numbers) {
        const Value theirs = Sqlite(db, std::string("SELECT ") + n.query + " FROM t");
        ASSERT_EQ(n.ours.null, theirs.null) << n.query << ", " << at;
        EXPECT_NEAR(n.ours.number, theirs.number, std::fabs(theirs.number) * 1e-12)
            << n.query << ", " << at;
      }
      const struct {
        const char* query;
        Value ours;
      } texts[] = {{"max(c)", Text("R6", false)},
                   {"min(c)", Text("R7", false)},
                   {"max(w)", Text("R8", true)},
                   {"min(w)", Text("R9", true)}};
      for (const auto& t : texts) {
        const Value theirs = Sqlite(db, std::string("SELECT ") + t.query + " FROM t");
        ASSERT_EQ(t.ours.null, theirs.null) << t.query << ", " << at;
        EXPECT_EQ(t.ours.text, theirs.text) << t.query << ", " << at;
      }
      sqlite3_close(db);
    }
  }
}

TEST_F(SetFunctions, NullFeedKeepsCounterAndWarns) {
  Load(kProgram);
  Run();
  Feed(Row{false, false, false, 4, "x", "y"});
  Feed(Row{true, true, true, 0, "", ""});
  EXPECT_EQ(State(kStateBitVector), kNullEliminatedWord);
  int32_t count = 0;
  EXPECT_EQ(decimal_to_int(&count, Storage(), value_descriptor{Off("N4"), 9}), 0);
  EXPECT_EQ(count, 1);
  RunAt("fin");
  EXPECT_EQ(Number("R1", 9).number, 1);
  EXPECT_EQ(Text("R8", true).text, "y");
}

TEST_F(SetFunctions, AverageDividesInTheAccumulatorsPrecision) {
  Load(kProgram);
  Run();
  for (int v : {1, 2, 2}) Feed(Row{false, true, true, v, "", ""});
  RunAt("fin");
  const Value avg = Number("R3", 30);
  ASSERT_FALSE(avg.null);
  EXPECT_NEAR(avg.number, 5.0 / 3.0, 1e-15);
  // The quotient is cut in 30 digits: 3 times it falls short of 5.
  uint8_t three[24] = {};
  int_to_decimal(ByteSpan(three, 24), value_descriptor{0, 30}, 3);
  ASSERT_EQ(decimal_arith(Storage(), value_descriptor{Off("R3"), 30}, ConstByteSpan(three, 24),
                          value_descriptor{0, 30}, kDecimalMultiply, kDecimalSilent),
            0);
  uint8_t five[24] = {};
  int_to_decimal(ByteSpan(five, 24), value_descriptor{0, 30}, 5);
  EXPECT_EQ(decimal_compare(Storage(), value_descriptor{Off("R3"), 30}, ConstByteSpan(five, 24),
                            value_descriptor{0, 30}),
            kTruthLess);
}

// A collation that orders letters without regard to case.
TEST_F(SetFunctions, CollatedMinimumAgainstByteOrder) {
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i >= 'a' && i <= 'z' ? i - 32 : i);
  int32_t status = 0;
  XLInstallTable(base_, &status, XL_INSTALL, 77, ConstByteSpan(table, sizeof table));
  ASSERT_EQ(status, 0);
  Load(R"(
field V char 1
field N1 decimal 9
field N2 decimal 9
field N3 decimal 9
field R1 char 1
field R2 char 1
field R3 varchar 1
field W varchar 1
code
 BEG
 SFB 2, N1, 9, R1, 2
 SFB 2, N2, 9, R2, 2
 SVB 2, N3, 9, R3, 2, R3.len
 EXI 0
feed:
 SCH 2, 77, 0, N1, 9, R1, 0, V, 2
 SFH 2, N2, 9, R2, 2, V, 2
 SOH 2, 77, 0, N3, 9, R3, 0, R3.len, W, 2, W.len
 EXI 0
fin:
 SFE 2, N1, 9, R1, 2
 SVE 2, N3, 9, R3, 2, R3.len
 END 1
missing:
 SCH 2, 78, 0, N1, 9, R1, 0, V, 2
 END 1
)");
  Run();
  for (char ch : {'a', 'B'}) {
    Bytes("V")[1] = static_cast<uint8_t>(ch);
    Bytes("W")[0] = 0;
    Bytes("W")[1] = static_cast<uint8_t>(ch);
    int_to_decimal(Storage(), value_descriptor{Off("W.len"), 1}, 1);
    RunAt("feed");
  }
  RunAt("fin");
  EXPECT_EQ(Bytes("R1")[1], 'a');
  EXPECT_EQ(Bytes("R2")[1], 'B');
  EXPECT_EQ(Bytes("R3")[1], 'a');
  EXPECT_EQ(Text("R3", true).text, "a");
  pos_ = asm_.labels.at("missing");
  Run();
  EXPECT_EQ(rvec_[0], -19114);
}

// Bad operands fail the instruction with -19077 and write nothing.
TEST_F(SetFunctions, OperandsOutsideTheStorageFail) {
  for (const char* ins :
       {"SFB 1, N, 9, 100000, 9", "SFH 1, N, 9, R, 9, V, 10", "SFH 1, N, 9, R, 2, V, 9",
        "SVB 1, N, 9, R, 9, 100000", "SVH 1, N, 9, R, 0, 100000, V, 9, 0"}) {
    Load(std::string("field N decimal 9\nfield R bytes 9\nfield V decimal 15\ncode\n BEG\n ") +
         ins + "\n END 1\n");
    std::memset(Bytes("V"), 0x80, 9);  // no null
    const std::vector<int32_t> before = storage_;
    Run();
    EXPECT_EQ(rvec_[0], kErrBadOperand) << ins;
    EXPECT_TRUE(
        std::equal(storage_.begin() + kStateWords, storage_.end(), before.begin() + kStateWords))
        << ins;
  }
}

}  // namespace

namespace {

// SUM past the largest decimal fails with the overflow's status - 10300
// and leaves the counter where it was.
TEST_F(SetFunctions, SumOverflowFails) {
  Load(R"(
field N decimal 9
field A decimal 5
field V decimal 5
code
 BEG
 SFB 3, N, 9, A, 5
 SFH 3, N, 9, A, 5, V, 5
 SFH 3, N, 9, A, 5, V, 5
 END 1
)");
  const std::string big = "9.9999E999";
  ASSERT_GE(text_to_decimal(Storage(), value_descriptor{Off("V"), 5},
                            ConstByteSpan(reinterpret_cast<const uint8_t*>(big.data()), big.size()),
                            0, static_cast<int32_t>(big.size())),
            0);
  Run();
  EXPECT_EQ(State(kStateReturnCode), -10302);
  int32_t count = 0;
  EXPECT_EQ(decimal_to_int(&count, Storage(), value_descriptor{Off("N"), 9}), 0);
  EXPECT_EQ(count, 1);
}

}  // namespace
