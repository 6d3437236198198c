// Parameters and result columns of the kernel's own statements: fields of
// fixed size in the statement's storage block (an indicator byte, 255 for
// null, then the value), found through the compiled descriptor's input and
// output tables. Every routine answers in its status word; -19078 for a
// number outside the descriptor or a field outside the storage.
#pragma once

#include <cstdint>

// Descriptor words naming the two tables (offset from the descriptor, count).
inline constexpr int32_t SD_PROGRAM = 2;
inline constexpr int32_t SD_HEADER_LENGTH = 3;
inline constexpr int32_t SD_STORAGE_WORDS = 4;
inline constexpr int32_t SD_BODY_LENGTH = 5;
// Lists of storage offsets (offset from the descriptor, count): record
// blocks of the permanent tables, record blocks of the temporary tables,
// and storage words each holder keeps of its own (the dynamic list).
inline constexpr int32_t SD_TABLE_HANDLES = 6;
inline constexpr int32_t SD_TEMP_TABLES = 8;
inline constexpr int32_t SD_DYNAMIC_LIST = 10;
inline constexpr int32_t SD_INPUT_TABLE = 12;   // offset, count
inline constexpr int32_t SD_OUTPUT_TABLE = 14;  // offset, count
inline constexpr int32_t SD_CALL_LIST = 19;     // offset, -1 when none
inline constexpr int32_t SD_MIN_WORDS = 20;

// Words of a compound block (the statement's own from STM_NEXT_COM).
inline constexpr int32_t COM_NEXT = 0;
inline constexpr int32_t COM_SD = 1;
inline constexpr int32_t COM_PGM = 2;
inline constexpr int32_t COM_STG = 3;
inline constexpr int32_t COM_SND = 4;
inline constexpr int32_t COM_IPARSZ_W = 5;
inline constexpr int32_t COM_OPARSZ_W = 6;
inline constexpr int32_t COM_SHP = 7;
inline constexpr int32_t COM_DBGINF = 10;

inline constexpr int32_t COLUMN_NULL = -1;

// Column readers: the value of output column n of statement `stm`.
void DSGetColBytes(int32_t* base, int32_t* status, int32_t stm, int32_t n, uint8_t* buffer,
                   int32_t position);
void DSGetColChar(int32_t* base, int32_t* status, int32_t stm, int32_t n, uint8_t* buffer,
                  int32_t position);
// Copies the whole field, indicator included; *length the field's length.
void DSGetColRaw(int32_t* base, int32_t* status, int32_t stm, int32_t n, uint8_t* buffer,
                 int32_t position, int32_t* length);
void DSGetColInt(int32_t* base, int32_t* status, int32_t stm, int32_t n, int32_t* value);
void DSGetColInt64(int32_t* base, int32_t* status, int32_t stm, int32_t n, int32_t* high,
                   int32_t* low);
// Value from column n, its length L (a number) from column n+1; L bytes are
// copied (at most the value field's), L below 1 gives one blank and length 0.
void DSGetColVar(int32_t* base, int32_t* status, int32_t stm, int32_t n, uint8_t* buffer,
                 int32_t position, int32_t capacity, int32_t* length);
// As DSGetColVar for 3-byte national characters: L counts characters and
// 3L bytes are copied (whole characters only); L below 1 gives one 3-byte
// blank and length 0. *length counts characters.
void DSGetColNum(int32_t* base, int32_t* status, int32_t stm, int32_t n, uint8_t* buffer,
                 int32_t position, int32_t capacity, int32_t* length);

// Parameter setters of input parameter n.
void DSSetParBin(int32_t* base, int32_t* status, int32_t stm, int32_t n, const uint8_t* buffer,
                 int32_t position);
void DSSetParText(int32_t* base, int32_t* status, int32_t stm, int32_t n, const uint8_t* buffer,
                  int32_t position);
void DSSetParInt(int32_t* base, int32_t* status, int32_t stm, int32_t n, int32_t value);
void DSSetParInt64(int32_t* base, int32_t* status, int32_t stm, int32_t n, int32_t high,
                   int32_t low);
void DSSetParNull(int32_t* base, int32_t* status, int32_t stm, int32_t n);
void DSSetParPad(int32_t* base, int32_t* status, int32_t stm, int32_t n, const uint8_t* bytes,
                 int32_t position, int32_t length);
void DSSetParChar(int32_t* base, int32_t* status, int32_t stm, int32_t n, const uint8_t* bytes,
                  int32_t position, int32_t length);
void DSSetParVar(int32_t* base, int32_t* status, int32_t stm, int32_t n, const uint8_t* bytes,
                 int32_t position, int32_t length);
// Parameter n: L 3-byte characters from chars + 3 * position, checked and
// blank padded (format 3); parameter n+1: L. A conversion error is the status.
void DSSetParNVar(int32_t* base, int32_t* status, int32_t stm, int32_t n, const uint8_t* chars,
                  int32_t position, int32_t length);

// The field of parameter (output false) or column n: its bytes in the
// storage and its length; 0 or -19078.
int32_t StatementField(int32_t* base, int32_t stm, bool output, int32_t n, uint8_t** field,
                       int32_t* length);
