// Collations of record access: the list of installed 256-byte translation
// tables hung from SYS COLLCB, the conversion of a column value into an index
// key field (upper case, lower case, phonetic key or a collation, ascending or
// descending), and the compare, pad-span and search primitives that work
// through a table. See du/README.md for the block layout and the decisions.
#pragma once

#include <cstdint>
#include <span>

#include "platform/bytes.h"

// A collation block in the kernel word storage: 66 words (264 bytes).
inline constexpr int32_t COLL_NEXT = 0;
inline constexpr int32_t COLL_ID = 1;
inline constexpr int32_t COLL_TABLE = 2;  // 64 words: byte i translates byte value i
inline constexpr int32_t COLL_WORDS = 66;
inline constexpr int32_t COLL_BYTES = 264;
inline constexpr int32_t COLL_TABLE_BYTES = 256;

// Functions of XLInstallTable; any other only tests that the id is installed
// (the databank kernel uses 4).
inline constexpr int32_t XL_INSTALL = 1;
inline constexpr int32_t XL_REMOVE = 2;
inline constexpr int32_t XL_CHECK = 4;

// Key transformation codes (absolute value); any other value is a collation id.
inline constexpr int32_t XL_UPPER_CASE = 3;
inline constexpr int32_t XL_LOWER_CASE = 4;
inline constexpr int32_t XL_PHONETIC = 5;
// The key field of a phonetic key: indicator byte and six key characters.
inline constexpr int32_t XL_PHONETIC_FIELD = 7;
inline constexpr int32_t XL_PHONETIC_KEY = 6;

// Statuses.
inline constexpr int32_t XL_NULL_VALUE = 1;
inline constexpr int32_t XL_NO_COLLATION = -19114;
inline constexpr int32_t XL_NO_SYSTEM_BLOCK = -19040;
// A field that does not lie in its area, a negative length, a source without
// its indicator byte, or an install without a 256-byte table.
inline constexpr int32_t XL_BAD_ARGUMENT = -19077;

using CollationTable = std::span<const uint8_t, COLL_TABLE_BYTES>;

// Every routine takes the kernel word storage at `base`; the system block is
// the one its header names (RESERV).

// Installs (function 1, a table of exactly 256 bytes), removes (2) or tests
// (any other) the collation `id`. Status 0, -11002 (no storage), -19114 (no
// collation with that id), -19040 (no system block), -19077 (bad table).
void XLInstallTable(int32_t* base, int32_t* status, int32_t function, int32_t id,
                    ConstByteSpan table);

// The word index of the collation block with `id`, found through `cache` (a
// word the caller owns, 0 at first, may be null) when it still names a block
// on the list with that id, else by a walk of the list from its head; the
// block found goes into `cache`. -19114 when there is none, -19040 without a
// system block.
int32_t FindCollationBlock(int32_t* base, int64_t id, int32_t* cache, int32_t* block);

// The 256 translation bytes of the block `block` (from FindCollationBlock).
CollationTable CollationTableOf(int32_t* base, int32_t block);

// Builds the key field [target_offset, + target_length) from the value
// [source_offset, + source_length) (indicator byte first). Status 0 for a
// value, 1 for a null, -19114, -19040, or -19077 for a field outside its area
// or a source without an indicator byte; nothing is written on an error.
void XLConvertValue(int32_t* base, int32_t* status, int32_t code, int32_t* cache, ByteSpan target,
                    int32_t target_offset, int32_t* length_out, int32_t target_length,
                    ConstByteSpan source, int32_t source_offset, int32_t source_length);

// The same transformation of a string without indicator byte: no null, no
// descending complement. Writes only an error into the status (-19114,
// -19040, -19077) and leaves it as it is otherwise.
void XLConvertPlain(int32_t* base, int32_t* status, int32_t code, int32_t* cache, ByteSpan target,
                    int32_t target_offset, int32_t* length_out, int32_t target_length,
                    ConstByteSpan source, int32_t source_offset, int32_t source_length);

// Three-way compare of two strings through the table, the shorter extended
// with blanks (translation 32): 0 when equal, else +p or -p at the 1-based
// position p of the first difference, + when the first string is the greater.
// Negative lengths count as 0; a field is cut at the end of its area.
void DUCmpColl1(ConstByteSpan area1, int32_t offset1, int32_t length1, ConstByteSpan area2,
                int32_t offset2, int32_t length2, CollationTable table, int32_t* result);

// Span of a pad character: the 1-based position of the first byte (length
// n > 0) or of the last of the first -n bytes (n < 0) whose translation
// differs from the pad character's; 0 when all are equal or n is 0.
void DUCmpColl2(ConstByteSpan area, int32_t offset, int32_t length, uint8_t pad,
                CollationTable table, int32_t* result);

// Finds the pattern through the table: the leftmost occurrence (n > 0) or the
// rightmost within the first -n bytes (n < 0). The result is the 1-based
// position of the occurrence's last byte; 0 when there is none, when the
// pattern is empty or longer than the string, or when n is 0.
void DUFindColl1(ConstByteSpan area, int32_t offset, int32_t length, ConstByteSpan pattern_area,
                 int32_t pattern_offset, int32_t pattern_length, CollationTable table,
                 int32_t* result);
