// LIKE tests (MCF/MCT, MVF/MVT, MUF/MUT) and the level-2 condition tests
// (CC2, CN2, NN2), over a model of record access's pattern matchers: a
// program block names a literal, and a subject matches when it begins with
// that literal.
#include "du/pattern_programs.h"
#include "interp/tests/interp_fixture.h"

using namespace interp;

namespace {

constexpr int32_t kBadProgram = -99;

// Block word 0: the literal's storage offset (or kBadProgram), word 1 its
// length in units of `width` bytes.
int32_t Prefix(int32_t* base, int32_t block, ConstByteSpan storage, int32_t offset, int32_t length,
               int32_t width) {
  const int32_t lit = Wd(base, block, 0), n = Wd(base, block, 1);
  if (lit == kBadProgram) return -1;
  if (n > length) return 2;
  return std::memcmp(storage.data() + offset, storage.data() + lit,
                     static_cast<size_t>(width * n)) == 0
             ? 1
             : 2;
}
int32_t ModelMatch(int32_t* base, int32_t block, ConstByteSpan storage, int32_t offset,
                   int32_t length) {
  return Prefix(base, block, storage, offset, length, 1);
}
int32_t ModelMatchWide(int32_t* base, int32_t block, ConstByteSpan storage, int32_t offset,
                       int32_t length) {
  return Prefix(base, block, storage, offset, length, 3);
}
// A self-contained program: word 0 the literal's length, its bytes behind.
int32_t ModelMatchSelf(const int32_t* program, int32_t words, ConstByteSpan storage, int32_t offset,
                       int32_t length) {
  const int32_t n = program[0];
  if (n < 0 || (n + 3) / 4 + 1 > words) return -1;
  if (n > length) return 2;
  return std::memcmp(storage.data() + offset, program + 1, static_cast<size_t>(n)) == 0 ? 1 : 2;
}

class Patterns : public InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    services_ = DefaultRecordServices();
    services_.match_pattern = ModelMatch;
    services_.match_pattern_wide = ModelMatchWide;
    services_.match_pattern_self = ModelMatchSelf;
    DAInstallRecordServices(&services_);
    block_ = Block(8);
  }
  // Runs `body` over V 'abcdef' (varying, length 6), W (its wide form) and
  // the pattern word PW, which names block_ (literal LIT, or `literal`)
  // unless `word` is given.
  static constexpr int32_t kModelBlock = INT32_MIN;
  int32_t RunLike(const std::string& body, int32_t word = kModelBlock, int32_t literal = 0) {
    Load(R"(field V varchar 6 = 'abcdef'
field NV char 6 = null
field LIT char 3 = 'abc'
field W bytes 19
field WL bytes 4
field WLIT bytes 10
field WLITL bytes 4
field PW word
field SIX word = 6
field TWO word = 2
code
 BEG
 CIN V.len, 1, SIX
 CCU W, 6, WL, V, 6, V.len
 CCU WLIT, 3, WLITL, LIT, 3, -1
 )" + body +
         "\n END 1\nyes: END 2\n");
    const bool wide = body.find("MU") != std::string::npos;
    Wd(base_, block_, 0) = literal != 0 ? literal : Off(wide ? "WLIT" : "LIT") + 1;
    Wd(base_, block_, 1) = 3;
    WordAt("PW") = word != kModelBlock ? word : block_;
    Run();
    return rvec_[kStateReturnCode];
  }
  RecordServiceTable services_{};
  int32_t block_ = 0;
};

TEST_F(Patterns, LikeTestsBranchByTestAndSense) {
  struct Case {
    const char* body;
    int32_t word;  // the pattern word: the model block, -1 a null pattern
    int32_t code;  // 2 branched, 1 went on
  };
  constexpr int32_t m = kModelBlock;
  const Case cases[] = {
      {"MCT 1, V, 6, PW, yes", m, 2},
      {"MCF 1, V, 6, PW, yes", m, 1},
      {"MCT 2, V, 6, PW, yes", m, 1},
      {"MCF 2, V, 6, PW, yes", m, 2},
      {"MCT 1, NV, 6, PW, yes", m, 1},
      {"MCF 1, NV, 6, PW, yes", m, 2},
      {"MCF 2, NV, 6, PW, yes", m, 2},
      {"MCT 1, V, 6, PW, yes", -1, 1},
      {"MCF 1, V, 6, PW, yes", -1, 2},
      {"MCT 2, V, 6, PW, yes", -1, 1},
      {"MVT 1, V, 6, V.len, PW, yes", m, 2},
      {"CIN V.len, 1, TWO\n MVT 1, V, 6, V.len, PW, yes", m, 1},
      {"MUT 1, W, 6, WL, PW, yes", m, 2},
      {"CIN WL, 1, TWO\n MUF 1, W, 6, WL, PW, yes", m, 2},
      {"MUF 2, W, 6, WL, PW, yes", m, 2},
  };
  for (const Case& c : cases) EXPECT_EQ(RunLike(c.body, c.word), c.code) << c.body << " " << c.word;
}

