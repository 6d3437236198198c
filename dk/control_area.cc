// Start and stop of the databank kernel: the start checks, the layout of the
// control area from its header up and its page buffers from the top down, the
// size a set of parameters needs, the system databank open, and the stop of
// background threads and databanks. Also the hash-table routines.
#include "dk/control_area.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "dk/request.h"
#include "dk/routine_names.h"
#include "dk/transaction_cache.h"
#include "dk/transactions.h"
#include "platform/databank_io.h"
#include "platform/enqdeq.h"
#include "platform/host_services.h"
#include "platform/server_clock.h"

std::atomic<int32_t*> dk_control_area{nullptr};

namespace {

int32_t pool_words = 0;
size_t pool_bytes = 0;

constexpr size_t kAreaAlignment = 4096;
constexpr int32_t kPageSizes[3] = {2048, 16384, 65536};
constexpr int32_t kPageUnits[3] = {1, 8, 32};
constexpr int32_t kMinDatabanks = 4, kMinTables = 4, kMinTransactions = 10;
constexpr int32_t kFixedWords = 5638;  // besides 62 words a databank

void ReleaseArea() {
  if (int32_t* area = dk_control_area.exchange(nullptr)) {
    enqdeq_set_dump_base('V', nullptr);
    munmap(area, pool_bytes);
  }
  pool_words = 0;
  pool_bytes = 0;
}

// Reserves a zeroed area of `words` words; MAP_NORESERVE commits pages only
// as they are touched, and an anonymous mapping starts on a page boundary.
bool ReserveArea(int32_t words) {
  ReleaseArea();
  size_t bytes = static_cast<size_t>(words) * 4;
  bytes = (bytes + kAreaAlignment - 1) / kAreaAlignment * kAreaAlignment;
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return false;
  pool_words = words;
  pool_bytes = bytes;
  dk_control_area.store(static_cast<int32_t*>(p));
  // The ENQ/DEQ dump marks a thread parked on one of the lock pairs by its
  // word in this area.
  enqdeq_set_dump_base('V', static_cast<int32_t*>(p));
  return true;
}

struct Params {
  int32_t size, transactions, databanks, tables;
  int32_t pages[3];
  int32_t request, background, io_servers, users, net;
  int32_t partitions;  // 3, or 2 without 65536-byte pages
};

Params Read(const int32_t* counts, const int32_t* pages, const int32_t* threads) {
  Params p{};
  p.size = counts[CNT_SIZE];
  p.transactions = counts[CNT_TRANSACTIONS];
  p.databanks = counts[CNT_DATABANKS];
  p.tables = counts[CNT_TABLES];
  for (int i = 0; i < 3; ++i) p.pages[i] = pages[i];
  p.request = threads[THR_REQUEST];
  p.background = threads[THR_BACKGROUND];
  p.io_servers = threads[THR_IO_SERVERS];
  p.users = threads[THR_USERS];
  p.net = threads[THR_NET_REQUEST];
  p.partitions = p.pages[PG_64K] > 0 ? 3 : 2;
  return p;
}

std::string Num(int64_t v) {
  return std::to_string(v);
}

// The start error record: a title, an optional second line, the message and
// any further lines.
void StartError(const char* title, bool dksta9, const std::vector<std::string>& message) {
  std::vector<std::string> lines = {title};
  if (dksta9) lines.push_back("         Error when initializing bufferpool (DKSTA9)");
  for (size_t i = 0; i < message.size(); ++i)
    lines.push_back(i == 0 ? "         " + message[i] : message[i]);
  std::string area;
  for (const std::string& l : lines) area += l + '\0';
  StatusPair status;
  WriteServerOutput(&status, 5, area.data(), static_cast<int>(lines.size()));
}

// The checks that depend only on the counts and threads, in start order
// (databanks to net request threads, then the thread limit and the threads
// each partition's pages allow). 0, or the start error with its message.
int32_t CheckCounts(const Params& p, std::vector<std::string>* message) {
  auto fail = [&](int32_t rc, std::string text) {
    message->assign(1, std::move(text));
    return rc;
  };
  if (p.databanks < kMinDatabanks)
    return fail(-3, "Too few concurrently opened databanks specified = " + Num(p.databanks));
  if (p.tables < kMinTables)
    return fail(-4, "Too few concurrently opened tables specified = " + Num(p.tables));
  if (p.transactions < kMinTransactions)
    return fail(-4, "Too few concurrent transactions specified = " + Num(p.transactions));
  if (p.request < 1)
    return fail(-5, "Invalid number of request threads specified = " + Num(p.request));
  if (p.background < 1)
    return fail(-6, "Invalid number of background threads specified = " + Num(p.background));
  if (p.io_servers < 0)
    return fail(-5, "Invalid number of I/O servers specified = " + Num(p.io_servers));
  if (p.users < 1) return fail(-5, "Invalid number of users specified = " + Num(p.users));
  if (p.net < 0) return fail(-5, "Invalid number of net request threads specified = " + Num(p.net));
  return 0;
}

int32_t CheckThreads(const Params& p, std::vector<std::string>* message) {
  const int64_t threads = int64_t{p.request} + p.background + p.net;
  if (threads + p.partitions > kMaxServerThreads) {
    std::string text = p.net > 0 ? "Too many net request, reques and background threads "
                                   "specified: " +
                                       Num(p.net) + "+"
                                 : "Too many request and background threads specified: ";
    text += Num(p.request) + "+" + Num(p.background) +
            ", max = " + Num(kMaxServerThreads - p.partitions);
    message->assign(1, text);
    return -8;
  }
  bool too_few = false;
  for (int i = 0; i < p.partitions; ++i)
    if ((int64_t{p.pages[i]} - 1) / 5 < threads) too_few = true;
  if (!too_few) return 0;
  std::string text = p.net > 0 ? "Too many net request, request and background threads "
                                 "specified: " +
                                     Num(p.net) + "+"
                               : "Too many request and background threads specified: ";
  text += Num(p.request) + "+" + Num(p.background) + "=" + Num(threads);
  message->assign(1, text);
  for (int i = 0; i < p.partitions; ++i)
    message->push_back("         " + Num(p.pages[i]) + " pages of size " + Num(2 * kPageUnits[i]) +
                       "K allows a maximum of  " + Num((int64_t{p.pages[i]} - 1) / 5) + " servers");
  return -10;
}

int64_t OddAtOrAfter(int64_t index) {
  return index | 1;
}

// Puts `count` entries of `stride` words from `first` on the free list of the
// hash table at `table`, the first entry at the head of the list.
void FreeEntries(int32_t table, int32_t first, int32_t count, int32_t stride) {
  for (int32_t i = count - 1; i >= 0; --i) DKHML0(table, first + i * stride);
}

// Clears the hash table at `hash`, puts its `count` entries on its free list
// and fills the header words: the table's index at `hash_word`, and count,
// first and last entry from `count_word` on.
void SetUpTable(int32_t hash_word, int32_t count_word, int64_t hash, int64_t first, int32_t count,
                int32_t stride) {
  Bufferpool()[hash_word] = static_cast<int32_t>(hash);
  DKHMC0(Bufferpool()[hash_word], DKHashWords(count));
  FreeEntries(Bufferpool()[hash_word], static_cast<int32_t>(first), count, stride);
  Bufferpool()[count_word] = count;
  Bufferpool()[count_word + 1] = static_cast<int32_t>(first);
  Bufferpool()[count_word + 2] = static_cast<int32_t>(first) + (count - 1) * stride;
}

// Where each piece of a partition goes.
struct PartitionPlan {
  int64_t index = 0, groups = 1, group_table = 0, hash = 0, hash_size = 0, first_bcb = 0;
};

// Where everything below the page buffers goes, planned in 64 bits before
// anything is written. The start lays the area out by this plan and the
// needed size is read from it, so the two never disagree.
struct LayoutPlan {
  int64_t first_swa = 0, last_swa = 0;
  int64_t db_hash = 0, db_first = 0, tss_hash = 0, tss_first = 0;
  int64_t tbl_hash = 0, tbl_first = 0, tbl_end = 0, first_partition = 0;
  int64_t end = 0;           // one past the last word of the structures
  int64_t buffer_words = 0;  // words of all page buffers
  int64_t allowance = 0;     // asynchronous I/Os left once the groups are made
  PartitionPlan part[3];
};

// For parameters that pass the count and thread checks.
LayoutPlan PlanLayout(const Params& p) {
  LayoutPlan l;
  l.allowance = kMaxServerThreads - p.request - p.background - p.partitions;
  l.first_swa = BP_FIRST_SWA_INDEX;
  l.last_swa = l.first_swa + int64_t{SWA_WORDS} * (p.background - 1);
  l.db_hash = l.first_swa + int64_t{SWA_WORDS} * p.background;
  l.db_first = OddAtOrAfter(l.db_hash + DKHashWords(p.databanks));
  l.tss_hash = l.db_first + int64_t{DBE_WORDS} * p.databanks;
  l.tss_first = OddAtOrAfter(l.tss_hash + DKHashWords(p.transactions));
  l.tbl_hash = l.tss_first + int64_t{TSS_WORDS} * p.transactions;
  l.tbl_first = OddAtOrAfter(l.tbl_hash + DKHashWords(p.tables));
  l.tbl_end = l.tbl_first + int64_t{TBE_WORDS} * p.tables - 1;
  l.first_partition = OddAtOrAfter(l.tbl_end + 1);
  int64_t next = l.first_partition + int64_t{PART_WORDS} * p.partitions - 1;
  const int64_t s =
      std::max<int64_t>(128, 5 * (p.request + 5 * std::min(p.request, 4) + p.background + p.net));
  for (int i = 0; i < p.partitions; ++i) {
    PartitionPlan& pp = l.part[i];
    const int64_t pages_here = p.pages[i];
    pp.index = l.first_partition + int64_t{PART_WORDS} * i;
    if (pages_here >= 2 * s && l.allowance > 0) {
      int64_t c = s + 8 * ((pages_here - s) / s) + 8;
      pp.groups = std::min((pages_here - c) / c + 1, l.allowance + 1);
      l.allowance -= pp.groups - 1;
    }
    pp.group_table = OddAtOrAfter(next + 1);
    next = pp.group_table - 1 + int64_t{GROUP_WORDS} * pp.groups;
    pp.hash_size = pages_here % 62 == 0 ? pages_here - 1 : pages_here;
    pp.hash = OddAtOrAfter(next);
    next = pp.hash + std::max<int64_t>(pp.hash_size, 0);
    pp.first_bcb = OddAtOrAfter(next + 1);
    next = pp.first_bcb + int64_t{BCB_WORDS} * pages_here - 1;
    l.buffer_words += pages_here * (kPageSizes[i] / 4);
  }
  l.end = next;
  return l;
}

// The smallest size the start accepts for a plan: the structures and the
// buffers above them, at least the fixed minimum, and a multiple of 512
// words (2048 bytes) so that every buffer is aligned.
int64_t NeededWords(const Params& p, const LayoutPlan& l) {
  int64_t size = std::max(l.end + l.buffer_words, int64_t{DBE_WORDS} * p.databanks + kFixedWords);
  return (size + 511) / 512 * 512;
}

}  // namespace

