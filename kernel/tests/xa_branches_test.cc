// XA branches over fake transaction services: the identifier checks, the
// heuristic and read-only answers, recover, and several sessions' random
// operations against a model of the operation table (states, owners, the
// session's branch), with every finished branch freed.
#include "kernel/xa_branches.h"

#include <map>
#include <random>

#include "kernel/tests/core_fixture.h"
#include "kernel/tests/statement_fixture.h"

namespace {

std::map<int32_t, int32_t> g_local;  // session -> local transaction state
int32_t g_end_result = 0;            // what the next transaction end answers
int32_t g_tp_live = 0, g_tp_number = 0;
std::vector<int32_t> g_end_codes;

int32_t FakeBegin(int32_t* base, int32_t usr) {
  int32_t tp = 0;
  DSGetMem(base, &tp, TP_BYTES);
  sqlpool_word(base, tp + TP_TRANSACTION_NUMBER) = ++g_tp_number;
  sqlpool_word(base, usr + USR_TP) = tp;
  ++g_tp_live;
  return 0;
}
int32_t FakeState(int32_t*, int32_t usr) {
  return g_local[usr];
}
int32_t FakeEnd(int32_t*, int32_t, int32_t code, const uint8_t*, int32_t length) {
  EXPECT_GE(length, 1);
  g_end_codes.push_back(code);
  return g_end_result;
}
int32_t FakeFreeTp(int32_t* base, int32_t tp) {
  int32_t out = tp;
  DSPoolMem(base, &out, 0, 0);
  --g_tp_live;
  return 0;
}
// The ident statement finds a row for sessions named "ADMIN".
void FakeIdent(int32_t* base, int32_t* result, int32_t stm, int32_t) {
  result[0] = 0;
  uint8_t* f = nullptr;
  int32_t len = 0;
  ASSERT_EQ(StatementField(base, stm, false, 4, &f, &len), 0);
  sqlpool_word(base, stm + STM_PC) = std::memcmp(f + 1, "ADMIN", 5) == 0 ? 3 : 0;
}

class XaTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    services_.begin_trans = FakeBegin;
    services_.get_trans_state = FakeState;
    services_.end_trans_work = FakeEnd;
    services_.free_tp = FakeFreeTp;
    services_.damae2 = FakeIdent;
    g_local.clear();
    g_end_result = 0;
    g_tp_live = g_tp_number = 0;
    g_end_codes.clear();
    thr_ = Alloc(THR_BYTES);
    W(thr_, THR_STM_MOS_IDENT) = MakeStatement(base_, {12, 8, 8, 129}, {8});
    SetSlot(TLS_SLOT_THR, thr_);
  }
  int32_t Session(const std::string& name = "USER") {
    const int32_t usr = Alloc(USR_BYTES);
    std::memcpy(&W(usr, USR_NAME), name.data(), name.size());
    return usr;
  }
  static std::array<int32_t, XID_WORDS> Xid(const std::string& gtrid, const std::string& bqual,
                                            int32_t flags = 0, int32_t format = 1) {
    std::array<int32_t, XID_WORDS> x{};
    x[XID_FLAGS] = flags;
    x[XID_FORMAT] = format;
    x[XID_GTRID_LENGTH] = static_cast<int32_t>(gtrid.size());
    x[XID_BQUAL_LENGTH] = static_cast<int32_t>(bqual.size());
    std::string all = gtrid + bqual;
    std::memcpy(x.data() + XID_DATA, all.data(), std::min<size_t>(all.size(), 128));
    return x;
  }
  // Runs operation op; returns {status, XA code}.
  std::pair<int32_t, int32_t> Op(int32_t usr, int32_t op, const std::array<int32_t, XID_WORDS>& x) {
    int32_t rq[XAREQ_WORDS] = {op, usr, 99, 0};
    DSXAT3(base_, rq, x.data());
    return {rq[XAREQ_OP], rq[XAREQ_CODE]};
  }
  int32_t Branch(const std::array<int32_t, XID_WORDS>& x) {
    for (int32_t e = W(sys_, SYS_FIRST_XAENT); e != 0; e = W(e, XAENT_NEXT))
      if (W(e, XAENT_GTRID_LENGTH) == x[XID_GTRID_LENGTH] &&
          W(e, XAENT_BQUAL_LENGTH) == x[XID_BQUAL_LENGTH] &&
          std::memcmp(&W(e, XAENT_TRANSACTION_ID), x.data() + XID_DATA,
                      x[XID_GTRID_LENGTH] + x[XID_BQUAL_LENGTH]) == 0)
        return e;
    return 0;
  }
  using Answer = std::pair<int32_t, int32_t>;
  int32_t thr_ = 0;
};

