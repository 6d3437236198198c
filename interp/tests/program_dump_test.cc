// The program dump: exact captions, the title only when printing to the log,
// asterisks for a value wider than its field, the buffer that keeps its first
// lines and counts the rest, and the lists of an assembled program.
#include "interp/program_dump.h"

#include <algorithm>

#include "interp/opcode_table.h"
#include "interp/tests/interp_fixture.h"

using namespace interp;

namespace {

class ProgramDump : public InterpTest {
 protected:
  // The lines a buffer of `capacity` words (and as many real words) holds.
  std::vector<std::string> Buffered(const std::vector<int32_t>& program, int32_t capacity,
                                    int32_t* used = nullptr) {
    std::vector<int32_t> target(static_cast<size_t>(capacity) + 3, 0);
    target[2] = capacity;
    DAPrtProgram(program.data(), static_cast<int32_t>(program.size()), 0, target.data(),
                 static_cast<int32_t>(target.size()));
    if (used) *used = target[0];
    std::vector<std::string> lines;
    const char* text = reinterpret_cast<const char*>(target.data()) + 12;
    const int32_t end = std::min<int32_t>(target[0], capacity * 4);
    std::string cur;
    for (int32_t i = 0; i < end; ++i) {
      if (static_cast<uint8_t>(text[i]) == 0xFF) {
        lines.push_back(cur);
        cur.clear();
      } else {
        cur += text[i];
      }
    }
    return lines;
  }
};

std::vector<int32_t> Descriptor() {
  std::vector<int32_t> w(kDescriptorWords, 0);
  w[0] = 1;
  w[1] = 12;
  w[2] = 21;
  w[4] = -1234567890;
  w[17] = w[18] = w[19] = w[20] = -1;
  w.push_back(kOpBEG);
  return w;
}

TEST_F(ProgramDump, CaptionsAreExact) {
  const auto lines = Buffered(Descriptor(), 2000);
  ASSERT_GE(lines.size(), 23u);
  EXPECT_EQ(lines[0], "SECTION DESCRIPTOR");
  EXPECT_EQ(lines[1], "------------------");
  EXPECT_EQ(lines[2], "   0: Section identifier:                  1");
  EXPECT_EQ(lines[3], "   1: Program is of type:                 12");  // no name for 12
  EXPECT_EQ(lines[6], "   4: Storage size:               **********");
  EXPECT_EQ(lines[16], "  14: Output parameter list start:         0");
  EXPECT_EQ(lines[19], "  17: Compound statement stack storage offset:         -1");
  EXPECT_EQ(lines[22], "  20: Current user name offset:         -1");
  EXPECT_EQ(lines.back(), "-------");
  EXPECT_EQ(lines[lines.size() - 2], "PROGRAM");
  EXPECT_FALSE(log_.Contains("ZEZ PROGRAM DUMP"));
}

TEST_F(ProgramDump, CapacityZeroPrintsToTheLogWithTitle) {
  std::vector<int32_t> program = Descriptor();
  program[1] = 15;
  int32_t target[3] = {0, 0, 0};
  DAPrtProgram(program.data(), static_cast<int32_t>(program.size()), 0, target, 3);
  EXPECT_TRUE(log_.Contains("ZEZ PROGRAM DUMP================"));
  EXPECT_TRUE(log_.Contains("   1: Program is of type:                 15 - level 2"));
}

TEST_F(ProgramDump, SmallBufferKeepsFirstLinesAndCountsAll) {
  int32_t used_small = 0, used_big = 0;
  const auto small = Buffered(Descriptor(), 20, &used_small);
  const auto big = Buffered(Descriptor(), 2000, &used_big);
  EXPECT_EQ(used_small, used_big);
  EXPECT_GT(used_small, 20 * 4);
  ASSERT_FALSE(small.empty());
  EXPECT_LT(small.size(), big.size());
  for (size_t i = 0; i < small.size(); ++i) EXPECT_EQ(small[i], big[i]);
}

TEST_F(ProgramDump, ListsOfAnAssembledProgram) {
  Load(R"(type 3
field T table 17 key 8 reclen 20
field W word = 4
field P char 3
perm T
temp T
dynamic W W
input P
csd 4 W -1 -1 0 -1 77 0 1
end
code
  BEG
  END 1
)");
  // The record block's access word says W(rite).
  auto words = asm_.words;
  words[words[kDescStorageOffset] + Off("T") / 4 + kRecAccess] = 3;
  std::vector<int32_t> target(4000, 0);
  target[2] = 3997;
  DAPrtProgram(words.data(), static_cast<int32_t>(words.size()), 0, target.data(), 4000);
  std::string all(reinterpret_cast<const char*>(target.data()) + 12, target[0]);
  const std::string t = std::to_string(Off("T") / 4 + 1), w = std::to_string(Off("W") / 4 + 1);
  EXPECT_NE(all.find("   1: Program is of type:                  3 - insert one"),
            std::string::npos);
  EXPECT_NE(all.find("  21: Permanent table list: " + t + " - W, <EOL>"), std::string::npos);
  EXPECT_NE(all.find("  23: Temporary table list: " + t + ", <EOL>"), std::string::npos);
  EXPECT_NE(all.find("  25: Dynamic list: " + w + ", " + w + ", <EOL>"), std::string::npos);
  EXPECT_NE(all.find("      Start  Byte-offset  Byte-length"), std::string::npos);
  EXPECT_NE(all.find("       " + std::string("  28: ")), std::string::npos);
  EXPECT_NE(all.find("  31: Call status descriptor type: Atomic (4)"), std::string::npos);
  EXPECT_NE(all.find("  37: Sys identification for called program:     77"), std::string::npos);
  EXPECT_NE(all.find("  39: Recursive invocation"), std::string::npos);
}

// Right-aligned number of the dump's row templates.
std::string Num(int64_t v, size_t width) {
  std::string s = std::to_string(v);
  return std::string(width - s.size(), ' ') + s;
}

TEST_F(ProgramDump, CompoundStatementsAndHandlers) {
  Load(R"(type 77
csh 1 0 -1 h1 0 0
csh 2 2 21 -1 0 0
end
h1: ehd -1 4 1 9 0
code
  BEG
  END 1
)");
  std::vector<int32_t> target(4000, 0);
  target[2] = 3997;
  DAPrtProgram(asm_.words.data(), static_cast<int32_t>(asm_.words.size()), 0, target.data(), 4000);
  std::vector<std::string> lines;
  std::string cur;
  for (int32_t i = 0; i < target[0]; ++i) {
    const char c = reinterpret_cast<const char*>(target.data())[12 + i];
    if (static_cast<uint8_t>(c) == 0xFF) {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  const std::string head1 = "      Start  Compound      Compound  Index to         Index to EHD";
  const std::string row1 = "       " + Num(21, 4) + ": " + Num(1, 11) + "   " + Num(0, 7) + "   " +
                           Num(-1, 10) + "       " + Num(34, 11);
  const std::string handler = "       " + Num(34, 4) + ": " + Num(-1, 11) + "   " + Num(4, 7) +
                              "   " + Num(9, 10) + "       " + Num(0, 11);
  const std::string row2 = "       " + Num(27, 4) + ": " + Num(2, 11) + "   " + Num(2, 7) + "   " +
                           Num(21, 10) + "       " + Num(-1, 11);
  auto at = std::find(lines.begin(), lines.end(), head1);
  ASSERT_NE(at, lines.end());
  const std::vector<std::string> expected = {
      head1,
      "             statement id  type      surrounding CSH  of compound",
      row1,
      "",
      "      Start  Next          Class     ZEZ address      Nr of SQL-states",
      handler,
      "",
      head1,
      "             statement id  type      surrounding CSH  of compound",
      row2};
  ASSERT_GE(lines.end() - at, static_cast<long>(expected.size()));
  EXPECT_EQ(std::vector<std::string>(at, at + static_cast<long>(expected.size())), expected);
  EXPECT_EQ(asm_.words[kDescCompoundHierarchy], 21);
}

}  // namespace
