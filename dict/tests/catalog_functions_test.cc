// The statement functions of routines, modules, source pieces, domains,
// triggers, schemas, privileges and column rows against the rows they write
// (read back by record access after the work) or a std::map model: kinds
// outside a function's table refused before a run, present rows, missing
// rows, cursors to their end, a rollback that leaves nothing.
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "dict/new_ids.h"
#include "dict/tests/objects_fixture.h"
#include "dict/type_encoding.h"
#include "dict/type_words.h"

namespace {

std::string Chars3(const std::string& s) {  // three-byte characters
  std::string out;
  for (char c : s) out += std::string("\0\0", 2) + c;
  return out;
}
const uint8_t* U8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }
int32_t Len(const std::string& s) { return static_cast<int32_t>(s.size()); }
std::string Trim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}
const std::string kNull7(7, '\xff');

class CatalogFunctionsTest : public ObjectsTest {
 protected:
  void SetUp() override {
    SetUpCatalog({11, 13, 14, 15, 18, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 33, 38, 39, 40, 41, 43});
  }
  int32_t Begin() {
    Protocol(21);
    return BegWork();
  }
  int32_t InsPrivilege(int32_t kind, int32_t id, const std::string& grantee,
                       const std::string& grantor) {
    int32_t pb[2] = {0, usr_};
    DDInsPrivilege(base_, pb, kind, id, false, grantee.data(), Len(grantee), grantor.data(),
                   Len(grantor));
    return pb[0];
  }
  int32_t InsSource(int32_t id, int32_t kind, const std::string& text) {
    int32_t pb[2] = {0, usr_};
    const std::string t = Chars3(text);
    DDInsSource(base_, pb, id, "", 0, kind, U8(t), Len(text));
    return pb[0];
  }
  // Rows of table 41 of object `id` (any name and kind).
  bool HasSource(int32_t id, int32_t piece = 1, const std::string& kind = "ROUTINE") {
    return !ReadRow(41, IntField(id) + TextField(" ", 128) + TextField(kind, 20) +
                            IntField(piece)).empty();
  }
};

TEST_F(CatalogFunctionsTest, ProceduresFunctionsAndParametersAreStoredAsGiven) {
  ASSERT_EQ(Begin(), 0);
  const std::string text = Chars3("BEGIN END");
  DDRoutineDef r;
  r.id = 700, r.module_id = 600, r.access = 3, r.ints[0] = 2, r.ints[1] = 0, r.ints[2] = 5;
  r.ints[3] = 9, r.text3 = U8(text), r.length = 9, r.flags[0] = true, r.flags[2] = true;
  r.specific = "P_700", r.specific_length = 5;
  int32_t pb[2] = {0, usr_};
  DDInsProcedure(base_, pb, r);
  EXPECT_EQ(pb[0], 0);
  DDInsProcedure(base_, pb, r);
  EXPECT_EQ(pb[0], 2);
  r.id = 701, r.access = 4, r.specific = "F_701";
  DDInsFunction(base_, pb, r);
  EXPECT_EQ(pb[0], 0);
  // Refused before a run: an access outside 1-4, a text above 400.
  for (auto [access, length, want] : {std::tuple{0, 1, DD_KIND_OUTSIDE},
                                      std::tuple{5, 1, DD_KIND_OUTSIDE},
                                      std::tuple{1, 401, DD_BAD_PARAMETER}}) {
    r.id = 702, r.access = access, r.length = length;
    DDInsFunction(base_, pb, r);
    EXPECT_EQ(pb[0], want) << access;
  }
  // Parameters: the type stored by its words.
  DDTypeInput dec;
  dec.code = 3, dec.length = 12, dec.scale = 2;
  DDParameterDef d;
  d.routine_id = 700, d.position = 1, d.mode = 2, d.name = "AMOUNT", d.name_length = 6;
  d.second = 4, d.type = &dec, d.last = 8;
  DDInsParameter(base_, pb, d);
  EXPECT_EQ(pb[0], 0);
  DDInsParameter(base_, pb, d);
  EXPECT_EQ(pb[0], 2);
  DDTypeInput bad;
  bad.code = 36;
  d.position = 2, d.type = &bad;
  DDInsParameter(base_, pb, d);
  EXPECT_EQ(pb[0], DD_KIND_OUTSIDE);
  EXPECT_EQ(EndWork(0), 0);

  std::string row = ReadRow(29, IntField(700));
  ASSERT_EQ(row.size(), 2517u);
  EXPECT_EQ(row.substr(7, 49), IntField(600) + TextField("PROCEDURE", 20) + TextField("READS SQL DATA", 20));
  EXPECT_EQ(row.substr(56, 42), IntField(2) + IntField(0) + IntField(5) + IntField(0) + IntField(9) + kNull7);
  EXPECT_EQ(row.substr(98, 28), std::string(1, '\0') + text);
  EXPECT_EQ(row.substr(2300, 25), TextField("YES", 3) + TextField("SQL", 20));
  EXPECT_EQ(row.substr(2325, 129), TextField("P_700", 128));
  EXPECT_EQ(row.substr(2496, 18), TextField("NO", 3) + IntField(0) + std::string(3, '\xff') + TextField("YES", 3));
  row = ReadRow(29, IntField(701));
  ASSERT_EQ(row.size(), 2517u);
  EXPECT_EQ(row.substr(14, 42), TextField("FUNCTION", 20) + TextField("MODIFIES SQL DATA", 20));
  EXPECT_EQ(row.substr(77, 21), IntField(1) + IntField(9) + IntField(0));
  EXPECT_EQ(row.substr(2510, 4), std::string(4, '\xff'));
  EXPECT_TRUE(ReadRow(29, IntField(702)).empty());
  row = ReadRow(31, IntField(700) + IntField(1) + TextField("NO", 3));
  ASSERT_EQ(row.size(), 303u);
  EXPECT_EQ(row.substr(18, 135), TextField("INOUT", 5) + TextField("AMOUNT", 128));
  EXPECT_EQ(row.substr(153, 28), IntField(0) + IntField(4) + IntField(8) + kNull7);
  DDTypeParams want;
  ASSERT_EQ(DDEncodeType(dec, &want), 0);
  EXPECT_EQ(row.substr(181, 31), TextField(std::string(DDTypeWord(want.type_entry)), 30));
  EXPECT_EQ(row.substr(265, 21), IntField(static_cast<int32_t>(*want.p[7])) +
                                     IntField(static_cast<int32_t>(*want.p[8])) + IntField(10));
}

TEST_F(CatalogFunctionsTest, GeneratedRoutineSourcePieces) {
  ASSERT_EQ(Begin(), 0);
  int32_t pb[2] = {0, usr_};
  const std::string one = Chars3(std::string(800, 'A')), two = Chars3("TAIL"), three = Chars3("NEW");
  DDInsGenRoutine(base_, pb, 2, 1, 810, 7, 804, U8(one), 800);
  EXPECT_EQ(pb[0], 0);
  DDInsGenRoutine(base_, pb, 1, 1, 810, 2, 999, U8(two), 4);
  EXPECT_EQ(pb[0], 0);
  DDInsGenRoutine(base_, pb, 1, 2, 810, 3, 0, U8(two), 4);
  EXPECT_EQ(pb[0], DD_KIND_OUTSIDE);
  DDInsGenRoutine(base_, pb, 1, 1, 810, 3, 0, U8(one), 801);
  EXPECT_EQ(pb[0], DD_BAD_PARAMETER);
  std::string got(2400, '?');
  int32_t total = 0;
  DDGetSourceText(base_, pb, 810, 1, reinterpret_cast<uint8_t*>(got.data()), &total);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(got, one);
  EXPECT_EQ(total, 804);
  DDGetSourceText(base_, pb, 810, 2, reinterpret_cast<uint8_t*>(got.data()), &total);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(got.substr(0, 12), two);
  EXPECT_EQ(total, -1);  // a later piece carries no total
  DDGetSourceText(base_, pb, 810, 3, reinterpret_cast<uint8_t*>(got.data()), &total);
  EXPECT_EQ(pb[0], 1);
  // A piece present already takes the text and total given.
  DDInsGenRoutine(base_, pb, 3, 1, 810, 2, 55, U8(three), 3);
  EXPECT_EQ(pb[0], 0);
  DDGetSourceText(base_, pb, 810, 2, reinterpret_cast<uint8_t*>(got.data()), &total);
  EXPECT_EQ(got.substr(0, 9), three);
  EXPECT_EQ(total, 55);
  DDUpdSourceText(base_, pb, 810, 1, U8(two), 4);
  EXPECT_EQ(pb[0], 0);
  DDUpdSourceText(base_, pb, 811, 1, U8(two), 4);
  EXPECT_EQ(pb[0], 1);
  DDUpdSourceText(base_, pb, 810, 1, U8(one), 801);
  EXPECT_EQ(pb[0], DD_BAD_PARAMETER);
  DDGetSourceText(base_, pb, 810, 1, reinterpret_cast<uint8_t*>(got.data()), &total);
  EXPECT_EQ(got.substr(0, 15), two + Chars3(" "));
  EXPECT_EQ(total, 804);
  EXPECT_EQ(EndWork(1), 0);
  EXPECT_FALSE(HasSource(810));
}

