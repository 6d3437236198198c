// Escape translation of a client's text (the work area and the pool block
// of a long text), the translator's error hook, and the opening of the
// tables of a statement and its linked sub-statements.
#include "interp/statement_text.h"

#include <cstring>
#include <string>
#include <vector>

#include "interp/tests/exec_fixture.h"
#include "kernel/diagnostics_area.h"
#include "kernel/word_storage.h"

namespace interp {
namespace {

struct Seen {
  const uint8_t* work = nullptr;
  int32_t count = 0, capacity = 0, highest = 0;
  std::string copy;
  int32_t answer = 0;
};
Seen g_seen;

int32_t Translator(int32_t*, int32_t*, uint8_t* text, int32_t start, int32_t capacity,
                   int32_t* length, const uint8_t* work, int32_t count, int32_t highest) {
  g_seen.work = work;
  g_seen.count = count;
  g_seen.capacity = capacity;
  g_seen.highest = highest;
  g_seen.copy.assign(reinterpret_cast<const char*>(work), 8);
  text[start] = 'T';
  *length = count;
  return g_seen.answer;
}

class TranslateTest : public ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    g_seen = Seen{};
    services_.escape_translate = Translator;
    pb_[kExecUsr] = usr_;
  }
  bool InPool(const uint8_t* p) {
    const auto* b = reinterpret_cast<const uint8_t*>(base_);
    return p >= b && p < b + DSPoolSize(base_, sqlpool::ITEM_BYTES_MOST);
  }
  int32_t Translate(std::vector<uint8_t>& text, int32_t count, int32_t width) {
    int32_t length = 0;
    return DSTranslateStmText(base_, pb_, text.data(), 0, static_cast<int32_t>(text.size()), count,
                              &length, width);
  }
};

TEST_F(TranslateTest, A20000ByteTextUsesTheCallsAreaAndALongerOneAPoolBlockFreedAgain) {
  for (int32_t bytes : {20000, 20001}) {
    std::vector<uint8_t> text(static_cast<size_t>(bytes) + 10, 'x');
    std::memcpy(text.data(), "{fn now}", 8);
    const int64_t allocs = DSPoolSize(base_, sqlpool::ITEM_ALLOCS);
    const int64_t frees = DSPoolSize(base_, sqlpool::ITEM_DEALLOCS);
    g_seen.answer = bytes == 20000 ? 0 : -10310;
    EXPECT_EQ(Translate(text, bytes, 1), g_seen.answer);
    EXPECT_EQ(g_seen.copy, "{fn now}");
    EXPECT_EQ(g_seen.highest, 127);
    EXPECT_EQ(text[0], 'T');
    EXPECT_EQ(InPool(g_seen.work), bytes > 20000) << bytes;
    const int64_t taken = DSPoolSize(base_, sqlpool::ITEM_ALLOCS) - allocs;
    const int64_t given = DSPoolSize(base_, sqlpool::ITEM_DEALLOCS) - frees;
    // The long text takes one block and gives it back, also when the
    // translation fails (its record is the one in the session block).
    EXPECT_EQ(taken, bytes > 20000 ? 1 : 0) << bytes;
    EXPECT_EQ(given, taken) << bytes;
  }
  EXPECT_EQ(Wd(base_, usr_, USR_DIA_NEXT + DIAREC_NATIVE), -10310);
}

TEST_F(TranslateTest, WideCharactersAndTextsOutsideTheBuffer) {
  std::vector<uint8_t> text(30, 'y');
  EXPECT_EQ(Translate(text, 10, 3), 0);
  EXPECT_EQ(g_seen.highest, 383);
  EXPECT_EQ(g_seen.capacity, 10);
  EXPECT_EQ(Translate(text, 11, 3), KERNEL_BAD_PARAMETER);
  EXPECT_EQ(Translate(text, -1, 1), KERNEL_BAD_PARAMETER);
  EXPECT_EQ(Translate(text, 5, 2), KERNEL_BAD_PARAMETER);
}

