// The compiler's catalog lookups: shared statements kept prepared per server
// thread (THR STM_DDL_*), run under the thread's own user, which shares the
// transaction of the user whose dictionary work is open, so that a lookup
// sees that work in progress. Each call takes a parameter block: word 0 the
// status (an input where a lookup says so), word 1 the requesting USR
// (replaced by the thread's own user block). 0 found, positive no (further)
// row, negative an error.
#pragma once

#include <cstdint>

#include "kernel/databank_figures.h"

inline constexpr int32_t DD_NO_THREAD_BLOCK = -18515;
inline constexpr int32_t DD_PATH_FIELD = -19052;   // a path parameter not 387 bytes long
inline constexpr int32_t DD_PIECE_MISSING = -19007;
inline constexpr int32_t DD_PATH_BYTES = 387;      // three schema names of 1 + 128 bytes
inline constexpr int32_t DD_NAME_BYTES = 128;
inline constexpr int32_t DD_TABLE_NOT_FOUND = 2;
inline constexpr int32_t DD_NAME_TOO_LONG = -19113;  // a name over 128 characters, before any run

// The statement of THR field `thr_field` (shared statement image `image`),
// prepared on first use: its STM, or 0 with the status in pb[0] (-18515,
// also in the requesting user's RVEC_RCODE, when the thread has no THR; a
// preparation failure with the thread user's result vector copied to the
// requesting user). pb[1] becomes the thread's own user block.
int32_t DDCmpPrepare(int32_t* base, int32_t* pb, int32_t thr_field, int32_t image);

// The compiler's current schema: the level name, or the alternate user's
// name (the reserved schema names read as "SYSTEM"); 128 bytes blank padded
// into `name`, the length without trailing blanks in *length. pb[0] 0.
inline constexpr int32_t DD_ALTERNATE_NAME = 1;  // word of the alternate user's block holding its name
void DDCurrentSchema(int32_t* base, int32_t* pb, char* name, int32_t* length);

// Sets parameter n of `stm` to user `usr`'s path (LVL PATH), or, while the
// user's work block has a schema-path flag above 0, to the work block's
// schema name alone. A null element is null in all its 129 bytes. 0, or
// -19052 when the parameter is not 387 bytes long.
int32_t DDWithUcomPath(int32_t* base, int32_t stm, int32_t n, int32_t usr);

// A table or view by name or id.
struct DDTableName {
  const char* schema = nullptr;  // schema_length 0: the path, or the alternate user's schema
  int32_t schema_length = 0;
  const char* name = nullptr;    // name_length 0: by id
  int32_t name_length = 0;
  int32_t id = 0;
};

// Prepares the lookup of an object by name or id whose statement takes
// schema, name, id, path and grantee as parameters 1 to 8 and sets them:
// its statement, or 0 with the status in pb[0] (-19113 for a name over 128
// characters, before anything is prepared). With `test_privilege` the
// current schema is the grantee.
int32_t DDNamedLookup(int32_t* base, int32_t* pb, int32_t field, int32_t image,
                      const DDTableName& name, bool test_privilege);

// The attributes of a table or view. For a view the words only a base
// table has (lengths, databank, primary key) are -1; a flag is 1 or 0.
struct DDTableAttr {
  int32_t id;
  char schema[DD_NAME_BYTES];
  int32_t schema_length;
  char name[DD_NAME_BYTES];
  int32_t name_length;
  int32_t kind;               // 1 base table, 2 view
  int32_t owner_id;
  int32_t key_length, record_length, trailing_start, column_count;
  int32_t insertable;         // "YES"
  int32_t statistics;         // "Y" or "YES"
  int32_t databank_id, logical_id;
  int32_t trans_option;       // the databank's type letter: N 1, T 2, L 3
  int32_t check_option;       // a view's: "NONE" 0, else 1
  int32_t updatable;          // a view's: "YES" 1; "NO" 0
  int32_t primary_key_id, primary_key_length, primary_key_columns, entry_length;
  int32_t has_triggers;
  int32_t privileged;         // with the test asked for: the user or PUBLIC holds a privilege
  int32_t synonym;            // found through a synonym
  // The kernel's figures of the table's tree (DSGetTabStats' eight words:
  // page sizes, levels, key and entry length, lowest, highest and middle
  // row estimate, the middle one held within the other two); all -1 when
  // not fetched.
  int32_t row_stats[TABSTATS_WORDS];
};