// Modules dropped by id and by name against a model of their object,
// module, privilege and source rows; the others stay whole.
TEST_F(CatalogFunctionsTest, ModulesAreDroppedWithTheirRows) {
  std::mt19937 rng(71);
  ASSERT_EQ(Begin(), 0);
  std::map<int32_t, std::string> modules;  // id -> name
  for (int32_t id = 600; id < 640; ++id) {
    const std::string name = "M" + std::to_string(rng() % 12);
    ASSERT_EQ(InsObject(id, 10, "S" + std::to_string(id % 3), name), 0);
    int32_t pb[2] = {0, usr_};
    const std::string text = Chars3("MODULE");
    DDInsModule(base_, pb, id, 1, 2, U8(text), 6);
    ASSERT_EQ(pb[0], 0);
    ASSERT_EQ(InsPrivilege(7, id, "U" + std::to_string(id % 4), "_SYSTEM"), 0);
    ASSERT_EQ(InsSource(id, 1, "CREATE MODULE"), 0);
    modules[id] = name;
  }
  ASSERT_EQ(InsObject(650, 6, "S0", "M1"), 0);  // a table of a module's name stays
  auto drop = [&](int32_t mode, int32_t id, const std::string& name) {
    std::set<int32_t> got;
    int32_t pb[2] = {mode, usr_}, out = 0;
    for (;;) {
      DDDelModule(base_, pb, id, name.data(), Len(name), &out);
      if (pb[0] != 0) break;
      got.insert(out);
      pb[0] = 0;
    }
    EXPECT_EQ(pb[0], 1);
    return got;
  };
  std::set<int32_t> want;
  for (auto& [id, name] : modules)
    if (name == "M1") want.insert(id);
  EXPECT_EQ(drop(3, 0, "M1"), want);
  EXPECT_EQ(drop(2, 605, ""), modules[605] == "M1" ? std::set<int32_t>{} : std::set<int32_t>{605});
  if (modules[605] != "M1") want.insert(605);
  EXPECT_EQ(drop(2, 605, ""), std::set<int32_t>{});
  int32_t pb[2] = {9, usr_}, out = 0;
  DDDelModule(base_, pb, 600, "", 0, &out);
  EXPECT_EQ(pb[0], DD_BAD_PARAMETER);
  EXPECT_EQ(EndWork(0), 0);
  for (const auto& [id, name] : modules) {
    const bool gone = want.count(id) != 0;
    EXPECT_EQ(ReadRow(11, IntField(id)).empty(), gone) << id;
    EXPECT_EQ(ReadRow(28, IntField(id)).empty(), gone) << id;
    EXPECT_EQ(ReadRow(27, IntField(id) + TextField("PROCEDURE", 20) +
                              TextField("U" + std::to_string(id % 4), 128) +
                              TextField("_SYSTEM", 128)).empty(), gone) << id;
    EXPECT_EQ(HasSource(id), !gone) << id;
  }
  EXPECT_FALSE(ReadRow(11, IntField(650)).empty());
}

TEST_F(CatalogFunctionsTest, RoutineSourcesDroppedAndRowsUpdated) {
  ASSERT_EQ(Begin(), 0);
  int32_t pb[2] = {0, usr_};
  const std::string text = Chars3("M");
  for (int32_t m : {600, 601}) {
    DDInsModule(base_, pb, m, 1, 2, U8(text), 1);
    ASSERT_EQ(pb[0], 0);
    ASSERT_EQ(InsSource(m, 1, std::string(900, 'X')), 0);
  }
  DDRoutineDef r;
  for (auto [id, module] : {std::pair{700, 600}, std::pair{701, 600}, std::pair{702, 601}}) {
    r.id = id, r.module_id = module;
    DDInsProcedure(base_, pb, r);
    ASSERT_EQ(pb[0], 0);
  }
  DDDelRoutineSrc(base_, pb, 600, 14, 21, 84, 91);
  EXPECT_EQ(pb[0], 0);
  DDDelRoutineSrc(base_, pb, 605, 14, 21, 84, 91);
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(EndWork(0), 0);
  EXPECT_EQ(ReadRow(28, IntField(600)).substr(7, 21), IntField(139) + IntField(14) + IntField(21));
  EXPECT_EQ(ReadRow(28, IntField(601)).substr(7, 21), IntField(139) + IntField(1) + IntField(2));
  for (auto [id, changed] : {std::pair{700, true}, std::pair{701, true}, std::pair{702, false}})
    EXPECT_EQ(ReadRow(29, IntField(id)).substr(84, 14) == IntField(84) + IntField(91), changed) << id;
  EXPECT_FALSE(HasSource(600, 1));
  EXPECT_FALSE(HasSource(600, 2));
  EXPECT_TRUE(HasSource(601, 2));
}

