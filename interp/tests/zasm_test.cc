// The program assembler: lengths and branch operands of the shared opcode
// table, random valid programs that go through disassembly and back to the
// same words, the layout of an assembled program, and bad texts reported
// with file and line.
#include "tools/zasm/zasm.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "interp/machine.h"
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

// The instruction set as the program builder's format lists it: name,
// length and branch operand (-1: a level-2 instruction) of opcodes 1..201.
constexpr const char* kInstructionSet =
    "IGN 2 0 IGP 2 0 GNR 3 2 GPR 3 2 GUR 3 2 GNX 4 3 GPX 4 3 LSR 2 0 "
    "PFU 2 0 INS 3 2 UPD 3 2 DEL 3 2 LOA 2 0 SRT 2 0 DRP 2 0 CBF 6 5 "
    "CBT 6 5 CCF 7 6 CCT 7 6 CNF 7 6 CNT 7 6 MCF 6 5 MCT 6 5 TVF 4 3 "
    "TVT 4 3 IMC 6 0 RMC 6 0 SNV 3 0 SZV 3 0 SIV 3 0 MVC 5 0 MVN 5 0 "
    "ADD 6 0 SUB 6 0 MUL 6 0 DIV 6 0 TRN 5 0 SFB 6 0 SFH 8 0 SFE 6 0 "
    "BEG 1 0 JMP 2 1 EXI 2 0 END 2 0 ISN 3 0 ISP 3 0 SKP 3 0 SBF 7 5 "
    "SBT 7 5 SCF 8 6 SCT 8 6 SNF 8 6 SNT 8 6 SIC 1 0 MVB 4 0 NN2 9 -1 "
    "CB2 1 0 RP2 8 -1 MV2 4 -1 CC2 9 -1 CN2 9 -1 SRS 3 0 TRL 4 0 APC 5 0 "
    "LGI 1 0 RSK 2 0 SMF 7 5 SMT 7 5 SUN 3 0 MTC 5 0 GUX 4 3 TFN 2 1 "
    "IND 3 2 EXN 2 0 SUS 11 0 TRM 8 0 ACV 7 0 MVF 7 6 MVT 7 6 CCN 6 0 "
    "CNC 7 0 SDT 3 0 SVB 7 0 SVH 10 0 SVE 7 0 TRG 6 0 TRT 8 0 NFC 4 0 "
    "MOD 5 0 TRU 7 0 ASC 6 0 CHR 6 0 CHL 6 0 POS 9 0 REP 9 0 RPL 15 0 "
    "DTA 6 0 DTD 9 0 TDC 8 0 TCD 8 0 TDN 7 0 TND 8 0 TDD 6 0 DTC 6 0 "
    "DTW 7 0 DTT 6 0 PST 14 0 TAL 9 0 IPR 4 0 BCS 4 0 ECS 2 0 SCA 3 2 "
    "JCA 2 0 OPN 2 0 CLO 2 0 STR 1 0 ETR 2 0 STM 3 0 SEE 3 0 GEE 4 0 "
    "CAL 2 0 LEA 2 0 SDV 3 0 CIN 4 0 CNI 4 0 CVI 3 0 DLA 3 2 IMV 10 0 "
    "RMV 10 0 TRV 10 0 MTV 7 0 MCW 5 0 MVW 7 0 JMC 2 1 SNX 7 0 SMK 2 0 "
    "RMK 2 0 SEQ 4 0 CAC 2 0 BRK 1 0 GDI 6 0 SDI 3 0 GDC 7 0 SDC 4 0 "
    "UOP 5 0 TCH 8 0 THC 8 0 MVP 5 0 CPT 9 8 CPF 9 8 REF 2 0 WFR 2 0 "
    "MPV 7 0 MTP 5 0 SPF 10 8 SPT 10 8 MRG 2 0 FMS 3 2 RAS 3 0 RAN 3 0 "
    "MPW 7 0 MTW 5 0 AGB 4 0 AGH 3 2 AGE 2 0 MPR 2 0 MLO 7 0 COC 8 0 "
    "COV 10 0 SCH 10 0 SOH 12 0 ILB 8 0 CUC 7 0 CCU 7 0 CUH 8 0 CHU 8 0 "
    "CUF 9 8 CUT 9 8 SUF 8 6 SUT 8 6 MUS 5 0 AUV 7 0 MTU 7 0 MUW 5 0 "
    "MUV 7 0 TLU 5 0 USU 11 0 UNL 6 0 POU 9 0 REU 9 0 RPU 15 0 PSU 14 0 "
    "TAU 9 0 TVU 10 0 MUC 5 0 CCW 7 0 CUW 7 0 MUF 7 6 MUT 7 6 IMU 10 0 "
    "RMU 10 0 ";

TEST(OpcodeTable, EveryOpcodeAsTheProgramFormatListsIt) {
  std::istringstream in(kInstructionSet);
  std::string name;
  int length = 0, branch = 0;
  int32_t op = 0;
  while (in >> name >> length >> branch) {
    ++op;
    ASSERT_LE(op, kOpcodeCount);
    EXPECT_EQ(kOpcodes[op].name, name) << op;
    EXPECT_EQ(kOpcodes[op].length, length) << name;
    EXPECT_EQ(kOpcodes[op].branch, branch) << name;
    int32_t l = 0, b = 0;
    EXPECT_EQ(DAOpLength(op, &l, &b), branch < 0 ? kErrNotSteppable : 0) << name;
    EXPECT_EQ(l, length) << name;
  }
  EXPECT_EQ(op, kOpcodeCount);
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
    {"code\n BEG\n RP2 0, 1, 0, 0, 0, 0, 8, 5\n",
     "bad.zasm:3: RP2's operand 7 must be its length, 9"},
    {"code\n BEG\n RP2 0, 0, 0, 0, 0, 8\n", "bad.zasm:3: RP2 takes 7 or more operands, not 6"},
};

// CC2's op3 names a value (a byte offset) for the order and text tests, and
// for LIKE and NOT LIKE (descending: negated) the pattern program's storage
// word index from 0; an unaligned field cannot be a pattern program.
TEST(Zasm, Level2CompareValueOrPatternOperand) {
  const std::string head = "field PG bytes 8\nfield C char 6\ncode\n BEG\n";
  struct Case {
    const char* op;
    bool word_index;
  };
  for (const Case c : {Case{"1", false}, Case{"11", false}, Case{"13", true}, Case{"14", true},
                       Case{"-13", true}, Case{"-14", true}, Case{"-1", false}}) {
    zasm::Assembly a;
    std::string error;
    ASSERT_TRUE(zasm::Assemble(head + " CC2 " + c.op + ", C, PG, 8, 7, 9, 9, 0\n END 1\n",
                               "cc2.zasm", &a, &error))
        << error;
    const int32_t pg = a.fields.at("PG");
    EXPECT_EQ(a.words[static_cast<size_t>(a.words[kDescProgramStart] + 1 + 3)],
              c.word_index ? pg / 4 : pg)
        << c.op;
  }
  zasm::Assembly a;
  std::string error;
  EXPECT_FALSE(
      zasm::Assemble("field A bytes 1\nfield B bytes 8\ncode\n BEG\n"
                     " CC2 13, A, B, 8, 7, 9, 9, 0\n END 1\n",
                     "cc2.zasm", &a, &error));
  EXPECT_NE(error.find("not word aligned"), std::string::npos) << error;
}

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
