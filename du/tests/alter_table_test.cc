// ALTER TABLE: the step lists the builders write, a full or broken work
// block left unchanged, rows converted along the steps compared with rows
// built directly in the new layout, and the checks of a new key or foreign
// key over the rows a table holds.
#include "du/alter_table.h"

#include <set>

#include "du/record_operations.h"
#include "du/tests/run_model.h"
#include "du/tests/table_fixture.h"

namespace {

// Old rows: key 8 bytes, a CHAR(4) column (indicator and 4 bytes) at 8, an
// 8-byte column at 13, 3 spare bytes: 24 bytes.
constexpr int32_t kOld = 70, kNew = 71, kOldKey = 8, kOldRec = 24;

std::vector<int32_t> Block(int32_t capacity, int32_t newkey, int32_t newrec) {
  std::vector<int32_t> b(static_cast<size_t>(std::max(capacity, 44)) + 20, 0);
  b[ALR_OLD_KEYLEN] = kOldKey;
  b[ALR_OLD_RECLEN] = kOldRec;
  b[ALR_CAPACITY] = capacity;
  b[ALR_NEW_KEYLEN] = newkey;
  b[ALR_NEW_RECLEN] = newrec;
  return b;
}

// The steps as {kind, offset, length} triples.
std::vector<std::vector<int32_t>> Steps(const std::vector<int32_t>& b) {
  std::vector<std::vector<int32_t>> steps;
  for (int32_t p = ALR_STEPS; b[static_cast<size_t>(p)] != -1; p += ALR_STEP_WORDS)
    steps.push_back(
        {b[static_cast<size_t>(p)], b[static_cast<size_t>(p + 1)], b[static_cast<size_t>(p + 2)]});
  return steps;
}

using Steps3 = std::vector<std::vector<int32_t>>;

TEST(AlterSteps, EveryBuilderOfAFullBlockAnswersOneAndChangesNothing) {
  const int32_t seq[7] = {1, 0, 0, 1, 1, 100, 0};
  const std::vector<std::function<void(int32_t*, std::span<int32_t>)>> builders = {
      [](int32_t* s, std::span<int32_t> b) { DUALRInitWork1(s, b); },
      [](int32_t* s, std::span<int32_t> b) { DUALRAddKeyParts1(s, b, 8, 5, 0, 0); },
      [](int32_t* s, std::span<int32_t> b) { DUALRInitWork2(s, b); },
      [&](int32_t* s, std::span<int32_t> b) {
        DUALRAddGenColumn1(s, b, 1, 12, 2, 20, 0, std::span<const int32_t, 7>(seq));
      },
      [](int32_t* s, std::span<int32_t> b) {
        DUALRAlterColumn1(s, b, 8, 5, 0, 1, 0, 0, 9, 1, 0, 0);
      },
      [](int32_t* s, std::span<int32_t> b) { DUALRAddColumn1(s, b); },
      [](int32_t* s, std::span<int32_t> b) { DUALRAddPKColumn1(s, b); },
      [](int32_t* s, std::span<int32_t> b) { DUALRDropColumn1(s, b, 13, 8, 0, 0, 1); },
      [](int32_t* s, std::span<int32_t> b) { DUALRInitWork11(s, b); },
  };
  for (size_t k = 0; k < builders.size(); ++k) {
    std::vector<int32_t> b = Block(43, 8, 24);
    const std::vector<int32_t> before = b;
    int32_t status = -5;
    builders[k](&status, b);
    EXPECT_EQ(status, 1) << k;
    EXPECT_EQ(b, before) << k;
  }
}

TEST(AlterSteps, BuildersWriteTheirSteps) {
  std::vector<int32_t> b = Block(200, 5, 24);
  int32_t status = -5;
  DUALRInitWork1(&status, b);
  ASSERT_EQ(status, 0);
  DUALRAddKeyParts1(&status, b, 8, 2, 0, 0);
  ASSERT_EQ(status, 0);
  DUALRAddKeyParts1(&status, b, 10, 3, 0, 0);  // adjacent: the same step grows
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Steps(b), (Steps3{{7, 8, 5}, {10, 13, 11}}));
  EXPECT_EQ(b[ALR_IN_USE], ALR_STEPS + 2 * ALR_STEP_WORDS + 1);

