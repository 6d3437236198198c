// The kernel's operator statements of a thread over catalog rows: the login
// and administrator check (-250), a code's severity (-252) and its message
// lines (-253), each against the rows it reads, and through the kernel's
// own callers where one runs it.
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <tuple>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dict/statement_run.h"
#include "dict/tests/lookup_fixture.h"
#include "interp/message_statements.h"
#include "kernel/catalog_queries.h"
#include "kernel/control_blocks.h"
#include "kernel/statement_columns.h"
#include "kernel/xa_branches.h"
#include "platform/packed_decimal.h"
#include "platform/password_scramble.h"

namespace {

constexpr int32_t kAdminGroupId = 301, kPublicId = 302, kAdminId = 303, kEveId = 304;

std::string Padded(const std::string& s, size_t n) { return s + std::string(n - s.size(), ' '); }

class OperatorStatementsTest : public CatalogRowsTest {
 protected:
  void SetUp() override {
    SetUpCatalog({11, 14, 15, 22, 27, 30, 32, 44, 48, 49, 50});
    if (HasFatalFailure()) return;
    kernel_services_.damae2 = [](int32_t* base, int32_t* result, int32_t stm, int32_t usr) {
      result[0] = DDExecStm(base, usr, stm);
    };
    Protocol(21);
  }

  // The seed rows of the message tables, as a created database holds them.
  void SeedMessages() {
    for (int32_t k = 0; k < kCatalogSeedRowCount; ++k) {
      const CatalogRow& row = kCatalogSeedRows[k];
      if (row.table < 48 || row.table > 50) continue;
      const CatalogTable* t = CatalogFindTable(row.table);
      std::vector<uint8_t> record(static_cast<size_t>(t->record_length));
      ASSERT_EQ(DDRowImage(row, record), 0);
      ASSERT_EQ(InsertRow(row.table, record), 0) << row.table;
    }
  }

  // An ident as the dictionary stores one, its password scrambled with its
  // name as the login scrambles it.
  void Ident(const std::string& name, int32_t id, bool user, const std::string& password) {
    int32_t pb[2] = {0, usr_};
    uint8_t scrambled[kPasswordBytes];
    Scramble(name, password, scrambled);
    DDInsIdent(base_, pb, name.data(), static_cast<int32_t>(name.size()), id, user ? 3 : 1,
               user ? scrambled : nullptr, user ? kPasswordBytes : 0);
    ASSERT_EQ(pb[0], 0) << name;
  }
  // A sequence's object row.
  int32_t InsObject(int32_t id, const std::string& schema, const std::string& name) {
    int32_t pb[2] = {0, usr_};
    DDInsObject(base_, pb, id, 14, schema.data(), static_cast<int32_t>(schema.size()), name.data(),
                static_cast<int32_t>(name.size()));
    return pb[0];
  }
  void Member(int32_t group, const std::string& grantee) {
    int32_t pb[2] = {0, usr_};
    DDInsPrivilege(base_, pb, 4, group, false, grantee.data(),
                   static_cast<int32_t>(grantee.size()), "SYSTEM", 6);
    ASSERT_EQ(pb[0], 0) << grantee;
  }
  static void Scramble(const std::string& name, const std::string& password, uint8_t* out) {
    uint8_t pw[kPasswordBytes], ident[kPasswordBytes];
    std::memset(pw, ' ', sizeof pw);
    std::memset(ident, ' ', sizeof ident);
    std::memcpy(pw, password.data(), std::min<size_t>(password.size(), sizeof pw));
    std::memcpy(ident, name.data(), std::min<size_t>(name.size(), sizeof ident));
    mdr_password_scramble_ident(out, pw, ident);
  }
  // The idents of a created database and one more user.
  void Idents() {
    ASSERT_EQ(BegWork(), 0);
    Ident("_SYSTEM_ADM", kAdminGroupId, false, "");
    Ident("PUBLIC", kPublicId, false, "");
    Ident("ADMIN", kAdminId, true, "SECRET");
    Ident("EVE", kEveId, true, "APPLE");
    Member(kAdminGroupId, "ADMIN");
    Member(kPublicId, "EVE");
    Member(kAdminGroupId, "ZOE");
    ASSERT_EQ(EndWork(0), 0);
  }

