// DSLoadTableDesc over a fake interpreter that hands out catalog rows: the
// fixed small cases, the header-only path, unknown kinds, random
// descriptions encoded independently and compared word for word, and the
// bounds of CDITCB and of the remembered packed-decimal parts.
#include "kernel/table_description.h"

#include <deque>
#include <limits>
#include <optional>
#include <random>
#include <variant>

#include "kernel/tests/core_fixture.h"
#include "kernel/tests/statement_fixture.h"
#include "platform/numeric_services.h"

namespace {

using Value = std::variant<std::monostate, int32_t, std::string>;  // monostate: null
using Row = std::map<int32_t, Value>;

std::deque<Row> g_rows;
int g_runs = 0;

// Hands out the next canned row (PC 5), or ends the program (PC 0).
void FakeInterpreter(int32_t* base, int32_t* result, int32_t stm, int32_t) {
  ++g_runs;
  result[0] = 0;
  if (g_rows.empty()) {
    sqlpool_word(base, stm + STM_PC) = 0;
    return;
  }
  for (const auto& [n, v] : g_rows.front()) {
    if (std::holds_alternative<std::monostate>(v)) PutColumnNull(base, stm, n);
    if (const int32_t* i = std::get_if<int32_t>(&v)) PutColumnInt(base, stm, n, *i);
    if (const std::string* t = std::get_if<std::string>(&v)) PutColumnText(base, stm, n, *t);
  }
  g_rows.pop_front();
  sqlpool_word(base, stm + STM_PC) = 5;
}

bool IsText(int32_t n) {
  return n == 5 || n == 13 || n == 16 || n == 17 || n == 18 || n == 25 || n == 26;
}

class TableDescTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    std::vector<int32_t> outputs;
    for (int32_t n = 1; n <= 26; ++n) outputs.push_back(IsText(n) ? 16 : (n == 24 ? 12 : 8));
    stm_ = MakeStatement(base_, {8}, outputs);
    thr_ = Alloc(THR_BYTES);
    W(thr_, THR_CDITCB) = Alloc(4 * CDITCB_WORDS);
    W(thr_, THR_STM_MOS_TABLEX) = stm_;
    W(thr_ + THR_USR_START, USR_TP) = 77;
    SetSlot(TLS_SLOT_THR, thr_);
    services_.damae2 = FakeInterpreter;
    g_rows.clear();
    g_runs = 0;
  }
  // Loads table `table`; the words of CDITCB up to and including the first
  // end word after the header's scan position `words` (or all 1250).
  int32_t Load(int32_t table, int32_t open_lid = 0) {
    open_.fill(0);
    open_[OPEN_TABLE] = table;
    open_[OPEN_LID] = open_lid;
    int32_t status = 99;
    DSLoadTableDesc(base_, &status, open_.data());
    return status;
  }
  std::vector<int32_t> List(size_t words) {
    std::vector<int32_t> out;
    for (size_t i = 0; i < words; ++i) out.push_back(W(W(thr_, THR_CDITCB), i));
    return out;
  }
  // The first row's table columns over `row`.
  static Row First(Row row, int32_t keylen = 10, int32_t reclen = 50, int32_t lid = 4,
                   const std::string& kind = "PRIMARY KEY") {
    row[1] = keylen;
    row[3] = reclen;
    row[4] = lid;
    row[5] = kind;
    row[6] = 900;
    row[7] = 0;
    return row;
  }
  static Row KeyColumn(int32_t offset, int32_t length) {
    return Row{{18, std::string("NO")}, {19, Value{}}, {21, offset}, {22, length}, {23, Value{}}};
  }

  std::array<int32_t, OPEN_WORDS> open_{};
  int32_t stm_ = 0, thr_ = 0;
};

