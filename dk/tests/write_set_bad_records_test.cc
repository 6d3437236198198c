// Committed write-set records that are malformed, applied by DKPTR1: a row
// change cut short of the record length it states is corrupt and reported
// as such rather than read past its end, and short requests of the other
// table-bound codes are answered by their routines from zeros beyond the
// record, never from memory past it (run under the address sanitizer).
#include <gtest/gtest.h>

#include "dk/background_threads.h"
#include "dk/tests/transaction_fixture.h"
#include "platform/host_services.h"

namespace {

using BadRecordTest = TransactionTest;

TEST_F(BadRecordTest, RowChangesCutShortOfTheirLengthAreCorrupt) {
  Table t = CreateTable(77, 4, 8);
  const std::string row = MakeRecord("k1", 4, 8, 'a');
  struct Case {
    const char* what;
    int32_t fcode;
    size_t words;    // the record cut to this many words (0: kept)
    int32_t length;  // the record length it states (0: kept)
  } cases[] = {
      {"insert without its last word", 1, RQ_RECORD + 1, 0},
      {"insert stating more than it holds", 1, 0, 4000},
      {"insert of a negative length", 1, 0, -5},
      {"update without its record", 2, RQ_RECORD, 0},
      {"delete ending before its length word", 4, RQ_RECORD_LENGTH, 0},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> record = Change(c.fcode, t, row);
    if (c.words != 0) record.resize(c.words);
    if (c.length != 0) record[RQ_RECORD_LENGTH] = c.length;
    EXPECT_THROW(DKPTR1(record, 0), ServerException) << c.what;
  }
  EXPECT_TRUE(Rows(t).empty());
  // The same change whole is applied.
  std::vector<int32_t> whole = Change(1, t, row);
  EXPECT_EQ(DKPTR1(whole, 0), 0);
  EXPECT_EQ(Rows(t), std::vector<std::string>{row});
}

TEST_F(BadRecordTest, ShortRequestsOfTheOtherTableCodesAreAnsweredByTheirRoutines) {
  Table t = CreateTable(77, 4, 8);
  const std::vector<int32_t> bare = {0, 0, 5, 0, t.entry, t.tbl};
  struct Case {
    int32_t fcode, answer;
  } cases[] = {{6, -43}, {7, -67}, {10, -67}, {11, -86}, {23, -86}, {24, -46}};
  for (const Case& c : cases) {
    std::vector<int32_t> record = bare;
    record[WS_CODE] = c.fcode;
    EXPECT_EQ(DKPTR1(record, 0), c.answer) << c.fcode;
  }
}

// Records the background could not apply as one commit: a second header
// (the reading of a transaction ends at its first) or a record shorter than
// a table-bound one's words. The commit is refused, nothing of it applied,
// and its commit number passed over.
TEST_F(BadRecordTest, AWriteSetWithALaterHeaderOrAShortRecordIsNotCommitted) {
  StartBackground(2);
  Table t = CreateTable(77, 4, 8);
  struct Case {
    const char* what;
    std::vector<int32_t> middle;
  } cases[] = {
      {"a second header", Header(0, {{db_, 4}})},
      {"a header of seven words", {kCodeHeader, 0, 0, 0, 0, 0, 0}},
      {"a record of five words", {3, 0, 5, 0, t.entry}},
  };
  int32_t n = 0;
  for (const Case& c : cases) {
    Began b = Begin();
    Sets s = NewSets();
    AppendTo(s.write, Header(129, {{db_, 4}}));
    AppendTo(s.write, Change(1, t, MakeRecord("a" + std::to_string(n), 4, 8)));
    AppendTo(s.write, c.middle);
    AppendTo(s.write, Change(1, t, MakeRecord("b" + std::to_string(n++), 4, 8)));
    int32_t tss_after = -1;
    EXPECT_EQ(End(b.tss, s, kEndCommit, &tss_after), -66) << c.what;
    EXPECT_EQ(tss_after, 0) << c.what;
  }
  const std::string kept = MakeRecord("k", 4, 8);
  ASSERT_EQ(CommitChanges({Change(1, t, kept), Change(1, t, MakeRecord("l", 4, 8))}), 0);
  EXPECT_EQ(Rows(t), (std::vector<std::string>{kept, MakeRecord("l", 4, 8)}));
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], area_[BP_COMMITS]);
}

}  // namespace
