// The rows of a dropped domain: what goes with it, and what its columns
// keep of it.
#include <string>
#include <vector>

#include "dict/tests/objects_fixture.h"
#include "dict/dictionary_services.h"
#include "dict/level2.h"
#include "dict/type_encoding.h"

namespace {

std::string Chars3(const std::string& s) {  // three-byte characters
  std::string out;
  for (char c : s) out += std::string("\0\0", 2) + c;
  return out;
}
const uint8_t* U8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

class DomainDropTest : public ObjectsTest {
 protected:
  void SetUp() override {
    SetUpCatalog({11, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 32,
                  36, 38, 40, 41, 42, 43, 44, 54, 151});
  }
  int32_t Column(const std::string& name, int32_t number, int32_t domain,
                 const std::string& deflt) {
    return Exec(SLOT_DDInsColumn, IMAGE_DDInsColumn, [&](DDParams& p) {
      p.Int(1, 910).TextLength(2, name.data(), static_cast<int32_t>(name.size())).Int(4, number);
      p.Int(5, number).Int(6, 136).Text(7, "CHARACTER").Null(8).Int(9, 5);
      p.Null(10).Null(11).Null(12).Null(13).Null(14).Text(15, "YES").Text(16, "YES");
      p.Int(17, 7 * number).Int(18, 6).Int(19, domain);
      if (deflt.empty()) {
        p.Null(20).Null(21);
      } else {
        const std::string t = Chars3(deflt);
        p.Chars(20, U8(t), static_cast<int32_t>(deflt.size()));
      }
      p.Int(22, 135).Int(23, 5);
    });
  }
  int32_t Domain(int32_t id, const std::string& deflt) {
    int32_t pb[2] = {0, usr_};
    DDTypeInput t;
    t.code = 1, t.length = 5, t.precision = 5;
    const std::string d = Chars3(deflt);
    DDInsDomain(base_, pb, id, t, 0, false, false, deflt.empty() ? nullptr : U8(d),
                static_cast<int32_t>(deflt.size()));
    return pb[0];
  }
  int32_t Source(int32_t id, const std::string& name, int32_t kind, const std::string& text) {
    int32_t pb[2] = {0, usr_};
    const std::string t = Chars3(text);
    DDInsSource(base_, pb, id, name.data(), static_cast<int32_t>(name.size()), kind, U8(t),
                static_cast<int32_t>(text.size()));
    return pb[0];
  }
  // Every id the cursor hands back and its last status.
  std::vector<int32_t> Drop(int32_t mode, int32_t id, const std::string& name, int32_t* status) {
    std::vector<int32_t> ids;
    int32_t pb[2] = {mode, usr_};
    for (int n = 0; n < 20; ++n, pb[0] = 0) {
      int32_t out = -1;
      DDCheckUsage(base_, pb, id, name.data(), static_cast<int32_t>(name.size()), &out);
      if (pb[0] != 0) break;
      ids.push_back(out);
    }
    *status = pb[0];
    return ids;
  }
  bool Row(int32_t table, const std::string& key) { return !ReadRow(table, key).empty(); }
  std::string Source41(int32_t id, const std::string& name, const std::string& kind) {
    return IntField(id) + TextField(name, 128) + TextField(kind, 20) + IntField(1);
  }
};

TEST_F(DomainDropTest, ItsRowsGoAndItsColumnsKeepWhatTheyHadByIt) {
  Protocol(21);
  WriteRow(23, IntField(801) + IntField(136) + IntField(950) + TextField("CHARACTER", 30));
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_};
  ASSERT_EQ(InsObject(910, 6, "S", "T"), 0);
  // DOM (800) with a default, a check (850) and every kind of row that goes
  // with it; DOM2 (801) with a collation of its own and no default; a DOM of
  // another schema (802) with nothing.
  ASSERT_EQ(InsObject(800, 2, "S", "DOM"), 0);
  ASSERT_EQ(Domain(800, "'X'"), 0);
  ASSERT_EQ(Source(800, "", 4, "'X'"), 0);
  ASSERT_EQ(InsObject(801, 2, "S", "DOM2"), 0);
  ASSERT_EQ(InsObject(802, 2, "T", "DOM"), 0);
  ASSERT_EQ(Domain(802, ""), 0);
  ASSERT_EQ(EndWork(0), 0);
  ASSERT_EQ(BegWork(), 0);
  DDInsPrivilege(base_, pb, 6, 800, true, "ALICE", 5, "SYSTEM", 6);
  ASSERT_EQ(pb[0], 0);
  DDInsObjUsage(base_, pb, 800, 2, 900, 14);
  ASSERT_EQ(pb[0], 0);
  DDInsObjUsage(base_, pb, 860, 7, 800, 2);  // a view using the domain stays its user
  ASSERT_EQ(pb[0], 0);
  DDInsLv2Cond(base_, pb, 800, 1, 1, 1, "5", 1);
  ASSERT_EQ(pb[0], 0);
  ASSERT_EQ(InsObject(850, 16, "S", "C850"), 0);
  const std::string check = Chars3("VALUE > 0");
  DDInsDomainCheck(base_, pb, 850, 800, false, false, U8(check), 9);
  ASSERT_EQ(pb[0], 0);
  ASSERT_EQ(Source(850, "", 3, "VALUE > 0"), 0);
  DDStoreDefinition(base_, pb, 850, 800, DD_DEFINITION_TREE, U8(check), 27);
  ASSERT_EQ(pb[0], 0);
  DDInsObjUsage(base_, pb, 850, 16, 901, 14);
  ASSERT_EQ(pb[0], 0);
  DDStoreDefinition(base_, pb, 800, 0, DD_DEFINITION_TREE, U8(check), 27);
  ASSERT_EQ(pb[0], 0);
  // Columns: A of DOM without a default, B of DOM with its own, C of DOM2.
  ASSERT_EQ(Column("A", 1, 800, ""), 0);
  ASSERT_EQ(Column("B", 2, 800, "'B'"), 0);
  ASSERT_EQ(Column("C", 3, 801, ""), 0);
  ASSERT_EQ(EndWork(0), 0);

