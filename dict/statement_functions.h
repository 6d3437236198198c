// The dictionary's statement functions: one function per precompiled
// statement, each in its own slot of the user's work block. Every function
// takes the caller's parameter block: word 0 the status (the mode on entry
// for a cursor), word 1 the requesting USR; on return 0 success, positive
// no (further) row or the statement's own code, negative an error (-19075
// without dictionary work, -19089 for a kind outside the function's table,
// before anything runs). Names are blank-padded texts of up to 128 bytes.
#pragma once

#include <cstdint>

// Inserts an ident row: name, id, kind 1 GROUP, 2 PROGRAM, 3 USER,
// 4 OS_USER, a byte value (nullptr: NULL) and 0. 2 when the name exists.
void DDInsIdent(int32_t* base, int32_t* pb, const char* name, int32_t name_length, int32_t id,
                int32_t kind, const uint8_t* bytes, int32_t bytes_length);
// Inserts a schema row: id, 135, NULL. 2 when the id exists.
void DDInsSchema(int32_t* base, int32_t* pb, int32_t id);
// 2 when a trigger row of `id` exists, 0 when not.
void DDChkTrigger(int32_t* base, int32_t* pb, int32_t id);
// Cursor over the objects of a name: mode (pb[0]) not 0 opens it with the
// name, 0 takes the next; the object's id into *id; 1 at the end.
void DDGetIdByName(int32_t* base, int32_t* pb, const char* name, int32_t name_length, int32_t* id);

// Does `grantee` hold the privilege of kind 1..17 (holes 14 and 16) on the
// object (id 0 for kinds without object): pb[0] 0 when not, 1 when it does,
// -19089 for another kind.
void DDChkPrivilege(int32_t* base, int32_t* pb, int32_t kind, int32_t object_id,
                    const char* grantee, int32_t grantee_length);
// Inserts a privilege row of kind 1..17 (holes 14 and 16), or gives a row
// present already the grantable flag; a grantor "SYSTEM" is stored as
// "_SYSTEM". -19007 when the present row cannot be read back.
void DDInsPrivilege(int32_t* base, int32_t* pb, int32_t kind, int32_t object_id, bool grantable,
                    const char* grantee, int32_t grantee_length, const char* grantor,
                    int32_t grantor_length);

// Inserts an object row: id, kind (of the object kinds, 8 COLUMN and 20
// GENERATED included), schema (a length below 1: NULL) and name. 2 when
// the id exists.
void DDInsObject(int32_t* base, int32_t* pb, int32_t id, int32_t kind, const char* schema,
                 int32_t schema_length, const char* name, int32_t name_length);
// Cursor over the idents of a name, deleting each one's object, ident and
// privilege rows before it is handed back: mode (pb[0]) 1 opens by name,
// another non-zero mode by the second name form, 0 takes the next. The
// ident's id, its kind (1 GROUP, 2 PROGRAM, 3 USER, 4 OS_USER, 0 none) and,
// outside mode 1, its name (128 bytes, blank padded; may be nullptr).
void DDDelIdent(int32_t* base, int32_t* pb, const char* name, int32_t name_length, int32_t* id,
                int32_t* kind, char* name_out);

// A grantee: mode (pb[0]) 1 by name, giving its id; any other mode by id,
// giving its name (128 bytes, blank padded; may be nullptr); always its
// kind (1 GROUP, 2 PROGRAM, 3 USER, 4 OS_USER, 5 none). 1 when there is
// none.
void DDCurGrantee(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                  int32_t* id_out, char* name_out, int32_t* kind);

// Stores a source text of `length` three-byte characters in pieces of 800
// (pieces numbered from 1; only the first carries the total length, the
// others NULL): object id, name (a length below 1: one blank), kind 1
// ROUTINE, 2 VIEW, 3 CHECK, 4 DEFAULT, 5 PATH, 6 STATEMENT. Stops at the
// first piece that does not go in (2 when it is present already). A text
// of no characters is one empty piece.
void DDInsSource(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                 int32_t kind, const uint8_t* text3, int32_t length);
inline constexpr int32_t DD_SOURCE_PIECE = 800;