// DDCmpTableAttr: 0 with the attributes, 2 when there is no such table
// (every positive status), or an error. `test_privilege` asks whether the
// current schema (DDCurrentSchema) or PUBLIC holds a privilege on it. A
// non-zero status on entry also fetches a base table's row_stats from the
// kernel; when that fails the attributes are given and the status is the
// kernel's failure.
void DDCmpTableAttr(int32_t* base, int32_t* pb, const DDTableName& name, bool test_privilege,
                    DDTableAttr* out);

// One column of a table.
struct DDColumnDesc {
  char name[DD_NAME_BYTES];
  int32_t name_length;
  int32_t column_id, position;
  int32_t type, length, scale;  // the dictionary type code (36 unknown) with its length and scale
  int32_t nullable;             // "NO" 0, else 1
  int32_t second_flag;          // "NO" 0, else 1
  int32_t offset, byte_length;
  int32_t domain_id, character_set, collation;  // 0 when not stored
  int32_t statistics_count;     // -1: no statistics
  uint8_t low[16], high[16];
  int32_t default_length;       // characters of the default; -1 none
};

// DDCmpColumns: a column by id (column_id above 0) or by name. The default
// text (three-byte characters) goes into `default_text`, at most
// `default_capacity` characters. 0, 1 when there is none, or an error.
void DDCmpColumns(int32_t* base, int32_t* pb, int32_t table_id, int32_t column_id,
                  const char* name, int32_t name_length, DDColumnDesc* out,
                  uint8_t* default_text, int32_t default_capacity);

// One key or index of a table, as the compiler takes it.
inline constexpr int32_t DD_CI_ENTRY_WORDS = 44;
inline constexpr int32_t DD_CI_MAX_COLUMNS = 10;
inline constexpr int32_t DD_CI_KIND = 0;      // 1 P primary key, 2 S index, 3 F foreign key,
                                              // 4 Q unique index, 5 A unique constraint
inline constexpr int32_t DD_CI_ID = 1;
inline constexpr int32_t DD_CI_COUNT = 2;     // the key's column count as stored
inline constexpr int32_t DD_CI_FLAG = 3;      // 0 a key whose values are unique (kinds 1, 4, 5)
inline constexpr int32_t DD_CI_COLUMN = 4;    // ten column ids
inline constexpr int32_t DD_CI_OFFSET = 14;   // ten offsets in the record
inline constexpr int32_t DD_CI_LENGTH = 24;   // ten lengths, negated for a descending column
inline constexpr int32_t DD_CI_POSITION = 34; // ten positions in the key
// The letter of key kind k (1-5) is "PSFQA"[k - 1].
int32_t DDKeyKindOf(const char* constraint_type20);

// DDCmpCI: the table's keys and indexes into `entries` (capacity entries of
// 44 words), a list shorter than 10 closed by -1; *count the entries
// written. 2 when capacity is below 1 (nothing run), 1 when no entry was
// collected, 0, or an error.
void DDCmpCI(int32_t* base, int32_t* pb, int32_t table_id, int32_t capacity, int32_t* entries,
             int32_t* count);

// A stored source text (table 41) of object `id`, name and source kind
// (1 ROUTINE ... 6 STATEMENT), read piece by piece from piece 1 into
// `buffer`: three-byte characters (at most 800 a piece), or with `bytes`
// the pieces' raw bytes (at most 2400 a piece). Never more than `capacity`
// characters (bytes) are written; *length the characters (bytes) read.
// 0; 1 when there is no first piece, -19007 when the first piece of a
// kind-1 text is missing; -19089 for another kind.
void DDCmpSourceRead(int32_t* base, int32_t* pb, int32_t id, const char* name,
                     int32_t name_length, int32_t kind, bool bytes, uint8_t* buffer,
                     int32_t capacity, int32_t* length);
// Whether the text exists and its stored total length (*total), by its
// first piece alone; the statuses of DDCmpSourceRead.
void DDCmpSourceInfo(int32_t* base, int32_t* pb, int32_t id, const char* name,
                     int32_t name_length, int32_t kind, int32_t* total);
inline constexpr int32_t DD_SOURCE_PIECE_BYTES = 2400;
// An object's stored definition of a number (0 its text, 59 its compiled
// tree; tables 42 and 43), in bytes: as DDCmpSourceInfo and
// DDCmpSourceRead in byte form, -19007 when its first piece is missing,
// -19113 for a negative number.
void DDCmpDefinitionInfo(int32_t* base, int32_t* pb, int32_t id, int32_t number,
                         int32_t* total);
