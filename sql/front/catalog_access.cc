// The dictionary access operations over the installed lookups.
#include "sql/front/catalog_access.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "kernel/error_report.h"
#include "platform/char_format.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_driver.h"
#include "sql/front/compile_services.h"
#include "sql/front/default_text.h"
#include "sql/front/sql_lookup_services.h"
#include "sql/front/sql_types.h"

namespace {

SqlDictionaryServices g_dict;

int32_t Missing(const char* name) {
  DSErrRep(name, static_cast<int32_t>(std::strlen(name)), kSqlServiceMissing, SEV_ERROR);
  return kSqlServiceMissing;
}

int32_t Length(const char* text) {
  return static_cast<int32_t>(strnlen(text, kCatalogNameBytes - 1));
}

// Ends a text at the length the lookup gave back (never past its slot).
void EndAt(char* text, int32_t length) {
  if (length < 0) length = 0;
  if (length > kCatalogNameBytes - 1) length = kCatalogNameBytes - 1;
  text[length] = 0;
}

bool DependencyDue(SqlCompileCtx* ctx, int32_t kind) {
  if (ctx->catalog.record_dependencies != 0) return true;
  int32_t k = ctx->statement_kind;
  if (kind == kDependSequence || kind == kDependCollation) return k == 39 || k == 36 || k == 21;
  return k == 39;
}

void RecordDependency(SqlCompileCtx* ctx, int32_t kind, int32_t id, const char* name) {
  if (!DependencyDue(ctx, kind)) return;
  int32_t entry = qqwsal(ctx, kDependEntryBytes);
  char* p = qqwsadr(ctx, entry);
  std::memset(p, 0, kDependEntryBytes);
  WsWord(ctx, entry, DEP_ID) = id;
  WsWord(ctx, entry, DEP_KIND) = kind;
  if (name != nullptr) {
    std::strncpy(p + DEP_NAME_BYTE, name, kDependEntryBytes - DEP_NAME_BYTE - 1);
  }
  qddepadd(ctx, entry);
}

// The default text: three-byte characters to code points, checked, then to
// the column's format (three bytes a character for national types, one
// byte otherwise; binary texts padded with zero bytes to the column length).
void ConvertDefault(const uint8_t* text3, int32_t characters, int32_t type_code, int32_t length,
                    SqlColumnDesc* out) {
  out->default_text.clear();
  if (characters <= 0) {
    out->default_length = -1;
    return;
  }
  std::vector<int32_t> wide(static_cast<size_t>(characters));
  for (int32_t i = 0; i < characters; ++i) {
    const uint8_t* c = text3 + 3 * i;
    wide[static_cast<size_t>(i)] = (c[0] << 16) | (c[1] << 8) | c[2];
  }
  int32_t n = characters;
  DefaultTextCheckW(wide.data(), &n);
  int32_t units = n < 1 ? characters : n;  // a marker or an empty value keeps the text
  bool national = type_code == 34 || type_code == 35;
  if (national) {
    for (int32_t i = 0; i < units; ++i) {
      int32_t c = wide[static_cast<size_t>(i)];
      out->default_text += static_cast<char>((c >> 16) & 0xFF);
      out->default_text += static_cast<char>((c >> 8) & 0xFF);
      out->default_text += static_cast<char>(c & 0xFF);
    }
  } else {
    // One byte a character: a character above 255 becomes the replacement
    // byte 191.
    out->default_text.resize(static_cast<size_t>(units));
    charenc_units4_to_bytes(
        ByteSpan(reinterpret_cast<uint8_t*>(out->default_text.data()), out->default_text.size()), 0,
        ConstByteSpan(reinterpret_cast<const uint8_t*>(wide.data()), wide.size() * 4), 0, units);
  }
  out->default_length = n < 1 ? n : (national ? 3 * n : n);
  if (type_code == 29 && static_cast<int32_t>(out->default_text.size()) < length) {
    out->default_text.resize(static_cast<size_t>(length), '\0');
  }
}

// A statistics value of a type the statistics run keeps as a number: its
// decimal text, right-aligned in the 16 bytes. False when it is none.
bool StatisticsNumber(const uint8_t* value, double* out) {
  const char* b = reinterpret_cast<const char*>(value);
  const char* e = b + 16;
  while (b < e && *b == ' ') ++b;
  while (e > b && (e[-1] == ' ' || e[-1] == 0)) --e;
  if (b < e && *b == '+') ++b;
  if (b == e) return false;
  auto [end, error] = std::from_chars(b, e, *out);
  return error == std::errc() && end == e && std::isfinite(*out);
}

void Statistics(SqlCompileCtx* ctx, const SqlDictColumn& d, int32_t type_code,
                SqlColumnDesc* out) {
  out->low = -1.0;
  out->high = -1.0;
  if (d.statistics_count == -1) return;
  double low = 0;
  double high = 0;
  bool keep;
  switch (type_code) {
    case 4:
    case 8:
    case 29:
    case 30:
    case 34:
    case 35:
      low = qcnstd(ctx, d.low, 16, type_code);
      high = qcnstd(ctx, d.high, 16, type_code);
      keep = high - low >= 65500.0;
      break;
    default: {
      // The statistics run stores these values as decimal text, not as the
      // packed values qcnstd reads: read as such, a run's figures ended
      // every compilation that met the column with -19231.
      if (!StatisticsNumber(d.low, &low) || !StatisticsNumber(d.high, &high)) {
        keep = false;
        break;
      }
      double rel = qcfdiv(high - low, low);
      keep = low < 1.7e37 && high < 1.7e37 && high - low >= 1e-30 && (rel >= 1e-6 || rel <= -1e-6);
    }
  }
  if (keep) {
    out->low = low;
    out->high = high;
  }
}

// The dictionary answers a stored text of kind 1 without its first piece
// with -19007; for the compiler that is a definition not stored (a positive
// status), which restarts the compilation instead of ending it.
constexpr int32_t kFirstPieceMissing = -19007;
int32_t MissingPieceIsAbsent(int32_t status) {
  return status == kFirstPieceMissing ? 1 : status;
}

// A dictionary type triple as the compiler's type (code, length, scale,
// variant).
void MapTriple(const int32_t* triple, int32_t* type) {
  int32_t variant = 0;
  qdmaptype(triple[0], &type[0], &variant);
  type[1] = triple[1];
  type[2] = triple[2];
  type[3] = variant;
}

// The built-in collations 136, 138 and 140 count as none.
int32_t BuiltInCollationIsNone(int32_t collation) {
  return collation == 136 || collation == 138 || collation == 140 ? 0 : collation;
}

int32_t ParameterMode(const char* mode) {
  if (std::strcmp(mode, "IN") == 0) return 1;
  if (std::strcmp(mode, "INOUT") == 0) return 2;
  if (std::strcmp(mode, "OUT") == 0) return 3;
  return 0;
}

bool SameName(const std::string& a, const char* b) {
  return a == b;
}

}  // namespace

