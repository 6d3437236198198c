// The generated catalog against the fixed facts: every field of the system
// tables' row layouts (table, byte offset, width) is one column, the row and
// key lengths hold, and the six descriptions the kernel registers at open
// equal its own fixed lists word for word.
#include <gtest/gtest.h>

#include <vector>

#include "catalog_gen.h"
#include "kernel/databank_control.h"

namespace {

struct Field {
  int32_t offset, width;
};
struct Layout {
  int32_t table, record, key;
  std::vector<Field> fields;
};

// The rows as the inserting statements fix them; 44 by its kernel
// description; 11, 33, 36, 43 and 55 by their lengths alone.
const std::vector<Layout>& Layouts() {
  static const std::vector<Layout> k = {
      {11, 1078, 7, {}},
      {12, 14, 7, {{0, 7}, {7, 7}}},
      {13, 1019, 7, {{0, 7}, {7, 7}, {14, 1001}, {1015, 4}}},
      {14, 186, 129, {{0, 129}, {129, 7}, {136, 21}, {157, 19}, {176, 7}, {183, 3}}},
      {15,
       581,
       21,
       {{0, 7},
        {7, 7},
        {21, 129},
        {150, 129},
        {279, 257},
        {536, 21},
        {557, 4},
        {572, 3},
        {575, 3},
        {578, 3}}},
      {16, 78, 7, {{0, 7}, {7, 21}, {28, 7}, {35, 7}, {63, 4}, {71, 7}}},
      {17, 1240, 7, {{0, 7}, {7, 21}, {28, 4}, {32, 4}, {36, 1201}, {1237, 3}}},
      {18, 93, 35, {{0, 7}, {7, 21}, {28, 7}, {35, 7}, {42, 7}, {49, 7}, {56, 7}, {74, 7}}},
      {19, 91, 14, {{0, 7}, {7, 7}, {14, 7}, {21, 7}, {28, 21}, {49, 21}, {70, 21}}},
      {20,
       189,
       21,
       {{0, 7}, {7, 7}, {14, 7}, {21, 129}, {150, 21}, {171, 4}, {175, 4}, {179, 7}, {186, 3}}},
      {21, 1211, 7, {{7, 1201}, {1208, 3}}},
      {22, 2352, 136, {{0, 7},    {7, 129},  {136, 7},    {143, 7},  {150, 7}, {157, 31},
                       {188, 31}, {219, 11}, {230, 11},   {241, 7},  {248, 7}, {255, 7},
                       {262, 7},  {269, 7},  {276, 4},    {280, 4},  {288, 7}, {295, 7},
                       {302, 7},  {309, 7},  {379, 1201}, {2346, 3}, {2349, 3}}},
      {23,
       1359,
       7,
       {{0, 7},
        {7, 7},
        {14, 7},
        {21, 31},
        {52, 31},
        {83, 11},
        {94, 11},
        {105, 7},
        {112, 7},
        {119, 7},
        {126, 7},
        {133, 7},
        {140, 7},
        {147, 1201},
        {1348, 4},
        {1352, 4},
        {1356, 3}}},
      {24, 22, 14, {{0, 7}, {7, 7}, {14, 4}, {18, 4}}},
      {25, 308, 286, {{0, 7}, {7, 21}, {28, 129}, {157, 129}, {302, 3}, {305, 3}}},
      {26,
       432,
       415,
       {{0, 7}, {7, 129}, {136, 21}, {157, 129}, {286, 129}, {423, 3}, {426, 3}, {429, 3}}},
      {27, 296, 286, {{0, 7}, {7, 21}, {28, 129}, {157, 129}, {286, 4}, {290, 3}, {293, 3}}},
      {28, 2237, 7, {{0, 7}, {7, 7}, {14, 7}, {21, 7}, {28, 1201}, {2234, 3}}},
      {29, 2517, 7, {{0, 7},    {7, 7},     {14, 21},    {35, 21},   {56, 7},    {63, 7},
                     {70, 7},   {77, 7},    {84, 7},     {91, 7},    {98, 1201}, {1299, 1001},
                     {2300, 4}, {2304, 21}, {2325, 129}, {2454, 21}, {2475, 21}, {2496, 4},
                     {2500, 7}, {2507, 3},  {2510, 4},   {2514, 3}}},
      {30, 271, 7, {{0, 7}, {7, 129}, {136, 129}, {265, 3}, {268, 3}}},
      {31,
       303,
       18,
       {{0, 7},
        {7, 7},
        {14, 4},
        {18, 6},
        {24, 129},
        {153, 7},
        {160, 7},
        {167, 7},
        {181, 31},
        {212, 31},
        {243, 11},
        {254, 11},
        {265, 7},
        {272, 7},
        {279, 7},
        {286, 7},
        {293, 7},
        {300, 3}}},
      {32, 50, 7, {{0, 7}, {7, 4}, {11, 7}, {18, 7}, {25, 7}, {32, 7}, {39, 4}, {43, 7}}},
      {33, 2775, 7, {}},
      {36, 35, 7, {}},
      {38, 56, 56, {{0, 7}, {7, 21}, {28, 7}, {35, 21}}},
      {39, 188, 185, {{0, 7}, {7, 129}, {136, 7}, {143, 21}, {164, 21}, {185, 3}}},
      {40, 167, 164, {{0, 21}, {21, 7}, {28, 7}, {35, 129}, {164, 3}}},
      {41,
       2578,
       164,
       {{0, 7}, {7, 129}, {136, 21}, {157, 7}, {164, 7}, {171, 2401}, {2572, 3}, {2575, 3}}},
      {42, 2440, 28, {{0, 7}, {7, 7}, {14, 7}, {21, 7}, {28, 7}, {35, 2401}, {2436, 4}}},
      {43, 2425, 14, {}},
      {44, 516, 255, {}},
      {51,
       557,
       155,
       {{0, 129},
        {136, 3},
        {139, 9},
        {148, 7},
        {155, 129},
        {284, 257},
        {541, 7},
        {548, 3},
        {551, 3},
        {554, 3}}},
      {54, 86, 10, {{0, 7}, {7, 3}, {10, 4}, {14, 3}, {17, 4}, {21, 65}}},
      {55, 20, 10, {}},
      {56, 96, 10, {{0, 7}, {7, 3}, {10, 4}, {14, 7}, {21, 3}, {24, 3}, {27, 4}, {31, 65}}},
      {148, 1225, 7, {{0, 7}, {7, 7}, {14, 7}, {21, 1201}, {1222, 3}}},
      {149, 1043, 28, {{14, 7}, {21, 7}, {28, 7}, {42, 1001}}},
      {150, 28, 14, {{0, 7}, {7, 7}, {14, 7}, {21, 7}}},
      {151, 285, 7, {{0, 7}, {28, 257}}},
  };
  return k;
}

TEST(CatalogLayout, EveryFixedFieldIsOneColumnAndLengthsHold) {
  for (const Layout& l : Layouts()) {
    SCOPED_TRACE("table " + std::to_string(l.table));
    const CatalogTable* t = CatalogFindTable(l.table);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->record_length, l.record);
    EXPECT_EQ(t->key_length, l.key);
    for (const Field& f : l.fields) {
      bool found = false;
      for (int32_t i = 0; i < t->column_count; ++i) {
        const CatalogColumn& c = kCatalogColumns[t->first_column + i];
        if (c.offset == f.offset) {
          found = true;
          EXPECT_EQ(c.width, f.width) << "column at " << f.offset;
        }
      }
      EXPECT_TRUE(found) << "no column at " << f.offset;
    }
  }
}

