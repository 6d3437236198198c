// The compiler tests' schema: a compact description of tables, views,
// columns with their types, NOT NULL and defaults, keys, checks,
// privileges, triggers, domains, sequences, a routine and a collation,
// written into the catalog through the dictionary's inserts, kept as a
// std::map model for the tests to compare the dictionary's answers with,
// and turned into SQLite and PostgreSQL DDL for outside checks. The
// description knows nothing of the database it is written into: the
// writer takes the word storage, the user whose dictionary work is open
// and a way to write a row the dictionary has no insert for.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct sqlite3;

namespace fixture {

// The names TestSchema() is made for: the owner (whose schema it is) and
// a user who holds SELECT on two objects only.
inline constexpr const char* kAdmin = "ADAM";
inline constexpr const char* kUser = "EVE";
inline constexpr int32_t kFirstId = 2000;
// The schema's objects take ids from its first id to the first id + 999:
// the schema itself the first.
inline constexpr int32_t kSchemaIds = 1000;

// Dictionary type codes the schema uses.
enum Type : int32_t {
  kChar = 1, kDecimal = 2, kVarchar = 5, kSmallint = 6, kInteger = 7, kReal = 8,
  kDouble = 10, kNumeric = 11, kDate = 12, kTimestamp = 14, kBigint = 28, kNchar = 34,
  kNvarchar = 35,
};

struct Column {
  std::string name;
  int32_t type = 0, length = 0, scale = 0;  // a domain's column: the domain's type
  bool not_null = false;
  std::string default_text;                 // as the catalog keeps it; empty: none
  std::string domain;                       // empty: none
  int32_t number = 0, offset = 0, byte_length = 0;  // filled by the model
};

// Key kinds as the dictionary numbers them.
enum KeyKind : int32_t { kPrimaryKey = 1, kIndex = 2, kUnique = 5 };
struct KeyPart {
  std::string column;
  bool descending = false;
};
struct Key {
  int32_t id = 0;
  std::string name;
  int32_t kind = 0;
  std::vector<KeyPart> parts;
};
struct Check {
  int32_t id = 0;
  std::string name;
  std::string text;  // an SQL condition; a domain's names its value VALUE
};
// Table privileges: 1 SELECT, 2 INSERT, 3 DELETE, 4 UPDATE, 5 REFERENCES, 6 LOAD.
struct Grant {
  std::string grantee;
  int32_t privilege = 0;
};
struct Trigger {
  int32_t id = 0;
  std::string name;
  std::string event;   // INSERT, UPDATE, DELETE
  std::string timing;  // BEFORE, AFTER
};

struct Table {
  int32_t id = 0;
  std::string name;
  std::string view_query;  // not empty: a view of this query
  std::vector<Column> columns;
  std::vector<Key> keys;
  std::vector<Check> checks;
  std::vector<Grant> grants;
  std::vector<Trigger> triggers;
  bool IsView() const { return !view_query.empty(); }
  const Column* Find(const std::string& column) const;
};
struct Domain {
  int32_t id = 0;
  std::string name;
  int32_t type = 0, length = 0, scale = 0;
  bool not_null = false;
  std::string default_text;
  std::vector<Check> checks;
};
struct Sequence {
  int32_t id = 0;
  std::string name;
  int32_t increment = 1, minimum = 1, maximum = 0;
};
struct Routine {
  int32_t id = 0;
  std::string name;
  std::string parameter;  // one INTEGER parameter
  std::string body;       // RETURN expression over it
};
struct Collation {
  int32_t id = 0;
  std::string name;
  std::string definition;
};

// The model: every object of the schema by name.
struct Schema {
  std::string owner;  // the schema's name and owner
  std::string user;   // the user without privileges but two SELECTs
  int32_t first_id = 0;  // the schema's id; its objects' ids follow
  std::map<std::string, Table> tables;  // tables and views
  std::map<std::string, Domain> domains;
  std::map<std::string, Sequence> sequences;
  std::map<std::string, Routine> routines;
  std::map<std::string, Collation> collations;
  const Domain* DomainOf(const Column& c) const;
  // The check identifiers of a domain, in id order.
  std::vector<int32_t> DomainChecks(const std::string& domain) const;
  // Whether `grantee` holds `privilege` on the table or view.
  bool Holds(const std::string& grantee, const std::string& table, int32_t privilege) const;
};

// The compiler tests' schema for an owner and a user, its columns
// numbered and laid out; TestSchema() is the one for kAdmin and kUser.
Schema MakeSchema(const std::string& owner, const std::string& user, int32_t first);
const Schema& TestSchema();

// The statements that make the schema, in an order each engine takes.
std::string SqliteDdl(const Schema& s);
std::string PostgresDdl(const Schema& s);

// What the writer needs of the database it writes into: the word storage,
// the user whose dictionary work is open, and a row of a catalog table
// written by record access in that work (0 or its status).
struct Sink {
  int32_t* base = nullptr;
  int32_t usr = 0;
  std::function<int32_t(int32_t table, const std::vector<uint8_t>& row)> insert_row;
};
// Writes the schema; 0, or the first failing status with what failed.
int32_t WriteSchema(const Schema& s, const Sink& sink, std::string* failed);
// Stores `image` as the compiled tree (item 59) of object `id`, where the
// compiler's tree reader finds it.
int32_t StoreTree(const Sink& sink, int32_t id, const std::string& image);

// A statement's first column as an integer; -1 when it fails.
int32_t SqliteScalar(sqlite3* db, const std::string& sql);

}  // namespace fixture
