// Shared programs: image decoding, the SQL and routine caches (first
// compiles, others wait and share on private copies, old time stamps miss,
// abandoned compiles wake their waiters, locked numbers), the storage
// handle reset, DSBadHandle, and a model of 8 threads preparing, publishing,
// abandoning and releasing texts at random.
#include "kernel/shared_programs.h"

#include <atomic>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "kernel/hash_lists.h"
#include "kernel/statement_columns.h"
#include "kernel/statements.h"
#include "kernel/tests/core_fixture.h"

namespace {

int32_t TablesOk(int32_t*, int32_t, int32_t) {
  return 0;
}
int32_t SecTablesOk(int32_t*, int32_t, int32_t, int32_t) {
  return 0;
}
// Refuses the tables of the compound block named here.
std::atomic<int32_t> g_refused_com{0};
int32_t TablesOkBut(int32_t*, int32_t, int32_t com) {
  return com == g_refused_com ? -16001 : 0;
}

class ShpTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    services_.open_com_tables = TablesOk;
    services_.close_sec_tables = SecTablesOk;
    usr_ = NewSession();
  }
  int32_t NewSession() {
    const int32_t usr = Alloc(USR_BYTES), lvl = Alloc(LVL_BYTES);
    W(usr, USR_USR) = usr;
    W(usr, USR_LVL) = lvl;
    W(lvl, LVL_USR) = usr;
    return usr;
  }
  // A compiled program: a descriptor naming a storage of 256 words whose
  // dynamic list names words 3 and 5, and a compound block for it.
  int32_t Compiled(int32_t shp) {
    const int32_t sd = Alloc(4 * 32), stg = Alloc(4 * 256), com = Alloc(4 * 11);
    W(sd, SD_STORAGE_WORDS) = 256;
    W(sd, SD_DYNAMIC_LIST) = 24;
    W(sd, SD_DYNAMIC_LIST + 1) = 3;
    W(sd, 24) = 3;
    W(sd, 25) = 5;
    W(sd, 26) = -1;
    W(sd, SD_CALL_LIST) = -1;
    for (int32_t i = 0; i < 256; ++i) W(stg, i) = 1000 + i;
    W(com, COM_SD) = sd;
    W(com, COM_STG) = stg;
    W(com, COM_SHP) = shp;
    return com;
  }
  int32_t Find(int32_t usr, const std::string& text, ShpHandle* h) {
    return DSFindShpSql(base_, usr, reinterpret_cast<const uint8_t*>("Q"), 1,
                        reinterpret_cast<const uint8_t*>(text.data()),
                        static_cast<int32_t>(text.size()), h);
  }
  int32_t Release(int32_t usr, ShpHandle& h) { return DSRSH3(base_, usr, &h.shp, &h.stg); }
  int32_t SqlPrograms() {
    const int32_t list = W(sys_, SYS_SHP_SQL_LIST);
    int32_t n = 0;
    for (int32_t b = 0; b < 500; ++b)
      for (int32_t s = W(list, 7 + 4 * b); s != 0; s = W(s, SHP_NEXT)) ++n;
    return n;
  }
  // USECOUNT read under its bucket semaphore, as the cache reads it.
  int32_t UseCount(int32_t shp) {
    const int32_t list = W(sys_, SYS_SHP_SQL_LIST);
    EnqdeqGuard guard(
        HashListSemaphore(base_, list, HashListBucket(base_, list, W(shp, SHP_CBKEY))));
    return W(shp, SHP_USECOUNT);
  }
  int32_t PsmUseCount(int32_t shp) {
    const int32_t list = W(sys_, SYS_SHP_PSM_LIST);
    EnqdeqGuard guard(
        HashListSemaphore(base_, list, HashListBucket(base_, list, W(shp, SHP_CBKEY))));
    return W(shp, SHP_USECOUNT);
  }
  int32_t usr_ = 0;
};

