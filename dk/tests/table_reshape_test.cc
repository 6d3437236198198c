// Reshaping tables into a new record format against a model of the new
// records: bytes inserted (DKACT1), ranges removed and records numbered
// (DKDCT1), an empty table, a table already in the new format, and bad
// shapes refused.
#include "dk/table_reshape.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "dk/tests/table_fixture.h"
#include "platform/packed_decimal.h"

namespace {

class ReshapeTest : public TableTest {
 protected:
  void Shape() override {
    TableTest::Shape();
    params_.pages[PG_16K] = 60;
  }
  std::vector<std::string> Fill(const Table& t, int n) {
    std::mt19937 rng(9);
    for (int i = 0; i < n; ++i) {
      std::string r = MakeRecord(std::to_string(100000 + rng() % 900000), t.key, t.length);
      for (int32_t j = t.key; j < t.length; ++j)
        r[static_cast<size_t>(j)] = static_cast<char>('a' + rng() % 26);
      Insert(t, r);
    }
    return ReadTree(t).records;
  }
  std::vector<int32_t> Block(const Table& t, int32_t new_key, int32_t new_length) {
    std::vector<int32_t> b(RS_WORDS + 8, 0);
    b[RQ_TYPE] = 1;
    b[RQ_TABLE] = t.entry;
    b[RQ_TBL] = t.tbl;
    b[RS_OLD_KEY] = t.key;
    b[RQ_RECORD_LENGTH] = t.length;
    b[RS_NEW_KEY] = new_key;
    b[RS_NEW_LENGTH] = new_length;
    return b;
  }
  Table Reopened(const Table& t, int32_t key, int32_t length) {
    return {t.entry, t.tbl, key, length};
  }
};

TEST_F(ReshapeTest, InsertedBytesLandInEveryRecord) {
  Table t = CreateTable(90, 8, 100);
  const auto before = Fill(t, 1500);
  ASSERT_GE(Levels(t), 2);
  auto b = Block(t, 8, 104);
  b[RS_OFFSET] = 30;
  std::memcpy(b.data() + RS_BYTES, "WXYZ", 4);
  DKEXE1(3, b.data());
  ASSERT_EQ(b[RQ_STATUS], 0);
  std::vector<std::string> expected;
  for (const std::string& r : before) expected.push_back(r.substr(0, 30) + "WXYZ" + r.substr(30));
  Table u = Reopened(t, 8, 104);
  EXPECT_EQ(ReadTree(u).records, expected);
  EXPECT_EQ(RootEntry(u)[3], 104);
  // The reshaped table takes records of the new length.
  EXPECT_EQ(Insert(u, MakeRecord("zzz", 8, 104)), 0);
  EXPECT_EQ(Insert(t, MakeRecord("zzy", 8, 100)), -67);
}

TEST_F(ReshapeTest, AReshapeIntoAKindWithCompressionCompressesTheRecords) {
  Table t = CreateTable(95, 8, 100);
  const auto before = Fill(t, 600);
  auto b = Block(t, 8, 110);
  b[RQ_TYPE] = 11;  // kind 1 with compression
  b[RS_OFFSET] = 100;
  std::memcpy(b.data() + RS_BYTES, "0123456789", 10);
  DKEXE1(3, b.data());
  ASSERT_EQ(b[RQ_STATUS], 0);
  std::vector<std::string> expected;
  for (const std::string& r : before) expected.push_back(r + "0123456789");
  Table u = Reopened(t, 8, 110);
  EXPECT_EQ(RootEntry(u)[9], 1);
  EXPECT_EQ(ReadTree(u).records, expected);
  EXPECT_EQ(Insert(u, MakeRecord("zzz", 8, 110)), 0);
}

TEST_F(ReshapeTest, RemovedRangesAndRunningNumbersGiveTheModelsRecords) {
  Table t = CreateTable(91, 8, 100);
  const auto before = Fill(t, 800);
  auto b = Block(t, 12, 12 + 100 - 10 - 5);
  b[RS_NUMBER] = 1;
  b[RS_FIRST_OFFSET] = 20;
  b[RS_FIRST_LENGTH] = 10;
  b[RS_SECOND_OFFSET] = 90;
  b[RS_SECOND_LENGTH] = 5;
  DKEXE1(18, b.data());
  ASSERT_EQ(b[RQ_STATUS], 0);
  std::vector<std::string> expected;
  int64_t n = 0;
  for (const std::string& r : before) {
    std::string key(12, '\0');
    value_descriptor v{0, 20, 0, 0};
    ++n;
    int64_to_decimal(ByteSpan(reinterpret_cast<uint8_t*>(key.data()), 12), v,
                     static_cast<int32_t>(n >> 32), static_cast<int32_t>(n));
    expected.push_back(key + r.substr(0, 20) + r.substr(30, 60) + r.substr(95));
  }
  EXPECT_EQ(ReadTree(Reopened(t, 12, 97)).records, expected);
}

// New keys that collide would leave one record of each key: the reshape
// is refused and the table keeps every record in its old form, and its
// entry the kind and method it had (the load ran under the new ones).
TEST_F(ReshapeTest, ANewKeyThatCollidesKeepsTheOldTable) {
  Table t = CreateTable(92, 8, 100);
  const auto before = Fill(t, 800);
  const auto root = RootEntry(t);
  const int32_t* a = Bufferpool();
  const int32_t kind = a[t.entry + TBE_KIND], method = a[t.entry + TBE_METHOD];
  auto b = Block(t, 4, 96);
  b[RQ_TYPE] = 12;  // kind 2 with compression
  b[RS_FIRST_OFFSET] = 0;
  b[RS_FIRST_LENGTH] = 4;
  DKEXE1(18, b.data());
  EXPECT_EQ(b[RQ_STATUS], -55);
  EXPECT_EQ(a[t.entry + TBE_KIND], kind);
  EXPECT_EQ(a[t.entry + TBE_METHOD], method);
  EXPECT_EQ(RootEntry(t), root);
  EXPECT_EQ(ReadTree(t).records, before);
  EXPECT_EQ(Insert(t, MakeRecord("zzy", 8, 100)), 0);
}

TEST_F(ReshapeTest, EmptyTablesAndTablesAlreadyReshaped) {
  Table e = CreateTable(92, 8, 100);
  auto b = Block(e, 8, 120);
  DKEXE1(3, b.data());
  ASSERT_EQ(b[RQ_STATUS], 0);
  EXPECT_EQ(RootEntry(e)[3], 120);
  EXPECT_EQ(Levels(e), 0);
  // Again, in mode 0: the root entry has the new length already.
  b = Block(e, 8, 120);
  DKEXE1(3, b.data());
  EXPECT_EQ(b[RQ_STATUS], 0);
  b = Block(e, 8, 120);
  b[RQ_STATUS] = -2;
  DKEXE1(3, b.data());
  EXPECT_EQ(b[RQ_STATUS], -67);
}

TEST_F(ReshapeTest, AReshapeFreesTheTablesSecondEntry) {
  Table t = CreateTable(96, 8, 100);
  Fill(t, 20);
  Table second = CreateTable(-1, 8, 100);  // an anonymous table the first owns
  Bufferpool()[t.entry + TBE_SECOND] = second.entry;
  auto b = Block(t, 8, 100);
  b[RQ_TYPE] = 1;
  DKEXE1(3, b.data());
  ASSERT_EQ(b[RQ_STATUS], 0);
  EXPECT_EQ(Bufferpool()[t.entry + TBE_SECOND], 0);
  EXPECT_EQ(Bufferpool()[second.entry + TBE_TBL], 0);  // back on the free list
}

TEST_F(ReshapeTest, BadShapesAreRefused) {
  Table t = CreateTable(93, 8, 100);
  Fill(t, 50);
  const auto before = ReadTree(t).records;
  struct Case {
    const char* what;
    int code;
    std::function<void(std::vector<int32_t>&)> change;
    int32_t status;
  };
  const Case cases[] = {
      {"shorter record by an insert", 3, [](auto& b) { b[RS_NEW_LENGTH] = 90; }, -43},
      {"range past the record", 18,
       [](auto& b) { b[RS_NEW_LENGTH] = 90, b[RS_FIRST_OFFSET] = 95, b[RS_FIRST_LENGTH] = 10; },
       -43},
      {"length that is not what the ranges leave", 18,
       [](auto& b) { b[RS_NEW_LENGTH] = 91, b[RS_FIRST_OFFSET] = 50, b[RS_FIRST_LENGTH] = 10; },
       -43},
      {"overlapping ranges", 18,
       [](auto& b) {
         b[RS_NEW_LENGTH] = 85, b[RS_FIRST_OFFSET] = 50, b[RS_FIRST_LENGTH] = 10;
         b[RS_SECOND_OFFSET] = 55, b[RS_SECOND_LENGTH] = 5;
       },
       -43},
      {"key longer than the record", 3, [](auto& b) { b[RS_NEW_KEY] = 200; }, -67},
      {"page size not configured", 3, [](auto& b) { b[RS_DATA_PAGE_SIZE] = 4096; }, -76},
      {"table entry of another TBL", 3, [](auto& b) { b[RQ_TBL] = 94; }, -46},
  };
  for (const Case& c : cases) {
    auto b = Block(t, 8, 100);
    b[RQ_STATUS] = -2;
    c.change(b);
    DKEXE1(c.code, b.data());
    EXPECT_EQ(b[RQ_STATUS], c.status) << c.what;
  }
  EXPECT_EQ(ReadTree(t).records, before);
}

}  // namespace
