// The level-2 interface's catalog reads over the catalog's own rows and
// rows the dictionary writes: a table by its 18-character names, a user's
// six privileges, the column cursor, and errors mapped into reply codes.
#include <cstring>
#include <string>
#include <vector>

#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/level2.h"
#include "dict/row_image.h"
#include "dict/tests/lookup_fixture.h"
#include "kernel/tests/statement_fixture.h"
#include "platform/thread_slots.h"

namespace {

std::string Name18(const std::string& s) {
  std::string n = s;
  n.resize(DD_LV2_NAME, ' ');
  return n;
}

// The request interface's mapping, as far as these tests need it.
int32_t MapError(int32_t* reply) {
  reply[0] = reply[0] == -18515 ? -91 : -84;
  return reply[1];
}

class Level2Test : public LookupTest {
 protected:
  void SetUp() override {
    LookupTest::SetUp();
    if (HasFatalFailure()) return;
    services_ = *DDInstallUpperServices(nullptr);
    services_.map_error_code = MapError;
    DDInstallUpperServices(&services_);
  }
  DDUpperServices services_{};
};

TEST_F(Level2Test, ATableByItsEighteenCharacterNames) {
  ASSERT_EQ(BegWork(), 0);
  DDLv2Table t{};
  int32_t flag = -5, reply[2] = {};
  int32_t pb[2] = {0, usr_};
  DDLv2Tab(base_, pb, Name18("SYSTEM").data(), Name18("TABLES").data(), &t, &flag, reply);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(t.id, CAT_TABLES);
  EXPECT_EQ(std::string(t.kind, 10), "BASE TABLE");
  EXPECT_EQ(std::string(t.name, 6), "TABLES");
  pb[1] = usr_;
  DDLv2Tab(base_, pb, Name18("SYSTEM").data(), Name18("NOPE").data(), &t, &flag, reply);
  EXPECT_EQ(flag, 0);
  // A name of 18 blanks goes with length 0.
  pb[1] = usr_;
  DDLv2Tab(base_, pb, Name18("").data(), Name18("TABLES").data(), &t, &flag, reply);
  EXPECT_EQ(flag, 0);
  bool null = true;
  EXPECT_EQ(ParameterInt(base_, W(thr_ + THR_STM_LV2_TABDL2), 2, &null), 0);
  EXPECT_FALSE(null);
  EXPECT_EQ(ParameterInt(base_, W(thr_ + THR_STM_LV2_TABDL2), 4, &null), 6);
  ASSERT_EQ(EndWork(1), 0);
}

TEST_F(Level2Test, AUsersSixPrivileges) {
  ASSERT_EQ(BegWork(), 0);
  char flags[7] = "??????";
  int32_t flag = -5, reply[2] = {};
  int32_t pb[2] = {0, usr_};
  DDLv2Acc(base_, pb, 700, Name18("EVE").data(), flags, &flag, reply);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(std::string(flags, 6), "NNNNNN");
  struct Grant {
    int32_t privilege;
    const char* grantee;
  } grants[] = {{1, "EVE"}, {4, "PUBLIC"}, {6, "EVE"}, {2, "BOB"}, {3, "BOB"}};
  for (const Grant& g : grants) {
    int32_t b[2] = {0, usr_};
    DDInsTablePriv(base_, b, 700, g.privilege, g.grantee,
                   static_cast<int32_t>(std::strlen(g.grantee)), "ADAM", 4, false, false);
    ASSERT_EQ(b[0], 0);
  }
  struct Case {
    const char* user;
    const char* flags;
  } cases[] = {{"EVE", "YNNYNY"}, {"BOB", "NYYYNN"}, {"ANN", "NNNYNN"}};
  for (const Case& c : cases) {
    pb[1] = usr_;
    DDLv2Acc(base_, pb, 700, Name18(c.user).data(), flags, &flag, reply);
    EXPECT_EQ(flag, 1) << c.user;
    EXPECT_EQ(std::string(flags, 6), c.flags) << c.user;
  }
  pb[1] = usr_;
  DDLv2Acc(base_, pb, 701, Name18("EVE").data(), flags, &flag, reply);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(std::string(flags, 6), "NNNNNN");
  ASSERT_EQ(EndWork(1), 0);
}

// The cursor delivers the columns in the order of their numbers; a
// non-zero flag goes on without setting the table again.
TEST_F(Level2Test, TheColumnCursor) {
  ASSERT_EQ(BegWork(), 0);
  const CatalogTable* t = CatalogFindTable(CAT_TABLES);
  std::vector<std::string> names;
  int32_t flag = 0, reply[2] = {};
  DDLv2Column col{};
  for (int32_t table = CAT_TABLES; names.size() < 20; table = CAT_COLUMNS) {
    int32_t pb[2] = {0, usr_};
    DDLv2Col(base_, pb, table, &col, &flag, reply);
    if (flag != 1) break;
    const CatalogColumn& want = kCatalogColumns[t->first_column + names.size()];
    EXPECT_EQ(DDTrimmed(std::string_view(col.name, DD_LV2_NAME)), want.name);
    EXPECT_EQ(col.offset, want.offset);
    EXPECT_EQ(col.type, want.form == CATALOG_INT ? 7 : want.form == CATALOG_CHAR ? 1 : -1);
    names.push_back(std::string(col.name, DD_LV2_NAME));
  }
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(static_cast<int32_t>(names.size()), t->column_count);
  ASSERT_EQ(EndWork(1), 0);
}

TEST_F(Level2Test, AnErrorGivesFlagMinusOneAndTheMappedReply) {
  StatusPair st{};
  mdr_tls_set(&st, 0, TLS_SLOT_THR);
  DDLv2Table t{};
  int32_t flag = 0, reply[2] = {};
  int32_t pb[2] = {0, usr_};
  DDLv2Tab(base_, pb, Name18("SYSTEM").data(), Name18("TABLES").data(), &t, &flag, reply);
  EXPECT_EQ(flag, -1);
  EXPECT_EQ(reply[0], -91);
  EXPECT_EQ(reply[1], DD_NO_THREAD_BLOCK);
  // Without the request interface's mapping: the absent service's answer.
  services_.map_error_code = nullptr;
  pb[1] = usr_;
  DDLv2Tab(base_, pb, Name18("SYSTEM").data(), Name18("TABLES").data(), &t, &flag, reply);
  EXPECT_EQ(flag, -1);
  EXPECT_EQ(reply[0], DD_SERVICE_ABSENT);
  EXPECT_EQ(reply[1], DD_NO_THREAD_BLOCK);
  mdr_tls_set(&st, thr_, TLS_SLOT_THR);
}

// Search conditions written and read back in the order of their places:
// the user's value stored as "-USER-", no value as 64 blanks.
TEST_F(Level2Test, SearchConditionsReadBackInOrder) {
  ASSERT_EQ(BegWork(), 0);
  struct Cond {
    int32_t position, connective, op;
    const char* value;
    int32_t length;
    const char* stored;
  } conds[] = {{3, 2, 12, "", 0, ""},
               {1, 1, 1, "", -2, "-USER-"},
               {2, 1, 7, "ABCDEFG", 5, "ABCDE"},
               {4, 2, 6, "", 0, ""}};
  std::string full(64, 'Z');
  for (const Cond& c : conds) {
    int32_t pb[2] = {0, usr_};
    DDInsLv2Cond(base_, pb, 900, c.position, c.connective, c.op, c.value, c.length);
    ASSERT_EQ(pb[0], 0) << c.position;
    DDInsLv2Cond2(base_, pb, 901, c.position, c.connective, 10 * c.position, 1, c.op, c.value,
                  c.length);
    ASSERT_EQ(pb[0], 0) << c.position;
  }
  struct Bad {
    int32_t position, connective, op, length, status;
  } bad[] = {{5, 3, 1, 0, DD_KIND_OUTSIDE}, {5, 1, 13, 0, DD_KIND_OUTSIDE},
             {5, 1, 0, 0, DD_KIND_OUTSIDE}, {5, 1, 1, -1, DD_BAD_VALUE},
             {5, 1, 1, 65, DD_BAD_VALUE},   {1000, 1, 1, 0, DD_BAD_VALUE},
             {1, 1, 1, 0, 2}};
  for (const Bad& b : bad) {
    int32_t pb[2] = {0, usr_};
    DDInsLv2Cond(base_, pb, 900, b.position, b.connective, b.op, full.data(), b.length);
    EXPECT_EQ(pb[0], b.status) << b.position << " " << b.connective << " " << b.op;
  }
  for (int32_t form = 1; form <= 2; ++form) {
    int32_t flag = 0, reply[2] = {};
    int32_t expected_position = 1;
    for (;; ++expected_position) {
      DDLv2Condition d{};
      int32_t pb[2] = {0, usr_};
      if (form == 1)
        DDLv2Dre(base_, pb, 900, &d, &flag, reply);
      else
        DDLv2Vre(base_, pb, 901, &d, &flag, reply);
      if (flag != 1) break;
      const Cond* c = nullptr;
      for (const Cond& x : conds)
        if (x.position == expected_position) c = &x;
      ASSERT_NE(c, nullptr);
      EXPECT_EQ(d.connective, c->connective);
      EXPECT_EQ(d.op, c->op);
      EXPECT_EQ(d.length, c->length);
      EXPECT_EQ(d.first, form == 2 ? 10 * c->position : 0);
      std::string stored = c->stored;
      stored.resize(64, ' ');
      EXPECT_EQ(std::string(d.value, 64), stored);
    }
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(expected_position, 5) << form;
  }
  ASSERT_EQ(EndWork(1), 0);
}

// A databank by name, a table's integers, the column UPDATE privilege and
// a key's columns.
TEST_F(Level2Test, DatabanksTablesKeysAndTheUpdatePrivilege) {
  ASSERT_EQ(BegWork(), 0);
  int32_t flag = -5, reply[2] = {}, id = 0;
  int32_t pb[2] = {0, usr_};
  DDLv2Dtb(base_, pb, Name18("SYSDB").data(), &id, &flag, reply);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(id, 1);
  pb[1] = usr_;
  DDLv2Dtb(base_, pb, Name18("NODB").data(), &id, &flag, reply);
  EXPECT_EQ(flag, 0);
  const CatalogTable* t = CatalogFindTable(CAT_COLUMNS);
  int32_t values[3] = {};
  pb[1] = usr_;
  DDLv2Tbx(base_, pb, CAT_COLUMNS, values, &flag, reply);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(values[0], t->key_length);
  EXPECT_EQ(values[1], t->record_length);
  EXPECT_EQ(values[2], t->constraint_id);
  pb[1] = usr_;
  DDLv2Tbx(base_, pb, 4242, values, &flag, reply);
  EXPECT_EQ(flag, 0);
  // UPDATE on column 2 (COLUMN_NAME) of table 22 for EVE, on 3 for PUBLIC.
  pb[1] = usr_;
  DDInsColumnPriv(base_, pb, CAT_COLUMNS, 4, "COLUMN_NAME", 11, "EVE", 3, "ADAM", 4, false);
  ASSERT_EQ(pb[0], 0);
  DDInsColumnPriv(base_, pb, CAT_COLUMNS, 4, "COLUMN_ID", 9, "PUBLIC", 6, "ADAM", 4, false);
  ASSERT_EQ(pb[0], 0);
  struct Case {
    int32_t column;
    const char* user;
    int32_t flag;
  } cases[] = {{2, "EVE", 1}, {2, "BOB", 0}, {3, "BOB", 1}, {1, "EVE", 0}, {99, "EVE", 0}};
  for (const Case& c : cases) {
    pb[1] = usr_;
    DDLv2Upd(base_, pb, CAT_COLUMNS, c.column, Name18(c.user).data(), &flag, reply);
    EXPECT_EQ(flag, c.flag) << c.column << c.user;
  }
  // The columns of index 80: TABLE_ID, COLUMN_ID.
  std::vector<int32_t> numbers;
  flag = 0;
  for (int32_t n = 0; n < 5; ++n) {
    DDLv2KeyColumn k{};
    pb[1] = usr_;
    DDLv2Idx(base_, pb, 80, &k, &flag, reply);
    if (flag != 1) break;
    EXPECT_EQ(k.position, n + 1);
    EXPECT_EQ(k.ascending, 1);
    numbers.push_back(k.number);
  }
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(numbers, (std::vector<int32_t>{1, 3}));
  ASSERT_EQ(EndWork(1), 0);
}

// The tables a view uses, written once each and read back in order.
TEST_F(Level2Test, TheTablesAViewUses) {
  ASSERT_EQ(BegWork(), 0);
  struct Use {
    int32_t position, table, further, status;
  } uses[] = {{2, CAT_COLUMNS, 7, 0}, {1, CAT_TABLES, 0, 0}, {1, CAT_TABLES, 5, 0},
              {3, 4242, 0, 1},        {1000, CAT_TABLES, 0, DD_BAD_VALUE}};
  for (const Use& u : uses) {
    int32_t pb[2] = {0, usr_};
    DDInsViewTableUse(base_, pb, 990, u.position, u.table, u.further);
    EXPECT_EQ(pb[0], u.status) << u.position;
  }
  std::vector<std::vector<int32_t>> rows;
  int32_t flag = 0, reply[2] = {};
  for (int32_t n = 0; n < 5; ++n) {
    int32_t values[3] = {};
    int32_t pb[2] = {0, usr_};
    DDLv2Vcl(base_, pb, 990, values, &flag, reply);
    if (flag != 1) break;
    rows.push_back({values[0], values[1], values[2]});
  }
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(rows, (std::vector<std::vector<int32_t>>{{1, CAT_TABLES, 0}, {2, CAT_COLUMNS, 7}}))
      << "a row present stays as it was";
  ASSERT_EQ(EndWork(1), 0);
}

}  // namespace

