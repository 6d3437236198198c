// Databanks opened and closed through the dispatcher, as their users do:
// DKOPD1 and DKCLD1 requests over the page-test control area.
#pragma once

#include <string>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/databank_operations.h"
#include "dk/request.h"
#include "dk/tests/bufferpool_fixture.h"

class DatabankTest : public PageTest {
 protected:
  // A databank file of `units` units closed properly (close mark 1).
  void Make(const std::string& name, int32_t units, int32_t did = 5) {
    int32_t entry = Create(name, units, did, 3);
    Close(entry);
  }

  // DKOPD1 through the dispatcher; the entry in *entry.
  int32_t OpenDb(const std::string& name, int32_t access, int32_t did, int32_t seqno,
                 int32_t* entry = nullptr) {
    std::vector<int32_t> rq(CRD_WORDS, 0);
    rq[CRD_MODE] = access;
    rq[CRD_DID] = did;
    rq[CRD_SEQNO] = seqno;
    rq[CRD_TYPE] = 9;
    FillNames(rq.data(), name);
    DKCallEntry(44, rq.data(), nullptr);
    if (rq[CRD_MODE] == 0) {
      open_.push_back(rq[CRD_UNITS]);
      if (entry) *entry = rq[CRD_UNITS];
    }
    return rq[CRD_MODE];
  }

  int32_t CloseDb(int32_t mode, int32_t did, int32_t seqno, int32_t entry = 0) {
    int32_t rq[4] = {mode, entry, did, seqno};
    DKCallEntry(12, rq, nullptr);
    return rq[CLD_MODE];
  }

  int32_t Allocate(int32_t entry, int32_t size) {
    int32_t rq[REQ_WORDS] = {entry, 0, size, 0, -1, 0};
    EXPECT_EQ(DKHLD0(rq, 0), 0);
    return rq[REQ_PAGE];
  }

  // A new 2048-byte page of the databank left changed in the pool, word 100
  // 4711 (on disk once it is written); its unit.
  int32_t ChangedPage(int32_t entry) {
    const int32_t page = Allocate(entry, 2048);
    const int32_t buffer = Get(entry, page, 2048, GET_UPDATE);
    EXPECT_GT(buffer, 0);
    if (buffer <= 0) return page;
    PageWords(buffer)[100] = 4711;
    EXPECT_EQ(DKPUT0(PUT_CHANGED, buffer), 0);
    return page;
  }
};
