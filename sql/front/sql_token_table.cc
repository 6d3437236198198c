// The parser's token table, made once from the names the token rules give:
// keywords and punctuation are shown in single quotes, the token classes by
// their class names with a sample text for insertion.
#include "sql/front/sql_token_table.h"

#include <string>
#include <vector>

#include "sql/front/sql_lexer.h"

namespace {

struct ClassText {
  int32_t code;
  const char* insertion;
};

// Insertion texts of the tokens that have no fixed text of their own.
constexpr ClassText kClassTexts[] = {
    {kSqlTokUnknown, "''"},
    {kSqlTokEnd, "''"},
    {kSqlTokIdentifier, "'ID'"},
    {kSqlTokString, "'TEXT'"},
    {kSqlTokHexString, "'TEXT'"},
    {kSqlTokInteger, "'1'"},
    {kSqlTokDecimal, "'1.0'"},
    {kSqlTokFloat, "'1.0E0'"},
    {kSqlTokHostIdentifier, "':HOST'"},
    {kSqlTokSeparator, "';'"},
    {kSqlTokNationalString, "'TEXT'"},
    {kSqlTokUnicodeString, "'TEXT'"},
};

struct SqlTokenTable {
  std::vector<std::string> texts;  // display and insertion texts, kept alive
  SqlTokenInfo entries[kSqlTokenCount];

  SqlTokenTable() {
    texts.reserve(2 * kSqlTokenCount);
    for (int32_t code = 0; code < kSqlTokenCount; ++code) {
      int32_t n = 0;
      const char* name = SqlTokenName(code, &n);
      const char* insertion = nullptr;
      for (const ClassText& c : kClassTexts) {
        if (c.code == code) insertion = c.insertion;
      }
      if (insertion != nullptr) {
        texts.emplace_back(name, n);
        texts.emplace_back(insertion);
      } else {
        texts.push_back("'" + std::string(name, n) + "'");
        texts.push_back(texts.back());
      }
      bool reserved = code >= kSqlTokFirstReserved && code <= kSqlTokLastReserved;
      entries[code] = {code, reserved ? 5 : 1, 1, texts[texts.size() - 2].c_str(),
                       texts.back().c_str()};
    }
  }
};

}  // namespace

const SqlTokenInfo& SqlTokenEntry(int32_t code) {
  static const SqlTokenTable table;
  if (code < 0 || code >= kSqlTokenCount) code = 0;
  return table.entries[code];
}
