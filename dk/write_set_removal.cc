// Removal from a write set of the records that belong to given objects
// (DKDeleteSetRecords): the records of a listed object go, and so do end
// records that no kept record names, so that what stays still reads as
// whole transactions.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/large_object.h"
#include "dk/set_pages.h"
#include "dk/set_table.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"
#include "dk/transactions.h"

namespace {

using dkset::RoutineIndex;

constexpr size_t kMaxRemembered = 100;
constexpr int32_t kKindBound = 15;      // a record that bounds the scan
constexpr int32_t kKindInsert = 1;      // an insert, whose large object goes too
constexpr int32_t kKindLobTable = 6;    // word 3 of a record of a kind-6 table
constexpr int32_t kDirectoryTbl = 240;  // the large objects' directory table

// The 16 bytes from record word 5 against the bound, unsigned.
bool NotBelow(std::span<const int32_t> record, const std::array<uint8_t, 16>& bound) {
  if (record.size() < 9) return false;
  std::array<uint8_t, 16> bytes;
  std::memcpy(bytes.data(), record.data() + 5, bytes.size());
  return std::memcmp(bytes.data(), bound.data(), bytes.size()) >= 0;
}

// The large object a deleted insert names (its directory key from record
// word 10 on) is removed with it, through the directory table (TBL 240).
int32_t RemoveLargeObject(int32_t directory, std::span<const int32_t> record) {
  if (!dkset::IsTableEntry(directory)) {
    int32_t tbl = kDirectoryTbl;
    DKReportError(RoutineIndex("DKDLD0"), -46, DK_SEV_ERROR, &tbl, tbl);
    return -46;
  }
  std::vector<int32_t> cursor(CursorBlockWords(LDR_BYTES), 0);
  cursor[CUR_TABLE] = directory;
  cursor[CUR_TBL] = kDirectoryTbl;
  cursor[CUR_KEY_LENGTH] = LDR_KEY_BYTES;
  cursor[CUR_RECORD_LENGTH] = LDR_BYTES;
  const size_t bytes = std::min<size_t>(LDR_KEY_BYTES, (record.size() - 10) * 4);
  std::memcpy(cursor.data() + CUR_RECORD, record.data() + 10, bytes);
  return DKDLD0(cursor.data(), 0);
}

// The transaction numbers of the records kept; once one could not be
// remembered, every end record stays.
struct Remembered {
  std::vector<int32_t> numbers;
  bool overflow = false;
};

enum class Verdict { kKeep, kRemove, kStop };

// What becomes of one record: an end record goes unless a kept record
// named its number; a record of no listed object stays and its number is
// remembered; a bound record of a listed object at or above the bound ends
// the scan; any other record of a listed object goes.
Verdict Judge(std::span<const int32_t> record, const std::vector<int32_t>& ids,
              const std::array<uint8_t, 16>& bound, Remembered* kept) {
  const int32_t number = record.size() > 1 ? record[1] : 0;
  auto at = std::find(kept->numbers.begin(), kept->numbers.end(), number);
  if (!record.empty() && record[WS_CODE] == kCodeHeader) {
    const bool named = at != kept->numbers.end();
    if (named) kept->numbers.erase(at);
    return kept->overflow || named ? Verdict::kKeep : Verdict::kRemove;
  }
  if (record.size() < 3 || std::find(ids.begin(), ids.end(), record[2]) == ids.end()) {
    if (at == kept->numbers.end()) {
      if (kept->numbers.size() < kMaxRemembered)
        kept->numbers.push_back(number);
      else
        kept->overflow = true;
    }
    return Verdict::kKeep;
  }
  if (record[WS_CODE] == kKindBound && NotBelow(record, bound)) return Verdict::kStop;
  return Verdict::kRemove;
}

}  // namespace

int32_t DKDeleteSetRecords(std::span<int32_t> request) {
  constexpr size_t kBound = 25, kCount = 29, kIds = 30;
  if (request.size() < kIds || request[kCount] < 0 ||
      static_cast<size_t>(request[kCount]) > request.size() - kIds) {
    const int32_t size = static_cast<int32_t>(request.size());
    DKReportError(RoutineIndex("DKCXT0"), -43, DK_SEV_ERROR, &size, size);
    return request.empty() ? -43 : (request[0] = -43);
  }
  std::array<uint8_t, 16> bound;
  std::memcpy(bound.data(), request.data() + kBound, bound.size());
  const std::vector<int32_t> ids(request.begin() + kIds, request.begin() + kIds + request[kCount]);
  DKLock(BP_LOCK_TABLE_HASH);
  const int32_t lob_table = DKHMI0(LoadWord(BP_TABLE_HASH), kDirectoryTbl);
  DKUnlock(BP_LOCK_TABLE_HASH);
  std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
  b[SETRQ_TABLE] = request[SETRQ_TABLE];
  b[SETRQ_TBL] = request[SETRQ_TBL];
  Remembered numbers;
  int32_t deleted = 0, result = 0;
  b[SETRQ_RC] = 2;
  for (;;) {
    int32_t rc = DKGXN0(b);
    if (rc == SET_END) break;
    if (rc < 0) {
      result = rc;
      break;
    }
    std::span<const int32_t> record(b.data() + SETRQ_RECORD, b[SETRQ_LENGTH]);
    const Verdict verdict = Judge(record, ids, bound, &numbers);
    if (verdict == Verdict::kStop) break;
    const bool remove = verdict == Verdict::kRemove;
    if (!remove) {
      b[SETRQ_RC] = 0;
      continue;
    }
    const bool lob = record[WS_CODE] == kKindInsert && record.size() > 10 &&
                     record[3] == kKindLobTable && record[2] != 3;
    const std::vector<int32_t> removed(record.begin(), record.end());
    std::vector<int32_t> del(b);
    del[SETRQ_RC] = 0;
    rc = DKDXR0(del);
    if (rc == SET_NO_MATCH) {
      b[SETRQ_RC] = 0;
      continue;
    }
    if (rc < 0) {
      result = rc;
      break;
    }
    ++deleted;
    if (lob && (result = RemoveLargeObject(lob_table, removed)) != 0) break;
    if (rc == SET_END) break;
    // The next record now lies where the deleted one was.
    b[SETRQ_PAGE] = del[SETRQ_PAGE];
    b[SETRQ_POSITION] = del[SETRQ_POSITION];
    b[SETRQ_RC] = 2;
  }
  request[0] = result != 0 ? result : deleted;
  return request[0];
}
