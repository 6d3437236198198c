// The catalog look-ups through the thread's operator statements
// (DSGetObjectName, DSGetColumnName) over a fake interpreter that hands out
// canned rows, and the log's location text built from them (DSLogRecText).
#include "kernel/catalog_queries.h"

#include <map>
#include <string>
#include <vector>

#include "kernel/databank_control.h"
#include "kernel/log_record_text.h"
#include "kernel/table_use.h"
#include "kernel/tests/core_fixture.h"
#include "kernel/tests/statement_fixture.h"

namespace {

struct Row {
  int32_t id;  // the parameter 1 the row answers
  std::string first;
  int32_t kind;
  std::string second, third;
};
std::map<int32_t, std::vector<Row>> g_rows;  // statement -> its rows
std::map<int32_t, size_t> g_next;
int32_t g_run_error = 0, g_runs = 0;

// Columns: 1 the first name, 2 the kind, 3 the second name, 7 two bytes.
const std::vector<int32_t> kColumns = {129, 8, 257, 8, 2, 2, 3, 2};

void FakeRun(int32_t* base, int32_t* result, int32_t stm, int32_t) {
  std::memset(result, 0, 13 * sizeof(int32_t));
  int32_t& pc = sqlpool_word(base, stm + STM_PC);
  ++g_runs;
  if (g_run_error != 0) {
    result[0] = result[1] = g_run_error;
    pc = 0;
    return;
  }
  if (pc == 2) g_next[stm] = 0;
  const std::vector<Row>& rows = g_rows[stm];
  size_t& at = g_next[stm];
  if (at >= rows.size()) {
    pc = 0;
    return;
  }
  bool null = false;
  const int32_t id = ParameterInt(base, stm, 1, &null);
  while (at < rows.size() && rows[at].id != id) ++at;
  if (at >= rows.size()) {
    pc = 0;
    return;
  }
  const Row& r = rows[at++];
  PutColumnText(base, stm, 1, r.first);
  PutColumnInt(base, stm, 2, r.kind);
  PutColumnText(base, stm, 3, r.second);
  PutColumnText(base, stm, 7, r.third);
  pc = 3;
}

int32_t OpName(int32_t opcode, char* name) {
  if (opcode != 9) return 1;
  std::memcpy(name, "ADD", 3);
  return 0;
}

class CatalogQueryTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    services_.damae2 = FakeRun;
    g_rows.clear();
    g_next.clear();
    g_run_error = g_runs = 0;
    thr_ = Alloc(THR_BYTES);
    SetSlot(TLS_SLOT_THR, thr_);
    databank_ = W(thr_, THR_STM_MOS_DATABANK) = MakeStatement(base_, {8, 8}, kColumns);
    table_ = W(thr_, THR_STM_MOS_TABLE) = MakeStatement(base_, {8}, kColumns);
    g_rows[databank_] = {{5, "BANK5", 1, "bank5.dbf", "x1"},
                         {5, "BANK5", 2, "bank5-2.dbf", "x2"},
                         {6, "BANK6", 1, "bank6.dbf", ""}};
    g_rows[table_] = {{42, "SCHEMA", -5, "OTHER", ""}, {42, "SCH", -2, "ORDERS", "t"}};
  }
  // The names as three strings without their padding, or the status.
  std::pair<int32_t, std::vector<std::string>> Names(int32_t kind, int32_t id) {
    std::vector<uint8_t> area(OBJECT_NAME_BYTES + 2, '#');
    const int32_t rc = DSGetObjectName(base_, kind, id, area.data(), OBJECT_NAME_BYTES + 2);
    auto trim = [&](int32_t from, int32_t to) {
      std::string s(area.begin() + from, area.begin() + to);
      while (!s.empty() && s.back() == ' ') s.pop_back();
      return s;
    };
    return {rc, {trim(0, 128), trim(128, 384), trim(384, 386)}};
  }
  int32_t thr_ = 0, databank_ = 0, table_ = 0;
};

using Strings = std::vector<std::string>;

TEST_F(CatalogQueryTest, ObjectNamesByKind) {
  // A databank by its sequence number; -1 takes its first row.
  EXPECT_EQ(Names(2, 5), std::make_pair(0, Strings{"BANK5", "bank5-2.dbf", "x2"}));
  EXPECT_EQ(Names(-1, 5), std::make_pair(0, Strings{"BANK5", "bank5.dbf", "x1"}));
  bool null = false;
  EXPECT_EQ(ParameterInt(base_, databank_, 1, &null), 5);
  ParameterInt(base_, databank_, 2, &null);
  EXPECT_TRUE(null);
  // A table: rows of other kinds are passed over.
  EXPECT_EQ(Names(-2, 42), std::make_pair(0, Strings{"SCH", "ORDERS", "t"}));
  EXPECT_EQ(ParameterInt(base_, table_, 1, &null), 42);
  // No row of the kind, no domain statement (no image to make it from).
  EXPECT_EQ(Names(7, 5).first, NAME_NOT_FOUND);
  EXPECT_EQ(Names(-3, 1).first, NAME_NOT_FOUND);
  g_run_error = -4711;
  EXPECT_EQ(Names(-2, 42).first, -4711);
}

