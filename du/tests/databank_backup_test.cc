// Backup mode, backups and the operations over a chain of utility entries,
// over the recording stand-in of the dictionary, the kernel core and the
// request interface; transactions and the exclusive claims are record
// access's own (over the kernel model), definition records reach a
// recording DSOpenTable.
#include "du/databank_backup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "du/definition_services.h"
#include "du/tables.h"
#include "du/tests/utility_recorder.h"
#include "du/transactions.h"

namespace {

using namespace utility_test;

// The definition records written: {kind, description words}.
std::vector<std::vector<int32_t>>* g_definitions = nullptr;

class DatabankBackupTest : public UtilityTest {
 protected:
  DatabankBackupTest() {
    g_definitions = &definitions_;
    definition_services_.open_table = [](int32_t*, int32_t, int32_t* record,
                                         const int32_t* description) {
      const int32_t kind = record[DUREC_STATUS];
      std::vector<int32_t> d = {kind};
      d.insert(d.end(), description, description + (kind == 25 ? 2 : 4));
      g_definitions->push_back(d);
      record[DUREC_STATUS] = 0;
      return 0;
    };
    previous_definitions_ = DUInstallDefinitionServices(&definition_services_);
    for (int32_t id : {1, 5, 7}) {
      int32_t dcb = 0;
      DSGetMem(base_, &dcb, DCB_BYTES);
      W(dcb + DCB_LID) = id;
      rec_.dcbs[id] = dcb;
    }
    std::memcpy(&W(usr_ + USR_SIMULATION_TIME), kNow, 16);
    W(usr_ + USR_SIMULATION_MODE) = 1;
  }
  ~DatabankBackupTest() override {
    DUInstallDefinitionServices(previous_definitions_);
    g_definitions = nullptr;
  }

  static constexpr char kNow[] = "2030010203040506";

  int32_t Scope() { return DSGetTransScope(base_, usr_); }
  void SetScope(int32_t scope) {
    int32_t status = 0;
    DSSetTransScope(base_, &status, usr_, scope);
  }
  int32_t Op1() {
    int32_t pb[2] = {0, usr_};
    DSBkpOp1(base_, pb);
    return pb[0];
  }
  int32_t Op3(int32_t variant) {
    int32_t pb[2] = {variant, usr_};
    DSBkpOp3(base_, pb);
    return pb[0];
  }
  int32_t Op4(const std::string& name, const std::string& file) {
    int32_t pb[2] = {0, usr_};
    DSBkpOp4(base_, pb, name.data(), static_cast<int32_t>(name.size()), file.data(),
             static_cast<int32_t>(file.size()));
    return pb[0];
  }
  int32_t Create(const std::string& name, const std::string& file,
                 const std::string& incremental) {
    int32_t pb[2] = {0, usr_};
    DSBkpCreate(base_, pb, name.data(), static_cast<int32_t>(name.size()), file.data(),
                static_cast<int32_t>(file.size()), incremental.data(),
                static_cast<int32_t>(incremental.size()));
    return pb[0];
  }
  int32_t Apply(int32_t mode) {
    int32_t pb[2] = {mode, usr_};
    DSBkpApplyMode(base_, pb, kNow);
    return pb[0];
  }
  // A BFC pushed on the user's set as DSBkpOp4 leaves it.
  void PushBfc(int32_t id, int32_t number) {
    int32_t e = 0;
    DSGetMem(base_, &e, BFC_BYTES);
    W(e + BFC_ID) = id;
    W(e + BFC_NUMBER) = number;
    W(e + BFC_CLOSE) = BFC_FIRST_CLOSE;
    W(e + BFC_NEXT) = W(usr_ + USR_BACKUP_BFC);
    W(usr_ + USR_BACKUP_BFC) = e;
  }
  int32_t Claim(int32_t id) { return W(rec_.dcbs[id] + DCB_EXCLUSIVE_TABLES); }
  // A DBUENT on the chain as the collecting operations leave it.
  void AddEntry(const DUDatabankRow& row) {
    int32_t e = 0;
    DSGetMem(base_, &e, DBU_BYTES);
    W(e + DBU_ID) = row.id;
    W(e + DBU_NUMBER) = row.number;
    W(e + DBU_SECOND_LENGTH) = row.second_name_length;
    std::memcpy(&W(e + DBU_SECOND_NAME), row.second_name, 128);
    W(e + DBU_NAME_LENGTH) = row.name_length;
    std::memcpy(&W(e + DBU_NAME), row.name, 128);
    W(e + DBU_NEXT) = W(ducom_ + DDUCOM_DBU_CHAIN);
    W(ducom_ + DDUCOM_DBU_CHAIN) = e;
  }
  // "name:word0" of every call.
  std::vector<std::string> Trace() {
    std::vector<std::string> out;
    for (const auto& c : rec_.calls)
      out.push_back(c.name + ":" + (c.words.empty() ? "" : std::to_string(c.words[0])));
    return out;
  }

