// The set requests: a walk over the table entries of a set on its databank
// and the dependent databanks, each run under the databank's busy mark, and
// the in-place update of a set record (DKUOS0). A set request never waits on
// the busy mark; it only makes a thread that takes the pair wait.
#include "dk/set_requests.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/control_words.h"
#include "dk/set_pages.h"
#include "dk/set_table.h"
#include "platform/enqdeq.h"

namespace {

using namespace dkset;

using SetRoutine = int32_t (*)(std::span<int32_t>);

struct Routines {
  int32_t append = RoutineIndex("DKAPS1");
  int32_t delete_records = RoutineIndex("DKDDS1");
  int32_t drop = RoutineIndex("DKDRS1");
  int32_t roll_back = RoutineIndex("DKROL1");
  int32_t next = RoutineIndex("DKGNS1");
  int32_t previous = RoutineIndex("DKGPS1");
  int32_t update = RoutineIndex("DKUPS1");
  int32_t update_all = RoutineIndex("DKUPS0");
  int32_t update_one = RoutineIndex("DKUOS0");
};
const Routines& Index() {
  static const Routines routines;
  return routines;
}

constexpr int32_t kKindOfLargeObjects = 13;
// DKDDS1: the count of object identifiers, then the identifiers.
constexpr size_t kDeleteCount = 29, kDeleteIds = 30;

// Runs `run` with the databank marked busy: the pair is lowered without
// waiting and raised again, which wakes a thread that waits to take it.
// With `skip_offline` a databank found offline under the mark is left alone.
int32_t RunMarkedBusy(int32_t databank, std::span<int32_t> block, SetRoutine run, bool skip_offline,
                      bool* ran) {
  int32_t* area = Bufferpool();
  int32_t* mark = area + databank + DBE_LOCK1;
  std::atomic_ref<int32_t>(mark[ENQDEQ_COUNT]).fetch_sub(1);
  int32_t rc = 0;
  *ran = !skip_offline || std::atomic_ref<int32_t>(area[databank + DBE_ERROR2]).load() == 0;
  if (*ran) rc = run(block);
  enqdeq_give(mark);
  return rc;
}

// What a walk answers besides its status.
enum class Answer {
  kStatus,    // the status alone
  kPosition,  // words 1, 6 and 7 as the first databank gave them
  kMark,      // as kPosition, and a missing mark (-55) ends the walk
  kCount,     // a status of 0 from every databank gives the first other one
};

// The walk of every request routine but DKGNS1 and DKGPS1. The status is the
// last negative status of a databank, else 0 (kCount: else the first nonzero
// status of a databank, which is a count there).
int32_t Walk(std::span<int32_t> block, int32_t routine, SetRoutine run, Answer answer) {
  if (const int32_t rc = CheckSetTable(block, routine); rc < 0) {
    block[SETRQ_RC] = rc;
    return rc;
  }
  int32_t* area = Bufferpool();
  const int32_t given = block[SETRQ_TABLE], mode = block[SETRQ_RC];
  int32_t result = 0, first_nonzero = 0, kept[3] = {0, 0, 0};
  bool first = true;
  for (int32_t t = given, n = 0; t != 0 && n < area[BP_TABLE_COUNT]; t = area[t + TBE_NEXT], ++n) {
    if (!IsTableEntry(t)) break;
    block[SETRQ_RC] = mode;
    block[SETRQ_TABLE] = t;
    if (answer == Answer::kPosition && !first) block[SETRQ_PAGE] = 0;
    if (area[t + TBE_KIND] != kKindSet) {
      ReportPageError(routine, -55, 7, block[SETRQ_TBL]);
      continue;
    }
    const int32_t databank = area[t + TBE_DATABANK];
    if (!DKIsDatabankEntry(databank) || area[databank + DBE_ERROR2] != 0 ||
        area[t + TBE_ROOT_PAGE] == -1)
      continue;
    bool ran = false;
    const int32_t rc = RunMarkedBusy(databank, block, run, true, &ran);
    if (!ran) continue;
    if (rc < 0) result = rc;
    if (first_nonzero == 0) first_nonzero = rc;
    if (rc == -55 && answer == Answer::kMark) break;
    if (first) {
      kept[0] = block[SETRQ_DATA_PAGE_SIZE];
      kept[1] = block[SETRQ_PAGE];
      kept[2] = block[SETRQ_POSITION];
      first = false;
    }
  }
  block[SETRQ_TABLE] = given;
  if (answer == Answer::kCount && result == 0) result = first_nonzero;
  if ((answer == Answer::kPosition || answer == Answer::kMark) && !first) {
    block[SETRQ_DATA_PAGE_SIZE] = kept[0];
    block[SETRQ_PAGE] = kept[1];
    block[SETRQ_POSITION] = kept[2];
  }
  block[SETRQ_RC] = result;
  return result;
}

// DKGNS1 and DKGPS1 read through the given entry alone.
int32_t ReadOne(std::span<int32_t> block, int32_t routine, SetRoutine run) {
  if (const int32_t rc = CheckSetTable(block, routine); rc < 0) {
    block[SETRQ_RC] = rc;
    return rc;
  }
  const int32_t* area = Bufferpool();
  const int32_t t = block[SETRQ_TABLE];
  if (area[t + TBE_KIND] != kKindSet) ReportPageError(routine, -55, 7, block[SETRQ_TBL]);
  const int32_t databank = area[t + TBE_DATABANK];
  if (!DKIsDatabankEntry(databank)) return run(block);
  bool ran = false;
  return RunMarkedBusy(databank, block, run, false, &ran);
}

// The position of the set's last record into words 6 and 7; -56 when the
// set has none.
int32_t FindLastRecord(std::span<int32_t> block, const Set& s) {
  std::vector<int32_t> probe(SETRQ_RECORD + SetMaxRecordWords(s.data_size), 0);
  std::copy(block.begin(), block.begin() + SETRQ_RECORD, probe.begin());
  probe[SETRQ_PAGE] = 0;
  const int32_t rc = DKGXP0(probe);
  if (rc == SET_END) return Fail(s, -56, block[SETRQ_TBL], 2);
  if (rc < 0) return rc;
  block[SETRQ_PAGE] = probe[SETRQ_PAGE];
  block[SETRQ_POSITION] = probe[SETRQ_POSITION];
  return 0;
}

// Writes the replaced words of a record by the caller's mode: a TSS marks
// the page in its write set and writes it, -2 (any negative mode) writes it,
// 0 leaves it changed in the pool.
int32_t FinishUpdate(const Set& s, int32_t mode, int32_t buffer, int32_t page) {
  SealData(s, buffer);
  if (mode == 0 || s.work) {
    DKPUT0(PUT_CHANGED_KEEP, buffer);
    return 0;
  }
  if (mode > 0) DKMRK0(mode, MRK_WRITE_SET, buffer);
  int32_t rq[REQ_WORDS] = {s.databank, page, s.data_size, 0, -1, 0};
  if (DKWRP0(rq, mode > 0 ? WRP_WRITE_RELEASE : WRP_WRITE_WAIT, buffer) < 0)
    return Fail(s, -62, page);
  return 0;
}

int32_t UpdateOne(std::span<int32_t> block) {
  const int32_t routine = Index().update_one;
  if (const int32_t rc = CheckSetTable(block, routine); rc < 0) return rc;
  const int32_t* area = Bufferpool();
  const int32_t kind = area[block[SETRQ_TABLE] + TBE_KIND];
  if (kind == kKindOfLargeObjects) {
    ReportPageError(routine, -46, 2, block[SETRQ_TBL]);
    return -46;
  }
  Set s;
  if (const int32_t rc = OpenSet(block, routine, &s); rc < 0) return rc;
  if (block[SETRQ_PAGE] == 0 && kind == kKindSet)
    if (const int32_t rc = FindLastRecord(block, s); rc < 0) return rc;
  const int32_t page = block[SETRQ_PAGE], q = block[SETRQ_POSITION];
  const int32_t count = block[SETRQ_LENGTH];
  if (page == 0) return Fail(s, -55, block[SETRQ_TBL], 7);
  if (count < 0 || SETRQ_RECORD + int64_t{count} > static_cast<int64_t>(block.size()))
    return Fail(s, -67, count, 2);
  const int32_t b = GetData(s, page, GET_UPDATE);
  if (b < 0) return b;
  int32_t* w = Words(b);
  const int32_t n = RecordAt(w, q);
  // The first four words of a compressed record are kept plain after its
  // plain-length word; only they can be replaced in place.
  const bool compressed = n != 0 && IsCompressedRecord(s, n);
  const bool fits = compressed ? count <= kPlainHead && count + 3 <= n : count + 2 <= n;
  if (n == 0 || !fits) {
    Release(b, GET_UPDATE);
    return n == 0 ? Fail(s, -65, page) : Fail(s, -67, count, 2);
  }
  std::memcpy(w + q + (compressed ? 2 : 1), block.data() + SETRQ_RECORD, sizeof(int32_t) * count);
  return FinishUpdate(s, block[SETRQ_RC], b, page);
}

int32_t UpdateAll(std::span<int32_t> block) {
  if (block.size() > SETRQ_PAGE && block[SETRQ_PAGE] == 0) {
    ReportPageError(Index().update_all, -43, 2, 0);
    block[SETRQ_RC] = -43;
    return -43;
  }
  return Walk(block, Index().update_all, DKUOS0, Answer::kStatus);
}

}  // namespace