// Reads a source text back piece by piece into `text3` (three-byte
// characters), appending each piece's characters, but never more than
// `capacity` characters: *total the stored total length, *length the
// characters copied. 1 when the text has no first piece; a missing later
// piece ends the reading with 0.
void DDGetSourceInfo(int32_t* base, int32_t* pb, int32_t id, const char* name,
                     int32_t name_length, int32_t kind, uint8_t* text3, int32_t capacity,
                     int32_t* total, int32_t* length);

// An object's id by schema (a length below 1: the work block's schema when
// its path flag is set, else the user's path of up to three schemas), name
// and kind (the object kinds but 8 COLUMN, 9 SHADOW and 20 GENERATED): of
// each schema of the path in turn, the first object of the name answers
// when it is of the kind; 1 when none does.
void DDGetObjectId(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                   const char* name, int32_t name_length, int32_t kind, int32_t* id);
// The name (and, unless nullptr, the schema; 128 bytes each, blank padded)
// of the object of an id; 1 when there is none.
void DDGetName(int32_t* base, int32_t* pb, int32_t id, char* name, char* schema);
// Records that object `user_id` of kind 2, 4, 6, 7, 10-13, 16 (stored
// CHECK) or 22 uses object `used_id` of kind 2, 6, 7, 10-14 or 18. 2 when
// the row exists.
void DDInsObjUsage(int32_t* base, int32_t* pb, int32_t user_id, int32_t user_kind,
                   int32_t used_id, int32_t used_kind);
// 1 when a usage row names object `id` as used, 0 when none does.
void DDChkUsed(int32_t* base, int32_t* pb, int32_t id);
// Cursor (pb[0] non-zero opens) over what rests on object `id` whose name
// is `name` (no name: length below 1): the objects whose usage rows name
// the id; the privileges granted on it (each as the id, with the object
// kind its privilege word names, none for a table privilege); last the
// object's own row (by id, else by the name without a schema). Each as its
// id and kind: 2, 6, 7, 11, 12, 13, 21 (CHECK), 22, or
// DD_NO_DEPENDENT_KIND for another word or none. 1 after the last, also
// when the object has no row.
inline constexpr int32_t DD_NO_DEPENDENT_KIND = 24;
void DDCurDependents(int32_t* base, int32_t* pb, int32_t id, const char* name,
                     int32_t name_length, int32_t* dependent, int32_t* kind);

// Cursor (pb[0] non-zero opens) over what rests on a grantee's privilege
// (1 SELECT .. 7 TRIGGER, else -19089 before anything runs) on table
// `table_id`, of one column (a length below 1: the whole table). Each row
// as its id, kind (2, 6, 7, 11, 12, 13, 16 CONSTRAINT or CHECK, 22, else
// DD_NO_DEPENDENT_KIND) and where it comes from (*from):
// DD_PRIV_DEP_USER an object whose privilege usage row names the table
// and privilege and whose creator is the grantee (a routine, statement or
// view by the privilege "_SYSTEM" gave the grantee on it; a trigger or a
// check as it is); DD_PRIV_DEP_COLUMN_GRANT / DD_PRIV_DEP_TABLE_GRANT the
// table, for a column or table privilege the grantee passed on; last
// DD_PRIV_DEP_SELF the table's own row (without one, the grantee's row by
// its name). 1 after the last; -19007 when neither has a row.
inline constexpr int32_t DD_PRIV_DEP_SELF = 0, DD_PRIV_DEP_USER = 1,
                         DD_PRIV_DEP_COLUMN_GRANT = 2, DD_PRIV_DEP_TABLE_GRANT = 3;
