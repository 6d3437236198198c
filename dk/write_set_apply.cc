// Applying one committed write-set record: the record is the request block
// of its entry routine, run on the table entry and each usable copy chained
// from it, with the commit number as the write mode so that the changed
// pages join that commit's write set.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dk/background_threads.h"
#include "dk/control_area.h"
#include "dk/copy_making.h"
#include "dk/databank_file.h"
#include "dk/databank_restart.h"
#include "dk/error_log.h"
#include "dk/record_routines.h"
#include "dk/request.h"
#include "dk/restore_directory.h"
#include "dk/set_pages.h"
#include "dk/table_alter.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"
#include "dk/table_open.h"
#include "dk/transaction_cache.h"
#include "dk/transactions.h"
#include "dk/write_set_codes.h"
#include "platform/enqdeq.h"

namespace {

using dkset::RoutineIndex;

// Words of the largest fixed part of a table-bound request (the key parts of
// an index), beside which a request may carry one record's bytes.
constexpr size_t kRequestFloor = 256;

bool NothingToDo(int32_t fcode) {
  switch (fcode) {
    case 3:
    case 12:
    case 15:
    case 20:
    case 21:
    case 22:
    case 51:
    case 52:
    case 53:
    case 54:
    case 60:
      return true;
  }
  return false;
}

bool Usable(int32_t databank) {
  // Read atomically: a failing page write disables a databank meanwhile.
  return DKIsDatabankEntry(databank) && LoadWord(databank + DBE_ERROR) == 0 &&
         LoadWord(databank + DBE_ERROR2) == 0;
}

// A table-bound record on the table entry and every usable copy of it.
int32_t ApplyToTable(std::span<int32_t> record, int32_t commit, int32_t code) {
  int32_t* a = Bufferpool();
  const int32_t routine = RoutineIndex("DKPTR1");
  const int32_t first = record[WSR_TABLE];
  if (!dkset::IsTableEntry(first) || a[first + TBE_TBL] != record[WSR_TBL]) {
    const int32_t databank = dkset::IsTableEntry(first) ? a[first + TBE_DATABANK] : 0;
    if (!DKIsDatabankEntry(databank)) {
      DKReportError(routine, -45, DK_SEV_INTERNAL, &databank, databank);
      return -45;
    }
    int32_t tbl = record[WSR_TBL];
    DKReportError(routine, -46, DK_SEV_DISABLE, &tbl, databank);
    return -46;
  }
  // A row change carries its record from word 10 for the length it states,
  // which the record routine reads: a record cut short is corrupt.
  if (code == 38 || code == 55 || code == 20) {
    const int64_t length = record.size() > RQ_RECORD_LENGTH ? record[RQ_RECORD_LENGTH] : -1;
    if (length < 0 || RQ_RECORD + (length + 3) / 4 > static_cast<int64_t>(record.size())) {
      int32_t value = static_cast<int32_t>(record.size());
      DKReportError(routine, -66, DK_SEV_INTERNAL, &value, a[first + TBE_DATABANK]);
      return -66;
    }
  }
  std::vector<int32_t> request(record.begin(), record.end());
  // The other table-bound requests are blocks of the entry routines (index
  // key parts, the bytes a reshape inserts) with counts of their own: what a
  // short record lacks is read as zeros, never past its end.
  if (code != 38 && code != 55 && code != 20) {
    const size_t floor =
        kRequestFloor + static_cast<size_t>(std::max(LoadWord(BP_MAX_RECORD_LENGTH), 0) / 4 + 1);
    request.resize(std::max(request.size(), floor));
  }
  // DKALR1 reads its alter structure up to the length the structure states:
  // what a short record lacks is read as zeros, never past its end.
  if (code == 4) {
    const int64_t stated = record.size() > ALR_TOTAL_WORDS ? record[ALR_TOTAL_WORDS] : 0;
    const auto words = static_cast<size_t>(std::clamp<int64_t>(stated, ALR_HEADER, kAlterMaxWords));
    request.resize(std::max(request.size(), words));
  }
  int32_t result = 0;
  bool owed = false;
  for (int32_t t = first, n = 0; dkset::IsTableEntry(t) && n <= a[BP_TABLE_COUNT];
       t = a[t + TBE_NEXT], ++n) {
    if (t != first && !Usable(a[t + TBE_DATABANK])) {
      owed = true;
      continue;
    }
    std::copy(record.begin(), record.end(), request.begin());
    request[RQ_STATUS] = code == 4 ? -2 : commit;
    request[RQ_TABLE] = t;
    DKCallEntry(code, request.data(), nullptr);
    const int32_t rc = request[RQ_STATUS];
    if (rc < 0) result = rc;
  }
  // A copy that could not take the record finds it in its restart set when
  // it is opened or put online again.
  if (owed) {
    if (const int32_t rc = DKOweToCopies(record, commit); rc < 0) result = rc;
  }
  // The cache records of a row that refers to a large object learn that its
  // insert or delete is applied; the row's change stands whatever they say.
  constexpr int32_t kLobInserted = 19;
  if (record[WSR_KIND] == kKindLobRefs &&
      (code == 20 || (code == 38 && record.size() > kLobInserted && record[kLobInserted] > 0)))
    DKUPT0(record, commit, code == 38 ? 0 : 1);
  return result;
}

// Records 13 and 14: the restore time stamp of the databank whose DID is
// record word 3 (the stamp in word 5, as the restart decodes the same
// record) into the restore directory of the LOG databank and each online
// copy of it that is no backup (DKILT1).
int32_t RestoreStamp(const std::vector<int32_t>& request, int32_t commit) {
  if (request.size() <= static_cast<size_t>(WSR_STAMP)) {
    int32_t value = request[WS_CODE];
    DKReportError(RoutineIndex("DKPTR1"), -66, DK_SEV_INTERNAL, &value, 0);
    return -66;
  }
  return DKILT1(LoadWord(BP_LOG_ENTRY), request[WSR_STAMP_DID], request[WSR_STAMP], commit);
}

// The record of `key` (key_length bytes) on the table entry `table`, into
// *row; false when the table holds none.
bool FetchByKey(int32_t table, int32_t tbl, int32_t key_length, int32_t record_length,
                const int32_t* key, std::vector<int32_t>* row) {
  std::vector<int32_t> cur(static_cast<size_t>(CursorBlockWords(record_length)) + 1, 0);
  cur[CUR_TABLE] = table;
  cur[CUR_TBL] = tbl;
  cur[CUR_KEY_LENGTH] = key_length;
  cur[CUR_RECORD_LENGTH] = record_length;
  cur[CUR_STATUS] = FET_FROM_KEY;
  std::memcpy(cur.data() + CUR_RECORD, key, static_cast<size_t>(key_length));
  DKCallEntry(27, cur.data(), nullptr);  // DKFET1
  if (cur[CUR_STATUS] != 0 ||
      std::memcmp(cur.data() + CUR_RECORD, key, static_cast<size_t>(key_length)) != 0)
    return false;
  row->assign(cur.begin() + CUR_RECORD, cur.begin() + CUR_RECORD + (record_length + 3) / 4);
  return true;
}

// Records 18 and 19 with a key: the table's record of that key whose first
// word is 31 is rewritten with 30 there, on the table and each usable copy
// (owed to the others) as row changes of the commit. A key is the record's
// first bytes, so the word is part of it: the record is deleted and
// inserted under its new key. No such record, or one of another code:
// nothing to do, so that a replay may apply the record again.
int32_t RewriteMarkedRecord(const std::vector<int32_t>& request, int32_t table, int32_t commit) {
  constexpr int32_t kMarkOpen = 31, kMarkDone = 30;
  const int32_t key_length = request[RQ_KEY_LENGTH], record_length = request[RQ_RECORD_LENGTH];
  if (key_length < 1 || record_length < 4 || key_length > record_length ||
      RQ_RECORD + (static_cast<size_t>(key_length) + 3) / 4 > request.size()) {
    int32_t value = key_length;
    DKReportError(RoutineIndex("DKPTR1"), -66, DK_SEV_INTERNAL, &value, 0);
    return -66;
  }
  std::vector<int32_t> row;
  if (!FetchByKey(table, request[WSR_TBL], key_length, record_length, request.data() + RQ_RECORD,
                  &row) ||
      row[0] != kMarkOpen)
    return 0;
  // A row change of the table: the request of its entry routine.
  auto change = [&](int32_t fcode, int32_t mark) {
    std::vector<int32_t> r(RQ_RECORD + row.size(), 0);
    r[WS_CODE] = fcode;
    r[WSR_DID] = request[WSR_DID];
    r[WSR_TABLE] = table;
    r[WSR_TBL] = request[WSR_TBL];
    r[RQ_KEY_LENGTH] = key_length;
    r[RQ_RECORD_LENGTH] = record_length;
    std::copy(row.begin(), row.end(), r.begin() + RQ_RECORD);
    r[RQ_RECORD] = mark;
    return r;
  };
  std::vector<int32_t> remove = change(4, kMarkOpen), insert = change(1, kMarkDone);
  if (int32_t rc = ApplyToTable(remove, commit, WriteSetEntryCode(4)); rc < 0) return rc;
  return ApplyToTable(insert, commit, WriteSetEntryCode(1));
}

// The table entry of TBL on the databank of `did` when the table is open
// (in the table hash), else 0.
int32_t OpenTableOf(int32_t did, int32_t tbl) {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_TABLE_HASH);
  const int32_t t = DKHMI0(LoadWord(BP_TABLE_HASH), tbl);
  if (!dkset::IsTableEntry(t) || a[t + TBE_TBL] != tbl) return 0;
  const int32_t d = a[t + TBE_DATABANK];
  return DKIsDatabankEntry(d) && a[d + DBE_DID] == did ? t : 0;
}