int32_t DKUOS0(std::span<int32_t> block) {
  const int32_t rc = UpdateOne(block);
  if (!block.empty()) block[SETRQ_RC] = rc;
  return rc;
}

int32_t DKUPS0(std::span<int32_t> block) {
  return UpdateAll(block);
}

int32_t DKUPS1(std::span<int32_t> block) {
  if (const int32_t rc = CheckSetTable(block, Index().update); rc < 0) {
    if (!block.empty()) block[SETRQ_RC] = rc;
    return rc;
  }
  return DKUPS0(block);
}

int32_t DKAPS1(std::span<int32_t> block) {
  return Walk(block, Index().append, DKAXR0, Answer::kPosition);
}

int32_t DKDDS1(std::span<int32_t> block) {
  const int32_t routine = Index().delete_records;
  int32_t rc = CheckSetTable(block, routine);
  // The identifiers must lie in the block: every databank reads them there.
  if (rc == 0 && (block.size() < kDeleteIds || block[kDeleteCount] < 0 ||
                  static_cast<size_t>(block[kDeleteCount]) > block.size() - kDeleteIds)) {
    const int32_t value = block.size() > kDeleteCount ? block[kDeleteCount] : 0;
    ReportPageError(routine, -43, 2, value);
    rc = -43;
  }
  if (rc < 0) {
    if (!block.empty()) block[SETRQ_RC] = rc;
    return rc;
  }
  return Walk(block, routine, DKDeleteSetRecords, Answer::kCount);
}