  b = Block(200, 8, 19);
  DUALRDropColumn1(&status, b, 8, 5, 0, 0, 1);  // at the start of the record part
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Steps(b), (Steps3{{10, 0, 8}, {10, 13, 11}}));
  b = Block(200, 8, 16);
  DUALRDropColumn1(&status, b, 16, 8, 0, 0, 1);  // at the end
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Steps(b), (Steps3{{10, 0, 16}}));
  b = Block(200, 12, 28);
  DUALRDropColumn1(&status, b, 0, 8, 0, 0, 1);  // a key column: a generated key
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Steps(b), (Steps3{{1, 0, 12}, {10, 8, 16}}));
  EXPECT_EQ(b[ALR_KIND], 10);
  b = Block(200, 8, 16);
  DUALRDropColumn1(&status, b, 13, 8, 0, 0, 31);
  EXPECT_EQ(b[ALR_KIND], 12);

  b = Block(200, 8, 30);
  b[ALR_ADD_POSITION] = 13;
  DUALRAddColumn1(&status, b);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Steps(b), (Steps3{{10, 0, 13}, {3, 13, 6}, {10, 13, 11}}));
}

TEST(AlterSteps, BrokenBlocksAreRefused) {
  std::vector<int32_t> b = Block(200, 5, 24);
  int32_t status = 0;
  DUALRInitWork1(&status, b);
  ASSERT_EQ(status, 0);
  std::vector<int32_t> broken = b;
  broken[ALR_IN_USE] = 201;  // beyond the capacity
  DUALRAddKeyParts1(&status, broken, 8, 5, 0, 0);
  EXPECT_EQ(status, DU_BAD_ARGUMENT);
  broken = b;
  broken[static_cast<size_t>(broken[ALR_IN_USE] - 1)] = 0;  // no end marker
  DUALRAddKeyParts1(&status, broken, 8, 5, 0, 0);
  EXPECT_EQ(status, DU_BAD_ARGUMENT);
  broken = b;
  broken[ALR_CAPACITY] = static_cast<int32_t>(broken.size()) + 1;  // beyond the block
  DUALRAddKeyParts1(&status, broken, 8, 5, 0, 0);
  EXPECT_EQ(status, DU_BAD_ARGUMENT);
  // A range no copy step holds.
  DUALRAddKeyParts1(&status, b, 30, 5, 0, 0);
  EXPECT_EQ(status, DU_BAD_ARGUMENT);
  // Key parts on a block of another kind.
  std::vector<int32_t> other = Block(200, 8, 24);
  DUALRInitWork2(&status, other);
  DUALRAddKeyParts1(&status, other, 8, 5, 0, 0);
  EXPECT_EQ(status, DU_BAD_ARGUMENT);
}

// A column range of no bytes, or of a negative length, names no column:
// the builders that drop or convert one refuse it and leave the block as
// it was (a negative length made steps that ran backwards over the row).
TEST(AlterSteps, ColumnRangesWithoutBytesAreRefused) {
  for (int32_t length : {0, -4}) {
    SCOPED_TRACE(length);
    std::vector<int32_t> b = Block(200, 8, 24 - 4);
    const std::vector<int32_t> before = b;
    int32_t status = 0;
    DUALRDropColumn1(&status, b, 13, length, 0, 0, 1);
    EXPECT_EQ(status, DU_BAD_ARGUMENT);
    EXPECT_EQ(b, before);
    DUALRDropColumn1(&status, b, 13, 8, 9, length, 1);  // no second range: fine
    EXPECT_EQ(status, 0);
    b = before;
    DUALRAlterColumn1(&status, b, 13, length, 0, 1, 8, 0, 8, 1, 8, 0);
    EXPECT_EQ(status, DU_BAD_ARGUMENT);
    EXPECT_EQ(b, before);
  }
}

class AlterRowsTest : public ModelTableTest {
 protected:
  AlterRowsTest() {
    upper_.descriptions[kOld] = Description(kLid, kOldKey, kOldRec, 0, {}, {});
    RunModel::Current() = &runs_;
    DUInstallKernelDispatcher(&RunModel::Dispatch);
    W(dcb_ + DCB_TRANS_MODE) = 1;
    old_ = Record(kOld, 3, kOldKey, kOldRec);
    EXPECT_EQ(Open(old_), 0);
    DSGetMem(base_, &work_, WRK_BYTES + 32768);
  }
  ~AlterRowsTest() override { RunModel::Current() = nullptr; }