const int32_t DKBLK1[] = {DKBLK1_SENTINEL, 4, 32, 16, 16256, 2048, 1, -1, 1, 4, 5, 2, 3, 1, 2, 3, 4,
                          6, 7, 9, 10, 11, 3, 1, 2, 4, 7, -1, 1, 0, 0, 1, -1, DKBLK1_NO_VALUE,
                          // page sizes, units per page, maximum record length by page size
                          2048, 16384, 65536, 1, 8, 32, 0, 3000, 16000};

int32_t BufferpoolWords() {
  return pool_words;
}

bool BufferpoolHolds(int64_t index, int64_t words) {
  return Bufferpool() && index >= 0 && words >= 0 && index + words <= pool_words;
}

void DKLock(int32_t pair) {
  enqdeq_take(Bufferpool() + pair);
}
void DKUnlock(int32_t pair) {
  enqdeq_give(Bufferpool() + pair);
}

int32_t DKHashWords(int32_t entries) {
  return std::max(entries / 3, 4);
}

bool DKIsDatabankEntry(int32_t index) {
  if (!Bufferpool() || pool_words <= BP_DATABANK_LAST) return false;
  int32_t first = Bufferpool()[BP_DATABANK_FIRST], last = Bufferpool()[BP_DATABANK_LAST];
  return first > 0 && index >= first && index <= last && (index - first) % DBE_WORDS == 0 &&
         BufferpoolHolds(index - 1, DBE_WORDS);
}