  // The thread's login statement, prepared from its image.
  int32_t LoginStatement() {
    int32_t pb[2] = {0, usr_};
    const int32_t stm = DDSlotStatement(base_, pb, 131, IMAGE_STM_MOS_IDENT);
    EXPECT_NE(stm, 0);
    return stm;
  }
  // A login as the kernel binds one: the row's id and name, or -status.
  int32_t Login(int32_t stm, const std::string& name, const std::string& password,
                std::string* ident) {
    uint8_t scrambled[kPasswordBytes];
    Scramble(name, password, scrambled);
    int32_t st = 0;
    DSSetParChar(base_, &st, stm, 1, reinterpret_cast<const uint8_t*>(name.data()), 0,
                 static_cast<int32_t>(name.size()));
    DSSetParPad(base_, &st, stm, 3, scrambled, 0, kPasswordBytes);
    DSSetParNull(base_, &st, stm, 4);
    DSSetParChar(base_, &st, stm, 6, reinterpret_cast<const uint8_t*>("node"), 0, 4);
    EXPECT_EQ(st, 0);
    int32_t pb[2] = {0, usr_};
    const int32_t rc = DDSelectRun(base_, pb, stm, true);
    if (rc != 0 || W(stm + STM_PC) == 0) return -(rc == 0 ? 100 : rc);
    int32_t id = 0;
    DSGetColInt(base_, &st, stm, 1, &id);
    uint8_t* f = nullptr;
    int32_t len = 0;
    EXPECT_EQ(StatementField(base_, stm, true, 2, &f, &len), 0);
    ident->assign(reinterpret_cast<char*>(f) + 1, static_cast<size_t>(len - 1));
    return st == 0 ? id : -st;
  }
};

TEST_F(OperatorStatementsTest, ALoginFindsTheIdentByNameAndPassword) {
  Idents();
  ASSERT_EQ(BegWork(), 0);
  const int32_t stm = LoginStatement();
  ASSERT_NE(stm, 0);
  std::string ident;
  EXPECT_EQ(Login(stm, "ADMIN", "SECRET", &ident), kAdminId);
  EXPECT_EQ(ident, Padded("ADMIN", 128));
  EXPECT_EQ(Login(stm, "EVE", "APPLE", &ident), kEveId);
  EXPECT_EQ(ident, Padded("EVE", 128));
  // A wrong password, an unknown name, a group (no password), another
  // ident's password: no row.
  struct Case {
    const char *name, *password;
  } const refused[] = {{"ADMIN", "APPLE"}, {"ADMIN", ""},       {"NOBODY", "SECRET"},
                       {"PUBLIC", ""},     {"_SYSTEM_ADM", ""}, {"EVE", "APPLEX"}};
  for (const Case& c : refused)
    EXPECT_EQ(Login(stm, c.name, c.password, &ident), -1) << c.name << "/" << c.password;
  // A row again after refusals: nothing of a refused run stays behind.
  EXPECT_EQ(Login(stm, "EVE", "APPLE", &ident), kEveId);
  EXPECT_EQ(EndWork(0), 0);
}

// The administrator check through the kernel's own DSChkAdmIdent: a row
// exactly for a MEMBER of "_SYSTEM_ADM", whatever the login ran before.
TEST_F(OperatorStatementsTest, TheKernelsAdministratorCheckAsksForMembership) {
  Idents();
  ASSERT_EQ(BegWork(), 0);
  const int32_t stm = LoginStatement();
  ASSERT_NE(stm, 0);
  W(thr_ + THR_STM_MOS_IDENT) = stm;
  auto check = [&](const std::string& name) {
    std::memcpy(&W(usr_ + USR_NAME), Padded(name, 128).data(), 128);
    return DSChkAdmIdent(base_, usr_);
  };
  EXPECT_EQ(check("ADMIN"), 0);
  EXPECT_EQ(check("EVE"), XA_NOT_ADMINISTRATOR);
  EXPECT_EQ(check("NOBODY"), XA_NOT_ADMINISTRATOR);
  EXPECT_EQ(check("ZOE"), 0);
  // A login between two checks leaves the check's answer alone.
  std::string ident;
  EXPECT_EQ(Login(stm, "EVE", "APPLE", &ident), kEveId);
  EXPECT_EQ(check("ADMIN"), 0);
  EXPECT_EQ(check("EVE"), XA_NOT_ADMINISTRATOR);
  // Without the thread's statement there is no check.
  W(thr_ + THR_STM_MOS_IDENT) = 0;
  EXPECT_EQ(check("ADMIN"), XA_NO_IDENT_STATEMENT);
  EXPECT_EQ(EndWork(0), 0);
}

// Severities and message lines of every seeded code against the generated
// message texts; a code without a message gives null columns.
TEST_F(OperatorStatementsTest, MessagesAndSeveritiesOfEveryCode) {
  ASSERT_EQ(BegWork(), 0);
  SeedMessages();
  int32_t pb[2] = {0, usr_};
  const int32_t severity = DDSlotStatement(base_, pb, 132, IMAGE_STM_MOS_SEVERITY);
  const int32_t message = DDSlotStatement(base_, pb, 133, IMAGE_STM_MOS_MESSAGE);
  ASSERT_NE(severity, 0);
  ASSERT_NE(message, 0);
  auto text = [&](int32_t stm, int32_t n) {
    uint8_t* f = nullptr;
    int32_t len = 0;
    EXPECT_EQ(StatementField(base_, stm, true, n, &f, &len), 0);
    return f[0] == 255 ? std::string("<null>")
                       : std::string(reinterpret_cast<char*>(f) + 1, static_cast<size_t>(len - 1));
  };
  auto run = [&](int32_t stm, std::vector<int32_t> params) {
    int32_t st = 0;
    for (size_t k = 0; k < params.size(); ++k)
      DSSetParInt(base_, &st, stm, static_cast<int32_t>(k) + 1, params[k]);
    EXPECT_EQ(st, 0);
    int32_t b[2] = {0, usr_};
    return DDSelectRun(base_, b, stm, true);
  };
  int32_t count = 0;
  for (const CatalogMessage* m = kCatalogMessages; m != kCatalogMessages + kCatalogMessageCount;
       ++m, ++count) {
    ASSERT_EQ(run(severity, {m->source, m->number, 0}), 0) << m->number;
    int32_t value = 0, st = 0;
    DSGetColInt(base_, &st, severity, 2, &value);
    EXPECT_EQ(value, m->severity) << m->number;
    DSGetColInt(base_, &st, severity, 3, &value);
    EXPECT_EQ(value, m->number);
    EXPECT_EQ(text(severity, 1).substr(0, 8), "ZAVOR/DB");
    EXPECT_NE(text(severity, 4), "<null>");
    for (int32_t line = 1; line <= m->line_count + 1; ++line) {
      const int32_t rc = run(message, {m->source, m->number, 0, line});
      if (line > m->line_count) {
        EXPECT_EQ(rc, 1) << m->number;
        EXPECT_EQ(text(message, 1), "<null>");
      } else {
        ASSERT_EQ(rc, 0) << m->number << " line " << line;
        EXPECT_EQ(text(message, 1), Padded(m->lines[line - 1], 80));
      }
    }
  }
  EXPECT_GT(count, 10);
  // No message of a code: 1 and null columns, after a code that had one.
  EXPECT_EQ(run(severity, {1, 12345, 0}), 1);
  EXPECT_EQ(text(severity, 1), "<null>");
  EXPECT_EQ(text(severity, 4), "<null>");
  int32_t st = 0, value = 0;
  DSGetColInt(base_, &st, severity, 2, &value);
  EXPECT_NE(st, 0);
  EXPECT_EQ(run(message, {2, -19078, 0, 1}), 1);
  EXPECT_EQ(EndWork(0), 0);
}


// A databank file row of the model: what the statement hands back of it.
struct DatabankFile {
  int32_t lid, seqno;
  std::string name, file, letter, copy, owner, offline;
};

// The databank statement against a model of table 15: random files of a
// few logical ids, every file of each id in the order of their ids, or the
// one of a sequence number; and through the kernel's DSGetObjectName.
TEST_F(OperatorStatementsTest, TheFilesOfADatabankAgainstAModel) {
  std::mt19937 random(15);
  std::map<int32_t, DatabankFile> model;  // by databank id
  ASSERT_EQ(BegWork(), 0);
  for (int32_t n = 0; n < 40; ++n) {
    const int32_t id = static_cast<int32_t>(random() % 500) + 1;
    if (model.count(id) != 0) continue;
    DatabankFile f{static_cast<int32_t>(random() % 5) + 1, static_cast<int32_t>(random() % 4) + 1,
                   "DB" + std::to_string(id), "f" + std::to_string(id) + ".dbf",
                   std::string(1, "NTLWS"[random() % 5]), random() % 2 ? "Y" : "N", "OWNER",
                   random() % 3 ? "N" : "Y"};
    const CatalogValue row[] = {{DATABANKS_DATABANK_ID, 0, id, nullptr},
                                {DATABANKS_SEQUENCE_NO, 0, f.seqno, nullptr},
                                {DATABANKS_LOGICAL_ID, 0, f.lid, nullptr},
                                {DATABANKS_DATABANK_NAME, 1, 0, f.name.c_str()},
                                {DATABANKS_DATABANK_OWNER, 1, 0, f.owner.c_str()},
                                {DATABANKS_FILE_NAME, 1, 0, f.file.c_str()},
                                {DATABANKS_TRANS_OPTION, 1, 0, "TRANS"},
                                {DATABANKS_DATABANK_TYPE, 1, 0, f.letter.c_str()},
                                {DATABANKS_SECOND_FLAG, 1, 0, f.copy.c_str()},
                                {DATABANKS_OFFLINE_FLAG, 1, 0, f.offline.c_str()}};
    ASSERT_EQ(InsertValues(CAT_DATABANKS, row), 0);
    model[id] = f;
  }
  // Committed: the kernel reads them under the thread's own session.
  ASSERT_EQ(EndWork(0), 0);
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_};
  const int32_t stm = DDSlotStatement(base_, pb, 131, IMAGE_STM_MOS_DATABANK);
  ASSERT_NE(stm, 0);
  auto text = [&](int32_t n) {
    uint8_t* f = nullptr;
    int32_t len = 0;
    EXPECT_EQ(StatementField(base_, stm, true, n, &f, &len), 0);
    std::string s(reinterpret_cast<char*>(f) + 1, static_cast<size_t>(len - 1));
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return f[0] == 255 ? std::string("<null>") : s;
  };
  auto number = [&](int32_t n) {
    int32_t st = 0, v = 0;
    DSGetColInt(base_, &st, stm, n, &v);
    EXPECT_EQ(st, 0) << n;
    return v;
  };
  // Every row handed back, in order, as the kernel's open reads them.
  auto rows = [&](int32_t lid, int32_t seqno) {
    int32_t st = 0;
    DSSetParInt(base_, &st, stm, 1, lid);
    if (seqno == 0)
      DSSetParNull(base_, &st, stm, 2);
    else
      DSSetParInt(base_, &st, stm, 2, seqno);
    EXPECT_EQ(st, 0);
    std::vector<std::string> got;
    for (bool first = true; got.size() < 100; first = false) {
      int32_t b[2] = {0, usr_};
      const int32_t rc = DDSelectRun(base_, b, stm, first);
      if (rc != 0 || W(stm + STM_PC) == 0) {
        EXPECT_EQ(rc, 1);
        break;
      }
      EXPECT_EQ(number(4), 0);
      EXPECT_EQ(text(9), "TRANS");
      got.push_back(text(1) + "|" + std::to_string(number(2)) + "|" + text(3) + "|" + text(5) +
                    "|" + text(6) + "|" + text(7) + "|" + text(8));
    }
    return got;
  };
  for (int32_t lid = 0; lid <= 6; ++lid)
    for (int32_t seqno = 0; seqno <= 4; ++seqno) {
      std::vector<std::string> want;
      for (const auto& [id, f] : model)
        if (f.lid == lid && (seqno == 0 || f.seqno == seqno))
          want.push_back(f.name + "|" + std::to_string(f.seqno) + "|" + f.file + "|" + f.letter +
                         "|" + f.copy + "|" + f.owner + "|" + f.offline);
      EXPECT_EQ(rows(lid, seqno), want) << lid << "/" << seqno;
    }
  // The kernel's names of a databank: its first file's row.
  W(thr_ + THR_STM_MOS_DATABANK) = stm;
  for (int32_t lid = 1; lid <= 6; ++lid) {
    uint8_t names[OBJECT_NAME_BYTES];
    const DatabankFile* first = nullptr;
    for (const auto& [id, f] : model)
      if (f.lid == lid && first == nullptr) first = &f;
    const int32_t rc = DSGetObjectName(base_, -1, lid, names, sizeof names);
    if (first == nullptr) {
      EXPECT_EQ(rc, NAME_NOT_FOUND) << lid;
      continue;
    }
    ASSERT_EQ(rc, 0) << lid;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(names), 128), Padded(first->name, 128));
    std::string file(reinterpret_cast<char*>(names) + 128, first->file.size());
    EXPECT_EQ(file, first->file);
  }
  W(thr_ + THR_STM_MOS_DATABANK) = 0;
  EXPECT_EQ(EndWork(0), 0);
}

