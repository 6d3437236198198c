// Objects, object usage and sequences through their statement functions,
// and the rows of tables, columns, constraints, keys, table privileges and
// databanks through their statements, each against a std::map model: rows
// read back by the kernel's record access after the work, a rollback that
// leaves nothing, kinds outside a function's table refused before a run.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "dict/kind_words.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_prepare.h"
#include "dict/statement_run.h"
#include "dict/tests/catalog_fixture.h"
#include "dict/tests/objects_fixture.h"
#include "du/record_operations.h"
#include "kernel/catalog_queries.h"
#include "kernel/control_blocks.h"
#include "kernel/table_use.h"
#include "platform/packed_decimal.h"

namespace {

TEST_F(ObjectsTest, ObjectLookupsFollowThePathAndTheKind) {
  std::mt19937 rng(102);
  // (schema, name) -> objects in the order of index 60 (by id).
  std::map<std::pair<std::string, std::string>, std::map<int32_t, int32_t>> objects;
  std::map<int32_t, std::pair<std::string, std::string>> names;
  const int32_t kinds[] = {2, 4, 6, 7, 14, 18, 22};
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  for (int32_t id = 500; id < 700; ++id) {
    const std::string schema = "S" + std::to_string(rng() % 3);
    const std::string name = "N" + std::to_string(rng() % 25);
    const int32_t kind = kinds[rng() % 7];
    ASSERT_EQ(InsObject(id, kind, schema, name), 0);
    objects[{schema, name}][id] = kind;
    names[id] = {schema, name};
  }
  EXPECT_EQ(EndWork(0), 0);
  ASSERT_EQ(BegWork(), 0);
  for (int32_t kind : {0, 8, 9, 17, 19, 20, 21, 23})
    EXPECT_EQ(ObjectId("S0", "N1", kind), -DD_KIND_OUTSIDE) << kind;
  // The first object of a schema and name that is of the kind answers (in
  // the order of index 60); else the next schema of the path is tried.
  auto expect = [&](const std::vector<std::string>& path, const std::string& name, int32_t kind) {
    for (const std::string& schema : path) {
      auto it = objects.find({schema, name});
      if (it == objects.end()) continue;
      for (const auto& [id, k] : it->second)
        if (k == kind) return id;
    }
    return -1;
  };
  for (int n = 0; n < 300; ++n) {
    const std::string schema = "S" + std::to_string(rng() % 4);
    const std::string name = "N" + std::to_string(rng() % 27);
    const int32_t kind = kinds[rng() % 7];
    EXPECT_EQ(ObjectId(schema, name, kind), expect({schema}, name, kind)) << schema << name;
  }
  // Without a schema: the user's path, up to three schemas.
  const std::vector<std::vector<std::string>> paths = {
      {"S3"}, {"S3", "S1"}, {"S3", "S9", "S2"}, {"S0", "S1", "S2"}, {}};
  for (const auto& path : paths) {
    Path(path);
    for (int n = 0; n < 60; ++n) {
      const std::string name = "N" + std::to_string(rng() % 27);
      const int32_t kind = kinds[rng() % 7];
      EXPECT_EQ(ObjectId("", name, kind), expect(path, name, kind)) << path.size() << name;
    }
  }
  // The work block's schema stands for the path while its flag is set.
  Path({"S0"});
  const int32_t ucom = Ucom();
  std::memcpy(&W(ucom + DDUCOM_SCHEMA), Padded("S2", 128).data(), 128);
  W(ucom + DDUCOM_SCHEMA_LENGTH) = 2;
  W(ucom + DDUCOM_PATH_FLAG) = 1;
  for (const auto& [key, ids] : objects) {
    const auto& [id, kind] = *ids.begin();
    EXPECT_EQ(ObjectId("", key.second, kind), expect({"S2"}, key.second, kind));
  }
  W(ucom + DDUCOM_PATH_FLAG) = 0;
  // Names by id.
  for (int32_t id : {500, 577, 699, 700}) {
    int32_t pb[2] = {0, usr_};
    std::string name(128, '?'), schema(128, '?');
    DDGetName(base_, pb, id, name.data(), schema.data());
    if (id == 700) {
      EXPECT_EQ(pb[0], 1);
      continue;
    }
    EXPECT_EQ(pb[0], 0);
    EXPECT_EQ(name, Padded(names[id].second, 128));
    EXPECT_EQ(schema, Padded(names[id].first, 128));
  }
  EXPECT_EQ(EndWork(1), 0);
}

TEST_F(ObjectsTest, UsageRowsAreFoundByTheUsedObject) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  auto ins = [&](int32_t user, int32_t user_kind, int32_t used, int32_t used_kind) {
    int32_t pb[2] = {0, usr_};
    DDInsObjUsage(base_, pb, user, user_kind, used, used_kind);
    return pb[0];
  };
  auto used = [&](int32_t id) {
    int32_t pb[2] = {0, usr_};
    DDChkUsed(base_, pb, id);
    return pb[0];
  };
  for (auto [user_kind, used_kind] : {std::pair{1, 6}, {3, 6}, {8, 6}, {6, 4}, {6, 16}, {6, 22}})
    EXPECT_EQ(ins(1, user_kind, 2, used_kind), DD_KIND_OUTSIDE) << user_kind << used_kind;
  std::map<int32_t, int> uses;
  std::map<std::pair<int32_t, int32_t>, bool> pairs;
  std::mt19937 rng(110);
  for (int n = 0; n < 80; ++n) {
    const int32_t user = 100 + static_cast<int32_t>(rng() % 20);
    const int32_t used_id = 10 + static_cast<int32_t>(rng() % 30);
    // A view on a table: a pair present already is refused with 2.
    EXPECT_EQ(ins(user, 7, used_id, 6), pairs.count({user, used_id}) ? 2 : 0) << n;
    if (pairs.emplace(std::pair{user, used_id}, true).second) ++uses[used_id];
  }
  EXPECT_EQ(ins(5, 16, 6, 2), 0);  // a check on a domain: stored CHECK
  ++uses[6];
  for (int32_t id = 0; id < 45; ++id) EXPECT_EQ(used(id), uses.count(id) ? 1 : 0) << id;
  EXPECT_EQ(EndWork(0), 0);
  const std::string row = ReadRow(38, IntField(6) + TextField("DOMAIN", 20) + IntField(5) +
                                          TextField("CHECK", 20));
  EXPECT_FALSE(row.empty());
}

