// Stored TSS records: secured transactions whose TSS entries had to leave
// the TSS hash are kept as records of the kernel's TSS table, so that the
// writer lookup of the transaction cache still finds them (DKITS1), until no
// running transaction can ask for them (DKPurgeStoredTss).
#pragma once

#include <cstdint>

#include "dk/transaction_cache.h"

// Control-area word holding the table entry of the kernel's TSS table (0
// while none is made): a header word nothing else names, since words 106
// to 118 belong to the commit set's list pages. The table lives in the
// databank of area word 101 (the TRANS databank, word 100, when 101 is 0).
constexpr int32_t BP_STORED_TSS_DATABANK = 101;
constexpr int32_t BP_STORED_TSS_TABLE = 92;

// The overflow bound (the highest commit-on-disk number stored or to be
// stored) and the lowest start number stored.
constexpr int32_t BP_TSS_OVERFLOW_BOUND = 133;
constexpr int32_t BP_TSS_OVERFLOW_LOW_START = 167;

// Stores TSS entry `tss` (start number, state, prepare and commit-on-disk
// numbers) and counts it in area word 135. 0, or a negative code; an insert
// answering a positive status is reported as -43 and taken as done.
int32_t DKITS1(int32_t tss);

// The stored record of start number `start`: true with `writer` filled in
// as DKLTS0 answers, false when none is stored.
bool DKFindStoredTss(int32_t start, CacheWriter* writer);

// Removes every stored record whose commit-on-disk number is below `limit`
// (the low view limit, area word 132): every running transaction's view
// already holds those commits. Answers the number removed, or a negative
// code.
int32_t DKPurgeStoredTss(int32_t limit);

// Called as databank entry `databank` is closed: when the table lies there,
// the word stops naming it and its entry is given back (with its pages, as
// the table is marked dropped). Its records describe this run only.
void DKForgetStoredTss(int32_t databank);

// The TSS overflow: while as many secured entries stay in the TSS hash as
// the overflow limit (area word 164), or when the TSS free list is empty,
// the secured entries up to the overflow bound (raised to the low view
// limit plus area word 165; with the free list empty, to every secured
// entry) that carry a commit number are stored (DKITS1) and given back.
// Run by the background master after its scan. Answers the number stored,
// or the failed store's code (the entries not stored stay).
int32_t DKStoreTssOverflow();

// The low start limit as the scan found it, lowered to the lowest start
// number stored while stored records may still be asked for.
int32_t DKLowStartWithStored(int32_t lowest_start);
