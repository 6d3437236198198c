// The check of a cursor and a positioned statement (DSChkStmOp): the
// statement kinds that pair, the table they share, a read-only
// transaction, the row of the cursor's last block and its identifier put
// where the positioned statement keeps its current row's.
#include "kernel/cursor_row_check.h"

#include "kernel/statements.h"
#include "kernel/tests/core_fixture.h"

namespace {

class RowCheckTest : public CoreTest {
 protected:
  static constexpr int32_t kStorageWords = 64, kHandleAt = 20, kRowIdByte = 4 * 50;

  // A statement of `kind` whose one table handle names `table`.
  int32_t Statement(int32_t kind, int32_t table) {
    const int32_t sd = Alloc(4 * (SD_MIN_WORDS + 2));
    const int32_t stg = Alloc(4 * kStorageWords);
    const int32_t stm = Alloc(STM_BYTES);
    W(sd, SD_STATEMENT_KIND) = kind;
    W(sd, SD_STORAGE_WORDS) = kStorageWords;
    W(sd, SD_ROW_ID_OFFSET) = kRowIdByte;
    W(sd, SD_TABLE_HANDLES) = SD_MIN_WORDS;
    W(sd, SD_TABLE_HANDLES + 1) = table == 0 ? 0 : 1;
    W(sd, SD_MIN_WORDS) = kHandleAt;
    W(stg, kHandleAt + HANDLE_TNAME) = table;
    W(stm, STM_ACTIVE_COM) = stm + STM_NEXT_COM;
    W(stm, STM_SD) = sd;
    W(stm, STM_STG) = stg;
    return stm;
  }
  int32_t Check(int32_t cursor, int32_t stm, int32_t row = 1) {
    int32_t rq[4] = {0, usr_, 0, row};
    const int32_t rc = DSChkStmOp(base_, rq, cursor, stm);
    EXPECT_EQ(rq[ROWCHK_STATUS], rc);
    if (rc != 0) {
      EXPECT_EQ(W(usr_, USR_RVEC_RCODE), rc);
    }
    return rc;
  }
  void SetUp() override {
    CoreTest::SetUp();
    usr_ = Alloc(USR_BYTES);
  }
  int32_t usr_ = 0;
};

TEST_F(RowCheckTest, KindsThatPair) {
  struct Case {
    int32_t k, j, want;
  };
  const Case cases[] = {
      {2, 5, 0},
      {2, 8, 0},
      {58, 8, 0},
      {16, 8, 0},
      {59, 8, 0},
      {1, 5, ROWCHK_NOT_UPDATABLE},
      {16, 5, ROWCHK_NOT_UPDATABLE},
      {57, 5, ROWCHK_NOT_UPDATABLE},
      {59, 5, ROWCHK_NOT_UPDATABLE},
      {1, 8, ROWCHK_NOT_DELETABLE},
      {57, 8, ROWCHK_NOT_DELETABLE},
      {3, 5, ROWCHK_BAD_PAIR},
      {2, 6, ROWCHK_BAD_PAIR},
      {2, 2, ROWCHK_BAD_PAIR},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Check(Statement(c.k, 7), Statement(c.j, 7)), c.want) << c.k << " " << c.j;
}

TEST_F(RowCheckTest, TableTransactionAndRow) {
  EXPECT_EQ(Check(Statement(2, 7), Statement(5, 8)), ROWCHK_OTHER_TABLE);
  EXPECT_EQ(Check(Statement(2, 0), Statement(5, 0)), ROWCHK_OTHER_TABLE);
  const int32_t cursor = Statement(2, 7), update = Statement(5, 7);
  const int32_t tp = Alloc(TP_BYTES);
  W(usr_, USR_TP) = tp;
  W(tp, TP_READ_WRITE_MODE) = 31;
  EXPECT_EQ(Check(cursor, update), ROWCHK_READ_ONLY);
  W(tp, TP_READ_WRITE_MODE) = 32;
  // Without a row list only row 1.
  EXPECT_EQ(Check(cursor, update, 1), 0);
  EXPECT_EQ(Check(cursor, update, 2), ROWCHK_BAD_ROW);
  // A list of three rows (six words), the second never filled.
  const int32_t list = Alloc(4 * 6);
  for (int32_t w : {0, 1, 4, 5}) W(list, w) = 100 + w;
  W(cursor, STM_LRID) = list;
  W(cursor, STM_LRIDSZ) = 6;
  const int32_t stg = W(update, STM_STG), own = W(cursor, STM_STG);
  W(own, kRowIdByte / 4) = 77;
  W(own, kRowIdByte / 4 + 1) = 78;
  for (int32_t row : {0, 4, -1}) EXPECT_EQ(Check(cursor, update, row), ROWCHK_BAD_ROW) << row;
  EXPECT_EQ(Check(cursor, update, 2), ROWCHK_NO_ROW);
  EXPECT_EQ(W(stg, kRowIdByte / 4), 0);
  EXPECT_EQ(Check(cursor, update, 3), 0);
  EXPECT_EQ(W(stg, kRowIdByte / 4), 104);
  EXPECT_EQ(W(stg, kRowIdByte / 4 + 1), 105);
  EXPECT_EQ(Check(cursor, update, 1), 0);
  EXPECT_EQ(W(stg, kRowIdByte / 4), 100);
  // The cursor's own current row is left as it was.
  EXPECT_EQ(W(own, kRowIdByte / 4), 77);
  EXPECT_EQ(W(own, kRowIdByte / 4 + 1), 78);
  // A statement index naming nothing.
  int32_t rq[4] = {0, usr_, 0, 1};
  EXPECT_EQ(DSChkStmOp(base_, rq, 0, update), KERNEL_BAD_PARAMETER);
}

}  // namespace
