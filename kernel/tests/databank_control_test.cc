// DSOpenDcb and DSCloseDcb over databank files the databank kernel made:
// shared and exclusive claims, offline databanks, references given back,
// refusals that change nothing, and catalog statements that find no row.
#include "kernel/databank_control.h"

#include <atomic>
#include <thread>

#include "kernel/tests/databank_fixture.h"

namespace {

class DcbTest : public DatabankTest {
 protected:
  void SetUp() override {
    DatabankTest::SetUp();
    MakeFile("user4.dbf", 4, 1);
    g_rows[4] = {DatabankRow{"USERDB", "user4.dbf"}};
  }
};

TEST_F(DcbTest, TwoSharedOpensShareOneBlock) {
  auto a = Open(3, 4);
  ASSERT_EQ(a[OPD_KIND], 0);
  EXPECT_NE(a[OPD_DID], 0);
  EXPECT_EQ(a[OPD_FILES], 1);
  const int32_t dcb = a[OPD_DCB];
  EXPECT_EQ(W(dcb, DCB_LID), 4);
  EXPECT_EQ(W(dcb, DCB_TRANS_MODE), 1);
  EXPECT_EQ(W(dcb, DCB_ACCESS_MODE), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&W(dcb, DCB_DNAME)), 6), "USERDB");
  auto b = Open(3, 4);
  ASSERT_EQ(b[OPD_KIND], 0);
  EXPECT_EQ(b[OPD_DCB], dcb);
  EXPECT_EQ(b[OPD_DID], a[OPD_DID]);
  EXPECT_EQ(W(dcb, DCB_REFCOUNT), 2);
  // The first give-back keeps it; the last closes and frees it.
  EXPECT_EQ(Close(0, 4), 0);
  EXPECT_EQ(W(dcb, DCB_REFCOUNT), 1);
  EXPECT_EQ(Find(4), dcb);
  const int64_t live = Live();
  EXPECT_EQ(Close(0, 4), 0);
  EXPECT_EQ(Find(4), 0);
  EXPECT_EQ(Live(), live - 1);
}

TEST_F(DcbTest, ExclusiveHolderKeepsOtherSessionsOut) {
  const int32_t mine = Session(), other = Session();
  SetSlot(TLS_SLOT_CHA, mine);
  auto a = Open(1, 4);
  ASSERT_EQ(a[OPD_KIND], 0);
  const int32_t dcb = a[OPD_DCB];
  EXPECT_EQ(W(dcb, DCB_ACCESS_MODE), 1);
  EXPECT_EQ(W(dcb, DCB_EXCLUSIVE_CHA), W(mine, CHA_USR));
  SetSlot(TLS_SLOT_CHA, other);
  auto b = Open(3, 4);
  EXPECT_EQ(b[OPD_KIND], -16172);
  EXPECT_EQ(W(dcb, DCB_REFCOUNT), 1);
  SetSlot(TLS_SLOT_CHA, mine);
  auto c = Open(3, 4);
  EXPECT_EQ(c[OPD_KIND], 0);
  EXPECT_EQ(W(dcb, DCB_REFCOUNT), 2);
  SetSlot(TLS_SLOT_CHA, 0);
}

TEST_F(DcbTest, LookUpOfAnUnknownLidChangesNothing) {
  const int64_t live = Live();
  auto rq = Open(5, 9);
  EXPECT_EQ(rq[OPD_KIND], 5);
  EXPECT_EQ(rq[OPD_DCB], 0);
  EXPECT_EQ(Live(), live);
}

TEST_F(DcbTest, OfflineDatabankOpensOnlyWithKind7) {
  g_rows[4][0].offline = "Y";
  const int64_t live = Live();
  auto a = Open(3, 4);
  EXPECT_EQ(a[OPD_KIND], -18233);
  EXPECT_EQ(Find(4), 0) << "the reference is given back and the block freed";
  EXPECT_EQ(Live(), live);
  auto b = Open(7, 4);
  EXPECT_EQ(b[OPD_KIND], 0);
  EXPECT_EQ(W(b[OPD_DCB], DCB_ACCESS_MODE), 1);
}

