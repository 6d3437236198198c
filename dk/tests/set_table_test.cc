// Sets on a real databank file: reads of an empty set, appends against a
// vector of the records appended (read forwards and backwards), the page a
// record goes to when it exactly fills the rest of a page, deletes, drops and
// the checks of the caller's block.
#include "dk/set_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "dk/tests/set_fixture.h"

// Appends of random lengths, read back forwards and backwards against the
// records appended.
void SetTableTest::AppendAndReadBack(int32_t method, int32_t count) {
  const int32_t t = MakeSet(2048, 2048, kTbl + method, method);
  std::mt19937 rng(162 + method);
  std::vector<std::vector<int32_t>> model;
  std::vector<int32_t> pages;
  const int32_t longest = SetMaxRecordWords(2048) - (method == 0 ? 0 : 8);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t words = i % 97 == 0 ? longest : static_cast<int32_t>(rng() % 160);
    model.push_back(MixedRecord(rng, words, i));
    const Appended a = Append(t, model.back(), 0, 2048);
    ASSERT_EQ(a.rc, 0) << method << " " << i;
    if (pages.empty() || pages.back() != a.page) pages.push_back(a.page);
  }
  pages_used_ = static_cast<int32_t>(pages.size());
  EXPECT_EQ(ReadAll(t, true, 2048), model) << method;
  EXPECT_EQ(ReadAll(t, false, 2048), model) << method;
}

