// The instruction set of the statement interpreter: for each of the 201
// opcodes its three-letter name, length in words (opcode word included),
// branch operand and family, and the kind of each operand. One table serves
// the interpreter's loop and length service, the program assembler and
// disassembler and the instruction printer. No dependency on purpose.
#pragma once

#include <cstdint>
#include <string_view>

namespace interp {

enum class OpFamily : uint8_t {
  kTable,
  kRecord,
  kCompare,
  kKeyrange,
  kPattern,
  kNull,
  kMove,
  kConvert,
  kArith,
  kNumeric,
  kString,
  kDatetime,
  kSetfn,
  kAggregate,
  kCompound,
  kDiag,
  kControl,
  kAction,
  kLevel2,
  kLob,
  kNone,
};

// Operand kinds, one character per operand:
//   v  value: storage byte offset (from 0)
//   f  length field: storage byte offset of a packed-decimal length, or -1
//   l  length, precision or count
//   t  table descriptor: storage word number (from 1) of its record block
//   w  storage word number (from 1)
//   x  storage word index from 0: the instruction uses storage word x + 1
//   p  CC2's value: a byte offset, but for LIKE and NOT LIKE (op1 13 or 14,
//      negated for a descending column) the storage word index from 0 of
//      a pattern program, as for x
//   d  branch displacement, relative to the instruction's own position
//   c  operator, item or kind code
//   n  any other word
struct OpcodeInfo {
  const char* name;
  int8_t length;  // words, opcode word included: 1..15
  int8_t branch;  // index of the branch operand; 0 none; -1 level-2 (not steppable)
  OpFamily family;
  const char* operands;  // length - 1 kind characters
};

inline constexpr int32_t kOpcodeCount = 201;

// Entry 0 is no opcode; entries 1..201 in opcode order.
inline constexpr OpcodeInfo kOpcodes[kOpcodeCount + 1] = {
    {"???", 0, 0, OpFamily::kNone, ""},                   // 0
    {"IGN", 2, 0, OpFamily::kTable, "t"},                 // 1
    {"IGP", 2, 0, OpFamily::kTable, "t"},                 // 2
    {"GNR", 3, 2, OpFamily::kRecord, "td"},               // 3
    {"GPR", 3, 2, OpFamily::kRecord, "td"},               // 4
    {"GUR", 3, 2, OpFamily::kRecord, "td"},               // 5
    {"GNX", 4, 3, OpFamily::kRecord, "ttd"},              // 6
    {"GPX", 4, 3, OpFamily::kRecord, "ttd"},              // 7
    {"LSR", 2, 0, OpFamily::kRecord, "t"},                // 8
    {"PFU", 2, 0, OpFamily::kRecord, "t"},                // 9
    {"INS", 3, 2, OpFamily::kRecord, "td"},               // 10
    {"UPD", 3, 2, OpFamily::kRecord, "td"},               // 11
    {"DEL", 3, 2, OpFamily::kRecord, "td"},               // 12
    {"LOA", 2, 0, OpFamily::kRecord, "t"},                // 13
    {"SRT", 2, 0, OpFamily::kRecord, "t"},                // 14
    {"DRP", 2, 0, OpFamily::kRecord, "t"},                // 15
    {"CBF", 6, 5, OpFamily::kCompare, "cvvld"},           // 16
    {"CBT", 6, 5, OpFamily::kCompare, "cvvld"},           // 17
    {"CCF", 7, 6, OpFamily::kCompare, "cvlvld"},          // 18
    {"CCT", 7, 6, OpFamily::kCompare, "cvlvld"},          // 19
    {"CNF", 7, 6, OpFamily::kCompare, "cvlvld"},          // 20
    {"CNT", 7, 6, OpFamily::kCompare, "cvlvld"},          // 21
    {"MCF", 6, 5, OpFamily::kCompare, "cvlwd"},           // 22
    {"MCT", 6, 5, OpFamily::kCompare, "cvlwd"},           // 23
    {"TVF", 4, 3, OpFamily::kCompare, "cvd"},             // 24
    {"TVT", 4, 3, OpFamily::kCompare, "cvd"},             // 25
    {"IMC", 6, 0, OpFamily::kPattern, "cwnvn"},           // 26
    {"RMC", 6, 0, OpFamily::kPattern, "cwnvn"},           // 27
    {"SNV", 3, 0, OpFamily::kNull, "vl"},                 // 28
    {"SZV", 3, 0, OpFamily::kNull, "vl"},                 // 29
    {"SIV", 3, 0, OpFamily::kNull, "vl"},                 // 30
    {"MVC", 5, 0, OpFamily::kMove, "vlvl"},               // 31
    {"MVN", 5, 0, OpFamily::kMove, "vlvl"},               // 32
    {"ADD", 6, 0, OpFamily::kArith, "cvlvl"},             // 33
    {"SUB", 6, 0, OpFamily::kArith, "cvlvl"},             // 34
    {"MUL", 6, 0, OpFamily::kArith, "cvlvl"},             // 35
    {"DIV", 6, 0, OpFamily::kArith, "cvlvl"},             // 36
    {"TRN", 5, 0, OpFamily::kNumeric, "vlln"},            // 37
    {"SFB", 6, 0, OpFamily::kSetfn, "cvlvl"},             // 38
    {"SFH", 8, 0, OpFamily::kSetfn, "cvlvlvl"},           // 39
    {"SFE", 6, 0, OpFamily::kSetfn, "cvlvl"},             // 40
    {"BEG", 1, 0, OpFamily::kControl, ""},                // 41
    {"JMP", 2, 1, OpFamily::kControl, "d"},               // 42
    {"EXI", 2, 0, OpFamily::kAction, "n"},                // 43
    {"END", 2, 0, OpFamily::kAction, "n"},                // 44
    {"ISN", 3, 0, OpFamily::kTable, "tw"},                // 45
    {"ISP", 3, 0, OpFamily::kTable, "tw"},                // 46
    {"SKP", 3, 0, OpFamily::kKeyrange, "tw"},             // 47
    {"SBF", 7, 5, OpFamily::kKeyrange, "cvvldw"},         // 48
    {"SBT", 7, 5, OpFamily::kKeyrange, "cvvldw"},         // 49
    {"SCF", 8, 6, OpFamily::kKeyrange, "cvlvldw"},        // 50
    {"SCT", 8, 6, OpFamily::kKeyrange, "cvlvldw"},        // 51
    {"SNF", 8, 6, OpFamily::kKeyrange, "cvlvldw"},        // 52
    {"SNT", 8, 6, OpFamily::kKeyrange, "cvlvldw"},        // 53
    {"SIC", 1, 0, OpFamily::kControl, ""},                // 54
    {"MVB", 4, 0, OpFamily::kMove, "vvl"},                // 55
    {"NN2", 9, -1, OpFamily::kLevel2, "cvvlnddw"},        // 56
    {"CB2", 1, 0, OpFamily::kNone, ""},                   // 57
    {"RP2", 8, -1, OpFamily::kLevel2, "ntnnlnn"},         // 58
    {"MV2", 4, -1, OpFamily::kLevel2, "vvl"},             // 59
    {"CC2", 9, -1, OpFamily::kLevel2, "cvpllddn"},        // 60
    {"CN2", 9, -1, OpFamily::kLevel2, "cvvllddn"},        // 61
    {"SRS", 3, 0, OpFamily::kNumeric, "vl"},              // 62
    {"TRL", 4, 0, OpFamily::kString, "cvl"},              // 63
    {"APC", 5, 0, OpFamily::kMove, "vlvl"},               // 64
    {"LGI", 1, 0, OpFamily::kNone, ""},                   // 65
    {"RSK", 2, 0, OpFamily::kTable, "w"},                 // 66
    {"SMF", 7, 5, OpFamily::kPattern, "cvlwdn"},          // 67
    {"SMT", 7, 5, OpFamily::kPattern, "cvlwdn"},          // 68
    {"SUN", 3, 0, OpFamily::kMove, "vl"},                 // 69
    {"MTC", 5, 0, OpFamily::kMove, "vlvl"},               // 70
    {"GUX", 4, 3, OpFamily::kRecord, "ttd"},              // 71
    {"TFN", 2, 1, OpFamily::kControl, "d"},               // 72
    {"IND", 3, 2, OpFamily::kRecord, "td"},               // 73
    {"EXN", 2, 0, OpFamily::kAction, "n"},                // 74
    {"SUS", 11, 0, OpFamily::kString, "vlfvlfvlfl"},      // 75
    {"TRM", 8, 0, OpFamily::kString, "ccnvvlf"},          // 76
    {"ACV", 7, 0, OpFamily::kMove, "vlfvlf"},             // 77
    {"MVF", 7, 6, OpFamily::kPattern, "cvlfwd"},          // 78
    {"MVT", 7, 6, OpFamily::kPattern, "cvlfwd"},          // 79
    {"CCN", 6, 0, OpFamily::kConvert, "vlnvl"},           // 80
    {"CNC", 7, 0, OpFamily::kConvert, "vlfnvl"},          // 81
    {"SDT", 3, 0, OpFamily::kMove, "vl"},                 // 82
    {"SVB", 7, 0, OpFamily::kSetfn, "cvlvlf"},            // 83
    {"SVH", 10, 0, OpFamily::kSetfn, "cvlvnfvlf"},        // 84
    {"SVE", 7, 0, OpFamily::kSetfn, "cvlvlf"},            // 85
    {"TRG", 6, 0, OpFamily::kNumeric, "cvlvl"},           // 86
    {"TRT", 8, 0, OpFamily::kNumeric, "cvlvlvl"},         // 87
    {"NFC", 4, 0, OpFamily::kNumeric, "cvl"},             // 88
    {"MOD", 5, 0, OpFamily::kArith, "vlvl"},              // 89
    {"TRU", 7, 0, OpFamily::kNumeric, "cvlnvl"},          // 90
    {"ASC", 6, 0, OpFamily::kString, "vlvlf"},            // 91
    {"CHR", 6, 0, OpFamily::kString, "vlfvl"},            // 92
    {"CHL", 6, 0, OpFamily::kString, "vlvlf"},            // 93
    {"POS", 9, 0, OpFamily::kString, "vlvlfvlf"},         // 94
    {"REP", 9, 0, OpFamily::kString, "vlfvlfvl"},         // 95
    {"RPL", 15, 0, OpFamily::kString, "cnvlfvlfvlfvlf"},  // 96
    {"DTA", 6, 0, OpFamily::kDatetime, "cvlvl"},          // 97
    {"DTD", 9, 0, OpFamily::kDatetime, "cvlnvlvl"},       // 98
    {"TDC", 8, 0, OpFamily::kDatetime, "cvllvlf"},        // 99
    {"TCD", 8, 0, OpFamily::kDatetime, "cvlflvl"},        // 100
    {"TDN", 7, 0, OpFamily::kDatetime, "cvlnvl"},         // 101
    {"TND", 8, 0, OpFamily::kDatetime, "cvlncvl"},        // 102
    {"TDD", 6, 0, OpFamily::kDatetime, "cvlvl"},          // 103
    {"DTC", 6, 0, OpFamily::kDatetime, "cvlvl"},          // 104
    {"DTW", 7, 0, OpFamily::kDatetime, "ccvlvl"},         // 105
    {"DTT", 6, 0, OpFamily::kDatetime, "vllnc"},          // 106
    {"PST", 14, 0, OpFamily::kString, "vlfvlfvlvlvlf"},   // 107
    {"TAL", 9, 0, OpFamily::kString, "vlfvlfvl"},         // 108
    {"IPR", 4, 0, OpFamily::kAction, "xnn"},              // 109
    {"BCS", 4, 0, OpFamily::kCompound, "xnn"},            // 110
    {"ECS", 2, 0, OpFamily::kAction, "n"},                // 111
    {"SCA", 3, 2, OpFamily::kCompound, "xd"},             // 112
    {"JCA", 2, 0, OpFamily::kCompound, "x"},              // 113
    {"OPN", 2, 0, OpFamily::kAction, "n"},                // 114
    {"CLO", 2, 0, OpFamily::kAction, "n"},                // 115
    {"STR", 1, 0, OpFamily::kAction, ""},                 // 116
    {"ETR", 2, 0, OpFamily::kAction, "n"},                // 117
    {"STM", 3, 0, OpFamily::kAction, "nn"},               // 118
    {"SEE", 3, 0, OpFamily::kAction, "nx"},               // 119
    {"GEE", 4, 0, OpFamily::kNone, "nnn"},                // 120
    {"CAL", 2, 0, OpFamily::kAction, "n"},                // 121
    {"LEA", 2, 0, OpFamily::kAction, "n"},                // 122
    {"SDV", 3, 0, OpFamily::kNumeric, "vl"},              // 123
    {"CIN", 4, 0, OpFamily::kConvert, "vlx"},             // 124
    {"CNI", 4, 0, OpFamily::kConvert, "xvl"},             // 125
    {"CVI", 3, 0, OpFamily::kConvert, "xv"},              // 126
    {"DLA", 3, 2, OpFamily::kRecord, "td"},               // 127
    {"IMV", 10, 0, OpFamily::kPattern, "cwnvlfnnn"},      // 128
    {"RMV", 10, 0, OpFamily::kPattern, "cwnvlfnnn"},      // 129
    {"TRV", 10, 0, OpFamily::kString, "ccnvlfvlf"},       // 130
    {"MTV", 7, 0, OpFamily::kMove, "vlfvlf"},             // 131
    {"MCW", 5, 0, OpFamily::kMove, "vlvl"},               // 132
    {"MVW", 7, 0, OpFamily::kMove, "vlfvlf"},             // 133
    {"JMC", 2, 1, OpFamily::kControl, "d"},               // 134
    {"SNX", 7, 0, OpFamily::kString, "vlfvlf"},           // 135
    {"SMK", 2, 0, OpFamily::kAction, "n"},                // 136
    {"RMK", 2, 0, OpFamily::kAction, "n"},                // 137
    {"SEQ", 4, 0, OpFamily::kAction, "nvn"},              // 138
    {"CAC", 2, 0, OpFamily::kAction, "n"},                // 139
    {"BRK", 1, 0, OpFamily::kAction, ""},                 // 140
    {"GDI", 6, 0, OpFamily::kAction, "nnnnn"},            // 141
    {"SDI", 3, 0, OpFamily::kDiag, "cn"},                 // 142
    {"GDC", 7, 0, OpFamily::kAction, "nnnnnn"},           // 143
    {"SDC", 4, 0, OpFamily::kDiag, "cvl"},                // 144
    {"UOP", 5, 0, OpFamily::kMove, "cvlf"},               // 145
    {"TCH", 8, 0, OpFamily::kString, "cvlfvlf"},          // 146
    {"THC", 8, 0, OpFamily::kString, "cvlfvlf"},          // 147
    {"MVP", 5, 0, OpFamily::kMove, "vlvl"},               // 148
    {"CPT", 9, 8, OpFamily::kCompare, "cvlfvlfd"},        // 149
    {"CPF", 9, 8, OpFamily::kCompare, "cvlfvlfd"},        // 150
    {"REF", 2, 0, OpFamily::kRecord, "t"},                // 151
    {"WFR", 2, 0, OpFamily::kRecord, "t"},                // 152
    {"MPV", 7, 0, OpFamily::kMove, "vlfvlf"},             // 153
    {"MTP", 5, 0, OpFamily::kMove, "vlvl"},               // 154
    {"SPF", 10, 8, OpFamily::kKeyrange, "cvlfvlfdw"},     // 155
    {"SPT", 10, 8, OpFamily::kKeyrange, "cvlfvlfdw"},     // 156
    {"MRG", 2, 0, OpFamily::kRecord, "t"},                // 157
    {"FMS", 3, 2, OpFamily::kRecord, "td"},               // 158
    {"RAS", 3, 0, OpFamily::kMove, "vl"},                 // 159
    {"RAN", 3, 0, OpFamily::kMove, "vl"},                 // 160
    {"MPW", 7, 0, OpFamily::kMove, "vlfvlf"},             // 161
    {"MTW", 5, 0, OpFamily::kMove, "vlvl"},               // 162
    {"AGB", 4, 0, OpFamily::kAggregate, "twc"},           // 163
    {"AGH", 3, 2, OpFamily::kAggregate, "wd"},            // 164
    {"AGE", 2, 0, OpFamily::kAggregate, "w"},             // 165
    {"MPR", 2, 0, OpFamily::kTable, "t"},                 // 166
    {"MLO", 7, 0, OpFamily::kLob, "vnnvnn"},              // 167
    {"COC", 8, 0, OpFamily::kConvert, "nnvlvld"},         // 168
    {"COV", 10, 0, OpFamily::kConvert, "nnvlfvlfd"},      // 169
    {"SCH", 10, 0, OpFamily::kSetfn, "cnnvlvnvl"},        // 170
    {"SOH", 12, 0, OpFamily::kSetfn, "cnnvlvnfvlf"},      // 171
    {"ILB", 8, 0, OpFamily::kLob, "tvlnvlf"},             // 172
    {"CUC", 7, 0, OpFamily::kConvert, "vlfvlf"},          // 173
    {"CCU", 7, 0, OpFamily::kConvert, "vlfvlf"},          // 174
    {"CUH", 8, 0, OpFamily::kConvert, "nnnnnnn"},         // 175
    {"CHU", 8, 0, OpFamily::kConvert, "nnnnnnn"},         // 176
    {"CUF", 9, 8, OpFamily::kCompare, "cvlfvlfd"},        // 177
    {"CUT", 9, 8, OpFamily::kCompare, "cvlfvlfd"},        // 178
    {"SUF", 8, 6, OpFamily::kKeyrange, "cvlvldw"},        // 179
    {"SUT", 8, 6, OpFamily::kKeyrange, "cvlvldw"},        // 180
    {"MUS", 5, 0, OpFamily::kMove, "vlvl"},               // 181
    {"AUV", 7, 0, OpFamily::kMove, "vlfvlf"},             // 182
    {"MTU", 7, 0, OpFamily::kMove, "vlfvlf"},             // 183
    {"MUW", 5, 0, OpFamily::kMove, "vlvl"},               // 184
    {"MUV", 7, 0, OpFamily::kMove, "vlfvlf"},             // 185
    {"TLU", 5, 0, OpFamily::kString, "cvlf"},             // 186
    {"USU", 11, 0, OpFamily::kString, "vlfvlfvlfl"},      // 187
    {"UNL", 6, 0, OpFamily::kString, "vlvlf"},            // 188
    {"POU", 9, 0, OpFamily::kString, "vlvlfvlf"},         // 189
    {"REU", 9, 0, OpFamily::kString, "vlfvlfvl"},         // 190
    {"RPU", 15, 0, OpFamily::kString, "cnvlfvlfvlfvlf"},  // 191
    {"PSU", 14, 0, OpFamily::kString, "vlfvlfvlvlvlf"},   // 192
    {"TAU", 9, 0, OpFamily::kString, "vlfvlfvl"},         // 193
    {"TVU", 10, 0, OpFamily::kString, "ccnvlfvlf"},       // 194
    {"MUC", 5, 0, OpFamily::kMove, "vlvl"},               // 195
    {"CCW", 7, 0, OpFamily::kConvert, "vlfvlf"},          // 196
    {"CUW", 7, 0, OpFamily::kConvert, "vlfvlf"},          // 197
    {"MUF", 7, 6, OpFamily::kPattern, "cvlfwd"},          // 198
    {"MUT", 7, 6, OpFamily::kPattern, "cvlfwd"},          // 199
    {"IMU", 10, 0, OpFamily::kPattern, "cwnvlfnnn"},      // 200
    {"RMU", 10, 0, OpFamily::kPattern, "cwnvlfnnn"},      // 201
};

constexpr bool IsOpcode(int32_t op) {
  return op >= 1 && op <= kOpcodeCount;
}

// Whether `value` can stand in an operand of `kind`: byte offsets, lengths
// and word indexes are not negative, a length field is an offset or -1, a
// record block is a storage word number (from 1); a storage word operand may
// be 0 where the instruction takes it as "none". Codes, displacements (their
// targets are checked apart) and other words take any value.
constexpr bool OperandFits(char kind, int32_t value) {
  switch (kind) {
    case 'v':
    case 'l':
    case 'w':
    case 'x':
    case 'p':
      return value >= 0;
    case 'f':
      return value >= -1;
    case 't':
      return value >= 1;
    default:
      return true;
  }
}

// Whether CC2's operator (op1) is LIKE or NOT LIKE, whose op3 (kind p) is
// a storage word index rather than a byte offset.
constexpr bool IsLevel2Like(int32_t code) {
  return code == 13 || code == 14 || code == -13 || code == -14;
}

// The opcode named `name` (three upper-case letters), or 0.
constexpr int32_t OpcodeByName(std::string_view name) {
  for (int32_t op = 1; op <= kOpcodeCount; ++op)
    if (name == kOpcodes[op].name) return op;
  return 0;
}

// Opcodes the interpreter refers to by name.
enum Opcode : int32_t {
  kOpBEG = 41,
  kOpJMP = 42,
  kOpEND = 44,
  kOpNN2 = 56,
  kOpCB2 = 57,
  kOpRP2 = 58,
  kOpLGI = 65,
  kOpGEE = 120,
  kOpAGH = 164,
  kOpAGE = 165,
  kOpRMU = 201,
};

static_assert(kOpcodes[kOpBEG].length == 1 && kOpcodes[kOpRMU].name[0] == 'R');

// RP2 carries its key items behind its fixed part; its operand 7 is its
// whole length in words.
inline constexpr int kRp2LengthOperand = 7;

// The length in words of the instruction whose opcode word is ins[0], of
// which `available` words can be read: the table's length, or for RP2 the
// length its operand 7 gives (at least the fixed part); 0 when the opcode is
// none or the instruction's words are not all there.
constexpr int64_t InstructionLength(const int32_t* ins, int64_t available) {
  if (available < 1 || !IsOpcode(ins[0])) return 0;
  const int64_t fixed = kOpcodes[ins[0]].length;
  if (fixed > available) return 0;
  if (ins[0] != kOpRP2) return fixed;
  const int64_t n = ins[kRp2LengthOperand];
  return n < fixed || n > available ? 0 : n;
}

}  // namespace interp
