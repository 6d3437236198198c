// Record access over the databank kernel itself rather than its model: a
// databank in a temporary directory with its commit set and background
// threads (as the kernel's own transaction tests set them up), a TRANS
// databank for the write and read sets, the kernel word storage with the
// system block and the TCB hash, one databank control block (logical id 5)
// and users whose one databank entry is written in every transaction.
// Tables are made in the kernel and described to the open as the catalog
// would; record blocks opened here are closed at the end.
#pragma once

#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "dk/tests/transaction_fixture.h"
#include "du/record_operations.h"
#include "du/tests/record_access_fixture.h"
#include "kernel/system_block.h"

class KernelRecordAccessTest : public TransactionTest {
 protected:
  static constexpr int32_t kLid = 5;

  void SetUp() override {
    TransactionTest::SetUp();
    if (HasFatalFailure()) return;
    // Record access keeps its write and read sets in logical databank 2.
    sql_trans_ = Create("sqltrans", 2000, 2);
    GiveTransRootPage(sql_trans_);
    base_ = SqlPoolCreate(4000000, 400000);
    int32_t w = 400000;
    DSPoolMem(base_, &w, -1, 0);
    // SYS as the kernel's start makes it: its semaphores ready, so that
    // kernel routines taking them (DSCreateThr) do not wait for ever.
    sys_ = NewSysBlock(base_, 1);
    ASSERT_NE(sys_, 0);
    ASSERT_EQ(DUCrtTcbHash(base_), 0);
    DSGetMem(base_, &dcb_, DCB_BYTES);
    W(dcb_ + DCB_LID) = kLid;
    W(dcb_ + DCB_DID) = db_;  // the kernel's databank entry
    W(dcb_ + DCB_TRANS_MODE) = 3;
    upper_.dcbs[kLid] = dcb_;
    upper_.base = base_;
    UpperModel::Current() = &upper_;
    previous_services_ = DUInstallUpperServices(UpperModel::Table());
    DUInstallKernelDispatcher(nullptr);
    for (int32_t& usr : users_) usr = NewUser();
    usr_ = users_[0];
    StartBackground(2);
  }
  void TearDown() override {
    if (base_ != nullptr) {
      for (int32_t usr : users_) {
        int32_t end[3] = {END_ROLLBACK, usr, 0};
        if (usr != 0) DSEndTrans(base_, end);
      }
      for (auto [record, usr] : opened_) {
        int32_t pb[2] = {0, usr};
        int32_t close[CLB_WORDS] = {CLOSE_TABLE};
        DSCloseTableRefs(base_, pb, record, close);
      }
      DUInstallUpperServices(previous_services_);
      UpperModel::Current() = nullptr;
      SqlPoolDestroy(base_);
    }
    TransactionTest::TearDown();
  }

  int32_t& W(int64_t index) { return du::W(base_, index); }

  // A table of the kernel (kind 1) or an index (kind 2) on the databank,
  // closed again at once: record access opens it in its own mode.
  void CreateKernelTable(int32_t tbl, int32_t kind, int32_t keylen, int32_t reclen) {
    int32_t b[CRT_WORDS] = {};
    b[RQ_DID] = kLid;
    b[RQ_TYPE] = 10 * kind;
    b[RQ_TBL] = tbl;
    b[RQ_KEY_LENGTH] = keylen;
    b[RQ_RECORD_LENGTH] = reclen;
    DKEXE1(DK_CRT1, b);
    ASSERT_EQ(b[RQ_STATUS], 0);
    int32_t close[CRT_WORDS] = {};
    close[RQ_TABLE] = b[RQ_TABLE];
    close[RQ_TBL] = tbl;
    DKEXE1(DK_CLT1, close);
    ASSERT_EQ(close[RQ_STATUS], 0);
  }
  // A table of the kernel with the indexes of its description, described
  // to the open.
  void CreateDescribedTable(int32_t tname, const std::vector<int32_t>& description) {
    CreateKernelTable(tname, 1, description[DESC_KEYLEN], description[DESC_RECLEN]);
    for (size_t k = DESC_ENTRIES; k + 5 < description.size() && description[k] != DESC_END;) {
      if (description[k] == DESC_FOREIGN_KEY) {
        k += 4;
        continue;
      }
      CreateKernelTable(description[k + 1], 2, description[k + 4], description[k + 5]);
      k += 10 + static_cast<size_t>(description[k + 10]);
    }
    upper_.descriptions[tname] = description;
  }

