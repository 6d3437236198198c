// Statement resources: the databank list (LTRS) a statement's open binds to
// the session's TRS chain and its release gives back, the limit of 100
// databanks, closes that wait for a statement declared on a cursor, the
// tree of called statements released depth-first, and the callee programs
// a dropped program takes with it.
#include "kernel/statements.h"

#include <utility>
#include <vector>

#include "kernel/hash_lists.h"
#include "kernel/shared_programs.h"
#include "kernel/sql_compile_services.h"
#include "kernel/statement_columns.h"
#include "kernel/record_access_services.h"
#include "kernel/table_use.h"
#include "kernel/tests/core_fixture.h"

namespace {

std::vector<int32_t> g_closed;  // descriptors whose tables were closed
int32_t CloseSecTables(int32_t*, int32_t, int32_t sd, int32_t) {
  g_closed.push_back(sd);
  return 0;
}
int32_t OpenComTables(int32_t*, int32_t, int32_t) {
  return 0;
}

class StmReleaseTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    services_.close_sec_tables = CloseSecTables;
    services_.open_com_tables = OpenComTables;
    g_closed.clear();
    usr_ = Alloc(USR_BYTES);
    lvl_ = Alloc(LVL_BYTES);
    W(usr_, USR_USR) = usr_;
    W(usr_, USR_LVL) = lvl_;
    W(lvl_, LVL_USR) = usr_;
  }
  // A DCB of `lid` with access mode `mode`, linked into SYS DCB_LIST.
  int32_t Dcb(int32_t lid, int32_t mode) {
    const int32_t list = W(sys_, SYS_DCB_LIST), d = Alloc(DCB_BYTES);
    const int32_t head = HashListHead(base_, list, HashListBucket(base_, list, lid));
    W(d, DCB_LID) = lid;
    W(d, DCB_ACCESS_MODE) = mode;
    W(d, DCB_NEXT) = W(head, 0);
    W(head, 0) = d;
    return d;
  }
  // A statement on the session's level whose table handles are record
  // blocks of {LID, access} and whose call list has `calls` entries (the
  // callee slot of entry i at storage words 2i, 2i+1).
  int32_t Stm(const std::vector<std::pair<int32_t, int32_t>>& handles, int32_t calls = 0,
              bool on_level = true) {
    const int32_t n = static_cast<int32_t>(handles.size());
    const int32_t words = 32 + 25 * n;
    const int32_t sd = Alloc(4 * (40 + n + 9 * calls + 1)), stg = Alloc(4 * words);
    W(sd, SD_STORAGE_WORDS) = words;
    W(sd, SD_TABLE_HANDLES) = 40;
    W(sd, SD_TABLE_HANDLES + 1) = n;
    for (int32_t i = 0; i < n; ++i) {
      W(sd, 40 + i) = 32 + 25 * i;
      W(stg, 32 + 25 * i + HANDLE_LID) = handles[i].first;
      W(stg, 32 + 25 * i + HANDLE_ACCESS) = handles[i].second;
    }
    W(sd, SD_CALL_LIST) = calls > 0 ? 40 + n : -1;
    for (int32_t i = 0; i < calls; ++i) W(sd, 40 + n + 9 * i + CALL_SLOT) = 2 * i;
    W(sd, 40 + n + 9 * calls) = -1;
    const int32_t stm = Alloc(STM_BYTES);
    W(stm, STM_SD) = sd;
    W(stm, STM_STG) = stg;
    W(stm, STM_ACTIVE_COM) = stm + STM_NEXT_COM;
    W(stm, STM_STATUS) = STM_CREATED;
    W(stm, STM_LVL) = lvl_;
    if (on_level) {
      W(stm, STM_NEXT) = W(lvl_, LVL_STM);
      W(lvl_, LVL_STM) = stm;
    }
    W(sys_, SYS_ST_STATEMENTS) += 1;
    return stm;
  }
  std::vector<std::pair<int32_t, int32_t>> Ltrs(int32_t stm) {
    std::vector<std::pair<int32_t, int32_t>> out;
    const int32_t list = W(stm, STM_LTRS);
    for (int32_t i = 0; list != 0 && W(list, 1 + 2 * i) != -1; ++i)
      out.emplace_back(W(list, 1 + 2 * i), W(list, 2 + 2 * i));
    return out;
  }
  std::vector<int32_t> Chain() {
    std::vector<int32_t> out;
    for (int32_t t = W(usr_, USR_TRS); t != 0; t = W(t, TRS_NEXT)) out.push_back(t);
    return out;
  }
  int32_t Close(int32_t stm) { return DSCloseStm(base_, usr_, &stm); }
  int32_t usr_ = 0, lvl_ = 0;
};

