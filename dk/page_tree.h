// A table's tree of pages: the walk from the top page down to a leaf that
// keeps every page of the path able to take one more entry (insert) or to
// lose one (delete), the reorganisations that walk calls (split, shift,
// merge, a new top page, the removal of a top page), and the release of a
// whole tree.
#pragma once

#include <cstdint>

// What the walk down makes sure of on every page of the path.
enum class TreeRoom { kNone, kInsert, kDelete, kRead };

// Walks from the top page (tab word 1) to the leaf for `key`, holding the
// root page (tab word 20) while the top page is worked on and releasing each
// parent once its child is held. Returns the held leaf with tab words 10 and
// 11 its search result, or a negative code with nothing held. When the leaf
// is the top page the root page stays held for the caller (tab word 20).
// `search` receives the leaf search's result (entry length, 0 or -1).
int32_t DescendToLeaf(int32_t* tab, const uint8_t* key, TreeRoom room, int32_t routine,
                      int32_t* search);

// Reorganisation of a page of fixed-length entries below `parent`: on
// return `child` names the page the walk goes on with. DKWRE0 is the same
// for a work databank.
int32_t DKREO0(int32_t* tab, const uint8_t* key, int32_t* parent, int32_t* child);
int32_t DKWRE0(int32_t* tab, const uint8_t* key, int32_t* parent, int32_t* child);
// The same for a directory leaf (tab word 16 the length of the entry to
// come or go).
int32_t DKREV0(int32_t* tab, const uint8_t* key, int32_t* parent, int32_t* child);
int32_t DKWRV0(int32_t* tab, const uint8_t* key, int32_t* parent, int32_t* child);

// Marks a held page changed; it is released as the walk's write mode says.
void MarkChanged(int32_t buffer);
// Releases a held tree page (or the root page): unchanged, or changed as the
// write mode of tab word 19 says (at once, into a TSS's write set, or as
// changed). Returns 0 or the write's failure, reported as `fail_code`.
int32_t ReleaseTreePage(const int32_t* tab, int32_t buffer, int32_t fail_code, int32_t routine);
// Releases a page held for reading.
void ReleaseShared(int32_t buffer);

// Gets a page of the tree at tab's level for update or reading and checks
// it: its entry length (`length`), its used end, and, unless the databank's
// check is complete, the order of its keys below `bound` (the parent
// entry's key; null for none). `held` lists pages the caller holds, which a
// corrupt child pointer may not name. Returns the buffer or a code.
int32_t GetTreePage(int32_t* tab, int32_t page, int32_t mode, int32_t length, const uint8_t* bound,
                    const int32_t* held, int32_t held_count, int32_t routine);
// The page size and entry length of level `level` of the tree of `tab`.
int32_t LevelPageSize(const int32_t* tab, int32_t level);
int32_t LevelEntryLength(const int32_t* tab, int32_t level);
// True when the pages of `level` are directory pages (the leaves of a table
// with compression).
bool DirectoryLevel(const int32_t* tab, int32_t level);
// True when a page number can name a tree page of `page_size` bytes.
bool TreePageNumber(int32_t page, int32_t page_size);
// The page number of a held buffer.
int32_t BufferPage(int32_t buffer);

// Frees every page of a tree, the leaves first (DKDRP0). The large objects
// that a kind-6 table's records name are not touched: the empty and the drop
// free them first (FreeTreeObjects), a rebuild keeps them for its new tree.
int32_t DKDRP0(int32_t databank, int32_t top, int32_t levels, int32_t inner_size, int32_t leaf_size,
               int32_t key_length, int32_t kind);