// Sequences: rows made, found through the path (the first schema that has
// an object of the name, which must be a SEQUENCE), dropped by name or id
// with their object and privilege rows; a rollback restores them.
TEST_F(ObjectsTest, SequencesAgainstAModel) {
  auto ins_seq = [&](int32_t id) {
    int32_t pb[2] = {0, usr_};
    const uint8_t bytes[3] = {'A', 'B', 'C'};
    DDInsSequence(base_, pb, id, bytes, 2, 1, 1000);
    return pb[0];
  };
  auto find = [&](int32_t mode, const std::string& schema, const std::string& name) {
    int32_t pb[2] = {mode, usr_}, id = 0;
    DDGetSequenceObj(base_, pb, schema.data(), static_cast<int32_t>(schema.size()), name.data(),
                     static_cast<int32_t>(name.size()), &id);
    return pb[0] == 0 ? id : -pb[0];
  };
  auto drop = [&](int32_t mode, int32_t id, const std::string& name) {
    std::vector<int32_t> out;
    int32_t pb[2] = {mode, usr_}, got = 0;
    for (DDDelSequence(base_, pb, id, name.data(), static_cast<int32_t>(name.size()), &got);
         pb[0] == 0 && out.size() < 20; DDDelSequence(base_, pb, 0, nullptr, 0, &got))
      out.push_back(got), pb[0] = 0;
    EXPECT_EQ(pb[0], 1);
    return out;
  };
  auto granted = [&](int32_t id) {
    int32_t pb[2] = {0, usr_};
    DDChkPrivilege(base_, pb, 9, id, "U", 1);
    return pb[0];
  };
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  // Q in S0 (800), S1 (801) and S2 (802); a table Q in S3; R in S1 (803).
  const std::vector<std::tuple<int32_t, std::string, std::string>> seqs = {
      {800, "S0", "Q"}, {801, "S1", "Q"}, {802, "S2", "Q"}, {803, "S1", "R"}};
  for (const auto& [id, schema, name] : seqs) {
    ASSERT_EQ(ins_seq(id), 0);
    ASSERT_EQ(InsObject(id, 14, schema, name), 0);
    int32_t pb[2] = {0, usr_};
    DDInsPrivilege(base_, pb, 9, id, false, "U", 1, "G", 1);
    ASSERT_EQ(pb[0], 0);
  }
  ASSERT_EQ(InsObject(804, 6, "S3", "Q"), 0);
  EXPECT_EQ(ins_seq(800), 2);
  EXPECT_EQ(EndWork(0), 0);
  const std::string row = ReadRow(32, IntField(801));
  EXPECT_EQ(row, IntField(801) + std::string("\0ABC", 4) + IntField(2) + std::string(7, '\xff') +
                     IntField(1) + IntField(1000) + TextField("NO", 3) + IntField(0));
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(find(0, "S1", "Q"), 801);
  EXPECT_EQ(find(0, "S1", "R"), 803);
  EXPECT_EQ(find(0, "S2", "R"), -1);
  EXPECT_EQ(find(0, "S3", "Q"), -1);  // a table
  Path({"S9", "S2", "S0"});
  EXPECT_EQ(find(0, "", "Q"), 802);
  Path({"S3", "S0"});
  EXPECT_EQ(find(0, "", "Q"), -1);  // the first schema's Q is a table
  Path({"S9", "S8", "S1"});
  EXPECT_EQ(find(0, "", "R"), 803);
  // Prepared without binding and back: each mode change prepares anew.
  const int32_t statements = W(sys_ + SYS_ST_STATEMENTS);
  EXPECT_EQ(find(PREPARE_NO_BIND, "S1", "Q"), 0);
  EXPECT_EQ(find(0, "S1", "Q"), 801);
  EXPECT_EQ(W(sys_ + SYS_ST_STATEMENTS), statements);
  EXPECT_EQ(find(5, "S1", "Q"), -KERNEL_BAD_PARAMETER);
  // Drops: every Q, then 803 by id; rolled back.
  EXPECT_EQ(drop(2, 0, "Q"), (std::vector<int32_t>{800, 801, 802}));
  EXPECT_EQ(find(0, "S1", "Q"), -1);
  EXPECT_EQ(granted(801), 0);
  EXPECT_EQ(granted(803), 1);
  EXPECT_EQ(drop(3, 803, ""), (std::vector<int32_t>{803}));
  EXPECT_EQ(granted(803), 0);
  EXPECT_EQ(drop(3, 803, ""), (std::vector<int32_t>{}));
  EXPECT_EQ(find(0, "S3", "Q"), -1);
  EXPECT_EQ(EndWork(1), 0);
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(find(0, "S0", "Q"), 800);
  EXPECT_EQ(granted(803), 1);
  // An object of kind SEQUENCE without its row breaks the catalog.
  ASSERT_EQ(InsObject(805, 14, "S5", "LOST"), 0);
  int32_t pb[2] = {2, usr_}, got = 0;
  DDDelSequence(base_, pb, 0, "LOST", 4, &got);
  EXPECT_EQ(pb[0], -19007);
  EXPECT_EQ(EndWork(1), 0);
}

