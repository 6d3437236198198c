// The rewrite of an object's usage rows over the started database: a
// column's default dropped, replaced or given, with the usage rows of the
// sequences the old default named, and every usage row of an object but
// those on the tables a view reads. The statement keeps its sequences in a
// work table the kernel makes at the statement's open and drops at its
// close.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dict/dictionary_cursors.h"
#include "dict/dictionary_services.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/statement_prepare.h"
#include "dict/work_block.h"
#include "du/record_access_words.h"
#include "du/record_operations.h"
#include "du/tables.h"
#include "kernel/control_blocks.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"
#include "platform/packed_decimal.h"
#include "server/tests/started_work_fixture.h"

namespace {

constexpr int32_t kDomain = 2, kBaseTable = 6, kView = 7, kSequence = 14;

std::vector<uint8_t> Text3(const std::string& s) {
  std::vector<uint8_t> t;
  for (char c : s) t.insert(t.end(), {0, 0, static_cast<uint8_t>(c)});
  return t;
}

class StartedUsageTest : public StartedAdminWorkTest {
 protected:
  // A base table of columns A, B, C and D, each of 8 characters; A, B and
  // C with the default NEXT.
  int32_t Table(const std::string& name) {
    const int32_t id = EmptyTable(name, 8);
    const char* names[] = {"A", "B", "C", "D"};
    const std::vector<uint8_t> d = Text3("NEXT");
    for (int32_t k = 0; k < 4; ++k)
      Column(id, Def(names[k], k + 1, 1, 8, 8 + 9 * k, 9), k < 3 ? d.data() : nullptr, k < 3 ? 4 : 0);
    return id;
  }
  void TypeUse(int32_t kind, int32_t used, int32_t table, const char* column) {
    int32_t pb[2] = {0, admin_};
    DDInsTypeUse(base_, pb, kind, used, table, column, static_cast<int32_t>(std::strlen(column)));
    EXPECT_EQ(pb[0], 0) << column;
  }
  void Uses(int32_t user, int32_t user_kind, int32_t used, int32_t used_kind) {
    int32_t pb[2] = {0, admin_};
    DDInsObjUsage(base_, pb, user, user_kind, used, used_kind);
    EXPECT_TRUE(pb[0] == 0 || pb[0] == 2) << pb[0];
  }
  int32_t Drop(int32_t id, const char* column, int32_t mode, const std::string& text = "") {
    int32_t pb[2] = {0, admin_};
    const std::vector<uint8_t> t = Text3(text);
    DDDropUsage(base_, pb, id, column, column ? static_cast<int32_t>(std::strlen(column)) : 0, mode,
                t.data(), static_cast<int32_t>(text.size()));
    return pb[0];
  }
  // 1 when a usage row names `id` as used.
  int32_t Used(int32_t id) {
    int32_t pb[2] = {0, admin_};
    DDChkUsed(base_, pb, id);
    return pb[0];
  }
  // The columns whose type-usage rows name DOMAIN or SEQUENCE `id`.
  std::string UsingColumns(int32_t id, int32_t kind) {
    std::string columns;
    int32_t pb[2] = {1, admin_};
    for (;;) {
      int32_t table = 0, table_kind = 0;
      char column[128], name[128], schema[128];
      DDGetDomainSeq(base_, pb, id, kind, &table, column, &table_kind, name, schema);
      if (pb[0] != 0) break;
      columns += column[0];
      pb[0] = 0;
    }
    EXPECT_EQ(pb[0], 1);
    return columns;
  }
  // The column's default, "-" for none.
  std::string Default(int32_t table, const char* column) {
    int32_t pb[2] = {0, admin_};
    DDColumnRow row{};
    uint8_t text[3 * 20];
    DDGetColumn(base_, pb, table, 0, 0, column, static_cast<int32_t>(std::strlen(column)), &row,
                text, 20);
    EXPECT_EQ(pb[0], 0) << column;
    if (row.default_length < 0) return "-";
    std::string s;
    for (int32_t k = 0; k < row.default_length && k < 20; ++k) s += static_cast<char>(text[3 * k + 2]);
    return s;
  }
};

// Columns A, B and C take their defaults from sequences: A from S1, B and
// C from S2; A is also of a domain. Each default dropped or replaced takes
// its sequence's type-usage row with it, and the table's usage row on the
// sequence once no column names it.
TEST_F(StartedUsageTest, AColumnsDefaultTakesItsSequenceUsageWithIt) {
  const int32_t t = Table("T_DEFAULTS");
  const int32_t s1 = Object(kSequence, "S_ONE"), s2 = Object(kSequence, "S_TWO");
  const int32_t domain = Object(kDomain, "D_OF_A");
  TypeUse(kSequence, s1, t, "A");
  TypeUse(kSequence, s2, t, "B");
  TypeUse(kSequence, s2, t, "C");
  TypeUse(kDomain, domain, t, "A");
  Uses(t, kBaseTable, s1, kSequence);
  Uses(t, kBaseTable, s2, kSequence);

  EXPECT_EQ(Drop(t, "A", 0), 0);
  EXPECT_EQ(Default(t, "A"), "-");
  EXPECT_EQ(UsingColumns(s1, kSequence), "");
  EXPECT_EQ(Used(s1), 0);
  EXPECT_EQ(UsingColumns(domain, kDomain), "A") << "the type's usage stays";

  EXPECT_EQ(Drop(t, "B", 1, "'B2'"), 0);
  EXPECT_EQ(Default(t, "B"), "'B2'");
  EXPECT_EQ(UsingColumns(s2, kSequence), "C");
  EXPECT_EQ(Used(s2), 1) << "column C still names it";

  EXPECT_EQ(Drop(t, "C", 1, "7"), 0);
  EXPECT_EQ(Default(t, "C"), "7");
  EXPECT_EQ(UsingColumns(s2, kSequence), "");
  EXPECT_EQ(Used(s2), 0);

  // A column without a default gets one: nothing is dropped.
  TypeUse(kSequence, s1, t, "D");
  Uses(t, kBaseTable, s1, kSequence);
  EXPECT_EQ(Drop(t, "D", -1, "NEXT"), 0);
  EXPECT_EQ(Default(t, "D"), "NEXT");
  EXPECT_EQ(UsingColumns(s1, kSequence), "D");
  EXPECT_EQ(Used(s1), 1);
  // The same statement again in the same work: its work table is empty.
  EXPECT_EQ(Drop(t, "D", 0), 0);
  EXPECT_EQ(Used(s1), 0);
  EXPECT_EQ(Default(t, "D"), "-");
}

TEST_F(StartedUsageTest, AMissingColumnAndBadArgumentsChangeNothing) {
  const int32_t t = Table("T_MISSING");
  const int32_t s = Object(kSequence, "S_KEPT");
  TypeUse(kSequence, s, t, "A");
  Uses(t, kBaseTable, s, kSequence);
  EXPECT_EQ(Drop(t, "Z", 0), 1);
  EXPECT_EQ(Drop(t, "A", 2), DD_BAD_VALUE);
  const std::string long_name(129, 'A');
  int32_t pb[2] = {0, admin_};
  DDDropUsage(base_, pb, t, long_name.data(), 129, 0, nullptr, 0);
  EXPECT_EQ(pb[0], DD_BAD_VALUE);
  EXPECT_EQ(Default(t, "A"), "NEXT");
  EXPECT_EQ(Used(s), 1);
  EXPECT_EQ(UsingColumns(s, kSequence), "A");
}

// The statement stays prepared with its work table over many works,
// committed or rolled back, beside another session's runs of its own: the
// sequences one run collects never reach the next run or the other's.
TEST_F(StartedUsageTest, RunsInManyWorksAndTwoSessionsKeepTheirWorkTablesApart) {
  const int32_t t = Table("T_ROUNDS");
  const int32_t s = Object(kSequence, "S_ROUNDS");
  ASSERT_EQ(End(admin_, 0), 0);
  for (int32_t round = 0; round < 12; ++round) {
    ASSERT_EQ(Begin(admin_), 0);
    TypeUse(kSequence, s, t, "A");
    TypeUse(kSequence, s, t, "B");
    Uses(t, kBaseTable, s, kSequence);
    ASSERT_EQ(Begin(user_), 0);
    int32_t pb[2] = {0, user_};
    DDDropUsage(base_, pb, t, "C", 1, 0, nullptr, 0);
    EXPECT_EQ(pb[0], 0) << round;
    EXPECT_EQ(Drop(t, "A", 0), 0) << round;
    EXPECT_EQ(Used(s), 1) << round << ": B still names it";
    EXPECT_EQ(Drop(t, "B", 1, "'X'"), 0) << round;
    EXPECT_EQ(Used(s), 0) << round;
    EXPECT_EQ(End(user_, 1), 0);
    ASSERT_EQ(End(admin_, round % 3 == 0 ? 0 : 1), 0);
  }
  ASSERT_EQ(Begin(admin_), 0);
}

// A run that fails between collecting a sequence and dropping its usage
// (a kernel error) leaves the sequence in the work table, which lives on
// with the prepared statement. The next run, of another table, must not
// take that table's usage row on the sequence with it: every run starts
// from an empty work table.
TEST_F(StartedUsageTest, ASequenceLeftByAFailedRunIsNotTheNextRunsToDrop) {
  const int32_t t = Table("T_LEFTOVER");
  const int32_t s = Object(kSequence, "S_LEFTOVER");
  Uses(t, kBaseTable, s, kSequence);  // the table rests on it otherwise
  ASSERT_EQ(Drop(t, "D", -1, "1"), 0);  // prepared and opened, its work table made
  int32_t status = 0;
  const int32_t* slot = DDWorkSlot(base_, admin_, SLOT_DDDropUsage, &status);
  ASSERT_NE(slot, nullptr);
  ASSERT_NE(slot[SLOT_STM], 0);
  int32_t* work = nullptr;
  ForEachListedRecordBlock(base_, slot[SLOT_STM] + STM_NEXT_COM, [&](int32_t* rec) {
    if (rec[DUREC_TNAME] == DU_WORK_TABLE) work = rec;
  });
  ASSERT_NE(work, nullptr);
  ASSERT_EQ(work[DUREC_RECLEN], 7);
  value_descriptor d;
  d.precision = 11;
  ASSERT_EQ(int_to_decimal(ByteSpan(reinterpret_cast<uint8_t*>(&work[DUREC_RECORD]), 7), d, s), 0);
  DUInsertRow(base_, work, admin_);  // what the failed run left
  ASSERT_EQ(work[DUREC_STATUS], 0);

  EXPECT_EQ(Drop(t, "A", 0), 0);
  EXPECT_EQ(Used(s), 1) << "the table's usage row on a sequence no default of it named";
}

// Without a column every usage row of the object goes, but a view keeps
// its usage rows on the tables its definition reads.
TEST_F(StartedUsageTest, AnObjectLosesItsUsageRowsButAViewsTables) {
  const int32_t read = Table("T_READ_BY_VIEW"), other = Table("T_OTHER");
  const int32_t domain = Object(kDomain, "D_OF_VIEW");
  const int32_t v = Object(kView, "V_USAGE");
  int32_t pb[2] = {0, admin_};
  DDInsTable(base_, pb, v, 2, sqlpool_word(base_, admin_ + USR_USERID), 8, true, 1);
  ASSERT_EQ(pb[0], 0);
  DDInsViewTableUse(base_, pb, v, 1, read, 0);
  ASSERT_EQ(pb[0], 0);
  Uses(v, kView, read, kBaseTable);
  Uses(v, kView, other, kBaseTable);
  TypeUse(kDomain, domain, v, "X");
  EXPECT_EQ(Drop(v, nullptr, 0), 0);
  EXPECT_EQ(Used(read), 1);
  EXPECT_EQ(Used(other), 0);
  EXPECT_EQ(UsingColumns(domain, kDomain), "");
}

}  // namespace