TEST_F(ShpTest, ImageBodiesDecode) {
  int16_t header[SD_MIN_WORDS] = {};
  header[SD_PROGRAM] = SD_MIN_WORDS;
  const int32_t body[] = {-3, 7, 2, 8, 9};
  int32_t sd = 0;
  ASSERT_EQ(DSDecodeImage(base_, header, SD_MIN_WORDS, body, 5, &sd), 0);
  EXPECT_EQ(W(sd, SD_HEADER_LENGTH), SD_MIN_WORDS);
  EXPECT_EQ(W(sd, SD_STORAGE_WORDS), 5);
  EXPECT_EQ(W(sd, SD_BODY_LENGTH), 5);
  const int32_t expected[5] = {7, 7, 7, 8, 9};
  for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(W(sd, SD_MIN_WORDS + i), expected[i]);
  // Counts past the image are refused before anything is allocated.
  const int64_t live = Live();
  for (std::vector<int32_t> bad : {std::vector<int32_t>{3, 1, 2}, {-3}, {2147483647, 1}}) {
    int32_t out = 0;
    EXPECT_EQ(DSDecodeImage(base_, header, SD_MIN_WORDS, bad.data(), (int32_t)bad.size(), &out),
              -19078);
  }
  EXPECT_EQ(DSDecodeImage(base_, header, 3, body, 5, &sd), -19078) << "header too short";
  // A header whose length cannot be a block (its bytes would not fit a
  // word count) is refused before it is read.
  EXPECT_EQ(DSDecodeImage(base_, header, (1 << 30) + 1, body, 5, &sd), -19078);
  EXPECT_EQ(Live(), live);
}

TEST_F(ShpTest, SecondSessionWaitsThenSharesOnAPrivateCopy) {
  ShpHandle first, second;
  ASSERT_EQ(Find(usr_, "select 1", &first), 1);
  const int32_t other = NewSession();
  std::atomic<int> got{-99};
  std::thread t([&] {
    ASSERT_EQ(enqdeq_attach(enq_, 2), 0);
    got = Find(other, "select 1", &second);
  });
  // The second finder waits until the program is published.
  while (UseCount(first.shp) < 2) std::this_thread::yield();
  EXPECT_EQ(got.load(), -99);
  const int32_t com = Compiled(first.shp);
  ASSERT_EQ(DSPublishShp(base_, usr_, com), 0);
  t.join();
  ASSERT_EQ(got.load(), 0);
  EXPECT_EQ(second.shp, first.shp);
  EXPECT_EQ(second.sd, W(com, COM_SD));
  EXPECT_NE(second.stg, W(com, COM_STG)) << "a private copy";
  EXPECT_EQ(W(second.stg, 3), 0) << "handle words reset";
  EXPECT_EQ(W(second.stg, 5), 0);
  EXPECT_EQ(W(second.stg, 4), 1004);
  EXPECT_EQ(W(W(com, COM_STG), 3), 1003) << "the shared storage keeps its handles";
  EXPECT_EQ(W(first.shp, SHP_ACCESS_MODE), -2);
  EXPECT_EQ(W(sys_, SYS_ST_COMPILED_SQL), 1);
  // Releases: the first keeps it shared, the last drops it.
  ShpHandle mine{W(com, COM_SD), W(com, COM_STG), 0, first.shp, 0};
  EXPECT_EQ(Release(usr_, mine), 1);
  EXPECT_EQ(SqlPrograms(), 1);
  EXPECT_EQ(Release(other, second), 0);
  EXPECT_EQ(SqlPrograms(), 0);
  EXPECT_EQ(W(sys_, SYS_ST_COMPILED_SQL), 0);
}

TEST_F(ShpTest, OlderTimeStampMissesAndTheCallerCompilesAgain) {
  ShpHandle a, b;
  ASSERT_EQ(Find(usr_, "select 2", &a), 1);
  ASSERT_EQ(DSPublishShp(base_, usr_, Compiled(a.shp)), 0);
  W(sys_, SYS_SHP_TIMESTAMP) += 1;
  EXPECT_EQ(Find(NewSession(), "select 2", &b), 1);
  EXPECT_NE(b.shp, a.shp);
  // Same text under another qualifier is another program as well.
  ShpHandle c;
  EXPECT_EQ(DSFindShpSql(base_, usr_, reinterpret_cast<const uint8_t*>("R"), 1,
                         reinterpret_cast<const uint8_t*>("select 2"), 8, &c),
            1);
}

