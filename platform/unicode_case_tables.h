// Generated Unicode case tables (platform/unicode_case_tables.cc, made by
// tools/gen_unicode_case.py). Only case_map.cc reads them; the layout is
// described in the generator and in platform/README.md.
#pragma once

#include <cstdint>

namespace unicode_case_tables {

extern const char kUnicodeVersion[];
extern const uint16_t kLevel1[1088];
extern const uint16_t kLevel2[];
extern const uint8_t kLevel3[];
extern const int32_t kProperties[];
extern const uint16_t kSpecialSlots[209];
extern const uint16_t kSpecialUnits[];
extern const int kLevel2Size;
extern const int kLevel3Size;
extern const int kPropertyCount;
extern const int kSpecialUnitCount;

}  // namespace unicode_case_tables
