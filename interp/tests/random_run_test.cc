// Random programs that the program check accepts, run over a small storage
// area filled with random bytes: every run ends (with an action, an error or
// a warning) and reads and writes nothing outside its storage and program.
// Run under the address sanitizer this is the test of that promise. Record
// access is a model that finds no row; branches go forward only, so that
// every run ends. (The group rows, whose block index the storage holds, are
// left out: a made-up index would name another block of the word storage.)
#include <random>

#include "interp/opcode_table.h"
#include "interp/tests/interp_fixture.h"

using namespace interp;

namespace {

constexpr int32_t kStorageWords = 96;

void NoRow(int32_t*, int32_t* rec, int32_t, int32_t) {
  rec[kRecStatus] = 100;
}
void NoRowIndex(int32_t*, int32_t* key, int32_t*, int32_t, int32_t) {
  key[kRecStatus] = 100;
}
int32_t NoMatch(int32_t*, int32_t, ConstByteSpan, int32_t, int32_t) {
  return 2;
}
int32_t NoMatchSelf(const int32_t*, int32_t, ConstByteSpan, int32_t, int32_t) {
  return 2;
}
void NoDirectory(int32_t*, int32_t* status, int32_t*, const int32_t*) {
  *status = -19055;
}
int32_t NoReadSet(int32_t*, int32_t, int32_t) {
  return 0;
}

class RandomRuns : public InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    services_ = {NoRow, NoRow, NoRowIndex, NoRowIndex, NoRow, NoRow, NoRow, NoRow, NoRow, NoRow,
                 NoRow, NoRow, NoRow, NoRow, NoRow, NoRow, NoRow, NoRow, NoReadSet, NoMatch,
                 NoMatch, NoMatchSelf,
                 // No random large object gets as far as the store step: the
                 // databank has no directory.
                 nullptr, nullptr, NoDirectory};
    DAInstallRecordServices(&services_);
  }
  RecordServiceTable services_{};
};

// A value for an operand of `kind`: mostly small enough to name the storage
// (lengths and precisions small), now and then at its edge or far beyond it.
int32_t Operand(std::mt19937& rng, char kind) {
  const int32_t bytes = 4 * kStorageWords;
  switch (rng() % 8) {
    case 0:
      return static_cast<int32_t>(rng());
    case 1:
      return kind == 'f' ? -1 : bytes - static_cast<int32_t>(rng() % 8);
    default:
      break;
  }
  switch (kind) {
    case 't':
    case 'w':
    case 'x':
      return static_cast<int32_t>(rng() % (kStorageWords + 4));
    case 'c':
      return static_cast<int32_t>(rng() % 18) - 2;
    case 'l':
      return static_cast<int32_t>(rng() % 13);
    default:
      return static_cast<int32_t>(rng() % (bytes / 2));
  }
}

TEST_F(RandomRuns, EndWithoutTouchingAnythingOutside) {
  std::mt19937 rng(2222);
  for (int round = 0; round < 20000; ++round) {
    std::vector<int32_t> code = {kOpBEG}, starts = {1};
    const int n = 1 + static_cast<int>(rng() % 12);
    for (int k = 0; k < n; ++k) {
      int32_t op = 1 + static_cast<int32_t>(rng() % kOpcodeCount);
      // JCA jumps wherever its stack says; the group rows keep a kernel
      // storage index in the storage, which random bytes would make up.
      if (op == 113 || (op >= 163 && op <= 165)) op = kOpEND;
      starts.push_back(static_cast<int32_t>(code.size()) + 1);
      code.push_back(op);
      for (int i = 1; i < kOpcodes[op].length; ++i) {
        int32_t v = Operand(rng, kOpcodes[op].operands[i - 1]);
        while (!OperandFits(kOpcodes[op].operands[i - 1], v)) v = Operand(rng, 'n');
        code.push_back(v);
      }
      if (op == kOpRP2) code[starts.back() - 1 + kRp2LengthOperand] = kOpcodes[op].length;
    }
    starts.push_back(static_cast<int32_t>(code.size()) + 1);
    code.insert(code.end(), {kOpEND, 1});
    // Displacements forward to a later instruction (the closing END at least).
    for (size_t k = 0; k + 1 < starts.size(); ++k) {
      const int32_t p = starts[k];
      const auto& info = kOpcodes[code[p - 1]];
      for (int i = 1; i < info.length; ++i)
        if (info.operands[i - 1] == 'd')
          code[p - 1 + i] = starts[k + 1 + rng() % (starts.size() - k - 1)] - p;
    }
    int32_t bad = 0;
    ASSERT_EQ(DACheckProgram(code.data(), static_cast<int32_t>(code.size()), &bad), 0) << round;
    std::vector<int32_t> storage(kStorageWords);
    for (auto& w : storage) w = static_cast<int32_t>(rng());
    for (int k = 0; k < kStateWords; ++k) storage[k] = 0;
    int32_t pos = 2;
    for (int runs = 0; runs < 50 && pos >= 1; ++runs) {
      DAMAE2(base_, rvec_, code.data(), static_cast<int32_t>(code.size()), storage.data(),
             kStorageWords, &pos, name_, usr_);
      const int32_t action = rvec_[kStateAction];
      // Resume only where an action leaves the program going on.
      if (action == kActionEnd || action == kActionError || action == kActionExit) break;
      if (action == kActionBreak) ++pos;
    }
  }
}

}  // namespace

