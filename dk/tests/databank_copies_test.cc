// The copies of one databank: their state by SEQNO and over the chain, a
// copy taken offline with its close mark written, once only, and put online
// again with table entries of its own that find their root entries.
#include "dk/databank_copies.h"

#include <gtest/gtest.h>

#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/tests/databank_fixture.h"
#include "dk/tests/failing_writes.h"

namespace {

class DatabankCopiesTest : public DatabankTest {
 protected:
  // The databank (SEQNO 3) and a copy (SEQNO 4) of DID 5, both open.
  void SetUp() override {
    DatabankTest::SetUp();
    first_ = Create("first", 64, 5, 3);
    copy_ = Create("copy", 64, 5, 4);
  }

  std::vector<int32_t> Call(int32_t code, int32_t mode, int32_t did, int32_t seqno) {
    int32_t rq[CPY_WORDS] = {mode, 0, did, seqno};
    DKCallEntry(code, rq, nullptr);
    return {rq[CPY_MODE], rq[CPY_ENTRY], rq[CPY_SEQNO]};
  }
  std::vector<int32_t> State(int32_t mode, int32_t did, int32_t seqno) {
    return Call(32, mode, did, seqno);
  }
  int32_t Offline(int32_t seqno) { return Call(53, 1, 5, seqno)[0]; }
  std::vector<int32_t> Online(int32_t did, int32_t seqno) { return Call(49, 0, did, seqno); }

  // A table created on every copy of a DID; its first table entry.
  int32_t MakeTable(int32_t did, int32_t tbl, int32_t type) {
    int32_t b[CRT_WORDS] = {};
    b[RQ_DID] = did;
    b[RQ_TYPE] = type;
    b[RQ_TBL] = tbl;
    b[RQ_KEY_LENGTH] = 4;
    b[RQ_RECORD_LENGTH] = 8;
    DKCRT1(b);
    EXPECT_EQ(b[RQ_STATUS], 0);
    return b[RQ_TABLE];
  }
  // The table entries of a table's chain, from its first.
  std::vector<int32_t> Chain(int32_t first) {
    std::vector<int32_t> chain;
    for (int32_t t = first; t > 0; t = area_[t + TBE_NEXT]) chain.push_back(t);
    return chain;
  }

  int32_t first_ = 0, copy_ = 0;
};

TEST_F(DatabankCopiesTest, StateByCopyAndOverTheChain) {
  EXPECT_EQ(State(0, 5, -1)[1], first_);
  EXPECT_EQ(State(0, 5, 4), (std::vector<int32_t>{0, copy_, 4}));
  EXPECT_EQ(State(1, 5, 4)[0], 0);
  EXPECT_EQ(State(-1, 5, -1)[0], 0);  // the copy is online
  EXPECT_EQ(State(0, 5, 9)[0], -47);
  EXPECT_EQ(State(0, 8, -1)[0], 3);
  EXPECT_EQ(State(-1, 8, -1)[0], 3);
}

TEST_F(DatabankCopiesTest, CopyGoesOfflineOnceWithItsCloseMark) {
  EXPECT_EQ(Offline(4), 0);
  EXPECT_EQ(area_[copy_ + DBE_OFFLINE], 1);
  EXPECT_EQ(FileWord("copy", kHeaderUnit, HDR_CLOSE_MARK), 1);
  EXPECT_EQ(State(1, 5, 4)[0], 1);
  EXPECT_EQ(State(-1, 5, -1)[0], 1);  // no copy online but the first
  // Offline already, itself or a later copy of the chain.
  EXPECT_EQ(Offline(4), -57);
  EXPECT_EQ(Offline(3), -57);
  EXPECT_EQ(area_[first_ + DBE_OFFLINE], 0);
  EXPECT_EQ(Offline(9), -45);
  EXPECT_EQ(Call(53, -1, 5, 4), (std::vector<int32_t>{0, 0, 4}));
  EXPECT_EQ(Call(53, -1, 5, 9)[0], 1);
}

// A copy goes offline only once its changed pages and its close mark are on
// disk. When either write fails the failure is the answer and the copy stays
// where it was (online, its tables' entries untouched), disabled by the
// failed write, its header marked open as a crash leaves it.
TEST_F(DatabankCopiesTest, ACopyWhoseWriteFailsAnswersItAndStaysOnline) {
  struct Case {
    const char* what;
    bool fail_page, fail_mark;
    int32_t rc, error;  // the answer; the copy's error status after it
    int32_t disabled = 0;  // the copy's error status before the call
  };
  // A failed write disables the copy with -44 whichever page it was.
  const Case cases[] = {
      {"nothing fails", false, false, 0, 0},
      {"the page write fails", true, false, -44, -44},
      {"the close-mark write fails", false, true, -61, -44},
      // Its pages are written, but it gets no close mark, as at its close.
      {"the copy was disabled before", false, false, 0, 0, -44},
  };
  int32_t did = 6;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = "offcopy" + std::to_string(did);
    Create("off" + std::to_string(did), 64, did, 3);
    const int32_t copy = Create(name, 64, did, 4);
    const int32_t table = MakeTable(did, 70 + did, 10);
    ASSERT_EQ(Chain(table).size(), 2u);
    const int32_t on_copy = Chain(table)[1];
    const int32_t root = area_[on_copy + TBE_ROOT_PAGE];
    const int32_t page = ChangedPage(copy);
    area_[copy + DBE_ERROR] = c.disabled;

    FailingWrites failing(fault_);
    failing.Choose(c.fail_page, c.fail_mark, page);
    mdr_install_file_system(&failing);
    EXPECT_EQ(Call(53, 1, did, 4)[0], c.rc);
    mdr_install_file_system(&fault_);
    EXPECT_EQ(failing.failed > 0, c.rc != 0);
    EXPECT_EQ(FileWord(name, page, 100) == 4711, !c.fail_page);
    const bool marked = c.rc == 0 && c.disabled == 0;
    EXPECT_EQ(FileWord(name, kHeaderUnit, HDR_CLOSE_MARK), marked ? CLOSE_MARK_CLOSED : 0);
    EXPECT_EQ(area_[copy + DBE_OFFLINE], c.rc == 0 ? 1 : 0);
    EXPECT_EQ(area_[copy + DBE_ERROR], c.error);
    EXPECT_EQ(Call(53, -1, did, 4)[0], c.error);  // the copy's error status
    EXPECT_EQ(area_[on_copy + TBE_ROOT_PAGE], c.rc == 0 ? -1 : root);
    ++did;
  }
}

