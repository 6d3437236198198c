// Pages of 16 KiB whose write a kill cut short: Linux copies a buffered write
// into the page cache 4096 bytes at a time and stops between two of them
// once a SIGKILL is pending, so the file keeps the write's first 4096-byte
// pieces and, behind them, what the page's previous write left. Each test
// writes a page so (the new image's start over the old image) into a file
// of a server that died, and restarts.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "dk/databank_open_steps.h"
#include "dk/set_requests.h"
#include "dk/tests/restart_fixture.h"

namespace {

constexpr int64_t kCachePiece = 4096;

class TornPageTest : public RestartCrashTest {
 protected:
  static constexpr int32_t kLength = 200;

  void SetUp() override {
    RestartCrashTest::SetUp();
    table_ = CreateTable(70, 4, kLength);
    int32_t pag[PAGREQ_WORDS] = {db_, 0, 0, 0, -1, 0, 0, 0};
    ASSERT_EQ(DKPAG0(pag, PAG_FLUSH), 0);
  }

  // Rows of letters that do not repeat, so that a compressed set keeps them
  // long.
  static std::string Row(int32_t k) {
    std::mt19937 random(static_cast<uint32_t>(k));
    std::string row = "k" + std::to_string(100 + k % 900);
    while (row.size() < kLength) row += static_cast<char>('a' + random() % 26);
    return row;
  }

  std::vector<char> PageImage(const std::string& name, int32_t page, int32_t size) {
    std::vector<char> bytes(static_cast<size_t>(size));
    std::ifstream in(Path(name), std::ios::binary);
    in.seekg(static_cast<int64_t>(page) * kUnitBytes);
    in.read(bytes.data(), size);
    EXPECT_TRUE(in.good());
    return bytes;
  }
  // The page as a kill in the middle of writing `now` over `before` leaves
  // it: the first `pieces` cache pieces of `now`, the rest of `before`.
  void WriteTorn(const std::string& name, int32_t page, const std::vector<char>& now,
                 const std::vector<char>& before, int pieces) {
    std::vector<char> torn = before;
    std::copy(now.begin(), now.begin() + pieces * kCachePiece, torn.begin());
    std::fstream out(Path(name), std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<int64_t>(page) * kUnitBytes);
    out.write(torn.data(), static_cast<std::streamsize>(torn.size()));
    ASSERT_TRUE(out.good());
  }

  void FlushTrans() {
    int32_t pag[PAGREQ_WORDS] = {trans_, 0, 0, 0, -1, 0, 0, 0};
    ASSERT_EQ(DKPAG0(pag, PAG_FLUSH), 0);
  }

  // The records of a set data page image that lie wholly in its first
  // `bytes` bytes (the first record at word 4, each n words framed by n).
  static int32_t RecordsWithin(const std::vector<char>& image, int64_t bytes) {
    const auto* w = reinterpret_cast<const int32_t*>(image.data());
    int32_t records = 0;
    for (int32_t p = SETDATA_FIRST; p < w[SETDATA_END] && w[p] > 0 && 4 * (p + w[p]) <= bytes;
         p += w[p])
      ++records;
    return records;
  }

  std::string LogText() {
    std::string text;
    for (const LogRecord& r : log_.records)
      for (const std::string& l : r.lines) text += l + "\n";
    return text;
  }
  int Logged(const std::string& text) {
    int found = 0;
    for (const LogRecord& r : log_.records)
      for (const std::string& l : r.lines) found += l.find(text) != std::string::npos;
    return found;
  }