TEST_F(ShpTest, AbandonedCompileWakesWaitersAndIsNeverFoundAgain) {
  ShpHandle first;
  ASSERT_EQ(Find(usr_, "select 3", &first), 1);
  const int32_t other = NewSession();
  ShpHandle second;
  std::atomic<int> got{-99};
  std::thread t([&] {
    ASSERT_EQ(enqdeq_attach(enq_, 2), 0);
    got = Find(other, "select 3", &second);
  });
  while (UseCount(first.shp) < 2) std::this_thread::yield();
  const int32_t abandoned = first.shp;
  EXPECT_EQ(Release(usr_, first), 1) << "still held by the waiter";
  t.join();
  // The waiter left the abandoned block and now compiles a new one.
  EXPECT_EQ(got.load(), 1);
  (void)abandoned;
  EXPECT_EQ(SqlPrograms(), 1);
  EXPECT_EQ(W(second.shp, SHP_ACCESS_MODE), -5);
  EXPECT_EQ(W(second.shp, SHP_TIMESTAMP), W(sys_, SYS_SHP_TIMESTAMP));
  ShpHandle none{};
  none.shp = second.shp;
  EXPECT_EQ(Release(other, none), 0);
  EXPECT_EQ(SqlPrograms(), 0);
}

TEST_F(ShpTest, AbandonedCompileWithoutWaitersLeavesTimeStampZero) {
  ShpHandle first, again;
  ASSERT_EQ(Find(usr_, "select 4", &first), 1);
  ShpHandle held = first;
  // Another holder keeps the block: it stays in the list, TIMESTAMP 0.
  W(first.shp, SHP_USECOUNT) += 1;
  EXPECT_EQ(Release(usr_, held), 1);
  EXPECT_EQ(W(first.shp, SHP_TIMESTAMP), 0);
  EXPECT_EQ(Find(NewSession(), "select 4", &again), 1);
  EXPECT_NE(again.shp, first.shp);
}

TEST_F(ShpTest, LockedRoutineNumberRefusesEveryLookUp) {
  ASSERT_EQ(DSLockShpPsm(base_, usr_, 77), 0);
  const int32_t entry = W(usr_, USR_CLN);
  ASSERT_NE(entry, 0);
  const int32_t shp = W(entry, 2);
  ShpHandle h;
  EXPECT_EQ(DSFindShpPsm(base_, usr_, 77, 0, &h), -16402);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), -16402);
  EXPECT_EQ(DSLockShpPsm(base_, NewSession(), 77), -16401);
  EXPECT_EQ(DSUnlockShpPsm(base_, NewSession(), shp), 2);
  EXPECT_EQ(DSUnlockShpPsm(base_, usr_, shp), 0);
  EXPECT_EQ(W(usr_, USR_CLN), 0);
  EXPECT_EQ(DSFindShpPsm(base_, usr_, 77, 0, &h), 1);
}

TEST_F(ShpTest, DictionaryStatementsShareOneProgram) {
  int16_t header[SD_MIN_WORDS] = {};
  header[SD_PROGRAM] = SD_MIN_WORDS;
  header[SD_CALL_LIST] = -1;
  const int32_t body[] = {-4, 0, 2, 11, 12};
  const int64_t live = Live();
  int32_t a = 0, b = 0;
  ASSERT_EQ(DSCreateStm(base_, usr_, -255, header, SD_MIN_WORDS, body, 5, &a), 0);
  ASSERT_EQ(DSCreateStm(base_, usr_, -255, header, SD_MIN_WORDS, body, 5, &b), 0);
  EXPECT_EQ(W(a, STM_STATUS), 1);
  EXPECT_EQ(W(W(usr_, USR_LVL), LVL_STM), b);
  EXPECT_EQ(W(a, STM_SD), W(b, STM_SD));
  EXPECT_NE(W(a, STM_STG), W(b, STM_STG));
  EXPECT_EQ(W(W(b, STM_STG), 4), 11);
  EXPECT_EQ(W(sys_, SYS_ST_STATEMENTS), 2);
  EXPECT_EQ(DSOpenStm(base_, 0, usr_, a), 0);
  EXPECT_EQ(W(a, STM_STATUS), 5);
  // A handle that names nothing of the session is a bad handle.
  int32_t stranger = base_[sqlpool::WORDS] + 9;
  EXPECT_EQ(DSCloseStm(base_, usr_, &stranger), -19039);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), -19039);
  EXPECT_EQ(DSCloseStm(base_, usr_, &a), 0);
  EXPECT_EQ(DSCloseStm(base_, usr_, &b), 0);
  EXPECT_EQ(W(sys_, SYS_ST_STATEMENTS), 0);
  EXPECT_EQ(Live(), live);
}

