// Method 2 of key and record compression: a first literal run, then matches
// (copy L bytes from D bytes back, D up to 18440) and literal runs. A match's
// last byte carries in its two low bits 0 to 3 literal bytes that follow it
// untagged. The compressor looks at one candidate per position, found through
// a 4096-slot hash of the next four bytes.
#include <algorithm>
#include <array>
#include <cstring>

#include "dk/compression.h"
#include "dk/compression_internal.h"

namespace dk_compression {
namespace {

constexpr int64_t kWindow = 18440;
constexpr int64_t kNearDistanceMax = 8;
constexpr int64_t kMiddleDistanceMin = 9;
constexpr int64_t kMiddleDistanceMax = 2056;
constexpr int64_t kFarDistanceMin = 2057;
constexpr int64_t kShortRunMin = 4;  // literal runs of 4..34 have a one-byte tag
constexpr int64_t kShortRunMax = 34;
constexpr int64_t kLongRunBias = 35;
constexpr int64_t kFirstRunLongBias = 256;
constexpr int64_t kMaxFlaggedGroups = 4;  // the most any length of 31 bits needs
constexpr int kHashSlots = 4096;

// --- Numbers -------------------------------------------------------------

int PutLeb(uint8_t* out, uint64_t value) {
  int n = 0;
  while (value >= 0x80) {
    out[n++] = static_cast<uint8_t>(0x80 | (value & 0x7F));
    value >>= 7;
  }
  out[n++] = static_cast<uint8_t>(value);
  return n;
}

int LebSize(uint64_t value) {
  int n = 1;
  while (value >= 0x80) value >>= 7, ++n;
  return n;
}

// At most five bytes, the fifth carrying bits 28 to 31 only.
bool ReadLeb(const uint8_t* form, int64_t limit, int64_t* pos, uint64_t* value) {
  uint64_t v = 0;
  for (int i = 0; i < 5; ++i) {
    if (*pos >= limit) return false;
    const uint8_t b = form[(*pos)++];
    v |= static_cast<uint64_t>(b & 0x7F) << (7 * i);
    if ((b & 0x80) == 0) {
      if (i == 4 && b > 0x0F) return false;
      *value = v;
      return true;
    }
  }
  return false;
}

// Reads the bytes with bit 7 set as groups of 7 bits, lowest first, and stops
// before the first byte without it, which must be there.
bool ReadFlaggedGroups(const uint8_t* form, int64_t limit, int64_t* pos, uint64_t* value,
                       int* bits) {
  uint64_t v = 0;
  int groups = 0;
  while (*pos < limit && (form[*pos] & 0x80) != 0) {
    if (groups == kMaxFlaggedGroups) return false;
    v |= static_cast<uint64_t>(form[(*pos)++] & 0x7F) << (7 * groups++);
  }
  *value = v;
  *bits = 7 * groups;
  return *pos < limit;
}

// --- Items ---------------------------------------------------------------

struct Item {
  bool match = false;
  int64_t length = 0;    // literal bytes, or bytes the match copies
  int64_t distance = 0;  // how far back a match copies from
  int trailing = 0;      // literal bytes after a match
};

// The two bytes that end a middle or far match: the low distance bits are
// already in `distance`, `shift` tells where the last byte's bits go.
bool ReadMatchEnd(const uint8_t* form, int64_t limit, int64_t* pos, int shift, Item* item) {
  if (*pos >= limit) return false;
  const uint8_t b = form[(*pos)++];
  item->distance |= static_cast<int64_t>(b >> 2) << shift;
  item->trailing = b & 3;
  return true;
}

// Reads the header of the item at *pos (a literal run's bytes and a match's
// trailing literals stay unread); false when it is cut off by the limit or
// holds a number no compressor writes.
[[gnu::always_inline]] inline bool ReadItem(const uint8_t* form, int64_t limit, int64_t* pos,
                                            Item* item) {
  if (*pos >= limit) return false;
  const uint8_t t = form[(*pos)++];
  *item = Item{};
  uint64_t v = 0;
  int bits = 0;
  if (t == 0x00) {
    if (!ReadLeb(form, limit, pos, &v)) return false;
    item->length = static_cast<int64_t>(v) + kLongRunBias;
    return true;
  }
  if (t < 0x20) {
    item->length = t + 3;
    return true;
  }
  item->match = true;
  if (t < 0x30) {  // near: D 1..8
    if (!ReadFlaggedGroups(form, limit, pos, &v, &bits)) return false;
    const uint8_t last = form[(*pos)++];
    v |= static_cast<uint64_t>(last >> 2) << bits;
    item->distance = ((t >> 1) & 7) + 1;
    item->length = 3 + 2 * static_cast<int64_t>(v) + (t & 1);
    item->trailing = last & 3;
    return true;
  }
  if (t < 0x38) {  // middle: D 9..2056, L 9 and more
    if (!ReadFlaggedGroups(form, limit, pos, &v, &bits)) return false;
    const uint8_t low = form[(*pos)++];
    item->length = 9 + static_cast<int64_t>((v << 5) | ((t & 7) << 2) | ((low >> 5) & 3));
    item->distance = low & 0x1F;
    if (!ReadMatchEnd(form, limit, pos, 5, item)) return false;
    item->distance += kMiddleDistanceMin;
    return true;
  }
  if (t < 0x40) {  // far: D 2057..18440
    if (t == 0x38) {
      if (!ReadLeb(form, limit, pos, &v)) return false;
      item->length = static_cast<int64_t>(v) + 11;
    } else {
      item->length = (t & 7) + 3;
    }
    if (*pos >= limit) return false;
    item->distance = form[(*pos)++];
    if (!ReadMatchEnd(form, limit, pos, 8, item)) return false;
    item->distance += kFarDistanceMin;
    return true;
  }
  item->length = (t >> 5) + 1;  // short middle: L 3..8
  item->distance = t & 0x1F;
  if (!ReadMatchEnd(form, limit, pos, 5, item)) return false;
  item->distance += kMiddleDistanceMin;
  return true;
}

// Writes the match into `out` (at most 8 bytes), its trailing count 0.
int PutMatch(uint8_t* out, int64_t distance, int64_t length) {
  int n = 0;
  if (distance <= kNearDistanceMax) {
    out[n++] = static_cast<uint8_t>(0x20 | ((distance - 1) << 1) | ((length - 3) & 1));
    uint64_t v = static_cast<uint64_t>(length - 3) >> 1;
    for (; v >= 32; v >>= 7) out[n++] = static_cast<uint8_t>(0x80 | (v & 0x7F));
    out[n++] = static_cast<uint8_t>(v << 2);
  } else if (distance <= kMiddleDistanceMax) {
    const int64_t e = distance - kMiddleDistanceMin;
    if (length <= 8) {
      out[n++] = static_cast<uint8_t>(((length - 1) << 5) | (e & 0x1F));
    } else {
      const int64_t m = length - 9;
      out[n++] = static_cast<uint8_t>(0x30 | ((m >> 2) & 7));
      if (m >= 32) {
        for (uint64_t v = static_cast<uint64_t>(m) >> 5; v != 0; v >>= 7) {
          out[n++] = static_cast<uint8_t>(0x80 | (v & 0x7F));
        }
      }
      out[n++] = static_cast<uint8_t>(((m & 3) << 5) | (e & 0x1F));
    }
    out[n++] = static_cast<uint8_t>((e >> 5) << 2);
  } else {
    const int64_t e = distance - kFarDistanceMin;
    if (length >= 11) {
      out[n++] = 0x38;
      n += PutLeb(out + n, static_cast<uint64_t>(length - 11));
    } else {
      out[n++] = static_cast<uint8_t>(0x38 | (length - 3));
    }
    out[n++] = static_cast<uint8_t>(e & 0xFF);
    out[n++] = static_cast<uint8_t>((e >> 8) << 2);
  }
  return n;
}

// --- Compressor ----------------------------------------------------------

// The hash slots hold epoch + position. Each compression takes a new epoch
// above every value stored before, so slots of earlier sources read as empty
// without clearing the table each time.
struct HashSlots {
  std::array<uint32_t, kHashSlots> slot{};
  uint32_t next_epoch = 1;