void DDCurPrivDependents(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege,
                         const char* grantee, int32_t grantee_length, const char* column,
                         int32_t column_length, int32_t* dependent, int32_t* kind,
                         int32_t* from);

// A sequence's object id by schema (as DDGetObjectId) and name; 1 when
// there is none. pb[0] on entry the preparation mode: 0 prepares (once) and
// runs, -3 prepares without binding and runs nothing; a statement prepared
// under the other mode is closed and prepared again.
void DDGetSequenceObj(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                      const char* name, int32_t name_length, int32_t* id);
// Inserts a sequence row: id, three bytes (nullptr: NULL), increment, no
// current value, least and greatest value, not cycling, no block handed
// out. 2 when the id exists.
void DDInsSequence(int32_t* base, int32_t* pb, int32_t id, const uint8_t* bytes,
                   int32_t increment, int32_t minimum, int32_t maximum);
// Cursor over sequences being dropped: mode (pb[0]) 2 every SEQUENCE of
// the name, 3 the sequence of id `id`, 0 the next. Each one's sequence,
// object and privilege rows are deleted before its id is handed back; 1
// at the end, -19007 for an object without its sequence row.
void DDDelSequence(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                   int32_t* id_out);

// An object's id by schema (a length of 0: the work block's copy of the
// level name) and name; 1 when there is none.
void DDGetObjectId2(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                    const char* name, int32_t name_length, int32_t* id);
// Cursor over the objects of the schema named `name`: mode (pb[0]) not 0
// opens it, 0 takes the next; each one's name (128 bytes, blank padded),
// id and kind (0 for a word outside the object kinds); 1 at the end.
void DDGetIdentSchema(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                      char* object_name, int32_t* id, int32_t* kind);
// Records that column (or routine) `name` of `table_id` uses object `id` of
// kind 2 DOMAIN, 14 SEQUENCE or 18 COLLATION. 2 when the row exists.
void DDInsTypeUse(int32_t* base, int32_t* pb, int32_t kind, int32_t id, int32_t table_id,
                  const char* name, int32_t name_length);

// A table's (domain's) check constraint: its constraint (domain constraint)
// row and its text of at most 400 three-byte characters (more: -19113). 2
// when a row exists.
void DDInsCheck(int32_t* base, int32_t* pb, int32_t id, int32_t table_id, bool deferrable,
                bool deferred, const uint8_t* text3, int32_t length);
void DDInsDomainCheck(int32_t* base, int32_t* pb, int32_t id, int32_t domain_id,
                      bool deferrable, bool deferred, const uint8_t* text3, int32_t length);
// A collation's row and its definition of at most 256 bytes (more:
// -19113); -19007 when either exists.
void DDInsCollation(int32_t* base, int32_t* pb, int32_t id, const uint8_t* definition,
                    int32_t length);
// Drops a collation's object row, row, definition and privilege rows;
// -19007 when one of the first three is missing.
void DDDelCollation(int32_t* base, int32_t* pb, int32_t id);
// The next check constraint of a domain behind *constraint (0: the first)
// with its CHECK source text: *constraint and *total (its length in
// characters) set; unless the mode (pb[0]) is 0, its pieces appended to
// `text3`, never more than `capacity` characters (*length the characters
// copied). 1 when there is no further constraint.
void DDCurCheckCols(int32_t* base, int32_t* pb, int32_t domain_id, int32_t* constraint,
                    int32_t* total, uint8_t* text3, int32_t capacity, int32_t* length);

// Changes ident `name` and stamps its object row with the current date and
// time: mode (pb[0]) 1 its password becomes the 18 bytes at `password`; 2
// its kind becomes `kind` (3 USER or 4 OS_USER, else -19089). 1 when there
// is no such ident, 3 for a GROUP, 4 for a password of an OS_USER, 5 when
// the new value is the stored one, -19007 when the ident has no object
// row; another mode, or mode 1 without a password, -19113.
void DDUpdObjIdent(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                   int32_t kind, const uint8_t* password);
inline constexpr int32_t DD_PASSWORD_BYTES = 18;

