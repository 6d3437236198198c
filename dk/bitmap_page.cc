// Allocation and freeing of pages in the bitmap pages of a databank file, the
// growth of the file as pages are taken past its end, and the records of page
// releases deferred until a page has reached disk.
#include "dk/bitmap_page.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "platform/databank_io.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kIndexDKFRE0 = -50;
constexpr int32_t kIndexDKHLD0 = -58;
constexpr int32_t kIndexDKRPL0 = -98;

constexpr int kReleaseSlots = 11;  // page numbers per deferred release record

constexpr int32_t kPageSizes[3] = {2048, 16384, 65536};

int32_t UnitsOf(int32_t page_size) {
  return page_size / kUnitBytes;
}

int32_t SizeCode(int32_t page_size) {
  for (int i = 0; i < 3; ++i)
    if (kPageSizes[i] == page_size) return i + 1;
  return 0;
}

// A release slot has no room for a page size beside the page number, so the
// size is carried by the sign and the low bits, which pages of 8 and 32 units
// leave free: a 2048-byte page is kept as it is, a 16384-byte page p as -p
// (p a multiple of 8) and a 65536-byte page p as -(p + 1) (p a multiple of
// 32), so every page of a file of any size fits. 0 is a free slot.
int32_t EncodeRelease(int32_t page, int32_t page_size) {
  if (page_size == 16384) return -page;
  if (page_size == 65536) return -(page + 1);
  return page;
}

void DecodeRelease(int32_t slot, int32_t* page, int32_t* page_size) {
  if (slot > 0) {
    *page = slot;
    *page_size = 2048;
    return;
  }
  int64_t magnitude = -static_cast<int64_t>(slot);
  bool large = magnitude % 8 != 0;
  *page = static_cast<int32_t>(large ? magnitude - 1 : magnitude);
  *page_size = large ? 65536 : 16384;
}

// Lowers an allocation hint of the entry to `bitmap` when it is higher.
void LowerHint(int32_t databank, int32_t bitmap) {
  auto hint = PoolWord(databank + DBE_ALLOC_HINT);
  int32_t now = hint.load();
  while (now > bitmap && !hint.compare_exchange_weak(now, bitmap)) {
  }
}

int32_t TakeDatabankReleases(int32_t databank) {
  EnqdeqGuard guard(Bufferpool() + databank + DBE_RELEASE_LOCK);
  int32_t chain = Bufferpool()[databank + DBE_RELEASES];
  Bufferpool()[databank + DBE_RELEASES] = 0;
  return chain;
}

int32_t DiskFullCode(int32_t databank) {
  if (databank == LoadWord(BP_TRANS_ENTRY)) return -23;
  if (databank == LoadWord(BP_LOG_ENTRY)) return -22;
  if (databank == LoadWord(BP_WORK_ENTRY)) return -24;
  return -21;
}

int32_t ExtensionFailure(int32_t* request, int32_t databank, int32_t rc, int32_t unit, int32_t os) {
  int32_t code = rc == -6 ? DiskFullCode(databank) : -44;
  if (code == -44) request[REQ_PAGE] = unit;
  request[REQ_RC] = code;
  request[REQ_OS_ERROR] = os;
  ReportPageError(kIndexDKHLD0, code, 2, unit, databank, os);
  return code;
}

int32_t BitmapWriteFailure(int32_t* request, int32_t databank, int32_t unit) {
  request[REQ_RC] = -59;
  ReportPageError(kIndexDKHLD0, -59, 3, unit, databank);
  return -59;
}

// Gives the bitmap buffer back after an inconsistency was found.
int32_t CorruptBitmap(int32_t* request, int32_t index, int32_t databank, int32_t buffer,
                      int32_t unit) {
  DKPUT0(PUT_UNCHANGED, buffer);
  request[REQ_RC] = -49;
  ReportPageError(index, -49, 3, unit, databank);
  return -49;
}

}  // namespace

int32_t ExtendFile(int32_t databank, int32_t from, int32_t units, int32_t* os) {
  int32_t io[IO_REQUEST_WORDS] = {0, -1, LoadWord(databank + DBE_CHANNEL), from, 0};
  io[IO_BYTE_COUNT] = static_cast<int32_t>(
      std::min<int64_t>(static_cast<int64_t>(units) * kUnitBytes, int64_t{1} << 30));
  mdrdmx(io);
  *os = io[IO_OS_STATUS];
  if (io[IO_RC] > 0) {
    CountWord(databank + DBE_EXTENSIONS);
    CountWord(BP_EXTENDS);
  }
  return io[IO_RC];
}