// The rows of a table definition, written by their statements as the
// definition services will run them, read back after the work.
TEST_F(ObjectsTest, TableDefinitionRows) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(InsDatabank(900, 9, "DB9"), 0);
  EXPECT_EQ(InsDatabank(900, 9, "DB9"), 2);
  EXPECT_EQ(InsTable(910), 0);
  EXPECT_EQ(InsTable(910), 2);
  EXPECT_EQ(InsConstraint(920, 9), 0);
  EXPECT_EQ(InsConstraint(921, 0), 0);
  EXPECT_EQ(InsConstraint(922, 8), 1);  // no databank of logical id 8
  EXPECT_EQ(InsConstraint(920, 0), 2);
  EXPECT_EQ(InsColumn("A", 1, 0), 0);
  EXPECT_EQ(InsColumn("B", 2, 930), 0);
  EXPECT_EQ(InsColumn("C", 3, 930), 0);
  EXPECT_EQ(InsColumn("B", 4, 0), 2);
  EXPECT_EQ(InsKey(1, "A"), 0);
  EXPECT_EQ(InsKey(2, "B"), 0);
  EXPECT_EQ(InsKey(2, "B"), 2);
  EXPECT_EQ(InsReference(940), 0);
  EXPECT_EQ(InsReference(940), 2);
  EXPECT_EQ(InsTablePriv("SELECT", "NO "), 0);
  EXPECT_EQ(InsTablePriv("UPDATE", "NO "), 0);
  EXPECT_EQ(InsTablePriv("SELECT", "YES"), 0);  // present: its flags change
  EXPECT_EQ(EndWork(0), 0);

  const std::string id910 = IntField(910);
  std::string row = ReadRow(16, id910);
  EXPECT_EQ(row, id910 + TextField("BASE TABLE", 20) + IntField(77) + IntField(14) +
                     std::string(21, '\xff') + TextField("YES", 3) + std::string(4, '\xff') +
                     IntField(900));
  row = ReadRow(15, IntField(900) + IntField(1) + IntField(9));
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row.substr(21, 129), TextField("DB9", 128));
  EXPECT_EQ(row.substr(150, 129), TextField("OWNER", 128));
  EXPECT_EQ(row.substr(279, 6), std::string("\0d.dbf", 6));
  EXPECT_EQ(row.substr(536, 21), TextField("TRANS", 20));
  EXPECT_EQ(row.substr(557, 4), TextField("YES", 3));
  // Kind T (its option TRANS), second flag and offline letter N.
  EXPECT_EQ(row.substr(572), TextField("T", 2) + TextField("N", 2) + TextField("N", 2));
  // The constraint keeps the databank id of its logical id, or NULL.
  row = ReadRow(18, IntField(920) + TextField("PRIMARY KEY", 20) + id910);
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row.substr(35, 28), IntField(14) + IntField(2) + IntField(21) + IntField(0));
  EXPECT_EQ(row.substr(74, 7), IntField(900));
  row = ReadRow(18, IntField(921) + TextField("PRIMARY KEY", 20) + id910);
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row.substr(74, 7), std::string(7, '\xff'));
  EXPECT_TRUE(ReadRow(18, IntField(922) + TextField("PRIMARY KEY", 20) + id910).empty());
  // Columns; those of a domain have their type usage row.
  for (const auto& [name, number, domain] :
       {std::tuple{"A", 1, 0}, std::tuple{"B", 2, 930}, std::tuple{"C", 3, 930}}) {
    row = ReadRow(22, id910 + TextField(name, 128));
    ASSERT_FALSE(row.empty()) << name;
    EXPECT_EQ(row.substr(136, 21), IntField(number) + IntField(number) + IntField(136));
    EXPECT_EQ(row.substr(157, 31), TextField("CHARACTER", 30));
    EXPECT_EQ(row.substr(219, 11), IntField(20, 11));
    EXPECT_EQ(row.substr(230, 11), IntField(20, 11));
    EXPECT_EQ(row.substr(276, 8), TextField("NO", 3) + TextField("YES", 3));
    EXPECT_EQ(row.substr(288, 28), IntField(7 * number) + (domain ? IntField(domain) : std::string(7, '\xff')) +
                                       IntField(21) + IntField(135));
    const std::string usage = ReadRow(40, TextField("DOMAIN", 20) + IntField(930) + id910 +
                                              TextField(name, 128));
    EXPECT_EQ(usage.empty(), domain == 0) << name;
  }
  row = ReadRow(20, IntField(920) + id910 + IntField(2));
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row.substr(21), TextField("B", 128) + TextField("PRIMARY KEY", 20) +
                                TextField("YES", 3) + TextField("YES", 3) + IntField(2) +
                                std::string(3, '\xff'));
  row = ReadRow(19, IntField(940) + id910);
  EXPECT_EQ(row.substr(14), IntField(920) + id910 + TextField("NONE", 20) +
                                TextField("CASCADE", 20) + TextField("NO ACTION", 20));
  const std::string select = id910 + TextField("SELECT", 20) + TextField("U", 128) + TextField("_SYSTEM", 128);
  row = ReadRow(25, select);
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row.substr(286, 12), TextField("YES", 3) + TextField("NO", 3) + TextField("YES", 3));
  // Rolled back, nothing of a second table stays.
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(InsTable(911), 0);
  EXPECT_EQ(EndWork(1), 0);
  EXPECT_TRUE(ReadRow(16, IntField(911)).empty());
}

