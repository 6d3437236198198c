// DKCPL1 and its steps: DKCPT1 copies one table entry into another of the
// same table on a shadow databank; DKCPI0 sets the read cursor, DKCPT0 takes
// one record and DKLOS0 appends it, already in key order, to a chain of
// full data pages, over which DKBIN1 builds the copy's new tree.
#include "dk/shadow_copy.h"

#include <cstring>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/bulk_load.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/page_tree.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"

namespace {

constexpr int32_t kIndexDKCPL1 = 65;
constexpr int32_t kModeGiven = 0, kModeEveryDependent = 1;

int32_t Report(int32_t rc, int32_t severity, int32_t value, int32_t databank = 0) {
  ReportPageError(kIndexDKCPL1, rc, severity, value, databank);
  return rc;
}

// The state of one copy: the source's cursor, the target's load block (for
// its lengths and the chain) and the chain being written.
struct Copy {
  int32_t source = 0, target = 0;
  std::vector<int32_t> cursor, load;
  LoadTable t;
  ChainWriter* writer = nullptr;
  bool chain_given = false;  // DKBIN1 took the chain (built or freed it)
};

// The read cursor over the source: from the lowest key, with the table's
// lengths. -43 when the target is no entry of the source's chain on a
// dependent databank.
int32_t DKCPI0(Copy& c) {
  const int32_t* a = Bufferpool();
  bool in_chain = false;
  for (int32_t t = a[c.source + TBE_NEXT], n = 0; t > 0 && n < LoadWord(BP_TABLE_COUNT);
       t = a[t + TBE_NEXT], ++n)
    if (t == c.target) in_chain = true;
  if (!in_chain || a[c.target + TBE_DATABANK] == a[c.source + TBE_DATABANK])
    return Report(-43, 2, a[c.source + TBE_TBL], a[c.target + TBE_DATABANK]);
  int32_t record = 0;
  int32_t b = GetRootEntry(c.source, GET_SHARED, kIndexDKCPL1, &record);
  if (b < 0) return b;
  const int32_t k = a[record + RE_KEY_LENGTH], length = a[record + RE_RECORD_LENGTH];
  DKPUT0(PUT_END_SHARED, b);
  if (k < 1 || length < k || length > LoadWord(BP_MAX_RECORD_LENGTH))
    return Report(-67, 2, length, a[c.source + TBE_DATABANK]);
  c.cursor.assign(static_cast<size_t>(CursorBlockWords(length)), 0);
  c.cursor[CUR_STATUS] = FET_AT_KEY;
  c.cursor[CUR_SCAN] = 1;
  c.cursor[CUR_TABLE] = c.source;
  c.cursor[CUR_TBL] = a[c.source + TBE_TBL];
  c.cursor[CUR_KEY_LENGTH] = k;
  c.cursor[CUR_RECORD_LENGTH] = length;
  // The copy takes the source's lengths; its own data page size.
  c.load.assign(static_cast<size_t>(LoadBlockWords(length)), 0);
  c.load[LOA_TABLE] = c.target;
  c.load[LOA_TBL] = a[c.target + TBE_TBL];
  c.load[LOA_KEY_LENGTH] = k;
  c.load[LOA_RECORD_LENGTH] = length;
  if (int32_t rc = OpenLoadTable(c.load.data(), kIndexDKCPL1, &c.t)) return rc;
  if (c.t.table_key_length != k || c.t.table_record_length != length)
    return Report(-67, 2, c.t.table_record_length, c.t.databank);
  return 0;
}

// Appends one record to the copy's chain.
int32_t DKLOS0(Copy& c, const uint8_t* record) {
  return c.writer->Append(record);
}

// One record of the source into the chain: 0, 4 at the end of the source
// once the copy's tree is built, or a negative code.
int32_t DKCPT0(Copy& c) {
  DKFET1(c.cursor.data());
  const int32_t status = c.cursor[CUR_STATUS];
  c.cursor[CUR_STATUS] = FET_NEXT;
  if (status < 0) return status;
  if (status == 0) {
    return DKLOS0(c, reinterpret_cast<const uint8_t*>(c.cursor.data() + CUR_RECORD));
  }
  if (status != kStatusEnd) return Report(-55, 3, status, c.t.databank);
  c.writer->Finish();
  c.load[LOA_CHAIN] = c.writer->first();
  c.load[LOA_STATUS] = kBuildReplace;
  c.load[LOA_RECORD] = c.t.index_size;
  DKBIN1(c.load.data());
  // A build that failed before it took the chain leaves it in the block.
  c.chain_given = c.load[LOA_CHAIN] == 0;
  if (c.load[LOA_STATUS] < 0) return c.load[LOA_STATUS];
  // The copy's former tree goes once its root entry names the new one.
  if (c.t.levels > 0)
    DKDRP0(c.t.databank, c.t.top, c.t.levels, c.t.index_size, c.t.table_data_size,
           c.t.table_key_length, c.t.kind);
  return kStatusEnd;
}

// The databank's dependent chain has an entry carrying an error word.
bool ChainInError(int32_t databank) {
  const int32_t* a = Bufferpool();
  DKLock(BP_LOCK_DATABANK_HASH);
  bool error = false;
  for (int32_t d = databank, n = 0; DKIsDatabankEntry(d) && n <= a[BP_DATABANK_COUNT];
       d = a[d + DBE_DEPENDENT], ++n)
    if (a[d + DBE_ERROR] != 0 || a[d + DBE_ERROR2] != 0) error = true;
  DKUnlock(BP_LOCK_DATABANK_HASH);
  return error;
}

// A request no caller should send: the status goes into the block before
// the report, which ends the server.
int32_t Internal(int32_t* block, int32_t rc, int32_t value, int32_t databank) {
  block[RQ_STATUS] = rc;
  return Report(rc, 7, value, databank);
}

int32_t Run(int32_t* block, const int32_t* second) {
  const int32_t* a = Bufferpool();
  const int32_t mode = block[RQ_STATUS];
  const int32_t source = block[RQ_TABLE];
  if (int32_t rc = CheckTableEntry(source, block[RQ_TBL], kIndexDKCPL1)) return rc;
  if (second == nullptr) return Report(-46, 2, 0);
  if (int32_t rc = CheckTableEntry(second[RQ_TABLE], second[RQ_TBL], kIndexDKCPL1)) return rc;
  const int32_t databank = a[source + TBE_DATABANK];
  if (second[RQ_DID] != a[databank + DBE_DID])
    return Internal(block, -43, second[RQ_DID], databank);
  if (mode != kModeGiven && mode != kModeEveryDependent)
    return Internal(block, -86, mode, databank);
  if (ChainInError(databank)) return 1;
  if (mode == kModeGiven) return DKCPT1(source, second[RQ_TABLE]);
  for (int32_t t = a[source + TBE_NEXT], n = 0; t > 0 && n < LoadWord(BP_TABLE_COUNT);
       t = a[t + TBE_NEXT], ++n) {
    if (a[t + TBE_DATABANK] == databank) continue;
    if (int32_t rc = DKCPT1(source, t); rc < 0) return rc;
  }
  return 0;
}

}  // namespace

int32_t DKCPT1(int32_t source, int32_t target) {
  const int32_t* a = Bufferpool();
  if (int32_t rc = CheckTableEntry(source, a[source + TBE_TBL], kIndexDKCPL1)) return rc;
  if (int32_t rc = CheckTableEntry(target, a[source + TBE_TBL], kIndexDKCPL1)) return rc;
  Copy c;
  c.source = source;
  c.target = target;
  if (int32_t rc = DKCPI0(c)) return rc;
  ChainWriter writer(c.t);
  c.writer = &writer;
  int32_t rc = 0;
  while ((rc = DKCPT0(c)) == 0) {
  }
  if (rc < 0) {
    // The chain written so far is no one's: the copy keeps its old tree.
    writer.Finish();
    if (!c.chain_given) FreeChain(c.t.databank, writer.first(), c.t.data_size);
    return rc;
  }
  return 0;
}

void DKCPL1(int32_t* block, void* argument) {
  block[RQ_STATUS] = Run(block, static_cast<const int32_t*>(argument));
}
