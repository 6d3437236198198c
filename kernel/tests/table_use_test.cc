// Table use by sessions: the TRS chain over databanks known and unknown,
// the transaction type, record access's answer; the level path moves and
// the compound-block ring.
#include "kernel/table_use.h"

#include "kernel/hash_lists.h"
#include "kernel/record_access_services.h"
#include "kernel/shared_programs.h"
#include "kernel/statements.h"
#include "kernel/tests/core_fixture.h"
#include "kernel/tests/statement_fixture.h"

namespace {

int g_opens = 0;
int32_t g_open_answer = 0;
int32_t FakeOpen(int32_t*, int32_t, int32_t trv, int32_t* table_request, const int32_t* desc) {
  ++g_opens;
  EXPECT_EQ(trv, 5);
  EXPECT_EQ(table_request[TRQ_KIND], 13);
  EXPECT_EQ(desc[0], 4711);
  return g_open_answer;
}

class TableUseTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    services_.open_table = FakeOpen;
    g_opens = 0;
    g_open_answer = 0;
    usr_ = Alloc(USR_BYTES);
    W(usr_, USR_TRV_COND) = 5;
    W(usr_, USR_TP) = Alloc(TP_BYTES);
  }
  // A DCB of `lid` linked into SYS DCB_LIST as DSOpenDcb would.
  int32_t Dcb(int32_t lid) {
    const int32_t list = W(sys_, SYS_DCB_LIST), d = Alloc(DCB_BYTES);
    const int32_t head = HashListHead(base_, list, HashListBucket(base_, list, lid));
    W(d, DCB_LID) = lid;
    W(d, DCB_DID) = 100 + lid;
    W(d, DCB_NEXT) = W(head, 0);
    W(head, 0) = d;
    return d;
  }
  int32_t Open(int32_t lid) {
    int32_t rq[2] = {99, usr_};
    int32_t trq[TRQ_WORDS] = {};
    trq[TRQ_KIND] = 13;
    trq[TRQ_LID] = lid;
    const int32_t desc[1] = {4711};
    DSOpenTable(base_, rq, trq, desc);
    EXPECT_EQ(trq[TRQ_KIND], rq[0] == TABLE_UNKNOWN_DATABANK ? 13 : rq[0]);
    return rq[0];
  }
  std::vector<std::pair<int32_t, int32_t>> Chain() {
    std::vector<std::pair<int32_t, int32_t>> out;
    for (int32_t t = W(usr_, USR_TRS); t != 0; t = W(t, TRS_NEXT))
      out.emplace_back(W(t, TRS_DCB), W(t, TRS_STATUS));
    return out;
  }
  int32_t usr_ = 0;
};

TEST_F(TableUseTest, OneTrsPerDatabankOfTheTransaction) {
  EXPECT_EQ(Open(9), TABLE_UNKNOWN_DATABANK);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), TABLE_UNKNOWN_DATABANK);
  EXPECT_TRUE(Chain().empty());
  EXPECT_EQ(g_opens, 0);
  const int32_t d4 = Dcb(4), d44 = Dcb(44);  // one bucket
  EXPECT_EQ(Open(4), 0);
  EXPECT_EQ(W(W(usr_, USR_TP), TP_TRANSACTION_TYPE), TP_TYPE_TABLES);
  W(W(usr_, USR_TP), TP_TRANSACTION_TYPE) = 7;
  EXPECT_EQ(Open(4), 0);
  EXPECT_EQ(W(W(usr_, USR_TP), TP_TRANSACTION_TYPE), 7);
  using C = std::vector<std::pair<int32_t, int32_t>>;
  EXPECT_EQ(Chain(), (C{{d4, 3}}));
  g_open_answer = -16001;
  EXPECT_EQ(Open(44), -16001);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), -16001);
  EXPECT_EQ(Chain(), (C{{d44, 3}, {d4, 3}}));
  EXPECT_EQ(g_opens, 3);
}

TEST_F(TableUseTest, PathMovesCheckTheirField) {
  const int32_t lvl = Alloc(LVL_BYTES);
  W(usr_, USR_LVL) = lvl;
  uint8_t* path = reinterpret_cast<uint8_t*>(&W(lvl, LVL_PATH));
  for (int i = 0; i < LVL_PATH_BYTES; ++i) path[i] = static_cast<uint8_t>(i);
  uint8_t buffer[400];
  std::memset(buffer, 0xEE, sizeof buffer);
  int32_t rq[2] = {9, usr_};
  DSGetLvlPath(base_, rq, buffer);
  EXPECT_EQ(rq[0], 0);
  EXPECT_EQ(std::memcmp(buffer, path, 386), 0);
  EXPECT_EQ(buffer[386], 0xEE);
  const int32_t stm = MakeStatement(base_, {386, 387}, {8});
  uint8_t* f = nullptr;
  int32_t len = 0;
  ASSERT_EQ(StatementField(base_, stm, false, 1, &f, &len), 0);
  std::memset(f, 0x11, len);
  int32_t status = 0;
  DSSetParPath(base_, &status, stm, 1, lvl);
  EXPECT_EQ(status, PATH_BAD_LENGTH);
  EXPECT_EQ(f[0], 0x11);
  DSSetParPath(base_, &status, stm, 2, lvl);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(StatementField(base_, stm, false, 2, &f, &len), 0);
  EXPECT_EQ(std::memcmp(f, path, 386), 0);
}

