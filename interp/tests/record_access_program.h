// A fixture for programs that run over record access itself (on the model
// of the databank kernel that record access's own tests use): a thread and
// a channel for the session, a transaction begun, and the record service
// table with its row fetch replaced by the test's.
#pragma once

#include "du/tests/record_access_fixture.h"
#include "interp/record_services.h"
#include "platform/thread_slots.h"

class ProgramOverRecordAccessTest : public RecordAccessTest {
 protected:
  explicit ProgramOverRecordAccessTest(interp::RecordRoutine get_row) {
    StatusPair st{};
    mdr_tls_init(&st);
    DSGetMem(base_, &thr_, THR_BYTES);
    DSGetMem(base_, &cha_, CHA_BYTES);
    mdr_tls_set(&st, thr_, TLS_SLOT_THR);
    W(usr_ + USR_CHA) = cha_;
    W(cha_ + CHA_REQNO) = 3;
    EXPECT_EQ(Begin(1), 0);
    services_ = interp::DefaultRecordServices();
    services_.get_row = get_row;
    interp::DAInstallRecordServices(&services_);
  }
  ~ProgramOverRecordAccessTest() override {
    interp::DAInstallRecordServices(nullptr);
    StatusPair st{};
    mdr_tls_set(&st, 0, TLS_SLOT_THR);
  }

  interp::RecordServiceTable services_;
  int32_t thr_ = 0, cha_ = 0;
};