TEST_F(ShpTest, BadHandleAnswersByKernelState) {
  EXPECT_EQ(DSBadHandle(base_, usr_), -19039);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), -19039);
  base_[sqlpool::RESERV] = 0;
  EXPECT_EQ(DSBadHandle(base_, usr_), -19040);
  base_[sqlpool::RESERV] = sys_;
}

TEST_F(ShpTest, HandleResetStaysInsideTheStorage) {
  const int32_t com = Compiled(0);
  const int32_t sd = W(com, COM_SD), stg = W(com, COM_STG);
  W(sd, 25) = 256;  // one past the storage
  W(sd, SD_CALL_LIST) = 28;
  W(sd, 28) = 0;
  W(sd, 29) = 100;  // callee slot: words 100 and 101
  W(sd, 37) = -1;
  const int32_t after = W(stg, 256);
  DSResetStorageHandles(base_, sd, stg);
  EXPECT_EQ(W(stg, 3), 0);
  EXPECT_EQ(W(stg, 100), 0);
  EXPECT_EQ(W(stg, 101), 0);
  EXPECT_EQ(W(stg, 102), 1102);
  EXPECT_EQ(W(stg, 256), after);
}

// Model: threads prepare random texts, publish or abandon what they must
// compile, and release what they hold; at the end nothing is left.
TEST_F(ShpTest, ModelOfEightThreads) {
  const int64_t live = Live();
  constexpr int kThreadsUsed = 8;
  std::vector<int32_t> sessions;
  for (int i = 0; i < kThreadsUsed; ++i) sessions.push_back(NewSession());
  const int64_t live_sessions = Live();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreadsUsed; ++t) {
    threads.emplace_back([&, t] {
      ASSERT_EQ(enqdeq_attach(enq_, 2 + t), 0);
      std::mt19937 rng(1234 + t);
      std::vector<ShpHandle> held;
      const int32_t usr = sessions[t];
      for (int i = 0; i < 400; ++i) {
        const std::string text = "select " + std::to_string(rng() % 6) + " from t";
        ShpHandle h;
        const int32_t rc = Find(usr, text, &h);
        ASSERT_GE(rc, 0);
        if (rc == 1 && rng() % 4 == 0) {
          Release(usr, h);  // abandoned
          continue;
        }
        if (rc == 1) {
          const int32_t sd = 0;
          (void)sd;
          int32_t s = 0, g = 0, c = 0;
          DSGetMem(base_, &s, 4 * 32);
          DSGetMem(base_, &g, 4 * 256);
          DSGetMem(base_, &c, 4 * 11);
          sqlpool_word(base_, s + SD_STORAGE_WORDS) = 256;
          sqlpool_word(base_, s + SD_CALL_LIST) = -1;
          sqlpool_word(base_, c + COM_SD) = s;
          sqlpool_word(base_, c + COM_STG) = g;
          sqlpool_word(base_, c + COM_SHP) = h.shp;
          ASSERT_EQ(DSPublishShp(base_, usr, c), 0);
          h.sd = s;
          h.stg = g;
          DSGetMem(base_, &c, 0);
        }
        held.push_back(h);
        if (held.size() > 3 || rng() % 3 == 0) {
          const size_t k = rng() % held.size();
          Release(usr, held[k]);
          held.erase(held.begin() + k);
        }
      }
      for (ShpHandle& h : held) Release(usr, h);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(SqlPrograms(), 0);
  EXPECT_EQ(W(sys_, SYS_ST_COMPILED_SQL), 0);
  EXPECT_EQ(Live(), live_sessions);
  EXPECT_EQ(live_sessions - live, 2 * kThreadsUsed);
}

// A compiler whose publish fails (its tables refused) gives the program up;
// the waiter that takes the compile over publishes its own storage, which
// then counts as used: the next holder gets a private copy, never the
// storage the new compiler runs on.
TEST_F(ShpTest, PublishThatFailsLeavesTheProgramToTheNextCompiler) {
  services_.open_com_tables = TablesOkBut;
  ShpHandle first, second, third;
  ASSERT_EQ(DSFindShpPsm(base_, usr_, -300, 0, &first), 1);
  const int32_t other = NewSession();
  std::atomic<int> got{-99};
  std::thread t([&] {
    ASSERT_EQ(enqdeq_attach(enq_, 2), 0);
    got = DSFindShpPsm(base_, other, -300, 0, &second);
  });
  while (PsmUseCount(first.shp) < 2) std::this_thread::yield();
  const int32_t refused = Compiled(first.shp);
  g_refused_com = refused;
  EXPECT_EQ(DSPublishShp(base_, usr_, refused), -16001);
  g_refused_com = 0;
  EXPECT_EQ(W(first.shp, SHP_SD), 0) << "the program names no descriptor of a failed publish";
  int32_t sd = 0, stg = W(refused, COM_STG), snd = 0, dbg = 0, shp = first.shp;
  EXPECT_EQ(DSCSL2(base_, usr_, &shp, &sd, &stg, &snd, &dbg), 1) << "the waiter holds it";
  t.join();
  ASSERT_EQ(got.load(), 1) << "the waiter compiles";
  ASSERT_EQ(second.shp, first.shp);
  const int32_t com = Compiled(second.shp);
  ASSERT_EQ(DSPublishShp(base_, other, com), 0);
  EXPECT_EQ(W(second.shp, SHP_STG_USECOUNT), 1);
  ASSERT_EQ(DSFindShpPsm(base_, NewSession(), -300, 0, &third), 0);
  EXPECT_EQ(third.sd, W(com, COM_SD));
  EXPECT_NE(third.stg, W(com, COM_STG)) << "a private copy";
  // A statement whose program fails to publish leaves nothing behind.
  services_.open_com_tables = [](int32_t*, int32_t, int32_t) { return -16001; };
  int16_t header[SD_MIN_WORDS] = {};
  header[SD_PROGRAM] = SD_MIN_WORDS;
  header[SD_CALL_LIST] = -1;
  const int32_t body[] = {-4, 0};
  const int64_t live = Live();
  int32_t stm = 0;
  EXPECT_EQ(DSCreateStm(base_, usr_, -301, header, SD_MIN_WORDS, body, 2, &stm), -16001);
  EXPECT_EQ(Live(), live);
  EXPECT_EQ(W(sys_, SYS_ST_STATEMENTS), 0);
}

// A statement whose program is its own (start mode -242: nothing shared)
// gives everything back at its close, its debugger information included.
TEST_F(ShpTest, UnsharedStatementFreesItsDebuggerInformation) {
  W(sys_, SYS_MODE) = -242;
  int16_t header[SD_MIN_WORDS] = {};
  header[SD_PROGRAM] = SD_MIN_WORDS;
  header[SD_CALL_LIST] = -1;
  const int32_t body[] = {-4, 0};
  const int64_t live = Live();
  int32_t stm = 0;
  ASSERT_EQ(DSCreateStm(base_, usr_, -255, header, SD_MIN_WORDS, body, 2, &stm), 0);
  EXPECT_EQ(W(stm, STM_SHP), 0);
  const int32_t info = Alloc(16), child = Alloc(16);
  W(info, 0) = child;
  W(stm, STM_DBGINF) = info;
  EXPECT_EQ(DSCloseStm(base_, usr_, &stm), 0);
  EXPECT_EQ(Live(), live);
  // A shared routine program with debugger information is dropped with it.
  W(sys_, SYS_MODE) = 0;
  ShpHandle h;
  ASSERT_EQ(DSFindShpPsm(base_, usr_, 302, 0, &h), 1);
  const int32_t com = Compiled(h.shp);
  const int32_t tree = Alloc(16);
  W(tree, 1) = Alloc(16);
  W(com, COM_DBGINF) = tree;
  ASSERT_EQ(DSPublishShp(base_, usr_, com), 0);
  const int64_t published = Live();
  ShpHandle mine{W(com, COM_SD), W(com, COM_STG), 0, h.shp, tree};
  EXPECT_EQ(Release(usr_, mine), 0) << "dropped: it carries debugger information";
  EXPECT_EQ(Live(), published - 6)
      << "SHP, descriptor, storage, its published image and the two-block tree";
}

// Model of the routine cache: threads find numbered and unnumbered
// programs, publish or abandon what they must compile, release, and flush
// now and then; at the end a flush leaves no program and no block behind.
TEST_F(ShpTest, ModelOfEightThreadsOnRoutinePrograms) {
  constexpr int kThreadsUsed = 8;
  std::vector<int32_t> sessions;
  for (int i = 0; i < kThreadsUsed; ++i) sessions.push_back(NewSession());
  const int64_t live_sessions = Live();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreadsUsed; ++t) {
    threads.emplace_back([&, t] {
      ASSERT_EQ(enqdeq_attach(enq_, 2 + t), 0);
      std::mt19937 rng(4321 + t);
      std::vector<ShpHandle> held;
      const int32_t usr = sessions[t];
      for (int i = 0; i < 400; ++i) {
        const int32_t number = static_cast<int32_t>(rng() % 4) + 1;
        ShpHandle h;
        const int32_t rc = DSFindShpPsm(base_, usr, rng() % 2 == 0 ? number : -number, 0, &h);
        ASSERT_GE(rc, 0);
        if (rc == 1 && rng() % 4 == 0) {
          Release(usr, h);  // abandoned: a waiter, if any, compiles
          continue;
        }
        if (rc == 1) {
          int32_t sd = 0, stg = 0, com = 0;
          DSGetMem(base_, &sd, 4 * 32);
          DSGetMem(base_, &stg, 4 * 256);
          DSGetMem(base_, &com, 4 * 11);
          sqlpool_word(base_, sd + SD_STORAGE_WORDS) = 256;
          sqlpool_word(base_, sd + SD_CALL_LIST) = -1;
          sqlpool_word(base_, com + COM_SD) = sd;
          sqlpool_word(base_, com + COM_STG) = stg;
          sqlpool_word(base_, com + COM_SHP) = h.shp;
          ASSERT_EQ(DSPublishShp(base_, usr, com), 0);
          h.sd = sd;
          h.stg = stg;
          DSGetMem(base_, &com, 0);
        }
        held.push_back(h);
        if (held.size() > 3 || rng() % 3 == 0) {
          const size_t k = rng() % held.size();
          Release(usr, held[k]);
          held.erase(held.begin() + k);
        }
        if (rng() % 50 == 0) DSFlushShpPsm(base_);
      }
      for (ShpHandle& h : held) Release(usr, h);
    });
  }
  for (auto& t : threads) t.join();
  DSFlushShpPsm(base_);
  const int32_t list = W(sys_, SYS_SHP_PSM_LIST);
  int32_t left = 0;
  for (int32_t b = 0; b < 200; ++b)
    for (int32_t p = W(list, 7 + b); p != 0; p = W(p, SHP_NEXT)) ++left;
  EXPECT_EQ(left, 0);
  EXPECT_EQ(W(sys_, SYS_ST_COMPILED_PSM), 0);
  EXPECT_EQ(W(sys_, SYS_ST_SHARED_PSM), 0);
  EXPECT_EQ(Live(), live_sessions);
}

// A statement hangs on its session's current level: a session that has
// none (not logged in) or a handle outside the storage is a bad handle, and
// nothing is made or written.
TEST_F(ShpTest, StatementOfASessionWithoutLevelIsABadHandle) {
  int16_t header[SD_MIN_WORDS] = {};
  header[SD_PROGRAM] = SD_MIN_WORDS;
  header[SD_CALL_LIST] = -1;
  const int32_t body[] = {-4, 0};
  const int32_t unbound = NewSession();
  W(unbound, USR_LVL) = 0;
  const int64_t live = Live();
  int32_t stm = 0;
  EXPECT_EQ(DSCreateStm(base_, unbound, -255, header, SD_MIN_WORDS, body, 2, &stm), -19039);
  EXPECT_EQ(W(unbound, USR_RVEC_RCODE), -19039);
  EXPECT_EQ(KernelSys(base_), sys_) << "the storage header is untouched";
  EXPECT_EQ(
      DSCreateStm(base_, base_[sqlpool::WORDS] + 5, -255, header, SD_MIN_WORDS, body, 2, &stm),
      -19039);
  EXPECT_EQ(stm, 0);
  EXPECT_EQ(Live(), live);
  EXPECT_EQ(W(sys_, SYS_ST_STATEMENTS), 0);
}

// A program without storage is shared as it is: every holder gets no
// storage, and the uses they take are all given back.
TEST_F(ShpTest, ProgramWithoutStorageIsSharedWithoutACopy) {
  ShpHandle first, second, third;
  ASSERT_EQ(Find(usr_, "select 5", &first), 1);
  const int32_t com = Compiled(first.shp);
  W(W(com, COM_SD), SD_STORAGE_WORDS) = 0;
  int32_t stg = W(com, COM_STG);
  DSGetMem(base_, &stg, 0);
  W(com, COM_STG) = 0;
  ASSERT_EQ(DSPublishShp(base_, usr_, com), 0);
  first.sd = W(com, COM_SD);
  ASSERT_EQ(Find(NewSession(), "select 5", &second), 0);
  EXPECT_EQ(second.stg, 0);
  ASSERT_EQ(Find(NewSession(), "select 5", &third), 0);
  EXPECT_EQ(UseCount(first.shp), 3);
  EXPECT_EQ(Release(usr_, first), 1);
  EXPECT_EQ(Release(usr_, second), 1);
  EXPECT_EQ(Release(usr_, third), 0);
  EXPECT_EQ(SqlPrograms(), 0);
}

// Programs of one routine number under two qualifiers are two programs,
// each found again by its own qualifier.
TEST_F(ShpTest, RoutineProgramsOfOneNumberUnderTwoQualifiers) {
  ShpHandle a, b, again;
  ASSERT_EQ(DSFindShpPsm(base_, usr_, 5, 1, &a), 1);
  ASSERT_EQ(DSPublishShp(base_, usr_, Compiled(a.shp)), 0);
  ASSERT_EQ(DSFindShpPsm(base_, usr_, 5, 2, &b), 1);
  ASSERT_EQ(DSPublishShp(base_, usr_, Compiled(b.shp)), 0);
  EXPECT_NE(a.shp, b.shp);
  ASSERT_EQ(DSFindShpPsm(base_, NewSession(), 5, 1, &again), 0);
  EXPECT_EQ(again.shp, a.shp);
  ASSERT_EQ(DSFindShpPsm(base_, NewSession(), 5, 2, &again), 0);
  EXPECT_EQ(again.shp, b.shp);
}

// List offsets read from a damaged descriptor that reach past every index
// are passed over: nothing is read or cleared through them.
TEST_F(ShpTest, DescriptorOffsetsPastEveryIndexArePassedOver) {
  const int32_t com = Compiled(0);
  const int32_t sd = W(com, COM_SD), stg = W(com, COM_STG);
  for (int32_t list :
       {SD_TABLE_HANDLES, SD_TEMP_TABLES, SD_DYNAMIC_LIST, SD_INPUT_TABLE, SD_OUTPUT_TABLE}) {
    W(sd, list) = 2147483647 - 3;
    W(sd, list + 1) = 2;
  }
  W(sd, SD_CALL_LIST) = 2147483647 - 2;
  DSResetStorageHandles(base_, sd, stg);
  EXPECT_EQ(W(stg, 3), 1003);
  const int32_t stm = Alloc(STM_BYTES);
  W(stm, STM_ACTIVE_COM) = stm + STM_NEXT_COM;
  W(stm, STM_SD) = sd;
  W(stm, STM_STG) = stg;
  W(stm, STM_LVL) = W(usr_, USR_LVL);
  EXPECT_EQ(DSOpenStm(base_, 0, usr_, stm), 0);
  EXPECT_EQ(W(stm, STM_IPARSZ_W), 0);
  EXPECT_EQ(W(stm, STM_OPARSZ_W), 0);
}

// A new holder's storage keeps the permanent tables' record blocks (their
// tables are open once, for every holder) and loses the open table (word 2)
// of each temporary table's record block and each word of the dynamic list.
TEST_F(ShpTest, HandleResetClearsTheHoldersOwnWordsOnly) {
  const int32_t com = Compiled(0);
  const int32_t sd = W(com, COM_SD), stg = W(com, COM_STG);
  W(sd, SD_TABLE_HANDLES) = 27;  // one permanent table at storage word 40
  W(sd, SD_TABLE_HANDLES + 1) = 2;
  W(sd, 27) = 40;
  W(sd, 28) = -1;
  W(sd, SD_TEMP_TABLES) = 29;  // temporary tables at storage words 80 and 120
  W(sd, SD_TEMP_TABLES + 1) = 2;
  W(sd, 29) = 80;
  W(sd, 30) = 120;
  DSResetStorageHandles(base_, sd, stg);
  for (int32_t w = 40; w < 40 + HANDLE_WORDS; ++w) EXPECT_EQ(W(stg, w), 1000 + w) << w;
  for (int32_t table : {80, 120}) {
    EXPECT_EQ(W(stg, table + HANDLE_OBJECT), 0) << table;
    EXPECT_EQ(W(stg, table), 1000 + table) << table;
    EXPECT_EQ(W(stg, table + HANDLE_ACCESS), 1000 + table + HANDLE_ACCESS) << table;
  }
  EXPECT_EQ(W(stg, 3), 0);
  EXPECT_EQ(W(stg, 5), 0);
}

}  // namespace

