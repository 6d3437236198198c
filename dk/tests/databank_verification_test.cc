// The databank check an open runs after a crash: logged once, the pages the
// databank reaches marked in use again, a broken root page chain refused,
// the check option obeyed, and a failed check never left looking complete.
#include "dk/databank_verification.h"

#include <gtest/gtest.h>

#include "dk/table_entries.h"
#include "dk/tests/databank_fixture.h"
#include "dk/tests/table_fixture.h"

namespace {

class DatabankVerificationTest : public DatabankTest {
 protected:
  // Sets page word `word` of the 2048-byte page at `unit` and writes it.
  void SetWord(int32_t entry, int32_t unit, int32_t word, int32_t value, bool fresh = false) {
    int32_t buffer = Get(entry, unit, kUnitBytes, fresh ? GET_NEW : GET_UPDATE);
    ASSERT_GT(buffer, 0);
    if (fresh) std::memset(PageWords(buffer) + 1, 0, kUnitBytes - 4);
    PageWords(buffer)[word] = value;
    ASSERT_EQ(WriteUnitPage(entry, unit, buffer), 0);
  }

  // Clears the bits of units in the first bitmap page, as a lost write would.
  void LoseBits(int32_t entry, std::initializer_list<int32_t> units) {
    int32_t buffer = Get(entry, 0, kUnitBytes, GET_UPDATE);
    ASSERT_GT(buffer, 0);
    for (int32_t u : units) ASSERT_EQ(BitmapFree(PageBytes(buffer), u, 1), 0);
    ASSERT_EQ(WriteUnitPage(entry, 0, buffer), 0);
  }

  // Opens the databank and leaves it without a close: close mark 0.
  int32_t Crashed(const std::string& name) {
    int32_t entry = 0;
    EXPECT_EQ(OpenDb(name, 1, 5, -1, &entry), 0);
    return entry;
  }

  void Crash(int32_t entry) { ReleaseDatabank(entry, true); }

  int CountLogged(const std::string& text) {
    int n = 0;
    for (const LogRecord& r : log_.records)
      for (const std::string& line : r.lines)
        if (line.find(text) != std::string::npos) ++n;
    return n;
  }

