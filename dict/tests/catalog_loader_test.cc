// The kernel's own table description loader (DSLoadTableDesc) fed with the
// rows its catalog statement would deliver, made from the generated
// self-description rows of 16, 18, 20 and 22 alone: for every system table
// it must write the generated description list word for word.
#include <deque>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "catalog_gen.h"
#include "kernel/table_description.h"
#include "kernel/tests/core_fixture.h"
#include "kernel/tests/statement_fixture.h"

namespace {

using Value = std::variant<std::monostate, int32_t, std::string>;  // monostate: null
using Row = std::map<int32_t, Value>;                              // by output column

struct Run {
  Row columns;
  bool has_row;
};
std::deque<Run> g_runs;

// Puts the next run's columns; a run without a row ends the program (PC 0)
// with its columns still readable, as the loader's first run reads them.
void CatalogStatement(int32_t* base, int32_t* result, int32_t stm, int32_t) {
  result[0] = 0;
  if (g_runs.empty()) {
    sqlpool_word(base, stm + STM_PC) = 0;
    return;
  }
  for (const auto& [n, v] : g_runs.front().columns) {
    if (std::holds_alternative<std::monostate>(v)) PutColumnNull(base, stm, n);
    if (const int32_t* i = std::get_if<int32_t>(&v)) PutColumnInt(base, stm, n, *i);
    if (const std::string* t = std::get_if<std::string>(&v)) PutColumnText(base, stm, n, *t);
  }
  sqlpool_word(base, stm + STM_PC) = g_runs.front().has_row ? 5 : 0;
  g_runs.pop_front();
}

bool IsText(int32_t n) {
  return n == 5 || n == 13 || n == 16 || n == 17 || n == 18 || n == 25 || n == 26;
}

// A generated row as offset -> number or text.
struct Values {
  std::map<int32_t, int64_t> n;
  std::map<int32_t, std::string> t;
};

std::vector<Values> Rows(int32_t table) {
  std::vector<Values> out;
  for (int32_t i = 0; i < kCatalogSelfRowCount; ++i) {
    const CatalogRow& r = kCatalogSelfRows[i];
    if (r.table != table) continue;
    Values v;
    for (int32_t k = 0; k < r.value_count; ++k) {
      const CatalogValue& c = kCatalogValues[r.first_value + k];
      if (c.is_text)
        v.t[c.offset] = c.text;
      else
        v.n[c.offset] = c.number;
    }
    out.push_back(v);
  }
  return out;
}

int32_t I(const Values& v, int32_t offset) {
  auto it = v.n.find(offset);
  return it == v.n.end() ? -999 : static_cast<int32_t>(it->second);
}
std::string T(const Values& v, int32_t offset) {
  auto it = v.t.find(offset);
  return it == v.t.end() ? std::string() : it->second;
}

// The statement's runs for one table: what joining 16, 18, 20 and 22 gives.
std::deque<Run> StatementRuns(int32_t number) {
  Row head;
  for (const Values& t : Rows(16)) {
    if (I(t, TABLES_TABLE_ID) != number) continue;
    head[1] = I(t, TABLES_KEY_LENGTH);
    head[3] = I(t, TABLES_RECORD_LENGTH);
    head[4] = I(t, TABLES_DATABANK_ID);  // databank 1 is logical id 1
    head[7] = I(t, TABLES_TRAILING_START);
  }
  std::map<int32_t, Values> indexes;  // by constraint id
  for (const Values& c : Rows(18)) {
    if (I(c, TABLE_CONSTRAINTS_TABLE_ID) != number) continue;
    if (T(c, TABLE_CONSTRAINTS_CONSTRAINT_TYPE) == "PRIMARY KEY") {
      head[5] = std::string("PRIMARY KEY");
      head[6] = I(c, TABLE_CONSTRAINTS_CONSTRAINT_ID);
    } else {
      indexes[I(c, TABLE_CONSTRAINTS_CONSTRAINT_ID)] = c;
    }
  }
  std::map<std::string, Values> columns;
  for (const Values& c : Rows(22))
    if (I(c, COLUMNS_TABLE_ID) == number) columns[T(c, COLUMNS_COLUMN_NAME)] = c;
  std::deque<Run> runs;
  for (const auto& [id, c] : indexes) {
    std::map<int32_t, Values> keys;  // by ordinal position
    for (const Values& k : Rows(20))
      if (I(k, INDEXCOL_CONSTRAINT_ID) == id) keys[I(k, INDEXCOL_ORDINAL_POSITION)] = k;
    bool first = true;
    for (const auto& [position, k] : keys) {
      Row r = runs.empty() ? head : Row{};
      if (first) {
        r[8] = id;
        r[9] = I(c, TABLE_CONSTRAINTS_KEY_LENGTH);
        r[10] = I(c, TABLE_CONSTRAINTS_KEY_COLUMN_COUNT);
        r[11] = I(c, TABLE_CONSTRAINTS_ENTRY_LENGTH);
        r[13] = T(c, TABLE_CONSTRAINTS_CONSTRAINT_TYPE);
        r[14] = 0;
        r[15] = 0;
        r[16] = std::string("");
        r[17] = std::string("NO");
        r[25] = std::string("YES");
        first = false;
      }
      const Values& col = columns[T(k, INDEXCOL_COLUMN_NAME)];
      r[18] = T(k, INDEXCOL_IS_ASCENDING);
      r[19] = Value{};
      r[21] = I(col, COLUMNS_BYTE_OFFSET);
      r[22] = I(col, COLUMNS_BYTE_LENGTH);
      r[23] = Value{};
      runs.push_back({r, true});
    }
  }
  if (runs.empty()) runs.push_back({head, false});
  return runs;
}

class CatalogLoaderTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    std::vector<int32_t> outputs;
    for (int32_t n = 1; n <= 26; ++n) outputs.push_back(IsText(n) ? 16 : (n == 24 ? 12 : 8));
    stm_ = MakeStatement(base_, {8}, outputs);
    thr_ = Alloc(THR_BYTES);
    W(thr_, THR_CDITCB) = Alloc(4 * CDITCB_WORDS);
    W(thr_, THR_STM_MOS_TABLEX) = stm_;
    SetSlot(TLS_SLOT_THR, thr_);
    services_.damae2 = CatalogStatement;
    g_runs.clear();
  }
  int32_t stm_ = 0, thr_ = 0;
};

TEST_F(CatalogLoaderTest, TheKernelsLoaderGivesEveryGeneratedListFromTheRows) {
  for (int32_t i = 0; i < kCatalogTableCount; ++i) {
    const int32_t number = kCatalogTables[i].number;
    SCOPED_TRACE("table " + std::to_string(number));
    g_runs = StatementRuns(number);
    std::array<int32_t, OPEN_WORDS> open{};
    open[OPEN_TABLE] = number;
    int32_t status = 99;
    DSLoadTableDesc(base_, &status, open.data());
    ASSERT_EQ(status, 0);
    int32_t words = 0;
    const int32_t* list = CatalogDescription(number, &words);
    std::vector<int32_t> got;
    for (int32_t w = 0; w < words; ++w) got.push_back(W(W(thr_, THR_CDITCB), w));
    got[7] = list[7];  // header word 7 is not written
    EXPECT_EQ(got, std::vector<int32_t>(list, list + words));
    EXPECT_EQ(open[OPEN_KEYLEN], kCatalogTables[i].key_length);
    EXPECT_EQ(open[OPEN_RECLEN], kCatalogTables[i].record_length);
    EXPECT_EQ(open[OPEN_LID], 1);
  }
}

}  // namespace
