// Write-set records of databanks and their copies applied by the background:
// the start and end of a copy's making (25, 26), a copy put online (17), the
// post-processing drop of a table (18, 19), and the records whose routine
// the kernel does not have, which answer the invalid-code result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "dk/background_threads.h"
#include "dk/copy_making.h"
#include "dk/databank_file.h"
#include "dk/table_open.h"
#include "dk/tests/transaction_fixture.h"

namespace {

class DatabankRecordsTest : public TransactionTest {
 protected:
  void SetUp() override {
    TransactionTest::SetUp();
    copy_ = Create("copy", 64, 5, 4);
    // The restart sets that putting a copy online reads live in DID 2.
    GiveTransRootPage(Create("restart", 400, 2, 1));
  }

  // A record of the databank `did`'s copy `seqno`, committed with an
  // insert beside it (a commit kind asks for more than one record); the
  // result the committer of kind 129 gets back.
  int32_t Apply(std::vector<int32_t> record, const Table& t) {
    record.resize(std::max<size_t>(record.size(), 12), 0);
    const std::string row = MakeRecord("r" + std::to_string(++rows_), 4, 8);
    return CommitChanges({record, Change(1, t, row)});
  }

  int32_t copy_ = 0, rows_ = 0;
};

TEST_F(DatabankRecordsTest, MakingOfACopyAndPuttingItOnline) {
  // The end of a making clears the second offline flag, leaves the first.
  ASSERT_EQ(DKSDC1(5, 4), 0);
  EXPECT_EQ(DKEDC1(5, 4, -1, 0), 0);
  EXPECT_EQ(area_[copy_ + DBE_OFFLINE], 1);
  EXPECT_EQ(area_[copy_ + DBE_OFFLINE_COPY], 0);
  area_[copy_ + DBE_OFFLINE] = 0;
  StartBackground(1);
  Table t = CreateTable(77, 4, 8);
  struct Step {
    const char* what;
    std::vector<int32_t> record;  // code, order, DID, SEQNO, new SEQNO
    int32_t rc, offline, offline_copy;
  } steps[] = {
      {"start of the making", {25, 0, 5, 4}, 0, 1, 1},
      {"start for a SEQNO no copy carries", {25, 0, 5, 9}, -47, 1, 1},
      {"start of a TRANS copy changes nothing", {25, 0, 2, 1}, 0, 1, 1},
      // The copy stays offline after its making ended: the commit asks for
      // a checkpoint, which marks it out of step again (word 9).
      {"end of the making", {26, 0, 5, 4, -1}, 0, 1, 1},
      {"end for a SEQNO no copy carries", {26, 0, 5, 9, -1}, -47, 1, 1},
      {"end for a DID with no databank", {26, 0, 9, 1, -1}, -47, 1, 1},
      {"copy put online", {17, 0, 5, 4}, 0, 0, 0},
      {"copy online already", {17, 0, 5, 4}, 0, 0, 0},
      {"copy that is not there", {17, 0, 5, 9}, -45, 0, 0},
      {"end with a new SEQNO", {26, 0, 5, 4, 6}, 0, 0, 0},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(Apply(s.record, t), s.rc) << s.what;
    EXPECT_EQ(area_[copy_ + DBE_OFFLINE], s.offline) << s.what;
    EXPECT_EQ(area_[copy_ + DBE_OFFLINE_COPY], s.offline_copy) << s.what;
  }
  EXPECT_EQ(FileWord("copy", kHeaderUnit, HDR_SEQNO), 6);
  EXPECT_EQ(FileWord("tables", kHeaderUnit, HDR_SEQNO), 3);
  // The inserts beside them were applied all the same.
  EXPECT_EQ(Rows(t).size(), std::size(steps));
}

TEST_F(DatabankRecordsTest, PostProcessingDropsTheTableOrPassesAKeyNoRecordHas) {
  StartBackground(1);
  Table t = CreateTable(77, 4, 8);
  Table dropped = CreateTable(88, 4, 8);
  int32_t close[CRT_WORDS] = {};
  close[RQ_TABLE] = dropped.entry;
  close[RQ_TBL] = 88;
  DKCLT1(close);
  ASSERT_EQ(close[RQ_STATUS], 0);
  auto open = [](int32_t tbl) {
    int32_t b[CRT_WORDS] = {};
    b[RQ_STATUS] = 4;
    b[RQ_KEY_LENGTH] = 4;
    b[RQ_RECORD_LENGTH] = 8;
    b[RQ_DID] = 5;
    b[OPT_KIND] = kOpenAnyKind;
    b[RQ_TBL] = tbl;
    DKOPT1(b);
    return b[RQ_STATUS];
  };
  struct Case {
    const char* what;
    std::vector<int32_t> record;  // code, order, DID, 3, 4, TBL, key and record length, ..., key
    int32_t rc;
  } cases[] = {
      {"a table marked dropped", {18, 0, 5, 0, 0, 88, 4, 8, 0, 0, -1}, 0},
      {"a table that is not there", {19, 0, 5, 0, 0, 89, 4, 8, 0, 0, -1}, -50},
      {"a key no record has", {19, 0, 5, 0, 0, 77, 4, 8, 0, 0, 5}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(Apply(c.record, t), c.rc) << c.what;
  EXPECT_EQ(open(88), -50);
  // Held exclusively, a table is not changed, and that is no success.
  Table held = CreateTable(90, 4, 8);
  int32_t exclusive[CRT_WORDS] = {};
  exclusive[RQ_STATUS] = 1;
  exclusive[RQ_TABLE] = held.entry;
  exclusive[RQ_TBL] = 90;
  DKCLT1(exclusive);
  exclusive[RQ_STATUS] = 1;
  exclusive[RQ_DID] = 5;
  exclusive[OPT_KIND] = kOpenAnyKind;
  exclusive[RQ_KEY_LENGTH] = 4;
  exclusive[RQ_RECORD_LENGTH] = 8;
  DKOPT1(exclusive);
  ASSERT_EQ(exclusive[RQ_STATUS], 0);
  EXPECT_EQ(Apply({18, 0, 5, 0, 0, 90, 4, 8, 0, 0, -1}, t), -43);
  EXPECT_EQ(Rows(held).size(), 0u);
  exclusive[RQ_STATUS] = 0;
  DKCLT1(exclusive);
  EXPECT_EQ(open(90), 0);
  EXPECT_EQ(Rows(t).size(), std::size(cases) + 1);  // and the held table's
}

// Post-processing with a key: the record of that key whose first word (the
// start of its key) is 31 is rewritten with 30, under its new key; a record
// of another code, or a second application of the same record (a replay),
// leaves the table as it is.
TEST_F(DatabankRecordsTest, PostProcessingRewritesTheRecordOfItsKeyFrom31To30) {
  StartBackground(1);
  Table t = CreateTable(77, 4, 8);
  Table marks = CreateTable(91, 8, 12);
  // Rows of table 91: the code word, four key bytes, four more bytes.
  auto row = [](int32_t code, const std::string& name, const std::string& rest) {
    std::string r(12, ' ');
    std::memcpy(r.data(), &code, 4);
    std::memcpy(r.data() + 4, name.data(), 4);
    std::memcpy(r.data() + 8, rest.data(), 4);
    return r;
  };
  ASSERT_EQ(CommitChanges({Change(1, marks, row(31, "aaaa", "1111")),
                           Change(1, marks, row(30, "bbbb", "2222")),
                           Change(1, marks, row(31, "cccc", "3333"))}),
            0);
  auto post = [](int32_t code, const std::string& name) {
    std::vector<int32_t> r = {19, 0, 5, 0, 0, 91, 8, 12, 0, 0, code, 0};
    std::memcpy(&r[11], name.data(), 4);
    return r;
  };
  EXPECT_EQ(Apply(post(31, "aaaa"), t), 0);
  EXPECT_EQ(Apply(post(31, "aaaa"), t), 0);  // applied again: nothing there
  EXPECT_EQ(Apply(post(30, "bbbb"), t), 0);  // code 30: nothing to rewrite
  EXPECT_EQ(Apply(post(31, "bbbb"), t), 0);  // no record of that key
  const std::vector<std::string> rows = Rows(marks);
  std::vector<std::string> want = {row(30, "aaaa", "1111"), row(30, "bbbb", "2222"),
                                   row(31, "cccc", "3333")};
  std::sort(want.begin(), want.end());
  std::vector<std::string> got = rows;
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, want);
  // A key longer than the record holds: a corrupt write set, which ends
  // the server.
  std::vector<int32_t> cut = {19, 0, 5, 0, 0, 91, 60, 64, 0, 0, 31};
  EXPECT_THROW(DKPTR1(cut, 1), ServerException);
}

// The end of a LOG copy's making makes its tables current from the first
// copy (DKOCD1) before its restart runs.
TEST_F(DatabankRecordsTest, EndOfALogCopysMakingMakesItCurrent) {
  const int32_t log = Create("log", 400, 3, 1);
  const int32_t copy = Create("logcopy", 400, 3, 2);
  area_[BP_LOG_ENTRY] = log;
  ASSERT_EQ(DKSDC1(3, 2), 0);
  EXPECT_EQ(area_[copy + DBE_OFFLINE_COPY], 1);
  EXPECT_EQ(DKEDC1(3, 2, 5, 0), 0);
  EXPECT_EQ(area_[copy + DBE_OFFLINE_COPY], 0);
  EXPECT_EQ(FileWord("logcopy", kHeaderUnit, HDR_SEQNO), 5);
}

// Records 13 and 14 give the restore directory of the LOG databank the
// stamp of a databank: a slot is added, a stamp one or two ahead of the
// slot's passes, another one asks for a restore (-19); without a LOG
// databank there is no directory (-45). The records are laid out as record
// access builds them from a backup's table descriptor {DID, LID, 0, stamp,
// 16-byte key}: record access's DID is a databank entry of this process,
// the logical id is the kernel's DID, and the key's text behind the stamp
// is no stamp. The slot is the one a backup asks for by the kernel's DID
// (code 4), which gives the next record's stamp.
TEST_F(DatabankRecordsTest, RestoreStampsReachTheLogDirectory) {
  StartBackground(1);
  Table t = CreateTable(77, 4, 8);
  auto stamp = [](int32_t code, int32_t did, int32_t value) {
    std::vector<int32_t> r(10, 0x20202020);  // a blank key from word 6
    r[WS_CODE] = code;
    r[1] = 0;          // the transaction number
    r[2] = 300 + did;  // record access's DID: an entry, no kernel DID
    r[3] = did;        // the logical id
    r[4] = 0;
    r[5] = value;
    return r;
  };
  EXPECT_EQ(Apply(stamp(13, 5, 20), t), -45);
  const int32_t log = Create("log", 400, 3, 1);
  area_[BP_LOG_ENTRY] = log;
  auto slot_stamp = [&](int32_t did) {
    int32_t rq[ROO_WORDS] = {4, log, did};
    rq[ROO_SEQNO] = -1;
    const int32_t rc = DKROO1(rq);
    return rc == 0 ? rq[ROO_STAMP] : -1000 - rc;
  };
  struct Step {
    const char* what;
    std::vector<int32_t> record;
    int32_t rc;
  } steps[] = {
      {"a slot added, one behind the stamp", stamp(13, 5, 20), 0},
      {"the same record again", stamp(14, 5, 20), 0},
      {"two ahead of the slot", stamp(13, 5, 21), 0},
      {"another databank's slot added", stamp(13, 6, 7), 0},
      {"far ahead: restore needed", stamp(14, 5, 40), -19},
  };
  for (const Step& step : steps) EXPECT_EQ(Apply(step.record, t), step.rc) << step.what;
  EXPECT_EQ(slot_stamp(5), 19);
  EXPECT_EQ(slot_stamp(6), 6);
  EXPECT_EQ(slot_stamp(305), -1001) << "no slot keyed by record access's DID";
  // The next backup's stamp, the slot's + 2, fits again and again.
  for (int n = 0; n < 2; ++n) EXPECT_EQ(Apply(stamp(13, 5, slot_stamp(5) + 2), t), 0) << n;
  EXPECT_EQ(Rows(t).size(), std::size(steps) + 3);
}

}  // namespace
