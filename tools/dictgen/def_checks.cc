// The rules a catalog definition must keep before anything is generated:
// every byte of a row in exactly one column, ascending without gap; the key
// ending on a column boundary; index lengths derived from the key columns
// agreeing with any stated ones; object numbers unique; description lists
// within the loader's 1250 words; message lines within 80 characters.
#include <map>
#include <set>

#include "tools/dictgen/catalog_model.h"

namespace dictgen {
namespace {

constexpr int32_t kMaxRecordLength = 16000;

const Column* FindColumn(const Table& table, const std::string& name) {
  for (const Column& c : table.columns)
    if (c.name == name) return &c;
  return nullptr;
}

bool Fail(DefError* error, const Where& where, const std::string& message) {
  error->where = where;
  error->message = message;
  return false;
}

std::string Named(const Table& t, const std::string& column) {
  return "table " + std::to_string(t.number) + " column " + column;
}

bool CheckColumns(const Table& t, DefError* error) {
  std::set<std::string> names;
  int32_t next = 0;
  bool key_on_boundary = false;
  bool trailing_on_boundary = t.trailing_start == 0;
  for (const Column& c : t.columns) {
    if (!names.insert(c.name).second)
      return Fail(error, c.where, Named(t, c.name) + ": name defined twice");
    if (c.offset != next)
      return Fail(error, c.where,
                  Named(t, c.name) + ": starts at " + std::to_string(c.offset) +
                      (c.offset > next ? ", leaving a gap after byte " : ", overlapping byte ") +
                      std::to_string(c.offset > next ? next - 1 : c.offset));
    if (c.offset == t.trailing_start) trailing_on_boundary = true;
    next = c.offset + FormWidth(c.form, c.length);
    if (next > t.record_length)
      return Fail(error, c.where,
                  Named(t, c.name) + ": ends at byte " + std::to_string(next) +
                      ", past the record length " + std::to_string(t.record_length));
    if (next == t.key_length) key_on_boundary = true;
  }
  if (next != t.record_length)
    return Fail(error, t.where,
                "table " + std::to_string(t.number) + ": columns cover " + std::to_string(next) +
                    " bytes of a record of " + std::to_string(t.record_length));
  if (!key_on_boundary)
    return Fail(error, t.where,
                "table " + std::to_string(t.number) + ": key of " + std::to_string(t.key_length) +
                    " bytes does not end on a column boundary");
  if (!trailing_on_boundary || t.trailing_start < 0 ||
      (t.trailing_start != 0 && t.trailing_start < t.key_length))
    return Fail(error, t.where,
                "table " + std::to_string(t.number) + ": trailing part " +
                    std::to_string(t.trailing_start) + " is no column start behind the key");
  return true;
}

bool CheckIndexes(const Table& t, DefError* error) {
  for (const Index& ix : t.indexes) {
    std::set<std::string> seen;
    for (const std::string& k : ix.key_columns) {
      if (!FindColumn(t, k)) return Fail(error, ix.where, Named(t, k) + ": no such column");
      if (!seen.insert(k).second)
        return Fail(error, ix.where,
                    Named(t, k) + ": key column twice in index " + std::to_string(ix.number));
    }
    const int32_t key = DerivedKeyLength(t, ix), entry = DerivedEntryLength(t, ix);
    if (ix.stated_key >= 0 && (ix.stated_key != key || ix.stated_entry != entry))
      return Fail(error, ix.where,
                  "index " + std::to_string(ix.number) + ": stated key " +
                      std::to_string(ix.stated_key) + " entry " + std::to_string(ix.stated_entry) +
                      " but its columns give key " + std::to_string(key) + " entry " +
                      std::to_string(entry));
  }
  return true;
}

bool CheckMessages(const Catalog& catalog, DefError* error) {
  std::set<int32_t> sources;
  for (const Source& s : catalog.sources) {
    if (!sources.insert(s.id).second) return Fail(error, s.where, "source defined twice");
    if (s.name.size() > 20) return Fail(error, s.where, "source name over 20 characters");
  }
  std::set<std::pair<int32_t, int32_t>> numbers;
  for (const Message& m : catalog.messages) {
    if (!sources.count(m.source)) return Fail(error, m.where, "message of an undefined source");
    if (!numbers.insert({m.source, m.number}).second)
      return Fail(error, m.where, "message " + std::to_string(m.number) + " defined twice");
    if (m.severity < 1 || m.severity > 8) return Fail(error, m.where, "severity outside 1 to 8");
    for (const std::string& l : m.lines)
      if (l.size() > 80 || l.empty())
        return Fail(error, m.where, "a message line must hold 1 to 80 characters");
  }
  return true;
}

}  // namespace

int32_t DerivedKeyLength(const Table& table, const Index& index) {
  int32_t sum = table.key_length;
  for (const std::string& k : index.key_columns)
    if (const Column* c = FindColumn(table, k)) sum += FormWidth(c->form, c->length);
  return sum;
}

int32_t DerivedEntryLength(const Table& table, const Index& index) {
  const int32_t trailing =
      table.trailing_start != 0 ? table.record_length - table.trailing_start : 0;
  return DerivedKeyLength(table, index) + trailing;
}

std::vector<int32_t> DescriptionList(const Table& t) {
  // Header: primary key, number, logical id 1, a table, key and record
  // length, 3, word 7 (0), the table's constraint id.
  std::vector<int32_t> w = {1, t.number,       1, 1, t.key_length, t.record_length, 3,
                            0, t.constraint_id};
  for (const Index& ix : t.indexes) {
    const int32_t parts =
        static_cast<int32_t>(ix.key_columns.size()) + 1 + (t.trailing_start != 0 ? 1 : 0);
    // Dirty flag 0 and the index's own number as its constraint id, as the
    // table description loader gives them for catalog rows.
    const int32_t head[] = {
        ix.kind,   ix.number,    1, 2, DerivedKeyLength(t, ix), DerivedEntryLength(t, ix), 0, 0, 0,
        ix.number, 3 * parts + 2};
    w.insert(w.end(), std::begin(head), std::end(head));
    for (const std::string& k : ix.key_columns) {
      const Column* c = FindColumn(t, k);
      w.insert(w.end(), {c->offset, FormWidth(c->form, c->length), 0});
    }
    w.insert(w.end(), {0, t.key_length, 1});
    if (t.trailing_start != 0)
      w.insert(w.end(), {t.trailing_start, t.record_length - t.trailing_start, 2});
    w.push_back(-1);
  }
  w.push_back(-1);
  return w;
}

bool CheckCatalog(const Catalog& catalog, DefError* error) {
  if (catalog.version.size() != 8)
    return Fail(error, catalog.version_where, "the catalog version must have 8 characters");
  if (catalog.schema_name.empty() || catalog.schema_id <= 0)
    return Fail(error, catalog.version_where, "no schema line");
  // Tables, indexes and constraints are objects of one id space.
  std::map<int32_t, Where> ids;
  auto claim = [&](int32_t id, const Where& where, const std::string& what) {
    if (id <= 0) return Fail(error, where, what + ": number must be positive");
    auto [it, fresh] = ids.emplace(id, where);
    if (!fresh)
      return Fail(error, where,
                  what + ": number " + std::to_string(id) + " already used at line " +
                      std::to_string(it->second.line));
    return true;
  };
  if (!claim(catalog.schema_id, catalog.version_where, "schema " + catalog.schema_name))
    return false;
  std::set<std::string> names;
  for (const Table& t : catalog.tables) {
    const std::string what = "table " + std::to_string(t.number);
    if (!claim(t.number, t.where, what) || !claim(t.constraint_id, t.where, what + " constraint"))
      return false;
    if (!names.insert(t.name).second) return Fail(error, t.where, what + ": name used twice");
    if (t.key_length <= 0 || t.record_length < t.key_length)
      return Fail(error, t.where, what + ": key and record length out of order");
    // The databank kernel creates no record longer; the bound also keeps
    // every sum of offsets and widths below within 32 bits.
    if (t.record_length > kMaxRecordLength)
      return Fail(error, t.where,
                  what + ": record length over " + std::to_string(kMaxRecordLength));
    for (const Index& ix : t.indexes)
      if (!claim(ix.number, ix.where, "index " + std::to_string(ix.number))) return false;
    if (!CheckColumns(t, error) || !CheckIndexes(t, error)) return false;
    const std::size_t words = DescriptionList(t).size();
    if (words > kDescriptionWordLimit)
      return Fail(error, t.where,
                  what + ": description of " + std::to_string(words) + " words, over " +
                      std::to_string(kDescriptionWordLimit));
  }
  return CheckMessages(catalog, error);
}

}  // namespace dictgen