void DKSTA9(int32_t* rc, const char* name, int32_t name_length, const int32_t* counts,
            const int32_t* pages, const int32_t* threads, int32_t check_option) {
  if (!rc) return;
  std::vector<std::string> message;
  auto fail = [&](int32_t code) {
    StartError("ZAVOR/DB Startup Error", true, message);
    ReleaseArea();
    *rc = code;
  };
  if (!name || name_length < 1 || name_length > BP_DBNAME_BYTES) {
    message = {"Database name must be between 1 and 256 characters"};
    return fail(-1);
  }
  if (!counts || !pages || !threads) {
    message = {"The specified bufferpool size was too small = 0"};
    return fail(-2);
  }
  const Params p = Read(counts, pages, threads);
  if (int32_t code = CheckCounts(p, &message)) return fail(code);
  if (check_option != 0 && check_option != 1) {
    message = {"Invalid databank check option = " + Num(check_option) +
               ", 0 = Quick and 1 = Complete check"};
    return fail(-7);
  }
  const std::string too_small = "The specified bufferpool size was too small = " + Num(p.size);
  if (int64_t{p.size} < int64_t{DBE_WORDS} * p.databanks + kFixedWords) {
    message = {too_small};
    return fail(-2);
  }
  if (int32_t code = CheckThreads(p, &message)) return fail(code);
  const LayoutPlan l = PlanLayout(p);
  const int64_t threads_in_use = int64_t{p.request} + p.background + p.net;
  // The layout below the buffers must not reach into them.
  if (int64_t{p.size} - l.buffer_words < l.end) {
    message = {too_small};
    return fail(-2);
  }
  const int32_t align = std::min<int32_t>(mdr_system_limit(4), 2048);
  if ((int64_t{p.size} * 4) % align != 0) {
    // The topmost buffer starts at size - page words; all page sizes are
    // multiples of the alignment, so only the size can put it off.
    message = {"Page buffer with index " + Num(p.size - kPageSizes[0] / 4 + 1) +
               " is not aligned on a " + Num(align) + " byte boundary"};
    return fail(-2);
  }
  if (!ReserveArea(p.size)) {
    message = {too_small};
    return fail(-2);
  }

  int32_t* w = Bufferpool();
  memcpy(w + BP_DBNAME, name, static_cast<size_t>(name_length));
  w[BP_DBNAME_LENGTH] = name_length;
  char start_time[16];
  mdr_local_time_text(start_time);
  memcpy(w + BP_START_TIME, start_time, sizeof start_time);
  w[BP_LAST_OS_ERROR] = -1;
  w[BP_SIZE] = p.size;
  w[BP_VERSION] = BP_VERSION_VALUE;
  w[BP_STATUS] = BP_STATUS_UP;
  w[BP_CHECK_OPTION] = check_option;
  for (int32_t pair = BP_LOCK_LOG; pair <= BP_LOCK_RESTART_SET_CREATE; pair += 2) {
    if (pair == BP_LEVEL1_ENTRIES_LEFT) continue;  // a counter, not a pair
    int32_t units = 1;
    if (pair == BP_LOCK_GROUP_COMMIT_STOPPER) units = p.request / 4 + 1;
    if (pair == BP_LOCK_KERNEL_WAIT_SYNCH) units = 0;
    enqdeq_init_semaphore(w + pair, units);
  }
  w[BP_GROUP_COMMIT_SLEEP] = 2;
  w[BP_TSS_OVERFLOW_LIMIT] = static_cast<int32_t>(
      std::max<int64_t>(250, int64_t{p.transactions} - 4 * std::max(p.users, 250)));
  w[BP_TSS_OVERFLOW_CHUNK] = 150;
  w[BP_BACKGROUND_FLUSH_RATE] = 50;
  w[BP_POSTPROC_FLUSH_LIMIT] = 400;
  w[BP_HALF_BACKGROUND] = std::max(1, p.background / 2);

  for (int64_t slot = l.first_swa; slot <= l.last_swa; slot += SWA_WORDS) {
    enqdeq_init_semaphore(w + slot + SWA_LOCK1, 1);
    enqdeq_init_semaphore(w + slot + SWA_WAKE, 0);
    enqdeq_init_semaphore(w + slot + SWA_LOCK2, 1);
  }
  w[BP_FIRST_SWA] = static_cast<int32_t>(l.first_swa);
  w[BP_LAST_SWA] = static_cast<int32_t>(l.last_swa);

  for (int32_t i = 0; i < p.databanks; ++i) {
    int32_t e = static_cast<int32_t>(l.db_first) + i * DBE_WORDS;
    enqdeq_init_semaphore(w + e + DBE_LOCK1, 1);
    enqdeq_init_semaphore(w + e + DBE_LOCK2, 1);
    enqdeq_init_semaphore(w + e + DBE_WAIT, 0);
    enqdeq_init_semaphore(w + e + DBE_LOCK3, 1);
  }
  SetUpTable(BP_DATABANK_HASH, BP_DATABANK_COUNT, l.db_hash, l.db_first, p.databanks, DBE_WORDS);
  SetUpTable(BP_TSS_HASH, BP_TSS_COUNT, l.tss_hash, l.tss_first, p.transactions, TSS_WORDS);
  SetUpTable(BP_TABLE_HASH, BP_TABLE_COUNT, l.tbl_hash, l.tbl_first, p.tables, TBE_WORDS);
  w[BP_TABLE_END] = static_cast<int32_t>(l.tbl_end);

  w[BP_FIRST_PARTITION] = static_cast<int32_t>(l.first_partition);
  int32_t top = p.size;
  const int32_t servers = p.request + p.net;
  for (int i = 0; i < p.partitions; ++i) {
    const PartitionPlan& pp = l.part[i];
    const int32_t x = static_cast<int32_t>(pp.index);
    const int32_t pages_here = p.pages[i];
    const bool last = i == p.partitions - 1;
    if (!last) w[x + ENTRY_LINK] = x + PART_WORDS;
    w[x + PART_PAGE_SIZE] = kPageSizes[i];
    w[x + PART_UNITS] = kPageUnits[i];
    w[x + PART_PAGE_WORDS] = (kPageSizes[i] - 32) / 4;
    w[x + PART_MAX_RECORD] = last ? w[x + PART_PAGE_WORDS] : (kPageSizes[i] - 16) / 10;
    w[x + PART_GROUPS] = static_cast<int32_t>(pp.groups);
    w[x + PART_GROUP_PAGES] = static_cast<int32_t>(pages_here / pp.groups);
    w[x + PART_GROUP_TABLE] = static_cast<int32_t>(pp.group_table);
    w[x + PART_HASH] = static_cast<int32_t>(pp.hash);
    w[x + PART_HASH_SIZE] = static_cast<int32_t>(pp.hash_size);
    w[x + PART_PAGES] = pages_here;
    for (int64_t g = 0; g < pp.groups; ++g)
      enqdeq_init_semaphore(w + pp.group_table + g * GROUP_WORDS + GROUP_LOCK, 1);
    const int32_t page_words = kPageSizes[i] / 4;
    for (int32_t k = 0; k < pages_here; ++k) {
      const int32_t bcb = static_cast<int32_t>(pp.first_bcb) + k * BCB_WORDS;
      top -= page_words;
      w[bcb + BCB_BUFFER] = top + 1;  // a buffer is named by its word 1
      w[top] = bcb;                   // and its word 0 names its BCB
    }
    w[x + PART_LAST_BCB] =
        pages_here > 0 ? static_cast<int32_t>(pp.first_bcb) + (pages_here - 1) * BCB_WORDS : 0;
    if (pages_here > 0) InitBufferPool(x);
    w[x + PART_TUNING_READERS] = std::min(servers, 4);
    const int64_t spare = pages_here / pp.groups - 5 * threads_in_use;
    w[x + PART_TUNING_FANIN] = static_cast<int32_t>(
        std::max<int64_t>(5, servers >= 4 ? spare / 4 : spare / std::max(servers, 1)));
    if (last) {
      w[BP_MAX_PAGE_SIZE] = kPageSizes[i];
      w[BP_MAX_RECORD_LENGTH] = w[x + PART_MAX_RECORD];
    }
  }
  w[BP_LOWEST_BUFFER] = top;
  w[BP_LEVEL1_ENTRIES_LEFT] = p.request;
  w[BP_NET_REQUEST_THREADS] = p.net;
  w[BP_REQUEST_THREADS] = p.request;
  w[BP_BACKGROUND_THREADS] = p.background;
  w[BP_IO_SERVERS] = p.io_servers;
  w[BP_ASYNC_IO_LEFT] = static_cast<int32_t>(l.allowance);
  // The commit validation reads the transaction cache.
  DKInstallTransactionCacheChecks();
  DKOpenRequests();
  *rc = 0;
}