// Domains: stored and read back by type; the lookup finds the DOMAIN among
// other objects of its name; its default dropped with its usage rows;
// where domains and sequences are used.
TEST_F(CatalogFunctionsTest, DomainsRoundTripAndTheirUsage) {
  ASSERT_EQ(Begin(), 0);
  int32_t pb[2] = {0, usr_};
  struct Case {
    int32_t code, length, scale;
  } cases[] = {{1, 20, 0}, {3, 9, 2}, {34, 30, 0}, {13, 0, 3}, {4, 0, 0}};
  const std::string deflt = Chars3("'X'");
  int32_t id = 800;
  for (const Case& c : cases) {
    DDTypeInput t;
    t.code = c.code, t.length = c.length, t.precision = c.length, t.scale = c.scale;
    t.leading = c.scale;
    // Another object of the name comes first in index 60 (a lower id).
    ASSERT_EQ(InsObject(id - 100, 6, "S", "D" + std::to_string(id)), 0);
    ASSERT_EQ(InsObject(id, 2, "S", "D" + std::to_string(id)), 0);
    DDInsDomain(base_, pb, id, t, 7, true, false, id == 800 ? U8(deflt) : nullptr, 3);
    ASSERT_EQ(pb[0], 0) << c.code;
    ++id;
  }
  DDTypeInput bad;
  bad.code = 0;
  DDInsDomain(base_, pb, 890, bad, 0, false, false, nullptr, 0);
  EXPECT_EQ(pb[0], DD_KIND_OUTSIDE);
  DDInsDomain(base_, pb, 800, bad, 0, false, false, nullptr, 0);
  EXPECT_EQ(pb[0], DD_KIND_OUTSIDE);
  id = 800;
  for (const Case& c : cases) {
    const std::string name = "D" + std::to_string(id);
    DDDomainInfo d;
    std::string text(30, '?');
    pb[0] = 0;
    DDGetDomain(base_, pb, "S", 1, name.data(), Len(name), &d,
                reinterpret_cast<uint8_t*>(text.data()), 10);
    ASSERT_EQ(pb[0], 0) << name;
    EXPECT_EQ(d.id, id);
    EXPECT_EQ(d.type, c.code) << name;
    EXPECT_EQ(d.character_set, 0) << name;  // the defaults read back as 0
    EXPECT_EQ(d.int140, 7);
    EXPECT_TRUE(d.flag1);
    EXPECT_TRUE(d.flag2);  // "NO " is not "N"
    EXPECT_EQ(d.default_length, id == 800 ? 3 : -1) << name;
    if (id == 800) {
      EXPECT_EQ(text.substr(0, 9), deflt);
    }
    // Through the path.
    Path({"T", "S"});
    pb[0] = 0;
    DDGetDomain(base_, pb, "", 0, name.data(), Len(name), &d, nullptr, 0);
    EXPECT_EQ(pb[0], 0);
    EXPECT_EQ(d.id, id);
    // DDGetObjectId sees the DOMAIN behind the table of its name too.
    EXPECT_EQ(ObjectId("S", name, 2), id);
    EXPECT_EQ(ObjectId("S", name, 6), id - 100);
    EXPECT_EQ(ObjectId("S", name, 7), -1);
    ++id;
  }
  DDDomainInfo d;
  pb[0] = 0;
  DDGetDomain(base_, pb, "S", 1, "NONE", 4, &d, nullptr, 0);
  EXPECT_EQ(pb[0], 1);
  pb[0] = 0;
  DDGetDomain(base_, pb, "S", 1, "D700", 4, &d, nullptr, 0);  // a table of the name only
  EXPECT_EQ(pb[0], 1);
  // Prepared without binding: nothing runs; then prepared again to run.
  pb[0] = -3;
  DDGetDomain(base_, pb, "S", 1, "D801", 4, &d, nullptr, 0);
  EXPECT_EQ(pb[0], 0);
  pb[0] = 0;
  DDGetDomain(base_, pb, "S", 1, "D801", 4, &d, nullptr, 0);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(d.id, 801);
  pb[0] = 5;
  DDGetDomain(base_, pb, "S", 1, "D801", 4, &d, nullptr, 0);
  EXPECT_EQ(pb[0], KERNEL_BAD_PARAMETER);

  // The default dropped: NULL, and the usage rows of the domain as user.
  for (auto [user, used] : {std::pair{800, 900}, std::pair{800, 901}, std::pair{801, 900}}) {
    DDInsObjUsage(base_, pb, user, 2, used, 14);
    ASSERT_EQ(pb[0], 0);
  }
  DDDelDomainUse(base_, pb, 800);
  EXPECT_EQ(pb[0], 0);
  DDDelDomainUse(base_, pb, 899);
  EXPECT_EQ(pb[0], 1);

  // Columns using domain 800 and sequence 900.
  ASSERT_EQ(InsObject(950, 6, "S", "TAB"), 0);
  ASSERT_EQ(InsObject(951, 7, "R", "VW"), 0);
  for (auto [kind, used, table, column] :
       {std::tuple{2, 800, 950, "A"}, std::tuple{2, 800, 951, "B"}, std::tuple{14, 800, 950, "C"},
        std::tuple{2, 801, 950, "D"}, std::tuple{2, 800, 952, "E"}}) {
    DDInsTypeUse(base_, pb, kind, used, table, column, 1);
    ASSERT_EQ(pb[0], 0);
  }
  std::vector<std::string> seen;
  pb[0] = 1;
  for (int n = 0; n < 10; ++n, pb[0] = 0) {
    int32_t table = 0, kind = 0;
    std::string column(128, '?'), name(128, '?'), schema(128, '?');
    DDGetDomainSeq(base_, pb, 800, 2, &table, column.data(), &kind, name.data(), schema.data());
    if (pb[0] != 0) break;
    seen.push_back(std::to_string(table) + Trim(column) + std::to_string(kind) + Trim(name) + Trim(schema));
  }
  EXPECT_EQ(pb[0], 1);
  std::sort(seen.begin(), seen.end());
  // The column of a table without an object row is passed over.
  EXPECT_EQ(seen, (std::vector<std::string>{"950A6TABS", "951B7VWR"}));
  pb[0] = 1;
  int32_t table = 0, kind = 0;
  DDGetDomainSeq(base_, pb, 800, 6, &table, nullptr, &kind, nullptr, nullptr);
  EXPECT_EQ(pb[0], DD_KIND_OUTSIDE);
  EXPECT_EQ(EndWork(0), 0);
  const std::string row = ReadRow(23, IntField(800));
  ASSERT_EQ(row.size(), 1359u);
  EXPECT_EQ(row.substr(147, 1201), std::string(1201, '\xff'));
  EXPECT_EQ(row.substr(1348, 8), TextField("YES", 3) + TextField("NO", 3));
  EXPECT_TRUE(ReadRow(38, IntField(900) + TextField("SEQUENCE", 20) + IntField(800) + TextField("DOMAIN", 20)).empty());
  EXPECT_TRUE(ReadRow(38, IntField(901) + TextField("SEQUENCE", 20) + IntField(800) + TextField("DOMAIN", 20)).empty());
  EXPECT_FALSE(ReadRow(38, IntField(900) + TextField("SEQUENCE", 20) + IntField(801) + TextField("DOMAIN", 20)).empty());
}

// Triggers: the row as given, the table's names by the trigger.
TEST_F(CatalogFunctionsTest, TriggersAndTheirTables) {
  ASSERT_EQ(Begin(), 0);
  int32_t pb[2] = {0, usr_};
  ASSERT_EQ(InsObject(950, 6, "S", "TAB"), 0);
  const std::string cond = Chars3("NEW.A > 0"), action = Chars3("CALL P()");
  DDTriggerDef t;
  t.id = 960, t.table_id = 950, t.event = 2, t.timing = 3, t.condition3 = U8(cond);
  t.condition_length = 9, t.action3 = U8(action), t.action_length = 8, t.row = true;
  t.old_name = "O", t.old_length = 1, t.new_name = "N", t.new_length = 1;
  t.columns_mode = 2, t.columns = "ABC", t.value = 42;
  DDInsTrigger(base_, pb, t);
  EXPECT_EQ(pb[0], 0);
  DDInsTrigger(base_, pb, t);
  EXPECT_EQ(pb[0], 2);
  t.id = 961, t.condition_length = 0, t.columns_mode = 1, t.event = 1, t.timing = 2;
  DDInsTrigger(base_, pb, t);
  EXPECT_EQ(pb[0], 0);
  t.id = 962, t.table_id = 999;
  DDInsTrigger(base_, pb, t);  // a trigger of a table without object row
  EXPECT_EQ(pb[0], 0);
  for (auto [event, timing, cl, al, want] :
       {std::tuple{0, 1, 0, 1, DD_KIND_OUTSIDE}, std::tuple{1, 4, 0, 1, DD_KIND_OUTSIDE},
        std::tuple{1, 1, 401, 1, DD_BAD_PARAMETER}, std::tuple{1, 1, 0, 401, DD_BAD_PARAMETER}}) {
    t.id = 963, t.event = event, t.timing = timing, t.condition_length = cl, t.action_length = al;
    DDInsTrigger(base_, pb, t);
    EXPECT_EQ(pb[0], want);
  }
  int32_t pbc[2] = {0, usr_};
  DDChkTrigger(base_, pbc, 950);
  EXPECT_EQ(pbc[0], 2);
  std::string name(128, '?'), schema(128, '?');
  int32_t table = 0;
  for (auto [id, want] : {std::pair{960, 0}, std::pair{961, 0}, std::pair{962, 1}, std::pair{963, 1}}) {
    pb[0] = 0;
    DDGetTriggerNames(base_, pb, id, name.data(), &table, schema.data());
    EXPECT_EQ(pb[0], want) << id;
    if (want == 0) {
      EXPECT_EQ(Trim(name), "TAB");
      EXPECT_EQ(Trim(schema), "S");
      EXPECT_EQ(table, 950);
    }
  }
  pb[0] = -3;
  DDGetTriggerNames(base_, pb, 960, name.data(), &table, schema.data());
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(EndWork(0), 0);
  std::string row = ReadRow(33, IntField(960));
  ASSERT_EQ(row.size(), 2775u);
  EXPECT_EQ(row.substr(7, 70), IntField(950) + TextField("UPDATE", 20) + TextField("ROW", 20) +
                                   TextField("AFTER", 20));
  EXPECT_EQ(row.substr(77, 28), std::string(1, '\0') + cond);
  EXPECT_EQ(row.substr(1278, 25), std::string(1, '\0') + action);
  EXPECT_EQ(row.substr(2479, 8), std::string(4, '\xff') + TextField("ABC", 3));
  EXPECT_EQ(row.substr(2487, 288), std::string(1, '\0') + TextField("O", 128) +
                                       TextField("N", 128) + IntField(0) + kNull7 + IntField(42) +
                                       std::string(8, '\0'));
  row = ReadRow(33, IntField(961));
  EXPECT_EQ(row.substr(14, 21), TextField("INSERT", 20));
  EXPECT_EQ(row.substr(56, 21), TextField("INSTEAD OF", 20));
  EXPECT_EQ(row.substr(77, 1201), std::string(1201, '\xff'));
  EXPECT_EQ(row.substr(2483, 4), std::string(4, '\xff'));
  EXPECT_TRUE(ReadRow(33, IntField(963)).empty());
}

