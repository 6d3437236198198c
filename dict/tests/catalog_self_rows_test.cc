// The catalog's description of itself: a model of the table description
// loader, reading only the generated rows of tables 16, 18, 20 and 22 (by
// the columns it names), must give every table's generated description
// list; the seed rows hold the catalog version and every message line.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "catalog_gen.h"

namespace {

// One generated row as offset -> value; numbers and texts apart.
struct RowView {
  std::map<int32_t, int64_t> numbers;
  std::map<int32_t, std::string> texts;
  int64_t N(int32_t offset) const {
    auto it = numbers.find(offset);
    return it == numbers.end() ? -999 : it->second;
  }
  std::string T(int32_t offset) const {
    auto it = texts.find(offset);
    return it == texts.end() ? std::string() : it->second;
  }
};

std::vector<RowView> RowsOf(const CatalogRow* rows, int32_t count, int32_t table) {
  std::vector<RowView> out;
  for (int32_t i = 0; i < count; ++i) {
    if (rows[i].table != table) continue;
    RowView v;
    for (int32_t k = 0; k < rows[i].value_count; ++k) {
      const CatalogValue& value = kCatalogValues[rows[i].first_value + k];
      if (value.is_text)
        v.texts[value.offset] = value.text;
      else
        v.numbers[value.offset] = value.number;
    }
    out.push_back(v);
  }
  return out;
}

std::vector<RowView> Self(int32_t table) {
  return RowsOf(kCatalogSelfRows, kCatalogSelfRowCount, table);
}

// The loader's list for `number` from the rows alone.
std::vector<int32_t> LoaderModel(int32_t number) {
  std::vector<int32_t> w;
  const auto tables = Self(16);
  auto t = std::find_if(tables.begin(), tables.end(),
                        [&](const RowView& r) { return r.N(TABLES_TABLE_ID) == number; });
  if (t == tables.end()) return w;
  std::vector<RowView> constraints;
  for (const RowView& r : Self(18))
    if (r.N(TABLE_CONSTRAINTS_TABLE_ID) == number) constraints.push_back(r);
  std::sort(constraints.begin(), constraints.end(), [](const RowView& a, const RowView& b) {
    return a.N(TABLE_CONSTRAINTS_CONSTRAINT_ID) < b.N(TABLE_CONSTRAINTS_CONSTRAINT_ID);
  });
  const int32_t key = static_cast<int32_t>(t->N(TABLES_KEY_LENGTH));
  const int32_t record = static_cast<int32_t>(t->N(TABLES_RECORD_LENGTH));
  const int32_t trailing = static_cast<int32_t>(t->N(TABLES_TRAILING_START));
  int32_t primary = 0;
  for (const RowView& c : constraints)
    if (c.T(TABLE_CONSTRAINTS_CONSTRAINT_TYPE).rfind("PRIMARY KEY", 0) == 0)
      primary = static_cast<int32_t>(c.N(TABLE_CONSTRAINTS_CONSTRAINT_ID));
  w = {primary ? 1 : 2, number, 1, 1, key, record, 3, 0, primary};
  for (const RowView& c : constraints) {
    const std::string kind = c.T(TABLE_CONSTRAINTS_CONSTRAINT_TYPE);
    if (kind != "UNIQUE" && kind != "INDEX") continue;
    const int32_t id = static_cast<int32_t>(c.N(TABLE_CONSTRAINTS_CONSTRAINT_ID));
    std::vector<RowView> keys;
    for (const RowView& k : Self(20))
      if (k.N(INDEXCOL_CONSTRAINT_ID) == id) keys.push_back(k);
    std::sort(keys.begin(), keys.end(), [](const RowView& a, const RowView& b) {
      return a.N(INDEXCOL_ORDINAL_POSITION) < b.N(INDEXCOL_ORDINAL_POSITION);
    });
    EXPECT_EQ(static_cast<int64_t>(keys.size()), c.N(TABLE_CONSTRAINTS_KEY_COLUMN_COUNT));
    const int32_t parts = static_cast<int32_t>(keys.size()) + 1 + (trailing ? 1 : 0);
    w.insert(w.end(), {kind == "UNIQUE" ? 5 : 3, id, 1, 2,
                       static_cast<int32_t>(c.N(TABLE_CONSTRAINTS_KEY_LENGTH)),
                       static_cast<int32_t>(c.N(TABLE_CONSTRAINTS_ENTRY_LENGTH)), 0, 0, 0, id,
                       3 * parts + 2});
    for (const RowView& k : keys) {
      for (const RowView& col : Self(22)) {
        if (col.N(COLUMNS_TABLE_ID) != number ||
            col.T(COLUMNS_COLUMN_NAME) != k.T(INDEXCOL_COLUMN_NAME))
          continue;
        w.insert(w.end(), {static_cast<int32_t>(col.N(COLUMNS_BYTE_OFFSET)),
                           static_cast<int32_t>(col.N(COLUMNS_BYTE_LENGTH)),
                           k.T(INDEXCOL_IS_ASCENDING) == "YES" ? 0 : -1});
      }
    }
    w.insert(w.end(), {0, key, 1});
    if (trailing) w.insert(w.end(), {trailing, record - trailing, 2});
    w.push_back(-1);
  }
  w.push_back(-1);
  return w;
}

TEST(CatalogSelfRows, ALoaderModelOverTheRowsGivesEveryDescriptionList) {
  ASSERT_EQ(static_cast<int32_t>(Self(16).size()), kCatalogTableCount);
  for (int32_t i = 0; i < kCatalogTableCount; ++i) {
    const int32_t number = kCatalogTables[i].number;
    SCOPED_TRACE("table " + std::to_string(number));
    int32_t words = 0;
    const int32_t* list = CatalogDescription(number, &words);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(LoaderModel(number), std::vector<int32_t>(list, list + words));
  }
}

TEST(CatalogSelfRows, ColumnRowsDescribeEveryColumnWithItsTypeWord) {
  const auto rows = Self(22);
  ASSERT_EQ(static_cast<int32_t>(rows.size()), kCatalogColumnCount);
  int32_t at = 0;
  for (int32_t i = 0; i < kCatalogTableCount; ++i) {
    const CatalogTable& t = kCatalogTables[i];
    for (int32_t k = 0; k < t.column_count; ++k, ++at) {
      const CatalogColumn& c = kCatalogColumns[t.first_column + k];
      const RowView& r = rows[at];
      EXPECT_EQ(r.N(COLUMNS_TABLE_ID), t.number);
      EXPECT_EQ(r.T(COLUMNS_COLUMN_NAME), c.name);
      EXPECT_EQ(r.N(COLUMNS_BYTE_OFFSET), c.offset);
      EXPECT_EQ(r.N(COLUMNS_BYTE_LENGTH), c.width);
      EXPECT_EQ(r.T(COLUMNS_IS_NULLABLE), c.offset < t.key_length ? "NO " : "YES");
      const std::string type = r.T(COLUMNS_DATA_TYPE);
      if (c.form == CATALOG_CHAR) {
        EXPECT_EQ(type, "CHARACTER");
        EXPECT_EQ(r.N(COLUMNS_CHARACTER_MAXIMUM_LENGTH), c.length);
      } else if (c.form == CATALOG_INT) {
        EXPECT_EQ(type, "INTEGER");
        EXPECT_EQ(r.N(COLUMNS_NUMERIC_PRECISION), 11);
      } else if (c.form == CATALOG_TEXT3) {
        EXPECT_EQ(type, "NATIONAL CHARACTER");
        EXPECT_EQ(r.N(COLUMNS_CHARACTER_OCTET_LENGTH), 4 * c.length);
      }
    }
  }
}

TEST(CatalogSelfRows, SeedRowsHoldTheVersionAndEveryMessageLine) {
  const auto info = RowsOf(kCatalogSeedRows, kCatalogSeedRowCount, 44);
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(info[0].T(CATALOG_INFO_INFO_VALUE), CATALOG_VERSION);
  const auto lines = RowsOf(kCatalogSeedRows, kCatalogSeedRowCount, 49);
  const auto severities = RowsOf(kCatalogSeedRows, kCatalogSeedRowCount, 50);
  EXPECT_EQ(static_cast<int32_t>(severities.size()), kCatalogMessageCount);
  int32_t line_rows = 0;
  for (int32_t i = 0; i < kCatalogMessageCount; ++i) line_rows += kCatalogMessages[i].line_count;
  EXPECT_EQ(static_cast<int32_t>(lines.size()), line_rows);
  // -16147 has two lines; the second is the explanation.
  int found = 0;
  for (const RowView& r : lines) {
    EXPECT_LE(r.T(MESSAGES_MESSAGE_TEXT).size(), 80u);
    if (r.N(MESSAGES_MESSAGE_NO) == -16147 && r.N(MESSAGES_LINE_NO) == 2) {
      EXPECT_EQ(r.T(MESSAGES_MESSAGE_TEXT), "please refer to user's guide for an explanation");
      ++found;
    }
    if (r.N(MESSAGES_MESSAGE_NO) == -19008) {
      EXPECT_EQ(r.T(MESSAGES_MESSAGE_TEXT), "Unable to open table ZAVOR.INDEXCOL");
    }
  }
  EXPECT_EQ(found, 1);
}

}  // namespace
