// Method 1 of key and record compression: a sequence of items, each a short
// literal (tag 00, 1 to 64 bytes), a long literal (tag 01 and a count byte,
// 65 to 16448 bytes) or a repeat of the last byte produced (tag 10 and a
// count byte, 3 to 16386 more). Tag 11 is never written.
#include <algorithm>
#include <cstring>

#include "dk/compression.h"
#include "dk/compression_internal.h"

namespace dk_compression {
namespace {

// The compressor's longest literal item and longest repeat.
constexpr int64_t kLongest = 16384;
constexpr int64_t kShortLiteralMax = 64;
constexpr int64_t kLongLiteralBias = 65;
constexpr int64_t kRepeatBias = 3;

struct RunItem {
  int64_t count = 0;  // bytes the item stands for
  bool repeat = false;
};

// Reads the tag (and count byte) at *pos; false when the tag is 11 or the
// item's header does not lie below `limit`.
bool ReadRunItem(const uint8_t* form, int64_t limit, int64_t* pos, RunItem* item) {
  if (*pos >= limit) return false;
  const uint8_t tag = form[*pos];
  const int kind = tag >> 6;
  if (kind == 0) {
    *item = {(tag & 0x3F) + 1, false};
    *pos += 1;
    return true;
  }
  if (kind == 3 || *pos + 1 >= limit) return false;
  const int64_t high = static_cast<int64_t>(tag & 0x3F) * 256 + form[*pos + 1];
  *item = kind == 1 ? RunItem{high + kLongLiteralBias, false} : RunItem{high + kRepeatBias, true};
  *pos += 2;
  return true;
}

// The sign of (each byte of the range minus `byte`) at the first byte that
// differs from it.
int32_t CompareWithByte(const uint8_t* bytes, int64_t count, uint8_t byte) {
  for (int64_t i = 0; i < count; ++i) {
    if (bytes[i] != byte) return bytes[i] < byte ? -1 : 1;
  }
  return 0;
}

// One side of a comparison of two compressed keys: where it is in its item.
struct RunCursor {
  const uint8_t* form;
  int64_t limit;
  int64_t pos = 0;
  int64_t left = 0;  // bytes left in the current item
  bool repeat = false;
  int last = -1;  // last byte produced; -1 before the first

  bool Next() {
    RunItem item;
    if (!ReadRunItem(form, limit, &pos, &item)) return false;
    if (item.repeat && last < 0) return false;
    left = item.count;
    repeat = item.repeat;
    return true;
  }
  // Whether the next `count` bytes of a literal lie below the limit.
  bool Holds(int64_t count) const { return repeat || count <= limit - pos; }
  void Consume(int64_t count) {
    if (!repeat) {
      last = form[pos + count - 1];
      pos += count;
    }
    left -= count;
  }
};

// The first position in [from, end) whose byte is followed by at least four
// copies of itself inside `length`; `end` when there is none. It is the
// first run start whose following run is four or more, so the literal stops
// where a scan that steps over each shorter run whole would stop. Five
// positions are tested at once: a byte of x ^ (x shifted by one byte) is
// zero where two neighbours are equal, and four zeros in a row mark five
// equal bytes.
int64_t FindRunOfFive(const uint8_t* s, int64_t from, int64_t end, int64_t length) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  int64_t q = from;
  for (; q < end && q + 9 <= length; q += 5) {
    uint64_t a, b;
    std::memcpy(&a, s + q, 8);
    std::memcpy(&b, s + q + 1, 8);
    const uint64_t d = a ^ b;
    const uint64_t zero = ~(((d & kLow7) + kLow7) | d | kLow7);  // 0x80 in each zero byte
    const uint64_t four = zero & (zero >> 8) & (zero >> 16) & (zero >> 24);
    if (four != 0) return std::min(q + (__builtin_ctzll(four) >> 3), end);  // little-endian
  }
  for (; q < end && q + 4 < length; ++q) {
    if (s[q] == s[q + 1] && s[q] == s[q + 2] && s[q] == s[q + 3] && s[q] == s[q + 4]) return q;
  }
  return end;
}

// How many bytes from `from` on, up to `end`, equal `byte`.
int64_t EqualBytes(const uint8_t* s, int64_t from, int64_t end, uint8_t byte) {
  const uint64_t pattern = 0x0101010101010101ULL * byte;
  int64_t q = from;
  for (; q + 8 <= end; q += 8) {
    uint64_t x;
    std::memcpy(&x, s + q, 8);
    if (x != pattern) return q - from + (__builtin_ctzll(x ^ pattern) >> 3);
  }
  while (q < end && s[q] == byte) ++q;
  return q - from;
}

}  // namespace