namespace {

// The same over the instructions that read length fields, with a storage
// area whose words are mostly readable values: length fields of 0..9 (for
// any maximum of up to four digits), nulls, blanks and wide blanks, so that
// the moves, concatenations, conversions and string functions get past their
// length reads and copy at the edges of their fields and of the storage.
TEST_F(RandomRuns, VaryingValuesEndWithoutTouchingAnythingOutside) {
  static constexpr int32_t kOps[] = {31, 64, 70, 77, 80, 81, 91, 92, 93, 94, 107, 131, 132, 133,
                                     148, 153, 154, 161, 162, 173, 174, 181, 182, 183, 184, 185,
                                     192, 195, 196, 197, 100, 99, 55, 28, 59, 69,
                                     // the numeric and string function handlers
                                     29, 30, 37, 62, 63, 75, 76, 86, 87, 90, 95, 96, 108, 123, 130,
                                     135, 146, 147, 186, 187, 188, 189, 190, 191, 193, 194};
  std::mt19937 rng(2223);
  const int32_t bytes = 4 * kStorageWords;
  for (int round = 0; round < 20000; ++round) {
    std::vector<int32_t> code = {kOpBEG};
    const int n = 1 + static_cast<int>(rng() % 6);
    for (int k = 0; k < n; ++k) {
      const int32_t op = kOps[rng() % std::size(kOps)];
      code.push_back(op);
      for (int i = 1; i < kOpcodes[op].length; ++i) {
        const char kind = kOpcodes[op].operands[i - 1];
        int32_t v = 0;
        switch (kind) {
          case 'f':  // a word's first byte, or a fixed value
            v = rng() % 4 == 0 ? -1 : 48 + 4 * static_cast<int32_t>(rng() % (kStorageWords - 12));
            break;
          case 'l':
            v = rng() % 6 == 0 ? static_cast<int32_t>(rng() % (bytes + 8))
                               : static_cast<int32_t>(rng() % 12);
            break;
          case 'v':
            v = rng() % 6 == 0 ? bytes - static_cast<int32_t>(rng() % 16)
                               : 48 + static_cast<int32_t>(rng() % (bytes - 48));
            break;
          case 'c':
            v = static_cast<int32_t>(rng() % 6);
            break;
          default:
            v = static_cast<int32_t>(rng() % 40);
            break;
        }
        code.push_back(v);
      }
    }
    code.insert(code.end(), {kOpEND, 1});
    int32_t bad = 0;
    ASSERT_EQ(DACheckProgram(code.data(), static_cast<int32_t>(code.size()), &bad), 0) << round;
    std::vector<int32_t> storage(kStorageWords, 0);
    auto* b = reinterpret_cast<uint8_t*>(storage.data());
    for (int32_t w = kStateWords; w < kStorageWords; ++w) {
      uint8_t* p = b + 4 * w;
      switch (rng() % 6) {
        case 0:  // a length of 0
          p[0] = 128;
          break;
        case 1:  // a length of 1..9
          p[0] = 0xC0;
          p[1] = static_cast<uint8_t>(0x10 | (1 + rng() % 9));
          break;
        case 2:
          std::memset(p, 255, 4);
          break;
        case 3:
          std::memset(p, ' ', 4);
          p[0] = 0;
          break;
        case 4:  // wide blanks
          p[0] = 0;
          p[1] = p[2] = 0;
          p[3] = ' ';
          break;
        default:
          for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(rng());
          break;
      }
    }
    int32_t pos = 2;
    DAMAE2(base_, rvec_, code.data(), static_cast<int32_t>(code.size()), storage.data(),
           kStorageWords, &pos, name_, usr_);
  }
}

}  // namespace
