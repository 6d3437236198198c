// The checks and small steps that the large-object routines share: finding
// the databank, reading the caller's page list out of the word storage, the
// soundness of a listed page and of a page's frame, and freeing one page.
#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/databank_format.h"
#include "dk/large_object.h"
#include "dk/large_object_internal.h"
#include "dk/table_entries.h"
#include "dk/word_storage_access.h"

namespace {

// A list longer than this cannot be a list: its pairs would not fit into a
// 32-bit word count.
constexpr int32_t kMaxListPairs = (INT32_MAX - 2) / 2;

int32_t UnitsOfSize(int32_t page_size) {
  switch (page_size) {
    case 2048:
      return 1;
    case 16384:
      return 8;
    case 65536:
      return 32;
    default:
      return 0;
  }
}

}  // namespace

int32_t LobReport(int32_t routine, int32_t rc, int32_t value, int32_t databank) {
  const bool argument = rc == -43 || rc == -45 || rc == -55 || rc == -76 || rc == -85;
  ReportPageError(routine, rc, argument ? 2 : 3, value, databank);
  return rc;
}

int32_t LobDatabank(int32_t did, int32_t routine) {
  const int32_t databank = DKFindDatabank(did);
  return databank > 0 ? databank : LobReport(routine, -45, did);
}

int32_t OpenPageList(int32_t index, int32_t routine, LobPageList* list) {
  const int32_t* head = index > 1 ? DKStorageWords(index - 1, 1) : nullptr;
  if (head == nullptr) return LobReport(routine, -43, index);
  const int32_t capacity = *head;
  if (capacity < 0 || capacity > kMaxListPairs) return LobReport(routine, -43, capacity);
  int32_t* words = DKStorageWords(index - 1, 2 * capacity + 2);
  if (words == nullptr) return LobReport(routine, -43, index);
  list->pairs = words + 1;
  list->capacity = capacity;
  list->pages = 0;
  while (list->pages < capacity && list->pairs[2 * list->pages] != 0) ++list->pages;
  return 0;
}

bool LobPageSound(int64_t page, int32_t page_size) {
  const int32_t units = UnitsOfSize(page_size);
  if (units == 0 || page <= kHeaderUnit || page > INT32_MAX - units || page % units != 0)
    return false;
  const int64_t bit = page % kBitmapChunkUnits;
  return bit != 0 && bit + units <= kBitmapChunkUnits;
}

int32_t CheckListPages(const LobPageList& list, int32_t routine, int32_t databank,
                       int64_t* capacity_bytes) {
  int64_t bytes = 0;
  for (int32_t i = 0; i < list.pages; ++i) {
    const int32_t page = list.pairs[2 * i], size = list.pairs[2 * i + 1];
    if (UnitsOfSize(size) == 0) return LobReport(routine, -76, size);
    if (!LobPageSound(page, size)) return LobReport(routine, -43, page, databank);
    bytes += LobCapacity(size);
  }
  if (capacity_bytes) *capacity_bytes = bytes;
  return 0;
}

bool LobFrameSound(const uint8_t* page, int32_t page_size) {
  const int32_t n = PageWord(page, LOP_COUNT);
  if (n < 0 || n > LobCapacity(page_size)) return false;
  const int32_t last = PageWord(page, LOP_LAST_WORD);
  if (last == LOP_FRESH_LAST_WORD && n == 0) return true;
  const int32_t trailer = LobTrailerWord(n);
  return last == trailer && PageWord(page, trailer) == n;
}

int32_t FreeLobPage(int32_t databank, int32_t page, int32_t page_size) {
  int32_t rq[REQ_WORDS] = {databank, page, page_size, 0, -1, 0};
  const int32_t buffer = DKGET0(rq, GET_UPDATE);
  if (buffer < 0) return buffer;
  return DKFRE0(rq, buffer);
}