namespace {

TEST_F(SetTableTest, EmptySetAnswers4) {
  const int32_t t = MakeSet(16384);
  for (bool forwards : {true, false}) {
    std::vector<int32_t> b = Block(t, 16384);
    b[SETRQ_PAGE] = 0;
    EXPECT_EQ(forwards ? DKGXN0(b) : DKGXP0(b), SET_END);
    EXPECT_EQ(b[SETRQ_RC], SET_END);
    EXPECT_EQ(b[SETRQ_PAGE], 0);
  }
  // A set emptied by a drop reads as empty too.
  ASSERT_EQ(Append(t, Record(3, 1)).rc, 0);
  std::vector<int32_t> b = Block(t, 16384);
  EXPECT_EQ(DKDXT0(b), 0);
  EXPECT_TRUE(ReadAll(t, true, 16384).empty());
  EXPECT_TRUE(ReadAll(t, false, 16384).empty());
}

TEST_F(SetTableTest, ReadingBackwardsFromPage0GivesTheLastRecordAppended) {
  const int32_t t = MakeSet(16384);
  for (int32_t i = 1; i <= 5; ++i) ASSERT_EQ(Append(t, Record(i, i)).rc, 0);
  std::vector<int32_t> b = Block(t, 16384);
  ASSERT_EQ(DKGXP0(b), 0);
  EXPECT_EQ(b[SETRQ_LENGTH], 5);
  EXPECT_EQ(std::vector<int32_t>(b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + 5),
            Record(5, 5));
}

// The record fits only when its words are fewer than the page's free words:
// one that would fill the rest exactly starts a new data page.
TEST_F(SetTableTest, ARecordThatExactlyFillsThePageGoesToANewPage) {
  const int32_t t = MakeSet(16384);
  const Appended first = Append(t, Record(100, 1));
  ASSERT_EQ(first.rc, 0);
  const int32_t free_words = 16384 / 4 - first.end;
  const Appended almost = Append(t, Record(free_words - 1 - 2, 2));
  ASSERT_EQ(almost.rc, 0);
  EXPECT_EQ(almost.page, first.page);
  EXPECT_EQ(almost.end, 16384 / 4 - 1);
  // Now one word is free; an empty record takes two.
  const int32_t t2 = MakeSet(16384, 2048, kTbl + 1);
  const Appended a = Append(t2, Record(50, 3));
  ASSERT_EQ(a.rc, 0);
  const Appended exact = Append(t2, Record(16384 / 4 - a.end - 2, 4));
  ASSERT_EQ(exact.rc, 0);
  EXPECT_NE(exact.page, a.page);
  EXPECT_EQ(ReadAll(t2, true, 16384).size(), 2u);
}

TEST_F(SetTableTest, AgreesWithAVectorOfTheRecordsAppended) {
  AppendAndReadBack(0, 3400);
  // More data pages than one 2048-byte list page names.
  EXPECT_GT(pages_used_, 2048 / 4 - SETLIST_FIRST);
}

TEST_F(SetTableTest, CompressedSetsAgreeWithAVectorOfTheRecordsAppended) {
  AppendAndReadBack(1, 600);
  AppendAndReadBack(2, 600);
}

// A compressed set keeps long records short, and a record whose compressed
// form would not fit a page is refused rather than cut.
TEST_F(SetTableTest, CompressedRecords) {
  const int32_t t = MakeSet(2048, 2048, kTbl, 2);
  std::vector<int32_t> same(400, 0x61616161);
  same[0] = 7;
  const Appended a = Append(t, same, 0, 2048);
  ASSERT_EQ(a.rc, 0);
  EXPECT_LT(a.end, 40);
  std::mt19937 rng(5);
  std::vector<int32_t> noise(SetMaxRecordWords(2048));
  for (auto& w : noise) w = static_cast<int32_t>(rng());
  EXPECT_EQ(Append(t, noise, 0, 2048).rc, -67);
  // Delete compares the compressed rest with the given record.
  std::vector<int32_t> b = Block(t, 2048);
  b[SETRQ_PAGE] = a.page;
  b[SETRQ_POSITION] = SETDATA_FIRST;
  b[SETRQ_LENGTH] = 400;
  std::vector<int32_t> other = same;
  other[399] = 1;
  std::copy(other.begin(), other.end(), b.begin() + SETRQ_RECORD);
  EXPECT_EQ(DKDXR0(b), SET_NO_MATCH);
  std::copy(same.begin(), same.end(), b.begin() + SETRQ_RECORD);
  b[SETRQ_PAGE] = a.page;
  b[SETRQ_POSITION] = SETDATA_FIRST;
  EXPECT_EQ(DKDXR0(b), SET_END);
  EXPECT_TRUE(ReadAll(t, true, 2048).empty());
}

// A delete that empties a data page takes it out of its list page, which
// reaches disk before the page is freed, in every mode: a page freed and
// taken again for something else is never named by the list on disk. The
// list does not wait for the emptied page, which the delete holds, also
// when that page was appended without being written.
TEST_F(SetTableTest, AnEmptiedPageIsFreedOnlyOnceTheListOnDiskNoLongerNamesIt) {
  struct Case {
    int32_t append_mode, delete_mode;
    bool flush;
  };
  const Case cases[] = {{0, 0, true}, {7, 7, true}, {-2, -2, true}, {0, -2, false}, {7, 0, false}};
  int32_t n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.append_mode << " " << c.delete_mode << " " << c.flush);
    const int32_t t = MakeSet(2048, 2048, kTbl + 40 + n++);
    std::vector<int32_t> pages;
    for (int32_t i = 0; i < 3; ++i)
      pages.push_back(Append(t, Record(300, i), c.append_mode, 2048).page);
    int32_t flush[PAGREQ_WORDS] = {databank_, 0, 0, 0, -1, 0, 0, 0};
    if (c.flush) {
      ASSERT_EQ(DKPAG0(flush, PAG_FLUSH), 0);
    }
    std::vector<int32_t> b = Block(t, 2048);
    b[SETRQ_RC] = c.delete_mode;
    b[SETRQ_PAGE] = pages[1];
    b[SETRQ_POSITION] = SETDATA_FIRST;
    b[SETRQ_LENGTH] = 300;
    const std::vector<int32_t> record = Record(300, 1);
    std::copy(record.begin(), record.end(), b.begin() + SETRQ_RECORD);
    EndsWithin(20, "a delete that empties a page", [&] { EXPECT_EQ(DKDXR0(b), 0); });
    const int32_t list = RootWord(t, SETROOT_FIRST_LIST);
    EXPECT_EQ(FileWord("sets", list, SETLIST_LAST), SETLIST_FIRST + 1);
    EXPECT_EQ(FileWord("sets", list, SETLIST_FIRST), pages[0]);
    EXPECT_EQ(FileWord("sets", list, SETLIST_FIRST + 1), pages[2]);
    for (const int32_t p : {pages[0], pages[2]})
      EXPECT_EQ(FileWord("sets", p, SETDATA_MARK), kSetDataMark) << p;
  }
}