TEST(CatalogLayout, ColumnsCoverEveryRowWithoutGapAndKeysEndOnAColumn) {
  for (int32_t i = 0; i < kCatalogTableCount; ++i) {
    const CatalogTable& t = kCatalogTables[i];
    SCOPED_TRACE("table " + std::to_string(t.number));
    int32_t next = 0;
    bool key_boundary = false;
    for (int32_t k = 0; k < t.column_count; ++k) {
      const CatalogColumn& c = kCatalogColumns[t.first_column + k];
      EXPECT_EQ(c.offset, next);
      next = c.offset + c.width;
      key_boundary |= next == t.key_length;
    }
    EXPECT_EQ(next, t.record_length);
    EXPECT_TRUE(key_boundary);
  }
}

TEST(CatalogLayout, NamedOffsetsAndTheTableNamesTheTextsGive) {
  EXPECT_EQ(TABLES_OWNER_ID, 28);
  EXPECT_EQ(CAT_TABLES, 16);
  EXPECT_EQ(CAT_INDEXCOL, 20);  // "Unable to open table ZAVOR.INDEXCOL"
  EXPECT_EQ(COLUMNS_RECLEN, 2352);
  EXPECT_STREQ(CATALOG_SCHEMA, "SYSTEM");
  EXPECT_EQ(sizeof CATALOG_VERSION, 9u);
  // The id sequence starts above every table, index and constraint number.
  for (int32_t i = 0; i < kCatalogTableCount; ++i) {
    EXPECT_LT(kCatalogTables[i].number, CATALOG_ID_SEQUENCE_START);
    EXPECT_LT(kCatalogTables[i].constraint_id, CATALOG_ID_SEQUENCE_START);
  }
  for (int32_t i = 0; i < kCatalogIndexCount; ++i)
    EXPECT_LT(kCatalogIndexes[i].number, CATALOG_ID_SEQUENCE_START);
}

