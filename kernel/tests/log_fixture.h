// A log the databank kernel writes itself: a started databank kernel with
// background threads, a logged databank (logical id 5) whose transactions
// are committed through DKETR1, the LOG databank (logical id 3) with its
// log table, and the kernel core's word storage with SYS and the two
// databanks' DCBs. Each committed transaction's header carries its commit
// key from byte 64.
#pragma once

#include <map>
#include <random>
#include <string>

#include "dk/table_open.h"
#include "dk/tests/transaction_fixture.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/hash_lists.h"
#include "kernel/tests/core_fixture.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"
#include "kernel/word_storage.h"
#include "platform/thread_slots.h"

class LogTest : public TransactionTest {
 protected:
  static constexpr int32_t kLoggedKind = 3;
  static constexpr int32_t kLogDid = 3;
  static constexpr int32_t kDataLid = 5;

  void SetUp() override {
    TransactionTest::SetUp();
    // The LOG and system databanks opened for use as a start opens them:
    // the LOG databank makes its log table, the system databank registers
    // the restore directory.
    Create("log", 4000, kLogDid);
    Create("sysdb", 4000, 1);
    log_db_ = OpenForUse("log", kLogDid, 3);
    OpenForUse("sysdb", 1, 1);
    log_set_ = area_[BP_LOG_TABLE];
    ASSERT_GT(log_set_, 0);
    area_[db_ + DBE_KIND] = kLoggedKind;
    base_ = NewCoreStorage(&services_, &previous_services_);
    ASSERT_NE(base_, nullptr);
    int32_t status = 0;
    DSInitSys(base_, &status);
    ASSERT_EQ(status, 0);
    sys_ = KernelSys(base_);
    data_dcb_ = AddDcb(kDataLid, db_, 1);
    AddDcb(kLogDid, log_db_, 3);
    DSGetMem(base_, &usr_, USR_BYTES);
    StartBackground(1);
  }
  void TearDown() override {
    StopBackground();
    area_[BP_LOG_TABLE] = 0;
    KernelInstallUpperServices(previous_services_);
    SqlPoolDestroy(base_);
    mdr_tls_reset();
    TransactionTest::TearDown();
  }

  int32_t& W(int64_t b, int32_t n) { return sqlpool_word(base_, b + n); }

  // Closes a created file and opens it for use (DKOPD1); its entry.
  int32_t OpenForUse(const std::string& name, int32_t did, int32_t type) {
    int32_t cld[4] = {1, 0, did, -1};
    DKEXE1(12, cld);
    EXPECT_EQ(cld[0], 0);
    std::vector<int32_t> rq(CRD_WORDS, 0);
    rq[CRD_MODE] = 3;
    rq[CRD_DID] = did;
    rq[CRD_SEQNO] = -1;
    rq[CRD_TYPE] = type;
    FillNames(rq.data(), name);
    DKEXE1(44, rq.data());
    EXPECT_EQ(rq[CRD_MODE], 0) << name;
    open_.push_back(rq[CRD_UNITS]);
    return rq[CRD_UNITS];
  }

  int32_t AddDcb(int32_t lid, int32_t did, int32_t access) {
    int32_t dcb = 0;
    DSGetMem(base_, &dcb, DCB_BYTES);
    W(dcb, DCB_LID) = lid;
    W(dcb, DCB_DID) = did;
    W(dcb, DCB_ACCESS_MODE) = access;
    W(dcb, DCB_REFCOUNT) = 1;
    const int32_t list = W(sys_, SYS_DCB_LIST);
    const int32_t head = HashListHead(base_, list, HashListBucket(base_, list, lid));
    W(dcb, DCB_NEXT) = sqlpool_word(base_, head);
    sqlpool_word(base_, head) = dcb;
    return dcb;
  }

  // Commits `changes` with the commit key `key` (16 characters). The
  // header's entry for the databank carries, as record access writes it,
  // the databank's use state (3: written), not a count of its records; the
  // databank kernel takes a commit kind with no written databank (2 or
  // less) as inconsistent (-55).
  int32_t CommitKeyed(const std::vector<std::vector<int32_t>>& changes, const std::string& key,
                      int32_t mode = kEndCommit) {
    Began t = Begin();
    EXPECT_EQ(t.rc, 0);
    if (reused_.write == 0) reused_ = NewSets();
    Empty(reused_);
    constexpr int32_t kWritten = 3;
    std::vector<int32_t> h = Header(129, {{db_, kWritten}});
    std::memcpy(h.data() + 16, key.data(), 16);
    AppendTo(reused_.write, h);
    for (const auto& c : changes) AppendTo(reused_.write, c);
    return End(t.tss, reused_, mode);
  }
  // The change records carry the logical id of their databank and the
  // table's kind (1, a table of records), as record access writes them.
  static std::vector<int32_t> Logged(int32_t fcode, const Table& t, const std::string& record) {
    std::vector<int32_t> r = Change(fcode, t, record);
    r[RQ_DID] = kDataLid;
    r[WSR_KIND] = 1;
    r[RQ_KEY_LENGTH] = t.key;
    return r;
  }
  // A table of the logged databank, held by the test for reading only, so
  // that the roll-forward can open it as a restore would find it.
  Table LoggedTable(int32_t tbl, int32_t key, int32_t length) {
    Table t = CreateTable(tbl, key, length);
    int32_t b[CRT_WORDS] = {};
    b[RQ_TABLE] = t.entry;
    b[RQ_TBL] = tbl;
    DKCLT1(b);
    EXPECT_EQ(b[RQ_STATUS], 0);
    int32_t o[CRT_WORDS] = {};
    o[RQ_STATUS] = 4;
    o[RQ_DID] = kDataLid;
    o[OPT_KIND] = 1;
    o[RQ_TBL] = tbl;
    o[RQ_KEY_LENGTH] = key;
    o[RQ_RECORD_LENGTH] = length;
    DKOPT1(o);
    EXPECT_EQ(o[RQ_STATUS], 0);
    t.entry = o[RQ_TABLE];
    return t;
  }
  // Empties a table directly (nothing of it reaches the log).
  void EmptyTable(const Table& t) {
    for (const std::string& r : Rows(t)) ASSERT_EQ(Delete(t, r), 0);
  }
  // The log's record types in order.
  std::vector<int32_t> LogTypes() {
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    b[SETRQ_TABLE] = log_set_;
    b[SETRQ_TBL] = 8;
    std::vector<int32_t> types;
    while (DKGXN0(b) == 0) {
      types.push_back(b[SETRQ_RECORD]);
      b[SETRQ_RC] = 0;
    }
    return types;
  }

  int32_t* base_ = nullptr;
  int32_t sys_ = 0, usr_ = 0, data_dcb_ = 0;
  int32_t log_db_ = 0, log_set_ = 0;
  KernelUpperServices services_{};
  const KernelUpperServices* previous_services_ = nullptr;
};
