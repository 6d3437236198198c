// Copying a table into the shadow databanks of its databank (DKCPL1): into
// the given copy and into every dependent, the copies read back equal to the
// source; a chain with an error word copies nothing; bad requests refused.
#include "dk/shadow_copy.h"

#include <gtest/gtest.h>

#include <functional>

#include "dk/control_words.h"
#include "dk/table_cursor.h"
#include "dk/tests/table_fixture.h"
#include "platform/host_services.h"

namespace {

constexpr int32_t kKey = 8, kLength = 60;

// The databank (DID 5, SEQNO 3) with two shadows (SEQNO 4 and 6) and a
// table on all three; the rows go into the source's entry alone.
class ShadowCopyTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    first_ = Create("shadow1", 2000, 5, 4);
    second_ = Create("shadow2", 2000, 5, 6);
    source_ = CreateTable(120, kKey, kLength);
    const int32_t* a = Bufferpool();
    for (int32_t t = a[source_.entry + TBE_NEXT]; t > 0; t = a[t + TBE_NEXT])
      (a[t + TBE_DATABANK] == first_ ? copy1_ : copy2_) = Table{t, 120, kKey, kLength};
    ASSERT_NE(copy1_.entry, 0);
    ASSERT_NE(copy2_.entry, 0);
  }
  std::vector<std::string> Fill(const Table& t, int n, char fill) {
    for (int i = 0; i < n; ++i) {
      std::string r = MakeRecord("k" + std::to_string(100000 + i * 37 % 9973), kKey, kLength, fill);
      r[20] = static_cast<char>('a' + i % 26);
      Insert(t, r);
    }
    return Rows(t);
  }
  // Every record of an entry, read with DKFET1.
  std::vector<std::string> Rows(const Table& t) {
    std::vector<int32_t> c(CursorBlockWords(kLength), 0);
    c[CUR_STATUS] = FET_FROM_KEY;
    c[CUR_TABLE] = t.entry;
    c[CUR_TBL] = t.tbl;
    c[CUR_KEY_LENGTH] = kKey;
    c[CUR_RECORD_LENGTH] = kLength;
    std::vector<std::string> rows;
    for (DKFET1(c.data()); c[CUR_STATUS] == 0; DKFET1(c.data())) {
      rows.emplace_back(reinterpret_cast<const char*>(c.data() + CUR_RECORD), kLength);
      c[CUR_STATUS] = FET_NEXT;
    }
    EXPECT_EQ(c[CUR_STATUS], kStatusEnd);
    return rows;
  }
  struct Blocks {
    std::vector<int32_t> request, second;
  };
  Blocks Request(int32_t mode, const Table& target) {
    Blocks b{std::vector<int32_t>(16, 0), std::vector<int32_t>(16, 0)};
    b.request[RQ_STATUS] = mode;
    b.request[RQ_DID] = 5;
    b.request[RQ_TABLE] = source_.entry;
    b.request[RQ_TBL] = source_.tbl;
    b.second[RQ_DID] = 5;
    b.second[RQ_TABLE] = target.entry;
    b.second[RQ_TBL] = target.tbl;
    return b;
  }
  int32_t Send(Blocks& b) {
    DKEXE2(65, b.request.data(), b.second.data());
    return b.request[RQ_STATUS];
  }
  int32_t first_ = 0, second_ = 0;
  Table source_, copy1_, copy2_;
};

TEST_F(ShadowCopyTest, TheCopiesEqualTheSourceInBothModes) {
  const auto rows = Fill(source_, 900, 's');
  ASSERT_GE(Levels(source_), 2);
  // Stale rows on the second copy are replaced, not merged.
  Fill(copy2_, 40, 'x');
  auto given = Request(0, copy1_);
  ASSERT_EQ(Send(given), 0);
  EXPECT_EQ(Rows(copy1_), rows);
  EXPECT_EQ(Rows(copy2_).size(), 40u) << "mode 0 copies into the given copy alone";

  Insert(source_, MakeRecord("zz-late", kKey, kLength));
  const auto more = Rows(source_);
  auto every = Request(1, copy1_);
  ASSERT_EQ(Send(every), 0);
  EXPECT_EQ(Rows(copy1_), more);
  EXPECT_EQ(Rows(copy2_), more);
  EXPECT_EQ(Rows(source_), more);
  // The copy stays a working tree.
  EXPECT_EQ(Insert(copy2_, MakeRecord("zz-next", kKey, kLength)), 0);

  // An empty source empties the copies.
  Table empty = CreateTable(121, kKey, kLength);
  const int32_t* a = Bufferpool();
  Table empty_copy{a[empty.entry + TBE_NEXT], 121, kKey, kLength};
  Fill(empty_copy, 10, 'e');
  auto b = Request(0, empty_copy);
  b.request[RQ_TABLE] = empty.entry, b.request[RQ_TBL] = 121;
  ASSERT_EQ(Send(b), 0);
  EXPECT_EQ(Rows(empty_copy).size(), 0u);
}