using Pairs = std::vector<std::pair<int32_t, int32_t>>;

TEST_F(StmReleaseTest, OpenBindsOneTrsPerDatabankAndReleaseGivesThemBack) {
  const int32_t d4 = Dcb(4, 3), d44 = Dcb(44, 2);
  Dcb(5, 5);  // opened without a claim: not the transaction's
  const int64_t live = Live();
  // Databank 4 read and written, 5 unclaimed, 9 unknown, 44 read.
  const int32_t a = Stm({{4, 5}, {4, 2}, {5, 1}, {9, 1}, {44, 6}});
  const int32_t b = Stm({{4, 7}});
  ASSERT_EQ(DSOpenStm(base_, 0, usr_, a), 0);
  EXPECT_EQ(W(a, STM_STATUS), STM_OPEN);
  const std::vector<int32_t> chain = Chain();
  ASSERT_EQ(chain.size(), 2u);
  const int32_t t44 = chain[0], t4 = chain[1];
  EXPECT_EQ(W(t4, TRS_DCB), d4);
  EXPECT_EQ(W(t44, TRS_DCB), d44);
  EXPECT_EQ(Ltrs(a), (Pairs{{t4, LTRS_WRITTEN}, {t44, LTRS_READ}}));
  ASSERT_EQ(DSOpenStm(base_, 0, usr_, b), 0);
  EXPECT_EQ(Ltrs(b), (Pairs{{t4, LTRS_READ}}));
  EXPECT_EQ(W(t4, TRS_STM_COUNT), 2);
  EXPECT_EQ(W(t44, TRS_STM_COUNT), 1);
  // Releasing a: t44 has no statement left and goes; t4 stays for b.
  EXPECT_EQ(DSReleaseStm(base_, 0, usr_, a), 0);
  EXPECT_EQ(W(a, STM_STATUS), STM_RELEASED);
  EXPECT_EQ(W(a, STM_LTRS), 0);
  EXPECT_EQ(Chain(), (std::vector<int32_t>{t4}));
  EXPECT_EQ(W(t4, TRS_STM_COUNT), 1);
  EXPECT_EQ(g_closed, (std::vector<int32_t>{W(a, STM_SD)}));
  // A TRS whose databank a table was opened on stays after its last statement.
  W(t4, TRS_STATUS) = 3;
  EXPECT_EQ(Close(b), 0);
  EXPECT_EQ(Chain(), (std::vector<int32_t>{t4}));
  EXPECT_EQ(W(t4, TRS_STM_COUNT), 0);
  EXPECT_EQ(Close(a), 0);
  // Nor does one that still owes a databank release.
  const int32_t c = Stm({{44, 5}});
  ASSERT_EQ(DSOpenStm(base_, 0, usr_, c), 0);
  const int32_t owed = W(usr_, USR_TRS);
  ASSERT_NE(owed, t4);
  W(owed, TRS_CDB_COUNT) = 1;
  EXPECT_EQ(Close(c), 0);
  EXPECT_EQ(Chain(), (std::vector<int32_t>{owed, t4}));
  EXPECT_EQ(W(sys_, SYS_ST_STATEMENTS), 0);
  EXPECT_EQ(W(lvl_, LVL_STM), 0);
  EXPECT_EQ(Live(), live + 2);  // t4 and the owing TRS
}