  // A user whose one databank entry is written in every transaction.
  int32_t NewUser() {
    int32_t usr = NewUserBlock(base_), trs = 0;
    W(usr + USR_TRANSDB_DID) = sql_trans_;
    W(usr + USR_SQLDB_DID) = sql_trans_;
    DSGetMem(base_, &trs, TRS_BYTES);
    W(trs + TRS_DCB) = dcb_;
    W(trs + TRS_STM_COUNT) = 1;  // kept on the chain after each end
    W(usr + USR_TRS) = trs;
    return usr;
  }

  std::vector<int32_t> Record(int32_t tname, int32_t mode, int32_t keylen, int32_t reclen) {
    return RecordBlock(tname, mode, keylen, reclen);
  }
  // Opens the record block's table with its references; closed at the end
  // (the block must outlive the test body).
  int32_t Open(std::vector<int32_t>& r, int32_t usr = 0) {
    if (usr == 0) usr = usr_;
    int32_t pb[2] = {0, usr};
    int32_t open[OPB_WORDS] = {OPEN_BASE};
    DSOpenTableDcb(base_, pb, r.data(), open);
    if (pb[0] == 0) opened_.emplace_back(r.data(), usr);
    return pb[0];
  }

  // Closes a block that Open opened.
  int32_t Close(std::vector<int32_t>& r, int32_t usr = 0) {
    int32_t pb[2] = {0, usr != 0 ? usr : usr_};
    int32_t close[CLB_WORDS] = {CLOSE_TABLE};
    DSCloseTableRefs(base_, pb, r.data(), close);
    std::erase_if(opened_, [&](const auto& o) { return o.first == r.data(); });
    return pb[0];
  }

  // A statement of its own: the next cursor order number, under which the
  // kernel keeps the changes, and which sees those of the ones before.
  void NextCursorOrder(int32_t usr) {
    DSSetCursorOrder(base_, usr, DSNextCursorOrder(base_, usr));
  }

  int32_t Begin(int32_t mode, int32_t usr = 0) {
    if (usr == 0) usr = usr_;
    int32_t pb[2] = {mode, usr};
    DSBTR3(base_, pb);
    W(W(usr + USR_TRS) + TRS_STATUS) = 3;
    return pb[0];
  }
  // Ends the transaction and waits until its commit is applied.
  int32_t End(int32_t code, int32_t usr = 0) {
    int32_t pb[3] = {code, usr != 0 ? usr : usr_, 0};
    DSEndTrans(base_, pb);
    WaitSecured();
    return pb[0];
  }

  // Waits until every commit given so far is applied and secured.
  void WaitSecured() {
    const int32_t last = PoolWord(BP_COMMITS).load();
    for (int64_t n = 0; PoolWord(BP_SECURED_TRANS_NUMBER).load() < last; ++n) {
      ASSERT_LT(n, int64_t{1} << 32) << "the commit was never secured";
      std::this_thread::yield();
    }
  }

  int32_t* base_ = nullptr;
  int32_t sys_ = 0, dcb_ = 0, sql_trans_ = 0, usr_ = 0;
  int32_t users_[2] = {};
  std::vector<std::pair<int32_t*, int32_t>> opened_;
  UpperModel upper_;
  const DUUpperServices* previous_services_ = nullptr;
};