// Column names by table id and column number against a model of table 22,
// through the kernel's DSGetColumnName; a missing column gives 1 and
// blanks, whatever the run before found.
TEST_F(OperatorStatementsTest, ColumnNamesThroughTheKernel) {
  std::mt19937 random(22);
  std::map<std::pair<int32_t, int32_t>, std::string> model;
  ASSERT_EQ(BegWork(), 0);
  for (int32_t n = 0; n < 60; ++n) {
    const int32_t table = static_cast<int32_t>(random() % 4) + 900;
    const int32_t number = static_cast<int32_t>(random() % 12) + 1;
    if (model.count({table, number}) != 0) continue;
    const std::string name = "C" + std::to_string(random() % 1000) + "_" + std::to_string(number);
    const CatalogValue row[] = {{COLUMNS_TABLE_ID, 0, table, nullptr},
                                {COLUMNS_COLUMN_NAME, 1, 0, name.c_str()},
                                {COLUMNS_COLUMN_ID, 0, number, nullptr}};
    ASSERT_EQ(InsertValues(CAT_COLUMNS, row), 0);
    model[{table, number}] = name;
  }
  ASSERT_EQ(EndWork(0), 0);
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_};
  const int32_t stm = DDSlotStatement(base_, pb, 131, IMAGE_STM_MOS_COLUMN);
  ASSERT_NE(stm, 0);
  W(thr_ + THR_STM_MOS_COLUMN) = stm;
  for (int32_t table = 899; table <= 904; ++table)
    for (int32_t number = 0; number <= 13; ++number) {
      int32_t request[4] = {0, usr_, table, number};
      uint8_t name[COLUMN_NAME_BYTES];
      DSGetColumnName(base_, request, name);
      const auto it = model.find({table, number});
      EXPECT_EQ(request[COLREQ_STATUS], it == model.end() ? 1 : 0) << table << "/" << number;
      EXPECT_EQ(std::string(reinterpret_cast<char*>(name), COLUMN_NAME_BYTES),
                Padded(it == model.end() ? "" : it->second, COLUMN_NAME_BYTES))
          << table << "/" << number;
    }
  W(thr_ + THR_STM_MOS_COLUMN) = 0;
  EXPECT_EQ(EndWork(0), 0);
}

