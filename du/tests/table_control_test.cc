// Open tables: the access-mode rule between users, work tables, the last
// close freeing every block with its kernel tables and databank reference,
// references opened and paired, the attach of a record block, the lists of
// a statement, handles, and threads opening and closing one table at once.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "du/tests/table_fixture.h"

namespace {

class TableControlTest : public ModelTableTest {};

TEST_F(TableControlTest, UsersShareATableByAccessMode) {
  const int64_t blocks = BlocksInUse();
  auto a = Record(30, 3), b = Record(30, 3), c = Record(30, 1);
  ASSERT_EQ(Open(a), 0);
  ASSERT_EQ(Open(b), 0);
  const int32_t tcb = Find(30);
  ASSERT_NE(tcb, 0);
  EXPECT_EQ(W(tcb + TCB_USECOUNT), 2);
  EXPECT_EQ(DUTcbUseCount(base_, 30), 2);
  EXPECT_EQ(Open(c), DU_TABLE_IN_USE);
  EXPECT_EQ(W(tcb + TCB_USECOUNT), 2);
  // Through the statement open, a table another user holds is -16001.
  auto d = Record(30, 1);
  upper_.used_by_user = 1;
  EXPECT_EQ(OpenDcb(d), DU_TABLE_HELD);
  upper_.used_by_user = 0;
  EXPECT_EQ(OpenDcb(d), DU_TABLE_IN_USE);

  EXPECT_EQ(a[DUREC_TBL], W(tcb + TCB_TBL));
  EXPECT_EQ(a[DUREC_MERGE], 2);  // the databank is written through transactions
  EXPECT_EQ(a[DUREC_REQUEST_WORDS], QueueRecordWords(12));
  EXPECT_EQ(Close(a), 0);
  EXPECT_EQ(W(tcb + TCB_USECOUNT), 1);
  EXPECT_EQ(upper_.databank_refs[kLid], 1);
  EXPECT_EQ(Close(b), 0);
  EXPECT_EQ(Find(30), 0);
  EXPECT_EQ(upper_.databank_refs[kLid], 0);
  EXPECT_TRUE(kernel_.open_tables.empty());
  EXPECT_EQ(BlocksInUse(), blocks);
}

TEST_F(TableControlTest, ASharedOpenerDoesNotMakeTheTableLookNew) {
  auto a = Record(kParent, 5), b = Record(kParent, 3);
  ASSERT_EQ(Open(a), 0);
  ASSERT_EQ(Open(b), 0);
  const int32_t tcb = Find(kParent);
  int32_t icbs = 0;
  for (int32_t i = W(tcb + TCB_ICB); i != 0; i = W(i)) ++icbs;
  EXPECT_EQ(icbs, 1);                        // filled once
  EXPECT_EQ(upper_.databank_refs[kLid], 2);  // the parent and the child it references
  EXPECT_EQ(Close(a), 0);
  EXPECT_EQ(Close(b), 0);
  EXPECT_EQ(TcbCount(), 0);
}

TEST_F(TableControlTest, IdleTableOpenedExclusively) {
  auto a = Record(30, 1);
  ASSERT_EQ(Open(a), 0);
  const int32_t tcb = Find(30);
  EXPECT_EQ(W(tcb + TCB_OUTER_ACCESS_MODE), 1);
  EXPECT_EQ(W(dcb_ + DCB_EXCLUSIVE_TABLES), 1);
  auto b = Record(30, 3);
  EXPECT_EQ(Open(b), DU_TABLE_IN_USE);
  EXPECT_EQ(Close(a), 0);
  EXPECT_EQ(W(dcb_ + DCB_EXCLUSIVE_TABLES), 0);

  // A block kept by a reference alone is idle for its own users: mode 1
  // takes it.
  auto child = Record(kChild, 3);
  ASSERT_EQ(Open(child), 0);
  const int32_t parent = Find(kParent);
  ASSERT_NE(parent, 0);
  EXPECT_EQ(W(parent + TCB_USECOUNT), 0);
  W(parent + TCB_REFERENCE_USECOUNT) = 0;  // as if the reference were given up
  W(parent + TCB_OUTER_ACCESS_MODE) = 5;
  W(parent + TCB_OPEN_STATUS) = 6;
  auto p = Record(kParent, 1);
  EXPECT_EQ(Open(p), 0);
  EXPECT_EQ(W(parent + TCB_OUTER_ACCESS_MODE), 1);
  W(parent + TCB_REFERENCE_USECOUNT) = 1;
  W(parent + TCB_REMOVAL_USECOUNT) = 2;
  EXPECT_EQ(Close(p), 0);
  EXPECT_EQ(Close(child), 0);
  EXPECT_EQ(TcbCount(), 0);

  // A databank claimed exclusively refuses exclusive tables.
  W(dcb_ + DCB_EXCLUSIVE_TABLES) = -1;
  auto e = Record(31, 1);
  EXPECT_EQ(Open(e), DU_TABLE_HELD);
  EXPECT_EQ(Find(31) != 0 ? W(Find(31) + TCB_OUTER_ACCESS_MODE) : 5, 5);
  // The claim goes and another table of the databank is taken exclusively
  // before the refused block is closed: the close gives back no count the
  // refused open never took.
  W(dcb_ + DCB_EXCLUSIVE_TABLES) = 0;
  auto f = Record(30, 1);
  ASSERT_EQ(Open(f), 0);
  EXPECT_EQ(W(dcb_ + DCB_EXCLUSIVE_TABLES), 1);
  EXPECT_EQ(Close(e), 0);
  EXPECT_EQ(W(dcb_ + DCB_EXCLUSIVE_TABLES), 1);
  int32_t status = 1, table = 0;
  DSClaimDatabank(base_, &status, dcb_, &table);
  EXPECT_EQ(status, DU_TABLE_HELD);
  EXPECT_EQ(table, 30);
  EXPECT_EQ(Close(f), 0);
  EXPECT_EQ(W(dcb_ + DCB_EXCLUSIVE_TABLES), 0);
  EXPECT_EQ(TcbCount(), 0);
}

TEST_F(TableControlTest, EveryWorkTableOpenMakesANewBlock) {
  auto a = Record(DU_WORK_TABLE, 3, 4, 12), b = Record(DU_WORK_TABLE, 3, 4, 12);
  a[DUREC_LID] = b[DUREC_LID] = kLid;
  ASSERT_EQ(Open(a), 0);
  ASSERT_EQ(Open(b), 0);
  EXPECT_NE(a[DUREC_OBJECT], b[DUREC_OBJECT]);
  EXPECT_EQ(TcbCount(), 2);
  EXPECT_EQ(W(a[DUREC_OBJECT] + TCB_OPEN_STATUS), 1);
  EXPECT_EQ(kernel_.Sent(DK_CRT1), 2);
  EXPECT_EQ(Close(a, CLOSE_DROP_WORK), 0);
  EXPECT_EQ(Close(b, CLOSE_DROP_WORK), 0);
  EXPECT_EQ(TcbCount(), 0);
  EXPECT_TRUE(kernel_.open_tables.empty());
}

TEST_F(TableControlTest, ReferencesArePairedAndGivenBackWithTheLastUser) {
  const int64_t blocks = BlocksInUse();
  auto child = Record(kChild, 3, 8, 40);
  ASSERT_EQ(Open(child), 0);
  const int32_t c = Find(kChild), p = Find(kParent);
  ASSERT_NE(p, 0);
  EXPECT_EQ(W(p + TCB_REFERENCE_USECOUNT), 1);
  const int32_t fk = W(c + TCB_ICB);
  EXPECT_EQ(W(fk + ICB_REFCB), p);  // the parent's key
  const int32_t ficb = W(p + TCB_FICB);
  EXPECT_EQ(W(ficb + FICB_ICB), fk);
  EXPECT_EQ(W(c + TCB_FK_ACCESS_MODE), 5);
  EXPECT_EQ(upper_.databank_refs[kLid], 2);

  // The parent opened by its own user takes no second reference.
  auto parent = Record(kParent, 3, 8, 40);
  ASSERT_EQ(Open(parent), 0);
  EXPECT_EQ(W(p + TCB_USECOUNT), 1);
  EXPECT_EQ(W(c + TCB_REFERENCE_USECOUNT), 0);
  EXPECT_EQ(Close(parent), 0);
  EXPECT_EQ(Find(kParent), p);  // still held by the reference

  EXPECT_EQ(Close(child), 0);
  EXPECT_EQ(TcbCount(), 0);
  EXPECT_EQ(upper_.databank_refs[kLid], 0);
  EXPECT_TRUE(kernel_.open_tables.empty());
  EXPECT_EQ(BlocksInUse(), blocks);

  // From the parent's end: the child is opened and paired the same way.
  ASSERT_EQ(Open(parent), 0);
  ASSERT_NE(Find(kChild), 0);
  EXPECT_EQ(W(Find(kChild) + TCB_REFERENCE_USECOUNT), 1);
  EXPECT_EQ(W(W(Find(kChild) + TCB_ICB) + ICB_REFCB), Find(kParent));
  EXPECT_EQ(Close(parent), 0);
  EXPECT_EQ(TcbCount(), 0);
  EXPECT_EQ(upper_.databank_refs[kLid], 0);
}

TEST_F(TableControlTest, CatalogAndStatementMustAgreeOnLengths) {
  auto wrong = Record(kParent, 3, 8, 44);
  EXPECT_EQ(OpenDcb(wrong), DU_BAD_DESCRIPTION_LENGTHS);
  EXPECT_EQ(W(usr_ + USR_RVEC_TNAME), kParent);
  EXPECT_EQ(TcbCount(), 0);
  EXPECT_EQ(upper_.databank_refs[kLid], 0);
  auto missing = Record(77, 3);
  EXPECT_EQ(OpenDcb(missing), DU_BAD_DESCRIPTION_LENGTHS);
  EXPECT_EQ(TcbCount(), 0);
}

TEST_F(TableControlTest, BadDescriptionsAreRefused) {
  const std::vector<int32_t> good = upper_.descriptions[kParent];
  struct Case {
    const char* name;
    std::vector<int32_t> description;
  };
  std::vector<int32_t> unended(good.begin(), good.end() - 1);
  std::vector<int32_t> kind3 = good;
  kind3[DESC_KIND] = 3;
  std::vector<int32_t> long_key = good;
  long_key[DESC_ENTRIES + DESCIX_XD] = 5000;
  std::vector<int32_t> no_index = good;
  no_index[no_index.size() - 2] = 99;  // a foreign key through an index the table lacks
  for (const Case& c :
       {Case{"unended", unended}, Case{"kind", kind3}, Case{"key description", long_key}}) {
    SCOPED_TRACE(c.name);
    upper_.descriptions[kParent] = c.description;
    auto r = Record(kParent, 3);
    EXPECT_EQ(OpenDcb(r), DU_BAD_ARGUMENT);
    EXPECT_EQ(TcbCount(), 0);
  }
  upper_.descriptions[kParent] = no_index;
  auto r = Record(kParent, 3);
  EXPECT_EQ(OpenDcb(r), -19011);
  EXPECT_EQ(TcbCount(), 0);
  EXPECT_EQ(upper_.databank_refs[kLid], 0);
}

TEST_F(TableControlTest, KernelLengthsMustMatch) {
  upper_.used_by_user = 0;
  kernel_.open_table = [](int32_t* b) { b[7] += 4; };
  auto r = Record(30, 3);
  EXPECT_EQ(OpenDcb(r), DU_KERNEL_LENGTHS);
  EXPECT_EQ(TcbCount(), 0);
  EXPECT_TRUE(kernel_.open_tables.empty());
  kernel_.open_table = [](int32_t* b) { b[0] = 7; };
  EXPECT_EQ(OpenDcb(r), DU_TABLE_IN_USE);
  kernel_.open_table = nullptr;
  kernel_.fail[DK_OPT1] = -46;
  EXPECT_EQ(OpenDcb(r), -46 + DU_KERNEL_OFFSET);
  EXPECT_EQ(TcbCount(), 0);
  EXPECT_EQ(upper_.databank_refs[kLid], 0);
}

TEST_F(TableControlTest, InvalidCloseCodeIsLogged) {
  auto r = Record(30, 3);
  ASSERT_EQ(Open(r), 0);
  int32_t close[CLB_WORDS] = {7};
  DUCLT1(base_, r.data(), close);
  EXPECT_TRUE(log_.Has("DUCLT1: Invalid function code"));
  EXPECT_EQ(r[DUREC_STATUS], DU_BAD_ARGUMENT);
  EXPECT_EQ(DUTcbUseCount(base_, 30), 1);
  EXPECT_EQ(Close(r), 0);
  // A record block without a table is only cleared.
  r[DUREC_FETCH_CODE] = 20;
  EXPECT_EQ(Close(r), 0);
  EXPECT_EQ(r[DUREC_FETCH_CODE], 0);
}

TEST_F(TableControlTest, AttachChecksTheRecordBlockAgainstTheTable) {
  auto r = Record(30, 3, 4, 12);
  ASSERT_EQ(Open(r), 0);
  const int32_t tcb = r[DUREC_OBJECT];
  struct Case {
    const char* name;
    int32_t word, value;
  };
  for (Case c : {Case{"record length", DUREC_RECLEN, 16}, Case{"key length", DUREC_KEYLEN, 8},
                 Case{"databank", DUREC_LID, 6}}) {
    SCOPED_TRACE(c.name);
    auto a = Record(30, 3, 4, 12);
    a[DUREC_LID] = kLid;
    a[c.word] = c.value;
    DUOSTX1(base_, a.data(), tcb, 0);
    EXPECT_EQ(a[DUREC_STATUS], DU_BAD_DESCRIPTION_LENGTHS);
    EXPECT_EQ(a[DUREC_OBJECT], 0);
    EXPECT_EQ(W(tcb + TCB_USECOUNT), 1);
  }
  EXPECT_TRUE(log_.Has("DUOSTX1: Invalid parameter"));
  auto a = Record(30, 7, 4, 12);
  a[DUREC_LID] = kLid;
  DUOSTX1(base_, a.data(), tcb, 0);
  EXPECT_TRUE(log_.Has("DUOSTX1: Invalid function code"));
  EXPECT_EQ(a[DUREC_STATUS], 0);  // goes on after its message
  EXPECT_EQ(W(tcb + TCB_USECOUNT), 2);
  EXPECT_EQ(a[DUREC_TBL], W(tcb + TCB_TBL));
  EXPECT_EQ(Close(a), 0);
  EXPECT_EQ(Close(r), 0);
  EXPECT_EQ(TcbCount(), 0);
}

TEST_F(TableControlTest, IndexRecordBlockUsesItsBaseTable) {
  auto t = Record(kParent, 3, 8, 40);
  ASSERT_EQ(Open(t), 0);
  auto x = Record(kParentUnique, 3, 16, 16);
  x[DUREC_TYPE] = DU_TYPE_INDEX;
  x[DUREC_KEY_FLAG] = kParent;
  ASSERT_EQ(Open(x), 0);
  const int32_t icb = x[DUREC_OBJECT];
  EXPECT_EQ(W(icb + ICB_TNAME), kParentUnique);
  EXPECT_EQ(W(icb + ICB_QRECLEN), QueueRecordWords(16));
  EXPECT_EQ(W(Find(kParent) + TCB_USECOUNT), 2);
  auto y = Record(99, 3, 16, 16);
  y[DUREC_TYPE] = DU_TYPE_INDEX;
  y[DUREC_KEY_FLAG] = kParent;
  EXPECT_EQ(Open(y), DU_NO_BASE_TABLE);
  EXPECT_EQ(Close(x), 0);
  EXPECT_EQ(Close(t), 0);
  EXPECT_EQ(TcbCount(), 0);
}

// A statement whose permanent list names the given tables.
class StatementTablesTest : public ModelTableTest {
 protected:
  int32_t Statement(const std::vector<int32_t>& tables, int32_t count = -1) {
    const int32_t stm = NewStatement(usr_, 2);
    const int32_t sd = W(stm + STM_SD), stg = W(stm + STM_STG);
    W(sd + du::SD_PERM_COUNT) = count < 0 ? static_cast<int32_t>(tables.size()) : count;
    for (size_t k = 0; k < tables.size(); ++k) {
      const int32_t offset = 1 + 40 * static_cast<int32_t>(k);
      W(sd + 20 + static_cast<int32_t>(k)) = offset;
      W(stg + offset + DUREC_ACCESS_MODE) = 3;
      W(stg + offset + DUREC_TNAME) = tables[k];
      W(stg + offset + DUREC_TYPE) = 1;
    }
    W(sd + 20 + static_cast<int32_t>(tables.size())) = -1;
    return stm;
  }
};

TEST_F(StatementTablesTest, AFailingThirdTableClosesTheFirstTwo) {
  const int32_t stm = Statement({30, 31, 77});
  int32_t pb[2] = {0, usr_};
  DSOpenStmPermTables(base_, pb, stm);
  EXPECT_EQ(pb[0], DU_BAD_DESCRIPTION_LENGTHS);
  EXPECT_EQ(W(usr_ + USR_RVEC_TNAME), 77);
  EXPECT_EQ(TcbCount(), 0);
  EXPECT_EQ(upper_.databank_refs[kLid], 0);
  EXPECT_TRUE(kernel_.open_tables.empty());

  const int32_t good = Statement({30, 31});
  DSOpenStmPermTables(base_, pb, good);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(TcbCount(), 2);
  DSCloseStmPermTables(base_, pb, good);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(TcbCount(), 0);
  EXPECT_EQ(upper_.databank_refs[kLid], 0);

  // The list is read no further than its count, and an empty one opens
  // nothing.
  const int32_t short_count = Statement({30, 77}, 1);
  DSOpenStmPermTables(base_, pb, short_count);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(TcbCount(), 1);
  DSCloseStmPermTables(base_, pb, short_count);
  const int32_t empty = Statement({});
  DSOpenStmPermTables(base_, pb, empty);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(TcbCount(), 0);
}

TEST_F(StatementTablesTest, TablesLockedByAnotherUserStopTheTemporaryOpen) {
  const int32_t stm = Statement({30});
  int32_t pb[2] = {0, usr_};
  DSOpenStmPermTables(base_, pb, stm);
  ASSERT_EQ(pb[0], 0);
  const int32_t other = NewUser();
  const int32_t tcb = Find(30);
  EXPECT_EQ(DUSetTableLock(base_, other, tcb), 0);
  DSOpenStmTempTables(base_, pb, stm);
  EXPECT_EQ(pb[0], DU_TABLE_HELD);
  DUFreeTableRefs(base_, other, tcb);
  DSOpenStmTempTables(base_, pb, stm);
  EXPECT_EQ(pb[0], 0);
  DSCloseStmPermTables(base_, pb, stm);
  EXPECT_EQ(TcbCount(), 0);
}

TEST_F(StatementTablesTest, HandlesKeepATableOpen) {
  auto r = Record(30, 3);
  ASSERT_EQ(Open(r), 0);
  int32_t handle = 0;
  int32_t pb[2] = {0, usr_};
  DSOTH2(base_, pb, &handle, r.data());
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(Close(r), 0);
  EXPECT_EQ(TcbCount(), 1);
  DSCloseTableHandle(base_, pb, &handle);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(handle, 0);
  EXPECT_EQ(TcbCount(), 0);
  DSCloseTableHandle(base_, pb, &handle);  // a second close finds no handle
  EXPECT_EQ(pb[0], DU_BAD_ARGUMENT);
  auto none = Record(30, 3);
  DSOTH2(base_, pb, &handle, none.data());
  EXPECT_EQ(pb[0], DU_BAD_ARGUMENT);
}

// Threads of several users open and close tables in mixed modes; every
// refusal is an access-mode conflict, and at the end nothing is left open.
TEST_F(TableControlTest, ThreadsOpeningAndClosingLeaveNothingOpen) {
  constexpr int kWorkers = 6, kRounds = 300;
  std::vector<int32_t> users;
  for (int i = 0; i < kWorkers; ++i) users.push_back(NewUser());
  std::atomic<int> unexpected{0}, opened{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kWorkers; ++i) {
    threads.emplace_back([&, i] {
      enqdeq_attach(enq_.data(), 2 + i);
      std::mt19937 rng(static_cast<uint32_t>(i));
      const int32_t modes[] = {1, 3, 3, 5, 4};
      const int32_t tables[] = {30, 31, kChild, kParent};
      for (int round = 0; round < kRounds; ++round) {
        auto r = Record(tables[rng() % 4], modes[rng() % 5]);
        const int32_t rc = OpenDcb(r, users[i]);
        if (rc == 0) {
          ++opened;
          std::this_thread::yield();
        } else if (rc != DU_TABLE_IN_USE && rc != DU_TABLE_HELD) {
          ++unexpected;
        }
        if (rc == 0 && Close(r, CLOSE_TABLE, users[i]) != 0) ++unexpected;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_GT(opened.load(), kWorkers * kRounds / 4);
  EXPECT_EQ(TcbCount(), 0);
  EXPECT_EQ(upper_.databank_refs[kLid], 0);
  EXPECT_TRUE(kernel_.open_tables.empty());
}

}  // namespace

namespace {

TEST_F(TableControlTest, KeyPositionLookups) {
  auto t = Record(kParent, 3, 8, 40);
  ASSERT_EQ(Open(t), 0);
  const int32_t tcb = t[DUREC_OBJECT];
  int32_t offset = 0, index = 0, length = 0;
  DUIndexLimits(base_, tcb, 8, &offset, &index);
  EXPECT_EQ(offset, 0);
  EXPECT_EQ(index, kParentUnique);
  DUIndexLimits(base_, tcb, 0, &offset, &index);  // only behind a part of kind 1
  EXPECT_EQ(offset, 2147483647);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(DUFindIndexKind(base_, tcb, kParentUnique, 0, &offset, &length), 0);
  EXPECT_EQ(offset, 8);
  EXPECT_EQ(length, 8);
  EXPECT_EQ(DUFindIndexKind(base_, tcb, kParentUnique, 30, &offset, &length), 0);
  EXPECT_EQ(offset, 16 + 30);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(DUFindIndexKind(base_, tcb, 99, 0, &offset, &length), DU_BAD_ARGUMENT);
  int32_t cursor = 0, out[6] = {};
  ASSERT_EQ(DUNextTableInfo(base_, tcb, &cursor, out), 0);
  EXPECT_EQ(out[0], dcb_);
  EXPECT_EQ(out[4], kParentUnique);
  EXPECT_EQ(out[5], 901);
  EXPECT_EQ(DUNextTableInfo(base_, tcb, &cursor, out), DU_BAD_ARGUMENT);
  int32_t* list[1] = {t.data()};
  EXPECT_EQ(DUDropTableList(base_, list, 1), 0);
  EXPECT_EQ(kernel_.Sent(DK_DRP1), 1);
  EXPECT_EQ(Close(t), 0);
}

}  // namespace

namespace {

TEST_F(TableControlTest, XaRecoveryAttach) {
  int32_t dcb_hash = 0;
  DSGetMem(base_, &dcb_hash, TCBH_BYTES);
  W(dcb_hash) = TCBH_BUCKET_COUNT;
  for (int32_t k = 0; k < TCBH_BUCKET_COUNT; ++k)
    enqdeq_init_semaphore(&W(dcb_hash + TCBH_FIRST_BUCKET + TCBH_BUCKET_WORDS * k), 1);
  int32_t pb[2] = {0, usr_};
  int32_t first = 0, second = 0;
  EXPECT_EQ(DSXaAttachTable(base_, pb, &first, 30, 9, 3), DU_NOT_INITIALISED);
  W(sys_ + SYS_DCB_LIST) = dcb_hash;
  ASSERT_EQ(DSXaAttachTable(base_, pb, &first, 30, 9, 3), 1);
  ASSERT_EQ(DSXaAttachTable(base_, pb, &second, 30, 9, 3), 1);
  EXPECT_EQ(first, second);
  EXPECT_EQ(W(first + RATH_USECOUNT), 2);
  const int32_t tcb = W(first + RATH_TCB);
  EXPECT_EQ(W(tcb + TCB_RATH), first);
  EXPECT_EQ(W(tcb + TCB_USECOUNT), 2);
  const int32_t dcb = W(first + RATH_DCB);
  ASSERT_NE(dcb, 0);
  EXPECT_EQ(W(dcb + DCB_ACCESS_MODE), 10);
  EXPECT_EQ(W(dcb + DCB_LID), 9);
  EXPECT_EQ(W(dcb + DCB_REFCOUNT), 1);
  int32_t excl = 0;
  EXPECT_EQ(DSXaAttachTable(base_, pb, &excl, 30, 9, 1), DU_TABLE_IN_USE);
  upper_.databank_refs[9] = 1;
  DSCloseTableHandle(base_, pb, &first);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(upper_.databank_refs[9], 1);
  DSCloseTableHandle(base_, pb, &second);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(upper_.databank_refs[9], 0);  // the recovery handle's databank given back
  EXPECT_EQ(TcbCount(), 0);
}

}  // namespace
