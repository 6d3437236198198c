// Every function code of the databank kernel reaches a routine of its own:
// sent a request of zeros (code 66 in its mode -1, since its mode 0 is an
// internal error by design), none answers the dispatcher's invalid-code
// result.
#include <gtest/gtest.h>

#include <set>

#include "dk/request.h"
#include "dk/tests/bufferpool_fixture.h"

namespace {

using DispatchCoverageTest = PageTest;

TEST_F(DispatchCoverageTest, EveryCodeAnswersWithItsOwnRoutine) {
  const std::set<int32_t> still_to_come = {};
  Create("db", 400);
  std::set<int32_t> refused;
  for (int32_t code = 1; code <= 66; ++code) {
    SCOPED_TRACE(code);
    log_.records.clear();
    std::vector<int32_t> block(20000, 0);
    if (code == 66) block[0] = -1;
    if (DKDispatcherOf(code) == 2)
      DKEXE2(code, block.data(), nullptr);
    else
      DKEXE1(code, block.data());
    const bool invalid = !log_.records.empty() && log_.records[0].lines.size() > 2 &&
                         log_.records[0].lines[1].find("in function DKEXE") != std::string::npos &&
                         log_.records[0].lines[2] == "Internal inconsistency detected";
    if (invalid) refused.insert(code);
  }
  for (int32_t code : refused) EXPECT_TRUE(still_to_come.count(code)) << code;
}

}  // namespace
