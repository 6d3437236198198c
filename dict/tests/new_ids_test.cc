// DDNewIds over a fake sequence routine installed in the dictionary's
// service table: the block of ids, the request it makes, errors passed
// through, and the answer of an entry nobody installed.
#include "dict/new_ids.h"

#include <gtest/gtest.h>

#include "dict/upper_services.h"

namespace {

// A model of sequence 141: consecutive values from a start, or a fixed error.
struct FakeSequence {
  int32_t next = 188;
  int32_t fail = 0;
  int32_t last_kind = 0, last_usr = 0, last_sequence = 0, last_count = 0;
};
FakeSequence g_fake;

int32_t FakeSeqValue(int32_t*, int32_t* block, int32_t sequence, int32_t count, int32_t* value) {
  g_fake.last_kind = block[DDSEQ_STATUS];
  g_fake.last_usr = block[DDSEQ_USR];
  g_fake.last_sequence = sequence;
  g_fake.last_count = count;
  if (g_fake.fail) return block[DDSEQ_STATUS] = g_fake.fail;
  *value = g_fake.next;
  g_fake.next += count;
  return block[DDSEQ_STATUS] = 0;
}

class NewIdsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = {};
    previous_ = DDInstallUpperServices(&services_);
  }
  void TearDown() override { DDInstallUpperServices(previous_); }
  DDUpperServices services_{FakeSeqValue, nullptr, nullptr, nullptr};
  const DDUpperServices* previous_ = nullptr;
};

TEST_F(NewIdsTest, BlocksFollowOneAnotherWithoutOverlap) {
  int32_t block[2] = {-1, 77};
  int32_t first = 0;
  ASSERT_EQ(DDNewIds(nullptr, block, 5, &first), 0);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(first, 188);
  EXPECT_EQ(g_fake.last_kind, DDSEQ_NEXT_VALUES);
  EXPECT_EQ(g_fake.last_usr, 77);
  EXPECT_EQ(g_fake.last_sequence, 141);
  EXPECT_EQ(g_fake.last_count, 5);
  ASSERT_EQ(DDNewIds(nullptr, block, 1, &first), 0);
  EXPECT_EQ(first, 193);
}

TEST_F(NewIdsTest, TheSequencesErrorIsTheStatusAndNoIdIsWritten) {
  for (int32_t error : {-14720, -16150}) {
    g_fake.fail = error;
    int32_t block[2] = {0, 1};
    int32_t first = 12345;
    EXPECT_EQ(DDNewIds(nullptr, block, 3, &first), error);
    EXPECT_EQ(block[0], error);
    EXPECT_EQ(first, 12345);
  }
}

TEST_F(NewIdsTest, ACountBelowOneIsRefusedWithoutAsking) {
  int32_t block[2] = {0, 1};
  int32_t first = 5;
  EXPECT_EQ(DDNewIds(nullptr, block, 0, &first), DD_BAD_PARAMETER);
  EXPECT_EQ(DDNewIds(nullptr, block, -3, &first), DD_BAD_PARAMETER);
  EXPECT_EQ(g_fake.last_count, 0);
  EXPECT_EQ(first, 5);
}

TEST(NewIdsAbsent, AnUninstalledSequenceRoutineAnswersAnErrorNotAnId) {
  const DDUpperServices* previous = DDInstallUpperServices(nullptr);
  int32_t block[2] = {0, 1};
  int32_t first = 9;
  EXPECT_EQ(DDNewIds(nullptr, block, 1, &first), DD_SERVICE_ABSENT);
  EXPECT_EQ(block[0], DD_SERVICE_ABSENT);
  EXPECT_EQ(first, 9);
  DDUpperServices empty{};
  DDInstallUpperServices(&empty);
  EXPECT_EQ(DDNewIds(nullptr, block, 1, &first), DD_SERVICE_ABSENT);
  DDInstallUpperServices(previous);
}

}  // namespace