int32_t CatalogRoutineLookup(SqlCompileCtx* ctx, const QualifiedName& name) {
  SqlQualifiedName q;
  // The function's name is the first part: its name, then its qualifier.
  std::strncpy(q.name, name.name[0], kCatalogNameBytes - 1);
  std::strncpy(q.schema, name.name[1], kCatalogNameBytes - 1);
  int32_t answer[7];
  return qdgetroutine(ctx, &q, answer);
}

int32_t CatalogCollationLookup(SqlCompileCtx* ctx, const char* qualifier, const char* name,
                               int32_t* id) {
  SqlQualifiedName q;
  if (qualifier != nullptr) std::strncpy(q.schema, qualifier, kCatalogNameBytes - 1);
  if (name != nullptr) std::strncpy(q.name, name, kCatalogNameBytes - 1);
  return qdgetcollation(ctx, &q, id);
}

int32_t CatalogSchemaLookup(SqlCompileCtx* ctx, char name[129]) {
  return qdcurschema(ctx, name);
}

SqlDictionaryServices SqlInstallDictionaryServices(const SqlDictionaryServices* services) {
  SqlDictionaryServices old = g_dict;
  g_dict = services != nullptr ? *services : SqlDictionaryServices{};
  return old;
}

void CatalogReset(SqlCompileCtx* ctx) {
  SqlCatalogState& s = ctx->catalog;
  s.dependencies = 0;
  s.dependency_block = 0;
  s.next_entry = 0;
  s.lookups = 0;
  for (int32_t& v : s.cache_valid) v = 0;
}

