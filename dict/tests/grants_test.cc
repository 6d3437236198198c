// The column grants cursor against a model of the privilege rows: what
// each opening letter removes or narrows, the table privilege rows that go
// with the last column row, what each mode delivers, and the input refused
// before anything runs.
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/tests/lookup_fixture.h"

namespace {

constexpr int32_t kTable = 700;
// The column argument that walks the table grants cursor instead.
const std::string kTableRows = "<table>";

// (column or "" for a table row, privilege word, grantee, grantor) ->
// grantable "YES"/"NO"; absent: no row.
using GrantRows = std::map<std::tuple<std::string, std::string, std::string, std::string>, std::string>;

class GrantsTest : public LookupTest {
 protected:
  // The rows every case starts from, written through the dictionary.
  GrantRows Seed() {
    GrantRows rows = {
        {{"C1", "UPDATE", "EVE", "ADAM"}, "YES"}, {{"C2", "UPDATE", "EVE", "ADAM"}, "YES"},
        {{"C1", "UPDATE", "BOB", "EVE"}, "YES"},  {{"C1", "UPDATE", "CAT", "EVE"}, "NO"},
        {{"C2", "UPDATE", "EVE", "ZED"}, "YES"},  {{"C1", "SELECT", "EVE", "ADAM"}, "YES"},
        {{"C2", "UPDATE", "BOB", "EVE"}, "YES"},
        {{"", "UPDATE", "EVE", "ADAM"}, "YES"},   {{"", "UPDATE", "BOB", "EVE"}, "YES"},
        {{"", "UPDATE", "CAT", "EVE"}, "NO"},     {{"", "UPDATE", "EVE", "ZED"}, "YES"},
        {{"", "SELECT", "EVE", "ADAM"}, "YES"},
    };
    for (const auto& [key, grantable] : rows) {
      const auto& [column, word, grantee, grantor] = key;
      const int32_t privilege = DDNumberOf(kDDTablePrivWords, word);
      int32_t pb[2] = {0, usr_};
      if (column.empty())
        DDInsTablePriv(base_, pb, kTable, privilege, grantee.data(), Len(grantee), grantor.data(),
                       Len(grantor), grantable == "YES", false);
      else
        DDInsColumnPriv(base_, pb, kTable, privilege, column.data(), Len(column), grantee.data(),
                        Len(grantee), grantor.data(), Len(grantor), grantable == "YES");
      EXPECT_EQ(pb[0], 0);
    }
    const CatalogValue eve[] = {{IDENTS_IDENT_NAME, 1, 0, "EVE"},
                                {IDENTS_IDENT_ID, 0, 801, nullptr},
                                {IDENTS_IDENT_TYPE, 1, 0, "USER"}};
    const CatalogValue bob[] = {{IDENTS_IDENT_NAME, 1, 0, "BOB"},
                                {IDENTS_IDENT_ID, 0, 802, nullptr},
                                {IDENTS_IDENT_TYPE, 1, 0, "GROUP"}};
    EXPECT_EQ(InsertValues(14, eve), 0);
    EXPECT_EQ(InsertValues(14, bob), 0);
    return rows;
  }
  static int32_t Len(const std::string& s) { return static_cast<int32_t>(s.size()); }
  // Every row of the seed as the catalog holds it now.
  GrantRows Stored(const GrantRows& seed) {
    GrantRows now;
    std::vector<uint8_t> row;
    for (const auto& [key, unused] : seed) {
      const auto& [column, word, grantee, grantor] = key;
      if (column.empty()) {
        const CatalogValue k[] = {{TABLE_PRIVILEGES_TABLE_ID, 0, kTable, nullptr},
                                  {TABLE_PRIVILEGES_PRIVILEGE_TYPE, 1, 0, word.c_str()},
                                  {TABLE_PRIVILEGES_GRANTEE, 1, 0, grantee.c_str()},
                                  {TABLE_PRIVILEGES_GRANTOR, 1, 0, grantor.c_str()}};
        if (ReadRow(25, k, &row) == 0) now[key] = Column(row, TABLE_PRIVILEGES_IS_GRANTABLE, 3);
      } else {
        const CatalogValue k[] = {{COLUMN_PRIVILEGES_TABLE_ID, 0, kTable, nullptr},
                                  {COLUMN_PRIVILEGES_COLUMN_NAME, 1, 0, column.c_str()},
                                  {COLUMN_PRIVILEGES_PRIVILEGE_TYPE, 1, 0, word.c_str()},
                                  {COLUMN_PRIVILEGES_GRANTEE, 1, 0, grantee.c_str()},
                                  {COLUMN_PRIVILEGES_GRANTOR, 1, 0, grantor.c_str()}};
        if (ReadRow(26, k, &row) == 0) now[key] = Column(row, COLUMN_PRIVILEGES_IS_GRANTABLE, 3);
      }
    }
    return now;
  }
  // Opens the cursor in `mode` and walks it to its end; the rows delivered.
  int32_t Walk(int32_t mode, int32_t privilege, const std::string& holder,
               const std::string& column, const std::string& grantor,
               std::vector<DDGrantRow>* delivered) {
    DDGrantWalk w;
    w.table_id = kTable;
    w.privilege = privilege;
    w.holder = holder.data();
    w.holder_length = Len(holder);
    w.column = column.data();
    w.column_length = column == kTableRows ? 0 : Len(column);
    w.grantor = grantor.data();
    w.grantor_length = Len(grantor);
    for (int32_t pb[2] = {mode, usr_};; pb[0] = 0) {
      DDGrantRow r{};
      r.table_id = -5;
      (column == kTableRows ? DDCurTableGrants : DDCurColumnGrants)(base_, pb, w, &r);
      if (pb[0] != 0) return pb[0];
      delivered->push_back(r);
    }
  }
};

std::string Name(const char* n, int32_t length) { return std::string(n, length); }

TEST_F(GrantsTest, EachLetterAgainstTheModel) {
  struct Case {
    int32_t mode;
    const char *holder, *column, *grantor;
    std::vector<std::tuple<std::string, std::string, std::string, std::string>> gone, cleared;
    std::vector<std::string> grantees;  // delivered, in order
  } cases[] = {
      // The one row; the table row stays while C2's row of EVE from ADAM does.
      {1, "EVE", "C1", "ADAM", {{"C1", "UPDATE", "EVE", "ADAM"}}, {}, {"?"}},
      // The only column row of EVE from ZED takes the table row with it.
      {1, "EVE", "C2", "ZED", {{"C2", "UPDATE", "EVE", "ZED"}, {"", "UPDATE", "EVE", "ZED"}}, {},
       {"?"}},
      // The rows EVE granted on C1; CAT's table row goes, BOB's stays for C2.
      {2, "EVE", "C1", "", {{"C1", "UPDATE", "BOB", "EVE"}, {"C1", "UPDATE", "CAT", "EVE"},
                            {"", "UPDATE", "CAT", "EVE"}}, {}, {"BOB", "CAT"}},
      {3, "EVE", "C1", "ADAM", {}, {{"C1", "UPDATE", "EVE", "ADAM"}}, {"EVE"}},
      // Every column from ADAM to EVE; with the last the table row goes.
      {4, "EVE", "", "ADAM", {{"C1", "UPDATE", "EVE", "ADAM"}, {"C2", "UPDATE", "EVE", "ADAM"},
                              {"", "UPDATE", "EVE", "ADAM"}}, {}, {"EVE", "EVE"}},
      {5, "EVE", "", "ADAM", {}, {{"C1", "UPDATE", "EVE", "ADAM"}, {"C2", "UPDATE", "EVE", "ADAM"},
                                  {"", "UPDATE", "EVE", "ADAM"}}, {"EVE", "EVE"}},
      // Nothing of the holder from that grantor.
      {4, "BOB", "", "ADAM", {}, {}, {}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(BegWork(), 0);
    const GrantRows seed = Seed();
    GrantRows model = seed;
    for (const auto& k : c.gone) model.erase(k);
    for (const auto& k : c.cleared) model[k] = "NO";
    std::vector<DDGrantRow> rows;
    EXPECT_EQ(Walk(c.mode, 4, c.holder, c.column, c.grantor, &rows), 1) << c.mode;
    EXPECT_EQ(Stored(seed), model) << "mode " << c.mode;
    ASSERT_EQ(rows.size(), c.grantees.size()) << c.mode;
    for (size_t k = 0; k < rows.size(); ++k) {
      const DDGrantRow& r = rows[k];
      if (c.mode == 1) {
        EXPECT_EQ(r.table_id, -5) << "mode 1 delivers nothing";
        continue;
      }
      EXPECT_EQ(Name(r.grantee, r.grantee_length), c.grantees[k]) << c.mode;
      if (c.mode == 2 || c.mode == 3) {
        // The opening delivers only the grantee's name, the next calls whole rows.
        if (k == 0) {
          EXPECT_EQ(r.table_id, -5) << "only the grantee's name";
        }
        continue;
      }
      EXPECT_EQ(Name(r.column, r.column_length), k == 0 ? "C1" : "C2");
      EXPECT_EQ(r.table_id, kTable);
      EXPECT_EQ(r.privilege, 4);
      EXPECT_EQ(Name(r.grantor, r.grantor_length), "ADAM");
      EXPECT_EQ(r.grantable, c.mode == 4 ? 1 : 0);
      EXPECT_EQ(r.ident_id, 801);
      EXPECT_EQ(r.grantee_kind, 3);
    }
    ASSERT_EQ(EndWork(1), 0);
  }
}

TEST_F(GrantsTest, TheNextCallDeliversWholeRowsWithTheGranteesKind) {
  ASSERT_EQ(BegWork(), 0);
  Seed();
  std::vector<DDGrantRow> rows;
  // Opened by mode 2 the first row carries only its grantee; the next ones
  // (mode 0) are whole: BOB a GROUP, CAT without an ident.
  EXPECT_EQ(Walk(2, 4, "EVE", "C1", "", &rows), 1);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].table_id, -5);
  EXPECT_EQ(Name(rows[1].grantee, rows[1].grantee_length), "CAT");
  EXPECT_EQ(rows[1].grantable, 0);
  EXPECT_EQ(rows[1].ident_id, 0);
  EXPECT_EQ(rows[1].grantee_kind, 0);
  rows.clear();
  EXPECT_EQ(Walk(4, 4, "EVE", "", "ZED", &rows), 1);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Name(rows[0].column, rows[0].column_length), "C2");
  ASSERT_EQ(EndWork(1), 0);
}