int32_t DKHLD0(int32_t* request, int32_t buffer) {
  int32_t databank = request[REQ_DATABANK], page_size = request[REQ_PAGE_SIZE];
  int32_t units = UnitsOf(page_size);
  if (SizeCode(page_size) == 0 || FindPool(page_size) == 0) {
    request[REQ_RC] = -76;
    request[REQ_OS_ERROR] = -1;
    ReportPageError(kIndexDKHLD0, -76, 2, page_size, 0);
    return -76;
  }
  if (int32_t chain = TakeDatabankReleases(databank)) RunReleaseChain(databank, chain);

  int32_t bitmap = LoadWord(databank + DBE_ALLOC_HINT);
  int32_t found_page = 0;
  for (;;) {
    int32_t rq[REQ_WORDS] = {databank, bitmap, kUnitBytes, 0, -1, 0};
    int32_t map_buffer = DKGET0(rq, GET_UPDATE);
    if (map_buffer < 0) {
      request[REQ_RC] = rq[REQ_RC];
      request[REQ_OS_ERROR] = rq[REQ_OS_ERROR];
      return rq[REQ_RC];
    }
    // A chunk a cut of the file took away is left with word 3 before its
    // own unit: its page is no longer the file's, so the walk starts again
    // from the hint, or from the first chunk when the hint names this one.
    if (PageWord(PageBytes(map_buffer), BMP_NEXT) < bitmap) {
      DKPUT0(PUT_UNCHANGED, map_buffer);
      int32_t hint = LoadWord(databank + DBE_ALLOC_HINT);
      bitmap = hint < bitmap ? hint : 0;
      continue;
    }
    uint8_t* map = PageBytes(map_buffer);
    bool extended = false;
    int32_t bit;
    // Allocation stays inside the file; when the file ends in this chunk with
    // room for the page after its end, the file grows first.
    while ((bit = BitmapAllocate(map, bitmap, units)) == -1) {
      int32_t last = PageWord(map, BMP_NEXT);
      int32_t chunk_end = bitmap + kBitmapChunkUnits;
      if (last >= chunk_end - 1 || PageWord(map, BMP_FREE) < units) break;
      int32_t group = (last + 1 - bitmap + units - 1) / units * units;
      if (group + units > kBitmapChunkUnits) break;
      int32_t from = last + 1, os = -1;
      int32_t added = ExtendFile(databank, from, bitmap + group + units - from, &os);
      if (added <= 0) {
        DKPUT0(extended ? PUT_CHANGED_KEEP : PUT_UNCHANGED, map_buffer);
        return ExtensionFailure(request, databank, added < 0 ? added : -9, from, os);
      }
      SetPageWord(map, BMP_NEXT, std::min(last + added, chunk_end - 1));
      extended = true;
    }
    if (bit == kCorruptBitmap)
      return CorruptBitmap(request, kIndexDKHLD0, databank, map_buffer, bitmap);
    if (bit >= 0) {
      if (extended) {
        int32_t wrq[REQ_WORDS] = {databank, bitmap, kUnitBytes, 0, -1, 0};
        if (DKWRP0(wrq, WRP_WRITE_WAIT, map_buffer) != 0)
          return BitmapWriteFailure(request, databank, bitmap);
      } else {
        DKPUT0(PUT_CHANGED_KEEP, map_buffer);
      }
      CountWord(databank + DBE_ALLOCATIONS);
      CountWord(BP_ALLOCATIONS);
      found_page = bitmap + bit;
      break;
    }
    if (PageWord(map, BMP_FREE) == 0) {
      int32_t expected = bitmap;
      PoolWord(databank + DBE_ALLOC_HINT)
          .compare_exchange_strong(expected, bitmap + kBitmapChunkUnits);
    }
    int32_t next = bitmap + kBitmapChunkUnits;
    if (PageWord(map, BMP_NEXT) >= next) {
      DKPUT0(extended ? PUT_CHANGED_KEEP : PUT_UNCHANGED, map_buffer);
      bitmap = next;
      continue;
    }
    // No room left in the last chunk: grow the file to the next bitmap unit
    // and start a new chunk there.
    while (PageWord(map, BMP_NEXT) < next) {
      int32_t from = PageWord(map, BMP_NEXT) + 1, os = -1;
      int32_t added = ExtendFile(databank, from, 1, &os);
      if (added <= 0) {
        DKPUT0(extended ? PUT_CHANGED_KEEP : PUT_UNCHANGED, map_buffer);
        return ExtensionFailure(request, databank, added < 0 ? added : -9, from, os);
      }
      SetPageWord(map, BMP_NEXT, PageWord(map, BMP_NEXT) + added);
      extended = true;
    }
    int32_t last_unit = PageWord(map, BMP_NEXT);
    // Until the new bitmap page is on disk this page stays the last one, and
    // its word 3 a unit of its own chunk, also when it is released below.
    SetPageWord(map, BMP_NEXT, std::min(last_unit, next - 1));
    int32_t nrq[REQ_WORDS] = {databank, next, kUnitBytes, 0, -1, 0};
    int32_t new_buffer = DKGET0(nrq, GET_NEW);
    if (new_buffer < 0) {
      DKPUT0(PUT_CHANGED_KEEP, map_buffer);
      request[REQ_RC] = nrq[REQ_RC];
      return nrq[REQ_RC];
    }
    FormatBitmapPage(PageBytes(new_buffer), next,
                     std::min(last_unit, next + kBitmapChunkUnits - 1));
    // The new bitmap page reaches disk before the page that names it.
    if (DKWRP0(nrq, WRP_WRITE_WAIT, new_buffer) != 0) {
      DKPUT0(PUT_CHANGED_KEEP, map_buffer);
      return BitmapWriteFailure(request, databank, next);
    }
    SetPageWord(map, BMP_NEXT, next);
    int32_t orq[REQ_WORDS] = {databank, bitmap, kUnitBytes, 0, -1, 0};
    if (DKWRP0(orq, WRP_WRITE_WAIT, map_buffer) != 0)
      return BitmapWriteFailure(request, databank, bitmap);
    bitmap = next;
  }

  request[REQ_PAGE] = found_page;
  request[REQ_RC] = 0;
  if (buffer == 0) return 0;
  int32_t rq[REQ_WORDS] = {databank, found_page, page_size, 0, -1, 0};
  int32_t fresh = DKGET0(rq, GET_NEW);
  if (fresh < 0) {
    request[REQ_RC] = rq[REQ_RC];
    return rq[REQ_RC];
  }
  if (buffer < 0) {
    std::memset(reinterpret_cast<char*>(PageWords(fresh)) + 4, 0, page_size - 4);
    return fresh;
  }
  // Move the held buffer to the new page: the two BCBs swap page buffers and
  // the old page's BCB is dropped.
  int32_t old_bcb = BufferBcb(buffer), new_bcb = BufferBcb(fresh);
  Bufferpool()[old_bcb + BCB_BUFFER] = fresh;
  Bufferpool()[new_bcb + BCB_BUFFER] = buffer;
  PageWords(buffer)[0] = new_bcb;
  PageWords(fresh)[0] = old_bcb;
  // Releases recorded on the held buffer, its write set, the page that
  // waits for it and the pages it waits for belong to its content, which is
  // now the new page's: they go with it rather than with the old page that
  // is dropped. So the move writes nothing: writing the pages before it
  // could wait for a page the caller holds.
  CarryContent(old_bcb, new_bcb);
  DropCarriedBuffer(fresh);
  return buffer;
}

