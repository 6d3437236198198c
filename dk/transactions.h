// Optimistic transactions of the databank kernel: the transaction state
// entries (TSS) of the control area, begin (DKBTR1), end (DKETR1) with the
// write-set check and prepare (DKPTC1), the post-commit step and the waking
// of background threads (DKBTW0). See dk/README.md, "Transactions".
#pragma once

#include <cstdint>
#include <span>

// ---- Transaction state entry (TSS), 22 words ----
constexpr int32_t TSS_START = 0;      // start number; the key in the TSS hash
constexpr int32_t TSS_DEPENDENT = 1;  // first dependent entry; -1 in a dependent
constexpr int32_t TSS_VIEW = 2;       // commits on disk when the transaction began
constexpr int32_t TSS_PREPARE = 3;    // prepare number; -1 when begun during a commit
constexpr int32_t TSS_COMMIT = 4;     // commit number
constexpr int32_t TSS_ON_DISK = 5;    // commit-on-disk (end sequence) number
constexpr int32_t TSS_GROUP = 6;      // commit-set order (group sequence) number
constexpr int32_t TSS_LINK = 7;       // link in the background queues
constexpr int32_t TSS_STATE = 8;
constexpr int32_t TSS_FIRST_PAGE = 9;  // position of the first commit-set record
constexpr int32_t TSS_FIRST_POS = 10;  // 4 once the write set is being committed
constexpr int32_t TSS_END_PAGE = 11;   // position of the header record
constexpr int32_t TSS_END_POS = 12;
constexpr int32_t TSS_PARALLEL = 13;
// TSS word 13 of a prepared transaction (15, 16) while an end decides it:
// no other end may decide it meanwhile, and its commit-set positions
// (words 9 to 12) are being replaced.
constexpr int32_t kTssBeingDecided = -1;
constexpr int32_t TSS_KIND = 14;          // commit kind: 128 and 129 are synchronous
constexpr int32_t TSS_SAFE_RELEASE = 15;  // safe release commit number at begin
constexpr int32_t TSS_DATA_PAGES = 16;
constexpr int32_t TSS_SAFE_HIGH = 17;  // safe high start number at begin
constexpr int32_t TSS_WAIT = 19;       // pair, 0 units: a group commit that took this over

// States (TSS_STATE).
constexpr int32_t TSS_BUILDUP_RO = 12;
constexpr int32_t TSS_BUILDUP_RW = 13;
constexpr int32_t TSS_PREPARED = 14;
constexpr int32_t TSS_WAIT_COMMIT = 15;
constexpr int32_t TSS_IN_DOUBT = 16;
constexpr int32_t TSS_COMMITTED = 17;
constexpr int32_t TSS_TABLE_PROC = 18;
constexpr int32_t TSS_AFTER_PROC = 19;
constexpr int32_t TSS_CHECKPOINT = 20;
constexpr int32_t TSS_SECURED = 21;

// Commit kinds that make the committer wait: 128 until its records are
// applied, 129 until its commit is secured.
constexpr int32_t kKindWaitApplied = 128;
constexpr int32_t kKindWaitSecured = 129;

// ---- Request blocks ----
// DKBTR1: word 0 mode in (0 read-write, positive read only, negative
// re-create an in-doubt transaction), status out; 3 the TSS (in: 0 or a
// transaction to attach a dependent to; out: the new entry); 4 the start
// number (in for a negative mode, out).
constexpr int BTR_MODE = 0;
constexpr int BTR_TSS = 3;
constexpr int BTR_START = 4;
// DKETR1: word 0 end mode (0 commit, 1 abort, -1 prepare for a distributed
// commit) in, status out; 1 the write set and 2 the read set (work tables,
// TBL -1); 3 the TSS, cleared when the entry is released; 6 a flag asking
// for the end of the large-object work first.
constexpr int ETR_MODE = 0;
constexpr int ETR_WRITE_SET = 1;
constexpr int ETR_READ_SET = 2;
constexpr int ETR_TSS = 3;
constexpr int ETR_LOB_FLAG = 6;
constexpr int ETR_WORDS = 7;
constexpr int32_t kEndCommit = 0, kEndAbort = 1, kEndPrepare = -1;