void qdmaptype(int32_t dict_type, int32_t* type_code, int32_t* variant) {
  *variant = 0;
  switch (dict_type) {
    case 6:
      *type_code = 1;
      *variant = 202;
      return;
    case 7:
      *type_code = 1;
      *variant = 201;
      return;
    case 8:
      *type_code = 2;
      *variant = 204;
      return;
    case 9:
      *type_code = 2;
      *variant = 203;
      return;
    case 10:
      *type_code = 2;
      *variant = 205;
      return;
    case 11:
      *type_code = 3;
      *variant = 207;
      return;
    case 28:
      *type_code = 1;
      *variant = 208;
      return;
    default:
      *type_code = qctyptab(dict_type);
  }
}

void qddepadd(SqlCompileCtx* ctx, int32_t entry) {
  SqlCatalogState& s = ctx->catalog;
  WsWord(ctx, entry, DEP_LINK) = 0;
  if (s.dependencies == 0) {
    s.dependencies = entry;
    s.dependency_block = qqwscur(ctx);
    return;
  }
  const char* name = qqwsadr(ctx, entry) + DEP_NAME_BYTE;
  int32_t id = WsWord(ctx, entry, DEP_ID);
  int32_t last = 0;
  for (int32_t e = s.dependencies; e != 0; e = WsWord(ctx, e, DEP_LINK)) {
    if (WsWord(ctx, e, DEP_ID) == id &&
        std::strncmp(qqwsadr(ctx, e) + DEP_NAME_BYTE, name,
                     kDependEntryBytes - DEP_NAME_BYTE) == 0) {
      return;
    }
    last = e;
  }
  WsWord(ctx, last, DEP_LINK) = entry;
}

int32_t qdgetobject(SqlCompileCtx* ctx, SqlQualifiedName* name, int32_t* kind, int32_t* attrs,
                    int32_t no_privilege) {
  if (g_dict.table_attr == nullptr) return Missing("DDCmpTableAttr");
  bool test = no_privilege == 0 && ctx->catalog.no_privilege_test == 0;
  int32_t schema_length = Length(name->schema);
  int32_t name_length = Length(name->name);
  int32_t answer[kObjectAttrWords] = {};
  ++ctx->catalog.lookups;
  int32_t status = g_dict.table_attr(ctx->session, test, name->schema, &schema_length, name->name,
                                     &name_length, kind, answer);
  EndAt(name->schema, schema_length);
  EndAt(name->name, name_length);
  if (status > 0) status = 1;  // every positive status is "not found"
  if (status < 0) return status;
  for (int32_t i = 0; i < kObjectAttrWords; ++i) attrs[i] = answer[i];
  if (*kind != 2 && no_privilege == 0) {
    if (attrs[5] < 2048) attrs[5] = 2048;
    if (attrs[6] < 2048) attrs[6] = 2048;
  } else {
    attrs[5] = 2048;
    attrs[6] = 2048;
    attrs[7] = -1;
  }
  if (attrs[4] == 0 || attrs[4] == 1) attrs[4] = 2;
  return status;
}

