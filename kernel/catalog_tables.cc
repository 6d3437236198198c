// The fixed descriptions of the six catalog base tables that DSOpenSysdb
// registers with record access before the catalog can be read: a 9-word
// header, the index entries (each ended by -1) and the list's end word -1.
// Index entry words 8 and 9 (dirty flag, constraint id) are 0 and the
// index's own number, as the table description loader gives them.
#include <cstddef>

#include "kernel/databank_control.h"

namespace {

// Header: has key, table, LID 1, word 3 1, key and record length, 3, word 7
// unwritten (0), constraint id.
#define HEADER(t, k, r, c) 1, t, 1, 1, k, r, 3, 0, c
// Index entry: kind, number, 1, 2, key length, entry length, no foreign
// key, dirty 0, constraint id = the index number, c = 3 x parts + 2.
#define ENTRY(kind, no, k, e, c) kind, no, 1, 2, k, e, 0, 0, 0, no, c

constexpr int32_t kTable44[] = {HEADER(44, 255, 516, 114), -1};
constexpr int32_t kTable16[] = {
    HEADER(16, 7, 78, 69), ENTRY(3, 70, 14, 14, 8), 71, 7, 0, 0, 7, 1, -1, -1};
constexpr int32_t kTable18[] = {
    HEADER(18, 35, 93, 72), ENTRY(5, 73, 42, 42, 8), 28, 7, 0, 0, 35, 1, -1, -1};
constexpr int32_t kTable19[] = {
    HEADER(19, 14, 91, 74), ENTRY(3, 75, 28, 28, 11), 14, 7, 0, 21, 7, 0, 0, 14, 1, -1, -1};
constexpr int32_t kTable20[] = {HEADER(20, 21, 189, 76),
                                ENTRY(5, 77, 157, 160, 14),
                                7,
                                7,
                                0,
                                21,
                                129,
                                0,
                                0,
                                21,
                                1,
                                186,
                                3,
                                2,
                                -1,
                                -1};
constexpr int32_t kTable22[] = {HEADER(22, 136, 2352, 79),
                                ENTRY(5, 80, 150, 153, 14),
                                0,
                                7,
                                0,
                                136,
                                7,
                                0,
                                0,
                                136,
                                1,
                                2349,
                                3,
                                2,
                                -1,
                                ENTRY(3, 81, 150, 153, 14),
                                0,
                                7,
                                0,
                                295,
                                7,
                                0,
                                0,
                                136,
                                1,
                                2349,
                                3,
                                2,
                                -1,
                                -1};

#undef HEADER
#undef ENTRY

template <std::size_t N>
constexpr CatalogTableDescription Describe(int32_t table, const int32_t (&words)[N]) {
  return {table, static_cast<int32_t>(N), words};
}

constexpr CatalogTableDescription kTables[] = {
    Describe(44, kTable44), Describe(16, kTable16), Describe(18, kTable18),
    Describe(19, kTable19), Describe(20, kTable20), Describe(22, kTable22),
};

}  // namespace

const CatalogTableDescription* CatalogBaseTables(int32_t* count) {
  *count = static_cast<int32_t>(sizeof kTables / sizeof kTables[0]);
  return kTables;
}
