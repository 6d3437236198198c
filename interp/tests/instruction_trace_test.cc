// The instruction printer's columns and the trace: listings that end where
// the program ends (or where a branch past an end leads), unknown opcodes,
// buffer targets, the opcode counters a traced run keeps and prints.
#include "interp/instruction_trace.h"

#include "interp/instruction_printer.h"
#include "interp/opcode_table.h"
#include "interp/tests/interp_fixture.h"
#include "kernel/control_blocks.h"

using namespace interp;

namespace {

class Printer : public InterpTest {
 protected:
  // The lines DAPrtInstr (or a listing) writes into a buffer target.
  std::vector<std::string> Lines(const std::vector<int32_t>& target) {
    std::vector<std::string> lines;
    const char* text = reinterpret_cast<const char*>(target.data()) + target[1];
    std::string cur;
    for (int32_t i = 0; i < target[0] && 12 + i < static_cast<int32_t>(target.size()) * 4; ++i) {
      if (static_cast<uint8_t>(text[i]) == 0xFF) {
        lines.push_back(cur);
        cur.clear();
      } else {
        cur += text[i];
      }
    }
    return lines;
  }
  std::vector<std::string> Print(const std::vector<int32_t>& ins, int32_t position,
                                 int32_t result[kPrintResultWords] = nullptr) {
    std::vector<int32_t> target(1000, 0);
    target[1] = 12;
    target[2] = 990;
    int32_t r[kPrintResultWords] = {};
    DAPrtInstr(result ? result : r, ins.data(), static_cast<int64_t>(ins.size()), nullptr, 0,
               position, nullptr, target.data(), static_cast<int32_t>(target.size()));
    return Lines(target);
  }
};

TEST_F(Printer, ColumnsByOperandKind) {
  int32_t r[kPrintResultWords] = {};
  // SCF -2 (descending GE), key 40 len 3, bound 60 len 3, displacement 12, hint 7.
  auto lines = Print({50, -2, 40, 3, 60, 3, 12, 7}, 10000, r);
  ASSERT_EQ(lines.size(), 1u);
  const std::string& l = lines[0];
  EXPECT_EQ(l.substr(0, 4), "****");
  EXPECT_EQ(l.substr(6, 5), "SCF  ");
  EXPECT_EQ(l.substr(12, 3), " 50");
  EXPECT_EQ(l.substr(17, 2), "GE");
  EXPECT_EQ(l.substr(20, 3), "(R)");
  EXPECT_EQ(l.substr(30, 4), "****");  // 10012 does not fit either
  EXPECT_EQ(l.substr(35, 5), "   40");
  EXPECT_EQ(l.substr(41, 3), "  3");
  EXPECT_EQ(l.substr(45, 5), "   60");
  EXPECT_EQ(l.substr(51, 3), "  3");
  EXPECT_EQ(l.substr(59), " SDA=7");
  EXPECT_EQ(r[kPrintStatus], 0);
  EXPECT_EQ(r[kPrintLength], 8);
  EXPECT_EQ(r[kPrintBranch], 12);
  // The branch target at EIP; a set function decoded.
  lines = Print({39, 4, 0, 9, 12, 30, 40, 15}, 20);
  EXPECT_EQ(lines[0].substr(17, 3), "avg");
  EXPECT_EQ(lines[0].substr(59), " V=(40,15)");
  lines = Print({42, 5}, 20);
  EXPECT_EQ(lines[0].substr(30, 4), "  25");
}

// Operands some opcodes label by their meaning rather than by their kind.
TEST_F(Printer, OwnLabelsOfFunctionOperands) {
  const std::pair<std::vector<int32_t>, const char*> cases[] = {
      {{37, 40, 20, 5, 2}, " Prec=5 Scale=2"},                       // TRN
      {{86, 10, 40, 15, 60, 20}, " Top=10"},                         // TRG
      {{87, 32, 40, 15, 60, 20, 80, 20}, " Top=32 S2=(80, 20)"},     // TRT
      {{76, 1, 77, 0, 30, 40, 20, 62}, " N=0 TCO=30 VLO=62"},        // TRM
      {{75, 1, 30, 32, 40, 100, 142, 200, 10, 220, 10},              // SUS
       " DLO=32 SLO=142 PBO=200 PPR=10 LBO=220 LPR=10"},
      {{155, 1, 40, 20, 62, 80, 20, 102, 9, 7}, " KLO=62 VLO=102 SDA=7"},  // SPF
      {{163, 3, 12, 4}, " AWA=12 Top=4"},                                  // AGB
  };
  for (const auto& [ins, labels] : cases) {
    // A line beyond 79 characters goes on in a second.
    std::string line;
    for (const std::string& part : Print(ins, 20)) line += part;
    EXPECT_EQ(line.substr(59), labels) << line;
  }
  // TRM's collation id stands at TDA, its trim mode in the operation type.
  const auto lines = Print({76, 3, 77, 0, 30, 40, 20, 62}, 20);
  EXPECT_EQ(lines[0].substr(17, 4), "both");
  EXPECT_EQ(lines[0].substr(25, 4), "  77");
  EXPECT_EQ(lines[0].substr(35, 5), "   40");
}

// An index fetch: the index block at IDA with its id, the table block at
// TDA with its id and the fetch state its word 19 holds.
TEST_F(Printer, IndexFetchNamesItsIndexAndTable) {
  std::vector<int32_t> storage(100, 0);
  storage[10 - 1 + kRecTable] = 71;
  storage[50 - 1 + kRecTable] = 72;
  storage[50 - 1 + kRecStatus] = -2;
  std::vector<int32_t> target(1000, 0);
  target[1] = 12;
  target[2] = 990;
  int32_t r[kPrintResultWords] = {};
  const int32_t gnx[] = {6, 10, 50, 4};
  DAPrtInstr(r, gnx, 4, storage.data(), static_cast<int32_t>(storage.size()), 7, nullptr,
             target.data(), static_cast<int32_t>(target.size()));
  std::string line;  // with its continuation
  for (const std::string& part : Lines(target)) line += part;
  EXPECT_EQ(line.substr(17, 4), "next");
  EXPECT_EQ(line.substr(25, 4), "  50");
  EXPECT_EQ(line.substr(30, 4), "  11");
  EXPECT_EQ(line.substr(55, 4), "  10");
  EXPECT_EQ(line.substr(59), " indexid=71 tableid=72");
}

TEST_F(Printer, UnknownOpcodesAndEnds) {
  int32_t r[kPrintResultWords] = {};
  auto lines = Print({202}, 3, r);
  EXPECT_EQ(lines[0].substr(6, 3), "???");
  EXPECT_EQ(r[kPrintStatus], kErrBadOpcode);
  Print({kOpCB2}, 3, r);
  EXPECT_EQ(r[kPrintStatus], kErrBadOpcode);
  lines = Print({kOpBEG}, 3, r);
  EXPECT_EQ(lines[0].substr(6, 3), "EXC");
  EXPECT_EQ(r[kPrintStatus], 1);
  Print({kOpEND, 1}, 3, r);
  EXPECT_EQ(r[kPrintStatus], 1);
  // RP2 is as long as its operand 7 says.
  Print({kOpRP2, 8, 1, 0, 0, 4, 0, 17, 60, 1, 0, 0, 0, 0, 1, -8, -1}, 3, r);
  EXPECT_EQ(r[kPrintLength], 17);
}

TEST_F(Printer, LongLinesGoOnInAContinuationLine) {
  // POU has three length fields and a third offset beyond the columns;
  // PST has five operand triples.
  const auto lines = Print({107, 100000, 200, 300000, 400000, 500, 600000, 700000, 800, 900000,
                            1000000, 1100000, 1200000, 1300, 1400000},
                           5);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 79u);
  EXPECT_FALSE(lines[1].empty());
}