TEST_F(SetTableTest, DeleteRemovesInPlaceAndFreesAnEmptiedPage) {
  const int32_t t = MakeSet(2048);
  std::vector<std::vector<int32_t>> model;
  std::vector<Appended> at;
  for (int32_t i = 0; i < 12; ++i) {
    model.push_back(Record(200, i));  // two records a page
    at.push_back(Append(t, model.back(), 0, 2048));
    ASSERT_EQ(at.back().rc, 0);
  }
  auto remove = [&](int i, int32_t* page, int32_t* q, const std::vector<int32_t>& content) {
    std::vector<int32_t> b = Block(t, 2048);
    b[SETRQ_PAGE] = at[i].page;
    b[SETRQ_POSITION] = at[i].end - 202;
    b[SETRQ_LENGTH] = static_cast<int32_t>(content.size());
    std::copy(content.begin(), content.end(), b.begin() + SETRQ_RECORD);
    const int32_t rc = DKDXR0(b);
    *page = b[SETRQ_PAGE];
    *q = b[SETRQ_POSITION];
    return rc;
  };
  int32_t page = 0, q = 0;
  // Another content is no match and changes nothing.
  EXPECT_EQ(remove(3, &page, &q, Record(200, 99)), SET_NO_MATCH);
  EXPECT_EQ(remove(3, &page, &q, Record(199, 3)), SET_NO_MATCH);
  EXPECT_EQ(ReadAll(t, true, 2048), model);
  // Record 2 is the first of its page: the second moves down into its place.
  ASSERT_EQ(remove(2, &page, &q, model[2]), 0);
  EXPECT_EQ(page, at[2].page);
  model.erase(model.begin() + 2);
  EXPECT_EQ(ReadAll(t, true, 2048), model);
  // Record 3 is now the only one of that page: the page goes, the position
  // moves to the first record of the next page.
  at[3].end -= 202;
  ASSERT_EQ(remove(3, &page, &q, model[2]), 0);
  EXPECT_EQ(page, at[4].page);
  EXPECT_EQ(q, SETDATA_FIRST);
  model.erase(model.begin() + 2);
  EXPECT_EQ(ReadAll(t, true, 2048), model);
  EXPECT_EQ(ReadAll(t, false, 2048), model);
  // Emptying the last page leaves no page to move to.
  ASSERT_EQ(remove(11, &page, &q, model.back()), 0);
  model.pop_back();
  ASSERT_EQ(remove(10, &page, &q, model.back()), SET_END);
  model.pop_back();
  EXPECT_EQ(ReadAll(t, false, 2048), model);
  // Appends go on after the deletes.
  model.push_back(Record(5, 77));
  ASSERT_EQ(Append(t, model.back(), 0, 2048).rc, 0);
  EXPECT_EQ(ReadAll(t, true, 2048), model);
}

TEST_F(SetTableTest, DropKeepingTheFirstPages) {
  const int32_t t = MakeSet(2048);
  int32_t first_page = 0;
  for (int32_t i = 0; i < 20; ++i) {
    const Appended a = Append(t, Record(300, i), 0, 2048);
    ASSERT_EQ(a.rc, 0);
    if (i == 0) first_page = a.page;
  }
  std::vector<int32_t> b = Block(t, 2048);
  b[SETRQ_RC] = 1;
  ASSERT_EQ(DKDXT0(b), 0);
  EXPECT_TRUE(ReadAll(t, true, 2048).empty());
  // The kept data page takes the next append.
  const Appended a = Append(t, Record(4, 1), 0, 2048);
  ASSERT_EQ(a.rc, 0);
  EXPECT_EQ(a.page, first_page);
  EXPECT_EQ(ReadAll(t, false, 2048), std::vector<std::vector<int32_t>>{Record(4, 1)});
}

TEST_F(SetTableTest, WriteAtOnceReachesTheFile) {
  const int32_t t = MakeSet(16384);
  const Appended a = Append(t, Record(3, 9), -2);
  ASSERT_EQ(a.rc, 0);
  EXPECT_EQ(FileWord("sets", a.page, SETDATA_MARK), kSetDataMark);
  EXPECT_EQ(FileWord("sets", a.page, SETDATA_FIRST), 5);
  EXPECT_EQ(FileWord("sets", a.page, SETDATA_FIRST + 1), 9000);
  EXPECT_EQ(FileWord("sets", a.page, SETDATA_FIRST + 4), 5);
}

TEST_F(SetTableTest, CallerInputIsChecked) {
  const int32_t t = MakeSet(16384);
  ASSERT_EQ(Append(t, Record(2, 1)).rc, 0);
  // A table entry that is none, or whose check value differs.
  for (int32_t entry : {0, t + 1, area_[BP_TABLE_LAST] + TBE_WORDS}) {
    std::vector<int32_t> b = Block(t, 16384);
    b[SETRQ_TABLE] = entry;
    EXPECT_EQ(DKGXN0(b), -46) << entry;
  }
  std::vector<int32_t> b = Block(t, 16384);
  b[SETRQ_TBL] = kTbl + 5;
  EXPECT_EQ(DKAXR0(b), -46);
  // Record lengths outside the page, or past the caller's block.
  for (int32_t length : {-1, SetMaxRecordWords(16384) + 1}) {
    b = Block(t, 16384);
    b[SETRQ_LENGTH] = length;
    EXPECT_EQ(DKAXR0(b), -67) << length;
  }
  std::vector<int32_t> small(SETRQ_RECORD + 4, 0);
  small[SETRQ_TABLE] = t;
  small[SETRQ_TBL] = kTbl;
  small[SETRQ_LENGTH] = 5;
  EXPECT_EQ(DKAXR0(small), -67);
  EXPECT_EQ(DKAXR0(std::span<int32_t>(small.data(), 10)), -43);
  // A record longer than the block it is read into.
  ASSERT_EQ(Append(t, Record(10, 2)).rc, 0);
  small[SETRQ_RC] = 2;
  small[SETRQ_PAGE] = 0;
  EXPECT_EQ(DKGXP0(small), -43);
  // Positions that lie outside the page's records.
  b = Block(t, 16384);
  ASSERT_EQ(DKGXN0(b), 0);
  for (int32_t q : {3, 5000, -1}) {
    b[SETRQ_POSITION] = q;
    b[SETRQ_RC] = 2;
    EXPECT_EQ(DKGXN0(b), -43) << q;
  }
  // A position inside a record is no record.
  b = Block(t, 16384);
  ASSERT_EQ(DKGXN0(b), 0);
  b[SETRQ_POSITION] += 1;
  b[SETRQ_RC] = 2;
  EXPECT_EQ(DKGXN0(b), -65);
}

}  // namespace

