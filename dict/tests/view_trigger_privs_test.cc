// What an INSTEAD OF trigger on a view brings its ident, written when it
// is registered and brought back in line when it is dropped.
#include <string>

#include "dict/tests/objects_fixture.h"

namespace {

class ViewTriggerPrivsTest : public ObjectsTest {
 protected:
  void SetUp() override {
    SetUpCatalog({11, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22, 24, 25, 26, 27, 28, 29, 30, 32, 33,
                  36, 38, 39, 40, 41, 44, 151});
  }
  // The status, and the result into *result.
  int32_t Privs(int32_t view, int32_t mode, const std::string& ident, int32_t event,
                int32_t* result) {
    int32_t pb[2] = {0, usr_};
    *result = -1;
    DDViewTriggerPrivs(base_, pb, view, mode, ident.data(), static_cast<int32_t>(ident.size()),
                       event, result);
    return pb[0];
  }
  int32_t Trigger(int32_t id, int32_t event, int32_t timing) {
    int32_t pb[2] = {0, usr_};
    if (const int32_t rc = InsObject(id, 13, "S", "TR" + std::to_string(id))) return rc;
    DDTriggerDef t;
    t.id = id, t.table_id = 910, t.event = event, t.timing = timing;
    DDInsTrigger(base_, pb, t);
    return pb[0];
  }
  int32_t DropTrigger(int32_t id) {
    int32_t pb[2] = {4, usr_}, out = 0, table = 0, event = 0, timing = 0;
    DDDelTriggers(base_, pb, 0, id, "", 0, &out, &table, &event, &timing);
    return pb[0];
  }
  // Column and table privilege rows of the ident from "_SYSTEM".
  bool ColumnPriv(const std::string& column, const std::string& kind, const std::string& ident) {
    return !ReadRow(26, IntField(910) + TextField(column, 128) + TextField(kind, 20) +
                            TextField(ident, 128) + TextField("_SYSTEM", 128))
                .empty();
  }
  bool TablePriv(const std::string& kind, const std::string& ident) {
    return !ReadRow(25, IntField(910) + TextField(kind, 20) + TextField(ident, 128) +
                            TextField("_SYSTEM", 128))
                .empty();
  }
  // The view's mark and its columns'.
  std::string Marks() {
    std::string marks = ReadRow(17, IntField(910)).substr(VIEWS_CHAR_32 + 1, 3);
    for (const char* column : {"A", "B"})
      marks += " " + ReadRow(22, IntField(910) + TextField(column, 128)).substr(COLUMNS_CHAR_284 + 1, 3);
    return marks;
  }
};

TEST_F(ViewTriggerPrivsTest, RegisteredAndDropped) {
  constexpr int32_t kAdded = DD_VIEW_TRIGGER_ADDED, kDropped = DD_VIEW_TRIGGER_DROPPED;
  constexpr int32_t kInsert = 1, kDelete = 3, kInstead = 2, kAfter = 3;
  Protocol(21);  // each work commits, so the rows are read after it
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(910, 7, "S", "V"), 0);
  ASSERT_EQ(Exec(SLOT_DDInsView, IMAGE_DDInsView, [](DDParams& p) {
              p.Int(1, 910).Text(2, "NONE").Text(3, "NO ").Text(4, "NO ");
              p.Chars(5, DDBytes(""), 0);
            }),
            0);
  ASSERT_EQ(InsColumn("A", 1, 0), 0);
  ASSERT_EQ(InsColumn("B", 2, 0), 0);
  int32_t result = 0;
  // Two INSTEAD OF INSERT triggers and an INSTEAD OF DELETE one; an AFTER
  // INSERT trigger is no INSTEAD OF trigger.
  ASSERT_EQ(Trigger(960, kInsert, kInstead), 0);
  ASSERT_EQ(Privs(910, kAdded, "ALICE", kInsert, &result), 0);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(Trigger(961, kInsert, kInstead), 0);
  ASSERT_EQ(Privs(910, kAdded, "ALICE", kInsert, &result), 0);  // rows present are left
  ASSERT_EQ(Trigger(962, kDelete, kInstead), 0);
  ASSERT_EQ(Privs(910, kAdded, "ALICE", kDelete, &result), 0);
  ASSERT_EQ(Trigger(963, kInsert, kAfter), 0);
  EXPECT_EQ(EndWork(0), 0);
  EXPECT_EQ(Marks(), "YES YES YES");
  EXPECT_TRUE(ColumnPriv("A", "INSERT", "ALICE") && ColumnPriv("B", "INSERT", "ALICE"));
  EXPECT_FALSE(ColumnPriv("A", "DELETE", "ALICE"));
  EXPECT_TRUE(TablePriv("INSERT", "ALICE") && TablePriv("DELETE", "ALICE"));

  ASSERT_EQ(BegWork(), 0);
  // An INSTEAD OF INSERT trigger still stands: nothing changes.
  ASSERT_EQ(DropTrigger(961), 0);
  ASSERT_EQ(Privs(910, kDropped, "ALICE", kInsert, &result), 0);
  EXPECT_EQ(result, 2);
  // The last one gone: the DELETE trigger keeps the marks; ALICE still
  // holds INSERT for the caller to revoke.
  ASSERT_EQ(DropTrigger(960), 0);
  ASSERT_EQ(Privs(910, kDropped, "ALICE", kInsert, &result), 0);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Privs(910, kDropped, "BOB", kInsert, &result), 0);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(EndWork(0), 0);
  EXPECT_EQ(Marks(), "YES YES YES");

  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(DropTrigger(962), 0);
  ASSERT_EQ(Privs(910, kDropped, "ALICE", kDelete, &result), 0);
  EXPECT_EQ(result, 1);
  // Bad input: an event outside 1-3, a mode outside the two, no view row.
  EXPECT_EQ(Privs(910, kAdded, "ALICE", 4, &result), -19089);
  EXPECT_EQ(Privs(910, 3, "ALICE", kInsert, &result), -19113);
  EXPECT_EQ(Privs(999, kAdded, "ALICE", kInsert, &result), -19007);
  EXPECT_EQ(Privs(999, kDropped, "ALICE", kInsert, &result), -19007);
  EXPECT_EQ(EndWork(0), 0);
  EXPECT_EQ(Marks(), "NO  NO  NO ");
  EXPECT_TRUE(TablePriv("INSERT", "ALICE"));  // revoking is the caller's
}

}  // namespace