TEST_F(TableDescTest, UniqueConstraintOfOneColumn) {
  Row r = First(KeyColumn(12, 4));
  r[13] = std::string("UNIQUE");
  r[8] = 31;
  r[9] = 4;
  r[10] = 1;
  r[11] = 14;
  r[25] = std::string("NO");
  g_rows = {r};
  ASSERT_EQ(Load(700), 0);
  EXPECT_EQ(open_[OPEN_KEYLEN], 10);
  EXPECT_EQ(open_[OPEN_RECLEN], 50);
  EXPECT_EQ(open_[OPEN_LID], 4);
  EXPECT_EQ(open_[OPEN_DESCRIPTION], W(thr_, THR_CDITCB));
  std::vector<int32_t> want = {1,  700, 4,  1, 10, 50, 3,  0, 900,         // header
                               5,  31,  4,  2, 4,  14, 0,  0, 1,   31, 8,  // entry words 0-10
                               12, 4,   -1, 0, 10, 1,  -1,                 // parts, end word
                               -1};
  std::vector<int32_t> got = List(want.size());
  got[7] = 0;  // not written
  EXPECT_EQ(got, want);
  EXPECT_EQ(W(thr_ + THR_USR_START, USR_TP), 77);  // restored after each run
  bool null = true;
  EXPECT_EQ(ParameterInt(base_, stm_, 1, &null), 700);
}

// The trailing start comes from the table's row: NULL there is a table
// without a trailing part, like 0; a start outside the record is refused
// before anything is described.
TEST_F(TableDescTest, TrailingStartNullOrOutsideTheRecord) {
  auto row = [](Value trailing) {
    Row r = First(KeyColumn(12, 4));
    r[7] = trailing;
    r[13] = std::string("INDEX");
    r[10] = 1;
    return r;
  };
  g_rows = {row(0)};
  ASSERT_EQ(Load(5), 0);
  const std::vector<int32_t> plain = List(9 + 16);
  g_rows = {row(Value{})};
  ASSERT_EQ(Load(5), 0);
  EXPECT_EQ(List(9 + 16), plain);
  for (const int32_t bad : {-1, 51, std::numeric_limits<int32_t>::min()}) {
    g_rows = {row(bad)};
    EXPECT_EQ(Load(5), DESC_TOO_LARGE) << bad;
    EXPECT_EQ(W(sys_, SYS_RVEC), DESC_TOO_LARGE) << bad;
  }
}

TEST_F(TableDescTest, TwoColumnIndexAndHeaderKinds) {
  Row r1 = First(KeyColumn(12, 4), 10, 50, 4, "UNIQUE KEY");
  r1[13] = std::string("INDEX");
  r1[10] = 2;
  r1[17] = std::string("YES");
  Row r2 = KeyColumn(20, 6);
  g_rows = {r1, r2};
  ASSERT_EQ(Load(5), 0);
  std::vector<int32_t> got = List(9 + 21 + 1);
  EXPECT_EQ(got[DESC_IXTYPE], 2);
  EXPECT_EQ(got[9], DESC_KIND_INDEX_YES);
  EXPECT_EQ(got[9 + IXE_COUNT], 11);
  EXPECT_EQ(got[9 + 20], -1);
  EXPECT_EQ(got[9 + 21], -1);
}

TEST_F(TableDescTest, FixedLidRunsNothing) {
  open_.fill(0);
  open_[OPEN_TABLE] = 44;
  open_[OPEN_LID] = OPEN_FIXED_LID;
  open_[OPEN_KEYLEN] = 8;
  open_[OPEN_RECLEN] = 40;
  int32_t status = 99;
  DSLoadTableDesc(base_, &status, open_.data());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(g_runs, 0);
  std::vector<int32_t> got = List(10);
  got[7] = 0;
  EXPECT_EQ(got, (std::vector<int32_t>{1, 44, OPEN_FIXED_LID, 1, 8, 40, 3, 0, 45, -1}));
}

TEST_F(TableDescTest, FailuresEndTheLoad) {
  // An unknown kind.
  Row r = First(KeyColumn(1, 1));
  r[13] = std::string("PRIMARY KEY");
  g_rows = {r};
  EXPECT_EQ(Load(3), DESC_UNKNOWN_KIND);
  EXPECT_EQ(W(sys_, SYS_RVEC), DESC_UNKNOWN_KIND);
  // The interpreter's own failure.
  services_.damae2 = [](int32_t*, int32_t* result, int32_t, int32_t) { result[0] = -10500; };
  KernelInstallUpperServices(&services_);
  EXPECT_EQ(Load(3), -10500);
  EXPECT_EQ(W(sys_, SYS_RVEC), -10500);
  // No thread block, no kernel.
  SetSlot(TLS_SLOT_THR, 0);
  EXPECT_EQ(Load(3), KERNEL_NO_THREAD);
  base_[sqlpool::RESERV] = 0;
  EXPECT_EQ(Load(3), KERNEL_NOT_STARTED);
  base_[sqlpool::RESERV] = sys_;
}