// Schemas dropped singly and by cursor; names by id and schema; an ident
// of a name while it holds privileges.
TEST_F(CatalogFunctionsTest, SchemasNamesAndIdents) {
  ASSERT_EQ(Begin(), 0);
  int32_t pb[2] = {0, usr_};
  for (auto [id, name] : {std::pair{500, "A"}, std::pair{501, "B"}, std::pair{502, "B"}}) {
    ASSERT_EQ(InsObject(id, 15, "", name), 0);
    DDInsSchema(base_, pb, id);
    ASSERT_EQ(pb[0], 0);
  }
  ASSERT_EQ(InsObject(503, 6, "", "B"), 0);  // not a schema
  ASSERT_EQ(InsObject(504, 15, "", "C"), 0);  // without its schema row
  ASSERT_EQ(InsObject(510, 6, "A", "T1"), 0);
  ASSERT_EQ(InsObject(511, 7, "A", "T2"), 0);
  ASSERT_EQ(InsObject(512, 6, "B", "T1"), 0);
  // Names by id within a schema.
  for (auto [id, schema, want] : {std::tuple{510, "A", "T1"}, std::tuple{511, "A", "T2"},
                                  std::tuple{512, "A", ""}, std::tuple{512, "B", "T1"},
                                  std::tuple{513, "B", ""}}) {
    std::string name(128, '?');
    DDGetNameById(base_, pb, id, schema, 1, name.data());
    EXPECT_EQ(pb[0], *want ? 0 : 1) << id << schema;
    if (*want) {
      EXPECT_EQ(Trim(name), want);
    }
  }
  // Mode 1 drops the schemas of the name and ends with 0.
  pb[0] = 1;
  DDDelSchema(base_, pb, "A", 1, nullptr);
  EXPECT_EQ(pb[0], 0);
  pb[0] = 1;
  DDDelSchema(base_, pb, "A", 1, nullptr);
  EXPECT_EQ(pb[0], 1);
  // Another mode hands back each schema dropped.
  std::vector<std::string> dropped;
  pb[0] = 2;
  for (int n = 0; n < 5; ++n, pb[0] = 0) {
    std::string name(128, '?');
    DDDelSchema(base_, pb, "B", 1, name.data());
    if (pb[0] != 0) break;
    dropped.push_back(Trim(name));
  }
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(dropped, (std::vector<std::string>{"B", "B"}));
  pb[0] = 2;
  DDDelSchema(base_, pb, "C", 1, nullptr);
  EXPECT_EQ(pb[0], -19007);

  // Idents by name while they hold a privilege.
  for (auto [name, id] : {std::pair{"EVE", 20}, std::pair{"ADAM", 21}}) {
    DDInsIdent(base_, pb, name, Len(name), id, 3, nullptr, 0);
    ASSERT_EQ(pb[0], 0);
  }
  ASSERT_EQ(InsPrivilege(5, 510, "EVE", "_SYSTEM"), 0);
  for (auto [name, id] : {std::pair{"EVE", 20}, std::pair{"ADAM", 0}, std::pair{"NOONE", 0}}) {
    int32_t got = 0, flag = -1;
    std::string back(128, '?');
    pb[0] = 1;
    DDGetIdentByName(base_, pb, name, Len(name), &got, &flag, back.data());
    EXPECT_EQ(pb[0], id ? 0 : 1) << name;
    if (id == 0) continue;
    EXPECT_EQ(got, id);
    EXPECT_EQ(flag, 1);  // NULL is not "N"
    EXPECT_EQ(Trim(back), name);
    pb[0] = 0;
    DDGetIdentByName(base_, pb, name, Len(name), &got, &flag, nullptr);
    EXPECT_EQ(pb[0], 1);
  }
  EXPECT_EQ(EndWork(0), 0);
  for (int32_t id : {500, 501, 502})
    EXPECT_TRUE(ReadRow(11, IntField(id)).empty()) << id;
  for (int32_t id : {500, 501, 502})
    EXPECT_TRUE(ReadRow(13, IntField(id)).empty()) << id;
  EXPECT_FALSE(ReadRow(11, IntField(503)).empty());
  EXPECT_FALSE(ReadRow(11, IntField(510)).empty());
}

// The privileges a grantee holds against a model; a new column's
// privileges from its table's; privilege usage.
TEST_F(CatalogFunctionsTest, PrivilegesOfGranteesColumnsAndUsage) {
  std::mt19937 rng(6);
  ASSERT_EQ(Begin(), 0);
  // (grantee) -> (kind, object, grantor)
  std::map<std::string, std::set<std::tuple<int32_t, int32_t, std::string>>> held;
  const int32_t kinds[] = {1, 3, 5, 7, 9, 12, 15, 17};
  for (int n = 0; n < 120; ++n) {
    const std::string grantee = "G" + std::to_string(rng() % 5);
    const std::string grantor = rng() % 2 ? "_SYSTEM" : "BOSS";
    const int32_t kind = kinds[rng() % 8];
    const int32_t object = DDPrivKindHasObject(kind) ? 500 + static_cast<int32_t>(rng() % 9) : 0;
    ASSERT_EQ(InsPrivilege(kind, object, grantee, grantor), 0);
    held[grantee].insert({kind, object, grantor});
  }
  for (const std::string grantee : {"G0", "G1", "G2", "G3", "G4", "G9"}) {
    for (const std::string by : {"", "BOSS"}) {
      std::multiset<std::pair<int32_t, int32_t>> want, got;
      for (const auto& [kind, object, grantor] : held[grantee])
        if (by.empty() || grantor == by) want.insert({kind, object});
      int32_t pb[2] = {1, usr_};
      for (int n = 0; n < 200; ++n, pb[0] = 0) {
        int32_t kind = 0, object = 0;
        DDCurSysPrivs(base_, pb, grantee.data(), Len(grantee), by.data(), Len(by), &kind, &object);
        if (pb[0] != 0) break;
        got.insert({kind, object});
      }
      EXPECT_EQ(pb[0], 1);
      EXPECT_EQ(got, want) << grantee << by;
    }
  }
  // A new column's privileges: SELECT, INSERT, UPDATE, REFERENCES of its
  // table, not DELETE, nor another table's.
  EXPECT_EQ(InsTablePriv("SELECT", "YES"), 0);
  EXPECT_EQ(InsTablePriv("DELETE", "NO "), 0);
  EXPECT_EQ(InsTablePriv("UPDATE", "NO ", "V"), 0);
  EXPECT_EQ(InsTablePriv("REFERENCES", "NO ", "W"), 0);
  int32_t pb[2] = {0, usr_};
  DDInsNewColumnPrivs(base_, pb, 910, "NEWCOL", 6);
  EXPECT_EQ(pb[0], 0);
  DDInsNewColumnPrivs(base_, pb, 911, "NEWCOL", 6);
  EXPECT_EQ(pb[0], 0);
  DDInsNewColumnPrivs(base_, pb, 910, "NEWCOL", 6);
  EXPECT_EQ(pb[0], -19007);  // present already: the work is to be rolled back
  // Privilege usage: the usage row and the object usage row, once.
  ASSERT_EQ(InsObject(910, 6, "S", "TAB"), 0);
  for (auto [object, kind, priv, want] : {std::tuple{970, 7, 1, 0}, std::tuple{970, 7, 2, 0},
                                          std::tuple{970, 7, 1, 2}, std::tuple{971, 16, 5, 0}}) {
    DDInsPrivUsage(base_, pb, object, "V", 1, 910, kind, priv);
    EXPECT_EQ(pb[0], want) << object << priv;
  }
  DDInsPrivUsage(base_, pb, 972, "V", 1, 912, 7, 1);
  EXPECT_EQ(pb[0], -19007);
  for (auto [kind, priv] : {std::pair{6, 1}, std::pair{14, 1}, std::pair{7, 0}, std::pair{7, 8}}) {
    DDInsPrivUsage(base_, pb, 973, "V", 1, 910, kind, priv);
    EXPECT_EQ(pb[0], DD_KIND_OUTSIDE) << kind << priv;
  }
  EXPECT_EQ(EndWork(0), 0);
  const std::string id910 = IntField(910);
  auto column_priv = [&](const std::string& priv, const std::string& grantee) {
    return ReadRow(26, id910 + TextField("NEWCOL", 128) + TextField(priv, 20) +
                           TextField(grantee, 128) + TextField("_SYSTEM", 128));
  };
  EXPECT_EQ(column_priv("SELECT", "U").substr(415, 4), TextField("YES", 3));
  EXPECT_FALSE(column_priv("UPDATE", "V").empty());
  EXPECT_FALSE(column_priv("REFERENCES", "W").empty());
  EXPECT_TRUE(column_priv("DELETE", "U").empty());
  EXPECT_FALSE(ReadRow(39, IntField(970) + TextField("V", 128) + id910 + TextField("VIEW", 20) +
                               TextField("INSERT", 20)).empty());
  EXPECT_FALSE(ReadRow(38, id910 + TextField("BASE TABLE", 20) + IntField(971) +
                               TextField("CHECK", 20)).empty());
  EXPECT_FALSE(ReadRow(38, id910 + TextField("BASE TABLE", 20) + IntField(970) +
                               TextField("VIEW", 20)).empty());
}

