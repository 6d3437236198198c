// The dictionary's reads, cursors and writes inside dictionary work: each
// routine runs one private statement in its own slot of the user's work
// block (statement_run.h), translating the caller's numbers into the words
// the catalog keeps and back. Every routine takes a parameter block: word 0
// the status (the mode on entry for a cursor), word 1 the requesting USR;
// 0 success, positive no (further) row, negative an error (-19075 without
// dictionary work; -19089 for a code outside its table and -19113 for a
// name over 128 characters, both before anything runs).
#pragma once

#include <cstdint>
#include <string_view>

#include "dict/column_reader.h"

inline constexpr int32_t DD_BAD_VALUE = -19113;

// --- Writes ---

// A column as a definition gives it.
struct DDColumnDef {
  const char* name = nullptr;
  int32_t name_length = 0;
  int32_t number = 0;        // its number and ordinal position
  int32_t type = 0;          // dictionary type code 1-35
  int32_t length = 0;        // characters or bytes; a number's precision; an interval's length
  int32_t length_high = 0;   // the high word of a large object's two-word size
  int32_t scale = 0;         // a number's scale; the datetime precision
  int32_t character_set = 0; // 0: the type's own (136, or 140 for national characters)
  bool nullable = true;
  bool second_flag = false;
  int32_t offset = 0, byte_length = 0;  // its place in the record
  int32_t domain_id = 0;     // the domain it is of (0: none), recorded as a type use
};

// Inserts a column row of table `table_id`; a default of `default_length`
// three-byte characters (below 1: none; above 400: stored empty). 2 when
// the table has a column of that name.
void DDInsColumn(int32_t* base, int32_t* pb, int32_t table_id, const DDColumnDef& column,
                 const uint8_t* default_text3, int32_t default_length);
// A table row: kind 1 "BASE TABLE", 2 "VIEW". 2 when the id exists.
void DDInsTable(int32_t* base, int32_t* pb, int32_t id, int32_t kind, int32_t owner_id,
                int32_t key_length, bool insertable, int32_t databank_id);
// A table privilege row of privilege 1-7; a grantor "SYSTEM" is stored as
// "_SYSTEM"; a present row gets the flags given.
void DDInsTablePriv(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege,
                    const char* grantee, int32_t grantee_length, const char* grantor,
                    int32_t grantor_length, bool grantable, bool third_flag);
// A column privilege row of privilege 1, 2, 4 or 5, as DDInsTablePriv.
void DDInsColumnPriv(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege,
                     const char* column, int32_t column_length, const char* grantee,
                     int32_t grantee_length, const char* grantor, int32_t grantor_length,
                     bool grantable);
// A constraint row of kind 1 "PRIMARY KEY", 2 "INDEX", 3 "FOREIGN KEY",
// 4 "INDEX UNIQUE", 5 "UNIQUE", 6 "INTERNAL KEY", 7 "CHECK"; the index's
// databank by its logical id (0: none; 1 when there is no such databank).
void DDInsConstraint(int32_t* base, int32_t* pb, int32_t id, int32_t kind, int32_t table_id,
                     int32_t key_length, int32_t column_count, int32_t entry_length,
                     int32_t further, int32_t logical_id);
// A constraint row's key length, column count, entry length and further
// integer; the row by its id, kind (as DDInsConstraint) and table. 1 when
// there is none.
void DDUpdConstraint(int32_t* base, int32_t* pb, int32_t id, int32_t kind, int32_t table_id,
                     int32_t key_length, int32_t column_count, int32_t entry_length,
                     int32_t further);
// A referential constraint row: match 1 "NONE", 2 "PARTIAL", 3 "FULL" (any
// other "NONE"); rules 1 "CASCADE", 2 "SET NULL", 3 "SET DEFAULT", 4 "NO
// ACTION", 5 "RESTRICT" (others -19089).
void DDInsRefConstraint(int32_t* base, int32_t* pb, int32_t id, int32_t table_id,
                        int32_t unique_id, int32_t referenced_table_id, int32_t match,
                        int32_t update_rule, int32_t delete_rule);
// A key column row: kind 1 "PRIMARY KEY", 2 "INDEX", 3 "FOREIGN KEY",
// 4 "INDEX", 5 "UNIQUE", 6 "INTERNAL KEY"; unique "YES" for 1, 4, 5, 6;
// ascending "NO " when `direction` is negative.
void DDInsKey(int32_t* base, int32_t* pb, int32_t key_id, int32_t table_id, int32_t position,
              const char* column, int32_t column_length, int32_t kind, int32_t direction,
              int32_t column_number);
