// Transactions over a databank with tables: a TRANS databank whose commit set
// (TBL 10) takes the commits, write and read sets as work tables, background
// threads run on threads of their own, and the rows read back with DKFET1.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "dk/background_threads.h"
#include "dk/commit_write_set.h"
#include "dk/set_table.h"
#include "dk/table_cursor.h"
#include "dk/tests/table_fixture.h"
#include "dk/transactions.h"
#include "platform/host_services.h"

class TransactionTest : public TableTest {
 protected:
  // The databank of the commit set: not DID 2, whose root pages follow a
  // restore directory that a created file does not have.
  static constexpr int32_t kTransDid = 7;

  void Shape() override {
    TableTest::Shape();
    params_.counts[CNT_TRANSACTIONS] = 60;
    params_.threads[THR_BACKGROUND] = 2;
  }
  void SetUp() override {
    TableTest::SetUp();
    trans_ = Create("trans", 4000, kTransDid);
    commit_set_ = MakeSet(kTransDid, 10);
    area_[BP_TRANS_DATABANK] = trans_;
    area_[BP_COMMIT_SET_TBL] = commit_set_;
  }
  void TearDown() override {
    StopBackground();
    DKInstallReadChecks(nullptr);
    TableTest::TearDown();
  }

  // A set on the databank of `did`: TBL -1 makes a work table.
  int32_t MakeSet(int32_t did, int32_t tbl) {
    int32_t b[CRT_WORDS] = {};
    b[RQ_DID] = did;
    b[RQ_TYPE] = 10 * kKindSet;
    b[RQ_TBL] = tbl;
    b[RQ_INDEX_PAGE_SIZE] = 2048;
    b[RQ_DATA_PAGE_SIZE] = kCommitSetPageSize;
    DKCRT1(b);
    EXPECT_EQ(b[RQ_STATUS], 0);
    return b[RQ_TABLE];
  }

  // Background threads, each attached to the ENQ/DEQ area with an index of
  // its own; a server exception ends only its thread. `wait_registered` waits until each has taken its slot.
  void StartBackground(int count) {
    for (int i = 0; i < count; ++i) {
      const int32_t slot = area_[BP_FIRST_SWA] + SWA_WORDS * static_cast<int32_t>(threads_.size());
      const int32_t index = kThreads - 2 - static_cast<int32_t>(threads_.size());
      threads_.emplace_back([index] {
        enqdeq_attach(enq_, index);
        ++background_running_;
        try {
          DKSSD1();
        } catch (const ServerException&) {
          // An internal error ends the thread, as it ends the server.
        }
        --background_running_;
      });
      while (PoolWord(slot + SWA_STATE).load() == SLOT_UNUSED) std::this_thread::yield();
    }
  }
  void StopBackground() {
    if (threads_.empty()) return;
    int32_t rc = 0;
    DKStopBackground(&rc);
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    // Up again for what the test leaves to do.
    PoolWord(BP_STATUS).store(BP_STATUS_UP);
    enqdeq_init_semaphore(area_ + BP_LOCK_BACKGROUND_BARRIER, 1);
  }

  struct Began {
    int32_t rc, tss, start;
  };
  Began Begin(int32_t mode = 0, int32_t owner = 0) {
    int32_t b[ETR_WORDS] = {mode, 0, 0, owner, 0};
    DKEXE1(8, b);
    return {b[BTR_MODE], b[BTR_TSS], b[BTR_START]};
  }

  // A write set and a read set of one transaction.
  struct Sets {
    int32_t write = 0, read = 0;
  };
  Sets NewSets() { return {MakeSet(5, -1), MakeSet(5, -1)}; }

  static void AppendTo(int32_t set, const std::vector<int32_t>& record) {
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    b[SETRQ_TABLE] = set;
    b[SETRQ_TBL] = Bufferpool()[set + TBE_TBL];
    b[SETRQ_LENGTH] = static_cast<int32_t>(record.size());
    std::copy(record.begin(), record.end(), b.begin() + SETRQ_RECORD);
    EXPECT_EQ(DKAXR0(b), 0);
  }