TEST_F(GrantsTest, InputRefusedBeforeAnythingRuns) {
  ASSERT_EQ(BegWork(), 0);
  const GrantRows seed = Seed();
  std::vector<DDGrantRow> rows;
  for (int32_t privilege : {0, 3, 6, 7, 8})
    EXPECT_EQ(Walk(4, privilege, "EVE", "", "ADAM", &rows), DD_KIND_OUTSIDE) << privilege;
  EXPECT_EQ(Walk(6, 4, "EVE", "", "ADAM", &rows), DD_BAD_VALUE);
  EXPECT_EQ(Walk(-1, 4, "EVE", "", "ADAM", &rows), DD_BAD_VALUE);
  EXPECT_EQ(Walk(4, 4, std::string(129, 'E'), "", "ADAM", &rows), DD_BAD_VALUE);
  EXPECT_EQ(Walk(1, 4, "EVE", std::string(129, 'C'), "ADAM", &rows), DD_BAD_VALUE);
  EXPECT_EQ(Walk(4, 4, "EVE", "", std::string(129, 'A'), &rows), DD_BAD_VALUE);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(Stored(seed), seed);
  ASSERT_EQ(EndWork(1), 0);
  EXPECT_EQ(Walk(4, 4, "EVE", "", "ADAM", &rows), -19075);
}

