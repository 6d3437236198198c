// Catalog descriptions of tables for the tests: identity, index entries,
// foreign-key entries and the end word, as the catalog hands them over.
#pragma once

#include <cstdint>
#include <vector>

#include "du/record_access_words.h"

struct IndexSpec {
  int32_t kind, number, keylen;
  int32_t fk_table = 0, fk_index = 0, constraint = 0;
  std::vector<int32_t> parts;  // triples {offset, length, kind}
};

// A description of table kind 1: identity, index entries, foreign-key
// entries {7, referencing index, referencing table, own index}, end word.
inline std::vector<int32_t> Description(int32_t lid, int32_t keylen, int32_t reclen,
                                        int32_t constraint, const std::vector<IndexSpec>& indexes,
                                        const std::vector<std::vector<int32_t>>& foreign_keys) {
  std::vector<int32_t> d(DESC_ENTRIES, 0);
  d[DESC_KIND] = 1;
  d[DESC_LID] = lid;
  d[DESC_TYPE] = 1;
  d[DESC_KEYLEN] = keylen;
  d[DESC_RECLEN] = reclen;
  d[DESC_CONSTRAINT_SYSID] = constraint;
  for (const IndexSpec& ix : indexes) {
    std::vector<int32_t> e = {ix.kind,   ix.number,   DU_TYPE_INDEX, 0, ix.keylen,
                              ix.keylen, ix.fk_table, ix.fk_index,   0, ix.constraint};
    e.push_back(static_cast<int32_t>(ix.parts.size()) + 1);
    e.insert(e.end(), ix.parts.begin(), ix.parts.end());
    d.insert(d.end(), e.begin(), e.end());
  }
  for (const auto& fk : foreign_keys) d.insert(d.end(), fk.begin(), fk.end());
  d.push_back(DESC_END);
  return d;
}

// A parent table (8-byte key, 40-byte rows) with a unique index over bytes 8
// to 16 whose nulls never conflict, and a child table whose bytes 8 to 16
// reference the parent's key through an index of its own.
struct ParentChild {
  static constexpr int32_t kParent = 110, kParentUnique = 111, kChild = 120, kChildFk = 121;
  static constexpr int32_t kIndexKeyLen = 16;

  static std::vector<int32_t> Parent(int32_t lid) {
    return Description(
        lid, 8, 40, 900,
        {{IX_UNIQUE_NULLS_FREE, kParentUnique, kIndexKeyLen, 0, 0, 901, {8, 8, 0, 0, 8, 1}}},
        {{DESC_FOREIGN_KEY, kChildFk, kChild, kParent}});
  }
  static std::vector<int32_t> Child(int32_t lid) {
    return Description(
        lid, 8, 40, 950,
        {{IX_FOREIGN_KEY, kChildFk, kIndexKeyLen, kParent, kParent, 951, {8, 8, 0, 0, 8, 1}}}, {});
  }
};
