// Record images of generated catalog rows: a row given as its non-null
// column values by byte offset becomes the record as record access stores
// it, integers as packed decimals, characters blank padded behind the
// indicator 0, bytes zero padded, and every column not listed NULL.
#pragma once

#include <cstdint>
#include <span>

#include "catalog_gen.h"

// A row's table has no such length, a value names no column start, a text
// does not fit its column, or a number does not fit its precision.
inline constexpr int32_t DD_ROW_IMAGE_BAD = -19113;

// The precision of an integer column form (11, 19, 5 or 3), 0 for others.
int32_t DDFormPrecision(int32_t form);

// Writes the image of a row of table `row.table` with the `values` given
// into `record`, which must be exactly the table's record length. 0, or
// DD_ROW_IMAGE_BAD with `record` undefined. A byte column's text ends at
// its first zero byte.
int32_t DDRowImage(const CatalogRow& row, std::span<const CatalogValue> values,
                   std::span<uint8_t> record);
// The same for a generated row, whose values stand in kCatalogValues.
int32_t DDRowImage(const CatalogRow& row, std::span<uint8_t> record);
