// Page checks of the databank checks: index pages and leaves of a tree
// against the bounds their parent gives, and the runs that the records of a
// table of kind 6 name. Nothing here reads a page from the pool: callers
// hand over the page's bytes and keep the locking.
#include "dk/verification_pages.h"

#include <cstring>

#include "dk/compression.h"
#include "dk/page_entries.h"
#include "dk/table_entries.h"
#include "platform/bytes.h"

namespace {

bool InBounds(const uint8_t* key, int32_t k, const KeyBounds& b, bool first, bool last) {
  if (first && !b.lower.empty() && CompareKeys(key, b.lower.data(), k) <= 0) return false;
  if (last && !b.upper.empty() && CompareKeys(key, b.upper.data(), k) > 0) return false;
  return true;
}

int32_t Word(const uint8_t* record, int32_t byte) {
  int32_t v;
  std::memcpy(&v, record + byte, 4);
  return v;
}

// A big-endian word of a record's key.
int32_t KeyWord(const uint8_t* record, int32_t byte) {
  return static_cast<int32_t>(load_be32(record + byte));
}

}  // namespace

// The key's three identity words are big-endian (so that the records of one
// object and of one table are adjacent), while its pages carry the same
// words in the machine's order.
PageRun RunOf(const uint8_t* record) {
  return {Word(record, 20),
          Word(record, 28),
          Word(record, 32),
          KeyWord(record, 12),
          {KeyWord(record, 0), KeyWord(record, 4), KeyWord(record, 8)}};
}

bool TreeShapeOf(const int32_t* e, TreeShape* s) {
  s->kind = e[RE_KIND] % 10;
  s->top = e[RE_TOP];
  s->levels = e[RE_LEVELS];
  s->key = e[RE_KEY_LENGTH];
  s->length = e[RE_RECORD_LENGTH];
  s->method = e[RE_METHOD];
  s->inner_size = e[RE_INDEX_PAGE_SIZE];
  s->leaf_size = e[RE_DATA_PAGE_SIZE];
  if (!RootEntrySound(e) || (s->levels == 0) != (s->top == 0)) return false;
  // No record is longer than the largest page, compressed or not.
  return s->length <= 65536 && (s->kind != kKindLobRefs || s->length >= kRunRecordBytes);
}

bool CheckIndexPage(const TreeShape& s, const uint8_t* p, bool ordered, const KeyBounds& bounds,
                    std::vector<int32_t>* children, std::vector<std::vector<uint8_t>>* keys) {
  const int32_t k = s.key, l = k + kChildBytes;
  if (!(ordered ? FixedPageOrdered(p, s.inner_size, l, k) : FixedPageSound(p, s.inner_size, l, k)))
    return false;
  const int32_t u = UsedEnd(p);
  // An index page is never empty: its last entry carries its bound.
  if (u <= kPageHeaderBytes) return false;
  if (ordered && (!InBounds(p + kPageHeaderBytes, k, bounds, true, false) ||
                  !InBounds(p + u - l, k, bounds, false, true)))
    return false;
  for (int32_t o = kPageHeaderBytes; o < u; o += l) {
    children->push_back(LoadChild(p + o + k));
    keys->emplace_back(p + o, p + o + k);
  }
  return true;
}

bool CheckLeafPage(const TreeShape& s, const uint8_t* p, bool ordered, const KeyBounds& bounds,
                   std::vector<PageRun>* runs) {
  const int32_t k = s.key, length = s.length, size = s.leaf_size;
  const bool lob = s.kind == kKindLobRefs && runs != nullptr;
  if (s.method == 0) {
    if (!(ordered ? FixedPageOrdered(p, size, length, k) : FixedPageSound(p, size, length, k)))
      return false;
    const int32_t u = UsedEnd(p);
    for (int32_t o = kPageHeaderBytes; o < u; o += length) {
      if (ordered && !InBounds(p + o, k, bounds, o == kPageHeaderBytes, o + length >= u))
        return false;
      if (lob) runs->push_back(RunOf(p + o));
    }
    return true;
  }
  if (!DirPageSound(p, size, length)) return false;
  const int32_t n = DirCount(p, size);
  std::vector<uint8_t> record(static_cast<size_t>(length)), before;
  for (int32_t i = 1; i <= n; ++i) {
    int32_t produced = length;
    int32_t rc = DKExpand(ByteSpan(record.data(), record.size()), 0, &produced,
                          ConstByteSpan(p, static_cast<size_t>(size)), DirOffset(p, size, i),
                          DirLength(p, size, i), s.method);
    if (rc < 0 || produced != length) return false;
    if (ordered) {
      if (!InBounds(record.data(), k, bounds, i == 1, i == n)) return false;
      if (i > 1 && CompareKeys(before.data(), record.data(), k) >= 0) return false;
      before.assign(record.begin(), record.begin() + k);
    }
    if (lob) runs->push_back(RunOf(record.data()));
  }
  return true;
}
