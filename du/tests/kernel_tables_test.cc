// Tables opened over the databank kernel itself: a table with its indexes
// and the tables its foreign keys pair it with, a system table of the
// catalog by its own description, and indexes the kernel holds with other
// lengths refused without leaving anything open.
#include <gtest/gtest.h>

#include "catalog_gen.h"
#include "dk/table_open.h"
#include "du/table_internal.h"
#include "du/tables.h"
#include "du/tests/descriptions.h"
#include "du/tests/kernel_fixture.h"

namespace {

class KernelTablesTest : public KernelRecordAccessTest {
 protected:
  // The ICB of index `number` of the record block's table.
  int32_t Icb(const std::vector<int32_t>& r, int32_t number) {
    for (int32_t icb = W(r[DUREC_OBJECT] + TCB_ICB); icb != 0; icb = W(icb))
      if (W(icb + ICB_TNAME) == number) return icb;
    return 0;
  }
  // A system table of the catalog made in the kernel by its own
  // description list (in this test's databank) and opened on `r`.
  int32_t OpenCatalogTable(const CatalogTable& t, std::vector<int32_t>& r) {
    int32_t words = 0;
    const int32_t* list = CatalogDescription(t.number, &words);
    std::vector<int32_t> d(list, list + words);
    d[DESC_LID] = kLid;
    CreateDescribedTable(t.number, d);
    return Open(r);
  }
};

// The parent opens the child its key is referenced from; each index is a
// kernel table of the index's whole key, and the last close gives every
// table and databank reference back.
TEST_F(KernelTablesTest, TableWithIndexesAndReferencesOpensAndCloses) {
  CreateDescribedTable(ParentChild::kParent, ParentChild::Parent(kLid));
  CreateDescribedTable(ParentChild::kChild, ParentChild::Child(kLid));
  auto parent = Record(ParentChild::kParent, 3, 8, 40);
  ASSERT_EQ(Open(parent), 0);
  EXPECT_EQ(CountTcbs(base_), 2);  // the child as the target of the reference
  const int32_t unique = Icb(parent, ParentChild::kParentUnique);
  ASSERT_NE(unique, 0);
  EXPECT_GT(W(unique + ICB_TBL), 0);
  EXPECT_EQ(W(unique + ICB_KEYLEN), ParentChild::kIndexKeyLen);
  EXPECT_EQ(W(unique + ICB_RECLEN), ParentChild::kIndexKeyLen);
  const int32_t ficb = W(parent[DUREC_OBJECT] + TCB_FICB);
  ASSERT_NE(ficb, 0);
  EXPECT_GE(W(ficb + FICB_FK_OPEN_STATUS), du::REF_PAIRED);

  auto child = Record(ParentChild::kChild, 3, 8, 40);
  ASSERT_EQ(Open(child), 0);
  EXPECT_EQ(CountTcbs(base_), 2);
  EXPECT_EQ(Close(child), 0);
  EXPECT_EQ(Close(parent), 0);
  EXPECT_EQ(CountTcbs(base_), 0);
  EXPECT_EQ(upper_.databank_refs[kLid], 0);
}

// A system table by the catalog's own description, whose indexes hold their
// key columns before the table's key, with the kernel tables made with the
// catalog's lengths.
TEST_F(KernelTablesTest, CatalogTableOpensByItsDescription) {
  const CatalogTable* t = CatalogFindTable(16);
  ASSERT_NE(t, nullptr);
  ASSERT_GT(t->index_count, 0);
  auto r = Record(t->number, 3, t->key_length, t->record_length);
  ASSERT_EQ(OpenCatalogTable(*t, r), 0);
  for (int32_t k = 0; k < t->index_count; ++k) {
    const CatalogIndex& ix = kCatalogIndexes[t->first_index + k];
    SCOPED_TRACE("index " + std::to_string(ix.number));
    const int32_t icb = Icb(r, ix.number);
    ASSERT_NE(icb, 0);
    EXPECT_GT(W(icb + ICB_TBL), 0);
    EXPECT_EQ(W(icb + ICB_TYPE), DU_TYPE_INDEX);  // entry word 3; word 2 is the LID
    EXPECT_EQ(W(icb + ICB_KEYLEN), ix.key_length);
    EXPECT_EQ(W(icb + ICB_RECLEN), ix.entry_length);
  }
  EXPECT_EQ(Close(r), 0);
  EXPECT_EQ(CountTcbs(base_), 0);
}

// Index 77 of the catalog's table 20 carries a trailing part behind its
// whole key (entry 160 bytes, key 157, no multiple of 4): rows are inserted
// in a transaction with their entries, each checked unique through a
// prefix scan of the write set (the prefix length in the word after the
// key's words), and read back through the index in its order.
TEST_F(KernelTablesTest, CatalogIndexWithATrailingPartTakesEntries) {
  const CatalogTable* t = CatalogFindTable(20);
  ASSERT_NE(t, nullptr);
  auto r = Record(t->number, 3, t->key_length, t->record_length);
  ASSERT_EQ(OpenCatalogTable(*t, r), 0);
  auto* row = reinterpret_cast<uint8_t*>(r.data() + DUREC_RECORD);
  ASSERT_EQ(Begin(1), 0);
  for (uint8_t n : {3, 1, 2}) {
    std::memset(row, 'a', static_cast<size_t>(t->record_length));
    row[0] = n;   // the table key
    row[21] = n;  // the column name: index 77's second key column
    NextCursorOrder(usr_);
    DUInsertRow(base_, r.data(), usr_);
    EXPECT_EQ(r[DUREC_STATUS], 0) << int{n};
  }
  EXPECT_EQ(End(END_AFTER_SUCCESS), 0);
  auto x = Record(77, 3, 157, 160);
  x[DUREC_TYPE] = DU_TYPE_INDEX;
  x[DUREC_KEY_FLAG] = t->number;
  ASSERT_EQ(Open(x), 0);
  for (int32_t k = 0; k < 6; ++k) x[DUREC_LID + k] = W(x[DUREC_OBJECT] + ICB_LID + k);
  x[DUREC_MERGE] = r[DUREC_MERGE];
  int32_t work = 0;
  DSGetMem(base_, &work, WRK_BYTES + 4096);
  std::memset(x.data() + DUREC_RECORD, 0, 160);
  x[DUREC_FETCH_CODE] = 1;
  std::vector<int> order;
  for (int n = 0; n < 4; ++n) {
    x[DUREC_STATUS] = 0;
    NextCursorOrder(usr_);
    DUGetRowIx(base_, r.data(), x.data(), usr_, work);
    if (x[DUREC_STATUS] != 0) break;
    order.push_back(row[0]);
  }
  EXPECT_EQ(x[DUREC_STATUS], DU_NO_ROW);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  DSGetMem(base_, &work, 0);
  EXPECT_EQ(Close(x), 0);
  EXPECT_EQ(Close(r), 0);
}

// An index the kernel holds with a key of its columns alone (not the whole
// index key) is refused by the kernel's open; nothing stays open.
TEST_F(KernelTablesTest, IndexOfOtherLengthsIsRefused) {
  std::vector<int32_t> d = ParentChild::Parent(kLid);
  d.erase(d.end() - 5, d.end() - 1);  // no foreign key: the table alone
  CreateKernelTable(ParentChild::kParent, 1, 8, 40);
  CreateKernelTable(ParentChild::kParentUnique, 2, 8, ParentChild::kIndexKeyLen);
  upper_.descriptions[ParentChild::kParent] = d;
  auto r = Record(ParentChild::kParent, 3, 8, 40);
  EXPECT_EQ(Open(r), -67 - 16140);
  EXPECT_EQ(CountTcbs(base_), 0);
  EXPECT_EQ(upper_.databank_refs[kLid], 0);
}

// The tables of a load: like the table and its index, under new numbers,
// never over a table that exists.
TEST_F(KernelTablesTest, LoadTablesAreMadeLikeTheTableAndItsIndexes) {
  std::vector<int32_t> d = ParentChild::Parent(kLid);
  d.erase(d.end() - 5, d.end() - 1);  // no foreign key: the table alone
  CreateDescribedTable(ParentChild::kParent, d);
  auto r = Record(ParentChild::kParent, 3, 8, 40);
  ASSERT_EQ(Open(r), 0);
  const int32_t tcb = r[DUREC_OBJECT];
  int32_t tables[3] = {};
  EXPECT_EQ(DUCrtTempTable(base_, tcb, 700, tables, 1), DU_BAD_ARGUMENT);  // no room for the index
  ASSERT_EQ(DUCrtTempTable(base_, tcb, 700, tables, 3), 0);
  const int32_t lengths[2][3] = {{700, 8, 40}, {702, 16, 16}};
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    int32_t g[GTS_TOP_ENTRIES + 1] = {};  // DKGTS1 answers up to its word 14
    g[RQ_DID] = kLid;
    g[RQ_TABLE] = tables[k];
    g[RQ_TBL] = lengths[k][0];
    DKEXE1(36, g);  // DKGTS1
    EXPECT_EQ(g[RQ_STATUS], 0);
    EXPECT_EQ(g[RQ_KEY_LENGTH], lengths[k][1]);
    EXPECT_EQ(g[RQ_RECORD_LENGTH], lengths[k][2]);
    EXPECT_EQ(g[RQ_TYPE] % 10, 4);
  }
  // Numbers that name tables already: nothing is made over them, and a
  // table made before the index's number was found taken is dropped again.
  int32_t again[3] = {};
  EXPECT_EQ(DUCrtTempTable(base_, tcb, 700, again, 3), DU_TABLE_IN_USE);
  CreateKernelTable(692, 2, 16, 16);
  EXPECT_EQ(DUCrtTempTable(base_, tcb, 690, again, 3), DU_TABLE_IN_USE);
  int32_t g[GTS_TOP_ENTRIES + 1] = {};
  g[RQ_DID] = kLid;
  g[RQ_TYPE] = 1;
  g[RQ_TBL] = 690;
  DKEXE1(36, g);
  EXPECT_EQ(g[RQ_STATUS], -50);  // the table made first was dropped again
  for (int k = 0; k < 2; ++k) {
    int32_t close[CRT_WORDS] = {};
    close[RQ_TABLE] = tables[k];
    close[RQ_TBL] = lengths[k][0];
    DKEXE1(DK_CLT1, close);
  }
  EXPECT_EQ(Close(r), 0);
}

}  // namespace