namespace {

// A domain row of `id` whose default text is `text` (three-byte characters
// of its bytes), or NULL when `text` is null.
std::vector<uint8_t> DomainRow(int32_t id, const char* text) {
  const CatalogValue values[] = {{DOMAINS_DOMAIN_ID, 0, id, nullptr},
                                 {DOMAINS_DATA_TYPE, 1, 0, "INTEGER"}};
  std::vector<uint8_t> row(static_cast<size_t>(CatalogFindTable(23)->record_length));
  const CatalogRow image{23, 0, 2};
  EXPECT_EQ(DDRowImage(image, values, row), 0);
  if (text == nullptr) return row;
  uint8_t* field = &row[DOMAINS_DOMAIN_DEFAULT];
  field[0] = 0;
  for (int32_t i = 0; i < 400; ++i) {
    const size_t n = std::strlen(text);
    field[1 + 3 * i] = 0;
    field[2 + 3 * i] = 0;
    field[3 + 3 * i] = i < static_cast<int32_t>(n) ? static_cast<uint8_t>(text[i]) : ' ';
  }
  return row;
}

}  // namespace

// A domain's default as the level-2 interface takes it: literals decoded,
// the user's registers as length -2, NULL, other registers and no default
// as no row.
TEST_F(Level2Test, DomainDefaultsTestedAsDefaultTexts) {
  ASSERT_EQ(BegWork(), 0);
  struct Case {
    const char* stored;
    int32_t flag;
    int32_t length;
    const char* text;
  } cases[] = {{"'It''s'", 1, 4, "It's"},
               {"X'0A1'", 1, 2, "\x0a\x10"},
               {"''", 1, 0, ""},
               {"USER", 1, -2, ""},
               {"CURRENT_USER", 1, -2, ""},
               {"CURRENT_TIMESTAMP(3)", 1, -2, ""},
               {"-12", 1, 3, "-12"},
               {"NULL", 0, 0, ""},
               {"CURRENT_DATE", 0, 0, ""},
               {"NEXT_VALUE OF S", 0, 0, ""},
               {nullptr, 0, 0, ""}};
  int32_t id = 900;
  for (const Case& c : cases) {
    ASSERT_EQ(InsertRow(23, DomainRow(++id, c.stored)), 0);
    int32_t flag = -5, reply[2] = {}, pb[2] = {0, usr_}, length = 99;
    char text[DD_LV2_DEFAULT] = {};
    DDLv2Dde(base_, pb, id, text, &length, &flag, reply);
    const char* name = c.stored != nullptr ? c.stored : "(null)";
    EXPECT_EQ(flag, c.flag) << name;
    if (flag != 1) continue;
    EXPECT_EQ(length, c.length) << name;
    if (length > 0) {
      EXPECT_EQ(std::string(text, static_cast<size_t>(length)), c.text) << name;
    }
  }
  int32_t flag = -5, reply[2] = {}, pb[2] = {0, usr_}, length = 0;
  char text[DD_LV2_DEFAULT];
  DDLv2Dde(base_, pb, 4242, text, &length, &flag, reply);
  EXPECT_EQ(flag, 0) << "no such domain";
  ASSERT_EQ(EndWork(1), 0);
}
