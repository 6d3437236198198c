// The DDL transaction record: entries added once, tables opened for the
// change in blocks sized by their rows, and the end's work: translation
// tables removed on rollback or installed on commit, tables closed, claims
// given up, the view restored and the record freed.
#include "du/ddl_transaction.h"

#include "du/collation.h"
#include "du/definition_services.h"
#include "du/tests/table_fixture.h"

namespace {

struct DefinitionModel {
  std::vector<int32_t> installed;
  std::vector<int32_t> released_shp;
  std::vector<std::pair<int32_t, int32_t>> opened;  // {record kind, LID} of each DSOpenTable
  std::map<int32_t, int32_t> dcbs;                  // object -> DCB
  int32_t next_shp = 500;

  static DefinitionModel*& Current() {
    static DefinitionModel* current = nullptr;
    return current;
  }
  static const DUDefinitionServices* Table() {
    static const DUDefinitionServices table = {
        // The databank is held until the object is released.
        [](int32_t*, int32_t, int32_t, int32_t id, int32_t* dcb) {
          auto& m = Current()->dcbs;
          if (!m.count(id)) return -16181;
          *dcb = m[id];
          ++UpperModel::Current()->databank_refs[id];
          return 0;
        },
        [](int32_t*, int32_t, int32_t* record, const int32_t*) {
          Current()->opened.emplace_back(record[DUREC_STATUS], record[DUREC_LID]);
          record[DUREC_STATUS] = 0;
          return 0;
        },
        [](int32_t*, int32_t, int32_t) { return 0; },
        [](int32_t*, int32_t, int32_t, int32_t* shp) {
          *shp = Current()->next_shp++;
          return 0;
        },
        [](int32_t*, int32_t, int32_t* shp) {
          Current()->released_shp.push_back(*shp);
          *shp = 0;
          return 0;
        },
        [](int32_t*, int32_t, int32_t id) {
          Current()->installed.push_back(id);
          return 0;
        },
    };
    return &table;
  }
};

class DdlTransactionTest : public ModelTableTest {
 protected:
  DdlTransactionTest() {
    DefinitionModel::Current() = &model_;
    model_.dcbs[kLid] = dcb_;
    previous_ = DUInstallDefinitionServices(DefinitionModel::Table());
  }
  ~DdlTransactionTest() override {
    DUInstallDefinitionServices(previous_);
    DefinitionModel::Current() = nullptr;
  }
  // A transaction of scope 3 with its record.
  void BeginDefinition() {
    ASSERT_EQ(Begin(1), 0);
    int32_t status = 1;
    DSSetTransScope(base_, &status, usr_, 3);
    ASSERT_EQ(status, 0);
    ASSERT_NE(Record(), 0);
  }
  int32_t Record() { return Tp() == 0 ? 0 : W(Tp() + TP_DDLTRA); }
  int32_t Count(int32_t slot) {
    int32_t n = 0;
    for (int32_t e = W(Record() + slot); e != 0; e = W(e)) ++n;
    return n;
  }
  bool Installed(int32_t id) {
    int32_t status = 0;
    XLInstallTable(base_, &status, XL_CHECK, id, {});
    return status == 0;
  }