// ---- Write-set records (read into a set block from word 15) ----
// Every write set starts with its header (code 21); the change records that
// follow are request blocks of their entry routines, word 0 the function
// code.
constexpr int32_t WS_CODE = 0;
constexpr int32_t kCodeHeader = 21;
constexpr int32_t kCodeMark = 22;
// Header words.
constexpr int32_t WSH_GROUP = 1;
constexpr int32_t WSH_KIND = 2;
// A header of this kind ends a group that the restart leaves alone.
constexpr int32_t kKindNotReplayed = 9;
constexpr int32_t WSH_PREPARE = 3;
constexpr int32_t WSH_COMMIT = 4;
constexpr int32_t WSH_STAMP = 5;
// The start number of a transaction prepared for a distributed commit: in
// its group of set 167, and in the header of the commit that decides it
// (0 in every other commit's header).
constexpr int32_t WSH_START = 6;
// In the log's copy of a header (DKPTL1): the time it was logged and the
// log mark 20.
constexpr int32_t WSH_LOG_TIME = 7;
constexpr int32_t WSH_LOG_MARK = 8;
// In the commit set: the records of the group, its header included (0 in a
// group written before the count was kept).
constexpr int32_t WSH_RECORDS = 12;
constexpr int32_t WSH_PAGES = 13;
constexpr int32_t WSH_DATABANKS = 20;  // 6 words an entry; a negative entry word 0 ends
constexpr int32_t WSH_ENTRY_WORDS = 6;
constexpr int32_t WSHE_DATABANK = 0, WSHE_DID = 1, WSHE_RECORDS = 3, WSHE_TYPE = 5;
// Change record words (the embedded request).
constexpr int32_t WSR_DID = 2;
constexpr int32_t WSR_KIND = 3;
constexpr int32_t WSR_TABLE = 4;
constexpr int32_t WSR_TBL = 5;
// Records of a databank's copy (16, 17, 25, 26): 2 the DID, 3 the copy's
// SEQNO, 4 (26) the new SEQNO or -1.
constexpr int32_t WSR_SEQNO = 3;
constexpr int32_t WSR_NEW_SEQNO = 4;
// Records of a restore time stamp (13, 14), as record access builds them
// from a backup's table descriptor {DID, LID, 0, stamp, 16-byte key}: word 2
// is record access's DID, which is this process's databank entry; word 3,
// the logical id, is the kernel's DID that keys the directory slot (as the
// slot lookup by DID and the open's slot check key it); 5 the stamp; words
// 6 to 9 hold the key's text.
constexpr int32_t WSR_STAMP_DID = 3;
constexpr int32_t WSR_STAMP = 5;

// Read-set records: word 0 the kind (9 a read of a whole table), word 4 the
// table entry; the rest belongs to the read checks. A row read is record
// access's key record (kind, transaction number, LID, type, table entry,
// TBL, key length, record length, handle, cursor order, the row), which the
// record check (DKCHR0) reads as a request block that begins RS_ROW_VIEW
// words before it: its mode word is the kind, its key the row.
constexpr int32_t RS_ROW_VIEW = 6;
constexpr int32_t RS_KIND = 0;
constexpr int32_t RS_TABLE = 4;
constexpr int32_t kReadWholeTable = 9;

// Conflict answers of the read checks.
constexpr int32_t kConflictInDoubt = 6138;
constexpr int32_t kConflict = 6139;

// The read checks of the commit validation (DKCHR0 for a record read,
// DKCHW0 for a whole table) belong to the transaction cache, which installs
// them. Each answers 0, a conflict answer or a negative code.
struct DKReadChecks {
  int32_t (*check_record)(int32_t tss, std::span<const int32_t> record);
  int32_t (*check_table)(int32_t tss, std::span<const int32_t> record);
};
void DKInstallReadChecks(const DKReadChecks* checks);

// Entry routines.
void DKBTR1(int32_t* block);
void DKETR1(int32_t* block);
// Wakes a background thread: kind 24 always, 25 within the deferred-work
// limit. -43 (internal error) for any other kind.
void DKBTW0(int32_t kind);

// True when `tss` is word 0 of a TSS entry of the control area.
bool DKIsTssEntry(int32_t tss);
// Takes a TSS entry and its dependents out of the TSS hash and puts them
// back on the free list (the caller holds neither lock).
void DKFreeTss(int32_t tss);

// Wakes the synchronous committer (kinds 128, 129) waiting on lock 246, if
// one still is, with `result` as the answer of its commit; run by the
// background thread that applied or secured its commit.
void DKWakeSynchronousCommitter(int32_t result);
// Run by the shutdown once every background thread has left: a synchronous
// committer still waiting is woken with the kernel-down result (-1), and
// one that has not yet prepared is refused with it, as nobody would wake it.
void DKEndSynchronousWaits();
// Raises the secured transaction number (area word 145) to the highest
// number below which every commit number given is secured or was given to
// a commit that failed; never past a commit still to be applied.
void DKRaiseSecuredNumber();

// Slot-table entries.
void DKBTR1Entry(int32_t* block, void* argument);
void DKETR1Entry(int32_t* block, void* argument);