  uint32_t Begin(int64_t length) {
    if (static_cast<uint64_t>(next_epoch) + static_cast<uint64_t>(length) + 1 > UINT32_MAX) {
      slot.fill(0);
      next_epoch = 1;
    }
    const uint32_t epoch = next_epoch;
    next_epoch += static_cast<uint32_t>(length) + 1;
    return epoch;
  }
};

thread_local HashSlots t_slots;

inline uint32_t Hash4(const uint8_t* p) {
  return (1119u * p[0] + 961u * p[1] + 31u * p[2] + p[3]) & (kHashSlots - 1);
}

// Bytes from a and b onwards that are equal, up to `end` for b (a < b).
int64_t EqualRun(const uint8_t* source, int64_t a, int64_t b, int64_t end) {
  int64_t n = 0;
  while (b + n + 8 <= end) {
    uint64_t x, y;
    std::memcpy(&x, source + a + n, 8);
    std::memcpy(&y, source + b + n, 8);
    if (x != y) return n + (__builtin_ctzll(x ^ y) >> 3);  // little-endian
    n += 8;
  }
  while (b + n < end && source[a + n] == source[b + n]) ++n;
  return n;
}

// Writes the literal run source[start, + count); false when it does not fit.
bool PutLiterals(const uint8_t* source, int64_t start, int64_t count, uint8_t* dest, int64_t room,
                 int64_t* out) {
  if (count <= 0) return true;
  int64_t header = 0;
  if (start == 0) {
    header = count < kFirstRunLongBias ? 1 : 1 + LebSize(count - kFirstRunLongBias);
  } else if (count >= kShortRunMin) {
    header = count <= kShortRunMax ? 1 : 1 + LebSize(count - kLongRunBias);
  }
  if (header + count > room - *out) return false;
  if (start == 0) {
    dest[(*out)++] = static_cast<uint8_t>(count < kFirstRunLongBias ? count : 0);
    if (count >= kFirstRunLongBias) *out += PutLeb(dest + *out, count - kFirstRunLongBias);
  } else if (count < kShortRunMin) {
    dest[*out - 1] |= static_cast<uint8_t>(count);  // the last byte of the match before
  } else if (count <= kShortRunMax) {
    dest[(*out)++] = static_cast<uint8_t>(count - 3);
  } else {
    dest[(*out)++] = 0x00;
    *out += PutLeb(dest + *out, count - kLongRunBias);
  }
  if (count <= 16) {
    CopyShort(dest + *out, source + start, count);
  } else {
    std::memcpy(dest + *out, source + start, count);
  }
  *out += count;
  return true;
}

// The candidate for position p, or -1; p is entered into the slot in its place.
int64_t TakeCandidate(const uint8_t* source, int64_t p, uint32_t epoch,
                      std::array<uint32_t, kHashSlots>& slot) {
  uint32_t& s = slot[Hash4(source + p)];
  const uint32_t stored = s;
  s = epoch + static_cast<uint32_t>(p);
  if (stored < epoch || stored - epoch >= p) return -1;
  const int64_t c = stored - epoch;
  const int64_t d = p - c;
  if (d > kWindow || std::memcmp(source + c, source + p, 3) != 0) return -1;
  if (d >= kFarDistanceMin && source[c + 3] != source[p + 3]) return -1;
  return c;
}

}  // namespace

int64_t CompressBackReference(const uint8_t* source, int64_t length, uint8_t* dest, int64_t room) {
  if (length < 1) return 0;
  HashSlots& table = t_slots;
  const uint32_t epoch = table.Begin(length);
  // Only positions with four bytes to hash are entered; a shorter source
  // stays one literal run.
  if (length >= 4) table.slot[Hash4(source)] = epoch;
  int64_t out = 0;
  int64_t pending = 0;
  int64_t p = 1;
  for (;;) {
    int64_t c = -1;
    while (c < 0) {
      if (p >= length - 3) {
        p = length;
        break;
      }
      c = TakeCandidate(source, p, epoch, table.slot);
      if (c < 0) ++p;
    }
    if (!PutLiterals(source, pending, p - pending, dest, room, &out)) return kCompressBadParameter;
    if (p == length) return out;
    const int64_t match = 3 + EqualRun(source, c + 3, p + 3, length);
    uint8_t code[16];
    const int n = PutMatch(code, p - c, match);
    if (n > room - out) return kCompressBadParameter;
    CopyShort(dest + out, code, n);
    out += n;
    // Positions inside a match are not entered into the table.
    p += match;
    pending = p;
  }
}

// --- Expander ------------------------------------------------------------

namespace {

// Copies `count` bytes from `distance` back. An overlapping copy repeats the
// pattern: each memcpy takes the whole pattern copied so far, which stays a
// multiple of the distance long, so source and target never overlap.
void CopyMatch(uint8_t* dest, int64_t out, int64_t distance, int64_t count) {
  uint8_t* to = dest + out;
  const uint8_t* from = to - distance;
  if (distance >= count && count <= 16) {
    CopyShort(to, from, count);
  } else if (distance == 1) {
    std::memset(to, *from, count);
  } else if (count <= 16) {
    for (int64_t i = 0; i < count; ++i) to[i] = from[i];  // forward, so it repeats
  } else {
    int64_t done = 0;
    while (done < count) {
      const int64_t chunk = std::min(distance + done, count - done);
      std::memcpy(to + done, from, chunk);
      done += chunk;
    }
  }
}

// The first literal run's length: one byte 1..255, or 0 and LEB(k - 256).
bool ReadFirstRun(const uint8_t* form, int64_t limit, int64_t* pos, int64_t* length) {
  const uint8_t k = form[(*pos)++];
  if (k != 0) {
    *length = k;
    return true;
  }
  uint64_t v = 0;
  if (!ReadLeb(form, limit, pos, &v)) return false;
  *length = static_cast<int64_t>(v) + kFirstRunLongBias;
  return true;
}

// Copies up to `count` literal bytes (cut to the capacity left); false when
// the bytes needed are not below the limit.
[[gnu::always_inline]] inline bool CopyLiterals(const uint8_t* form, int64_t limit, int64_t* pos,
                                                int64_t count, uint8_t* dest, int64_t capacity,
                                                int64_t* out) {
  const int64_t n = std::min(count, capacity - *out);
  if (n > limit - *pos) return false;
  if (n <= 16) {
    CopyShort(dest + *out, form + *pos, n);
  } else {
    std::memcpy(dest + *out, form + *pos, n);
  }
  *pos += n;
  *out += n;
  return true;
}

}  // namespace

int32_t ExpandBackReference(const uint8_t* form, int64_t limit, uint8_t* dest, int64_t capacity,
                            int64_t* produced) {
  int64_t pos = 0;
  int64_t out = 0;
  *produced = 0;
  if (limit < 1 || capacity < 1) return 0;
  int64_t first = 0;
  if (!ReadFirstRun(form, limit, &pos, &first) ||
      !CopyLiterals(form, limit, &pos, first, dest, capacity, &out)) {
    return kCompressCorrupt;
  }
  int32_t rc = 0;
  while (out < capacity && pos < limit) {
    Item item;
    if (!ReadItem(form, limit, &pos, &item)) {
      rc = kCompressCorrupt;
      break;
    }
    if (!item.match) {
      if (!CopyLiterals(form, limit, &pos, item.length, dest, capacity, &out)) {
        rc = kCompressCorrupt;
        break;
      }
      continue;
    }
    if (item.distance > out) {  // reaches before the start of the output
      rc = kCompressCorrupt;
      break;
    }
    const int64_t n = std::min(item.length, capacity - out);
    CopyMatch(dest, out, item.distance, n);
    out += n;
    if (!CopyLiterals(form, limit, &pos, item.trailing, dest, capacity, &out)) {
      rc = kCompressCorrupt;
      break;
    }
  }
  *produced = out;
  return rc;
}

// --- Comparison with a plain key -----------------------------------------

namespace {

// Compares up to `count` literal bytes (cut to the key bytes left) with the
// key at *done; kCompressCorrupt when they are not below the limit.
int32_t CompareLiterals(const uint8_t* form, int64_t limit, int64_t* pos, int64_t count,
                        const uint8_t* key, int64_t key_length, int64_t* done) {
  const int64_t n = std::min(count, key_length - *done);
  if (n > limit - *pos) return kCompressCorrupt;
  const int c = std::memcmp(form + *pos, key + *done, n);
  *pos += n;
  *done += n;
  return Sign(c);
}

// A match compared against the plain key itself: every byte before *done is
// equal on both sides, so the key's bytes `distance` back stand for the
// expanded ones. Taken in pieces of at most `distance` bytes, each piece's
// source is already compared.
int32_t CompareMatch(const uint8_t* key, int64_t key_length, int64_t distance, int64_t count,
                     int64_t* done) {
  int64_t left = std::min(count, key_length - *done);
  while (left > 0) {
    const int64_t piece = std::min(distance, left);
    const int c = std::memcmp(key + *done - distance, key + *done, piece);
    if (c != 0) return Sign(c);
    *done += piece;
    left -= piece;
  }
  return 0;
}

}  // namespace

int32_t CompareBackReferenceKey(const uint8_t* form, int64_t limit, const uint8_t* key,
                                int64_t key_length) {
  if (key_length < 1) return 0;
  if (limit < 1) return kCompressCorrupt;
  int64_t pos = 0;
  int64_t done = 0;
  int64_t first = 0;
  if (!ReadFirstRun(form, limit, &pos, &first)) return kCompressCorrupt;
  int32_t c = CompareLiterals(form, limit, &pos, first, key, key_length, &done);
  while (c == 0 && done < key_length) {
    Item item;
    if (!ReadItem(form, limit, &pos, &item)) return kCompressCorrupt;
    if (!item.match) {
      c = CompareLiterals(form, limit, &pos, item.length, key, key_length, &done);
      continue;
    }
    if (item.distance > done) return kCompressCorrupt;
    c = CompareMatch(key, key_length, item.distance, item.length, &done);
    if (c == 0) c = CompareLiterals(form, limit, &pos, item.trailing, key, key_length, &done);
  }
  return c;
}

}  // namespace dk_compression