void DKCheckParams(int32_t* rc, int32_t* counts, const int32_t* pages, const int32_t* threads) {
  if (!rc) return;
  if (!counts || !pages || !threads) {
    *rc = -2;
    return;
  }
  const Params p = Read(counts, pages, threads);
  std::vector<std::string> message;
  int32_t code = CheckCounts(p, &message);
  if (code == 0) code = CheckThreads(p, &message);
  if (code != 0) {
    StartError("Zavor SQL Startup Error", false, message);
    counts[CNT_SIZE] = 0;
    *rc = code;
    return;
  }
  const int64_t size = NeededWords(p, PlanLayout(p));
  if (size > INT32_MAX) {
    StartError("Zavor SQL Startup Error", false,
               {"The specified bufferpool size was too small = " + Num(size)});
    counts[CNT_SIZE] = 0;
    *rc = -2;
    return;
  }
  counts[CNT_SIZE] = static_cast<int32_t>(size);
  *rc = 0;
}

void DKOSY9(int32_t* rc) {
  if (!rc) return;
  if (!Bufferpool()) {
    *rc = -1 - DK_SQL_ERROR_BASE;
    return;
  }
  // An open request has the words of a DKCRD1 request: mode, size and
  // databank, LID, SEQNO, type, file name (256 bytes), databank name (128).
  int32_t block[CRD_WORDS] = {};
  block[CRD_DID] = 1;
  block[CRD_SEQNO] = -1;
  block[CRD_TYPE] = 3;  // the type the system databank is opened with
  char file[256], bank[DBE_NAME_BYTES];
  memset(file, ' ', sizeof file);
  memset(bank, ' ', sizeof bank);
  memcpy(file, "sysdb9.dbf", 10);
  memcpy(bank, "SYSDB", 5);
  memcpy(block + CRD_FILE, file, sizeof file);
  memcpy(block + CRD_NAME, bank, sizeof bank);
  DKCallEntry(DKF_OPD1, block, nullptr);
  int32_t code = block[CRD_MODE];
  if (code == 0) {
    *rc = 0;
    return;
  }
  if (code == -2) {
    int32_t io[IO_REQUEST_WORDS] = {IO_OPEN_READ_ONLY, 0, 0, 0, 0};
    char old[kIoNameLength];
    memset(old, ' ', sizeof old);
    memcpy(old, "SYSDB7", 6);
    mdrdmo(io, old);
    if (io[IO_RC] == 0) {
      io[IO_RC] = 0;
      mdrdmc(io);
      code = -92;
      DKReportError(DKR_DKOSY9, code, DK_SEV_ERROR, nullptr, 0);
    }
  }
  PoolWord(BP_STATUS).store(BP_STATUS_DOWN);
  *rc = code - DK_SQL_ERROR_BASE;
}

