// XA branches over a started database: a heuristic decision and its forget
// are recorded in the databank kernel's table of the TRANS databank.
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
  int32_t status = 0;
  DSStopDb(base_, &status);
  ASSERT_EQ(status, 0);
  for (int32_t lid = 2; lid <= 4; ++lid) {
    int32_t cld[4] = {1, 0, lid, -1};
    DKEXE1(DKF_CLD1, cld);
  }
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
  DSStopDb(base_, &status);
  for (int32_t lid = 2; lid <= 4; ++lid) {
    int32_t cld[4] = {1, 0, lid, -1};
    DKEXE1(DKF_CLD1, cld);
  }
  ASSERT_EQ(Start(1), 0);
  int32_t branches = 0;
  for (int32_t e = W(sys_, SYS_FIRST_XAENT); e != 0; e = W(e, XAENT_NEXT)) ++branches;
  EXPECT_EQ(branches, 1);
}

}  // namespace