// Column rows: a view's column takes its shown column's type; a table's
// primary key takes a flag.
TEST_F(CatalogFunctionsTest, ViewColumnsAndTheKeyFlag) {
  ASSERT_EQ(Begin(), 0);
  ASSERT_EQ(InsColumn("A", 1, 930), 0);  // table 910
  auto define = [&](int32_t table, const std::string& name) {
    return Exec(SLOT_DDInsColumn, IMAGE_DDInsColumn, [&](DDParams& p) {
      p.Int(1, table).TextLength(2, name.data(), Len(name)).Int(4, 1).Int(5, 1).Null(6);
      p.Text(7, "INTEGER").Null(8).Null(9).Int(10, 11).Int(11, 0).Int(12, 10).Null(13).Null(14);
      p.Text(15, "YES").Text(16, "NO ").Int(17, 0).Int(18, 7).Null(19).Null(20).Null(21).Null(22);
      p.Null(23);
    });
  };
  ASSERT_EQ(define(990, "V1"), 0);
  int32_t pb[2] = {0, usr_};
  DDUpdViewColumn(base_, pb, 910, "A", 1, 990, "V1", 2);
  EXPECT_EQ(pb[0], 0);
  DDUpdViewColumn(base_, pb, 910, "Z", 1, 990, "V1", 2);
  EXPECT_EQ(pb[0], 1);
  DDUpdViewColumn(base_, pb, 910, "A", 1, 990, "V2", 2);
  EXPECT_EQ(pb[0], -19007);
  // The key flag: on the primary key, not on another table's first key.
  EXPECT_EQ(InsConstraint(920, 0), 0);
  EXPECT_EQ(InsConstraint(921, 0, "UNIQUE"), 0);
  DDUpdConstraintFlag(base_, pb, 910, true);
  EXPECT_EQ(pb[0], 0);
  DDUpdConstraintFlag(base_, pb, 911, true);
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(EndWork(0), 0);
  const std::string from = ReadRow(22, IntField(910) + TextField("A", 128));
  const std::string to = ReadRow(22, IntField(990) + TextField("V1", 128));
  ASSERT_EQ(to.size(), 2352u);
  EXPECT_EQ(to.substr(150, 126), from.substr(150, 126));  // charset, words, lengths, precisions
  EXPECT_EQ(to.substr(295, 7), IntField(930));
  EXPECT_EQ(to.substr(309, 7), from.substr(309, 7));
  EXPECT_EQ(to.substr(276, 8), TextField("YES", 3) + TextField("NO", 3));  // its own flags stay
  const std::string key = ReadRow(18, IntField(920) + TextField("PRIMARY KEY", 20) + IntField(910));
  EXPECT_EQ(key.substr(89, 4), TextField("YES", 3));
}

// A table privilege marked by whether every column holds it; columns of a
// domain given a type of their own; comments on objects and columns.
TEST_F(CatalogFunctionsTest, TablePrivilegeMarksColumnTypesAndComments) {
  ASSERT_EQ(Begin(), 0);
  ASSERT_EQ(InsColumn("A", 1, 930), 0);  // table 910
  ASSERT_EQ(InsColumn("B", 2, 930), 0);
  ASSERT_EQ(InsColumn("C", 3, 0), 0);
  ASSERT_EQ(InsTablePriv("SELECT", "NO "), 0);  // grantee U, grantor _SYSTEM
  auto column_priv = [&](const std::string& column) {
    return Exec(SLOT_DDInsColumnPriv, IMAGE_DDInsColumnPriv, [&](DDParams& p) {
      p.Int(1, 910).Text(2, "SELECT").TextLength(3, "U", 1).TextLength(5, "_SYSTEM", 7);
      p.TextLength(7, column.data(), Len(column)).Text(9, "NO ").Text(10, "NO ");
    });
  };
  const std::string select = IntField(910) + TextField("SELECT", 20) + TextField("U", 128) +
                             TextField("_SYSTEM", 128);
  int32_t pb[2] = {0, usr_};
  auto mark = [&]() {
    DDUpdTablePriv(base_, pb, 910, 1, "U", 1, "_SYSTEM", 7);
    return pb[0];
  };
  ASSERT_EQ(column_priv("A"), 0);
  ASSERT_EQ(column_priv("B"), 0);
  EXPECT_EQ(mark(), 0);
  ASSERT_EQ(EndWork(0), 0);
  EXPECT_EQ(ReadRow(25, select).substr(290, 4), TextField("NO", 3));
  ASSERT_EQ(Begin(), 0);
  ASSERT_EQ(column_priv("C"), 0);
  EXPECT_EQ(mark(), 0);
  DDUpdTablePriv(base_, pb, 910, 2, "U", 1, "_SYSTEM", 7);
  EXPECT_EQ(pb[0], -19007);
  DDUpdTablePriv(base_, pb, 910, 3, "U", 1, "_SYSTEM", 7);
  EXPECT_EQ(pb[0], DD_KIND_OUTSIDE);

  // The domain's columns take INTEGER and lose the domain.
  DDTypeInput integer;
  integer.code = 2, integer.length = 11;
  DDUpdColumn(base_, pb, 910, 930, integer);
  EXPECT_EQ(pb[0], 0);
  DDUpdColumn(base_, pb, 910, 931, integer);  // no column of it
  EXPECT_EQ(pb[0], 0);
  DDTypeInput bad;
  DDUpdColumn(base_, pb, 910, 930, bad);
  EXPECT_EQ(pb[0], DD_KIND_OUTSIDE);

  // Comments.
  ASSERT_EQ(InsObject(905, 4, "S", "TAB"), 0);  // an index of the table's name first
  ASSERT_EQ(InsObject(910, 6, "S", "TAB"), 0);
  ASSERT_EQ(InsObject(990, 7, "ADAM", "VW"), 0);
  ASSERT_EQ(InsObject(991, 2, "ADAM", "VW"), 0);  // a domain of the view's name
  ASSERT_EQ(InsColumn("A", 1, 0), 2);
  const std::string note(764, 'n'), long_note(765, 'n');
  auto comment = [&](const std::string& schema, const std::string& name, const std::string& column,
                     int32_t kind, const std::string& text) {
    DDUpdObject(base_, pb, schema.data(), Len(schema), name.data(), Len(name), column.data(),
                Len(column), kind, U8(text), Len(text));
    return pb[0];
  };
  EXPECT_EQ(comment("S", "TAB", "", 6, "table note"), 0);
  EXPECT_EQ(comment("S", "TAB", "", 7, "x"), 1);  // not a view
  EXPECT_EQ(comment("S", "TAB", "B", 8, note), 0);
  EXPECT_EQ(comment("S", "TAB", "Z", 8, "x"), 1);
  EXPECT_EQ(comment("S", "NONE", "A", 8, "x"), 1);
  EXPECT_EQ(comment("", "VW", "", 7, "view note"), 0);  // the level name ADAM
  EXPECT_EQ(comment("S", "TAB", "", 17, "x"), DD_KIND_OUTSIDE);
  EXPECT_EQ(comment("S", "TAB", "", 20, "x"), DD_KIND_OUTSIDE);
  EXPECT_EQ(comment("S", "TAB", "", 6, long_note), DD_BAD_PARAMETER);
  EXPECT_EQ(EndWork(0), 0);

  EXPECT_EQ(ReadRow(25, select).substr(290, 4), TextField("YES", 3));
  DDTypeParams want;
  ASSERT_EQ(DDEncodeType(integer, &want), 0);
  const std::string word(DDTypeWord(want.type_entry));
  for (auto [name, changed] : {std::pair{"A", true}, std::pair{"B", true}, std::pair{"C", false}}) {
    const std::string row = ReadRow(22, IntField(910) + TextField(name, 128));
    ASSERT_EQ(row.size(), 2352u) << name;
    EXPECT_EQ(row.substr(157, 31) == TextField(word, 30), changed) << name;
    EXPECT_EQ(row.substr(295, 7), kNull7) << name;
    EXPECT_EQ(ReadRow(40, TextField("DOMAIN", 20) + IntField(930) + IntField(910) +
                              TextField(name, 128)).empty(), true) << name;
  }
  std::string row = ReadRow(11, IntField(910));
  EXPECT_EQ(row.substr(313, 11), std::string(1, '\0') + "table note");
  EXPECT_EQ(ReadRow(11, IntField(990)).substr(313, 10), std::string(1, '\0') + "view note");
  EXPECT_EQ(ReadRow(11, IntField(991)).substr(313, 1), "\xff");
  row = ReadRow(22, IntField(910) + TextField("B", 128));
  EXPECT_EQ(row.substr(1580, 766), std::string(1, '\0') + note + std::string(1, '\0'));
}

