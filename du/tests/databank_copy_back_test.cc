// Copy-back of a databank over the recording stand-in: the bounds built
// from the time texts, the scan chosen, the order of the calls and the
// clean-up after a failure.
#include "du/databank_copy_back.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "du/tests/utility_recorder.h"

namespace {

using namespace utility_test;

class DatabankCopyBackTest : public UtilityTest {
 protected:
  DatabankCopyBackTest() {
    std::memcpy(&W(usr_ + USR_SIMULATION_TIME), "2030010203040506", 16);
    W(usr_ + USR_SIMULATION_MODE) = 1;
    rec_.files = {FileRow(rec_.databanks[4], 15, "SALES_S"),
                  FileRow(rec_.databanks[4], 16, "SALES_X", 1)};
  }
  int32_t Op6(const std::string& name, const std::string& file, const std::string& start,
              const std::string& end) {
    int32_t pb[2] = {0, usr_};
    DSBkpOp6(base_, pb, name.data(), static_cast<int32_t>(name.size()), file.data(),
             file.empty() ? -1 : static_cast<int32_t>(file.size()), start.data(),
             static_cast<int32_t>(start.size()), end.data(), static_cast<int32_t>(end.size()));
    return pb[0];
  }
  std::string Bounds(const char* scan) { return Calls(scan).at(0).text; }
};

TEST_F(DatabankCopyBackTest, WithoutTimesTheWholeRangeIsScanned) {
  ASSERT_EQ(Op6("SALES", "", "", ""), 0);
  const int32_t u = usr_;
  const std::vector<std::string> names = {
      "DDCurDatabank",     "DSOpenDbReq",       "DSChkTabUtil",      "DSTransEndReq",
      "DSCloseDbReq",      "DSOpenDbFile",      "DSGetDbRootNums",   "DSTabScan1",
      "DSGetDbInfo",       "DDCurDatabankFile", "DSOpenDbFile",      "DSCopyDbReq",
      "DDCurDatabankFile", "DDCurDatabankFile", "DSCloseDbReq"};
  EXPECT_EQ(Names(), names);
  // The databank held for its utility record and given back before the
  // open that claims it alone.
  EXPECT_EQ(Calls("DSOpenDbReq")[0].words[0], 3);
  EXPECT_EQ(Calls("DSOpenDbReq")[0].words[2], 5);
  EXPECT_EQ(Calls("DSCloseDbReq")[0].words, (std::vector<int32_t>{0, u, 5, -1, 0}));
  EXPECT_EQ(Bounds("DSTabScan1"), "0000000000000000-9999999999999999");
  EXPECT_EQ(Calls("DSTabScan1")[0].words, (std::vector<int32_t>{0, u, 5, -1, 0}));
  // The utility record of the databank itself (logical id -1 names none).
  EXPECT_EQ(Calls("DSChkTabUtil")[0].words, (std::vector<int32_t>{3, u, 5}));
  // The databank opened by its row: number -1 without a time, its option.
  EXPECT_EQ(Calls("DSOpenDbFile")[0].words, (std::vector<int32_t>{2, u, 5, -1, 3, 0}));
  EXPECT_EQ(Calls("DSOpenDbFile")[0].text, Padded("SALES") + "|" + Padded("SALES_S") + "|" +
                                               Padded("SALES.hbd", 256));
  // Only the file row whose first flag is 0 is copied.
  EXPECT_EQ(Calls("DSOpenDbFile")[1].words, (std::vector<int32_t>{9, u, 5, 15, 5, 1200}));
  EXPECT_EQ(Calls("DSCopyDbReq")[0].words, (std::vector<int32_t>{0, u, 5, 15, 501, 15}));
  EXPECT_EQ(Calls("DSCloseDbReq")[1].words, (std::vector<int32_t>{1, u, 5, -1, 0}));
  EXPECT_TRUE(Calls("DDUpdByTable").empty());
}

TEST_F(DatabankCopyBackTest, ATimeRunsTheRangeScanAndUpdatesTheRowsLast) {
  ASSERT_EQ(Op6("SALES", "", "2024-05-06 07:08:09.12", "2024-05-07 10:11:12.3"), 0);
  EXPECT_TRUE(Calls("DSTabScan1").empty());
  ASSERT_EQ(Calls("DSTabScan2").size(), 1u);
  EXPECT_EQ(Bounds("DSTabScan2"), "2024050607080912-2024050710111239");
  EXPECT_EQ(Calls("DSTabScan2")[0].words[0], 21);  // the end text's length
  EXPECT_EQ(rec_.calls.back(), (Recorded{"DDUpdByTable", {5}, ""}));
  // With a time the databank is opened under its number.
  EXPECT_EQ(Calls("DSOpenDbFile")[0].words[3], 15);

  // One digit of fraction: "0" in the start bound, "9" in the end bound;
  // only the end given.
  rec_.calls.clear();
  ASSERT_EQ(Op6("SALES", "", "2024-05-06 07:08:09.1", ""), 0);
  EXPECT_EQ(Bounds("DSTabScan2"), "2024050607080910-9999999999999999");
  rec_.calls.clear();
  ASSERT_EQ(Op6("SALES", "", "", "2024-05-06 07:08:09.1"), 0);
  EXPECT_EQ(Bounds("DSTabScan2"), "0000000000000000-2024050607080919");
  EXPECT_EQ(rec_.calls.back().name, "DDUpdByTable");
}

// A time text is read only within its length; missing positions take the
// bound's pad, the characters between the fields are not looked at.
// A backup file name of length 0 is no backup file, as -1 is: with a time
// the databank opens under its number and the range scan runs.
TEST_F(DatabankCopyBackTest, AnEmptyBackupFileNameIsNone) {
  for (int32_t length : {-1, 0}) {
    SCOPED_TRACE(length);
    rec_.calls.clear();
    const std::string start = "2024-05-06 07:08:09.12";
    int32_t pb[2] = {0, usr_};
    DSBkpOp6(base_, pb, "SALES", 5, "", length, start.data(),
             static_cast<int32_t>(start.size()), "", 0);
    EXPECT_EQ(pb[0], 0);
    EXPECT_EQ(Calls("DSOpenDbFile").at(0).words[3], 15);
    EXPECT_EQ(Calls("DSTabScan2").size(), 1u);
    EXPECT_EQ(rec_.calls.back().name, "DDUpdByTable");
  }
}

TEST_F(DatabankCopyBackTest, TimeBoundsByPosition) {
  struct Case {
    std::string text;
    char pad;
    std::string bound;
  };
  const std::vector<Case> cases = {
      {"2024-05-06 07:08:09.12", '0', "2024050607080912"},
      {"2024x05x06x07x08x09x12345", '9', "2024050607080912"},
      {"2024-05-06", '0', "2024050600000000"},
      {"2024-05-06", '9', "2024050699999999"},
      {"2024-0", '9', "2024099999999999"},
      {"", '0', "0000000000000000"},
  };
  for (const Case& c : cases) {
    // The text lies in a longer buffer: nothing past its length is read.
    const std::string buffer = c.text + "77777777777777777777777";
    char out[16];
    DUTimeBound(buffer.data(), static_cast<int32_t>(c.text.size()), c.pad, out);
    EXPECT_EQ(std::string(out, 16), c.bound) << c.text;
  }
  char out[16];
  DUTimeBound(nullptr, 10, '9', out);
  EXPECT_EQ(std::string(out, 16), std::string(16, '9'));
}

TEST_F(DatabankCopyBackTest, ABackupFileWithATimeIsRefusedBeforeAnythingOpens) {
  EXPECT_EQ(Op6("SALES", "sales.inc", "2024-05-06", ""), BKP_TIME_WITH_FILE);
  EXPECT_EQ(Op6("SALES", "sales.inc", "", "2024-05-06"), BKP_TIME_WITH_FILE);
  EXPECT_TRUE(Calls("DSOpenDbFile").empty());
  EXPECT_TRUE(Calls("DSOpenDbReq").empty());
  EXPECT_TRUE(Calls("DSChkTabUtil").empty());
}

TEST_F(DatabankCopyBackTest, FromABackupFile) {
  ASSERT_EQ(Op6("SALES", "sales.inc", "", ""), 0);
  const int32_t u = usr_;
  const auto files = Calls("DSOpenDbFile");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[1].words, (std::vector<int32_t>{2, u, -1, -1, 0, 0}));
  EXPECT_EQ(files[1].text, Padded("incrementalbackup") + "|" + Padded("") + "|" +
                               Padded("sales.inc", 256));
  // Scan kind 1 with the handle of the file's open.
  EXPECT_EQ(Calls("DSTabScan1")[0].words, (std::vector<int32_t>{1, u, 5, -1, 501}));
  EXPECT_TRUE(Calls("DSCopyDbReq").empty());
  const auto closes = Calls("DSCloseDbReq");
  ASSERT_EQ(closes.size(), 3u);  // the first gives the utility record's hold back
  EXPECT_EQ(closes[1].words, (std::vector<int32_t>{1, u, -1, 501, 0}));
  EXPECT_EQ(closes[2].words, (std::vector<int32_t>{1, u, 5, -1, 0}));

