// A column made a column of its table's primary key: the internal key
// column and its rows go with the first, the columns' offsets follow.
#include <map>
#include <string>
#include <vector>

#include "dict/tests/objects_fixture.h"

namespace {

class KeyColumnsTest : public ObjectsTest {
 protected:
  int32_t Column(const std::string& name, int32_t number, int32_t offset, int32_t length) {
    return Exec(SLOT_DDInsColumn, IMAGE_DDInsColumn, [&](DDParams& p) {
      p.Int(1, 910).TextLength(2, name.data(), static_cast<int32_t>(name.size())).Int(4, number);
      p.Int(5, number).Int(6, 136).Text(7, "CHARACTER").Null(8).Int(9, length);
      p.Null(10).Null(11).Null(12).Null(13).Null(14).Text(15, "YES").Text(16, "YES");
      p.Int(17, offset).Int(18, length).Null(19).Null(20).Null(21).Int(22, 135).Int(23, length);
    });
  }
  // Table 910: the internal key column, A (5 bytes), B (10), C (4), D (8);
  // its internal key 930 and a unique key 931.
  void Table(bool internal_key_rows = true) {
    ASSERT_EQ(InsObject(910, 6, "S", "T"), 0);
    ASSERT_EQ(Column("ZAVOR_ROWID", 0, 0, 12), 0);
    ASSERT_EQ(Column("A", 1, 12, 5), 0);
    ASSERT_EQ(Column("B", 2, 17, 10), 0);
    ASSERT_EQ(Column("C", 3, 27, 4), 0);
    ASSERT_EQ(Column("D", 4, 31, 8), 0);
    if (internal_key_rows) {
      ASSERT_EQ(InsObject(930, 16, "S", "SQL_INTERNAL_KEY_930"), 0);
      ASSERT_EQ(InsConstraint(930, 0, "INTERNAL KEY"), 0);
      ASSERT_EQ(InsKey(1, "ZAVOR_ROWID", 930), 0);
    }
    ASSERT_EQ(InsObject(931, 16, "S", "U1"), 0);
    ASSERT_EQ(InsConstraint(931, 0, "UNIQUE"), 0);
    ASSERT_EQ(InsKey(1, "D", 931), 0);
  }
  // Status; the outputs into out[0..2] (removed, length, next offset).
  int32_t KeyCol(const std::string& column, int32_t at, int32_t out[3]) {
    int32_t pb[2] = {0, usr_};
    out[2] = at;
    DDUpdKeyCols(base_, pb, 910, column.data(), static_cast<int32_t>(column.size()), &out[2],
                 &out[0], &out[1]);
    return pb[0];
  }
  // Each column's byte offset and nullable flag, read after the work.
  std::map<std::string, std::string> Columns() {
    std::map<std::string, std::string> m;
    for (const char* c : {"ZAVOR_ROWID", "A", "B", "C", "D"}) {
      const std::string row = ReadRow(22, IntField(910) + TextField(c, 128));
      if (row.empty()) continue;
      std::string offset = "?";
      for (int32_t v = 0; v < 64; ++v)
        if (row.substr(COLUMNS_BYTE_OFFSET, 7) == IntField(v)) offset = std::to_string(v);
      m[c] = offset + row.substr(COLUMNS_IS_NULLABLE + 1, 3);
    }
    return m;
  }
  bool Row(int32_t table, const std::string& key) { return !ReadRow(table, key).empty(); }
};

TEST_F(KeyColumnsTest, FirstReplacesTheInternalKeyAndLaterOnesFollow) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  Table();
  int32_t out[3];
  // C first: the internal key column goes; C takes bytes 0-3, A and B
  // (behind the internal key, before C) follow it, D loses 12 bytes.
  ASSERT_EQ(KeyCol("C", 0, out), 0);
  EXPECT_EQ(out[0], 12);
  EXPECT_EQ(out[1], 4);
  EXPECT_EQ(out[2], 4);
  // B next at byte 4: A, between the key and B's place, moves behind it.
  ASSERT_EQ(KeyCol("B", 4, out), 0);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 10);
  EXPECT_EQ(out[2], 14);
  EXPECT_EQ(EndWork(0), 0);
  const std::map<std::string, std::string> want = {
      {"C", "0NO "}, {"B", "4NO "}, {"A", "14YES"}, {"D", "19YES"}};
  EXPECT_EQ(Columns(), want);
  const std::string ikey = IntField(930) + TextField("INTERNAL KEY", 20) + IntField(910);
  EXPECT_FALSE(Row(18, ikey));
  EXPECT_FALSE(Row(11, IntField(930)));
  EXPECT_FALSE(Row(20, IntField(930) + IntField(910) + IntField(1)));
  // The other key is left.
  EXPECT_TRUE(Row(18, IntField(931) + TextField("UNIQUE", 20) + IntField(910)));
  EXPECT_TRUE(Row(20, IntField(931) + IntField(910) + IntField(1)));
}

