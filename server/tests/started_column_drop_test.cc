// A column dropped from a table over the started database: its own rows
// gone, the table's usage rows on what only it named gone, and the
// columns, view columns and view conditions behind it renumbered.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "catalog_gen.h"
#include "dict/dictionary_cursors.h"
#include "dict/dictionary_services.h"
#include "dict/level2.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "platform/packed_decimal.h"
#include "server/tests/started_work_fixture.h"

namespace {

constexpr int32_t kDomain = 2, kBaseTable = 6, kView = 7, kCollation = 18;

class StartedColumnDropTest : public StartedAdminWorkTest {
 protected:
  // A table of the named columns, numbered from 1 in order, each of 8
  // characters (the third a DECIMAL(9,2)); the internal key column, when
  // named, takes number 99.
  int32_t Table(const std::string& name, const std::vector<std::string>& columns) {
    const int32_t id = EmptyTable(name, 12);
    for (size_t k = 0; k < columns.size(); ++k) {
      const int32_t number = columns[k] == "ZAVOR_ROWID" ? 99 : static_cast<int32_t>(k + 1);
      DDColumnDef c = Def(columns[k].c_str(), number, k == 2 ? 2 : 1, k == 2 ? 9 : 8,
                          12 + 9 * static_cast<int32_t>(k), 9);
      c.scale = k == 2 ? 2 : 0;
      Column(id, c);
    }
    return id;
  }
  int32_t Number(int32_t table, const std::string& column) {
    int32_t pb[2] = {0, admin_};
    DDColumnRow row{};
    DDGetColumn(base_, pb, table, 0, 0, column.data(), static_cast<int32_t>(column.size()), &row,
                nullptr, 0);
    return pb[0] == 0 ? row.number : -pb[0];
  }
  int32_t Used(int32_t id) {
    int32_t pb[2] = {0, admin_};
    DDChkUsed(base_, pb, id);
    return pb[0];
  }
  int32_t Drop(int32_t table, const std::string& column, int32_t* type = nullptr) {
    int32_t pb[2] = {1, admin_}, t = 0, length = 0, scale = 0;
    DDCurTableKeys2(base_, pb, table, column.data(), static_cast<int32_t>(column.size()), &t,
                    &length, &scale);
    if (type) *type = t;
    return pb[0];
  }
  // The view's columns on tables: place -> (table, column number).
  std::map<int32_t, std::pair<int32_t, int32_t>> ViewColumns(int32_t view) {
    std::map<int32_t, std::pair<int32_t, int32_t>> out;
    int32_t pb[2] = {0, admin_}, flag = 0, reply[2] = {};
    for (int32_t n = 0; n < 20; ++n) {
      int32_t v[3] = {};
      DDLv2Vcl(base_, pb, view, v, &flag, reply);
      if (flag != 1) break;
      out[v[0]] = {v[1], v[2]};
      pb[0] = 1;
    }
    return out;
  }
  // Stored packed bytes of an integer of `width` bytes.
  static std::string Packed(int32_t value, int32_t width) {
    std::string b(static_cast<size_t>(width), '\xff');
    value_descriptor d;
    d.precision = 2 * width - 3;
    EXPECT_EQ(int_to_decimal(ByteSpan(reinterpret_cast<uint8_t*>(b.data()), b.size()), d, value), 0);
    return b;
  }
  // The column numbers of the stored conditions of `object`, in place
  // order, as their stored bytes.
  std::vector<std::string> ConditionColumns(int32_t object) {
    std::vector<std::string> out;
    const DDScanTable t{1, CAT_LV2_CONDITIONS2, 1, LV2_CONDITIONS2_KEYLEN, LV2_CONDITIONS2_RECLEN};
    const std::string key = Packed(object, 7);
    uint8_t row[LV2_CONDITIONS2_RECLEN];
    int32_t pb[2] = {4, admin_}, length = 0;
    for (int32_t n = 0; n < 10000; ++n, pb[0] = 0) {
      DDScanTableRows(base_, pb, t, row, sizeof row, &length);
      if (pb[0] != 0) break;
      if (std::memcmp(row, key.data(), 7) == 0)
        out.emplace_back(reinterpret_cast<char*>(row + LV2_CONDITIONS2_INT_21), 3);
    }
    EXPECT_EQ(pb[0], 1);
    return out;
  }
  void Condition(int32_t object, int32_t place, int32_t table, int32_t column) {
    int32_t pb[2] = {0, admin_};
    DDInsLv2Cond2(base_, pb, object, place, 1, table, column, 1, "X", 1);
    EXPECT_EQ(pb[0], 0);
  }
};

// Table T of A, B, C, D and the internal key column; B (number 2) is of a
// domain and a collation, which C also uses, holds column privileges and a
// stored default; a view reads A, C and D and tests D, and another table's
// condition names its own column 4.
TEST_F(StartedColumnDropTest, TheColumnGoesAndTheOnesBehindItMoveUp) {
  const int32_t t = Table("T_DROPS", {"A", "B", "C", "D", "ZAVOR_ROWID"});
  const int32_t other = Table("T_KEEPS", {"A", "B", "C", "D"});
  const int32_t domain = Object(kDomain, "D_OF_B"), collation = Object(kCollation, "C_OF_BC");
  int32_t pb[2] = {0, admin_};
  for (const char* column : {"B", "C"}) {
    DDInsTypeUse(base_, pb, kCollation, collation, t, column, 1);
    ASSERT_EQ(pb[0], 0);
  }
  DDInsTypeUse(base_, pb, kDomain, domain, t, "B", 1);
  ASSERT_EQ(pb[0], 0);
  DDInsObjUsage(base_, pb, t, kBaseTable, domain, kDomain);
  ASSERT_EQ(pb[0], 0);
  DDInsObjUsage(base_, pb, t, kBaseTable, collation, kCollation);
  ASSERT_EQ(pb[0], 0);
  DDInsColumnPriv(base_, pb, t, 1, "B", 1, kStartedUser, static_cast<int32_t>(std::strlen(kStartedUser)),
                  kStartedAdmin, static_cast<int32_t>(std::strlen(kStartedAdmin)), false);
  ASSERT_EQ(pb[0], 0);
  const std::vector<uint8_t> text(3 * 500, 0);
  DDInsSource(base_, pb, t, "B", 1, 4, text.data(), 500);
  ASSERT_EQ(pb[0], 0);
  const int32_t view = Object(kView, "V_ON_DROPS");
  for (auto [place, column] : {std::pair{1, 1}, {2, 3}, {3, 4}}) {
    DDInsViewTableUse(base_, pb, view, place, t, column);
    ASSERT_EQ(pb[0], 0);
  }
  Condition(view, 1, t, 4);
  Condition(view, 2, t, 1);
  Condition(view, 3, other, 4);

  int32_t type = 0;
  ASSERT_EQ(Drop(t, "B", &type), 0);
  EXPECT_EQ(type, 1) << "the dropped column's type code";
  EXPECT_EQ(Number(t, "B"), -1) << "no row";
  EXPECT_EQ(Number(t, "A"), 1);
  EXPECT_EQ(Number(t, "C"), 2);
  EXPECT_EQ(Number(t, "D"), 3);
  EXPECT_EQ(Number(t, "ZAVOR_ROWID"), 99);
  EXPECT_EQ(Number(other, "D"), 4);
  EXPECT_EQ(Used(domain), 0) << "only B named the domain";
  EXPECT_EQ(Used(collation), 1) << "C still names the collation";
  int32_t held = 0;
  pb[0] = 0;
  DDChkColumnPriv(base_, pb, t, 1, "B", 1, kStartedUser,
                  static_cast<int32_t>(std::strlen(kStartedUser)), &held);
  EXPECT_EQ(pb[0], 1) << "the column privilege went";
  std::vector<uint8_t> back(3 * 800);
  int32_t total = 0, length = 0;
  pb[0] = 0;
  DDGetSourceInfo(base_, pb, t, "B", 1, 4, back.data(), 800, &total, &length);
  EXPECT_EQ(pb[0], 1) << "the stored default went";
  const std::map<int32_t, std::pair<int32_t, int32_t>> columns{{1, {t, 1}}, {2, {t, 2}}, {3, {t, 3}}};
  EXPECT_EQ(ViewColumns(view), columns);
  EXPECT_EQ(ConditionColumns(view),
            (std::vector<std::string>{Packed(3, 3), Packed(1, 3), Packed(4, 3)}));
  // The one row was handed back; the next call ends.
  pb[0] = 0;
  DDCurTableKeys2(base_, pb, t, "B", 1, &type, &length, &total);
  EXPECT_EQ(pb[0], 1);
}

// Columns whose name order is not their number order: the renumbering
// walks the table by name, so a column moves to a number another still
// holds for a moment; the committed numbers are whole, and a column is
// found by its new number.
TEST_F(StartedColumnDropTest, ColumnsNamedOutOfTheirOrderAreRenumberedAndCommitted) {
  const std::vector<std::string> names{"Z", "DROPPED", "Y", "X", "W"};
  const int32_t t = Table("T_DROPS_UNORDERED", names);
  ASSERT_EQ(Drop(t, "DROPPED"), 0);
  ASSERT_EQ(End(admin_, 0), 0);
  ASSERT_EQ(Begin(admin_), 0);
  EXPECT_EQ(Number(t, "DROPPED"), -1);
  for (size_t k = 2; k < names.size(); ++k) {
    EXPECT_EQ(Number(t, names[k]), static_cast<int32_t>(k)) << names[k];
    int32_t pb[2] = {0, admin_};
    DDColumnRow row{};
    DDGetColumn(base_, pb, t, static_cast<int32_t>(k), 0, nullptr, 0, &row, nullptr, 0);
    ASSERT_EQ(pb[0], 0) << k;
    EXPECT_EQ(std::string(row.name, static_cast<size_t>(row.name_length)), names[k]);
  }
  EXPECT_EQ(Number(t, "Z"), 1);
}

TEST_F(StartedColumnDropTest, AMissingColumnTheInternalKeyAndABadName) {
  const int32_t t = Table("T_MISSING_COLUMN", {"A", "ZAVOR_ROWID"});
  EXPECT_EQ(Drop(t, "Z"), 1);
  EXPECT_EQ(Drop(t, "ZAVOR_ROWID"), 1);
  EXPECT_EQ(Number(t, "ZAVOR_ROWID"), 99);
  EXPECT_EQ(Drop(t, std::string(129, 'A')), DD_BAD_VALUE);
  EXPECT_EQ(Drop(t, ""), DD_BAD_VALUE);
  EXPECT_EQ(Number(t, "A"), 1);
}

}  // namespace