// The reads of a table definition against the rows written: privileges of
// the grantee and of PUBLIC, columns by number, place and name, keys and
// their columns, databanks by name, id and all; the table's integers
// rewritten with its primary key's length.
TEST_F(ObjectsTest, ReadsOfATableDefinition) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsDatabank(900, 9, "DB9"), 0);
  ASSERT_EQ(InsDatabank(901, 8, "DB8"), 0);
  ASSERT_EQ(InsObject(900, 1, "ADM", "DB9"), 0);
  ASSERT_EQ(InsTable(910), 0);
  ASSERT_EQ(InsConstraint(920, 0), 0);
  ASSERT_EQ(InsConstraint(921, 9, "UNIQUE"), 0);
  ASSERT_EQ(InsConstraint(923, 0, "INDEX"), 0);
  ASSERT_EQ(InsConstraint(924, 0, "CHECK"), 0);
  ASSERT_EQ(InsColumn("A", 1, 0), 0);
  ASSERT_EQ(InsColumn("B", 2, 930), 0);
  ASSERT_EQ(InsColumn("C", 3, 0), 0);
  ASSERT_EQ(InsKey(1, "A"), 0);
  ASSERT_EQ(InsKey(2, "B"), 0);
  ASSERT_EQ(InsTablePriv("SELECT", "NO "), 0);
  ASSERT_EQ(InsTablePriv("UPDATE", "YES"), 0);
  ASSERT_EQ(InsTablePriv("INSERT", "YES", "PUBLIC"), 0);
  ASSERT_EQ(InsTablePriv("INSERT", "NO ", "V"), 0);
  auto column_priv = [&](const std::string& column, const std::string& grantee) {
    return Exec(SLOT_DDInsColumnPriv, IMAGE_DDInsColumnPriv, [&](DDParams& p) {
      p.Int(1, 910).Text(2, "UPDATE").TextLength(3, grantee.data(), static_cast<int32_t>(grantee.size()));
      p.TextLength(5, "G", 1).TextLength(7, column.data(), static_cast<int32_t>(column.size()));
      p.Text(9, "NO ").Text(10, "NO ");
    });
  };
  EXPECT_EQ(column_priv("A", "U"), 0);
  EXPECT_EQ(column_priv("B", "PUBLIC"), 0);
  EXPECT_EQ(column_priv("A", "U"), 0);  // present: updated

  auto col_int = [&](int32_t stm, int32_t n) {
    int32_t status = 0, v = -1;
    DSGetColInt(base_, &status, stm, n, &v);
    EXPECT_EQ(status, 0) << n;
    return v;
  };
  auto col_text = [&](int32_t stm, int32_t n, std::size_t width) {
    int32_t status = 0;
    std::string t(width + 1, '\0');
    DSGetColChar(base_, &status, stm, n, reinterpret_cast<uint8_t*>(t.data()), 0);
    EXPECT_EQ(status, 0) << n;
    t.resize(width);
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return t;
  };
  // Table privileges: (status, a, b).
  struct Priv {
    const char* kind;
    const char* grantee;
    int32_t status, a, b;
  } privs[] = {{"SELECT", "U", 0, 1, 0}, {"UPDATE", "U", 0, 1, 1}, {"INSERT", "U", 0, 2, 1},
               {"INSERT", "V", 0, 1, 0}, {"DELETE", "U", 1, 0, 0}, {"SELECT", "W", 1, 0, 0},
               {"INSERT", "W", 0, 2, 1}};
  const int32_t chk = Slot(SLOT_DDChkTablePriv, IMAGE_DDChkTablePriv);
  for (const Priv& c : privs) {
    DDParams p(base_, chk);
    p.Int(1, 910).Text(2, c.kind).TextLength(3, c.grantee, static_cast<int32_t>(std::strlen(c.grantee)));
    ASSERT_EQ(Run(chk, p), c.status) << c.kind << c.grantee;
    if (c.status != 0) continue;
    EXPECT_EQ(col_int(chk, 1), c.a) << c.kind << c.grantee;
    EXPECT_EQ(col_int(chk, 2), c.b) << c.kind << c.grantee;
  }
  const int32_t chk_col = Slot(SLOT_DDChkColumnPriv, IMAGE_DDChkColumnPriv);
  for (auto [column, grantee, held] : {std::tuple{"A", "U", 1}, std::tuple{"B", "U", 2},
                                       std::tuple{"C", "U", 0}, std::tuple{"A", "X", 0}}) {
    DDParams p(base_, chk_col);
    p.Int(1, 910).Text(2, "UPDATE").TextLength(3, column, 1).TextLength(5, grantee, 1);
    ASSERT_EQ(Run(chk_col, p), held == 0 ? 1 : 0) << column << grantee;
    if (held != 0) {
      EXPECT_EQ(col_int(chk_col, 1), held);
    }
  }
  // Columns by number, by place and by name.
  const int32_t get = Slot(SLOT_DDGetColumn, IMAGE_DDGetColumn);
  struct Lookup {
    int32_t number, place;
    const char* name;
    const char* found;
  } lookups[] = {{2, 0, "", "B"}, {0, 3, "", "C"}, {0, 0, "A", "A"}, {4, 0, "", nullptr},
                 {0, 4, "", nullptr}, {0, 0, "D", nullptr}};
  for (const Lookup& l : lookups) {
    DDParams p(base_, get);
    p.Int(1, 910);
    if (l.number != 0) p.Int(2, l.number); else p.Null(2);
    p.TextLength(3, l.name, static_cast<int32_t>(std::strlen(l.name)));
    if (l.place != 0) p.Int(5, l.place); else p.Null(5);
    ASSERT_EQ(Run(get, p), l.found ? 0 : 1) << l.number << l.place << l.name;
    if (l.found == nullptr) continue;
    EXPECT_EQ(col_text(get, 1, 128), l.found);
    const int32_t number = l.found[0] - 'A' + 1;
    EXPECT_EQ(col_int(get, 2), number);
    EXPECT_EQ(col_text(get, 3, 30), "CHARACTER");
    EXPECT_EQ(col_int(get, 13), 7 * number);
    EXPECT_EQ(col_int(get, 18), number);
  }
  // Keys of the table: not its primary key, nor its checks.
  {
    const int32_t keys = Slot(SLOT_DDCurKeys, IMAGE_DDCurKeys);
    DDParams p(base_, keys);
    p.Int(1, 910);
    std::vector<std::pair<int32_t, std::string>> got;
    int32_t pb[2] = {0, usr_};
    for (int32_t rc = Run(keys, p); rc == 0 && got.size() < 10; rc = DDSelectRun(base_, pb, keys, false))
      got.emplace_back(col_int(keys, 2), col_text(keys, 1, 20));
    EXPECT_EQ(got, (std::vector<std::pair<int32_t, std::string>>{{921, "UNIQUE"}, {923, "INDEX"}}));
  }
  // The columns of a key.
  const int32_t key_column = Slot(SLOT_DDGetKeyColumn, IMAGE_DDGetKeyColumn);
  for (int32_t place : {1, 2, 3}) {
    DDParams p(base_, key_column);
    p.Int(1, 920).Int(2, 910).Int(3, place);
    ASSERT_EQ(Run(key_column, p), place == 3 ? 1 : 0) << place;
    if (place == 3) continue;
    EXPECT_EQ(col_text(key_column, 1, 3), "YES");
    EXPECT_EQ(col_text(key_column, 9, 128), place == 1 ? "A" : "B");
    EXPECT_EQ(col_int(key_column, 10), place);
  }
  // Databanks: by name, by id, all.
  const int32_t databanks = Slot(SLOT_DDCurDatabank, IMAGE_DDCurDatabank);
  auto walk = [&](int32_t id, const std::string& name) {
    DDParams p(base_, databanks);
    if (id != 0) p.Int(1, id); else p.Null(1);
    if (name.empty()) p.Null(2).Null(3); else p.TextLength(2, name.data(), static_cast<int32_t>(name.size()));
    std::vector<std::string> got;
    int32_t pb[2] = {0, usr_};
    int32_t rc = Run(databanks, p);
    for (; rc == 0 && got.size() < 10; rc = DDSelectRun(base_, pb, databanks, false)) {
      uint8_t creator[136] = {};
      int32_t status = 0;
      DSGetColChar(base_, &status, databanks, 11, creator, 0);
      got.push_back(std::to_string(col_int(databanks, 1)) + col_text(databanks, 3, 128) +
                    col_text(databanks, 9, 20) + std::to_string(col_int(databanks, 4)) +
                    (status == 0 ? "+" : "-"));
    }
    EXPECT_EQ(rc, 1);
    return got;
  };
  EXPECT_EQ(walk(0, "DB9"), (std::vector<std::string>{"900DB9TRANS9+"}));
  EXPECT_EQ(walk(901, ""), (std::vector<std::string>{"901DB8TRANS8-"}));
  EXPECT_EQ(walk(0, ""), (std::vector<std::string>{"900DB9TRANS9+", "901DB8TRANS8-"}));
  EXPECT_EQ(walk(0, "DB7"), (std::vector<std::string>{}));
  // Views and links.
  auto view = [&](int32_t id) {
    return Exec(SLOT_DDInsView, IMAGE_DDInsView, [&](DDParams& p) {
      const uint8_t text[6] = {0, 0, 'V', 0, 0, 'W'};
      p.Int(1, id).Text(2, "CASCADED").Text(3, "YES").Text(4, "NO ");
      int32_t status = 0;
      DSSetParNVar(base_, &status, Slot(SLOT_DDInsView, IMAGE_DDInsView), 5, text, 0, 2);
      EXPECT_EQ(status, 0);
    });
  };
  EXPECT_EQ(view(950), 0);
  EXPECT_EQ(view(950), 2);
  auto link = [&](int32_t id) {
    return Exec(SLOT_DDInsBaseLink, IMAGE_DDInsBaseLink, [&](DDParams& p) { p.Int(1, id).Int(2, 910); });
  };
  EXPECT_EQ(link(951), 0);
  EXPECT_EQ(link(951), 2);
  // The table's integers and its primary key's length.
  auto ints = [&](int32_t id) {
    return Exec(SLOT_DDUpdTableInts, IMAGE_DDUpdTableInts, [&](DDParams& p) {
      p.Int(1, id).Int(2, 30).Int(3, 100).Int(4, 0).Int(5, 3);
    });
  };
  EXPECT_EQ(ints(910), 0);
  EXPECT_EQ(ints(912), 1);
  EXPECT_EQ(EndWork(0), 0);
  const std::string table = ReadRow(16, IntField(910));
  EXPECT_EQ(table.substr(35, 28), IntField(30) + IntField(100) + IntField(0) + IntField(3));
  const std::string pk = ReadRow(18, IntField(920) + TextField("PRIMARY KEY", 20) + IntField(910));
  EXPECT_EQ(pk.substr(35, 7), IntField(30));
  const std::string unique = ReadRow(18, IntField(921) + TextField("UNIQUE", 20) + IntField(910));
  EXPECT_EQ(unique.substr(35, 7), IntField(14));
  EXPECT_EQ(ReadRow(17, IntField(950)).substr(36, 7), std::string("\0\0\0V\0\0W", 7));
}

