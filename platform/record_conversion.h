// Conversion of a record from one field layout to another (the rewrite of a
// table whose columns changed): the conversion class of each type code, the
// conversion of one value, and the walks over a layout that fill and convert
// a record.
#pragma once

#include <cstdint>
#include <span>

#include "platform/bytes.h"
#include "platform/packed_decimal.h"

// Words of a 14-word layout entry. Kind -1 ends the layout.
constexpr int32_t LAY_KIND = 0;
constexpr int32_t LAY_LENGTH = 1;     // the field's (target) length in bytes
constexpr int32_t LAY_TYPE = 2;       // target type code
constexpr int32_t LAY_PRECISION = 3;  // target precision
constexpr int32_t LAY_SCALE = 4;      // target scale
constexpr int32_t LAY_SOURCE_POS = 5;
constexpr int32_t LAY_TARGET_POS = 6;
constexpr int32_t LAY_SOURCE_TYPE = 7;
constexpr int32_t LAY_SOURCE_LENGTH = 8;
constexpr int32_t LAY_SOURCE_PRECISION = 9;
constexpr int32_t LAY_SOURCE_SCALE = 10;
constexpr int32_t LAY_STORED_LENGTH = 11;  // kinds 4 and 5 in row_layout_copy
constexpr int32_t LAY_DATA_OFFSET = 12;    // kind 3: the field's bytes in the layout data
// Kind 2 (a generated sequence value) keeps its sequence in words 7 to 13.
constexpr int32_t LAY_SEQ_VALUE = 7;
constexpr int32_t LAY_SEQ_STATE = 8;
constexpr int32_t LAY_SEQ_START = 9;
constexpr int32_t LAY_SEQ_INCREMENT = 10;
constexpr int32_t LAY_SEQ_LIMIT = 11;
constexpr int32_t LAY_SEQ_CYCLES = 12;
constexpr int32_t LAY_ENTRY_WORDS = 14;

// A layout: its entries, the bytes that kind-3 entries copy, and the length
// of the record it builds.
struct RowLayout {
  std::span<int32_t> words;
  ConstByteSpan data;
  int32_t record_length = 0;
};

struct ConversionClass {
  int32_t cls = 0;       // 1 character .. 11 national character
  int32_t external = 0;  // external length or precision
  int32_t scale = 0;
  bool approximate = false;
  bool integer = false;
};

// Status codes of the conversions.
constexpr int32_t kConvertNull = -10100;       // a null where none may be
constexpr int32_t kConvertTruncated = -10311;  // non-blank (non-zero) bytes cut
constexpr int32_t kConvertOverflow = -10312;   // the value does not fit
constexpr int32_t kConvertBadType = -19101;
constexpr int32_t kConvertBadPair = -19102;
constexpr int32_t kLayoutOutsideRecord = -19103;  // a field outside its record

// The class of a type code with its external length (or precision) and scale;
// -19101 for a type code that has none.
int32_t type_conversion_class(int32_t type, int32_t length, int32_t precision, int32_t scale,
                              ConversionClass* out);

// Converts the source value (the entry's source type, length, precision and
// scale) into the target (the entry's target words). A null source makes a
// null target.
void value_convert(int32_t* status, ByteSpan target, int32_t target_offset,
                   std::span<const int32_t> entry, ConstByteSpan source, int32_t source_offset);

// Clears the record and fills the fixed parts (kind 3) from the layout data.
void row_layout_copy(int32_t* status, const RowLayout& layout, ByteSpan record);
// Converts the source record into the target record along the layout.
void row_layout_convert(int32_t* status, const RowLayout& layout, ByteSpan target,
                        ConstByteSpan source);
