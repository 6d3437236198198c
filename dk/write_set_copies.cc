// The kinds of a write set at its commit (one data page, several named by
// one list page, or more) and, for the largest kind, its copies: the write
// set is copied into a set of its own on every usable copy of its
// databank, so that no single databank holds a large commit's only copy
// before it reaches the commit set.
#include <vector>

#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "dk/set_pages.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"

namespace {

using dkset::RoutineIndex;

std::vector<int32_t> SetBlock(int32_t table) {
  std::vector<int32_t> b(SETRQ_RECORD + 4, 0);
  b[SETRQ_TABLE] = table;
  b[SETRQ_TBL] = Bufferpool()[table + TBE_TBL];
  return b;
}

// A copy takes a set of its own: online, its file open, no backup.
bool TakesCopy(int32_t databank) {
  const int32_t* a = Bufferpool();
  return DKIsDatabankEntry(databank) && a[databank + DBE_OFFLINE] == 0 &&
         a[databank + DBE_CHANNEL] != 0 && a[databank + DBE_KIND] != DBT_BACKUP;
}

// The set on `copy` emptied, its root entry made when it has none, with
// the write set's page sizes.
int32_t PrepareTarget(int32_t write_set, const dkset::Set& s, int32_t table, int32_t copy) {
  int32_t* a = Bufferpool();
  if (a[table + TBE_ROOT_PAGE] > 0) {
    // A work table emptied for the next transaction kept its copy's pages.
    std::vector<int32_t> drop = SetBlock(table);
    return DKDXT0(drop);
  }
  int32_t make[CRT_WORDS] = {};
  make[RQ_TYPE] = 10 * kKindSet;
  make[RQ_TABLE] = write_set;
  make[RQ_TBL] = -1;
  make[RQ_INDEX_PAGE_SIZE] = s.list_size;
  make[RQ_DATA_PAGE_SIZE] = s.data_size;
  return DKCRT0(make, copy);
}

}  // namespace

int32_t DKWriteSetKind(int32_t write_set, int32_t data_pages, int32_t* kind) {
  std::vector<int32_t> b = SetBlock(write_set);
  dkset::Set s;
  if (int32_t rc = dkset::OpenSet(b, RoutineIndex("DKCXT0"), &s)) return rc;
  if (s.first_list != s.last_list || int64_t{data_pages} * 8 > s.list_size)
    *kind = kWriteSetSpread;
  else
    *kind = data_pages <= 1 ? kWriteSetOnePage : kWriteSetOneList;
  return 0;
}

int32_t DKCopyWriteSet(int32_t write_set, int32_t commit) {
  int32_t* a = Bufferpool();
  std::vector<int32_t> source = SetBlock(write_set);
  dkset::Set s;
  if (int32_t rc = dkset::OpenSet(source, RoutineIndex("DKCXT0"), &s)) return rc;
  const int32_t limit = LoadWord(BP_TABLE_COUNT);
  int32_t n = 0;
  for (int32_t t = a[write_set + TBE_NEXT]; dkset::IsTableEntry(t) && n < limit;
       t = a[t + TBE_NEXT], ++n) {
    const int32_t copy = a[t + TBE_DATABANK];
    if (!TakesCopy(copy)) continue;
    if (int32_t rc = PrepareTarget(write_set, s, t, copy); rc < 0) return rc;
    std::vector<int32_t> target = SetBlock(t);
    source[SETRQ_RC] = commit;
    if (int32_t rc = DKCPX0(source, target); rc < 0) return rc;
  }
  return n;
}
