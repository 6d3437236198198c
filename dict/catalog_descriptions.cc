// The catalog's own tables' descriptions for record access.
#include "dict/catalog_descriptions.h"

#include <cstring>
#include <vector>

#include "catalog_gen.h"
#include "du/record_access_words.h"
#include "du/tables.h"
#include "kernel/word_storage.h"

namespace {

constexpr int32_t kRepeatedKeyIndexes[] = {73, 77};
constexpr int32_t kUniqueKind = 5, kPlainKind = 3;

}  // namespace

void DDPlainCatalogIndexes(int32_t* d, int32_t words) {
  for (int32_t e = DESC_ENTRIES; e + DESCIX_XD < words && d[e] != DESC_END;
       e += DESCIX_XD + d[e + DESCIX_XD]) {
    for (int32_t index : kRepeatedKeyIndexes)
      if (d[e] == kUniqueKind && d[e + DESCIX_TNAME] == index) d[e] = kPlainKind;
  }
}

int32_t DDOpenSysTable(int32_t* base, const int32_t* description, int32_t words, int32_t dcb) {
  if (words <= DESC_ENTRIES) return DU_BAD_ARGUMENT;
  std::vector<int32_t> d(description, description + words);
  DDPlainCatalogIndexes(d.data(), words);
  return DUCreateTcb(base, d[1], d.data(), words, dcb);
}

int32_t DDCatalogDescription(int32_t* base, int32_t* open) {
  int32_t words = 0;
  const int32_t* list = CatalogDescription(open[OPB_TNAME], &words);
  if (list == nullptr) return 1;
  int32_t block = 0;
  DSGetMem(base, &block, words * 4);
  if (block == 0) return SQLPOOL_EXHAUSTED_ERROR;
  int32_t* d = &sqlpool_word(base, block);
  std::memcpy(d, list, static_cast<size_t>(words) * 4);
  DDPlainCatalogIndexes(d, words);
  open[OPB_DESCRIPTION] = block;
  return 0;
}