  // The root numbers must be in order for a backup file.
  rec_.calls.clear();
  rec_.root_first = 77;
  EXPECT_EQ(Op6("SALES", "sales.inc", "", ""), BKP_ROOT_NUMBERS);
  EXPECT_EQ(Calls("DSOpenDbFile").size(), 1u);  // the databank only, closed again
  EXPECT_EQ(Calls("DSCloseDbReq").back().words, (std::vector<int32_t>{1, u, 5, -1, 0}));
  rec_.calls.clear();
  rec_.root_first = 79;
  EXPECT_EQ(Op6("SALES", "", "", ""), BKP_ROOT_NUMBERS);
}

TEST_F(DatabankCopyBackTest, TheSystemDatabankClosesItsOtherFileRowsOnly) {
  rec_.files = {FileRow(rec_.databanks[0], 11, "SYSDB_S"),
                FileRow(rec_.databanks[0], 21, "SYSDB_K"),
                FileRow(rec_.databanks[0], 30, "SYSDB_O")};
  rec_.option_number = 21;  // the known number
  ASSERT_EQ(Op6("SYSDB", "", "", ""), 0);
  const int32_t u = usr_;
  EXPECT_EQ(Calls("DSSetDbOpt")[0].words, (std::vector<int32_t>{-1, u, 1, 0, -1}));
  EXPECT_EQ(Calls("DSTransEndReq")[0].words[0], 1);  // rolled back
  EXPECT_TRUE(Calls("DSChkTabUtil").empty());
  // Not opened or closed by the file open; the row neither 11 nor 21 closed.
  ASSERT_EQ(Calls("DSCloseDbReq").size(), 1u);
  EXPECT_EQ(Calls("DSCloseDbReq")[0].words, (std::vector<int32_t>{3, u, 1, 30, 0}));
  for (const auto& f : Calls("DSOpenDbFile")) EXPECT_EQ(f.words[0], 9);
  const auto cursors = Calls("DSNewCursor");
  ASSERT_EQ(cursors.size(), 2u);
  EXPECT_EQ(cursors[0].words[0], 1);
  EXPECT_EQ(cursors[1].words[0], 3);
  // The scan carries the known number.
  EXPECT_EQ(Calls("DSTabScan1")[0].words[3], 21);
}

