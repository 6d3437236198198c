// Writing catalog_gen.h and catalog_gen.cc: the offsets of every column as
// named constants, the tables, columns and indexes as arrays, every table's
// description list, the self-description and seed rows and the messages.
// The output depends on the definition only, byte for byte.
#include <algorithm>
#include <sstream>

#include "tools/dictgen/catalog_rows.h"

namespace dictgen {
namespace {

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

int32_t FormCode(Form f) {
  return static_cast<int32_t>(f) + 1;
}

int32_t SequenceStart(const Catalog& catalog) {
  int32_t top = std::max(catalog.schema_id, 141);
  for (const Table& t : catalog.tables) {
    top = std::max({top, t.number, t.constraint_id});
    for (const Index& ix : t.indexes) top = std::max(top, ix.number);
  }
  return top + 1;
}

const char kHeaderTypes[] = R"(#include <cstdint>

// Column forms: 1 integer of 7 bytes (precision 11), 2 of 11 bytes
// (precision 19), 3 of 4 bytes (precision 5), 4 of 3 bytes (precision 3),
// 5 characters and 6 bytes (length + 1 with the null indicator first), 7
// three-byte characters (3 x length + 1).
enum : int32_t {
  CATALOG_INT = 1,
  CATALOG_INT64 = 2,
  CATALOG_INT5 = 3,
  CATALOG_INT3 = 4,
  CATALOG_CHAR = 5,
  CATALOG_BYTE = 6,
  CATALOG_TEXT3 = 7,
};

struct CatalogColumn {
  int32_t offset;
  int32_t width;
  int32_t form;
  int32_t length;  // characters or bytes of forms 5 to 7, else 0
  const char* name;
};

struct CatalogIndex {
  int32_t number;
  int32_t kind;  // 3 index, 5 unique constraint
  int32_t key_length;
  int32_t entry_length;
  int32_t first_key;  // into kCatalogIndexKeys (positions in kCatalogColumns)
  int32_t key_count;
};

struct CatalogTable {
  int32_t number;
  const char* name;
  int32_t key_length;
  int32_t record_length;
  int32_t constraint_id;
  int32_t trailing_start;  // 0: no trailing part
  int32_t first_column;
  int32_t column_count;
  int32_t first_index;
  int32_t index_count;
  int32_t first_word;  // of its description list in kCatalogDescriptionWords
  int32_t words;
};

// One non-null column value of a generated row.
struct CatalogValue {
  int32_t offset;
  int32_t is_text;
  int64_t number;
  const char* text;
};

struct CatalogRow {
  int32_t table;
  int32_t first_value;
  int32_t value_count;
};

struct CatalogMessage {
  int32_t source;
  int32_t number;
  int32_t severity;
  int32_t line_count;
  const char* lines[2];
};
)";

const char kHeaderArrays[] = R"(
extern const CatalogTable kCatalogTables[];
extern const int32_t kCatalogTableCount;
extern const CatalogColumn kCatalogColumns[];
extern const int32_t kCatalogColumnCount;
extern const CatalogIndex kCatalogIndexes[];
extern const int32_t kCatalogIndexCount;
extern const int32_t kCatalogIndexKeys[];
extern const int32_t kCatalogDescriptionWords[];
// The six tables the kernel registers before the catalog can be read, in
// their registration order.
inline constexpr int32_t kCatalogBaseTables[6] = {44, 16, 18, 19, 20, 22};
extern const CatalogValue kCatalogValues[];
extern const CatalogRow kCatalogSelfRows[];
extern const int32_t kCatalogSelfRowCount;
extern const CatalogRow kCatalogSeedRows[];
extern const int32_t kCatalogSeedRowCount;
extern const CatalogMessage kCatalogMessages[];
extern const int32_t kCatalogMessageCount;

// The table of that number, or nullptr.
const CatalogTable* CatalogFindTable(int32_t number);
// The description list of a table (its words in *words), or nullptr.
const int32_t* CatalogDescription(int32_t number, int32_t* words);
)";

void WriteConstants(std::ostringstream& h, const Catalog& c) {
  h << "inline constexpr char CATALOG_VERSION[] = " << Quote(c.version) << ";\n"
    << "inline constexpr char CATALOG_SCHEMA[] = " << Quote(c.schema_name) << ";\n"
    << "inline constexpr int32_t CATALOG_SCHEMA_ID = " << c.schema_id << ";\n"
    << "// The internal id sequence and its first value, above every table, index\n"
    << "// and constraint number of the catalog.\n"
    << "inline constexpr int32_t CATALOG_ID_SEQUENCE = 141;\n"
    << "inline constexpr int32_t CATALOG_ID_SEQUENCE_START = " << SequenceStart(c) << ";\n";
  for (const Table& t : c.tables) {
    h << "\n// Table " << t.number << ", " << t.name << ".\n"
      << "inline constexpr int32_t CAT_" << t.name << " = " << t.number << ";\n"
      << "inline constexpr int32_t " << t.name << "_KEYLEN = " << t.key_length << ";\n"
      << "inline constexpr int32_t " << t.name << "_RECLEN = " << t.record_length << ";\n";
    for (const Column& col : t.columns)
      h << "inline constexpr int32_t " << t.name << "_" << col.name << " = " << col.offset << ";\n";
  }
}

void WriteRows(std::ostringstream& s, const char* name, const char* count_name,
               const std::vector<Row>& rows, int32_t* next_value) {
  s << "\nconst CatalogRow " << name << "[] = {\n";
  for (const Row& r : rows) {
    s << "    {" << r.table << ", " << *next_value << ", " << r.values.size() << "},\n";
    *next_value += static_cast<int32_t>(r.values.size());
  }
  s << "};\nconst int32_t " << count_name << " = " << rows.size() << ";\n";
}