int32_t qdgetcolumn(SqlCompileCtx* ctx, int32_t table_ref, int32_t table_id, const char* name,
                    int32_t column_id, SqlColumnDesc* out) {
  SqlCatalogState& s = ctx->catalog;
  const char* wanted = name != nullptr ? name : "";
  int32_t hit = -1;
  for (int32_t i = 0; i < kColumnCacheEntries; ++i) {
    const SqlColumnDesc& c = s.cache[i];
    if (s.cache_valid[i] == 0 || c.table_ref != table_ref) continue;
    if (column_id == -1 ? SameName(c.name, wanted) : c.column_id == column_id) {
      hit = i;
      break;
    }
  }
  if (hit >= 0 && qmisdefk(ctx->statement_kind) == 0) {
    *out = s.cache[hit];
    return 0;
  }
  if (g_dict.columns == nullptr) return Missing("DDCmpColumns");
  SqlDictColumn d;
  // Not cleared: the lookup writes the default's characters it counts.
  auto text3 = std::make_unique_for_overwrite<uint8_t[]>(kDefaultBufferBytes);
  int32_t characters = 0;
  ++s.lookups;
  int32_t status = g_dict.columns(ctx->session, table_id, column_id, wanted,
                                  static_cast<int32_t>(std::strlen(wanted)), &d, text3.get(),
                                  &characters);
  if (status != 0) return status;
  if (characters > kDefaultBufferBytes / 3) characters = kDefaultBufferBytes / 3;
  SqlColumnDesc c;
  c.name = column_id == -1 ? std::string(wanted) : std::string(d.name);
  c.table_ref = table_ref;
  c.column_id = column_id == -1 ? d.column_id : column_id;
  int32_t variant = 0;
  qdmaptype(d.type, &c.type_code, &variant);
  c.length = d.length;
  c.scale = c.type_code == 2 ? -1 : d.scale;
  c.nullable = d.nullable;
  c.second_flag = d.second_flag;
  c.offset = d.offset;
  c.byte_length = d.byte_length;
  c.domain_id = d.domain_id == 0 ? -1 : d.domain_id;
  switch (c.type_code) {
    case 8:
    case 30:
    case 31:
    case 32:
    case 33:
    case 35:
      c.special = d.character_set;
      break;
    default:
      c.special = -1;
  }
  c.variant = variant == 0 ? -1 : variant;
  c.collation = BuiltInCollationIsNone(d.collation);
  Statistics(ctx, d, c.type_code, &c);
  ConvertDefault(text3.get(), characters, c.type_code, c.length, &c);
  c.interval = d.type >= 15 && d.type <= 27 ? 1 : 0;
  int32_t slot = hit;
  if (slot < 0) {
    slot = s.next_entry;
    s.next_entry = (s.next_entry + 1) % kColumnCacheEntries;
  }
  s.cache[slot] = c;
  s.cache_valid[slot] = 1;
  *out = c;
  RecordDependency(ctx, kDependTable, table_id, column_id == -1 ? wanted : nullptr);
  return 0;
}

int32_t qdgetdomain(SqlCompileCtx* ctx, SqlQualifiedName* name, int32_t* id, int32_t* type,
                    SqlDomainData* data) {
  if (data != nullptr) *data = SqlDomainData{};
  static const char* const kBuiltIn[] = {"INT",    "INTEGER", "SMALLINT",         "BIGINT",
                                         "REAL",   "FLOAT",   "DOUBLE PRECISION", "DEC",
                                         "DECIMAL", "NUMERIC"};
  if (name->schema[0] == 0) {
    for (const char* b : kBuiltIn) {
      if (std::strcmp(name->name, b) == 0) return 1;
    }
  }
  if (g_dict.domain == nullptr) return Missing("DDCmpDomain");
  int32_t schema_length = Length(name->schema);
  int32_t name_length = Length(name->name);
  int32_t triple[3] = {0, 0, 0};
  int32_t further[4] = {0, 0, 0, 0};
  ++ctx->catalog.lookups;
  int32_t status = g_dict.domain(ctx->session, name->schema, &schema_length, name->name,
                                 &name_length, id, triple, further);
  EndAt(name->schema, schema_length);
  EndAt(name->name, name_length);
  if (status != 0 && status != 1) return status;
  MapTriple(triple, type);
  if (data != nullptr) {
    data->not_null = further[0];
    data->further = further[1];
    data->character_set = further[2];
    data->collation = BuiltInCollationIsNone(further[3]);
  }
  if (status == 0) RecordDependency(ctx, kDependDomain, *id, nullptr);
  return status;
}