// A module row: id, 139, two integers and its text of at most 400
// three-byte characters (more: -19113). 2 when the id exists.
void DDInsModule(int32_t* base, int32_t* pb, int32_t id, int32_t first, int32_t second,
                 const uint8_t* text3, int32_t length);
// A routine's name and specific name. 2 when the id exists.
void DDInsRoutineName(int32_t* base, int32_t* pb, int32_t id, const char* name,
                      int32_t name_length, const char* specific, int32_t specific_length);
// Cursor over the routines of a module: mode (pb[0]) not 0 opens it, 0
// takes the next; each one's id and whether it is a FUNCTION; 1 at the end.
void DDCurFunctions(int32_t* base, int32_t* pb, int32_t module_id, int32_t* routine_id,
                    bool* function);
// Stamps object `id`'s row with the current date and time; 1 when there is
// no such object.
void DDUpdChangeTime(int32_t* base, int32_t* pb, int32_t id);

// Cursor over the grantees of the privilege rows on object `id`: mode
// (pb[0]) not 0 opens it, 0 takes the next; each one's kind by its letter
// (1 G, 2 P, 3 U, 4 O, 0 another) and name (128 bytes, blank padded); 1 at
// the end, -19007 for a grantee without its ident row.
void DDGetGranteeById(int32_t* base, int32_t* pb, int32_t id, int32_t* kind, char* name);

// ---- Source texts of generated routines, routines, parameters, modules.

// One piece of a system-generated routine's source text (name one blank):
// kind must be 1 (ROUTINE, else -19089); mode 1 a later piece (no total
// length), 2 the first piece (piece number 1), another the piece given;
// `length` characters of at most 800 (else -19113). A piece present
// already takes the text and total length given.
void DDInsGenRoutine(int32_t* base, int32_t* pb, int32_t mode, int32_t kind, int32_t id,
                     int32_t piece, int32_t total, const uint8_t* text3, int32_t length);
// A generated routine's stored piece: its 2400 bytes into `text3` and the
// total length (-1: NULL, a later piece). 1 when there is none.
void DDGetSourceText(int32_t* base, int32_t* pb, int32_t id, int32_t piece, uint8_t* text3,
                     int32_t* total);
// A generated routine's stored piece takes a new text of at most 800
// characters (else -19113). 1 when there is none.
void DDUpdSourceText(int32_t* base, int32_t* pb, int32_t id, int32_t piece,
                     const uint8_t* text3, int32_t length);

// A routine row. `access` 1 NO SQL, 2 CONTAINS SQL, 3 READS SQL DATA, 4
// MODIFIES SQL DATA (else -19089); the definition at most 400 characters
// (else -19113).
struct DDRoutineDef {
  int32_t id = 0, module_id = 0, access = 1;
  int32_t ints[4] = {};  // stored in INT_56, INT_63, INT_70 and INT_84
  const uint8_t* text3 = nullptr;
  int32_t length = 0;
  bool flags[3] = {};  // YES/NO in CHAR_2300, CHAR_2496, CHAR_2510
  const char* specific = "";
  int32_t specific_length = 0;
};
// Kind PROCEDURE (INT_77 0, INT_91 NULL) and FUNCTION (INT_77 1, INT_91 0,
// no third flag). 2 when the id exists.
void DDInsProcedure(int32_t* base, int32_t* pb, const DDRoutineDef& r);
void DDInsFunction(int32_t* base, int32_t* pb, const DDRoutineDef& r);