// A description as the catalog holds it, its rows, and the list record
// access must get, encoded here independently of the loader.
struct Generated {
  std::deque<Row> rows;
  std::vector<int32_t> list;
};

Generated Generate(std::mt19937& rng, int32_t table, int indexes, int refs, int lobs) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const int32_t keylen = pick(1, 40), reclen = keylen + pick(0, 200), lid = pick(2, 30);
  const int32_t trailing = pick(0, 1) ? pick(1, reclen) : 0;
  const bool pk = pick(0, 1);
  Generated g;
  g.list = {pk ? 1 : 2, table, lid, 1, keylen, reclen, 3, 0, 700 + table};
  std::vector<Row> rows;
  for (int i = 0; i < indexes; ++i) {
    static const char* kKinds[] = {"INDEX", "UNIQUE", "FOREIGN KEY"};
    const std::string kind = kKinds[pick(0, 2)];
    const int k = pick(1, 4);
    Row head;
    head[13] = kind;
    head[8] = pick(1, 100000);
    head[9] = pick(1, 100);
    head[10] = k;
    head[11] = pick(1, 200);
    head[14] = pick(1, 5000);
    head[15] = pick(1, 5000);
    head[16] = std::string(pick(0, 1) ? "PRIMARY KEY" : "UNIQUE");
    head[17] = std::string(pick(0, 1) ? "YES" : "NO");
    head[25] = std::string(pick(0, 1) ? "YES" : "NO");
    head[26] = std::string(pick(0, 1) ? "NO ACTION" : "CASCADE");
    int32_t ekind = kind == "UNIQUE" ? 5 : 3;
    if (kind == "INDEX" && std::get<std::string>(head[17]) == "YES") ekind = 6;
    const bool fk = kind == "FOREIGN KEY";
    if (fk) ekind = std::get<std::string>(head[26]) == "NO ACTION" ? 4 : 8;
    const int32_t n8 = std::get<int32_t>(head[8]), n14 = std::get<int32_t>(head[14]);
    std::vector<int32_t> entry = {
        ekind,
        n8,
        lid,
        2,
        std::get<int32_t>(head[9]),
        std::get<int32_t>(head[11]),
        fk ? n14 : 0,
        fk ? (std::get<std::string>(head[16]) == "PRIMARY KEY" ? n14 : std::get<int32_t>(head[15]))
           : 0,
        std::get<std::string>(head[25]) == "YES" ? 0 : 1,
        n8,
        0};
    std::vector<std::pair<int32_t, int32_t>> decimals;
    for (int c = 0; c < k; ++c) {
      Row row = c == 0 ? head : Row{};
      const bool yes = pick(0, 1);
      row[18] = std::string(yes ? "YES" : "NO");
      int32_t marker = yes ? 0 : -1;
      const int r19 = pick(0, 2);
      if (r19 == 0)
        row[19] = Value{};
      else
        row[19] = r19 == 1 ? 0 : pick(1, 9);
      if (r19 == 2)
        marker = marker == -1 ? -std::get<int32_t>(row[19]) : std::get<int32_t>(row[19]);
      row[21] = pick(0, reclen);
      row[22] = pick(1, 30);
      entry.insert(entry.end(), {std::get<int32_t>(row[21]), std::get<int32_t>(row[22]), marker});
      if (pick(0, 2) == 0) {
        row[23] = pick(0, reclen);
        row[24] = pick(0, 2000000000);
        decimals.emplace_back(std::get<int32_t>(row[23]),
                              decimal_bytes_of_int(std::get<int32_t>(row[24])));
      } else {
        row[23] = Value{};
        row[24] = pick(0, 99);  // ignored while 23 is null
      }
      rows.push_back(row);
    }
    entry.insert(entry.end(), {0, keylen, 1});
    if (trailing != 0) entry.insert(entry.end(), {trailing, reclen - trailing, 2});
    for (auto it = decimals.rbegin(); it != decimals.rend(); ++it)
      entry.insert(entry.end(), {it->first, it->second, 2});
    entry.push_back(-1);
    entry[10] = static_cast<int32_t>(entry.size()) - 10;
    g.list.insert(g.list.end(), entry.begin(), entry.end());
  }
  for (int i = 0; i < refs; ++i) {
    const bool to_pk = pick(0, 1);
    Row row{{13, std::string("REFERENCE")},
            {8, pick(1, 900)},
            {14, pick(1, 900)},
            {15, pick(1, 900)},
            {16, std::string(to_pk ? "PRIMARY KEY" : "UNIQUE")}};
    g.list.insert(g.list.end(), {7, std::get<int32_t>(row[15]), std::get<int32_t>(row[14]),
                                 to_pk ? table : std::get<int32_t>(row[8])});
    rows.push_back(row);
  }
  if (lobs > 0) g.list.insert(g.list.end(), {9, lobs, lobs});
  for (int i = 0; i < lobs; ++i) {
    Row row{{13, std::string("LOBCOLUMNS")}, {20, pick(1, 99)}, {21, pick(0, reclen)}};
    g.list.insert(g.list.end(), {std::get<int32_t>(row[20]), std::get<int32_t>(row[21])});
    rows.push_back(row);
  }
  g.list.push_back(-1);
  if (rows.empty()) rows.push_back(Row{{13, std::string("LOBCOLUMNS")}});  // never read
  Row first = rows.front();
  first[1] = keylen;
  first[3] = reclen;
  first[4] = lid;
  first[5] = std::string(pk ? "PRIMARY KEY" : "UNIQUE");
  first[6] = 700 + table;
  first[7] = trailing;
  rows.front() = first;
  g.rows.assign(rows.begin(), rows.end());
  return g;
}

