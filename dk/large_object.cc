// Allocating the pages of a large object (DKALO1) and putting and getting its
// bytes (DKPLO1, DKGLO1). An object's bytes run through its listed pages in
// list order, each page holding its capacity (page size - 40) except the
// last; a put only appends to a page or starts it afresh, so a page's data
// count always says where its bytes end.
#include "dk/large_object.h"

#include <algorithm>
#include <cstring>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/databank_format.h"
#include "dk/large_object_internal.h"
#include "dk/transactions.h"

namespace {

constexpr int32_t kIndexDKALO1 = DKF_ALO1;
constexpr int32_t kIndexDKPLO1 = DKF_PLO1;
constexpr int32_t kIndexDKGLO1 = DKF_GLO1;
constexpr int32_t kSmallPage = 2048, kMiddlePage = 16384;

int64_t Words64(const int32_t* block, int word) {
  return static_cast<int64_t>(
      (static_cast<uint64_t>(static_cast<uint32_t>(block[word + 1])) << 32) |
      static_cast<uint32_t>(block[word]));
}

// The page size the next page of an object takes when `rest` bytes remain.
int32_t NextPageSize(int64_t rest, int32_t largest) {
  if (rest <= LobCapacity(kSmallPage)) return kSmallPage;
  if (rest <= LobCapacity(kMiddlePage)) return kMiddlePage;
  return largest;
}

// The pages an object of `length` bytes takes; stops counting above `limit`.
int64_t PagesFor(int64_t length, int32_t largest, int64_t limit) {
  int64_t pages = 0;
  for (int64_t rest = length; rest > 0 && pages <= limit; ++pages) {
    const int32_t size = NextPageSize(rest, largest);
    if (LobCapacity(size) <= 0) return limit + 1;
    rest -= LobCapacity(size);
  }
  return pages;
}

// The start number of the transaction in a put's word 0, or -85 reported:
// the entry must be one a begin made and that is still building up.
int32_t TransactionStart(int32_t tss) {
  if (DKIsTssEntry(tss)) {
    const int32_t start = LoadWord(tss + TSS_START), state = LoadWord(tss + TSS_STATE);
    if (start > 0 && (state == TSS_BUILDUP_RO || state == TSS_BUILDUP_RW || state == TSS_IN_DOUBT))
      return start;
  }
  return LobReport(kIndexDKPLO1, -85, tss);
}

struct PutTarget {
  int32_t databank;
  const int32_t* identity;
  int32_t transaction;  // start number, 0 without a transaction
};

// Places `n` bytes at `within` on one page: a page whose bytes start there
// is taken afresh, any other must end exactly there.
int32_t PutPage(const PutTarget& t, int32_t page, int32_t size, int32_t within,
                const uint8_t* bytes, int32_t n) {
  int32_t rq[REQ_WORDS] = {t.databank, page, size, 0, -1, 0};
  const int32_t buffer = DKGET0(rq, within == 0 ? GET_NEW : GET_UPDATE);
  if (buffer < 0) return buffer;
  uint8_t* p = PageBytes(buffer);
  if (within == 0) {
    SetPageWord(p, PAGE_KIND, size);
    SetPageWord(p, LOP_LAST_WORD, LOP_FRESH_LAST_WORD);
    SetPageWord(p, 3, 0);
    SetPageWord(p, 4, 0);
  } else if (!LobFrameSound(p, size) || PageWord(p, LOP_COUNT) != within) {
    const int32_t found = LobFrameSound(p, size) ? PageWord(p, LOP_COUNT) : -1;
    DKPUT0(PUT_UNCHANGED, buffer);
    return LobReport(kIndexDKPLO1, -55, found, t.databank);
  }
  if (PageWord(p, LOP_LAST_WORD) == LOP_FRESH_LAST_WORD)
    for (int i = 0; i < LOB_IDENTITY_WORDS; ++i) SetPageWord(p, LOP_IDENTITY + i, t.identity[i]);
  std::memcpy(p + LOP_DATA_BYTE + within, bytes, static_cast<size_t>(n));
  const int32_t count = within + n;
  SetPageWord(p, LOP_COUNT, count);
  SetPageWord(p, LobTrailerWord(count), count);
  SetPageWord(p, LOP_LAST_WORD, LobTrailerWord(count));
  // Only the words in use go to disk; a read never looks past the trailer.
  SetWriteSizeFromPage(buffer);
  if (t.transaction == 0) return DKPUT0(PUT_CHANGED_KEEP, buffer);
  DKMRK0(t.transaction, MRK_MARK, buffer);
  const int32_t written = DKWRP0(rq, WRP_WRITE_RELEASE, buffer);
  return written < 0 ? written : 0;
}

// The checks a put and a get share: databank, list, offset and count.
int32_t OpenTransfer(const int32_t* block, const void* bytes, int32_t routine, int32_t* databank,
                     LobPageList* list, int64_t* capacity) {
  const int32_t d = LobDatabank(block[LOB_DID], routine);
  if (d < 0) return d;
  *databank = d;
  const int64_t offset = Words64(block, LOB_OFFSET);
  const int32_t count = block[LOB_COUNT];
  if (offset < 0) return LobReport(routine, -43, block[LOB_OFFSET + 1]);
  if (count < 0 || (count > 0 && bytes == nullptr)) return LobReport(routine, -43, count);
  if (int32_t rc = OpenPageList(block[LOB_LIST], routine, list)) return rc;
  return CheckListPages(*list, routine, d, capacity);
}

}  // namespace