struct DDTypeInput;
// A parameter row: routine id, position, result flag, mode 1 IN, 2 INOUT,
// another OUT, name, an integer (INT_160), the type (its code outside 1 to
// 35: -19089) and a last integer (INT_167). 2 when present.
struct DDParameterDef {
  int32_t routine_id = 0, position = 0;
  bool result = false;
  int32_t mode = 1;
  const char* name = "";
  int32_t name_length = 0;
  int32_t second = 0;
  const DDTypeInput* type = nullptr;
  int32_t last = 0;
};
void DDInsParameter(int32_t* base, int32_t* pb, const DDParameterDef& d);

// Cursor over modules being dropped: mode (pb[0]) 2 the module of `id`, 3
// every MODULE of the name, 0 the next (another -19113). Each one's
// object, module and privilege rows and its source texts are deleted
// before its id is handed back; 1 at the end, -19007 for an object without
// its module row.
void DDDelModule(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                 int32_t* id_out);
// A module's sources dropped: the module row takes INT_14 and INT_21, each
// routine of it INT_84 and INT_91, the module's source texts are deleted. 1
// when there is no such module.
void DDDelRoutineSrc(int32_t* base, int32_t* pb, int32_t module_id, int32_t module14,
                     int32_t module21, int32_t routine84, int32_t routine91);

// ---- Domains.

// A domain row: its id, type, an integer (INT_140), two YES/NO flags and
// its default text (nullptr or a length below 1: none; over 400
// characters: stored empty). 2 when present; -19089 for a type code
// outside 1 to 35.
void DDInsDomain(int32_t* base, int32_t* pb, int32_t id, const DDTypeInput& type,
                 int32_t int140, bool flag1, bool flag2, const uint8_t* default3,
                 int32_t default_length);
struct DDDomainInfo {
  int32_t id = 0;
  int32_t character_set = 0;  // 136 and 140, the defaults, as 0
  int32_t type = 0, length = 0, scale = 0;  // the dictionary type code
  int32_t collation = 0, int140 = 0;
  bool flag1 = false, flag2 = false;  // false for "N"
  int32_t default_length = -1;        // characters copied; -1 no default
};
// A domain by schema (as DDGetObjectId) and name: the first DOMAIN of the
// name in the path's schemas, with its row; the default text into
// `default3`, at most `capacity` characters. pb[0] on entry the
// preparation mode (0, or -3: prepared, not run). 1 when there is none.
void DDGetDomain(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                 const char* name, int32_t name_length, DDDomainInfo* out, uint8_t* default3,
                 int32_t capacity);
// A domain's default dropped: its default NULL, the usage rows of the
// objects it used deleted. 1 when there is no such domain.
void DDDelDomainUse(int32_t* base, int32_t* pb, int32_t id);
// Cursor over domains being dropped: mode (pb[0]) 1 the domain of `id`, 2
// every DOMAIN named `name` in any schema, 0 the next; another -19113. Each
// one's object, level-2 condition, privilege, usage (as user), source,
// check (24, 21 and each check's texts, usage rows and object row) and
// stored definition rows are deleted with its row before its id is handed
// back; each column of it (its type usage rows) keeps its type, loses the
// domain, takes the domain's collation (recorded as its table's use of the
// collation) and, without a default of its own, the domain's default and
// its stored text. 1 at the end; -19007 when an object row, a column or a
// check clause the rows name is missing.
void DDCheckUsage(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                  int32_t* domain_id);
// Cursor over the columns (routines) using DOMAIN (kind 2) or SEQUENCE (14)
// `id` (another kind -19089): mode (pb[0]) not 0 opens it, 0 takes the
// next; the table's id, the column's name, the table's kind (object kinds,
// 0 none), name and schema (128 bytes each; may be nullptr); 1 at the end.
void DDGetDomainSeq(int32_t* base, int32_t* pb, int32_t id, int32_t kind, int32_t* table_id,
                    char* column, int32_t* table_kind, char* table_name, char* schema);

// ---- Idents, schemas and privileges.

// The name (128 bytes, blank padded) of object `id` in schema `schema`; 1
// when the schema holds no object of the id.
void DDGetNameById(int32_t* base, int32_t* pb, int32_t id, const char* schema,
                   int32_t schema_length, char* name);