// A databank row: option 1 "LOG", 2 "TRANS", 3 "NULL".
void DDInsDatabank(int32_t* base, int32_t* pb, int32_t id, int32_t logical_id, const char* name,
                   int32_t name_length, const char* owner, int32_t owner_length,
                   const char* file, int32_t file_length, int32_t option, bool flag);
// One piece of an object's stored definition (number 0 its text, 59 its
// compiled tree): `second_id` the table it belongs to (0 none), the piece
// from 1, the total length in bytes on the first piece (`total` not
// below 0; -1 on the others), at most 2400 bytes of it. The first piece
// also writes the definition's row of 43. 2 when the row is there
// already; the statement is closed after every call. -19113 for a piece
// below 1, a length outside 0-2400 or a negative number.
inline constexpr int32_t DD_DEFINITION_TEXT = 0;
inline constexpr int32_t DD_DEFINITION_TREE = 59;
void DDInsCheckParts(int32_t* base, int32_t* pb, int32_t id, int32_t second_id, int32_t number,
                     int32_t piece, int32_t total, const uint8_t* bytes, int32_t length);
// A whole definition of `length` bytes stored piece by piece (one empty
// piece for none); the first status that is not 0 ends it.
void DDStoreDefinition(int32_t* base, int32_t* pb, int32_t id, int32_t second_id, int32_t number,
                       const uint8_t* bytes, int32_t length);
// A view row: check option "CASCADED" (cascaded) or "NONE", updatable flag,
// the view text (three-byte characters, at most 400).
void DDInsView(int32_t* base, int32_t* pb, int32_t table_id, bool cascaded, bool updatable,
               const uint8_t* text3, int32_t length);
// A synonym's or shadow's link to its base object.
void DDInsBaseLink(int32_t* base, int32_t* pb, int32_t id, int32_t base_id);

// A table's key length, record length, trailing start and column count,
// and its primary key's key length. 1 when there is no such table.
void DDUpdTableInts(int32_t* base, int32_t* pb, int32_t table_id, int32_t key_length,
                    int32_t record_length, int32_t trailing_start, int32_t column_count);

// Marks table `table_id` (its short flag "YES"): its triggers or its
// columns changed. 1 when there is no such table.
void DDUpdTableFlag(int32_t* base, int32_t* pb, int32_t table_id);
// After databank `databank_id` was copied back to an earlier time, the
// keys of its tables lose the row counts of an earlier statistics run.
void DDUpdByTable(int32_t* base, int32_t* pb, int32_t databank_id);
// Whether databank `databank_id` can do without a log. With a table
// (`table_id` above 0, about to take a large-object column): 3 when the
// databank's option is NULL. Without (its option about to become NULL):
// 4 when a table of it has a trigger, 3 when one has a foreign key or a
// unique key. 0 when nothing stands against it, 1 without the databank.
void DDChkIdPair(int32_t* base, int32_t* pb, int32_t databank_id, int32_t table_id);
// A databank's id and option ("LOG" 1, "TRANS" 2, "NULL" 3) by name, or
// (a name length of 0) the user's default databank: the first on which
// the user (the level name), else PUBLIC, holds the TABLE privilege. 1
// when there is none.
void DDGetDatabankOpt(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                      int32_t* id, int32_t* option);

// Drops a databank by id (above 0), else by name: with a sequence number
// (above 0) only its databank row of that number; without, every databank
// row of the id, its object row and its link. 1 when it has no databank
// row.
void DDDelDatabank(int32_t* base, int32_t* pb, int32_t id, int32_t sequence, const char* name,
                   int32_t name_length);

// A databank file row of a backup: the databank's name, the date
// (YYYYMMDD) and time (hhmmss) of the backup, a two-character row code
// ("DL", "BU", "BC"), the user's name, a text of at most 256 bytes (a
// file name; length 0: none) and the sequence number. 2 when the row is
// there already; a date or time not all digits -19113.
inline constexpr int32_t DD_DBFILE_TEXT = 256;
struct DDDbfileRow {
  const char* name = nullptr;
  int32_t name_length = 0;
  const char* date = nullptr;  // 8 characters
  const char* time = nullptr;  // 6 characters
  const char* code = nullptr;  // 2 characters
  const char* user = nullptr;
  int32_t user_length = 0;
  const char* text = nullptr;
  int32_t text_length = 0;
  int32_t sequence = 0;
};
void DDInsDbfile(int32_t* base, int32_t* pb, const DDDbfileRow& row);

// The rows of databank `id`: option 1 "LOG", 2 "TRANS", 3 "NULL" (0
// kept), the flag "YES"/"NO" (-1 kept), the type letter N, T, L or W (0
// kept), offline "Y"/"N" (-1 kept); its object row's change time stamped.
// 1 when the databank has no row; other codes -19089.
void DDUpdDatabank(int32_t* base, int32_t* pb, int32_t id, int32_t option, int32_t flag,
                   char type, int32_t offline);