namespace {

std::vector<int32_t> MarkRecord(int32_t mark, int32_t words = 3) {
  std::vector<int32_t> r(words, 0x61616161);
  r[0] = 22;
  r[1] = 0;
  r[2] = mark;
  return r;
}

// A roll back frees the data pages behind the mark only once the list page
// on disk no longer names them: a page freed and taken again for something
// else is never named by the list on disk.
TEST_F(SetTableTest, ARollBackFreesPagesOnlyOnceTheListOnDiskNoLongerNamesThem) {
  const int32_t t = MakeSet(2048, 2048, kTbl + 60);
  std::vector<int32_t> pages;
  for (int32_t i = 0; i < 6; ++i) {
    std::vector<int32_t> r = i == 2 ? MarkRecord(5, 300) : Record(300, i);
    pages.push_back(Append(t, r, 0, 2048).page);
  }
  int32_t flush[PAGREQ_WORDS] = {databank_, 0, 0, 0, -1, 0, 0, 0};
  ASSERT_EQ(DKPAG0(flush, PAG_FLUSH), 0);
  std::vector<int32_t> b = Block(t, 2048);
  b[SETRQ_RC] = 5;
  ASSERT_EQ(DKRXT0(b), 0);
  EXPECT_EQ(b[SETRQ_PAGE], pages[2]);
  const int32_t list = RootWord(t, SETROOT_FIRST_LIST);
  EXPECT_EQ(FileWord("sets", list, SETLIST_LAST), SETLIST_FIRST + 2);
  for (int32_t slot = SETLIST_FIRST + 3; slot < SETLIST_FIRST + 6; ++slot)
    EXPECT_EQ(FileWord("sets", list, slot), 0) << slot;
}

// Roll back against the model: the records behind the mark go, the mark
// stays; appends go on from there, also after list pages were freed.
TEST_F(SetTableTest, RollBackToAMark) {
  for (int32_t method : {0, 2}) {
    const int32_t t = MakeSet(2048, 2048, kTbl + method, method);
    std::mt19937 rng(31 + method);
    std::vector<std::vector<int32_t>> model;
    std::vector<size_t> mark_at;  // model size right after each mark
    // Half the records compress to little: a compressed set takes more of them
    // to fill more than one list page.
    const int32_t count = method == 0 ? 2500 : 5000;
    for (int32_t i = 0; i < count; ++i) {
      if (i % 500 == 250) {
        // Marks of both forms in a compressed set: short and plain, long.
        model.push_back(
            MarkRecord(static_cast<int32_t>(mark_at.size()) + 1, mark_at.size() % 2 ? 40 : 3));
        mark_at.push_back(model.size());
      } else {
        model.push_back(MixedRecord(rng, static_cast<int32_t>(rng() % 240), i));
      }
      ASSERT_EQ(Append(t, model.back(), 0, 2048).rc, 0);
    }
    // The set spans more than one list page.
    EXPECT_NE(RootWord(t, SETROOT_LAST_LIST), RootWord(t, SETROOT_FIRST_LIST)) << method;
    std::vector<int32_t> b = Block(t, 2048);
    b[SETRQ_RC] = 99;  // no such mark: nothing changes
    EXPECT_EQ(DKRXT0(b), -55);
    EXPECT_EQ(ReadAll(t, false, 2048), model);
    for (int32_t mark : {4, 2}) {
      b = Block(t, 2048);
      b[SETRQ_RC] = mark;
      ASSERT_EQ(DKRXT0(b), 0) << method << " " << mark;
      EXPECT_GT(b[SETRQ_PAGE], 0);
      model.resize(mark_at[mark - 1]);
      EXPECT_EQ(b[SETRQ_POSITION] > SETDATA_FIRST, true);
      EXPECT_EQ(ReadAll(t, true, 2048), model);
      EXPECT_EQ(ReadAll(t, false, 2048), model);
    }
    // Mark 2 lies on a page the first list page names: the later list
    // pages are gone.
    EXPECT_EQ(RootWord(t, SETROOT_LAST_LIST), RootWord(t, SETROOT_FIRST_LIST));
    for (int32_t i = 0; i < 700; ++i) {
      model.push_back(MixedRecord(rng, static_cast<int32_t>(rng() % 120), i));
      ASSERT_EQ(Append(t, model.back(), 0, 2048).rc, 0);
    }
    EXPECT_EQ(ReadAll(t, true, 2048), model);
    EXPECT_EQ(ReadAll(t, false, 2048), model);
  }
}

// Appends in a transaction's write set that fill a list page: the next list
// page is on disk, empty, before the full page or the root record can name it.
TEST_F(SetTableTest, ANewListPageIsOnDiskBeforeAnythingNamesIt) {
  const int32_t databank = Create("extend", 2000, 9);
  const int32_t t = MakeSet(2048, 2048, kTbl + 20, 0, databank);
  int32_t appended = 0;
  for (; appended < 600 && RootWord(t, SETROOT_LAST_LIST) == RootWord(t, SETROOT_FIRST_LIST);
       ++appended)
    ASSERT_EQ(Append(t, Record(300, appended), 7, 2048).rc, 0);
  const int32_t first = RootWord(t, SETROOT_FIRST_LIST), last = RootWord(t, SETROOT_LAST_LIST);
  ASSERT_NE(last, first);
  EXPECT_EQ(appended, 2048 / 4 - SETLIST_FIRST + 1);
  EXPECT_EQ(FileWord("extend", last, SETLIST_MARK), kSetListMark);
  EXPECT_EQ(FileWord("extend", last, SETLIST_PREV), first);
  int32_t pag[PAGREQ_WORDS] = {databank, 0, 0, 0, -1, 0, 7, 0};
  EXPECT_EQ(DKPAG0(pag, PAG_WRITE_SET), 0);
  EXPECT_EQ(FileWord("extend", first, SETLIST_NEXT), last);
  EXPECT_EQ(FileWord("extend", last, SETLIST_LAST), SETLIST_FIRST);
}

}  // namespace

