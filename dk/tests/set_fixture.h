// A databank file with set tables on it, made as a create of a kind-5 table
// leaves them (root entry in the header page, table entry in the control
// area), and helpers that append and read whole sets.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/tests/bufferpool_fixture.h"

constexpr int32_t kTbl = 4711;

// Records that compress well and records that do not, of random lengths.
inline std::vector<int32_t> MixedRecord(std::mt19937& rng, int32_t words, int32_t seed) {
  std::vector<int32_t> r(words);
  const bool repetitive = rng() % 2 == 0;
  for (int32_t i = 0; i < words; ++i)
    r[i] = repetitive ? (i < 4 ? seed : 0x61616161) : static_cast<int32_t>(rng());
  return r;
}

class SetTableTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    databank_ = Create("sets", 400);
  }

  // A set table on the databank: its root entry in the header page and its
  // table entry in the control area, as a create of a kind-5 table leaves them.
  // A set created as the kernel creates a kind-5 table: root entry and
  // table entry; the dependent databanks of the databank get theirs too.
  int32_t MakeSet(int32_t data_size, int32_t list_size = 2048, int32_t tbl = kTbl,
                  int32_t method = 0, int32_t databank = 0) {
    int32_t block[CRT_WORDS] = {};
    block[RQ_DID] = area_[(databank != 0 ? databank : databank_) + DBE_DID];
    block[RQ_TYPE] = 10 * kKindSet;
    block[RQ_TBL] = tbl;
    block[RQ_INDEX_PAGE_SIZE] = list_size;
    block[RQ_DATA_PAGE_SIZE] = data_size;
    block[RQ_METHOD] = method;
    DKCRT1(block);
    EXPECT_EQ(block[RQ_STATUS], 0);
    EXPECT_EQ(area_[block[RQ_TABLE] + TBE_KIND], kKindSet);
    return block[RQ_TABLE];
  }

  // Word j of a set's root entry, as the header page holds it now.
  int32_t RootWord(int32_t table, int32_t j) {
    const int32_t root =
        Get(area_[table + TBE_DATABANK], area_[table + TBE_ROOT_PAGE], 2048, GET_SHARED);
    const int32_t value = PageWords(root)[area_[table + TBE_ROOT_WORD] + 1 + j];
    DKPUT0(PUT_END_SHARED, root);
    return value;
  }

  std::vector<int32_t> Block(int32_t table, int32_t data_size) {
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(data_size), 0);
    b[SETRQ_TABLE] = table;
    b[SETRQ_TBL] = area_[table];
    return b;
  }

  struct Appended {
    int32_t rc, page, end;
  };
  Appended Append(int32_t table, const std::vector<int32_t>& record, int32_t mode = 0,
                  int32_t data_size = 16384) {
    std::vector<int32_t> b = Block(table, data_size);
    b[SETRQ_RC] = mode;
    b[SETRQ_LENGTH] = static_cast<int32_t>(record.size());
    std::copy(record.begin(), record.end(), b.begin() + SETRQ_RECORD);
    const int32_t rc = DKAXR0(b);
    EXPECT_EQ(b[SETRQ_RC], rc);
    return {rc, b[SETRQ_PAGE], b[SETRQ_POSITION]};
  }

  // Every record of the set, read forwards (or backwards) from page 0.
  std::vector<std::vector<int32_t>> ReadAll(int32_t table, bool forwards, int32_t data_size) {
    std::vector<std::vector<int32_t>> records;
    std::vector<int32_t> b = Block(table, data_size);
    b[SETRQ_RC] = 2;  // the first read reads at the position
    for (int guard = 0; guard < 100000; ++guard) {
      const int32_t rc = forwards ? DKGXN0(b) : DKGXP0(b);
      if (rc == SET_END) {
        EXPECT_EQ(b[SETRQ_PAGE], 0);
        break;
      }
      EXPECT_EQ(rc, 0);
      if (rc != 0) break;
      records.emplace_back(b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + b[SETRQ_LENGTH]);
      b[SETRQ_RC] = 0;  // then step past the record read
    }
    if (!forwards) std::reverse(records.begin(), records.end());
    return records;
  }

  static std::vector<int32_t> Record(int32_t words, int32_t seed) {
    std::vector<int32_t> r(words);
    for (int32_t i = 0; i < words; ++i) r[i] = seed * 1000 + i;
    return r;
  }

  void AppendAndReadBack(int32_t method, int32_t count);

  int32_t databank_ = 0;
  int32_t pages_used_ = 0;
};
