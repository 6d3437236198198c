// What the compiler's lookups and the dictionary's reads give for the
// catalog's own tables and columns, as catalog.def defines them, and for
// columns the dictionary writes, by its type rules: the tests over the
// dictionary's fixture and over a created, started database compare with
// these.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "catalog_gen.h"
#include "dict/compiler_lookups.h"
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

// The attributes DDCmpTableAttr gives a system table found in SYSTEM.
inline void ExpectSystemTable(const DDTableAttr& a, const CatalogTable& t) {
  EXPECT_EQ(a.id, t.number) << t.name;
  EXPECT_EQ(a.kind, 1);
  EXPECT_EQ(Name(a.schema, a.schema_length), "SYSTEM");
  EXPECT_EQ(Name(a.name, a.name_length), t.name);
  EXPECT_EQ(a.key_length, t.key_length) << t.name;
  EXPECT_EQ(a.record_length, t.record_length) << t.name;
  EXPECT_EQ(a.column_count, t.column_count) << t.name;
  EXPECT_EQ(a.owner_id, CATALOG_SCHEMA_ID);
  EXPECT_EQ(a.primary_key_id, t.constraint_id) << t.name;
  EXPECT_EQ(a.databank_id, 1);
  EXPECT_EQ(a.logical_id, 1);
}

// `count` column definitions named by `names` (which must outlive them):
// the first 35 of type codes 1 to 35, the rest of random codes, with
// random lengths, scales, second lengths and nullability.
inline std::vector<DDColumnDef> RandomColumns(std::mt19937& rng,
                                              const std::vector<std::string>& names) {
  std::vector<DDColumnDef> columns;
  for (int32_t n = 1; n <= static_cast<int32_t>(names.size()); ++n) {
    DDColumnDef c;
    c.name = names[n - 1].data();
    c.name_length = static_cast<int32_t>(names[n - 1].size());
    c.number = n;
    c.type = n <= 35 ? n : 1 + static_cast<int32_t>(rng() % 35);
    c.length = 1 + static_cast<int32_t>(rng() % 4000);
    c.length_high = static_cast<int32_t>(rng() % 3);
    c.scale = static_cast<int32_t>(rng() % 10);
    c.nullable = rng() % 2;
    c.offset = 10 * n;
    c.byte_length = 1 + n % 7;
    columns.push_back(c);
  }
  return columns;
}
