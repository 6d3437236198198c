// What the large-object routines share and nobody else calls: the databank
// of a request, the caller's page list in the word storage, the checks of a
// listed page and of a page's frame, and the free of one page.
#pragma once

#include <cstdint>

// A page list: `capacity` pairs (page number, page size in bytes) from
// `pairs`, ended by a word 0, with room for that end word after the last
// pair. `pages` is the number of pairs before the first 0 (at most capacity).
struct LobPageList {
  int32_t* pairs = nullptr;
  int32_t capacity = 0;
  int32_t pages = 0;
};

// The databank entry of `did`, or -45 reported under `routine`.
int32_t LobDatabank(int32_t did, int32_t routine);
// Reads the list at `index` (its capacity in the word before): 0, or -43
// reported under `routine` when the words are not all in the storage.
int32_t OpenPageList(int32_t index, int32_t routine, LobPageList* list);
// Checks every listed pair: -76 for a page size other than 2048, 16384 or
// 65536, -43 for a page number that is no page of its size inside a chunk;
// `capacity_bytes` (when not null) receives the data bytes the pages hold.
int32_t CheckListPages(const LobPageList& list, int32_t routine, int32_t databank,
                       int64_t* capacity_bytes);
// Whether `page` is a page of `page_size` inside a chunk (never a bitmap or
// the header page).
bool LobPageSound(int64_t page, int32_t page_size);
// Whether a page's frame is whole: its data count fits the page and the
// trailer word names the same count.
bool LobFrameSound(const uint8_t* page, int32_t page_size);
// Reads the page for update and frees it; the bufferpool's status when the
// read or the free fails.
int32_t FreeLobPage(int32_t databank, int32_t page, int32_t page_size);
// Reports under `routine` with severity 2 (3 for page and I/O trouble).
int32_t LobReport(int32_t routine, int32_t rc, int32_t value, int32_t databank = 0);