TEST_F(CatalogQueryTest, ObjectNameRefusals) {
  uint8_t area[OBJECT_NAME_BYTES] = {};
  EXPECT_EQ(DSGetObjectName(base_, -2, 1, area, OBJECT_NAME_BYTES - 1), KERNEL_BAD_PARAMETER);
  // The third name is cut at the area's end: nothing is written past it.
  std::vector<uint8_t> big(OBJECT_NAME_BYTES + 8, '#');
  EXPECT_EQ(DSGetObjectName(base_, 2, 5, big.data(), OBJECT_NAME_BYTES + 1), 0);
  EXPECT_EQ(big[OBJECT_NAME_BYTES], 'x');
  EXPECT_EQ(big[OBJECT_NAME_BYTES + 1], '#');
  SetSlot(TLS_SLOT_THR, 0);
  EXPECT_EQ(DSGetObjectName(base_, -2, 1, area, sizeof area), DCB_NO_THREAD);
  SetSlot(TLS_SLOT_THR, thr_);
  W(thr_, THR_STM_MOS_TABLE) = 0;
  EXPECT_EQ(DSGetObjectName(base_, -2, 1, area, sizeof area), NAME_NOT_FOUND);
}

TEST_F(CatalogQueryTest, ColumnName) {
  const int32_t column = W(thr_, THR_STM_MOS_COLUMN) = MakeStatement(base_, {8, 8}, kColumns);
  const int32_t usr = Alloc(USR_BYTES);
  g_rows[column] = {{77, "AMOUNT", 0, "", ""}};
  int32_t rq[4] = {-1, usr, 77, 3};
  uint8_t name[COLUMN_NAME_BYTES + 1];
  name[COLUMN_NAME_BYTES] = '#';
  DSGetColumnName(base_, rq, name);
  EXPECT_EQ(rq[COLREQ_STATUS], 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name), COLUMN_NAME_BYTES),
            "AMOUNT" + std::string(122, ' '));
  EXPECT_EQ(name[COLUMN_NAME_BYTES], '#');
  bool null = false;
  EXPECT_EQ(ParameterInt(base_, column, 1, &null), 77);
  EXPECT_EQ(ParameterInt(base_, column, 2, &null), 3);
  // No row: blanks; a failing run: its result vector in the caller's.
  g_rows[column].clear();
  DSGetColumnName(base_, rq, name);
  EXPECT_EQ(rq[COLREQ_STATUS], 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name), COLUMN_NAME_BYTES), std::string(128, ' '));
  g_run_error = -12345;
  DSGetColumnName(base_, rq, name);
  EXPECT_EQ(rq[COLREQ_STATUS], -12345);
  EXPECT_EQ(W(usr, USR_RVEC_RCODE), -12345);
}

TEST_F(CatalogQueryTest, ColumnStatementThatCannotBeMadeFailsWithTheThreadsVector) {
  // No image -247 is installed: the statement is not made, and the
  // thread's result vector (the creation's failure) goes to the caller.
  const int32_t usr = Alloc(USR_BYTES);
  W(thr_ + THR_USR_START, USR_LVL) = thr_ + THR_LVL_START;
  const int64_t live = Live();
  int32_t rq[4] = {0, usr, 1, 1};
  uint8_t name[COLUMN_NAME_BYTES];
  DSGetColumnName(base_, rq, name);
  EXPECT_LT(rq[COLREQ_STATUS], 0);
  EXPECT_EQ(W(usr, USR_RVEC_RCODE), rq[COLREQ_STATUS]);
  EXPECT_EQ(W(thr_, THR_STM_MOS_COLUMN), 0);
  EXPECT_EQ(Live(), live);
  EXPECT_EQ(W(sys_, SYS_ST_STATEMENTS), 0);
}

TEST_F(CatalogQueryTest, LogRecordText) {
  services_.da_op_name = OpName;
  const std::string ff(1, '\xff');
  struct Case {
    int32_t bits, opcode, lid, seqno, table, pc;
    std::string text;
  };
  const int32_t DB = RVEC_MASK_DATABANK, TB = RVEC_MASK_TABLE, OP = RVEC_MASK_OPCODE,
                PC = RVEC_MASK_PC;
  const Case cases[] = {
      {DB, 0, 5, 2, 0, 0, "BANK5" + ff + "bank5-2.dbf"},
      {DB, 0, 1, -1, 0, 0, "SYSDB" + ff + "sysdb9.dbf"},
      {DB, 0, 7, -1, 0, 0, "DBANKID=7"},
      {DB, 0, 7, 3, 0, 0, "DBANKID=7, SEQNO=3"},
      {TB, 0, 0, 0, 42, 0, ff + "SCH.ORDERS"},
      {DB | TB | OP | PC, 9, 5, -1, 42, 314,
       "BANK5" + ff + "bank5.dbf" + ff + "SCH.ORDERS" + ff + "ADD" + ff + "314"},
      {OP, 12, 0, 0, 0, 0, ff + "OPCODE=12"},
      {TB, 0, 0, 0, 43, 0, ff + "TABLEID=43"},
      {0, 9, 5, 2, 42, 1, ""},
  };
  for (const Case& c : cases) {
    const int32_t rvec[RVEC_WORDS] = {-1, c.bits, c.opcode, c.lid, c.seqno, c.table, c.pc};
    uint8_t text[200];
    int32_t length = 2;
    std::memcpy(text, "> ", 2);
    DSLogRecText(base_, text, sizeof text, &length, rvec);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text), length), "> " + c.text) << c.bits;
  }
  // The text stops at the buffer's end.
  const int32_t rvec[RVEC_WORDS] = {-1, RVEC_MASK_DATABANK, 0, 7, 3};
  uint8_t text[8] = {};
  int32_t length = 0;
  DSLogRecText(base_, text, 6, &length, rvec);
  EXPECT_EQ(length, 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text), 7), std::string("DBANKI") + '\0');
}

}  // namespace
