// Set requests: the walk over a set's databank and its shadow, the function
// codes that reach them, the busy mark, and the in-place update of a record.
#include "dk/set_requests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <vector>

#include "dk/request.h"
#include "dk/tests/set_fixture.h"

namespace {

class SetRequestTest : public SetTableTest {
 protected:
  // The set on the databank, and its copy on a shadow databank chained
  // behind it.
  void MakeShadowedSet() {
    shadow_ = Create("shadow", 200, 6);
    area_[databank_ + DBE_DEPENDENT] = shadow_;
    first_ = MakeSet(16384);
    second_ = area_[first_ + TBE_NEXT];
    ASSERT_NE(second_, 0);
    EXPECT_EQ(area_[second_ + TBE_DATABANK], shadow_);
  }
  std::vector<int32_t> Request(int32_t table, int32_t mode = 0) {
    std::vector<int32_t> b(SetRequestBlockWords(), 0);
    b[SETRQ_RC] = mode;
    b[SETRQ_TABLE] = table;
    b[SETRQ_TBL] = area_[table];
    return b;
  }
  int32_t AppendRequest(int32_t table, const std::vector<int32_t>& record) {
    std::vector<int32_t> b = Request(table);
    b[SETRQ_LENGTH] = static_cast<int32_t>(record.size());
    std::copy(record.begin(), record.end(), b.begin() + SETRQ_RECORD);
    DKEXE1(6, b.data());
    return b[SETRQ_RC];
  }
  int32_t BusyCount(int32_t databank) { return area_[databank + DBE_LOCK1]; }