  // A databank's use state in the header, as record access writes it: the
  // transaction wrote there (read only: 1). A commit kind with no databank
  // above 2 is refused as inconsistent (-55).
  static constexpr int32_t kUseWritten = 3;

  // The header: commit kind and, per databank, its use state (or, for the
  // tests of the rule above, any value).
  std::vector<int32_t> Header(int32_t kind, std::vector<std::pair<int32_t, int32_t>> counts) {
    std::vector<int32_t> h(WSH_DATABANKS, 0);
    h[WS_CODE] = kCodeHeader;
    h[WSH_KIND] = kind;
    for (auto [databank, records] : counts) {
      std::vector<int32_t> e(WSH_ENTRY_WORDS, 0);
      e[WSHE_DATABANK] = databank;
      e[WSHE_DID] = area_[databank + DBE_DID];
      e[WSHE_RECORDS] = records;
      e[WSHE_TYPE] = 1;
      h.insert(h.end(), e.begin(), e.end());
    }
    h.push_back(-1);
    return h;
  }

  // A change record (function code 1, 2 or 4) of `record` in table `t`.
  static std::vector<int32_t> Change(int32_t fcode, const Table& t, const std::string& record) {
    std::vector<int32_t> r = Block(t, record);
    r[WS_CODE] = fcode;
    r[RQ_DID] = 5;
    r[RQ_BEFORE_LENGTH] = fcode == 2 ? t.length : 0;
    return r;
  }

  static void Empty(const Sets& s) {
    for (int32_t set : {s.write, s.read}) {
      std::vector<int32_t> b(SETRQ_RECORD + 8, 0);
      b[SETRQ_TABLE] = set;
      b[SETRQ_TBL] = -1;
      EXPECT_EQ(DKDXT0(b), 0);
    }
  }

  int32_t End(int32_t tss, const Sets& s, int32_t mode = kEndCommit, int32_t* tss_out = nullptr) {
    int32_t b[ETR_WORDS] = {mode, s.write, s.read, tss, 0, 0, 0};
    DKEXE1(25, b);
    if (tss_out) *tss_out = b[ETR_TSS];
    return b[ETR_MODE];
  }

  // Commits `changes` (in databank db_) in one transaction of the given
  // commit kind; the status of the end.
  int32_t CommitChanges(const std::vector<std::vector<int32_t>>& changes, int32_t kind = 129) {
    Began t = Begin();
    EXPECT_EQ(t.rc, 0);
    // One pair of work tables serves every such commit, emptied first.
    if (reused_.write == 0) reused_ = NewSets();
    Empty(reused_);
    const Sets& s = reused_;
    AppendTo(s.write, Header(kind, {{db_, kUseWritten}}));
    for (const auto& c : changes) AppendTo(s.write, c);
    return End(t.tss, s);
  }

  // The records of a table in key order, read with DKFET1.
  std::vector<std::string> Rows(const Table& t) {
    std::vector<int32_t> b(CursorBlockWords(t.length) + 1, 0);
    b[CUR_TABLE] = t.entry;
    b[CUR_TBL] = t.tbl;
    b[CUR_KEY_LENGTH] = t.key;
    b[CUR_RECORD_LENGTH] = t.length;
    std::vector<std::string> rows;
    for (int32_t mode = FET_FROM_KEY;; mode = FET_NEXT) {
      b[CUR_STATUS] = mode;
      DKEXE1(27, b.data());
      if (b[CUR_STATUS] == kStatusEnd) break;
      EXPECT_EQ(b[CUR_STATUS], 0);
      if (b[CUR_STATUS] != 0) break;
      rows.emplace_back(reinterpret_cast<const char*>(b.data() + CUR_RECORD),
                        static_cast<size_t>(t.length));
    }
    return rows;
  }

  // Background threads free entries too: read under the free list's lock.
  int32_t TssInUse() {
    EnqdeqGuard guard(area_ + BP_LOCK_TSS_FREE);
    return area_[area_[BP_TSS_HASH] + HASH_IN_USE];
  }

  int32_t trans_ = 0;
  int32_t commit_set_ = 0;
  Sets reused_;
  std::vector<std::thread> threads_;
  static inline std::atomic<int> background_running_{0};
};