TEST_F(TableUseTest, RingStartsAgainAfterItsLastMember) {
  const int32_t stm = Alloc(STM_BYTES), c1 = Alloc(64), c2 = Alloc(64);
  W(stm, STM_NEXT_COM) = c1;
  W(c1, 0) = c2;
  const int32_t own = stm + STM_NEXT_COM;
  const std::vector<int32_t> want = {own, own, c1, c2, own, c1};
  for (int32_t count = 0; count < 6; ++count) {
    int32_t rq[3] = {count, 0, stm};
    DSStepRing(base_, rq);
    EXPECT_EQ(rq[0], 0);
    EXPECT_EQ(W(stm, STM_ACTIVE_COM), want[count]) << count;
  }
}

int32_t g_asked_table = 0, g_use_count = 0, g_record_status = 0;
int32_t FakeUseCount(int32_t*, int32_t table) {
  g_asked_table = table;
  return g_use_count;
}
void FakeOpenRecord(int32_t*, int32_t, int32_t* record, int32_t* open) {
  EXPECT_EQ(open[0], 42);
  record[HANDLE_STATUS] = g_record_status;
}
int32_t ComTablesOk(int32_t*, int32_t, int32_t) {
  return 0;
}

// A ready routine program that nobody holds any more: flushable.
int32_t UnusedRoutine(int32_t* base, int32_t usr, int32_t number) {
  ShpHandle h;
  EXPECT_EQ(DSFindShpPsm(base, usr, number, 0, &h), SHP_COMPILE);
  int32_t sd = 0, com = 0;
  DSGetMem(base, &sd, 4 * (SD_MIN_WORDS + 1));
  DSGetMem(base, &com, 4 * 11);
  sqlpool_word(base, sd + SD_HEADER_LENGTH) = SD_MIN_WORDS;
  sqlpool_word(base, sd + SD_STORAGE_WORDS) = 1;
  sqlpool_word(base, sd + SD_CALL_LIST) = -1;
  sqlpool_word(base, com + COM_SD) = sd;
  sqlpool_word(base, com + COM_STG) = sd + SD_MIN_WORDS;
  sqlpool_word(base, com + COM_SHP) = h.shp;
  EXPECT_EQ(DSPublishShp(base, usr, com), 0);
  int32_t stg = sd + SD_MIN_WORDS;
  EXPECT_EQ(DSRSH3(base, usr, &h.shp, &stg), 1);  // kept for reuse
  DSGetMem(base, &com, 0);
  return number;
}

TEST_F(TableUseTest, ExclusiveOpenDropsUnusedRoutinesWhenTheTableIsInUse) {
  services_.du_tcb_use_count = FakeUseCount;
  services_.du_open_record_chain = FakeOpenRecord;
  services_.open_com_tables = ComTablesOk;
  const DUUpperServices* ra = KernelRecordAccessServices();
  ASSERT_NE(ra->open_table_excl, nullptr);
  UnusedRoutine(base_, usr_, 41);
  auto still_cached = [&] {
    ShpHandle h;
    const int32_t rc = DSFindShpPsm(base_, usr_, 41, 0, &h);
    int32_t stg = h.stg;
    DSRSH3(base_, usr_, &h.shp, &stg);
    return rc == 0;
  };
  int32_t record[30] = {}, open[8] = {42};
  record[HANDLE_ACCESS] = 1;
  record[HANDLE_TNAME] = 600;
  // An index's record block asks for its base table; not in use: no flush.
  record[HANDLE_TYPE] = 2;
  record[0] = 500;
  EXPECT_EQ(ra->open_table_excl(base_, usr_, record, open), 0);
  EXPECT_EQ(g_asked_table, 500);
  EXPECT_TRUE(still_cached());
  // The table in use: the unused routine goes; the open's refusal is kept.
  record[HANDLE_TYPE] = 0;
  g_use_count = 2;
  g_record_status = -16002;
  EXPECT_EQ(ra->open_table_excl(base_, usr_, record, open), -16002);
  EXPECT_EQ(g_asked_table, 600);
  EXPECT_FALSE(still_cached());
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), -16002);
  EXPECT_EQ(W(usr_, USR_RVEC_TNAME), 600);
  EXPECT_EQ(W(usr_, USR_RVEC_BITVEC), RVEC_MASK_TABLE);
  // Without record access's open the answer names the missing service.
  services_.du_open_record_chain = nullptr;
  EXPECT_EQ(DSOpenTableExcl(base_, usr_, record, open), KERNEL_SERVICE_ABSENT);
  EXPECT_TRUE(log_.Contains("DUOpenTableChain: kernel upper service not installed"));
}

}  // namespace