void DDCmpDefinitionRead(int32_t* base, int32_t* pb, int32_t id, int32_t number, uint8_t* buffer,
                         int32_t capacity, int32_t* length);

// A key or index by id: the kind by its stored word ("INDEX" 2, "FOREIGN
// KEY" 3, "INDEX UNIQUE" 4, "UNIQUE" 5; another word leaves `kind` as the
// caller set it), its table, lengths and column count, and the option
// letter of the databank that holds it (N 1, T 2, L 3; -1 without one).
struct DDIndexAttr {
  int32_t kind;
  int32_t id, table_id, key_length, column_count, entry_length, further;
  int32_t trans_option;
  // With a non-zero status on entry, the kernel's figures of the key's tree
  // (of the table's own for a primary key), as DDTableAttr's; else all -1.
  int32_t row_stats[TABSTATS_WORDS];
};
// 0, 1 when there is no such key, or an error; a failure to fetch the
// figures as DDCmpTableAttr's.
void DDCmpIndexAttr(int32_t* base, int32_t* pb, int32_t key_id, DDIndexAttr* out);

// Does the current schema (DDCurrentSchema) or PUBLIC hold table privilege
// 1 SELECT, 2 INSERT, 3 DELETE, 4 UPDATE, 5 REFERENCES, 6 LOAD on the table
// (0), or not (1); -19089 for another privilege before anything runs.
void DDCmpTablePriv(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege);
// The same for column privilege 1, 2, 4 or 5 on the named column.
void DDCmpColumnPriv(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege,
                     const char* column, int32_t column_length);

// A collation's id by its qualified name (schema length 0: the path, or
// the alternate user's schema): 0, 1 when there is none.
void DDCmpCollation(int32_t* base, int32_t* pb, const DDTableName& name, int32_t* id);
// The id of the first object of a qualified name (schema length 0: the
// alternate user's schema, else NULL, the objects without schema): 0, 1
// when there is none.
void DDCmpIN(int32_t* base, int32_t* pb, const DDTableName& name, int32_t* id);
// The next check constraint behind *value (0: the first) that has its
// check row: of table `table_id`, or, with a table id of 0, of domain
// `domain_id`. 0 and its id in *value, 1 when there is no further one.
void DDCmpCC(int32_t* base, int32_t* pb, int32_t table_id, int32_t domain_id, int32_t* value);

// A sequence by qualified name (as DDCmpTableAttr: schema length 0 the
// path or the alternate user's schema) or, the name's length 0, by id.
struct DDSequenceAttr {
  int32_t id;
  char schema[DD_NAME_BYTES];
  int32_t schema_length;
  char name[DD_NAME_BYTES];
  int32_t name_length;
  int32_t increment, minimum, maximum;
  int32_t has_current, current;  // no value handed out yet: has_current 0
  int32_t block_end;
  int32_t cycle;       // "YES"
  int32_t privileged;  // with the test asked for: the current schema or PUBLIC holds SEQUENCE on it
};
// 0, 1 when there is no such sequence, -19007 for an object without its
// sequence row, or an error.
void DDCmpSequence(int32_t* base, int32_t* pb, const DDTableName& name, bool test_privilege,
                   DDSequenceAttr* out);

// A domain by qualified name or id, as DDCmpSequence.
struct DDDomainAttr {
  int32_t id;
  char schema[DD_NAME_BYTES];
  int32_t schema_length;
  char name[DD_NAME_BYTES];
  int32_t name_length;
  int32_t type, length, scale;  // by the dictionary's type rules
  int32_t not_null;             // its flag "YES"
  int32_t default_length;       // characters of its default; -1 none
  int32_t further, character_set, collation;
  int32_t privileged;
};
// The default text (three-byte characters) goes into `default_text`, at
// most `default_capacity` characters. 0, 1 when there is no such domain,
// -19007 for an object without its domain row, or an error.
void DDCmpDomain(int32_t* base, int32_t* pb, const DDTableName& name, bool test_privilege,
                 DDDomainAttr* out, uint8_t* default_text, int32_t default_capacity);

// A view by id: its schema and name (from which the caller sets the path
// its text is compiled under) and whether its text is stored, with the
// text's total length (read by DDCmpSourceRead, kind 2, no name). 0, 1
// when there is no such view.
struct DDViewText {
  char schema[DD_NAME_BYTES];
  int32_t schema_length;
  char name[DD_NAME_BYTES];
  int32_t name_length;
  int32_t has_text, length;
};
void DDCmpViewCols(int32_t* base, int32_t* pb, int32_t view_id, DDViewText* out);