void DKStopBackground(int32_t* rc) {
  if (rc) *rc = 0;
  if (!Bufferpool()) return;
  PoolWord(BP_STATUS).store(BP_STATUS_SHUTDOWN);
  for (int32_t s = Bufferpool()[BP_FIRST_SWA]; s > 0 && s <= Bufferpool()[BP_LAST_SWA];
       s += SWA_WORDS)
    DKUnlock(s + SWA_WAKE);
}

namespace {

// Wakes the entries of a databank's dependent chain whose check waits (state
// 16): the state says released (19) before the wait pair lets the waiter go,
// so the woken thread reads 19. The caller holds the databank lock.
void WakeWaitingChain(int32_t head) {
  int32_t* w = Bufferpool();
  for (int32_t d = head, n = 0; d > 0 && n <= w[BP_DATABANK_COUNT]; d = w[d + DBE_DEPENDENT], ++n) {
    if (!DKIsDatabankEntry(d)) break;
    if (PoolWord(d + DBE_STATE).load() == DBE_STATE_WAITING) {
      PoolWord(d + DBE_STATE).store(DBE_STATE_RELEASED);
      DKUnlock(d + DBE_WAIT);
    }
  }
}

// Wakes every databank whose check still waits: a walk that ended at a
// failed close left some unvisited, and their waiters must leave the kernel
// before the area goes.
void WakeAllWaiting() {
  DKLock(BP_LOCK_DATABANK_HASH);
  int32_t state[4] = {0, Bufferpool()[BP_DATABANK_HASH], 0, 0};
  for (int32_t e = DKHMS0(state); e > 0; e = DKHMS0(state)) WakeWaitingChain(e);
  DKUnlock(BP_LOCK_DATABANK_HASH);
}

}  // namespace

