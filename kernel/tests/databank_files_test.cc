// DSOpenDbFile / DSOpenSesDb over the databank kernel: the create modes and
// their sizes, the base tables of a new LOG databank, a databank another
// session holds, bad modes, and failures that give back everything taken.
#include <fstream>

#include "kernel/tests/databank_fixture.h"

namespace {

class DbFileTest : public DatabankTest {
 protected:
  std::vector<int32_t> Request(int32_t mode, int32_t lid, int32_t type, const std::string& file,
                               int32_t size = 0) {
    std::vector<int32_t> rq(ODF_WORDS, 0);
    rq[ODF_MODE] = mode;
    rq[ODF_LID] = lid;
    rq[ODF_SEQNO] = 1;
    rq[ODF_TYPE] = type;
    rq[ODF_SIZE] = size;
    Text(rq.data() + ODF_NAME, "DB" + std::to_string(lid), 128);
    Text(rq.data() + ODF_KERNEL_NAME, "K" + std::to_string(lid), 128);
    Text(rq.data() + ODF_FILE, file, 256);
    return rq;
  }
  int32_t Run(std::vector<int32_t>& rq) {
    DSOpenSesDb(base_, rq.data());
    return rq[ODF_MODE];
  }
  static uint32_t FileWord(const std::string& file, int64_t offset) {
    std::ifstream in(file, std::ios::binary);
    in.seekg(offset);
    uint8_t b[4] = {};
    in.read(reinterpret_cast<char*>(b), 4);
    return b[0] | b[1] << 8 | b[2] << 16 | uint32_t{b[3]} << 24;
  }
};

TEST_F(DbFileTest, CreateModeRaisesSmallSizesToFourUnits) {
  const int32_t mine = Session();
  SetSlot(TLS_SLOT_CHA, mine);
  auto rq = Request(3, 5, 1, "five.dbf", 2);
  ASSERT_EQ(Run(rq), 0);
  EXPECT_EQ(std::filesystem::file_size("five.dbf"), 4u * 2048);
  EXPECT_EQ(FileWord("five.dbf", 12), 3u) << "the bitmap's last unit";
  const int32_t dcb = Find(5);
  ASSERT_NE(dcb, 0);
  EXPECT_EQ(W(dcb, DCB_REFCOUNT), 1);
  EXPECT_EQ(W(dcb, DCB_ACCESS_MODE), 1);
  EXPECT_EQ(W(dcb, DCB_EXCLUSIVE_CHA), W(mine, CHA_USR));
  EXPECT_NE(W(dcb, DCB_DID), 0);
  // Another session's claimed open is kept out until it is given back.
  SetSlot(TLS_SLOT_CHA, Session());
  g_rows[5] = {DatabankRow{"DB5", "five.dbf"}};
  EXPECT_EQ(Open(3, 5)[OPD_KIND], -16172);
  auto again = Request(1, 5, 1, "five.dbf");
  EXPECT_EQ(Run(again), -16172);
  EXPECT_EQ(W(dcb, DCB_REFCOUNT), 1);
  SetSlot(TLS_SLOT_CHA, 0);
}

TEST_F(DbFileTest, NewLogDatabankGetsItsTablesAndLogDid) {
  auto rq = Request(3, 3, 3, "log3.dbf", 16);
  ASSERT_EQ(Run(rq), 0);
  const int32_t dcb = Find(3);
  ASSERT_NE(dcb, 0);
  EXPECT_EQ(W(sys_, SYS_LOGDB_DID), W(dcb, DCB_DID));
  EXPECT_EQ(W(dcb, DCB_LOBDIR_TCB), 7240);
  EXPECT_EQ(g_lobdir_opens, 1);
  // Tables 8 and 240 are in the databank's root entries.
  std::vector<int32_t> tables;
  int32_t nte[NTE_WORDS] = {0, W(dcb, DCB_DID), 0, 0};
  for (int i = 0; i < 50; ++i) {
    DKNTE1(nte);
    if (nte[NTE_STATUS] != 0 || nte[NTE_DATABANK] == -1) break;
    tables.push_back(nte[NTE_TBL]);
  }
  EXPECT_EQ(tables, (std::vector<int32_t>{8, 240}));
}

TEST_F(DbFileTest, BadModeAndFailedOpensLeaveNoDcb) {
  const int64_t live = Live();
  auto bad = Request(13, 6, 1, "six.dbf", 8);
  EXPECT_EQ(Run(bad), -19034);
  EXPECT_EQ(Find(6), 0);
  auto missing = Request(1, 6, 1, "six.dbf");
  EXPECT_LT(Run(missing), -16140);
  EXPECT_EQ(Find(6), 0);
  EXPECT_EQ(Live(), live);
}

// A failure after the databank kernel opened the file closes it again.
TEST_F(DbFileTest, FailureAfterTheOpenClosesTheIndex) {
  services_.du_open_table_chain = [](int32_t*, int32_t, const int32_t*, int32_t*) {
    return -19077;
  };
  MakeFile("log3.dbf", 3, 3);
  for (int32_t mode : {1, 7}) {
    SCOPED_TRACE(mode);
    auto rq = Request(mode, 3, 3, "log3.dbf");
    EXPECT_EQ(Run(rq), -19077);
    EXPECT_EQ(Find(3), 0);
    EXPECT_EQ(KernelEntry(3), 0) << "the databank kernel's entry is closed";
  }
}

TEST_F(DbFileTest, WithoutAThreadBlockUserDatabanksAreRefused) {
  SetSlot(TLS_SLOT_THR, 0);
  auto rq = Request(3, 9, 1, "nine.dbf", 8);
  EXPECT_EQ(Run(rq), -18515);
  EXPECT_FALSE(std::filesystem::exists("nine.dbf"));
}

}  // namespace