// Offline flags of logical ids 1 and 3 go to SYS and are cleared again.
TEST_F(DcbTest, OfflineFlagsOfSystemAndLogDatabanks) {
  MakeFile("log3.dbf", 3, 1);
  g_rows[3] = {DatabankRow{"LOGDB", "log3.dbf", "N", "Y"}};
  auto a = Open(3, 3);
  ASSERT_EQ(a[OPD_KIND], 0);
  EXPECT_EQ(W(sys_, SYS_DATABASE_OFFLINE), 1);
  EXPECT_EQ(W(a[OPD_DCB], DCB_LOBDIR_TCB), 7000 + 240);
  EXPECT_EQ(W(sys_, SYS_LOGDB_LOBDIR_TCB), 7000 + 240);
  EXPECT_EQ(Close(1, 3), 0);
  EXPECT_EQ(W(sys_, SYS_LOGDB_LOBDIR_TCB), 0);
  g_rows[3][0].offline = "N";
  ASSERT_EQ(Open(3, 3)[OPD_KIND], 0);
  EXPECT_EQ(W(sys_, SYS_DATABASE_OFFLINE), 0);
}

// A catalog statement without a row, or with an error, never answers 0 and
// gives the reference it took back.
TEST_F(DcbTest, NoCatalogRowGivesTheReferenceBack) {
  const int64_t live = Live();
  auto a = Open(3, 6);
  EXPECT_LT(a[OPD_KIND], 0);
  EXPECT_EQ(a[OPD_SEQNO], -1);
  EXPECT_EQ(Find(6), 0);
  g_statement_error = -19050;
  auto b = Open(3, 4);
  EXPECT_EQ(b[OPD_KIND], -19050);
  EXPECT_EQ(Find(4), 0);
  EXPECT_EQ(Live(), live);
}