TEST_F(ShadowCopyTest, AnErrorWordOnTheChainCopiesNothing) {
  Fill(source_, 100, 's');
  for (int32_t word : {DBE_ERROR, DBE_ERROR2}) {
    SCOPED_TRACE(word);
    int32_t* error = Bufferpool() + second_ + word;
    *error = 1;
    for (int32_t mode : {0, 1}) {
      auto b = Request(mode, copy1_);
      EXPECT_EQ(Send(b), 1);
    }
    *error = 0;
    EXPECT_EQ(Rows(copy1_).size(), 0u);
    EXPECT_EQ(Rows(copy2_).size(), 0u);
  }
}

TEST_F(ShadowCopyTest, BadRequestsAreRefused) {
  const auto rows = Fill(source_, 50, 's');
  Fill(copy1_, 5, 'x');
  const auto before = Rows(copy1_);
  Table other = CreateTable(122, kKey, kLength);
  struct Case {
    const char* what;
    std::function<void(Blocks&)> change;
    int32_t status;
  };
  const Case cases[] = {
      {"table entry of another TBL", [](Blocks& b) { b.request[RQ_TBL] = 99; }, -46},
      {"second entry of another TBL", [](Blocks& b) { b.second[RQ_TBL] = 99; }, -46},
      {"copy that is no entry of the table's chain",
       [&](Blocks& b) { b.second[RQ_TABLE] = other.entry, b.second[RQ_TBL] = other.tbl; }, -46},
      {"the source itself as the copy", [&](Blocks& b) { b.second[RQ_TABLE] = source_.entry; },
       -43},
  };
  for (const Case& c : cases) {
    auto b = Request(0, copy1_);
    c.change(b);
    EXPECT_EQ(Send(b), c.status) << c.what;
  }
  // The entry of another table on a shadow databank.
  Table odd = CreateTable(123, kKey, kLength + 4);
  Table odd_copy{Bufferpool()[odd.entry + TBE_NEXT], 123, kKey, kLength + 4};
  auto b = Request(0, odd_copy);
  EXPECT_EQ(Send(b), -46);
  EXPECT_EQ(Rows(copy1_), before);
  EXPECT_EQ(Rows(source_), rows);
  // Without a second block the request is refused.
  auto n = Request(0, copy1_);
  DKEXE2(65, n.request.data(), nullptr);
  EXPECT_EQ(n.request[RQ_STATUS], -46);
}

// A second block of another DID and an unknown mode are the caller's
// inconsistency: the status lands in word 0 and the report ends the server.
TEST_F(ShadowCopyTest, ForeignDidsAndUnknownModesAreInternalErrors) {
  Fill(source_, 20, 's');
  struct Case {
    const char* what;
    std::function<void(Blocks&)> change;
    int32_t status;
  };
  const Case cases[] = {
      {"second block of another DID", [](Blocks& b) { b.second[RQ_DID] = 6; }, -43},
      {"mode 2", [](Blocks& b) { b.request[RQ_STATUS] = 2; }, -86},
      {"mode -1", [](Blocks& b) { b.request[RQ_STATUS] = -1; }, -86},
  };
  for (const Case& c : cases) {
    auto b = Request(0, copy1_);
    c.change(b);
    EXPECT_THROW(Send(b), ServerException) << c.what;
    EXPECT_EQ(b.request[RQ_STATUS], c.status) << c.what;
    EXPECT_EQ(Rows(copy1_).size(), 0u) << c.what;
  }
}

}  // namespace