// Routines dropped by id, by module and by name with every row they own,
// against a model; the two slots run the one statement independently.
TEST_F(CatalogFunctionsTest, RoutinesAreDroppedWithTheirRows) {
  ASSERT_EQ(Begin(), 0);
  int32_t pb[2] = {0, usr_};
  ASSERT_EQ(InsObject(950, 6, "S", "TAB"), 0);
  struct Routine {
    int32_t id, module;
    bool function;
    const char* name;
  } routines[] = {{700, 600, false, "P"}, {701, 600, true, "F"}, {702, 601, true, "P"},
                  {703, 601, false, "Q"}, {704, 600, false, "P"}};
  DDTypeInput integer;
  integer.code = 2, integer.length = 11;
  for (const Routine& r : routines) {
    ASSERT_EQ(InsObject(r.id, r.function ? 12 : 11, "S" + std::to_string(r.id % 2), r.name), 0);
    DDRoutineDef d;
    d.id = r.id, d.module_id = r.module, d.ints[0] = r.id - 690;
    if (r.function)
      DDInsFunction(base_, pb, d);
    else
      DDInsProcedure(base_, pb, d);
    ASSERT_EQ(pb[0], 0);
    ASSERT_EQ(InsPrivilege(r.function ? 8 : 7, r.id, "U", "_SYSTEM"), 0);
    DDInsRoutineName(base_, pb, r.id, r.name, 1, "SPEC", 4);
    ASSERT_EQ(pb[0], 0);
    DDInsObjUsage(base_, pb, r.id, r.function ? 12 : 11, 950, 6);
    ASSERT_EQ(pb[0], 0);
    DDInsPrivUsage(base_, pb, r.id, r.name, 1, 950, r.function ? 12 : 11, 1);
    ASSERT_EQ(pb[0], 0);
    DDParameterDef p;
    p.routine_id = r.id, p.position = 1, p.name = "X", p.name_length = 1, p.type = &integer;
    DDInsParameter(base_, pb, p);
    ASSERT_EQ(pb[0], 0);
    ASSERT_EQ(InsSource(r.id, 1, "BODY"), 0);
  }
  for (int32_t m : {600, 601}) {
    const std::string text = Chars3("M");
    DDInsModule(base_, pb, m, 1, 2, U8(text), 1);
    ASSERT_EQ(pb[0], 0);
  }
  auto drop = [&](bool second, int32_t mode, int32_t routine, int32_t module,
                  const std::string& name) {
    std::vector<std::pair<int32_t, int32_t>> got;  // (id, status)
    int32_t cols[6] = {};
    pb[0] = mode;
    for (int n = 0; n < 10; ++n, pb[0] = 0) {
      if (second)
        DDDelRoutine2(base_, pb, routine, module, name.data(), Len(name), cols);
      else
        DDDelRoutine1(base_, pb, routine, module, name.data(), Len(name), cols);
      if (pb[0] != 0 && pb[0] != 2) break;
      got.emplace_back(cols[0], pb[0]);
      EXPECT_EQ(cols[1], pb[0] == 2 ? 1 : 0);
      EXPECT_EQ(cols[3], cols[0] - 690);
      if (mode == 4) {
        pb[0] = 0;
        DDDelRoutine1(base_, pb, routine, module, name.data(), Len(name), cols);
        break;
      }
    }
    EXPECT_EQ(pb[0], 1);
    return got;
  };
  using Got = std::vector<std::pair<int32_t, int32_t>>;
  EXPECT_EQ(drop(false, 4, 703, 0, ""), (Got{{703, 0}}));
  EXPECT_EQ(drop(false, 4, 703, 0, ""), Got{});
  // By name: the PROCEDURE and FUNCTION objects of the name, in index 60's
  // order (schema S0 before S1).
  EXPECT_EQ(drop(true, 3, 0, 0, "P"), (Got{{700, 0}, {702, 2}, {704, 0}}));
  EXPECT_EQ(drop(false, 2, 0, 600, ""), (Got{{701, 2}}));
  EXPECT_EQ(drop(false, 2, 0, 605, ""), Got{});
  int32_t cols[6];
  pb[0] = 7;
  DDDelRoutine1(base_, pb, 0, 0, "", 0, cols);
  EXPECT_EQ(pb[0], DD_BAD_PARAMETER);
  EXPECT_EQ(EndWork(0), 0);
  for (const Routine& r : routines) {
    const std::string id = IntField(r.id);
    EXPECT_TRUE(ReadRow(11, id).empty()) << r.id;
    EXPECT_TRUE(ReadRow(29, id).empty()) << r.id;
    EXPECT_TRUE(ReadRow(30, id).empty()) << r.id;
    EXPECT_TRUE(ReadRow(27, id + TextField(r.function ? "FUNCTION" : "PROCEDURE", 20) +
                                TextField("U", 128) + TextField("_SYSTEM", 128)).empty());
    const std::string kind = r.function ? "FUNCTION" : "PROCEDURE";
    EXPECT_TRUE(ReadRow(38, IntField(950) + TextField("BASE TABLE", 20) + id + TextField(kind, 20)).empty());
    EXPECT_TRUE(ReadRow(39, id + TextField(r.name, 128) + IntField(950) + TextField(kind, 20) +
                                TextField("SELECT", 20)).empty());
    EXPECT_TRUE(ReadRow(31, id + IntField(1) + TextField("NO", 3)).empty());
    EXPECT_FALSE(HasSource(r.id)) << r.id;
  }
  EXPECT_FALSE(ReadRow(28, IntField(600)).empty());
  EXPECT_FALSE(ReadRow(11, IntField(950)).empty());
}

// Triggers dropped by id, by name and by table with their rows; the
// others of a table marked when one is dropped by id or name.
TEST_F(CatalogFunctionsTest, TriggersAreDroppedWithTheirRows) {
  ASSERT_EQ(Begin(), 0);
  int32_t pb[2] = {0, usr_};
  ASSERT_EQ(InsObject(950, 6, "S", "TAB"), 0);
  ASSERT_EQ(InsObject(951, 6, "S", "TAB2"), 0);
  struct Trig {
    int32_t id, table, event, timing;
    const char* schema;
    const char* name;
  } trigs[] = {{960, 950, 1, 1, "A", "TR"}, {961, 950, 2, 2, "A", "TX"},
               {962, 950, 3, 3, "A", "TY"}, {963, 951, 3, 3, "B", "TR"},
               {964, 951, 1, 3, "B", "TZ"}};
  const std::string action = Chars3("X");
  for (const Trig& t : trigs) {
    ASSERT_EQ(InsObject(t.id, 13, t.schema, t.name), 0);
    DDTriggerDef d;
    d.id = t.id, d.table_id = t.table, d.event = t.event, d.timing = t.timing;
    d.action3 = U8(action), d.action_length = 1;
    DDInsTrigger(base_, pb, d);
    ASSERT_EQ(pb[0], 0);
    DDInsObjUsage(base_, pb, t.id, 13, t.table, 6);
    ASSERT_EQ(pb[0], 0);
    DDInsPrivUsage(base_, pb, t.id, t.name, 2, t.table, 13, 7);
    ASSERT_EQ(pb[0], 0);
    ASSERT_EQ(InsSource(t.id, 1, "BODY"), 0);
  }
  struct Dropped {
    int32_t id, table, event, timing;
    bool operator==(const Dropped&) const = default;
  };
  auto drop = [&](int32_t mode, int32_t table, int32_t trigger, const std::string& name) {
    std::vector<Dropped> got;
    pb[0] = mode;
    for (int n = 0; n < 10; ++n, pb[0] = 0) {
      Dropped d{};
      DDDelTriggers(base_, pb, table, trigger, name.data(), Len(name), &d.id, &d.table, &d.event,
                    &d.timing);
      if (pb[0] != 0) break;
      got.push_back(d);
      if (mode == 4) break;
    }
    return got;
  };
  using Got = std::vector<Dropped>;
  EXPECT_EQ(drop(4, 0, 961, ""), (Got{{961, 950, 2, 2}}));
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(drop(4, 0, 961, ""), Got{});
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(drop(3, 0, 0, "TR"), (Got{{960, 950, 1, 1}, {963, 951, 3, 3}}));
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(drop(2, 950, 0, ""), (Got{{962, 950, 3, 3}}));
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(drop(9, 0, 0, ""), Got{});
  EXPECT_EQ(pb[0], DD_BAD_PARAMETER);
  EXPECT_EQ(EndWork(0), 0);
  for (const Trig& t : trigs) {
    const bool gone = t.id != 964;
    const std::string id = IntField(t.id);
    EXPECT_EQ(ReadRow(33, id).empty(), gone) << t.id;
    EXPECT_EQ(ReadRow(11, id).empty(), gone) << t.id;
    EXPECT_EQ(ReadRow(38, IntField(t.table) + TextField("BASE TABLE", 20) + id +
                              TextField("TRIGGER", 20)).empty(), gone) << t.id;
    EXPECT_EQ(ReadRow(39, id + TextField(t.name, 128) + IntField(t.table) +
                              TextField("TRIGGER", 20) + TextField("TRIGGER", 20)).empty(), gone)
        << t.id;
    EXPECT_EQ(HasSource(t.id), !gone) << t.id;
  }
  // 964's table lost 963 by name: it is marked.
  EXPECT_EQ(ReadRow(33, IntField(964)).substr(2479, 4), TextField("YES", 3));
}

