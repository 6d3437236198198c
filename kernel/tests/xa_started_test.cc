// XA branches over a started database: a heuristic decision and its forget
// are recorded in the databank kernel's table of the TRANS databank.
#include "dk/in_doubt_transactions.h"
#include "dk/table_entries.h"
#include "dk/tests/transaction_fixture.h"
#include "dk/transactions.h"
#include "kernel/sessions.h"
#include "kernel/tests/start_fixture.h"
#include "kernel/xa_branches.h"

namespace {

int32_t g_tps = 0;
int32_t Begin(int32_t* base, int32_t usr) {
  int32_t tp = 0;
  DSGetMem(base, &tp, TP_BYTES);
  sqlpool_word(base, tp + TP_TRANSACTION_NUMBER) = ++g_tps;
  sqlpool_word(base, usr + USR_TP) = tp;
  return 0;
}
int32_t NoLocal(int32_t*, int32_t) {
  return 0;
}
int32_t EndOk(int32_t*, int32_t, int32_t, const uint8_t*, int32_t) {
  return 0;
}
int32_t FreeTp(int32_t* base, int32_t tp) {
  DSGetMem(base, &tp, 0);
  return 0;
}

class XaStartedTest : public DbStartTest {
 protected:
  void SetUp() override {
    DbStartTest::SetUp();
    services_.begin_trans = Begin;
    services_.get_trans_state = NoLocal;
    services_.end_trans_work = EndOk;
    services_.free_tp = FreeTp;
    g_catalog.idents["ALICE"] = {7, "secret"};
    g_catalog.idents["ADMIN"] = {1, "adm"};
    g_catalog.administrators = {"ADMIN"};
    ASSERT_EQ(Start(1), 0);
  }
  int32_t Login(int32_t channel, const std::string& ident, const std::string& password) {
    int32_t status = 0, cha = 0;
    DSNewCha(base_, &status, channel, 3, &cha);
    const std::string text = ident + password;
    std::vector<int32_t> b(CNB_TEXT + text.size() / 4 + 2, 0);
    b[CNB_SIZE] = static_cast<int32_t>(b.size());
    b[CNB_MODE] = 1;
    b[CNB_IDENT_LENGTH] = static_cast<int32_t>(ident.size());
    b[CNB_PASSWORD_LENGTH] = static_cast<int32_t>(password.size());
    std::memcpy(b.data() + CNB_TEXT, text.data(), text.size());
    int32_t params[SES_PRM_WORDS] = {0, cha, 0, 0};
    DSConnect(base_, params, b.data(), static_cast<int32_t>(b.size()));
    EXPECT_EQ(params[SES_PRM_STATUS], 0) << ident;
    return params[SES_PRM_USR];
  }
  // The database stops and the databank kernel lets its files go.
  void Stop() {
    int32_t status = 0;
    DSStopDb(base_, &status);
    ASSERT_EQ(status, 0);
    for (int32_t lid = 2; lid <= 4; ++lid) {
      int32_t cld[4] = {1, 0, lid, -1};
      DKEXE1(DKF_CLD1, cld);
    }
  }
  std::pair<int32_t, int32_t> Op(int32_t usr, int32_t op, const std::array<int32_t, XID_WORDS>& x) {
    int32_t rq[XAREQ_WORDS] = {op, usr, 99, 0};
    DSXAT3(base_, rq, x.data());
    return {rq[XAREQ_OP], rq[XAREQ_CODE]};
  }
};

TEST_F(XaStartedTest, AHeuristicCommitRefusesTheCommitAndIsForgotten) {
  const int32_t alice = Login(1, "ALICE", "secret"), admin = Login(2, "ADMIN", "adm");
  std::array<int32_t, XID_WORDS> x{};
  x[XID_FORMAT] = 1;
  x[XID_GTRID_LENGTH] = 5;
  x[XID_BQUAL_LENGTH] = 2;
  std::memcpy(x.data() + XID_DATA, "gtridbq", 7);
  using Answer = std::pair<int32_t, int32_t>;
  ASSERT_EQ(Op(alice, 1, x), Answer(0, XA_OK));
  ASSERT_EQ(Op(alice, 4, x), Answer(0, XA_OK));
  ASSERT_EQ(Op(alice, 5, x), Answer(0, XA_OK));
  ASSERT_EQ(Op(admin, 8, x), Answer(0, XA_OK));
  EXPECT_EQ(Op(alice, 6, x), Answer(XA_BAD_STATE, XA_HEURCOM));
  EXPECT_EQ(Op(admin, 10, x), Answer(0, XA_OK));
  // The branch is gone: recover lists nothing.
  int32_t rq[XAREQ_WORDS] = {0, admin, 0, 0};
  int32_t reply[64] = {};
  DSXAR3(base_, rq, reply, sizeof reply);
  EXPECT_EQ(reply[0], XAR_NO_BRANCH);
  EXPECT_EQ(reply[1], XAR_NO_BRANCH);
}

}  // namespace