TEST_F(DatabankCopiesTest, CopyComesOnlineWithItsTablesFound) {
  const int32_t table = MakeTable(5, 70, 10);
  ASSERT_EQ(Chain(table).size(), 2u);
  const int32_t on_copy = Chain(table)[1];
  const int32_t root = area_[on_copy + TBE_ROOT_PAGE];
  ASSERT_GT(root, 0);
  ASSERT_EQ(Offline(4), 0);
  ASSERT_EQ(area_[on_copy + TBE_ROOT_PAGE], -1);
  area_[copy_ + DBE_ERROR] = -44;

  EXPECT_EQ(Online(5, 4), (std::vector<int32_t>{0, copy_, 4}));
  EXPECT_EQ(area_[copy_ + DBE_OFFLINE], 0);
  EXPECT_EQ(area_[copy_ + DBE_OFFLINE_COPY], 0);
  EXPECT_EQ(area_[copy_ + DBE_ERROR], 0);
  EXPECT_EQ(FileWord("copy", kHeaderUnit, HDR_CLOSE_MARK), 0);  // in use on disk again
  EXPECT_EQ(area_[on_copy + TBE_ROOT_PAGE], root);
  EXPECT_EQ(State(-1, 5, -1)[0], 0);
  // Online already: 1, and nothing changes.
  EXPECT_EQ(Online(5, 4)[0], 1);
  EXPECT_EQ(Chain(table).size(), 2u);
  // No such copy, or no such DID.
  EXPECT_EQ(Online(5, 9)[0], -45);
  EXPECT_EQ(Online(8, -1)[0], -45);
}

TEST_F(DatabankCopiesTest, NewCopyGetsAnEntryForEveryTableOfTheDid) {
  // A table made while only the first databank was there; then a copy of
  // another SEQNO comes and is put online. The copy holds no root entry for
  // the table, so its entry keeps looking (-1).
  const int32_t other = Create("other", 64, 6, 3);
  const int32_t table = MakeTable(6, 71, 10);
  ASSERT_EQ(Chain(table).size(), 1u);
  const int32_t copy = Create("othercopy", 64, 6, 4);
  EXPECT_EQ(Online(6, 4), (std::vector<int32_t>{1, copy, 4}));
  std::vector<int32_t> chain = Chain(table);
  ASSERT_EQ(chain.size(), 2u);
  EXPECT_EQ(chain[0], table);
  EXPECT_EQ(area_[chain[1] + TBE_DATABANK], copy);
  EXPECT_EQ(area_[chain[1] + TBE_TBL], 71);
  EXPECT_EQ(area_[chain[1] + TBE_ACCESS], kAccessClosed);
  EXPECT_EQ(area_[chain[1] + TBE_ROOT_PAGE], -1);
  EXPECT_EQ(area_[chain[1] + TBE_KIND], 1);
  (void)other;
}