namespace {

TEST_F(SetTableTest, CopyIntoAnotherDatabank) {
  const int32_t source = MakeSet(2048);
  std::mt19937 rng(8);
  std::vector<std::vector<int32_t>> model;
  for (int32_t i = 0; i < 3000; ++i) {
    model.push_back(MixedRecord(rng, static_cast<int32_t>(rng() % 200), i));
    ASSERT_EQ(Append(source, model.back(), 0, 2048).rc, 0);
  }
  const int32_t other = Create("copy", 2000, 7);
  const int32_t target = MakeSet(2048, 2048, kTbl + 9, 0, other);
  std::vector<int32_t> from = Block(source, 2048), to = Block(target, 2048);
  ASSERT_EQ(DKCPX0(from, to), 0);
  EXPECT_EQ(from[SETRQ_RC], 0);
  EXPECT_NE(RootWord(target, SETROOT_LAST_LIST), RootWord(target, SETROOT_FIRST_LIST));
  EXPECT_EQ(ReadAll(target, true, 2048), model);
  EXPECT_EQ(ReadAll(target, false, 2048), model);
  EXPECT_EQ(ReadAll(source, true, 2048), model);
  // The copy is on disk: its first data page names its first list page.
  const int32_t first_list = RootWord(target, SETROOT_FIRST_LIST);
  const int32_t first_data = FileWord("copy", first_list, SETLIST_FIRST);
  EXPECT_EQ(FileWord("copy", first_data, SETDATA_MARK), kSetDataMark);
  EXPECT_EQ(FileWord("copy", first_data, SETDATA_LIST), first_list);
  // The copy goes on by itself.
  model.push_back(Record(3, 1));
  ASSERT_EQ(Append(target, model.back(), 0, 2048).rc, 0);
  EXPECT_EQ(ReadAll(target, false, 2048), model);
  // A target that is not empty, or of other page sizes, is refused.
  from = Block(source, 2048);
  EXPECT_EQ(DKCPX0(from, to), -43);
  const int32_t wide = MakeSet(16384, 2048, kTbl + 10, 0, other);
  std::vector<int32_t> to_wide = Block(wide, 16384);
  EXPECT_EQ(DKCPX0(from, to_wide), -43);
  EXPECT_TRUE(ReadAll(wide, true, 16384).empty());
}

}  // namespace

namespace {

// Appends left in the pool by mode 0 reach the file with the next append
// that writes at once, before the list page that names them.
TEST_F(SetTableTest, WriteAtOnceWritesEarlierPagesBeforeTheListPage) {
  const int32_t t = MakeSet(2048);
  std::vector<Appended> at;
  for (int32_t i = 0; i < 6; ++i) at.push_back(Append(t, Record(300, i), 0, 2048));
  at.push_back(Append(t, Record(300, 6), -2, 2048));
  ASSERT_EQ(at.back().rc, 0);
  const int32_t list = RootWord(t, SETROOT_FIRST_LIST);
  EXPECT_EQ(FileWord("sets", list, SETLIST_LAST), SETLIST_FIRST + 6);  // a record a page
  for (int32_t i = 0; i < 7; ++i) {
    EXPECT_EQ(FileWord("sets", at[i].page, SETDATA_MARK), kSetDataMark) << i;
    EXPECT_EQ(FileWord("sets", at[i].page, at[i].end - 301), i * 1000) << i;
  }
}

// A data page that cannot be written keeps the list page that would name it
// off the file.
TEST_F(SetTableTest, AFailedDataPageWriteKeepsItsListPageUnwritten) {
  const int32_t t = MakeSet(2048);
  ASSERT_EQ(Append(t, Record(300, 0), -2, 2048).rc, 0);
  ASSERT_EQ(Append(t, Record(300, 1), -2, 2048).rc, 0);
  const int32_t list = RootWord(t, SETROOT_FIRST_LIST);
  ASSERT_EQ(FileWord("sets", list, SETLIST_LAST), SETLIST_FIRST + 1);
  fault_.FailNthWrite(1, EIO);
  const Appended a = Append(t, Record(300, 2), -2, 2048);  // a new data page
  EXPECT_EQ(a.rc, -62);
  EXPECT_EQ(FileWord("sets", list, SETLIST_LAST), SETLIST_FIRST + 1);
}

}  // namespace