void WriteValues(std::ostringstream& s, const std::vector<Row>& self,
                 const std::vector<Row>& seed) {
  s << "\nconst CatalogValue kCatalogValues[] = {\n";
  for (const std::vector<Row>* rows : {&self, &seed})
    for (const Row& r : *rows)
      for (const Value& v : r.values)
        s << "    {" << v.offset << ", " << (v.is_text ? 1 : 0) << ", " << v.number << ", "
          << (v.is_text ? Quote(v.text) : "nullptr") << "},\n";
  s << "};\n";
}

void WriteTables(std::ostringstream& s, const Catalog& c) {
  std::ostringstream tables, columns, indexes, keys, words;
  int32_t column_at = 0, index_at = 0, key_at = 0, word_at = 0;
  for (const Table& t : c.tables) {
    const std::vector<int32_t> list = DescriptionList(t);
    tables << "    {" << t.number << ", " << Quote(t.name) << ", " << t.key_length << ", "
           << t.record_length << ", " << t.constraint_id << ", " << t.trailing_start << ", "
           << column_at << ", " << t.columns.size() << ", " << index_at << ", " << t.indexes.size()
           << ", " << word_at << ", " << list.size() << "},\n";
    for (const Column& col : t.columns) {
      const bool sized =
          col.form == Form::kChar || col.form == Form::kByte || col.form == Form::kText3;
      columns << "    {" << col.offset << ", " << FormWidth(col.form, col.length) << ", "
              << FormCode(col.form) << ", " << (sized ? col.length : 0) << ", " << Quote(col.name)
              << "},\n";
    }
    for (const Index& ix : t.indexes) {
      indexes << "    {" << ix.number << ", " << ix.kind << ", " << DerivedKeyLength(t, ix) << ", "
              << DerivedEntryLength(t, ix) << ", " << key_at << ", " << ix.key_columns.size()
              << "},\n";
      for (const std::string& k : ix.key_columns) {
        int32_t at = column_at;
        for (const Column& col : t.columns) {
          if (col.name == k) break;
          ++at;
        }
        keys << at << ", ";
        ++key_at;
      }
    }
    words << "    // " << t.number << "\n   ";
    for (int32_t w : list) words << " " << w << ",";
    words << "\n";
    column_at += static_cast<int32_t>(t.columns.size());
    index_at += static_cast<int32_t>(t.indexes.size());
    word_at += static_cast<int32_t>(list.size());
  }
  s << "\nconst CatalogTable kCatalogTables[] = {\n"
    << tables.str() << "};\n"
    << "const int32_t kCatalogTableCount = " << c.tables.size() << ";\n"
    << "\nconst CatalogColumn kCatalogColumns[] = {\n"
    << columns.str() << "};\n"
    << "const int32_t kCatalogColumnCount = " << column_at << ";\n"
    << "\nconst CatalogIndex kCatalogIndexes[] = {\n"
    << indexes.str() << "};\n"
    << "const int32_t kCatalogIndexCount = " << index_at << ";\n"
    << "\nconst int32_t kCatalogIndexKeys[] = {" << keys.str() << "};\n"
    << "\nconst int32_t kCatalogDescriptionWords[] = {\n"
    << words.str() << "};\n";
}

void WriteMessages(std::ostringstream& s, const Catalog& c) {
  s << "\nconst CatalogMessage kCatalogMessages[] = {\n";
  for (const Message& m : c.messages) {
    s << "    {" << m.source << ", " << m.number << ", " << m.severity << ", " << m.lines.size()
      << ", {";
    for (std::size_t i = 0; i < 2; ++i)
      s << (i < m.lines.size() ? Quote(m.lines[i]) : "nullptr") << (i == 0 ? ", " : "");
    s << "}},\n";
  }
  s << "};\nconst int32_t kCatalogMessageCount = " << c.messages.size() << ";\n";
}

const char kLookups[] = R"(
const CatalogTable* CatalogFindTable(int32_t number) {
  for (int32_t i = 0; i < kCatalogTableCount; ++i)
    if (kCatalogTables[i].number == number) return &kCatalogTables[i];
  return nullptr;
}

const int32_t* CatalogDescription(int32_t number, int32_t* words) {
  const CatalogTable* t = CatalogFindTable(number);
  if (!t) return nullptr;
  *words = t->words;
  return kCatalogDescriptionWords + t->first_word;
}
)";

}  // namespace

bool Generate(const Catalog& catalog, std::string* header, std::string* source, DefError* error) {
  std::vector<Row> self, seed;
  if (!SelfDescriptionRows(catalog, &self, error) || !SeedRows(catalog, &seed, error)) return false;
  const char* banner =
      "// Generated by hb_dictgen from dict/catalog/catalog.def and messages.def.\n"
      "// Do not edit: change the definitions and rebuild.\n";
  std::ostringstream h;
  h << banner << "#pragma once\n\n" << kHeaderTypes << "\n";
  WriteConstants(h, catalog);
  h << kHeaderArrays;
  std::ostringstream s;
  s << banner << "#include \"catalog_gen.h\"\n";
  WriteTables(s, catalog);
  WriteValues(s, self, seed);
  int32_t next_value = 0;
  WriteRows(s, "kCatalogSelfRows", "kCatalogSelfRowCount", self, &next_value);
  WriteRows(s, "kCatalogSeedRows", "kCatalogSeedRowCount", seed, &next_value);
  WriteMessages(s, catalog);
  s << kLookups;
  *header = h.str();
  *source = s.str();
  return true;
}

}  // namespace dictgen