// A databank's ids by its name: one row for a name of the catalog,
// -12523 for another, among names that share a prefix.
TEST_F(OperatorStatementsTest, ADatabankByItsName) {
  ASSERT_EQ(BegWork(), 0);
  const std::vector<std::tuple<int32_t, int32_t, std::string>> banks = {
      {1, 1, "SYSDB"}, {5, 2, "TRANSDB"}, {9, 7, "SALES"}, {10, 8, "SALES2"}};
  for (const auto& [id, lid, name] : banks) {
    const CatalogValue row[] = {{DATABANKS_DATABANK_ID, 0, id, nullptr},
                                {DATABANKS_LOGICAL_ID, 0, lid, nullptr},
                                {DATABANKS_DATABANK_NAME, 1, 0, name.c_str()}};
    ASSERT_EQ(InsertValues(CAT_DATABANKS, row), 0);
  }
  int32_t pb[2] = {0, usr_};
  const int32_t stm = DDSlotStatement(base_, pb, 131, IMAGE_STM_MOS_DBSIZE);
  ASSERT_NE(stm, 0);
  auto run = [&](const std::string& name, int32_t* lid, int32_t* id) {
    int32_t st = 0;
    DSSetParChar(base_, &st, stm, 1, reinterpret_cast<const uint8_t*>(name.data()), 0,
                 static_cast<int32_t>(name.size()));
    EXPECT_EQ(st, 0);
    int32_t b[2] = {0, usr_};
    const int32_t rc = DDSelectRun(base_, b, stm, true);
    if (rc == 0) {
      DSGetColInt(base_, &st, stm, 1, lid);
      DSGetColInt(base_, &st, stm, 2, id);
      EXPECT_EQ(st, 0);
    }
    return rc;
  };
  for (const auto& [id, lid, name] : banks) {
    int32_t got_lid = 0, got_id = 0;
    ASSERT_EQ(run(name, &got_lid, &got_id), 0) << name;
    EXPECT_EQ(got_lid, lid);
    EXPECT_EQ(got_id, id);
  }
  int32_t lid = 0, id = 0;
  for (const char* name : {"SALES1", "SALE", "", "LOGDB"}) EXPECT_EQ(run(name, &lid, &id), -12523);
  EXPECT_EQ(EndWork(0), 0);
}

