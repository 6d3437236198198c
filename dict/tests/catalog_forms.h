// What the compiler's lookups and the dictionary's reads give for the
// catalog's own tables and columns, as catalog.def defines them, and for
// columns the dictionary writes, by its type rules: the tests over the
// dictionary's fixture and over a created, started database compare with
// these.
#pragma once

#include <cstdint>
#include <string>

#include "catalog_gen.h"
#include "dict/dictionary_services.h"

inline std::string Name(const char* bytes, int32_t length) {
  return std::string(bytes, static_cast<size_t>(length));
}

// The dictionary type code, length and scale of a catalog column form.
struct FormType {
  int32_t code, length, scale;
};
inline FormType TypeOf(const CatalogColumn& c) {
  switch (c.form) {
    case CATALOG_INT:
      return {7, 11, 0};
    case CATALOG_INT64:
      return {28, 19, 0};
    case CATALOG_INT5:
      return {6, 5, 0};
    case CATALOG_INT3:
      return {2, 3, 0};
    case CATALOG_CHAR:
      return {1, c.length, 0};
    case CATALOG_BYTE:
      return {29, c.length, 0};
    default:
      return {34, c.length, 0};
  }
}

// A column's code, length and scale as the dictionary's type rules read
// them back from what the insert stored.
struct Triple {
  int32_t code, length, scale;
  bool operator==(const Triple&) const = default;
};
inline Triple Expected(const DDColumnDef& c) {
  const int32_t t = c.type;
  if (t == 1 || t == 5 || t == 29 || t == 30 || t == 34 || t == 35) return {t, c.length, 0};
  if (t == 2 || t == 11) return {t, c.length, c.scale};
  if (t == 3 || t == 6 || t == 7 || t == 28) return {t, c.length, 0};
  if (t == 4 || (t >= 8 && t <= 10)) return {t, c.length, -1};
  if (t == 12) return {t, 8, c.scale};
  if (t == 13) return {t, c.scale + 6, c.scale};
  if (t == 14) return {t, c.scale + 14, c.scale};
  if (t >= 15 && t <= 27) return {t, c.length, c.scale};  // the stored interval length
  return {t, c.length, c.length_high};                     // 31-33
}