TEST_F(XaTest, IdentifiersAreCheckedAndUnique) {
  const int32_t a = Session(), b = Session();
  const auto x = Xid("g1", "b1");
  EXPECT_EQ(Op(a, 1, x), Answer(0, XA_OK));
  EXPECT_EQ(W(a, USR_XAENT), Branch(x));
  EXPECT_EQ(W(W(a, USR_TP), TP_AUTOCOMMIT), XA_TP_AUTOCOMMIT);
  EXPECT_EQ(Op(b, 1, x), Answer(XA_DUPLICATE_ID, XAER_DUPID));
  EXPECT_EQ(W(b, USR_RVEC_RCODE), XA_DUPLICATE_ID);
  const int64_t live = Live();
  // Null format, empty gtrid, parts too long: refused before anything is taken.
  for (auto bad : {Xid("g", "", 0, -1), Xid("", "b"), Xid(std::string(65, 'g'), ""),
                   Xid("g", std::string(65, 'b'))}) {
    EXPECT_EQ(Op(b, 1, bad), Answer(XA_BAD_IDENTIFIER, XAER_INVAL));
  }
  EXPECT_EQ(Live(), live);
  // A session with a branch, or inside a local transaction, starts none.
  EXPECT_EQ(Op(a, 1, Xid("g2", "")), Answer(XA_SESSION_HAS_BRANCH, XAER_PROTO));
  g_local[b] = 1;
  EXPECT_EQ(Op(b, 1, Xid("g2", "")), Answer(XA_LOCAL_TRANSACTION, XAER_OUTSIDE));
  int32_t rq[XAREQ_WORDS] = {17, a, 0, 0};
  DSXAT3(base_, rq, x.data());
  EXPECT_EQ(rq[XAREQ_OP], XA_BAD_OPERATION);
}

TEST_F(XaTest, ReadOnlyPrepareAndHeuristicAnswers) {
  const int32_t a = Session(), admin = Session("ADMIN");
  const auto x = Xid("ro", "");
  ASSERT_EQ(Op(a, 1, x), Answer(0, XA_OK));
  ASSERT_EQ(Op(a, 4, x), Answer(0, XA_OK));
  EXPECT_EQ(W(a, USR_XAENT), 0);
  g_end_result = 1;
  EXPECT_EQ(Op(a, 5, x), Answer(0, XA_RDONLY));
  EXPECT_EQ(Branch(x), 0);
  EXPECT_EQ(g_tp_live, 0);
  // A heuristically committed branch (as rebuilt at begin) refuses commit.
  g_end_result = 0;
  const auto h = Xid("heur", "q");
  ASSERT_EQ(Op(a, 1, h), Answer(0, XA_OK));
  ASSERT_EQ(Op(a, 4, h), Answer(0, XA_OK));
  ASSERT_EQ(Op(a, 5, h), Answer(0, XA_OK));
  EXPECT_EQ(W(Branch(h), XAENT_STATE), XA_PREPARED);
  W(Branch(h), XAENT_STATE) = XA_HEURISTIC_COMMIT;
  EXPECT_EQ(Op(a, 6, h), Answer(XA_BAD_STATE, XA_HEURCOM));
  W(Branch(h), XAENT_STATE) = XA_HEURISTIC_ROLLBACK;
  EXPECT_EQ(Op(a, 7, h), Answer(XA_BAD_STATE, XA_HEURRB));
  // Heuristic decisions are the administrator's.
  W(Branch(h), XAENT_STATE) = XA_PREPARED;
  EXPECT_EQ(Op(a, 8, h), Answer(XA_NOT_ADMINISTRATOR, XAER_RMERR));
  (void)admin;
  EXPECT_EQ(W(Branch(h), XAENT_USECOUNT), 0);
  // A prepared branch commits in two phases.
  EXPECT_EQ(Op(a, 6, h), Answer(0, XA_OK));
  EXPECT_EQ(g_end_codes.back(), 90);
  EXPECT_EQ(Branch(h), 0);
  EXPECT_EQ(g_tp_live, 0);
}

