// Inserts, deletes and updates with their index entries and constraint
// checks, through the write set and directly, against the kernel model.
#include <gtest/gtest.h>

#include <functional>

#include "du/tests/change_fixture.h"

namespace {

class RowChangesTest : public ChangeTest {};

TEST_F(RowChangesTest, ChangesThroughTheWriteSetAppearAtCommit) {
  OpenTables(true);
  EXPECT_EQ(Insert(parent_, {1, 10, 100}), DU_NO_TRANSACTION);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Insert(parent_, {1, 10, 100}), 0);
  ASSERT_EQ(Insert(parent_, {2, std::nullopt, 200}), 0);
  EXPECT_EQ(Insert(parent_, {1, 11, 101}), 1);  // the key is there (in the write set)
  EXPECT_EQ(Scan(parent_, true), (std::vector<RowValue>{{1, 10, 100}, {2, std::nullopt, 200}}));
  EXPECT_TRUE(kernel_.rows[parent_[DUREC_TBL]].empty());
  ASSERT_EQ(End(END_AFTER_SUCCESS), 0);
  EXPECT_EQ(kernel_.rows[parent_[DUREC_TBL]].size(), 2u);
  // The unique index got its entries too.
  const int32_t icb = W(parent_[DUREC_OBJECT] + TCB_ICB);
  EXPECT_EQ(kernel_.rows[W(icb + ICB_TBL)].size(), 2u);
}

TEST_F(RowChangesTest, SecondDeleteAndUnchangedUpdate) {
  OpenTables(true);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Insert(parent_, {1, 10, 100}), 0);
  ASSERT_EQ(End(END_AFTER_SUCCESS), 0);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Read(parent_, 1), 0);
  DUDEL1(base_, parent_.data(), usr_);
  EXPECT_EQ(parent_[DUREC_STATUS], 0);
  DUDEL1(base_, parent_.data(), usr_);  // deleted already by this transaction
  EXPECT_EQ(parent_[DUREC_STATUS], 0);
  EXPECT_EQ(Read(parent_, 1), DU_NO_ROW);
  EXPECT_EQ(End(END_ROLLBACK), 0);

  ASSERT_EQ(Begin(1), 0);
  const int32_t appends = kernel_.Sent(DK_APS1), ints = kernel_.Sent(DK_INT1);
  EXPECT_EQ(Update(parent_, 1, {1, 10, 100}), 0);
  EXPECT_EQ(kernel_.Sent(DK_APS1), appends);
  EXPECT_EQ(kernel_.Sent(DK_INT1), ints);
  EXPECT_EQ(Update(parent_, 1, {1, 10, 101}), 0);
  EXPECT_EQ(Scan(parent_, true), (std::vector<RowValue>{{1, 10, 101}}));
  EXPECT_EQ(End(END_AFTER_SUCCESS), 0);
}

TEST_F(RowChangesTest, KeyChanges) {
  OpenTables(false);  // direct: no transaction needed for plain changes
  ASSERT_EQ(Insert(parent_, {1, 10, 100}), 0);
  ASSERT_EQ(Insert(parent_, {5, 50, 500}), 0);
  EXPECT_EQ(Update(parent_, 1, {2, 10, 100}), -18041);  // outside a transaction
  ASSERT_EQ(Begin(1), 0);
  EXPECT_EQ(Update(parent_, 1, {2, 10, 100}, 314159), -18042);
  EXPECT_EQ(Update(parent_, 1, {5, 10, 100}), -10101);  // onto another row's key
  const int32_t tcb = parent_[DUREC_OBJECT];
  W(tcb + TCB_IXTYPE) = TCB_GENERATED_KEY;
  EXPECT_EQ(Update(parent_, 1, {2, 10, 100}), -18043);
  W(tcb + TCB_IXTYPE) = 1;
  EXPECT_EQ(Update(parent_, 1, {3, 10, 100}), 0);
  EXPECT_EQ(Get(parent_).id, 1);  // the scan goes on from the old key
  EXPECT_EQ(Scan(parent_, true), (std::vector<RowValue>{{3, 10, 100}, {5, 50, 500}}));
  EXPECT_EQ(End(END_AFTER_SUCCESS), 0);
}

