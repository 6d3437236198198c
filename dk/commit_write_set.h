// Commit of a write set: the commit number (DKStartCommit), the move of a
// transaction's write set into the commit set that the background threads
// apply (DKCXT0, with group commit of the commit set's pages) and the
// commit-set step of the end of a transaction (DKCommitWriteSet), and the
// removal of given objects' records from a write set (DKDeleteSetRecords).
#pragma once

#include <cstdint>
#include <span>

// Control-area words of the commit set beyond the layout's names: the TRANS
// databank that holds it, and the highest commit-set order number whose
// records are on disk (the group commit's mark).
constexpr int32_t BP_TRANS_DATABANK = 100;
constexpr int32_t BP_COMMIT_SET_WRITTEN = 155;
// The result a synchronous committer finds once the background threads are
// done with its commit.
constexpr int32_t BP_SYNCH_RESULT = 144;
// Queues of the background threads.
constexpr int32_t BP_AFTER_PROC_QUEUE = 158;
constexpr int32_t BP_SECURE_QUEUE = 159;
constexpr int32_t BP_LAST_PREPARE = 180;
// The commit set's data pages are of this size.
constexpr int32_t kCommitSetPageSize = 16384;

// Commit number for the transaction of `tss` (request word 0 is 1 for an end
// without changes, word 3 the TSS): 0, with result[1] = 1 and result[3] the
// commit number when one was given; -87 when the write set in `write_set`
// (a table entry) does not begin with its header.
int32_t DKStartCommit(const int32_t* request, int32_t* result, int32_t write_set);

// Moves the write set (a table entry) of the transaction `tss` into the
// commit set: its change records, then its header, each carrying the
// transaction's commit-set order number in word 1; TSS words 9 and 10 name
// the first record there, 11 and 12 the header. Returns only once the
// records are on disk; then the entry is in state 17 (Commit). Any failure
// leaves the entry as it was, out of the background threads' sight.
int32_t DKCXT0(int32_t write_set, int32_t tss);

// The kind of a write set at its commit: its records on one data page,
// on several data pages that one list page names (at most one for every 8
// bytes of the list page), or spread further.
constexpr int32_t kWriteSetOnePage = 1, kWriteSetOneList = 2, kWriteSetSpread = 3;
int32_t DKWriteSetKind(int32_t write_set, int32_t data_pages, int32_t* kind);
// A write set of the spread kind is copied (DKCPX0, its new pages marked
// with `commit`) into a set on every copy of its databank that is online,
// open and no backup, through the table entries chained from its own; the
// set there is made (DKCRT0) or emptied first. The number of chained
// entries, or the first failure.
int32_t DKCopyWriteSet(int32_t write_set, int32_t commit);

// The commit-set step of the end of a transaction: the commit number, then
// DKCXT0. `end_mode` -1 (a distributed prepare) takes no commit number.
int32_t DKCommitWriteSet(int32_t write_set, int32_t tss, int32_t end_mode);

// Deletes from a set (request words 4 and 5) the records of the objects
// listed from request word 30 (word 29 their count): end records go unless a
// record kept names their transaction; a record of kind 15 whose 16 bytes
// from its word 5 are not below those at request word 25 ends the scan.
// Answers, in word 0 too, the number of records deleted or a negative code.
int32_t DKDeleteSetRecords(std::span<int32_t> request);

// The commit set's ring (commit_set_ring.cc); the callers hold lock 212.
// Appends the record of the set block `b` (words 4, 5 the commit set, 8 the
// length, from 15 the record) at the ring's current place, the page left
// changed in the pool; its data page and the position of its first length
// word go to *page and *position, the used end after it to block words 6, 7.
int32_t DKAppendToCommitSet(std::span<int32_t> b, int32_t* page, int32_t* position);
// Cuts the commit set's chain back to the current list page (area word 113)
// and the one after it when the current page names the mark page (word 118)
// before the next free slot (word 117): the list pages after those two and
// the data pages they name are freed, word 108 lowered by the data pages,
// word 124 counting the cut. Nothing is cut when at most one list page
// follows the current one. The number of data pages freed, or a negative
// code.
int32_t DKCST0();
// Moves the mark page (word 118) on to the first page of the ring that holds
// a record of order number `group` or above (the page being filled when none
// does), and answers it; the pages behind it may be taken again. Under lock
// 212.
int32_t DKMarkCommitSetBelow(int32_t group);
// The same under lock 212, for the lowest order number of a commit not yet
// secured. Run by the background after a securing page write and its stamp.
int32_t DKMarkCommitSet();
// Forgets the ring's words: a commit set opened, emptied or given up.
void DKResetCommitSetRing();

// The post-processing flush: the header of `last`, the last transaction of a
// run just secured, gets in its word 5 the secured transaction number less
// one (rewritten in place in the commit set), and the restart transaction
// number is raised to that. 0, or the read's or rewrite's code; -86 when the
// position does not hold a header, -87 when the header is another
// transaction's (both reported as internal errors).
int32_t DKFPQ1(int32_t last);
