// The rows hb_dictgen generates: the catalog's description of itself in
// tables 16, 18, 20 and 22, and the seed rows of tables 44 and 48 to 50.
// A row is a list of non-null column values by byte offset.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/dictgen/catalog_model.h"

namespace dictgen {

struct Value {
  int32_t offset = 0;
  bool is_text = false;
  int64_t number = 0;
  std::string text;
};

struct Row {
  int32_t table = 0;
  std::vector<Value> values;
};

// The dictionary's type word, numeric precision and the like of a column
// form, as a column row of table 22 stores them.
struct FormType {
  const char* type_word;
  int32_t precision;  // 0 for character forms
};
FormType TypeOfForm(Form form);

// False with `error` naming the missing column of 16, 18, 20 or 22.
bool SelfDescriptionRows(const Catalog& catalog, std::vector<Row>* rows, DefError* error);
bool SeedRows(const Catalog& catalog, std::vector<Row>* rows, DefError* error);

// The report word of a message severity.
const char* SeverityWord(int32_t severity);

}  // namespace dictgen