namespace {

// Threads append to one set at once, starting from an empty set (so they
// race to make its first list page): every record is there once, and each
// thread's records keep their order.
TEST_F(SetTableTest, ConcurrentAppendsKeepEveryRecord) {
  const int32_t t = MakeSet(2048);
  constexpr int32_t kWriters = 4, kEach = 300;
  std::vector<std::thread> threads;
  std::vector<int32_t> failures(kWriters, 0);
  for (int32_t w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      enqdeq_attach(enq_, 2 + w);
      for (int32_t i = 0; i < kEach; ++i) {
        std::vector<int32_t> b = Block(t, 2048);
        b[SETRQ_RC] = i % 10 == 0 ? -2 : 0;
        b[SETRQ_LENGTH] = 2 + (i * 7 + w) % 150;
        b[SETRQ_RECORD] = w;
        b[SETRQ_RECORD + 1] = i;
        if (DKAXR0(b) != 0) ++failures[w];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, std::vector<int32_t>(kWriters, 0));
  const auto records = ReadAll(t, true, 2048);
  ASSERT_EQ(records.size(), static_cast<size_t>(kWriters * kEach));
  std::vector<int32_t> next(kWriters, 0);
  for (const auto& r : records) {
    ASSERT_GE(r.size(), 2u);
    ASSERT_GE(r[0], 0);
    ASSERT_LT(r[0], kWriters);
    EXPECT_EQ(r[1], next[r[0]]++);
    EXPECT_EQ(static_cast<int32_t>(r.size()), 2 + (r[1] * 7 + r[0]) % 150);
  }
  EXPECT_EQ(ReadAll(t, false, 2048), records);
}

}  // namespace

namespace {

// A data page that no list page from the one its word 3 names on lists is
// damaged: a read that steps off it reports the page instead of ending the
// set early, forwards and backwards.
TEST_F(SetTableTest, ADataPageNoListPageNamesIsCorrupt) {
  const int32_t other = MakeSet(2048, 2048, kTbl + 50);
  ASSERT_EQ(Append(other, Record(3, 1), 0, 2048).rc, 0);
  const int32_t foreign_list = RootWord(other, SETROOT_FIRST_LIST);
  int32_t n = 0;
  for (const int32_t word3 : {0, foreign_list}) {
    const int32_t t = MakeSet(2048, 2048, kTbl + 51 + n++);
    std::vector<Appended> at;
    for (int32_t i = 0; i < 3; ++i) at.push_back(Append(t, Record(300, i), 0, 2048));
    ASSERT_NE(at[0].page, at[1].page);
    const int32_t buffer = Get(databank_, at[1].page, 2048, GET_UPDATE);
    ASSERT_GT(buffer, 0);
    PageWords(buffer)[SETDATA_LIST] = word3;
    DKPUT0(PUT_CHANGED, buffer);
    for (const bool forwards : {true, false}) {
      std::vector<int32_t> b = Block(t, 2048);
      b[SETRQ_RC] = 2;
      int32_t read = 0, rc = 0;
      while ((rc = forwards ? DKGXN0(b) : DKGXP0(b)) == 0 && read < 10) {
        ++read;
        b[SETRQ_RC] = 0;
      }
      EXPECT_EQ(rc, -65) << word3 << " " << forwards;
      EXPECT_EQ(read, 2) << word3 << " " << forwards;
    }
  }
}

}  // namespace

namespace {

// A drop that meets a damaged list page half way has given back the pages
// before it: the set must no longer name them, or it would read (and append
// into) whatever table gets them next.
TEST_F(SetTableTest, ADropStoppedByADamagedListPageLeavesNoPageNamedThatWasFreed) {
  const int32_t databank = Create("dropped", 3000, 12);
  const int32_t t = MakeSet(2048, 2048, kTbl + 60, 0, databank);
  for (int32_t i = 0; i < 600; ++i) ASSERT_EQ(Append(t, Record(300, i), 0, 2048).rc, 0);
  const int32_t last = RootWord(t, SETROOT_LAST_LIST);
  ASSERT_NE(RootWord(t, SETROOT_FIRST_LIST), last);
  const int32_t buffer = Get(databank, last, 2048, GET_UPDATE);
  ASSERT_GT(buffer, 0);
  PageWords(buffer)[SETLIST_MARK] = 5;
  DKPUT0(PUT_CHANGED, buffer);
  std::vector<int32_t> b = Block(t, 2048);
  EXPECT_EQ(DKDXT0(b), -63);
  EXPECT_EQ(RootWord(t, SETROOT_FIRST_LIST), 0);
  EXPECT_EQ(RootWord(t, SETROOT_LAST_LIST), 0);
  // Another set takes the pages given back; the dropped one stays empty.
  const int32_t other = MakeSet(2048, 2048, kTbl + 61, 0, databank);
  ASSERT_EQ(Append(other, Record(3, 1), 0, 2048).rc, 0);
  EXPECT_TRUE(ReadAll(t, true, 2048).empty());
  EXPECT_EQ(ReadAll(other, true, 2048), std::vector<std::vector<int32_t>>{Record(3, 1)});
}

}  // namespace

namespace {

// A reader that goes through the set while threads append to it: a record
// appended to a page just after the reader found its end, and before the
// next page came, is read all the same; no record of a writer is skipped.
TEST_F(SetTableTest, AReadAlongsideAppendsSkipsNoRecord) {
  const int32_t t = MakeSet(2048);
  constexpr int32_t kWriters = 3, kReaders = 3, kEach = 1000;
  std::atomic<int32_t> writing{kWriters};
  std::atomic<int32_t> failures{0};
  std::vector<std::thread> threads;
  for (int32_t w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      enqdeq_attach(enq_, 2 + w);
      for (int32_t i = 0; i < kEach; ++i) {
        std::vector<int32_t> b = Block(t, 2048);
        b[SETRQ_LENGTH] = 2 + (i * 7 + w) % 150;
        b[SETRQ_RECORD] = w;
        b[SETRQ_RECORD + 1] = i;
        if (DKAXR0(b) != 0) ++failures;
      }
      --writing;
    });
  }
  for (int32_t r = 0; r < kReaders; ++r) {
    threads.emplace_back([&, r] {
      enqdeq_attach(enq_, 2 + kWriters + r);
      while (writing > 0) {
        std::vector<int32_t> b = Block(t, 2048);
        b[SETRQ_RC] = 2;
        std::vector<int32_t> next(kWriters, 0);
        for (int32_t rc = 0; (rc = DKGXN0(b)) != SET_END; b[SETRQ_RC] = 0) {
          const int32_t w = b[SETRQ_RECORD], i = b[SETRQ_RECORD + 1];
          if (rc != 0 || w < 0 || w >= kWriters || i != next[w]++) {
            ++failures;
            break;
          }
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(ReadAll(t, true, 2048).size(), static_cast<size_t>(kWriters * kEach));
}

}  // namespace

namespace {

// The restart's end of a set whose page write was cut short: the set ends at
// the first record its length words do not frame (that page written at once,
// later pages gone), the records before it read back and appends go on
// behind them; a sound set is left as it is.
TEST_F(SetTableTest, TheSetEndsAtItsFirstUnsoundRecord) {
  struct Case {
    const char* what;
    int32_t record;  // the record damaged, -1 none
    int32_t word;    // its word damaged: 0 the first length word, -1 the last
  };
  const Case cases[] = {
      {"sound", -1, 0},
      {"first length word of the last page's second record", 9, 0},
      {"last length word of the last page's first record", 8, -1},
      {"a record of the first page", 1, 0},
  };
  int32_t tbl = kTbl + 60;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t t = MakeSet(2048, 2048, tbl++);
    std::vector<std::vector<int32_t>> model;
    std::vector<Appended> at;
    for (int32_t i = 0; i < 10; ++i) {
      model.push_back(Record(100, i));
      at.push_back(Append(t, model.back(), 0, 2048));
      ASSERT_EQ(at.back().rc, 0);
    }
    // Four records of 102 words a page: records 8 and 9 are on the last.
    ASSERT_EQ(at[8].page, at[9].page);
    ASSERT_NE(at[7].page, at[8].page);
    if (c.record >= 0) {
      const Appended& a = at[c.record];
      const int32_t buffer = Get(databank_, a.page, 2048, GET_UPDATE);
      ASSERT_GT(buffer, 0);
      PageWords(buffer)[c.word == 0 ? a.end - 102 : a.end - 1] = 0;
      DKPUT0(PUT_CHANGED, buffer);
    }
    std::vector<int32_t> b = Block(t, 2048);
    EXPECT_EQ(DKEndSetAtSoundRecord(b), c.record >= 0 ? 1 : 0);
    if (c.record >= 0) {
      const Appended& a = at[c.record];
      int32_t old_end = 0;
      for (const Appended& other : at)
        if (other.page == a.page) old_end = other.end;
      EXPECT_EQ(b[SETRQ_PAGE], a.page);
      EXPECT_EQ(b[SETRQ_POSITION], a.end - 102);
      EXPECT_EQ(b[SETRQ_LENGTH], old_end);
      EXPECT_EQ(FileWord("sets", a.page, SETDATA_END), a.end - 102);
      model.resize(static_cast<size_t>(c.record));
      model.push_back(Record(7, 77));
      ASSERT_EQ(Append(t, model.back(), 0, 2048).rc, 0);
    }
    EXPECT_EQ(ReadAll(t, true, 2048), model);
    EXPECT_EQ(ReadAll(t, false, 2048), model);
  }
}

}  // namespace

namespace {

// A data page reaches its file whole with zeros behind its used end: a
// record deleted from the end leaves no copy of itself there that a write
// cut short could bring back as a sound record.
TEST_F(SetTableTest, DataPagesAreWrittenWholeWithZerosBehindTheirUsedEnd) {
  const int32_t t = MakeSet(16384);
  std::vector<Appended> at;
  for (int32_t i = 0; i < 3; ++i) at.push_back(Append(t, Record(5, i + 1), -2));
  ASSERT_EQ(at[2].page, at[0].page);
  const int32_t page = at[2].page, last = at[2].end - 7;
  EXPECT_EQ(FileWord("sets", page, last), 7);
  std::vector<int32_t> b = Block(t, 16384);
  b[SETRQ_RC] = -2;
  b[SETRQ_PAGE] = page;
  b[SETRQ_POSITION] = last;
  b[SETRQ_LENGTH] = 5;
  const std::vector<int32_t> r = Record(5, 3);
  std::copy(r.begin(), r.end(), b.begin() + SETRQ_RECORD);
  ASSERT_EQ(DKDXR0(b), 0);
  EXPECT_EQ(FileWord("sets", page, SETDATA_END), last);
  for (int32_t w = last; w < at[2].end; ++w) EXPECT_EQ(FileWord("sets", page, w), 0) << w;
  EXPECT_EQ(FileWord("sets", page, 16384 / 4 - 1), 0);
}

// The same end over a ring (return word 1 in: the commit set, whose later
// pages hold older records): each page ends at its own first unsound record,
// written at once, and every other record stays, the pages behind a cut
// included; words 6 to 8 name the last page cut.
TEST_F(SetTableTest, ARingEndsEachPageAtItsOwnFirstUnsoundRecord) {
  struct Case {
    const char* what;
    std::vector<int32_t> damaged;  // records whose first length word is damaged
  };
  const Case cases[] = {
      {"sound", {}},
      {"a record of the first page", {1}},
      {"the first record of the middle page", {4}},
      {"records of the first and the last page", {2, 9}},
  };
  int32_t tbl = kTbl + 80;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t t = MakeSet(2048, 2048, tbl++);
    std::vector<std::vector<int32_t>> records;
    std::vector<Appended> at;
    for (int32_t i = 0; i < 10; ++i) {
      records.push_back(Record(100, i));
      at.push_back(Append(t, records.back(), 0, 2048));
      ASSERT_EQ(at.back().rc, 0);
    }
    // Four records of 102 words a page: 0 to 3, 4 to 7, 8 and 9.
    ASSERT_EQ(at[4].page, at[7].page);
    ASSERT_NE(at[3].page, at[4].page);
    ASSERT_NE(at[7].page, at[8].page);
    std::vector<bool> kept(records.size(), true);
    for (int32_t r : c.damaged) {
      const int32_t buffer = Get(databank_, at[r].page, 2048, GET_UPDATE);
      ASSERT_GT(buffer, 0);
      PageWords(buffer)[at[r].end - 102] = 0;
      DKPUT0(PUT_CHANGED, buffer);
      for (size_t i = static_cast<size_t>(r); i < records.size() && at[i].page == at[r].page; ++i)
        kept[i] = false;
    }
    std::vector<int32_t> b = Block(t, 2048);
    b[SETRQ_RC] = 1;
    EXPECT_EQ(DKEndSetAtSoundRecord(b), c.damaged.empty() ? 0 : 1);
    if (!c.damaged.empty()) {
      const Appended& last = at[c.damaged.back()];
      EXPECT_EQ(b[SETRQ_PAGE], last.page);
      EXPECT_EQ(b[SETRQ_POSITION], last.end - 102);
      for (int32_t r : c.damaged)
        EXPECT_EQ(FileWord("sets", at[r].page, SETDATA_END), at[r].end - 102) << r;
    }
    std::vector<std::vector<int32_t>> model;
    for (size_t i = 0; i < records.size(); ++i)
      if (kept[i]) model.push_back(records[i]);
    EXPECT_EQ(ReadAll(t, true, 2048), model);
  }
}

}  // namespace