// Sequence values by id against a model of tables 32 and 11: a sequence
// without its object row gives null names, an unknown id 1 and null
// columns are not left from the run before.
TEST_F(OperatorStatementsTest, SequenceValuesAgainstAModel) {
  struct Sequence {
    int32_t current, increment, minimum, maximum, block_end;
    std::string cycle, schema, name;
  };
  std::mt19937 random(32);
  std::map<int32_t, Sequence> model;
  ASSERT_EQ(BegWork(), 0);
  for (int32_t n = 0; n < 30; ++n) {
    const int32_t id = static_cast<int32_t>(random() % 100) + 700;
    if (model.count(id) != 0) continue;
    const int32_t current = static_cast<int32_t>(random() % 100000);
    Sequence q{current, static_cast<int32_t>(random() % 9) + 1, 1, 2147483647,
               current + static_cast<int32_t>(random() % 50), random() % 2 ? "YES" : "NO",
               "", ""};
    const CatalogValue row[] = {{SEQUENCES_SEQUENCE_ID, 0, id, nullptr},
                                {SEQUENCES_INCREMENT, 0, q.increment, nullptr},
                                {SEQUENCES_CURRENT_VALUE, 0, q.current, nullptr},
                                {SEQUENCES_MINIMUM_VALUE, 0, q.minimum, nullptr},
                                {SEQUENCES_MAXIMUM_VALUE, 0, q.maximum, nullptr},
                                {SEQUENCES_CYCLE_OPTION, 1, 0, q.cycle.c_str()},
                                {SEQUENCES_BLOCK_END, 0, q.block_end, nullptr}};
    ASSERT_EQ(InsertValues(CAT_SEQUENCES, row), 0);
    if (random() % 4 != 0) {
      q.schema = "S" + std::to_string(id % 3);
      q.name = "SEQ" + std::to_string(id);
      ASSERT_EQ(InsObject(id, q.schema, q.name), 0);
    }
    model[id] = q;
  }
  int32_t pb[2] = {0, usr_};
  const int32_t stm = DDSlotStatement(base_, pb, 131, IMAGE_STM_MOS_SEQUENCE);
  ASSERT_NE(stm, 0);
  auto text = [&](int32_t n) {
    uint8_t* f = nullptr;
    int32_t len = 0;
    EXPECT_EQ(StatementField(base_, stm, true, n, &f, &len), 0);
    std::string s(reinterpret_cast<char*>(f) + 1, static_cast<size_t>(len - 1));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return f[0] == 255 ? std::string("<null>") : s;
  };
  auto number = [&](int32_t n) {
    int32_t st = 0, v = 0;
    DSGetColInt(base_, &st, stm, n, &v);
    return st == 0 ? v : -1;
  };
  for (int32_t id = 699; id <= 800; ++id) {
    int32_t st = 0;
    DSSetParInt(base_, &st, stm, 1, id);
    int32_t b[2] = {0, usr_};
    const int32_t rc = DDSelectRun(base_, b, stm, true);
    const auto it = model.find(id);
    if (it == model.end()) {
      EXPECT_EQ(rc, 1) << id;
      continue;
    }
    ASSERT_EQ(rc, 0) << id;
    const Sequence& q = it->second;
    EXPECT_EQ((std::vector<int32_t>{number(1), number(2), number(3), number(4), number(6)}),
              (std::vector<int32_t>{q.current, q.increment, q.minimum, q.maximum, q.block_end}))
        << id;
    EXPECT_EQ(text(5), q.cycle);
    EXPECT_EQ(text(7), q.name.empty() ? "<null>" : q.schema) << id;
    EXPECT_EQ(text(8), q.name.empty() ? "<null>" : q.name) << id;
  }
  EXPECT_EQ(EndWork(0), 0);
}

