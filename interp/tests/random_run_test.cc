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
int32_t NoReadSet(int32_t*, int32_t, int32_t) {
  return 0;
}

class RandomRuns : public InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    services_ = {NoRow, NoRow, NoRowIndex, NoRowIndex, NoRow,   NoRow,      NoRow, NoRow,
                 NoRow, NoRow, NoRow,      NoRow,      NoRow,   NoRow,      NoRow, NoRow,
                 NoRow, NoRow, NoReadSet,  NoMatch,    NoMatch, NoMatchSelf};
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
