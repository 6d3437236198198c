// A user with a thread, a channel and a level named ADAM over record
// access's real transactions, and DDBegWork / DDEndWork for the tests.
#pragma once

#include <cstring>

#include "dict/work_block.h"
#include "du/tests/kernel_fixture.h"
#include "platform/thread_slots.h"

class WorkTest : public KernelRecordAccessTest {
 protected:
  void SetUp() override {
    KernelRecordAccessTest::SetUp();
    if (HasFatalFailure()) return;
    StatusPair st{};
    mdr_tls_init(&st);
    DSGetMem(base_, &thr_, THR_BYTES);
    mdr_tls_set(&st, thr_, TLS_SLOT_THR);
    DSGetMem(base_, &cha_, CHA_BYTES);
    W(usr_ + USR_CHA) = cha_;
    Protocol(22);
    const int32_t lvl = W(usr_ + USR_LVL);
    std::memset(&W(lvl + LVL_NAME), ' ', 128);
    std::memcpy(&W(lvl + LVL_NAME), "ADAM", 4);
  }
  void TearDown() override {
    StatusPair st{};
    mdr_tls_set(&st, 0, TLS_SLOT_THR);
    KernelRecordAccessTest::TearDown();
  }
  void Protocol(int32_t v) { W(cha_ + CHA_PROTOCOL_VERSION) = v; }
  int32_t BegWork(int32_t mode = 0) {
    int32_t pb[2] = {mode, usr_};
    DDBegWork(base_, pb);
    if (pb[0] == 0) W(W(usr_ + USR_TRS) + TRS_STATUS) = 3;
    return pb[0];
  }
  int32_t EndWork(int32_t outcome) {
    int32_t pb[2] = {outcome, usr_};
    DDEndWork(base_, pb);
    WaitSecured();
    return pb[0];
  }
  int32_t Ucom() { return W(usr_ + USR_DDUCOM); }
  int32_t Scope() { return DSGetTransScope(base_, usr_); }

  int32_t thr_ = 0, cha_ = 0;
};

