// The compiler's lookups over the started database at their edges: three
// sessions on one thread, names of no and of too many characters, and
// callers' buffers with guard bytes behind them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "catalog_gen.h"
#include "dict/compiler_lookups.h"
#include "dict/dictionary_services.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/work_block.h"
#include "dk/request.h"
#include "dk/table_entries.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "server/tests/started_work_fixture.h"

namespace {

constexpr uint8_t kGuard = 0xEE;

class StartedLookupsTest : public StartedWorkTest {
 protected:
  int32_t MakeTable(const std::string& name, int32_t databank = 1) {
    int32_t pb[2] = {0, admin_}, id = 0;
    DDNewIds(base_, pb, 1, &id);
    EXPECT_EQ(pb[0], 0);
    DDInsObject(base_, pb, id, 6, kStartedAdmin, static_cast<int32_t>(std::strlen(kStartedAdmin)),
                name.data(), static_cast<int32_t>(name.size()));
    EXPECT_EQ(pb[0], 0);
    DDInsTable(base_, pb, id, 1, sqlpool_word(base_, admin_ + USR_USERID), 8, true, databank);
    EXPECT_EQ(pb[0], 0);
    return id;
  }
  // A third session: the administrator again, on a channel of its own.
  int32_t ThirdSession() {
    ServerDatabase* run = TheStartedDatabase().run;
    const int32_t cha = ServerNewChannel(run, 900);
    EXPECT_NE(cha, 0);
    int32_t usr = 0;
    EXPECT_EQ(ServerLogin(run, cha, kStartedAdmin, kStartedAdminPassword, &usr), 0);
    return usr;
  }
};

// Each session's lookups on the one thread run in that session's own
// transaction, whichever session began its work on the thread last.
TEST_F(StartedLookupsTest, ThreeSessionsOnOneThreadSeeTheirOwnWork) {
  const int32_t third = ThirdSession();
  ASSERT_NE(third, 0);
  ASSERT_EQ(Begin(admin_), 0);
  const int32_t id = MakeTable("T_THREE_SESSIONS");
  ASSERT_EQ(Begin(user_), 0);
  ASSERT_EQ(Begin(third), 0);
  DDTableAttr a{};
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(Find(third, kStartedAdmin, "T_THREE_SESSIONS", &a), DD_TABLE_NOT_FOUND);
    a = {};
    ASSERT_EQ(Find(admin_, kStartedAdmin, "T_THREE_SESSIONS", &a), 0);
    EXPECT_EQ(a.id, id);
    EXPECT_EQ(Find(user_, kStartedAdmin, "T_THREE_SESSIONS", &a), DD_TABLE_NOT_FOUND);
    ASSERT_EQ(Find(third, "SYSTEM", "TABLES", &a), 0);
    EXPECT_EQ(a.id, CAT_TABLES);
  }
  ASSERT_EQ(End(third, 0), 0);
  ASSERT_EQ(End(user_, 0), 0);
  a = {};
  EXPECT_EQ(Find(admin_, kStartedAdmin, "T_THREE_SESSIONS", &a), 0) << "after the others ended";
  EXPECT_EQ(a.id, id);
  ASSERT_EQ(End(admin_, 1), 0);
  EXPECT_EQ(ServerLogout(TheStartedDatabase().run, third), 0);
  ASSERT_EQ(Begin(admin_), 0);
  EXPECT_EQ(Find(admin_, kStartedAdmin, "T_THREE_SESSIONS", &a), DD_TABLE_NOT_FOUND);
  EXPECT_EQ(Find(admin_, "SYSTEM", "COLUMNS", &a), 0) << "the thread's statement serves on";
  EXPECT_EQ(a.id, CAT_COLUMNS);
  ASSERT_EQ(End(admin_, 0), 0);
}