// The kernel's name look-up of kinds below -2 through the real
// DSGetObjectName over STM_MOS_DOMAIN (-246) in the thread's slot: an object
// of the id as -3 and -4, a routine or trigger as -7 too, a routine's
// specific name as -8; an id without them gives 1.
TEST_F(OperatorStatementsTest, ObjectNamesOfTheOtherKindsThroughTheKernel) {
  ASSERT_EQ(BegWork(), 0);
  struct Object {
    int32_t id, kind;
    const char* schema;
    const char* name;
  } objects[] = {{800, 2, "S", "DOM"}, {801, 11, "S", "PROC"}, {802, 13, "T", "TRG"},
                 {803, 6, "T", "TAB"}};
  for (const Object& o : objects) {
    int32_t pb[2] = {0, usr_};
    DDInsObject(base_, pb, o.id, o.kind, o.schema, 1, o.name, static_cast<int32_t>(std::strlen(o.name)));
    ASSERT_EQ(pb[0], 0);
  }
  for (int32_t id : {801, 804}) {  // 804: a specific name without object row
    int32_t pb[2] = {0, usr_};
    const std::string specific = "SPEC_" + std::to_string(id);
    DDInsRoutineName(base_, pb, id, "PROC", 4, specific.c_str(), 8);
    ASSERT_EQ(pb[0], 0);
  }
  ASSERT_EQ(EndWork(0), 0);
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_};
  const int32_t stm = DDSlotStatement(base_, pb, 131, IMAGE_STM_MOS_DOMAIN);
  ASSERT_NE(stm, 0);
  W(thr_ + THR_STM_MOS_DOMAIN) = stm;
  auto names = [&](int32_t kind, int32_t id, std::string* first, std::string* second) {
    uint8_t area[OBJECT_NAME_BYTES];
    std::memset(area, '?', sizeof area);
    const int32_t rc = DSGetObjectName(base_, kind, id, area, sizeof area);
    auto trim = [](std::string t) {
      while (!t.empty() && t.back() == ' ') t.pop_back();
      return t;
    };
    *first = trim(std::string(reinterpret_cast<char*>(area), 128));
    *second = trim(std::string(reinterpret_cast<char*>(area) + 128, 128));
    return rc;
  };
  struct Case {
    int32_t kind, id, status;
    const char* first;
    const char* second;
  } cases[] = {{-3, 800, 0, "S", "DOM"},  {-4, 800, 0, "S", "DOM"},  {-7, 800, 1, "", ""},
               {-3, 803, 0, "T", "TAB"},  {-7, 801, 0, "S", "PROC"}, {-7, 802, 0, "T", "TRG"},
               {-8, 801, 0, "S", "SPEC_801"}, {-8, 804, 0, "", "SPEC_804"},
               {-8, 800, 1, "", ""},       {-3, 805, 1, "", ""},       {-5, 800, 1, "", ""}};
  for (const Case& c : cases) {
    std::string first, second;
    EXPECT_EQ(names(c.kind, c.id, &first, &second), c.status) << c.kind << "/" << c.id;
    if (c.status != 0) continue;
    EXPECT_EQ(first, c.first) << c.kind << "/" << c.id;
    EXPECT_EQ(second, c.second) << c.kind << "/" << c.id;
  }
  W(thr_ + THR_STM_MOS_DOMAIN) = 0;
  EXPECT_EQ(EndWork(0), 0);
}