void DKShutdown(int32_t* rc) {
  if (rc) *rc = 0;
  int32_t* w = Bufferpool();
  if (!w) return;
  // Waits until every background thread has left; never given back.
  if (PoolWord(BP_STATUS).load() == BP_STATUS_SHUTDOWN) DKLock(BP_LOCK_BACKGROUND_BARRIER);
  // Nobody is left to apply or secure a synchronous commit.
  DKEndSynchronousWaits();
  int32_t code = 0;
  // Each round closes one databank; a close takes the entry out of the
  // table, so the walk starts afresh and ends when the table is empty. The
  // databank of the transaction log (kind 4) is closed last. A close that
  // fails (a page it could not write) still gives its entry and file back,
  // and the walk goes on: a databank left open here would keep its file
  // open and locked after the area is gone. The first failure is answered.
  for (int32_t round = 0; round <= w[BP_DATABANK_COUNT]; ++round) {
    DKLock(BP_LOCK_DATABANK_HASH);
    int32_t state[4] = {0, w[BP_DATABANK_HASH], 0, 0};
    int32_t chosen = 0, trans = 0;
    for (int32_t e = DKHMS0(state); e > 0; e = DKHMS0(state)) {
      if (w[e + DBE_KIND] == DBE_KIND_TRANS) {
        if (!trans) trans = e;
      } else {
        chosen = e;
        break;
      }
    }
    if (!chosen) chosen = trans;
    if (chosen) WakeWaitingChain(chosen);
    DKUnlock(BP_LOCK_DATABANK_HASH);
    if (!chosen) break;
    int32_t close[4] = {-22, chosen, -1, w[chosen + DBE_SEQNO]};
    DKCallEntry(DKF_CLD1, close, nullptr);
    if (code == 0) code = close[0];
  }
  int32_t expected = BP_STATUS_SHUTDOWN;
  PoolWord(BP_STATUS).compare_exchange_strong(expected, BP_STATUS_DOWN);
  if (rc) *rc = code;
  // The area stays until no request is inside: new ones are turned away,
  // waiters still parked are woken, and the shutdown waits for the rest to
  // leave, as the barrier above waits for the background threads.
  WakeAllWaiting();
  DKCloseRequests();
  ReleaseArea();
}

