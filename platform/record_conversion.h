// Conversion of a record from one field layout to another (the rewrite of a
// table whose columns changed): the conversion class of each type code, the
// conversion of one value, and the walks over a layout that fill and convert
// a record.
#pragma once

#include <cstdint>
#include <span>

#include "platform/bytes.h"
#include "platform/packed_decimal.h"

// Words of a 14-word step of a layout (the alteration work block's step
// list, whose builders fix these positions). Words a step does not use are 0.
// Kind -1 ends the layout.
constexpr int32_t LAY_KIND = 0;
constexpr int32_t LAY_SOURCE_POS = 1;  // byte offset in the old (source) record
constexpr int32_t LAY_LENGTH = 2;      // bytes of the field; kind 4: in the old record
// Kind 4: the old column. Kind 2: the column the sequence value goes into.
constexpr int32_t LAY_OLD_TYPE = 3;
constexpr int32_t LAY_OLD_PRECISION = 4;  // varying types: the maximum length
constexpr int32_t LAY_OLD_SCALE = 5;
constexpr int32_t LAY_OLD_LENGTH_FIELD = 6;       // its length field in the old record
constexpr int32_t LAY_OLD_LENGTH_FIELD_SIZE = 7;  // bytes, 0 when it has none
constexpr int32_t LAY_NEW_LENGTH = 8;             // kinds 4 and 5: bytes in the new record
constexpr int32_t LAY_NEW_TYPE = 9;
constexpr int32_t LAY_NEW_PRECISION = 10;
constexpr int32_t LAY_NEW_SCALE = 11;
constexpr int32_t LAY_NEW_LENGTH_FIELD = 12;  // the new length field in the new record
constexpr int32_t LAY_NEW_LENGTH_FIELD_SIZE = 13;
constexpr int32_t LAY_ENTRY_WORDS = 14;

// The sequence that feeds a kind-2 step: seven words in the order of
// sequence_next_value's arguments.
constexpr int32_t SEQ_VALUE = 0;
constexpr int32_t SEQ_UNIQUE = 1;
constexpr int32_t SEQ_STATE = 2;
constexpr int32_t SEQ_START = 3;
constexpr int32_t SEQ_INCREMENT = 4;
constexpr int32_t SEQ_LIMIT = 5;
constexpr int32_t SEQ_CYCLES = 6;
constexpr int32_t SEQ_WORDS = 7;

// A layout: its steps, the sequence of its kind-2 steps, the image of the new
// record whose bytes kind-3 steps take (at the same positions), and the
// length of the record it builds.
struct RowLayout {
  std::span<int32_t> words;
  ConstByteSpan data;
  int32_t record_length = 0;
  std::span<int32_t> sequence;
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
// A unique sequence that can give no further value (the code the sequence
// routines answer): the record fails rather than repeat a value.
constexpr int32_t kConvertSequenceExhausted = -14720;
constexpr int32_t kConvertBadType = -19101;
constexpr int32_t kConvertBadPair = -19102;
// A step whose field lies outside its record: the step list is not what it
// should be.
constexpr int32_t kLayoutOutsideRecord = -19077;
constexpr int32_t kLengthFieldBase = -19060;  // length-field status r gives r - 19060

// The class of a type code with its external length (or precision) and scale;
// -19101 for a type code that has none. Types 31 and 32 hold their 64-bit
// maximum length in precision (low word) and scale (high word).
int32_t type_conversion_class(int32_t type, int32_t length, int32_t precision, int32_t scale,
                              ConversionClass* out);

// Converts the old column of a kind-4 step at source_offset of the source
// record into the new column at target_offset of the target record. A varying
// binary target also receives its length in its length field. A null source
// makes a null target.
void value_convert(int32_t* status, ByteSpan target, int32_t target_offset,
                   std::span<const int32_t> entry, ConstByteSpan source, int32_t source_offset);

// Clears the record and fills the fixed parts (kind 3) from the layout data.
void row_layout_copy(int32_t* status, const RowLayout& layout, ByteSpan record);
// Converts the source record into the target record along the layout.
void row_layout_convert(int32_t* status, const RowLayout& layout, ByteSpan target,
                        ConstByteSpan source);
