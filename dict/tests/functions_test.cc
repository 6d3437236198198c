// The statement functions over the system tables of the databank kernel
// itself, each family against a std::map model of its tables: random
// creates and reads inside dictionary work, a rollback that changes
// nothing, a commit that keeps everything.
#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "catalog_gen.h"
#include "dict/kind_words.h"
#include "dict/statement_functions.h"
#include "dict/statement_prepare.h"
#include "dict/tests/catalog_fixture.h"
#include "kernel/tests/statement_fixture.h"
#include "dict/upper_services.h"
#include "du/tables.h"
#include "kernel/statement_columns.h"
#include "kernel/statements.h"
#include "kernel/upper_services.h"
#include "request/statement_api.h"

namespace {

class FunctionsTest : public CatalogWorkTest {
 protected:
  void SetUp() override { SetUpCatalog({11, 13, 14, 27, 33, 41}); }
  int32_t InsIdent(const std::string& name, int32_t id, int32_t kind) {
    int32_t pb[2] = {0, usr_};
    DDInsIdent(base_, pb, name.data(), static_cast<int32_t>(name.size()), id, kind, nullptr, 0);
    return pb[0];
  }
  int32_t InsPrivilege(int32_t kind, int32_t id, bool grantable, const std::string& grantee,
                       const std::string& grantor) {
    int32_t pb[2] = {0, usr_};
    DDInsPrivilege(base_, pb, kind, id, grantable, grantee.data(),
                   static_cast<int32_t>(grantee.size()), grantor.data(),
                   static_cast<int32_t>(grantor.size()));
    return pb[0];
  }
  int32_t ChkPrivilege(int32_t kind, int32_t id, const std::string& grantee) {
    int32_t pb[2] = {0, usr_};
    DDChkPrivilege(base_, pb, kind, id, grantee.data(), static_cast<int32_t>(grantee.size()));
    return pb[0];
  }
  int32_t InsObject(int32_t id, int32_t kind, const std::string& schema, const std::string& name) {
    int32_t pb[2] = {0, usr_};
    DDInsObject(base_, pb, id, kind, schema.data(), static_cast<int32_t>(schema.size()),
                name.data(), static_cast<int32_t>(name.size()));
    return pb[0];
  }
  struct Deleted {
    int32_t status, id, kind;
    std::string name;
  };
  Deleted DelIdent(int32_t mode, const std::string& name) {
    int32_t pb[2] = {mode, usr_};
    Deleted d{0, 0, -1, std::string(128, '?')};
    DDDelIdent(base_, pb, name.data(), static_cast<int32_t>(name.size()), &d.id, &d.kind,
               d.name.data());
    d.status = pb[0];
    return d;
  }
  int32_t InsSchema(int32_t id) {
    int32_t pb[2] = {0, usr_};
    DDInsSchema(base_, pb, id);
    return pb[0];
  }
};

TEST_F(FunctionsTest, WithoutDictionaryWorkNothingIsPrepared) {
  const int32_t statements = W(sys_ + SYS_ST_STATEMENTS);
  EXPECT_EQ(InsIdent("EVE", 7, 3), DD_NO_WORK_BLOCK);
  EXPECT_EQ(InsSchema(7), DD_NO_WORK_BLOCK);
  EXPECT_EQ(W(sys_ + SYS_ST_STATEMENTS), statements);
}

TEST_F(FunctionsTest, IdentsAndSchemasAgainstAModel) {
  std::mt19937 rng(28);
  std::map<std::string, int32_t> idents;
  std::map<int32_t, bool> schemas;
  Protocol(21);  // each work ends its own transaction
  ASSERT_EQ(BegWork(), 0);
  const int32_t statements = W(sys_ + SYS_ST_STATEMENTS);
  EXPECT_EQ(InsIdent("X", 1, 0), DD_KIND_OUTSIDE);
  EXPECT_EQ(InsIdent("X", 1, 5), DD_KIND_OUTSIDE);
  for (int n = 0; n < 150; ++n) {
    const std::string name = "ID" + std::to_string(rng() % 60);
    const int32_t id = 1000 + n;
    const int32_t rc = InsIdent(name, id, 1 + n % 4);
    EXPECT_EQ(rc, idents.count(name) ? 2 : 0) << name;
    idents.emplace(name, id);
    const int32_t sid = static_cast<int32_t>(rng() % 50);
    EXPECT_EQ(InsSchema(sid), schemas.count(sid) ? 2 : 0) << sid;
    schemas[sid] = true;
  }
  // Each statement was prepared once in the work.
  EXPECT_EQ(W(sys_ + SYS_ST_STATEMENTS), statements + 2);
  EXPECT_EQ(EndWork(0), 0);
  // The rows stay after the commit: every name is present.
  ASSERT_EQ(BegWork(), 0);
  for (const auto& [name, id] : idents) {
    EXPECT_EQ(InsIdent(name, id, 3), 2) << name;
    int32_t pb[2] = {1, usr_}, got = 0, kind = 0;
    DDCurGrantee(base_, pb, 0, name.data(), static_cast<int32_t>(name.size()), &got, nullptr,
                 &kind);
    EXPECT_EQ(pb[0], 0) << name;
    EXPECT_EQ(got, id) << name;
    EXPECT_EQ(kind, 1 + (id - 1000) % 4) << name;
    std::string back(128, '?');
    pb[0] = 2;
    DDCurGrantee(base_, pb, id, nullptr, 0, nullptr, back.data(), &kind);
    EXPECT_EQ(pb[0], 0) << name;
    EXPECT_EQ(back, name + std::string(128 - name.size(), ' '));
  }
  {
    int32_t pb[2] = {1, usr_}, got = 0, kind = 0;
    DDCurGrantee(base_, pb, 0, "NOONE", 5, &got, nullptr, &kind);
    EXPECT_EQ(pb[0], 1);
    pb[0] = 2;
    DDCurGrantee(base_, pb, 4242, nullptr, 0, nullptr, nullptr, &kind);
    EXPECT_EQ(pb[0], 1);
  }
  for (const auto& [sid, present] : schemas) EXPECT_EQ(InsSchema(sid), 2) << sid;
  // New rows rolled back are gone.
  EXPECT_EQ(InsIdent("NEWCOMER", 5000, 1), 0);
  EXPECT_EQ(InsSchema(999), 0);
  EXPECT_EQ(EndWork(1), 0);
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(InsIdent("NEWCOMER", 5000, 1), 0);
  EXPECT_EQ(InsSchema(999), 0);
  EXPECT_EQ(EndWork(1), 0);
}

// Privilege rows against a model: a present row is updated (0), a check
// finds a row of the grantee whatever its grantor, a rollback takes new
// rows away, holes and kinds outside the table are refused before a run.
TEST_F(FunctionsTest, PrivilegesAgainstAModel) {
  std::mt19937 rng(6);
  std::map<std::tuple<int32_t, int32_t, std::string, std::string>, bool> rows;
  auto has = [&](int32_t kind, int32_t id, const std::string& grantee) {
    for (const auto& [k, g] : rows)
      if (std::get<0>(k) == kind && std::get<1>(k) == id && std::get<2>(k) == grantee) return 1;
    return 0;
  };
  auto stored_id = [](int32_t kind, int32_t id) {
    return kind == 1 || kind == 2 || (kind >= 10 && kind <= 13) ? 0 : id;
  };
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  for (int32_t kind : {0, 14, 16, 18}) {
    EXPECT_EQ(InsPrivilege(kind, 1, true, "U", "G"), DD_KIND_OUTSIDE) << kind;
    EXPECT_EQ(ChkPrivilege(kind, 1, "U"), DD_KIND_OUTSIDE) << kind;
  }
  const int32_t kinds[] = {1, 2, 4, 5, 9, 12, 17};
  for (int n = 0; n < 200; ++n) {
    const int32_t kind = kinds[rng() % 7], id = static_cast<int32_t>(rng() % 4);
    const std::string grantee = "U" + std::to_string(rng() % 5);
    const std::string grantor = rng() % 2 ? "G" : "H";
    const bool grantable = rng() % 2;
    if (rng() % 3 == 0) {
      EXPECT_EQ(ChkPrivilege(kind, id, grantee), has(kind, stored_id(kind, id), grantee)) << n;
      continue;
    }
    EXPECT_EQ(InsPrivilege(kind, id, grantable, grantee, grantor), 0) << n;
    rows[{kind, stored_id(kind, id), grantee, grantor}] = grantable;
  }
  EXPECT_EQ(EndWork(0), 0);
  ASSERT_EQ(BegWork(), 0);
  for (const auto& [k, g] : rows)
    EXPECT_EQ(ChkPrivilege(std::get<0>(k), std::get<1>(k), std::get<2>(k)), 1);
  EXPECT_EQ(InsPrivilege(5, 77, false, "NEWBIE", "G"), 0);
  EXPECT_EQ(ChkPrivilege(5, 77, "NEWBIE"), 1);
  EXPECT_EQ(EndWork(1), 0);
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(ChkPrivilege(5, 77, "NEWBIE"), 0);
  EXPECT_EQ(EndWork(1), 0);
}

// Dropping idents: each one's object, ident and privilege rows are gone
// when it is handed back; the next call gives 1; the other idents and
// their rows stay.
TEST_F(FunctionsTest, DroppingAnIdentDeletesItsRowsBeforeHandingItBack) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(InsObject(1, 17, "", "X"), DD_KIND_OUTSIDE);
  const std::map<std::string, std::pair<int32_t, int32_t>> idents = {
      {"ANN", {301, 3}}, {"BOB", {302, 1}}, {"CID", {303, 4}}};
  for (const auto& [name, v] : idents) {
    ASSERT_EQ(InsIdent(name, v.first, v.second), 0);
    ASSERT_EQ(InsObject(v.first, 3, "", name), 0);
    // Privileges granted to every ident, on objects 1 to 3.
    for (int32_t object = 1; object <= 3; ++object)
      ASSERT_EQ(InsPrivilege(5, object, false, name, "G"), 0);
  }
  ASSERT_EQ(InsObject(400, 6, "ANN", "ANN"), 0);  // a table of ANN's: not an ident
  EXPECT_EQ(EndWork(0), 0);
  ASSERT_EQ(BegWork(), 0);
  const Deleted bob = DelIdent(1, "BOB");
  EXPECT_EQ(bob.status, 0);
  EXPECT_EQ(bob.id, 302);
  EXPECT_EQ(bob.kind, 1);
  // Gone before the hand-back: the rows can be made again.
  for (int32_t object = 1; object <= 3; ++object) EXPECT_EQ(ChkPrivilege(5, object, "BOB"), 0);
  EXPECT_EQ(DelIdent(0, "").status, 1);
  const Deleted cid = DelIdent(2, "CID");
  EXPECT_EQ(cid.status, 0);
  EXPECT_EQ(cid.id, 303);
  EXPECT_EQ(cid.kind, 4);
  EXPECT_EQ(cid.name.substr(0, 4), "CID ");
  EXPECT_EQ(DelIdent(0, "").status, 1);
  EXPECT_EQ(DelIdent(1, "NOBODY").status, 1);
  EXPECT_EQ(EndWork(0), 0);
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(InsIdent("BOB", 302, 1), 0);
  EXPECT_EQ(InsObject(302, 3, "", "BOB"), 0);
  EXPECT_EQ(InsIdent("CID", 303, 4), 0);
  EXPECT_EQ(InsIdent("ANN", 301, 3), 2);
  EXPECT_EQ(InsObject(301, 3, "", "ANN"), 2);
  EXPECT_EQ(InsObject(400, 6, "ANN", "ANN"), 2);
  EXPECT_EQ(ChkPrivilege(5, 2, "ANN"), 1);
  // The objects of a name, in the order of index 60 (schema, name; a NULL
  // schema last).
  std::vector<int32_t> ids;
  int32_t pb[2] = {1, usr_}, id = 0;
  for (DDGetIdByName(base_, pb, "ANN", 3, &id); pb[0] == 0 && ids.size() < 10;
       DDGetIdByName(base_, pb, nullptr, 0, &id))
    ids.push_back(id), pb[0] = 0;
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(ids, (std::vector<int32_t>{400, 301}));
  int32_t chk[2] = {0, usr_};
  DDChkTrigger(base_, chk, 400);
  EXPECT_EQ(chk[0], 0);
  EXPECT_EQ(EndWork(1), 0);
}