  static std::string OldRow(uint32_t key, const std::string& a, uint64_t b) {
    std::string row(kOldRec, '\0');
    for (int i = 0; i < 4; ++i) row[size_t(4 + i)] = char(key >> (24 - 8 * i));
    row[8] = a.empty() ? char(255) : 0;
    for (size_t i = 0; i < 4 && i < a.size(); ++i) row[9 + i] = a[i];
    for (int i = 0; i < 8; ++i) row[size_t(13 + i)] = char(b >> (56 - 8 * i));
    row[21] = 'x';
    return row;
  }
  void InsertOld(const std::string& row) {
    std::memcpy(old_.data() + DUREC_RECORD, row.data(), row.size());
    DUInsertRow(base_, old_.data(), usr_);
    ASSERT_EQ(old_[DUREC_STATUS], 0);
  }
  std::vector<int32_t> NewTable(int32_t key, int32_t rec) {
    upper_.descriptions[kNew] = Description(kLid, key, rec, 0, {}, {});
    std::vector<int32_t> r = Record(kNew, 3, key, rec);
    EXPECT_EQ(Open(r), 0);
    return r;
  }
  std::vector<std::string> Stored(const std::vector<int32_t>& r) {
    std::vector<std::string> rows;
    for (const auto& [key, row] : kernel_.rows[r[DUREC_TBL]]) rows.push_back(row);
    return rows;
  }

  RunModel runs_;
  std::vector<int32_t> old_;
  int32_t work_ = 0;
};

TEST_F(AlterRowsTest, ConvertedRowsEqualRowsBuiltInTheNewLayout) {
  const std::vector<std::string> old_rows = {OldRow(1, "ab", 7), OldRow(2, "wxyz", 8),
                                             OldRow(3, "", 9)};
  for (const std::string& r : old_rows) InsertOld(r);
  struct Case {
    const char* what;
    int32_t newkey, newrec;
    std::function<void(std::vector<int32_t>&)> build;
    std::function<std::string(const std::string&)> expect;
  };
  const std::string fill = "DEFLT!";
  const Case cases[] = {
      {"column added with a default", 8, 30,
       [](std::vector<int32_t>& b) {
         b[ALR_ADD_POSITION] = 13;
         int32_t st = 0;
         DUALRAddColumn1(&st, b);
         ASSERT_EQ(st, 0);
       },
       [&](const std::string& o) { return o.substr(0, 13) + fill + o.substr(13); }},
      {"column dropped", 8, 16,
       [](std::vector<int32_t>& b) {
         int32_t st = 0;
         DUALRDropColumn1(&st, b, 13, 8, 0, 0, 2);
         ASSERT_EQ(st, 0);
       },
       [](const std::string& o) { return o.substr(0, 13) + o.substr(21); }},
      {"column retyped", 8, 28,
       [](std::vector<int32_t>& b) {
         int32_t st = 0;
         DUALRAlterColumn1(&st, b, 8, 5, 0, 1, 0, 0, 9, 1, 0, 0);
         ASSERT_EQ(st, 0);
       },
       [](const std::string& o) {
         std::string c = o.substr(8, 5);
         if (uint8_t(c[0]) == 255)
           c = char(255) +
               std::string(8, '\0');  // a null: its indicator, nothing of the row before
         else
           c += "    ";
         return o.substr(0, 8) + c + o.substr(13);
       }},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> fresh = NewTable(c.newkey, c.newrec);
    std::vector<int32_t> b = Block(200, c.newkey, c.newrec);
    c.build(b);
    std::string image(size_t(c.newrec), '\0');
    if (b[ALR_KIND] == 9) image.replace(13, fill.size(), fill);
    const ConstByteSpan image_span(reinterpret_cast<const uint8_t*>(image.data()), image.size());
    ASSERT_EQ(DUALRConvertRows(base_, usr_, work_, b, old_.data(), fresh.data(), image_span), 0)
        << c.what;
    std::vector<std::string> expected;
    for (const std::string& o : old_rows) expected.push_back(c.expect(o));
    EXPECT_EQ(Stored(fresh), expected) << c.what;
    kernel_.rows.erase(fresh[DUREC_TBL]);
    EXPECT_EQ(Close(fresh), 0);
  }
}