  int32_t shadow_ = 0, first_ = 0, second_ = 0;
};

TEST_F(SetRequestTest, AppendAndDropChangeTheShadowAlike) {
  MakeShadowedSet();
  std::vector<std::vector<int32_t>> model;
  for (int32_t i = 0; i < 30; ++i) {
    model.push_back(Record(i * 20, i));
    ASSERT_EQ(AppendRequest(first_, model.back()), 0) << i;
  }
  EXPECT_EQ(ReadAll(first_, true, 16384), model);
  EXPECT_EQ(ReadAll(second_, false, 16384), model);
  // The busy marks are given back.
  EXPECT_EQ(BusyCount(databank_), 1);
  EXPECT_EQ(BusyCount(shadow_), 1);
  std::vector<int32_t> b = Request(first_);
  DKEXE1(23, b.data());
  EXPECT_EQ(b[SETRQ_RC], 0);
  EXPECT_EQ(b[SETRQ_TABLE], first_);
  EXPECT_TRUE(ReadAll(first_, true, 16384).empty());
  EXPECT_TRUE(ReadAll(second_, true, 16384).empty());
}

// An offline shadow is left alone; the append answers the position the
// first databank gave.
TEST_F(SetRequestTest, AnOfflineDatabankIsSkipped) {
  MakeShadowedSet();
  area_[shadow_ + DBE_ERROR2] = 1;
  std::vector<int32_t> b = Request(first_);
  b[SETRQ_LENGTH] = 3;
  DKEXE1(6, b.data());
  ASSERT_EQ(b[SETRQ_RC], 0);
  EXPECT_GT(b[SETRQ_PAGE], 0);
  EXPECT_EQ(b[SETRQ_POSITION], SETDATA_FIRST + 5);
  area_[shadow_ + DBE_ERROR2] = 0;
  EXPECT_EQ(ReadAll(first_, true, 16384).size(), 1u);
  EXPECT_TRUE(ReadAll(second_, true, 16384).empty());
}

TEST_F(SetRequestTest, ReadRequestsReadTheGivenEntry) {
  MakeShadowedSet();
  ASSERT_EQ(AppendRequest(first_, Record(2, 1)), 0);
  ASSERT_EQ(AppendRequest(first_, Record(3, 2)), 0);
  std::vector<int32_t> b = Request(second_, 2);
  DKEXE1(34, b.data());
  ASSERT_EQ(b[SETRQ_RC], 0);
  EXPECT_EQ(b[SETRQ_LENGTH], 2);
  b[SETRQ_RC] = 0;
  DKEXE1(34, b.data());
  ASSERT_EQ(b[SETRQ_RC], 0);
  EXPECT_EQ(b[SETRQ_LENGTH], 3);
  b[SETRQ_RC] = 0;
  DKEXE1(34, b.data());
  EXPECT_EQ(b[SETRQ_RC], SET_END);
  b = Request(first_);
  DKEXE1(35, b.data());
  ASSERT_EQ(b[SETRQ_RC], 0);
  EXPECT_EQ(b[SETRQ_RECORD], 2000);
}

// A set request for a table of another kind is an internal inconsistency of
// the kernel: reported as such (which ends the server), the table untouched.
TEST_F(SetRequestTest, ATableThatIsNotASetIsReportedAndLeftAlone) {
  const int32_t t = MakeSet(16384);
  area_[t + TBE_KIND] = 1;
  log_.records.clear();
  EXPECT_THROW(AppendRequest(t, Record(2, 1)), ServerException);
  ASSERT_FALSE(log_.records.empty());
  EXPECT_EQ(BusyCount(databank_), 1);
  area_[t + TBE_KIND] = kKindSet;
  EXPECT_TRUE(ReadAll(t, true, 16384).empty());
  std::vector<int32_t> b = Request(t);
  b[SETRQ_TBL] = kTbl + 1;
  DKEXE1(6, b.data());
  EXPECT_EQ(b[SETRQ_RC], -46);
}

std::vector<int32_t> Words(const std::vector<int32_t>& b) {
  return {b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + b[SETRQ_LENGTH]};
}

TEST_F(SetRequestTest, UpdateInPlaceOfAnEmptySetIs56) {
  const int32_t t = MakeSet(16384);
  std::vector<int32_t> b = Request(t);
  b[SETRQ_LENGTH] = 1;
  EXPECT_EQ(DKUOS0(b), -56);
  EXPECT_EQ(b[SETRQ_RC], -56);
}

TEST_F(SetRequestTest, UpdateInPlaceOfTheLastRecord) {
  const int32_t t = MakeSet(16384);
  ASSERT_EQ(AppendRequest(t, Record(6, 1)), 0);
  ASSERT_EQ(AppendRequest(t, Record(6, 2)), 0);
  for (int32_t mode : {0, -2, 9}) {
    std::vector<int32_t> b = Request(t, mode);
    b[SETRQ_LENGTH] = 2;
    b[SETRQ_RECORD] = -1 - mode;
    b[SETRQ_RECORD + 1] = -2;
    ASSERT_EQ(DKUOS0(b), 0) << mode;
    std::vector<int32_t> expected = Record(6, 2);
    expected[0] = -1 - mode;
    expected[1] = -2;
    EXPECT_EQ(ReadAll(t, true, 16384).back(), expected);
  }
  // The whole record may be replaced, not a word more.
  std::vector<int32_t> b = Request(t);
  b[SETRQ_LENGTH] = 7;
  EXPECT_EQ(DKUOS0(b), -67);
  b = Request(t);
  b[SETRQ_LENGTH] = 6;
  EXPECT_EQ(DKUOS0(b), 0);
  // Through the request that walks the databanks, the page must be given.
  b = Request(t);
  EXPECT_EQ(DKUPS1(b), -43);
  std::vector<int32_t> read = Request(t);
  ASSERT_EQ(DKGXN0(read), 0);  // the first record
  b = Request(t);
  b[SETRQ_PAGE] = read[SETRQ_PAGE];
  b[SETRQ_POSITION] = read[SETRQ_POSITION];
  b[SETRQ_LENGTH] = 1;
  b[SETRQ_RECORD] = 77;
  ASSERT_EQ(DKUPS1(b), 0);
  read = Request(t);
  ASSERT_EQ(DKGXN0(read), 0);
  EXPECT_EQ(Words(read)[0], 77);
  // A position inside a record is none.
  b[SETRQ_POSITION] += 1;
  EXPECT_EQ(DKUOS0(b), -65);
}

TEST_F(SetRequestTest, UpdateInPlaceOfACompressedRecordKeepsToItsPlainWords) {
  const int32_t t = MakeSet(16384, 2048, kTbl, 1);
  std::vector<int32_t> record(50, 0x61616161);
  ASSERT_EQ(AppendRequest(t, record), 0);
  std::vector<int32_t> b = Request(t);
  b[SETRQ_LENGTH] = 5;
  EXPECT_EQ(DKUOS0(b), -67);
  b = Request(t);
  b[SETRQ_LENGTH] = 4;
  for (int32_t i = 0; i < 4; ++i) b[SETRQ_RECORD + i] = i;
  ASSERT_EQ(DKUOS0(b), 0);
  for (int32_t i = 0; i < 4; ++i) record[i] = i;
  EXPECT_EQ(ReadAll(t, true, 16384).back(), record);
}

}  // namespace