TEST_F(Printer, ListingEndsAtTheEndOrAtTheFurthestBranch) {
  // BEG; JMP +4 (to word 6, past the END at word 4); END 1; END 2 at 6.
  const std::vector<int32_t> program = {kOpBEG, kOpJMP, 4, kOpEND, 1, kOpEND, 2, 202, 0};
  std::vector<int32_t> target(500, 0);
  target[2] = 490;
  DATrcHeader(program.data(), static_cast<int32_t>(program.size()), nullptr, 0, 0, target.data(),
              static_cast<int32_t>(target.size()));
  EXPECT_EQ(target[1], 4);
  target[0] *= 4;  // the word count back to bytes (the rest is not a line)
  target[1] = 12;
  auto lines = Lines(target);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], kTraceHeader1);
  EXPECT_EQ(lines[1].size(), 59u);
  EXPECT_EQ(lines[5].substr(0, 4), "   6");
  EXPECT_EQ(lines.size(), 6u) << "the END at word 6 ends the listing";
  int32_t end = 0;
  DATrcRange(&end, program.data(), static_cast<int32_t>(program.size()));
  EXPECT_EQ(end, 8);
  // Without the branch the first END ends it; opcode 202 ends a listing too.
  const std::vector<int32_t> plain = {kOpBEG, kOpEND, 1, kOpEND, 2};
  DATrcRange(&end, plain.data(), static_cast<int32_t>(plain.size()));
  EXPECT_EQ(end, 4);
  const std::vector<int32_t> bad = {kOpBEG, 202, kOpEND, 1};
  DATrcRange(&end, bad.data(), static_cast<int32_t>(bad.size()));
  EXPECT_EQ(end, kErrBadOpcode);
  // End mode 1 lists up to the word -1.
  const std::vector<int32_t> marked = {kOpBEG, kOpEND, 1, kOpEND, 2, -1};
  target.assign(500, 0);
  target[2] = 490;
  DATrcHeader(marked.data(), static_cast<int32_t>(marked.size()), nullptr, 0, 1, target.data(),
              static_cast<int32_t>(target.size()));
  target[0] *= 4;
  target[1] = 12;
  EXPECT_EQ(Lines(target).size(), 5u);
}

