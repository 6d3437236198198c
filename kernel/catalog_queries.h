// Catalog look-ups through the thread's operator statements: the names of
// an object by its internal id (DSGetObjectName) and the name of a table's
// column (DSGetColumnName). Each runs under the thread's own session with
// its transaction detached, so that the caller's work is untouched.
#pragma once

#include <cstdint>

// The name area of DSGetObjectName: column 1 at byte 0 (128 characters),
// column 3 from byte 128, column 7 from byte 384; blank padded.
inline constexpr int32_t OBJECT_NAME_FIRST = 0;
inline constexpr int32_t OBJECT_NAME_SECOND = 128;
inline constexpr int32_t OBJECT_NAME_THIRD = 384;
inline constexpr int32_t OBJECT_NAME_BYTES = 384;
// The column of a row that names its kind (the databank statement: the
// file's sequence number).
inline constexpr int32_t OBJECT_KIND_COLUMN = 2;
// Kinds: -2 a table (STM_MOS_TABLE); below -2 STM_MOS_DOMAIN; -1 and above
// a databank by its logical id, the kind being the sequence number (-1:
// the first row).
inline constexpr int32_t OBJECT_KIND_TABLE = -2;
inline constexpr int32_t DOMAIN_IMAGE = -246;
inline constexpr int32_t COLUMN_IMAGE = -247;
inline constexpr int32_t NAME_NOT_FOUND = 1;

// The names of object `id` of `kind` into `names` (`names_bytes` long, at
// least OBJECT_NAME_BYTES; column 7 is cut at its end). 0, 1 when there is
// no statement or no row, -19040 without SYS, -18515 without a thread
// block, -19078 for a short area, or the statement's error.
int32_t DSGetObjectName(int32_t* base, int32_t kind, int32_t id, uint8_t* names,
                        int32_t names_bytes);

// Request words of DSGetColumnName.
inline constexpr int32_t COLREQ_STATUS = 0;  // out: 0, the statement's positive status, or an error
inline constexpr int32_t COLREQ_USR = 1;
inline constexpr int32_t COLREQ_TABLE = 2;
inline constexpr int32_t COLREQ_COLUMN = 3;
inline constexpr int32_t COLUMN_NAME_BYTES = 128;
// The name of column `COLREQ_COLUMN` of table `COLREQ_TABLE`, blank padded
// to 128 characters. A failing run's result vector goes to the caller's.
void DSGetColumnName(int32_t* base, int32_t* request, uint8_t* name);
