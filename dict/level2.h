// The level-2 record interface's catalog reads: shared statements kept
// prepared per server thread (THR STM_LV2_*), run under the thread's own
// user like the compiler's lookups. Names come as 18-character blank-padded
// fields and go to the statements without their trailing blanks. Every
// routine answers in a flag word: 1 a row delivered, 0 no (further) row, -1
// an error, whose level-2 reply code (the request interface's mapping of
// the kernel number) is left in reply[0] and the kernel number in reply[1].
// A cursor takes the flag word on entry: 0 opens it, non-zero delivers the
// next row without setting the parameters again.
#pragma once

#include <cstdint>

inline constexpr int32_t DD_LV2_NAME = 18;

struct DDLv2Table {
  char kind[20];  // "BASE TABLE" or "VIEW", blank padded
  int32_t id;
  char schema[128], name[128];
};
void DDLv2Tab(int32_t* base, int32_t* pb, const char* schema18, const char* table18,
              DDLv2Table* out, int32_t* flag, int32_t* reply);

// The user's (or PUBLIC's) six table privileges as "Y"/"N": SELECT,
// INSERT, DELETE, UPDATE, REFERENCES, LOAD; "NNNNNN" and flag 0 without a
// privilege row.
void DDLv2Acc(int32_t* base, int32_t* pb, int32_t table_id, const char* user18, char* flags6,
              int32_t* flag, int32_t* reply);

// The columns of a table in the order of their numbers.
struct DDLv2Column {
  char name[DD_LV2_NAME];  // blank padded
  int32_t type, length, scale;  // by the dictionary's type rules
  int32_t nullable;
  int32_t offset;
};
void DDLv2Col(int32_t* base, int32_t* pb, int32_t table_id, DDLv2Column* out, int32_t* flag,
              int32_t* reply);

// A stored search condition: connective 1 "AND", 2 "OR "; operator 1-12
// of "EQ NE LT LE GE GT L4 N4 L5 N5 NU NN"; the value's length (-2: the
// user's name, stored "-USER-"; 0: none, 64 blanks) and its 64 characters.
inline constexpr int32_t DD_LV2_VALUE = 64;
inline constexpr int32_t DD_LV2_USER_VALUE = -2;
struct DDLv2Condition {
  int32_t connective;
  int32_t first;  // the second form's first integer, 0 in the first form
  int32_t op;
  int32_t length;
  char value[DD_LV2_VALUE];
};
// Writes a condition at `position` (0-999) of object `id`; the second form
// keeps two integers besides. 2 when the place is taken; -19089 for a
// connective or operator outside its table, -19113 for a length outside
// -2, 0-64 or a place outside 0-999, before anything runs.
void DDInsLv2Cond(int32_t* base, int32_t* pb, int32_t id, int32_t position, int32_t connective,
                  int32_t op, const char* value, int32_t length);
void DDInsLv2Cond2(int32_t* base, int32_t* pb, int32_t id, int32_t position,
                   int32_t connective, int32_t first, int32_t second, int32_t op,
                   const char* value, int32_t length);
// Cursors over an object's conditions in the order of their places (flag 0
// opens): the first form (DDLv2Dre) and the second (DDLv2Vre).
void DDLv2Dre(int32_t* base, int32_t* pb, int32_t id, DDLv2Condition* out, int32_t* flag,
              int32_t* reply);
void DDLv2Vre(int32_t* base, int32_t* pb, int32_t id, DDLv2Condition* out, int32_t* flag,
              int32_t* reply);

// A databank's id by its 18-character name.
void DDLv2Dtb(int32_t* base, int32_t* pb, const char* name18, int32_t* id, int32_t* flag,
              int32_t* reply);
// A domain's default text as the level-2 interface takes it: the stored
// text in single-byte characters (above 255: 191), tested as a default
// text, which decodes literals (`text`, at most DD_LV2_DEFAULT bytes, its
// *length). USER, CURRENT_TIMESTAMP(n) and CURRENT_USER give the length -2
// and no text; a domain without a default, with NULL or another special
// register, flag 0.
inline constexpr int32_t DD_LV2_DEFAULT = 400;
void DDLv2Dde(int32_t* base, int32_t* pb, int32_t domain_id, char* text, int32_t* length,
              int32_t* flag, int32_t* reply);
// A table's key length, record length and primary key id (-1 without one).
void DDLv2Tbx(int32_t* base, int32_t* pb, int32_t table_id, int32_t* values3, int32_t* flag,
              int32_t* reply);
// Whether the user or PUBLIC holds UPDATE on the column of that number:
// flag 1 when held, 0 when not.
void DDLv2Upd(int32_t* base, int32_t* pb, int32_t table_id, int32_t column_number,
              const char* user18, int32_t* flag, int32_t* reply);
// Cursor over a key's columns in the order of their places.
struct DDLv2KeyColumn {
  int32_t ascending;  // "NO" 0, else 1
  int32_t position, number, offset, length;
};
void DDLv2Idx(int32_t* base, int32_t* pb, int32_t key_id, DDLv2KeyColumn* out, int32_t* flag,
              int32_t* reply);

// Cursor over the tables a view uses in the order of their places: place,
// table and the further integer into `values3`.
void DDLv2Vcl(int32_t* base, int32_t* pb, int32_t view_id, int32_t* values3, int32_t* flag,
              int32_t* reply);