// The ident of a name while it holds a privilege: mode (pb[0]) not 0 opens
// the cursor, 0 takes the next; its id, flag (0 when it is "N", else 1) and
// name (128 bytes; may be nullptr); 1 when there is none (further).
void DDGetIdentByName(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                      int32_t* id, int32_t* flag, char* name_out);
// Drops the schemas of a name (their object and schema rows): mode (pb[0])
// 1 drops and ends with 0; another non-zero mode opens a cursor that hands
// back each dropped schema's name (128 bytes; may be nullptr), 0 the
// next. 1 when there is none (further), -19007 for an object without its
// schema row.
void DDDelSchema(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                 char* name_out);
// Cursor over the privileges a grantee holds (of those granted by
// `grantor`; a length below 1: by anyone): mode (pb[0]) not 0 opens it, 0
// takes the next; each one's kind (1..17, 18 none) and object id; 1 at the
// end.
void DDCurSysPrivs(int32_t* base, int32_t* pb, const char* grantee, int32_t grantee_length,
                   const char* grantor, int32_t grantor_length, int32_t* kind,
                   int32_t* object_id);
// A new column gets a column privilege for every SELECT, INSERT, UPDATE and
// REFERENCES privilege of its table. -19007 when one is present already.
void DDInsNewColumnPrivs(int32_t* base, int32_t* pb, int32_t table_id, const char* name,
                         int32_t name_length);
// Object `id` (named `name`) of kind 7 VIEW, 11 PROCEDURE, 12 FUNCTION, 13
// TRIGGER, 16 CHECK or 22 STATEMENT rests on privilege 1 SELECT .. 7
// TRIGGER of table `table_id` (other kinds -19089): its privilege-usage row
// and, when missing, its object usage row. 2 when the first is present,
// -19007 when the table has no object row.
void DDInsPrivUsage(int32_t* base, int32_t* pb, int32_t id, const char* name,
                    int32_t name_length, int32_t table_id, int32_t user_kind,
                    int32_t privilege);

// ---- Columns, keys and triggers.

// The primary key of table `table_id` takes the flag (CHAR_89 "YES" or
// "NO "). 1 when the table's first constraint is not its primary key.
void DDUpdConstraintFlag(int32_t* base, int32_t* pb, int32_t table_id, bool flag);
// A view's column takes the type (words, lengths, precisions, character
// set, collation, domain) of the column it shows. 1 when the shown column
// is missing, -19007 when the view's is.
void DDUpdViewColumn(int32_t* base, int32_t* pb, int32_t from_table, const char* from_name,
                     int32_t from_length, int32_t to_table, const char* to_name,
                     int32_t to_length);

// A trigger row. Event 1 INSERT, 2 UPDATE, 3 DELETE and timing 1 BEFORE, 2
// INSTEAD OF, 3 AFTER (else -19089); texts of at most 400 characters
// (else -19113; a condition of length 0 is NULL); the update columns'
// three characters are kept in mode 2 only (1 and 3: NULL).
struct DDTriggerDef {
  int32_t id = 0, table_id = 0, event = 1, timing = 1;
  const uint8_t* condition3 = nullptr;
  int32_t condition_length = 0;
  const uint8_t* action3 = nullptr;
  int32_t action_length = 0;
  bool row = false;  // ROW, else STATEMENT
  const char* old_name = "";
  int32_t old_length = 0;
  const char* new_name = "";
  int32_t new_length = 0;
  int32_t columns_mode = 1;
  const char* columns = "   ";
  int32_t value = 0;
};
// 2 when the id exists.
void DDInsTrigger(int32_t* base, int32_t* pb, const DDTriggerDef& t);
// The table of trigger `id`: its name and schema (128 bytes each; may be
// nullptr) and id. pb[0] on entry the preparation mode (0, or -3: prepared,
// not run). 1 when there is no such trigger or table.
void DDGetTriggerNames(int32_t* base, int32_t* pb, int32_t id, char* table_name,
                       int32_t* table_id, char* schema);