int32_t DKFRE0(int32_t* request, int32_t buffer) {
  int32_t databank = request[REQ_DATABANK], page = request[REQ_PAGE];
  int32_t page_size = request[REQ_PAGE_SIZE];
  int32_t units = UnitsOf(page_size);
  if (page == 0 && buffer <= 0) return 0;
  if (SizeCode(page_size) == 0 || FindPool(page_size) == 0) {
    request[REQ_RC] = -76;
    ReportPageError(kIndexDKFRE0, -76, 2, page_size, 0);
    return -76;
  }
  int32_t chunk = page / kBitmapChunkUnits * kBitmapChunkUnits, bit = page % kBitmapChunkUnits;
  if (page <= 0 || page % units != 0 || bit == 0 || bit + units > kBitmapChunkUnits ||
      page == kHeaderUnit) {
    if (buffer > 0) DKWRP0(request, WRP_DROP, buffer);
    request[REQ_RC] = -49;
    ReportPageError(kIndexDKFRE0, -49, 3, page, databank);
    return -49;
  }
  if (buffer > 0) {
    int32_t drq[REQ_WORDS] = {databank, page, page_size, 0, -1, 0};
    DKWRP0(drq, WRP_DROP, buffer);
  } else {
    int32_t rq[REQ_WORDS] = {databank, page, page_size, 0, -1, 0};
    int32_t resident = DKGET0(rq, GET_UPDATE_IF_RESIDENT);
    if (resident > 0) DKWRP0(rq, WRP_DROP, resident);
  }
  int32_t rq[REQ_WORDS] = {databank, chunk, kUnitBytes, 0, -1, 0};
  int32_t map_buffer = DKGET0(rq, GET_UPDATE);
  if (map_buffer < 0) {
    request[REQ_RC] = rq[REQ_RC];
    request[REQ_OS_ERROR] = rq[REQ_OS_ERROR];
    return rq[REQ_RC];
  }
  if (BitmapFree(PageBytes(map_buffer), bit, units) != 0)
    return CorruptBitmap(request, kIndexDKFRE0, databank, map_buffer, chunk);
  LowerHint(databank, chunk);
  DKPUT0(PUT_CHANGED_KEEP, map_buffer);
  CountWord(databank + DBE_DEALLOCATIONS);
  CountWord(BP_DEALLOCATIONS);
  request[REQ_RC] = 0;
  return 0;
}

