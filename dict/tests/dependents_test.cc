// The cursors over what rests on an object, against the usage, privilege
// and object rows they read.
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "dict/tests/objects_fixture.h"

namespace {

class DependentsTest : public ObjectsTest {
 protected:
  using Rows = std::vector<std::pair<int32_t, int32_t>>;
  // Every row of the cursor, and its final status into *status.
  Rows Dependents(int32_t id, const std::string& name, int32_t* status) {
    Rows rows;
    int32_t pb[2] = {1, usr_};
    for (int n = 0; n < 50; ++n, pb[0] = 0) {
      int32_t dependent = 0, kind = 0;
      DDCurDependents(base_, pb, id, name.data(), static_cast<int32_t>(name.size()), &dependent,
                      &kind);
      if (pb[0] != 0) break;
      rows.emplace_back(dependent, kind);
    }
    *status = pb[0];
    return rows;
  }
  int32_t Usage(int32_t user, int32_t user_kind, int32_t used) {
    int32_t pb[2] = {0, usr_};
    DDInsObjUsage(base_, pb, user, user_kind, used, 2);
    return pb[0];
  }
  int32_t Privilege(int32_t kind, int32_t id, const std::string& grantee) {
    int32_t pb[2] = {0, usr_};
    DDInsPrivilege(base_, pb, kind, id, false, grantee.data(),
                   static_cast<int32_t>(grantee.size()), "BOSS", 4);
    return pb[0];
  }
};

TEST_F(DependentsTest, UsersPrivilegesOnItAndTheObjectItself) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(500, 2, "S", "DOM"), 0);
  ASSERT_EQ(InsObject(501, 2, "S", "OTHER"), 0);
  ASSERT_EQ(InsObject(700, 3, "", "ALICE"), 0);
  ASSERT_EQ(InsObject(910, 6, "S", "TAB"), 0);
  ASSERT_EQ(InsObject(920, 6, "S", "ALICE"), 0);  // a table named as an ident
  // Users of 500: a table, a check (stored CHECK, handed back as 21), a
  // statement; a view uses 501 only.
  for (auto [user, kind, used] : {std::tuple{600, 6, 500}, std::tuple{601, 16, 500},
                                  std::tuple{602, 22, 500}, std::tuple{603, 7, 501}})
    ASSERT_EQ(Usage(user, kind, used), 0);
  // ALICE holds DOMAIN 500, PROCEDURE 800 (no object row), a DATABANK
  // privilege and SELECT on table 910; BOB holds DOMAIN 501 and DELETE on 910.
  ASSERT_EQ(Privilege(6, 500, "ALICE"), 0);
  ASSERT_EQ(Privilege(7, 800, "ALICE"), 0);
  ASSERT_EQ(Privilege(1, 0, "ALICE"), 0);
  ASSERT_EQ(Privilege(6, 501, "BOB"), 0);
  ASSERT_EQ(InsTablePriv("SELECT", "NO ", "ALICE"), 0);
  ASSERT_EQ(InsTablePriv("DELETE", "NO ", "BOB"), 0);

  const int32_t none = DD_NO_DEPENDENT_KIND;
  struct Case {
    int32_t id;
    std::string name;
    Rows want;
    int32_t status;
  };
  const Case cases[] = {
      {500, "DOM", {{600, 6}, {601, 21}, {602, 22}, {500, 2}, {500, 2}}, 1},
      {500, "", {{600, 6}, {601, 21}, {602, 22}, {500, 2}, {500, 2}}, 1},
      {501, "OTHER", {{603, 7}, {501, 2}, {501, 2}}, 1},
      {910, "TAB", {{910, none}, {910, none}, {910, 6}}, 1},
      {800, "P", {{800, 11}}, 1},
      // The name is the object's, never a grantee's: a table named as an
      // ident does not bring the ident's privileges.
      {920, "ALICE", {{920, 6}}, 1},
      {700, "ALICE", {{700, none}}, 1},
      // An id without a row: the object by its name without a schema.
      {999, "ALICE", {{700, none}}, 1},
      // No row by id or name (its drop took it): the cursor just ends.
      {999, "NOBODY", {}, 1},
      {999, "", {}, 1},
  };
  for (const Case& c : cases) {
    int32_t status = 0;
    EXPECT_EQ(Dependents(c.id, c.name, &status), c.want) << c.id << c.name;
    EXPECT_EQ(status, c.status) << c.id << c.name;
  }
  // Reopened in the middle of a cursor: it starts over.
  int32_t pb[2] = {1, usr_}, dependent = 0, kind = 0;
  DDCurDependents(base_, pb, 500, "DOM", 3, &dependent, &kind);
  EXPECT_EQ(pb[0], 0);
  pb[0] = 1;
  DDCurDependents(base_, pb, 501, "OTHER", 5, &dependent, &kind);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(dependent, 603);
  EXPECT_EQ(EndWork(0), 0);
}

}  // namespace
