// The control block layouts: the constants and the console's table come
// from one list, every block is laid out without gaps or overlaps the way
// the fields are counted, and entries print in the console's form.
#include "kernel/control_blocks.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "kernel/word_storage.h"

namespace {

TEST(ControlBlocks, BlocksComeInTheConsolesOrder) {
  std::vector<std::string> names;
  for (const BlockType& t : BlockTypes()) names.emplace_back(t.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"CHA", "DCB", "FICB", "ICB", "LVL", "SHP", "STM", "SYS",
                                      "TCB", "THR", "TRS", "USR", "DBS", "TP", "XAENT", "TRB"}));
  // The table holds the blocks' fields in the same order, each block once.
  std::vector<std::string> in_table;
  for (const BlockField& f : BlockLayoutTable())
    if (in_table.empty() || in_table.back() != f.block) in_table.emplace_back(f.block);
  EXPECT_EQ(in_table, names);
}

// Fields ascend without overlapping, the last one ends at the block's word
// count, field 0 is NEXT (ID in SYS), and the bytes to allocate cover the
// words.
TEST(ControlBlocks, FieldsTileEachBlock) {
  std::map<std::string_view, std::vector<const BlockField*>> by_block;
  for (const BlockField& f : BlockLayoutTable()) by_block[f.block].push_back(&f);
  for (const BlockType& t : BlockTypes()) {
    SCOPED_TRACE(std::string(t.name));
    const auto& fields = by_block[t.name];
    ASSERT_FALSE(fields.empty());
    EXPECT_EQ(fields[0]->offset, 0);
    EXPECT_EQ(fields[0]->field, t.name == "SYS" ? "ID" : "NEXT");
    int32_t end = 0;
    for (const BlockField* f : fields) {
      EXPECT_GE(f->offset, end) << f->field;
      end = f->offset + FieldWords(*f);
    }
    EXPECT_EQ(end, t.words);
    EXPECT_GE(t.bytes, 4 * t.words);
  }
}

TEST(ControlBlocks, NamedOffsetsAndSizes) {
  // Values as the field lists give them.
  EXPECT_EQ(CHA_REQNO, 3);
  EXPECT_EQ(USR_RVEC_RCODE, 4);
  EXPECT_EQ(USR_RVEC_ROWS, 15);
  EXPECT_EQ(USR_TRANSACTION_TIMEOUT, 354);
  EXPECT_EQ(LVL_NAME, 5);
  EXPECT_EQ(LVL_PATH, 37);  // NAME's 128 bytes span fields 5 to 36
  EXPECT_EQ(SYS_USR_START, 140);
  EXPECT_EQ(SYS_LVL_START, 495);
  EXPECT_EQ(SYS_S, 644);
  EXPECT_EQ(THR_USR_START, 1);
  EXPECT_EQ(THR_LVL_START, 356);
  EXPECT_EQ(THR_CPL_HANDLE_SIZE, 540);
  EXPECT_EQ(DCB_S, 42);
  EXPECT_EQ(XAENT_TRANSACTION_ID, 11);
  EXPECT_EQ(TRB_HANDLE_LIST, 11);
  // The embedded blocks are whole blocks.
  EXPECT_EQ(SYS_LVL_START - SYS_USR_START, USR_WORDS);
  EXPECT_EQ(THR_LVL_START - THR_USR_START, USR_WORDS);
  EXPECT_EQ(FindBlockField("SYS", "LVL_START")->count, LVL_WORDS);

  const std::pair<const char*, int32_t> bytes[] = {
      {"SYS", 2728}, {"USR", 1420}, {"LVL", 536}, {"THR", 2164}, {"CHA", 108}, {"STM", 128},
      {"TP", 164},   {"DCB", 180},  {"SHP", 84},  {"TRB", 84},   {"TCB", 108},
  };
  for (const auto& [name, size] : bytes) EXPECT_EQ(FindBlockType(name)->bytes, size) << name;
  EXPECT_EQ(SYS_BYTES, 2728);
  EXPECT_EQ(FindBlockType("XAENT")->words, 11);
  EXPECT_EQ(FindBlockType("NOPE"), nullptr);
}

TEST(ControlBlocks, ConsoleEntryText) {
  const std::pair<std::pair<const char*, const char*>, const char*> cases[] = {
      {{"CHA", "NEXT"}, "WRD CHA 'NEXT'"},
      {{"CHA", "CHANNELNO"}, "WRD CHA+1 'CHANNELNO'"},
      {{"DCB", "DNAME"}, "CHR DCB+9 128 'DNAME'"},
      {{"DCB", "S"}, "SEMAPHORE DCB+42 2 'S'"},
      {{"SYS", "USR_START"}, "WRDS SYS+140 355 'USR_START'"},
      {{"LVL", "PATH"}, "CHR LVL+37 387 'PATH'"},
      {{"XAENT", "TRANSACTION_ID"}, "CHR XAENT+11 0 'TRANSACTION_ID'"},
      {{"TRB", "TABLE_LIST"}, "WRDS TRB+1 10 'TABLE_LIST'"},
  };
  for (const auto& [key, text] : cases) {
    const BlockField* f = FindBlockField(key.first, key.second);
    ASSERT_NE(f, nullptr) << key.first << " " << key.second;
    EXPECT_EQ(BlockFieldText(*f), text);
  }
  EXPECT_EQ(FindBlockField("CHA", "DNAME"), nullptr);
  EXPECT_EQ(FindBlockField("SYS", "NEXT"), nullptr);
  // Words 22-28 of SYS and 234 of USR are named by no entry.
  for (const BlockField& f : BlockLayoutTable()) {
    if (f.block == "SYS") {
      EXPECT_FALSE(f.offset >= 22 && f.offset <= 28) << f.field;
    }
    if (f.block == "USR") {
      EXPECT_NE(f.offset, 234) << f.field;
    }
  }
}

TEST(ControlBlocks, BlocksLiveInTheWordStorage) {
  int32_t* base = SqlPoolCreate(200000, 100000);
  int32_t w = 100000;
  DSPoolMem(base, &w, -1, 0);
  int32_t sys = 0;
  DSGetMem(base, &sys, SYS_BYTES);
  ASSERT_GT(sys, 0);
  // Every word of the block is ours and cleared.
  for (int32_t i = 0; i < SYS_WORDS; ++i) EXPECT_EQ(sqlpool_word(base, sys + i), 0);
  // The USR inside SYS is a block like any other: its fields count from it.
  const int32_t usr = sys + SYS_USR_START;
  sqlpool_word(base, usr + USR_LVL) = sys + SYS_LVL_START;
  EXPECT_EQ(sqlpool_word(base, sys + SYS_USR_START + USR_LVL), sys + SYS_LVL_START);
  DSGetMem(base, &sys, 0);
  EXPECT_EQ(sys, 0);
  SqlPoolDestroy(base);
}

}  // namespace