// The six lists as the kernel states them, and as the generator derives them.
TEST(CatalogLayout, TheSixBaseTableListsEqualTheKernelsWordForWord) {
  int32_t count = 0;
  const CatalogTableDescription* kernel = CatalogBaseTables(&count);
  ASSERT_EQ(count, 6);
  const int32_t expected_words[6] = {10, 28, 28, 31, 34, 58};
  for (int32_t i = 0; i < 6; ++i) {
    SCOPED_TRACE("table " + std::to_string(kCatalogBaseTables[i]));
    EXPECT_EQ(kernel[i].table, kCatalogBaseTables[i]);
    int32_t words = 0;
    const int32_t* list = CatalogDescription(kCatalogBaseTables[i], &words);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(words, expected_words[i]);
    ASSERT_EQ(words, kernel[i].words);
    EXPECT_EQ(std::vector<int32_t>(list, list + words),
              std::vector<int32_t>(kernel[i].description, kernel[i].description + words));
  }
  int32_t words = 0;
  const int32_t* t16 = CatalogDescription(16, &words);
  const std::vector<int32_t> head = {1, 16, 1, 1, 7, 78, 3};
  EXPECT_EQ(std::vector<int32_t>(t16, t16 + 7), head);
  EXPECT_EQ(t16[8], 69);
  const std::vector<int32_t> entry = {3, 70, 1, 2, 14, 14, 0, 0};
  EXPECT_EQ(std::vector<int32_t>(t16 + 9, t16 + 17), entry);
  const std::vector<int32_t> tail = {8, 71, 7, 0, 0, 7, 1, -1, -1};
  EXPECT_EQ(std::vector<int32_t>(t16 + 19, t16 + 28), tail);
  const int32_t* t20 = CatalogDescription(20, &words);
  EXPECT_EQ(t20[9 + 4], 157);
  EXPECT_EQ(t20[9 + 5], 160);
  const int32_t* t22 = CatalogDescription(22, &words);
  EXPECT_EQ(t22[32], -1);  // the first entry's end word
  EXPECT_EQ(t22[33], 3);   // the second entry, index 81, right behind it
  EXPECT_EQ(t22[34], 81);
}

TEST(CatalogLayout, EveryDescriptionFitsTheLoadersArea) {
  for (int32_t i = 0; i < kCatalogTableCount; ++i) {
    const CatalogTable& t = kCatalogTables[i];
    EXPECT_LE(t.words, 1250);
    EXPECT_EQ(kCatalogDescriptionWords[t.first_word + t.words - 1], -1);
  }
}

}  // namespace
