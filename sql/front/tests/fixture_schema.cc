// The compiler tests' schema: its description, the DDL of the two outside
// engines and its writer over the dictionary's inserts.
#include "sql/front/tests/fixture_schema.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <sstream>

#include "catalog_gen.h"
#include "dict/dictionary_services.h"
#include "dict/row_image.h"
#include "dict/statement_functions.h"

namespace fixture {
namespace {

// Bytes a value of the type takes in the record.
int32_t DataBytes(const Column& c) {
  switch (c.type) {
    case kChar: return c.length;
    case kVarchar: return c.length + 2;
    case kNchar: return 3 * c.length;
    case kNvarchar: return 3 * c.length + 2;
    case kSmallint: return 2;
    case kInteger: case kReal: case kDate: return 4;
    case kBigint: case kDouble: case kTimestamp: return 8;
    case kDecimal: case kNumeric: return c.length / 2 + 1;
    default: return 0;
  }
}

Column Col(const char* name, int32_t type, int32_t length = 0, int32_t scale = 0,
           bool not_null = false, const char* default_text = "") {
  Column c;
  c.name = name;
  c.type = type;
  c.length = length;
  c.scale = scale;
  c.not_null = not_null;
  c.default_text = default_text;
  return c;
}
Column OfDomain(Column c, const char* domain) {
  c.domain = domain;
  return c;
}

std::vector<Grant> Owner(const std::string& owner) {
  std::vector<Grant> g;
  for (int32_t p = 1; p <= 6; ++p) g.push_back({owner, p});
  return g;
}

}  // namespace

Schema MakeSchema(const std::string& owner, const std::string& user, int32_t first) {
  Schema s;
  s.first_id = first;
  s.owner = owner;
  s.user = user;
  s.collations["C_BIN"] = {first + 1, "C_BIN", "BINARY"};
  s.sequences["ORDER_NO"] = {first + 2, "ORDER_NO", 1, 1, 1000000};
  s.domains["MONEY"] = {first + 10, "MONEY", kDecimal, 9, 2, true, "0",
                        {{first + 11, "MONEY_NOT_NEGATIVE", "VALUE >= 0"}}};
  s.domains["NUMERIC"] = {first + 12, "NUMERIC", kInteger, 10, 0, false, "", {}};
  s.domains["CODE"] = {first + 13, "CODE", kChar, 3, 0, false, "'XXX'",
                       {{first + 14, "CODE_NOT_Z", "VALUE <> 'ZZZ'"},
                        {first + 15, "CODE_FROM_A", "VALUE >= 'A'"}}};
  Table customers;
  customers.id = first + 100;
  customers.name = "CUSTOMERS";
  customers.columns = {Col("ID", kInteger, 10, 0, true),
                       Col("NAME", kVarchar, 40, 0, true),
                       OfDomain(Col("CODE", kChar, 3, 0, false, "'XXX'"), "CODE"),
                       Col("NICK", kNchar, 5, 0, false, "'abcde'"),
                       Col("SMALL", kSmallint, 5),
                       Col("BIG", kBigint, 19),
                       Col("RATE", kNumeric, 7, 3, false, "0"),
                       Col("CREATED", kTimestamp, 3, 3, false, "CURRENT_TIMESTAMP(3)"),
                       Col("BORN", kDate),
                       Col("SCORE", kReal, 7),
                       Col("WEIGHT", kDouble, 15),
                       Col("FLAG", kChar, 1, 0, true, "'N'")};
  customers.keys = {{first + 103, "CUSTOMERS_PK", kPrimaryKey, {{"ID"}}},
                    {first + 104, "CUSTOMERS_BY_NAME", kIndex, {{"NAME"}, {"FLAG", true}}}};
  customers.checks = {{first + 105, "RATE_NOT_NEGATIVE", "RATE >= 0"}};
  customers.grants = Owner(owner);
  customers.grants.push_back({user, 1});
  customers.triggers = {{first + 106, "CUSTOMERS_NEW", "INSERT", "BEFORE"}};
  Table orders;
  orders.id = first + 110;
  orders.name = "ORDERS";
  orders.columns = {Col("ORDER_NO", kInteger, 10, 0, true),
                    Col("CUSTOMER", kInteger, 10, 0, true),
                    OfDomain(Col("AMOUNT", kDecimal, 9, 2, true, "0"), "MONEY"),
                    Col("NOTE", kNvarchar, 20)};
  orders.keys = {{first + 111, "ORDERS_PK", kPrimaryKey, {{"ORDER_NO"}}},
                 {first + 112, "ORDERS_BY_CUSTOMER", kUnique, {{"CUSTOMER", true}, {"ORDER_NO"}}}};
  orders.grants = Owner(owner);
  Table items;
  items.id = first + 120;
  items.name = "ITEMS";
  items.columns = {Col("ORDER_NO", kInteger, 10, 0, true),
                   Col("LINE", kSmallint, 5, 0, true),
                   Col("PRODUCT", kChar, 10, 0, true),
                   Col("QTY", kInteger, 10, 0, false, "1"),
                   OfDomain(Col("PRICE", kDecimal, 9, 2), "MONEY"),
                   Col("TAX", kNumeric, 5, 2)};
  items.keys = {{first + 121, "ITEMS_PK", kPrimaryKey, {{"ORDER_NO"}, {"LINE"}}}};
  items.checks = {{first + 122, "QTY_POSITIVE", "QTY > 0"}};
  items.grants = Owner(owner);
  Table view;
  view.id = first + 130;
  view.name = "BIG_ORDERS";
  view.view_query = "SELECT ORDER_NO, AMOUNT FROM ORDERS WHERE AMOUNT > 100";
  view.columns = {Col("ORDER_NO", kInteger, 10, 0, true), Col("AMOUNT", kDecimal, 9, 2, true)};
  view.grants = {{owner, 1}, {user, 1}};
  for (Table* t : {&customers, &orders, &items, &view}) {
    int32_t offset = 0;
    for (size_t i = 0; i < t->columns.size(); ++i) {
      Column& c = t->columns[i];
      c.number = static_cast<int32_t>(i) + 1;
      c.offset = offset;
      c.byte_length = DataBytes(c) + (c.not_null ? 0 : 1);
      offset += c.byte_length;
    }
    s.tables[t->name] = *t;
  }
  s.routines["DOUBLE_IT"] = {first + 140, "DOUBLE_IT", "X", "X * 2"};
  return s;
}

namespace {

std::string TypeText(const Column& c, bool postgres) {
  auto sized = [&](const char* name) { return std::string(name) + "(" + std::to_string(c.length) + ")"; };
  switch (c.type) {
    case kChar: return sized("CHAR");
    case kVarchar: return sized("VARCHAR");
    case kNchar: return sized(postgres ? "NATIONAL CHARACTER" : "NCHAR");
    case kNvarchar: return sized(postgres ? "NATIONAL CHARACTER VARYING" : "NVARCHAR");
    case kSmallint: return "SMALLINT";
    case kInteger: return "INTEGER";
    case kBigint: return "BIGINT";
    case kReal: return "REAL";
    case kDouble: return "DOUBLE PRECISION";
    case kDate: return "DATE";
    case kTimestamp: return "TIMESTAMP(" + std::to_string(c.scale) + ")";
    case kDecimal: case kNumeric:
      return std::string(c.type == kDecimal ? "DECIMAL" : "NUMERIC") + "(" +
             std::to_string(c.length) + "," + std::to_string(c.scale) + ")";
    default: return "?";
  }
}

// A default as each engine spells it: SQLite's current timestamp has no
// precision.
std::string DefaultText(const std::string& text, bool postgres) {
  if (!postgres && text.rfind("CURRENT_TIMESTAMP", 0) == 0) return "CURRENT_TIMESTAMP";
  return text;
}

// A name PostgreSQL reserves for a type is quoted.
std::string PgName(const std::string& name) {
  return name == "NUMERIC" ? "\"" + name + "\"" : name;
}

// "VALUE" of a domain's check replaced by the column's name.
std::string OnColumn(std::string text, const std::string& column) {
  for (size_t at; (at = text.find("VALUE")) != std::string::npos;) text.replace(at, 5, column);
  return text;
}

std::string KeyParts(const Key& k) {
  std::string out;
  for (const KeyPart& p : k.parts)
    out += (out.empty() ? "" : ", ") + p.column + (p.descending ? " DESC" : "");
  return out;
}

std::vector<const Table*> TablesThenViews(const Schema& s) {
  std::vector<const Table*> out;
  for (bool views : {false, true})
    for (const auto& [name, t] : s.tables)
      if (t.IsView() == views) out.push_back(&t);
  return out;
}

std::vector<uint8_t> Text3(const std::string& text) {
  std::vector<uint8_t> out;
  for (char c : text) out.insert(out.end(), {0, 0, static_cast<uint8_t>(c)});
  return out;
}

}  // namespace

const Column* Table::Find(const std::string& column) const {
  for (const Column& c : columns)
    if (c.name == column) return &c;
  return nullptr;
}

const Domain* Schema::DomainOf(const Column& c) const {
  auto it = domains.find(c.domain);
  return it == domains.end() ? nullptr : &it->second;
}

std::vector<int32_t> Schema::DomainChecks(const std::string& domain) const {
  std::vector<int32_t> ids;
  if (auto it = domains.find(domain); it != domains.end())
    for (const Check& c : it->second.checks) ids.push_back(c.id);
  std::sort(ids.begin(), ids.end());
  return ids;
}

bool Schema::Holds(const std::string& grantee, const std::string& table, int32_t privilege) const {
  auto it = tables.find(table);
  if (it == tables.end()) return false;
  for (const Grant& g : it->second.grants)
    if (g.grantee == grantee && g.privilege == privilege) return true;
  return false;
}

const Schema& TestSchema() {
  static const Schema schema = MakeSchema(kAdmin, kUser, kFirstId);
  return schema;
}

std::string SqliteDdl(const Schema& s) {
  std::ostringstream out;
  for (const Table* t : TablesThenViews(s)) {
    if (t->IsView()) {
      out << "CREATE VIEW " << t->name << " AS " << t->view_query << ";\n";
      continue;
    }
    out << "CREATE TABLE " << t->name << " (";
    const char* sep = "";
    for (const Column& c : t->columns) {
      out << sep << c.name << " " << TypeText(c, false);
      sep = ", ";
      const Domain* d = s.DomainOf(c);
      if (c.not_null || (d && d->not_null)) out << " NOT NULL";
      const std::string def = !c.default_text.empty() ? c.default_text : d ? d->default_text : "";
      if (!def.empty()) out << " DEFAULT " << DefaultText(def, false);
      if (d)
        for (const Check& k : d->checks) out << " CHECK (" << OnColumn(k.text, c.name) << ")";
    }
    for (const Key& k : t->keys)
      if (k.kind == kPrimaryKey) out << ", CONSTRAINT " << k.name << " PRIMARY KEY (" << KeyParts(k) << ")";
    for (const Check& k : t->checks) out << ", CONSTRAINT " << k.name << " CHECK (" << k.text << ")";
    out << ");\n";
    for (const Key& k : t->keys)
      if (k.kind != kPrimaryKey)
        out << "CREATE " << (k.kind == kUnique ? "UNIQUE " : "") << "INDEX " << k.name << " ON "
            << t->name << " (" << KeyParts(k) << ");\n";
    for (const Trigger& g : t->triggers)
      out << "CREATE TRIGGER " << g.name << " " << g.timing << " " << g.event << " ON " << t->name
          << " BEGIN SELECT 1; END;\n";
  }
  return out.str();
}

std::string PostgresDdl(const Schema& s) {
  const std::string q = s.owner + ".";
  std::ostringstream out;
  out << "-- The compiler tests' schema (sql/front/tests/fixture_schema.cc), as\n"
         "-- PostgreSQL takes it: run by hand in a scratch database as a superuser,\n"
         "--   psql -v ON_ERROR_STOP=1 -f fixture_schema_pg.sql\n"
         "-- A test keeps this file equal to what the description generates.\n"
         "BEGIN;\n"
         "DO $$ BEGIN CREATE ROLE " << s.user << "; EXCEPTION WHEN duplicate_object THEN NULL; END $$;\n"
         "CREATE SCHEMA " << s.owner << ";\n"
         "SET search_path TO " << s.owner << ";\n";
  for (const auto& [name, c] : s.collations)
    out << "CREATE COLLATION " << q << name << " (locale = 'C');\n";
  for (const auto& [name, q2] : s.sequences)
    out << "CREATE SEQUENCE " << q << name << " INCREMENT BY " << q2.increment << " MINVALUE "
        << q2.minimum << " MAXVALUE " << q2.maximum << ";\n";
  for (const auto& [name, d] : s.domains) {
    Column as;
    as.type = d.type;
    as.length = d.length;
    as.scale = d.scale;
    out << "CREATE DOMAIN " << q << PgName(name) << " AS " << TypeText(as, true);
    if (d.not_null) out << " NOT NULL";
    if (!d.default_text.empty()) out << " DEFAULT " << d.default_text;
    for (const Check& k : d.checks) out << " CONSTRAINT " << k.name << " CHECK (" << k.text << ")";
    out << ";\n";
  }
  for (const Table* t : TablesThenViews(s)) {
    if (t->IsView()) {
      out << "CREATE VIEW " << q << t->name << " AS " << t->view_query << ";\n";
    } else {
      out << "CREATE TABLE " << q << t->name << " (";
      const char* sep = "";
      for (const Column& c : t->columns) {
        out << sep << c.name << " " << (c.domain.empty() ? TypeText(c, true) : q + PgName(c.domain));
        sep = ", ";
        if (c.not_null) out << " NOT NULL";
        if (!c.default_text.empty()) out << " DEFAULT " << DefaultText(c.default_text, true);
      }
      for (const Key& k : t->keys)
        if (k.kind == kPrimaryKey)
          out << ", CONSTRAINT " << k.name << " PRIMARY KEY (" << KeyParts(k) << ")";
      for (const Check& k : t->checks) out << ", CONSTRAINT " << k.name << " CHECK (" << k.text << ")";
      out << ");\n";
      for (const Key& k : t->keys)
        if (k.kind != kPrimaryKey)
          out << "CREATE " << (k.kind == kUnique ? "UNIQUE " : "") << "INDEX " << k.name << " ON "
              << q << t->name << " (" << KeyParts(k) << ");\n";
      for (const Trigger& g : t->triggers)
        out << "CREATE FUNCTION " << q << g.name << "_F() RETURNS trigger LANGUAGE plpgsql AS "
            << "$$BEGIN RETURN NEW; END$$;\nCREATE TRIGGER " << g.name << " " << g.timing << " "
            << g.event << " ON " << q << t->name << " FOR EACH ROW EXECUTE FUNCTION " << q
            << g.name << "_F();\n";
    }
    for (const Grant& g : t->grants)
      if (g.grantee != s.owner) {
        static const char* const kWords[] = {"", "SELECT", "INSERT", "DELETE", "UPDATE", "REFERENCES"};
        out << "GRANT " << kWords[g.privilege] << " ON " << q << t->name << " TO " << g.grantee << ";\n";
      }
  }
  for (const auto& [name, r] : s.routines)
    out << "CREATE FUNCTION " << q << name << "(" << r.parameter
        << " INTEGER) RETURNS INTEGER LANGUAGE SQL RETURN " << r.body << ";\n";
  out << "COMMIT;\n";
  return out.str();
}

namespace {

// The writer's steps: each dictionary call's status, the first failure kept.
class Writer {
 public:
  Writer(const Sink& sink, const std::string& schema, std::string* failed)
      : sink_(sink), schema_(schema), failed_(failed) {}
  int32_t status() const { return status_; }
  int32_t* pb() {
    pb_[0] = 0;
    pb_[1] = sink_.usr;
    return pb_;
  }
  int32_t* base() const { return sink_.base; }
  void Done(const std::string& what) { Done(pb_[0], what); }
  void Done(int32_t status, const std::string& what) {
    if (status != 0 && status_ == 0) {
      status_ = status;
      *failed_ = what;
    }
  }
  void Object(int32_t id, int32_t kind, const std::string& name) {
    DDInsObject(base(), pb(), id, kind, schema_.data(), static_cast<int32_t>(schema_.size()),
                name.data(), static_cast<int32_t>(name.size()));
    Done("object " + name);
  }
  // A row of a catalog table the dictionary has no insert for; `text3`
  // puts a text into a three-byte column at its offset (blank padded).
  void Row(int32_t table, std::span<const CatalogValue> values, int32_t text_offset = -1,
           const std::string& text = "", int32_t text_characters = 0) {
    const CatalogTable* t = CatalogFindTable(table);
    std::vector<uint8_t> record(static_cast<size_t>(t->record_length));
    const CatalogRow row{table, 0, static_cast<int32_t>(values.size())};
    if (int32_t rc = DDRowImage(row, values, record); rc != 0) return Done(rc, "row of table " + std::to_string(table));
    if (text_offset >= 0) {
      record[static_cast<size_t>(text_offset)] = 0;
      for (int32_t i = 0; i < text_characters; ++i) {
        uint8_t* at = &record[static_cast<size_t>(text_offset + 1 + 3 * i)];
        at[0] = at[1] = 0;
        at[2] = i < static_cast<int32_t>(text.size()) ? static_cast<uint8_t>(text[i]) : ' ';
      }
    }
    Done(sink_.insert_row(table, record), "row of table " + std::to_string(table));
  }

