// The compiler's dictionary access: small operations (qd...) that fill the
// request of one of the dictionary's compiler lookups, call it through the
// dictionary service table and turn the answer into the compiler's records,
// with a cache of 20 column descriptions a compilation and the list of what
// a statement depends on. The lookups live in a layer the compiler cannot
// link: whoever starts the server installs them; a missing entry names
// itself in the kernel's error report and answers kSqlServiceMissing.
#pragma once

#include <cstdint>
#include <string>

#include "sql/front/stmt_tree.h"

struct SqlCompileCtx;

constexpr int32_t kCatalogNameBytes = 258;
constexpr int32_t kColumnCacheEntries = 20;
constexpr int32_t kDefaultBufferBytes = 90009;  // three-byte characters
constexpr int32_t kObjectAttrWords = 17;
// Attribute word 12: a base table's databank transaction option; a view's
// option bits, from its view row: the view says WITH CHECK OPTION, and the
// view row says the view takes no changes.
constexpr int32_t kObjectAttrOptions = 12;
constexpr int32_t kViewOptionCheck = 1;
constexpr int32_t kViewOptionNotUpdatable = 2;

// A qualified name: schema (empty: not qualified) and object, each ended by 0.
struct SqlQualifiedName {
  char schema[kCatalogNameBytes] = {};
  char name[kCatalogNameBytes] = {};
};

// The dictionary's answer for one column, as its lookup gives it.
struct SqlDictColumn {
  int32_t type = 0, length = 0, scale = 0;  // dictionary type 1-35
  int32_t nullable = 1, second_flag = 0, offset = 0, byte_length = 0, domain_id = 0;
  int32_t character_set = 0;
  int32_t collation = 0;
  int32_t statistics_count = -1;  // -1 none
  uint8_t low[16] = {}, high[16] = {};
  int32_t column_id = 0;
  char name[kCatalogNameBytes] = {};  // the column's name, ended by 0
};

// The lookups (status 0 found, 1 not found, negative an error).
struct SqlDictionaryServices {
  // DDCmpTableAttr: the lengths may change; the object's kind (1 base
  // table, 2 view) in *kind, and the 17 attribute words the compiler takes,
  // in the order the installer gives them; any positive status is not found.
  int32_t (*table_attr)(int32_t session, bool test_privilege, char* schema, int32_t* schema_length,
                        char* name, int32_t* name_length, int32_t* kind, int32_t* attrs) = nullptr;
  // DDCmpColumns: by id, or by name when column_id is -1; the default in
  // three-byte characters (at most kDefaultBufferBytes bytes) and its length
  // in characters, -1 or 0 when none.
  int32_t (*columns)(int32_t session, int32_t table, int32_t column_id, const char* name,
                     int32_t name_length, SqlDictColumn* out, uint8_t* default3,
                     int32_t* default_length) = nullptr;
  // DDCmpCI: entries of 44 words from entry `start`, at most `capacity`.
  int32_t (*keys)(int32_t session, int32_t table, int32_t start, int32_t capacity,
                  int32_t* entries, int32_t* count) = nullptr;
  // DDCmpDomain: identifier, type triple and four further words (the NOT
  // NULL flag, the dictionary's further word, character set, collation).
  int32_t (*domain)(int32_t session, char* schema, int32_t* schema_length, char* name,
                    int32_t* name_length, int32_t* id, int32_t* type_triple,
                    int32_t* further) = nullptr;
  // DDCmpRoutine1: identifier, kind, three descriptor words, a count and a
  // yes/no word into `answer` (7 words).
  int32_t (*routine)(int32_t session, bool test_privilege, char* schema, int32_t* schema_length,
                     char* name, int32_t* name_length, int32_t* answer) = nullptr;
  // DDCmpCollation.
  int32_t (*collation)(int32_t session, char* schema, int32_t* schema_length, char* name,
                       int32_t* name_length, int32_t* id) = nullptr;
  // DDSchemaKind: the current schema into 128 bytes, its length.
  int32_t (*current_schema)(int32_t session, char* name, int32_t* length) = nullptr;
  // DDCmpSourceInfo: whether stored item `item` of object `id` (source
  // kind 1) exists, and its length in bytes; above 0 when it does not.
  int32_t (*source_info)(int32_t session, int32_t id, int32_t item, int32_t* total) = nullptr;
  // DDCmpSourceRead: its bytes, at most `capacity`, and how many were read.
  int32_t (*source_read)(int32_t session, int32_t id, int32_t item, uint8_t* buffer,
                         int32_t capacity, int32_t* length) = nullptr;
  // DDCmpDomain by identifier: the domain's default text (three-byte
  // characters, at most kDefaultBufferBytes bytes) and its length in
  // characters, 0 when none.
  int32_t (*domain_default)(int32_t session, int32_t id, uint8_t* default3,
                            int32_t* default_length) = nullptr;
  // DDCmpIndexAttr: the kind word and five attribute words.
  int32_t (*index_attr)(int32_t session, int32_t table, int32_t request, int32_t* answer) = nullptr;
  // DDCmpCC: one integer for a pair of identifiers (in/out). The
  // dictionary's: the check constraint behind *value (0: the first) of
  // table `a`, or with `a` 0 of domain `b`; above 0 when there is none.
  int32_t (*pair_value)(int32_t session, int32_t a, int32_t b, int32_t* value) = nullptr;
  // DDCmpTrigger: the triggers of a table for event 0-3; *count in/out,
  // `answer` eleven words.
  int32_t (*triggers)(int32_t session, int32_t event, int32_t table, int32_t* count,
                      int32_t* answer) = nullptr;
  // DDCmpIN: one value for a qualified name.
  int32_t (*name_value)(int32_t session, char* schema, int32_t* schema_length, char* name,
                        int32_t* name_length, int32_t* value) = nullptr;
  // DDCmpTablePriv and DDCmpColumnPriv: 0 when the user holds privilege
  // 1 SELECT ... 6 LOAD on the object (its column).
  int32_t (*table_priv)(int32_t session, int32_t privilege, int32_t object) = nullptr;
  int32_t (*column_priv)(int32_t session, int32_t privilege, const char* column,
                         int32_t column_length, int32_t object) = nullptr;
  // DDCmpParams: parameter `position` of routine `routine` (at most
  // `capacity` parameters): its name, mode text ("IN", "OUT", "INOUT", at
  // most 7 bytes and 0) and dictionary type triple; above 0 past the last.
  int32_t (*params)(int32_t session, int32_t routine, int32_t position, int32_t capacity,
                    char* name, int32_t* name_length, char* mode, int32_t* type_triple) = nullptr;
  // DDCmpParamCols: result column `position` of routine `routine`: its name
  // and dictionary type triple; above 0 past the last.
  int32_t (*param_cols)(int32_t session, int32_t routine, int32_t position, char* name,
                        int32_t* name_length, int32_t* type_triple) = nullptr;
  // DDCmpSequence in mode 0 or 2.
  int32_t (*sequence)(int32_t session, int32_t mode, char* schema, int32_t* schema_length,
                      char* name, int32_t* name_length, int32_t* id) = nullptr;
};

