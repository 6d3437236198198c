// Formatting and changing bitmap, header and restore directory page images.
// The map of a bitmap page holds one bit per unit, most significant bit
// first; a page of 8 or 32 units owns one aligned byte or four aligned bytes.
#include "dk/databank_format.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"

namespace {

constexpr int32_t kMapBits = kBitmapChunkUnits;

uint8_t Mask(int32_t bit) {
  return static_cast<uint8_t>(0x80u >> (bit % 8));
}
uint8_t& MapByte(uint8_t* page, int32_t bit) {
  return page[kBitmapFirstByte + bit / 8];
}

bool ValidPage(int32_t bit, int32_t units) {
  return (units == 1 || units == 8 || units == 32) && bit >= 0 && bit % units == 0 &&
         bit + units <= kMapBits;
}

// Bits of the chunk that lie inside the file.
int32_t UsableBits(const uint8_t* page, int32_t unit) {
  int32_t next = PageWord(page, BMP_NEXT);
  if (next == unit + kBitmapChunkUnits) return kMapBits;
  return std::clamp(next - unit + 1, 0, kMapBits);
}

bool AllBits(const uint8_t* page, int32_t bit, int32_t units, bool set) {
  for (int32_t i = bit; i < bit + units; ++i)
    if (BitmapBit(page, i) != set) return false;
  return true;
}

void SetBits(uint8_t* page, int32_t bit, int32_t units, bool set) {
  for (int32_t i = bit; i < bit + units; ++i) {
    if (set) {
      MapByte(page, i) |= Mask(i);
    } else {
      MapByte(page, i) &= static_cast<uint8_t>(~Mask(i));
    }
  }
}

}  // namespace

int32_t PageWord(const uint8_t* page, int32_t word) {
  return static_cast<int32_t>(load_le32(page + 4 * word));
}

void SetPageWord(uint8_t* page, int32_t word, int32_t value) {
  store_le32(page + 4 * word, static_cast<uint32_t>(value));
}

void FormatBitmapPage(uint8_t* page, int32_t unit, int32_t next) {
  memset(page + 4, 0, kUnitBytes - 4);
  SetBits(page, 0, 1, true);
  int32_t free_units = kBitmapChunkUnits - 1;
  if (unit == 0) {
    SetBits(page, kHeaderUnit, 1, true);
    --free_units;
  }
  SetPageWord(page, BMP_FREE, free_units);
  SetPageWord(page, BMP_HINT, 0);
  SetPageWord(page, BMP_NEXT, next);
}

void FormatHeaderPage(uint8_t* page, int32_t system_identity, int32_t did, int32_t seqno) {
  memset(page + 4, 0, kUnitBytes - 4);
  SetPageWord(page, HDR_KIND, ROOT_PAGE_KIND);
  SetPageWord(page, HDR_CREATOR_VERSION, CREATOR_VERSION);
  SetPageWord(page, HDR_FORMAT, FORMAT_VERSION);
  SetPageWord(page, HDR_SYSTEM_IDENTITY, system_identity);
  SetPageWord(page, HDR_DID, did);
  SetPageWord(page, HDR_SEQNO, seqno);
}

bool BitmapBit(const uint8_t* page, int32_t bit) {
  return (page[kBitmapFirstByte + bit / 8] & Mask(bit)) != 0;
}

int32_t BitmapAllocate(uint8_t* page, int32_t unit, int32_t units) {
  if (units != 1 && units != 8 && units != 32) return -1;
  const int32_t free_units = PageWord(page, BMP_FREE);
  if (free_units < 0 || free_units > kMapBits) return kCorruptBitmap;
  if (free_units < units) return -1;
  const int32_t limit = UsableBits(page, unit);
  int32_t start = std::clamp(PageWord(page, BMP_HINT), 0, kMapBits);
  start = (start + units - 1) / units * units;
  for (int32_t bit = start; bit + units <= limit; bit += units) {
    // Whole free bytes are skipped quickly for the larger pages.
    if (units > 1 && MapByte(page, bit) != 0) continue;
    // A one-unit page passes over used bytes, eight at a time where it can:
    // the hint stays where the last free unit was, so a file that fills up
    // would otherwise be walked bit by bit on every allocation.
    if (units == 1 && bit % 8 == 0) {
      const int32_t from = bit;
      for (uint64_t word = 0; bit % 64 == 0 && bit + 64 <= limit; bit += 64) {
        std::memcpy(&word, &MapByte(page, bit), 8);
        if (word != ~uint64_t{0}) break;
      }
      while (bit + 8 <= limit && MapByte(page, bit) == 0xFF) bit += 8;
      if (bit != from) {
        bit -= units;  // the loop steps on to the first byte with a free unit
        continue;
      }
    }
    if (AllBits(page, bit, units, false)) {
      SetBits(page, bit, units, true);
      SetPageWord(page, BMP_FREE, free_units - units);
      return bit;
    }
  }
  return -1;
}

int32_t BitmapMark(uint8_t* page, int32_t bit, int32_t units) {
  const int32_t free_units = PageWord(page, BMP_FREE);
  if (!ValidPage(bit, units) || !AllBits(page, bit, units, false) || free_units < units)
    return kCorruptBitmap;
  SetBits(page, bit, units, true);
  SetPageWord(page, BMP_FREE, free_units - units);
  return 0;
}

int32_t BitmapFree(uint8_t* page, int32_t bit, int32_t units) {
  const int32_t free_units = PageWord(page, BMP_FREE);
  if (!ValidPage(bit, units) || !AllBits(page, bit, units, true) || free_units > kMapBits - units)
    return kCorruptBitmap;
  SetBits(page, bit, units, false);
  SetPageWord(page, BMP_FREE, free_units + units);
  if (PageWord(page, BMP_HINT) > bit) SetPageWord(page, BMP_HINT, bit);
  return 0;
}

int32_t RestoreSlotOf(const uint8_t* page, int32_t did) {
  for (int32_t s = 0; s < RDIR_SLOTS; ++s)
    if (PageWord(page, RDIR_FIRST_SLOT + s * RDIR_SLOT_WORDS + RDIR_DID) == did) return s;
  return -1;
}