TEST_F(AlterRowsTest, ADroppedKeyColumnGivesEachRowAFreshKey) {
  for (uint32_t k = 1; k <= 5; ++k) InsertOld(OldRow(k, "ab", k));
  std::vector<int32_t> fresh = NewTable(12, 28);
  std::vector<int32_t> b = Block(200, 12, 28);
  int32_t st = 0;
  DUALRDropColumn1(&st, b, 0, 8, 0, 0, 2);
  ASSERT_EQ(st, 0);
  ASSERT_EQ(Steps(b).front(), (std::vector<int32_t>{1, 0, 12}));
  const std::string image(28, '\0');
  ASSERT_EQ(DUALRConvertRows(base_, usr_, work_, b, old_.data(), fresh.data(),
                             ConstByteSpan(reinterpret_cast<const uint8_t*>(image.data()), 28)),
            0);
  const std::vector<std::string> rows = Stored(fresh);
  ASSERT_EQ(rows.size(), 5u);
  std::set<std::string> keys;
  for (size_t i = 0; i < rows.size(); ++i) {
    keys.insert(rows[i].substr(0, 12));
    EXPECT_EQ(rows[i].substr(12), OldRow(uint32_t(i + 1), "ab", i + 1).substr(8));
  }
  EXPECT_EQ(keys.size(), 5u);
}

TEST_F(AlterRowsTest, ANullInANewKeyColumnFailsTheConversion) {
  InsertOld(OldRow(1, "ab", 1));
  InsertOld(OldRow(2, "", 2));
  std::vector<int32_t> fresh = NewTable(5, 16);
  std::vector<int32_t> b = Block(200, 5, 16);
  int32_t st = 0;
  DUALRInitWork1(&st, b);
  DUALRAddKeyParts1(&st, b, 8, 5, 0, 0);
  ASSERT_EQ(st, 0);
  const std::string image(16, '\0');
  EXPECT_EQ(DUALRConvertRows(base_, usr_, work_, b, old_.data(), fresh.data(),
                             ConstByteSpan(reinterpret_cast<const uint8_t*>(image.data()), 16)),
            -10100);
}

TEST_F(AlterRowsTest, NewKeysAndForeignKeysAreCheckedOverTheRows) {
  InsertOld(OldRow(1, "ab", 10));
  InsertOld(OldRow(2, "cd", 20));
  std::vector<int32_t> columns(12, 0);
  columns[8] = 1;
  columns[9] = 8;
  columns[10] = 5;
  EXPECT_EQ(DUALRCheckUnique(base_, usr_, work_, old_.data(), columns), 0);
  InsertOld(OldRow(3, "ab", 30));
  EXPECT_EQ(DUALRCheckUnique(base_, usr_, work_, old_.data(), columns), -10110);
  columns[11] = 7;  // a bad flag
  EXPECT_EQ(DUALRCheckUnique(base_, usr_, work_, old_.data(), columns), DU_BAD_COLUMN_LIST);
  columns[11] = 0;
  columns[10] = 100;  // beyond the row
  EXPECT_EQ(DUALRCheckUnique(base_, usr_, work_, old_.data(), columns), DU_BAD_COLUMN_LIST);
  // The 8-byte column at 13 references the parent's key.
  std::vector<int32_t> parent = Record(kParent, 3, 8, 40);
  ASSERT_EQ(Open(parent), 0);
  for (uint64_t k : {10u, 20u, 30u}) {
    std::memset(parent.data() + DUREC_RECORD, 0, 40);
    uint8_t* row = reinterpret_cast<uint8_t*>(parent.data() + DUREC_RECORD);
    for (int i = 0; i < 8; ++i) row[i] = uint8_t(k >> (56 - 8 * i));
    std::memset(row + 8, 255, 8);
    DUInsertRow(base_, parent.data(), usr_);
    ASSERT_EQ(parent[DUREC_STATUS], 0);
  }
  std::vector<int32_t> fk(12, 0);
  fk[8] = 1;
  fk[9] = 13;
  fk[10] = 8;
  EXPECT_EQ(DUALRCheckFKRows(base_, usr_, work_, old_.data(), parent.data(), fk), 0);
  InsertOld(OldRow(4, "zz", 40));
  EXPECT_EQ(DUALRCheckFKRows(base_, usr_, work_, old_.data(), parent.data(), fk), -10105);
}

