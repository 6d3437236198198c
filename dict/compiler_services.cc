// The compiler's dictionary service table over the dictionary's lookups:
// each entry fills the lookup's parameter block (status, the compiling
// user's block) and turns the lookup's answer into the compiler's record.
#include "dict/compiler_services.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "dict/compiler_lookups.h"
#include "dict/compiler_routines.h"
#include "sql/front/catalog_access.h"

namespace {

int32_t* g_base = nullptr;

DDTableName Named(const char* schema, int32_t schema_length, const char* name,
                  int32_t name_length) {
  DDTableName n;
  n.schema = schema;
  n.schema_length = schema_length;
  n.name = name;
  n.name_length = name_length;
  return n;
}

// Copies a name the lookup gave back into the caller's slot.
void GiveName(const char* from, int32_t length, char* to, int32_t* to_length) {
  length = std::clamp(length, 0, DD_NAME_BYTES);
  std::memcpy(to, from, static_cast<size_t>(length));
  *to_length = length;
}

int32_t TableAttr(int32_t session, bool test, char* schema, int32_t* schema_length, char* name,
                  int32_t* name_length, int32_t* kind, int32_t* attrs) {
  DDTableAttr a{};
  int32_t pb[2] = {0, session};
  DDCmpTableAttr(g_base, pb, Named(schema, *schema_length, name, *name_length), test, &a);
  if (pb[0] != 0) return pb[0];
  GiveName(a.schema, a.schema_length, schema, schema_length);
  GiveName(a.name, a.name_length, name, name_length);
  *kind = a.kind;
  // A view has no databank: its option word is its view row's.
  const int32_t options = a.kind == 2 ? (a.check_option == 1 ? kViewOptionCheck : 0) |
                                            (a.updatable == 1 ? 0 : kViewOptionNotUpdatable)
                                      : a.trans_option;
  const int32_t words[kObjectAttrWords] = {
      a.id,          a.owner_id,   a.key_length,   a.record_length,  a.insertable,
      a.privileged,  a.privileged, a.trailing_start, a.column_count, a.statistics,
      a.databank_id, a.logical_id, options,        a.primary_key_id, a.primary_key_length,
      a.primary_key_columns, a.has_triggers};
  static_assert(kObjectAttrOptions == 12, "the option word is word 12");
  std::memcpy(attrs, words, sizeof words);
  return 0;
}

int32_t Columns(int32_t session, int32_t table, int32_t column_id, const char* name,
                int32_t length, SqlDictColumn* out, uint8_t* default3, int32_t* default_length) {
  DDColumnDesc d{};
  int32_t pb[2] = {0, session};
  DDCmpColumns(g_base, pb, table, column_id == -1 ? 0 : column_id, name, length, &d, default3,
               kDefaultBufferBytes / 3);
  if (pb[0] != 0) return pb[0];
  out->type = d.type;
  out->length = d.length;
  out->scale = d.scale;
  out->nullable = d.nullable;
  out->second_flag = d.second_flag;
  out->offset = d.offset;
  out->byte_length = d.byte_length;
  out->domain_id = d.domain_id;
  out->character_set = d.character_set;
  out->collation = d.collation;
  out->statistics_count = d.statistics_count;
  std::memcpy(out->low, d.low, 16);
  std::memcpy(out->high, d.high, 16);
  out->column_id = d.column_id;
  int32_t n = std::clamp(d.name_length, 0, kCatalogNameBytes - 1);
  std::memcpy(out->name, d.name, static_cast<size_t>(n));
  out->name[n] = 0;
  *default_length = d.default_length;
  return 0;
}

int32_t Keys(int32_t session, int32_t table, int32_t start, int32_t capacity, int32_t* entries,
             int32_t* count) {
  *count = 0;
  if (start != 0) return 1;  // the lookup lists a table's keys from the first
  int32_t pb[2] = {0, session};
  DDCmpCI(g_base, pb, table, capacity, entries, count);
  return pb[0];
}

int32_t Collation(int32_t session, char* schema, int32_t* schema_length, char* name,
                  int32_t* name_length, int32_t* id) {
  int32_t pb[2] = {0, session};
  DDCmpCollation(g_base, pb, Named(schema, *schema_length, name, *name_length), id);
  return pb[0];
}

int32_t CurrentSchema(int32_t session, char* name, int32_t* length) {
  int32_t pb[2] = {0, session};
  DDCurrentSchema(g_base, pb, name, length);
  return pb[0];
}

int32_t Domain(int32_t session, char* schema, int32_t* schema_length, char* name,
               int32_t* name_length, int32_t* id, int32_t* type_triple, int32_t* further) {
  DDDomainAttr a{};
  int32_t pb[2] = {0, session};
  DDCmpDomain(g_base, pb, Named(schema, *schema_length, name, *name_length), false, &a, nullptr,
              0);
  if (pb[0] != 0) return pb[0];
  GiveName(a.schema, a.schema_length, schema, schema_length);
  GiveName(a.name, a.name_length, name, name_length);
  *id = a.id;
  type_triple[0] = a.type;
  type_triple[1] = a.length;
  type_triple[2] = a.scale;
  further[0] = a.not_null;
  further[1] = a.further;
  further[2] = a.character_set;
  further[3] = a.collation;
  return 0;
}

int32_t DomainDefault(int32_t session, int32_t id, uint8_t* default3, int32_t* default_length) {
  DDDomainAttr a{};
  DDTableName n;
  n.id = id;
  int32_t pb[2] = {0, session};
  DDCmpDomain(g_base, pb, n, false, &a, default3, kDefaultBufferBytes / 3);
  *default_length = pb[0] == 0 ? std::max(a.default_length, 0) : 0;
  return pb[0];
}

// A compiled definition is the object's stored definition of the item's
// number (tables 42 and 43), in bytes.
int32_t SourceInfo(int32_t session, int32_t id, int32_t item, int32_t* total) {
  int32_t pb[2] = {0, session};
  DDCmpDefinitionInfo(g_base, pb, id, item, total);
  return pb[0];
}

int32_t SourceRead(int32_t session, int32_t id, int32_t item, uint8_t* buffer, int32_t capacity,
                   int32_t* length) {
  int32_t pb[2] = {0, session};
  DDCmpDefinitionRead(g_base, pb, id, item, buffer, capacity, length);
  return pb[0];
}

int32_t IndexAttr(int32_t session, int32_t key_id, int32_t request, int32_t* answer) {
  DDIndexAttr a{};
  a.kind = request;
  int32_t pb[2] = {0, session};
  DDCmpIndexAttr(g_base, pb, key_id, &a);
  if (pb[0] != 0) return pb[0];
  const int32_t words[6] = {a.kind, a.table_id, a.key_length, a.column_count, a.entry_length,
                            a.further};
  std::memcpy(answer, words, sizeof words);
  return 0;
}

int32_t NameValue(int32_t session, char* schema, int32_t* schema_length, char* name,
                  int32_t* name_length, int32_t* value) {
  int32_t pb[2] = {0, session};
  DDCmpIN(g_base, pb, Named(schema, *schema_length, name, *name_length), value);
  return pb[0];
}

// The next check constraint behind *value of table `table` (0: of domain
// `domain` instead).
int32_t CheckAfter(int32_t session, int32_t table, int32_t domain, int32_t* value) {
  int32_t pb[2] = {0, session};
  DDCmpCC(g_base, pb, table, domain, value);
  return pb[0];
}

int32_t TablePriv(int32_t session, int32_t privilege, int32_t object) {
  int32_t pb[2] = {0, session};
  DDCmpTablePriv(g_base, pb, object, privilege);
  return pb[0];
}

int32_t ColumnPriv(int32_t session, int32_t privilege, const char* column, int32_t column_length,
                   int32_t object) {
  int32_t pb[2] = {0, session};
  DDCmpColumnPriv(g_base, pb, object, privilege, column, column_length);
  return pb[0];
}

int32_t Sequence(int32_t session, int32_t mode, char* schema, int32_t* schema_length, char* name,
                 int32_t* name_length, int32_t* id) {
  DDSequenceAttr a{};
  int32_t pb[2] = {0, session};
  DDCmpSequence(g_base, pb, Named(schema, *schema_length, name, *name_length), mode == 2, &a);
  if (pb[0] != 0) return pb[0];
  GiveName(a.schema, a.schema_length, schema, schema_length);
  GiveName(a.name, a.name_length, name, name_length);
  *id = a.id;
  return 0;
}

// The compiler looks up functions: identifier, kind (1 function), the
// routine row's first three integers, INT_84 and its first flag.
int32_t RoutineLookup(int32_t session, bool test, char* schema, int32_t* schema_length,
                      char* name, int32_t* name_length, int32_t* answer) {
  DDRoutineAttr a{};
  int32_t pb[2] = {0, session};
  DDCmpRoutine1(g_base, pb, Named(schema, *schema_length, name, *name_length), true, test, &a);
  if (pb[0] != 0) return pb[0];
  GiveName(a.schema, a.schema_length, schema, schema_length);
  GiveName(a.name, a.name_length, name, name_length);
  const int32_t words[7] = {a.id, 1, a.ints[0], a.ints[1], a.ints[2], a.ints[4], a.flags[0]};
  std::memcpy(answer, words, sizeof words);
  return 0;
}

// A parameter or result column into the compiler's name, mode text and
// type triple.
int32_t GiveParam(int32_t status, const DDParamDesc& d, char* name, int32_t* name_length,
                  char* mode, int32_t* type_triple) {
  if (status != 0) return status;
  GiveName(d.name, d.name_length, name, name_length);
  if (mode != nullptr) {
    static constexpr const char* kModes[] = {"", "IN", "INOUT", "OUT"};
    std::strncpy(mode, kModes[d.mode], 8);
  }
  type_triple[0] = d.type;
  type_triple[1] = d.length;
  type_triple[2] = d.scale;
  return 0;
}

int32_t Params(int32_t session, int32_t routine, int32_t position, int32_t capacity, char* name,
               int32_t* name_length, char* mode, int32_t* type_triple) {
  if (position < 1 || position > capacity) return 1;
  DDParamDesc d{};
  int32_t pb[2] = {0, session};
  DDCmpParams(g_base, pb, routine, position, &d);
  return GiveParam(pb[0], d, name, name_length, mode, type_triple);
}

int32_t ParamCols(int32_t session, int32_t routine, int32_t position, char* name,
                  int32_t* name_length, int32_t* type_triple) {
  DDParamDesc d{};
  int32_t pb[2] = {0, session};
  DDCmpParamCols(g_base, pb, routine, position, &d);
  return GiveParam(pb[0], d, name, name_length, nullptr, type_triple);
}

// *count 0 opens the walk over a table's triggers of the event; each
// trigger delivered counts 1 more; after the last *count is 0 and the
// status 1. Answer: the trigger's id, timing, row flag, three flags, its
// order and value, the event, and whether it keeps an old and a new
// transition name.
int32_t Triggers(int32_t session, int32_t event, int32_t table, int32_t* count, int32_t* answer) {
  DDTriggerAttr t{};
  int32_t pb[2] = {*count == 0 ? 0 : 1, session};
  DDCmpTrigger(g_base, pb, table, event, &t);
  if (pb[0] != 0) {
    if (pb[0] > 0) *count = 0;
    return pb[0];
  }
  const int32_t words[11] = {t.id,       t.timing,   t.row,   t.flags[0], t.flags[1], t.flags[2],
                             t.order,    t.value,    event,   t.old_rows, t.new_rows};
  std::memcpy(answer, words, sizeof words);
  ++*count;
  return 0;
}

}  // namespace

void DDInstallCompilerServices(int32_t* base) {
  g_base = base;
  SqlDictionaryServices s;
  s.table_attr = TableAttr;
  s.columns = Columns;
  s.keys = Keys;
  s.domain = Domain;
  s.collation = Collation;
  s.current_schema = CurrentSchema;
  s.source_info = SourceInfo;
  s.source_read = SourceRead;
  s.domain_default = DomainDefault;
  s.index_attr = IndexAttr;
  s.pair_value = CheckAfter;
  s.table_priv = TablePriv;
  s.column_priv = ColumnPriv;
  s.name_value = NameValue;
  s.sequence = Sequence;
  s.routine = RoutineLookup;
  s.params = Params;
  s.param_cols = ParamCols;
  s.triggers = Triggers;
  SqlInstallDictionaryServices(&s);
}

void DDRemoveCompilerServices() {
  SqlInstallDictionaryServices(nullptr);
  g_base = nullptr;
}
