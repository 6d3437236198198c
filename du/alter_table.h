// ALTER TABLE record reformatting: the builders of an alteration work block
// (a list of 14-word steps saying how each byte range of a new row comes
// from the old row), the alter structure handed to the kernel (DULPO1), the
// row conversion pass and the checks of a new key or foreign key over the
// rows a table holds. See du/README.md ("ALTER TABLE").
#pragma once

#include <cstdint>
#include <span>

#include "platform/bytes.h"

// Alteration work block words.
inline constexpr int32_t ALR_OLD_KEYLEN = 5;
inline constexpr int32_t ALR_OLD_RECLEN = 6;
inline constexpr int32_t ALR_ADD_POSITION = 7;
inline constexpr int32_t ALR_CAPACITY = 8;
inline constexpr int32_t ALR_IN_USE = 9;
inline constexpr int32_t ALR_KIND = 10;
inline constexpr int32_t ALR_NEW_KEYLEN = 17;
inline constexpr int32_t ALR_NEW_RECLEN = 18;
inline constexpr int32_t ALR_SEQUENCE = 19;  // 7 words
inline constexpr int32_t ALR_STEPS = 29;
inline constexpr int32_t ALR_MIN_WORDS = 44;
// A step: kind, old offset, length, operands (the layout words of
// platform/record_conversion.h).
inline constexpr int32_t ALR_STEP_WORDS = 14;
inline constexpr int32_t ALR_STEP_KIND = 0;
inline constexpr int32_t ALR_STEP_OFFSET = 1;
inline constexpr int32_t ALR_STEP_LENGTH = 2;
// Step kinds.
inline constexpr int32_t ALR_GENERATED_KEY = 1;
inline constexpr int32_t ALR_SEQUENCE_VALUE = 2;
inline constexpr int32_t ALR_DEFAULT_BYTES = 3;
inline constexpr int32_t ALR_CONVERT = 4;
inline constexpr int32_t ALR_LENGTH_FIELD = 5;
inline constexpr int32_t ALR_TO_KEY = 7;
inline constexpr int32_t ALR_NEXT_TO_KEY = 9;
inline constexpr int32_t ALR_COPY = 10;

// The alter structure of DKALR1: a 30-word header, the step list, for kind
// 9 the default bytes; never more than 4000 words.
inline constexpr int32_t ALS_KIND = 8;
inline constexpr int32_t ALS_LENGTH = 9;
inline constexpr int32_t ALS_HEADER_WORDS = 10;  // 30
inline constexpr int32_t ALS_ENTRY_WORDS = 11;   // 14
inline constexpr int32_t ALS_TRAILING = 12;
inline constexpr int32_t ALS_HEADER = 30;
inline constexpr int32_t ALS_MAX_WORDS = 4000;

inline constexpr int32_t DU_BAD_COLUMN_LIST = -19035;

// The builders: status 0, 1 when the block has no room (capacity below 44
// or no room for a step), -19077 when the block or its step list is not as
// the builder needs it (capacity beyond the block's words, words in use
// beyond the capacity, a list without its end). Only a builder that
// succeeds changes the block.
void DUALRInitWork1(int32_t* status, std::span<int32_t> block);
void DUALRAddKeyParts1(int32_t* status, std::span<int32_t> block, int32_t key_offset,
                       int32_t key_length, int32_t second_offset, int32_t second_length);
void DUALRInitWork2(int32_t* status, std::span<int32_t> block);
void DUALRAddGenColumn1(int32_t* status, std::span<int32_t> block, int32_t as_key, int32_t length,
                        int32_t type, int32_t precision, int32_t scale,
                        std::span<const int32_t, 7> sequence);
void DUALRAlterColumn1(int32_t* status, std::span<int32_t> block, int32_t offset, int32_t length,
                       int32_t length_field, int32_t old_type, int32_t old_precision,
                       int32_t old_scale, int32_t new_length, int32_t new_type,
                       int32_t new_precision, int32_t new_scale);
void DUALRAddColumn1(int32_t* status, std::span<int32_t> block);
void DUALRAddPKColumn1(int32_t* status, std::span<int32_t> block);
void DUALRDropColumn1(int32_t* status, std::span<int32_t> block, int32_t offset, int32_t length,
                      int32_t second_offset, int32_t second_length, int32_t type);
void DUALRInitWork11(int32_t* status, std::span<int32_t> block);
// Whether the block's step list is as the builders leave it: its capacity
// within the block's words, the words in use within the capacity and whole
// steps, the end marker (-1) behind the last step and nowhere before.
bool DUALRListSound(std::span<const int32_t> block);
// Bytes of the length field of a varying column of `type` (0 for none).
int32_t DUALRLengthFieldSize(int32_t type, int32_t precision, int32_t scale);

// Converts every row of the table of `old_rows` (its record block) along
// the steps and loads the new rows into the run of the table of `new_rows`
// (word 13 its load handle), which the end builds; `image` is the new row's
// default image. 0, -10100 (a null moved into the key), -10101 (duplicate
// keys after the conversion), a conversion error or a mapped kernel error.
int32_t DUALRConvertRows(int32_t* base, int32_t usr, int32_t work, std::span<const int32_t> block,
                         int32_t* old_rows, int32_t* new_rows, ConstByteSpan image);
// A new key over the rows of `rows`: the column list (word 2 mode, word 8
// count, triples {offset, length, flag} from word 9) gives the key; -10110
// when two rows share one, -19035 for a bad list.
int32_t DUALRCheckUnique(int32_t* base, int32_t usr, int32_t work, int32_t* rows,
                         std::span<const int32_t> columns);
// A new foreign key: every row's value (columns as above; a null column
// skips the row) must be the key of a row of `parent` (its table's record
// block); -10105 for one that is not, -19035 for a bad list.
int32_t DUALRCheckFKRows(int32_t* base, int32_t usr, int32_t work, int32_t* rows, int32_t* parent,
                         std::span<const int32_t> columns);
// One value: 0 when the parent has it, -10105 when not.
int32_t DUALRCheckFKKey(int32_t* base, int32_t usr, int32_t* parent, const uint8_t* key,
                        int32_t length);

// Builds the alter structure from the work block `description` into
// `structure` (its words; for kind 9 the added columns' bytes from the
// default image `image` of the new row behind the steps), sends it to the
// kernel (DKALR1) and, unless the kind is 11, converts the rows of the
// table of `record` into `new_rows`; the structure's length in *length.
// Kind 12 first sets the dropped large-object column of every row to null,
// releasing its objects, and goes on as kind 10. -19077 for a structure
// that would pass 4000 words (logged) or `structure`'s size; the record
// block's status word is kept on a failure.
int32_t DULPO1(int32_t* base, int32_t usr, int32_t work, int32_t* record,
               std::span<int32_t> structure, std::span<int32_t> description, ConstByteSpan image,
               int32_t* new_rows, int32_t* length);
