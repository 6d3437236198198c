// DKOCD1: the copies of up to four databanks with one SEQNO made current
// from the first copy of each: the LOG databank's restore directory copied,
// every table of the DID given an entry on the copy, and every named table
// of the first copy created in the copy and copied into it, by its kind.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_copies.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "dk/large_object.h"
#include "dk/restore_directory.h"
#include "dk/set_pages.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/shadow_copy.h"
#include "dk/table_entries.h"

namespace {

constexpr int32_t kIndexDKOCD1 = 43;
constexpr int32_t kMaxDatabanks = 4;
constexpr int32_t kLogDid = 3;
constexpr int32_t kNoMoreRoots = 4;  // DKNTE1 at the end of the root entries

struct Bank {
  int32_t did = 0, source = 0, copy = 0;
};

int32_t Report(int32_t rc, int32_t value, int32_t databank) {
  ReportPageError(kIndexDKOCD1, rc, DK_SEV_ERROR, value, databank);
  return rc;
}

// The first copy (the source) and the copy with the SEQNO; -47 when no copy
// but the first carries it.
int32_t FindBank(int32_t did, int32_t seqno, Bank* b) {
  int32_t* a = Bufferpool();
  b->did = did;
  b->source = DKFindDatabank(did);
  if (b->source == 0) return Report(-47, seqno, 0);
  for (int32_t d = a[b->source + DBE_DEPENDENT], n = 0;
       DKIsDatabankEntry(d) && n < LoadWord(BP_DATABANK_COUNT); d = a[d + DBE_DEPENDENT], ++n)
    if (a[d + DBE_SEQNO] == seqno) {
      b->copy = d;
      return 0;
    }
  return Report(-47, seqno, b->source);
}

// The table entry of a table's chain on `databank`, 0 when none.
int32_t EntryOn(int32_t first, int32_t databank) {
  int32_t* a = Bufferpool();
  for (int32_t t = first, n = 0; t > 0 && n < LoadWord(BP_TABLE_COUNT); t = a[t + TBE_NEXT], ++n)
    if (a[t + TBE_DATABANK] == databank) return t;
  return 0;
}

// The create of a table found on the source, for every copy of the DID.
// With `rebuild`, pages of 65536 bytes whose entries fit 16384-byte pages
// become 16384 bytes, and the mode follows the record length.
void CreateBlock(const int32_t* nte, int32_t did, bool rebuild, int32_t* b) {
  std::fill(b, b + CRT_WORDS, 0);
  const int32_t key = nte[NTE_KEY_LENGTH], length = nte[NTE_RECORD_LENGTH];
  b[RQ_STATUS] = -3;
  b[RQ_DID] = did;
  b[RQ_TYPE] = nte[NTE_TYPE];
  b[RQ_TBL] = nte[NTE_TBL];
  b[RQ_KEY_LENGTH] = key;
  b[RQ_RECORD_LENGTH] = length;
  b[RQ_INDEX_PAGE_SIZE] = nte[NTE_INDEX_PAGE_SIZE];
  b[RQ_DATA_PAGE_SIZE] = nte[NTE_DATA_PAGE_SIZE];
  b[RQ_METHOD] = nte[NTE_METHOD];
  if (!rebuild) return;
  if (b[RQ_INDEX_PAGE_SIZE] == 65536 && key <= 3000) b[RQ_INDEX_PAGE_SIZE] = 16384;
  if (b[RQ_DATA_PAGE_SIZE] == 65536 && length <= 3000) b[RQ_DATA_PAGE_SIZE] = 16384;
  b[RQ_STATUS] = length < 100 ? -3 : -4;
}

// A set: the copy's set emptied, then every page of the source's copied.
int32_t CopySet(int32_t source, int32_t target, int32_t tbl) {
  std::vector<int32_t> from(static_cast<size_t>(SetRequestBlockWords()), 0);
  std::vector<int32_t> to(from.size(), 0);
  to[SETRQ_RC] = dkset::kWriteAtOnce;
  to[SETRQ_TABLE] = target;
  to[SETRQ_TBL] = tbl;
  if (int32_t rc = DKDXT0(to); rc < 0) return rc;
  from[SETRQ_TABLE] = source;
  from[SETRQ_TBL] = tbl;
  to[SETRQ_RC] = 0;
  return DKCPX0(from, to);
}

// One table of the source made current in the copy.
int32_t CopyTable(const Bank& bank, const int32_t* nte, int32_t seqno, bool rebuild) {
  int32_t b[CRT_WORDS];
  CreateBlock(nte, bank.did, rebuild, b);
  const int32_t tbl = b[RQ_TBL];
  DKCRT1(b);
  if (b[RQ_STATUS] < 0) return b[RQ_STATUS];
  const int32_t first = b[RQ_TABLE];
  const int32_t source = EntryOn(first, bank.source), target = EntryOn(first, bank.copy);
  int32_t rc = 0;
  if (source == 0 || target == 0 || LoadWord(target + TBE_ROOT_PAGE) <= 0) {
    rc = Report(-46, tbl, bank.copy);
  } else {
    switch ((nte[NTE_TYPE] / 10) % 10) {
      case kKindSet:
        rc = CopySet(source, target, tbl);
        break;
      case kKindLobRefs: {
        int32_t request[CRT_WORDS] = {};
        request[RQ_DID] = bank.did;
        request[RQ_TABLE] = source;
        request[RQ_TBL] = tbl;
        request[RQ_KEY_LENGTH] = nte[NTE_KEY_LENGTH];
        request[RQ_RECORD_LENGTH] = nte[NTE_RECORD_LENGTH];
        rc = DKCLL1(request, seqno);
        break;
      }
      default:
        rc = DKCPT1(source, target);
    }
  }
  int32_t close[CRT_WORDS] = {};
  close[RQ_TABLE] = first;
  close[RQ_TBL] = tbl;
  DKCLT1(close);
  return std::min(rc, 0);
}

// Every named table of the source, in root entry order; dropped tables and
// anonymous ones (work tables, caches: nobody finds them by name) stay.
int32_t CopyTables(const Bank& bank, int32_t seqno, bool rebuild) {
  int32_t nte[NTE_WORDS] = {};
  nte[NTE_DATABANK] = bank.source;
  for (;;) {
    DKNTE1(nte);
    if (nte[NTE_STATUS] == kNoMoreRoots) return 0;
    if (nte[NTE_STATUS] != 0) return nte[NTE_STATUS];
    if (nte[NTE_TBL] == -1 || nte[NTE_TYPE] % 10 == kTypeDropped) continue;
    int32_t cursor[NTE_WORDS];
    std::copy(nte, nte + NTE_WORDS, cursor);
    if (int32_t rc = CopyTable(bank, nte, seqno, rebuild)) return rc;
    std::copy(cursor, cursor + NTE_WORDS, nte);
  }
}

}  // namespace

int32_t DKOCD1(int32_t* request) {
  const int32_t count = request[OCD_COUNT], seqno = request[OCD_SEQNO];
  const bool rebuild = count < 0;
  const int32_t n = count == INT32_MIN ? kMaxDatabanks : std::min(std::abs(count), kMaxDatabanks);
  std::vector<Bank> banks(static_cast<size_t>(n));
  // Every copy is found before anything changes.
  for (int32_t i = 0; i < n; ++i)
    if (int32_t rc = FindBank(request[OCD_FIRST_DID + i], seqno, &banks[static_cast<size_t>(i)]))
      return request[0] = rc;
  for (const Bank& bank : banks) {
    if (bank.did == kLogDid)
      if (int32_t rc = DKCopyRestoreDirectory(bank.source, bank.copy)) return request[0] = rc;
    if (int32_t rc = DKTableEntriesOnCopy(bank.copy)) return request[0] = rc;
  }
  for (const Bank& bank : banks)
    if (int32_t rc = CopyTables(bank, seqno, rebuild)) return request[0] = rc;
  return request[0] = 0;
}
