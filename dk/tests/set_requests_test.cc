// Set requests: the walk over a set's databank and its shadow, the function
// codes that reach them, the busy mark, and the in-place update of a record.
#include "dk/set_requests.h"

#include <gtest/gtest.h>

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