  bool FileBit(const std::string& name, int32_t unit) {
    std::vector<char> page = FileUnit(name, 0);
    return (static_cast<uint8_t>(page[16 + unit / 8]) & (0x80 >> (unit % 8))) != 0;
  }
};

TEST_F(DatabankVerificationTest, ProperCloseNeedsNoCheck) {
  Make("db", 64);
  int32_t entry = 0;
  ASSERT_EQ(OpenDb("db", 1, 5, -1, &entry), 0);
  EXPECT_EQ(area_[entry + DBE_STATE], CHK_COMPLETE);
  EXPECT_EQ(CountLogged("not properly closed"), 0);
}

TEST_F(DatabankVerificationTest, CrashIsLoggedOnceAndReachedPagesAreInUseAgain) {
  Make("db", 64);
  int32_t entry = Crashed("db");
  // A restore directory page at unit 2 whose bit, and the header's, were
  // lost.
  ASSERT_EQ(Allocate(entry, kUnitBytes), 2);
  SetWord(entry, 2, RDIR_NEXT, 0, true);
  SetWord(entry, kHeaderUnit, HDR_RESTORE_DIRECTORY, 2);
  LoseBits(entry, {1, 2});
  Crash(entry);
  ASSERT_FALSE(FileBit("db", 2));

  log_.records.clear();
  ASSERT_EQ(OpenDb("db", 1, 5, -1, &entry), 0);
  EXPECT_EQ(CountLogged("not properly closed, dbcheck initiated"), 1);
  EXPECT_EQ(area_[entry + DBE_STATE], CHK_COMPLETE);
  EXPECT_EQ(CloseDb(1, 5, -1), 0);
  EXPECT_TRUE(FileBit("db", 1));
  EXPECT_TRUE(FileBit("db", 2));
  EXPECT_EQ(FileWord("db", 0, BMP_FREE), kBitmapChunkUnits - 3);
  EXPECT_EQ(FileWord("db", kHeaderUnit, HDR_CLOSE_MARK), 1);
}

TEST_F(DatabankVerificationTest, RootPageOfAnotherKindFailsTheOpen) {
  Make("db", 64);
  int32_t entry = Crashed("db");
  ASSERT_EQ(Allocate(entry, kUnitBytes), 2);
  SetWord(entry, 2, HDR_KIND, 5, true);
  SetWord(entry, kHeaderUnit, HDR_NEXT_ROOT, 2);
  Crash(entry);
  EXPECT_EQ(OpenDb("db", 1, 5, -1), -64);
  EXPECT_EQ(CloseDb(1, 5, -1), -45);  // no entry left behind
  EXPECT_EQ(FileWord("db", kHeaderUnit, HDR_CLOSE_MARK), 0);
}

TEST_F(DatabankVerificationTest, TransRootPagesStartAtHeaderWordFour) {
  // A root page at unit 2 named by word 4, as the TRANS databank keeps its
  // tables; its bit is lost. Then the page at unit 3 named after it is of
  // another kind.
  Make("trans", 64, 2);
  int32_t entry = 0;
  ASSERT_EQ(OpenDb("trans", 1, 2, -1, &entry), 0);
  ASSERT_EQ(Allocate(entry, kUnitBytes), 2);
  SetWord(entry, 2, HDR_KIND, ROOT_PAGE_KIND, true);
  SetWord(entry, kHeaderUnit, HDR_RESTORE_DIRECTORY, 2);
  LoseBits(entry, {2});
  Crash(entry);
  ASSERT_EQ(OpenDb("trans", 1, 2, -1, &entry), 0);
  EXPECT_EQ(area_[entry + DBE_STATE], CHK_COMPLETE);
  ASSERT_EQ(Allocate(entry, kUnitBytes), 3);  // unit 2 is in use again
  SetWord(entry, 3, HDR_KIND, 5, true);
  SetWord(entry, 2, HDR_NEXT_ROOT, 3);
  Crash(entry);
  EXPECT_EQ(OpenDb("trans", 1, 2, -1), -64);
}

TEST_F(DatabankVerificationTest, CorruptRootEntryFailsTheOpenAndIsCounted) {
  Make("db", 64);
  const int32_t checks = area_[BP_STAT_174], failures = area_[BP_STAT_175];
  int32_t entry = Crashed("db");
  // The first table root entry of the header names a table of kind 9.
  const int32_t first = kFirstRootWord + 1;
  SetWord(entry, kHeaderUnit, first + RE_TBL, 70);
  SetWord(entry, kHeaderUnit, first + RE_KIND, 9);
  Crash(entry);
  EXPECT_EQ(OpenDb("db", 1, 5, -1), -42);
  EXPECT_EQ(area_[BP_STAT_174], checks + 1);  // the open after the crash
  EXPECT_EQ(area_[BP_STAT_175], failures + 1);
  EXPECT_EQ(CloseDb(1, 5, -1), -45);
}

TEST_F(DatabankVerificationTest, CheckOptionDecidesTheStateAfterTheOpen) {
  // A value the start refuses, found in the word all the same, checks every
  // page as 1 does rather than fail the open.
  const int32_t cases[][2] = {
      {0, CHK_COMPLETE}, {1, CHK_WAIT_BACKGROUND}, {7, CHK_WAIT_BACKGROUND}, {-3, CHK_WAIT_BACKGROUND}};
  for (auto [option, state] : cases) {
    SCOPED_TRACE(option);
    std::string name = "o" + std::to_string(option);
    Make(name, 64);
    Crash(Crashed(name));
    area_[BP_CHECK_OPTION] = option;
    int32_t entry = 0;
    ASSERT_EQ(OpenDb(name, 1, 5, -1, &entry), 0);
    EXPECT_EQ(area_[entry + DBE_STATE], state);
    EXPECT_EQ(CloseDb(1, 5, -1), 0);
  }
}

TEST_F(DatabankVerificationTest, FailedCheckIsNotComplete) {
  Make("db", 64);
  int32_t entry = Crashed("db");
  int32_t bad_option[VED_WORDS] = {3, entry};
  EXPECT_EQ(DKVED0(bad_option), -86);
  int32_t bad_entry[VED_WORDS] = {0, entry + 1};
  EXPECT_EQ(DKVED0(bad_entry), -45);

  ASSERT_EQ(Allocate(entry, kUnitBytes), 2);
  SetWord(entry, 2, HDR_KIND, 5, true);
  SetWord(entry, kHeaderUnit, HDR_NEXT_ROOT, 2);
  area_[entry + DBE_STATE] = CHK_COMPLETE;
  int32_t request[VED_WORDS] = {0, entry};
  EXPECT_EQ(DKVED0(request), -64);
  EXPECT_NE(area_[entry + DBE_STATE], CHK_COMPLETE);
  // Its close leaves the crash on disk for the next open to check.
  EXPECT_EQ(CloseDb(1, 5, -1), 0);
  EXPECT_EQ(FileWord("db", kHeaderUnit, HDR_CLOSE_MARK), 0);
}

class TreeVerificationTest : public TableTest {};

TEST_F(TreeVerificationTest, PagesOfATableTreeAreInUseAgain) {
  Table t = CreateTable(70, 4, 200);
  for (int i = 0; i < 400; ++i)
    ASSERT_EQ(Insert(t, MakeRecord(std::to_string(1000 + i), 4, 200)), 0);
  std::vector<int32_t> e = RootEntry(t);
  ASSERT_GE(e[1], 2);  // an inner level over the leaves
  Flush();
  const int32_t free_before = FileWord("tables", 0, BMP_FREE);
  // The top page's bits are lost, then the databank is left without a close.
  int32_t top = e[0], units = e[8] / kUnitBytes;
  int32_t buffer = Get(db_, 0, kUnitBytes, GET_UPDATE);
  ASSERT_EQ(BitmapFree(PageBytes(buffer), top, units), 0);
  ASSERT_EQ(WriteUnitPage(db_, 0, buffer), 0);
  ReleaseDatabank(db_, true);

  std::vector<int32_t> rq(CRD_WORDS, 0);
  rq[CRD_MODE] = 1;
  rq[CRD_DID] = 5;
  rq[CRD_SEQNO] = -1;
  rq[CRD_TYPE] = 9;
  FillNames(rq.data(), "tables");
  DKCallEntry(44, rq.data(), nullptr);
  ASSERT_EQ(rq[CRD_MODE], 0);
  int32_t entry = rq[CRD_UNITS];
  open_.push_back(entry);
  EXPECT_EQ(area_[entry + DBE_STATE], CHK_COMPLETE);
  int32_t close[4] = {1, 0, 5, -1};
  DKCallEntry(12, close, nullptr);
  EXPECT_EQ(close[0], 0);
  EXPECT_EQ(FileWord("tables", 0, BMP_FREE), free_before);
}

TEST_F(TreeVerificationTest, AnonymousTablesFoundAfterACrashAreClearedNotChecked) {
  // A work table (TBL -1) outlives no run: found after a crash with its top
  // page never written, it is forgotten and its pages are free again,
  // where checking it would have found the databank corrupt.
  Flush();
  const int32_t free_before = FileWord("tables", 0, BMP_FREE);
  Table t = CreateTable(-1, 4, 200);
  for (int i = 0; i < 400; ++i)
    ASSERT_EQ(Insert(t, MakeRecord(std::to_string(1000 + i), 4, 200)), 0);
  const int32_t top = RootEntry(t)[0];
  Flush();
  ASSERT_LT(FileWord("tables", 0, BMP_FREE), free_before);
  int32_t buffer = Get(db_, top, kUnitBytes, GET_UPDATE);
  std::memset(PageWords(buffer) + 1, 0, kUnitBytes - 4);
  ASSERT_EQ(WriteUnitPage(db_, top, buffer), 0);
  ReleaseDatabank(db_, true);

  std::vector<int32_t> rq(CRD_WORDS, 0);
  rq[CRD_MODE] = 1;
  rq[CRD_DID] = 5;
  rq[CRD_SEQNO] = -1;
  rq[CRD_TYPE] = 9;
  FillNames(rq.data(), "tables");
  DKCallEntry(44, rq.data(), nullptr);
  ASSERT_EQ(rq[CRD_MODE], 0);
  open_.push_back(rq[CRD_UNITS]);
  int32_t close[4] = {1, 0, 5, -1};
  DKCallEntry(12, close, nullptr);
  EXPECT_EQ(close[0], 0);
  EXPECT_EQ(FileWord("tables", 0, BMP_FREE), free_before);
}

}  // namespace
