// Stored statements: strings cut into 1000-byte pieces and read back whole,
// the decimal text NULL outside 1-400 characters, items with their numbers
// and pieces, the drop by name that ignores the id, the lookup by name
// under the level's schema or a STATEMENT privilege.
#include "dict/stored_statements.h"

#include <cstring>
#include <string>
#include <vector>

#include "dict/tests/lookup_fixture.h"
#include "dict/work_block.h"

namespace {

class StoredStatementsTest : public LookupTest {
 protected:
  // Bytes of a string of `length` whose values follow from `seed`.
  static std::string Bytes(int32_t length, int32_t seed) {
    std::string s(static_cast<size_t>(length), '\0');
    for (int32_t k = 0; k < length; ++k) s[k] = static_cast<char>((k * 7 + seed) % 251);
    return s;
  }
  // A kernel storage block holding `s` from its word 1.
  int32_t Block(const std::string& s) {
    int32_t b = 0;
    DSGetMem(base_, &b, static_cast<int32_t>(s.size()) + 8);
    std::memcpy(&W(b + 1), s.data(), s.size());
    return b;
  }
  int32_t Insert(int32_t id, const std::string& name, const std::string& first,
                 const std::string& second, int32_t decimal_length = 0,
                 const std::string& schema = "ADAM") {
    if (const int32_t rc = InsObject(id, 22, schema, name)) return rc;
    std::vector<uint8_t> decimal;
    for (int32_t k = 0; k < std::max(decimal_length, 1); ++k)
      decimal.insert(decimal.end(), {0, 0, uint8_t('0' + k % 10)});
    int32_t pb[2] = {0, usr_};
    DDInsStatement(base_, pb, id, id + 7, reinterpret_cast<const uint8_t*>(first.data()),
                   static_cast<int32_t>(first.size()), Block(second),
                   static_cast<int32_t>(second.size()), decimal.data(), decimal_length);
    return pb[0];
  }
  // Both strings read back piece by piece.
  int32_t ReadBack(int32_t id, std::string* first, std::string* second, int32_t* pieces) {
    first->clear();
    second->clear();
    *pieces = 0;
    for (int32_t piece = 1;; ++piece) {
      DDStatementPiece p{};
      int32_t pb[2] = {0, usr_};
      DDCmpGQSTPiece(base_, pb, id, piece, std::nullopt, &p);
      if (pb[0] == 1) return 0;
      if (pb[0] != 0) return pb[0];
      ++*pieces;
      first->append(reinterpret_cast<const char*>(p.bytes[0]), p.length[0]);
      second->append(reinterpret_cast<const char*>(p.bytes[1]), p.length[1]);
    }
  }
  // Which of a statement's rows are there: 148, piece 1 of each string,
  // the object row.
  std::string Rows(int32_t id) {
    std::vector<uint8_t> row;
    std::string there;
    const CatalogValue s[] = {{STATEMENTS_STATEMENT_ID, 0, id, nullptr}};
    there += ReadRow(148, s, &row) == 0 ? "S" : "-";
    for (int32_t string : {2, 3}) {
      const CatalogValue piece[] = {{STATEMENT_ITEMS_STATEMENT_ID, 0, id, nullptr},
                                    {STATEMENT_ITEMS_INT_7, 0, 0, nullptr},
                                    {STATEMENT_ITEMS_INT_14, 0, string, nullptr},
                                    {STATEMENT_ITEMS_INT_21, 0, 1, nullptr}};
      there += ReadRow(149, piece, &row) == 0 ? "P" : "-";
    }
    const CatalogValue object[] = {{OBJECTS_OBJECT_ID, 0, id, nullptr}};
    there += ReadRow(11, object, &row) == 0 ? "O" : "-";
    return there;
  }
};

// Every length around the piece size reads back whole, in as many pieces as
// the longer string needs: 1000 bytes one piece, 1001 two.
TEST_F(StoredStatementsTest, StringsAreCutIntoPiecesOf1000Bytes) {
  struct Case {
    int32_t first, second, pieces;
  };
  const Case cases[] = {{0, 0, 1},    {1, 0, 1},      {999, 5, 1},     {1000, 0, 1},
                        {1001, 0, 2}, {0, 1001, 2},   {1000, 1000, 1}, {2500, 10, 3},
                        {3, 3000, 3}, {2000, 2001, 3}};
  ASSERT_EQ(BegWork(), 0);
  int32_t id = 600;
  for (const Case& c : cases) {
    const std::string first = Bytes(c.first, id), second = Bytes(c.second, id + 1);
    ASSERT_EQ(Insert(id, "S" + std::to_string(id), first, second), 0) << c.first << " " << c.second;
    std::string a, b;
    int32_t pieces = 0;
    ASSERT_EQ(ReadBack(id, &a, &b, &pieces), 0);
    EXPECT_EQ(pieces, c.pieces) << c.first << " " << c.second;
    EXPECT_EQ(a, first) << c.first;
    EXPECT_EQ(b, second) << c.second;
    ++id;
  }
  // The first string's length by name, and the second piece of a string
  // that has none.
  DDStoredStatement s{};
  int32_t pb[2] = {0, usr_};
  DDCmpGQST(base_, pb, "", 0, "S607", 4, std::nullopt, &s);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(s.id, 607);
  EXPECT_EQ(s.number, 614);
  EXPECT_EQ(s.first_length, 2500);
  EXPECT_EQ(s.ident, W(Ucom() + DDUCOM_IDENT));
  DDStatementPiece p{};
  pb[0] = 0;
  DDCmpGQSTPiece(base_, pb, 607, 2, std::nullopt, &p);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(p.remaining[0], 1500);
  EXPECT_EQ(p.remaining[1], -1) << "10 bytes have no second piece";
  EXPECT_EQ(p.length[1], 0);
  ASSERT_EQ(EndWork(0), 0);
}

// The decimal text is stored for 1-400 characters; 0 and 401 store NULL.
TEST_F(StoredStatementsTest, DecimalTextOutsideOneTo400IsNull) {
  ASSERT_EQ(BegWork(), 0);
  const int32_t lengths[] = {0, 1, 400, 401, 5000};
  for (int32_t k = 0; k < 5; ++k) {
    ASSERT_EQ(Insert(700 + k, "D" + std::to_string(k), "x", "y", lengths[k]), 0);
    std::vector<uint8_t> row;
    const CatalogValue key[] = {{STATEMENTS_STATEMENT_ID, 0, 700 + k, nullptr}};
    ASSERT_EQ(ReadRow(148, key, &row), 0);
    const bool present = lengths[k] >= 1 && lengths[k] <= 400;
    EXPECT_EQ(row[STATEMENTS_STATEMENT_TEXT] == 0, present) << lengths[k];
    if (present) {
      EXPECT_EQ(row[STATEMENTS_STATEMENT_TEXT + 3 * lengths[k]], '0' + (lengths[k] - 1) % 10)
          << lengths[k];
    }
  }
  int32_t pb[2] = {0, usr_};
  DDInsStatement(base_, pb, 799, 1, nullptr, -1, 0, 0, nullptr, 0);
  EXPECT_EQ(pb[0], DD_NAME_TOO_LONG);
  pb[0] = 0;
  DDInsStatement(base_, pb, 799, 1, nullptr, 0, 0, 20, nullptr, 0);
  EXPECT_EQ(pb[0], DD_NAME_TOO_LONG) << "a second string outside the storage";
  ASSERT_EQ(EndWork(1), 0);
  pb[0] = 0;
  DDInsStatement(base_, pb, 799, 1, nullptr, 0, 0, 0, nullptr, 0);
  EXPECT_EQ(pb[0], DD_NO_WORK_BLOCK);
}

// Items: their numbers, their value in pieces; an item written again ends
// without error and keeps its first value.
TEST_F(StoredStatementsTest, ItemsKeepTheirNumbersAndPieces) {
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(Insert(800, "ITEMS", "a", "b"), 0);
  const std::string value = Bytes(2001, 3);
  for (int32_t item : {0, 1, 2}) {
    int32_t pb[2] = {0, usr_};
    DDInsStatementItem(base_, pb, 800, 40 + item, item, 10 + item, 20 + item,
                       Block(item == 1 ? value : "v"), item == 1 ? 2001 : 1);
    ASSERT_EQ(pb[0], 0) << item;
  }
  int32_t pb[2] = {0, usr_};
  DDInsStatementItem(base_, pb, 800, 99, 1, 0, 0, Block("other"), 5);
  EXPECT_EQ(pb[0], 0) << "an item there already ends the insert";
  pb[0] = 0;
  DDInsStatementItem(base_, pb, 800, 99, -1, 0, 0, Block("x"), 1);
  EXPECT_EQ(pb[0], DD_NAME_TOO_LONG);

  DDStatementItem i{};
  pb[0] = 0;
  DDCmpGQSD(base_, pb, 800, 1, std::nullopt, std::nullopt, &i);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(i.item, 1);
  EXPECT_EQ(i.number2, 11);
  EXPECT_EQ(i.number3, 21);
  pb[0] = 0;
  DDCmpGQSD(base_, pb, 800, 1, 11, 22, &i);
  EXPECT_EQ(pb[0], 1) << "a third number that is not the item's";
  pb[0] = 0;
  DDCmpGQSD(base_, pb, 800, 7, std::nullopt, std::nullopt, &i);
  EXPECT_EQ(pb[0], 1);
  std::string back;
  for (int32_t piece = 1;; ++piece) {
    DDItemPiece p{};
    pb[0] = 0;
    DDCmpGQSDPiece(base_, pb, 800, 1, piece, &p);
    if (pb[0] == 1) break;
    ASSERT_EQ(pb[0], 0);
    EXPECT_EQ(p.number, 41);
    EXPECT_EQ(p.piece, piece);
    back.append(reinterpret_cast<const char*>(p.bytes), p.length);
  }
  EXPECT_EQ(back, value);
  // Item 0 is apart from the statement's own strings.
  DDItemPiece p{};
  pb[0] = 0;
  DDCmpGQSDPiece(base_, pb, 800, 0, 1, &p);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.bytes), p.length), "v");
  ASSERT_EQ(EndWork(0), 0);
}

