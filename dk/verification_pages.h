// The page checks the databank checks share: the shape of a table from its
// root entry, index pages and leaves of a table's tree checked against the
// key bounds their parent gives them, and the runs of pages that the
// records of a table of kind 6 name. The check at open (DKVED0) and the
// background check of data pages (DKVDB0) both use them.
#pragma once

#include <cstdint>
#include <vector>

// A table's tree as its root entry describes it.
struct TreeShape {
  int32_t kind = 0;  // last digit of the root entry's kind
  int32_t top = 0;
  int32_t levels = 0;
  int32_t key = 0;
  int32_t length = 0;  // record length
  int32_t method = 0;  // compression of the leaves (0: fixed entries)
  int32_t inner_size = 0;
  int32_t leaf_size = 0;
};

// A run of pages that a record of a table of kind 6 names.
struct PageRun {
  int32_t page = 0;
  int32_t page_size = 0;
  int32_t pages = 0;
  int32_t seqno = 0;         // SEQNO of the databank that holds the pages (bytes 12..15)
  int32_t identity[3] = {};  // the object's identity (bytes 0..11, big-endian words)
};

// Bytes of a directory record of a large object (record bytes 20..35).
constexpr int32_t kRunRecordBytes = 36;

// The run a directory record of a large object names (machine byte order,
// as the record routines store it), the SEQNO of its key and the object's
// identity (big-endian key words).
PageRun RunOf(const uint8_t* record);

// Reads a tree's shape from a root entry (numbered from its level count);
// false when its lengths, page sizes, method or levels describe no tree.
bool TreeShapeOf(const int32_t* entry, TreeShape* shape);

// Key bounds of a page from its parent: every key lies above `lower` (when
// not empty) and not above `upper` (when not empty).
struct KeyBounds {
  std::vector<uint8_t> lower;
  std::vector<uint8_t> upper;
};

// An index page: sound entries of key + child, and with `ordered` keys
// rising strictly inside the bounds. Fills `children` (page numbers) and
// `keys` (each child's upper bound) in key order. False when corrupt.
bool CheckIndexPage(const TreeShape& s, const uint8_t* page, bool ordered, const KeyBounds& bounds,
                    std::vector<int32_t>* children, std::vector<std::vector<uint8_t>>* keys);

// A leaf: sound entries (fixed, or a directory page whose records expand to
// the record length), and with `ordered` keys rising strictly inside the
// bounds. For a table of kind 6 each record's run is added to `runs` (may be
// null otherwise). False when corrupt.
bool CheckLeafPage(const TreeShape& s, const uint8_t* page, bool ordered, const KeyBounds& bounds,
                   std::vector<PageRun>* runs);
