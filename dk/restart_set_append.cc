// Appends to the restart sets in the TRANS databank: a record owed to the
// copies of a databank (DKAppendRestartRecord), its set made with the
// section mark that says to whom, and the records of committed write sets
// that a copy could not take (DKOweToCopies).
#include <vector>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/databank_restart.h"
#include "dk/error_log.h"
#include "dk/set_pages.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kOneCopy = 31, kEveryCopy = 32;

void Report(int32_t rc, int32_t value) {
  DKReportError(dkset::RoutineIndex("DKRSD1"), rc, DK_SEV_ERROR, &value, 0);
}

// The set of TBL when it is in the table hash, held in use (its uses word
// raised under lock 230, as an open does) so that a replay closing it
// meanwhile cannot free the entry; 0 when it is not there.
int32_t HoldSet(int32_t tbl) {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_TABLE_HASH);
  const int32_t t = DKHMI0(LoadWord(BP_TABLE_HASH), tbl);
  if (!dkset::IsTableEntry(t) || a[t + TBE_TBL] != tbl) return 0;
  ++a[t + TBE_USES];
  return t;
}

// TBLs are the kernel's: a DID that is also the TBL of another table names
// that table, which is no restart set (the commit set among them).
bool IsRestartSet(int32_t set) {
  const int32_t* a = Bufferpool();
  const int32_t d = a[set + TBE_DATABANK];
  return a[set + TBE_KIND] == kKindSet && DKIsDatabankEntry(d) && a[d + DBE_DID] == 2 &&
         set != LoadWord(BP_COMMIT_SET_TBL);
}

// The set's first append since it was made or freed opens a section: the
// set is created or found, and the mark that says to whom the records
// after it are owed is appended unless the caller's record is that mark.
// The set (held open) goes to *set; 0 or the failure.
int32_t MakeSet(int32_t tbl, int32_t seqno, int32_t mode, int32_t first_word, int32_t* set) {
  int32_t c[CRT_WORDS] = {};
  c[RQ_STATUS] = mode;
  c[RQ_DID] = 2;
  c[RQ_TYPE] = 151;
  c[RQ_TBL] = tbl;
  c[RQ_INDEX_PAGE_SIZE] = 2048;
  c[RQ_DATA_PAGE_SIZE] = 16384;
  c[RQ_METHOD] = 2;
  DKCRT1(c);
  if (c[RQ_STATUS] != 0) return c[RQ_STATUS];
  *set = c[RQ_TABLE];
  const int32_t mark = seqno == -1 ? kEveryCopy : kOneCopy;
  if (first_word == mark) return 0;
  std::vector<int32_t> m(SETRQ_RECORD + 4, 0);
  m[SETRQ_RC] = mode;
  m[SETRQ_TABLE] = *set;
  m[SETRQ_TBL] = tbl;
  m[SETRQ_LENGTH] = 4;
  m[SETRQ_RECORD] = mark;
  m[SETRQ_RECORD + 2] = tbl;
  m[SETRQ_RECORD + 3] = seqno;
  return DKAPS1(m);
}

}  // namespace

int32_t DKAppendRestartRecord(std::span<int32_t> block, int32_t tbl, int32_t seqno) {
  if (block.size() <= static_cast<size_t>(SETRQ_RECORD) || block[SETRQ_LENGTH] < 1) {
    Report(-43, block.size() > SETRQ_LENGTH ? block[SETRQ_LENGTH] : 0);
    if (!block.empty()) block[SETRQ_RC] = -43;
    return -43;
  }
  // The whole append under lock 254: a replay, which holds it while it
  // reads a set and drops it, never drops a record appended meanwhile.
  EnqdeqGuard guard(Bufferpool() + BP_LOCK_RESTART_SET_CREATE);
  int32_t set = HoldSet(tbl);
  auto finish = [&](int32_t rc) {
    if (set != 0) {
      int32_t c[CRT_WORDS] = {0, 0, 2, 0, set, tbl};
      DKCLT1(c);
    }
    block[SETRQ_RC] = rc;
    return rc;
  };
  if (set == 0) {
    if (int32_t rc = MakeSet(tbl, seqno, block[SETRQ_RC], block[SETRQ_RECORD], &set))
      return finish(rc);
  }
  if (!IsRestartSet(set)) {
    Report(-46, tbl);
    return finish(-46);
  }
  const int32_t saved[3] = {block[2], block[SETRQ_TABLE], block[SETRQ_TBL]};
  block[2] = 2;
  block[SETRQ_TABLE] = set;
  block[SETRQ_TBL] = tbl;
  const int32_t rc = DKAPS1(block);
  block[2] = saved[0];
  block[SETRQ_TABLE] = saved[1];
  block[SETRQ_TBL] = saved[2];
  return finish(rc);
}

int32_t DKOweToCopies(std::span<const int32_t> record, int32_t order) {
  std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
  const auto length = static_cast<int32_t>(record.size());
  if (length <= RQ_TBL || static_cast<size_t>(SETRQ_RECORD + length) > b.size()) {
    Report(-43, length);
    return -43;
  }
  b[SETRQ_RC] = order;
  b[SETRQ_LENGTH] = length;
  std::copy(record.begin(), record.end(), b.begin() + SETRQ_RECORD);
  return DKAppendRestartRecord(b, record[RQ_DID], -1);
}