void DKGetSetting(int32_t* word) {
  if (!word) return;
  const int32_t selector = *word;
  if (!Bufferpool() || selector < 1 || selector > 3) {
    *word = -1;
    return;
  }
  *word = selector == 3 ? Bufferpool()[BP_MAX_PAGE_SIZE] : Bufferpool()[BP_MAX_RECORD_LENGTH];
}

// ---- Hash tables ----

namespace {

int32_t BucketWord(int32_t table, int32_t key) {
  int32_t buckets = Bufferpool()[table + HASH_BUCKETS];
  if (buckets < 1) return 0;
  return table + HASH_FIRST_BUCKET + std::abs(key % buckets);
}

// A chain walk stops at an index outside the area rather than follow it.
bool Walkable(int32_t entry) {
  return entry > 0 && BufferpoolHolds(entry - 1, 2);
}

}  // namespace

int32_t DKHMA0(int32_t free_list) {
  int32_t x = Bufferpool()[free_list];
  if (x < 1) return x;
  Bufferpool()[free_list] = Bufferpool()[x + ENTRY_LINK];
  Bufferpool()[x + ENTRY_LINK] = 0;
  ++Bufferpool()[free_list + 1];
  return x;
}

void DKHMC0(int32_t table, int32_t words) {
  std::fill(Bufferpool() + table, Bufferpool() + table + words, 0);
  Bufferpool()[table + HASH_BUCKETS] = words - 3;
}

int32_t DKHMI0(int32_t table, int32_t key) {
  int32_t bucket = BucketWord(table, key);
  if (bucket == 0) return 0;
  for (int32_t x = Bufferpool()[bucket]; Walkable(x); x = Bufferpool()[x + ENTRY_LINK])
    if (Bufferpool()[x + ENTRY_KEY] == key) return x;
  return 0;
}

void DKHML0(int32_t table, int32_t entry) {
  int32_t key = Bufferpool()[entry + ENTRY_KEY];
  int32_t bucket = key != 0 ? BucketWord(table, key) : 0;
  if (bucket != 0) {
    Bufferpool()[entry + ENTRY_LINK] = Bufferpool()[bucket];
    Bufferpool()[bucket] = entry;
    return;
  }
  Bufferpool()[entry + ENTRY_LINK] = Bufferpool()[table + HASH_FREE_HEAD];
  Bufferpool()[table + HASH_FREE_HEAD] = entry;
  if (Bufferpool()[table + HASH_IN_USE] > 0) --Bufferpool()[table + HASH_IN_USE];
}

void DKHMP0(int32_t table, int32_t entry) {
  int32_t bucket = BucketWord(table, Bufferpool()[entry + ENTRY_KEY]);
  if (bucket == 0) return;
  for (int32_t* at = &Bufferpool()[bucket]; Walkable(*at); at = &Bufferpool()[*at + ENTRY_LINK]) {
    if (*at == entry) {
      *at = Bufferpool()[entry + ENTRY_LINK];
      Bufferpool()[entry + ENTRY_LINK] = 0;
      return;
    }
  }
}

