// A kernel word storage with a system block in place, and the translation
// tables the collation tests install.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "du/collation.h"
#include "kernel/control_blocks.h"
#include "kernel/word_storage.h"

using Table = std::array<uint8_t, COLL_TABLE_BYTES>;

inline Table IdentityTable() {
  Table t;
  for (int i = 0; i < COLL_TABLE_BYTES; ++i) t[i] = static_cast<uint8_t>(i);
  return t;
}

// Orders letters without regard to case: lower case letters sort as upper.
inline Table CaseFoldTable() {
  Table t = IdentityTable();
  for (int c = 'a'; c <= 'z'; ++c) t[c] = static_cast<uint8_t>(c - 32);
  return t;
}

inline std::vector<uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

class StorageTest : public ::testing::Test {
 protected:
  explicit StorageTest(int64_t max_words = 200000, int32_t initial_words = 100000)
      : base_(SqlPoolCreate(max_words, initial_words)) {
    int32_t w = initial_words;
    DSPoolMem(base_, &w, -1, 0);
    DSGetMem(base_, &sys_, SYS_BYTES);
    base_[sqlpool::RESERV] = sys_;
  }
  ~StorageTest() override { SqlPoolDestroy(base_); }

  int32_t Install(int32_t id, const Table& table) {
    int32_t status = 99;
    XLInstallTable(base_, &status, XL_INSTALL, id, table);
    return status;
  }
  int32_t Call(int32_t function, int32_t id) {
    int32_t status = 99;
    XLInstallTable(base_, &status, function, id, {});
    return status;
  }
  int32_t Head() { return sqlpool_word(base_, int64_t{sys_} + SYS_COLLCB); }

  int32_t* base_;
  int32_t sys_ = 0;
};