  DUDefinitionServices definition_services_{};
  const DUDefinitionServices* previous_definitions_ = nullptr;
  std::vector<std::vector<int32_t>> definitions_;
};

TEST_F(DatabankBackupTest, BackupModeStartsOnlyOutsideScopesOneAndFour) {
  ASSERT_EQ(Begin(1), 0);
  SetScope(1);
  EXPECT_EQ(Op1(), BKP_SCOPE_REFUSED);
  SetScope(BKP_SCOPE);
  EXPECT_EQ(Op1(), OFF_TRANSACTION_OPEN);
  ASSERT_EQ(End(END_ROLLBACK), 0);

  ASSERT_EQ(Scope(), 0);
  EXPECT_EQ(Op1(), 0);
  EXPECT_EQ(Scope(), BKP_SCOPE);
  EXPECT_TRUE(rec_.calls.empty());
  ASSERT_EQ(End(END_ROLLBACK), 0);

  // Scope 2: the open transaction is ended first.
  ASSERT_EQ(Begin(1), 0);
  SetScope(2);
  EXPECT_EQ(Op1(), OFF_TRANSACTION_OPEN);  // the stand-in's end leaves it open
  EXPECT_EQ(Names(), std::vector<std::string>{"DSTransEndReq"});
}

TEST_F(DatabankBackupTest, OutsideBackupModeTheSetIsRefused) {
  EXPECT_EQ(Op3(0), BKP_NOT_IN_BACKUP);
  EXPECT_EQ(Op4("SALES", "sales.bak"), BKP_NOT_IN_BACKUP);
  ASSERT_EQ(Begin(1), 0);
  EXPECT_EQ(Op3(1), BKP_NOT_IN_BACKUP);
  EXPECT_TRUE(rec_.calls.empty());
}

TEST_F(DatabankBackupTest, AddingADatabankClaimsItAndOpensItsBackupFile) {
  ASSERT_EQ(Op1(), 0);
  ASSERT_EQ(Op4("SALES", "sales.bak"), 0);
  EXPECT_EQ(Scope(), BKP_SCOPE);
  EXPECT_EQ(Claim(5), -1);
  const int32_t e = W(usr_ + USR_BACKUP_BFC);
  ASSERT_NE(e, 0);
  EXPECT_EQ(W(e + BFC_ID), 5);
  EXPECT_EQ(W(e + BFC_NUMBER), 15);
  EXPECT_EQ(W(e + BFC_CLOSE), BFC_FIRST_CLOSE);
  const int32_t u = usr_;
  const std::vector<Recorded> expected = {
      {"DDCreUcom", {0}, ""},
      {"DDCurDatabank", {1, 0}, "SALES"},
      {"DDDelUcom", {0}, ""},
      {"DSOpenDbReq", {3, u, 5, 15, -1}, ""},
      {"DSGetDbInfo", {0, u, 5, -1}, ""},
      // min(1000 + 640, 1200)
      {"DSOpenDbFile", {3, u, 5, BFC_FIRST_CLOSE, 8, 1200},
       Padded("SALES") + "|" + Padded("") + "|" + Padded("sales.bak", 256)},
  };
  EXPECT_EQ(rec_.calls, expected);

  // A claim held by another: the error and the databank in the result
  // vector, the entry freed, the databank closed again.
  rec_.calls.clear();
  W(rec_.dcbs[7] + DCB_EXCLUSIVE_TABLES) = -1;
  EXPECT_EQ(Op4("PARTS", "parts.bak"), OFF_LOCKED);
  EXPECT_EQ(W(usr_ + USR_RVEC_RCODE), OFF_LOCKED);
  EXPECT_EQ(W(usr_ + USR_RVEC_LID), 7);
  EXPECT_EQ(W(usr_ + USR_RVEC_SEQNO), -1);
  EXPECT_EQ(W(usr_ + USR_RVEC_BITVEC), BKP_RVEC_DATABANK);
  EXPECT_EQ(W(usr_ + USR_BACKUP_BFC), e);
  EXPECT_EQ(Calls("DSCloseDbReq"), (std::vector<Recorded>{{"DSCloseDbReq", {0, u, 7, -1, 0}, ""}}));
  EXPECT_EQ(Scope(), BKP_SCOPE);

  // The backup file does not open: the claim is given back.
  W(rec_.dcbs[7] + DCB_EXCLUSIVE_TABLES) = 0;
  rec_.answers["DSOpenDbFile"] = {-16005};
  EXPECT_EQ(Op4("PARTS", "parts.bak"), -16005);
  EXPECT_EQ(Claim(7), 0);
  EXPECT_EQ(W(usr_ + USR_BACKUP_BFC), e);
  // No such databank.
  EXPECT_EQ(Op4("NONE", "x"), 1);
}

// Abandoning (variant 1) and ending an empty set: code 87 ends the
// transaction, every claim is given back, nothing is written.
TEST_F(DatabankBackupTest, AbandonGivesEveryClaimUpAndWritesNothing) {
  for (int32_t variant : {1, 0}) {
    rec_.calls.clear();
    ASSERT_EQ(Op1(), 0);
    const int32_t tp = Tp();
    if (variant == 1) {
      ASSERT_EQ(Op4("SALES", "sales.bak"), 0);
      ASSERT_EQ(Op4("PARTS", "parts.bak"), 0);
      ASSERT_EQ(Claim(5), -1);
      ASSERT_EQ(Claim(7), -1);
    }
    const size_t ended = kernel_.ended.size();
    EXPECT_EQ(Op3(variant), 0) << variant;
    EXPECT_EQ(W(tp + TP_TRANSACTION_STATE), 0);
    EXPECT_EQ(kernel_.ended.size(), ended + 1);
    EXPECT_EQ(kernel_.ended.back()[0], 1);  // rolled back
    EXPECT_EQ(Claim(5), 0);
    EXPECT_EQ(Claim(7), 0);
    EXPECT_EQ(W(usr_ + USR_BACKUP_BFC), 0);
    EXPECT_TRUE(definitions_.empty());
    EXPECT_TRUE(Calls("DSSetDbRoots").empty());
    EXPECT_TRUE(Calls("DDInsDbfile DL").empty());
    EXPECT_TRUE(Calls("DSBkpEndRecord").empty());
    EXPECT_EQ(Names().back(), "DDDelUcom");
  }
  const int32_t u = usr_;
  // Variant 0 over the empty set: nothing given up but the work block.
  EXPECT_EQ(Names(), (std::vector<std::string>{"DDCreUcom", "DDDelUcom"}));
  (void)u;
}

// Each databank of an abandoned set is looked up and its claim released
// before the close that names its backup copy: in the kernel core that
// close drops the block with its last reference, and the reference's own
// close then finds no databank, which counts as given back.
TEST_F(DatabankBackupTest, AGiveUpReleasesTheClaimBeforeTheCloses) {
  ASSERT_EQ(Op1(), 0);
  ASSERT_EQ(Op4("SALES", "sales.bak"), 0);
  ASSERT_EQ(Claim(5), -1);
  rec_.calls.clear();
  rec_.answers["DSCloseDbReq"] = {0, BKP_DATABANK_GONE};
  W(usr_ + USR_RVEC_RCODE) = 0;
  EXPECT_EQ(Op3(1), 0);
  EXPECT_EQ(Claim(5), 0);
  EXPECT_EQ(W(usr_ + USR_RVEC_RCODE), 0) << "the user's result vector as it was";
  const int32_t u = usr_;
  const std::vector<std::string> expected = {"DDCreUcom:0", "DSOpenDbReq:5", "DSCloseDbReq:3",
                                             "DSCloseDbReq:0", "DDDelUcom:0"};
  EXPECT_EQ(Trace(), expected);
  EXPECT_EQ(Calls("DSCloseDbReq")[0].words, (std::vector<int32_t>{3, u, 5, BFC_FIRST_CLOSE, 0}));

  // A databank gone without the copy's close having succeeded stays a
  // failure.
  ASSERT_EQ(Op1(), 0);
  ASSERT_EQ(Op4("SALES", "sales.bak"), 0);
  rec_.calls.clear();
  rec_.answers["DSCloseDbReq"] = {-16150, BKP_DATABANK_GONE};
  EXPECT_EQ(Op3(1), -16150);
  EXPECT_EQ(Claim(5), 0);
  EXPECT_EQ(W(usr_ + USR_BACKUP_BFC), 0);
}

// 250 databanks beside 2 and 3: the roots go in batches of 100, 100 and
// 50 without ids 2 and 3, the count negated for variant -1; the id 2 entry
// gets its kind 26 record last.
TEST_F(DatabankBackupTest, CompletionSendsTheRootsInBatchesAndTheTransDatabankLast) {
  for (int32_t variant : {0, -1}) {
    rec_.calls.clear();
    definitions_.clear();
    ASSERT_EQ(Op1(), 0);
    std::vector<int32_t> ids;
    for (int32_t k = 0; k < 252; ++k) {
      const int32_t id = k == 40 ? 2 : k == 100 ? 3 : 1000 + k;
      PushBfc(id, 5000 + k);
      ids.insert(ids.begin(), id);  // chain order: newest first
    }
    ASSERT_EQ(Op3(variant), 0) << variant;
    EXPECT_EQ(W(usr_ + USR_BACKUP_BFC), 0);

    std::vector<int32_t> ordinary;
    for (int32_t id : ids)
      if (id != 2 && id != 3) ordinary.push_back(id);
    const std::vector<Recorded> roots = Calls("DSSetDbRoots");
    ASSERT_EQ(roots.size(), 3u);
    size_t at = 0;
    for (size_t b = 0; b < 3; ++b) {
      const int32_t n = b < 2 ? 100 : 50;
      const std::vector<int32_t>& w = roots[b].words;
      EXPECT_EQ(w[2], ordinary[at]);
      EXPECT_EQ(w[3], BFC_FIRST_CLOSE);
      EXPECT_EQ(w[4], variant == -1 ? -n : n);
      EXPECT_EQ(std::vector<int32_t>(w.begin() + 5, w.end()),
                std::vector<int32_t>(ordinary.begin() + at, ordinary.begin() + at + n));
      at += n;
    }
    // Kind 25 for every entry in chain order, then kind 26, the id 2 entry
    // last.
    ASSERT_EQ(definitions_.size(), 2 * ids.size());
    for (size_t k = 0; k < ids.size(); ++k)
      EXPECT_EQ(definitions_[k], (std::vector<int32_t>{25, ids[k], BFC_FIRST_CLOSE}));
    EXPECT_EQ(definitions_.back()[0], 26);
    EXPECT_EQ(definitions_.back()[1], 2);
    EXPECT_EQ(definitions_.back()[4], variant);
    for (size_t k = ids.size(); k + 1 < definitions_.size(); ++k)
      EXPECT_NE(definitions_[k][1], 2);
    // Id 3 is in the set: one end record with status 1 and no attach.
    if (variant == 0) {
      ASSERT_EQ(Calls("DSBkpEndRecord").size(), 1u);
      EXPECT_EQ(Calls("DSBkpEndRecord")[0].words[0], 1);
    } else {
      EXPECT_TRUE(Calls("DSBkpEndRecord").empty());
      EXPECT_EQ(Calls("DSDkResult").size(), ids.size());
    }
    EXPECT_TRUE(Calls("DSAttach").empty());
    EXPECT_EQ(Calls("DSCloseDbReq").size(), 2 * ids.size());
  }
}

TEST_F(DatabankBackupTest, CompletionWithoutTheLogDatabankRecordsAndAttachesEach) {
  ASSERT_EQ(Op1(), 0);
  ASSERT_EQ(Op4("SALES", "sales.bak"), 0);
  ASSERT_EQ(Op4("PARTS", "parts.bak"), 0);
  rec_.calls.clear();
  ASSERT_EQ(Op3(0), 0);
  EXPECT_EQ(Claim(5), 0);
  EXPECT_EQ(Claim(7), 0);
  const int32_t u = usr_;
  const std::vector<std::string> expected = {
      "DDCreUcom:0",     "DSSetDbRoots:0",  "DSBkpEndRecord:0", "DSBkpEndRecord:0",
      "DSChkTabUtil:0",  "DSAttach:2",      "DSOpenDbReq:5",    "DSCloseDbReq:1",
      "DSCloseDbReq:0",  "DSOpenDbReq:5",   "DSCloseDbReq:1",   "DSCloseDbReq:0",
      "DDDelUcom:0"};
  EXPECT_EQ(Trace(), expected);
  EXPECT_EQ(Calls("DSChkTabUtil")[0].words, (std::vector<int32_t>{0, u, 5}));  // the last
  EXPECT_EQ(Calls("DSAttach")[0].words, (std::vector<int32_t>{2, u, 7, 0, 0}));
  EXPECT_EQ(Calls("DSCloseDbReq")[0].words, (std::vector<int32_t>{1, u, 7, BFC_FIRST_CLOSE, 0}));
  EXPECT_EQ(definitions_.size(), 4u);
}

// A failure after the end records are committed ends backup mode: the set
// is given up rather than left claimed with no way to end it. Before that
// commit the user stays in backup mode and may abandon.
TEST_F(DatabankBackupTest, AFailedCompletionGivesTheSetUp) {
  ASSERT_EQ(Op1(), 0);
  ASSERT_EQ(Op4("SALES", "sales.bak"), 0);
  rec_.answers["DSSetDbRoots"] = {-16150};
  EXPECT_EQ(Op3(0), -16150);
  EXPECT_EQ(Claim(5), 0);
  EXPECT_EQ(W(usr_ + USR_BACKUP_BFC), 0);
  EXPECT_EQ(Scope(), 0);
  EXPECT_EQ(Names().back(), "DDDelUcom");

  ASSERT_EQ(Op1(), 0);
  ASSERT_EQ(Op4("SALES", "sales.bak"), 0);
  definition_services_.open_table = [](int32_t*, int32_t, int32_t* record, const int32_t*) {
    record[DUREC_STATUS] = -16150;
    return 0;
  };
  EXPECT_EQ(Op3(0), -16150);
  EXPECT_EQ(Claim(5), -1);
  EXPECT_EQ(Scope(), BKP_SCOPE);
  EXPECT_EQ(Op3(1), 0);
  EXPECT_EQ(Claim(5), 0);
}

TEST_F(DatabankBackupTest, CreateRefusesMissingEqualAndSystemFiles) {
  EXPECT_EQ(Create("SALES", "", ""), 2);
  EXPECT_EQ(Create("SALES", "same.bak", "same.bak   "), 4);
  for (const char* name : {"TRANSDB", "LOGDB", "SQLDB"}) EXPECT_EQ(Create(name, "x.bak", ""), 3);
  EXPECT_EQ(Create("NONE", "x.bak", ""), 1);
  // Each ended its dictionary work with a roll back.
  for (const auto& c : Calls("DDEndWork")) EXPECT_EQ(c.words[0], 1);
  // A file row naming the file already.
  rec_.files = {FileRow(rec_.databanks[4], 15, "SALES_S", 0, 0, "taken.bak")};
  EXPECT_EQ(Create("SALES", "taken.bak ", ""), 5);
  // An incremental backup of databank 1 onto its own number.
  rec_.files = {FileRow(rec_.databanks[0], 11, "SYSDB_S")};
  EXPECT_EQ(Create("SYSDB", "", "sys.inc"), BKP_INCREMENTAL_OF_SYSTEM);
  EXPECT_TRUE(Calls("DSBkpApplyMode").empty());
  EXPECT_TRUE(Calls("DSOpenDbFile").empty());
  EXPECT_EQ(W(ducom_ + DDUCOM_DBU_CHAIN), 0);

  ASSERT_EQ(Op1(), 0);
  EXPECT_EQ(Create("SALES", "s.bak", "s.inc"), BKP_INCREMENTAL_IN_BACKUP);
  EXPECT_EQ(Create("SALES", "s.bak", ""), 0);  // added to the backup set
  EXPECT_EQ(Calls("DSOpenDbReq").back().words[0], 1);
  EXPECT_EQ(Claim(5), -1);
}

TEST_F(DatabankBackupTest, CreateWritesTheRowsOfBothFiles) {
  rec_.files = {FileRow(rec_.databanks[4], 15, "SALES_S"),
                FileRow(rec_.databanks[4], 19, "SALES_OLD", 1, 0)};
  ASSERT_EQ(Create("SALES", "sales.bak", "sales.inc"), 0);
  const int32_t u = usr_;
  // Mode 1: the last row with both flags 0 has the databank's own number.
  const std::vector<std::string> expected = {
      "DDBegWork:0",        "DDCurDatabank:1",   "DDCurDatabankFile:3", "DDCurDatabankFile:0",
      "DDCurDatabankFile:0", "DSTransEndReq:0",  "DSOpenDbReq:7",       "DSSetDbOpt:0",
      "DSDisconnect:3",     "DSTransEndReq:0",   "DSOpenDbFile:3",      "DSChkTableKind:0",
      "DSCloseDbReq:1",     "DSGetDbInfo:0",     "DSOpenDbFile:3",      "DSCopyDbReq:0",
      "DSCloseDbReq:1",     "DSBkpEndRecord:0",  "DDInsDbfile DL:0",    "DDInsDbfile BU:9",
      "DDInsDbfile BC:9",   "DSTransEndReq:0",   "DSAttach:2",          "DSCloseDbReq:0",
      "DDEndWork:0"};
  EXPECT_EQ(Trace(), expected);
  const int32_t n = rec_.end_record_number;
  EXPECT_EQ(Calls("DDInsDbfile DL")[0], (Recorded{"DDInsDbfile DL", {0, n - 2}, "SALES"}));
  EXPECT_EQ(Calls("DDInsDbfile BU")[0], (Recorded{"DDInsDbfile BU", {9, n - 2}, "SALES"}));
  EXPECT_EQ(Calls("DDInsDbfile BC")[0], (Recorded{"DDInsDbfile BC", {9, n - 1}, "SALES"}));
  const auto files = Calls("DSOpenDbFile");
  EXPECT_EQ(files[0].words, (std::vector<int32_t>{3, u, -1, -1, 0, 0}));
  EXPECT_EQ(files[0].text, Padded("incrementalbackup") + "|" + Padded("") + "|" +
                               Padded("sales.inc", 256));
  EXPECT_EQ(files[1].words, (std::vector<int32_t>{3, u, -1, 15, 1, 1000}));
  EXPECT_EQ(files[1].text.substr(0, 128), Padded("backupdb"));
  // The table kind check takes the last file row's words 9 to 12.
  EXPECT_EQ(Calls("DSChkTableKind")[0].words,
            (std::vector<int32_t>{0, u, 5, 1909, 1910, 1911, 1912}));
  EXPECT_EQ(Calls("DSCopyDbReq")[0].words, (std::vector<int32_t>{0, u, 5, 15, 501, 15}));
  EXPECT_EQ(W(ducom_ + DDUCOM_DBU_CHAIN), 0);
}

TEST_F(DatabankBackupTest, AFailedCreateClosesWhatItOpenedAndRollsBack) {
  rec_.files = {FileRow(rec_.databanks[4], 15, "SALES_S")};
  rec_.answers["DSCopyDbReq"] = {-16150};
  EXPECT_EQ(Create("SALES", "sales.bak", ""), -16150);
  const std::vector<std::string> tail = {"DSCloseDbReq:0", "DSCloseDbReq:0", "DDEndWork:1"};
  const std::vector<std::string> trace = Trace();
  ASSERT_GE(trace.size(), tail.size());
  EXPECT_EQ(std::vector<std::string>(trace.end() - 3, trace.end()), tail);
  EXPECT_EQ(Calls("DSCloseDbReq")[0].words, (std::vector<int32_t>{0, usr_, 5, -1, 0}));
  EXPECT_EQ(Calls("DSCloseDbReq")[1].words, (std::vector<int32_t>{0, usr_, -1, 500, 0}));
  EXPECT_EQ(W(ducom_ + DDUCOM_DBU_CHAIN), 0);
}

// An incremental backup onto another number applied mode 2 to the
// databank; when it fails afterwards, the refresh brings that databank's
// file rows back in line before its entry is freed.
TEST_F(DatabankBackupTest, AFailedIncrementalBackupRefreshesItsDatabank) {
  rec_.files = {FileRow(rec_.databanks[4], 15, "SALES_S"),
                FileRow(rec_.databanks[4], 25, "SALES_N")};
  rec_.answers["DSChkTableKind"] = {-16150};
  EXPECT_EQ(Create("SALES", "", "sales.inc"), -16150);
  EXPECT_EQ(Calls("DSBkpApplyMode").size(), 0u);  // record access's own, not the entry
  std::vector<Recorded> after;
  bool failed = false;
  for (const auto& c : rec_.calls) {
    if (failed && c.name == "DDCurDatabankFile") after.push_back(c);
    failed = failed || c.name == "DSChkTableKind";
  }
  ASSERT_EQ(after.size(), 2u);  // the refresh's two walks
  EXPECT_EQ(after[0], (Recorded{"DDCurDatabankFile", {1}, "SALES_N"}));
  EXPECT_EQ(Calls("DDUpdDatabankFile").back(),
            (Recorded{"DDUpdDatabankFile", {3, 5, 25}, "SALES_N"}));
  EXPECT_EQ(W(ducom_ + DDUCOM_DBU_CHAIN), 0);
  EXPECT_EQ(Calls("DDEndWork").back().words[0], 1);
}

// The rows of a finished offline change (no file names): kind 0 keeps
// databank 1 open and gives it its cursor back after the refresh; kind 1
// attaches with status 1 and closes every databank.
TEST_F(DatabankBackupTest, RecordFilesByKind) {
  for (int32_t kind : {0, 1}) {
    SCOPED_TRACE(kind);
    rec_.calls.clear();
    W(ducom_ + DDUCOM_DBU_CHAIN) = 0;
    AddEntry(rec_.databanks[4]);
    AddEntry(rec_.databanks[2]);  // LOGDB: no record, no row, no close
    AddEntry(rec_.databanks[0]);
    int32_t pb[2] = {kind, usr_};
    DSBkpRecordFiles(base_, pb, kNow, nullptr, -1, nullptr, -1);
    EXPECT_EQ(pb[0], 0);
    std::vector<std::string> expected = {
        "DSBkpEndRecord:0", "DDInsDbfile DL:0", "DSBkpEndRecord:0", "DDInsDbfile DL:0",
        "DSTransEndReq:0",  kind == 1 ? "DSAttach:1" : "DSAttach:2"};
    if (kind == 1) expected.push_back("DSCloseDbReq:0");
    expected.push_back("DSCloseDbReq:0");
    // The refresh over the three entries, databanks 1 to 3 first.
    for (const char* c : {"DDCurDatabankFile:1", "DDCurDatabankFile:1", "DDCurDatabankFile:1",
                          "DSTransEndReq:0", "DDCurDatabankFile:1", "DDCurDatabankFile:1",
                          "DDCurDatabankFile:1", "DSTransEndReq:0"})
      expected.push_back(c);
    if (kind == 0) {
      expected.push_back("DSOpenDbReq:5");
      expected.push_back("DSNewCursor:3");
    }
    EXPECT_EQ(Trace(), expected);
    const auto records = Calls("DSBkpEndRecord");
    EXPECT_EQ(records.at(0).words[2], 1);
    EXPECT_EQ(records.at(1).words[2], 5);
    EXPECT_EQ(Calls("DSAttach").at(0).words, (std::vector<int32_t>{kind == 1 ? 1 : 2, usr_, 1, 0, 0}));
    EXPECT_EQ(Calls("DSCloseDbReq").back().words, (std::vector<int32_t>{0, usr_, 5, -1, 0}));
  }
  // A failure rolls back and closes the databanks (databank 1 only for
  // kind 1).
  for (int32_t kind : {0, 1}) {
    SCOPED_TRACE(kind);
    rec_.calls.clear();
    rec_.answers["DSAttach"] = {-16150};
    int32_t pb[2] = {kind, usr_};
    DSBkpRecordFiles(base_, pb, kNow, nullptr, -1, nullptr, -1);
    EXPECT_EQ(pb[0], -16150);
    std::vector<std::string> tail = {"DSAttach:2", "DSTransEndReq:1"};
    tail[0] = kind == 1 ? "DSAttach:1" : "DSAttach:2";
    if (kind == 1) tail.push_back("DSCloseDbReq:0");
    tail.push_back("DSCloseDbReq:0");
    const auto trace = Trace();
    ASSERT_GE(trace.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(trace.end() - static_cast<long>(tail.size()), trace.end()),
              tail);
  }
}

// Each mode makes the calls of its row of the switch table, over a chain of
// SALES and then SYSDB (moved to the front before the disconnects).
TEST_F(DatabankBackupTest, EachApplyModeMakesTheCallsOfItsRow) {
  const std::vector<std::vector<std::string>> expected = {
      {"DSTransEndReq:0", "DSOpenDbReq:3", "DSSetDbOpt:0", "DSOpenDbReq:3", "DSSetDbOpt:0",
       "DSDisconnect:3", "DSDisconnect:3", "DSTransEndReq:0"},
      {"DSTransEndReq:0", "DSOpenDbReq:7", "DSSetDbOpt:0", "DSOpenDbReq:5", "DSNewCursor:1",
       "DSSetDbOpt:0", "DSDisconnect:3", "DSDisconnect:3", "DSTransEndReq:0"},
      {"DSTransEndReq:0", "DSOpenDbReq:3", "DSSetDbOpt:0", "DSOpenDbReq:3", "DSSetDbOpt:0",
       "DSDisconnect:1", "DSDisconnect:1", "DSTransEndReq:0"},
      {"DSTransEndReq:0", "DSOpenDbReq:7", "DSSetDbOpt:0", "DSSetDbOpt:0", "DSDisconnect:3",
       "DSDisconnect:3", "DDUpdDatabankFile:4", "DDUpdDatabank:0", "DDUpdDatabankFile:4",
       "DDUpdDatabank:0", "DSTransEndReq:0"},
      {"DSTransEndReq:0", "DSOpenDbReq:3", "DSSetDbOpt:0", "DSOpenDbReq:3", "DSSetDbOpt:0",
       "DSDisconnect:1", "DSDisconnect:1", "DDUpdDatabankFile:4", "DDUpdDatabankFile:4",
       "DSTransEndReq:0", "DSDisconnect:2", "DSCloseDbReq:0", "DSDisconnect:2",
       "DSCloseDbReq:0"},
      {"DSTransEndReq:0", "DSDisconnect:3", "DSDisconnect:3", "DDUpdDatabankFile:4",
       "DDUpdDatabankFile:4", "DSTransEndReq:0", "DSDisconnect:2", "DSDisconnect:2"},
  };
  for (int32_t mode = 0; mode <= 5; ++mode) {
    rec_.calls.clear();
    W(sys_ + SYS_SYSDB_OFFLINE) = 0;
    W(ducom_ + DDUCOM_DBU_CHAIN) = 0;
    AddEntry(rec_.databanks[0]);
    AddEntry(rec_.databanks[4]);
    EXPECT_EQ(Apply(mode), 0) << mode;
    EXPECT_EQ(Trace(), expected[mode]) << mode;
    const int32_t head = W(ducom_ + DDUCOM_DBU_CHAIN);
    EXPECT_EQ(W(head + DBU_ID), 1) << mode;  // databanks 1 to 3 first
    const auto disconnects = Calls("DSDisconnect");
    EXPECT_EQ(disconnects[0].words[2], 1) << mode;
    EXPECT_EQ(disconnects[1].words[2], mode == 5 ? 1 : 5) << mode;
    EXPECT_EQ(W(sys_ + SYS_SYSDB_OFFLINE), mode == 3 ? 1 : 0) << mode;
  }
}

TEST_F(DatabankBackupTest, ModeThreeOnAnOfflineSystemDatabankAnswersAtOnce) {
  AddEntry(rec_.databanks[0]);
  W(sys_ + SYS_SYSDB_OFFLINE) = 1;
  EXPECT_EQ(Apply(3), OFF_SYSDB_OFFLINE);
  EXPECT_EQ(Names(), std::vector<std::string>{"DSTransEndReq"});
  EXPECT_EQ(W(sys_ + SYS_SYSDB_OFFLINE), 1);
  // A failure later undoes the first pass: the field is cleared again and
  // the other databank closed.
  rec_.calls.clear();
  W(sys_ + SYS_SYSDB_OFFLINE) = 0;
  AddEntry(rec_.databanks[4]);
  rec_.answers["DSDisconnect"] = {-16150};
  EXPECT_EQ(Apply(3), -16150);
  EXPECT_EQ(W(sys_ + SYS_SYSDB_OFFLINE), 0);
  const std::vector<std::string> tail = {"DSDisconnect:3", "DSTransEndReq:1", "DSCloseDbReq:0"};
  const auto trace = Trace();
  EXPECT_EQ(std::vector<std::string>(trace.end() - 3, trace.end()), tail);
}

// The offline mark of mode 3 goes with the disconnects: its failure rolls
// the transaction back and undoes the first pass as any failure there does.
TEST_F(DatabankBackupTest, ModeThreeRollsBackWhenTheOfflineMarkFails) {
  AddEntry(rec_.databanks[0]);
  AddEntry(rec_.databanks[4]);
  rec_.answers["DDUpdDatabank"] = {-16150};
  EXPECT_EQ(Apply(3), -16150);
  EXPECT_EQ(W(sys_ + SYS_SYSDB_OFFLINE), 0);
  const std::vector<std::string> tail = {"DDUpdDatabank:0", "DSTransEndReq:1", "DSCloseDbReq:0"};
  const auto trace = Trace();
  ASSERT_GE(trace.size(), tail.size());
  EXPECT_EQ(std::vector<std::string>(trace.end() - 3, trace.end()), tail);
  EXPECT_EQ(Calls("DSTransEndReq").back().words[0], 1);
}

// The system databank taken offline (its file row marked "NO ") and brought
// in by the refresh's second walk is no longer noted offline; when its
// routine fails it stays noted.
TEST_F(DatabankBackupTest, RefreshBringingTheSystemDatabankInClearsItsNote) {
  for (int32_t routine : {0, -16150}) {
    SCOPED_TRACE(routine);
    rec_.calls.clear();
    rec_.answers.clear();
    W(ducom_ + DDUCOM_DBU_CHAIN) = 0;
    AddEntry(rec_.databanks[0]);
    rec_.files = {FileRow(rec_.databanks[0], 11, "SYSDB_S")};
    rec_.answers["DSExecRoutine"] = {routine};
    W(sys_ + SYS_SYSDB_OFFLINE) = 1;
    int32_t pb[2] = {0, usr_};
    DSBkpRefreshFiles(base_, pb);
    EXPECT_EQ(pb[0], routine);
    EXPECT_EQ(W(sys_ + SYS_SYSDB_OFFLINE), routine == 0 ? 0 : 1);
  }
}

TEST_F(DatabankBackupTest, ModeFourRemembersAFailedOptionAndGoesOn) {
  AddEntry(rec_.databanks[4]);
  AddEntry(rec_.databanks[6]);
  rec_.answers["DSSetDbOpt"] = {-16150};
  W(usr_ + USR_RVEC_RCODE) = -16150;
  W(usr_ + USR_RVEC_LID) = 7;
  EXPECT_EQ(Apply(4), -16150);
  EXPECT_EQ(Calls("DSSetDbOpt").size(), 2u);
  EXPECT_EQ(Calls("DSDisconnect").size(), 4u);
  EXPECT_EQ(W(usr_ + USR_RVEC_LID), 7);
}

// The answer is the option's own failure, also when the request left the
// result vector as it was (an older error in it, or none).
TEST_F(DatabankBackupTest, ModeFourAnswersTheFailedOptionsOwnStatus) {
  for (int32_t older : {0, -14011}) {
    SCOPED_TRACE(older);
    W(ducom_ + DDUCOM_DBU_CHAIN) = 0;
    AddEntry(rec_.databanks[4]);
    rec_.answers["DSSetDbOpt"] = {-16150};
    W(usr_ + USR_RVEC_RCODE) = older;
    EXPECT_EQ(Apply(4), -16150);
    EXPECT_EQ(W(usr_ + USR_RVEC_RCODE), -16150);
  }
}

TEST_F(DatabankBackupTest, RefreshBringsFlaggedFilesOnlineAndRunsTheOthers) {
  AddEntry(rec_.databanks[0]);
  AddEntry(rec_.databanks[4]);
  rec_.files = {FileRow(rec_.databanks[4], 15, "SALES_S", 1),
                FileRow(rec_.databanks[0], 11, "SYSDB_S", 1)};
  W(sys_ + SYS_SYSDB_OFFLINE) = 1;
  int32_t pb[2] = {0, usr_};
  DSBkpRefreshFiles(base_, pb);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(W(sys_ + SYS_SYSDB_OFFLINE), 0);
  const std::vector<std::string> expected = {
      "DDCurDatabankFile:1", "DDUpdDatabankFile:3", "DDCurDatabankFile:1", "DSOpenDbReq:7",
      "DDUpdDatabankFile:3", "DSTransEndReq:0",     "DDCurDatabankFile:1", "DDCurDatabankFile:1",
      "DSCloseDbReq:0",      "DSTransEndReq:0"};
  EXPECT_EQ(Trace(), expected);

  // Rows no longer flagged: the routine runs with the row's names and the
  // options are set.
  rec_.calls.clear();
  rec_.files = {FileRow(rec_.databanks[4], 15, "SALES_S")};
  DSBkpRefreshFiles(base_, pb);
  EXPECT_EQ(pb[0], 0);
  const auto routine = Calls("DSExecRoutine");
  ASSERT_EQ(routine.size(), 1u);
  EXPECT_EQ(routine[0].words, (std::vector<int32_t>{0, usr_, 5, 15}));
  EXPECT_EQ(routine[0].text, Padded("SALES") + "|" + Padded("SALES_S") + "|" +
                                 Padded("SALES_S.f", 256));
}

// A failure after the first walk opened a flagged databank rolls back and
// closes that databank again.
TEST_F(DatabankBackupTest, AFailedRefreshClosesWhatItOpened) {
  AddEntry(rec_.databanks[4]);
  AddEntry(rec_.databanks[6]);
  rec_.files = {FileRow(rec_.databanks[4], 15, "SALES_S", 1),
                FileRow(rec_.databanks[6], 17, "PARTS_S")};
  rec_.answers["DSExecRoutine"] = {-16150};
  int32_t pb[2] = {0, usr_};
  DSBkpRefreshFiles(base_, pb);
  EXPECT_EQ(pb[0], -16150);
  const std::vector<std::string> tail = {"DSExecRoutine:0", "DSTransEndReq:1", "DSCloseDbReq:0"};
  const auto trace = Trace();
  ASSERT_GE(trace.size(), tail.size());
  EXPECT_EQ(std::vector<std::string>(trace.end() - 3, trace.end()), tail);
  EXPECT_EQ(Calls("DSOpenDbReq").at(0).words, (std::vector<int32_t>{7, usr_, 5, 15, -1}));
  EXPECT_EQ(Calls("DSCloseDbReq").at(0).words, (std::vector<int32_t>{0, usr_, 5, -1, 0}));
}

TEST_F(DatabankBackupTest, WithoutSystemBlockOrWorkBlock) {
  W(usr_ + USR_DDUCOM) = 0;
  EXPECT_EQ(Apply(0), OFF_NO_DICTIONARY);
  int32_t pb[2] = {0, usr_};
  DSBkpRefreshFiles(base_, pb);
  EXPECT_EQ(pb[0], OFF_NO_DICTIONARY);
  pb[0] = 0;
  DSBkpRecordFiles(base_, pb, kNow, nullptr, -1, nullptr, -1);
  EXPECT_EQ(pb[0], OFF_NO_DICTIONARY);
  W(usr_ + USR_DDUCOM) = ducom_;
  const int32_t sys = base_[sqlpool::RESERV];
  base_[sqlpool::RESERV] = 0;
  EXPECT_EQ(Apply(0), OFF_NO_SYSTEM);
  pb[0] = 0;
  DSBkpRefreshFiles(base_, pb);
  EXPECT_EQ(pb[0], OFF_NO_SYSTEM);
  base_[sqlpool::RESERV] = sys;
  EXPECT_TRUE(rec_.calls.empty());
}

// Names are cut to their 128-byte fields and file names to 256 bytes.
TEST_F(DatabankBackupTest, LongNamesAreCutToTheirFields) {
  ASSERT_EQ(Op1(), 0);
  const std::string name(300, 'N');
  const std::string file(400, 'f');
  rec_.databanks.push_back(Databank(9, 19, std::string(128, 'N')));
  rec_.dcbs[9] = rec_.dcbs[5];
  ASSERT_EQ(Op4(name, file), 0);
  EXPECT_EQ(Calls("DDCurDatabank")[0].text, std::string(128, 'N'));
  const std::string opened = Calls("DSOpenDbFile")[0].text;
  EXPECT_EQ(opened, std::string(128, 'N') + "|" + Padded("") + "|" + std::string(256, 'f'));
  const int32_t e = W(usr_ + USR_BACKUP_BFC);
  EXPECT_EQ(W(e + BFC_NAME_LENGTH), 128);
}

}  // namespace