  ASSERT_EQ(BegWork(), 0);
  int32_t status = 0;
  // By name: both DOMs, in index 60's order; by id: DOM2.
  EXPECT_EQ(Drop(2, 0, "DOM", &status), (std::vector<int32_t>{800, 802}));
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Drop(1, 801, "", &status), std::vector<int32_t>{801});
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Drop(1, 801, "", &status), std::vector<int32_t>{});  // gone
  EXPECT_EQ(status, 1);
  ASSERT_EQ(EndWork(0), 0);

  // Gone: every row of the domains and of the check.
  for (int32_t id : {800, 801, 802, 850}) EXPECT_FALSE(Row(11, IntField(id))) << id;
  for (int32_t id : {800, 801, 802}) EXPECT_FALSE(Row(23, IntField(id))) << id;
  EXPECT_FALSE(Row(24, IntField(850) + IntField(800)));
  EXPECT_FALSE(Row(21, IntField(850)));
  EXPECT_FALSE(Row(27, IntField(800) + TextField("DOMAIN", 20) + TextField("ALICE", 128) +
                           TextField("_SYSTEM", 128)));
  EXPECT_FALSE(Row(38, IntField(900) + TextField("SEQUENCE", 20) + IntField(800) +
                           TextField("DOMAIN", 20)));
  EXPECT_FALSE(Row(38, IntField(901) + TextField("SEQUENCE", 20) + IntField(850) +
                           TextField("CHECK", 20)));
  EXPECT_FALSE(Row(54, IntField(800) + IntField(1, 3)));
  EXPECT_FALSE(Row(41, Source41(800, " ", "DEFAULT")));
  EXPECT_FALSE(Row(41, Source41(850, " ", "CHECK")));
  EXPECT_FALSE(Row(42, IntField(850) + IntField(DD_DEFINITION_TREE) + IntField(1) + IntField(800)));
  EXPECT_FALSE(Row(43, IntField(800) + IntField(DD_DEFINITION_TREE)));
  for (const char* c : {"A", "B"})
    EXPECT_FALSE(Row(40, TextField("DOMAIN", 20) + IntField(800) + IntField(910) + TextField(c, 128)));
  // An object using the domain is left for the drop queue to find.
  EXPECT_TRUE(Row(38, IntField(800) + TextField("DOMAIN", 20) + IntField(860) + TextField("VIEW", 20)));

  // The columns: no domain; A takes DOM's default and its text, B keeps its
  // own; C takes DOM2's collation, recorded as the table's use of it.
  const std::string a = ReadRow(22, IntField(910) + TextField("A", 128));
  const std::string b = ReadRow(22, IntField(910) + TextField("B", 128));
  const std::string c = ReadRow(22, IntField(910) + TextField("C", 128));
  ASSERT_FALSE(a.empty() || b.empty() || c.empty());
  for (const std::string* r : {&a, &b, &c}) EXPECT_EQ(uint8_t((*r)[COLUMNS_DOMAIN_ID]), 255);
  EXPECT_EQ(a.substr(COLUMNS_COLUMN_DEFAULT + 1, 9), Chars3("'X'"));
  EXPECT_EQ(b.substr(COLUMNS_COLUMN_DEFAULT + 1, 9), Chars3("'B'"));
  EXPECT_TRUE(Row(41, Source41(910, "A", "DEFAULT")));
  EXPECT_FALSE(Row(41, Source41(910, "B", "DEFAULT")));
  EXPECT_EQ(c.substr(COLUMNS_INT_309, 7), IntField(950));
  EXPECT_EQ(a.substr(COLUMNS_INT_309, 7), IntField(135));  // DOM has no collation
  EXPECT_TRUE(Row(38, IntField(950) + TextField("COLLATION", 20) + IntField(910) +
                          TextField("BASE TABLE", 20)));
  EXPECT_TRUE(Row(40, TextField("COLLATION", 20) + IntField(950) + IntField(910) +
                          TextField("C", 128)));
}

