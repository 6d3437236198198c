// The cursor over what rests on a grantee's privilege on a table, against
// the privilege usage, privilege and object rows it reads.
#include <string>
#include <tuple>
#include <vector>

#include "dict/tests/objects_fixture.h"

namespace {

class PrivilegeDependentsTest : public ObjectsTest {
 protected:
  void SetUp() override {
    SetUpCatalog({11, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22, 24, 25, 26, 27, 28, 29, 30, 32, 33,
                  36, 38, 39, 40, 41, 44, 151});
  }
  using Row = std::tuple<int32_t, int32_t, int32_t>;  // id, kind, from
  using Rows = std::vector<Row>;
  Rows Walk(int32_t table, int32_t privilege, const std::string& grantee,
            const std::string& column, int32_t* status) {
    Rows rows;
    int32_t pb[2] = {1, usr_};
    for (int n = 0; n < 50; ++n, pb[0] = 0) {
      int32_t id = -1, kind = -1, from = -1;
      DDCurPrivDependents(base_, pb, table, privilege, grantee.data(),
                          static_cast<int32_t>(grantee.size()), column.data(),
                          static_cast<int32_t>(column.size()), &id, &kind, &from);
      if (pb[0] != 0) break;
      rows.emplace_back(id, kind, from);
    }
    *status = pb[0];
    return rows;
  }
  int32_t PrivUsage(int32_t user, int32_t user_kind, int32_t table, int32_t privilege,
                    const std::string& column = "") {
    int32_t pb[2] = {0, usr_};
    DDInsPrivUsage(base_, pb, user, column.data(), static_cast<int32_t>(column.size()), table,
                   user_kind, privilege);
    return pb[0];
  }
  int32_t ObjectPriv(int32_t kind, int32_t id, const std::string& grantee) {
    int32_t pb[2] = {0, usr_};
    DDInsPrivilege(base_, pb, kind, id, true, grantee.data(), static_cast<int32_t>(grantee.size()),
                   "SYSTEM", 6);
    return pb[0];
  }
  int32_t TablePriv(int32_t table, const std::string& kind, const std::string& grantee,
                    const std::string& grantor) {
    return Exec(SLOT_DDInsTablePriv, IMAGE_DDInsTablePriv, [&](DDParams& p) {
      p.Int(1, table).Text(2, kind);
      p.TextLength(3, grantee.data(), static_cast<int32_t>(grantee.size()));
      p.TextLength(5, grantor.data(), static_cast<int32_t>(grantor.size()));
      p.Text(7, "YES").Text(8, "NO ").Text(9, "YES");
    });
  }
  int32_t ColumnPriv(int32_t table, const std::string& column, const std::string& kind,
                     const std::string& grantee, const std::string& grantor) {
    return Exec(SLOT_DDInsColumnPriv, IMAGE_DDInsColumnPriv, [&](DDParams& p) {
      p.Int(1, table).Text(2, kind);
      p.TextLength(3, grantee.data(), static_cast<int32_t>(grantee.size()));
      p.TextLength(5, grantor.data(), static_cast<int32_t>(grantor.size()));
      p.TextLength(7, column.data(), static_cast<int32_t>(column.size()));
      p.Text(9, "YES").Text(10, "NO ");
    });
  }
};

TEST_F(PrivilegeDependentsTest, ObjectsOfTheGranteeAndWhatItPassedOn) {
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(910, 6, "S", "T"), 0);
  ASSERT_EQ(InsObject(911, 6, "S", "T2"), 0);
  ASSERT_EQ(InsObject(700, 3, "", "ALICE"), 0);
  constexpr int32_t kSelect = 1, kInsert = 2;
  // What rests on SELECT of 910: ALICE's view 1001, BOB's view 1002,
  // ALICE's procedure 1003, BOB's function 1004, ALICE's
  // statement 1005, a trigger 1006 and a check 1007 (no privilege of their
  // own), ALICE's view 1010 through column C1; ALICE's view 1008 rests on
  // INSERT, her view 1009 on table 911.
  for (auto [user, kind, table, privilege, column] :
       {std::tuple{1001, 7, 910, kSelect, ""}, std::tuple{1002, 7, 910, kSelect, ""},
        std::tuple{1003, 11, 910, kSelect, ""}, std::tuple{1004, 12, 910, kSelect, ""},
        std::tuple{1005, 22, 910, kSelect, ""}, std::tuple{1006, 13, 910, kSelect, ""},
        std::tuple{1007, 16, 910, kSelect, ""}, std::tuple{1008, 7, 910, kInsert, ""},
        std::tuple{1009, 7, 911, kSelect, ""}, std::tuple{1010, 7, 910, kSelect, "C1"}})
    ASSERT_EQ(PrivUsage(user, kind, table, privilege, column), 0) << user;
  for (auto [view, grantee] : {std::pair{1001, "ALICE"}, std::pair{1002, "BOB"},
                               std::pair{1008, "ALICE"}, std::pair{1009, "ALICE"},
                               std::pair{1010, "ALICE"}})
    ASSERT_EQ(TablePriv(view, "SELECT", grantee, "_SYSTEM"), 0);
  ASSERT_EQ(ObjectPriv(7, 1003, "ALICE"), 0);
  ASSERT_EQ(ObjectPriv(8, 1004, "BOB"), 0);
  ASSERT_EQ(ObjectPriv(17, 1005, "ALICE"), 0);
  // ALICE passed SELECT of C1 to CAROL and of C2 to DAVE, the table's
  // SELECT to CAROL and its INSERT to DAVE; BOB passed C1 to EVE.
  ASSERT_EQ(ColumnPriv(910, "C1", "SELECT", "CAROL", "ALICE"), 0);
  ASSERT_EQ(ColumnPriv(910, "C2", "SELECT", "DAVE", "ALICE"), 0);
  ASSERT_EQ(ColumnPriv(910, "C1", "SELECT", "EVE", "BOB"), 0);
  ASSERT_EQ(TablePriv(910, "SELECT", "CAROL", "ALICE"), 0);
  ASSERT_EQ(TablePriv(910, "INSERT", "DAVE", "ALICE"), 0);