TEST_F(DatabankCopyBackTest, RefusalsAndAFailedScan) {
  EXPECT_EQ(Op6("NONE", "", "", ""), 1);
  rec_.privileges.clear();
  EXPECT_EQ(Op6("PARTS", "", "", ""), 2);
  rec_.privileges = {OFF_PRIVILEGE_BACKUP};

  // A failing scan: the databank closed again, a transaction begun.
  rec_.calls.clear();
  rec_.answers["DSTabScan1"] = {-18008};
  EXPECT_EQ(Op6("SALES", "", "", ""), -18008);
  EXPECT_EQ(rec_.calls.back(), (Recorded{"DSCloseDbReq", {1, usr_, 5, -1, 0}, ""}));
  EXPECT_EQ(W(Tp() + TP_TRANSACTION_STATE), 1);

  // A refused utility check rolls back and opens nothing.
  rec_.calls.clear();
  rec_.answers["DSChkTabUtil"] = {-16172};
  EXPECT_EQ(Op6("SALES", "", "", ""), -16172);
  EXPECT_EQ(Names(), (std::vector<std::string>{"DDCurDatabank", "DSOpenDbReq", "DSChkTabUtil",
                                               "DSTransEndReq", "DSCloseDbReq"}));
  EXPECT_EQ(Calls("DSTransEndReq")[0].words[0], 1) << "rolled back";

  // A databank that cannot be held opens nothing further.
  rec_.calls.clear();
  rec_.answers["DSChkTabUtil"] = {};
  rec_.answers["DSOpenDbReq"] = {-16172};
  EXPECT_EQ(Op6("SALES", "", "", ""), -16172);
  EXPECT_EQ(Names(), (std::vector<std::string>{"DDCurDatabank", "DSOpenDbReq", "DSTransEndReq"}));
  rec_.answers["DSOpenDbReq"] = {};

  W(usr_ + USR_DDUCOM) = 0;
  EXPECT_EQ(Op6("SALES", "", "", ""), OFF_NO_DICTIONARY);
}

TEST_F(DatabankCopyBackTest, NamesAreCutToTheirFields) {
  rec_.databanks.push_back(Databank(9, 19, std::string(128, 'N')));
  const std::string name(300, 'N');
  ASSERT_EQ(Op6(name, std::string(400, 'f'), "", ""), 0);
  EXPECT_EQ(Calls("DDCurDatabank")[0].text, std::string(128, 'N'));
  EXPECT_EQ(Calls("DSGetDbRootNums")[0].text, std::string(128, 'N'));
  EXPECT_EQ(Calls("DSOpenDbFile")[1].text.substr(258), std::string(256, 'f'));
}

}  // namespace