  Table table_;
};

// A restart set of the tables' databank owes inserts of rows; the write of
// its data page that took the later ones was cut after one, two or three
// cache pieces. The restart ends the set at its last sound record: the
// rows of the records before are inserted, none after, and the open
// succeeds (it failed at the unsound record).
TEST_F(TornPageTest, ARestartSetPageWrittenInPartEndsAtItsLastSoundRecord) {
  std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
  auto owe = [&](int32_t k) {
    const std::vector<int32_t> record = Change(1, table_, Row(k));
    b[SETRQ_RC] = 0;
    b[SETRQ_LENGTH] = static_cast<int32_t>(record.size());
    std::copy(record.begin(), record.end(), b.begin() + SETRQ_RECORD);
    ASSERT_EQ(DKAppendRestartRecord(b, 5, -1), 0);
  };
  constexpr int32_t kBefore = 8, kRows = 58;
  for (int32_t k = 0; k < kBefore; ++k) ASSERT_NO_FATAL_FAILURE(owe(k));
  ASSERT_NO_FATAL_FAILURE(FlushTrans());
  const int32_t page = b[SETRQ_PAGE];
  const std::vector<char> before = PageImage("trans", page, kCommitSetPageSize);
  for (int32_t k = kBefore; k < kRows; ++k) ASSERT_NO_FATAL_FAILURE(owe(k));
  ASSERT_EQ(b[SETRQ_PAGE], page);
  ASSERT_NO_FATAL_FAILURE(FlushTrans());
  const std::vector<char> now = PageImage("trans", page, kCommitSetPageSize);
  Crash();
  const std::filesystem::path saved = dir_ + "/saved";
  std::filesystem::create_directory(saved);
  for (const char* name : {"trans", "tables"})
    std::filesystem::copy_file(Path(name), saved / (std::string(name) + ".dbf"));
  for (int pieces = 1; pieces <= 3; ++pieces) {
    SCOPED_TRACE(std::to_string(pieces) + " cache pieces written");
    for (const char* name : {"trans", "tables"})
      std::filesystem::copy_file(saved / (std::string(name) + ".dbf"), Path(name),
                                 std::filesystem::copy_options::overwrite_existing);
    // The section mark comes first.
    const int32_t kept = RecordsWithin(now, pieces * kCachePiece) - 1;
    ASSERT_LT(kept, kRows);
    ASSERT_NO_FATAL_FAILURE(WriteTorn("trans", page, now, before, pieces));
    log_.records.clear();
    ASSERT_EQ(Reopen(), 0);
    std::vector<std::string> rows;
    for (int32_t k = 0; k < kept; ++k) rows.push_back(Row(k));
    EXPECT_EQ(TableRows(70, 4, kLength), rows);
    EXPECT_EQ(Logged("-16205 in function DKRST1"), 1);
    Crash();
  }
}

// Set 167 keeps two prepared write sets; the write of its data page that
// took the second one was cut short. The restart ends the set at its last
// sound record: the first transaction comes back in doubt, the second (its
// prepare never answered, its header gone) does not, and the open succeeds
// (it failed at the unsound record).
TEST_F(TornPageTest, APreparedWriteSetPageWrittenInPartEndsAtItsLastSoundRecord) {
  auto prepare = [&](int32_t first, int32_t rows) {
    const Began t = Begin();
    ASSERT_EQ(t.rc, 0);
    const Sets s = NewSets();
    AppendTo(s.write, Header(0, {{db_, kUseWritten}}));
    for (int32_t k = first; k < first + rows; ++k) {
      // As record access writes it: key length and sequence word filled in.
      std::vector<int32_t> r = Change(1, table_, Row(k));
      r[RQ_KEY_LENGTH] = table_.key;
      r[9] = 1;
      AppendTo(s.write, r);
    }
    ASSERT_EQ(End(t.tss, s, kEndPrepare), 0);
  };
  // The page of the set's last record.
  auto last_page = [&] {
    int32_t open[CRT_WORDS] = {3, 0, 2, kKindSet, 0, 167};
    DKOPT1(open);
    EXPECT_EQ(open[RQ_STATUS], 0);
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = open[RQ_TABLE];
    b[SETRQ_TBL] = 167;
    b[SETRQ_RC] = 2;
    int32_t page = 0;
    while (DKGXN0(b) == 0) {
      page = b[SETRQ_PAGE];
      b[SETRQ_RC] = 0;
    }
    open[RQ_STATUS] = 0;
    DKCLT1(open);
    return page;
  };
  ASSERT_NO_FATAL_FAILURE(prepare(0, 8));
  const int32_t page = last_page();
  const std::vector<char> before = PageImage("trans", page, kCommitSetPageSize);
  ASSERT_NO_FATAL_FAILURE(prepare(100, 24));
  ASSERT_EQ(last_page(), page);
  const std::vector<char> now = PageImage("trans", page, kCommitSetPageSize);
  // The second write set lies beyond the first cache piece.
  const int32_t records = RecordsWithin(now, kCommitSetPageSize);
  ASSERT_LT(RecordsWithin(now, kCachePiece), records);
  Crash();
  ASSERT_NO_FATAL_FAILURE(WriteTorn("trans", page, now, before, 1));
  log_.records.clear();
  ASSERT_EQ(Reopen(), 0) << LogText();
  EXPECT_EQ(area_[BP_USERS_IN_COMMIT], 1);
  EXPECT_EQ(Logged("-16205 in function DKRST1"), 1);
}

// The LOG databank's log table took records of applied write sets; the write
// of its data page that took the later ones was cut after one, two or three
// cache pieces. The open after the crash ends the table at its last sound
// record: the records before are read back, none after, and the next append
// follows them (a read of the log failed at the unsound record).
TEST_F(TornPageTest, ALogTablePageWrittenInPartEndsAtItsLastSoundRecord) {
  Close(Create("log", 400, 3, 1));
  int32_t log = 0;
  ASSERT_EQ(OpenDb("log", 3, 9, &log), 0);
  constexpr int32_t kWords = 50, kBefore = 8, kRecords = 70;
  std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
  auto append = [&](int32_t k) {
    b[SETRQ_RC] = 0;
    b[SETRQ_TABLE] = area_[BP_LOG_TABLE];
    b[SETRQ_TBL] = kLogTableTbl;
    b[SETRQ_LENGTH] = kWords;
    for (int32_t w = 0; w < kWords; ++w) b[SETRQ_RECORD + w] = w == 0 ? 1 : 1000 * k + w;
    ASSERT_EQ(DKAXR0(b), 0);
  };
  // The second words of the log's records, in order.
  auto records = [&] {
    std::vector<int32_t> r(static_cast<size_t>(SetRequestBlockWords()), 0);
    r[SETRQ_TABLE] = area_[BP_LOG_TABLE];
    r[SETRQ_TBL] = kLogTableTbl;
    r[SETRQ_RC] = 2;
    std::vector<int32_t> seen;
    int32_t rc = 0;
    while ((rc = DKGXN0(r)) == 0) {
      seen.push_back(r[SETRQ_RECORD + 1]);
      r[SETRQ_RC] = 0;
    }
    EXPECT_EQ(rc, SET_END);
    return seen;
  };
  auto flush = [&] {
    int32_t pag[PAGREQ_WORDS] = {log, 0, 0, 0, -1, 0, 0, 0};
    ASSERT_EQ(DKPAG0(pag, PAG_FLUSH), 0);
  };
  for (int32_t k = 0; k < kBefore; ++k) ASSERT_NO_FATAL_FAILURE(append(k));
  ASSERT_NO_FATAL_FAILURE(flush());
  const int32_t page = b[SETRQ_PAGE];
  const std::vector<char> before = PageImage("log", page, kCommitSetPageSize);
  for (int32_t k = kBefore; k < kRecords; ++k) ASSERT_NO_FATAL_FAILURE(append(k));
  ASSERT_EQ(b[SETRQ_PAGE], page);
  ASSERT_NO_FATAL_FAILURE(flush());
  const std::vector<char> now = PageImage("log", page, kCommitSetPageSize);
  Crash();
  const std::filesystem::path saved = dir_ + "/saved";
  std::filesystem::create_directory(saved);
  for (const char* name : {"trans", "tables", "log"})
    std::filesystem::copy_file(Path(name), saved / (std::string(name) + ".dbf"));
  for (int pieces = 1; pieces <= 3; ++pieces) {
    SCOPED_TRACE(std::to_string(pieces) + " cache pieces written");
    for (const char* name : {"trans", "tables", "log"})
      std::filesystem::copy_file(saved / (std::string(name) + ".dbf"), Path(name),
                                 std::filesystem::copy_options::overwrite_existing);
    const int32_t kept = RecordsWithin(now, pieces * kCachePiece);
    ASSERT_GE(kept, kBefore);
    ASSERT_LT(kept, kRecords);
    ASSERT_NO_FATAL_FAILURE(WriteTorn("log", page, now, before, pieces));
    log_.records.clear();
    ASSERT_EQ(Reopen(), 0);
    ASSERT_EQ(OpenDb("log", 3, 9, &log), 0) << LogText();
    EXPECT_EQ(Logged("-16205 in function DKOPD1"), 1) << LogText();
    std::vector<int32_t> expected;
    for (int32_t k = 0; k < kept; ++k) expected.push_back(1000 * k + 1);
    EXPECT_EQ(records(), expected);
    ASSERT_NO_FATAL_FAILURE(append(kRecords));
    expected.push_back(1000 * kRecords + 1);
    EXPECT_EQ(records(), expected);
    Crash();
  }
}

// A leaf of 16 KiB whose rows were all updated, its write cut after the
// first cache piece: the rows there read new, the others old, and every key
// in order, so nothing but its check word tells it from a sound leaf. The
// open that checks every page refuses the databank (-42); one that leaves
// the leaves to their readers opens it, and a read of the leaf answers the
// corrupt data page (-65) instead of rows of two images.
TEST_F(TornPageTest, ALeafWrittenInPartIsRefusedRatherThanReadHalfOld) {
  const Table t = CreateTable(71, 4, kLength, kCommitSetPageSize, 2048);
  auto row = [](int32_t k, char fill) { return MakeRecord("r" + std::to_string(100 + k), 4, kLength, fill); };
  constexpr int32_t kRows = 60;
  for (int32_t k = 0; k < kRows; ++k) ASSERT_EQ(Insert(t, row(k, 'o')), 0);
  auto flush = [&] {
    int32_t pag[PAGREQ_WORDS] = {db_, 0, 0, 0, -1, 0, 0, 0};
    ASSERT_EQ(DKPAG0(pag, PAG_FLUSH), 0);
  };
  ASSERT_NO_FATAL_FAILURE(flush());
  ASSERT_EQ(Levels(t), 1);
  const int32_t leaf = Top(t);
  const std::vector<char> before = PageImage("tables", leaf, kCommitSetPageSize);
  for (int32_t k = 0; k < kRows; ++k) ASSERT_EQ(Update(t, row(k, 'n')), 0);
  ASSERT_NO_FATAL_FAILURE(flush());
  ASSERT_EQ(Top(t), leaf);
  const std::vector<char> now = PageImage("tables", leaf, kCommitSetPageSize);
  Crash();
  ASSERT_NO_FATAL_FAILURE(WriteTorn("tables", leaf, now, before, 1));
  const std::filesystem::path saved = dir_ + "/saved";
  std::filesystem::create_directory(saved);
  for (const char* name : {"trans", "tables"})
    std::filesystem::copy_file(Path(name), saved / (std::string(name) + ".dbf"));
  struct Case {
    int32_t check_option, open, fetch;
  } cases[] = {{2, -42, 0}, {0, 0, -65}};
  for (const Case& c : cases) {
    SCOPED_TRACE("check option " + std::to_string(c.check_option));
    for (const char* name : {"trans", "tables"})
      std::filesystem::copy_file(saved / (std::string(name) + ".dbf"), Path(name),
                                 std::filesystem::copy_options::overwrite_existing);
    area_[BP_CHECK_OPTION] = c.check_option;
    EXPECT_EQ(Reopen(), c.open);
    if (c.open == 0) {
      bool opened = false;
      const Table again = OpenTable(71, 4, kLength, &opened);
      std::vector<int32_t> b(CursorBlockWords(kLength) + 1, 0);
      b[CUR_TABLE] = again.entry;
      b[CUR_TBL] = 71;
      b[CUR_KEY_LENGTH] = 4;
      b[CUR_RECORD_LENGTH] = kLength;
      b[CUR_STATUS] = FET_FROM_KEY;
      DKFET1(b.data());
      EXPECT_EQ(b[CUR_STATUS], c.fetch);
    }
    Crash();
  }
}

}  // namespace
