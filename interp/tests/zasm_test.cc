// The program assembler: lengths and branch operands of the shared opcode
// table, random valid programs that go through disassembly and back to the
// same words, the layout of an assembled program, and bad texts reported
// with file and line.
#include "tools/zasm/zasm.h"

#include <gtest/gtest.h>

#include <random>

#include "interp/opcode_table.h"
#include "interp/program_layout.h"

using namespace interp;

namespace {

TEST(OpcodeTable, LengthsAndBranchOperands) {
  struct Case {
    int32_t op;
    const char* name;
    int length, branch;
  };
  const Case cases[] = {{1, "IGN", 2, 0},   {41, "BEG", 1, 0},   {42, "JMP", 2, 1},
                        {56, "NN2", 9, -1}, {58, "RP2", 8, -1},  {96, "RPL", 15, 0},
                        {164, "AGH", 3, 2}, {191, "RPU", 15, 0}, {201, "RMU", 10, 0},
                        {149, "CPT", 9, 8}, {155, "SPF", 10, 8}};
  for (const Case& c : cases) {
    EXPECT_STREQ(kOpcodes[c.op].name, c.name);
    EXPECT_EQ(kOpcodes[c.op].length, c.length) << c.name;
    EXPECT_EQ(kOpcodes[c.op].branch, c.branch) << c.name;
    EXPECT_EQ(OpcodeByName(c.name), c.op);
  }
  for (int32_t op = 1; op <= kOpcodeCount; ++op) {
    const auto& info = kOpcodes[op];
    EXPECT_NE(info.length, 13) << op;
    EXPECT_EQ(std::string(info.operands).size(), static_cast<size_t>(info.length - 1)) << op;
    if (info.branch > 0) {
      EXPECT_EQ(info.operands[info.branch - 1], 'd') << op;
    }
  }
}

// A program of random instructions whose displacement operands all land on
// instructions, with random lists and storage words.
std::vector<int32_t> RandomProgram(std::mt19937& rng) {
  auto any = [&] { return static_cast<int32_t>(rng()); };
  std::vector<int32_t> w(kDescriptorWords);
  for (auto& x : w) x = any() % 1000;
  const int lists = rng() % 12;
  for (int k = 0; k < lists; ++k) w.push_back(any());
  const int32_t start = static_cast<int32_t>(w.size());
  std::vector<int32_t> code = {kOpBEG}, starts = {1};
  const int n = 1 + rng() % 40;
  for (int k = 0; k < n; ++k) {
    const int32_t op = 1 + static_cast<int32_t>(rng() % kOpcodeCount);
    starts.push_back(static_cast<int32_t>(code.size()) + 1);
    code.push_back(op);
    for (int i = 1; i < kOpcodes[op].length; ++i) {
      int32_t v = any();
      while (!OperandFits(kOpcodes[op].operands[i - 1], v)) v = any();
      code.push_back(v);
    }
    if (op == kOpRP2) {  // key items behind the fixed part, operand 7 the length
      const int items = static_cast<int>(rng() % 10);
      for (int i = 0; i < items; ++i) code.push_back(any());
      code[starts.back() - 1 + kRp2LengthOperand] = kOpcodes[op].length + items;
    }
  }
  // Displacements to a random instruction.
  for (size_t k = 0; k < starts.size(); ++k) {
    const int32_t p = starts[k];
    const auto& info = kOpcodes[code[p - 1]];
    for (int i = 1; i < info.length; ++i)
      if (info.operands[i - 1] == 'd') code[p - 1 + i] = starts[rng() % starts.size()] - p;
  }
  w.insert(w.end(), code.begin(), code.end());
  w[kDescProgramStart] = start;
  w[kDescStorageOffset] = static_cast<int32_t>(w.size());
  const int storage = rng() % 30;
  for (int k = 0; k < storage; ++k) w.push_back(any());
  return w;
}

TEST(Zasm, RandomProgramsRoundTripToIdenticalWords) {
  std::mt19937 rng(2026);
  for (int round = 0; round < 300; ++round) {
    const std::vector<int32_t> words = RandomProgram(rng);
    std::string text, error;
    ASSERT_TRUE(zasm::Disassemble(words, &text, &error)) << error;
    zasm::Assembly again;
    ASSERT_TRUE(zasm::Assemble(text, "round.zasm", &again, &error)) << error << "\n" << text;
    ASSERT_EQ(again.words, words) << text;
  }
}

TEST(Zasm, AssembledProgramLayout) {
  zasm::Assembly a;
  std::string error;
  ASSERT_TRUE(zasm::Assemble(R"(type 2
field T table 17 key 8 reclen 20
field P char 3 = 'ab'
field D decimal 7 = null
field N word = -3
perm T
dynamic N
input P D
csd 3 N -1 -1 0 -1 0 0 0
end
code
  BEG
top: MVC P, 3, P, 3
  GNR T, top
  END 1
)",
                             "layout.zasm", &a, &error))
      << error;
  const auto& w = a.words;
  EXPECT_EQ(w[kDescSectionId], 1);
  EXPECT_EQ(w[kDescType], 2);
  EXPECT_EQ(w[kDescPermSize], 1);
  EXPECT_EQ(w[w[kDescPermStart]], a.fields.at("T") / 4 + 1);
  EXPECT_EQ(w[w[kDescPermStart] + 1], kListEnd);
  EXPECT_EQ(w[w[kDescDynamicStart]], a.fields.at("N") / 4 + 1);
  EXPECT_EQ(w[kDescInputSize], 2);
  EXPECT_EQ(w[w[kDescInputStart]], a.fields.at("P"));
  EXPECT_EQ(w[w[kDescInputStart] + 1], 4);  // indicator + 3
  EXPECT_EQ(w[w[kDescInputStart] + 3], 5);  // precision 7: 5 bytes
  EXPECT_EQ(w[w[kDescCallStatus]], 3);
  EXPECT_EQ(w[w[kDescCallStatus] + kCsdWords], kListEnd);
  EXPECT_EQ(w[kDescCompoundHierarchy], -1);
  const int32_t start = w[kDescProgramStart];
  EXPECT_EQ(w[start], kOpBEG);
  EXPECT_EQ(w[start + 6], 3);   // GNR at position 7
  EXPECT_EQ(w[start + 8], -5);  // back to `top` at position 2
  const int32_t stg = w[kDescStorageOffset];
  EXPECT_EQ(w[kDescStorageSize], static_cast<int32_t>(w.size()) - stg);
  const int32_t t = a.fields.at("T") / 4;
  EXPECT_EQ(w[stg + t + kRecTable], 17);
  EXPECT_EQ(w[stg + t + kRecKeyLength], 8);
  EXPECT_EQ(w[stg + t + kRecRowLength], 20);
  EXPECT_EQ(w[stg + a.fields.at("N") / 4], -3);
}