// The sequence write-back (-245): the current value and block end of the
// row of the id; 1 for an id without a row.
TEST_F(OperatorStatementsTest, ASequenceIsWrittenBackByItsId) {
  ASSERT_EQ(BegWork(), 0);
  const CatalogValue row[] = {{SEQUENCES_SEQUENCE_ID, 0, 700, nullptr},
                              {SEQUENCES_INCREMENT, 0, 3, nullptr},
                              {SEQUENCES_CURRENT_VALUE, 0, 10, nullptr},
                              {SEQUENCES_BLOCK_END, 0, 10, nullptr}};
  ASSERT_EQ(InsertValues(CAT_SEQUENCES, row), 0);
  int32_t pb[2] = {0, usr_};
  const int32_t stm = DDSlotStatement(base_, pb, 131, IMAGE_STM_MOS_UPDSEQ);
  ASSERT_NE(stm, 0);
  auto write = [&](int32_t id, int32_t current, int32_t end) {
    int32_t st = 0;
    DSSetParInt(base_, &st, stm, 1, id);
    DSSetParInt(base_, &st, stm, 2, current);
    DSSetParInt(base_, &st, stm, 3, 0);
    DSSetParInt(base_, &st, stm, 4, end);
    EXPECT_EQ(st, 0);
    int32_t b[2] = {0, usr_};
    return DDSelectRun(base_, b, stm, true);
  };
  EXPECT_EQ(write(700, 40, 3040), 0);
  EXPECT_EQ(write(701, 40, 3040), 1);
  const CatalogValue key[] = {{SEQUENCES_SEQUENCE_ID, 0, 700, nullptr}};
  std::vector<uint8_t> got;
  ASSERT_EQ(ReadRow(CAT_SEQUENCES, key, &got), 0);
  auto value = [&](int32_t offset) {
    int32_t v = 0;
    EXPECT_EQ(decimal_to_int(&v, ConstByteSpan(got.data(), got.size()), {offset, 11, 0, 0}),
              kDecimalOk);
    return v;
  };
  EXPECT_EQ(value(SEQUENCES_CURRENT_VALUE), 40);
  EXPECT_EQ(value(SEQUENCES_BLOCK_END), 3040);
  EXPECT_EQ(value(SEQUENCES_INCREMENT), 3);
  EXPECT_EQ(EndWork(0), 0);
}

