// A definition's stored forms (text 0, tree 59): the rows of 42 and 43 the
// store writes, read back by the compiler's piece reader never past the
// caller's buffer, a second store of the same refused.
#include <string>
#include <vector>

#include "dict/compiler_lookups.h"
#include "dict/dictionary_services.h"
#include "dict/tests/lookup_fixture.h"
#include "platform/packed_decimal.h"

namespace {

class DefinitionsTest : public LookupTest {
 protected:
  int32_t Store(int32_t id, int32_t number, const std::vector<uint8_t>& bytes) {
    int32_t pb[2] = {0, usr_};
    DDStoreDefinition(base_, pb, id, 700, number, bytes.data(),
                      static_cast<int32_t>(bytes.size()));
    return pb[0];
  }
  // An integer column of a row as stored; INT32_MIN for NULL.
  static int32_t Int(const std::vector<uint8_t>& row, int32_t offset) {
    if (row[offset] == 255) return INT32_MIN;
    value_descriptor d;
    d.precision = 11;
    int32_t v = 0;
    EXPECT_EQ(decimal_to_int(&v, ConstByteSpan(row.data() + offset, 7), d), 0);
    return v;
  }
  // The rows: 43's total, then per piece of 42 its second id, its length
  // and its bytes; empty when 43 has no row.
  struct Stored {
    int32_t total = -1;
    std::vector<int32_t> seconds, lengths;
    std::vector<uint8_t> bytes;
  };
  Stored Rows(int32_t id, int32_t number) {
    Stored s;
    std::vector<uint8_t> row;
    const CatalogValue header[] = {{CHECK_PIECES_INT_0, 0, id, nullptr},
                                   {CHECK_PIECES_INT_7, 0, number, nullptr}};
    if (ReadRow(43, header, &row) != 0) return s;
    s.total = Int(row, CHECK_PIECES_INT_14);
    for (int32_t piece = 1;; ++piece) {
      const CatalogValue key[] = {{CHECK_TEXTS_INT_0, 0, id, nullptr},
                                  {CHECK_TEXTS_INT_7, 0, number, nullptr},
                                  {CHECK_TEXTS_INT_14, 0, piece, nullptr},
                                  {CHECK_TEXTS_INT_21, 0, 700, nullptr}};
      if (ReadRow(42, key, &row) != 0) break;
      s.seconds.push_back(Int(row, CHECK_TEXTS_INT_21));
      const int32_t n = Int(row, CHECK_TEXTS_INT_28);
      s.lengths.push_back(n);
      s.bytes.insert(s.bytes.end(), row.begin() + CHECK_TEXTS_CHECK_TEXT + 1,
                     row.begin() + CHECK_TEXTS_CHECK_TEXT + 1 + n);
    }
    return s;
  }
};

std::vector<uint8_t> Bytes(int32_t n, int32_t seed) {
  std::vector<uint8_t> b(static_cast<size_t>(n));
  for (int32_t k = 0; k < n; ++k) b[static_cast<size_t>(k)] = static_cast<uint8_t>((k * 7 + seed) % 256);
  return b;
}

// Lengths at and around a piece's 2400 bytes: the pieces written, read
// back whole and cut at every kind of buffer, zero bytes and 255s kept.
TEST_F(DefinitionsTest, PiecesWrittenAndReadBackWithinTheBuffer) {
  ASSERT_EQ(BegWork(), 0);
  const struct {
    int32_t length;
    std::vector<int32_t> pieces;
  } cases[] = {{0, {0}},       {1, {1}},       {2400, {2400}},
               {2401, {2400, 1}}, {4800, {2400, 2400}}, {5000, {2400, 2400, 200}}};
  int32_t id = 900;
  for (const auto& c : cases) {
    ++id;
    SCOPED_TRACE(c.length);
    const std::vector<uint8_t> bytes = Bytes(c.length, id);
    ASSERT_EQ(Store(id, DD_DEFINITION_TREE, bytes), 0);
    const Stored s = Rows(id, DD_DEFINITION_TREE);
    EXPECT_EQ(s.total, c.length);
    EXPECT_EQ(s.lengths, c.pieces);
    EXPECT_EQ(s.seconds, std::vector<int32_t>(c.pieces.size(), 700));
    EXPECT_EQ(s.bytes, bytes);
    int32_t pb[2] = {0, usr_}, total = -1;
    DDCmpDefinitionInfo(base_, pb, id, DD_DEFINITION_TREE, &total);
    ASSERT_EQ(pb[0], 0);
    EXPECT_EQ(total, c.length);
    for (int32_t capacity : {c.length, c.length + 10, c.length / 2, 2400, 2401, 1, 0}) {
      std::vector<uint8_t> back(static_cast<size_t>(std::max(capacity, 0)) + 4, 0xEE);
      int32_t length = -1;
      pb[0] = 0;
      DDCmpDefinitionRead(base_, pb, id, DD_DEFINITION_TREE, back.data(), capacity, &length);
      ASSERT_EQ(pb[0], 0) << capacity;
      const int32_t want = std::min(capacity, c.length);
      EXPECT_EQ(length, want) << capacity;
      EXPECT_TRUE(std::equal(back.begin(), back.begin() + want, bytes.begin())) << capacity;
      EXPECT_EQ(back[static_cast<size_t>(capacity)], 0xEE) << "written past " << capacity;
    }
  }
  ASSERT_EQ(EndWork(1), 0);
}

// Text and tree of one object are two definitions; the same one again is
// 2; what is not stored is -19007 for the compiler (a kind-1 text's
// missing first piece); bad values refused before a run.
TEST_F(DefinitionsTest, TextAndTreeApartAndTheSameOneAgainRefused) {
  ASSERT_EQ(BegWork(), 0);
  const std::vector<uint8_t> text = Bytes(30, 1), tree = Bytes(2500, 2);
  ASSERT_EQ(Store(950, DD_DEFINITION_TEXT, text), 0);
  ASSERT_EQ(Store(950, DD_DEFINITION_TREE, tree), 0);
  EXPECT_EQ(Rows(950, DD_DEFINITION_TEXT).bytes, text);
  EXPECT_EQ(Rows(950, DD_DEFINITION_TREE).bytes, tree);
  EXPECT_EQ(Store(950, DD_DEFINITION_TREE, tree), 2);
  int32_t pb[2] = {0, usr_};
  const uint8_t b[1] = {7};
  DDInsCheckParts(base_, pb, 950, 700, DD_DEFINITION_TREE, 2, -1, b, 1);
  EXPECT_EQ(pb[0], 2) << "a piece that is there";
  pb[0] = 0;
  DDInsCheckParts(base_, pb, 950, 700, DD_DEFINITION_TREE, 3, -1, b, 1);
  EXPECT_EQ(pb[0], 0) << "a further piece";
  int32_t total = -1;
  pb[0] = 0;
  DDCmpDefinitionInfo(base_, pb, 951, DD_DEFINITION_TREE, &total);
  EXPECT_EQ(pb[0], DD_PIECE_MISSING);
  pb[0] = 0;
  DDCmpDefinitionInfo(base_, pb, 950, 58, &total);
  EXPECT_EQ(pb[0], DD_PIECE_MISSING) << "another number";
  const struct {
    int32_t number, piece, total, length;
  } bad[] = {{-1, 1, 1, 1}, {59, 0, 1, 1}, {59, 1, -1, 1}, {59, 2, -1, 2401}, {59, 2, -1, -1}};
  std::vector<uint8_t> big(2401, 1);
  for (const auto& c : bad) {
    pb[0] = 0;
    DDInsCheckParts(base_, pb, 960, 700, c.number, c.piece, c.total, big.data(), c.length);
    EXPECT_EQ(pb[0], DD_BAD_VALUE) << c.number << " " << c.piece << " " << c.length;
  }
  EXPECT_EQ(Rows(960, 59).total, -1) << "nothing written";
  pb[0] = 0;
  DDCmpDefinitionInfo(base_, pb, 950, -1, &total);
  EXPECT_EQ(pb[0], DD_BAD_VALUE);
  ASSERT_EQ(EndWork(1), 0);
}

}  // namespace
