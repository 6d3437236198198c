// A TRANS databank (DID 2) with its commit set beside a databank of tables,
// a server that dies (files closed unwritten, the kernel started afresh) and
// the restart that opens the databanks again through DKOPD1.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dk/databank_restart.h"
#include "dk/table_open.h"
#include "dk/tests/transaction_fixture.h"

class RestartCrashTest : public TransactionTest {
 protected:
  void Shape() override {
    TransactionTest::Shape();
    params_.counts[CNT_TRANSACTIONS] = 200;  // unapplied commits keep theirs
  }

  void SetUp() override {
    TableTest::SetUp();
    trans_ = Create("trans", 1200, 2, 1);
    GiveTransRootPage(trans_);
    commit_set_ = MakeSet(2, 10);
    area_[BP_TRANS_DATABANK] = trans_;
    area_[BP_COMMIT_SET_TBL] = commit_set_;
  }

  // The server dies: files closed unwritten, the kernel started afresh.
  // `while_down` runs once the files are closed (a power cut drops there
  // what was not synced).
  void Crash(const std::function<void()>& while_down = {}) {
    StopBackground();
    for (int32_t e : open_)
      if (area_[e + DBE_DID] != 0) ReleaseDatabank(e, false);
    open_.clear();
    if (while_down) while_down();
    reused_ = {};
    int32_t rc = 0;
    DKShutdown(&rc);
    ASSERT_EQ(enqdeq_init(enq_, kThreads, nullptr, nullptr, 0), 0);
    ASSERT_EQ(enqdeq_attach(enq_, 1), 0);
    params_.counts[0] = 0;
    ASSERT_EQ(params_.Start(), 0);
    area_ = Bufferpool();
  }

  // DKOPD1 with access mode 3; the entry in *entry.
  int32_t OpenDb(const std::string& name, int32_t did, int32_t type, int32_t* entry = nullptr) {
    std::vector<int32_t> rq(CRD_WORDS, 0);
    rq[CRD_MODE] = 3;
    rq[CRD_DID] = did;
    rq[CRD_SEQNO] = -1;
    rq[CRD_TYPE] = type;
    FillNames(rq.data(), name);
    DKCallEntry(44, rq.data(), nullptr);
    if (rq[CRD_MODE] == 0) {
      open_.push_back(rq[CRD_UNITS]);
      if (entry) *entry = rq[CRD_UNITS];
    }
    return rq[CRD_MODE];
  }
  // The restart: TRANS first, then the databank of the tables.
  int32_t Reopen() {
    area_[BP_LOG_TABLE] = 1;  // marks are rewritten and settled sets dropped
    if (int32_t rc = OpenDb("trans", 2, 2, &trans_)) return rc;
    return OpenDb("tables", 5, 9, &db_);
  }

  // The table of `tbl` on the tables databank, opened when it is not in use;
  // its entry 0 when the open fails.
  Table OpenTable(int32_t tbl, int32_t key, int32_t length, bool* opened) {
    const int32_t found = DKHMI0(area_[BP_TABLE_HASH], tbl);
    *opened = !(found > 0 && area_[found + TBE_TBL] == tbl);
    if (!*opened) return {found, tbl, key, length};
    int32_t open[CRT_WORDS] = {3, 0, 5, -1, 0, tbl, key, length};
    DKOPT1(open);
    EXPECT_EQ(open[RQ_STATUS], 0);
    return {open[RQ_STATUS] == 0 ? open[RQ_TABLE] : 0, tbl, key, length};
  }
  static void CloseTable(const Table& t) {
    int32_t close[CRT_WORDS] = {0, 0, 5, -1, t.entry, t.tbl};
    DKCLT1(close);
  }
  // Every row of a table, read whether or not it is in use.
  std::vector<std::string> TableRows(int32_t tbl, int32_t key, int32_t length) {
    bool opened = false;
    const Table t = OpenTable(tbl, key, length, &opened);
    if (t.entry == 0) return {};
    std::vector<std::string> rows = Rows(t);
    if (opened) CloseTable(t);
    return rows;
  }
};