void DKHMR0(int32_t table, int32_t entry) {
  const int32_t key = Bufferpool()[entry + ENTRY_KEY];
  int32_t bucket = BucketWord(table, key);
  if (bucket == 0) return;
  for (int32_t* at = &Bufferpool()[bucket]; Walkable(*at); at = &Bufferpool()[*at + ENTRY_LINK]) {
    const int32_t head = *at;
    if (head == entry) {
      // A head with a dependent hands its place in the chain to it.
      int32_t dependent = Bufferpool()[entry + DBE_DEPENDENT];
      if (Walkable(dependent)) {
        Bufferpool()[dependent + ENTRY_LINK] = Bufferpool()[entry + ENTRY_LINK];
        *at = dependent;
      } else {
        *at = Bufferpool()[entry + ENTRY_LINK];
      }
      Bufferpool()[entry + ENTRY_LINK] = 0;
      Bufferpool()[entry + DBE_DEPENDENT] = 0;
      return;
    }
    if (Bufferpool()[head + ENTRY_KEY] != key) continue;
    // A dependent alone is cut from its head's chain of dependents.
    for (int32_t d = head, n = 0; Walkable(d) && n < pool_words;
         d = Bufferpool()[d + DBE_DEPENDENT], ++n) {
      if (Bufferpool()[d + DBE_DEPENDENT] == entry) {
        Bufferpool()[d + DBE_DEPENDENT] = Bufferpool()[entry + DBE_DEPENDENT];
        Bufferpool()[entry + DBE_DEPENDENT] = 0;
        return;
      }
    }
  }
}

int32_t DKHMS0(int32_t* state) {
  const int32_t table = state[HMS_TABLE];
  int32_t x = state[HMS_CURRENT];
  if (x == 0 && state[HMS_BUCKET] == 0) {
    state[HMS_BUCKET] = table + HASH_FIRST_BUCKET - 1;
    state[HMS_END] = table + HASH_FIRST_BUCKET + std::max(Bufferpool()[table + HASH_BUCKETS], 0);
  } else if (Walkable(x) && Walkable(Bufferpool()[x + ENTRY_LINK])) {
    state[HMS_CURRENT] = Bufferpool()[x + ENTRY_LINK];
    return state[HMS_CURRENT];
  }
  while (++state[HMS_BUCKET] < state[HMS_END]) {
    x = Bufferpool()[state[HMS_BUCKET]];
    if (Walkable(x)) {
      state[HMS_CURRENT] = x;
      return x;
    }
  }
  state[HMS_CURRENT] = 0;
  state[HMS_BUCKET] = state[HMS_END];
  return 0;
}

int32_t DKHMU0(int32_t table) {
  return Bufferpool()[table + HASH_IN_USE];
}

int32_t DKChooseDatabankCopy(int32_t databank) {
  if (!DKIsDatabankEntry(databank)) return databank;
  // Error words are read atomically: a failing page write disables a
  // databank while readers choose.
  if (Bufferpool()[databank + DBE_DID] == 2 || LoadWord(databank + DBE_ERROR) == 0)
    return databank;
  for (int32_t d = Bufferpool()[databank + DBE_DEPENDENT], n = 0;
       DKIsDatabankEntry(d) && n < Bufferpool()[BP_DATABANK_COUNT];
       d = Bufferpool()[d + DBE_DEPENDENT], ++n)
    if (LoadWord(d + DBE_ERROR) == 0 && LoadWord(d + DBE_ERROR2) == 0) return d;
  return databank;
}

int32_t DKChooseTableCopy(int32_t table) {
  // Table entry words: 1 the next copy of the table, 4 its databank, 5 its
  // state (-1 and -2: not usable).
  constexpr int32_t kNextCopy = 1, kDatabank = 4, kState = 5;
  auto is_table = [](int32_t t) {
    int32_t first = Bufferpool()[BP_TABLE_FIRST], last = Bufferpool()[BP_TABLE_LAST];
    return first > 0 && t >= first && t <= last && (t - first) % TBE_WORDS == 0;
  };
  if (!Bufferpool() || !is_table(table)) return table;
  int32_t d = Bufferpool()[table + kDatabank];
  if (!DKIsDatabankEntry(d) || Bufferpool()[d + DBE_DID] == 2 || LoadWord(d + DBE_ERROR) == 0)
    return table;
  for (int32_t t = Bufferpool()[table + kNextCopy], n = 0;
       is_table(t) && n < Bufferpool()[BP_TABLE_COUNT]; t = Bufferpool()[t + kNextCopy], ++n) {
    int32_t td = Bufferpool()[t + kDatabank];
    if (Bufferpool()[t + kState] != -1 && Bufferpool()[t + kState] != -2 && DKIsDatabankEntry(td) &&
        LoadWord(td + DBE_ERROR) == 0 && LoadWord(td + DBE_ERROR2) == 0 &&
        Bufferpool()[td + DBE_KIND] != 7)
      return t;
  }
  return table;
}