TEST_F(StmReleaseTest, AHundredDatabanksAtMost) {
  std::vector<std::pair<int32_t, int32_t>> handles;
  for (int32_t lid = 10; lid < 111; ++lid) {
    Dcb(lid, 3);
    handles.emplace_back(lid, 5);
  }
  const int64_t live = Live();
  const int32_t many = Stm(handles);
  EXPECT_EQ(DSOpenStm(base_, 0, usr_, many), STM_TOO_MANY_DATABANKS);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), STM_TOO_MANY_DATABANKS);
  EXPECT_EQ(W(many, STM_LTRS), 0);
  EXPECT_TRUE(Chain().empty());
  EXPECT_EQ(W(many, STM_STATUS), STM_CREATED);
  EXPECT_EQ(g_closed, (std::vector<int32_t>{W(many, STM_SD)})) << "its tables are given back";
  g_closed.clear();
  handles.pop_back();
  const int32_t hundred = Stm(handles);
  EXPECT_EQ(DSOpenStm(base_, 0, usr_, hundred), 0);
  EXPECT_EQ(Ltrs(hundred).size(), 100u);
  const int32_t hundred_sd = W(hundred, STM_SD);
  EXPECT_EQ(Close(hundred), 0);
  EXPECT_EQ(Close(many), 0);
  EXPECT_EQ(g_closed, (std::vector<int32_t>{hundred_sd}))
      << "the statement that did not open closes no tables";
  EXPECT_TRUE(Chain().empty());
  EXPECT_EQ(Live(), live);
}

TEST_F(StmReleaseTest, TrsMissingFromTheSessionIsReported) {
  Dcb(4, 3);
  const int32_t a = Stm({{4, 1}});
  ASSERT_EQ(DSOpenStm(base_, 0, usr_, a), 0);
  const int32_t trs = W(usr_, USR_TRS);
  W(usr_, USR_TRS) = 0;
  EXPECT_EQ(DSReleaseStm(base_, 0, usr_, a), STM_TRS_MISSING);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), STM_TRS_MISSING);
  EXPECT_EQ(W(usr_, USR_RVEC_LID), 4);
  EXPECT_EQ(W(trs, TRS_STM_COUNT), 1);  // not the session's: left alone
}

TEST_F(StmReleaseTest, CloseWaitsWhileAStatementDeclaredOnItIsOpen) {
  const int32_t tp = Alloc(TP_BYTES);
  W(usr_, USR_TP) = tp;
  W(tp, TP_TRANSACTION_STATE) = 1;
  const int32_t cursor = Stm({}), created = Stm({});
  const int32_t update = Stm({});
  W(cursor, STM_STATUS) = STM_OPEN;
  W(update, STM_STATUS) = STM_OPEN;
  W(update, STM_DECLARE_STM) = cursor;
  EXPECT_EQ(Close(cursor), 0);
  EXPECT_EQ(W(cursor, STM_STATUS), STM_CLOSE_PENDING);
  EXPECT_EQ(W(usr_, USR_STM_PENDING_CLOSE), 1);
  EXPECT_EQ(W(sys_, SYS_ST_STATEMENTS), 3);
  W(update, STM_DECLARE_STM) = created;
  EXPECT_EQ(Close(created), 0);
  EXPECT_EQ(W(created, STM_STATUS), STM_CLOSE_PENDING_IDLE);
  // A close already put off is done when it comes again.
  EXPECT_EQ(Close(created), 0);
  EXPECT_EQ(W(sys_, SYS_ST_STATEMENTS), 2);
  // Once the transaction is over nothing waits.
  W(update, STM_DECLARE_STM) = cursor;
  W(tp, TP_TRANSACTION_STATE) = 0;
  W(cursor, STM_STATUS) = STM_OPEN;
  EXPECT_EQ(Close(cursor), 0);
  EXPECT_EQ(Close(update), 0);
  EXPECT_EQ(W(sys_, SYS_ST_STATEMENTS), 0);
}

