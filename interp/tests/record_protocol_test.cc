// The record instruction protocol against a model of a table (a std::map
// behind the record service table): a scan loop sees every row once, also
// when every record instruction gives way; a requeue right after a failed
// record instruction ends the next run with that error; and the recorder
// names the table of GNX, INS and AGE failures.
#include <map>
#include <vector>

#include "interp/tests/interp_fixture.h"

using namespace interp;

namespace {

// The model: rows by key; the scan position lives in the record block's key
// area (its first 4 bytes), as a real fetch keeps it there.
std::map<int32_t, int32_t> g_rows;
std::vector<int32_t> g_seen;
int32_t g_fail = 0;  // status the next change answers

void ModelGetRow(int32_t*, int32_t* rec, int32_t, int32_t work) {
  EXPECT_NE(work, 0);
  int32_t key = 0;
  std::memcpy(&key, rec + kRecBuffer, 4);
  auto it = rec[kRecFetchCode] == kFetchForward ? g_rows.lower_bound(key) : g_rows.upper_bound(key);
  if (it == g_rows.end()) {
    rec[kRecStatus] = 100;
    return;
  }
  rec[kRecFetchCode] = 3;  // a continuation
  std::memcpy(rec + kRecBuffer, &it->first, 4);
  rec[kRecBuffer + 1] = it->second;
  g_seen.push_back(it->first);
  rec[kRecStatus] = 0;
}

std::vector<int32_t> g_inserted;  // first key word of each inserted row

void ModelInsert(int32_t*, int32_t* rec, int32_t, int32_t) {
  if (g_fail == 0) g_inserted.push_back(rec[kRecBuffer]);
  rec[kRecStatus] = g_fail;
}

void ModelIndexFails(int32_t*, int32_t* key, int32_t*, int32_t, int32_t) {
  key[kRecStatus] = -16150;
}

class RecordProtocol : public InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    table_ = DefaultRecordServices();
    table_.get_row = ModelGetRow;
    table_.insert_row = ModelInsert;
    table_.get_row_index = ModelIndexFails;
    DAInstallRecordServices(&table_);
    g_rows.clear();
    g_seen.clear();
    g_inserted.clear();
    g_fail = 0;
  }
  RecordServiceTable table_;
};

constexpr const char* kScan = R"(field T table 5 key 4 reclen 8
code
  BEG
  IGN T
loop: GNR T, done
  JMC loop
done: END 1
)";

TEST_F(RecordProtocol, ScanLoopSeesEveryRowOnce) {
  for (int32_t k = 0; k < 50; ++k) g_rows[k * 3 + 1] = k;
  Load(kScan);
  Run();
  EXPECT_EQ(rvec_[kStateAction], kActionEnd);
  std::vector<int32_t> keys;
  for (const auto& [k, v] : g_rows) keys.push_back(k);
  EXPECT_EQ(g_seen, keys);
}

TEST_F(RecordProtocol, GivingWayAfterEveryRecordInstructionStillSeesEachRowOnce) {
  for (int32_t k = 0; k < 20; ++k) g_rows[k * 7] = k;
  Load(kScan);
  Wd(base_, cha_, CHA_INTERRUPT_MODE) = 1;
  Wd(base_, cha_, CHA_INTERRUPT_REQNO) = 7;
  const int32_t sys = KernelSys(base_);
  int32_t requeues = 0;
  for (int runs = 0; runs < 100; ++runs) {
    const int32_t before = Wd(base_, sys, SYS_REQUEUE_COUNT);
    Run();
    if (rvec_[0] != kErrRequeue) break;
    EXPECT_EQ(Wd(base_, sys, SYS_REQUEUE_COUNT), before + 1);
    ++requeues;
  }
  EXPECT_EQ(rvec_[kStateAction], kActionEnd);
  // Each of the 21 GNR and each of the 20 taken JMC gives way once.
  EXPECT_EQ(requeues, 41);
  std::vector<int32_t> keys;
  for (const auto& [k, v] : g_rows) keys.push_back(k);
  EXPECT_EQ(g_seen, keys);
}

TEST_F(RecordProtocol, RequeueAfterFailedInsertEndsNextRunWithThatError) {
  Load("field T table 9 key 4 reclen 8\ncode\n BEG\n INS T, dup\n END 1\ndup: END 2\n");
  storage_[Off("T") / 4 + kRecLid] = 33;
  g_fail = kErrMissingParent;
  Wd(base_, cha_, CHA_INTERRUPT_MODE) = 1;
  Wd(base_, cha_, CHA_INTERRUPT_REQNO) = 7;
  Run();
  EXPECT_EQ(rvec_[0], kErrRequeue);
  EXPECT_EQ(pos_, 1);
  EXPECT_EQ(Wd(base_, cha_, CHA_LV_DAMAE2_RCODE), kErrMissingParent);
  Wd(base_, cha_, CHA_INTERRUPT_REQNO) = 0;
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], kErrMissingParent);
  EXPECT_EQ(rvec_[kStateAction], kActionError);
  EXPECT_EQ(rvec_[kStateBitVector], kBitsConstraint);
  EXPECT_EQ(rvec_[kStateLid], 33);
  EXPECT_EQ(rvec_[kStateTable], 9);
  EXPECT_EQ(Wd(base_, cha_, CHA_LV_DAMAE2_RCODE), 0);
}

