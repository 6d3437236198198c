// Tables opened over the databank kernel itself: a table with its indexes
// and the tables its foreign keys pair it with, a system table of the
// catalog by its own description, and indexes the kernel holds with other
// lengths refused without leaving anything open.
#include <gtest/gtest.h>

#include "catalog_gen.h"
#include "du/table_internal.h"
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
  int32_t Close(std::vector<int32_t>& r) {
    int32_t pb[2] = {0, usr_};
    int32_t close[CLB_WORDS] = {CLOSE_TABLE};
    DSCloseTableRefs(base_, pb, r.data(), close);
    std::erase_if(opened_, [&](const auto& o) { return o.first == r.data(); });
    return pb[0];
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
  int32_t words = 0;
  const int32_t* list = CatalogDescription(t->number, &words);
  std::vector<int32_t> d(list, list + words);
  d[DESC_LID] = kLid;
  CreateDescribedTable(t->number, d);
  auto r = Record(t->number, 3, t->key_length, t->record_length);
  ASSERT_EQ(Open(r), 0);
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

}  // namespace
