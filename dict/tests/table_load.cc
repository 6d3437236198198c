// The kernel's description loader for tests (see table_load.h).
#include "dict/tests/table_load.h"

#include <array>

#include "kernel/table_description.h"
#include "kernel/word_storage.h"

TableLoad LoadTableDescription(int32_t* base, int32_t table) {
  std::array<int32_t, OPEN_WORDS> open{};
  open[OPEN_TABLE] = table;
  TableLoad out{99, 0, 0, 0, 0};
  DSLoadTableDesc(base, &out.status, open.data());
  out.lid = open[OPEN_LID];
  out.key_length = open[OPEN_KEYLEN];
  out.record_length = open[OPEN_RECLEN];
  out.description = open[OPEN_DESCRIPTION];
  return out;
}

std::vector<TableLoadEntry> TableDescriptionEntries(int32_t* base, int32_t cditcb) {
  std::vector<TableLoadEntry> out;
  auto w = [&](int32_t k) { return sqlpool_word(base, cditcb + k); };
  for (int32_t e = DESC_HEADER_WORDS;
       e < CDITCB_WORDS - IXE_PARTS && w(e) != DESC_END && w(e) != DESC_KIND_LOB;) {
    if (w(e) == DESC_KIND_REFERENCE) {
      out.push_back({w(e), w(e + 1), w(e + 2), w(e + 3)});
      e += REFERENCE_WORDS;
      continue;
    }
    out.push_back({w(e), w(e + IXE_NUMBER), w(e + IXE_FK_TABLE), w(e + IXE_FK_INDEX)});
    e += IXE_COUNT + w(e + IXE_COUNT);
  }
  return out;
}

std::vector<int32_t> TableDescriptionLobs(int32_t* base, int32_t cditcb) {
  auto w = [&](int32_t k) { return sqlpool_word(base, cditcb + k); };
  int32_t e = DESC_HEADER_WORDS;
  while (e < CDITCB_WORDS - IXE_PARTS && w(e) != DESC_END && w(e) != DESC_KIND_LOB)
    e += w(e) == DESC_KIND_REFERENCE ? REFERENCE_WORDS : IXE_COUNT + w(e + IXE_COUNT);
  std::vector<int32_t> out;
  if (e >= CDITCB_WORDS - IXE_PARTS || w(e) != DESC_KIND_LOB) return out;
  for (; e < CDITCB_WORDS && w(e) != DESC_END; ++e) out.push_back(w(e));
  return out;
}