// --- Reads ---

// Does the grantee hold table privilege 1-7: 1 by a row of its own that
// is grantable, 3 not grantable; 2 and 4 the same by PUBLIC's; 1 as the
// status when neither holds it (a positive no-row status).
void DDChkTablePriv(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege,
                    const char* grantee, int32_t grantee_length, int32_t* held);
// Does the grantee hold column privilege 1, 2, 4 or 5: *held 1 by its own
// row, 2 by PUBLIC's; 1 as the status when neither.
void DDChkColumnPriv(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege,
                     const char* column, int32_t column_length, const char* grantee,
                     int32_t grantee_length, int32_t* held);
// A column by number (above 0), else by ordinal position (above 0), else by
// name; the default text as DDCmpColumns gives it. 1 when none.
struct DDColumnRow {
  char name[DD_NAME_LENGTH];
  int32_t name_length;
  int32_t number, position;
  int32_t type, length, scale;  // by the dictionary's type rules
  int32_t nullable, second_flag;
  int32_t offset, byte_length, domain_id, character_set, collation;
  int32_t default_length;       // -1: none
};
void DDGetColumn(int32_t* base, int32_t* pb, int32_t table_id, int32_t number, int32_t position,
                 const char* name, int32_t name_length, DDColumnRow* out, uint8_t* default_text3,
                 int32_t default_capacity);

// The column at `position` of a key: its type, place in the record and
// flags. 1 when the key has no column there, -19007 when the key names a
// column the table lacks.
struct DDKeyColumn {
  int32_t ascending;  // "NO" 0, else 1
  int32_t type, length, scale;
  char name[DD_NAME_LENGTH];
  int32_t name_length;
  int32_t number, offset, byte_length, nullable;
};
void DDGetKeyColumn(int32_t* base, int32_t* pb, int32_t key_id, int32_t table_id,
                    int32_t position, DDKeyColumn* out);

// The key of table `table_id` whose columns are exactly the `count` names
// given (one string, `lengths[k]` characters each) in that order: the
// PRIMARY KEY first, then the UNIQUE keys by increasing number. 0 with its
// id in *key, 1 when none matches; a count below 1 or above
// DD_MAX_KEY_COLUMNS or a name length outside 1-128: -19113 before anything
// runs.
inline constexpr int32_t DD_MAX_KEY_COLUMNS = 1000;
void DDGetRefKey(int32_t* base, int32_t* pb, int32_t table_id, int32_t count, const char* names,
                 const int32_t* lengths, int32_t* key);

// The id of the object of kind 1-7, 9-16, 18 or 22 (kind 8, a column, and
// 20 are refused: -19089) named `name` in `schema` (length 0: an object
// outside every schema). 1 when there is none; -19007 when a table, view,
// index, constraint or routine lacks its own row.
void DDSelObject(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                 const char* name, int32_t name_length, int32_t kind, int32_t* id);

// A foreign key resting on table `table_id` from a table of `schema` (the
// grantee whose REFERENCES goes); with a column (length above 0), one whose
// referenced key has that column. 0 with its id, 1 when there is none.
void DDGetKeyId(int32_t* base, int32_t* pb, int32_t table_id, const char* schema,
                int32_t schema_length, const char* column, int32_t column_length,
                int32_t* key_id);

// Does another object use a column of a table (by number when above 0,
// else by name): a foreign key referencing a key of the table that has the
// column (3), or an object using a privilege on the column (5); 0 when
// neither, 1 when the table has no such column.
void DDChkColumnUse(int32_t* base, int32_t* pb, int32_t table_id, const char* column,
                    int32_t column_length, int32_t number);

// A table or view by schema and name, a synonym followed to its base
// table or view. 1 when there is none; -19007 for a synonym without its
// link or base object.
struct DDViewCheck {
  int32_t id;
  int32_t kind;  // 1 a base table, 2 a synonym of one, 3 a view, 4 a synonym of one
  char schema[DD_NAME_LENGTH];
  int32_t schema_length;
  char name[DD_NAME_LENGTH];
  int32_t name_length;
  int32_t synonym_id;  // the synonym named (0 and length 0 when none)
  char synonym[DD_NAME_LENGTH];
  int32_t synonym_length;
};
void DDChkView(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
               const char* name, int32_t name_length, DDViewCheck* out);

// Seven integers of an object of kind 6 (BASE TABLE), 7 (VIEW), 4 (INDEX)
// or 16 (CONSTRAINT; others -19089) by schema and name into `values`: the
// id, then a table's key length, record length, trailing start, column
// count, databank id and owner id, or a key's key length, entry length,
// column count, table id, index databank and further integer (NULL: -1).
// 1 when there is none; -19007 when the object lacks its row.
void DDGetObjectIds(int32_t* base, int32_t* pb, int32_t kind, const char* schema,
                    int32_t schema_length, const char* name, int32_t name_length,
                    int32_t* values);

