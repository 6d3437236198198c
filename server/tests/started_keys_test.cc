// The keys of a table dropped over the started database: one a call with
// all the rows that belong to it, by key, by kind or every one, the
// columns keeping their rows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dict/compiler_lookups.h"
#include "dict/dictionary_cursors.h"
#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "server/tests/started_work_fixture.h"

namespace {

constexpr int32_t kConstraint = 16;

class StartedKeysTest : public StartedAdminWorkTest {
 protected:
  // A base table of integer columns A, B and C; A not nullable.
  int32_t Table(const std::string& name) {
    const int32_t id = EmptyTable(name, 7);
    const char* names[] = {"A", "B", "C"};
    for (int32_t k = 0; k < 3; ++k) {
      DDColumnDef c = Def(names[k], k + 1, 7, 11, 7 * k, 7);
      c.nullable = k != 0;
      Column(id, c);
    }
    return id;
  }
  // A key of `kind` over one column, with an object row when named.
  int32_t Key(int32_t table, int32_t kind, const char* column, int32_t number,
              const std::string& name = "") {
    int32_t pb[2] = {0, admin_}, id = 0;
    if (name.empty()) {
      DDNewIds(base_, pb, 1, &id);
      EXPECT_EQ(pb[0], 0);
    } else {
      id = Object(kConstraint, name);
    }
    DDInsConstraint(base_, pb, id, kind, table, 7, 1, 14, 40 + kind, 0);
    EXPECT_EQ(pb[0], 0);
    if (kind == 7) return id;  // a check has no key columns
    DDInsKey(base_, pb, id, table, 1, column, 1, kind, 1, number);
    EXPECT_EQ(pb[0], 0);
    return id;
  }
  std::vector<DDDroppedKey> DropAll(int32_t table, int32_t key, int32_t kind, int32_t* end) {
    std::vector<DDDroppedKey> out;
    int32_t pb[2] = {1, admin_};
    for (int n = 0; n < 20; ++n) {
      DDDroppedKey k{};
      DDDelKeys(base_, pb, table, key, kind, &k);
      if (pb[0] != 0) break;
      out.push_back(k);
      pb[0] = 0;
    }
    *end = pb[0];
    return out;
  }
  std::vector<int32_t> KeyIds(int32_t table) {
    std::vector<int32_t> entries(8 * DD_CI_ENTRY_WORDS);
    int32_t count = 0, pb[2] = {0, admin_};
    DDCmpCI(base_, pb, table, 8, entries.data(), &count);
    std::vector<int32_t> ids;
    for (int32_t k = 0; k < count; ++k) ids.push_back(entries[k * DD_CI_ENTRY_WORDS + DD_CI_ID]);
    return ids;
  }
  bool HasObject(int32_t id) {
    int32_t pb[2] = {0, admin_};
    char name[128];
    DDGetName(base_, pb, id, name, nullptr);
    return pb[0] == 0;
  }
  bool Nullable(int32_t table, const char* column) {
    int32_t pb[2] = {0, admin_};
    DDColumnRow row{};
    DDGetColumn(base_, pb, table, 0, 0, column, 1, &row, nullptr, 0);
    EXPECT_EQ(pb[0], 0) << column;
    return row.nullable != 0;
  }
};

// A table with a primary key on A, an index on B and a foreign key on C
// that refers to another table's primary key and rests on its REFERENCES
// privilege: a key by id, then the keys of one kind, then every key.
TEST_F(StartedKeysTest, KeysGoOneACallWithTheirRows) {
  const int32_t t = Table("T_KEYED"), other = Table("T_REFERRED");
  const int32_t pk = Key(t, 1, "A", 1);
  const int32_t index = Key(t, 2, "B", 2, "I_KEYED_B");
  const int32_t fk = Key(t, 3, "C", 3, "F_KEYED_C");
  const int32_t other_pk = Key(other, 1, "A", 1);
  int32_t pb[2] = {0, admin_};
  DDInsRefConstraint(base_, pb, fk, t, other_pk, other, 1, 4, 4);
  ASSERT_EQ(pb[0], 0);
  DDInsPrivUsage(base_, pb, fk, "F_KEYED_C", 9, other, kConstraint, 5);
  ASSERT_EQ(pb[0], 0);
  DDChkUsed(base_, pb, other);
  ASSERT_EQ(pb[0], 1);
  ASSERT_EQ(KeyIds(t), (std::vector<int32_t>{pk, index, fk}));

  int32_t end = 0;
  std::vector<DDDroppedKey> got = DropAll(t, fk, 0, &end);
  EXPECT_EQ(end, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].id, fk);
  EXPECT_EQ(got[0].kind, 3);
  EXPECT_EQ(got[0].number, 43);
  EXPECT_EQ(got[0].referred_table, other);
  EXPECT_EQ(got[0].referred_key, other_pk);
  EXPECT_FALSE(HasObject(fk));
  DDChkUsed(base_, pb, other);
  EXPECT_EQ(pb[0], 0) << "the foreign key's usage rows went with it";
  EXPECT_EQ(KeyIds(t), (std::vector<int32_t>{pk, index}));

  got = DropAll(t, 0, 1, &end);
  EXPECT_EQ(end, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].id, pk);
  EXPECT_EQ(got[0].kind, 1);
  EXPECT_EQ(got[0].referred_table, 0);
  EXPECT_FALSE(Nullable(t, "A")) << "the column keeps its NOT NULL";

  got = DropAll(t, 0, 0, &end);
  EXPECT_EQ(end, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].id, index);
  EXPECT_EQ(got[0].kind, 2);
  EXPECT_FALSE(HasObject(index));
  EXPECT_TRUE(KeyIds(t).empty());
  EXPECT_TRUE(Nullable(t, "B"));
  EXPECT_EQ(KeyIds(other), (std::vector<int32_t>{other_pk}));
}

TEST_F(StartedKeysTest, OtherKindsAMissingTableAndAMissingKeyColumn) {
  const int32_t t = Table("T_ODD_KEYS");
  const int32_t check = Key(t, 7, "A", 1, "C_ODD");
  int32_t end = 0;
  std::vector<DDDroppedKey> got = DropAll(t, 0, 0, &end);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].id, check);
  EXPECT_EQ(got[0].kind, 7);
  EXPECT_EQ(end, 1);

  int32_t pb[2] = {1, admin_};
  DDDroppedKey k{};
  for (int32_t kind : {-1, 6, 8}) {
    pb[0] = 1;
    DDDelKeys(base_, pb, t, 0, kind, &k);
    EXPECT_EQ(pb[0], DD_KIND_OUTSIDE) << kind;
  }
  EXPECT_TRUE(DropAll(999999, 0, 0, &end).empty());
  EXPECT_EQ(end, 1) << "no such table";

  Key(t, 2, "Z", 9);
  DropAll(t, 0, 0, &end);
  EXPECT_EQ(end, -19007) << "a key column the table lacks";
}

}  // namespace
