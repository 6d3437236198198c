// Statements built by hand for the kernel's own routines: a STM whose first
// compound block names a descriptor with input and output tables and a
// storage block, and a fake interpreter that hands out canned rows.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "kernel/control_blocks.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"
#include "platform/packed_decimal.h"

// A statement whose parameters and columns have the given field lengths
// (indicator included), laid out one after the other in its storage.
inline int32_t MakeStatement(int32_t* base, const std::vector<int32_t>& inputs,
                             const std::vector<int32_t>& outputs) {
  auto alloc = [&](int32_t bytes) {
    int32_t out = 0;
    DSGetMem(base, &out, bytes);
    return out;
  };
  const int32_t in_n = static_cast<int32_t>(inputs.size());
  const int32_t out_n = static_cast<int32_t>(outputs.size());
  const int32_t sd_words = SD_MIN_WORDS + 2 * (in_n + out_n) + 2;
  const int32_t sd = alloc(4 * sd_words);
  int32_t at = 0;
  int32_t w = SD_MIN_WORDS;
  sqlpool_word(base, sd + SD_INPUT_TABLE) = w;
  sqlpool_word(base, sd + SD_INPUT_TABLE + 1) = in_n;
  for (int32_t len : inputs) {
    sqlpool_word(base, sd + w++) = at;
    sqlpool_word(base, sd + w++) = len;
    at += len;
  }
  sqlpool_word(base, sd + SD_OUTPUT_TABLE) = w;
  sqlpool_word(base, sd + SD_OUTPUT_TABLE + 1) = out_n;
  for (int32_t len : outputs) {
    sqlpool_word(base, sd + w++) = at;
    sqlpool_word(base, sd + w++) = len;
    at += len;
  }
  sqlpool_word(base, sd + SD_CALL_LIST) = -1;
  const int32_t stg_words = at / 4 + 1;
  sqlpool_word(base, sd + SD_STORAGE_WORDS) = stg_words;
  const int32_t stg = alloc(4 * stg_words);
  const int32_t stm = alloc(STM_BYTES);
  sqlpool_word(base, stm + STM_ACTIVE_COM) = stm + STM_NEXT_COM;
  sqlpool_word(base, stm + STM_SD) = sd;
  sqlpool_word(base, stm + STM_STG) = stg;
  return stm;
}

// Writes a value into output column n of a statement: text (blank padded),
// an integer, or null.
inline uint8_t* ColumnField(int32_t* base, int32_t stm, int32_t n, int32_t* len) {
  uint8_t* f = nullptr;
  EXPECT_EQ(StatementField(base, stm, true, n, &f, len), 0) << n;
  return f;
}
inline void PutColumnText(int32_t* base, int32_t stm, int32_t n, const std::string& text) {
  int32_t len;
  uint8_t* f = ColumnField(base, stm, n, &len);
  f[0] = 0;
  std::memset(f + 1, ' ', len - 1);
  std::memcpy(f + 1, text.data(), std::min<size_t>(text.size(), len - 1));
}
inline void PutColumnInt(int32_t* base, int32_t stm, int32_t n, int32_t value) {
  int32_t len;
  uint8_t* f = ColumnField(base, stm, n, &len);
  value_descriptor v;
  v.precision = 2 * len - 3;
  int_to_decimal(ByteSpan(f, len), v, value);
}
inline void PutColumnNull(int32_t* base, int32_t stm, int32_t n) {
  int32_t len;
  uint8_t* f = ColumnField(base, stm, n, &len);
  std::memset(f, 255, len);
}
inline int32_t ParameterInt(int32_t* base, int32_t stm, int32_t n, bool* null) {
  uint8_t* f = nullptr;
  int32_t len = 0;
  EXPECT_EQ(StatementField(base, stm, false, n, &f, &len), 0);
  *null = f[0] == 255;
  int32_t v = 0;
  value_descriptor d;
  d.precision = 2 * len - 3;
  decimal_to_int(&v, ConstByteSpan(f, len), d);
  return v;
}
