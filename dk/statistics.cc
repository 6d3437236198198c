// The statistics request (function code 31): the caller lists statistic codes
// and gets, for each, a status word and after status 1 a value word, read from
// the control area's counters and the page partitions.
#include <cstdint>
#include <vector>

#include "dk/control_area.h"
#include "dk/request.h"

namespace {

constexpr int32_t kMaxCodes = 256;
constexpr int32_t kFirstCodeWord = 3;
// Below this size the area has no room for its header and answers nothing.
constexpr int32_t kMinAreaWords = 259;

struct Answer {
  int32_t status;  // 1 with a value, -1 unavailable, -2 unknown code
  int32_t value;
};

// The partition of `page_size`, 0 when none; -1 when the chain leaves the area.
int32_t PartitionOf(int32_t page_size) {
  int32_t* w = Bufferpool();
  int32_t steps = 0;
  for (int32_t p = w[BP_FIRST_PARTITION]; p != 0; p = w[p + ENTRY_LINK]) {
    if (!BufferpoolHolds(p - 1, PART_WORDS) || ++steps > 3) return -1;
    if (w[p + PART_PAGE_SIZE] == page_size) return p;
  }
  return 0;
}

// Sum of partition word `field` over all partitions.
Answer PartitionSum(int32_t field) {
  int32_t* w = Bufferpool();
  int64_t sum = 0;
  int32_t steps = 0;
  for (int32_t p = w[BP_FIRST_PARTITION]; p != 0; p = w[p + ENTRY_LINK]) {
    if (!BufferpoolHolds(p - 1, PART_WORDS) || ++steps > 3) return {-1, 0};
    sum += w[p + field];
  }
  return {1, static_cast<int32_t>(sum)};
}

// Partition word `field` of one page size; `missing_is_zero` for the largest.
Answer PartitionField(int32_t page_size, int32_t field, bool missing_is_zero) {
  int32_t p = PartitionOf(page_size);
  if (p < 0) return {-1, 0};
  if (p == 0) return missing_is_zero ? Answer{1, 0} : Answer{-1, 0};
  return {1, Bufferpool()[p + field]};
}

Answer HashCount(int32_t table_word) {
  int32_t h = Bufferpool()[table_word];
  if (!BufferpoolHolds(h + HASH_IN_USE)) return {-1, 0};
  return {1, Bufferpool()[h + HASH_IN_USE]};
}

Answer BusyBackgroundThreads() {
  int32_t* w = Bufferpool();
  int32_t first = w[BP_FIRST_SWA], last = w[BP_LAST_SWA], busy = 0;
  if (first <= 0 || last < first) return {1, 0};
  for (int32_t s = first; s <= last; s += SWA_WORDS) {
    if (!BufferpoolHolds(s)) return {-1, 0};
    int32_t state = w[s + SWA_STATE];
    if (state != 0 && state != 2 && state != 3) ++busy;
  }
  return {1, busy};
}

Answer Word(int32_t index) {
  return {1, PoolWord(index).load(std::memory_order_relaxed)};
}

Answer AnswerCode(int32_t code) {
  if (code < -1 || code > 55 || code == 0 || code == 23) return {-2, 0};
  if (!Bufferpool() || BufferpoolWords() < kMinAreaWords || Bufferpool()[BP_SIZE] < kMinAreaWords)
    return {-1, 0};
  constexpr int32_t sizes[3] = {2048, 16384, 65536};
  switch (code) {
    case -1:
      return Word(BP_PENDING_BACKGROUND);
    case 1:
      return {1, 0};
    case 2:
      return Word(BP_PAGES_WRITTEN);
    case 3:
      return Word(BP_EXTENDS);
    case 4:
      return PartitionSum(PART_STAT_REQUESTS);
    case 5:
    case 6:
    case 7:
      return PartitionField(sizes[code - 5], PART_STAT_REQUESTS, code == 7);
    case 8:
      return PartitionSum(PART_STAT_FAULTS);
    case 9:
    case 10:
    case 11:
      return PartitionField(sizes[code - 9], PART_STAT_FAULTS, code == 11);
    case 12:
      return PartitionSum(PART_STAT_SWAPPED);
    case 13:
    case 14:
    case 15:
      return PartitionField(sizes[code - 13], PART_STAT_SWAPPED, code == 15);
    case 16:
      return Word(BP_COMMITS);
    case 17:
      return Word(BP_READ_COMMITS);
    case 18:
      return Word(BP_TRANSACTION_CHECKS);
    case 19:
      return Word(BP_TRANSACTION_ABORTS);
    case 20:
      return Word(BP_PENDING_RESTARTS);
    case 21:
      return Word(BP_STAT_174);
    case 22:
      return Word(BP_STAT_175);
    case 24:
      return BusyBackgroundThreads();
    case 25:
      return Word(BP_STATUS);
    case 26:
      return HashCount(BP_DATABANK_HASH);
    case 27:
      return HashCount(BP_TABLE_HASH);
    case 28:
      return HashCount(BP_TSS_HASH);
    case 29:
      return Word(BP_CANCELLED_REQUESTS);
    case 51:
      return Word(BP_COMMIT_SET_SIZE);
    case 55:
      return {1, Bufferpool()[BP_TSS_OVERFLOWED] - Bufferpool()[BP_TSS_DELETED]};
    case 0:
    case 23:
      return {-2, 0};
    default:  // 30..50, 52..54
      return {1, 0};
  }
}

}  // namespace

void DKGBS1(int32_t* block) {
  if (!block) return;
  const int32_t n = block[0];
  if (n <= kFirstCodeWord || n - kFirstCodeWord > kMaxCodes) {
    block[0] = DK_RC_BAD_PARAMETER;
    return;
  }
  // The answers overwrite the codes as they go, so the codes are read first.
  std::vector<int32_t> codes(block + kFirstCodeWord, block + n);
  int32_t at = kFirstCodeWord;
  for (int32_t code : codes) {
    Answer a = AnswerCode(code);
    block[at++] = a.status;
    if (a.status == 1) block[at++] = a.value;
  }
  block[0] = 4 + (at - kFirstCodeWord);
}