int32_t qdgetcilist(SqlCompileCtx* ctx, int32_t table_id, int32_t* entries, int32_t start,
                    int32_t* count) {
  if (g_dict.keys == nullptr) return Missing("DDCmpCI");
  int32_t capacity = *count;
  if (capacity < 1) return 2;
  std::vector<int32_t> answer(static_cast<size_t>(capacity) * 44);
  int32_t got = 0;
  ++ctx->catalog.lookups;
  int32_t status = g_dict.keys(ctx->session, table_id, start, capacity, answer.data(), &got);
  if (got > capacity) got = capacity;
  if (got < 0) got = 0;
  *count = got;
  for (int32_t e = 0; e < got; ++e) {
    const int32_t* a = &answer[static_cast<size_t>(e) * 44];
    int32_t* o = entries + static_cast<size_t>(e) * 45;
    o[0] = a[0];
    o[1] = a[1];
    o[2] = a[2];
    o[4] = a[3] == 0 ? 1 : 0;
    int32_t items = a[2] < 0 ? 0 : (a[2] > 10 ? 10 : a[2]);
    for (int32_t i = 0; i < 10; ++i) {
      bool used = i < items;
      int32_t third = used ? a[24 + i] : 0;
      o[5 + i] = used && third < 0 ? 1 : 0;
      o[15 + i] = used ? a[4 + i] : 0;
      o[25 + i] = used ? a[14 + i] : 0;
      // The stored -1 reads 0; the smallest word, which has no absolute
      // value in 32 bits, reads as the largest.
      o[35 + i] = third == -1 ? 0 : third == INT32_MIN ? INT32_MAX : (third < 0 ? -third : third);
    }
  }
  return status;
}

namespace {

// A lookup by a qualified name: the dictionary gets both parts with their
// lengths and hands back the lengths of the names it found, which end the
// parts in place.
template <typename Call>
int32_t ByName(SqlCompileCtx* ctx, SqlQualifiedName* name, Call call) {
  int32_t schema_length = Length(name->schema);
  int32_t name_length = Length(name->name);
  ++ctx->catalog.lookups;
  const int32_t status = call(&schema_length, &name_length);
  EndAt(name->schema, schema_length);
  EndAt(name->name, name_length);
  return status;
}

}  // namespace

int32_t qdgetroutine(SqlCompileCtx* ctx, SqlQualifiedName* name, int32_t* answer) {
  if (g_dict.routine == nullptr) return Missing("DDCmpRoutine1");
  bool test = ctx->compile_mode != 6 && ctx->compile_mode != 9;
  int32_t status = ByName(ctx, name, [&](int32_t* schema_length, int32_t* name_length) {
    return g_dict.routine(ctx->session, test, name->schema, schema_length, name->name,
                          name_length, answer);
  });
  if (status == 0) RecordDependency(ctx, kDependRoutine, answer[0], nullptr);
  return status;
}

int32_t qdgetcollation(SqlCompileCtx* ctx, SqlQualifiedName* name, int32_t* id) {
  *id = 0;
  if (g_dict.collation == nullptr) return Missing("DDCmpCollation");
  int32_t status = ByName(ctx, name, [&](int32_t* schema_length, int32_t* name_length) {
    return g_dict.collation(ctx->session, name->schema, schema_length, name->name, name_length,
                            id);
  });
  if (status != 0) *id = 0;
  if (status == 0) RecordDependency(ctx, kDependCollation, *id, nullptr);
  return status;
}

