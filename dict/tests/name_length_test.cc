// Names too long for their catalog columns, and empty ones, given to the
// dependents cursors, the view trigger privileges, the key column rewrite
// and the domain drop: -19113 before anything runs, and the statement's
// slot serves the next call as before.
#include <functional>
#include <string>

#include "dict/tests/objects_fixture.h"

namespace {

class NameLengthTest : public ObjectsTest {
 protected:
  void SetUp() override {
    SetUpCatalog({11, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 32,
                  33, 36, 38, 39, 40, 41, 42, 43, 44, 54, 151});
  }
};

TEST_F(NameLengthTest, LongNamesRunNothingAndTheSlotServesTheNextCall) {
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(910, 6, "S", "T"), 0);
  int32_t a = -7, b = -7, c = -7;
  // Each call with a name of n bytes; the status.
  struct Case {
    const char* what;
    std::function<int32_t(const std::string&)> call;
    int32_t fits;  // the status with a 128-byte name nothing holds
  };
  const Case cases[] = {
      {"DDCurPrivDependents grantee",
       [&](const std::string& n) {
         int32_t pb[2] = {1, usr_};
         DDCurPrivDependents(base_, pb, 910, 1, n.data(), static_cast<int32_t>(n.size()), "", 0,
                             &a, &b, &c);
         return pb[0];
       },
       0},
      {"DDCurPrivDependents column",
       [&](const std::string& n) {
         int32_t pb[2] = {1, usr_};
         DDCurPrivDependents(base_, pb, 910, 1, "ALICE", 5, n.data(),
                             static_cast<int32_t>(n.size()), &a, &b, &c);
         return pb[0];
       },
       0},
      {"DDCurDependents",
       [&](const std::string& n) {
         int32_t pb[2] = {1, usr_};
         DDCurDependents(base_, pb, 999, n.data(), static_cast<int32_t>(n.size()), &a, &b);
         return pb[0];
       },
       1},
      {"DDViewTriggerPrivs",
       [&](const std::string& n) {
         int32_t pb[2] = {0, usr_};
         DDViewTriggerPrivs(base_, pb, 910, 1, n.data(), static_cast<int32_t>(n.size()), 1, &a);
         return pb[0];
       },
       -19007},
      {"DDUpdKeyCols",
       [&](const std::string& n) {
         int32_t pb[2] = {0, usr_}, at = 0;
         DDUpdKeyCols(base_, pb, 910, n.data(), static_cast<int32_t>(n.size()), &at, &a, &b);
         return pb[0];
       },
       1},
      {"DDCheckUsage",
       [&](const std::string& n) {
         int32_t pb[2] = {2, usr_};
         DDCheckUsage(base_, pb, 0, n.data(), static_cast<int32_t>(n.size()), &a);
         return pb[0];
       },
       1},
  };
  for (const Case& k : cases) {
    for (int32_t n : {129, 4000}) {
      a = b = c = -7;
      EXPECT_EQ(k.call(std::string(n, 'N')), -19113) << k.what << " " << n;
      EXPECT_EQ(a, -7) << k.what;
    }
    EXPECT_EQ(k.call(std::string(128, 'N')), k.fits) << k.what;
    EXPECT_EQ(k.call(std::string(129, 'N')), -19113) << k.what;
    EXPECT_EQ(k.call(std::string(128, 'N')), k.fits) << k.what;
  }
  EXPECT_EQ(ObjectId("S", "T", 6), 910);
  EXPECT_EQ(EndWork(0), 0);
}

}  // namespace