TEST_F(DcbTest, BadRowsAndKernelFailuresEndTheOpen) {
  struct Case {
    const char* what;
    DatabankRow row;
    int32_t status;
  } cases[] = {
      {"bad type letter", {"X", "user4.dbf", "Q"}, -19010},
      {"missing file", {"X", "nothere.dbf"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_rows[4] = {c.row};
    auto rq = Open(3, 4);
    if (c.status != 0) {
      EXPECT_EQ(rq[OPD_KIND], c.status);
    }
    EXPECT_LT(rq[OPD_KIND], 0);
    EXPECT_EQ(Find(4), 0);
  }
}

TEST_F(DcbTest, CloseModes) {
  ASSERT_EQ(Open(3, 4)[OPD_KIND], 0);
  ASSERT_EQ(Open(3, 4)[OPD_KIND], 0);
  EXPECT_EQ(Close(9, 4), -19022);
  EXPECT_EQ(Close(0, 8), -19021);
  // Mode 3 of a databank not held alone is refused and changes nothing.
  const int32_t dcb = Find(4);
  EXPECT_EQ(Close(3, 4), -16191);
  EXPECT_EQ(Find(4), dcb);
  EXPECT_EQ(W(dcb, DCB_REFCOUNT), 2);
  EXPECT_NE(W(dcb, DCB_DID), 0);
  // Mode 1 unlinks and closes whatever the count.
  EXPECT_EQ(Close(1, 4), 0);
  EXPECT_EQ(Find(4), 0);
}

// Sessions give their references back at once: each but the last leaves
// the block to the others without reading it again, and the last closes
// the databank and frees the block.
TEST_F(DcbTest, ReferencesGivenBackAtOnce) {
  constexpr int kThreadsUsed = 8;
  ASSERT_EQ(Open(3, 4)[OPD_KIND], 0);
  const int32_t dcb = Find(4);
  W(dcb, DCB_REFCOUNT) = kThreadsUsed;
  const int64_t live = Live();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreadsUsed; ++t) {
    threads.emplace_back([&, t] {
      ASSERT_EQ(enqdeq_attach(enq_, 2 + t), 0);
      int32_t cls[CLS_WORDS] = {0, 4, -1};
      DSCloseDcb(base_, cls);
      if (cls[CLS_MODE] != 0) ++failures;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Find(4), 0);
  EXPECT_EQ(Live(), live - 1);
}

TEST_F(DcbTest, AccessModeTenFreesWithoutAClose) {
  auto rq = Open(3, 4);
  ASSERT_EQ(rq[OPD_KIND], 0);
  W(rq[OPD_DCB], DCB_ACCESS_MODE) = 10;
  EXPECT_EQ(Close(0, 4), 0);
  EXPECT_EQ(Find(4), 0);
  // The databank kernel still has it open: a close of its own succeeds.
  int32_t cld[4] = {1, 0, 4, -1};
  DKEXE1(DKF_CLD1, cld);
  EXPECT_EQ(cld[0], 0);
}

TEST_F(DcbTest, CloseEverythingEmptiesTheList) {
  EXPECT_EQ(Close(2, 0), 0);  // an empty list
  ASSERT_EQ(Open(3, 4)[OPD_KIND], 0);
  const int64_t live = Live();
  EXPECT_EQ(Close(2, 0), 0);
  EXPECT_EQ(Find(4), 0);
  EXPECT_EQ(Live(), live - 1);
}

TEST_F(DcbTest, WithoutSysEverythingAnswersNotStarted) {
  const int32_t sys = base_[sqlpool::RESERV];
  base_[sqlpool::RESERV] = 0;
  auto rq = Open(3, 4);
  EXPECT_EQ(rq[OPD_KIND], -19040);
  EXPECT_EQ(rq[OPD_SEQNO], -1);
  EXPECT_EQ(Close(0, 4), -19040);
  EXPECT_EQ(DSGetDcbRefs(base_, 4), -19040);
  base_[sqlpool::RESERV] = sys;
}

// DSOpenSysdb over a system databank the databank kernel made.
class SysdbTest : public DatabankTest {
 protected:
  static inline std::vector<int32_t> registered_;
  static inline std::vector<int32_t> words_;
  static inline int32_t fail_at_ = 0;
  static int32_t Register(int32_t*, const int32_t* d, int32_t words, int32_t) {
    if (d[1] == fail_at_) return -19077;
    registered_.push_back(d[1]);
    words_.push_back(words);
    return 0;
  }
  static int32_t TcbHash(int32_t*) { return 0; }
  void SetUp() override {
    DatabankTest::SetUp();
    registered_.clear();
    words_.clear();
    fail_at_ = 0;
    services_.du_crt_tcb_hash = TcbHash;
    services_.du_open_sys_table = Register;
    MakeFile("sysdb9.dbf", 1, 1, 1);
  }
};

TEST_F(SysdbTest, BuildsTheSystemDcbAndRegistersTheCatalogTables) {
  int32_t status = 9;
  DSOpenSysdb(base_, &status);
  ASSERT_EQ(status, 0);
  const int32_t dcb = Find(1);
  ASSERT_NE(dcb, 0);
  EXPECT_EQ(W(dcb, DCB_REFCOUNT), 2);
  EXPECT_EQ(W(dcb, DCB_ACCESS_MODE), 3);
  EXPECT_NE(W(dcb, DCB_DID), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&W(dcb, DCB_DNAME)), 6), "SYSDB ");
  EXPECT_EQ(registered_, (std::vector<int32_t>{44, 16, 18, 19, 20, 22}));
  EXPECT_EQ(words_, (std::vector<int32_t>{10, 28, 28, 31, 34, 58}));
}

TEST_F(SysdbTest, FailureAtTable19KeepsTheEarlierOnes) {
  fail_at_ = 19;
  int32_t status = 0;
  DSOpenSysdb(base_, &status);
  EXPECT_EQ(status, -19077);
  EXPECT_EQ(W(sys_, SYS_RVEC), -19077);
  EXPECT_EQ(registered_, (std::vector<int32_t>{44, 16, 18}));
}

TEST_F(SysdbTest, MissingFileIsKeptInRvec) {
  std::filesystem::remove("sysdb9.dbf");
  const int64_t live = Live();
  int32_t status = 0;
  DSOpenSysdb(base_, &status);
  EXPECT_LT(status, -16140);
  EXPECT_EQ(W(sys_, SYS_RVEC), status);
  EXPECT_EQ(W(sys_, SYS_RVEC_LID), 1);
  EXPECT_EQ(W(sys_, SYS_RVEC_ATTRIBUTE), 3);
  EXPECT_EQ(Find(1), 0);
  EXPECT_EQ(Live(), live);
}

// The descriptions as written out: table 16 word by word, table 22's second
// entry right behind the first one's end word.
TEST(CatalogTables, DescriptionsAsWrittenOut) {
  int32_t n = 0;
  const CatalogTableDescription* t = CatalogBaseTables(&n);
  ASSERT_EQ(n, 6);
  const std::vector<int32_t> t16(t[1].description, t[1].description + t[1].words);
  EXPECT_EQ(t16, (std::vector<int32_t>{1,  16, 1, 1, 7,  78, 3,  0, 69, 3, 70, 1, 2,  14,
                                       14, 0,  0, 0, 70, 8,  71, 7, 0,  0, 7,  1, -1, -1}));
  const int32_t* d22 = t[5].description;
  EXPECT_EQ(d22[32], -1);
  EXPECT_EQ(d22[33], 3);
  EXPECT_EQ(d22[34], 81);
  EXPECT_EQ(t[0].words, 10);
  EXPECT_EQ(t[0].description[9], -1);
  // Each index's key length is the sum of its marker 0 and 1 parts, the
  // entry length adds marker 2.
  for (int32_t i = 1; i < n; ++i) {
    const int32_t* d = t[i].description;
    int32_t w = 9;
    while (d[w] != -1) {
      int32_t key = 0, entry = 0;
      const int32_t c = d[w + 10];
      for (int32_t p = w + 11; p < w + 11 + c - 2; p += 3) {
        if (d[p + 2] < 2) key += d[p + 1];
        entry += d[p + 1];
      }
      EXPECT_EQ(d[w + 4], key) << t[i].table;
      EXPECT_EQ(d[w + 5], entry) << t[i].table;
      w += 11 + c - 2;
      EXPECT_EQ(d[w], -1);
      ++w;
    }
    EXPECT_EQ(w + 1, t[i].words) << t[i].table;
  }
}

}  // namespace