int32_t qdcurschema(SqlCompileCtx* ctx, char buffer[129]) {
  buffer[0] = 0;
  if (g_dict.current_schema == nullptr) return Missing("DDSchemaKind");
  char name[129] = {};
  int32_t length = 0;
  int32_t status = g_dict.current_schema(ctx->session, name, &length);
  if (status != 0) return status;
  if (length < 0) length = 0;
  if (length > 128) length = 128;
  static const char* const kReserved[] = {"ZAVOR", "INFO_SCHEM", "OLD_INFO_SCHEMA",
                                          "INFORMATION_SCHEMA", "FIPS_DOCUMENTATION"};
  for (const char* r : kReserved) {
    if (static_cast<size_t>(length) == std::strlen(r) && std::memcmp(name, r, length) == 0) {
      std::memcpy(name, "SYSTEM", 6);
      length = 6;
    }
  }
  std::memcpy(buffer, name, static_cast<size_t>(length));
  buffer[length] = 0;
  return 0;
}

int32_t qdgetdomtext(SqlCompileCtx* ctx, int32_t domain_id, int32_t type_code, int32_t length,
                     SqlColumnDesc* out) {
  if (g_dict.domain_default == nullptr) return Missing("DDCmpDomain");
  auto text3 = std::make_unique_for_overwrite<uint8_t[]>(kDefaultBufferBytes);
  int32_t characters = 0;
  ++ctx->catalog.lookups;
  int32_t status = g_dict.domain_default(ctx->session, domain_id, text3.get(), &characters);
  if (status != 0) return status;
  if (characters > kDefaultBufferBytes / 3) characters = kDefaultBufferBytes / 3;
  ConvertDefault(text3.get(), characters, type_code, length, out);
  return 0;
}

int32_t qdsrcinfo(SqlCompileCtx* ctx, int32_t id, int32_t item, int32_t* total) {
  *total = 0;
  if (g_dict.source_info == nullptr) return Missing("DDCmpSourceInfo");
  ++ctx->catalog.lookups;
  return MissingPieceIsAbsent(g_dict.source_info(ctx->session, id, item, total));
}

int32_t qdsrcread(SqlCompileCtx* ctx, int32_t id, int32_t item, uint8_t* buffer,
                  int32_t capacity, int32_t* length) {
  *length = 0;
  if (g_dict.source_read == nullptr) return Missing("DDCmpSourceRead");
  ++ctx->catalog.lookups;
  return MissingPieceIsAbsent(g_dict.source_read(ctx->session, id, item, buffer, capacity, length));
}

int32_t qdgetindex(SqlCompileCtx* ctx, int32_t table_id, int32_t request, int32_t* record) {
  if (g_dict.index_attr == nullptr) return Missing("DDCmpIndexAttr");
  int32_t answer[6] = {};
  ++ctx->catalog.lookups;
  int32_t status = g_dict.index_attr(ctx->session, table_id, request, answer);
  if (status < 0) return status;
  for (int32_t i = 0; i < 6; ++i) record[i] = answer[i];
  record[6] = 0;
  return status;
}

int32_t qdgetcc(SqlCompileCtx* ctx, int32_t a, int32_t b, int32_t* value) {
  if (g_dict.pair_value == nullptr) return Missing("DDCmpCC");
  ++ctx->catalog.lookups;
  return g_dict.pair_value(ctx->session, a, b, value);
}

int32_t qdgettriggers(SqlCompileCtx* ctx, int32_t table_id, int32_t event, int32_t* result,
                      int32_t* count) {
  if (g_dict.triggers == nullptr) return Missing("DDCmpTrigger");
  int32_t code = event == 8 ? 3 : event == 9 ? 2 : event == 10 ? 1 : 0;
  int32_t answer[11] = {};
  ++ctx->catalog.lookups;
  int32_t status = g_dict.triggers(ctx->session, code, table_id, count, answer);
  if (status < 0) return status;
  if (*count > 0) {
    result[0] = answer[0];
    result[1] = 0;
    for (int32_t i = 1; i <= 10; ++i) result[1 + i] = answer[i];
    result[12] = table_id;
  }
  return status;
}