struct BadText {
  const char* text;
  const char* message;
};

const BadText kBadTexts[] = {
    {"code\n BEG\n XYZ 1\n", "bad.zasm:3: unknown opcode 'XYZ'"},
    {"code\n BEG\n END 1, 2\n", "bad.zasm:3: END takes 1 operands, not 2"},
    {"code\n BEG\n JMP nowhere\n", "bad.zasm:3: unknown label 'nowhere'"},
    {"code\n BEG\n JMP 7\n", "bad.zasm:3: branch target 9 is not an instruction"},
    {"code\n BEG\n NN2 1, 48, 0, 0, 0, 1, 50, 0\n", "bad.zasm:3: branch target 3 is not"},
    {"field A char 2 = 'abc'\ncode\n BEG\n", "bad.zasm:1: value longer than 'A'"},
    {"field A char\n", "bad.zasm:1: length of 'A' missing"},
    {"field A char 2\nfield A word\n", "bad.zasm:2: field 'A' declared twice"},
    {"field A blob 2\n", "bad.zasm:1: unknown field type 'blob'"},
    {"code\n END 1\n", "bad.zasm:0: the code must start with BEG"},
    {"code\n BEG\n MVB 'x, 1, 1\n", "bad.zasm:3: unterminated quote"},
    {"code\n BEG\n MVB 99999999999, 1, 1\n", "bad.zasm:3: unknown name"},
    {"bogus 1\ncode\n BEG\n", "bad.zasm:1: unknown directive 'bogus'"},
    {"field B bytes 1\nfield C char 3\ncode\n BEG\n RSK C\n",
     "bad.zasm:5: 'C' is not word aligned"},
    {"code\n BEG\n MVB 0, 4, -1\n", "bad.zasm:3: operand '-1' out of range"},
    {"code\n BEG\n MVC -4, 1, 8, 1\n", "bad.zasm:3: operand '-4' out of range"},
    {"code\n BEG\n MTV 8, 2, -2, 16, 2, -1\n", "bad.zasm:3: operand '-2' out of range"},
    {"code\n BEG\n GNR 0, 0\n", "bad.zasm:3: operand '0' out of range"},
    {"code\n BEG\n RP2 0, 0, 0, 0, 0, 0, 8, 5\n", "bad.zasm:3: RP2's operand 7 must be its length, 9"},
    {"code\n BEG\n RP2 0, 0, 0, 0, 0, 8\n", "bad.zasm:3: RP2 takes 7 or more operands, not 6"},
};

TEST(Zasm, BadTextGivesFileAndLine) {
  for (const BadText& c : kBadTexts) {
    zasm::Assembly a;
    std::string error;
    EXPECT_FALSE(zasm::Assemble(c.text, "bad.zasm", &a, &error)) << c.text;
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
  }
}

TEST(Zasm, DisassemblerRefusesBrokenCode) {
  std::vector<int32_t> w(kDescriptorWords, 0);
  w[kDescProgramStart] = kDescriptorWords;
  w.insert(w.end(), {41, 16, 1, 2});  // CBF cut short by the storage offset
  w[kDescStorageOffset] = static_cast<int32_t>(w.size());
  std::string text, error;
  EXPECT_FALSE(zasm::Disassemble(w, &text, &error));
}

}  // namespace