TEST_F(RowChangesTest, ConstraintViolations) {
  OpenTables(true);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Insert(parent_, {1, 10, 100}), 0);
  EXPECT_EQ(Insert(parent_, {2, 10, 200}), -10110);
  EXPECT_EQ(W(usr_ + USR_CURRENT_TABLE_SYSID), kParent);
  EXPECT_EQ(W(usr_ + USR_CURRENT_CONSTRAINT_SYSID), 901);
  EXPECT_EQ(Insert(parent_, {2, std::nullopt, 200}), 0);
  EXPECT_EQ(Insert(parent_, {3, std::nullopt, 300}), 0);  // nulls never conflict
  EXPECT_EQ(Insert(child_, {1, 9, 1}), -10105);
  EXPECT_EQ(W(usr_ + USR_CURRENT_CONSTRAINT_SYSID), 951);
  EXPECT_EQ(Insert(child_, {1, 1, 1}), 0);
  EXPECT_EQ(Insert(child_, {2, std::nullopt, 1}), 0);
  EXPECT_EQ(Delete(parent_, 1), -10106);
  EXPECT_EQ(Update(parent_, 1, {4, 10, 100}), -10106);  // its key is referenced
  EXPECT_EQ(Update(parent_, 1, {1, 11, 100}), 0);       // its other columns are not
  EXPECT_EQ(Update(child_, 1, {1, 7, 1}), -10105);
  EXPECT_EQ(Delete(child_, 1), 0);
  EXPECT_EQ(Delete(parent_, 1), 0);
  EXPECT_EQ(End(END_AFTER_SUCCESS), 0);
  EXPECT_EQ(Scan(parent_, true),
            (std::vector<RowValue>{{2, std::nullopt, 200}, {3, std::nullopt, 300}}));
}

TEST_F(RowChangesTest, ViolationsPutOffIntoTheCheckSet) {
  OpenTables(true);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Insert(parent_, {1, 10, 100}), 0);
  ASSERT_EQ(End(END_AFTER_SUCCESS), 0);
  W(usr_ + USR_SET_MARK_FLAG) = 1;
  RunPutOffCases({
      {"duplicate", [&] { return Insert(parent_, {2, 10, 0}); },
       [&] { return Update(parent_, 1, {1, 11, 100}); },
       [&] {
         return Delete(parent_, 2) != 0 ? 1 : Update(parent_, 1, {1, 10, 100});
       },
       -10110},
      {"missing parent", [&] { return Insert(child_, {1, 9, 0}); },
       [&] { return Insert(parent_, {9, std::nullopt, 0}); },
       [&] { return Delete(child_, 1) != 0 ? 1 : Delete(parent_, 9); }, -10105},
  });
  EXPECT_EQ(Scan(parent_, true), (std::vector<RowValue>{{1, 10, 100}}));
  EXPECT_TRUE(Scan(child_, true).empty());
}

// A parent deleted while a child references it, put off: at the end the
// kernel still reports the key present, and the referencing index is read
// to see whether the child is still there.
TEST_F(RowChangesTest, PutOffReferencingRowsAreLookedForAtTheEnd) {
  OpenTables(true);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Insert(parent_, {1, 10, 100}), 0);
  ASSERT_EQ(Insert(child_, {7, 1, 0}), 0);
  ASSERT_EQ(End(END_AFTER_SUCCESS), 0);
  W(usr_ + USR_SET_MARK_FLAG) = 1;
  kernel_.recheck = [](const int32_t*) { return 1; };
  for (bool child_deleted : {true, false}) {
    SCOPED_TRACE(child_deleted);
    ASSERT_EQ(Begin(1), 0);
    EXPECT_EQ(Delete(parent_, 1), 0);
    EXPECT_EQ(W(Tp() + TP_TRANSACTION_CHECK_COUNT), 1);
    if (child_deleted) {
      EXPECT_EQ(Delete(child_, 7), 0);
    }
    EXPECT_EQ(End(END_AFTER_SUCCESS), child_deleted ? 0 : -10106);
    if (child_deleted) {
      // Put both back for the second round.
      ASSERT_EQ(Begin(1), 0);
      ASSERT_EQ(Insert(parent_, {1, 10, 100}), 0);
      ASSERT_EQ(Insert(child_, {7, 1, 0}), 0);
      ASSERT_EQ(End(END_AFTER_SUCCESS), 0);
    }
  }
}

TEST_F(RowChangesTest, RowCodesOutsideTheirRange) {
  OpenTables(true);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Insert(parent_, {1, 10, 100}), 0);
  ASSERT_EQ(Read(parent_, 1), 0);
  DUPrepareForUpdate(base_, parent_.data(), usr_);
  for (int32_t code : {49, 401, 0, -401}) {
    parent_[DUREC_FETCH_CODE] = code;
    DURowOp1(base_, parent_.data(), usr_);
    EXPECT_EQ(parent_[DUREC_STATUS], DU_BAD_ROW_OPERATION) << code;
  }
  parent_[DUREC_FETCH_CODE] = 263;  // a row the transaction deleted: nothing to do
  DURowOp1(base_, parent_.data(), usr_);
  EXPECT_EQ(parent_[DUREC_STATUS], 0);
}

