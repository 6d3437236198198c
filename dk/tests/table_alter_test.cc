// Rewriting tables through column conversions (DKALR1) against a model of
// the new records: fields copied, converted and defaulted, generated keys,
// in place and into a second table entry, refused requests, and a failure
// part way that leaves the old tree whole.
#include "dk/table_alter.h"

#include <gtest/gtest.h>

#include <functional>

#include "dk/control_words.h"
#include "dk/tests/table_fixture.h"
#include "platform/packed_decimal.h"
#include "platform/record_conversion.h"

namespace {

constexpr int32_t kOldKey = 8, kOldLength = 20;
// Old record: key (8), CHAR(5) with its indicator at 8 (6), payload at 14 (6).
std::string OldRecord(int i, bool null_text = false) {
  char key[16];
  std::snprintf(key, sizeof key, "k%07d", i);
  std::string r(key, 8);
  r += null_text ? std::string("\xFF\0\0\0\0\0", 6)
                 : std::string(1, '\0') + "t" + std::to_string(10000 + i).substr(1);
  r += "p" + std::to_string(10000 + i * 7 % 9999).substr(0, 5);
  r.resize(kOldLength, 'z');
  return r;
}

std::vector<int32_t> Step(int32_t kind, int32_t length, int32_t source_pos = 0) {
  std::vector<int32_t> e(LAY_ENTRY_WORDS, 0);
  e[LAY_KIND] = kind;
  e[LAY_LENGTH] = length;
  e[LAY_SOURCE_POS] = source_pos;
  return e;
}
// CHAR(5) at 8 into CHAR(8).
std::vector<int32_t> Widen() {
  std::vector<int32_t> e(LAY_ENTRY_WORDS, 0);
  e[LAY_KIND] = 4;
  e[LAY_SOURCE_POS] = 8;
  e[LAY_LENGTH] = 6;
  e[LAY_OLD_TYPE] = 1;
  e[LAY_OLD_PRECISION] = 5;
  e[LAY_NEW_LENGTH] = 9;
  e[LAY_NEW_TYPE] = 1;
  e[LAY_NEW_PRECISION] = 8;
  return e;
}

class AlterTest : public TableTest {
 protected:
  void Shape() override {
    TableTest::Shape();
    params_.pages[PG_16K] = 60;
  }
  std::vector<std::string> Fill(const Table& t, int n, int null_at = -1) {
    for (int i = 0; i < n; ++i) EXPECT_EQ(Insert(t, OldRecord(i, i == null_at)), 0);
    return ReadTree(t).records;
  }
  // A request with the field list `steps` and, when given, the new record's image.
  std::vector<int32_t> Request(const Table& t, const std::vector<std::vector<int32_t>>& steps,
                               int32_t new_key, int32_t new_length, const std::string& image = "") {
    std::vector<int32_t> b(ALR_HEADER, 0);
    b[RQ_TABLE] = t.entry;
    b[RQ_TBL] = t.tbl;
    b[RQ_KEY_LENGTH] = t.key;
    b[RQ_RECORD_LENGTH] = t.length;
    b[ALR_CONVERSION] = image.empty() ? 0 : kAlterCopyImage;
    b[ALR_HEADER_WORDS] = ALR_HEADER;
    b[ALR_STEP_WORDS] = LAY_ENTRY_WORDS;
    b[ALR_TYPE] = 1;
    b[ALR_NEW_KEY] = new_key;
    b[ALR_NEW_LENGTH] = new_length;
    for (const auto& s : steps) b.insert(b.end(), s.begin(), s.end());
    b.push_back(-1);
    if (!image.empty()) {
      b[ALR_IMAGE] = static_cast<int32_t>(b.size());
      b.resize(b.size() + (image.size() + 3) / 4, 0);
      std::memcpy(b.data() + b[ALR_IMAGE], image.data(), image.size());
    }
    b[ALR_TOTAL_WORDS] = static_cast<int32_t>(b.size());
    return b;
  }
  // Key copied, text widened, a column defaulted from the image, payload copied.
  std::vector<int32_t> Widening(const Table& t) {
    std::string image(27, '\0');
    image.replace(17, 4, "DFLT");
    return Request(t, {Step(6, 8, 0), Widen(), Step(3, 4), Step(6, 6, 14)}, 8, 27, image);
  }
  int32_t FreeUnits() {
    int32_t b = Get(db_, 0, kUnitBytes, GET_SHARED);
    const int32_t free = PageWords(b)[BMP_FREE];
    DKPUT0(PUT_END_SHARED, b);
    return free;
  }
  static std::string Widened(const std::string& old) {
    return old.substr(0, 8) + old.substr(8, 6) + "   " + "DFLT" + old.substr(14, 6);
  }
};

TEST_F(AlterTest, InPlaceTheRecordsAreCopiedConvertedAndDefaulted) {
  Table t = CreateTable(80, kOldKey, kOldLength);
  const auto before = Fill(t, 1200);
  ASSERT_GE(Levels(t), 2);
  for (int32_t mode : {-1, -2}) {
    SCOPED_TRACE(mode);
    Table s = mode == -1 ? t : CreateTable(81, kOldKey, kOldLength);
    if (mode == -2) Fill(s, 1200);
    auto b = Widening(s);
    b[RQ_STATUS] = mode;
    // Mode -2 rewrites in place on a shadow databank only.
    int32_t* kind = Bufferpool() + Bufferpool()[s.entry + TBE_DATABANK] + DBE_KIND;
    const int32_t saved = *kind;
    if (mode == -2) *kind = DBE_KIND_SHADOW;
    DKEXE1(4, b.data());
    *kind = saved;
    ASSERT_EQ(b[RQ_STATUS], 0);
    std::vector<std::string> expected;
    for (const std::string& r : before) expected.push_back(Widened(r));
    Table u{s.entry, s.tbl, 8, 27};
    EXPECT_EQ(ReadTree(u).records, expected);
    EXPECT_EQ(RootEntry(u)[3], 27);
    EXPECT_EQ(Insert(u, MakeRecord("zzz", 8, 27)), 0);
    // Sent again (a restart repeating it): the table is in the new format already.
    b[RQ_STATUS] = -1;
    DKEXE1(4, b.data());
    EXPECT_EQ(b[RQ_STATUS], 0);
    EXPECT_EQ(ReadTree(u).records.size(), expected.size() + 1);
  }
}

TEST_F(AlterTest, IntoASecondTableWithGeneratedKeys) {
  Table s = CreateTable(82, kOldKey, kOldLength);
  const auto before = Fill(s, 700);
  const int32_t key = decimal_bytes(kGeneratedKeyDigits);
  Table t = CreateTable(83, key, key + kOldLength);
  auto b = Request(s, {Step(1, key), Step(6, kOldLength, 0)}, key, key + kOldLength);
  b[ALR_TARGET] = t.entry;
  b[ALR_TARGET_TBL] = t.tbl;
  DKEXE1(4, b.data());
  ASSERT_EQ(b[RQ_STATUS], 0);
  // An empty target starts at base 2, counter 0: the twenty digits
  // 0000000002 followed by the counter's ten.
  std::vector<std::string> expected;
  for (size_t i = 0; i < before.size(); ++i) {
    std::string k(static_cast<size_t>(key), '\0');
    const int64_t v = 2 * int64_t{10000000000} + static_cast<int64_t>(i);
    ASSERT_EQ(int64_to_decimal(ByteSpan(reinterpret_cast<uint8_t*>(k.data()), k.size()),
                               value_descriptor{0, kGeneratedKeyDigits, 0, 0},
                               static_cast<int32_t>(v >> 32), static_cast<int32_t>(v)),
              0);
    expected.push_back(k + before[i]);
  }
  EXPECT_EQ(ReadTree(Table{t.entry, t.tbl, key, key + kOldLength}).records, expected);
  EXPECT_EQ(ReadTree(s).records, before);  // the source stays as it was
}

// The table's own second entry is the natural target of a rewrite: it
// stays the table's second entry and receives the records.
TEST_F(AlterTest, IntoTheTablesOwnSecondEntry) {
  Table s = CreateTable(87, kOldKey, kOldLength);
  const auto before = Fill(s, 300);
  Table t = CreateTable(88, kOldKey, kOldLength);
  Bufferpool()[s.entry + TBE_SECOND] = t.entry;
  auto b = Request(s, {Step(6, kOldLength, 0)}, kOldKey, kOldLength);
  b[ALR_TARGET] = t.entry;
  b[ALR_TARGET_TBL] = t.tbl;
  DKEXE1(4, b.data());
  ASSERT_EQ(b[RQ_STATUS], 0);
  EXPECT_EQ(Bufferpool()[s.entry + TBE_SECOND], t.entry);
  EXPECT_EQ(ReadTree(t).records, before);
  EXPECT_EQ(ReadTree(s).records, before);
}

TEST_F(AlterTest, AFailurePartWayLeavesTheOldTreeWhole) {
  Table t = CreateTable(84, kOldKey, kOldLength);
  const auto before = Fill(t, 3000, 2600);
  const auto root = RootEntry(t);
  const int32_t free_before = FreeUnits();
  // Kind 7 copies a column that must not be null; record 2600's is, after the sort has written
  // runs.
  auto b = Request(t, {Step(6, 8, 0), Step(7, 6, 8), Step(6, 6, 14)}, 8, 20);
  b[RQ_STATUS] = -1;
  DKEXE1(4, b.data());
  EXPECT_EQ(b[RQ_STATUS], kConvertNull);
  EXPECT_EQ(RootEntry(t), root);
  EXPECT_EQ(ReadTree(t).records, before);
  EXPECT_EQ(FreeUnits(), free_before) << "the runs written before the failure are given back";
  EXPECT_EQ(Insert(t, OldRecord(5000)), 0);
}

// A new key shorter than the old one makes the records' keys collide: the
// rewrite is refused rather than keep one record of each key.
TEST_F(AlterTest, NewKeysThatCollideLeaveTheOldTreeWhole) {
  Table t = CreateTable(89, kOldKey, kOldLength);
  const auto before = Fill(t, 500);
  const auto root = RootEntry(t);
  auto b = Request(t, {Step(6, kOldLength, 0)}, 4, kOldLength);
  b[RQ_STATUS] = -1;
  DKEXE1(4, b.data());
  EXPECT_EQ(b[RQ_STATUS], -55);
  EXPECT_EQ(RootEntry(t), root);
  EXPECT_EQ(ReadTree(t).records, before);
}

TEST_F(AlterTest, BadRequestsAreRefused) {
  Table t = CreateTable(85, kOldKey, kOldLength);
  Table second = CreateTable(86, 8, 27);
  const auto before = Fill(t, 60);
  struct Case {
    const char* what;
    std::function<void(std::vector<int32_t>&)> change;
    int32_t status;
  };
  const Case cases[] = {
      {"table entry of another TBL", [](auto& b) { b[RQ_TBL] = 99; }, -46},
      {"second entry of another TBL", [](auto& b) { b[ALR_TARGET_TBL] = 99; }, -46},
      {"old length not the table's", [](auto& b) { b[RQ_RECORD_LENGTH] = 24; }, -67},
      {"key longer than the record", [](auto& b) { b[ALR_NEW_KEY] = 40; }, -67},
      {"page size not configured", [](auto& b) { b[ALR_DATA_PAGE_SIZE] = 4096; }, -76},
      {"index page size not configured", [](auto& b) { b[ALR_INDEX_PAGE_SIZE] = 8192; }, -76},
      {"field list outside the block", [](auto& b) { b[ALR_HEADER_WORDS] = 5000; }, -43},
      {"generated key longer than the new key",
       [](auto& b) {
         std::vector<int32_t> steps = Step(1, 8);
         std::copy(steps.begin(), steps.end(), b.begin() + ALR_HEADER);
       },
       -55},
  };
  for (const Case& c : cases) {
    auto b = Widening(t);
    b[ALR_TARGET] = second.entry;
    b[ALR_TARGET_TBL] = second.tbl;
    c.change(b);
    DKEXE1(4, b.data());
    EXPECT_EQ(b[RQ_STATUS], c.status) << c.what;
  }
  EXPECT_EQ(ReadTree(t).records, before);
  EXPECT_EQ(ReadTree(second).records.size(), 0u);
  // In mode -1 a table whose length is not the old one is taken as done.
  auto b = Widening(t);
  b[RQ_RECORD_LENGTH] = 24;
  b[RQ_STATUS] = -1;
  DKEXE1(4, b.data());
  EXPECT_EQ(b[RQ_STATUS], 0);
}

}  // namespace
