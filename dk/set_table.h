// Sets: tables of kind 5 that keep variable-length records in arrival order
// (a transaction's read, write and check sets, the commit and restart sets).
// A set's list pages name its data pages in order; its data pages hold the
// records, each framed by its length word on both sides so that the set reads
// forwards and backwards. See dk/README.md, section "Sets".
#pragma once

#include <cstdint>
#include <span>

#include "dk/bufferpool.h"

// Request block of the set routines (words from 0).
constexpr int SETRQ_RC = 0;              // mode in (-2, a TSS, 0), status out
constexpr int SETRQ_DATA_PAGE_SIZE = 1;  // out
constexpr int SETRQ_TABLE = 4;           // table entry
constexpr int SETRQ_TBL = 5;             // the table entry's check value
constexpr int SETRQ_PAGE = 6;            // position: data page (0: before the first record)
constexpr int SETRQ_POSITION = 7;        // position: page word of the record
constexpr int SETRQ_LENGTH = 8;          // record length in words
constexpr int SETRQ_RECORD = 15;         // the record, from here on

// Root record of a set: the root entry's words, numbered from its level count.
constexpr int32_t SETROOT_LAST_LIST = 1;   // where appends go; 0: no pages
constexpr int32_t SETROOT_FIRST_LIST = 2;  // where reads start; 0: no pages
constexpr int32_t SETROOT_DATA_SIZE = 6;
constexpr int32_t SETROOT_LIST_SIZE = 7;

// List page words: the bufferpool's list page layout, whose word 5 in a set's
// list page names the last entry in use (5: none).
constexpr int32_t SETLIST_MARK = LIST_KIND;  // -40
constexpr int32_t SETLIST_DATA_SIZE = LIST_PAGE_SIZE;
constexpr int32_t SETLIST_PREV = 3;
constexpr int32_t SETLIST_NEXT = 4;
constexpr int32_t SETLIST_LAST = LIST_END;
constexpr int32_t SETLIST_FIRST = LIST_FIRST_ENTRY;
constexpr int32_t kSetListMark = LIST_KIND_VALUE;

// Data page words.
constexpr int32_t SETDATA_MARK = 1;  // -41
constexpr int32_t SETDATA_END = 2;   // used end: the word after the last record
constexpr int32_t SETDATA_LIST = 3;  // the list page that names this page
constexpr int32_t SETDATA_FIRST = 4;
constexpr int32_t kSetDataMark = -41;

// Statuses of the set routines beyond 0.
constexpr int32_t SET_NO_MATCH = 1;  // delete: the record there is another
constexpr int32_t SET_END = 4;       // no (further) record; delete: no page follows

// The words of a record of `length` words in a data page of `page_size`
// bytes fit when length + 2 is below the free words of an empty page.
int32_t SetMaxRecordWords(int32_t page_size);

// The set routines. `block` is the whole request block, record area
// included; a record that does not fit it is refused (-43) before anything
// is read or written. Each returns its status and leaves it in word 0.
int32_t DKAXR0(std::span<int32_t> block);  // append
int32_t DKGXN0(std::span<int32_t> block);  // get next
int32_t DKGXP0(std::span<int32_t> block);  // get previous
int32_t DKDXR0(std::span<int32_t> block);  // delete the record at the position
int32_t DKDXT0(std::span<int32_t> block);  // drop (empty) the set
// Roll back to the mark record (word 0 22, word 2 the mark number given in
// block word 0): the records behind it go; words 6 and 7 answer its data
// page and the used end behind it. -55 when the set holds no such mark.
int32_t DKRXT0(std::span<int32_t> block);
// The restart's mend of a page write cut short by the end of the process:
// the set ends at its first record not framed by its length words (each
// record n, its words, n again, up to the used end): the page holding it
// ends at the record before and every later data page goes. Answers 1 with
// word 6 the page, 7 the new used end and 8 the old one when records went,
// 0 when nothing did; the page is written at once.
int32_t DKEndSetAtSoundRecord(std::span<int32_t> block);
// Copies every page of the source set (word 0: the transaction whose write
// set takes the new pages, 0 none) into new pages of the target table's
// databank; the target must be an empty set of the same page sizes and
// compression method (-43 otherwise). The status goes to source word 0.
int32_t DKCPX0(std::span<int32_t> source, std::span<int32_t> target);