TEST_F(Patterns, LikeFailures) {
  // No compiled program fails before the value is looked at.
  EXPECT_EQ(RunLike("MCT 1, NV, 6, PW, yes", 0), kErrNoPattern);
  EXPECT_EQ(RunLike("MUF 1, W, 6, WL, PW, yes", 0), kErrNoPattern);
  // A block index outside the word storage, a pattern word outside the storage.
  EXPECT_EQ(RunLike("MCT 1, V, 6, PW, yes", INT32_MAX), kErrBadOperand);
  EXPECT_EQ(RunLike("MCT 1, V, 6, 100000, yes"), kErrBadOperand);
  // A bad pattern instruction.
  EXPECT_EQ(RunLike("MVT 1, V, 6, V.len, PW, yes", kModelBlock, kBadProgram), kErrBadPatternOp);
}

// Record access's own compilers and matchers through the default service
// table: patterns compiled into kernel storage blocks for MCF, MVF and MCT,
// and a self-contained program in the storage for CC2.
TEST_F(InterpTest, RecordAccessPatternPrograms) {
  Load(R"(field PG bytes 800
field V varchar 6 = 'abcdef'
field C char 6 = 'abcdef'
field P char 3 = 'ab%'
field Q char 5 = '%cd__'
field R char 2 = 'b%'
field PW word
field QW word
field RW word
field SIX word = 6
code
 BEG
 CIN V.len, 1, SIX
 MCF 1, V, 6, PW, bad
 MVF 1, V, 6, V.len, QW, bad
 MCT 1, V, 6, RW, bad
 CC2 13, C, PG, 800, 7, good, bad, 0
bad: END 2
good: END 1
)");
  ASSERT_EQ(Off("PG"), 48);  // storage word index 12
  const ByteSpan storage(reinterpret_cast<uint8_t*>(storage_.data()), storage_.size() * 4);
  for (auto [field, length] : {std::pair{"P", 3}, std::pair{"Q", 5}, std::pair{"R", 2}}) {
    std::vector<int32_t> program(PAT_CAPACITY);
    ASSERT_GE(DUCmpPattern2(program.data(), PAT_CAPACITY, storage, Off(field) + 1, &length,
                            PAT_MODE_LIKE, storage, 0),
              0)
        << field;
    const int32_t size = program[PAT_SIZE];
    program[PAT_LITERAL_BASE] = 1;  // literal offsets count from storage byte 0
    const int32_t block = Block(4 * (size + program[PAT_STORAGE]));
    std::memcpy(&Wd(base_, block, 0), program.data(), 4 * static_cast<size_t>(size));
    WordAt(std::string(field) + "W") = block;
  }
  ASSERT_GT(DUCmpPattern3(reinterpret_cast<int32_t*>(Bytes("PG")), 200, storage, Off("P") + 1, 3,
                          PAT_MODE_LIKE),
            0);
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], 1) << "opcode " << rvec_[kStateOpcode];
  // A block too short for its program and stack is a bad program.
  Wd(base_, WordAt("PW"), PAT_STORAGE) = 1 << 28;
  pos_ = 2;
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], kErrBadPatternOp);
}

