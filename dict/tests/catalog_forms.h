// What the compiler's lookups give for the catalog's own tables and
// columns, as catalog.def defines them: the tests over the dictionary's
// fixture and over a created, started database compare with these.
#pragma once

#include <cstdint>
#include <string>

#include "catalog_gen.h"

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
