// What record access reads of a statement's records: the statement's own
// record starts at its NEXT_COM word, each further compound statement's
// record in a block chained from there; a record gives the program header
// (SECTION DESCRIPTOR) in its word 1 and the storage area in its word 3.
// The header gives the program type in word 1 and the table lists in words
// 6 to 9.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "du/pool_words.h"

namespace du {

inline constexpr int32_t REC_SD = 1;
inline constexpr int32_t REC_STG = 3;
inline constexpr int32_t SD_PROGRAM_TYPE = 1;
inline constexpr int32_t SD_PERM_LIST = 6;  // offset of the list from the header
inline constexpr int32_t SD_PERM_COUNT = 7;
inline constexpr int32_t SD_TEMP_LIST = 8;
inline constexpr int32_t SD_TEMP_COUNT = 9;
// A chain longer than this is taken as damaged.
inline constexpr int32_t kMaxRecords = 4096;

// Calls f(record) for the statement's own record and each compound record.
template <typename F>
void ForEachRecord(int32_t* base, int32_t stm, F f) {
  int64_t r = int64_t{stm} + STM_NEXT_COM;
  for (int32_t n = 0; r != 0 && n < kMaxRecords; ++n) {
    if (!BlockInside(base, r, 4)) return;
    if (!f(static_cast<int32_t>(r))) return;
    r = W(base, r);
  }
}

inline int32_t ProgramType(int32_t* base, int32_t record) {
  const int32_t sd = W(base, int64_t{record} + REC_SD);
  return BlockInside(base, sd, 10) ? W(base, int64_t{sd} + SD_PROGRAM_TYPE) : 0;
}

inline bool AnyProgramType(int32_t* base, int32_t stm, std::initializer_list<int32_t> types) {
  bool found = false;
  ForEachRecord(base, stm, [&](int32_t r) {
    const int32_t t = ProgramType(base, r);
    for (int32_t x : types) found = found || t == x;
    return !found;
  });
  return found;
}

}  // namespace du