// A session that began no work of its own never reads the open work of
// the session that last began work on the thread.
// A non-zero entry status fetches the table's row figures from the kernel:
// the same eight words DSGetTabStats gives for the table in its databank;
// status 0 fetches nothing.
TEST_F(StartedLookupsTest, RowFiguresComeFromTheKernelOnAskingOnly) {
  ASSERT_EQ(Begin(admin_), 0);
  const int32_t id = MakeTable("ROWSTATS_T", 4);  // the user data databank
  DDTableAttr plain;
  ASSERT_EQ(Find(admin_, kStartedAdmin, "ROWSTATS_T", &plain), 0);
  for (const int32_t w : plain.row_stats) EXPECT_EQ(w, -1);
  // The databank kernel's table requests name the databank by logical id.
  const int32_t did = plain.logical_id;
  ASSERT_EQ(did, 4);

  // Asked for before the kernel has the table: the kernel's failure, the
  // attributes still given.
  DDTableName n;
  n.schema = kStartedAdmin;
  n.schema_length = static_cast<int32_t>(std::strlen(kStartedAdmin));
  n.name = "ROWSTATS_T";
  n.name_length = 10;
  DDTableAttr a;
  int32_t pb[2] = {1, admin_};
  DDCmpTableAttr(base_, pb, n, false, &a);
  EXPECT_EQ(pb[0], -50 - 16140);
  EXPECT_EQ(sqlpool_word(base_, admin_ + USR_RVEC_RCODE), -50 - 16140);
  EXPECT_EQ(a.id, id);

  int32_t crt[CRT_WORDS] = {};
  crt[RQ_DID] = did;
  crt[RQ_TYPE] = 10;
  crt[RQ_TBL] = id;
  crt[RQ_KEY_LENGTH] = 4;
  crt[RQ_RECORD_LENGTH] = 16;
  DKEXE1(16, crt);
  ASSERT_EQ(crt[RQ_STATUS], 0);
  int32_t last[TABSTATS_WORDS] = {};
  for (int32_t rows = 0; rows <= 7; ++rows) {
    if (rows > 0) {
      std::vector<int32_t> b(RQ_RECORD + 6, 0);
      b[RQ_TABLE] = crt[RQ_TABLE];
      b[RQ_TBL] = id;
      b[RQ_RECORD_LENGTH] = 16;
      char record[16];
      std::memset(record, 'r', sizeof record);
      std::memcpy(record, &rows, 4);
      std::memcpy(b.data() + RQ_RECORD, record, sizeof record);
      DKEXE1(38, b.data());
      ASSERT_EQ(b[RQ_STATUS], 0);
    }
    int32_t kpb[2] = {0, admin_}, want[TABSTATS_WORDS];
    const int32_t rq[3] = {id, did, 1};
    DSGetTabStats(base_, kpb, rq, want);
    ASSERT_EQ(kpb[0], 0);
    pb[0] = 1;
    DDCmpTableAttr(base_, pb, n, false, &a);
    ASSERT_EQ(pb[0], 0) << rows;
    EXPECT_TRUE(std::equal(want, want + TABSTATS_WORDS, a.row_stats)) << rows;
    EXPECT_EQ(a.row_stats[5], rows);  // one level: the rows themselves
    EXPECT_EQ(a.row_stats[4], 16);
    std::copy(a.row_stats, a.row_stats + TABSTATS_WORDS, last);
    pb[0] = 0;
    DDCmpTableAttr(base_, pb, n, false, &a);
    ASSERT_EQ(pb[0], 0);
    for (const int32_t w : a.row_stats) EXPECT_EQ(w, -1);
  }

  // The table's primary key is the table's own tree; an index of no tree
  // in the kernel answers the kernel's failure.
  int32_t keys[2] = {};
  pb[0] = 0, pb[1] = admin_;
  DDNewIds(base_, pb, 2, keys);
  ASSERT_EQ(pb[0], 0);
  keys[1] = keys[0] + 1;
  DDInsConstraint(base_, pb, keys[0], 1, id, 4, 1, 16, 0, 4);
  ASSERT_EQ(pb[0], 0);
  DDInsConstraint(base_, pb, keys[1], 2, id, 4, 1, 8, 0, 4);
  ASSERT_EQ(pb[0], 0);
  DDIndexAttr k{};
  pb[0] = 1;
  DDCmpIndexAttr(base_, pb, keys[0], &k);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(k.table_id, id);
  EXPECT_TRUE(std::equal(last, last + TABSTATS_WORDS, k.row_stats));
  pb[0] = 0;
  DDCmpIndexAttr(base_, pb, keys[0], &k);
  ASSERT_EQ(pb[0], 0);
  for (const int32_t w : k.row_stats) EXPECT_EQ(w, -1);
  pb[0] = 1;
  DDCmpIndexAttr(base_, pb, keys[1], &k);
  EXPECT_EQ(pb[0], -50 - 16140);
  EXPECT_EQ(k.kind, 2);
  EXPECT_EQ(k.id, keys[1]);
  EXPECT_EQ(End(admin_, 0), 0);
}

