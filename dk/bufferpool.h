// The bufferpool: one pool of page buffers per page size inside the kernel
// control area, their buffer control blocks (BCB), and the page routines the
// whole databank kernel reads, changes and writes pages through. Pages reach
// their files only after the pages they depend on (see dk/README.md).
#pragma once

#include <cstdint>

#include "dk/control_area.h"
#include "dk/control_words.h"

// Words of a page request block: the first words of every page routine's
// block (and of the tree access block).
constexpr int REQ_DATABANK = 0;   // databank entry index
constexpr int REQ_PAGE = 1;       // page number (first unit of the page)
constexpr int REQ_PAGE_SIZE = 2;  // page size in bytes
constexpr int REQ_RC = 3;         // return code (out)
constexpr int REQ_OS_ERROR = 4;   // operating-system error (out, -1 when none)
constexpr int REQ_VERSION = 5;    // version of the page (out, DKGET0)
constexpr int REQ_WORDS = 6;

// Words of a DKPAG0 request; words 3 and 4 receive the last error.
constexpr int PAGREQ_DATABANK = 0;
constexpr int PAGREQ_PAGE_SIZE = 2;  // code 5: 0 = every pool
constexpr int PAGREQ_RC = 3;
constexpr int PAGREQ_OS_ERROR = 4;
constexpr int PAGREQ_ORDER = 6;  // order value
constexpr int PAGREQ_BCB = 7;    // a BCB index (code 5)
constexpr int PAGREQ_WORDS = 8;

// DKPAG0 codes: which buffers are chosen.
constexpr int PAG_FLUSH = 1;              // changed buffers of the databank: written
constexpr int PAG_WRITE_SETS_UP_TO = 2;   // write sets of order value at most the given
constexpr int PAG_DROP = 3;               // every buffer of the databank: dropped unwritten
constexpr int PAG_WRITE_SET = 4;          // write sets of exactly the given order value
constexpr int PAG_BEFORE = 5;             // pages that the given BCB waits for
constexpr int PAG_MARKED = 6;             // marked pages of the given order value
constexpr int PAG_FLUSH_NO_PREFETCH = 7;  // as 1, leaving out prefetches in flight

// DKMRK0 codes.
constexpr int MRK_WRITE_SET = 22;      // into a write set unless in an earlier one
constexpr int MRK_LINK = 23;           // value: a buffer that may be written only after
constexpr int MRK_PROGRESS = 24;       // the progress mark of an ordered write
constexpr int MRK_WRITE_SET_ANY = 25;  // into a write set whatever it was in
constexpr int MRK_UNLINK = 27;         // undo the link of code 23 to the value's buffer
constexpr int MRK_MARK = 28;           // mark with an order value when in no set

// DKGPA0 codes.
constexpr int GPA_PROGRESS = 50;
constexpr int GPA_WAITS_FOR = 51;  // pages it waits for
constexpr int GPA_WAITER = 52;     // the BCB that waits for it
constexpr int GPA_BCB = 53;

// Words of a list page (page word 1 = LIST_KIND_VALUE): the page size of the
// pages listed, the slot of the last entry in use (LIST_FIRST_ENTRY - 1 when
// none), and the first entry after the header.
constexpr int LIST_KIND = 1;
constexpr int32_t LIST_KIND_VALUE = -40;
constexpr int LIST_PAGE_SIZE = 2;
constexpr int LIST_END = 5;
constexpr int LIST_FIRST_ENTRY = 6;

// The pools are the page partitions of the control area (PART_* words, one
// per page size) and their partitions are its groups (GROUP_* words); both
// are laid out by the start. Words the layout does not name:
constexpr int32_t PART_STAT_PREFETCH_REQUESTS = 12;
constexpr int32_t PART_STAT_PREFETCH_FAULTS = 13;
constexpr int32_t PART_STAT_PREFETCH_USED = 14;

// BCB words beyond the ring, buffer and semaphore words of the layout.
constexpr int32_t BCB_LINK = ENTRY_LINK;  // next BCB of the same hash bucket
constexpr int32_t BCB_VERSION = 3;
constexpr int32_t BCB_WS_STATUS = 4;  // write-set status
constexpr int32_t BCB_ORDER = 5;      // order value of the write set
constexpr int32_t BCB_IO_STATUS = 6;  // words 6..10 are the file I/O request block
constexpr int32_t BCB_OS_ERROR = 7;
constexpr int32_t BCB_CHANNEL = 8;
constexpr int32_t BCB_PAGE = 9;
constexpr int32_t BCB_WRITE_SIZE = 10;
constexpr int32_t BCB_DATABANK = 11;
constexpr int32_t BCB_WAITER = 12;         // the BCB that may be written only after this one
constexpr int32_t BCB_PROGRESS = 13;       // progress mark of an ordered write
constexpr int32_t BCB_RELEASES = 14;       // chain of deferred page releases
constexpr int32_t BCB_WAITS_FOR = 15;      // pages that must reach disk before this one
constexpr int32_t BCB_FAILED_BEFORE = 16;  // of those, pages whose write failed
constexpr int32_t BCB_USERS = 17;
constexpr int32_t BCB_UNWRITTEN = 18;  // 1: the last write failed, the changes are kept

// Pages larger than this carry on disk, in word 0, a check word of their
// other words (written whole only; see DKPageCheckWord): a buffered write
// that a kill ends between two pieces of the page cache leaves a page of
// two images, which its check word shows.
constexpr int32_t kPageCachePiece = 4096;
// The check word of a page image of `size` bytes (words 1 on); negative.
int32_t DKPageCheckWord(const int32_t* page, int32_t size);
// Whether the page in `buffer` (its word 1's index) was read whole from a
// write cut short: its check word does not fit what the file holds.
bool DKPageTorn(int32_t buffer);

