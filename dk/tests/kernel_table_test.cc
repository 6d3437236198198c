// The kernel's table 5 kept through DKMHT1: records inserted, walked in key
// order, deleted; an open that fails and an unknown sub-function answered in
// word 5, the table closed after each request.
#include "dk/kernel_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dk/tests/transaction_fixture.h"

namespace {

class KernelTableTest : public TransactionTest {
 protected:
  void CreateKernelTable() {
    int32_t b[CRT_WORDS] = {};
    b[RQ_DID] = kTransDid;
    b[RQ_TYPE] = 10;
    b[RQ_TBL] = 5;
    b[RQ_KEY_LENGTH] = 128;
    b[RQ_RECORD_LENGTH] = 148;
    DKEXE1(16, b);
    ASSERT_EQ(b[RQ_STATUS], 0);
    // The create leaves it open for its creator.
    DKCLT1(b);
    ASSERT_EQ(b[RQ_STATUS], 0);
  }
  // Sends a sub-function; `record` (key first) goes to the record area.
  int32_t Send(int32_t function, const std::string& record = "") {
    block_[MHT_FUNCTION] = function;
    if (!record.empty()) {
      std::memset(block_ + CUR_RECORD, 0, 148);
      std::memcpy(block_ + CUR_RECORD, record.data(), record.size());
    }
    DKEXE1(63, block_);
    return block_[MHT_FUNCTION];
  }
  std::string Key() const {
    return std::string(reinterpret_cast<const char*>(block_ + CUR_RECORD), 2);
  }
  std::string Tail() const {
    return std::string(reinterpret_cast<const char*>(block_ + CUR_RECORD) + 128, 3);
  }
  int32_t block_[MHT_WORDS + 1] = {};
};

TEST_F(KernelTableTest, RecordsAreKeptAndWalkedInKeyOrder) {
  CreateKernelTable();
  std::string b(148, '\0'), a(148, '\0');
  b.replace(0, 2, "kb");
  b.replace(128, 3, "two");
  a.replace(0, 2, "ka");
  a.replace(128, 3, "one");
  ASSERT_EQ(Send(MHT_INSERT, b), 0);
  ASSERT_EQ(Send(MHT_INSERT, a), 0);
  // The record area is cleared for the first fetch, whatever it held.
  std::memset(block_ + CUR_RECORD, 'z', 128);
  ASSERT_EQ(Send(MHT_FIRST), 0);
  EXPECT_EQ(Key(), "ka");
  EXPECT_EQ(Tail(), "one");
  ASSERT_EQ(Send(MHT_AFTER), 0);
  EXPECT_EQ(Key(), "kb");
  EXPECT_EQ(Tail(), "two");
  EXPECT_EQ(Send(MHT_AFTER), kStatusEnd);
  ASSERT_EQ(Send(MHT_DELETE, a), 0);
  ASSERT_EQ(Send(MHT_FIRST), 0);
  EXPECT_EQ(Key(), "kb");
  // Each request closes the table again.
  const int32_t entry = block_[CUR_TABLE];
  EXPECT_EQ(area_[entry + TBE_USES], 0);
}

TEST_F(KernelTableTest, RefusalsAreAnsweredInWordFive) {
  // No table 5 in the TRANS databank yet: the open's answer.
  EXPECT_LT(Send(MHT_FIRST), 0);
  CreateKernelTable();
  struct Case {
    int32_t function, rc;
  } cases[] = {{9, -86}, {14, -86}, {0, -86}};
  for (const Case& c : cases) EXPECT_EQ(Send(c.function), c.rc) << c.function;
  // A delete of a record that is not there stops with the delete's answer.
  std::string missing(148, 'q');
  EXPECT_NE(Send(MHT_DELETE, missing), 0);
  // Without a TRANS databank the kernel has no table to open.
  area_[BP_TRANS_DATABANK] = 0;
  EXPECT_EQ(Send(MHT_INSERT, missing), -45);
}

}  // namespace
