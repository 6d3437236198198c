// The large-object store step over a model of the databank kernel's
// allocate, put and free requests and of the directory insert: the rows a
// piece list makes, and what is freed when a step fails.
#include "interp/lob_store.h"

#include "dk/large_object.h"
#include "du/large_objects.h"
#include "du/record_access_words.h"
#include "interp/tests/interp_fixture.h"
#include "kernel/control_blocks.h"
#include "platform/packed_decimal.h"

using namespace interp;

namespace {

struct Model {
  std::vector<int32_t> pages;  // pairs the allocation writes
  int32_t allocate_status = 0, put_status = 0;
  int fail_insert = 0;  // the insert (1-based) that fails; 0 none
  int inserts = 0;
  std::vector<std::vector<int32_t>> rows;
  std::vector<int32_t> freed;  // pages handed to the free
  int32_t* base = nullptr;
};
Model g_model;

void ModelKernel(int32_t code, int32_t* block, void*) {
  int32_t* list = &Wd(g_model.base, block[LOB_LIST], 0);
  const int32_t capacity = Wd(g_model.base, block[LOB_LIST] - 1, 0);
  if (code == DKF_ALO1) {
    for (size_t k = 0; k < g_model.pages.size(); ++k) list[k] = g_model.pages[k];
    list[g_model.pages.size()] = 0;
    block[LOB_STATUS] = g_model.allocate_status;
  } else if (code == DKF_PLO1) {
    block[LOB_STATUS] = g_model.put_status;
  } else if (code == DKF_FLX1) {
    for (int32_t i = 0; i < capacity && list[2 * i] != 0; ++i) g_model.freed.push_back(list[2 * i]);
    list[0] = 0;
    block[LOB_STATUS] = 0;
  }
}

void ModelInsert(int32_t*, int32_t* status, const int32_t*, int32_t, const int32_t* d) {
  *status = ++g_model.inserts == g_model.fail_insert ? 1 : 0;
  if (*status == 0) g_model.rows.emplace_back(d, d + LOBD_WORDS);
}

class LobStore : public InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    g_model = Model{};
    g_model.base = base_;
    services_ = DefaultRecordServices();
    services_.lob_kernel = ModelKernel;
    services_.insert_lob_directory = ModelInsert;
    DAInstallRecordServices(&services_);
    dcb_ = Block(DCB_BYTES);
    Wd(base_, dcb_, DCB_DID) = 5;
    list_ = Block(4 * 21) + 1;  // capacity 10 pairs and the end word
    Wd(base_, list_ - 1, 0) = 10;
  }
  int32_t Store(const std::vector<int32_t>& pages) {
    g_model.pages = pages;
    const int32_t id[3] = {7, 8, 9};
    std::vector<int32_t> record(64, 0);
    const char data[8] = "abcdefg";
    int32_t status = 99;
    DALobStore(base_, &status, usr_, dcb_, id, data, 8, list_, record.data(), 0);
    return status;
  }
  RecordServiceTable services_;
  int32_t dcb_ = 0, list_ = 0;
};

TEST_F(LobStore, OneRowPerRunOfAdjacentPieces) {
  const struct {
    std::vector<int32_t> pages;
    std::vector<std::vector<int32_t>> rows;  // sequence, first page, length, pieces
  } cases[] = {
      {{10, 4096, 12, 4096, 14, 4096}, {{1, 10, 4096, 3}}},
      {{10, 4096, 13, 4096}, {{1, 10, 4096, 1}, {2, 13, 4096, 1}}},
      {{10, 4096, 12, 2048}, {{1, 10, 4096, 1}, {2, 12, 2048, 1}}},
      {{20, 2048, 21, 2048, 22, 8192, 26, 8192}, {{1, 20, 2048, 2}, {2, 22, 8192, 2}}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    g_model.rows.clear();
    ASSERT_EQ(Store(c.pages), 0);
    ASSERT_EQ(g_model.rows.size(), c.rows.size());
    for (size_t r = 0; r < c.rows.size(); ++r) {
      const auto& d = g_model.rows[r];
      EXPECT_EQ(d[LOBD_ID], 7);
      EXPECT_EQ(d[LOBD_ID + 2], 9);
      EXPECT_EQ((std::vector<int32_t>{d[LOBD_PART], d[LOBD_LOCATION], d[LOBD_LOCATION + 2],
                                      d[LOBD_LOCATION + 3]}),
                c.rows[r]);
      EXPECT_EQ(d[LOBD_DCB], dcb_);
    }
    EXPECT_TRUE(g_model.freed.empty());
  }
}

TEST_F(LobStore, FailedInsertFreesEachUnrecordedPieceOnce) {
  g_model.fail_insert = 2;
  EXPECT_EQ(Store({10, 4096, 13, 4096, 15, 4096, 20, 2048}), 1);
  EXPECT_EQ(g_model.rows.size(), 1u);
  EXPECT_EQ(g_model.freed, (std::vector<int32_t>{13, 15, 20}));
  // The list now ends behind the recorded piece, its pair intact.
  int32_t* list = &Wd(base_, list_, 0);
  EXPECT_EQ(list[0], 10);
  EXPECT_EQ(list[1], 4096);
  EXPECT_EQ(list[2], 0);
  EXPECT_EQ(Wd(base_, list_ - 1, 0), 10);
  // The first insert failing frees every piece.
  SetUp();
  g_model.fail_insert = 1;
  EXPECT_EQ(Store({10, 4096, 12, 4096}), 1);
  EXPECT_EQ(g_model.freed, (std::vector<int32_t>{10, 12}));
}

TEST_F(LobStore, KernelFailuresFreeTheObject) {
  g_model.allocate_status = -43;
  EXPECT_EQ(Store({10, 4096}), -43 + kKernelErrorBase);
  EXPECT_EQ(g_model.freed, (std::vector<int32_t>{10}));
  SetUp();
  g_model.put_status = -85;
  EXPECT_EQ(Store({10, 4096}), -85 + kKernelErrorBase);
  EXPECT_EQ(g_model.freed, (std::vector<int32_t>{10}));
  EXPECT_TRUE(g_model.rows.empty());
}

}  // namespace