// Write-set status (BCB_WS_STATUS).
constexpr int32_t WS_NONE = 0;
constexpr int32_t WS_IN_SET = -1;
constexpr int32_t WS_MARKED = -2;
constexpr int32_t WS_WRITING = 1;
constexpr int32_t WS_PREFETCHING = 2;

// I/O status (BCB_IO_STATUS).
constexpr int32_t IOS_CLEAN = 0;
constexpr int32_t IOS_CHANGED = 1;       // released with DKPUT0 mode 4
constexpr int32_t IOS_CHANGED_KEPT = 2;  // released with DKPUT0 mode 9
constexpr int32_t IOS_CHANGED_HELD = 3;
constexpr int32_t IOS_IN_PROGRESS = 11;

// DKGET0 modes.
constexpr int GET_NEW = 1;
constexpr int GET_UPDATE = 2;
constexpr int GET_UPDATE_IF_RESIDENT = 3;
constexpr int GET_SHARED = 4;
constexpr int GET_SHARED_IF_RESIDENT = 5;
constexpr int GET_PREFETCH = 6;

// DKPUT0 modes.
constexpr int PUT_CHANGED_HOLD = 3;
constexpr int PUT_CHANGED = 4;
constexpr int PUT_END_SHARED = 7;
constexpr int PUT_CHANGED_KEEP = 9;
constexpr int PUT_UNCHANGED = 11;

// DKWRP0 modes.
constexpr int WRP_WRITE_RELEASE = 1;
constexpr int WRP_WRITE_HOLD = 2;
constexpr int WRP_DROP = 6;
constexpr int WRP_WRITE_WAIT = 10;

// Shared words of the control area go through atomic references.
inline int32_t LoadWord(int32_t index) {
  return PoolWord(index).load(std::memory_order_acquire);
}
inline void StoreWord(int32_t index, int32_t value) {
  PoolWord(index).store(value, std::memory_order_release);
}
inline int32_t AddWord(int32_t index, int32_t delta) {
  return PoolWord(index).fetch_add(delta, std::memory_order_acq_rel) + delta;
}
// Statistics counters order nothing: a locked increment with no fence.
inline void CountWord(int32_t index) {
  PoolWord(index).fetch_add(1, std::memory_order_relaxed);
}

// Reports under a routine's index with the value printed, the databank
// entry the report names (0: none, the value goes in its place) and an OS
// error (-1: none).
void ReportPageError(int32_t index, int32_t rc, int32_t severity, int32_t value,
                     int32_t databank = 0, int32_t os_error = -1);

// Gets the 2048-byte page at `unit` (bitmap, header and directory pages);
// `request` is a page request block the call fills.
int32_t GetUnitPage(int32_t databank, int32_t unit, int32_t mode, int32_t* request);
// Writes a held 2048-byte page at once and gives it back (DKWRP0 mode 10).
int32_t WriteUnitPage(int32_t databank, int32_t unit, int32_t buffer);

// Page routines. Each reports its errors through the kernel error reporter
// under its own name and returns the code as well.
int32_t DKGET0(int32_t* request, int32_t mode);
int32_t DKPUT0(int32_t mode, int32_t buffer);
int32_t DKWRP0(int32_t* request, int32_t mode, int32_t buffer);
int32_t DKMRK0(int32_t value, int32_t code, int32_t buffer);
int32_t DKPAG0(int32_t* request, int32_t code);
int32_t DKGPA0(int32_t code, int32_t buffer);
int32_t DKBSC0(int32_t record_length);
int32_t DKCPR0(int32_t page_size, int32_t kind);

// Small routines: the pool of a page size (0 when none), the check that one
// exists (0 or -76 reported under the caller's routine index), a buffer's
// write size, and its I/O status.
int32_t FindPool(int32_t page_size);
int32_t CheckPool(int32_t page_size, int32_t routine_index);
void SetWriteSize(int32_t buffer, int32_t bytes);
void SetWriteSizeFromPage(int32_t buffer);
int32_t BufferIoStatus(int32_t buffer);

// The BCB of a page buffer and the page word k of a buffer (word 0 is the one
// before the buffer index).
int32_t BufferBcb(int32_t buffer);
int32_t* PageWords(int32_t buffer);
// The bytes of a buffer's page as they go to disk (word 0 first).
inline uint8_t* PageBytes(int32_t buffer) {
  return reinterpret_cast<uint8_t*>(PageWords(buffer));
}

// When a held buffer's content moves to another BCB (both held by the
// caller), what belongs to the content goes with it: its write set, the page
// that waits for it, the pages it waits for (their links, count and
// failures), its progress mark and its deferred releases; and since the
// content is not on disk at its new place, it counts as changed.
void CarryContent(int32_t from_bcb, int32_t to_bcb);
// How often content in a write set (or marked) has moved to another BCB so
// far: a write of sets scans the BCBs again when it changed while it ran.
uint32_t DKSetContentMoves();
// Drops a held buffer whose content went elsewhere (CarryContent): nothing is
// written, no release runs. A page whose link to it was undone while the
// content moved still lowers its count; it is not reused before.
void DropCarriedBuffer(int32_t buffer);

// Sets up a pool whose indexes are laid out (pool words 0..9 and 16, and the
// buffer word of each BCB): the partitions with their locks, free page ids
// and victims, the rings, the BCBs with their semaphores, all hashed under
// their partition's free page id.
void InitBufferPool(int32_t pool);