TEST_F(DomainDropTest, ModesAndAnInconsistentCatalog) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  int32_t status = 0;
  // A mode outside 1 and 2; no such domain.
  EXPECT_EQ(Drop(3, 800, "", &status), std::vector<int32_t>{});
  EXPECT_EQ(status, -19113);
  EXPECT_EQ(Drop(1, 800, "", &status), std::vector<int32_t>{});
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Drop(2, 0, "NONE", &status), std::vector<int32_t>{});
  EXPECT_EQ(status, 1);
  // A DOMAIN object without its domain row; a domain row without its object
  // row; a type usage row naming a column that is not there.
  ASSERT_EQ(InsObject(803, 2, "S", "LOST"), 0);
  EXPECT_EQ(Drop(2, 0, "LOST", &status), std::vector<int32_t>{});
  EXPECT_EQ(status, -19007);
  ASSERT_EQ(Domain(804, ""), 0);
  EXPECT_EQ(Drop(1, 804, "", &status), std::vector<int32_t>{});
  EXPECT_EQ(status, -19007);
  ASSERT_EQ(InsObject(805, 2, "S", "D5"), 0);
  ASSERT_EQ(Domain(805, ""), 0);
  int32_t pb[2] = {0, usr_};
  DDInsTypeUse(base_, pb, 2, 805, 910, "GONE", 4);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(Drop(1, 805, "", &status), std::vector<int32_t>{});
  EXPECT_EQ(status, -19007);
  EndWork(1);
}

}  // namespace