// A grantee's table privilege (1 SELECT, 2 INSERT, 4 UPDATE, 5 REFERENCES;
// else -19089) is marked (CHAR_290) "YES" when every column of the table
// holds it for the grantee from the grantor, else "NO ". -19007 when the
// table privilege row is missing.
void DDUpdTablePriv(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege,
                    const char* grantee, int32_t grantee_length, const char* grantor,
                    int32_t grantor_length);
// What an INSTEAD OF trigger of event 1 INSERT, 2 UPDATE, 3 DELETE (else
// -19089) on view `view_id` brings `ident`. DD_VIEW_TRIGGER_ADDED: the
// view and its columns are marked as changed through a trigger (CHAR_32,
// CHAR_284 "YES"), the ident gets the event's column privileges (not for
// DELETE) and table privilege from "_SYSTEM" (rows present are left);
// *result 0. DD_VIEW_TRIGGER_DROPPED: *result 2 when another INSTEAD OF
// trigger of the event stands (nothing changed); else the marks stay only
// while one of another event stands, and *result is 1 when the ident still
// holds the event's table privilege from "_SYSTEM" (for the caller to
// revoke), 0 when not. Another mode -19113; -19007 without the view row.
inline constexpr int32_t DD_VIEW_TRIGGER_ADDED = 1, DD_VIEW_TRIGGER_DROPPED = 2;
void DDViewTriggerPrivs(int32_t* base, int32_t* pb, int32_t view_id, int32_t mode,
                        const char* ident, int32_t ident_length, int32_t event,
                        int32_t* result);
// The columns of table `table_id` that use domain `domain_id` take `type`
// (its code outside 1 to 35: -19089) and no domain; their type usage rows
// of the domain are deleted (-19007 for a column without it).
void DDUpdColumn(int32_t* base, int32_t* pb, int32_t table_id, int32_t domain_id,
                 const DDTypeInput& type);
// A comment of at most 764 bytes (else -19113) on the object of a schema (a
// length of 0: the work block's copy of the level name), name and kind (1
// to 15 and 18, else -19089), kept in its object row; kind 8 COLUMN: on
// column `column` of the BASE TABLE (else VIEW) `name`, kept in the column
// row. 1 when there is no such object, table or column.
void DDUpdObject(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                 const char* name, int32_t name_length, const char* column,
                 int32_t column_length, int32_t kind, const uint8_t* text, int32_t text_length);
inline constexpr int32_t DD_REMARKS_BYTES = 764;

// Cursor over routines being dropped: mode (pb[0]) 2 the routines of module
// `module_id` (by index 98), 3 every PROCEDURE and FUNCTION of the name, 4
// the routine of `routine_id` (a next call gives 1), 0 the
// next (another -19113). Each one's object, routine, privilege,
// specific-name, usage, privilege-usage, parameter and source rows are
// deleted before it is handed back: columns[0..5] its id, INT_77 (1 for a
// function), module id, INT_56, INT_63, INT_70; the status 2 instead of 0
// when columns[1] is not 0. 1 at the end, -19007 for a routine without its
// object row. The two functions run one statement, each in its own slot.
void DDDelRoutine1(int32_t* base, int32_t* pb, int32_t routine_id, int32_t module_id,
                   const char* name, int32_t name_length, int32_t* columns);
void DDDelRoutine2(int32_t* base, int32_t* pb, int32_t routine_id, int32_t module_id,
                   const char* name, int32_t name_length, int32_t* columns);