namespace {

// A later holder's private copy is the storage as published, whatever the
// holder running on the shared storage writes meanwhile; under the thread
// sanitizer the copies and the writes race on nothing.
TEST_F(ShpTest, PrivateCopiesComeFromThePublishedImage) {
  ShpHandle first;
  ASSERT_EQ(Find(usr_, "select image", &first), 1);
  const int32_t com = Compiled(first.shp);
  ASSERT_EQ(DSPublishShp(base_, usr_, com), 0);
  const int32_t shared = W(com, COM_STG);
  // The first holder runs: its storage words change.
  for (int32_t i = 0; i < 256; ++i) W(shared, i) = -7;
  const int32_t other = NewSession();
  ShpHandle second;
  ASSERT_EQ(Find(other, "select image", &second), 0);
  ASSERT_NE(second.stg, shared);
  for (int32_t i : {0, 4, 100, 255}) EXPECT_EQ(W(second.stg, i), 1000 + i) << i;
  EXPECT_EQ(W(second.stg, 3), 0) << "handle words reset";
  EXPECT_EQ(Release(other, second), 1);
  // Now concurrently: one thread keeps writing the shared storage while
  // others take and give back copies.
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    ASSERT_EQ(enqdeq_attach(enq_, 2), 0);
    for (int32_t n = 0; !stop.load(); ++n)
      for (int32_t i = 0; i < 256; ++i)
        std::atomic_ref<int32_t>(W(shared, i)).store(n, std::memory_order_relaxed);
  });
  std::vector<std::thread> readers;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&, t] {
      ASSERT_EQ(enqdeq_attach(enq_, 3 + t), 0);
      const int32_t usr = [&] {
        static std::mutex m;
        std::lock_guard<std::mutex> lock(m);
        return NewSession();
      }();
      for (int k = 0; k < 200; ++k) {
        ShpHandle h;
        if (Find(usr, "select image", &h) != 0) {
          ++wrong;
          return;
        }
        if (W(h.stg, 100) != 1100) ++wrong;
        Release(usr, h);
      }
    });
  }
  for (std::thread& r : readers) r.join();
  stop = true;
  writer.join();
  EXPECT_EQ(wrong.load(), 0);
  ShpHandle mine{W(com, COM_SD), shared, 0, first.shp, 0};
  EXPECT_EQ(Release(usr_, mine), 0);
}

}  // namespace
