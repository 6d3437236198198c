// SMK and RMK performed by the statement runtime over the databank kernel:
// rows a transaction inserted after the mark are gone after the rollback to
// it, the earlier ones stay and are committed.
#include <cstdio>
#include <string>

#include "du/tests/descriptions.h"
#include "du/tests/kernel_fixture.h"
#include "interp/exec_stm.h"
#include "interp/program_layout.h"
#include "platform/thread_slots.h"
#include "tools/zasm/zasm.h"

namespace {

constexpr int32_t kTname = 41, kKeyLen = 8, kRecLen = 24;

class MarksOverRowsTest : public KernelRecordAccessTest {
 protected:
  void SetUp() override {
    KernelRecordAccessTest::SetUp();
    if (HasFatalFailure()) return;
    CreateDescribedTable(kTname, Description(kLid, kKeyLen, kRecLen, 0, {}, {}));
    DSGetMem(base_, &work_, WRK_BYTES + 32768);
    DSGetMem(base_, &thr_, THR_BYTES);
    StatusPair st{};
    mdr_tls_init(&st);
    mdr_tls_set(&st, thr_, TLS_SLOT_THR);
    // SMK and RMK of the mark word at storage word 12; the run hands back
    // between them.
    stm_ = Statement("type 77\nfield MARK word\ncode\n BEG\n SMK 12\n EXI 2\n RMK 12\n END 0\n");
  }
  // A statement of the assembled `text` (STATUS 5).
  int32_t Statement(const std::string& text) {
    zasm::Assembly a;
    std::string error;
    EXPECT_TRUE(zasm::Assemble(text, "marks.zasm", &a, &error)) << error;
    int32_t sd = 0, stm = 0;
    DSGetMem(base_, &sd, static_cast<int32_t>(a.words.size()) * 4);
    std::memcpy(&W(sd), a.words.data(), a.words.size() * 4);
    DSGetMem(base_, &stm, STM_BYTES);
    W(stm + STM_ACTIVE_COM) = stm + STM_NEXT_COM;
    W(stm + STM_SD) = sd;
    W(stm + STM_PGM) = sd + a.words[interp::kDescProgramStart];
    W(stm + STM_STG) = sd + a.words[interp::kDescStorageOffset];
    W(stm + STM_STATUS) = 5;
    return stm;
  }
  void TearDown() override {
    StatusPair st{};
    mdr_tls_set(&st, 0, TLS_SLOT_THR);
    KernelRecordAccessTest::TearDown();
  }
  int32_t Exec(int32_t stm = 0) {
    int32_t pb[interp::kExecWords] = {0, usr_, stm != 0 ? stm : stm_, 0, 0, 0};
    interp::DSExecStm(base_, pb);
    return pb[0];
  }
  std::vector<int32_t>& Rec() {
    NextCursorOrder(usr_);
    if (rec_.empty()) {
      rec_ = Record(kTname, 3, kKeyLen, kRecLen);
      EXPECT_EQ(Open(rec_, usr_), 0);
    }
    return rec_;
  }
  static std::string Key(int n) {
    char k[16];
    std::snprintf(k, sizeof k, "k%07d", n);
    return std::string(k, kKeyLen);
  }
  int32_t Insert(int n) {
    std::vector<int32_t>& r = Rec();
    std::string row = Key(n);
    row.resize(kRecLen, '.');
    std::memcpy(r.data() + DUREC_RECORD, row.data(), kRecLen);
    DUInsertRow(base_, r.data(), usr_);
    return r[DUREC_STATUS];
  }
  // The keys the user's transaction sees, in order.
  std::string Keys() {
    std::vector<int32_t> s = Rec();
    std::memset(s.data() + DUREC_RECORD, 0, kKeyLen);
    s[DUREC_FETCH_CODE] = 1;
    s[DUREC_STATUS] = 0;
    std::string keys;
    for (int n = 0; n < 1000; ++n) {
      DUFetchRow(base_, s.data(), usr_, work_);
      if (s[DUREC_STATUS] != 0) break;
      keys += std::string(reinterpret_cast<const char*>(s.data() + DUREC_RECORD), kKeyLen) + " ";
      s[DUREC_STATUS] = 0;
    }
    return keys;
  }

