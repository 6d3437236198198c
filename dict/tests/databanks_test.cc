// A databank dropped by id or name: one sequence row, or every row with
// its object row and link; other databanks untouched.
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/tests/lookup_fixture.h"

namespace {

class DatabanksTest : public LookupTest {
 protected:
  void Databank(int32_t id, const std::string& name) {
    int32_t pb[2] = {0, usr_};
    DDInsDatabank(base_, pb, id, id, name.data(), static_cast<int32_t>(name.size()), "ADM", 3,
                  "f.dbf", 5, 1, false);
    ASSERT_EQ(pb[0], 0);
    ASSERT_EQ(InsObject(id, 1, "", name), 0);
  }
  int32_t Drop(int32_t id, int32_t sequence, const std::string& name) {
    int32_t pb[2] = {0, usr_};
    DDDelDatabank(base_, pb, id, sequence, name.data(), static_cast<int32_t>(name.size()));
    return pb[0];
  }
  // Which of a databank's rows are there: sequence rows 1 and 2, the
  // object row, the link.
  std::string Rows(int32_t id) {
    std::vector<uint8_t> row;
    std::string there;
    for (int32_t sequence : {1, 2}) {
      const CatalogValue key[] = {{DATABANKS_DATABANK_ID, 0, id, nullptr},
                                  {DATABANKS_SEQUENCE_NO, 0, sequence, nullptr},
                                  {DATABANKS_LOGICAL_ID, 0, id, nullptr}};
      there += ReadRow(15, key, &row) == 0 ? "D" : "-";
    }
    const CatalogValue object[] = {{OBJECTS_OBJECT_ID, 0, id, nullptr}};
    there += ReadRow(11, object, &row) == 0 ? "O" : "-";
    const CatalogValue link[] = {{OBJECT_LINKS_OBJECT_ID, 0, id, nullptr}};
    there += ReadRow(12, link, &row) == 0 ? "L" : "-";
    return there;
  }
};

TEST_F(DatabanksTest, OneSequenceRowOrTheWholeDatabank) {
  ASSERT_EQ(BegWork(), 0);
  Databank(900, "DB900");
  Databank(902, "DB902");
  const CatalogValue second[] = {{DATABANKS_DATABANK_ID, 0, 900, nullptr},
                                 {DATABANKS_SEQUENCE_NO, 0, 2, nullptr},
                                 {DATABANKS_LOGICAL_ID, 0, 900, nullptr},
                                 {DATABANKS_DATABANK_NAME, 1, 0, "DB900"}};
  ASSERT_EQ(InsertValues(15, second), 0);
  int32_t pb[2] = {0, usr_};
  DDInsBaseLink(base_, pb, 900, 901);
  ASSERT_EQ(pb[0], 0);
  ASSERT_EQ(Rows(900), "DDOL");
  ASSERT_EQ(Rows(902), "D-O-");
  EXPECT_EQ(Drop(900, 5, ""), 1) << "no row of that sequence number";
  EXPECT_EQ(Drop(900, 2, ""), 0);
  EXPECT_EQ(Rows(900), "D-OL");
  EXPECT_EQ(Drop(0, 0, "DB900"), 0);
  EXPECT_EQ(Rows(900), "----");
  EXPECT_EQ(Rows(902), "D-O-");
  EXPECT_EQ(Drop(0, 0, "DB900"), 1);
  EXPECT_EQ(Drop(900, 0, ""), 1);
  EXPECT_EQ(Drop(99, 0, ""), 1);
  EXPECT_EQ(Drop(902, 0, ""), 0);
  EXPECT_EQ(Rows(902), "----");
  EXPECT_EQ(Drop(0, 0, ""), DD_BAD_VALUE);
  EXPECT_EQ(Drop(0, 0, std::string(129, 'D')), DD_BAD_VALUE);
  ASSERT_EQ(EndWork(1), 0);
}

// The rows of a backup: read back by their key, every column as written;
// the same row again 2; dates, times and lengths refused before anything
// runs.
TEST_F(DatabanksTest, BackupFileRowsReadBackByTheirKey) {
  ASSERT_EQ(BegWork(), 0);
  auto insert = [&](const char* code, const char* text, int32_t sequence, const char* date = "20261211",
                    const char* time = "040512", int32_t text_length = -1) {
    DDDbfileRow r;
    r.name = "SQLDB";
    r.name_length = 5;
    r.date = date;
    r.time = time;
    r.code = code;
    r.user = "ADM";
    r.user_length = 3;
    r.text = text;
    r.text_length = text_length >= 0 ? text_length : static_cast<int32_t>(std::strlen(text));
    r.sequence = sequence;
    int32_t pb[2] = {0, usr_};
    DDInsDbfile(base_, pb, r);
    return pb[0];
  };
  EXPECT_EQ(insert("DL", "", 7), 0);
  EXPECT_EQ(insert("BU", "/backup/sql.bkp", 7), 0);
  EXPECT_EQ(insert("BC", "/backup/sql.inc", 8), 0);
  EXPECT_EQ(insert("BU", "/backup/sql.bkp", 7), 2) << "the same row again";
  struct Case {
    const char* code;
    int32_t sequence;
    std::string text;
  } cases[] = {{"DL", 7, ""}, {"BU", 7, "/backup/sql.bkp"}, {"BC", 8, "/backup/sql.inc"}};
  for (const Case& c : cases) {
    const CatalogValue key[] = {{DATABANK_FILES_DATABANK_NAME, 1, 0, "SQLDB"},
                                {DATABANK_FILES_INT_129, 0, c.sequence, nullptr},
                                {DATABANK_FILES_CHAR_136, 1, 0, c.code},
                                {DATABANK_FILES_BYTES_139, 1, 0, "20261211"},
                                {DATABANK_FILES_INT_148, 0, 40512, nullptr}};
    std::vector<uint8_t> row;
    ASSERT_EQ(ReadRow(51, key, &row), 0) << c.code;
    EXPECT_EQ(Column(row, DATABANK_FILES_FILE_LABEL, 128), "ADM");
    std::string text(reinterpret_cast<const char*>(row.data()) + DATABANK_FILES_FILE_NAME + 1, 256);
    EXPECT_EQ(text, c.text + std::string(256 - c.text.size(), '\0')) << c.code;
  }
  EXPECT_EQ(insert("DL", "", 9, "2026121A"), DD_BAD_VALUE);
  EXPECT_EQ(insert("DL", "", 9, "20261211", "04051 "), DD_BAD_VALUE);
  const std::string long_text(257, 'x');
  EXPECT_EQ(insert("BU", long_text.c_str(), 9), DD_BAD_VALUE);
  EXPECT_EQ(insert("BU", long_text.c_str(), 9, "20261211", "040512", 256), 0) << "256 bytes fit";
  ASSERT_EQ(EndWork(1), 0);
}

// A new databank's row carries the kind letter of its transaction option,
// the letter the kernel core opens it by; online, sequence 1.
TEST_F(DatabanksTest, ANewRowsKindFollowsItsOption) {
  ASSERT_EQ(BegWork(), 0);
  struct Case {
    int32_t option;
    const char* stored;
  } cases[] = {{1, "LOG,YES,L,N"}, {2, "TRANS,YES,T,N"}, {3, "NULL,YES,N,N"}};
  for (const Case& c : cases) {
    const int32_t id = 910 + c.option;
    const std::string name = "KIND" + std::to_string(c.option);
    int32_t pb[2] = {0, usr_};
    DDInsDatabank(base_, pb, id, id, name.data(), static_cast<int32_t>(name.size()), "ADM", 3,
                  "k.dbf", 5, c.option, true);
    ASSERT_EQ(pb[0], 0) << c.option;
    const CatalogValue key[] = {{DATABANKS_DATABANK_ID, 0, id, nullptr},
                                {DATABANKS_SEQUENCE_NO, 0, 1, nullptr},
                                {DATABANKS_LOGICAL_ID, 0, id, nullptr}};
    std::vector<uint8_t> row;
    ASSERT_EQ(ReadRow(15, key, &row), 0) << c.option;
    EXPECT_EQ(Column(row, DATABANKS_TRANS_OPTION, 20) + "," + Column(row, DATABANKS_CHAR_557, 3) +
                  "," + Column(row, DATABANKS_DATABANK_TYPE, 2) + "," +
                  Column(row, DATABANKS_OFFLINE_FLAG, 2),
              c.stored);
  }
  ASSERT_EQ(EndWork(1), 0);
}

// A databank's rows changed in the attributes given, the others kept; its
// object row stamped.
TEST_F(DatabanksTest, ChangedAttributesOfEveryRow) {
  ASSERT_EQ(BegWork(), 0);
  Databank(900, "DB900");
  Databank(902, "DB902");
  const CatalogValue second[] = {{DATABANKS_DATABANK_ID, 0, 900, nullptr},
                                 {DATABANKS_SEQUENCE_NO, 0, 2, nullptr},
                                 {DATABANKS_LOGICAL_ID, 0, 900, nullptr},
                                 {DATABANKS_DATABANK_NAME, 1, 0, "DB900"},
                                 {DATABANKS_OFFLINE_FLAG, 1, 0, "Y"}};
  ASSERT_EQ(InsertValues(15, second), 0);
  auto upd = [&](int32_t id, int32_t option, int32_t flag, char type, int32_t offline) {
    int32_t pb[2] = {0, usr_};
    DDUpdDatabank(base_, pb, id, option, flag, type, offline);
    return pb[0];
  };
  // option, flag, type, offline of a row as stored.
  auto stored = [&](int32_t id, int32_t sequence) {
    const CatalogValue key[] = {{DATABANKS_DATABANK_ID, 0, id, nullptr},
                                {DATABANKS_SEQUENCE_NO, 0, sequence, nullptr},
                                {DATABANKS_LOGICAL_ID, 0, id, nullptr}};
    std::vector<uint8_t> row;
    if (ReadRow(15, key, &row) != 0) return std::string("none");
    return Column(row, DATABANKS_TRANS_OPTION, 20) + "," + Column(row, DATABANKS_CHAR_557, 3) +
           "," + Column(row, DATABANKS_DATABANK_TYPE, 2) + "," +
           Column(row, DATABANKS_OFFLINE_FLAG, 2);
  };
  auto stamp = [&](int32_t id) {
    const CatalogValue key[] = {{OBJECTS_OBJECT_ID, 0, id, nullptr}};
    std::vector<uint8_t> row;
    EXPECT_EQ(ReadRow(11, key, &row), 0);
    return Column(row, OBJECTS_CHANGE_TIME, 26);
  };
  const std::string before = stored(900, 1), other = stored(902, 1);
  EXPECT_EQ(stamp(900), "<null>");
  EXPECT_EQ(upd(900, 2, 1, 'T', -1), 0);
  EXPECT_EQ(before, "LOG,NO,L,N");
  EXPECT_EQ(stored(900, 1), "TRANS,YES,T,N");
  EXPECT_EQ(stored(900, 2), "TRANS,YES,T,Y");
  const std::string stamped = stamp(900);
  EXPECT_EQ(stamped.size(), 16u) << stamped;
  EXPECT_EQ(upd(900, 0, -1, 0, 0), 0);
  EXPECT_EQ(stored(900, 2), "TRANS,YES,T,N");
  EXPECT_EQ(upd(900, 3, 0, 'W', -1), 0);
  EXPECT_EQ(stored(900, 2), "NULL,NO,W,N");
  EXPECT_EQ(stored(902, 1), other) << "another databank untouched";
  EXPECT_EQ(stamp(902), "<null>");
  EXPECT_EQ(upd(999, 1, 1, 'N', 1), 1);
  for (auto [option, flag, type, offline] :
       {std::tuple<int32_t, int32_t, char, int32_t>{4, -1, 0, -1}, {-1, -1, 0, -1},
        {0, 2, 0, -1}, {0, -1, 'X', -1}, {0, -1, 0, 2}})
    EXPECT_EQ(upd(900, option, flag, type, offline), DD_KIND_OUTSIDE);
  EXPECT_EQ(stored(900, 2), "NULL,NO,W,N");
  ASSERT_EQ(EndWork(1), 0);
}

}  // namespace