// Source texts in pieces of 800 characters, only the first with the total
// length: the last piece stored is the one the statement's row holds.
TEST_F(FunctionsTest, SourceTextsAreStoredInPieces) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  std::vector<uint8_t> text;
  for (int i = 0; i < 2400; ++i) text.insert(text.end(), {0, 0, uint8_t('a' + i % 26)});
  auto store = [&](int32_t id, int32_t kind, int32_t length) {
    int32_t pb[2] = {0, usr_};
    DDInsSource(base_, pb, id, "V", 1, kind, text.data(), length);
    return pb[0];
  };
  struct Last {
    int32_t piece, total, chars;
  };
  auto last = [&]() {
    int32_t status = 0;
    const int32_t stm = DDWorkSlot(base_, usr_, SLOT_DDInsSource, &status)[SLOT_STM];
    Last l{};
    bool null = false;
    l.piece = ParameterInt(base_, stm, 4, &null);
    l.total = ParameterInt(base_, stm, 6, &null);
    if (null) l.total = -1;
    l.chars = ParameterInt(base_, stm, 8, &null);
    return l;
  };
  struct Case {
    int32_t length, pieces, last_chars;
  } cases[] = {{800, 1, 800}, {801, 2, 1}, {2000, 3, 400}, {0, 1, 0}, {1600, 2, 800}};
  int32_t id = 10;
  for (const Case& c : cases) {
    ASSERT_EQ(store(++id, 2, c.length), 0) << c.length;
    const Last l = last();
    EXPECT_EQ(l.piece, c.pieces) << c.length;
    EXPECT_EQ(l.total, c.pieces == 1 ? c.length : -1) << c.length;
    EXPECT_EQ(l.chars, c.last_chars) << c.length;
  }
  // Read back whole, and cut at the caller's buffer.
  auto read = [&](int32_t id, int32_t kind, int32_t capacity, int32_t* total, int32_t* length) {
    std::vector<uint8_t> back(3 * static_cast<size_t>(capacity) + 3, 0xEE);
    int32_t pb[2] = {0, usr_};
    DDGetSourceInfo(base_, pb, id, "V", 1, kind, back.data(), capacity, total, length);
    EXPECT_EQ(back[3 * static_cast<size_t>(capacity)], 0xEE) << "written past the buffer";
    back.resize(3 * static_cast<size_t>(*length));
    EXPECT_TRUE(std::equal(back.begin(), back.end(), text.begin())) << id;
    return pb[0];
  };
  id = 10;
  for (const Case& c : cases) {
    ++id;
    for (int32_t capacity : {2400, c.length, 799, 1}) {
      int32_t total = -1, length = -1;
      EXPECT_EQ(read(id, 2, capacity, &total, &length), 0) << c.length;
      EXPECT_EQ(total, c.length);
      EXPECT_EQ(length, std::min(capacity, c.length)) << c.length << " " << capacity;
    }
  }
  int32_t total = 0, length = 0;
  EXPECT_EQ(read(99, 2, 10, &total, &length), 1);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(store(11, 2, 5), 2);  // its first piece is there
  EXPECT_EQ(store(11, 3, 5), 0);  // another kind
  EXPECT_EQ(store(11, 7, 5), DD_KIND_OUTSIDE);
  EXPECT_EQ(store(11, 0, 5), DD_KIND_OUTSIDE);
  EXPECT_EQ(EndWork(1), 0);
}

// The grantor "SYSTEM" is stored as "_SYSTEM": the row the statement wrote.
TEST_F(FunctionsTest, TheSystemGrantorIsStoredWithItsUnderscore) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  for (const char* grantor : {"SYSTEM", "SYSTEM   ", "_SYSTEM", "SYSTEMS"}) {
    EXPECT_EQ(InsPrivilege(5, 3, true, "U", grantor), 0);
    int32_t status = 0;
    int32_t* slot = DDWorkSlot(base_, usr_, SLOT_DDInsPrivilege, &status);
    uint8_t* field = nullptr;
    int32_t length = 0;
    ASSERT_EQ(StatementField(base_, slot[SLOT_STM], false, 6, &field, &length), 0);
    const std::string stored(reinterpret_cast<char*>(field) + 1, 8);
    EXPECT_EQ(stored, std::string(grantor) == "SYSTEMS" ? "SYSTEMS " : "_SYSTEM ") << grantor;
  }
  EXPECT_EQ(EndWork(1), 0);
}

}  // namespace
