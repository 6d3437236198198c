// DDRowImage: the record bytes of a generated row (self-description and
// seed rows), checked column by column against the generated layout.
#include "dict/row_image.h"

#include <cstring>

#include "platform/packed_decimal.h"

namespace {

const CatalogColumn* ColumnAt(const CatalogTable& t, int32_t offset) {
  for (int32_t i = 0; i < t.column_count; ++i)
    if (kCatalogColumns[t.first_column + i].offset == offset)
      return &kCatalogColumns[t.first_column + i];
  return nullptr;
}

// Every byte of a NULL column is 255, as the dictionary's statements store
// it (a statement's row starts so, and setting a column NULL fills it so):
// a key holding a NULL column then sorts the same whoever wrote the row.
void SetNull(std::span<uint8_t> record, const CatalogColumn& c) {
  std::memset(&record[c.offset], 255, static_cast<size_t>(c.width));
}

bool Put(std::span<uint8_t> record, const CatalogColumn& c, const CatalogValue& v) {
  const int32_t precision = DDFormPrecision(c.form);
  if (precision > 0) {
    if (v.is_text) return false;
    const auto u = static_cast<uint64_t>(v.number);
    return int64_to_decimal(record, {c.offset, precision, 0, 0}, static_cast<int32_t>(u >> 32),
                            static_cast<int32_t>(u & 0xffffffffu)) == kDecimalOk;
  }
  if (!v.is_text || (c.form != CATALOG_CHAR && c.form != CATALOG_BYTE)) return false;
  const std::size_t n = std::strlen(v.text);
  if (n > static_cast<std::size_t>(c.length)) return false;
  record[c.offset] = 0;
  std::memset(&record[c.offset + 1], c.form == CATALOG_CHAR ? ' ' : 0, c.length);
  std::memcpy(&record[c.offset + 1], v.text, n);
  return true;
}

}  // namespace

int32_t DDFormPrecision(int32_t form) {
  switch (form) {
    case CATALOG_INT:
      return 11;
    case CATALOG_INT64:
      return 19;
    case CATALOG_INT5:
      return 5;
    case CATALOG_INT3:
      return 3;
    default:
      return 0;
  }
}

int32_t DDRowImage(const CatalogRow& row, std::span<const CatalogValue> values,
                   std::span<uint8_t> record) {
  const CatalogTable* t = CatalogFindTable(row.table);
  if (!t || static_cast<int64_t>(record.size()) != t->record_length) return DD_ROW_IMAGE_BAD;
  for (int32_t i = 0; i < t->column_count; ++i)
    SetNull(record, kCatalogColumns[t->first_column + i]);
  for (const CatalogValue& v : values) {
    const CatalogColumn* c = ColumnAt(*t, v.offset);
    if (!c || !Put(record, *c, v)) return DD_ROW_IMAGE_BAD;
  }
  return 0;
}

int32_t DDRowImage(const CatalogRow& row, std::span<uint8_t> record) {
  if (row.first_value < 0 || row.value_count < 0) return DD_ROW_IMAGE_BAD;
  return DDRowImage(row, {kCatalogValues + row.first_value, static_cast<size_t>(row.value_count)},
                    record);
}