 private:
  const Sink& sink_;
  const std::string schema_;
  std::string* failed_;
  int32_t pb_[2] = {};
  int32_t status_ = 0;
};

constexpr int32_t kDatabank = 1;
constexpr int32_t kTextColumnCharacters = 400;

const char* TypeWord(int32_t type) {
  switch (type) {
    case kChar: return "CHARACTER";
    case kDecimal: return "DECIMAL";
    case kInteger: return "INTEGER";
    default: return "";
  }
}

void WriteDomain(Writer& w, const Domain& d) {
  w.Object(d.id, 2, d.name);
  const bool character = d.type == kChar;
  std::vector<CatalogValue> row = {{DOMAINS_DOMAIN_ID, 0, d.id, nullptr},
                                   {DOMAINS_DATA_TYPE, 1, 0, TypeWord(d.type)},
                                   {DOMAINS_CHAR_1348, 1, 0, d.not_null ? "YES" : "NO "},
                                   {DOMAINS_CHARACTER_SET_ID, 0, character ? 136 : 0, nullptr},
                                   {DOMAINS_COLLATION_ID, 0, character ? 135 : 0, nullptr}};
  if (character) {
    row.push_back({DOMAINS_CHARACTER_MAXIMUM_LENGTH, 0, d.length, nullptr});
  } else {
    row.push_back({DOMAINS_NUMERIC_PRECISION, 0, d.length, nullptr});
    row.push_back({DOMAINS_NUMERIC_SCALE, 0, d.scale, nullptr});
  }
  if (d.default_text.empty())
    w.Row(CAT_DOMAINS, row);
  else
    w.Row(CAT_DOMAINS, row, DOMAINS_DOMAIN_DEFAULT, d.default_text, kTextColumnCharacters);
  for (const Check& k : d.checks) {
    w.Object(k.id, 16, k.name);
    const std::vector<uint8_t> text = Text3(k.text);
    DDInsDomainCheck(w.base(), w.pb(), k.id, d.id, false, false, text.data(),
                     static_cast<int32_t>(k.text.size()));
    w.Done("check " + k.name);
  }
}

void WriteTable(Writer& w, const Schema& s, const Table& t) {
  w.Object(t.id, t.IsView() ? 7 : 6, t.name);
  int32_t key_length = 0;
  for (const Key& k : t.keys)
    if (k.kind == kPrimaryKey)
      for (const KeyPart& p : k.parts) key_length += t.Find(p.column)->byte_length;
  DDInsTable(w.base(), w.pb(), t.id, t.IsView() ? 2 : 1, s.first_id, key_length, !t.IsView(),
             kDatabank);
  w.Done("table " + t.name);
  if (t.IsView()) {
    const std::vector<uint8_t> text = Text3(t.view_query);
    DDInsView(w.base(), w.pb(), t.id, false, false, text.data(),
              static_cast<int32_t>(t.view_query.size()));
    w.Done("view " + t.name);
  }
  for (const Column& c : t.columns) {
    DDColumnDef d;
    d.name = c.name.data();
    d.name_length = static_cast<int32_t>(c.name.size());
    d.number = c.number;
    d.type = c.type;
    d.length = c.length;
    d.scale = c.scale;
    d.nullable = !c.not_null;
    d.offset = c.offset;
    d.byte_length = c.byte_length;
    const Domain* domain = s.DomainOf(c);
    d.domain_id = domain ? domain->id : 0;
    const std::vector<uint8_t> text = Text3(c.default_text);
    DDInsColumn(w.base(), w.pb(), t.id, d, text.data(), static_cast<int32_t>(c.default_text.size()));
    w.Done("column " + t.name + "." + c.name);
  }
  for (const Key& k : t.keys) {
    w.Object(k.id, k.kind == kIndex ? 4 : 16, k.name);
    int32_t length = 0;
    for (const KeyPart& p : k.parts) length += t.Find(p.column)->byte_length;
    DDInsConstraint(w.base(), w.pb(), k.id, k.kind, t.id, length,
                    static_cast<int32_t>(k.parts.size()), length, 0, 0);
    w.Done("key " + k.name);
    for (size_t i = 0; i < k.parts.size(); ++i) {
      const Column* c = t.Find(k.parts[i].column);
      DDInsKey(w.base(), w.pb(), k.id, t.id, static_cast<int32_t>(i) + 1, c->name.data(),
               static_cast<int32_t>(c->name.size()), k.kind, k.parts[i].descending ? -1 : 1,
               c->number);
      w.Done("key column " + k.name + "." + c->name);
    }
  }
  for (const Check& k : t.checks) {
    w.Object(k.id, 16, k.name);
    const std::vector<uint8_t> text = Text3(k.text);
    DDInsCheck(w.base(), w.pb(), k.id, t.id, false, false, text.data(),
               static_cast<int32_t>(k.text.size()));
    w.Done("check " + k.name);
  }
  for (const Grant& g : t.grants) {
    DDInsTablePriv(w.base(), w.pb(), t.id, g.privilege, g.grantee.data(),
                   static_cast<int32_t>(g.grantee.size()), "SYSTEM", 6, false, false);
    w.Done("grant on " + t.name + " to " + g.grantee);
  }
  for (const Trigger& g : t.triggers) {
    w.Object(g.id, 13, g.name);
    const CatalogValue row[] = {{TRIGGERS_TRIGGER_ID, 0, g.id, nullptr},
                                {TRIGGERS_TABLE_ID, 0, t.id, nullptr},
                                {TRIGGERS_EVENT_MANIPULATION, 1, 0, g.event.c_str()},
                                {TRIGGERS_ACTION_ORIENTATION, 1, 0, "ROW"},
                                {TRIGGERS_ACTION_TIMING, 1, 0, g.timing.c_str()}};
    w.Row(CAT_TRIGGERS, row);
  }
}

}  // namespace

int32_t WriteSchema(const Schema& s, const Sink& sink, std::string* failed) {
  Writer w(sink, s.owner, failed);
  DDInsObject(w.base(), w.pb(), s.first_id, 15, "", 0, s.owner.data(),
              static_cast<int32_t>(s.owner.size()));
  w.Done("schema object");
  DDInsSchema(w.base(), w.pb(), s.first_id);
  w.Done("schema");
  for (const auto& [name, c] : s.collations) {
    w.Object(c.id, 18, name);
    DDInsCollation(w.base(), w.pb(), c.id, reinterpret_cast<const uint8_t*>(c.definition.data()),
                   static_cast<int32_t>(c.definition.size()));
    w.Done("collation " + name);
  }
  for (const auto& [name, q] : s.sequences) {
    w.Object(q.id, 14, name);
    DDInsSequence(w.base(), w.pb(), q.id, nullptr, q.increment, q.minimum, q.maximum);
    w.Done("sequence " + name);
  }
  for (const auto& [name, d] : s.domains) WriteDomain(w, d);
  for (const Table* t : TablesThenViews(s)) WriteTable(w, s, *t);
  for (const auto& [name, r] : s.routines) {
    w.Object(r.id, 12, name);
    const CatalogValue row[] = {{ROUTINES_ROUTINE_ID, 0, r.id, nullptr},
                                {ROUTINES_ROUTINE_TYPE, 1, 0, "FUNCTION"},
                                {ROUTINES_SQL_DATA_ACCESS, 1, 0, "CONTAINS SQL"},
                                {ROUTINES_ROUTINE_BODY, 1, 0, "SQL"}};
    w.Row(CAT_ROUTINES, row);
    DDInsRoutineName(w.base(), w.pb(), r.id, name.data(), static_cast<int32_t>(name.size()),
                     name.data(), static_cast<int32_t>(name.size()));
    w.Done("routine name " + name);
    const std::string text = "CREATE FUNCTION " + name + "(" + r.parameter +
                             " INTEGER) RETURNS INTEGER RETURN " + r.body;
    const std::vector<uint8_t> text3 = Text3(text);
    DDInsSource(w.base(), w.pb(), r.id, "", 0, 1, text3.data(), static_cast<int32_t>(text.size()));
    w.Done("routine text " + name);
  }
  return w.status();
}

int32_t StoreTree(const Sink& sink, int32_t id, const std::string& image) {
  // Definition 59 of the object, by the dictionary's own store.
  int32_t pb[2] = {0, sink.usr};
  DDStoreDefinition(sink.base, pb, id, 0, DD_DEFINITION_TREE,
                    reinterpret_cast<const uint8_t*>(image.data()),
                    static_cast<int32_t>(image.size()));
  return pb[0];
}

int32_t SqliteScalar(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) return -1;
  const int32_t value = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : -1;
  sqlite3_finalize(stmt);
  return value;
}

}  // namespace fixture
