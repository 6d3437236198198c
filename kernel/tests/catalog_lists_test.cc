// DSSysStmCtl: translation tables installed through record access, and the
// COLLCB chain loaded from the collation-list statement's rows.
#include "kernel/catalog_lists.h"

#include "kernel/tests/core_fixture.h"
#include "kernel/tests/statement_fixture.h"

namespace {

int32_t g_rows_left = 0;
int32_t g_installs = 0;

int32_t Image(int32_t number, const int16_t** header, int32_t* hl, const int32_t** body,
              int32_t* bl) {
  // Output columns: 1 an integer of 8 bytes at 0, 2 the table of 257 at 8.
  static int16_t h[24] = {0, 0, 24, 0, 0, 0, 0, 0,  0, 0, 0, 0,
                          0, 0, 20, 2, 0, 0, 0, -1, 0, 8, 8, 257};
  static const int32_t b[] = {-70, 0};
  if (number != COLLATION_LIST_IMAGE) return -19040;
  *header = h;
  *hl = 24;
  *body = b;
  *bl = 2;
  return 0;
}

void Rows(int32_t* base, int32_t* result, int32_t stm, int32_t) {
  std::memset(result, 0, 13 * sizeof(int32_t));
  int32_t& pc = sqlpool_word(base, stm + STM_PC);
  if (g_rows_left == 0) {
    pc = 0;
    return;
  }
  PutColumnInt(base, stm, 1, 100 + g_rows_left);
  std::string table(256, char(g_rows_left));
  PutColumnText(base, stm, 2, table);
  --g_rows_left;
  pc = 3;
}

int32_t Install(int32_t*, int32_t mode, int32_t id, const uint8_t*) {
  ++g_installs;
  return mode == 2 && id == 9 ? -19114 : 0;
}

int32_t TablesOk(int32_t*, int32_t, int32_t) {
  return 0;
}

class CatalogListTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    services_.dd_stmt_image = Image;
    services_.damae2 = Rows;
    services_.xl_install_table = Install;
    services_.open_com_tables = TablesOk;
    g_installs = 0;
  }
  int32_t Run(int32_t mode, int32_t usr = 0, int32_t id = 0) {
    int32_t rq[2] = {99, usr};
    uint8_t table[256] = {};
    DSSysStmCtl(base_, rq, mode, id, table);
    return rq[0];
  }
};

TEST_F(CatalogListTest, LoadsOneEntryPerRowAndReplacesTheOldChain) {
  g_rows_left = 2;
  ASSERT_EQ(Run(3), 0);
  const int32_t first = W(sys_, SYS_COLLCB);
  ASSERT_NE(first, 0);
  EXPECT_EQ(W(first, 1), 101);
  EXPECT_EQ(W(first, 2), 0x01010101);
  const int32_t second = W(first, 0);
  EXPECT_EQ(W(second, 1), 102);
  EXPECT_EQ(W(second, 65), 0x02020202);
  EXPECT_EQ(W(second, 0), 0);
  const int64_t live = Live();
  g_rows_left = 1;
  ASSERT_EQ(Run(3), 0);
  EXPECT_EQ(Live(), live - 1);
  EXPECT_EQ(W(sys_, SYS_ST_STATEMENTS), 0);
}

TEST_F(CatalogListTest, InstallModesGoToRecordAccess) {
  const int32_t usr = Alloc(USR_BYTES);
  EXPECT_EQ(Run(1, usr, 7), 0);
  EXPECT_EQ(Run(2, usr, 9), -19114);
  EXPECT_EQ(W(usr, USR_RVEC_RCODE), -19114);
  EXPECT_EQ(Run(4, usr, 9), 0);
  EXPECT_EQ(g_installs, 2);
}

TEST_F(CatalogListTest, MissingImageStandsInRvec) {
  services_.dd_stmt_image = nullptr;
  EXPECT_EQ(Run(3), -19040);
  EXPECT_EQ(W(sys_, SYS_RVEC), -19040);
}

}  // namespace
