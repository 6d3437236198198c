// DDPrepare and DDClose over the kernel's word storage: the decoding of
// every body form into exactly M storage words, the header's word 3, the
// no-bind mode, a binding failure that leaves the slot empty and nothing
// allocated, and bodies that do not expand to M words.
#include <vector>

#include "dict/statement_prepare.h"
#include "kernel/statements.h"
#include "kernel/tests/core_fixture.h"

namespace {

int32_t g_binds = 0;
int32_t g_bind_status = 0;
int32_t CountedBind(int32_t*, int32_t, int32_t) {
  ++g_binds;
  return g_bind_status;
}

class PrepareTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    services_.open_com_tables = CountedBind;
    g_binds = 0;
    g_bind_status = 0;
    usr_ = sys_ + SYS_USR_START;
    image_ = DDImageByName("DDChkTrigger");
    ASSERT_NE(image_, nullptr);
    header_.assign(image_->header, image_->header + image_->header_length);
  }
  int32_t* Slot(int32_t mode) {
    slot_[SLOT_STATUS] = mode;
    slot_[SLOT_OWNER] = usr_;
    slot_[SLOT_STM] = 0;
    return slot_;
  }
  void Prepare(int32_t mode, const std::vector<int32_t>& body, int32_t m) {
    DDPrepare(base_, Slot(mode), header_.data(), static_cast<int32_t>(header_.size()), body.data(),
              static_cast<int32_t>(body.size()), m);
  }
  int32_t Statements() { return W(sys_, SYS_ST_STATEMENTS); }
  // The statement's program block and storage.
  int32_t Sd() { return W(slot_[SLOT_STM] + STM_NEXT_COM, COM_SD); }
  std::vector<int32_t> Storage() {
    const int32_t n = static_cast<int32_t>(header_.size());
    std::vector<int32_t> out;
    for (int32_t k = 0; k < image_->storage_words; ++k) out.push_back(W(Sd(), n + k));
    return out;
  }

  int32_t usr_ = 0;
  int32_t slot_[SLOT_WORDS] = {};
  const DDStmtImage* image_ = nullptr;
  std::vector<int16_t> header_;
};

TEST_F(PrepareTest, BodiesDecodeIntoExactlyTheirStorageWords) {
  const int32_t m = image_->storage_words;
  ASSERT_GE(m, 4);
  struct Case {
    const char* what;
    std::vector<int32_t> body;
    std::vector<int32_t> storage;
  } cases[] = {
      {"one negative run", {-m, 7}, std::vector<int32_t>(m, 7)},
      {"zero counts stored nothing", {0, 2, 5, 6, 0, -(m - 2), -1, 0},
       [&] {
         std::vector<int32_t> s(m, -1);
         s[0] = 5, s[1] = 6;
         return s;
       }()},
      {"literal words", [&] {
         std::vector<int32_t> b{m};
         for (int32_t k = 0; k < m; ++k) b.push_back(k * 3);
         return b;
       }(),
       [&] {
         std::vector<int32_t> s;
         for (int32_t k = 0; k < m; ++k) s.push_back(k * 3);
         return s;
       }()},
  };
  for (const Case& c : cases) {
    const int32_t before = Statements();
    Prepare(PREPARE_NO_BIND, c.body, m);
    ASSERT_EQ(slot_[SLOT_STATUS], 0) << c.what;
    ASSERT_NE(slot_[SLOT_STM], 0) << c.what;
    EXPECT_EQ(Storage(), c.storage) << c.what;
    EXPECT_EQ(Statements(), before + 1) << c.what;
    EXPECT_EQ(W(slot_[SLOT_STM], STM_STATUS), STM_CREATED);
    EXPECT_EQ(W(slot_[SLOT_STM], STM_NEXT), 0);  // not on the level's chain
    DDClose(base_, slot_);
    EXPECT_EQ(slot_[SLOT_STM], 0);
    EXPECT_EQ(Statements(), before) << c.what;
  }
  EXPECT_EQ(g_binds, 0);
}

