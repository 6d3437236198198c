// The server information item area as the kernel start builds it (level
// 4711) and at the lower levels, its text region's bound, and the
// escape translator's database-name callback.
#include "request/server_information.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"
#include "request/escape_callbacks.h"

namespace {

class InfoAreaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = SqlPoolCreate(int64_t{1} << 20, 1 << 16);
    ASSERT_NE(base_, nullptr);
    int32_t w = 1 << 16;
    DSPoolMem(base_, &w, -1, 0);
  }
  void TearDown() override { SqlPoolDestroy(base_); }

  int32_t Build(int32_t level) {
    int32_t area = 0;
    EXPECT_EQ(DSInfoBuild(base_, &area, level), 0);
    return area;
  }
  int32_t Number(int32_t area, int32_t item) {
    int32_t value = -1;
    std::string text;
    EXPECT_TRUE(SiiaItem(base_, area, item, &value, &text));
    return value;
  }
  std::string Text(int32_t area, int32_t item) {
    int32_t value = -1;
    std::string text = "?";
    EXPECT_TRUE(SiiaItem(base_, area, item, &value, &text));
    return text;
  }
  int32_t& W(int32_t area, int32_t word) { return sqlpool_word(base_, area + word); }

  int32_t* base_ = nullptr;
};

TEST_F(InfoAreaTest, TheServerLevelItems) {
  const int32_t area = Build(SIIA_SERVER_LEVEL);
  ASSERT_NE(area, 0);
  EXPECT_EQ(W(area, SIIA_TEXT_START), 167);
  EXPECT_EQ(W(area, SIIA_TEXT_END), 1000);
  struct Item {
    int32_t item, value;
  } numbers[] = {{4, 63},     {6, 65384},       {17, 23},      {19, 13825},  {35, 8388607},
                 {37, 15000}, {40, 128},        {59, 16646143}, {67, 62},    {74, 16777215},
                 {78, 31},    {80, 1},          {121, 14709247}, {148, 131071}, {167, 0}};
  for (const Item& i : numbers) EXPECT_EQ(Number(area, i.item), i.value) << i.item;
  EXPECT_EQ(Text(area, 94), "09.01.0003 ZAVOR/DB 9.1.3   ");
  EXPECT_EQ(Text(area, 90), "ISO 8859-1");
  EXPECT_EQ(Text(area, 112), "!\"%&'()*+,-./:;<=>?@[\\]^{|}~");
  EXPECT_EQ(Text(area, 112).size(), 28u);
  EXPECT_EQ(Text(area, 149), "\"");
  EXPECT_EQ(Text(area, 153), "ZAVOR/DB");
  EXPECT_EQ(Text(area, 116), "procedure");
  EXPECT_EQ(Text(area, 159), "#$");
  EXPECT_EQ(Text(area, 161),
            "EACH,HOLD,LOCALTIME,LOCALTIMESTAMP,NEW,REFERENCING,RELEASE,START,TRIGGER,WITHOUT");
  EXPECT_EQ(Text(area, 157).substr(0, 31), "BOTH,CALL,CURRENT_PATH,DETERMIN");
  // Empty texts are stored with length 0, not absent.
  for (int32_t item : {86, 88, 163}) {
    EXPECT_EQ(Text(area, item), "") << item;
    EXPECT_GE(W(area, item - 1), 0) << item;
    EXPECT_EQ(W(area, item), 0) << item;
  }
  // Every text starts on a word; the words in use end the last one.
  int32_t end = SIIA_TEXT_REGION;
  for (int32_t item = SIIA_FIRST_ITEM; item <= SIIA_LAST_ITEM; ++item) {
    if (!SiiaTextItem(item)) continue;
    EXPECT_EQ(W(area, item - 1) % 4, 0) << item;
    end = std::max(end, SIIA_TEXT_REGION + (W(area, item - 1) + W(area, item) + 3) / 4);
  }
  EXPECT_EQ(W(area, SIIA_IN_USE), end);
  EXPECT_EQ(DSInfoClear(base_, area), 0);
}

TEST_F(InfoAreaTest, LowerAndHigherLevels) {
  const int32_t two = Build(2), three = Build(3), four = Build(4), high = Build(9999);
  EXPECT_EQ(Text(two, 98), "");
  EXPECT_EQ(Text(two, 116), "");
  EXPECT_EQ(Number(two, 6), 32);
  EXPECT_EQ(Number(two, 67), 6);
  EXPECT_EQ(Number(two, 17), 0);
  EXPECT_EQ(Text(three, 98), "LEAVE,START");
  EXPECT_EQ(Text(three, 157), "LEAVE,NATURAL,START");
  EXPECT_EQ(Number(three, 6), 3936);
  EXPECT_EQ(Number(three, 67), 46);
  EXPECT_EQ(Text(four, 161), "START");
  EXPECT_EQ(Text(four, 116), "procedure");
  EXPECT_EQ(Number(four, 50), 18);
  EXPECT_EQ(Number(four, 80), 1);
  EXPECT_EQ(Number(four, 67), 62);
  EXPECT_EQ(Text(high, 86), ".");
  EXPECT_EQ(Text(high, 88), "catalog");
  EXPECT_EQ(Number(high, 6), 65384);
}