// Installs a table (copied; nullptr the empty one); returns the old one.
SqlDictionaryServices SqlInstallDictionaryServices(const SqlDictionaryServices* services);
// The grammar's look-ups over the operations below (the entries of the
// grammar's look-up table when nothing else is installed): a stored routine
// of the function's name (its first part's name and qualifier), a
// collation, the current schema.
int32_t CatalogRoutineLookup(SqlCompileCtx* ctx, const QualifiedName& name);
int32_t CatalogCollationLookup(SqlCompileCtx* ctx, const char* qualifier, const char* name,
                               int32_t* id);
int32_t CatalogSchemaLookup(SqlCompileCtx* ctx, char name[129]);

// The compiler's column description.
struct SqlColumnDesc {
  std::string name;  // as asked for, or the dictionary's name when asked by id
  int32_t table_ref = 0, column_id = 0;
  int32_t type_code = 0, length = 0, scale = 0;  // scale -1 for type code 2
  int32_t nullable = 1, second_flag = 0, offset = 0, byte_length = 0;
  int32_t domain_id = -1;  // -1 when the answer gives 0
  int32_t special = -1;    // the character set, for type codes 8, 30-33, 35
  int32_t variant = -1;
  int32_t collation = 0;   // 136, 138, 140 read as 0
  double low = -1.0, high = -1.0;  // -1.0 both: no statistics
  std::string default_text;        // converted to the column's format
  int32_t default_length = -1;     // -1 none; below -1 a default marker
  int32_t interval = 0;            // 1 for dictionary types 15-27
};

// The per-compilation state, a member of the compile context; cleared at
// every attempt.
struct SqlCatalogState {
  int32_t dependencies = 0;         // list head (workspace reference)
  int32_t dependency_block = 0;     // the block the list lives in
  int32_t record_dependencies = 0;  // recording on for every kind
  int32_t no_privilege_test = 0;    // set by semantic analysis
  SqlColumnDesc cache[kColumnCacheEntries];
  int32_t cache_valid[kColumnCacheEntries] = {};
  int32_t next_entry = 0;
  int32_t lookups = 0;  // dictionary calls made (statistics for tests)
};
void CatalogReset(SqlCompileCtx* ctx);