// Records 18 and 19: the table (record words 2 and 5, DID and TBL; 6 and 7
// its lengths) opened around the change beside every user but an exclusive
// one, whatever its kind. With a key of -1 (record word 10) it is marked
// dropped in its root entry, and closed so that the close that leaves it
// unused gives it back; with another key its marked record is rewritten.
int32_t PostProcessTable(std::vector<int32_t>& request, int32_t commit) {
  if (request.size() <= static_cast<size_t>(RQ_RECORD)) {
    int32_t value = request[WS_CODE];
    DKReportError(RoutineIndex("DKPTR1"), -66, DK_SEV_INTERNAL, &value, 0);
    return -66;
  }
  const bool drop_table = request[RQ_RECORD] == -1;
  if (!drop_table) {
    // The rewrite is a row change, made beside the table's users.
    if (const int32_t open_already = OpenTableOf(request[WSR_DID], request[WSR_TBL]))
      return RewriteMarkedRecord(request, open_already, commit);
  }
  int32_t open[CRT_WORDS] = {};
  open[RQ_STATUS] = 4;
  open[RQ_DID] = request[WSR_DID];
  open[OPT_KIND] = kOpenAnyKind;
  open[RQ_TBL] = request[WSR_TBL];
  open[RQ_KEY_LENGTH] = request[RQ_KEY_LENGTH];
  open[RQ_RECORD_LENGTH] = request[RQ_RECORD_LENGTH];
  DKOPT1(open);
  if (open[RQ_STATUS] > 0) {
    // Held exclusively: the change is not made, which is no success.
    int32_t value = open[RQ_STATUS];
    DKReportError(RoutineIndex("DKPTR1"), -43, DK_SEV_ERROR, &value, value);
    return -43;
  }
  if (open[RQ_STATUS] < 0) return open[RQ_STATUS];
  int32_t result = 0;
  if (drop_table) {
    int32_t drop[CRT_WORDS] = {};
    drop[RQ_STATUS] = commit;
    drop[RQ_DID] = request[WSR_DID];
    drop[RQ_TABLE] = open[RQ_TABLE];
    drop[RQ_TBL] = request[WSR_TBL];
    DKDRT1(drop);
    result = std::min(drop[RQ_STATUS], 0);
  } else {
    result = RewriteMarkedRecord(request, open[RQ_TABLE], commit);
  }
  int32_t close[CRT_WORDS] = {};
  close[RQ_STATUS] = drop_table ? -22 : 0;
  close[RQ_TABLE] = open[RQ_TABLE];
  close[RQ_TBL] = request[WSR_TBL];
  DKCLT1(close);
  return std::min({result, close[RQ_STATUS], 0});
}

}  // namespace