// Drops synonyms: with an id above 0 every SYNONYM linked to that object
// (object row and link; a shadow's link stays), else the SYNONYM of the
// schema and name with its link. 1 when there was none.
void DDDelSynonyms(int32_t* base, int32_t* pb, int32_t id, const char* schema,
                   int32_t schema_length, const char* name, int32_t name_length);

// --- Cursors ---

// The keys and indexes of a table (not its primary key): mode (pb[0]) not
// 0 opens, 0 the next; kind ("INDEX UNIQUE" 4, "FOREIGN KEY" 3, "UNIQUE" 5,
// "INDEX" 2), id, key length, column count, entry length and two further
// integers (NULL: -1) into `values` (7 words). 1 at the end.
void DDCurKeys(int32_t* base, int32_t* pb, int32_t table_id, int32_t* values);
// The grants of column privilege 1, 2, 4 or 5 on a table, opened (pb[0])
// by mode: 1 deletes the row of the column from the grantor to the holder
// and delivers nothing; 2 deletes the column's rows the holder granted on;
// 3 clears the grant option of the row of 1; 4 deletes the rows of every
// column from the grantor to the holder; 5 clears their grant option (and
// that of the table privilege row). A deleted row whose grantee keeps no
// column row of the privilege from that grantor takes the table privilege
// row with it. 0 the next row. Modes 2 and 3 deliver the grantee's name,
// 0, 4 and 5 the whole row. 1 at the end. A name of length 0 is none.
struct DDGrantWalk {
  int32_t table_id = 0, privilege = 0;
  const char* holder = nullptr;
  int32_t holder_length = 0;
  const char* column = nullptr;
  int32_t column_length = 0;
  const char* grantor = nullptr;
  int32_t grantor_length = 0;
};
struct DDGrantRow {
  char grantee[DD_NAME_LENGTH];
  int32_t grantee_length;
  char column[DD_NAME_LENGTH];
  int32_t column_length;
  int32_t table_id, privilege;  // the table privilege's number 1-7
  char grantor[DD_NAME_LENGTH];
  int32_t grantor_length;
  int32_t grantable;            // "YES" 1
  int32_t ident_id;             // the grantee's ident (NULL: 0)
  int32_t grantee_kind;         // "GROUP" 1, "PROGRAM" 2, "USER" 3, "OS_USER" 4, none 0
};
void DDCurColumnGrants(int32_t* base, int32_t* pb, const DDGrantWalk& walk, DDGrantRow* out);
// The twin over table privileges 1-7 (letters A-D, modes 1-4: the row
// from the grantor to the holder deleted; the rows the holder granted
// deleted; the row of A, grant option cleared; every row the holder holds
// deleted), each with the column privilege rows of the same privilege,
// grantee and grantor. Mode 1 delivers nothing; modes 0 and 4 the whole
// row (no column, no ident id), 2 and 3 the grantee's name.
void DDCurTableGrants(int32_t* base, int32_t* pb, const DDGrantWalk& walk, DDGrantRow* out);
// The databanks: mode 1 by name, 2 by id, 3 every one (reopened from the
// first row), 0 the next. 1 at the end.
struct DDDatabankRow {
  int32_t id;
  int32_t number;  // the row's sequence number (a databank has a row per number)
  char name[DD_NAME_LENGTH];
  int32_t name_length;
  char second_name[DD_NAME_LENGTH];  // the row's own name (a file row's)
  int32_t second_name_length;
  char file[256];
  int32_t option;  // "LOG" 1, "TRANS" 2, "NULL" 3, else 0
  int32_t flag;    // "YES" 1
  int32_t offline;  // the offline letter "Y" 1: the kernel core opens it only as offline
  int32_t logical_id;
  char creator[DD_NAME_LENGTH];  // its object row's schema; blanks without one
  int32_t creator_length;
};
// A databank's transaction option word: "LOG" 1, "TRANS" 2, "NULL" 3, else 0.
int32_t DDOptionOf(std::string_view word);
void DDCurDatabank(int32_t* base, int32_t* pb, int32_t id, const char* name,
                   int32_t name_length, DDDatabankRow* out);

// A table a view uses, at a place (0-999) of the view's list, with a
// further small integer (0-999); a row present already stays. 1 when the
// table has no row of 16; -19113 for a place or integer outside 0-999.
void DDInsViewTableUse(int32_t* base, int32_t* pb, int32_t view_id, int32_t position,
                       int32_t table_id, int32_t further);