// A drop by name takes the named statement whatever id is given; by id
// with another owner nothing; every row of the statement goes, its
// neighbours' stay.
TEST_F(StoredStatementsTest, DropByNameIgnoresTheId) {
  ASSERT_EQ(BegWork(), 0);
  const int32_t ident = W(Ucom() + DDUCOM_IDENT);
  ASSERT_EQ(Insert(900, "FIRST", Bytes(1500, 1), "s"), 0);
  ASSERT_EQ(Insert(901, "SECOND", "f", Bytes(1200, 2)), 0);
  int32_t pb[2] = {0, usr_};
  DDInsStatementItem(base_, pb, 900, 1, 1, 2, 3, Block("item"), 4);
  ASSERT_EQ(pb[0], 0);
  pb[0] = 0;
  DDInsPrivilege(base_, pb, 17, 900, false, "EVE", 3, "ADAM", 4);
  ASSERT_EQ(pb[0], 0);
  pb[0] = 0;
  const uint8_t text3[3] = {0, 0, 'a'};
  DDInsSource(base_, pb, 900, "", 0, 6, text3, 1);
  ASSERT_EQ(pb[0], 0);
  pb[0] = 0;
  DDInsObjUsage(base_, pb, 900, 22, 22, 6);
  ASSERT_EQ(pb[0], 0);
  const CatalogValue use[] = {{PRIVILEGE_USAGE_OBJECT_ID, 0, 900, nullptr},
                              {PRIVILEGE_USAGE_OBJECT_NAME, 1, 0, "A"},
                              {PRIVILEGE_USAGE_TABLE_ID, 0, 22, nullptr},
                              {PRIVILEGE_USAGE_OBJECT_TYPE, 1, 0, "STATEMENT"},
                              {PRIVILEGE_USAGE_PRIVILEGE_TYPE, 1, 0, "SELECT"}};
  ASSERT_EQ(InsertValues(39, use), 0);
  const CatalogValue usage[] = {{OBJECT_USAGE_USED_ID, 0, 22, nullptr},
                                {OBJECT_USAGE_USED_TYPE, 1, 0, "BASE TABLE"},
                                {OBJECT_USAGE_USER_ID, 0, 900, nullptr},
                                {OBJECT_USAGE_USER_TYPE, 1, 0, "STATEMENT"}};
  std::vector<uint8_t> found;
  ASSERT_EQ(ReadRow(38, usage, &found), 0);
  ASSERT_EQ(Rows(900), "SPPO");
  ASSERT_EQ(Rows(901), "SPPO");
  auto drop = [&](int32_t id, const std::string& name, std::optional<int32_t> owner) {
    int32_t b[2] = {0, usr_};
    DDDelStatement(base_, b, id, name.data(), static_cast<int32_t>(name.size()), owner);
    return b[0];
  };
  EXPECT_EQ(drop(900, "", ident + 1), 1) << "another owner's";
  EXPECT_EQ(drop(901, "FIRST", std::nullopt), 0);
  EXPECT_EQ(Rows(900), "----");
  EXPECT_EQ(Rows(901), "SPPO");
  std::vector<uint8_t> row;
  const CatalogValue item[] = {{STATEMENT_PIECES_STATEMENT_ID, 0, 900, nullptr},
                               {STATEMENT_PIECES_INT_7, 0, 1, nullptr}};
  EXPECT_EQ(ReadRow(150, item, &row), 100);
  const CatalogValue piece2[] = {{STATEMENT_ITEMS_STATEMENT_ID, 0, 900, nullptr},
                                 {STATEMENT_ITEMS_INT_7, 0, 0, nullptr},
                                 {STATEMENT_ITEMS_INT_14, 0, 2, nullptr},
                                 {STATEMENT_ITEMS_INT_21, 0, 2, nullptr}};
  EXPECT_EQ(ReadRow(149, piece2, &row), 100);
  EXPECT_EQ(ReadRow(38, usage, &row), 100) << "its usage row went with it";
  EXPECT_EQ(ReadRow(39, use, &row), 100) << "its privilege use went with it";
  pb[0] = 0;
  DDChkPrivilege(base_, pb, 17, 900, "EVE", 3);
  EXPECT_EQ(pb[0], 0) << "the privilege went with it";
  int32_t total = 0, length = 0;
  uint8_t text[30];
  pb[0] = 0;
  DDGetSourceInfo(base_, pb, 900, "", 0, 6, text, 10, &total, &length);
  EXPECT_EQ(pb[0], 1) << "the source text went with it";
  EXPECT_EQ(drop(0, "FIRST", std::nullopt), 1);
  EXPECT_EQ(drop(901, "", ident), 0);
  EXPECT_EQ(Rows(901), "----");
  EXPECT_EQ(drop(0, std::string(129, 'N'), std::nullopt), DD_NAME_TOO_LONG);
  ASSERT_EQ(EndWork(0), 0);
}

