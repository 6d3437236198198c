// Tables for the open-table tests: catalog descriptions of a parent table
// with a unique index and of a child table whose foreign key references the
// parent's key, record blocks naming them, and the opens and closes.
#pragma once

#include "du/tests/record_access_fixture.h"

struct IndexSpec {
  int32_t kind, number, keylen;
  int32_t fk_table = 0, fk_index = 0, constraint = 0;
  std::vector<int32_t> parts;  // triples {offset, length, kind}
};

// A description of table kind 1: identity, index entries, foreign-key
// entries {7, referencing index, referencing table, own index}, end word.
inline std::vector<int32_t> Description(int32_t lid, int32_t keylen, int32_t reclen,
                                        int32_t constraint, const std::vector<IndexSpec>& indexes,
                                        const std::vector<std::vector<int32_t>>& foreign_keys) {
  std::vector<int32_t> d(DESC_ENTRIES, 0);
  d[DESC_KIND] = 1;
  d[DESC_LID] = lid;
  d[DESC_TYPE] = 1;
  d[DESC_KEYLEN] = keylen;
  d[DESC_RECLEN] = reclen;
  d[DESC_CONSTRAINT_SYSID] = constraint;
  for (const IndexSpec& ix : indexes) {
    std::vector<int32_t> e = {ix.kind,   ix.number,   DU_TYPE_INDEX, 0, ix.keylen,
                              ix.keylen, ix.fk_table, ix.fk_index,   0, ix.constraint};
    e.push_back(static_cast<int32_t>(ix.parts.size()) + 1);
    e.insert(e.end(), ix.parts.begin(), ix.parts.end());
    d.insert(d.end(), e.begin(), e.end());
  }
  for (const auto& fk : foreign_keys) d.insert(d.end(), fk.begin(), fk.end());
  d.push_back(DESC_END);
  return d;
}

class TableTest : public RecordAccessTest {
 protected:
  static constexpr int32_t kParent = 10, kParentUnique = 11, kChild = 20, kChildFk = 21;
  static constexpr int32_t kLid = 5;

  TableTest() {
    EXPECT_EQ(DUCrtTcbHash(base_), 0);
    dcb_ = NewDatabank(kLid, 3);
    upper_.descriptions[kParent] =
        Description(kLid, 8, 40, 900,
                    {{IX_UNIQUE_NULLS_FREE, kParentUnique, 16, 0, 0, 901, {8, 8, 0, 0, 8, 1}}},
                    {{DESC_FOREIGN_KEY, kChildFk, kChild, kParent}});
    upper_.descriptions[kChild] = Description(
        kLid, 8, 40, 950,
        {{IX_FOREIGN_KEY, kChildFk, 16, kParent, kParent, 951, {8, 8, 0, 0, 8, 1}}}, {});
    upper_.descriptions[30] = Description(kLid, 4, 12, 0, {}, {});
    upper_.descriptions[31] = Description(kLid, 4, 12, 0, {}, {});
  }

  std::vector<int32_t> Record(int32_t tname, int32_t mode, int32_t keylen = 0, int32_t reclen = 0) {
    std::vector<int32_t> r(DurecWords(std::max(reclen, 64)), 0);
    r[DUREC_ACCESS_MODE] = mode;
    r[DUREC_TNAME] = tname;
    r[DUREC_KEYLEN] = keylen;
    r[DUREC_RECLEN] = reclen;
    r[DUREC_TYPE] = 1;
    return r;
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
  int32_t TcbCount() {
    const int32_t hash = W(sys_ + SYS_TCB_LIST);
    int32_t n = 0;
    for (int32_t k = 0; k < TCBH_BUCKET_COUNT; ++k)
      for (int32_t t = W(hash + TCBH_FIRST_BUCKET + TCBH_BUCKET_WORDS * k + TCBH_BUCKET_HEAD);
           t != 0; t = W(t))
        ++n;
    return n;
  }
  int64_t BlocksInUse() {
    return DSPoolSize(base_, sqlpool::ITEM_ALLOCS) - DSPoolSize(base_, sqlpool::ITEM_DEALLOCS);
  }

  int32_t dcb_ = 0;
};