TEST_F(StmReleaseTest, CalledStatementsGoDepthFirst) {
  const int64_t live = Live();
  const int32_t top = Stm({{7, 1}}, 2);
  const int32_t first = Stm({{7, 1}}, 1, false), second = Stm({{7, 1}}, 0, false);
  const int32_t stranger = Stm({}, 0, false);
  W(W(top, STM_STG), 0) = first;
  W(W(top, STM_STG), 2) = stranger;  // names another caller
  W(first, STM_CALLING_STM) = top;
  W(W(first, STM_STG), 0) = second;
  W(second, STM_CALLING_STM) = first;
  W(stranger, STM_CALLING_STM) = second;
  for (int32_t s : {top, first, second}) W(s, STM_STATUS) = STM_OPEN;
  const std::vector<int32_t> order = {W(second, STM_SD), W(first, STM_SD), W(top, STM_SD)};
  EXPECT_EQ(Close(top), KERNEL_BAD_PARAMETER);
  EXPECT_TRUE(log_.Contains("DSRSS3"));
  EXPECT_EQ(g_closed, order) << "callee tables first";
  EXPECT_EQ(W(sys_, SYS_ST_STATEMENTS), 1);  // the stranger
  // The stranger's blocks are all that is left.
  EXPECT_EQ(Live(), live + 3);
  // A callee without its own descriptor is reported and left.
  log_.Clear();
  const int32_t caller = Stm({}, 1), hollow = Stm({}, 0, false);
  W(W(caller, STM_STG), 0) = hollow;
  W(hollow, STM_CALLING_STM) = caller;
  W(hollow, STM_SD) = 0;
  EXPECT_EQ(Close(caller), KERNEL_BAD_PARAMETER);
  EXPECT_TRUE(log_.Contains("Inconsistent internal areas encountered in DSRSS3"));
}

// A routine program of number `number`: compiled and published with a
// descriptor whose call list names `callees` (SHP, owned).
int32_t Program(int32_t* base, int32_t usr, int32_t number,
                const std::vector<std::pair<int32_t, bool>>& callees) {
  ShpHandle h;
  EXPECT_EQ(DSFindShpPsm(base, usr, number, 0, &h), SHP_COMPILE);
  int32_t sd = 0, stg = 0, com = 0;
  const int32_t n = static_cast<int32_t>(callees.size());
  DSGetMem(base, &sd, 4 * (SD_MIN_WORDS + 9 * n + 1));
  DSGetMem(base, &stg, 4 * 8);
  DSGetMem(base, &com, 4 * 11);
  sqlpool_word(base, sd + SD_STORAGE_WORDS) = 8;
  sqlpool_word(base, sd + SD_CALL_LIST) = SD_MIN_WORDS;
  for (int32_t i = 0; i < n; ++i) {
    sqlpool_word(base, sd + SD_MIN_WORDS + 9 * i + CALL_SHP) = callees[i].first;
    sqlpool_word(base, sd + SD_MIN_WORDS + 9 * i + CALL_NOT_OWNED) = callees[i].second ? 0 : 1;
  }
  sqlpool_word(base, sd + SD_MIN_WORDS + 9 * n) = -1;
  sqlpool_word(base, com + COM_SD) = sd;
  sqlpool_word(base, com + COM_STG) = stg;
  sqlpool_word(base, com + COM_SHP) = h.shp;
  EXPECT_EQ(DSPublishShp(base, usr, com), 0);
  DSGetMem(base, &com, 0);
  return h.shp;
}

