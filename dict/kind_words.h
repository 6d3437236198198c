// The kind words of the catalog: object kinds (table 11 and the usage
// tables 38 and 39), privilege object kinds (27), table and column privilege
// words (25, 26, 39), grantee kinds (14), source kinds (41), routine,
// parameter and trigger words, flags and grantors. Rows hold the words,
// blank padded; the dictionary's callers work with the numbers.
#pragma once

#include <cstdint>
#include <string_view>

// A kind number outside the subset a statement accepts.
inline constexpr int32_t DD_KIND_OUTSIDE = -19089;

struct DDWordEntry {
  int32_t number;
  std::string_view word;
};

struct DDWordTable {
  const DDWordEntry* entries;
  int32_t count;
};

extern const DDWordTable kDDObjectWords;      // 1-22 in table 11 (17, 19, 21 holes)
extern const DDWordTable kDDUsageWords;       // in tables 38 and 39
extern const DDWordTable kDDPrivKindWords;    // 1-17 in table 27 (14, 16 holes)
extern const DDWordTable kDDTablePrivWords;   // 1-7
extern const DDWordTable kDDColumnPrivWords;  // 1, 2, 4, 5
extern const DDWordTable kDDGranteeWords;     // 1-4
extern const DDWordTable kDDSourceWords;      // 1-6
extern const DDWordTable kDDDataAccessWords;  // 1-4

// The word of `number` into *word: 0, or DD_KIND_OUTSIDE for a number the
// table does not hold.
int32_t DDWordOf(const DDWordTable& table, int32_t number, std::string_view* word);
// The number of a stored word (trailing blanks of `stored` ignored, other
// characters compared exactly; the first entry wins), 0 when none.
int32_t DDNumberOf(const DDWordTable& table, std::string_view stored);

// Privilege kinds 1, 2, 10, 11, 12 and 13 name no object: their object id
// is stored as 0.
bool DDPrivKindHasObject(int32_t kind);

// A grantee kind read back as an 8-character word or as one letter.
inline constexpr std::string_view DD_GRANTEE_WORDS8 = "GROUP   PROGRAM USER    OS_USER ";
inline constexpr std::string_view DD_GRANTEE_LETTERS = "GPUO";

inline constexpr std::string_view DD_YES = "YES";
inline constexpr std::string_view DD_NO = "NO ";
inline constexpr std::string_view DD_GRANTOR_SYSTEM = "SYSTEM";
inline constexpr std::string_view DD_GRANTOR_SYSTEM_STORED = "_SYSTEM";
inline constexpr std::string_view DD_ROUTINE_PROCEDURE = "PROCEDURE";
inline constexpr std::string_view DD_ROUTINE_FUNCTION = "FUNCTION";
inline constexpr std::string_view DD_LANGUAGE_SQL = "SQL";
inline constexpr std::string_view DD_MODE_IN = "IN";
inline constexpr std::string_view DD_MODE_OUT = "OUT";
inline constexpr std::string_view DD_MODE_INOUT = "INOUT";
inline constexpr std::string_view DD_ORIENTATION_ROW = "ROW";
inline constexpr std::string_view DD_ORIENTATION_STATEMENT = "STATEMENT";
// Trigger events and timings as stored, and as compared when read back
// (10 characters; "AFTER" as 9).
inline constexpr std::string_view DD_TRIGGER_EVENTS[3] = {"INSERT", "UPDATE", "DELETE"};
inline constexpr std::string_view DD_TRIGGER_TIMINGS[3] = {"BEFORE", "INSTEAD OF", "AFTER"};
inline constexpr std::string_view DD_TRIGGER_READ_BACK[6] = {
    "INSERT    ", "UPDATE    ", "DELETE    ", "BEFORE    ", "INSTEAD OF", "AFTER    "};