TEST_F(InfoAreaTest, AFullTextRegionStoresNothing) {
  const int32_t area = Build(SIIA_SERVER_LEVEL);
  const std::string big(1500, 'x');
  const int32_t before = W(area, SIIA_IN_USE);
  // The texts take about 170 words of the 833: one text of 375 words
  // fits, a second does not.
  ASSERT_EQ(DSInfoPutItem(base_, area, 163, big.data(), 1500), 0);
  const int32_t after = W(area, SIIA_IN_USE);
  EXPECT_EQ(after, before + 375);
  EXPECT_EQ(Text(area, 163), big);
  EXPECT_EQ(DSInfoPutItem(base_, area, 86, big.data(), 1500), SIIA_FULL);
  EXPECT_EQ(W(area, SIIA_IN_USE), after);
  EXPECT_EQ(Text(area, 86), "") << "the item keeps what it held";
  const int32_t value = 7;
  EXPECT_EQ(DSInfoPutItem(base_, area, 3, &value, 4), -19078);
  EXPECT_EQ(DSInfoPutItem(base_, area, 168, &value, 4), -19078);
  int32_t v = 0;
  std::string t;
  EXPECT_FALSE(SiiaItem(base_, area, 168, &v, &t));
}

TEST_F(InfoAreaTest, TheAreaIsGivenBack) {
  const int64_t allocs = DSPoolSize(base_, sqlpool::ITEM_ALLOCS);
  const int64_t frees = DSPoolSize(base_, sqlpool::ITEM_DEALLOCS);
  int32_t area = Build(SIIA_SERVER_LEVEL);
  EXPECT_EQ(DSPoolSize(base_, sqlpool::ITEM_ALLOCS), allocs + 1);
  EXPECT_EQ(DSInfoFree(base_, &area), 0);
  EXPECT_EQ(area, 0);
  EXPECT_EQ(DSPoolSize(base_, sqlpool::ITEM_DEALLOCS), frees + 1);
  EXPECT_EQ(DSInfoFree(base_, &area), 0) << "nothing to free";
  EXPECT_EQ(DSPoolSize(base_, sqlpool::ITEM_DEALLOCS), frees + 1);
  int32_t table = 5;
  EXPECT_EQ(DSInfoErrorTable(base_, &table), 0);
  EXPECT_EQ(table, 0) << "the SQLSTATE map lives outside the storage";
}

TEST_F(InfoAreaTest, TheDatabaseNameCallback) {
  uint8_t buffer[64];
  int32_t status = 9, position = 0, full = 0;
  EXPECT_EQ(DSEscDbName(base_, &status, buffer, &position, 64, &full, 1), 0);
  EXPECT_EQ(status, -19040) << "the kernel is not started";
  const int32_t sys = NewSysBlock(base_, 1);
  ASSERT_NE(sys, 0);
  sqlpool_word(base_, sys + SYS_DLEN) = 6;
  std::memcpy(&sqlpool_word(base_, sys + SYS_DATABASE), "SALES1", 6);
  ASSERT_EQ(DSRegEscCallbacks(base_), 0);
  const EscapeCallbacks& cb = EscapeTranslatorCallbacks();
  ASSERT_NE(cb.database_name, nullptr);
  EXPECT_NE(cb.error_hook, nullptr);
  struct Case {
    int32_t start, room, width, written, status;
    std::string bytes;
  } cases[] = {
      {0, 64, 1, 6, 0, "SALES1"},
      {3, 4, 1, 4, ESC_NAME_CUT, "SALE"},
      {0, 12, 2, 12, 0, std::string("S\0A\0L\0E\0S\0001\0", 12)},
      {0, 7, 2, 6, ESC_NAME_CUT, std::string("S\0A\0L\0", 6)},
      {1, 18, 3, 18, 0, std::string("\0\0S\0\0A\0\0L\0\0E\0\0S\0\0001", 18)},
      {0, 0, 1, 0, ESC_NAME_CUT, ""},
  };
  for (const Case& c : cases) {
    std::memset(buffer, '#', sizeof buffer);
    status = 9;
    position = c.start;
    full = 0;
    EXPECT_EQ(cb.database_name(&status, buffer, &position, c.room, &full, c.width), c.written);
    EXPECT_EQ(status, c.status) << c.room << "/" << c.width;
    EXPECT_EQ(position, c.start + c.written);
    EXPECT_EQ(full, 6 * c.width);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer) + c.start, c.written), c.bytes);
    EXPECT_EQ(buffer[c.start + c.written], '#') << "nothing written past the room";
  }
}

}  // namespace
