// The layout table of the kernel control blocks, built from the same field
// lists as the offset constants so that the console and the code cannot
// disagree about a field.
#include "kernel/control_blocks.h"

#include <array>

namespace {

constexpr BlockField kFields[] = {
#define HB_BLOCK(block, words, bytes)
#define HB_FIELD(block, field, offset, kind, count) \
  {#block, #field, offset, FieldKind::kind, count},
#include "kernel/control_blocks.def"
#undef HB_BLOCK
#undef HB_FIELD
};

constexpr BlockType kTypes[] = {
#define HB_BLOCK(block, words, bytes) {#block, words, bytes},
#define HB_FIELD(block, field, offset, kind, count)
#include "kernel/control_blocks.def"
#undef HB_BLOCK
#undef HB_FIELD
};

}  // namespace

std::span<const BlockField> BlockLayoutTable() {
  return kFields;
}
std::span<const BlockType> BlockTypes() {
  return kTypes;
}

const BlockField* FindBlockField(std::string_view block, std::string_view field) {
  for (const BlockField& f : kFields)
    if (f.block == block && f.field == field) return &f;
  return nullptr;
}

const BlockType* FindBlockType(std::string_view block) {
  for (const BlockType& t : kTypes)
    if (t.name == block) return &t;
  return nullptr;
}

int32_t FieldWords(const BlockField& f) {
  switch (f.kind) {
    case FieldKind::WRD:
      return 1;
    case FieldKind::CHR:
      return (f.count + 3) / 4;
    default:
      return f.count;
  }
}

const char* FieldKindName(FieldKind kind) {
  static constexpr std::array<const char*, 4> kNames = {"WRD", "WRDS", "CHR", "SEMAPHORE"};
  return kNames[static_cast<size_t>(kind)];
}

std::string BlockFieldText(const BlockField& f) {
  std::string text = FieldKindName(f.kind);
  text += ' ';
  text += f.block;
  if (f.offset != 0) text += '+' + std::to_string(f.offset);
  if (f.kind != FieldKind::WRD) text += ' ' + std::to_string(f.count);
  text += " '";
  text += f.field;
  text += '\'';
  return text;
}
