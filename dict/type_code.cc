// DDTypeCode and the type-word tables: a stored data type (type word,
// qualifier word and the numeric columns) becomes a dictionary type code
// with its length and scale; DDTypeEntries gives the words that store a code.
#include <cstring>

#include "dict/type_words.h"

namespace {

// 23 entries: codes 1 to 14, "INTERVAL", then codes 28 to 35. "Integer" and
// "Float" are words of their own, distinct from "INTEGER" and "FLOAT".
constexpr const char* kTypeWords[DD_TYPE_WORD_COUNT] = {"CHARACTER",
                                                        "DECIMAL",
                                                        "Integer",
                                                        "Float",
                                                        "CHARACTER VARYING",
                                                        "SMALLINT",
                                                        "INTEGER",
                                                        "REAL",
                                                        "FLOAT",
                                                        "DOUBLE PRECISION",
                                                        "NUMERIC",
                                                        "DATE",
                                                        "TIME",
                                                        "TIMESTAMP",
                                                        "INTERVAL",
                                                        "BIGINT",
                                                        "BINARY",
                                                        "BINARY VARYING",
                                                        "BINARY LARGE OBJECT",
                                                        "CHARACTER LARGE OBJECT",
                                                        "NATIONAL CHAR LARGE OBJECT",
                                                        "NATIONAL CHARACTER",
                                                        "NATIONAL CHARACTER VARYING"};

constexpr const char* kQualifierWords[DD_QUALIFIER_WORD_COUNT] = {"YEAR",
                                                                  "MONTH",
                                                                  "DAY",
                                                                  "HOUR",
                                                                  "MINUTE",
                                                                  "SECOND",
                                                                  "YEAR TO MONTH",
                                                                  "DAY TO HOUR",
                                                                  "DAY TO MINUTE",
                                                                  "DAY TO SECOND",
                                                                  "HOUR TO MINUTE",
                                                                  "HOUR TO SECOND",
                                                                  "MINUTE TO SECOND"};

constexpr int32_t kIntervalEntry = 15;

// Padded copies, built once: the tables are compared as fixed-width words.
struct PaddedTables {
  char types[DD_TYPE_WORD_COUNT][DD_TYPE_WORD_LENGTH];
  char qualifiers[DD_QUALIFIER_WORD_COUNT][DD_QUALIFIER_WORD_LENGTH];
  PaddedTables() {
    std::memset(this, ' ', sizeof *this);
    for (int i = 0; i < DD_TYPE_WORD_COUNT; ++i)
      std::memcpy(types[i], kTypeWords[i], std::strlen(kTypeWords[i]));
    for (int i = 0; i < DD_QUALIFIER_WORD_COUNT; ++i)
      std::memcpy(qualifiers[i], kQualifierWords[i], std::strlen(kQualifierWords[i]));
  }
};

const PaddedTables& Tables() {
  static const PaddedTables tables;
  return tables;
}

}  // namespace

std::string_view DDTypeWord(int32_t entry) {
  if (entry < 1 || entry > DD_TYPE_WORD_COUNT) return {};
  return {Tables().types[entry - 1], DD_TYPE_WORD_LENGTH};
}

std::string_view DDQualifierWord(int32_t entry) {
  if (entry < 1 || entry > DD_QUALIFIER_WORD_COUNT) return {};
  return {Tables().qualifiers[entry - 1], DD_QUALIFIER_WORD_LENGTH};
}

void DDTypeCode(const char* type_word, const char* qualifier_word, const int32_t* s,
                int32_t* result) {
  const PaddedTables& t = Tables();
  int32_t n = 1;
  while (n <= DD_TYPE_WORD_COUNT && std::memcmp(type_word, t.types[n - 1], DD_TYPE_WORD_LENGTH))
    ++n;
  int32_t code;
  if (n == kIntervalEntry) {
    int32_t q = 1;
    while (q <= DD_QUALIFIER_WORD_COUNT &&
           std::memcmp(qualifier_word, t.qualifiers[q - 1], DD_QUALIFIER_WORD_LENGTH))
      ++q;
    // A qualifier that is no entry would run one past the table into 28,
    // BIGINT: such a row names no type this server knows.
    code = q <= DD_QUALIFIER_WORD_COUNT ? 14 + q : DD_TYPE_UNKNOWN;
  } else {
    code = n > kIntervalEntry ? n + 12 : n;  // 24 (not found) gives 36
  }
  result[DDTC_OUT_CODE] = code;
  switch (code) {
    case 1:
    case 5:
    case 29:
    case 30:
    case 34:
    case 35:
      result[DDTC_OUT_LENGTH] = s[DDTC_LENGTH];
      result[DDTC_OUT_SCALE] = 0;
      break;
    case 2:
    case 11:
      result[DDTC_OUT_LENGTH] = s[DDTC_PRECISION];
      result[DDTC_OUT_SCALE] = s[DDTC_SCALE];
      break;
    case 3:
    case 6:
    case 7:
    case 28:
      result[DDTC_OUT_LENGTH] = s[DDTC_PRECISION];
      result[DDTC_OUT_SCALE] = 0;
      break;
    case 4:
    case 8:
    case 9:
    case 10:
      result[DDTC_OUT_LENGTH] = s[DDTC_PRECISION];
      result[DDTC_OUT_SCALE] = -1;
      break;
    case 12:
      result[DDTC_OUT_LENGTH] = 8;
      result[DDTC_OUT_SCALE] = s[DDTC_LEADING];
      break;
    case 13:
      result[DDTC_OUT_LENGTH] = s[DDTC_LEADING] + 6;
      result[DDTC_OUT_SCALE] = s[DDTC_LEADING];
      break;
    case 14:
      result[DDTC_OUT_LENGTH] = s[DDTC_LEADING] + 14;
      result[DDTC_OUT_SCALE] = s[DDTC_LEADING];
      break;
    case 31:
    case 32:
    case 33:
      result[DDTC_OUT_LENGTH] = s[DDTC_LENGTH];
      result[DDTC_OUT_SCALE] = s[DDTC_S0];
      break;
    default:
      if (code >= DD_TYPE_INTERVAL_FIRST && code <= DD_TYPE_INTERVAL_LAST) {
        result[DDTC_OUT_LENGTH] = s[DDTC_INTERVAL_LENGTH];
        result[DDTC_OUT_SCALE] = s[DDTC_LEADING];
      }
      break;
  }
}

bool DDTypeEntries(int32_t code, int32_t* type_entry, int32_t* qualifier_entry) {
  if (code < 1 || code > 35) return false;
  if (code < DD_TYPE_INTERVAL_FIRST) {
    *type_entry = code;
    *qualifier_entry = 0;
  } else if (code <= DD_TYPE_INTERVAL_LAST) {
    *type_entry = kIntervalEntry;
    *qualifier_entry = code - 14;
  } else {
    *type_entry = code - 12;
    *qualifier_entry = 0;
  }
  return true;
}