TEST_F(StmReleaseTest, ADroppedProgramReleasesTheCalleesItOwns) {
  const int64_t live = Live();
  const int32_t leaf = Program(base_, usr_, -7, {});
  const int32_t middle = Program(base_, usr_, -6, {{leaf, true}, {leaf, true}});
  const int32_t other = Program(base_, usr_, -9, {});
  int32_t top = Program(base_, usr_, -5, {{middle, true}, {other, false}});
  int32_t stg = 0;
  EXPECT_EQ(DSRSH3(base_, usr_, &top, &stg), 0);
  // -5, -6 and -7 are gone (met twice, -7 was released once); -9 stays.
  ShpHandle h;
  for (int32_t number : {-5, -6, -7}) {
    EXPECT_EQ(DSFindShpPsm(base_, usr_, number, 0, &h), SHP_COMPILE) << number;
    DSRSH3(base_, usr_, &h.shp, &h.stg);
  }
  EXPECT_EQ(W(other, SHP_USECOUNT), 1);
  int32_t keep = other;
  EXPECT_EQ(DSRSH3(base_, usr_, &keep, &stg), 0);
  EXPECT_EQ(Live(), live);
}

TEST_F(StmReleaseTest, UnlinkGivesTheStorageBackAndRelShpProgramAlwaysSucceeds) {
  const int32_t shp = Program(base_, usr_, 31, {});
  // The compiler's compound block gives the shared storage back first.
  const int32_t own = Alloc(4 * 11);
  W(own, COM_SD) = W(shp, SHP_SD);
  W(own, COM_STG) = W(shp, SHP_STG);
  W(own, COM_SHP) = shp;
  DSUnlinkShpStm(base_, own);
  EXPECT_EQ(W(shp, SHP_STG_USECOUNT), 0);
  ShpHandle a, b;
  ASSERT_EQ(DSFindShpPsm(base_, usr_, 31, 0, &a), 0);  // the shared storage
  ASSERT_EQ(DSFindShpPsm(base_, usr_, 31, 0, &b), 0);  // a private copy
  EXPECT_EQ(a.stg, W(shp, SHP_STG));
  EXPECT_NE(b.stg, a.stg);
  const int64_t live = Live();
  for (ShpHandle* h : {&a, &b}) {
    const int32_t com = Alloc(4 * 11);
    W(com, COM_SD) = h->sd;
    W(com, COM_STG) = h->stg;
    W(com, COM_SHP) = h->shp;
    DSUnlinkShpStm(base_, com);
    for (int32_t w = COM_SD; w <= COM_DBGINF; ++w) EXPECT_EQ(W(com, w), 0);
    int32_t block = com;
    DSGetMem(base_, &block, 0);
  }
  EXPECT_EQ(W(shp, SHP_STG_USECOUNT), 0);
  EXPECT_EQ(Live(), live - 1);  // the copy
  int32_t ref = shp, sd = 0, stg = 0, snd = 0, dbg = 0;
  EXPECT_EQ(DSRelShpProgram(base_, &ref, &sd, &stg, &snd, &dbg), 0);
  EXPECT_EQ(W(shp, SHP_USECOUNT), 2);  // one of the three uses went
}