int64_t CompressRunLength(const uint8_t* source, int64_t length, uint8_t* dest, int64_t room) {
  int64_t out = 0;
  int64_t start = 0;
  while (start < length) {
    // The literal runs up to the first byte followed by at least four copies
    // of itself; without one it takes the whole scan (at most kLongest).
    const int64_t scan_end = std::min(start + kLongest, length);
    const int64_t q = FindRunOfFive(source, start, scan_end, length);
    const int64_t literal = q < scan_end ? q - start + 1 : scan_end - start;
    const int64_t run =
        q < scan_end ? EqualBytes(source, q + 1, std::min(q + 1 + kLongest, length), source[q]) : 0;
    const int64_t header = literal <= kShortLiteralMax ? 1 : 2;
    if (header + literal + (run > 0 ? 2 : 0) > room - out) return kCompressBadParameter;
    if (header == 1) {
      dest[out++] = static_cast<uint8_t>(literal - 1);
    } else {
      dest[out++] = static_cast<uint8_t>(0x40 | ((literal - kLongLiteralBias) >> 8));
      dest[out++] = static_cast<uint8_t>((literal - kLongLiteralBias) & 0xFF);
    }
    std::memcpy(dest + out, source + start, literal);
    out += literal;
    if (run > 0) {
      dest[out++] = static_cast<uint8_t>(0x80 | ((run - kRepeatBias) >> 8));
      dest[out++] = static_cast<uint8_t>((run - kRepeatBias) & 0xFF);
    }
    start += literal + run;
  }
  return out;
}

int32_t ExpandRunLength(const uint8_t* form, int64_t limit, uint8_t* dest, int64_t capacity,
                        int64_t* produced) {
  int64_t pos = 0;
  int64_t out = 0;
  int32_t rc = 0;
  while (limit > 0 && out < capacity) {
    RunItem item;
    if (!ReadRunItem(form, limit, &pos, &item) || (item.repeat && out == 0)) {
      rc = kCompressCorrupt;
      break;
    }
    const int64_t count = std::min(item.count, capacity - out);
    if (item.repeat) {
      std::memset(dest + out, dest[out - 1], count);
    } else {
      if (count > limit - pos) {
        rc = kCompressCorrupt;
        break;
      }
      if (count <= 16) {
        CopyShort(dest + out, form + pos, count);
      } else {
        std::memcpy(dest + out, form + pos, count);
      }
      pos += count;
    }
    out += count;
    if (pos >= limit) break;
  }
  *produced = out;
  return rc;
}

int32_t CompareRunLengthKey(const uint8_t* form, int64_t limit, const uint8_t* key,
                            int64_t key_length) {
  int64_t pos = 0;
  int64_t done = 0;
  int last = -1;
  while (done < key_length) {
    RunItem item;
    if (!ReadRunItem(form, limit, &pos, &item)) return kCompressCorrupt;
    const int64_t count = std::min(item.count, key_length - done);
    if (item.repeat) {
      if (last < 0) return kCompressCorrupt;
      // The plain side is the range here, so the sign turns round.
      const int32_t c = CompareWithByte(key + done, count, static_cast<uint8_t>(last));
      if (c != 0) return -c;
    } else {
      if (count > limit - pos) return kCompressCorrupt;
      const int c = std::memcmp(form + pos, key + done, count);
      if (c != 0) return Sign(c);
      last = form[pos + count - 1];
      pos += count;
    }
    done += count;
  }
  return 0;
}

int32_t CompareRunLengthKeys(const uint8_t* a, int64_t a_limit, const uint8_t* b, int64_t b_limit,
                             int64_t key_length) {
  RunCursor x{a, a_limit};
  RunCursor y{b, b_limit};
  int64_t done = 0;
  while (done < key_length) {
    if (x.left == 0 && !x.Next()) return kCompressCorrupt;
    if (y.left == 0 && !y.Next()) return kCompressCorrupt;
    const int64_t step = std::min({x.left, y.left, key_length - done});
    if (!x.Holds(step) || !y.Holds(step)) return kCompressCorrupt;
    int32_t c = 0;
    if (!x.repeat && !y.repeat) {
      c = Sign(std::memcmp(x.form + x.pos, y.form + y.pos, step));
    } else if (!x.repeat) {
      c = CompareWithByte(x.form + x.pos, step, static_cast<uint8_t>(y.last));
    } else if (!y.repeat) {
      c = -CompareWithByte(y.form + y.pos, step, static_cast<uint8_t>(x.last));
    }
    // Two repeats need no comparison: each repeats its byte at the position
    // just before, which was found equal on both sides.
    if (c != 0) return c;
    x.Consume(step);
    y.Consume(step);
    done += step;
  }
  return 0;
}

}  // namespace dk_compression