TEST_F(RecordProtocol, PositiveInsertResultBranches) {
  Load("field T table 9 key 4 reclen 8\ncode\n BEG\n INS T, dup\n END 1\ndup: END 2\n");
  g_fail = 1;
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], 2);
}

TEST_F(RecordProtocol, FailingGnxReportsItsTable) {
  Load(R"(field I table 70 key 4 reclen 8
field T table 12 key 4 reclen 8
code
  BEG
  GNX I, T, done
done: END 1
)");
  storage_[Off("T") / 4 + kRecLid] = 44;
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], -16150);
  EXPECT_EQ(rvec_[kStateBitVector], kBitsTable);
  EXPECT_EQ(rvec_[kStateLid], 44);
  EXPECT_EQ(rvec_[kStateSequence], -1);
  EXPECT_EQ(rvec_[kStateTable], 12);
}

// The bulk-load instructions reach record access's own routines: a load
// into a table whose changes merge through the write set is refused there,
// and LOA records any non-zero result, MRG and SRT only a negative one.
TEST_F(RecordProtocol, BulkLoadInstructionsReachRecordAccess) {
  for (const char* op : {"LOA", "MRG", "SRT"}) {
    Load(std::string("field T table 9 key 4 reclen 8\ncode\n BEG\n ") + op + " T\n END 1\n");
    storage_[Off("T") / 4 + kRecMergeWord] = 1;
    Run();
    if (std::string(op) == "LOA") {
      EXPECT_EQ(rvec_[kStateReturnCode], -16192) << op;
      EXPECT_EQ(rvec_[kStateBitVector], kBitsTable) << op;
    } else {
      EXPECT_EQ(rvec_[kStateAction], kActionEnd) << op;  // no load open: nothing to do
    }
  }
}

// A failing MVC names no table: words 3-5 keep what they held.
TEST_F(RecordProtocol, MvcFailureLeavesTableWordsAlone) {
  std::vector<int32_t> storage(20, 0);
  storage[kStateLid] = 5;
  storage[kStateSequence] = 6;
  storage[kStateTable] = 7;
  const int32_t ins[] = {31, 100, 2, 200, 2};
  int32_t pos = 9;
  DARecordError(base_, ins, storage.data(), 20, &pos, -19077);
  EXPECT_EQ(pos, 1);
  EXPECT_EQ(storage[kStateBitVector], kBitsNoTable);
  EXPECT_EQ(storage[kStateResume], 9);
  EXPECT_EQ(storage[kStateLid], 5);
  EXPECT_EQ(storage[kStateSequence], 6);
  EXPECT_EQ(storage[kStateTable], 7);
}

// AGH and AGE name a storage word that holds a group block; the table is the
// block's word 2, not the storage word itself.
TEST_F(RecordProtocol, GroupInstructionsReportTheBlocksTable) {
  std::vector<int32_t> storage(80, 0);
  const int32_t t = 30;  // record block at storage word 30
  storage[t - 1 + kRecLid] = 61;
  storage[t - 1 + kRecTable] = 62;
  const int32_t block = Block(64);
  Wd(base_, block, kGroupTable) = t;
  storage[20 - 1] = block;  // storage word 20 holds the block
  for (int32_t op : {164, 165}) {
    const int32_t ins[] = {op, 20, 0};
    int32_t pos = 4;
    DARecordError(base_, ins, storage.data(), 80, &pos, -10101);
    EXPECT_EQ(storage[kStateBitVector], kBitsTable) << op;
    EXPECT_EQ(storage[kStateLid], 61) << op;
    EXPECT_EQ(storage[kStateTable], 62) << op;
  }
}

// T is the first field (storage byte 48), so its row buffer is byte 164.
constexpr const char* kGroups = R"(field T table 5 key 4 reclen 8
field G word
field K1 word = 1
field K2 word = 2
code
  BEG
  AGB T, G, 1
  AGE G
  MVB 164, K1, 4
  AGH G, same1
same1: MVB 164, K1, 4
  AGH G, same2
  END 9
same2: MVB 164, K2, 4
  AGH G, other
other: AGE G
  END 1
)";

TEST_F(RecordProtocol, GroupRowsAreWrittenOnKeyChangeAndAtTheEnd) {
  Load(kGroups);
  ASSERT_EQ(Off("T"), 48);
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], 1);
  // AGE right after AGB wrote nothing; the change from key 1 to 2 wrote the
  // row then in the buffer, and AGE the last one.
  EXPECT_EQ(g_inserted, (std::vector<int32_t>{2, 2}));
}

TEST_F(RecordProtocol, GroupRowWriteWithPositiveResultIsDuplicate) {
  Load(kGroups);
  g_fail = 1;
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], kErrDuplicate);
  EXPECT_EQ(rvec_[kStateOpcode], 164);
  EXPECT_EQ(rvec_[kStateTable], 5);  // the table behind the group block
}

}  // namespace