// One of the kernel's own tables (a databank's large-object directory) has
// no catalog description: it opens from the kernel's request words alone,
// with no indexes, in the databank record access opens for the LID, and
// its close gives that databank back. A second open of the same number,
// other lengths than the kernel holds and an unknown databank are refused
// with nothing left registered or referenced.
TEST_F(KernelTablesTest, KernelTableOpensFromItsRequestWords) {
  CreateKernelTable(240, 6, 20, 44);
  CreateKernelTable(241, 6, 20, 44);
  const int32_t request[8] = {1, kLid, 240, 3, 20, 44, 3, 6};
  int32_t tcb = 0;
  ASSERT_EQ(DUOpenKernelTable(base_, usr_, request, &tcb), 0);
  ASSERT_NE(tcb, 0);
  EXPECT_EQ(W(tcb + TCB_TNAME), 240);
  EXPECT_EQ(W(tcb + TCB_KEYLEN), 20);
  EXPECT_EQ(W(tcb + TCB_RECLEN), 44);
  EXPECT_GT(W(tcb + TCB_TBL), 0);
  EXPECT_EQ(W(tcb + TCB_DCB), dcb_);
  EXPECT_EQ(W(tcb + TCB_ICB), 0);
  EXPECT_EQ(DUTcbUseCount(base_, 240), 1);
  EXPECT_EQ(upper_.databank_refs[kLid], 1);

  struct Refused {
    const char* what;
    int32_t lid, table, keylen, reclen, status;
  };
  const Refused refused[] = {
      {"registered already", kLid, 240, 20, 44, DU_TABLE_IN_USE},
      {"other lengths", kLid, 241, 20, 40, -67 - 16140},  // the kernel's own check
      {"no such databank", 9, 241, 20, 44, -16181},
      {"no lengths", kLid, 241, 0, 44, DU_BAD_ARGUMENT},
  };
  for (const Refused& c : refused) {
    SCOPED_TRACE(c.what);
    const int32_t rq[8] = {1, c.lid, c.table, 3, c.keylen, c.reclen, 3, 6};
    int32_t other = -1;
    EXPECT_EQ(DUOpenKernelTable(base_, usr_, rq, &other), c.status);
    EXPECT_EQ(other, 0);
    EXPECT_EQ(DUTcbUseCount(base_, 240), 1);
    EXPECT_EQ(DUTcbUseCount(base_, 241), 0);
    EXPECT_EQ(upper_.databank_refs[kLid], 1);
  }

  EXPECT_EQ(DUCloseKernelTable(base_, tcb, 5), 0);
  EXPECT_EQ(DUTcbUseCount(base_, 240), 0);
  EXPECT_EQ(upper_.databank_refs[kLid], 0);
  EXPECT_EQ(CountTcbs(base_), 0);
  // Closed, it opens again.
  ASSERT_EQ(DUOpenKernelTable(base_, usr_, request, &tcb), 0);
  EXPECT_EQ(DUCloseKernelTable(base_, tcb, 5), 0);
  EXPECT_EQ(CountTcbs(base_), 0);
}