// Checks, collations, type usage and the objects of a schema, read back
// from their rows.
TEST_F(ObjectsTest, ChecksCollationsAndSchemaObjects) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  std::vector<uint8_t> text;
  for (int i = 0; i < 401; ++i) text.insert(text.end(), {0, 0, uint8_t('a' + i % 26)});
  auto check = [&](int32_t id, int32_t length, bool domain) {
    int32_t pb[2] = {0, usr_};
    if (domain)
      DDInsDomainCheck(base_, pb, id, 930, false, true, text.data(), length);
    else
      DDInsCheck(base_, pb, id, 910, true, false, text.data(), length);
    return pb[0];
  };
  EXPECT_EQ(check(700, 5, false), 0);
  EXPECT_EQ(check(700, 5, false), 2);
  EXPECT_EQ(check(701, 400, true), 0);
  EXPECT_EQ(check(701, 3, true), 2);
  EXPECT_EQ(check(702, 401, false), DD_BAD_PARAMETER);
  EXPECT_EQ(check(702, -1, true), DD_BAD_PARAMETER);
  // A domain's checks with their source texts, read back whole or cut at
  // the caller's buffer.
  EXPECT_EQ(check(703, 4, true), 0);
  std::vector<uint8_t> source;
  for (int i = 0; i < 1000; ++i) source.insert(source.end(), {0, 0, uint8_t('A' + i % 26)});
  for (auto [id, chars] : {std::pair{701, 1000}, std::pair{703, 10}}) {
    int32_t pb[2] = {0, usr_};
    DDInsSource(base_, pb, id, " ", 1, 3, source.data(), chars);
    ASSERT_EQ(pb[0], 0);
  }
  struct Walk {
    int32_t mode, after, capacity;
    int32_t status, constraint, total, length;
  } walks[] = {{1, 0, 2000, 0, 701, 1000, 1000}, {1, 0, 900, 0, 701, 1000, 900},
               {1, 0, 800, 0, 701, 1000, 800},   {1, 0, 1, 0, 701, 1000, 1},
               {0, 0, 2000, 0, 701, 1000, 0},    {1, 701, 2000, 0, 703, 10, 10},
               {1, 703, 2000, 1, 703, 0, 0}};
  for (const Walk& w : walks) {
    std::vector<uint8_t> back(3 * static_cast<std::size_t>(w.capacity) + 3, 0xEE);
    int32_t pb[2] = {w.mode, usr_}, constraint = w.after, total = 0, length = -1;
    DDCurCheckCols(base_, pb, 930, &constraint, &total, back.data(), w.capacity, &length);
    EXPECT_EQ(pb[0], w.status) << w.after << " " << w.capacity;
    EXPECT_EQ(back[3 * static_cast<std::size_t>(w.capacity)], 0xEE) << "written past the buffer";
    if (w.status != 0) continue;
    EXPECT_EQ(constraint, w.constraint);
    EXPECT_EQ(total, w.total);
    EXPECT_EQ(length, w.length) << w.after << " " << w.capacity;
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 3 * length, source.begin()));
  }
  // Collations: made, their privileges granted, dropped with them.
  auto collation = [&](int32_t id) {
    int32_t pb[2] = {0, usr_};
    const uint8_t def[3] = {1, 2, 3};
    DDInsCollation(base_, pb, id, def, 3);
    return pb[0];
  };
  auto drop = [&](int32_t id) {
    int32_t pb[2] = {0, usr_};
    DDDelCollation(base_, pb, id);
    return pb[0];
  };
  auto granted = [&](int32_t id) {
    int32_t pb[2] = {0, usr_};
    DDChkPrivilege(base_, pb, 15, id, "U", 1);
    return pb[0];
  };
  for (int32_t id : {720, 721}) {
    ASSERT_EQ(InsObject(id, 18, "ADAM", "C" + std::to_string(id)), 0);
    EXPECT_EQ(collation(id), 0);
    int32_t pb[2] = {0, usr_};
    DDInsPrivilege(base_, pb, 15, id, false, "U", 1, "G", 1);
    ASSERT_EQ(pb[0], 0);
  }
  EXPECT_EQ(collation(720), -19007);
  EXPECT_EQ(drop(720), 0);
  EXPECT_EQ(granted(720), 0);
  EXPECT_EQ(granted(721), 1);
  EXPECT_EQ(drop(720), -19007);
  EXPECT_EQ(collation(720), 0);  // its rows are gone
  // Type usage.
  auto use = [&](int32_t kind, const std::string& column) {
    int32_t pb[2] = {0, usr_};
    DDInsTypeUse(base_, pb, kind, 930, 910, column.data(), static_cast<int32_t>(column.size()));
    return pb[0];
  };
  EXPECT_EQ(use(3, "A"), DD_KIND_OUTSIDE);
  EXPECT_EQ(use(6, "A"), DD_KIND_OUTSIDE);
  EXPECT_EQ(use(2, "A"), 0);
  EXPECT_EQ(use(2, "A"), 2);
  EXPECT_EQ(use(14, "A"), 0);
  // Objects by schema and name; the work block's level name for none.
  ASSERT_EQ(InsObject(730, 6, "ADAM", "T"), 0);
  ASSERT_EQ(InsObject(731, 7, "EVE", "T"), 0);
  auto id2 = [&](const std::string& schema, const std::string& name) {
    int32_t pb[2] = {0, usr_}, id = 0;
    DDGetObjectId2(base_, pb, schema.data(), static_cast<int32_t>(schema.size()), name.data(),
                   static_cast<int32_t>(name.size()), &id);
    return pb[0] == 0 ? id : -pb[0];
  };
  EXPECT_EQ(id2("ADAM", "T"), 730);
  EXPECT_EQ(id2("EVE", "T"), 731);
  EXPECT_EQ(id2("", "T"), 730);
  EXPECT_EQ(id2("EVE", "U"), -1);
  // ADAM's objects in the order of index 60 (C720's object row went with
  // its drop).
  std::vector<std::pair<std::string, int32_t>> got;
  int32_t pb[2] = {1, usr_}, id = 0, kind = 0;
  std::string name(128, ' ');
  for (DDGetIdentSchema(base_, pb, "ADAM", 4, name.data(), &id, &kind); pb[0] == 0 && got.size() < 10;
       DDGetIdentSchema(base_, pb, nullptr, 0, name.data(), &id, &kind)) {
    got.emplace_back(name.substr(0, name.find(' ')), kind);
    pb[0] = 0;
  }
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, int32_t>>{{"C721", 18}, {"T", 6}}));
  EXPECT_EQ(EndWork(0), 0);
  // The rows as written.
  std::string row = ReadRow(18, IntField(700) + TextField("CHECK", 20) + IntField(910));
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row.substr(63, 4), TextField("YES", 3));
  EXPECT_EQ(row.substr(81, 4), TextField("NO", 3));
  row = ReadRow(21, IntField(700));
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row.substr(8, 15), std::string(reinterpret_cast<char*>(text.data()), 15));
  EXPECT_EQ(row.substr(8 + 15, 3), std::string("\0\0 ", 3));  // blank padded
  row = ReadRow(24, IntField(701) + IntField(930));
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row.substr(14), TextField("NO", 3) + TextField("YES", 3));
  row = ReadRow(151, IntField(720));
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row.substr(7, 7), IntField(3));
  EXPECT_EQ(row.substr(28, 4), std::string("\0\1\2\3", 4));
  EXPECT_FALSE(ReadRow(36, IntField(721)).empty());
}