  DefinitionModel model_;
  const DUDefinitionServices* previous_ = nullptr;
};

TEST_F(DdlTransactionTest, WithoutRecordTheEntriesAreRefused) {
  int32_t pb[2] = {0, usr_};
  DSDdlTransAdd(base_, pb, 0, kParent, kLid, 8, 40, 1);
  EXPECT_EQ(pb[0], DU_NO_DDL_RECORD);
  ASSERT_EQ(Begin(1), 0);
  DSDdlTransAddXlat(base_, pb, 7, DDL_XLAT_INSTALLED);
  EXPECT_EQ(pb[0], DU_NO_DDL_RECORD);
  DSDdlTransRollback(base_, pb);
  EXPECT_EQ(pb[0], 0);
}

TEST_F(DdlTransactionTest, ATableAddedTwiceKeepsOneEntry) {
  BeginDefinition();
  int32_t pb[2] = {0, usr_};
  DSDdlTransAdd(base_, pb, 0, kParent, kLid, 8, 40, 1);
  EXPECT_EQ(pb[0], 0);
  DSDdlTransAdd(base_, pb, 0, kParent, kLid, 8, 40, 1);
  EXPECT_EQ(pb[0], 1);
  DSDdlTransAdd(base_, pb, 0, kChild, kLid, 8, 40, 1);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(Count(DDL_OBJECTS), 2);
  const int32_t words[32] = {};
  DSDdlTransAddStm(base_, pb, 44, words);
  EXPECT_EQ(pb[0], 0);
  DSDdlTransAddStm(base_, pb, 44, words);
  EXPECT_EQ(pb[0], 1);
  DSDdlTransAddIdent(base_, pb, 9);
  EXPECT_EQ(pb[0], 0);
  DSDdlTransAddIdent(base_, pb, 9);
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(Count(DDL_STATEMENTS), 1);
  EXPECT_EQ(Count(DDL_IDENTS), 1);
  const int64_t blocks = BlocksInUse();
  ASSERT_EQ(End(87), 0);
  EXPECT_EQ(model_.released_shp, std::vector<int32_t>{500});
  EXPECT_LT(BlocksInUse(), blocks);
  EXPECT_EQ(W(Tp() + TP_DDLTRA), 0);
}

TEST_F(DdlTransactionTest, TranslationTablesFollowTheEnd) {
  const std::vector<uint8_t> table(256, 1);
  for (int32_t end : {87, 84}) {
    int32_t status = 0;
    XLInstallTable(base_, &status, XL_INSTALL, 7, table);
    ASSERT_EQ(status, 0);
    model_.installed.clear();
    BeginDefinition();
    int32_t pb[2] = {0, usr_};
    DSDdlTransAddXlat(base_, pb, 7, DDL_XLAT_INSTALLED);
    DSDdlTransAddXlat(base_, pb, 8, DDL_XLAT_TO_INSTALL);
    ASSERT_EQ(End(end), 0);
    if (end == 87) {
      EXPECT_FALSE(Installed(7));
      EXPECT_TRUE(model_.installed.empty());
    } else {
      EXPECT_TRUE(Installed(7));
      EXPECT_EQ(model_.installed, std::vector<int32_t>{8});
      XLInstallTable(base_, &status, XL_REMOVE, 7, {});
    }
  }
}

TEST_F(DdlTransactionTest, EmptyListsOnlyRestoreTheView) {
  for (int32_t view : {3, 1}) {
    W(usr_ + USR_TRANSACTION_VIEW) = view;
    BeginDefinition();
    EXPECT_EQ(W(usr_ + USR_TRANSACTION_VIEW), 2);
    const int64_t blocks = BlocksInUse();
    const int32_t opens = kernel_.Sent(DK_OPT1);
    ASSERT_EQ(End(84), 0);
    EXPECT_EQ(W(usr_ + USR_TRANSACTION_VIEW), view == 3 ? 3 : 2);
    EXPECT_EQ(W(Tp() + TP_DDLTRA), 0);
    EXPECT_EQ(BlocksInUse(), blocks - 1);  // the record alone
    EXPECT_EQ(kernel_.Sent(DK_OPT1), opens);
  }
}

TEST_F(DdlTransactionTest, TablesOpenedForTheChangeAreSizedByTheirRows) {
  BeginDefinition();
  int32_t pb[2] = {0, usr_};
  int32_t block = 0, dcb = 0;
  DSDdlTransOpenTable(base_, pb, kLid, kParent, 61, 8, 40, 0, &block, &dcb);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(dcb, dcb_);
  EXPECT_EQ(W(block + DUREC_RECLEN), 40);
  EXPECT_NE(Find(kParent), 0);
  EXPECT_EQ(Count(DDL_OPEN_TABLES), 1);
  DSDdlTransOpenTable(base_, pb, kLid, kParent, 61, 8, 40, 0, &block, &dcb);
  EXPECT_EQ(pb[0], 1);
  // Lengths that no record block can hold are refused before any open.
  DSDdlTransOpenTable(base_, pb, kLid, kChild, 62, 8, 4, 0, &block, &dcb);
  EXPECT_EQ(pb[0], DU_BAD_ARGUMENT);
  DSDdlTransOpenTable(base_, pb, kLid, kChild, 62, 8, 1 << 30, 0, &block, &dcb);
  EXPECT_EQ(pb[0], DU_BAD_ARGUMENT);
  // A databank that is not there.
  DSDdlTransOpenTable(base_, pb, 99, kChild, 63, 8, 40, 0, &block, &dcb);
  EXPECT_EQ(pb[0], -16181);
  EXPECT_EQ(W(usr_ + USR_RVEC_TNAME), kChild);
  EXPECT_EQ(Count(DDL_OPEN_TABLES), 1);
  ASSERT_EQ(End(84), 0);
  EXPECT_EQ(Find(kParent), 0);  // closed with the end
}

TEST_F(DdlTransactionTest, ApplyOpensTheObjectsAndWritesTheStatements) {
  BeginDefinition();
  int32_t pb[2] = {0, usr_};
  DSDdlTransAdd(base_, pb, 0, kParent, kLid, 8, 40, 1);
  int32_t words[32] = {6};
  DSDdlTransAddStm(base_, pb, kLid, words);
  // The statement's object is the objects' too: the object entry waits.
  DSDdlTransApply(base_, pb);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(Count(DDL_STATEMENTS), 0);
  EXPECT_EQ(model_.opened, (std::vector<std::pair<int32_t, int32_t>>{{6, kLid}}));
  EXPECT_EQ(W(Tp() + TP_TRANSACTION_TYPE), 129);
  DSDdlTransApply(base_, pb);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(model_.opened.size(), 2u);
  EXPECT_EQ(model_.opened.back(), (std::pair<int32_t, int32_t>{8, kLid}));
  EXPECT_NE(Find(kParent), 0);
  ASSERT_EQ(End(84), 0);
  EXPECT_EQ(Find(kParent), 0);
}

// A failed apply releases what it opened, and only that: the entry it
// had not reached yet (older, later in the list) holds no databank.
TEST_F(DdlTransactionTest, AFailedApplyReleasesTheLists) {
  BeginDefinition();
  int32_t pb[2] = {0, usr_};
  DSDdlTransAdd(base_, pb, 0, 30, kLid, 4, 12, 1);     // not reached
  DSDdlTransAdd(base_, pb, 0, kParent, 99, 8, 40, 1);  // no such databank
  DSDdlTransAdd(base_, pb, 0, kChild, kLid, 8, 40, 1);  // applied first
  DSDdlTransApply(base_, pb);
  EXPECT_EQ(pb[0], -16181);
  EXPECT_EQ(Count(DDL_OBJECTS), 0);
  ASSERT_EQ(End(87), 0);
  EXPECT_EQ(upper_.databank_refs[kLid], 0);
  EXPECT_EQ(upper_.databank_refs[99], 0);
}

// An object whose table is gone (-16190) stays unapplied and gives its
// databank back at once; the end releases the applied ones.
TEST_F(DdlTransactionTest, AnObjectWithoutTableHoldsNoDatabank) {
  BeginDefinition();
  int32_t pb[2] = {0, usr_};
  DSDdlTransAdd(base_, pb, 0, kParent, kLid, 8, 40, 1);
  DSDdlTransAdd(base_, pb, 0, 30, kLid, 4, 12, 1);
  kernel_.fail[DK_OPT1] = -50;  // the kernel has no table 30
  DSDdlTransApply(base_, pb);
  ASSERT_EQ(pb[0], 0);
  EXPECT_NE(Find(kParent), 0);
  ASSERT_EQ(End(84), 0);
  EXPECT_EQ(upper_.databank_refs[kLid], 0);
}

}  // namespace
