// The compiler's lookups of routines, parameters, triggers, a stored text
// read in one call and long defaults: per-thread shared statements as the
// other compiler lookups (compiler_lookups.h), each with a parameter block
// (word 0 the status, an input where a lookup says so; word 1 the
// requesting USR). 0 found, positive no (further) row, negative an error.
#pragma once

#include <cstdint>

#include "dict/compiler_lookups.h"

// A routine of kind FUNCTION (`function`) or PROCEDURE.
struct DDRoutineAttr {
  int32_t found;  // set to 1 by DDCmpRoutine1 on success, left by DDCmpRoutine2
  int32_t id;
  char schema[DD_NAME_BYTES];
  int32_t schema_length;
  char name[DD_NAME_BYTES];
  int32_t name_length;
  int32_t module_id;
  int32_t ints[6];      // the routine row's six integers, INT_56 to INT_91 (NULL: 0)
  int32_t data_access;  // "NO SQL" 1, "CONTAINS SQL" 2, "READS SQL DATA" 3, else 4
  int32_t flags[2];     // "YES" 1
  int32_t privileged;   // with the test asked for: the current schema or PUBLIC holds it
};
// By qualified name (as DDCmpTableAttr: schema length 0 the path or the
// alternate user's schema) or, the name's length 0, by id. 0, 1 when there
// is none, -19007 for an object without its routine row, -19113 for a name
// over 128 characters.
void DDCmpRoutine1(int32_t* base, int32_t* pb, const DDTableName& name, bool function,
                   bool test_privilege, DDRoutineAttr* out);
void DDCmpRoutine2(int32_t* base, int32_t* pb, const DDTableName& name, bool function,
                   bool test_privilege, DDRoutineAttr* out);

// A parameter or result column of a routine.
struct DDParamDesc {
  char name[DD_NAME_BYTES];
  int32_t name_length;
  int32_t mode;                 // "IN" 1, "INOUT" 2, "OUT" 3; 0 for a result column
  int32_t type, length, scale;  // by the dictionary's type rules
  int32_t further;              // INT_160 (parameters)
};
// Parameter `position` (from 1) of routine `routine`: 0, 1 when there is
// none.
void DDCmpParams(int32_t* base, int32_t* pb, int32_t routine, int32_t position, DDParamDesc* out);
// Result column `position` of routine `routine`: 0, 1 when there is none.
void DDCmpParamCols(int32_t* base, int32_t* pb, int32_t routine, int32_t position,
                    DDParamDesc* out);

// The stored text of source kind `kind` (1 ROUTINE ... 6 STATEMENT, name
// blank) of object `id`, read whole in one call into `text3` (three-byte
// characters, never more than `capacity`): *total its stored length,
// *length the characters read, the object's kind into *object_kind (its
// kind number) and its schema. 0; 1 when the object or the text's first
// piece is missing; -19089 for another kind.
void DDCmpPS(int32_t* base, int32_t* pb, int32_t id, int32_t kind, int32_t* object_kind,
             char* schema, int32_t* schema_length, uint8_t* text3, int32_t capacity, int32_t* total,
             int32_t* length);

// One trigger of a table.
struct DDTriggerAttr {
  int32_t id, table_id;
  int32_t timing;        // "BEFORE" 1, "INSTEAD OF" 2, "AFTER" 3
  int32_t row;           // "ROW" 1, else 0
  int32_t flags[3];      // "YES" 1: the two stored flags, a source text stored
  int32_t order, value;  // the integers kept in its bytes
  int32_t old_rows, new_rows;  // 1: the row keeps an old (new) transition name
};
// pb[0] 0 on entry opens the walk over the triggers of table `table_id`
// for event 1 INSERT, 2 UPDATE, 3 DELETE (another: -19089) and delivers
// the first; another entry status delivers the next. 0, 1 after the last.
void DDCmpTrigger(int32_t* base, int32_t* pb, int32_t table_id, int32_t event, DDTriggerAttr* out);

// A column's default kept as a stored text (source kind DEFAULT) of object
// `id` under `name`, read whole (three-byte characters, never more than
// `capacity`): *length the characters read. 0, 1 when there is none.
void DDCmpDefault(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                  uint8_t* text3, int32_t capacity, int32_t* length);