// An ident's password and kind changed, its object row stamped with the
// time of the change; the changes that do not fit the ident refused.
TEST_F(ObjectsTest, IdentChangesAndTheirRefusals) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  auto ins_ident = [&](const std::string& name, int32_t id, int32_t kind) {
    int32_t pb[2] = {0, usr_};
    DDInsIdent(base_, pb, name.data(), static_cast<int32_t>(name.size()), id, kind, nullptr, 0);
    return pb[0];
  };
  for (auto [name, id, kind] : {std::tuple{"ANN", 801, 3}, std::tuple{"GRP", 802, 1},
                                std::tuple{"OSU", 803, 4}, std::tuple{"LONE", 804, 3}}) {
    ASSERT_EQ(ins_ident(name, id, kind), 0);
    if (id != 804) {
      ASSERT_EQ(InsObject(id, 3, "", name), 0);
    }
  }
  uint8_t secret[DD_PASSWORD_BYTES] = {'S', 'E', 'C', 'R', 'E', 'T'};
  auto change = [&](int32_t mode, const std::string& name, int32_t kind) {
    int32_t pb[2] = {mode, usr_};
    DDUpdObjIdent(base_, pb, name.data(), static_cast<int32_t>(name.size()), kind, secret);
    return pb[0];
  };
  EXPECT_EQ(change(1, "ANN", 0), 0);
  EXPECT_EQ(change(1, "ANN", 0), 5);  // the password it has
  EXPECT_EQ(change(1, "GRP", 0), 3);
  EXPECT_EQ(change(1, "OSU", 0), 4);
  EXPECT_EQ(change(1, "NOBODY", 0), 1);
  EXPECT_EQ(change(1, "LONE", 0), -19007);
  EXPECT_EQ(change(2, "ANN", 1), DD_KIND_OUTSIDE);
  EXPECT_EQ(change(2, "ANN", 3), 5);
  EXPECT_EQ(change(2, "GRP", 4), 3);
  EXPECT_EQ(change(2, "OSU", 3), 0);
  EXPECT_EQ(change(1, "OSU", 0), 0);  // a USER now
  EXPECT_EQ(change(2, "ANN", 4), 0);
  EXPECT_EQ(change(7, "ANN", 4), DD_BAD_PARAMETER);
  int32_t pb[2] = {1, usr_}, id = 0, kind = 0;
  DDCurGrantee(base_, pb, 0, "ANN", 3, &id, nullptr, &kind);
  EXPECT_EQ(kind, 4);
  // The members of group GRP (802) by its id: ANN and OSU; then a member
  // without its ident row.
  for (const char* member : {"OSU", "ANN", "ZED"}) {
    int32_t b[2] = {0, usr_};
    DDInsPrivilege(base_, b, 4, 802, false, member, 3, "G", 1);
    ASSERT_EQ(b[0], 0);
  }
  std::vector<std::pair<std::string, int32_t>> members;
  std::string name(128, ' ');
  pb[0] = 1;
  for (DDGetGranteeById(base_, pb, 802, &kind, name.data()); pb[0] == 0 && members.size() < 10;
       DDGetGranteeById(base_, pb, 0, &kind, name.data())) {
    members.emplace_back(name.substr(0, 3), kind);
    pb[0] = 0;
  }
  EXPECT_EQ(pb[0], -19007);  // ZED has no ident row
  EXPECT_EQ(members, (std::vector<std::pair<std::string, int32_t>>{{"ANN", 4}, {"OSU", 3}}));
  pb[0] = 1;
  DDGetGranteeById(base_, pb, 803, &kind, name.data());
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(EndWork(0), 0);
  const std::string ann = ReadRow(14, TextField("ANN", 128));
  ASSERT_FALSE(ann.empty());
  EXPECT_EQ(ann.substr(157, 7), std::string("\0SECRET", 7));
  // The object rows changed carry the time of the change: digits of this
  // year first; one not changed has none.
  const std::time_t now = std::time(nullptr);
  char year[8];
  std::strftime(year, sizeof year, "%Y", std::gmtime(&now));
  for (int32_t id : {801, 803}) {
    const std::string object = ReadRow(11, IntField(id));
    ASSERT_FALSE(object.empty());
    EXPECT_EQ(object.substr(286, 1), std::string(1, '\0')) << id;
    EXPECT_EQ(object.substr(287, 4).substr(0, 2), std::string(year).substr(0, 2)) << id;
  }
  EXPECT_EQ(ReadRow(11, IntField(802)).substr(286, 1), "\xff");
}

