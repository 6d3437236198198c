// The records of a work unit read from the commit set and applied in
// parallel: the unit's thread and the slaves it wakes take the records in
// turn under lock 210; a row change starts only once every earlier record of
// the same row is applied, anything else is applied alone. So the tables end
// as if the records had been applied one after the other in their order.
#include <vector>

#include "dk/background_threads.h"
#include "dk/bufferpool.h"
#include "dk/checkpoint.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/in_doubt_transactions.h"
#include "dk/page_tree.h"
#include "dk/set_pages.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/transactions.h"
#include "platform/enqdeq.h"

namespace {

using dkset::RoutineIndex;

constexpr int32_t kFirstRead = 2;

// Whether the reading of the unit now read ends with the master's place
// given up (lock 210).
bool gives_master_up = false;

int32_t* A() {
  return Bufferpool();
}

// The first failure of a unit's records is its result; set without lock
// 210 by a slot that applied a record, before it gives its work pair back.
void KeepFailure(int32_t tss, int32_t rc) {
  if (rc >= 0) return;
  int32_t expected = 0;
  PoolWord(tss + TSS_APPLIED_RESULT).compare_exchange_strong(expected, rc);
}

}  // namespace

int32_t DKRowMark(std::span<const int32_t> record) {
  const int32_t* a = A();
  const int32_t fcode = record[WS_CODE];
  if ((fcode != 1 && fcode != 2 && fcode != 4) || record.size() <= static_cast<size_t>(RQ_RECORD))
    return 0;
  const int32_t table = record[WSR_TABLE];
  if (!dkset::IsTableEntry(table) || a[table + TBE_TBL] != record[WSR_TBL]) return 0;
  int32_t root_record = 0;
  const int32_t root = GetRootEntry(table, GET_SHARED, RoutineIndex("DKSSD1"), &root_record);
  if (root < 0) return 0;
  const int32_t key_length = a[root_record + RE_KEY_LENGTH];
  ReleaseShared(root);
  const size_t room = (record.size() - RQ_RECORD) * 4;
  if (key_length <= 0 || static_cast<size_t>(key_length) > room) return 0;
  const auto* key = reinterpret_cast<const uint8_t*>(record.data() + RQ_RECORD);
  uint32_t h = 2166136261u ^ static_cast<uint32_t>(table);
  for (int32_t i = 0; i < key_length; ++i) h = (h ^ key[i]) * 16777619u;
  const int32_t mark = static_cast<int32_t>(h & 0x7fffffff);
  return mark == 0 ? 1 : mark;
}

namespace {

// Under lock 210: the other slots applying a record with `mark` (any mark
// when 0).
std::vector<int32_t> SlotsApplying(int32_t self, int32_t mark) {
  const int32_t* a = A();
  std::vector<int32_t> slots;
  for (int32_t s = a[BP_FIRST_SWA]; s > 0 && s <= a[BP_LAST_SWA]; s += SWA_WORDS) {
    const int32_t m = LoadWord(s + SWA_APPLYING);
    if (s != self && m != 0 && (mark == 0 || m == mark)) slots.push_back(s);
  }
  return slots;
}

// A slot holds its work pair while it applies a record: waiting for the
// record is taking the pair and giving it back.
void AwaitSlots(const std::vector<int32_t>& slots) {
  for (int32_t s : slots) {
    DKLock(s + SWA_LOCK2);
    DKUnlock(s + SWA_LOCK2);
  }
}

// Under lock 210: the first slave of the slave queue leaves it and is woken
// to take records too.
void WakeHelper() {
  int32_t* a = A();
  const int32_t slave = a[BP_SLAVE_QUEUE];
  if (slave <= 0) return;
  a[BP_SLAVE_QUEUE] = a[slave + ENTRY_LINK];
  DKUnlock(slave + SWA_WAKE);
}

// Under lock 210: reading is over for the unit; with overlapping units the
// master's place is free for the next unit while this one's last records
// are applied and it is secured: the reader, or a slave woken for it,
// takes it.
void EndReading() {
  StoreWord(BP_UNIT_TSS, 0);
  StoreWord(BP_COMMIT_SET_SHADOW_GTN, 0);
  if (gives_master_up) StoreWord(BP_MASTER_SLOT, 0);
}

// Under lock 210: the next record of the unit into `b`; false (reading
// over) at a read failure, reported and kept as the unit's result.
bool ReadNext(std::vector<int32_t>& b, int32_t tss) {
  int32_t* a = A();
  const int32_t table = LoadWord(BP_COMMIT_SET_TBL);
  b[SETRQ_TABLE] = table;
  b[SETRQ_TBL] = dkset::IsTableEntry(table) ? a[table + TBE_TBL] : 0;
  b[SETRQ_PAGE] = a[BP_COMMIT_SET_SHADOW_PID];
  b[SETRQ_POSITION] = a[BP_COMMIT_SET_SHADOW_POS];
  b[SETRQ_RC] = a[BP_COMMIT_SET_SHADOW_FUNCTION];
  int32_t rc = DKGXN0(b);
  // The ring goes on at the set's first page after its last.
  if (rc == SET_END && a[BP_COMMIT_SET_SHADOW_FUNCTION] == 0) {
    b[SETRQ_PAGE] = 0;
    b[SETRQ_POSITION] = 0;
    b[SETRQ_RC] = kFirstRead;
    rc = DKGXN0(b);
  }
  if (rc != 0) {
    int32_t value = rc == SET_END ? a[tss + TSS_GROUP] : rc;
    DKReportError(RoutineIndex("DKSSD1"), -87, DK_SEV_FATAL_REPEATED, &value,
                  LoadWord(BP_TRANS_DATABANK));
    KeepFailure(tss, rc < 0 ? rc : -87);
    EndReading();
    return false;
  }
  a[BP_COMMIT_SET_SHADOW_FUNCTION] = 0;
  a[BP_COMMIT_SET_SHADOW_PID] = b[SETRQ_PAGE];
  a[BP_COMMIT_SET_SHADOW_POS] = b[SETRQ_POSITION];
  return true;
}

}  // namespace