TEST_F(KeyColumnsTest, MissingColumnsAndAnInternalKeyOutOfPlace) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  Table();
  EXPECT_EQ(EndWork(0), 0);
  const std::map<std::string, std::string> before = Columns();
  int32_t out[3];
  struct Case {
    const char* column;
    int32_t at, status;
  };
  // No such column, the internal key column itself: 1 and nothing changed.
  // A later key column while the internal key column is there: -19007.
  for (const Case& c : {Case{"X", 0, 1}, Case{"ZAVOR_ROWID", 0, 1}, Case{"A", 5, -19007}}) {
    ASSERT_EQ(BegWork(), 0);
    EXPECT_EQ(KeyCol(c.column, c.at, out), c.status) << c.column;
    EndWork(1);
    EXPECT_EQ(Columns(), before) << c.column;
  }
  // A first key column once the internal key column has gone: -19007.
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(KeyCol("C", 0, out), 0);
  EXPECT_EQ(KeyCol("B", 0, out), -19007);
  EndWork(1);
  EXPECT_EQ(Columns(), before);
}

TEST_F(KeyColumnsTest, InternalKeyColumnWithoutItsConstraint) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  Table(false);
  int32_t out[3];
  EXPECT_EQ(KeyCol("C", 0, out), -19007);
  EndWork(1);
}

}  // namespace

namespace {

// The first user column made the first key column stays where it is; a
// column already of the key (its place before the offset given) is not
// moved onto the columns behind the key: -19007.
TEST_F(KeyColumnsTest, AColumnAlreadyOfTheKeyIsNotMovedAgain) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  Table();
  int32_t out[3];
  ASSERT_EQ(KeyCol("A", 0, out), 0);
  EXPECT_EQ((std::vector<int32_t>{out[0], out[1], out[2]}), (std::vector<int32_t>{12, 5, 5}));
  ASSERT_EQ(KeyCol("D", 5, out), 0);
  EXPECT_EQ((std::vector<int32_t>{out[0], out[1], out[2]}), (std::vector<int32_t>{0, 8, 13}));
  EXPECT_EQ(EndWork(0), 0);
  const std::map<std::string, std::string> want = {
      {"A", "0NO "}, {"D", "5NO "}, {"B", "13YES"}, {"C", "23YES"}};
  EXPECT_EQ(Columns(), want);
  // A negative offset places nothing: -19113 before the statement runs.
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(KeyCol("B", -1, out), -19113);
  EXPECT_EQ(out[2], -1);
  EndWork(1);
  EXPECT_EQ(Columns(), want);
  for (const auto& [column, at] : {std::pair{"A", 13}, std::pair{"D", 13}, std::pair{"A", 5}}) {
    ASSERT_EQ(BegWork(), 0);
    EXPECT_EQ(KeyCol(column, at, out), -19007) << column << at;
    EndWork(1);
    EXPECT_EQ(Columns(), want) << column << at;
  }
}

}  // namespace