// Modules, routine names, the routines of a module and the change time of
// an object.
TEST_F(ObjectsTest, ModulesAndRoutines) {
  // Routines of modules 850 and 851, as the routine statements write them.
  for (auto [id, module, kind] : {std::tuple{861, 850, "FUNCTION"}, std::tuple{862, 850, "PROCEDURE"},
                                  std::tuple{863, 851, "FUNCTION"}})
    WriteRow(29, IntField(id) + IntField(module) + TextField(kind, 20));
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  std::vector<uint8_t> text;
  for (int i = 0; i < 401; ++i) text.insert(text.end(), {0, 0, uint8_t('m')});
  auto module = [&](int32_t id, int32_t length) {
    int32_t pb[2] = {0, usr_};
    DDInsModule(base_, pb, id, 4, 5, text.data(), length);
    return pb[0];
  };
  EXPECT_EQ(module(850, 5), 0);
  EXPECT_EQ(module(850, 5), 2);
  EXPECT_EQ(module(851, 401), DD_BAD_PARAMETER);
  auto name = [&](int32_t id) {
    int32_t pb[2] = {0, usr_};
    DDInsRoutineName(base_, pb, id, "F", 1, "F_1", 3);
    return pb[0];
  };
  EXPECT_EQ(name(861), 0);
  EXPECT_EQ(name(861), 2);
  std::vector<std::pair<int32_t, bool>> got;
  int32_t pb[2] = {1, usr_}, id = 0;
  bool function = false;
  for (DDCurFunctions(base_, pb, 850, &id, &function); pb[0] == 0 && got.size() < 10;
       DDCurFunctions(base_, pb, 0, &id, &function)) {
    got.emplace_back(id, function);
    pb[0] = 0;
  }
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(got, (std::vector<std::pair<int32_t, bool>>{{861, true}, {862, false}}));
  ASSERT_EQ(InsObject(850, 10, "ADAM", "M"), 0);
  auto stamp = [&](int32_t id) {
    int32_t b[2] = {0, usr_};
    DDUpdChangeTime(base_, b, id);
    return b[0];
  };
  EXPECT_EQ(stamp(850), 0);
  EXPECT_EQ(stamp(999), 1);
  EXPECT_EQ(EndWork(0), 0);
  const std::string row = ReadRow(28, IntField(850));
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row.substr(7, 21), IntField(139) + IntField(4) + IntField(5));
  EXPECT_EQ(row.substr(29, 6), std::string("\0\0m\0\0m", 6));
  EXPECT_EQ(ReadRow(30, IntField(861)).substr(7, 134),
            TextField("F", 128) + std::string(1, '\0') + "F_1 ");
  const std::string object = ReadRow(11, IntField(850));
  EXPECT_EQ(object.substr(286, 1), std::string(1, '\0'));
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(object[287])));
}