int32_t DKDRS1(std::span<int32_t> block) {
  return Walk(block, Index().drop, DKDXT0, Answer::kStatus);
}

int32_t DKROL1(std::span<int32_t> block) {
  return Walk(block, Index().roll_back, DKRXT0, Answer::kMark);
}

int32_t DKGNS1(std::span<int32_t> block) {
  return ReadOne(block, Index().next, DKGXN0);
}

int32_t DKGPS1(std::span<int32_t> block) {
  return ReadOne(block, Index().previous, DKGXP0);
}

int32_t SetRequestBlockWords() {
  const int32_t largest = Bufferpool()[BP_MAX_PAGE_SIZE];
  return SETRQ_RECORD + SetMaxRecordWords(largest > 0 ? largest : 65536);
}

void DKAPS1Entry(int32_t* block, void*) {
  DKAPS1(std::span<int32_t>(block, SetRequestBlockWords()));
}
void DKDDS1Entry(int32_t* block, void*) {
  DKDDS1(std::span<int32_t>(block, SetRequestBlockWords()));
}
void DKDRS1Entry(int32_t* block, void*) {
  DKDRS1(std::span<int32_t>(block, SetRequestBlockWords()));
}
void DKROL1Entry(int32_t* block, void*) {
  DKROL1(std::span<int32_t>(block, SetRequestBlockWords()));
}
void DKGNS1Entry(int32_t* block, void*) {
  DKGNS1(std::span<int32_t>(block, SetRequestBlockWords()));
}
void DKGPS1Entry(int32_t* block, void*) {
  DKGPS1(std::span<int32_t>(block, SetRequestBlockWords()));
}
