// The self-description rows (every system table's row in 16, its primary
// key and indexes in 18, their key columns in 20, its columns in 22) and the
// seed rows of 44 and 48-50, built from the definition. The columns they
// fill are found by name in the definition itself, so a renamed column
// fails generation instead of leaving a row half written.
#include "tools/dictgen/catalog_rows.h"

namespace dictgen {
namespace {

class RowBuilder {
 public:
  RowBuilder(const Catalog& catalog, DefError* error) : catalog_(catalog), error_(error) {}

  // Starts a row of `table`.
  bool Begin(int32_t table) {
    table_ = nullptr;
    for (const Table& t : catalog_.tables)
      if (t.number == table) table_ = &t;
    if (!table_)
      return Fault(catalog_.version_where,
                   "system table " + std::to_string(table) + " is not defined");
    row_ = {table, {}};
    return true;
  }
  bool Number(const std::string& column, int64_t value) { return Put(column, false, value, ""); }
  bool Text(const std::string& column, const std::string& value) {
    return Put(column, true, 0, value);
  }
  Row Take() { return std::move(row_); }
  bool ok() const { return ok_; }

 private:
  bool Put(const std::string& column, bool is_text, int64_t number, const std::string& text) {
    if (!ok_) return false;
    for (const Column& c : table_->columns) {
      if (c.name != column) continue;
      const bool text_form = c.form == Form::kChar || c.form == Form::kByte;
      if (text_form != is_text || (is_text && static_cast<int32_t>(text.size()) > c.length))
        return Fault(c.where, "table " + std::to_string(table_->number) + " column " + column +
                                  " cannot hold the generated value");
      row_.values.push_back({c.offset, is_text, number, text});
      return true;
    }
    return Fault(table_->where, "table " + std::to_string(table_->number) + " needs column " +
                                    column + " for the generated rows");
  }
  bool Fault(const Where& where, const std::string& message) {
    if (ok_) *error_ = {where, message};
    ok_ = false;
    return false;
  }