// The kernel's catalog check: the version row read, its text handed back,
// -19050 for another version or none.
class CatalogCheckTest : public ObjectsTest {
 protected:
  int32_t Check(std::string* version) {
    int32_t pb[2] = {0, usr_};
    const int32_t stm = DDSlotStatement(base_, pb, 133, IMAGE_STM_MOS_OBJECT);
    EXPECT_NE(stm, 0);
    const int32_t rc = DDSelectRun(base_, pb, stm, true);
    uint8_t* f = nullptr;
    int32_t len = 0;
    EXPECT_EQ(StatementField(base_, stm, true, 1, &f, &len), 0);
    version->assign(reinterpret_cast<char*>(f) + 1, 8);
    return rc;
  }
  std::string VersionRow(const std::string& version) {
    return TextField("CATALOG VERSION", 254) + TextField(version, 260);
  }
};

TEST_F(CatalogCheckTest, TheServersVersionPasses) {
  WriteRow(44, VersionRow(CATALOG_VERSION));
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  std::string version;
  EXPECT_EQ(Check(&version), 0);
  EXPECT_EQ(version, CATALOG_VERSION);
  EXPECT_EQ(EndWork(0), 0);
}

TEST_F(CatalogCheckTest, AnotherVersionOrNoneIsRefused) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  std::string version;
  EXPECT_EQ(Check(&version), -19050);
  EXPECT_EQ(EndWork(0), 0);
  WriteRow(44, VersionRow("00.09.00"));
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(Check(&version), -19050);
  EXPECT_EQ(version, "00.09.00");
  EXPECT_EQ(EndWork(0), 0);
}

// The kernel's object names of a table through its statement -251, run by
// the kernel's own DSGetObjectName on the thread's statement slot.
TEST_F(ObjectsTest, TheKernelReadsATablesNames) {
  kernel_services_.damae2 = [](int32_t* base, int32_t* result, int32_t stm, int32_t usr) {
    result[0] = DDExecStm(base, usr, stm);
  };
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(940, 6, "ADAM", "T940"), 0);
  EXPECT_EQ(EndWork(0), 0);
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_};
  const int32_t stm = DDSlotStatement(base_, pb, 132, IMAGE_STM_MOS_TABLE);
  ASSERT_NE(stm, 0);
  W(thr_ + THR_STM_MOS_TABLE) = stm;
  uint8_t names[OBJECT_NAME_BYTES];
  EXPECT_EQ(DSGetObjectName(base_, OBJECT_KIND_TABLE, 940, names, sizeof names), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(names), 256),
            Padded("ADAM", 128) + Padded("T940", 128));
  EXPECT_EQ(DSGetObjectName(base_, OBJECT_KIND_TABLE, 941, names, sizeof names), NAME_NOT_FOUND);
  W(thr_ + THR_STM_MOS_TABLE) = 0;
  EXPECT_EQ(EndWork(0), 0);
}

}  // namespace

namespace {

// A schema name longer than a schema field is refused, never cut to the
// name of another schema whose objects would then answer.
TEST_F(ObjectsTest, AnOverlongSchemaNameIsRefusedNotCut) {
  const std::string schema(128, 'S');
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(900, 6, schema, "T"), 0);
  EXPECT_EQ(ObjectId(schema, "T", 6), 900);
  EXPECT_EQ(ObjectId(schema + "X", "T", 6), -DDParams::kTextTooLong);
  EXPECT_EQ(ObjectId(std::string(300, 'S'), "T", 6), -DDParams::kTextTooLong);
  EXPECT_EQ(EndWork(1), 0);
}

// A password change without a password is refused before the ident is
// read, never run on a missing value.
TEST_F(ObjectsTest, APasswordChangeWithoutAPasswordIsRefused) {
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {1, usr_};
  DDUpdObjIdent(base_, pb, "EVE", 3, 0, nullptr);
  EXPECT_EQ(pb[0], DD_BAD_PARAMETER);
  EXPECT_EQ(EndWork(1), 0);
}

}  // namespace
