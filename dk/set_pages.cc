// The page-level helpers of the set routines: the set's description from its
// table entry and root record, checked gets of its list and data pages, the
// stored forms of a record, and the finish of a changed page by write mode.
#include "dk/set_pages.h"

#include <algorithm>
#include <cstring>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/compression.h"
#include "dk/control_area.h"
#include "dk/control_words.h"
#include "dk/routine_names.h"

namespace dkset {
namespace {
constexpr int32_t kRootPageWords = kRootPageSize / 4;

}  // namespace

int32_t RoutineIndex(std::string_view name) {
  // The internal routines first, then the entry routines (an open's own
  // steps report under DKOPD1, index 44).
  for (int32_t i = DK_FIRST_ROUTINE; i < 0; ++i)
    if (DKRoutineName(i) == name) return i;
  for (int32_t i = 1; i <= DK_LAST_ROUTINE; ++i)
    if (DKRoutineName(i) == name) return i;
  return 0;
}

int32_t Fail(const Set& s, int32_t rc, int32_t value, int32_t severity) {
  ReportPageError(s.routine, rc, severity, value, severity == 2 ? 0 : s.databank);
  return rc;
}

int32_t* Words(int32_t buffer) {
  return PageWords(buffer);
}

int32_t Get(const Set& s, int32_t page, int32_t size, int mode) {
  if (page <= 0) return Fail(s, size == s.data_size ? -65 : -63, page);
  int32_t rq[REQ_WORDS] = {s.databank, page, size, 0, -1, 0};
  return DKGET0(rq, mode);
}

void Release(int32_t buffer, int mode) {
  if (buffer > 0) DKPUT0(mode == GET_SHARED ? PUT_END_SHARED : PUT_UNCHANGED, buffer);
}

// A list page got for reading or update: its marks and counts lie where the
// walk expects them, else it is a corrupt page (released here).
int32_t GetList(const Set& s, int32_t page, int mode) {
  const int32_t b = Get(s, page, s.list_size, mode);
  if (b <= 0) return b;
  const int32_t* w = Words(b);
  if (w[SETLIST_MARK] != kSetListMark || w[SETLIST_DATA_SIZE] != s.data_size ||
      w[SETLIST_LAST] < SETLIST_FIRST - 1 || w[SETLIST_LAST] >= s.list_words()) {
    Release(b, mode);
    return Fail(s, -63, page);
  }
  for (int32_t i = SETLIST_FIRST; i <= w[SETLIST_LAST]; ++i) {
    if (w[i] <= 0) {
      Release(b, mode);
      return Fail(s, -63, page);
    }
  }
  return b;
}

int32_t GetData(const Set& s, int32_t page, int mode) {
  const int32_t b = Get(s, page, s.data_size, mode);
  if (b <= 0) return b;
  const int32_t* w = Words(b);
  if (w[SETDATA_MARK] != kSetDataMark || w[SETDATA_END] < SETDATA_FIRST ||
      w[SETDATA_END] >= s.data_words()) {
    Release(b, mode);
    return Fail(s, -65, page);
  }
  return b;
}

// The length n of the record at q, or 0 when no whole record lies there.
int32_t RecordAt(const int32_t* w, int32_t q) {
  const int32_t used = w[SETDATA_END];
  if (q < SETDATA_FIRST || q >= used) return 0;
  const int32_t n = w[q];
  if (n < 2 || n > used - q || w[q + n - 1] != n) return 0;
  return n;
}

// The length of the record that ends just before q, 0 when none does.
int32_t RecordBefore(const int32_t* w, int32_t q) {
  if (q <= SETDATA_FIRST || q > w[SETDATA_END]) return 0;
  const int32_t n = w[q - 1];
  if (n < 2 || n > q - SETDATA_FIRST || w[q - n] != n) return 0;
  return n;
}

bool IsCompressedRecord(const Set& s, int32_t n) {
  return s.method != kCompressNone && n >= kCompressedFrame;
}

ByteSpan BytesOf(int32_t* words, int64_t count) {
  return ByteSpan(reinterpret_cast<uint8_t*>(words), static_cast<size_t>(count) * 4);
}

// The stored form of the record of `length` words at `record`.
int32_t StoredForm(const Set& s, const int32_t* record, int32_t length,
                   std::vector<int32_t>* form) {
  if (s.method == kCompressNone || length <= kPlainHead) {
    form->assign(record, record + length);
    return 0;
  }
  const int32_t rest = (length - kPlainHead) * 4;
  form->assign(1 + kPlainHead + (CompressedSizeBound(rest) + 3) / 4, 0);
  (*form)[0] = length;
  std::copy(record, record + kPlainHead, form->begin() + 1);
  std::vector<int32_t> source(record + kPlainHead, record + length);
  int32_t compressed = 0;
  const int32_t rc =
      DKCompress(BytesOf(form->data(), static_cast<int64_t>(form->size())), (1 + kPlainHead) * 4,
                 &compressed, BytesOf(source.data(), length - kPlainHead), 0, rest, s.method);
  if (rc < 0) return Fail(s, rc, length, 2);
  form->resize(1 + kPlainHead + (compressed + 3) / 4);
  return 0;
}

void SealData(const Set& s, int32_t buffer) {
  int32_t* w = Words(buffer);
  const int32_t end = std::clamp(w[SETDATA_END], SETDATA_FIRST, s.data_words());
  std::fill(w + end, w + s.data_words(), 0);
  SetWriteSize(buffer, s.data_size);
}

int32_t NewPage(const Set& s, int32_t size, int32_t* page) {
  int32_t rq[REQ_WORDS] = {s.databank, 0, size, 0, -1, 0};
  const int32_t b = DKHLD0(rq, -1);
  *page = rq[REQ_PAGE];
  return b;
}

void FreePage(const Set& s, int32_t page, int32_t size, int32_t buffer) {
  int32_t rq[REQ_WORDS] = {s.databank, page, size, 0, -1, 0};
  DKFRE0(rq, buffer);
}

// Gives back a page changed by a set routine as the caller's mode asks: -2
// writes it at once (a work databank only releases it), a TSS puts it in that
// transaction's write set, 0 leaves it changed in the pool.
int32_t Finish(const Set& s, int32_t mode, int32_t buffer, int32_t page, int32_t size,
               int32_t failure) {
  if (mode == kWriteAtOnce && !s.work) {
    int32_t rq[REQ_WORDS] = {s.databank, page, size, 0, -1, 0};
    if (DKWRP0(rq, WRP_WRITE_WAIT, buffer) < 0) return Fail(s, failure, page);
    return 0;
  }
  if (mode > 0 && !s.work) DKMRK0(mode, MRK_WRITE_SET, buffer);
  DKPUT0(PUT_CHANGED, buffer);
  return 0;
}

// Checks the table entry, finds the root entry and reads the set's sizes and
// list page numbers from it.
bool IsTableEntry(int32_t t) {
  const int32_t* area = Bufferpool();
  const int32_t first = area[BP_TABLE_FIRST], last = area[BP_TABLE_LAST];
  return first > 0 && t >= first && t <= last && (t - first) % TBE_WORDS == 0;
}

int32_t CheckSetTable(std::span<int32_t> block, int32_t routine) {
  if (block.size() < SETRQ_RECORD) {
    ReportPageError(routine, -43, 2, static_cast<int32_t>(block.size()));
    return -43;
  }
  const int32_t t = block[SETRQ_TABLE];
  if (!IsTableEntry(t) || Bufferpool()[t + ENTRY_KEY] != block[SETRQ_TBL]) {
    ReportPageError(routine, -46, 2, block[SETRQ_TBL]);
    return -46;
  }
  return 0;
}

int32_t OpenSet(std::span<int32_t> block, int32_t routine, Set* s) {
  s->routine = routine;
  if (const int32_t rc = CheckSetTable(block, routine); rc < 0) return rc;
  const int32_t* area = Bufferpool();
  const int32_t t = block[SETRQ_TABLE];
  s->table = t;
  s->databank = area[t + TBE_DATABANK];
  s->root_page = area[t + TBE_ROOT_PAGE];
  s->root_word = area[t + TBE_ROOT_WORD];
  s->method = area[t + TBE_METHOD];
  if (!DKIsDatabankEntry(s->databank)) {
    ReportPageError(routine, -45, 2, s->databank);
    return -45;
  }
  s->work = area[s->databank + DBE_KIND] == DBK_WORK;
  if (s->root_page <= 0 || s->root_word < 4 || s->root_word + kRootEntryWords > kRootPageWords)
    return Fail(*s, -50, block[SETRQ_TBL], 2);
  const int32_t root = Get(*s, s->root_page, kRootPageSize, GET_SHARED);
  if (root < 0) return root;
  const int32_t* r = Words(root) + s->root_word + 1;
  s->data_size = r[SETROOT_DATA_SIZE];
  s->list_size = r[SETROOT_LIST_SIZE];
  s->first_list = r[SETROOT_FIRST_LIST];
  s->last_list = r[SETROOT_LAST_LIST];
  Release(root, GET_SHARED);
  if (FindPool(s->data_size) == 0 || FindPool(s->list_size) == 0 ||
      s->list_words() <= SETLIST_FIRST)
    return Fail(*s, -76, FindPool(s->data_size) == 0 ? s->data_size : s->list_size, 2);
  if (s->method < kCompressNone || s->method > kCompressBackReference)
    return Fail(*s, -43, s->method, 2);
  return 0;
}

// Sets the root record's list page words (first only when `first` is not 0).
int32_t UpdateRoot(const Set& s, int32_t mode, int32_t last, int32_t first) {
  const int32_t root = Get(s, s.root_page, kRootPageSize, GET_UPDATE);
  if (root < 0) return root;
  int32_t* r = Words(root) + s.root_word + 1;
  r[SETROOT_LAST_LIST] = last;
  if (first >= 0) r[SETROOT_FIRST_LIST] = first;
  return Finish(s, mode, root, s.root_page, kRootPageSize, -61);
}

}  // namespace dkset
