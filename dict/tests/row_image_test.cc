// Record images of every generated row, read back column by column with the
// platform's decimal reader: listed values come back, every other column is
// NULL, and rows that do not fit their table are refused.
#include "dict/row_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/packed_decimal.h"

namespace {

void CheckRow(const CatalogRow& row) {
  const CatalogTable* t = CatalogFindTable(row.table);
  ASSERT_NE(t, nullptr);
  std::vector<uint8_t> image(t->record_length, 0xAA);
  ASSERT_EQ(DDRowImage(row, image), 0);
  for (int32_t i = 0; i < t->column_count; ++i) {
    const CatalogColumn& c = kCatalogColumns[t->first_column + i];
    const CatalogValue* v = nullptr;
    for (int32_t k = 0; k < row.value_count; ++k)
      if (kCatalogValues[row.first_value + k].offset == c.offset)
        v = &kCatalogValues[row.first_value + k];
    const int32_t precision = DDFormPrecision(c.form);
    if (!v) {
      EXPECT_EQ(std::vector<uint8_t>(image.begin() + c.offset, image.begin() + c.offset + c.width),
                std::vector<uint8_t>(c.width, 255))
          << c.name;
    } else if (precision > 0) {
      int32_t high = 0, low = 0;
      ASSERT_EQ(decimal_to_int64_checked(&high, &low, image, {c.offset, precision, 0, 0}), 0)
          << c.name;
      EXPECT_EQ((static_cast<int64_t>(high) << 32) | static_cast<uint32_t>(low), v->number)
          << c.name;
    } else {
      EXPECT_EQ(image[c.offset], 0) << c.name;
      std::string text(reinterpret_cast<const char*>(&image[c.offset + 1]), c.length);
      std::string expected(v->text);
      expected.resize(c.length, c.form == CATALOG_CHAR ? ' ' : '\0');
      EXPECT_EQ(text, expected) << c.name;
    }
  }
}

TEST(RowImage, EveryGeneratedRowReadsBack) {
  for (int32_t i = 0; i < kCatalogSelfRowCount; ++i) CheckRow(kCatalogSelfRows[i]);
  for (int32_t i = 0; i < kCatalogSeedRowCount; ++i) CheckRow(kCatalogSeedRows[i]);
}

TEST(RowImage, RowsThatDoNotFitAreRefused) {
  const CatalogRow& row = kCatalogSelfRows[0];  // a row of table 16
  std::vector<uint8_t> image(TABLES_RECLEN - 1);
  EXPECT_EQ(DDRowImage(row, image), DD_ROW_IMAGE_BAD);
  image.resize(TABLES_RECLEN + 1);
  EXPECT_EQ(DDRowImage(row, image), DD_ROW_IMAGE_BAD);
  const CatalogRow unknown{2, 0, 0};
  image.resize(10);
  EXPECT_EQ(DDRowImage(unknown, image), DD_ROW_IMAGE_BAD);
  // The key of a table row orders by table number: images of 16's rows of
  // tables 11 and 12 compare as their numbers do.
  std::vector<uint8_t> a(TABLES_RECLEN), b(TABLES_RECLEN);
  ASSERT_EQ(DDRowImage(kCatalogSelfRows[0], a), 0);
  int32_t next = 1;
  while (kCatalogSelfRows[next].table != 16) ++next;
  ASSERT_EQ(DDRowImage(kCatalogSelfRows[next], b), 0);
  EXPECT_LT(std::memcmp(a.data(), b.data(), TABLES_KEYLEN), 0);
}

}  // namespace
