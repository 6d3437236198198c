// Pages of fixed-length entries: the halving search over a page and the moves
// of entries within a page and between two pages. A page's entry length and
// used end come from the file, so the search refuses a page whose entries do
// not fit it rather than read past it.
#include "dk/page_entries.h"

#include <cstring>

#include "dk/compression.h"
#include "platform/bytes.h"

int CompareKeys(const uint8_t* a, const uint8_t* b, int32_t length) {
  if (length < 1) return 0;
  int c = std::memcmp(a, b, static_cast<size_t>(length));
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int32_t LoadChild(const uint8_t* entry_end) {
  return static_cast<int32_t>(load_le32(entry_end));
}

void StoreChild(uint8_t* entry_end, int32_t page) {
  store_le32(entry_end, static_cast<uint32_t>(page));
}

bool FixedPageSound(const uint8_t* page, int32_t page_size, int32_t length, int32_t key_length) {
  int32_t l = EntryLength(page), u = UsedEnd(page);
  if (l < 1 || l < key_length || l > page_size - kPageHeaderBytes) return false;
  if (length > 0 && l != length) return false;
  return u >= kPageHeaderBytes && u <= page_size && (u - kPageHeaderBytes) % l == 0;
}

bool FixedPageOrdered(const uint8_t* page, int32_t page_size, int32_t length, int32_t key_length) {
  if (!FixedPageSound(page, page_size, length, key_length)) return false;
  int32_t l = EntryLength(page), u = UsedEnd(page);
  for (int32_t o = kPageHeaderBytes + l; o < u; o += l)
    if (CompareKeys(page + o - l, page + o, key_length) >= 0) return false;
  return true;
}

int32_t DKSearchFixed(int32_t* tab, const uint8_t* key, const uint8_t* page) {
  const int32_t k = tab[TAB_KEY_LENGTH], l = EntryLength(page), u = UsedEnd(page);
  tab[TAB_ENTRY_LENGTH] = l;
  tab[TAB_USED_END] = u;
  if (!FixedPageSound(page, tab[TAB_PAGE_SIZE], 0, k)) return -1;
  // The step starts at the largest power of two of entries not above n.
  int32_t s = 2 * l;
  while (s <= u - kPageHeaderBytes) s *= 2;
  s /= 2;
  int32_t o = kPageHeaderBytes - l + s;
  if (o >= u) {
    tab[TAB_POSITION] = o;
    return 0;
  }
  int c = CompareKeys(page + o, key, k);
  if (c < 0) o = u - s;  // entry n - p lies below the key as well
  while (c != 0) {
    if (s == l) {
      tab[TAB_POSITION] = c < 0 ? o + l : o;
      return 0;
    }
    s /= 2;
    o += c < 0 ? s : -s;
    c = CompareKeys(page + o, key, k);
  }
  tab[TAB_POSITION] = o;
  return l;
}

void InsertFixedEntry(uint8_t* page, int32_t position, const uint8_t* entry) {
  int32_t l = EntryLength(page), u = UsedEnd(page);
  std::memmove(page + position + l, page + position, static_cast<size_t>(u - position));
  std::memcpy(page + position, entry, static_cast<size_t>(l));
  SetPageWord(page, PAGE_USED_END, u + l);
}

void RemoveFixedEntry(uint8_t* page, int32_t position) {
  int32_t l = EntryLength(page), u = UsedEnd(page);
  std::memmove(page + position, page + position + l, static_cast<size_t>(u - position - l));
  SetPageWord(page, PAGE_USED_END, u - l);
}

void MoveLastEntries(uint8_t* from, uint8_t* to, int32_t count) {
  int32_t l = EntryLength(from), bytes = count * l;
  int32_t uf = UsedEnd(from), ut = UsedEnd(to);
  std::memmove(to + kPageHeaderBytes + bytes, to + kPageHeaderBytes,
               static_cast<size_t>(ut - kPageHeaderBytes));
  std::memcpy(to + kPageHeaderBytes, from + uf - bytes, static_cast<size_t>(bytes));
  SetPageWord(to, PAGE_USED_END, ut + bytes);
  SetPageWord(from, PAGE_USED_END, uf - bytes);
}

void MoveFirstEntries(uint8_t* from, uint8_t* to, int32_t count) {
  int32_t l = EntryLength(from), bytes = count * l;
  int32_t uf = UsedEnd(from), ut = UsedEnd(to);
  std::memcpy(to + ut, from + kPageHeaderBytes, static_cast<size_t>(bytes));
  std::memmove(from + kPageHeaderBytes, from + kPageHeaderBytes + bytes,
               static_cast<size_t>(uf - kPageHeaderBytes - bytes));
  SetPageWord(to, PAGE_USED_END, ut + bytes);
  SetPageWord(from, PAGE_USED_END, uf - bytes);
}

int32_t DirCount(const uint8_t* page, int32_t page_size) {
  return PageWord(page, page_size / 4 - 1);
}

int32_t DirOffset(const uint8_t* page, int32_t page_size, int32_t entry) {
  return PageWord(page, page_size / 4 - 1 - entry);
}

int32_t DirLength(const uint8_t* page, int32_t page_size, int32_t entry) {
  int32_t end =
      entry < DirCount(page, page_size) ? DirOffset(page, page_size, entry + 1) : UsedEnd(page);
  return end - DirOffset(page, page_size, entry);
}

bool DirPageSound(const uint8_t* page, int32_t page_size, int32_t length) {
  if (EntryLength(page) != length) return false;
  const int32_t n = DirCount(page, page_size), u = UsedEnd(page);
  if (n < 0 || n > page_size / 4 || u < kPageHeaderBytes) return false;
  if (static_cast<int64_t>(u) + 4 * (static_cast<int64_t>(n) + 1) > page_size) return false;
  int32_t previous = kPageHeaderBytes;
  for (int32_t i = 1; i <= n; ++i) {
    int32_t o = DirOffset(page, page_size, i);
    if (i == 1 ? o != kPageHeaderBytes : o < previous) return false;
    previous = o;
  }
  return previous <= u && (n > 0 || u == kPageHeaderBytes);
}

void DirFormat(uint8_t* page, int32_t page_size, int32_t length) {
  SetPageWord(page, PAGE_ENTRY_LENGTH, length);
  SetPageWord(page, PAGE_USED_END, kPageHeaderBytes);
  SetPageWord(page, page_size / 4 - 1, 0);
}

namespace {

// Compares entry i's compressed key with the plain key: -1, 0, +1, or below
// -1 when the entry cannot be read.
int32_t CompareEntry(const int32_t* tab, const uint8_t* page, int32_t entry, const uint8_t* key) {
  const int32_t size = tab[TAB_PAGE_SIZE], k = tab[TAB_KEY_LENGTH];
  const int32_t o = DirOffset(page, size, entry);
  ConstByteSpan stored(page + o, static_cast<size_t>(DirLength(page, size, entry)));
  return DKCompareKey(stored, 0, ConstByteSpan(key, static_cast<size_t>(k)), 0, k, tab[TAB_METHOD]);
}

}  // namespace

int32_t DKSearchDir(int32_t* tab, const uint8_t* key, const uint8_t* page) {
  const int32_t size = tab[TAB_PAGE_SIZE], l = EntryLength(page);
  tab[TAB_ENTRY_LENGTH] = l;
  tab[TAB_USED_END] = UsedEnd(page);
  if (l < 1 || l < tab[TAB_KEY_LENGTH] || !DirPageSound(page, size, l)) return -1;
  const int32_t n = DirCount(page, size);
  if (n == 0) {
    tab[TAB_POSITION] = 1;
    return 0;
  }
  int32_t p = 1;
  while (p * 2 <= n) p *= 2;
  int32_t s = p, e = p;
  int32_t c = CompareEntry(tab, page, e, key);
  if (c < -1) return -1;
  if (c < 0) e = n - p + 1;  // known to lie below the key as well
  while (c != 0) {
    if (s == 1) {
      tab[TAB_POSITION] = c < 0 ? e + 1 : e;
      return 0;
    }
    s /= 2;
    e += c < 0 ? s : -s;
    c = CompareEntry(tab, page, e, key);
    if (c < -1) return -1;
  }
  tab[TAB_POSITION] = e;
  return l;
}

void DirInsert(uint8_t* page, int32_t page_size, int32_t entry, const uint8_t* bytes,
               int32_t length) {
  const int32_t n = DirCount(page, page_size), u = UsedEnd(page);
  const int32_t at = entry <= n ? DirOffset(page, page_size, entry) : u;
  std::memmove(page + at + length, page + at, static_cast<size_t>(u - at));
  std::memcpy(page + at, bytes, static_cast<size_t>(length));
  const int32_t last = page_size / 4 - 1;
  for (int32_t j = n; j >= entry; --j)
    SetPageWord(page, last - j - 1, DirOffset(page, page_size, j) + length);
  SetPageWord(page, last - entry, at);
  SetPageWord(page, last, n + 1);
  SetPageWord(page, PAGE_USED_END, u + length);
}

void DirRemove(uint8_t* page, int32_t page_size, int32_t entry) {
  const int32_t n = DirCount(page, page_size), u = UsedEnd(page);
  const int32_t at = DirOffset(page, page_size, entry), d = DirLength(page, page_size, entry);
  std::memmove(page + at, page + at + d, static_cast<size_t>(u - at - d));
  const int32_t last = page_size / 4 - 1;
  for (int32_t j = entry; j < n; ++j)
    SetPageWord(page, last - j, DirOffset(page, page_size, j + 1) - d);
  SetPageWord(page, last, n - 1);
  SetPageWord(page, PAGE_USED_END, u - d);
}

void DirReplace(uint8_t* page, int32_t page_size, int32_t entry, const uint8_t* bytes,
                int32_t length) {
  const int32_t n = DirCount(page, page_size), u = UsedEnd(page);
  const int32_t at = DirOffset(page, page_size, entry), d = DirLength(page, page_size, entry);
  std::memmove(page + at + length, page + at + d, static_cast<size_t>(u - at - d));
  std::memcpy(page + at, bytes, static_cast<size_t>(length));
  const int32_t last = page_size / 4 - 1;
  for (int32_t j = entry + 1; j <= n; ++j)
    SetPageWord(page, last - j, DirOffset(page, page_size, j) + length - d);
  SetPageWord(page, PAGE_USED_END, u + length - d);
}