namespace {

int32_t g_identifier_status = 0;
void ModelIdentifier(int32_t*, int32_t* status, int32_t* identifier, const int32_t*) {
  *status = g_identifier_status;
  if (*status == 0) identifier[0] = 41, identifier[1] = 42, identifier[2] = 43;
}

// ILB over the models: the value stored through the step, the column given
// the new identifier, the value's limits and a null value.
class StoreInstruction : public LobStore {
 protected:
  void SetUp() override {
    LobStore::SetUp();
    g_identifier_status = 0;
    services_.new_lob_identifier = ModelIdentifier;
    Load(R"(
field T table 9 key 4 reclen 8
field C bytes 13
field V varchar 15001
code
 BEG
 ILB T, C, 100, 0, V, 15001, V.len
 END 1
)");
    const int32_t tcb = Block(4 * 64);
    Wd(base_, tcb, TCB_DCB) = dcb_;
    WordAt("T") = 0;  // the block's first word; its object word follows
    storage_[Off("T") / 4 + DUREC_OBJECT] = tcb;
  }
  void Value(const std::string& v) {
    Bytes("V")[0] = 0;
    std::memcpy(Bytes("V") + 1, v.data(), v.size());
    int_to_decimal(ByteSpan(reinterpret_cast<uint8_t*>(storage_.data()), storage_.size() * 4),
                   value_descriptor{Off("V.len"), 5}, static_cast<int32_t>(v.size()));
  }
};

TEST_F(StoreInstruction, StoresTheValueAndGivesTheColumnItsIdentifier) {
  g_model.pages = {10, 4096};
  Value("hello");
  std::memset(Bytes("C"), 255, 13);
  Run();
  ASSERT_EQ(rvec_[kStateReturnCode], 1);
  const int32_t* id = reinterpret_cast<const int32_t*>(Bytes("C"));
  EXPECT_EQ(id[0], 41);
  EXPECT_EQ(id[2], 43);
  EXPECT_EQ(Bytes("C")[12], 0);
  ASSERT_EQ(g_model.rows.size(), 1u);
  EXPECT_EQ(g_model.rows[0][LOBD_ID], 41);
  EXPECT_EQ(g_model.rows[0][LOBD_LOCATION], 10);
  EXPECT_EQ(g_model.rows[0][LOBD_DCB], dcb_);
}

TEST_F(StoreInstruction, LimitsNullsAndFailures) {
  Value(std::string(101, 'x'));
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], -10451) << "above the column's maximum of 100";
  Value(std::string(15001, 'x'));
  pos_ = 2;
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], -12121) << "above 15000 bytes";
  Value("abc");
  g_identifier_status = -19055;
  pos_ = 2;
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], -19055);
  g_identifier_status = 0;
  g_model.allocate_status = -5;
  pos_ = 2;
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], -16145) << "a kernel failure";
  EXPECT_TRUE(g_model.rows.empty());
  // A null value holds no object: nothing stored, the column null.
  Bytes("V")[0] = 255;
  pos_ = 2;
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], 1);
  EXPECT_EQ(Bytes("C")[12], 255);
  EXPECT_TRUE(g_model.rows.empty());
}

}  // namespace