  const int32_t none = DD_NO_DEPENDENT_KIND;
  const Row self{910, 6, DD_PRIV_DEP_SELF};
  const Row column_grant{910, none, DD_PRIV_DEP_COLUMN_GRANT};
  const Row table_grant{910, none, DD_PRIV_DEP_TABLE_GRANT};
  struct Case {
    int32_t table, privilege;
    std::string grantee, column;
    Rows want;
    int32_t status;
  };
  const Case cases[] = {
      {910, kSelect, "ALICE", "",
       {{1001, 7, 1}, {1003, 11, 1}, {1005, 22, 1}, {1006, 13, 1}, {1007, 16, 1}, {1010, 7, 1},
        column_grant, column_grant, table_grant, self},
       1},
      // One column: the objects using it, its grants passed on, no table grant.
      {910, kSelect, "ALICE", "C1", {{1010, 7, 1}, column_grant, self}, 1},
      {910, kSelect, "ALICE", "C9", {self}, 1},
      {910, kInsert, "ALICE", "", {{1008, 7, 1}, table_grant, self}, 1},
      {910, kSelect, "BOB", "",
       {{1002, 7, 1}, {1004, 12, 1}, {1006, 13, 1}, {1007, 16, 1}, column_grant, self},
       1},
      // A table without an object row: the grantee's own row, or nothing.
      {999, kSelect, "ALICE", "", {{700, none, DD_PRIV_DEP_SELF}}, 1},
      {999, kSelect, "NOBODY", "", {}, -19007},
  };
  for (const Case& c : cases) {
    int32_t status = 0;
    EXPECT_EQ(Walk(c.table, c.privilege, c.grantee, c.column, &status), c.want)
        << c.table << c.grantee << c.column;
    EXPECT_EQ(status, c.status) << c.table << c.grantee << c.column;
  }
  // A privilege outside SELECT .. TRIGGER runs nothing.
  for (int32_t bad : {0, 8}) {
    int32_t status = 0;
    EXPECT_EQ(Walk(910, bad, "ALICE", "", &status), Rows{});
    EXPECT_EQ(status, -19089);
  }
  EXPECT_EQ(EndWork(0), 0);
}

}  // namespace