void DKALO1(int32_t* block, void* list_index) {
  const int32_t databank = LobDatabank(block[LOB_DID], kIndexDKALO1);
  if (databank < 0) return void(block[LOB_STATUS] = databank);
  const int64_t length = Words64(block, LOB_LENGTH);
  if (list_index == nullptr || length < 0)
    return void(block[LOB_STATUS] = LobReport(kIndexDKALO1, -43, block[LOB_LENGTH + 1]));
  LobPageList list;
  if (int32_t rc = OpenPageList(*static_cast<const int32_t*>(list_index), kIndexDKALO1, &list))
    return void(block[LOB_STATUS] = rc);
  const int32_t largest = LoadWord(BP_MAX_PAGE_SIZE);
  // A list too short for the object is refused before a page is taken.
  if (PagesFor(length, largest, list.capacity) > list.capacity)
    return void(block[LOB_STATUS] = LobReport(kIndexDKALO1, -43, list.capacity));
  int32_t status = 0, pages = 0;
  for (int64_t rest = length; rest > 0; ++pages) {
    const int32_t size = NextPageSize(rest, largest);
    int32_t rq[REQ_WORDS] = {databank, 0, size, 0, -1, 0};
    if ((status = DKHLD0(rq, 0)) < 0) break;
    status = 0;
    list.pairs[2 * pages] = rq[REQ_PAGE];
    list.pairs[2 * pages + 1] = size;
    rest -= LobCapacity(size);
  }
  list.pairs[2 * pages] = 0;
  block[LOB_STATUS] = status;
}

void DKPLO1(int32_t* block, void* data) {
  PutTarget t{0, block + LOB_IDENTITY, 0};
  LobPageList list;
  int64_t capacity = 0;
  if (int32_t rc = OpenTransfer(block, data, kIndexDKPLO1, &t.databank, &list, &capacity))
    return void(block[LOB_STATUS] = rc);
  if (block[LOB_STATUS] > 0) {
    t.transaction = TransactionStart(block[LOB_STATUS]);
    if (t.transaction < 0) return void(block[LOB_STATUS] = t.transaction);
  }
  int64_t offset = Words64(block, LOB_OFFSET);
  int32_t rest = block[LOB_COUNT];
  // Bytes the pages cannot hold would be lost: nothing is placed.
  if (rest > 0 && offset > capacity - rest)
    return void(block[LOB_STATUS] = LobReport(kIndexDKPLO1, -43, rest, t.databank));
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  int64_t start = 0;
  for (int32_t i = 0; i < list.pages && rest > 0; ++i) {
    const int32_t page = list.pairs[2 * i], size = list.pairs[2 * i + 1];
    const int32_t room = LobCapacity(size);
    if (start + room > offset) {
      const int32_t within = static_cast<int32_t>(offset - start);
      const int32_t n = std::min(room - within, rest);
      if (int32_t rc = PutPage(t, page, size, within, bytes, n))
        return void(block[LOB_STATUS] = rc);
      bytes += n;
      offset += n;
      rest -= n;
    }
    start += room;
  }
  block[LOB_STATUS] = 0;
}

void DKGLO1(int32_t* block, void* buffer) {
  int32_t databank = 0;
  LobPageList list;
  if (int32_t rc = OpenTransfer(block, buffer, kIndexDKGLO1, &databank, &list, nullptr)) {
    block[LOB_COUNT] = 0;
    return void(block[LOB_STATUS] = rc);
  }
  const int64_t offset = Words64(block, LOB_OFFSET);
  const int32_t wanted = block[LOB_COUNT];
  uint8_t* out = static_cast<uint8_t*>(buffer);
  int32_t delivered = 0, status = 0;
  int64_t start = 0;
  for (int32_t i = 0; i < list.pages && delivered < wanted; ++i) {
    const int32_t page = list.pairs[2 * i], size = list.pairs[2 * i + 1];
    const int32_t room = LobCapacity(size);
    if (start + room <= offset + delivered) {
      start += room;
      continue;
    }
    int32_t rq[REQ_WORDS] = {databank, page, size, 0, -1, 0};
    const int32_t b = DKGET0(rq, GET_SHARED);
    if (b < 0) {
      status = b;
      break;
    }
    const uint8_t* p = PageBytes(b);
    bool same = LobFrameSound(p, size);
    for (int k = 0; same && k < LOB_IDENTITY_WORDS; ++k)
      same = PageWord(p, LOP_IDENTITY + k) == block[LOB_IDENTITY + k];
    if (!same) {
      DKPUT0(PUT_END_SHARED, b);
      status = LobReport(kIndexDKGLO1, -55, page, databank);
      break;
    }
    const int32_t n = PageWord(p, LOP_COUNT);
    const int32_t within = static_cast<int32_t>(offset + delivered - start);
    const int32_t take = std::min(std::max(n - within, 0), wanted - delivered);
    if (take > 0)
      std::memcpy(out + delivered, p + LOP_DATA_BYTE + within, static_cast<size_t>(take));
    DKPUT0(PUT_END_SHARED, b);
    delivered += take;
    start += room;
    if (n < room) break;  // the object's last page
  }
  block[LOB_COUNT] = delivered;
  block[LOB_STATUS] = status;
}