int32_t DKPTR1(std::span<int32_t> record, int32_t commit) {
  const int32_t routine = RoutineIndex("DKPTR1");
  if (record.size() <= static_cast<size_t>(WSR_TBL)) {
    int32_t length = static_cast<int32_t>(record.size());
    DKReportError(routine, -66, DK_SEV_INTERNAL, &length, 0);
    return -66;
  }
  const int32_t fcode = record[WS_CODE];
  if (NothingToDo(fcode)) return 0;
  if (int32_t code = WriteSetEntryCode(fcode)) return ApplyToTable(record, commit, code);
  std::vector<int32_t> request(record.begin(), record.end());
  switch (fcode) {
    case 8:
      request[RQ_STATUS] = commit;
      request[RQ_TABLE] = -1;
      DKDRT1(request.data());
      return request[RQ_STATUS] < 0 ? request[RQ_STATUS] : 0;
    case 9:
      if (request.size() < CRT_WORDS) request.resize(CRT_WORDS, 0);
      request[RQ_STATUS] = commit;
      DKCRT1(request.data());
      if (request[RQ_STATUS] != 0) return request[RQ_STATUS];
      DKCLT1(request.data());
      return 0;
    case 16:
      request[RQ_STATUS] = commit;
      DKCallEntry(53, request.data(), nullptr);  // DKSUD1
      return request[RQ_STATUS];
    case 17:
      return DKPutCopyOnline(request[WSR_DID], request[WSR_SEQNO], commit);
    case 18:
    case 19:
      return PostProcessTable(request, commit);
    case 25:
      return DKSDC1(request[WSR_DID], request[WSR_SEQNO]);
    case 26:
      return DKEDC1(request[WSR_DID], request[WSR_SEQNO], request[WSR_NEW_SEQNO], commit);
    case 13:
    case 14:
      return RestoreStamp(request, commit);
  }
  int32_t value = fcode;
  DKReportError(routine, -66, DK_SEV_INTERNAL, &value, 0);
  return -66;
}