  const Catalog& catalog_;
  DefError* error_;
  const Table* table_ = nullptr;
  Row row_;
  bool ok_ = true;
};

const Column* Find(const Table& t, const std::string& name) {
  for (const Column& c : t.columns)
    if (c.name == name) return &c;
  return nullptr;
}

// The columns that make up the table's own key, in order.
std::vector<const Column*> KeyColumns(const Table& t) {
  std::vector<const Column*> out;
  for (const Column& c : t.columns)
    if (c.offset < t.key_length) out.push_back(&c);
  return out;
}

void ConstraintRow(RowBuilder& b, int32_t id, const char* type, const Table& t, int32_t key,
                   int32_t count, int32_t entry) {
  b.Number("CONSTRAINT_ID", id);
  b.Text("CONSTRAINT_TYPE", type);
  b.Number("TABLE_ID", t.number);
  b.Number("KEY_LENGTH", key);
  b.Number("KEY_COLUMN_COUNT", count);
  b.Number("ENTRY_LENGTH", entry);
}

void KeyColumnRows(RowBuilder& b, std::vector<Row>* rows, int32_t id, const Table& t,
                   const std::vector<const Column*>& columns) {
  int32_t position = 0;
  for (const Column* c : columns) {
    if (!b.Begin(20)) return;
    b.Number("CONSTRAINT_ID", id);
    b.Number("TABLE_ID", t.number);
    b.Number("ORDINAL_POSITION", ++position);
    b.Text("COLUMN_NAME", c->name);
    b.Text("IS_ASCENDING", "YES");
    rows->push_back(b.Take());
  }
}

void ColumnRow(RowBuilder& b, const Table& t, const Column& c, int32_t position) {
  const FormType type = TypeOfForm(c.form);
  b.Number("TABLE_ID", t.number);
  b.Text("COLUMN_NAME", c.name);
  b.Number("COLUMN_ID", position);
  b.Number("ORDINAL_POSITION", position);
  b.Text("DATA_TYPE", type.type_word);
  if (type.precision == 0) {
    // National characters keep four bytes of room a character, as the
    // dictionary's own encoding of that type stores them.
    b.Number("CHARACTER_MAXIMUM_LENGTH", c.length);
    b.Number("CHARACTER_OCTET_LENGTH", c.form == Form::kText3 ? 4 * c.length : c.length);
  } else {
    b.Number("NUMERIC_PRECISION", type.precision);
    b.Number("NUMERIC_SCALE", 0);
    b.Number("NUMERIC_PRECISION_RADIX", 10);
  }
  b.Text("IS_NULLABLE", c.offset < t.key_length ? "NO " : "YES");
  b.Number("BYTE_OFFSET", c.offset);
  b.Number("BYTE_LENGTH", FormWidth(c.form, c.length));
}

}  // namespace

FormType TypeOfForm(Form form) {
  switch (form) {
    case Form::kInt:
      return {"INTEGER", 11};
    case Form::kInt64:
      return {"BIGINT", 19};
    case Form::kInt5:
      return {"SMALLINT", 5};
    case Form::kInt3:
      return {"DECIMAL", 3};
    case Form::kChar:
      return {"CHARACTER", 0};
    case Form::kByte:
      return {"BINARY", 0};
    case Form::kText3:
      return {"NATIONAL CHARACTER", 0};
  }
  return {"", 0};
}

bool SelfDescriptionRows(const Catalog& catalog, std::vector<Row>* rows, DefError* error) {
  RowBuilder b(catalog, error);
  for (const Table& t : catalog.tables) {
    const std::vector<const Column*> key = KeyColumns(t);
    if (!b.Begin(16)) return false;
    b.Number("TABLE_ID", t.number);
    b.Text("TABLE_TYPE", "BASE TABLE");
    b.Number("OWNER_ID", catalog.schema_id);
    b.Number("KEY_LENGTH", t.key_length);
    b.Number("RECORD_LENGTH", t.record_length);
    b.Number("TRAILING_START", t.trailing_start);
    b.Number("COLUMN_COUNT", static_cast<int64_t>(t.columns.size()));
    b.Text("IS_INSERTABLE_INTO", "NO ");
    b.Number("DATABANK_ID", 1);
    rows->push_back(b.Take());

    if (!b.Begin(18)) return false;
    ConstraintRow(b, t.constraint_id, "PRIMARY KEY", t, t.key_length,
                  static_cast<int32_t>(key.size()), t.record_length);
    rows->push_back(b.Take());
    KeyColumnRows(b, rows, t.constraint_id, t, key);
    for (const Index& ix : t.indexes) {
      if (!b.Begin(18)) return false;
      ConstraintRow(b, ix.number, ix.kind == 5 ? "UNIQUE" : "INDEX", t, DerivedKeyLength(t, ix),
                    static_cast<int32_t>(ix.key_columns.size()), DerivedEntryLength(t, ix));
      rows->push_back(b.Take());
      std::vector<const Column*> columns;
      for (const std::string& k : ix.key_columns) columns.push_back(Find(t, k));
      KeyColumnRows(b, rows, ix.number, t, columns);
    }
    int32_t position = 0;
    for (const Column& c : t.columns) {
      if (!b.Begin(22)) return false;
      ColumnRow(b, t, c, ++position);
      rows->push_back(b.Take());
    }
  }
  return b.ok();
}

const char* SeverityWord(int32_t severity) {
  static const char* const kWords[] = {"server information", "server warning", "server error",
                                       "server error",       "server error",   "server audit",
                                       "server trace",       "server alert"};
  return severity >= 1 && severity <= 8 ? kWords[severity - 1] : "server message";
}

bool SeedRows(const Catalog& catalog, std::vector<Row>* rows, DefError* error) {
  RowBuilder b(catalog, error);
  if (!b.Begin(44)) return false;
  b.Text("INFO_NAME", "CATALOG VERSION");
  b.Text("INFO_VALUE", catalog.version);
  rows->push_back(b.Take());
  for (const Source& s : catalog.sources) {
    if (!b.Begin(48)) return false;
    b.Number("SOURCE_ID", s.id);
    b.Text("SOURCE_NAME", s.name);
    rows->push_back(b.Take());
  }
  for (const Message& m : catalog.messages) {
    if (!b.Begin(50)) return false;
    b.Number("SOURCE_ID", m.source);
    b.Number("MESSAGE_NO", m.number);
    b.Number("SEVERITY", m.severity);
    b.Text("SEVERITY_NAME", SeverityWord(m.severity));
    rows->push_back(b.Take());
    int32_t line = 0;
    for (const std::string& text : m.lines) {
      if (!b.Begin(49)) return false;
      b.Number("SOURCE_ID", m.source);
      b.Number("MESSAGE_NO", m.number);
      b.Number("LINE_NO", ++line);
      b.Text("MESSAGE_TEXT", text);
      rows->push_back(b.Take());
    }
  }
  return b.ok();
}

}  // namespace dictgen
