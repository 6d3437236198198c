// Tables for the open-table tests over the kernel model: catalog
// descriptions of a parent table with a unique index and of a child table
// whose foreign key references the parent's key, record blocks naming them,
// and the opens and closes. Named apart from the databank kernel's own
// TableTest, which the kernel fixtures link into the same test program.
#pragma once

#include "du/tests/descriptions.h"
#include "du/tests/record_access_fixture.h"

class ModelTableTest : public RecordAccessTest {
 protected:
  static constexpr int32_t kParent = ParentChild::kParent,
                           kParentUnique = ParentChild::kParentUnique,
                           kChild = ParentChild::kChild, kChildFk = ParentChild::kChildFk;
  static constexpr int32_t kLid = 5;

  ModelTableTest() {
    EXPECT_EQ(DUCrtTcbHash(base_), 0);
    dcb_ = NewDatabank(kLid, 3);
    upper_.descriptions[kParent] = ParentChild::Parent(kLid);
    upper_.descriptions[kChild] = ParentChild::Child(kLid);
    upper_.descriptions[30] = Description(kLid, 4, 12, 0, {}, {});
    upper_.descriptions[31] = Description(kLid, 4, 12, 0, {}, {});
  }

  std::vector<int32_t> Record(int32_t tname, int32_t mode, int32_t keylen = 0, int32_t reclen = 0) {
    return RecordBlock(tname, mode, keylen, reclen);
  }
  int32_t Open(std::vector<int32_t>& r, int32_t usr = 0) {
    int32_t open[OPB_WORDS] = {OPEN_BASE};
    DUOpenTableChain(base_, usr ? usr : usr_, r.data(), open);
    return r[DUREC_STATUS];
  }
  int32_t OpenDcb(std::vector<int32_t>& r, int32_t usr = 0) {
    int32_t pb[2] = {0, usr ? usr : usr_};
    int32_t open[OPB_WORDS] = {OPEN_BASE};
    DSOpenTableDcb(base_, pb, r.data(), open);
    return pb[0];
  }
  int32_t Close(std::vector<int32_t>& r, int32_t code = CLOSE_TABLE, int32_t usr = 0) {
    int32_t pb[2] = {0, usr ? usr : usr_};
    int32_t close[CLB_WORDS] = {code};
    DSCloseTableRefs(base_, pb, r.data(), close);
    return pb[0];
  }
  int32_t Find(int32_t tname) {
    const int32_t hash = W(sys_ + SYS_TCB_LIST);
    const int32_t bucket =
        hash + TCBH_FIRST_BUCKET + TCBH_BUCKET_WORDS * (tname % TCBH_BUCKET_COUNT);
    for (int32_t t = W(bucket + TCBH_BUCKET_HEAD); t != 0; t = W(t))
      if (W(t + TCB_TNAME) == tname) return t;
    return 0;
  }
  int32_t TcbCount() { return CountTcbs(base_); }
  int64_t BlocksInUse() {
    return DSPoolSize(base_, sqlpool::ITEM_ALLOCS) - DSPoolSize(base_, sqlpool::ITEM_DEALLOCS);
  }

  int32_t dcb_ = 0;
};