TEST_F(Printer, BufferTooSmallForTheHeaderCountsItsBytes) {
  std::vector<int32_t> target(3 + 5, 0);
  target[2] = 5;
  const std::vector<int32_t> program = {kOpBEG};
  DATrcHeader(program.data(), 1, nullptr, 0, 0, target.data(), static_cast<int32_t>(target.size()));
  // 55 + 60 + 60 bytes counted, none written.
  EXPECT_EQ(target[0], (55 + 60 + 60 - 1) / 4 + 1);
  EXPECT_EQ(target[3], 0);
}

TEST_F(Printer, TracedRunCountsAndListsEachInstruction) {
  Load("field N decimal 5\ncode\n BEG\n SZV N, 5\n SIV N, 5\n SIV N, 5\n END 1\n");
  // No trace block: nothing counted, nothing listed.
  Run();
  EXPECT_FALSE(log_.Contains("SIV"));
  int32_t& field = Wd(base_, usr_, USR_TRACEFLAGS);
  EXPECT_EQ(DATraceSwitch(base_, usr_, 9, 1), 0);
  ASSERT_NE(field, 0);
  EXPECT_EQ(DATraceSwitch(base_, usr_, 10, 1), -1);
  EXPECT_EQ(DATraceSwitch(base_, usr_, 11, 0), 0);
  EXPECT_EQ(DATraceSwitch(base_, usr_, 12, 0), -2);
  pos_ = 2;
  Run();
  EXPECT_EQ(rvec_[0], 1);
  EXPECT_EQ(Wd(base_, field, kTraceCounters + 30), 2);  // SIV
  EXPECT_EQ(Wd(base_, field, kTraceCounters + 44), 1);
  EXPECT_TRUE(log_.Contains("SIV"));
  log_.Clear();
  DATraceSwitch(base_, usr_, 8, 0);
  EXPECT_TRUE(log_.Contains("SIV                2"));
  EXPECT_TRUE(log_.Contains("A total of         4 instructions executed"));
  // Off: the run counts nothing more.
  DATraceSwitch(base_, usr_, 9, 0);
  pos_ = 2;
  Run();
  EXPECT_EQ(Wd(base_, field, kTraceCounters + 30), 2);
}

// A pattern compile's line is followed by the program its pattern word holds.
TEST_F(Printer, PatternCompileListsItsProgram) {
  Load(
      "field P varchar 8 = 'ab%'\nfield PW word\ncode\n BEG\n RMV 2, PW, 0, P, 8, P.len, 0, 0, 0\n"
      " END 1\n");
  Run();
  ASSERT_EQ(rvec_[0], 1);
  ASSERT_GT(WordAt("PW"), 0);
  log_.Clear();
  const int32_t* ins = asm_.words.data() + start_ + 1;
  int32_t r[kPrintResultWords] = {};
  DAPrtInstr(r, ins, 10, storage_.data(), static_cast<int32_t>(storage_.size()), 2, nullptr,
             nullptr, 0, base_);
  EXPECT_TRUE(log_.Contains("RMV"));
  EXPECT_TRUE(log_.Contains("5.1"));
  EXPECT_TRUE(log_.Contains("Pattern program size: "));
  EXPECT_TRUE(log_.Contains(" PPA="));
}

TEST_F(Printer, ZeroCountersPrintNothing) {
  std::vector<int32_t> block(kTraceBlockWords, 0);
  log_.Clear();
  DAPrtOpCounts(block.data());
  EXPECT_FALSE(log_.Contains("total"));
  char name[4] = "xxx";
  EXPECT_EQ(DAOpName(name, 0, 202), 1);
  EXPECT_EQ(std::string(name), "xxx");
  EXPECT_EQ(DAOpName(name, 0, 39), 0);
  EXPECT_EQ(std::string(name), "SFH");
}

}  // namespace