// The table grants cursor: each letter over the table rows, the column
// rows of the same privilege, grantee and grantor going with them.
TEST_F(GrantsTest, TheTableGrantsLettersTakeTheColumnRowsAlong) {
  using Key = std::tuple<std::string, std::string, std::string, std::string>;
  struct Case {
    int32_t mode;
    const char *holder, *grantor;
    std::vector<Key> gone, cleared;
    std::vector<std::string> delivered;  // grantee/grantor, in order
  } cases[] = {
      {1, "EVE", "ADAM",
       {{"", "UPDATE", "EVE", "ADAM"}, {"C1", "UPDATE", "EVE", "ADAM"}, {"C2", "UPDATE", "EVE", "ADAM"}},
       {}, {"?"}},
      {2, "EVE", "",
       {{"", "UPDATE", "BOB", "EVE"}, {"", "UPDATE", "CAT", "EVE"}, {"C1", "UPDATE", "BOB", "EVE"},
        {"C1", "UPDATE", "CAT", "EVE"}, {"C2", "UPDATE", "BOB", "EVE"}},
       {}, {"BOB/?", "CAT/EVE"}},
      {3, "EVE", "ADAM", {},
       {{"", "UPDATE", "EVE", "ADAM"}, {"C1", "UPDATE", "EVE", "ADAM"}, {"C2", "UPDATE", "EVE", "ADAM"}},
       {"EVE/?"}},
      {4, "EVE", "",
       {{"", "UPDATE", "EVE", "ADAM"}, {"", "UPDATE", "EVE", "ZED"}, {"C1", "UPDATE", "EVE", "ADAM"},
        {"C2", "UPDATE", "EVE", "ADAM"}, {"C2", "UPDATE", "EVE", "ZED"}},
       {}, {"EVE/ADAM", "EVE/ZED"}},
      {4, "DAN", "", {}, {}, {}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(BegWork(), 0);
    const GrantRows seed = Seed();
    GrantRows model = seed;
    for (const auto& k : c.gone) model.erase(k);
    for (const auto& k : c.cleared) model[k] = "NO";
    std::vector<DDGrantRow> rows;
    EXPECT_EQ(Walk(c.mode, 4, c.holder, kTableRows, c.grantor, &rows), 1) << c.mode;
    EXPECT_EQ(Stored(seed), model) << "mode " << c.mode;
    ASSERT_EQ(rows.size(), c.delivered.size()) << c.mode;
    for (size_t k = 0; k < rows.size(); ++k) {
      const DDGrantRow& r = rows[k];
      if (c.mode == 1) {
        EXPECT_EQ(r.table_id, -5) << "mode 1 delivers nothing";
        continue;
      }
      const bool whole = r.table_id != -5;
      EXPECT_EQ(Name(r.grantee, r.grantee_length) + "/" +
                    (whole ? Name(r.grantor, r.grantor_length) : "?"),
                c.delivered[k]) << c.mode;
      if (whole) {
        EXPECT_EQ(r.table_id, kTable);
        EXPECT_EQ(r.privilege, 4);
        const std::map<std::string, int32_t> kinds = {{"EVE", 3}, {"BOB", 1}, {"CAT", 0}};
        EXPECT_EQ(r.grantee_kind, kinds.at(Name(r.grantee, r.grantee_length)));
      }
    }
    ASSERT_EQ(EndWork(1), 0);
  }
  ASSERT_EQ(BegWork(), 0);
  std::vector<DDGrantRow> rows;
  EXPECT_EQ(Walk(5, 4, "EVE", kTableRows, "ADAM", &rows), DD_BAD_VALUE);
  EXPECT_EQ(Walk(4, 8, "EVE", kTableRows, "ADAM", &rows), DD_KIND_OUTSIDE);
  ASSERT_EQ(EndWork(1), 0);
}

}  // namespace