TEST_F(TableDescTest, RandomDescriptionsLoadBack) {
  std::mt19937 rng(24);
  for (int round = 0; round < 300; ++round) {
    const int32_t table = 100 + round;
    Generated g = Generate(rng, table, round % 5, round % 3, (round / 3) % 3);
    if (round % 5 == 0 && round % 3 == 0 && (round / 3) % 3 == 0) continue;  // no rows at all
    g_rows = g.rows;
    ASSERT_EQ(Load(table), 0) << round;
    std::vector<int32_t> got = List(g.list.size());
    got[7] = 0;
    EXPECT_EQ(got, g.list) << round;
    EXPECT_TRUE(g_rows.empty());
  }
}

TEST_F(TableDescTest, DescriptionsPastTheirAreasAreRefused) {
  const int32_t sentinel_at = W(thr_, THR_CDITCB) + CDITCB_WORDS;
  // A word right above CDITCB inside the storage (the block's trailer).
  const int32_t above = W(sentinel_at, 0);
  // 1250 words need more than 312 references of 4 words.
  std::deque<Row> rows;
  for (int i = 0; i < 400; ++i)
    rows.push_back(
        Row{{13, std::string("REFERENCE")}, {8, i}, {14, i}, {15, i}, {16, std::string("UNIQUE")}});
  rows.front() = First(rows.front());
  g_rows = rows;
  EXPECT_EQ(Load(9), DESC_TOO_LARGE);
  EXPECT_EQ(W(sys_, SYS_RVEC), DESC_TOO_LARGE);
  EXPECT_EQ(W(sentinel_at, 0), above);
  // 33 packed-decimal parts in one index entry.
  rows.clear();
  for (int i = 0; i < 33; ++i) {
    Row r = KeyColumn(i, 1);
    r[23] = i;
    r[24] = 999;
    rows.push_back(r);
  }
  Row head = First(rows.front());
  head[13] = std::string("INDEX");
  head[10] = 33;
  rows.front() = head;
  g_rows = rows;
  EXPECT_EQ(Load(9), DESC_TOO_LARGE);
  // 32 of them still load.
  rows.pop_back();
  std::get<int32_t>(rows.front()[10]) = 32;
  g_rows = rows;
  EXPECT_EQ(Load(9), 0);
  EXPECT_EQ(W(sentinel_at, 0), above);
}

}  // namespace