int32_t qdgetint(SqlCompileCtx* ctx, SqlQualifiedName* name, int32_t* value) {
  *value = 0;
  if (g_dict.name_value == nullptr) return Missing("DDCmpIN");
  int32_t status = ByName(ctx, name, [&](int32_t* schema_length, int32_t* name_length) {
    return g_dict.name_value(ctx->session, name->schema, schema_length, name->name, name_length,
                             value);
  });
  if (status != 0) *value = 0;
  return status;
}

int32_t qdtablepriv(SqlCompileCtx* ctx, int32_t privilege, int32_t object, int32_t* granted) {
  *granted = 0;
  if (g_dict.table_priv == nullptr) return Missing("DDCmpTablePriv");
  ++ctx->catalog.lookups;
  int32_t status = g_dict.table_priv(ctx->session, privilege, object);
  *granted = status == 0 ? 1 : 0;
  return status;
}

int32_t qdcolumnpriv(SqlCompileCtx* ctx, int32_t privilege, const char* column, int32_t object,
                     int32_t* granted) {
  *granted = 0;
  if (g_dict.column_priv == nullptr) return Missing("DDCmpColumnPriv");
  ++ctx->catalog.lookups;
  int32_t status = g_dict.column_priv(ctx->session, privilege, column,
                                      static_cast<int32_t>(strnlen(column, 128)), object);
  *granted = status == 0 ? 1 : 0;
  return status;
}

int32_t qdgetsequence(SqlCompileCtx* ctx, SqlQualifiedName* name, int32_t* id) {
  *id = 0;
  if (g_dict.sequence == nullptr) return Missing("DDCmpSequence");
  int32_t schema_length = Length(name->schema);
  int32_t name_length = Length(name->name);
  ++ctx->catalog.lookups;
  int32_t status = g_dict.sequence(ctx->session, ctx->compile_mode == 9 ? 2 : 0, name->schema,
                                   &schema_length, name->name, &name_length, id);
  EndAt(name->schema, schema_length);
  EndAt(name->name, name_length);
  if (status == 0) RecordDependency(ctx, kDependSequence, *id, nullptr);
  return status;
}

int32_t qdgetparams(SqlCompileCtx* ctx, int32_t routine, int32_t position, SqlRoutineParam* out) {
  *out = SqlRoutineParam{};
  if (g_dict.params == nullptr) return Missing("DDCmpParams");
  if (position < 1 || position > kRoutineParamCapacity) return 1;
  int32_t name_length = 0;
  char mode[8] = {};
  int32_t triple[3] = {0, 0, 0};
  ++ctx->catalog.lookups;
  int32_t status = g_dict.params(ctx->session, routine, position, kRoutineParamCapacity, out->name,
                                 &name_length, mode, triple);
  if (status != 0) {
    *out = SqlRoutineParam{};
    return status;
  }
  EndAt(out->name, name_length);
  mode[7] = 0;
  out->mode = ParameterMode(mode);
  MapTriple(triple, out->type);
  return 0;
}

int32_t qdgetparcols(SqlCompileCtx* ctx, int32_t routine, int32_t position, SqlRoutineParam* out) {
  *out = SqlRoutineParam{};
  if (g_dict.param_cols == nullptr) return Missing("DDCmpParamCols");
  if (position < 1) return 1;
  int32_t name_length = 0;
  int32_t triple[3] = {0, 0, 0};
  ++ctx->catalog.lookups;
  int32_t status =
      g_dict.param_cols(ctx->session, routine, position, out->name, &name_length, triple);
  if (status != 0) {
    *out = SqlRoutineParam{};
    return status;
  }
  EndAt(out->name, name_length);
  MapTriple(triple, out->type);
  return 0;
}