TEST_F(PrepareTest, HeaderWordThreeIsSetToTheHeaderLength) {
  header_[SD_HEADER_LENGTH] = 3;
  DDPrepareImage(base_, Slot(PREPARE_NO_BIND), *image_);  // the image's own header
  ASSERT_EQ(slot_[SLOT_STATUS], 0);
  DDClose(base_, slot_);
  Prepare(PREPARE_NO_BIND, {-image_->storage_words, 0}, image_->storage_words);
  ASSERT_EQ(slot_[SLOT_STATUS], 0);
  EXPECT_EQ(W(Sd(), SD_HEADER_LENGTH), image_->header_length);
  const int32_t stm = slot_[SLOT_STM], com = stm + STM_NEXT_COM;
  EXPECT_EQ(W(com, COM_PGM), Sd() + header_[SD_PROGRAM]);
  EXPECT_EQ(W(com, COM_STG), Sd() + image_->header_length);
  EXPECT_EQ(W(stm, STM_LVL), W(usr_, USR_LVL));
  DDClose(base_, slot_);
}

TEST_F(PrepareTest, ABindingFailureLeavesTheSlotEmptyAndTheNextCallPreparesAgain) {
  const int64_t live = Live();
  const int32_t before = Statements();
  g_bind_status = -10500;
  DDPrepareImage(base_, Slot(0), *image_);
  EXPECT_EQ(slot_[SLOT_STATUS], -10500);
  EXPECT_EQ(slot_[SLOT_STM], 0);
  EXPECT_EQ(Live(), live);
  EXPECT_EQ(Statements(), before);
  g_bind_status = 0;
  slot_[SLOT_STATUS] = 0;
  DDPrepareImage(base_, slot_, *image_);
  EXPECT_EQ(slot_[SLOT_STATUS], 0);
  EXPECT_NE(slot_[SLOT_STM], 0);
  EXPECT_EQ(g_binds, 2);
  EXPECT_EQ(Statements(), before + 1);
  DDClose(base_, slot_);
  EXPECT_EQ(slot_[SLOT_STM], 0);
  EXPECT_EQ(Statements(), before);
}

TEST_F(PrepareTest, ClosingAnEmptySlotDoesNothing) {
  const int64_t live = Live();
  int32_t slot[SLOT_WORDS] = {17, usr_, 0, 4, 5, 6};
  DDClose(base_, slot);
  EXPECT_EQ(std::vector<int32_t>(slot, slot + SLOT_WORDS),
            (std::vector<int32_t>{17, usr_, 0, 4, 5, 6}));
  EXPECT_EQ(Live(), live);
}

TEST_F(PrepareTest, BodiesThatAreNotMWordsAreRefusedAndNothingStays) {
  const int32_t m = image_->storage_words;
  const int64_t live = Live();
  const std::vector<std::vector<int32_t>> bodies = {
      {-(m + 1), 0},            // one word too many
      {-(m - 1), 0},            // one too few
      {-m, 0, 5},               // a count past the end
      {-m},                     // a run without its word
      {-2147483647 - 1, 0},     // a run the decoder cannot take
  };
  for (const auto& b : bodies) {
    Prepare(0, b, m);
    EXPECT_EQ(slot_[SLOT_STATUS], DD_BAD_IMAGE) << b[0];
    EXPECT_EQ(slot_[SLOT_STM], 0);
  }
  header_.resize(SD_MIN_WORDS - 1);
  Prepare(0, {-m, 0}, m);
  EXPECT_EQ(slot_[SLOT_STATUS], DD_BAD_IMAGE);
  EXPECT_EQ(Live(), live);
  EXPECT_EQ(g_binds, 0);
}

// Every image decodes into its M words with its parameter and result lists
// where the header says.
TEST_F(PrepareTest, EveryImageDecodes) {
  for (int32_t i = 0; i < kStmtImageCount; ++i) {
    const DDStmtImage& im = kStmtImages[i];
    DDPrepareImage(base_, Slot(PREPARE_NO_BIND), im);
    ASSERT_EQ(slot_[SLOT_STATUS], 0) << im.name;
    const int32_t sd = W(slot_[SLOT_STM] + STM_NEXT_COM, COM_SD);
    EXPECT_EQ(W(sd, SD_STORAGE_WORDS), im.storage_words) << im.name;
    EXPECT_EQ(W(sd, SD_INPUT_TABLE + 1), im.inputs) << im.name;
    EXPECT_EQ(W(sd, SD_OUTPUT_TABLE + 1), im.outputs) << im.name;
    EXPECT_EQ(W(sd, 0), 0);
    EXPECT_EQ(W(sd, 1), 1);
    EXPECT_EQ(W(W(slot_[SLOT_STM] + STM_NEXT_COM, COM_PGM), 0), 41) << im.name;  // BEG
    DDClose(base_, slot_);
  }
}

}  // namespace