namespace {

TEST_F(XaStartedTest, DecisionsComeBackAtTheNextBegin) {
  const int32_t alice = Login(1, "ALICE", "secret"), admin = Login(2, "ADMIN", "adm");
  auto xid = [](const std::string& g, const std::string& b) {
    std::array<int32_t, XID_WORDS> x{};
    x[XID_FORMAT] = 77;
    x[XID_GTRID_LENGTH] = static_cast<int32_t>(g.size());
    x[XID_BQUAL_LENGTH] = static_cast<int32_t>(b.size());
    std::memcpy(x.data() + XID_DATA, (g + b).data(), g.size() + b.size());
    return x;
  };
  const auto committed = xid("commit", "1"), rolled = xid("rollback", "22");
  for (const auto& x : {committed, rolled}) {
    ASSERT_EQ(Op(alice, 1, x).first, 0);
    ASSERT_EQ(Op(alice, 4, x).first, 0);
    ASSERT_EQ(Op(alice, 5, x).first, 0);
  }
  ASSERT_EQ(Op(admin, 8, committed).first, 0);
  ASSERT_EQ(Op(admin, 9, rolled).first, 0);
  // The database stops and starts again.
  Stop();
  ASSERT_EQ(Start(1), 0);
  std::map<std::string, std::pair<int32_t, int32_t>> found;  // id -> state, format
  for (int32_t e = W(sys_, SYS_FIRST_XAENT); e != 0; e = W(e, XAENT_NEXT)) {
    const int32_t n = W(e, XAENT_GTRID_LENGTH) + W(e, XAENT_BQUAL_LENGTH);
    found[std::string(reinterpret_cast<char*>(&W(e, XAENT_TRANSACTION_ID)), n)] = {
        W(e, XAENT_STATE), W(e, XAENT_FORMATID)};
    EXPECT_EQ(W(e, XAENT_USECOUNT), 0);
  }
  EXPECT_EQ(found, (std::map<std::string, std::pair<int32_t, int32_t>>{
                       {"commit1", {XA_HEURISTIC_COMMIT, 77}},
                       {"rollback22", {XA_HEURISTIC_ROLLBACK, 77}}}));
  // Forgotten, a decision does not come back.
  const int32_t admin2 = Login(3, "ADMIN", "adm");
  EXPECT_EQ(Op(admin2, 10, committed), std::make_pair(0, XA_OK));
  Stop();
  ASSERT_EQ(Start(1), 0);
  int32_t branches = 0;
  for (int32_t e = W(sys_, SYS_FIRST_XAENT); e != 0; e = W(e, XAENT_NEXT)) ++branches;
  EXPECT_EQ(branches, 1);
}

}  // namespace