TEST_F(AlterRowsTest, TheAlterStructureNeverPassesFourThousandWords) {
  InsertOld(OldRow(1, "ab", 1));
  std::vector<int32_t> fresh = NewTable(8, 16);
  std::vector<int32_t> b = Block(5000, 8, 16);
  int32_t st = 0;
  DUALRDropColumn1(&st, b, 13, 8, 0, 0, 2);
  ASSERT_EQ(st, 0);
  std::vector<int32_t> structure(ALS_MAX_WORDS + 10, -7);
  const std::string image(16, '\0');
  const ConstByteSpan image_span(reinterpret_cast<const uint8_t*>(image.data()), 16);
  int32_t length = 0;
  old_[DUREC_STATUS] = 24;
  std::vector<int32_t> big = b;
  big[ALR_IN_USE] = ALS_MAX_WORDS + 1;  // a list the structure cannot take
  EXPECT_EQ(
      DULPO1(base_, usr_, work_, old_.data(), structure, big, image_span, fresh.data(), &length),
      DU_BAD_ARGUMENT);
  EXPECT_EQ(old_[DUREC_STATUS], 24);
  EXPECT_TRUE(log_.Has("Too large alter structure encountered in DULPO1"));
  EXPECT_EQ(structure, std::vector<int32_t>(ALS_MAX_WORDS + 10, -7));
  // The structure of a real list: header, the steps, sent to the kernel.
  kernel_.fail.clear();
  const int32_t alters = kernel_.Sent(4);
  // The model kernel does not know DKALR1: its answer comes back mapped.
  EXPECT_EQ(
      DULPO1(base_, usr_, work_, old_.data(), structure, b, image_span, fresh.data(), &length),
      -43 - 16140);
  EXPECT_EQ(old_[DUREC_STATUS], 24);
  EXPECT_EQ(kernel_.Sent(4), alters + 1);
  EXPECT_EQ(length, ALS_HEADER + b[ALR_IN_USE] - ALR_STEPS);
  EXPECT_EQ(structure[ALS_LENGTH], length);
  EXPECT_EQ(structure[ALS_HEADER_WORDS], 30);
  EXPECT_EQ(structure[ALS_ENTRY_WORDS], 14);
}

// A step list without its end, or with more words in use than its capacity
// or than whole steps, is refused before the kernel alters the table: the
// conversion would refuse it afterwards, with the table already altered.
TEST_F(AlterRowsTest, ABrokenListIsRefusedBeforeTheKernelAlters) {
  InsertOld(OldRow(1, "ab", 1));
  std::vector<int32_t> fresh = NewTable(8, 16);
  std::vector<int32_t> b = Block(200, 8, 16);
  int32_t st = 0;
  DUALRDropColumn1(&st, b, 13, 8, 0, 0, 2);
  ASSERT_EQ(st, 0);
  std::vector<int32_t> structure(ALS_MAX_WORDS, 0);
  const std::string image(16, '\0');
  const ConstByteSpan image_span(reinterpret_cast<const uint8_t*>(image.data()), 16);
  std::vector<std::vector<int32_t>> broken(3, b);
  broken[0][static_cast<size_t>(b[ALR_IN_USE] - 1)] = 0;  // no end
  broken[1][ALR_CAPACITY] = b[ALR_IN_USE] - 1;           // in use beyond the capacity
  broken[2][ALR_IN_USE] = b[ALR_IN_USE] - 1;             // not whole steps
  for (std::vector<int32_t>& d : broken) {
    const int32_t alters = kernel_.Sent(4);
    int32_t length = 0;
    old_[DUREC_STATUS] = 24;
    EXPECT_EQ(
        DULPO1(base_, usr_, work_, old_.data(), structure, d, image_span, fresh.data(), &length),
        DU_BAD_ARGUMENT);
    EXPECT_EQ(kernel_.Sent(4), alters);
    EXPECT_EQ(old_[DUREC_STATUS], 24);
  }
}

}  // namespace