void DKOpenUnitReading(int32_t tss, bool gives_master_up_at_end) {
  int32_t* a = A();
  EnqdeqGuard guard(a + BP_LOCK_BACKGROUND_CS_READ);
  gives_master_up = gives_master_up_at_end;
  StoreWord(tss + TSS_APPLIED_RESULT, 0);
  a[BP_COMMIT_SET_SHADOW_FUNCTION] = kFirstRead;
  a[BP_COMMIT_SET_SHADOW_PID] = a[tss + TSS_FIRST_PAGE];
  a[BP_COMMIT_SET_SHADOW_POS] = a[tss + TSS_FIRST_POS];
  StoreWord(BP_UNIT_LOGGED, 0);
  StoreWord(BP_COMMIT_SET_SHADOW_GTN, a[tss + TSS_COMMIT]);
  StoreWord(BP_UNIT_TSS, tss);
}

void DKTakeUnitRecords(int32_t slot) {
  int32_t* a = A();
  std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
  for (;;) {
    DKLock(BP_LOCK_BACKGROUND_CS_READ);
    StoreWord(slot + SWA_APPLYING, 0);
    const int32_t tss = LoadWord(BP_UNIT_TSS);
    if (tss == 0 || !ReadNext(b, tss)) {
      DKUnlock(BP_LOCK_BACKGROUND_CS_READ);
      return;
    }
    const int32_t commit = a[tss + TSS_COMMIT];
    std::span<int32_t> record(b.data() + SETRQ_RECORD, static_cast<size_t>(b[SETRQ_LENGTH]));
    // A checkpoint unit passes records its first unit logged already.
    const int32_t unit_slot = LoadWord(BP_MASTER_SLOT);
    const bool checkpoint = unit_slot > 0 && a[unit_slot + SWA_PHASE] == TSS_CHECKPOINT;
    // The log takes the records in their order, the header last.
    const int32_t logged = checkpoint ? 0 : DKPTL1(record, commit, LoadWord(BP_UNIT_LOGGED) != 0);
    KeepFailure(tss, logged);
    if (logged > 0) StoreWord(BP_UNIT_LOGGED, 1);
    if (record.empty() || record[WS_CODE] == kCodeHeader) {
      // The commit that decides a prepared transaction marks its kept group
      // decided before the commit can be secured: once the restart skips
      // the commit, nothing else would. Applied alone, as the last record.
      if (!checkpoint && record.size() > static_cast<size_t>(WSH_START) && record[WSH_START] > 0 &&
          record[WSH_KIND] != kKindPrepared) {
        AwaitSlots(SlotsApplying(slot, 0));
        KeepFailure(tss, DKMarkPreparedDecided(record[WSH_PREPARE], record[WSH_START]));
      }
      EndReading();
      DKUnlock(BP_LOCK_BACKGROUND_CS_READ);
      return;
    }
    if (checkpoint) {
      // Owed again in their order, one at a time.
      KeepFailure(tss, DKPassCheckpointRecord(record, commit));
      DKUnlock(BP_LOCK_BACKGROUND_CS_READ);
      continue;
    }
    const int32_t mark = DKRowMark(record);
    if (mark == 0) {
      // Applied alone: after every record in hand, before any later one is
      // read (the lock is held throughout).
      AwaitSlots(SlotsApplying(slot, 0));
      KeepFailure(tss, DKPTR1(record, commit));
      DKUnlock(BP_LOCK_BACKGROUND_CS_READ);
      continue;
    }
    // Waited for with lock 210 held: a slot with a record in hand only
    // applies it and cannot take a later one meanwhile, so the wait ends
    // with that record (a mark left behind by a slot that is done passes at
    // once), and no two slots ever wait for each other.
    AwaitSlots(SlotsApplying(slot, mark));
    DKLock(slot + SWA_LOCK2);
    StoreWord(slot + SWA_APPLYING, mark);
    WakeHelper();
    DKUnlock(BP_LOCK_BACKGROUND_CS_READ);
    KeepFailure(tss, DKPTR1(record, commit));
    DKUnlock(slot + SWA_LOCK2);
  }
}

int32_t DKCloseUnitReading(int32_t slot, int32_t tss) {
  std::vector<int32_t> applying;
  {
    EnqdeqGuard guard(A() + BP_LOCK_BACKGROUND_CS_READ);
    applying = SlotsApplying(slot, 0);
  }
  // Every record of the unit was read before reading ended, so whatever a
  // slot still applies is the unit's; its result is kept before the slot
  // gives its work pair back.
  AwaitSlots(applying);
  return LoadWord(tss + TSS_APPLIED_RESULT);
}