int32_t DKRPL0(int32_t buffer, int32_t page, int32_t owner, int32_t page_size) {
  int32_t bcb = BufferBcb(buffer);
  for (int32_t p = LoadWord(BP_FIRST_PARTITION); p > 0 && page_size == 0; p = LoadWord(p - 1)) {
    int32_t last = LoadWord(p + PART_LAST_BCB);
    if (bcb <= last && bcb >= last - BCB_WORDS * (LoadWord(p + PART_PAGES) - 1))
      page_size = LoadWord(p + PART_PAGE_SIZE);
  }
  // A slot carries its page's size; a page that cannot be one of that size
  // would be freed wrongly later, so it is refused now.
  if (page <= 0 || FindPool(page_size) == 0 || page % UnitsOf(page_size) != 0) {
    ReportPageError(kIndexDKRPL0, -43, 2, page, 0);
    return -43;
  }
  int32_t slot_value = EncodeRelease(page, page_size);
  int32_t* area = Bufferpool();
  for (int32_t rec = area[bcb + BCB_RELEASES]; rec != 0; rec = area[rec - 1]) {
    if (area[rec] != owner) continue;
    for (int s = 1; s <= kReleaseSlots; ++s)
      if (area[rec + s] == 0) {
        area[rec + s] = slot_value;
        return 0;
      }
  }
  int32_t table_hash = LoadWord(BP_TABLE_HASH);
  int32_t rec;
  {
    EnqdeqGuard guard(area + BP_LOCK_TABLE_FREE);
    rec = DKHMA0(table_hash);
  }
  if (rec < 1) {
    ReportPageError(kIndexDKRPL0, -14, 2, LoadWord(BP_TABLE_COUNT), 0);
    return -14;
  }
  std::memset(area + rec, 0, sizeof(int32_t) * 12);
  area[rec] = owner;
  area[rec + 1] = slot_value;
  area[rec - 1] = area[bcb + BCB_RELEASES];
  area[bcb + BCB_RELEASES] = rec;
  return 0;
}

void FreeReleaseRecords(int32_t chain) {
  if (chain == 0) return;
  int32_t* area = Bufferpool();
  int32_t table_hash = LoadWord(BP_TABLE_HASH);
  EnqdeqGuard guard(area + BP_LOCK_TABLE_FREE);
  while (chain != 0) {
    int32_t next = area[chain - 1];
    std::memset(area + chain, 0, sizeof(int32_t) * 12);
    DKHML0(table_hash, chain);
    chain = next;
  }
}

void RunReleaseChain(int32_t databank, int32_t chain) {
  int32_t* area = Bufferpool();
  for (int32_t rec = chain; rec != 0; rec = area[rec - 1]) {
    for (int s = 1; s <= kReleaseSlots; ++s) {
      int32_t slot = area[rec + s];
      if (slot == 0) continue;
      int32_t page, page_size;
      DecodeRelease(slot, &page, &page_size);
      int32_t rq[REQ_WORDS] = {databank, page, page_size, 0, -1, 0};
      DKFRE0(rq, 0);
    }
  }
  FreeReleaseRecords(chain);
}

void AppendDatabankReleases(int32_t databank, int32_t chain) {
  int32_t* area = Bufferpool();
  int32_t tail = chain;
  while (area[tail - 1] != 0) tail = area[tail - 1];
  EnqdeqGuard guard(area + databank + DBE_RELEASE_LOCK);
  area[tail - 1] = area[databank + DBE_RELEASES];
  area[databank + DBE_RELEASES] = chain;
}