TEST_F(DatabankCopiesTest, TableControlAreaExhausted) {
  MakeTable(5, 72, 10);
  Create("third", 64, 5, 7);
  // Every free table entry taken.
  int32_t hash = area_[BP_TABLE_HASH];
  std::vector<int32_t> taken;
  for (int32_t t = DKHMA0(hash); t > 0; t = DKHMA0(hash)) taken.push_back(t);
  EXPECT_EQ(Online(5, 7)[0], -14);
  for (int32_t t : taken) DKHML0(hash, t);
  EXPECT_EQ(Online(5, 7)[0], 1);
}

class TransCopiesTest : public DatabankCopiesTest {
 protected:
  // Two copies of the TRANS databank, each with a root page named by its
  // header's word 4 as the TRANS databank keeps its tables.
  void SetUp() override {
    DatabankTest::SetUp();
    first_ = Create("trans", 64, 2, 3);
    copy_ = Create("transcopy", 64, 2, 4);
    for (int32_t d : {first_, copy_}) {
      ASSERT_EQ(Allocate(d, kUnitBytes), 2);
      int32_t b = Get(d, 2, kUnitBytes, GET_NEW);
      std::memset(PageBytes(b) + 4, 0, kUnitBytes - 4);
      SetPageWord(PageBytes(b), HDR_KIND, ROOT_PAGE_KIND);
      ASSERT_EQ(WriteUnitPage(d, 2, b), 0);
      b = Get(d, kHeaderUnit, kUnitBytes, GET_UPDATE);
      SetPageWord(PageBytes(b), HDR_RESTORE_DIRECTORY, 2);
      ASSERT_EQ(WriteUnitPage(d, kHeaderUnit, b), 0);
    }
  }
  // Sets word j of the root entry of a table entry.
  void SetRootWord(int32_t t, int32_t j, int32_t value) {
    int32_t b = Get(area_[t + TBE_DATABANK], area_[t + TBE_ROOT_PAGE], kUnitBytes, GET_UPDATE);
    ASSERT_GT(b, 0);
    SetPageWord(PageBytes(b), area_[t + TBE_ROOT_WORD] + 1 + j, value);
    ASSERT_EQ(WriteUnitPage(area_[t + TBE_DATABANK], area_[t + TBE_ROOT_PAGE], b), 0);
  }
  int32_t RootWordOf(int32_t t, int32_t j) {
    int32_t b = Get(area_[t + TBE_DATABANK], area_[t + TBE_ROOT_PAGE], kUnitBytes, GET_SHARED);
    int32_t v = PageWord(PageBytes(b), area_[t + TBE_ROOT_WORD] + 1 + j);
    DKPUT0(PUT_END_SHARED, b);
    return v;
  }
};

TEST_F(TransCopiesTest, ListChainOfASetMustReachItsLastPage) {
  const int32_t set = MakeTable(2, 90, 10 * kKindSet);
  std::vector<int32_t> chain = Chain(set);
  ASSERT_EQ(chain.size(), 2u);
  std::vector<int32_t> b(SETRQ_RECORD + 8, 0);
  b[SETRQ_TABLE] = set;
  b[SETRQ_TBL] = 90;
  b[SETRQ_LENGTH] = 3;
  DKEXE1(6, b.data());  // one record on both copies
  ASSERT_EQ(b[SETRQ_RC], 0);
  const int32_t on_copy = chain[1];
  const int32_t first_list = RootWordOf(on_copy, SETROOT_FIRST_LIST);
  ASSERT_GT(first_list, 0);

  ASSERT_EQ(Call(53, 1, 2, 4)[0], 0);
  EXPECT_EQ(Online(2, 4)[0], 0);  // one list page, first and last
  // The copy's root entry names a last list page that its chain never
  // reaches.
  SetRootWord(on_copy, SETROOT_LAST_LIST, first_list + 40);
  ASSERT_EQ(Call(53, 1, 2, 4)[0], 0);
  EXPECT_EQ(Online(2, 4)[0], -63);
  EXPECT_EQ(area_[copy_ + DBE_ERROR], -63);  // the broken copy is not read
}

}  // namespace