namespace {

TEST_F(SetRequestTest, RollBackRequestCutsEveryDatabank) {
  MakeShadowedSet();
  std::vector<std::vector<int32_t>> model;
  for (int32_t i = 0; i < 40; ++i) {
    model.push_back(i == 10 ? std::vector<int32_t>{22, 0, 7} : Record(300, i));
    ASSERT_EQ(AppendRequest(first_, model.back()), 0);
  }
  std::vector<int32_t> b = Request(first_, 7);
  DKEXE1(50, b.data());
  ASSERT_EQ(b[SETRQ_RC], 0);
  EXPECT_GT(b[SETRQ_PAGE], 0);
  EXPECT_EQ(b[SETRQ_TABLE], first_);
  model.resize(11);
  EXPECT_EQ(ReadAll(first_, true, 16384), model);
  EXPECT_EQ(ReadAll(second_, false, 16384), model);
  b = Request(first_, 8);
  DKEXE1(50, b.data());
  EXPECT_EQ(b[SETRQ_RC], -55);
}

}  // namespace

namespace {

// The records a removal of the listed objects up to `bound` keeps: a record
// of no listed object stays and names its transaction; an end record (21)
// stays when a kept record named its transaction; a record of kind 15 of a
// listed object whose mark is not below the bound ends the removal; every
// other record of a listed object goes.
std::vector<std::vector<int32_t>> Kept(const std::vector<std::vector<int32_t>>& records,
                                       const std::vector<int32_t>& listed, uint32_t bound) {
  std::vector<std::vector<int32_t>> kept;
  std::vector<int32_t> named;
  bool stopped = false;
  for (const auto& r : records) {
    const bool is_listed = std::find(listed.begin(), listed.end(), r[2]) != listed.end();
    if (stopped) {
      kept.push_back(r);
    } else if (r[0] == 21) {
      const auto at = std::find(named.begin(), named.end(), r[1]);
      if (at != named.end()) {
        named.erase(at);
        kept.push_back(r);
      }
    } else if (!is_listed) {
      if (std::find(named.begin(), named.end(), r[1]) == named.end()) named.push_back(r[1]);
      kept.push_back(r);
    } else if (r[0] == 15 && static_cast<uint32_t>(r[5]) >= bound) {
      stopped = true;
      kept.push_back(r);
    }
  }
  return kept;
}

// Words 25-28 the mark, each byte the same so that bytes and words order alike.
constexpr uint32_t kBound = 0x10101010;

std::vector<int32_t> DeleteRequest(std::vector<int32_t> b, const std::vector<int32_t>& listed) {
  for (int32_t i = 25; i < 29; ++i) b[i] = static_cast<int32_t>(kBound);
  b[29] = static_cast<int32_t>(listed.size());
  std::copy(listed.begin(), listed.end(), b.begin() + 30);
  return b;
}

// Transactions of records on three objects, two of them listed, over many
// data pages; some carry marks below the bound and, with `stop`, one at it.
TEST_F(SetRequestTest, DeleteRecordsOfListedObjectsOnEveryDatabank) {
  MakeShadowedSet();
  const std::vector<int32_t> listed = {100, 300};
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop);
    std::vector<int32_t> drop = Request(first_);
    DKEXE1(23, drop.data());
    ASSERT_EQ(drop[SETRQ_RC], 0);
    std::mt19937 rng(stop ? 7 : 3);
    std::vector<std::vector<int32_t>> model;
    for (int32_t number = 1; number <= 40; ++number) {
      const int32_t changes = 1 + static_cast<int32_t>(rng() % 4);
      for (int32_t k = 0; k < changes; ++k) {
        std::vector<int32_t> r(9 + rng() % 400, number);
        const int32_t kinds[] = {1, 2, 4, 15};
        r[0] = kinds[rng() % 4];
        r[2] = 100 * (1 + static_cast<int32_t>(rng() % 3));
        r[3] = 0;
        uint32_t mark = 0x01010101u * (rng() % 16);  // below the bound
        if (stop && number == 30 && k == 0) r[0] = 15, r[2] = 100, mark = kBound;
        for (int32_t i = 5; i < 9; ++i) r[i] = static_cast<int32_t>(mark);
        model.push_back(r);
      }
      model.push_back({21, number, 0});
    }
    for (const auto& r : model) ASSERT_EQ(AppendRequest(first_, r), 0);
    const std::vector<std::vector<int32_t>> kept = Kept(model, listed, kBound);
    ASSERT_LT(kept.size(), model.size());
    std::vector<int32_t> b = DeleteRequest(Request(first_), listed);
    DKEXE1(19, b.data());
    EXPECT_EQ(b[SETRQ_RC], static_cast<int32_t>(model.size() - kept.size()));
    EXPECT_EQ(b[SETRQ_TABLE], first_);
    EXPECT_EQ(ReadAll(first_, true, 16384), kept);
    EXPECT_EQ(ReadAll(second_, false, 16384), kept);
    EXPECT_EQ(BusyCount(databank_), 1);
    EXPECT_EQ(BusyCount(shadow_), 1);
    // Nothing more to remove: the status is 0.
    b = DeleteRequest(Request(first_), listed);
    DKEXE1(19, b.data());
    EXPECT_EQ(b[SETRQ_RC], 0);
    EXPECT_EQ(ReadAll(second_, true, 16384), kept);
  }
}

