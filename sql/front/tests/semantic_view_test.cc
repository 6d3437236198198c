// Views stored as CREATE VIEW stores them, read back into a statement.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "sql/front/compile_context.h"
#include "sql/front/stored_trees.h"
#include "sql/front/tests/semantic_fixture.h"

namespace {

class SemanticView : public SemanticTest {
 protected:
  void SetUp() override {
    SemanticTest::SetUp();
    MakeFixtureTables();
  }
};

// A stored view (its analysed query: inner joins dissolved) copied back
// through qmcopyview into a fresh block is the stored image word for word
// (the copy's root where the image has it) and prints as the view's query.
TEST_F(SemanticView, StoredViewsReadBackAsStored) {
  struct Case {
    const char* query;
    const char* printed;
  } cases[] = {
      {"SELECT a, b + 1 AS x FROM t WHERE a > 1",
       "SELECT A, (B + 1) AS X FROM T WHERE (A > 1)"},
      {"SELECT DISTINCT a, d FROM s WHERE d IS NOT NULL",
       "SELECT DISTINCT A, D FROM S WHERE (D IS NOT NULL)"},
      {"SELECT a, COUNT(*) AS n FROM t GROUP BY a HAVING COUNT(*) > 1",
       "SELECT A, COUNT(*) AS N FROM T GROUP BY A HAVING (COUNT(*) > 1)"},
      {"SELECT a FROM t UNION SELECT a FROM s",
       "(SELECT A FROM T UNION SELECT A FROM S)"},
      {"SELECT u.a, s.d FROM t u JOIN s ON u.a = s.a",
       "SELECT U.A, S.D FROM T U, S WHERE (U.A = S.A)"},
  };
  int32_t id = 5030;
  for (const Case& k : cases) {
    const std::string name = "V" + std::to_string(id);
    const std::string image = MakeView(id, name, k.query, {{"A", 3, 10, 0}, {"X", 3, 11, 0}});
    ASSERT_GT(image.size(), static_cast<size_t>(WSB_HEADER_BYTES)) << k.query;
    int32_t stored_root = 0;
    std::memcpy(&stored_root, image.data() + 4 * WSB_ROOT, 4);
    std::string body, printed;
    int32_t root = -1;
    inspect = [&](SqlCompileCtx* ctx, int32_t) {
      int32_t statement = qqwscur(ctx);
      int32_t fresh = qqwsnewblk(ctx);
      root = qmcopyview(ctx, id);
      EXPECT_EQ(qqwscur(ctx), fresh);
      const int32_t* h = WsBlock(ctx, fresh);
      body.assign(reinterpret_cast<const char*>(h) + WSB_HEADER_BYTES,
                  static_cast<size_t>(h[WSB_USED] - WSB_HEADER_BYTES));
      printed = SqlPrintStatement(ctx, root);
      qqwswb(ctx, statement);
    };
    Compiled c = Compile("SELECT * FROM t");
    inspect = nullptr;
    EXPECT_TRUE(c.conditions.empty()) << k.query << ": " << CodesText(c.Codes());
    EXPECT_EQ(root, stored_root) << k.query;
    EXPECT_TRUE(body == image.substr(WSB_HEADER_BYTES)) << k.query;
    EXPECT_EQ(printed, k.printed) << k.query;
    // The view's rows make it a view to the binding: a query over it is
    // merged, or materialized through the optimizer (not installed here).
    Compiled over = Compile("SELECT * FROM " + name);
    EXPECT_TRUE(over.conditions.empty() || over.TextOf(-19040) == "N\tQOP: qodrive")
        << k.query << ": " << CodesText(over.Codes());
    ++id;
  }
}

}  // namespace
