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
    zasm::Assembly a;
    std::string error;
    ASSERT_TRUE(zasm::Assemble("type 77\nfield MARK word\ncode\n BEG\n SMK 12\n EXI 2\n RMK 12\n"
                               " END 0\n",
                               "marks.zasm", &a, &error))
        << error;
    ASSERT_EQ(a.fields.at("MARK"), 48);
    int32_t sd = 0;
    DSGetMem(base_, &sd, static_cast<int32_t>(a.words.size()) * 4);
    std::memcpy(&W(sd), a.words.data(), a.words.size() * 4);
    DSGetMem(base_, &stm_, STM_BYTES);
    W(stm_ + STM_ACTIVE_COM) = stm_ + STM_NEXT_COM;
    W(stm_ + STM_SD) = sd;
    W(stm_ + STM_PGM) = sd + a.words[interp::kDescProgramStart];
    W(stm_ + STM_STG) = sd + a.words[interp::kDescStorageOffset];
    W(stm_ + STM_STATUS) = 5;
  }
  void TearDown() override {
    StatusPair st{};
    mdr_tls_set(&st, 0, TLS_SLOT_THR);
    KernelRecordAccessTest::TearDown();
  }
  int32_t Exec() {
    int32_t pb[interp::kExecWords] = {0, usr_, stm_, 0, 0, 0};
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

}  // namespace