TEST_F(XaTest, RecoverListsPreparedThenHeuristic) {
  const int32_t a = Session();
  int32_t rq[XAREQ_WORDS] = {0, a, 0, 0};
  int32_t reply[64] = {};
  DSXAR3(base_, rq, reply, sizeof reply);
  EXPECT_EQ(reply[0], 3);
  EXPECT_EQ(reply[1], 3);
  for (const char* g : {"p1", "p2", "p3"}) {
    ASSERT_EQ(Op(a, 1, Xid(g, "b")), Answer(0, XA_OK));
    ASSERT_EQ(Op(a, 4, Xid(g, "b")), Answer(0, XA_OK));
    ASSERT_EQ(Op(a, 5, Xid(g, "b")), Answer(0, XA_OK));
  }
  W(Branch(Xid("p1", "b")), XAENT_STATE) = XA_HEURISTIC_ROLLBACK;
  // Room for two entries per call ((len - 5) / 36).
  std::vector<int32_t> kinds;
  std::vector<std::string> ids;
  for (int call = 0; call < 3; ++call) {
    std::memset(reply, 0, sizeof reply);
    rq[XAREQ_OP] = call == 0 ? 0 : 1;
    DSXAR3(base_, rq, reply, 77);
    ASSERT_EQ(rq[XAREQ_OP], 0);
    int32_t at = 2;
    for (int i = 0; i < reply[1]; ++i) {
      kinds.push_back(reply[at]);
      const int32_t len = reply[at + 2] + reply[at + 3];
      ids.emplace_back(reinterpret_cast<char*>(reply + at + 4), len);
      at += 4 + (len + 3) / 4;
    }
    if (reply[0] == 0) break;
  }
  EXPECT_EQ(kinds, (std::vector<int32_t>{1, 1, 2}));
  EXPECT_EQ(ids, (std::vector<std::string>{"p2b", "p3b", "p1b"}));
}

// The model: per identifier its state and owner, per session its branch.
struct ModelBranch {
  int32_t state = 0, owner = -1;
};

TEST_F(XaTest, RandomOperationsFollowTheOperationTable) {
  std::mt19937 rng(108);
  std::vector<int32_t> sessions = {Session(), Session(), Session("ADMIN")};
  const std::vector<std::string> names = {"a", "b", "c", "d"};
  std::map<int, ModelBranch> model;
  std::vector<int> attached(sessions.size(), -1);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  for (int step = 0; step < 4000; ++step) {
    const int id = pick(4), op = 1 + pick(16);
    // Heuristic decisions of the administrator reach the databank kernel,
    // which this fixture does not start: only others ask for them here.
    const int s = op == 8 || op == 9 ? pick(2) : pick(3);
    const int32_t flags = pick(3) == 0 ? TMSUSPEND : 0;
    const int32_t end = std::vector<int32_t>{0, 0, 0, 1, -10001, -5000}[pick(6)];
    g_end_result = end;
    const int32_t usr = sessions[s];
    const bool exists = model.count(id) != 0;
    ModelBranch m = exists ? model[id] : ModelBranch{};
    const int32_t st = m.state;
    const int owner = m.owner;
    // Expected check result.
    int32_t want = 0, code = XA_OK;
    auto fail = [&](int32_t w, int32_t c) {
      if (want == 0) want = w, code = c;
    };
    const bool admin = s == 2;
    if (op == 1 || op == 11) {
      if (attached[s] >= 0)
        fail(XA_SESSION_HAS_BRANCH, XAER_PROTO);
      else if (exists)
        fail(XA_DUPLICATE_ID, XAER_DUPID);
    } else if (op >= 8 && op <= 9 && !admin) {
      fail(XA_NOT_ADMINISTRATOR, XAER_RMERR);
    } else if (!exists) {
      fail(XA_NO_BRANCH, XAER_NOTA);
    } else {
      switch (op) {
        case 2:
        case 3:
          if (attached[s] >= 0)
            fail(XA_SESSION_HAS_BRANCH, XAER_PROTO);
          else if (st != (op == 2 ? 52 : 53))
            fail(XA_BAD_STATE, XAER_PROTO);
          break;
        case 4:
          if (!((owner == s && st == 51) || (owner < 0 && st == 52 && flags == 0)))
            owner >= 0 && owner != s ? fail(XA_OTHER_OWNER, XAER_PROTO)
                                     : fail(XA_BAD_STATE, XAER_PROTO);
          break;
        case 5:
          if (owner >= 0)
            fail(XA_OTHER_OWNER, XAER_PROTO);
          else if (st != 53)
            fail(XA_BAD_STATE, XAER_PROTO);
          break;
        case 6:
        case 7:
          if (owner >= 0)
            fail(XA_OTHER_OWNER, XAER_PROTO);
          else if (st != 53 && st != 54)
            fail(XA_BAD_STATE, XAER_PROTO);
          break;
        case 8:
        case 9:
          if (owner >= 0)
            fail(XA_OTHER_OWNER, XAER_PROTO);
          else if (st != 54 && st != 55)
            fail(XA_BAD_STATE, XAER_PROTO);
          break;
        case 10:
          fail(XA_BAD_STATE, XAER_PROTO);
          break;
        case 12:
          if (owner != s)
            fail(XA_OTHER_OWNER, XAER_PROTO);
          else if (st != 50)
            fail(XA_BAD_STATE, XAER_PROTO);
          break;
        case 13:
        case 14:
          if (owner != s)
            fail(XA_OTHER_OWNER, XAER_PROTO);
          else if (st != 50 && st != 55)
            fail(XA_BAD_STATE, XAER_PROTO);
          break;
        case 16:
          if (owner != s) fail(XA_OTHER_OWNER, XAER_PROTO);
          break;
      }
    }
    const bool finishes = end == 1 || end == -10001;
    if (want == 0) {
      // Expected effects.
      auto detach = [&]() {
        if (m.owner >= 0) attached[m.owner] = -1;
        m.owner = -1;
      };
      switch (op) {
        case 1:
        case 11:
          m = {op == 1 ? 51 : 50, s};
          attached[s] = id;
          break;
        case 2:
        case 3:
          m = {51, s};
          attached[s] = id;
          break;
        case 4:
          detach();
          m.state = flags != 0 ? 52 : 53;
          break;
        case 5:
        case 12:
          if (end == 1)
            code = XA_RDONLY;
          else if (end == -10001)
            want = end, code = XA_RBDEADLOCK;
          else if (end < 0)
            want = end, code = XAER_RMERR;
          if (finishes)
            m.state = 58;
          else if (end == 0)
            m.state = op == 5 ? 54 : 55;
          if (op == 5 || end != 0) detach();
          break;
        case 6:
        case 13:
          if (end < 0) want = end, code = end == -10001 ? XA_RBDEADLOCK : XA_RBROLLBACK;
          m.state = 58;
          detach();
          break;
        case 7:
        case 14:
          m.state = 58;
          detach();
          break;
        case 15:
          if (owner == s) detach();
          break;
      }
      if (m.state == 58)
        model.erase(id);
      else
        model[id] = m;
    }
    const auto got = Op(usr, op, Xid(names[id], "", flags));
    ASSERT_EQ(got, Answer(want, code)) << "step " << step << " op " << op << " state " << st;
    for (int k = 0; k < 4; ++k) {
      const int32_t e = Branch(Xid(names[k], ""));
      ASSERT_EQ(e != 0, model.count(k) != 0) << step;
      if (e == 0) continue;
      EXPECT_EQ(W(e, XAENT_STATE), model[k].state) << step;
      EXPECT_EQ(W(e, XAENT_USR), model[k].owner < 0 ? 0 : sessions[model[k].owner]) << step;
      EXPECT_EQ(W(e, XAENT_USECOUNT), model[k].owner < 0 ? 0 : 1) << step;
    }
    for (size_t k = 0; k < sessions.size(); ++k)
      ASSERT_EQ(W(sessions[k], USR_XAENT),
                attached[k] < 0 ? 0 : Branch(Xid(names[attached[k]], "")))
          << step;
  }
}

}  // namespace

