// The log copy of applied write-set records (DKPTL1): a record whose
// databank is a logged one (kind 3) is appended, as the background applies
// it, to the log table that area word 104 names, and the header after them,
// so that a checkpoint can pass the log's records again up to their header.
#include <ctime>
#include <vector>

#include "dk/background_threads.h"
#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/set_pages.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/transactions.h"
#include "dk/write_set_codes.h"

namespace {

constexpr int32_t kSystemDatabank = 98;
constexpr int32_t kLoggedKind = 3;
constexpr int32_t kLogHeaderMark = 20;

bool OfTransDatabank(int32_t fcode) {
  return fcode == kCodeMark || (fcode >= 51 && fcode <= 54) || fcode == 60;
}

// The databank a record belongs to; 0 when a table-bound record's table
// entry no longer carries its table (applying it reports that).
int32_t DatabankOf(std::span<const int32_t> record) {
  const int32_t* a = Bufferpool();
  const int32_t fcode = record[WS_CODE];
  if (WriteSetEntryCode(fcode) != 0) {
    if (record.size() <= static_cast<size_t>(WSR_TBL)) return 0;
    const int32_t t = record[WSR_TABLE];
    if (!dkset::IsTableEntry(t) || a[t + TBE_TBL] != record[WSR_TBL]) return 0;
    return a[t + TBE_DATABANK];
  }
  if (fcode == kCodeHeader)
    return DKIsDatabankEntry(a[kSystemDatabank]) ? a[kSystemDatabank] : a[BP_TRANS_DATABANK];
  return OfTransDatabank(fcode) ? a[BP_TRANS_DATABANK] : a[kSystemDatabank];
}

}  // namespace

int32_t DKPTL1(std::span<const int32_t> record, int32_t commit, bool closes_logged) {
  const int32_t* a = Bufferpool();
  if (record.empty()) return 0;
  const int32_t databank = DatabankOf(record);
  const bool logged = DKIsDatabankEntry(databank) && a[databank + DBE_KIND] == kLoggedKind;
  if (!logged && !(closes_logged && record[WS_CODE] == kCodeHeader)) return 0;
  const int32_t log = a[BP_LOG_TABLE];
  // Without an open log table the checkpoint falls back on the databank's
  // own pages; nothing is owed here.
  if (!dkset::IsTableEntry(log)) return 0;
  const size_t room = static_cast<size_t>(SetMaxRecordWords(kCommitSetPageSize));
  if (record.size() > room) return -67;
  std::vector<int32_t> b(SETRQ_RECORD + room, 0);
  b[SETRQ_RC] = commit;
  b[SETRQ_TABLE] = log;
  b[SETRQ_TBL] = a[log + TBE_TBL];
  b[SETRQ_LENGTH] = static_cast<int32_t>(record.size());
  std::copy(record.begin(), record.end(), b.begin() + SETRQ_RECORD);
  // A header of the system databank's log is stamped with the time it was
  // logged (word 7, seconds since 1970) and marked in word 8.
  if (record[WS_CODE] == kCodeHeader && DKIsDatabankEntry(a[kSystemDatabank]) &&
      record.size() > static_cast<size_t>(WSH_LOG_MARK)) {
    b[SETRQ_RECORD + WSH_LOG_TIME] = static_cast<int32_t>(std::time(nullptr));
    b[SETRQ_RECORD + WSH_LOG_MARK] = kLogHeaderMark;
  }
  const int32_t rc = DKAXR0(b);
  return rc < 0 ? rc : 1;
}