#include "kernel/record_access_services.h"

namespace {

// Record access releases a databank reference through the kernel's entry.
TEST_F(DcbTest, RecordAccessReleasesThroughTheKernelsEntry) {
  const DUUpperServices* s = KernelRecordAccessServices();
  ASSERT_NE(s->release_databank, nullptr);
  EXPECT_EQ(s->open_databank, nullptr);
  ASSERT_EQ(Open(3, 4)[OPD_KIND], 0);
  EXPECT_EQ(s->release_databank(base_, 0, 4, -1), 0);
  EXPECT_EQ(Find(4), 0);
  EXPECT_EQ(s->release_databank(base_, 0, 4, -1), -19021);
}

}  // namespace

namespace {

// The header's restore time stamp of the open databank `lid`.
int32_t HeaderStamp(int32_t did, int32_t lid) {
  int32_t roo[ROO_WORDS] = {1, did, lid};
  roo[ROO_SEQNO] = -1;
  DKEXE1(51, roo);
  EXPECT_EQ(roo[0], 0);
  return roo[ROO_STAMP];
}

TEST_F(DcbTest, FindByNameReadsTheRootOfTheOpenDatabank) {
  const auto a = Open(3, 4);
  ASSERT_EQ(a[OPD_KIND], 0);
  uint8_t name[128];
  std::memset(name, ' ', sizeof name);
  std::memcpy(name, "USERDB", 6);
  int32_t status = 1, value1 = -5, value4 = -5;
  DSFindDcbByName(base_, &status, &value1, &value4, name);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(value1, HeaderStamp(a[OPD_DID], 4));
  EXPECT_EQ(value4, 0);  // no restore directory without a log databank
  name[0] = 'X';
  DSFindDcbByName(base_, &status, &value1, &value4, name);
  EXPECT_EQ(status, -19021);
}

TEST_F(DcbTest, DatabankListWritesEachRootThenMakesTheCopiesCurrent) {
  const int32_t usr = Alloc(USR_BYTES);
  const auto a = Open(3, 4);
  ASSERT_EQ(a[OPD_KIND], 0);
  std::vector<int32_t> rq(CDL_FIRST_LID + CDL_MAX_COUNT + 4, 0);
  auto run = [&](int32_t count, int32_t value) {
    rq[CDL_STATUS] = 1;
    rq[CDL_USR] = usr;
    rq[CDL_VALUE] = value;
    rq[CDL_COUNT] = count;
    DSChkDbList(base_, rq.data());
    return rq[CDL_STATUS];
  };
  const int32_t before = HeaderStamp(a[OPD_DID], 4);
  // Counts past the limit: nothing is looked up or written.
  rq[CDL_FIRST_LID] = 4;
  for (int32_t count : {101, -101, INT32_MIN}) {
    EXPECT_EQ(run(count, before + 7), -19078) << count;
    EXPECT_EQ(W(usr, USR_RVEC_RCODE), -19078);
  }
  EXPECT_EQ(HeaderStamp(a[OPD_DID], 4), before);
  // The walk ends at a databank that is not open; the one before it is written.
  rq[CDL_FIRST_LID] = 4;
  rq[CDL_FIRST_LID + 1] = 9;
  EXPECT_EQ(run(-2, before + 7), -19046);
  EXPECT_EQ(W(usr, USR_RVEC_LID), 9);
  EXPECT_EQ(W(usr, USR_RVEC_SEQNO), before + 7);
  EXPECT_EQ(W(usr, USR_RVEC_BITVEC), RVEC_MASK_DATABANK);
  EXPECT_EQ(HeaderStamp(a[OPD_DID], 4), before + 7);
  // Every root written; the copy with that SEQNO does not exist (-47).
  EXPECT_EQ(run(1, before + 9), -47 - 16140);
  EXPECT_EQ(W(usr, USR_RVEC_RCODE), -47 - 16140);
  EXPECT_EQ(HeaderStamp(a[OPD_DID], 4), before + 9);
  // An empty list has nothing to make current.
  EXPECT_EQ(run(0, 1), 0);
}

}  // namespace
