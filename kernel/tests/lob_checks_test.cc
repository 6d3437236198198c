// The table handles a large-object request may use.
#include "kernel/lob_checks.h"
#include "kernel/statements.h"
#include "kernel/tests/core_fixture.h"
#include "kernel/tests/statement_fixture.h"

namespace {

class LobChkTest : public CoreTest {
 protected:
  // A statement whose section lists handles of (access, table) pairs.
  int32_t Statement(const std::vector<std::pair<int32_t, int32_t>>& handles) {
    const int32_t n = static_cast<int32_t>(handles.size());
    const int32_t sd = Alloc(4 * (SD_MIN_WORDS + n + 1));
    const int32_t words = HANDLE_WORDS * (n + 1);
    const int32_t stg = Alloc(4 * words);
    W(sd, SD_STORAGE_WORDS) = words;
    W(sd, SD_TABLE_HANDLES) = SD_MIN_WORDS;
    W(sd, SD_TABLE_HANDLES + 1) = n;
    for (int32_t i = 0; i < n; ++i) {
      W(sd, SD_MIN_WORDS + i) = HANDLE_WORDS * i;
      W(stg, HANDLE_WORDS * i + HANDLE_ACCESS) = handles[i].first;
      W(stg, HANDLE_WORDS * i + HANDLE_TNAME) = handles[i].second;
    }
    const int32_t stm = Alloc(STM_BYTES);
    W(stm, STM_ACTIVE_COM) = stm + STM_NEXT_COM;
    W(stm, STM_SD) = sd;
    W(stm, STM_STG) = stg;
    return stm;
  }
};

TEST_F(LobChkTest, WriteTakesTheFirstWrittenTableAndReadTheNamedOne) {
  const int32_t stm = Statement({{5, 100}, {3, 200}, {1, 300}});
  const int32_t stg = W(stm, STM_STG);
  EXPECT_EQ(DSLobChkPut(base_, stm), stg + HANDLE_WORDS);
  EXPECT_EQ(DSLobChkGet(base_, stm, 300), stg + 2 * HANDLE_WORDS);
  EXPECT_EQ(DSLobChkGet(base_, stm, 100), stg);
  EXPECT_EQ(DSLobChkGet(base_, stm, 400), KERNEL_BAD_PARAMETER);
  EXPECT_EQ(DSLobChkPut(base_, Statement({{4, 1}, {5, 2}})), KERNEL_BAD_PARAMETER);
  EXPECT_EQ(DSLobChkPut(base_, Statement({})), KERNEL_BAD_PARAMETER);
  EXPECT_EQ(DSLobChkPut(base_, 0), KERNEL_BAD_PARAMETER);
}

}  // namespace

namespace {

TEST_F(LobChkTest, LevelPathTakes386Characters) {
  const int32_t usr = Alloc(USR_BYTES), lvl = Alloc(LVL_BYTES);
  W(usr, USR_LVL) = lvl;
  reinterpret_cast<uint8_t*>(&W(lvl, LVL_PATH))[386] = 0x5a;
  std::vector<uint8_t> path(400, 'p');
  EXPECT_EQ(DSSetLevelPath(base_, usr, path.data()), 0);
  const uint8_t* got = reinterpret_cast<uint8_t*>(&W(lvl, LVL_PATH));
  EXPECT_EQ(std::string(got, got + 386), std::string(386, 'p'));
  EXPECT_EQ(got[386], 0x5a);
  EXPECT_EQ(DSSetLevelPath(base_, Alloc(USR_BYTES), path.data()), KERNEL_BAD_PARAMETER);
}

}  // namespace
