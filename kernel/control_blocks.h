// Kernel control blocks: word arrays in the word storage named by the index
// of their first word; field n of block b is word b+n. Every field offset is
// a constant spelled BLOCK_FIELD (CHA_REQNO, USR_RVEC_RCODE), every block has
// BLOCK_WORDS and BLOCK_BYTES (the size to allocate), all from control_blocks.def.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#define HB_BLOCK(block, words, bytes)             \
  inline constexpr int32_t block##_WORDS = words; \
  inline constexpr int32_t block##_BYTES = bytes;
#define HB_FIELD(block, field, offset, kind, count) \
  inline constexpr int32_t block##_##field = offset;
#include "kernel/control_blocks.def"
#undef HB_BLOCK
#undef HB_FIELD

// Marker that DSInitSys stores in SYS_ID.
inline constexpr int32_t SYS_ID_MARKER = 913;

// Number of words of the result vector of a session (USR_RVEC_RCODE on).
inline constexpr int32_t RVEC_WORDS = 12;

enum class FieldKind : uint8_t { WRD, WRDS, CHR, SEMAPHORE };

// One entry of the layout table: a field of a block type.
struct BlockField {
  std::string_view block;
  std::string_view field;
  int32_t offset;
  FieldKind kind;
  int32_t count;  // words of WRDS and SEMAPHORE, bytes of CHR, 0 for WRD
};

struct BlockType {
  std::string_view name;
  int32_t words;
  int32_t bytes;  // size to allocate
};

// Every field of every block, blocks in the console's order, fields in
// ascending offset order.
std::span<const BlockField> BlockLayoutTable();
std::span<const BlockType> BlockTypes();

// The field `field` of block type `block` (exact names), or nullptr.
const BlockField* FindBlockField(std::string_view block, std::string_view field);
const BlockType* FindBlockType(std::string_view block);

// Words a field occupies: 1, the WRDS or SEMAPHORE count, or the CHR bytes
// rounded up to words.
int32_t FieldWords(const BlockField& f);

const char* FieldKindName(FieldKind kind);

// An entry as the console prints it: kind, block name with "+offset" unless
// the offset is 0, the count for WRDS, CHR and SEMAPHORE, and the quoted
// field name, as in "CHR DCB+9 128 'DNAME'".
std::string BlockFieldText(const BlockField& f);