TEST_F(StmReleaseTest, TableInUseByHandlesIndexesAndReferences) {
  const int32_t stm = Stm({{4, 5}, {4, 5}});
  const int32_t stg = W(stm, STM_STG);
  const int32_t h1 = stg + 32, h2 = stg + 57;
  W(h1, HANDLE_TNAME) = 300;
  W(h2, HANDLE_TNAME) = 301;
  const int32_t tcb = Alloc(TCB_BYTES), icb = Alloc(ICB_BYTES), ficb = Alloc(FICB_BYTES);
  W(h2, HANDLE_OBJECT) = tcb;
  W(tcb, TCB_ICB) = icb;
  W(tcb, TCB_FICB) = ficb;
  W(icb, ICB_FK_TNAME) = 302;
  W(ficb, FICB_FK_TNAME) = 303;
  const DUUpperServices* ra = KernelRecordAccessServices();
  ASSERT_NE(ra->table_used_by_user, nullptr);
  auto used = [&](int32_t table) { return ra->table_used_by_user(base_, usr_, table); };
  // A created statement uses nothing yet.
  EXPECT_EQ(used(300), 1);
  W(stm, STM_STATUS) = STM_OPEN;
  EXPECT_EQ(used(300), 0);
  EXPECT_EQ(used(301), 0);
  EXPECT_EQ(used(302), 1) << "indexes count only for a table open in kind 5";
  W(tcb, TCB_FK_ACCESS_MODE) = TCB_FK_OPEN;
  EXPECT_EQ(used(302), 0);
  EXPECT_EQ(used(303), 0);
  EXPECT_EQ(used(304), 1);
  W(icb, ICB_TNAME) = 77;  // an index of a referencing table
  EXPECT_EQ(used(304), 0);
  W(icb, ICB_TNAME) = 0;
  // Cursors of an outer level count too; released ones do not.
  W(lvl_, LVL_STM) = 0;
  const int32_t inner = Alloc(LVL_BYTES);
  W(inner, LVL_NEXT) = lvl_;
  W(usr_, USR_LVL) = inner;
  W(lvl_, LVL_CUCB) = stm;
  EXPECT_EQ(used(300), 0);
  W(stm, STM_STATUS) = STM_RELEASED;
  EXPECT_EQ(used(300), 1);
  EXPECT_EQ(DSTableInUse(base_, usr_, 2, 300), KERNEL_BAD_PARAMETER);
}

// The SQL compiler reaches the cache through the kernel's entries of its
// table: a text it abandons is dropped, one it publishes is shared, and
// the last release frees every block.
TEST_F(StmReleaseTest, CompilerEntriesFindAndReleaseSqlPrograms) {
  SqlKernelServices table;
  KernelFillSqlServices(base_, &table);
  EXPECT_EQ(table.pool, base_);
  const int64_t live = Live();
  const uint8_t key[] = "K1";
  const uint8_t text[] = "select 1 from t";
  int32_t shp = 0, second = 0;
  ASSERT_EQ(table.cursor_create(usr_, &shp, &second, key, 2, text, 15), SHP_COMPILE);
  table.release_shared_program(shp);  // abandoned
  EXPECT_EQ(Live(), live);
  ASSERT_EQ(table.cursor_create(usr_, &shp, &second, key, 2, text, 15), SHP_COMPILE);
  const int32_t sd = Alloc(4 * SD_MIN_WORDS), stg = Alloc(4 * 8), com = Alloc(4 * 11);
  W(sd, SD_STORAGE_WORDS) = 8;
  W(sd, SD_CALL_LIST) = -1;
  W(com, COM_SD) = sd;
  W(com, COM_STG) = stg;
  W(com, COM_SHP) = shp;
  ASSERT_EQ(DSPublishShp(base_, usr_, com), 0);
  int32_t block = com;
  DSGetMem(base_, &block, 0);
  int32_t other = 0, copy = 0;
  const int32_t usr2 = Alloc(USR_BYTES);
  ASSERT_EQ(table.cursor_create(usr2, &other, &copy, key, 2, text, 15), 0);
  EXPECT_EQ(other, shp);
  EXPECT_NE(copy, 0);
  int32_t ref = other, no_sd = 0, no_snd = 0, no_dbg = 0;
  EXPECT_EQ(DSRelShpProgram(base_, &ref, &no_sd, &copy, &no_snd, &no_dbg), 0);
  table.release_shared_program(shp);
  block = usr2;
  DSGetMem(base_, &block, 0);
  EXPECT_EQ(Live(), live);
  EXPECT_EQ(W(sys_, SYS_ST_COMPILED_SQL), 0);
}

}  // namespace
