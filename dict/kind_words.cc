// The kind-word tables and their two lookups, number to word and stored
// word to number.
#include "dict/kind_words.h"

namespace {

constexpr DDWordEntry kObject[] = {
    {1, "DATABANK"},    {2, "DOMAIN"},     {3, "IDENT"},      {4, "INDEX"},     {5, "SYNONYM"},
    {6, "BASE TABLE"},  {7, "VIEW"},       {8, "COLUMN"},     {9, "SHADOW"},    {10, "MODULE"},
    {11, "PROCEDURE"},  {12, "FUNCTION"},  {13, "TRIGGER"},   {14, "SEQUENCE"}, {15, "SCHEMA"},
    {16, "CONSTRAINT"}, {18, "COLLATION"}, {20, "GENERATED"}, {22, "STATEMENT"}};

// Kind 16 is CHECK in the usage tables; 21 is CHECK too, as the dependents
// cursor returns it.
constexpr DDWordEntry kUsage[] = {
    {2, "DOMAIN"},     {4, "INDEX"},     {6, "BASE TABLE"}, {7, "VIEW"},      {10, "MODULE"},
    {11, "PROCEDURE"}, {12, "FUNCTION"}, {13, "TRIGGER"},   {14, "SEQUENCE"}, {16, "CHECK"},
    {18, "COLLATION"}, {21, "CHECK"},    {22, "STATEMENT"}};

constexpr DDWordEntry kPrivKind[] = {
    {1, "DATABANK"}, {2, "IDENT"},     {3, "PROGRAM"},     {4, "MEMBER"},     {5, "TABLE"},
    {6, "DOMAIN"},   {7, "PROCEDURE"}, {8, "FUNCTION"},    {9, "SEQUENCE"},   {10, "BACKUP"},
    {11, "SHADOW"},  {12, "SCHEMA"},   {13, "STATISTICS"}, {15, "COLLATION"}, {17, "STATEMENT"}};

constexpr DDWordEntry kTablePriv[] = {{1, "SELECT"}, {2, "INSERT"},     {3, "DELETE"},
                                      {4, "UPDATE"}, {5, "REFERENCES"}, {6, "LOAD"},
                                      {7, "TRIGGER"}};

constexpr DDWordEntry kColumnPriv[] = {
    {1, "SELECT"}, {2, "INSERT"}, {4, "UPDATE"}, {5, "REFERENCES"}};

constexpr DDWordEntry kGrantee[] = {{1, "GROUP"}, {2, "PROGRAM"}, {3, "USER"}, {4, "OS_USER"}};

constexpr DDWordEntry kSource[] = {{1, "ROUTINE"}, {2, "VIEW"}, {3, "CHECK"},
                                   {4, "DEFAULT"}, {5, "PATH"}, {6, "STATEMENT"}};

constexpr DDWordEntry kDataAccess[] = {
    {1, "NO SQL"}, {2, "CONTAINS SQL"}, {3, "READS SQL DATA"}, {4, "MODIFIES SQL DATA"}};

template <std::size_t N>
constexpr DDWordTable Table(const DDWordEntry (&e)[N]) {
  return {e, static_cast<int32_t>(N)};
}

}  // namespace

const DDWordTable kDDObjectWords = Table(kObject);
const DDWordTable kDDUsageWords = Table(kUsage);
const DDWordTable kDDPrivKindWords = Table(kPrivKind);
const DDWordTable kDDTablePrivWords = Table(kTablePriv);
const DDWordTable kDDColumnPrivWords = Table(kColumnPriv);
const DDWordTable kDDGranteeWords = Table(kGrantee);
const DDWordTable kDDSourceWords = Table(kSource);
const DDWordTable kDDDataAccessWords = Table(kDataAccess);

int32_t DDWordOf(const DDWordTable& table, int32_t number, std::string_view* word) {
  for (int32_t i = 0; i < table.count; ++i) {
    if (table.entries[i].number == number) {
      *word = table.entries[i].word;
      return 0;
    }
  }
  return DD_KIND_OUTSIDE;
}

int32_t DDNumberOf(const DDWordTable& table, std::string_view stored) {
  while (!stored.empty() && stored.back() == ' ') stored.remove_suffix(1);
  for (int32_t i = 0; i < table.count; ++i)
    if (table.entries[i].word == stored) return table.entries[i].number;
  return 0;
}

bool DDPrivKindHasObject(int32_t kind) {
  return !(kind == 1 || kind == 2 || (kind >= 10 && kind <= 13));
}
