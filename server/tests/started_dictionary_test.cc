// The dictionary's writes and the compiler's lookups over a created,
// started database, with two logged-in sessions: a table in open
// dictionary work is seen by its own session's lookups only, and columns of
// every type code read back by the type rules.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dict/compiler_lookups.h"
#include "dict/dictionary_services.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/tests/catalog_forms.h"
#include "dict/work_block.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "server/tests/started_work_fixture.h"

namespace {

class StartedDictionaryTest : public StartedWorkTest {
 protected:
  int32_t NewId(int32_t usr) {
    int32_t pb[2] = {0, usr}, id = 0;
    DDNewIds(base_, pb, 1, &id);
    EXPECT_EQ(pb[0], 0);
    return id;
  }
  // A base table of the administrator's schema, in open work.
  int32_t MakeTable(const std::string& name) {
    const int32_t id = NewId(admin_);
    int32_t pb[2] = {0, admin_};
    DDInsObject(base_, pb, id, 6, kStartedAdmin, static_cast<int32_t>(std::strlen(kStartedAdmin)),
                name.data(), static_cast<int32_t>(name.size()));
    EXPECT_EQ(pb[0], 0);
    pb[0] = 0;
    DDInsTable(base_, pb, id, 1, sqlpool_word(base_, admin_ + USR_USERID), 8, true, 1);
    EXPECT_EQ(pb[0], 0);
    return id;
  }
  int32_t Find(int32_t usr, const std::string& name, DDTableAttr* a) {
    int32_t pb[2] = {0, usr};
    DDTableName n;
    n.schema = kStartedAdmin;
    n.schema_length = static_cast<int32_t>(std::strlen(kStartedAdmin));
    n.name = name.data();
    n.name_length = static_cast<int32_t>(name.size());
    DDCmpTableAttr(base_, pb, n, false, a);
    return pb[0];
  }
};

TEST_F(StartedDictionaryTest, OpenWorkIsSeenByItsOwnSessionOnly) {
  ASSERT_EQ(Begin(admin_), 0);
  const int32_t id = MakeTable("T_OPEN_WORK");
  DDTableAttr a{};
  ASSERT_EQ(Find(admin_, "T_OPEN_WORK", &a), 0);
  EXPECT_EQ(a.id, id);
  EXPECT_EQ(a.key_length, 8);
  ASSERT_EQ(Begin(user_), 0);
  EXPECT_EQ(Find(user_, "T_OPEN_WORK", &a), DD_TABLE_NOT_FOUND);
  EXPECT_EQ(Find(user_, "T_NEVER", &a), DD_TABLE_NOT_FOUND);
  ASSERT_EQ(End(user_, 0), 0);
  // Rolled back: gone for both.
  ASSERT_EQ(End(admin_, 1), 0);
  ASSERT_EQ(Begin(admin_), 0);
  EXPECT_EQ(Find(admin_, "T_OPEN_WORK", &a), DD_TABLE_NOT_FOUND);
  // Committed: the other session sees it too.
  const int32_t kept = MakeTable("T_COMMITTED");
  ASSERT_EQ(End(admin_, 0), 0);
  ASSERT_EQ(Begin(user_), 0);
  ASSERT_EQ(Find(user_, "T_COMMITTED", &a), 0);
  EXPECT_EQ(a.id, kept);
  ASSERT_EQ(End(user_, 0), 0);
}

// Columns of every type code and random sizes, written by DDInsColumn and
// read back through DDGetColumn and DDCmpColumns by the type rules.
TEST_F(StartedDictionaryTest, ColumnsOfEveryTypeReadBackByTheTypeRules) {
  ASSERT_EQ(Begin(admin_), 0);
  const int32_t table = MakeTable("T_EVERY_TYPE");
  std::mt19937 rng(2929);
  std::vector<std::string> names;
  for (int32_t n = 1; n <= 70; ++n) names.push_back("C" + std::to_string(n));
  const std::vector<DDColumnDef> columns = RandomColumns(rng, names);
  for (const DDColumnDef& c : columns) {
    int32_t pb[2] = {0, admin_};
    DDInsColumn(base_, pb, table, c, nullptr, 0);
    ASSERT_EQ(pb[0], 0) << c.number;
  }
  for (const DDColumnDef& c : columns) {
    SCOPED_TRACE(c.type);
    const Triple want = Expected(c);
    DDColumnRow r{};
    int32_t pb[2] = {0, admin_};
    DDGetColumn(base_, pb, table, c.number, 0, c.name, c.name_length, &r, nullptr, 0);
    ASSERT_EQ(pb[0], 0);
    EXPECT_EQ((Triple{r.type, r.length, r.scale}), want);
    EXPECT_EQ(r.offset, c.offset);
    EXPECT_EQ(r.nullable, c.nullable ? 1 : 0);
    DDColumnDesc d{};
    pb[0] = 0;
    DDCmpColumns(base_, pb, table, 0, c.name, c.name_length, &d, nullptr, 0);
    ASSERT_EQ(pb[0], 0);
    EXPECT_EQ((Triple{d.type, d.length, d.scale}), want);
    EXPECT_EQ(d.column_id, c.number);
  }
  ASSERT_EQ(End(admin_, 1), 0);
}

}  // namespace