// A branch prepared through the databank kernel comes back at the next
// begin in doubt: state 54, released, with a TP that names the kernel's
// transaction, and recover lists it as prepared.
namespace {

struct DkRequests : TransactionTest {
  using TableTest::Block;
  using TransactionTest::AppendTo;
};

class XaPreparedTest : public XaStartedTest {
 protected:
  static constexpr int32_t kLid = 1, kTbl = 300;

  int32_t MakeSet(int32_t tbl, int32_t type, int32_t key, int32_t length) {
    int32_t b[CRT_WORDS] = {};
    b[RQ_DID] = kLid;
    b[RQ_TYPE] = type;
    b[RQ_TBL] = tbl;
    b[RQ_KEY_LENGTH] = key;
    b[RQ_RECORD_LENGTH] = length;
    if (type != 10) {
      b[RQ_INDEX_PAGE_SIZE] = 2048;
      b[RQ_DATA_PAGE_SIZE] = kCommitSetPageSize;
    }
    DKEXE1(16, b);
    EXPECT_EQ(b[RQ_STATUS], 0);
    return b[RQ_TABLE];
  }
  // The kernel's prepare of one insert into a table of the system
  // databank (a work databank is emptied at its open), the identifier kept as a branch's
  // prepare hands it over. The prepare's status.
  int32_t PrepareInKernel(const std::array<int32_t, XID_WORDS>& x, const std::string& key) {
    if (table_ == 0) table_ = MakeSet(kTbl, 10, 4, 8);
    int32_t begin[ETR_WORDS] = {};
    DKEXE1(8, begin);
    EXPECT_EQ(begin[BTR_MODE], 0);
    const int32_t write = MakeSet(-1, 10 * kKindSet, 0, 0);
    const int32_t read = MakeSet(-1, 10 * kKindSet, 0, 0);
    std::vector<int32_t> h(WSH_DATABANKS, 0);
    h[WS_CODE] = kCodeHeader;
    std::vector<int32_t> e(WSH_ENTRY_WORDS, 0);
    e[WSHE_DATABANK] = DKFindDatabank(kLid);
    e[WSHE_DID] = kLid;
    e[WSHE_RECORDS] = 2;
    e[WSHE_TYPE] = 1;
    h.insert(h.end(), e.begin(), e.end());
    h.push_back(-1);
    uint8_t kept[XA_KEPT_HEAD_BYTES + XID_MAX_BYTES] = {};
    const int32_t length = XAKeptIdentifier(x.data(), kept);
    h[WSH_IDENTIFIER_LENGTH] = length;
    std::vector<int32_t> words((length + 3) / 4, 0);
    std::memcpy(words.data(), kept, length);
    h.insert(h.end(), words.begin(), words.end());
    DkRequests::AppendTo(write, h);
    std::vector<int32_t> r =
        DkRequests::Block({table_, kTbl, 4, 8}, MakeRecord(key, 4, 8));
    r[WS_CODE] = 1;
    r[RQ_DID] = kLid;
    r[RQ_KEY_LENGTH] = 4;
    r[9] = 1;
    DkRequests::AppendTo(write, r);
    int32_t end[ETR_WORDS] = {kEndPrepare, write, read, begin[BTR_TSS], 0, 0, 0};
    DKEXE1(25, end);
    return end[ETR_MODE];
  }
  void Restart() {
    Stop();
    // The server process ends: the databank kernel starts afresh, and
    // finds the prepared transactions in its TRANS databank.
    int32_t rc = 0;
    DKShutdown(&rc);
    ASSERT_EQ(rc, 0);
    int32_t counts[4] = {0, 30, 30, 30};
    int32_t pages[3] = {64, 32, 0};
    int32_t threads[5] = {2, 2, 0, 10, 0};
    DKCheckParams(&rc, counts, pages, threads);
    ASSERT_EQ(rc, 0);
    std::string name = "KTEST";
    DKSTA9(&rc, name.data(), static_cast<int32_t>(name.size()), counts, pages, threads, 0);
    ASSERT_EQ(rc, 0);
    table_ = 0;
    ASSERT_EQ(Start(1), 0);
  }
  static std::array<int32_t, XID_WORDS> Xid(int32_t format, const std::string& g,
                                            const std::string& b) {
    std::array<int32_t, XID_WORDS> x{};
    x[XID_FORMAT] = format;
    x[XID_GTRID_LENGTH] = static_cast<int32_t>(g.size());
    x[XID_BQUAL_LENGTH] = static_cast<int32_t>(b.size());
    std::memcpy(x.data() + XID_DATA, (g + b).data(), g.size() + b.size());
    return x;
  }
  int32_t table_ = 0;
};

TEST_F(XaPreparedTest, APreparedBranchComesBackInDoubt) {
  const auto x = Xid(4711, std::string(64, 'g'), "qual");
  ASSERT_EQ(PrepareInKernel(x, "k001"), 0);
  Restart();
  const int32_t e = W(sys_, SYS_FIRST_XAENT);
  ASSERT_NE(e, 0);
  EXPECT_EQ(W(e, XAENT_NEXT), 0);
  EXPECT_EQ(W(e, XAENT_STATE), XA_PREPARED);
  EXPECT_EQ(W(e, XAENT_USECOUNT), 0);
  EXPECT_EQ(W(e, XAENT_USR), 0);
  EXPECT_EQ(W(e, XAENT_FORMATID), 4711);
  EXPECT_EQ(W(e, XAENT_GTRID_LENGTH), 64);
  EXPECT_EQ(W(e, XAENT_BQUAL_LENGTH), 4);
  const int32_t tp = W(e, XAENT_TP);
  ASSERT_NE(tp, 0);
  EXPECT_EQ(W(tp, TP_AUTOCOMMIT), XA_TP_AUTOCOMMIT);
  EXPECT_NE(W(tp, TP_TSS), 0);
  EXPECT_NE(W(tp, TP_TRANSACTION_NUMBER), 0);
  // Recover lists it as prepared, with its identifier.
  const int32_t alice = Login(1, "ALICE", "secret");
  int32_t rq[XAREQ_WORDS] = {0, alice, 0, 0};
  int32_t reply[64] = {};
  DSXAR3(base_, rq, reply, sizeof reply);
  EXPECT_EQ(reply[0], 0);
  ASSERT_EQ(reply[1], 1);
  EXPECT_EQ(reply[2], 1);
  EXPECT_EQ(reply[3], 4711);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply + 6), 68), std::string(64, 'g') + "qual");
  // A second start of the same branch is refused; its commit ends it.
  EXPECT_EQ(Op(alice, 1, x), std::make_pair(XA_DUPLICATE_ID, XAER_DUPID));
  EXPECT_EQ(Op(alice, 6, x), std::make_pair(0, XA_OK));
  EXPECT_EQ(W(sys_, SYS_FIRST_XAENT), 0);
}

TEST_F(XaPreparedTest, TransactionsPreparedOtherwiseStayInDoubtUnlinked) {
  // A prepare whose identifier is not a branch's (too short, lengths that
  // do not add up) is left to whoever prepared it; a sound one beside it
  // still comes back.
  std::array<int32_t, XID_WORDS> bad = Xid(1, "ab", "c");
  bad[XID_BQUAL_LENGTH] = 70;  // out of range: kept without bytes
  ASSERT_EQ(PrepareInKernel(bad, "k001"), 0);
  ASSERT_EQ(PrepareInKernel(Xid(2, "good", ""), "k002"), 0);
  Restart();
  int32_t branches = 0;
  for (int32_t e = W(sys_, SYS_FIRST_XAENT); e != 0; e = W(e, XAENT_NEXT)) {
    ++branches;
    EXPECT_EQ(W(e, XAENT_FORMATID), 2);
    EXPECT_EQ(W(e, XAENT_STATE), XA_PREPARED);
  }
  EXPECT_EQ(branches, 1);
}

}  // namespace
