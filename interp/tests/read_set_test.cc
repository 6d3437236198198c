// The read-set check of action exits: inside an active transaction of
// isolation level 9 every scan begun in the run on a table whose databank
// writes through the transaction is registered in the read set (DKAPS1 to
// the databank kernel, here a model), unless a scan of the same table was
// continued in the run; a kernel error ends the run.
#include <vector>

#include "du/record_access_words.h"
#include "du/upper_services.h"
#include "interp/tests/interp_fixture.h"

using namespace interp;

namespace {

constexpr int32_t kLidT = 44;

struct Call {
  int32_t rs[7];
  int32_t words, kind;
};
std::vector<Call> g_calls;
int32_t g_answer = 0;
int32_t g_tcb = 0;

void Kernel(int32_t code, int32_t* b) {
  ASSERT_EQ(code, DK_APS1);
  Call c{};
  for (int k = 0; k < 7; ++k) c.rs[k] = b[1 + k];
  c.words = b[8];
  c.kind = b[15];
  g_calls.push_back(c);
  b[6] = 77;  // the new page and position
  b[7] = 88;
  b[0] = g_answer;
}

// T's fetch begins a scan (mode 1) on g_tcb; U's continues one (mode 2) of
// the table whose TNAME its word 28 copies (set per test).
int32_t g_u_tname = 0;
void BeginScan(int32_t*, int32_t* rec, int32_t, int32_t work);

class ReadSetCheck : public InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    services_ = DefaultRecordServices();
    services_.get_row = BeginScan;
    DAInstallRecordServices(&services_);
    previous_ = DUInstallKernelDispatcher(Kernel);
    g_calls.clear();
    g_answer = 0;
    g_tcb = Block(TCB_BYTES);
    Wd(base_, g_tcb, TCB_TRANS_MODE) = 3;
    tp_ = Block(TP_BYTES);
    Wd(base_, usr_, USR_TP) = tp_;
    Wd(base_, tp_, TP_TRANSACTION_STATE) = 1;
    Wd(base_, tp_, TP_ISOLATION_LEVEL) = 9;
    for (int k = 0; k < 7; ++k) Wd(base_, tp_, TP_RS_QBLKSIZ + k) = 100 + k;
  }
  void TearDown() override {
    DUInstallKernelDispatcher(previous_);
    InterpTest::TearDown();
  }
  // Fetches from T (and U when asked), then leaves with CAL.
  void RunScan(bool with_u) {
    Load(std::string("field T table 5 key 4 reclen 8\nfield U table 6 key 4 reclen 8\ncode\n BEG\n"
                     " GNR T, out\n") +
         (with_u ? " GNR U, out\n" : "") + "out: CAL 1\n END 1\n");
    Run();
  }
  RecordServiceTable services_{};
  DUKernelDispatcher previous_ = nullptr;
  int32_t tp_ = 0;
};

void BeginScan(int32_t* base, int32_t* rec, int32_t, int32_t work) {
  const bool u = rec[kRecTable] == 6;
  Wd(base, work, 3) = u ? 2 : 1;
  Wd(base, work, 6) = g_tcb;
  Wd(base, work, 25) = u ? 0 : kLidT;
  Wd(base, work, 28) = u ? g_u_tname : 0;
  rec[kRecStatus] = 0;
}

TEST_F(ReadSetCheck, RegistersABegunScanAndKeepsTheNewPosition) {
  RunScan(false);
  EXPECT_EQ(rvec_[kStateAction], kActionCall);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].words, 10);
  EXPECT_EQ(g_calls[0].kind, -6);
  for (int k = 0; k < 7; ++k) EXPECT_EQ(g_calls[0].rs[k], 100 + k);
  EXPECT_EQ(Wd(base_, tp_, TP_RS_QBLKSIZ + 5), 77);
  EXPECT_EQ(Wd(base_, tp_, TP_RS_QBLKSIZ + 6), 88);
  EXPECT_EQ(Wd(base_, usr_, USR_TRV_COND), 0);
}

TEST_F(ReadSetCheck, KernelErrorEndsTheRun) {
  g_answer = -7;
  RunScan(false);
  EXPECT_EQ(rvec_[kStateAction], kActionError);
  EXPECT_EQ(rvec_[kStateReturnCode], -16147);
  EXPECT_EQ(rvec_[kStateOpcode], 121);  // CAL
  EXPECT_EQ(rvec_[kStateResume], 5);    // the failing CAL
  EXPECT_EQ(pos_, 1);
  EXPECT_EQ(Wd(base_, usr_, USR_TRV_COND), -16147);
}

TEST_F(ReadSetCheck, OnlyWhereTheCheckApplies) {
  struct Case {
    const char* name;
    int32_t trans_mode, isolation, rw_mode, state, u_tname;
    bool with_u;
    size_t calls;
  };
  const Case cases[] = {
      {"databank without the write-through", 1, 9, 0, 1, 0, false, 0},
      {"isolation level other than 9", 3, 8, 0, 1, 0, false, 0},
      {"read-only transaction", 3, 9, 31, 1, 0, false, 0},
      {"no active transaction", 3, 9, 0, 0, 0, false, 0},
      {"a continued scan of the same table", 3, 9, 0, 1, kLidT, true, 0},
      {"a continued scan of another table", 3, 9, 0, 1, kLidT + 1, true, 1},
  };
  for (const Case& c : cases) {
    g_calls.clear();
    Wd(base_, g_tcb, TCB_TRANS_MODE) = c.trans_mode;
    Wd(base_, tp_, TP_ISOLATION_LEVEL) = c.isolation;
    Wd(base_, tp_, TP_READ_WRITE_MODE) = c.rw_mode;
    Wd(base_, tp_, TP_TRANSACTION_STATE) = c.state;
    g_u_tname = c.u_tname;
    pos_ = 2;
    RunScan(c.with_u);
    EXPECT_EQ(rvec_[kStateAction], kActionCall) << c.name;
    EXPECT_EQ(g_calls.size(), c.calls) << c.name;
  }
}

}  // namespace