// The status: the last negative status of a databank; without one the first
// status that is not 0, else 0.
TEST_F(SetRequestTest, DeleteRecordsStatusOverTheDatabanks) {
  shadow_ = Create("shadow", 200, 6);
  area_[databank_ + DBE_DEPENDENT] = shadow_;
  // What a databank's set holds besides a kept record: a number of records
  // of the listed object, and -46 an insert into a table of large objects
  // (whose directory is not open here) or -65 a damaged data page.
  struct Case {
    int32_t first, shadow, status;
  };
  const Case cases[] = {
      {0, 0, 0},     {2, 3, 2},     {0, 3, 3},       {2, 0, 2},       {2, -46, -46},
      {-46, 3, -46}, {-65, 0, -65}, {-46, -65, -65}, {-65, -46, -46},
  };
  int32_t tbl = kTbl + 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << " " << c.shadow);
    const int32_t t = MakeSet(16384, 2048, tbl++);
    const int32_t pair[2] = {t, area_[t + TBE_NEXT]};
    const int32_t what[2] = {c.first, c.shadow};
    for (int32_t d = 0; d < 2; ++d) {
      ASSERT_EQ(Append(pair[d], {2, 1, 200, 0, 0, 0, 0, 0, 0}).rc, 0);
      for (int32_t i = 0; i < what[d]; ++i)
        ASSERT_EQ(Append(pair[d], {2, 1, 100, 0, 0, 0, 0, 0, 0}).rc, 0);
      if (what[d] == -46) {
        std::vector<int32_t> insert(14, 0);
        insert[0] = 1, insert[1] = 1, insert[2] = 100, insert[3] = 6;
        ASSERT_EQ(Append(pair[d], insert).rc, 0);
      }
      if (what[d] == -65) {
        std::vector<int32_t> read = Block(pair[d], 16384);
        read[SETRQ_RC] = 2;
        ASSERT_EQ(DKGXN0(read), 0);
        const int32_t buffer =
            Get(area_[pair[d] + TBE_DATABANK], read[SETRQ_PAGE], 16384, GET_UPDATE);
        ASSERT_GT(buffer, 0);
        PageWords(buffer)[SETDATA_MARK] = 0;
        DKPUT0(PUT_CHANGED, buffer);
      }
    }
    std::vector<int32_t> b = DeleteRequest(Request(t), {100});
    EXPECT_EQ(DKDDS1(b), c.status);
    EXPECT_EQ(b[SETRQ_RC], c.status);
    EXPECT_EQ(b[SETRQ_TABLE], t);
    // A damaged page disables its databank; the next case uses it again.
    area_[databank_ + DBE_ERROR] = area_[shadow_ + DBE_ERROR] = 0;
  }
}

// The count of identifiers and the identifiers must lie in the block; a
// request that fails the check changes nothing.
TEST_F(SetRequestTest, DeleteRecordsChecksTheIdentifiersAgainstTheBlock) {
  const int32_t t = MakeSet(16384);
  const std::vector<int32_t> record = {2, 1, 100, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(AppendRequest(t, record), 0);
  const int32_t words = SetRequestBlockWords();
  struct Case {
    int32_t block_words, count, status;
  };
  const Case cases[] = {
      {words, -1, -43},
      {words, INT32_MIN, -43},
      {words, words - 29, -43},
      {words, INT32_MAX, -43},
      {31, 2, -43},
      {29, 0, -43},
      {20, 0, -43},
      {30, 0, 0},
      {31, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.block_words << " " << c.count);
    std::vector<int32_t> b = Request(t);
    b[25] = 0;
    if (c.block_words > 29) b[29] = c.count;
    b[30] = 999;  // no record of this object
    b.resize(c.block_words);
    EXPECT_EQ(DKDDS1(b), c.status);
    EXPECT_EQ(b[SETRQ_RC], c.status);
    EXPECT_EQ(ReadAll(t, true, 16384), std::vector<std::vector<int32_t>>{record});
  }
  // Through the function code, the block is as long as a set request's.
  std::vector<int32_t> b = Request(t);
  b[29] = words - 29;
  DKEXE1(19, b.data());
  EXPECT_EQ(b[SETRQ_RC], -43);
  b = DeleteRequest(Request(t), {100});
  DKEXE1(19, b.data());
  EXPECT_EQ(b[SETRQ_RC], 1);
  EXPECT_TRUE(ReadAll(t, true, 16384).empty());
}

}  // namespace