TEST_F(ExecTest, TheErrorHookJoinsItsTwoTextsWithin200Bytes) {
  const std::string sep(1, '\xff');
  struct Case {
    std::string first, second, stored;
  } cases[] = {
      {"near", "SELEC", "near" + sep + "SELEC"},
      {std::string(199, 'a'), "bc", std::string(199, 'a') + sep},
      {std::string(200, 'a'), "bc", std::string(200, 'a')},
      {std::string(250, 'a'), "bc", std::string(200, 'a')},
  };
  for (const Case& c : cases) {
    DSClearDiag(base_, usr_);
    DSEscErrorHook(base_, usr_, 17, -10310, c.first.data(), static_cast<int32_t>(c.first.size()),
                   c.second.data(), static_cast<int32_t>(c.second.size()));
    const int32_t r = Wd(base_, usr_, USR_DIA_NEXT);
    ASSERT_NE(r, 0);
    EXPECT_EQ(Wd(base_, r, DIAREC_NATIVE), -10310);
    EXPECT_EQ(Wd(base_, r, DIAREC_POSITION), 17);
    EXPECT_EQ(Wd(base_, r, DIAREC_SEVERITY), 3);
    const int32_t n = Wd(base_, r, DIAREC_TEXT_LENGTH);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&Wd(base_, r, DIAREC_TEXT)), n), c.stored);
  }
}

std::vector<int32_t> g_opened;

TEST_F(ExecTest, SubStatementTablesAreOpenedDepthFirstWithoutRecursiveInvocations) {
  g_opened.clear();
  services_.open_statement_tables = [](int32_t*, int32_t, int32_t stm, int32_t mode) {
    g_opened.push_back(stm * 10 + mode);
    return 0;
  };
  services_.bind_statement = [](int32_t*, int32_t, int32_t stm) {
    g_opened.push_back(stm);
    return stm == -1 ? -16001 : 0;
  };
  const std::string two_calls = std::string(kCallerWords) + R"(field D0 word
field D1 word
field E0 word
callp: csd 3 12 -1 -1 -1 -1 0 0 0
rec: csd 3 19 -1 -1 -1 -1 0 0 1
other: csd 3 21 -1 -1 -1 -1 0 0 0
end
code
 BEG
 END 0
)";
  const int32_t top = Make(two_calls);
  const int32_t child = Make(two_calls);
  const int32_t grandchild = Make("type 77\ncode\n BEG\n END 0\n");
  const int32_t recursive = Make("type 77\ncode\n BEG\n END 0\n");
  const int32_t stranger = Make("type 77\ncode\n BEG\n END 0\n");
  for (int32_t s : {top, child, grandchild, recursive}) Wd(base_, s, STM_STATUS) = 1;
  Field(top, "C0") = child;
  Field(top, "D0") = recursive;
  Field(top, "E0") = stranger;  // not linked to top
  Field(child, "C0") = grandchild;
  Wd(base_, child, STM_CALLING_STM) = top;
  Wd(base_, grandchild, STM_CALLING_STM) = child;
  Wd(base_, recursive, STM_CALLING_STM) = top;
  pb_[kExecUsr] = usr_;
  pb_[kExecStm] = top;
  EXPECT_EQ(DSOpenSubStmTables(base_, pb_, 4), 0);
  EXPECT_EQ(g_opened, (std::vector<int32_t>{top * 10 + 4, child, grandchild}));
  EXPECT_EQ(pb_[kExecStm], top);
  // A statement already started is not opened again; a failing bind ends
  // the walk with its result.
  g_opened.clear();
  Wd(base_, top, STM_STATUS) = 3;
  services_.bind_statement = [](int32_t*, int32_t, int32_t stm) {
    g_opened.push_back(stm);
    return -16001;
  };
  EXPECT_EQ(DSOpenSubStmTables(base_, pb_, 4), -16001);
  EXPECT_EQ(g_opened, (std::vector<int32_t>{child}));
  EXPECT_EQ(pb_[kExecStm], top);
}

}  // namespace
}  // namespace interp