// A table check and a domain check dropped with every row of theirs; the
// other check and its rows stay.
TEST_F(CatalogFunctionsTest, ChecksAreDroppedWithTheirRows) {
  ASSERT_EQ(Begin(), 0);
  int32_t pb[2] = {0, usr_};
  const std::string text = Chars3("A > 0");
  ASSERT_EQ(InsObject(950, 6, "S", "TAB"), 0);
  ASSERT_EQ(InsObject(800, 2, "S", "DOM"), 0);
  ASSERT_EQ(InsObject(960, 16, "S", "CT"), 0);  // a table check
  ASSERT_EQ(InsObject(961, 16, "S", "CD"), 0);  // a domain check
  ASSERT_EQ(InsObject(962, 16, "S", "CK"), 0);  // another table check, kept
  for (int32_t id : {960, 962}) {
    DDInsCheck(base_, pb, id, 950, false, false, U8(text), 5);
    ASSERT_EQ(pb[0], 0);
  }
  DDInsDomainCheck(base_, pb, 961, 800, false, false, U8(text), 5);
  ASSERT_EQ(pb[0], 0);
  for (int32_t id : {960, 961, 962}) {
    ASSERT_EQ(InsSource(id, 3, "A > 0"), 0);
    DDInsObjUsage(base_, pb, id, 16, 700 + id % 10, 12);
    ASSERT_EQ(pb[0], 0);
    DDInsObjUsage(base_, pb, id, 16, 950, 6);
    ASSERT_EQ(pb[0], 0);
    DDInsPrivUsage(base_, pb, id, "C", 1, 950, 16, 1);
    ASSERT_EQ(pb[0], 0);
  }
  ASSERT_EQ(EndWork(0), 0);
  for (int32_t id : {960, 961, 962})
    for (int32_t piece : {1, 2})
      WriteRow(43, IntField(id) + IntField(piece) + IntField(0));
  // The domain's row with its check mark, as a domain with checks has it.
  WriteRow(23, IntField(800) + std::string(1356 - 7, '\xff') + TextField("Y", 2));
  ASSERT_EQ(Begin(), 0);
  DDDelCheckRows(base_, pb, 960);
  EXPECT_EQ(pb[0], 0);
  DDDelCheckRows(base_, pb, 961);
  EXPECT_EQ(pb[0], 0);
  DDDelCheckRows(base_, pb, 960);
  EXPECT_EQ(pb[0], 1);
  ASSERT_EQ(InsObject(963, 16, "S", "CX"), 0);  // an object without its check clause
  DDDelCheckRows(base_, pb, 963);
  EXPECT_EQ(pb[0], -19007);
  EXPECT_EQ(EndWork(1), 0);  // the failed drop is rolled back whole: redo the two
  ASSERT_EQ(Begin(), 0);
  DDDelCheckRows(base_, pb, 960);
  EXPECT_EQ(pb[0], 0);
  DDDelCheckRows(base_, pb, 961);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(EndWork(0), 0);
  for (int32_t id : {960, 961, 962}) {
    const bool gone = id != 962;
    const std::string key = IntField(id);
    EXPECT_EQ(ReadRow(11, key).empty(), gone) << id;
    EXPECT_EQ(ReadRow(21, key).empty(), gone) << id;
    EXPECT_EQ(HasSource(id, 1, "CHECK"), !gone) << id;
    EXPECT_EQ(ReadRow(38, IntField(700 + id % 10) + TextField("FUNCTION", 20) + key +
                              TextField("CHECK", 20)).empty(), gone) << id;
    EXPECT_EQ(ReadRow(38, IntField(950) + TextField("BASE TABLE", 20) + key +
                              TextField("CHECK", 20)).empty(), gone) << id;
    EXPECT_EQ(ReadRow(39, key + TextField("C", 128) + IntField(950) + TextField("CHECK", 20) +
                              TextField("SELECT", 20)).empty(), gone) << id;
    for (int32_t piece : {1, 2})
      EXPECT_EQ(ReadRow(43, key + IntField(piece)).empty(), gone) << id;
  }
  EXPECT_TRUE(ReadRow(18, IntField(960) + TextField("CHECK", 20) + IntField(950)).empty());
  EXPECT_FALSE(ReadRow(18, IntField(962) + TextField("CHECK", 20) + IntField(950)).empty());
  EXPECT_TRUE(ReadRow(24, IntField(961) + IntField(800)).empty());
  EXPECT_EQ(ReadRow(23, IntField(800)).substr(1356, 3), std::string(3, '\xff'));
}

// Column offsets behind a changed column move by its growth, against a
// model; another table's columns stay.
TEST_F(CatalogFunctionsTest, ColumnsBehindAnOffsetMove) {
  std::mt19937 rng(112);
  ASSERT_EQ(Begin(), 0);
  std::map<std::pair<int32_t, std::string>, int32_t> offsets;
  for (int32_t table : {910, 911})
    for (int32_t n = 1; n <= 8; ++n) {
      const std::string name = "C" + std::to_string(n);
      const int32_t offset = 7 * n + static_cast<int32_t>(rng() % 3);
      ASSERT_EQ(Exec(SLOT_DDInsColumn, IMAGE_DDInsColumn, [&](DDParams& p) {
                  p.Int(1, table).TextLength(2, name.data(), Len(name)).Int(4, n).Int(5, n);
                  p.Null(6).Text(7, "INTEGER").Null(8).Null(9).Int(10, 11).Int(11, 0).Int(12, 10);
                  p.Null(13).Null(14).Text(15, "YES").Text(16, "NO ").Int(17, offset).Int(18, 7);
                  p.Null(19).Null(20).Null(21).Null(22).Null(23);
                }),
                0);
      offsets[{table, name}] = offset;
    }
  int32_t pb[2] = {0, usr_};
  for (auto [from, delta] : {std::pair{30, 5}, std::pair{0, -2}, std::pair{1000, 9}}) {
    DDAdjCounts(base_, pb, 910, from, delta);
    EXPECT_EQ(pb[0], 0);
    for (auto& [key, offset] : offsets)
      if (key.first == 910 && offset > from) offset += delta;
  }
  DDAdjCounts(base_, pb, 912, 0, 5);  // no columns
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(EndWork(0), 0);
  for (const auto& [key, offset] : offsets) {
    const std::string row = ReadRow(22, IntField(key.first) + TextField(key.second, 128));
    ASSERT_EQ(row.size(), 2352u);
    EXPECT_EQ(row.substr(288, 7), IntField(offset)) << key.first << key.second;
  }
}