// The request interface's catalog queries (-205 to -209) against the rows
// written.
TEST_F(OperatorStatementsTest, TheRequestInterfacesCatalogQueries) {
  ASSERT_EQ(BegWork(), 0);
  for (auto [id, kind, schema, name] :
       {std::tuple{900, 6, "S", "T1"}, std::tuple{901, 7, "S", "T1"}, std::tuple{902, 6, "R", "T1"},
        std::tuple{903, 6, "R", "T2"}}) {
    int32_t pb[2] = {0, usr_};
    DDInsObject(base_, pb, id, kind, schema, 1, name, 2);
    ASSERT_EQ(pb[0], 0);
  }
  for (auto [number, name] : {std::pair{1, "A"}, std::pair{2, "B"}}) {
    const CatalogValue row[] = {{COLUMNS_TABLE_ID, 0, 900, nullptr},
                                {COLUMNS_COLUMN_NAME, 1, 0, name},
                                {COLUMNS_COLUMN_ID, 0, number, nullptr},
                                {COLUMNS_ORDINAL_POSITION, 0, number, nullptr},
                                {COLUMNS_DATA_TYPE, 1, 0, "INTEGER"},
                                {COLUMNS_BYTE_OFFSET, 0, 7 * number, nullptr},
                                {COLUMNS_BYTE_LENGTH, 0, 7, nullptr}};
    ASSERT_EQ(InsertValues(CAT_COLUMNS, row), 0);
  }
  const CatalogValue info[] = {{CATALOG_INFO_INFO_NAME, 1, 0, "CATALOG VERSION"},
                               {CATALOG_INFO_INFO_VALUE, 1, 0, "01.00.00"}};
  ASSERT_EQ(InsertValues(44, info), 0);
  int32_t pb[2] = {0, usr_};
  auto text = [&](int32_t stm, int32_t n) {
    uint8_t* f = nullptr;
    int32_t len = 0;
    EXPECT_EQ(StatementField(base_, stm, true, n, &f, &len), 0);
    std::string t(reinterpret_cast<char*>(f) + 1, static_cast<size_t>(len - 1));
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return t;
  };
  auto number = [&](int32_t stm, int32_t n) {
    int32_t st = 0, v = 0;
    DSGetColInt(base_, &st, stm, n, &v);
    return st == 0 ? v : -1;
  };
  // Each run's rows, as the request reads them: (columns...) per row.
  auto rows = [&](int32_t stm, auto row) {
    std::vector<std::string> got;
    int32_t b[2] = {0, usr_};
    for (int32_t rc = DDSelectRun(base_, b, stm, true); rc == 0 && W(stm + STM_PC) != 0 && got.size() < 20;
         rc = DDSelectRun(base_, b, stm, false))
      got.push_back(row());
    return got;
  };
  using V = std::vector<std::string>;
  const int32_t relogin = DDSlotStatement(base_, pb, 131, IMAGE_STM_RQ_RELOGIN);
  ASSERT_NE(relogin, 0);
  EXPECT_EQ(rows(relogin, [&] { return text(relogin, 1) + "=" + text(relogin, 2); }),
            (V{"CATALOG VERSION=01.00.00"}));
  const int32_t column = DDSlotStatement(base_, pb, 132, IMAGE_STM_RQ_COLUMN);
  const int32_t column_name = DDSlotStatement(base_, pb, 133, IMAGE_STM_RQ_COLUMN_NAME);
  const int32_t objects = DDSlotStatement(base_, pb, 134, IMAGE_STM_RQ_OBJECTS);
  const int32_t object = DDSlotStatement(base_, pb, 135, IMAGE_STM_RQ_OBJECT);
  ASSERT_TRUE(column != 0 && column_name != 0 && objects != 0 && object != 0);
  for (auto [table, name, want] : {std::tuple{900, "B", "2 2 INTEGER 14 7"}, std::tuple{900, "C", ""},
                                   std::tuple{901, "A", ""}}) {
    int32_t st = 0;
    DSSetParInt(base_, &st, column, 1, table);
    DSSetParChar(base_, &st, column, 2, reinterpret_cast<const uint8_t*>(name), 0, 1);
    ASSERT_EQ(st, 0);
    const V got = rows(column, [&] {
      return std::to_string(number(column, 1)) + " " + std::to_string(number(column, 2)) + " " +
             text(column, 3) + " " + std::to_string(number(column, 4)) + " " +
             std::to_string(number(column, 5));
    });
    EXPECT_EQ(got, *want ? V{want} : V{}) << name;
  }
  for (auto [table, n, want] : {std::tuple{900, 1, "A"}, std::tuple{900, 2, "B"}, std::tuple{900, 3, ""}}) {
    int32_t st = 0;
    DSSetParInt(base_, &st, column_name, 1, table);
    DSSetParInt(base_, &st, column_name, 2, n);
    ASSERT_EQ(st, 0);
    EXPECT_EQ(rows(column_name, [&] { return text(column_name, 1); }), *want ? V{want} : V{}) << n;
  }
  for (auto [name, kind, want] : {std::tuple{"T1", "BASE TABLE", V{"902 R T1", "900 S T1"}},
                                  std::tuple{"T1", "VIEW", V{"901 S T1"}},
                                  std::tuple{"T3", "BASE TABLE", V{}}}) {
    int32_t st = 0;
    DSSetParChar(base_, &st, objects, 1, reinterpret_cast<const uint8_t*>(name), 0, 2);
    DSSetParChar(base_, &st, objects, 2, reinterpret_cast<const uint8_t*>(kind), 0,
                 static_cast<int32_t>(std::strlen(kind)));
    ASSERT_EQ(st, 0);
    EXPECT_EQ(rows(objects, [&] {
                return std::to_string(number(objects, 1)) + " " + text(objects, 2) + " " + text(objects, 3);
              }),
              want)
        << name << kind;
  }
  for (auto [id, want] : {std::pair{903, "903 BASE TABLE R T2"}, std::pair{904, ""}}) {
    int32_t st = 0;
    DSSetParInt(base_, &st, object, 1, id);
    ASSERT_EQ(st, 0);
    EXPECT_EQ(rows(object, [&] {
                return std::to_string(number(object, 1)) + " " + text(object, 2) + " " +
                       text(object, 3) + " " + text(object, 4);
              }),
              *want ? V{want} : V{})
        << id;
  }
  EXPECT_EQ(EndWork(1), 0);
}

}  // namespace