namespace {

// At logout a branch the session owns and has not prepared is rolled back
// and finished; a prepared one stays for the transaction manager; a branch
// it does not own only loses the session.
TEST_F(XaTest, SessionEndRollsBackWhatOnlyItCouldEnd) {
  struct Case {
    const char* name;
    std::vector<int32_t> ops;  // run on the branch before the session ends
    bool rolled_back;
    int32_t state_after;  // 0: the branch is gone
  };
  const Case cases[] = {
      {"active", {1}, true, 0},
      {"started", {11}, true, 0},
      {"prepared own", {11, 12}, false, XA_PREPARED_OWN},
      {"suspended", {1, 4}, false, XA_SUSPENDED},
      {"prepared", {1, 4, 5}, false, XA_PREPARED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int32_t usr = Session();
    const auto x = Xid(c.name, "b", 0);
    for (int32_t op : c.ops) {
      auto xid = x;
      if (op == 4 && c.state_after == XA_SUSPENDED) xid[XID_FLAGS] = TMSUSPEND;
      ASSERT_EQ(Op(usr, op, xid), Answer(0, XA_OK)) << op;
    }
    g_end_codes.clear();
    DSXAEndSession(base_, usr);
    EXPECT_EQ(W(usr, USR_XAENT), 0);
    EXPECT_EQ(g_end_codes, c.rolled_back ? std::vector<int32_t>{XA_END_ROLLBACK}
                                         : std::vector<int32_t>{});
    const int32_t b = Branch(x);
    if (c.state_after == 0) {
      EXPECT_EQ(b, 0);
    } else {
      ASSERT_NE(b, 0);
      EXPECT_EQ(W(b, XAENT_STATE), c.state_after);
      EXPECT_EQ(W(b, XAENT_USR), 0);
      EXPECT_EQ(W(b, XAENT_USECOUNT), 0);
    }
  }
  // A second end of the same session does nothing.
  const int32_t usr = Session();
  DSXAEndSession(base_, usr);
  EXPECT_EQ(W(usr, USR_XAENT), 0);
}

}  // namespace