// One ident's privileges given to another, against a model of the three
// privilege tables: grantee rows and grantor rows copied, rows between the
// two left, a present row given the copied row's grantable flag.
TEST_F(CatalogFunctionsTest, AnIdentsPrivilegesGoToAnother) {
  std::mt19937 rng(20);
  ASSERT_EQ(Begin(), 0);
  // (object, kind, grantee, grantor) -> grantable
  std::map<std::tuple<int32_t, int32_t, std::string, std::string>, bool> privs;
  const char* names[] = {"OLD", "NEW", "A", "B"};
  for (int n = 0; n < 80; ++n) {
    const int32_t object = 500 + static_cast<int32_t>(rng() % 6), kind = rng() % 2 ? 7 : 9;
    const std::string grantee = names[rng() % 4], grantor = names[rng() % 4];
    const bool grantable = rng() % 2;
    int32_t pb[2] = {0, usr_};
    DDInsPrivilege(base_, pb, kind, object, grantable, grantee.data(), Len(grantee),
                   grantor.data(), Len(grantor));
    ASSERT_EQ(pb[0], 0);
    privs[{object, kind, grantee, grantor}] = grantable;
  }
  // Table and column privileges of table 910.
  auto table_priv = [&](const std::string& kind, const std::string& grantee,
                        const std::string& grantor) {
    return Exec(SLOT_DDInsTablePriv, IMAGE_DDInsTablePriv, [&](DDParams& p) {
      p.Int(1, 910).Text(2, kind).TextLength(3, grantee.data(), Len(grantee));
      p.TextLength(5, grantor.data(), Len(grantor)).Text(7, "YES").Text(8, "NO ").Text(9, "YES");
    });
  };
  auto column_priv = [&](const std::string& grantee, const std::string& grantor) {
    return Exec(SLOT_DDInsColumnPriv, IMAGE_DDInsColumnPriv, [&](DDParams& p) {
      p.Int(1, 910).Text(2, "UPDATE").TextLength(3, grantee.data(), Len(grantee));
      p.TextLength(5, grantor.data(), Len(grantor)).TextLength(7, "X", 1);
      p.Text(9, "YES").Text(10, "NO ");
    });
  };
  ASSERT_EQ(table_priv("SELECT", "OLD", "A"), 0);
  ASSERT_EQ(table_priv("INSERT", "B", "OLD"), 0);
  ASSERT_EQ(table_priv("DELETE", "OLD", "NEW"), 0);
  ASSERT_EQ(column_priv("OLD", "_SYSTEM"), 0);
  ASSERT_EQ(column_priv("A", "OLD"), 0);
  int32_t pb[2] = {0, usr_};
  DDInsGranteePrivs(base_, pb, "OLD", 3, "NEW", 3);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(EndWork(0), 0);
  // The model: copies of OLD's rows, not those between OLD and NEW.
  auto want = privs;
  for (const auto& [key, grantable] : privs) {
    auto [object, kind, grantee, grantor] = key;
    if (grantee == "OLD" && grantor != "NEW") want[{object, kind, "NEW", grantor}] = grantable;
  }
  for (const auto& [key, grantable] : privs) {
    auto [object, kind, grantee, grantor] = key;
    // A row of OLD to itself is copied as NEW's (above) only.
    if (grantor == "OLD" && grantee != "NEW" && grantee != "OLD")
      want[{object, kind, grantee, "NEW"}] = grantable;
  }
  for (int32_t object = 500; object < 506; ++object)
    for (int32_t kind : {7, 9})
      for (const char* grantee : names)
        for (const char* grantor : names) {
          const std::string row = ReadRow(27, IntField(object) +
                                                  TextField(kind == 7 ? "PROCEDURE" : "SEQUENCE", 20) +
                                                  TextField(grantee, 128) + TextField(grantor, 128));
          const auto it = want.find({object, kind, grantee, grantor});
          EXPECT_EQ(!row.empty(), it != want.end()) << object << kind << grantee << grantor;
          if (!row.empty() && it != want.end()) {
            EXPECT_EQ(row.substr(286, 4), TextField(it->second ? "YES" : "NO", 3))
                << object << kind << grantee << grantor;
          }
        }
  const std::string id910 = IntField(910);
  auto table_row = [&](const char* kind, const char* grantee, const char* grantor) {
    return !ReadRow(25, id910 + TextField(kind, 20) + TextField(grantee, 128) + TextField(grantor, 128))
                .empty();
  };
  EXPECT_TRUE(table_row("SELECT", "NEW", "A"));
  EXPECT_TRUE(table_row("INSERT", "B", "NEW"));
  EXPECT_FALSE(table_row("DELETE", "NEW", "NEW"));
  auto column_row = [&](const char* grantee, const char* grantor) {
    return !ReadRow(26, id910 + TextField("X", 128) + TextField("UPDATE", 20) +
                            TextField(grantee, 128) + TextField(grantor, 128))
                .empty();
  };
  EXPECT_TRUE(column_row("NEW", "_SYSTEM"));
  EXPECT_TRUE(column_row("A", "NEW"));
  EXPECT_TRUE(column_row("OLD", "_SYSTEM"));  // the old rows stay
}

// Revokes by the four modes against the rows written: the one privilege,
// the cascade's grantees, the grant option, everything of a grantee.
TEST_F(CatalogFunctionsTest, PrivilegesAreRevokedByMode) {
  ASSERT_EQ(Begin(), 0);
  int32_t pb[2] = {0, usr_};
  for (auto [name, kind] : {std::pair{"EVE", 3}, std::pair{"ADAM", 1}, std::pair{"BOB", 3}}) {
    DDInsIdent(base_, pb, name, Len(name), 20 + Len(name), kind, nullptr, 0);
    ASSERT_EQ(pb[0], 0);
  }
  for (auto [kind, object, grantee, grantor] :
       {std::tuple{7, 500, "EVE", "_SYSTEM"}, std::tuple{7, 500, "BOB", "EVE"},
        std::tuple{7, 500, "ADAM", "EVE"}, std::tuple{7, 500, "ZED", "EVE"},
        std::tuple{7, 501, "CAT", "EVE"}, std::tuple{9, 501, "EVE", "_SYSTEM"},
        std::tuple{1, 0, "EVE", "_SYSTEM"}}) {
    pb[0] = 0;
    DDInsPrivilege(base_, pb, kind, object, true, grantee, Len(grantee), grantor, Len(grantor));
    ASSERT_EQ(pb[0], 0);
  }
  ASSERT_EQ(EndWork(0), 0);
  ASSERT_EQ(Begin(), 0);
  struct Row {
    int32_t ident, object, kind;
    std::string name;
    bool operator==(const Row&) const = default;
  };
  auto revoke = [&](int32_t mode, int32_t kind, int32_t object, const std::string& grantee,
                    const std::string& grantor) {
    std::vector<Row> got;
    pb[0] = mode;
    for (int n = 0; n < 10; ++n, pb[0] = 0) {
      Row r{};
      std::string name(128, '?');
      DDDelSysPrivs(base_, pb, kind, object, grantee.data(), Len(grantee), grantor.data(),
                    Len(grantor), &r.ident, &r.object, &r.kind, name.data());
      if (pb[0] != 0 || mode == 3) break;
      r.name = Trim(name);
      got.push_back(r);
    }
    return got;
  };
  using Got = std::vector<Row>;
  // The cascade of EVE's PROCEDURE privilege on 500: the grantees with an
  // ident row.
  EXPECT_EQ(revoke(2, 7, 500, "EVE", ""), (Got{{1, 500, 7, "ADAM"}, {3, 500, 7, "BOB"}}));
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(revoke(3, 7, 500, "EVE", "_SYSTEM"), Got{});
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(revoke(1, 7, 500, "BOB", "EVE"), (Got{{1, 500, 7, "BOB"}}));
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(revoke(1, 7, 500, "BOB", "EVE"), Got{});
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(revoke(4, 0, 0, "EVE", ""),
            (Got{{3, 0, 1, "EVE"}, {3, 500, 7, "EVE"}, {3, 501, 9, "EVE"}}));
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(revoke(4, 0, 0, "ZED", ""), Got{});
  EXPECT_EQ(pb[0], -19007);
  EXPECT_EQ(revoke(1, 14, 500, "BOB", "EVE"), Got{});
  EXPECT_EQ(pb[0], DD_KIND_OUTSIDE);
  EXPECT_EQ(revoke(5, 7, 500, "BOB", "EVE"), Got{});
  EXPECT_EQ(pb[0], DD_BAD_PARAMETER);
  EXPECT_EQ(EndWork(1), 0);  // -19007 rolls the work back
  ASSERT_EQ(Begin(), 0);
  EXPECT_EQ(revoke(3, 7, 500, "EVE", "_SYSTEM"), Got{});
  EXPECT_EQ(revoke(1, 7, 500, "BOB", "EVE").size(), 1u);
  EXPECT_EQ(EndWork(0), 0);
  auto row = [&](int32_t kind, int32_t object, const char* grantee, const char* grantor) {
    return ReadRow(27, IntField(object) + TextField(kind == 7 ? "PROCEDURE" : "SEQUENCE", 20) +
                           TextField(grantee, 128) + TextField(grantor, 128));
  };
  EXPECT_EQ(row(7, 500, "EVE", "_SYSTEM").substr(286, 4), TextField("NO", 3));
  EXPECT_TRUE(row(7, 500, "BOB", "EVE").empty());
  EXPECT_EQ(row(7, 500, "ADAM", "EVE").substr(286, 4), TextField("YES", 3));
}

}  // namespace