TEST_F(StartedLookupsTest, ASessionWithoutWorkDoesNotReadAnothersOpenWork) {
  ASSERT_EQ(Begin(admin_), 0);
  MakeTable("T_NOT_YOURS");
  DDTableAttr a{};
  EXPECT_NE(Find(user_, kStartedAdmin, "T_NOT_YOURS", &a), 0);
  EXPECT_EQ(a.id, 0);
  ASSERT_EQ(End(admin_, 1), 0);
}

TEST_F(StartedLookupsTest, NamesOfNoAndOfTooManyCharacters) {
  ASSERT_EQ(Begin(admin_), 0);
  DDTableAttr a{};
  EXPECT_EQ(Find(admin_, "SYSTEM", std::string(128, 'T'), &a), DD_TABLE_NOT_FOUND);
  EXPECT_EQ(Find(admin_, std::string(128, 'S'), "TABLES", &a), DD_TABLE_NOT_FOUND);
  EXPECT_EQ(Find(admin_, "SYSTEM", std::string(129, 'T'), &a), DD_NAME_TOO_LONG);
  EXPECT_EQ(Find(admin_, std::string(129, 'S'), "TABLES", &a), DD_NAME_TOO_LONG);
  EXPECT_EQ(Find(admin_, "", "", &a), DD_TABLE_NOT_FOUND) << "by id 0";
  EXPECT_EQ(Find(admin_, "", "NO_SUCH_TABLE", &a), DD_TABLE_NOT_FOUND) << "by the path";
  DDColumnDesc d{};
  for (int32_t length : {0, -1, 129}) {
    int32_t pb[2] = {0, admin_};
    const std::string name(129, 'C');
    DDCmpColumns(base_, pb, CAT_TABLES, 0, name.data(), length, &d, nullptr, 0);
    EXPECT_EQ(pb[0], DD_NAME_TOO_LONG) << length;
  }
  int32_t pb[2] = {0, admin_};
  const std::string name(128, 'C');
  DDCmpColumns(base_, pb, CAT_TABLES, 0, name.data(), 128, &d, nullptr, 0);
  EXPECT_EQ(pb[0], 1) << "no such column";
  ASSERT_EQ(End(admin_, 0), 0);
}

// A default, a key list and a source text each cut at the caller's room,
// with nothing written behind it.
TEST_F(StartedLookupsTest, NothingIsWrittenPastTheCallersBuffers) {
  ASSERT_EQ(Begin(admin_), 0);
  const int32_t table = MakeTable("T_GUARDED");
  std::vector<uint8_t> text;
  for (int i = 0; i < 10; ++i) text.insert(text.end(), {0, 0, uint8_t('0' + i)});
  DDColumnDef c;
  c.name = "C1";
  c.name_length = 2;
  c.number = 1;
  c.type = 1;
  c.length = 20;
  c.offset = 8;
  c.byte_length = 21;
  int32_t pb[2] = {0, admin_};
  DDInsColumn(base_, pb, table, c, text.data(), 10);
  ASSERT_EQ(pb[0], 0);
  for (int32_t capacity : {0, 2, 10}) {
    std::vector<uint8_t> back(3 * 12, kGuard);
    DDColumnDesc d{};
    pb[0] = 0;
    DDCmpColumns(base_, pb, table, 0, "C1", 2, &d, back.data(), capacity);
    ASSERT_EQ(pb[0], 0) << capacity;
    EXPECT_EQ(d.default_length, 10) << capacity;
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 3 * capacity, text.begin())) << capacity;
    EXPECT_EQ(back[3 * static_cast<size_t>(capacity)], kGuard) << capacity;
  }
  std::vector<int32_t> entries(2 * DD_CI_ENTRY_WORDS, 7777);
  int32_t count = 0;
  pb[0] = 0;
  DDCmpCI(base_, pb, CAT_COLUMNS, 1, entries.data(), &count);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(entries[DD_CI_ENTRY_WORDS], 7777);
  std::vector<uint8_t> source;
  for (int i = 0; i < 900; ++i) source.insert(source.end(), {0, 0, uint8_t('a' + i % 26)});
  pb[0] = 0;
  pb[1] = admin_;  // a lookup leaves the thread's own user there
  DDInsSource(base_, pb, table, "V", 1, 2, source.data(), 900);
  ASSERT_EQ(pb[0], 0);
  for (int32_t capacity : {0, 1, 800, 850, 900}) {
    std::vector<uint8_t> back(3 * 901, kGuard);
    int32_t length = -1;
    pb[0] = 0;
    DDCmpSourceRead(base_, pb, table, "V", 1, 2, false, back.data(), capacity, &length);
    ASSERT_EQ(pb[0], 0) << capacity;
    EXPECT_EQ(length, capacity);
    EXPECT_EQ(back[3 * static_cast<size_t>(capacity)], kGuard) << capacity;
  }
  ASSERT_EQ(End(admin_, 1), 0);
}

