// A databank's rows as its files: the databank cursor's number, second
// name and creator; the file cursor by second name and by databank name,
// started again on every opening; a file row's flag and second name
// changed with the object's change time.
#include <string>
#include <vector>

#include "dict/dictionary_cursors.h"
#include "dict/tests/lookup_fixture.h"

namespace {

class DatabankFilesTest : public LookupTest {
 protected:
  // Databank `id` with rows of numbers 1..`rows`, the second name of row
  // n "<name>_<n>", its object row in schema `creator`.
  void Databank(int32_t id, const std::string& name, int32_t rows, const std::string& creator) {
    const std::string second = name + "_1";
    int32_t pb[2] = {0, usr_};
    DDInsDatabank(base_, pb, id, id, name.data(), static_cast<int32_t>(name.size()), second.data(),
                  static_cast<int32_t>(second.size()), "f1.dbf", 6, 2, true);
    ASSERT_EQ(pb[0], 0);
    for (int32_t n = 2; n <= rows; ++n) {
      const std::string s = name + "_" + std::to_string(n), file = "f" + std::to_string(n);
      const CatalogValue row[] = {{DATABANKS_DATABANK_ID, 0, id, nullptr},
                                  {DATABANKS_SEQUENCE_NO, 0, n, nullptr},
                                  {DATABANKS_LOGICAL_ID, 0, id, nullptr},
                                  {DATABANKS_DATABANK_NAME, 1, 0, name.c_str()},
                                  {DATABANKS_DATABANK_OWNER, 1, 0, s.c_str()},
                                  {DATABANKS_CHAR_557, 1, 0, "NO "},
                                  {DATABANKS_SECOND_FLAG, 1, 0, "Y"},
                                  {DATABANKS_TRANS_OPTION, 1, 0, "LOG"}};
      ASSERT_EQ(InsertValues(15, row), 0);
    }
    ASSERT_EQ(InsObject(id, 1, creator, name), 0);
  }
  // The second names a file walk opened in `mode` delivers.
  std::vector<std::string> Files(int32_t mode, const std::string& name) {
    std::vector<std::string> seen;
    DDDatabankFileRow r{};
    int32_t pb[2] = {mode, usr_};
    for (DDCurDatabankFile(base_, pb, name.data(), static_cast<int32_t>(name.size()), &r);
         pb[0] == 0 && seen.size() < 10; DDCurDatabankFile(base_, pb, nullptr, 0, &r)) {
      seen.push_back(std::string(r.second_name, r.second_name_length) + ":" +
                     std::to_string(r.number) + (r.first_flag ? "Y" : "N") +
                     (r.second_flag ? "Y" : "N"));
      pb[0] = 0;
    }
    EXPECT_EQ(pb[0], 1);
    return seen;
  }
};

TEST_F(DatabankFilesTest, TheDatabankRowCarriesNumberSecondNameAndCreator) {
  ASSERT_EQ(BegWork(), 0);
  Databank(940, "DBA", 2, "EVE");
  std::vector<std::string> seen;
  DDDatabankRow r{};
  int32_t pb[2] = {1, usr_};
  for (DDCurDatabank(base_, pb, 0, "DBA", 3, &r); pb[0] == 0;
       DDCurDatabank(base_, pb, 0, nullptr, 0, &r)) {
    EXPECT_EQ(r.id, 940);
    EXPECT_EQ(std::string(r.name, r.name_length), "DBA");
    EXPECT_EQ(std::string(r.creator, r.creator_length), "EVE");
    seen.push_back(std::string(r.second_name, r.second_name_length) + ":" +
                   std::to_string(r.number) + ":" + std::to_string(r.option));
    pb[0] = 0;
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"DBA_1:1:2", "DBA_2:2:1"}));
  ASSERT_EQ(EndWork(1), 0);
}

TEST_F(DatabankFilesTest, FileRowsBySecondNameOrByDatabank) {
  ASSERT_EQ(BegWork(), 0);
  Databank(940, "DBA", 3, "EVE");
  Databank(941, "DBB", 1, "EVE");
  EXPECT_EQ(Files(3, "DBA"), (std::vector<std::string>{"DBA_1:1YN", "DBA_2:2NY", "DBA_3:3NY"}));
  EXPECT_EQ(Files(1, "DBA_2"), (std::vector<std::string>{"DBA_2:2NY"}));
  EXPECT_EQ(Files(3, "DBB"), (std::vector<std::string>{"DBB_1:1YN"}));
  EXPECT_TRUE(Files(1, "NONE").empty());
  // Reopened in the middle of a walk: from the first row again.
  DDDatabankFileRow r{};
  int32_t pb[2] = {3, usr_};
  DDCurDatabankFile(base_, pb, "DBA", 3, &r);
  ASSERT_EQ(pb[0], 0);
  pb[0] = 0;
  DDCurDatabankFile(base_, pb, nullptr, 0, &r);
  ASSERT_EQ(r.number, 2);
  EXPECT_EQ(Files(3, "DBA").size(), 3u);
  pb[0] = 2;
  DDCurDatabankFile(base_, pb, "DBA", 3, &r);
  EXPECT_EQ(pb[0], DD_BAD_VALUE);
  pb[0] = 1;
  DDCurDatabankFile(base_, pb, "", 0, &r);
  EXPECT_EQ(pb[0], DD_BAD_VALUE);
  ASSERT_EQ(EndWork(1), 0);
}

TEST_F(DatabankFilesTest, AFileRowsFlagAndSecondNameChange) {
  ASSERT_EQ(BegWork(), 0);
  Databank(940, "DBA", 2, "EVE");
  auto update = [&](int32_t mode, int32_t number, const std::string& second, const char* stamp) {
    int32_t pb[2] = {mode, usr_};
    DDUpdDatabankFile(base_, pb, 940, number, second.data(), static_cast<int32_t>(second.size()),
                      stamp);
    return pb[0];
  };
  // "YES" brings the file online (its second flag cleared), "NO " takes
  // it offline (set); the first flag stays as the row was made.
  EXPECT_EQ(update(3, 2, "", "2026121105300000"), 0);
  EXPECT_EQ(Files(3, "DBA"), (std::vector<std::string>{"DBA_1:1YN", "DBA_2:2NN"}));
  std::vector<uint8_t> row;
  const CatalogValue object[] = {{OBJECTS_OBJECT_ID, 0, 940, nullptr}};
  ASSERT_EQ(ReadRow(11, object, &row), 0);
  EXPECT_EQ(Column(row, OBJECTS_CHANGE_TIME, 26), "2026121105300000");
  EXPECT_EQ(update(4, 1, "RENAMED", nullptr), 0);
  EXPECT_EQ(Files(3, "DBA"), (std::vector<std::string>{"RENAMED:1YY", "DBA_2:2NN"}));
  ASSERT_EQ(ReadRow(11, object, &row), 0);
  EXPECT_NE(Column(row, OBJECTS_CHANGE_TIME, 26), "2026121105300000") << "the clock's time";
  EXPECT_EQ(Column(row, OBJECTS_CHANGE_TIME, 26).size(), 16u);
  EXPECT_EQ(update(3, 9, "", nullptr), 1);
  EXPECT_EQ(update(5, 1, "", nullptr), DD_BAD_VALUE);
  EXPECT_EQ(update(3, 1, std::string(129, 'N'), nullptr), DD_BAD_VALUE);
  ASSERT_EQ(EndWork(1), 0);
}

}  // namespace
