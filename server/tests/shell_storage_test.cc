// ShellAllocWords: blocks come from the storage the shell set, cleared; bad
// counts and a missing storage give 0.
#include "server/shell_storage.h"

#include <gtest/gtest.h>

#include <climits>

#include "kernel/word_storage.h"

namespace {

TEST(ShellStorage, AllocatesClearedWordsFromTheSetStorage) {
  int32_t* base = SqlPoolCreate(1 << 20, 1 << 16);
  int32_t w = 1 << 16;
  DSPoolMem(base, &w, -1, 0);
  int32_t index = -1;
  ShellAllocWords(&index, 4);
  EXPECT_EQ(index, 0);  // no storage set yet
  ShellSetWordStorage(base);
  ShellAllocWords(&index, 22);
  ASSERT_GT(index, 0);
  for (int32_t i = 0; i < 22; ++i) EXPECT_EQ(sqlpool_word(base, index + i), 0);
  for (int32_t bad : {0, -3, INT32_MAX, INT32_MAX / 4 + 1}) {
    ShellAllocWords(&index, bad);
    EXPECT_EQ(index, 0) << bad;
  }
  ShellSetWordStorage(nullptr);
  SqlPoolDestroy(base);
}

}  // namespace
