// The catalog as hb_dictgen reads it from catalog.def and messages.def:
// tables with their columns and indexes, the catalog's constants and the
// message texts, each item keeping the file and line it came from so that
// every check can name where the definition is broken.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dictgen {

struct Where {
  std::string file;
  int line = 0;
};

enum class Form { kInt, kInt64, kInt5, kInt3, kChar, kByte, kText3 };

struct Column {
  Where where;
  int32_t offset = 0;
  Form form = Form::kInt;
  int32_t length = 0;  // characters or bytes for char, byte and text3
  std::string name;
};

struct Index {
  Where where;
  int32_t number = 0;
  int32_t kind = 0;         // 3 index, 5 unique constraint
  int32_t stated_key = -1;  // -1: not stated
  int32_t stated_entry = -1;
  std::vector<std::string> key_columns;
};

struct Table {
  Where where;
  int32_t number = 0;
  std::string name;
  int32_t key_length = 0;
  int32_t record_length = 0;
  int32_t constraint_id = 0;
  int32_t trailing_start = 0;  // 0: no trailing part
  std::vector<Column> columns;
  std::vector<Index> indexes;
};

struct Message {
  Where where;
  int32_t source = 0;
  int32_t number = 0;
  int32_t severity = 0;
  std::vector<std::string> lines;
};

struct Source {
  Where where;
  int32_t id = 0;
  std::string name;
};

struct Catalog {
  std::string version;
  Where version_where;
  std::string schema_name;
  int32_t schema_id = 0;
  std::vector<Table> tables;
  std::vector<Source> sources;
  std::vector<Message> messages;
};

// A definition error: where it is and what is wrong.
struct DefError {
  Where where;
  std::string message;
};

// Bytes a column of this form and length takes in a row.
int32_t FormWidth(Form form, int32_t length);

// Reads catalog.def into `catalog`; false with `error` set on the first fault.
bool ReadCatalog(const std::string& path, Catalog* catalog, DefError* error);
// Reads messages.def into `catalog`.
bool ReadMessages(const std::string& path, Catalog* catalog, DefError* error);
// Checks every rule of the definition; false with the first fault.
bool CheckCatalog(const Catalog& catalog, DefError* error);

// Index key and entry lengths derived from the key columns.
int32_t DerivedKeyLength(const Table& table, const Index& index);
int32_t DerivedEntryLength(const Table& table, const Index& index);
// The description list of a table, in the table description loader's form.
std::vector<int32_t> DescriptionList(const Table& table);
// Limit of a description list: the words of a thread's CDITCB area.
inline constexpr std::size_t kDescriptionWordLimit = 1250;

// The generated header and source; false when a column the self-description
// rows need is missing from the definition.
bool Generate(const Catalog& catalog, std::string* header, std::string* source, DefError* error);

}  // namespace dictgen