namespace {

// An entry whose layer is not built answers -19040 naming itself; the
// operation fails with it after its clean-up, never with a success.
TEST_F(DatabankBackupTest, AnAbsentServiceFailsTheOperationNamingItself) {
  rec_.files = {FileRow(rec_.databanks[4], 15, "SALES_S")};
  DUUtilityServices partial = *Recorder::Table();
  partial.copy_databank = nullptr;
  DUInstallUtilityServices(&partial);
  EXPECT_EQ(Create("SALES", "sales.bak", ""), OFF_NO_SYSTEM);
  EXPECT_TRUE(log_.Has("DSCopyDbReq"));
  EXPECT_EQ(Calls("DDEndWork").back().words[0], 1);  // rolled back
  EXPECT_TRUE(Calls("DDInsDbfile DL").empty());
  EXPECT_EQ(W(ducom_ + DDUCOM_DBU_CHAIN), 0);

  partial.set_roots = nullptr;
  // The transaction the failure began (the stand-in's work end keeps it).
  ASSERT_EQ(End(END_ROLLBACK), 0);
  ASSERT_EQ(Op1(), 0);
  ASSERT_EQ(Op4("SALES", "sales.bak"), 0);
  EXPECT_EQ(Op3(0), OFF_NO_SYSTEM);
  EXPECT_TRUE(log_.Has("DSSetDbRoots"));
  EXPECT_EQ(Claim(5), 0);
  DUInstallUtilityServices(Recorder::Table());
}

}  // namespace