// Level-2 condition tests: the instruction's op6 is taken when the test
// holds, op7 when it does not. PG (first in the storage: word index 12)
// holds a self-contained pattern program for the literal 'abc'.
TEST_F(Patterns, Level2ConditionTests) {
  struct Case {
    const char* test;
    bool descending;  // C stored complemented
    int32_t code;     // 2 held, 1 did not, else the error
  };
  const Case cases[] = {
      {"CC2 1, C, VAL, 7, 0, yes, no, 0", false, 2},
      {"CC2 8, C, VAL, 7, 0, yes, no, 0", false, 1},
      {"CC2 7, C, Z, 7, 0, yes, no, 0", false, 2},
      {"CC2 4, C, Z, 7, 0, yes, no, 0", false, 1},
      {"CC2 1, C, SHORT, 4, 7, yes, no, 0", false, 1},  // blank padded: 'abc   '
      {"CC2 3, C, SHORT, 4, 7, yes, no, 0", false, 2},
      {"CC2 10, C, SHORT, 4, 7, yes, no, 0", false, 1},
      {"CC2 3, C, LONG, 9, 7, yes, no, 0", false, 1},  // longer than the column
      {"CC2 11, C, MID, 4, 7, yes, no, 0", false, 2},
      {"CC2 12, C, MID, 4, 7, yes, no, 0", false, 1},
      {"CC2 11, C, SHORT, 4, 7, yes, no, 0", false, 2},
      {"CC2 2, C, VAL, 7, 0, yes, no, 0", false, 1},
      {"CC2 2, NC, VAL, 7, 0, yes, no, 0", false, 2},
      {"CC2 9, C, VAL, 7, 0, yes, no, 0", false, 2},
      {"CC2 1, NC, VAL, 7, 0, yes, no, 0", false, 1},
      {"CC2 8, NC, VAL, 7, 0, yes, no, 0", false, 1},  // a null never compares
      {"CC2 13, C, 12, 8, 7, yes, no, 0", false, 2},
      {"CC2 14, C, 12, 8, 7, yes, no, 0", false, 1},
      {"CC2 13, NC, 12, 8, 7, yes, no, 0", false, 1},
      {"CC2 13, C, PG, 8, 7, yes, no, 0", false, 2},  // the pattern named
      {"CC2 -14, C, PG, 8, 7, yes, no, 0", true, 1},
      {"CC2 -1, C, VAL, 7, 0, yes, no, 0", true, 2},
      {"CC2 -7, C, Z, 7, 0, yes, no, 0", true, 2},
      {"CC2 15, C, VAL, 7, 0, yes, no, 0", false, kErrBadOperand},
      {"CC2 1, C, VAL, 7, 100000, yes, no, 0", false, kErrBadOperand},
      {"CN2 1, N, N, 6, 0, yes, no, 0", false, 2},
      {"CN2 5, M, N, 6, 0, yes, no, 0", false, 2},
      {"CN2 7, M, N, 6, 0, yes, no, 0", false, 1},
      {"CN2 8, M, N, 6, 0, yes, no, 0", false, 2},
      {"CN2 1, NN, N, 6, 0, yes, no, 0", false, 1},
      {"CN2 2, NN, N, 6, 0, yes, no, 0", false, 2},
      {"CN2 3, M, N, 6, 0, yes, no, 0", false, kErrBadOperand},
      {"CN2 1, M, N, 6, 5, yes, no, 0", false, kErrBadOperand},
      {"NN2 9, C, 0, 0, 0, yes, no, 0", false, 2},
      {"NN2 9, NC, 0, 0, 0, yes, no, 0", false, 1},
      {"NN2 2, NC, 0, 0, 0, yes, no, 0", false, 2},
      {"NN2 2, C, 0, 0, 0, yes, no, 0", false, 1},
  };
  for (const Case& c : cases) {
    Load(std::string(R"(field PG bytes 8
field C char 6 = 'abcdef'
field NC char 6 = null
field VAL char 6 = 'abcdef'
field Z char 6 = 'abd'
field SHORT char 3 = 'abc'
field MID char 3 = 'cde'
field LONG char 8 = 'abcdefgh'
field N decimal 9
field M decimal 9
field NN decimal 9 = null
field FIVE word = 5
field SEVEN word = 7
code
 BEG
 CIN N, 9, FIVE
 CIN M, 9, SEVEN
 )") + c.test +
         "\nno: END 1\nyes: END 2\n");
    ASSERT_EQ(Off("PG"), 48);
    const int32_t program[2] = {3, 'a' | 'b' << 8 | 'c' << 16};
    std::memcpy(Bytes("PG"), program, sizeof program);
    if (c.descending)
      for (int i = 1; i <= 6; ++i) Bytes("C")[i] ^= 255;
    Run();
    EXPECT_EQ(rvec_[kStateReturnCode], c.code) << c.test;
  }
}

}  // namespace
