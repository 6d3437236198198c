// Data changes over broken or unusual sources: the analysis reports the
// system's codes and never walks something that is not an expression.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dict/dictionary_services.h"
#include "dict/statement_functions.h"
#include "sql/front/tests/semantic_fixture.h"

namespace {

using Codes = std::vector<int32_t>;

class SemanticDataChangeEdges : public SemanticTest {
 protected:
  void SetUp() override {
    SemanticTest::SetUp();
    if (HasFatalFailure()) return;
    MakeFixtureTables();
    ASSERT_EQ(BegWork(), 0);
    for (int32_t privilege : {2, 3, 4}) {
      int32_t pb[2] = {0, usr_};
      DDInsTablePriv(base_, pb, 5001, privilege, "ADAM", 4, "EVE", 3, false, false);
      ASSERT_EQ(pb[0], 0);
    }
    for (int32_t privilege : {2, 4}) {
      for (const char* column : {"A", "B", "C"}) {
        int32_t pb[2] = {0, usr_};
        DDInsColumnPriv(base_, pb, 5001, privilege, column,
                        static_cast<int32_t>(std::strlen(column)), "ADAM", 4, "EVE", 3, false);
        ASSERT_EQ(pb[0], 0);
      }
    }
    ASSERT_EQ(EndWork(0), 0);
  }
};

// A query source whose star could not be expanded (its table is missing or
// not exposed) reports that once: the star pairs with no column and is
// never analysed as a value.
TEST_F(SemanticDataChangeEdges, UnexpandedStarsPairWithNothing) {
  struct Case {
    const char* sql;
    Codes codes;
  } cases[] = {
      {"INSERT INTO t SELECT * FROM nosuch", {-12200}},
      {"INSERT INTO t SELECT zz.* FROM s", {-12203}},
      {"INSERT INTO t (a) SELECT zz.* FROM s", {-12203}},
      {"INSERT INTO t (a, b) SELECT zz.*, 1 FROM s", {-12203}},
      {"INSERT INTO t SELECT zz.* FROM s UNION SELECT a, b, c FROM t", {-12203}},
      {"INSERT INTO t SELECT s.* FROM s", {-12233}},
      {"INSERT INTO t (a, b) SELECT * FROM s", {}},
  };
  for (const Case& k : cases) {
    Compiled c = Compile(k.sql);
    EXPECT_EQ(c.Codes(), k.codes) << k.sql << ": " << CodesText(c.Codes());
    EXPECT_EQ(c.depth_after, 0) << k.sql;
  }
}

// A VALUES list may begin with a scalar subquery: its values are the
// list's elements, each judged as a VALUES element, not the subquery's
// select items.
TEST_F(SemanticDataChangeEdges, ValuesListBeginningWithAScalarSubquery) {
  struct Case {
    const char* sql;
    Codes codes;
  } cases[] = {
      {"INSERT INTO t VALUES ((SELECT a FROM s), 1, 'x')", {-12232}},
      {"INSERT INTO t VALUES ((SELECT 1 FROM s), 1, 'x')", {}},
      {"INSERT INTO t (a, b) VALUES ((SELECT 1 FROM s), 2)", {}},
      {"INSERT INTO t (a) VALUES ((SELECT MAX(a) FROM t))", {-12232}},
      {"INSERT INTO t (a) VALUES ((SELECT 1 FROM s), 2)", {-12233}},
      {"INSERT INTO t (a) SELECT a FROM s", {}},
  };
  for (const Case& k : cases) {
    Compiled c = Compile(k.sql);
    EXPECT_EQ(c.Codes(), k.codes) << k.sql << ": " << CodesText(c.Codes());
    EXPECT_EQ(c.depth_after, 0) << k.sql;
  }
}

}  // namespace
