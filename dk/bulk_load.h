// Bulk loads: records sorted into runs of data pages by replacement
// selection (DKLOA1), the runs merged into one sorted chain (DKMRG1) and the
// index levels built over that chain and installed as the table's tree
// (DKBIN1). The three share the load block below.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

// Load block.
constexpr int LOA_CONTROL = 0;     // the load's control page (0 before the first record)
constexpr int LOA_CHAIN = 1;       // out of DKMRG1: first page of the sorted chain, 0 when none
constexpr int LOA_DUPLICATES = 2;  // out of the end of input and of DKMRG1: duplicate keys dropped
constexpr int LOA_STATUS = 6;      // in: 1 = end of input (DKBIN1: 10 or -2, below); status out
constexpr int LOA_TABLE = 10;
constexpr int LOA_TBL = 11;
constexpr int LOA_KEY_LENGTH = 12;
constexpr int LOA_RECORD_LENGTH = 13;
constexpr int LOA_PAGE_SIZE = 14;  // data page size, 0: the table's
constexpr int LOA_RECORD = 16;     // the record; DKBIN1 code 10: the index page size
constexpr int32_t LoadBlockWords(int32_t length) {
  return LOA_RECORD + (length + 3) / 4;
}
constexpr int32_t kLoadEndOfInput = 1;
// DKBIN1 codes in word 6: 10 replaces the table's tree by the loaded one
// (the caller releases the old tree) with the index page size of word 16;
// any other code keeps the records the table already has.
constexpr int32_t kBuildReplace = 10;
constexpr int32_t kBuildIndex = -2;

void DKLOA1(int32_t* block);
void DKMRG1(int32_t* block);
void DKBIN1(int32_t* block);

// Three-way comparison of two keys of `k` bytes, unsigned, eight bytes at a
// time: the sort and the merge compare keys many times per record.
inline int CompareLoadKeys(const uint8_t* a, const uint8_t* b, int32_t k) {
  int32_t i = 0;
  for (; i + 8 <= k; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) return __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
  }
  for (; i < k; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

// Shared by the three: the table's root entry as a load sees it.
struct LoadTable {
  int32_t databank = 0;
  int32_t key_length = 0;
  int32_t record_length = 0;
  int32_t data_size = 0;   // page size of the runs and the leaves
  int32_t index_size = 0;  // page size of the index levels
  int32_t top = 0;
  int32_t levels = 0;
  int32_t kind = 0;
  int32_t table_key_length = 0;  // the lengths of the table's own tree
  int32_t table_record_length = 0;
  int32_t table_data_size = 0;
  bool work = false;   // a work databank: pages are changed without write order
  int32_t method = 0;  // compression: the chain's pages are directory pages
};
// Checks the table entry and the block's lengths against the root entry
// and fills `t`. Returns 0 or a negative code reported under `routine`.
int32_t OpenLoadTable(const int32_t* block, int32_t routine, LoadTable* t);

// Reads a chain of data pages record by record through copies of its
// pages, freeing each page once copied when `consume` is set.
class ChainReader {
 public:
  ChainReader(const LoadTable& t, int32_t first, bool consume);
  // 0 with Record() the next record, 4 at the end, or a negative code.
  int32_t Next();
  const uint8_t* Record() const { return image_.data() + position_; }
  // Frees the pages not read yet (of a consuming reader).
  void FreeRest();

 private:
  int32_t Load(int32_t page);
  const LoadTable& t_;
  std::vector<uint8_t> image_;  // the plain records of the page being read
  int32_t next_ = 0, position_ = 0, used_ = 0;
  bool consume_, started_ = false;
};

// Writes records in key order into a new chain of full data pages.
class ChainWriter {
 public:
  explicit ChainWriter(const LoadTable& t) : t_(t) {}
  ~ChainWriter() { Finish(); }
  int32_t Append(const uint8_t* record);
  // Releases the last page; the chain is complete.
  void Finish();
  int32_t first() const { return first_; }

 private:
  const LoadTable& t_;
  int32_t first_ = 0, buffer_ = 0;
};

// Pages of a chain in the load's page form: fixed entries, or directory
// pages of compressed records. A sound page for the load's lengths; the
// records it holds; record i (from 0) copied or expanded into `out` (0 or
// -65); and a record appended (0), no room (1), or -67 for a record whose
// stored form fits no empty page.
bool ChainPageSound(const LoadTable& t, const uint8_t* page);
int32_t ChainPageRecords(const LoadTable& t, const uint8_t* page);
int32_t ChainRecord(const LoadTable& t, const uint8_t* page, int32_t i, uint8_t* out);
int32_t AppendToChainPage(const LoadTable& t, uint8_t* page, const uint8_t* record);

// A new data page of a chain (entry length `length`, empty, no next page),
// held; or a negative code.
int32_t NewChainPage(const LoadTable& t, int32_t length, int32_t* page);
// Frees every page of a chain from `first` (at most `limit` pages).
void FreeChain(int32_t databank, int32_t first, int32_t size);
// Gives back every page a load still owns: its runs, its directory, its
// work and control pages. Block word 0 becomes 0.
void AbandonLoad(int32_t* block, const LoadTable& t);

// The words of a load's state kept at the end of its work page.
constexpr int32_t kLoadStateBytes = 64;
constexpr int LS_DIR_FIRST = 0;  // first page of the run directory
constexpr int LS_DIR_LAST = 1;
constexpr int LS_RUNS = 2;
constexpr int LS_RUN_FIRST = 3;   // first page of the run being written
constexpr int LS_RUN_LAST = 4;    // its last page
constexpr int LS_LAST_VALID = 5;  // 1 once the run being written has a record
constexpr int LS_KEY_LENGTH = 6;
constexpr int LS_RECORD_LENGTH = 7;
constexpr int LS_DATA_SIZE = 8;
constexpr int LS_ENDED = 9;  // 1 after the end of input
// Control page words.
constexpr int CP_WORK_PAGE = 1;
constexpr int CP_PAIRS = 2;  // N + 1
constexpr int CP_FILL = 4;   // records placed so far
constexpr int CP_RUN = 5;    // run being written (0 before the first record)
constexpr int CP_FIRST_PAIR = 6;
constexpr int32_t kControlPageSize = 16384;
// Work page word 2: the duplicate count.
constexpr int WP_DUPLICATES = 2;
// Run directory pages (2048 bytes): word 2 the entries, word 3 the next
// directory page, the first page of each run from word 4.
constexpr int DIR_COUNT = 2;
constexpr int DIR_NEXT = 3;
constexpr int DIR_FIRST = 4;
constexpr int32_t kDirEntries = 2048 / 4 - DIR_FIRST;