// Dependency kinds.
constexpr int32_t kDependDomain = 2;
constexpr int32_t kDependTable = 6;
constexpr int32_t kDependRoutine = 12;
constexpr int32_t kDependSequence = 14;
constexpr int32_t kDependCollation = 18;
// Dependency entry words (a 144-byte record): link, object id, kind, name.
constexpr int32_t DEP_LINK = 0;
constexpr int32_t DEP_ID = 1;
constexpr int32_t DEP_KIND = 2;
constexpr int32_t DEP_NAME_BYTE = 12;
constexpr int32_t kDependEntryBytes = 144;

void qdmaptype(int32_t dict_type, int32_t* type_code, int32_t* variant);
void qddepadd(SqlCompileCtx* ctx, int32_t entry);
int32_t qdgetobject(SqlCompileCtx* ctx, SqlQualifiedName* name, int32_t* kind, int32_t* attrs,
                    int32_t no_privilege);
int32_t qdgetcolumn(SqlCompileCtx* ctx, int32_t table_ref, int32_t table_id, const char* name,
                    int32_t column_id, SqlColumnDesc* out);
// What a domain's checks are built from besides its type.
struct SqlDomainData {
  int32_t not_null = 0;       // the domain is NOT NULL
  int32_t further = 0;        // the dictionary's further word, as it gives it
  int32_t character_set = 0;
  int32_t collation = 0;      // 136, 138, 140 read as 0
};
// A domain's identifier and type (code, length, scale, variant), with its
// further data when `data` is given.
int32_t qdgetdomain(SqlCompileCtx* ctx, SqlQualifiedName* name, int32_t* id, int32_t* type,
                    SqlDomainData* data = nullptr);
// Entries of 45 words from the lookup's 44-word entries.
int32_t qdgetcilist(SqlCompileCtx* ctx, int32_t table_id, int32_t* entries, int32_t start,
                    int32_t* count);
int32_t qdgetroutine(SqlCompileCtx* ctx, SqlQualifiedName* name, int32_t* answer);
int32_t qdgetcollation(SqlCompileCtx* ctx, SqlQualifiedName* name, int32_t* id);
int32_t qdcurschema(SqlCompileCtx* ctx, char buffer[129]);
// A routine's parameter or result column: its name (ended by 0), its mode
// (parameters: 1 IN, 2 INOUT, 3 OUT; 0 for a result column or a mode the
// dictionary does not name) and its type (code, length, scale, variant, as
// `qdgetdomain` gives it).
constexpr int32_t kRoutineParamCapacity = 128;
struct SqlRoutineParam {
  char name[kCatalogNameBytes] = {};
  int32_t mode = 0;
  int32_t type[4] = {};
};
// Parameter `position` (1 to 128) of routine `routine`: 0, above 0 past the
// last (a position outside 1 to 128 without a lookup), or the dictionary's
// error.
int32_t qdgetparams(SqlCompileCtx* ctx, int32_t routine, int32_t position, SqlRoutineParam* out);
// Result column `position` (from 1) of routine `routine`, as qdgetparams.
int32_t qdgetparcols(SqlCompileCtx* ctx, int32_t routine, int32_t position, SqlRoutineParam* out);
// A domain's default, converted and checked as a column's (type code and
// length of the column it is used for): 0, or the lookup's status.
int32_t qdgetdomtext(SqlCompileCtx* ctx, int32_t domain_id, int32_t type_code, int32_t length,
                     SqlColumnDesc* out);
// A key or index: the kind word and five attribute words into `record`
// (7 words, the last cleared).
int32_t qdgetindex(SqlCompileCtx* ctx, int32_t table_id, int32_t request, int32_t* record);
int32_t qdgetcc(SqlCompileCtx* ctx, int32_t a, int32_t b, int32_t* value);
// The triggers of a table for an event code (8 gives event 3, 9 gives 2, 10
// gives 1, any other 0); with a count above 0, `result` (13 words) takes
// the answer's first word, 0, its next ten words and the table id.
int32_t qdgettriggers(SqlCompileCtx* ctx, int32_t table_id, int32_t event, int32_t* result,
                      int32_t* count);
// One integer for a qualified name; 0 unless the status is 0.
int32_t qdgetint(SqlCompileCtx* ctx, SqlQualifiedName* name, int32_t* value);
// *granted 1 when the status is 0, else 0.
int32_t qdtablepriv(SqlCompileCtx* ctx, int32_t privilege, int32_t object, int32_t* granted);
int32_t qdcolumnpriv(SqlCompileCtx* ctx, int32_t privilege, const char* column, int32_t object,
                     int32_t* granted);
// A sequence's identifier (mode 2 in compile mode 9, else 0).
int32_t qdgetsequence(SqlCompileCtx* ctx, SqlQualifiedName* name, int32_t* id);
// The stored item's presence and length, and its bytes.
int32_t qdsrcinfo(SqlCompileCtx* ctx, int32_t id, int32_t item, int32_t* total);
int32_t qdsrcread(SqlCompileCtx* ctx, int32_t id, int32_t item, uint8_t* buffer,
                  int32_t capacity, int32_t* length);