  int32_t work_ = 0, thr_ = 0, stm_ = 0;
  std::vector<int32_t> rec_;
};

TEST_F(MarksOverRowsTest, RowsInsertedAfterTheMarkAreGoneAfterTheRollbackToIt) {
  ASSERT_EQ(Begin(1, usr_), 0);
  ASSERT_EQ(Insert(1), 0);
  ASSERT_EQ(Exec(), 0);  // SMK, then the row handed back
  const int32_t mark = W(W(stm_ + STM_STG) + 12);
  EXPECT_NE(mark, 0);
  ASSERT_EQ(Insert(2), 0);
  ASSERT_EQ(Insert(3), 0);
  EXPECT_EQ(Keys(), Key(1) + " " + Key(2) + " " + Key(3) + " ");
  ASSERT_EQ(Exec(), 0);  // RMK
  EXPECT_EQ(W(W(stm_ + STM_STG) + 12), 0);
  EXPECT_EQ(Keys(), Key(1) + " ");
  ASSERT_EQ(Insert(4), 0);
  ASSERT_EQ(End(END_CLIENT_COMMIT, usr_), 0);
  ASSERT_EQ(Begin(1, usr_), 0);
  EXPECT_EQ(Keys(), Key(1) + " " + Key(4) + " ");
  EXPECT_EQ(End(END_CLIENT_COMMIT, usr_), 0);
}

// A statement that changes many rows takes a savepoint when it starts in
// an open transaction; when it fails, what happened in the transaction since
// (here while its request waited to run again) is taken back and what came
// before stays.
TEST_F(MarksOverRowsTest, AFailingStatementOfManyRowsRollsBackToItsOwnMark) {
  const int32_t many = Statement(
      "type 4\nfield ERR word = -10101\ncode\n BEG\n JMC next\nnext: SEE 0 ERR\n END 0\n");
  int32_t cha = 0;
  DSGetMem(base_, &cha, CHA_BYTES);
  W(usr_ + USR_CHA) = cha;
  W(cha + CHA_REQNO) = 3;
  W(cha + CHA_INTERRUPT_REQNO) = 3;
  ASSERT_EQ(Begin(1, usr_), 0);
  ASSERT_EQ(Insert(1), 0);
  const int32_t before = W(usr_ + USR_MARK_ID);
  ASSERT_EQ(Exec(many), interp::kErrRequeue);  // started, its mark taken
  EXPECT_EQ(W(many + STM_NEXT_COM + 12), before + 1);
  ASSERT_EQ(Insert(2), 0);
  W(cha + CHA_INTERRUPT_REQNO) = 0;
  EXPECT_EQ(Exec(many), -10101);
  EXPECT_EQ(W(many + STM_NEXT_COM + 12), 0);
  EXPECT_EQ(Keys(), Key(1) + " ");
  EXPECT_EQ(End(END_CLIENT_COMMIT, usr_), 0);
  W(usr_ + USR_CHA) = 0;
}

// A cursor whose open mode is 3 begins the transaction its open needs when
// the session starts transactions itself and none is open.
TEST_F(MarksOverRowsTest, OpeningACursorOfMode3BeginsATransaction) {
  const int32_t caller = Statement(
      "type 77\nfield C0 word\nfield C1 word\nfield C2 word\nfield C3 word\nfield C4 word\n"
      "field C5 word\nfield C6 word = 3\ncur: csd 1 12 -1 -1 -1 -1 0 0 0\nend\ncode\n BEG\n"
      " END 0\n");
  const int32_t cursor = Statement("type 1\ncode\n BEG\n END 0\n");
  W(W(caller + STM_STG) + 13) = cursor;
  W(usr_ + USR_TRANSACTION_START) = 1;
  ASSERT_EQ(DSGetTransState(base_, usr_), 0);
  int32_t pb[interp::kExecWords] = {0, usr_, caller, 0, 0, 0};
  EXPECT_EQ(interp::DSOpenCursor(base_, pb, 12), 0);
  EXPECT_EQ(DSGetTransState(base_, usr_), 1);
  EXPECT_EQ(W(cursor + STM_STATUS), 3);
  EXPECT_EQ(W(cursor + STM_CALLING_STM), caller);
  EXPECT_EQ(End(END_CLIENT_COMMIT, usr_), 0);
}

}  // namespace