// Refused logins on the thread leave the sessions' lookups working.
TEST_F(StartedLookupsTest, WrongLoginsAreRefusedWithoutHarm) {
  ServerDatabase* run = TheStartedDatabase().run;
  const struct {
    std::string ident, password;
  } cases[] = {{"", kStartedAdminPassword},
               {std::string(129, 'A'), kStartedAdminPassword},
               {std::string(128, 'A'), "x"},
               {kStartedAdmin, ""},
               {kStartedAdmin, std::string(200, 'p')},
               {"NO_SUCH_USER", kStartedAdminPassword}};
  int32_t number = 950;
  for (const auto& c : cases) {
    const int32_t cha = ServerNewChannel(run, ++number);
    ASSERT_NE(cha, 0);
    int32_t usr = 0;
    EXPECT_NE(ServerLogin(run, cha, c.ident, c.password, &usr), 0)
        << c.ident.size() << " " << c.password.size();
    if (usr != 0) {
      EXPECT_EQ(ServerLogout(run, usr), 0);
    }
  }
  ASSERT_EQ(Begin(admin_), 0);
  DDTableAttr a{};
  EXPECT_EQ(Find(admin_, "SYSTEM", "TABLES", &a), 0);
  EXPECT_EQ(a.id, CAT_TABLES);
  ASSERT_EQ(End(admin_, 0), 0);
}

}  // namespace

namespace {

// A session with neither dictionary work nor a transaction of its own
// (a prepare outside a transaction) finds a system table, its columns and
// a table another session committed; the lookups begin no transaction, so
// its next dictionary work begins as usual.
TEST_F(StartedLookupsTest, ALookupOutsideAnyTransactionReadsTheCommittedCatalog) {
  // A session of its own: no test before has begun anything on it.
  ServerDatabase* run = TheStartedDatabase().run;
  const int32_t cha = ServerNewChannel(run, 901);
  ASSERT_NE(cha, 0);
  int32_t alone = 0;
  ASSERT_EQ(ServerLogin(run, cha, kStartedUser, kStartedUserPassword, &alone), 0);
  ASSERT_EQ(sqlpool_word(base_, alone + USR_TP), 0);
  DDTableAttr a{};
  EXPECT_EQ(Find(alone, "SYSTEM", "TABLES", &a), 0);
  EXPECT_EQ(a.id, CAT_TABLES);
  DDColumnDesc d{};
  int32_t pb[2] = {0, alone};
  DDCmpColumns(base_, pb, CAT_TABLES, 0, "TABLE_TYPE", 10, &d, nullptr, 0);
  EXPECT_EQ(pb[0], 0);
  ASSERT_EQ(Begin(admin_), 0);
  const int32_t id = MakeTable("T_COMMITTED_BEFORE");
  EXPECT_EQ(Find(alone, kStartedAdmin, "T_COMMITTED_BEFORE", &a), DD_TABLE_NOT_FOUND);
  ASSERT_EQ(End(admin_, 0), 0);
  EXPECT_EQ(Find(alone, kStartedAdmin, "T_COMMITTED_BEFORE", &a), 0);
  EXPECT_EQ(a.id, id);
  EXPECT_EQ(sqlpool_word(base_, alone + USR_TP), 0);
  ASSERT_EQ(Begin(alone), 0);
  EXPECT_EQ(End(alone, 0), 0);
  EXPECT_EQ(ServerLogout(run, alone), 0);
}

}  // namespace
