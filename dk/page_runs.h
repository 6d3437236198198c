// Runs of pages for large objects: n pages of one size that follow each other
// in a databank file. A run is taken whole (DKALC0), with the pages taken on
// the way that did not follow each other kept as free runs in the kernel word
// storage; runs are given back (DKDLC0), appended to a page list (DKELC0), and
// copied page by page from one databank into another (DKCLP1, DKCLP0).
#pragma once

#include <cstdint>

// A free run record: a block of the word storage, its first word the link
// to the next record (0 ends the list, headed by a word of the caller's).
constexpr int32_t FRR_LINK = 0;
constexpr int32_t FRR_PAGE = 1;   // first page
constexpr int32_t FRR_UNITS = 2;  // page size in 2048-byte units
constexpr int32_t FRR_PAGES = 3;
constexpr int32_t FRR_BYTES = 16;

// A new page list holds at least this many pairs.
constexpr int32_t kMinListPairs = 100;

// Takes a run of `pages` pages of `page_size` bytes in `databank`: a free run
// of exactly that shape from `*free_runs`, else new pages (giving back first
// the smallest larger free run). *first_page gets the run's first page (0
// until one is had). Status 0; 1 when the word storage has no room; a
// bufferpool code when a page cannot be had, after every page taken and
// every free run was given back.
int32_t DKALC0(int32_t databank, int32_t page_size, int32_t pages, int32_t* free_runs,
               int32_t* first_page);
// Frees the run's pages, then every run of `*run_list` (its records given
// back to the storage and the head cleared as they go). `run_list` may be
// null. Status 0 or the first failure's code.
int32_t DKDLC0(int32_t databank, int32_t first_page, int32_t units, int32_t pages,
               int32_t* run_list);
// Appends one pair per page of the run to the page list at `*list` (0: a new
// list is made) and ends it with 0; `*counter` is 2 x pages + 1. A list
// without room grows to one and a half times its capacity, or to the room
// the run needs when that is more. Status 0, 1 without storage, -76 for a
// page size other than 2048, 16384 or 65536, -43 for a counter that does not
// fit the list.
int32_t DKELC0(int32_t first_page, int32_t page_size, int32_t pages, int32_t* list,
               int32_t* counter);
// Makes the two page lists of a run to be copied (source pages into
// `*list1`, target pages into `*list2`, made or remade with room for the
// run) and copies the pages (DKCLP0).
int32_t DKCLP1(int32_t source, int32_t target, int32_t source_page, int32_t target_page,
               int32_t page_size, int32_t pages, int32_t* list1, int32_t* list2);
// Copies the pages of list 1 (in databank `source`) onto the pages of list 2
// (in `target`) straight through the target's file, pair by pair.
int32_t DKCLP0(int32_t source, int32_t target, int32_t list1, int32_t list2);