TEST_F(RowChangesTest, InsertOrFindReadsTheRowThatIsThere) {
  for (bool merge : {true, false}) {
    SCOPED_TRACE(merge);
    kernel_.rows.clear();
    parent_.clear();
    OpenTables(merge);
    ASSERT_EQ(Begin(1), 0);
    ASSERT_EQ(Insert(parent_, {1, 10, 100}), 0);
    Put(parent_, {1, 11, 999});
    DUInsertIndex(base_, parent_.data(), usr_);
    EXPECT_EQ(parent_[DUREC_STATUS], 1);
    EXPECT_EQ(Get(parent_), (RowValue{1, 10, 100}));
    EXPECT_EQ(parent_[DUREC_FETCH_CODE], merge ? 7 : 11);
    Put(parent_, {2, 12, 200});
    DUInsertIndex(base_, parent_.data(), usr_);
    EXPECT_EQ(parent_[DUREC_STATUS], 0);
    EXPECT_EQ(End(END_AFTER_SUCCESS), 0);
    int32_t pb[2] = {0, usr_};
    int32_t close[CLB_WORDS] = {CLOSE_TABLE};
    DSCloseTableRefs(base_, pb, parent_.data(), close);
    int32_t close2[CLB_WORDS] = {CLOSE_TABLE};
    DSCloseTableRefs(base_, pb, child_.data(), close2);
  }
}

TEST_F(RowChangesTest, GeneratedKeys) {
  OpenTables(true);
  W(parent_[DUREC_OBJECT] + TCB_IXTYPE) = TCB_GENERATED_KEY;
  W(parent_[DUREC_OBJECT] + TCB_KEYLEN) = 12;
  // The 12-byte key covers the unique column: the table without its index.
  const int32_t icbs = W(parent_[DUREC_OBJECT] + TCB_ICB);
  W(parent_[DUREC_OBJECT] + TCB_ICB) = 0;
  kernel_.generated_high = 3;
  ASSERT_EQ(Begin(1), 0);
  parent_[DUREC_KEYLEN] = 7;  // too short for the 12-byte key
  EXPECT_EQ(Insert(parent_, {0, std::nullopt, 1}), -19055);
  parent_[DUREC_KEYLEN] = 12;
  std::vector<std::string> keys;
  for (int n = 0; n < 3; ++n) {
    ASSERT_EQ(Insert(parent_, {0, std::nullopt, n}), 0);
    keys.emplace_back(reinterpret_cast<const char*>(Buffer(parent_)), 12);
  }
  // 3 x 10^10 + n as a packed decimal of 20 digits: ascending, all different.
  EXPECT_LT(keys[0], keys[1]);
  EXPECT_LT(keys[1], keys[2]);
  EXPECT_EQ(kernel_.writes[parent_[DUREC_TBL]].size(), 3u);
  EXPECT_EQ(End(END_ROLLBACK), 0);
  W(parent_[DUREC_OBJECT] + TCB_ICB) = icbs;
}

TEST_F(RowChangesTest, DeleteAll) {
  OpenTables(true);
  ASSERT_EQ(Begin(1), 0);
  for (int64_t id = 1; id <= 5; ++id) ASSERT_EQ(Insert(parent_, {id, std::nullopt, id}), 0);
  DUDeleteAll(base_, parent_.data(), usr_, work_);
  EXPECT_EQ(parent_[DUREC_STATUS], 0);
  EXPECT_TRUE(Scan(parent_, true).empty());
  DUDeleteAll(base_, parent_.data(), usr_, work_);
  EXPECT_EQ(parent_[DUREC_STATUS], DU_NO_ROW);
  EXPECT_EQ(End(END_AFTER_SUCCESS), 0);
}

}  // namespace

namespace {

// A record block shorter than its table's rows: the index keys, built along
// key parts the table's row length bounds, would be read past its buffer.
TEST_F(RowChangesTest, BlockShorterThanItsTableIsRefused) {
  OpenTables(true);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Insert(parent_, {1, 10, 100}), 0);
  std::vector<int32_t> short_block(parent_.begin(), parent_.begin() + DurecWords(12));
  short_block[DUREC_RECLEN] = 12;
  std::memset(short_block.data() + DUREC_RECORD, 0, 12);
  short_block[DUREC_RECORD + 1] = 0x02000000;  // key 2
  DUInsertRow(base_, short_block.data(), usr_);
  EXPECT_EQ(short_block[DUREC_STATUS], DU_BAD_ARGUMENT);
  short_block[DUREC_RECORD + 1] = 0x01000000;  // key 1
  DUDEL1(base_, short_block.data(), usr_);
  EXPECT_EQ(short_block[DUREC_STATUS], DU_BAD_ARGUMENT);
  EXPECT_EQ(Scan(parent_, true), (std::vector<RowValue>{{1, 10, 100}}));
  EXPECT_EQ(End(END_ROLLBACK), 0);
}

}  // namespace