// By name: the level's schema unless one is given; another schema's only
// with the STATEMENT privilege for the level's name or PUBLIC.
TEST_F(StoredStatementsTest, LookupByNameNeedsTheLevelsSchemaOrAPrivilege) {
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(Insert(950, "Q", "a", "b", 0, "ADAM"), 0);
  ASSERT_EQ(Insert(951, "Q", "a", "b", 0, "EVE"), 0);
  ASSERT_EQ(Insert(952, "R", "a", "b", 0, "EVE"), 0);
  int32_t pb[2] = {0, usr_};
  DDInsPrivilege(base_, pb, 17, 952, false, "PUBLIC", 6, "EVE", 3);
  ASSERT_EQ(pb[0], 0);
  auto find = [&](const std::string& schema, const std::string& name) {
    DDStoredStatement s{};
    int32_t b[2] = {0, usr_};
    DDCmpGQST(base_, b, schema.data(), static_cast<int32_t>(schema.size()), name.data(),
              static_cast<int32_t>(name.size()), std::nullopt, &s);
    return b[0] == 0 ? s.id : -b[0];
  };
  EXPECT_EQ(find("", "Q"), 950);
  EXPECT_EQ(find("ADAM", "Q"), 950);
  EXPECT_EQ(find("EVE", "Q"), -1) << "no privilege on EVE's";
  EXPECT_EQ(find("EVE", "R"), 952) << "PUBLIC holds it";
  EXPECT_EQ(find("", "R"), -1);
  EXPECT_EQ(find("", std::string(129, 'Q')), -DD_NAME_TOO_LONG);
  ASSERT_EQ(EndWork(0), 0);
  // Without a thread block nothing runs.
  StatusPair st{};
  mdr_tls_set(&st, 0, TLS_SLOT_THR);
  DDStoredStatement s{};
  pb[0] = 0;
  DDCmpGQST(base_, pb, "", 0, "Q", 1, std::nullopt, &s);
  EXPECT_EQ(pb[0], DD_NO_THREAD_BLOCK);
  mdr_tls_set(&st, thr_, TLS_SLOT_THR);
}

}  // namespace
