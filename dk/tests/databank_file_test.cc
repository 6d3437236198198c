// Databank files as they reach disk: the bitmap and header pages of a new
// file read back from the file itself, the checks of an open (and that a file
// failing them is left byte for byte as it was), the close mark, extension,
// and the header words and restore directory slots kept through DKROO1.
#include "dk/databank_file.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "dk/bitmap_page.h"
#include "dk/request.h"
#include "dk/restore_directory.h"
#include "dk/tests/bufferpool_fixture.h"

namespace {

class DatabankFileTest : public PageTest {};

// Bit i of a bitmap page: byte 16 + i / 8 under the mask 0x80 >> (i % 8).
bool FileBit(const std::vector<char>& page, int32_t bit) {
  uint8_t b = static_cast<uint8_t>(page[16 + bit / 8]);
  return (b & (0x80 >> (bit % 8))) != 0;
}

TEST_F(DatabankFileTest, NewFileHasItsBitmapPagesAndHeader) {
  struct Case {
    int32_t units;
    std::vector<int32_t> bitmaps;  // units of the bitmap pages
    std::vector<int32_t> free;     // their word 1
    std::vector<int32_t> next;     // their word 3
  };
  const Case cases[] = {
      {2, {0}, {16254}, {1}},
      {100, {0}, {16254}, {99}},
      {16256, {0}, {16254}, {16255}},
      {16257, {0, 16256}, {16254, 16255}, {16256, 16256}},
      {40000, {0, 16256, 32512}, {16254, 16255, 16255}, {16256, 32512, 39999}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.units);
    std::string name = "n" + std::to_string(c.units);
    int32_t entry = Create(name, c.units);
    EXPECT_EQ(area_[entry + DBE_STATE], CHK_COMPLETE);
    ASSERT_EQ(FileSize(name), int64_t{c.units} * kUnitBytes);
    for (size_t i = 0; i < c.bitmaps.size(); ++i) {
      std::vector<char> page = FileUnit(name, c.bitmaps[i]);
      EXPECT_EQ(FileWord(name, c.bitmaps[i], BMP_FREE), c.free[i]);
      EXPECT_EQ(FileWord(name, c.bitmaps[i], BMP_HINT), 0);
      EXPECT_EQ(FileWord(name, c.bitmaps[i], BMP_NEXT), c.next[i]);
      int set = 0;
      for (int32_t bit = 0; bit < kBitmapChunkUnits; ++bit) set += FileBit(page, bit);
      EXPECT_TRUE(FileBit(page, 0));
      EXPECT_EQ(set, i == 0 ? 2 : 1);
    }
    EXPECT_TRUE(FileBit(FileUnit(name, 0), 1));
    const int32_t header[][2] = {{HDR_KIND, 8},
                                 {2, 0},
                                 {HDR_NEXT_ROOT, 0},
                                 {HDR_RESTORE_DIRECTORY, 0},
                                 {HDR_CREATOR_VERSION, 913},
                                 {6, 0},
                                 {HDR_FORMAT, 9},
                                 {HDR_DID, 5},
                                 {HDR_CLOSE_MARK, 0},
                                 {HDR_SEQNO, 3},
                                 {13, 0},
                                 {14, 0},
                                 {511, 0}};
    for (auto& [word, value] : header) EXPECT_EQ(FileWord(name, 1, word), value) << word;
    Close(entry);
  }
}

TEST_F(DatabankFileTest, OpenChecksLeaveAForeignFileUntouched) {
  Create("plain", 64, 5, 3);
  Close(open_.back());
  std::vector<char> good = FileBytes("plain");

  struct Case {
    const char* what;
    int word;
    int32_t value;
    int32_t did, seqno;
    int32_t rc;
  };
  const Case cases[] = {
      {"not a databank", HDR_KIND, 7, 5, 3, -12},
      {"other version", HDR_FORMAT, 8, 5, 3, -15},
      {"other DID", HDR_DID, 6, 5, 3, -16},
      {"other SEQNO asked", HDR_KIND, 8, 5, 4, -47},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<char> bytes = good;
    std::memcpy(bytes.data() + kUnitBytes + 4 * c.word, &c.value, 4);
    // A close mark of 1 would be rewritten by a successful open.
    int32_t one = 1;
    std::memcpy(bytes.data() + kUnitBytes + 4 * HDR_CLOSE_MARK, &one, 4);
    {
      std::ofstream out(Path("plain"), std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    int32_t seqno = c.seqno, entry = 0;
    int writes = fault_.writes();
    EXPECT_EQ(Open("plain", c.did, &seqno, &entry), c.rc);
    EXPECT_EQ(fault_.writes(), writes);
    EXPECT_EQ(FileBytes("plain"), bytes);
    EXPECT_EQ(mdr_open_file_count(), 0);
  }
}

TEST_F(DatabankFileTest, SeqnoAndCloseMarkThroughOpenAndClose) {
  int32_t entry = Create("marks", 64, 5, 17);
  EXPECT_EQ(FileWord("marks", 1, HDR_CLOSE_MARK), 0);
  Close(entry);
  EXPECT_EQ(FileWord("marks", 1, HDR_CLOSE_MARK), 1);

  int32_t seqno = -1;
  ASSERT_EQ(Open("marks", 5, &seqno, &entry), 0);
  EXPECT_EQ(seqno, 17);
  EXPECT_EQ(area_[entry + DBE_SEQNO], 17);
  EXPECT_EQ(area_[entry + DBE_STATE], CHK_COMPLETE);  // closed properly: no check
  EXPECT_EQ(FileWord("marks", 1, HDR_CLOSE_MARK), 0);
  // Without a proper close the mark stays 0 and the next open asks for a check.
  ReleaseDatabank(entry, true);
  EXPECT_EQ(FileWord("marks", 1, HDR_CLOSE_MARK), 0);
  seqno = 17;
  ASSERT_EQ(Open("marks", 5, &seqno, &entry), 0);
  EXPECT_EQ(area_[entry + DBE_STATE], CHK_INIT);
  // A close before the check has finished leaves the mark at 0; once the check
  // is complete the close marks the file closed properly.
  EXPECT_EQ(WriteCloseMark(entry), 0);
  EXPECT_EQ(FileWord("marks", 1, HDR_CLOSE_MARK), 0);
  area_[entry + DBE_STATE] = CHK_BACKGROUND;
  EXPECT_EQ(WriteCloseMark(entry), 0);
  EXPECT_EQ(FileWord("marks", 1, HDR_CLOSE_MARK), CLOSE_MARK_CHECK_PENDING);
  area_[entry + DBE_STATE] = CHK_COMPLETE;
  Close(entry);
  EXPECT_EQ(FileWord("marks", 1, HDR_CLOSE_MARK), 1);
  seqno = 17;
  ASSERT_EQ(Open("marks", 5, &seqno, &entry), 0);
  area_[entry + DBE_ERROR] = -44;  // a disabled databank is not marked closed
  Close(entry);
  EXPECT_EQ(FileWord("marks", 1, HDR_CLOSE_MARK), 0);
}

TEST_F(DatabankFileTest, ExtensionAddsBitmapPagesAtChunkStarts) {
  int32_t entry = Create("grow", 16000);
  Close(entry);
  int32_t seqno = -1;
  std::vector<int32_t> rq(CRD_WORDS, 0);
  rq[CRD_MODE] = 0;
  rq[CRD_UNITS] = 1000;
  rq[CRD_DID] = 5;
  rq[CRD_SEQNO] = seqno;
  rq[CRD_TYPE] = 9;
  FillNames(rq.data(), "grow");
  ASSERT_EQ(DKCRD1(rq.data()), 0);
  entry = rq[CRD_UNITS];
  open_.push_back(entry);
  Close(entry);
  // 16000 + 1000 units: the file now reaches past unit 16256.
  EXPECT_EQ(FileWord("grow", 0, BMP_NEXT), 16256);
  EXPECT_EQ(FileWord("grow", 16256, BMP_FREE), 16255);
  int32_t last = FileWord("grow", 16256, BMP_NEXT);
  EXPECT_GE(last, 16999);
  EXPECT_EQ(FileSize("grow"), (int64_t{last} + 1) * kUnitBytes);

  // An extension that fails fails the open; the file keeps the close mark a
  // close gives it, so the next open needs no check.
  fault_.SetDiskFull(true);
  rq[CRD_MODE] = 0;
  rq[CRD_UNITS] = 20000;
  rq[CRD_SEQNO] = -1;
  EXPECT_EQ(DKCRD1(rq.data()), -21);
  fault_.SetDiskFull(false);
  EXPECT_EQ(FileWord("grow", 1, HDR_CLOSE_MARK), 1);
  EXPECT_EQ(FileSize("grow"), (int64_t{last} + 1) * kUnitBytes);
  rq[CRD_MODE] = 0;
  rq[CRD_UNITS] = 0;
  ASSERT_EQ(DKCRD1(rq.data()), 0);  // the failed open left no entry behind
  open_.push_back(rq[CRD_UNITS]);
  EXPECT_EQ(area_[rq[CRD_UNITS] + DBE_STATE], CHK_COMPLETE);
}

// An extension whose new bitmap page cannot be written fails the open, and
// so does the write of the open's pages after it: the file is left marked
// open, as after a crash, and the next open checks it.
TEST_F(DatabankFileTest, AFailedExtensionWhosePagesCannotBeWrittenLeavesNoCloseMark) {
  Close(Create("growfail", 16000));
  struct FailingBitmap : PassThroughFileSystem {
    using PassThroughFileSystem::PassThroughFileSystem;
    int failed = 0;
    int WriteAt(int handle, int64_t offset, const void* buffer, size_t count,
                size_t* done) override {
      if (offset != int64_t{kBitmapChunkUnits} * kUnitBytes)
        return base_.WriteAt(handle, offset, buffer, count, done);
      ++failed;
      *done = 0;
      return EIO;
    }
  } failing(fault_);
  std::vector<int32_t> rq(CRD_WORDS, 0);
  rq[CRD_UNITS] = 1000;
  rq[CRD_DID] = 5;
  rq[CRD_SEQNO] = -1;
  rq[CRD_TYPE] = 9;
  FillNames(rq.data(), "growfail");
  mdr_install_file_system(&failing);
  EXPECT_LT(DKCRD1(rq.data()), 0);
  mdr_install_file_system(&fault_);
  EXPECT_GT(failing.failed, 0);
  EXPECT_EQ(FileWord("growfail", 1, HDR_CLOSE_MARK), 0);
  rq[CRD_MODE] = 0;
  rq[CRD_UNITS] = 0;
  ASSERT_EQ(DKCRD1(rq.data()), 0);
  open_.push_back(rq[CRD_UNITS]);
  EXPECT_NE(area_[rq[CRD_UNITS] + DBE_STATE], CHK_COMPLETE);
}

TEST_F(DatabankFileTest, HeaderWordsThroughDKROO1) {
  int32_t entry = Create("root", 64, 5, 3);
  int32_t rq[ROO_WORDS] = {};
  auto run = [&](int32_t code) {
    rq[ROO_CODE] = code;
    rq[ROO_DATABANK] = entry;
    return DKROO1(rq);
  };
  for (int i = 3; i <= 10; ++i) rq[i] = -1;
  rq[ROO_HEADER + 11 - 5] = 41;
  EXPECT_EQ(run(3), 0);
  for (int i = 3; i <= 10; ++i) rq[i] = -1;
  EXPECT_EQ(run(1), 0);
  EXPECT_EQ(rq[ROO_HEADER + 0], 913);
  EXPECT_EQ(rq[ROO_HEADER + HDR_DID - 5], 5);
  EXPECT_EQ(rq[ROO_HEADER + HDR_RESTORE_TIME - 5], 42);
  EXPECT_EQ(FileWord("root", 1, HDR_RESTORE_TIME), 42);  // written at once

  rq[ROO_HEADER + HDR_SEQNO - 5] = 9;  // no entry of DID 5 carries SEQNO 9
  EXPECT_EQ(run(11), -47);
  rq[ROO_HEADER + HDR_SEQNO - 5] = 3;
  EXPECT_EQ(run(12), 0);
  EXPECT_EQ(run(8), -43);
  rq[ROO_DATABANK] = entry + 1;
  rq[ROO_CODE] = 1;
  EXPECT_EQ(DKROO1(rq), -45);

  // A failed header write is -61 and reaches the caller.
  fault_.FailNthWrite(1, EIO);
  rq[ROO_HEADER + HDR_SEQNO - 5] = -1;
  EXPECT_EQ(run(9), -61);
}

// The remaining codes of DKROO1: each update is on disk at once, and the
// lookup at open (code 14) reads the directory of the databank it names.
TEST_F(DatabankFileTest, RootCodesSetTheirHeaderWordsOnDisk) {
  int32_t bank = Create("rootcodes", 64, 5, 3);
  int32_t log = Create("rootlog", 64, 3, 1);
  area_[BP_LOG_ENTRY] = log;
  area_[BP_SYSDB_IDENTITY] = 4242;
  constexpr int32_t kIn8 = ROO_HEADER + HDR_SYSTEM_IDENTITY - 5, kIn9 = ROO_HEADER + HDR_DID - 5;
  constexpr int32_t kStamp = ROO_HEADER + HDR_RESTORE_TIME - 5;
  constexpr int32_t kSeqno = ROO_HEADER + HDR_SEQNO - 5;
  int32_t add[ROO_WORDS] = {5, bank, 77, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  add[kStamp] = 30;
  ASSERT_EQ(DKROO1(add), 0);  // a slot for DID 77 with stamp 30
  struct Case {
    const char* what;
    int32_t code, databank;
    std::vector<std::pair<int, int32_t>> in, on_disk, out;
    int32_t rc;
  };
  const Case cases[] = {
      {"2: identity and DID as given",
       2,
       bank,
       {{kIn8, 77}, {kIn9, 6}},
       {{HDR_SYSTEM_IDENTITY, 77}, {HDR_DID, 6}},
       {},
       0},
      {"10: the kernel's identity",
       10,
       bank,
       {{kIn9, 5}},
       {{HDR_SYSTEM_IDENTITY, 4242}, {HDR_DID, 5}},
       {},
       0},
      {"13: the SEQNO from the last word",
       13,
       bank,
       {{ROO_WORDS - 1, 21}},
       {{HDR_SEQNO, 21}},
       {},
       0},
      {"2 with a SEQNO no entry carries",
       2,
       bank,
       {{kSeqno, 9}, {kIn8, 1}},
       {{HDR_SYSTEM_IDENTITY, 4242}},
       {},
       -47},
      {"14: a slot found", 14, log, {{ROO_OTHER_DID, 77}}, {}, {{kStamp, 30}}, 0},
      {"14: no slot", 14, log, {{ROO_OTHER_DID, 78}, {kStamp, 5}}, {}, {{kStamp, 0}}, 1},
      {"14: the directory of the databank named",
       14,
       bank,
       {{ROO_OTHER_DID, 77}},
       {},
       {{kStamp, 0}},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int32_t rq[ROO_WORDS];
    std::fill(rq, rq + ROO_WORDS, -1);
    rq[ROO_CODE] = c.code;
    rq[ROO_DATABANK] = c.databank;
    rq[ROO_OTHER_DID] = 0;
    for (auto [word, value] : c.in) rq[word] = value;
    EXPECT_EQ(DKROO1(rq), c.rc);
    std::string name = c.databank == bank ? "rootcodes" : "rootlog";
    for (auto [word, value] : c.on_disk) EXPECT_EQ(FileWord(name, 1, word), value) << word;
    for (auto [word, value] : c.out) EXPECT_EQ(rq[word], value) << word;
  }
  EXPECT_EQ(area_[bank + DBE_SEQNO], 3);  // code 13 leaves the entry's SEQNO
}

TEST_F(DatabankFileTest, RestoreDirectorySlotsGrowIntoNewPages) {
  int32_t log = Create("log", 64, 3, 1);
  area_[BP_LOG_ENTRY] = log;
  int32_t other = Create("other", 64, 7, 1);
  int32_t rq[ROO_WORDS] = {};
  auto run = [&](int32_t code, int32_t did, int32_t stamp, int32_t seq) {
    rq[ROO_CODE] = code;
    rq[ROO_DATABANK] = other;
    rq[ROO_OTHER_DID] = did;
    rq[ROO_HEADER + HDR_RESTORE_TIME - 5] = stamp;
    rq[ROO_HEADER + HDR_SEQNO - 5] = seq;
    rq[ROO_HEADER + HDR_CLOSE_MARK - 5] = 0;
    return DKROO1(rq);
  };
  // 130 databanks need a second directory page (127 slots each).
  for (int32_t did = 10; did < 140; ++did) ASSERT_EQ(run(5, did, 100 + did, -1), 0) << did;
  int32_t first = FileWord("log", 1, HDR_RESTORE_DIRECTORY);
  ASSERT_GT(first, 1);
  int32_t second = FileWord("log", first, RDIR_NEXT);
  ASSERT_GT(second, 1);
  EXPECT_EQ(FileWord("log", second, RDIR_NEXT), 0);
  EXPECT_EQ(FileWord("log", second, RDIR_FIRST_SLOT), 137);
  EXPECT_EQ(FileWord("other", 1, HDR_RESTORE_TIME), 240);  // last stamp + 1

  EXPECT_EQ(run(4, 138, 0, -1), 0);
  EXPECT_EQ(rq[ROO_HEADER + HDR_RESTORE_TIME - 5], 238);
  EXPECT_EQ(run(4, 999, 5, -1), 1);
  EXPECT_EQ(rq[ROO_HEADER + HDR_RESTORE_TIME - 5], 0);
  // The stamp given may be the stored one or one more; anything else needs a restore.
  EXPECT_EQ(run(5, 50, 150, -1), 0);
  EXPECT_EQ(run(5, 50, 151, -1), 0);
  EXPECT_EQ(run(4, 50, 0, -1), 0);
  EXPECT_EQ(rq[ROO_HEADER + HDR_RESTORE_TIME - 5], 151);
  EXPECT_EQ(run(5, 50, 160, -1), -19);
  EXPECT_EQ(run(7, 50, 0, -1), 0);
  EXPECT_EQ(run(7, 50, 0, -1), 1);
  EXPECT_EQ(run(4, 50, 0, -1), 1);
  // The freed slot is the first one taken again.
  EXPECT_EQ(run(5, 500, 7, -1), 0);
  EXPECT_EQ(FileWord("log", first, RDIR_FIRST_SLOT + 4 * 40), 500);
}

}  // namespace

namespace {

TEST_F(DatabankFileTest, DispatcherReachesCreateAndRootRoutines) {
  std::vector<int32_t> rq(CRD_WORDS, 0);
  rq[CRD_MODE] = -2;
  rq[CRD_UNITS] = 64;
  rq[CRD_DID] = 5;
  rq[CRD_SEQNO] = 3;
  rq[CRD_TYPE] = 9;
  FillNames(rq.data(), "dispatched");
  DKEXE1(15, rq.data());
  ASSERT_EQ(rq[CRD_MODE], 0);
  int32_t entry = rq[CRD_UNITS];
  open_.push_back(entry);
  int32_t roo[ROO_WORDS] = {1, entry};
  for (int i = 3; i <= 10; ++i) roo[i] = -1;
  DKEXE1(51, roo);
  EXPECT_EQ(roo[ROO_CODE], 0);
  EXPECT_EQ(roo[ROO_HEADER + HDR_FORMAT - 5], 9);
  rq[CRD_MODE] = 7;
  DKEXE1(15, rq.data());
  EXPECT_EQ(rq[CRD_MODE], -43);
}

}  // namespace

namespace {

// The checks of an open, applied to a header page whose words were changed
// in the pool: the first failing check decides the error, and a failure
// leaves the file as it was.
TEST_F(DatabankFileTest, HeaderChecksAtOpenInTheirOrder) {
  int32_t entry = Create("checks", 64, 5, 3);
  Close(entry);
  struct Case {
    const char* what;
    std::vector<std::pair<int, int32_t>> words;  // header words changed
    int32_t type, seqno;
    int32_t rc, seqno_after, close_mark;
  };
  const Case cases[] = {
      {"sound", {}, 9, 3, 0, 3, 1},
      {"SEQNO taken", {{HDR_SEQNO, 8}}, 9, -1, 0, 8, 1},
      {"SEQNO refused", {{HDR_SEQNO, 8}}, 9, 3, -47, 3, 0},
      {"kind first", {{HDR_KIND, 7}, {HDR_FORMAT, 8}}, 9, 3, -12, 3, 0},
      {"version", {{HDR_FORMAT, 8}}, 9, 3, -15, 3, 0},
      {"other system databank", {{HDR_SYSTEM_IDENTITY, 77}}, 9, 3, -16, 3, 0},
      {"other DID", {{HDR_DID, 6}}, 9, 3, -16, 3, 0},
      {"work databank",
       {{HDR_NEXT_ROOT, 9}, {HDR_TABLE_ROOTS, 5}, {511, 5}},
       DBT_WORK,
       3,
       0,
       3,
       -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int32_t seqno = 3;
    ASSERT_EQ(Open("checks", 5, &seqno, &entry, 2), 0);
    std::vector<char> before = FileUnit("checks", 1);
    int32_t b = Get(entry, 1, 2048, GET_UPDATE);
    for (auto& [word, value] : c.words) SetPageWord(PageBytes(b), word, value);
    DKPUT0(PUT_UNCHANGED, b);
    seqno = c.seqno;
    int32_t mark = 99;
    EXPECT_EQ(CheckHeaderAtOpen(entry, c.type, &seqno, &mark), c.rc);
    if (c.rc != 0) {
      EXPECT_EQ(FileUnit("checks", 1), before);
      EXPECT_EQ(area_[entry + DBE_STATE], CHK_ABORTED);
    } else {
      EXPECT_EQ(seqno, c.seqno_after);
      EXPECT_EQ(mark, c.close_mark);
      int32_t h = Get(entry, 1, 2048, GET_SHARED);
      if (c.type == DBT_WORK) {
        EXPECT_EQ(PageWord(PageBytes(h), HDR_NEXT_ROOT), 0);
        EXPECT_EQ(PageWord(PageBytes(h), HDR_TABLE_ROOTS), 0);
        EXPECT_EQ(PageWord(PageBytes(h), 511), 0);
      } else {
        // The mark is 0 on disk while the databank is open.
        EXPECT_EQ(FileWord("checks", 1, HDR_CLOSE_MARK), 0);
      }
      DKPUT0(PUT_END_SHARED, h);
    }
    // Back to a properly closed file for the next case.
    int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
    DKPAG0(pag, 3);
    std::vector<char> header = FileUnit("checks", 1);
    int32_t one = 1, three = 3, nine = 9, five = 5;
    std::memcpy(header.data() + 4 * HDR_CLOSE_MARK, &one, 4);
    std::memcpy(header.data() + 4 * HDR_SEQNO, &three, 4);
    std::memcpy(header.data() + 4 * HDR_FORMAT, &nine, 4);
    std::memcpy(header.data() + 4 * HDR_DID, &five, 4);
    ReleaseDatabank(entry, false);
    std::fstream out(Path("checks"), std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(kUnitBytes);
    out.write(header.data(), kUnitBytes);
  }
}

TEST_F(DatabankFileTest, OlderVersionsOpenOnlyInModeOne) {
  Create("old", 64, 5, 3);
  Close(open_.back());
  int32_t five = 5;
  {
    std::fstream out(Path("old"), std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(kUnitBytes + 4 * HDR_FORMAT);
    out.write(reinterpret_cast<char*>(&five), 4);
  }
  int32_t seqno = -1, entry = 0;
  EXPECT_EQ(Open("old", 5, &seqno, &entry, 0), -15);
  seqno = -1;
  ASSERT_EQ(Open("old", 5, &seqno, &entry, 1), 0);
  EXPECT_EQ(seqno, 3);
  ReleaseDatabank(entry, false);
  seqno = -1;
  EXPECT_EQ(Open("old", 6, &seqno, &entry, 1), -16);
  EXPECT_EQ(FileWord("old", 1, HDR_FORMAT), 5);
}

// A mode-1 open releases the header unchanged, in every format it accepts:
// a close after it writes no mark, so a crash found on disk (mark 0) is
// still there for the next open, which checks the databank.
TEST_F(DatabankFileTest, AModeOneOpenLeavesTheCloseMarkAsFound) {
  struct Case {
    int32_t format, mark;
  };
  const Case cases[] = {{9, 0}, {9, 1}, {9, -2}, {5, 0}, {4, 1}, {3, 0}};
  int32_t did = 30;
  for (const Case& c : cases) {
    std::string name = "modeone" + std::to_string(did);
    ReleaseDatabank(Create(name, 64, did, 3), true);
    {
      std::fstream out(Path(name), std::ios::binary | std::ios::in | std::ios::out);
      out.seekp(kUnitBytes + 4 * HDR_FORMAT);
      out.write(reinterpret_cast<const char*>(&c.format), 4);
      out.seekp(kUnitBytes + 4 * HDR_CLOSE_MARK);
      out.write(reinterpret_cast<const char*>(&c.mark), 4);
    }
    std::vector<char> before = FileBytes(name);
    int32_t seqno = -1, entry = 0;
    ASSERT_EQ(Open(name, did, &seqno, &entry, 1), 0) << c.format;
    EXPECT_EQ(area_[entry + DBE_STATE], CHK_INIT) << c.format;
    Close(entry);
    EXPECT_EQ(FileBytes(name), before) << c.format << " " << c.mark;
    if (c.format == FORMAT_VERSION && c.mark == 0) {
      seqno = -1;
      ASSERT_EQ(Open(name, did, &seqno, &entry), 0);
      EXPECT_EQ(area_[entry + DBE_STATE], CHK_INIT);  // the crash asks for a check
      ReleaseDatabank(entry, true);
    }
    ++did;
  }
}

// A copy of an open databank opened with SEQNO -1 learns its SEQNO from the
// header: it is refused (-32) as if the SEQNO had been given, and its file is
// left as it was; an open entry of access mode 5 or more is taken over.
TEST_F(DatabankFileTest, ACopyOfAnOpenDatabankIsRefusedOnceItsSeqnoIsKnown) {
  int32_t original = Create("original", 64, 5, 3);
  std::filesystem::copy_file(Path("original"), Path("copy"));
  std::vector<char> before = FileBytes("copy");
  auto entries_of_did = [&] {
    int n = 0;
    for (int32_t at = DKHMI0(area_[BP_DATABANK_HASH], 5); at > 0; at = area_[at + DBE_DEPENDENT])
      ++n;
    return n;
  };
  struct Case {
    int32_t seqno, access, rc;
  };
  const Case cases[] = {{-1, 1, -32}, {3, 1, -32}, {-1, 5, 0}};
  for (const Case& c : cases) {
    area_[original + DBE_ACCESS] = c.access;
    int32_t seqno = c.seqno, entry = 0;
    EXPECT_EQ(Open("copy", 5, &seqno, &entry), c.rc) << c.seqno;
    EXPECT_EQ(entries_of_did(), 1) << c.seqno;
    EXPECT_EQ(FileBytes("copy"), before) << c.seqno;
    EXPECT_EQ(mdr_open_file_count(), 1) << c.seqno;
    if (c.rc == 0) {
      EXPECT_EQ(entry, original);
      EXPECT_EQ(seqno, 3);
      EXPECT_EQ(area_[original + DBE_ACCESS], 1);
      EXPECT_EQ(area_[original + DBE_OPENS], 1);
      open_.pop_back();
    }
  }
}

}  // namespace

namespace {

TEST_F(DatabankFileTest, EntriesOfCopiesBeingMadeAndAFullEntryArea) {
  struct Case {
    int32_t type, kind, access, offline;
  };
  const Case cases[] = {{8, DBT_BACKUP, 3, 4}, {6, DBT_SHADOW, 3, 4}, {3, DBT_LOG, 1, 0}};
  int32_t did = 20;
  for (const Case& c : cases) {
    std::vector<int32_t> rq(CRD_WORDS, 0);
    rq[CRD_MODE] = -1;
    rq[CRD_UNITS] = 2;
    rq[CRD_DID] = did;
    rq[CRD_SEQNO] = 1;
    rq[CRD_TYPE] = c.type;
    FillNames(rq.data(), "copy" + std::to_string(did++));
    ASSERT_EQ(DKCRD1(rq.data()), 0);
    int32_t e = rq[CRD_UNITS];
    open_.push_back(e);
    EXPECT_EQ(area_[e + DBE_KIND], c.kind);
    EXPECT_EQ(area_[e + DBE_ACCESS], c.access);
    EXPECT_EQ(area_[e + DBE_OFFLINE], c.offline);
  }
  // Every entry taken: the next create is refused and leaves no file behind.
  int32_t rc = 0;
  int made = 0;
  while (rc == 0 && made < 100) {
    std::vector<int32_t> rq(CRD_WORDS, 0);
    rq[CRD_MODE] = -1;
    rq[CRD_UNITS] = 2;
    rq[CRD_DID] = did++;
    rq[CRD_SEQNO] = 1;
    rq[CRD_TYPE] = 9;
    std::string name = "more" + std::to_string(made);
    FillNames(rq.data(), name);
    rc = DKCRD1(rq.data());
    if (rc == 0) {
      open_.push_back(rq[CRD_UNITS]);
      ++made;
    } else {
      EXPECT_FALSE(std::filesystem::exists(Path(name)));
    }
  }
  EXPECT_EQ(rc, -11);
  EXPECT_EQ(made + 3, params_.counts[CNT_DATABANKS]);
}

}  // namespace