// Cursor over triggers being dropped: mode (pb[0]) 2 every trigger of
// table `table_id`, 3 every TRIGGER of the name, 4 the trigger of
// `trigger_id` (ending with 0), 0 the next (another -19113). Each one's
// trigger and object rows, usage, privilege-usage and source rows are
// deleted before it is handed back: its id, table id, event (1 INSERT, 2
// UPDATE, 3 DELETE) and timing (1 BEFORE, 2 INSTEAD OF, 3 AFTER; 0 for
// another word). Dropped by id or name, it marks the table's other
// triggers (CHAR_2479 "YES"). 1 at the end, -19007 for a trigger without
// its object row.
void DDDelTriggers(int32_t* base, int32_t* pb, int32_t table_id, int32_t trigger_id,
                   const char* name, int32_t name_length, int32_t* id, int32_t* table,
                   int32_t* event, int32_t* timing);

// Drops check constraint `id` with its object row, the usage rows of what
// it uses, its check clause, source texts, table constraint row (a table
// check), privilege-usage rows, domain constraint row (a domain check: the
// domain loses its check mark, CHAR_1356) and check pieces. 1 when it has
// no object row, -19007 when it has no check clause.
void DDDelCheckRows(int32_t* base, int32_t* pb, int32_t id);
// The columns of table `table_id` whose byte offset lies behind `from`
// move by `delta` bytes (their offset takes it added); the others stay.
void DDAdjCounts(int32_t* base, int32_t* pb, int32_t table_id, int32_t from, int32_t delta);
// Column `column` of table `table_id` made a column of the table's primary
// key at byte *key_offset of the key part. The first (*key_offset 0)
// replaces the internal key column "ZAVOR_ROWID" (12 bytes at the record's
// start: its column row, INTERNAL KEY constraint row, that constraint's
// object row and key column rows deleted; every other column moves 12
// bytes toward the start). The column's offset becomes *key_offset and it
// is no longer nullable; the columns from *key_offset up to its old place
// move behind it by its length. *removed the bytes the record lost (12 or
// 0), *length the column's length, *key_offset the offset behind it. 1
// without the column (ZAVOR_ROWID itself is none); -19007 when the
// internal key column or its rows are missing for the first key column or
// still there for a later one, and for a column already of the key (its
// place before *key_offset); a negative *key_offset -19113, nothing run.
void DDUpdKeyCols(int32_t* base, int32_t* pb, int32_t table_id, const char* column,
                  int32_t column_length, int32_t* key_offset, int32_t* removed,
                  int32_t* length);

// The privileges of ident `from` given to ident `to` (a renamed ident
// taking its old name's): every privilege, table and column privilege row
// with `from` as grantee is inserted with `to` as grantee, every one with
// `from` as grantor with `to` as grantor; a present row takes the copied
// row's grantable flag; rows between the two themselves are not copied.
// -19007 when a present row cannot be read.
void DDInsGranteePrivs(int32_t* base, int32_t* pb, const char* from, int32_t from_length,
                       const char* to, int32_t to_length);

// Revokes privileges of `grantee` by mode (pb[0]): 1 deletes the privilege
// of kind 1..17 (holes 14 and 16, else -19089) on the object granted by
// `grantor` and hands it back once; 2 hands back, one a call, the grantees
// to whom `grantee` passed that privilege on (the cascade); 3 takes away
// its grant option (0); 4 deletes every privilege row of `grantee`, each
// handed back; 0 the next (another mode -19113). Each row: the ident kind
// (1 GROUP, 2 PROGRAM, 3 USER, 4 OS_USER; 1 when unknown), object id,
// privilege kind (18 outside the kinds) and grantee (128 bytes; may be
// nullptr). 1 at the end, -19007 in mode 4 for a grantee without its
// ident row.
void DDDelSysPrivs(int32_t* base, int32_t* pb, int32_t kind, int32_t object_id,
                   const char* grantee, int32_t grantee_length, const char* grantor,
                   int32_t grantor_length, int32_t* ident_kind, int32_t* object_out,
                   int32_t* priv_kind, char* name_out);
