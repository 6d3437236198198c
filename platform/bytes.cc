// Byte primitives, bitmaps and null indicators. Every routine first cuts its
// fields to the areas that hold them (clip_field), then works on raw bytes
// without allocating; memmove and memset carry the whole-word moves and fills.
#include "platform/bytes.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kBlank = 0x20;

ByteTable make_case_table(bool lower) {
  ByteTable t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(i);
  for (int c = 'A'; c <= 'Z'; ++c) {
    if (lower) {
      t[c] = static_cast<uint8_t>(c + 32);
    } else {
      t[c + 32] = static_cast<uint8_t>(c);
    }
  }
  for (int c = 192; c <= 222; ++c) {
    if (c == 215) continue;  // the multiplication sign has no case
    if (lower) {
      t[c] = static_cast<uint8_t>(c + 32);
    } else {
      t[c + 32] = static_cast<uint8_t>(c);
    }
  }
  return t;
}

// The common part of two padded compares: the first difference of a and b,
// each read as extended with the fill byte up to the longer length.
int32_t padded_difference(ConstByteSpan a, ConstByteSpan b, uint8_t fill) {
  const size_t common = std::min(a.size(), b.size());
  if (common > 0 && std::memcmp(a.data(), b.data(), common) != 0) {
    const auto [x, y] = std::mismatch(a.begin(), a.begin() + common, b.begin());
    const int32_t k = static_cast<int32_t>(x - a.begin() + 1);
    return *x < *y ? -k : k;
  }
  const size_t longest = std::max(a.size(), b.size());
  for (size_t i = common; i < longest; ++i) {
    const uint8_t x = i < a.size() ? a[i] : fill;
    const uint8_t y = i < b.size() ? b[i] : fill;
    if (x != y) {
      const int32_t k = static_cast<int32_t>(i + 1);
      return x < y ? -k : k;
    }
  }
  return 0;
}

// The bitmap word and mask of bit n, or false when n is outside the bitmap.
bool locate_bit(size_t words, int32_t n, size_t* word, uint32_t* mask) {
  if (n < 0 || static_cast<size_t>(n / 32) >= words) return false;
  *word = static_cast<size_t>(n / 32);
  *mask = 1u << (n % 32);
  return true;
}

}  // namespace

const ByteTable kLowerCaseTable = make_case_table(true);
const ByteTable kUpperCaseTable = make_case_table(false);

ConstByteSpan clip_field(ConstByteSpan area, int64_t offset, int64_t length) {
  if (offset < 0 || length < 1 || static_cast<uint64_t>(offset) >= area.size()) return {};
  const uint64_t room = area.size() - static_cast<uint64_t>(offset);
  return area.subspan(static_cast<size_t>(offset),
                      static_cast<size_t>(std::min<uint64_t>(room, length)));
}

ByteSpan clip_field(ByteSpan area, int64_t offset, int64_t length) {
  if (offset < 0 || length < 1 || static_cast<uint64_t>(offset) >= area.size()) return {};
  const uint64_t room = area.size() - static_cast<uint64_t>(offset);
  return area.subspan(static_cast<size_t>(offset),
                      static_cast<size_t>(std::min<uint64_t>(room, length)));
}

int32_t mdr_compare_bytes(ConstByteSpan a, int32_t a_offset, ConstByteSpan b, int32_t b_offset,
                          int32_t n) {
  const ConstByteSpan x = clip_field(a, a_offset, n);
  const ConstByteSpan y = clip_field(b, b_offset, n);
  const size_t count = std::min(x.size(), y.size());
  if (count == 0) return 0;
  const int r = std::memcmp(x.data(), y.data(), count);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int32_t mdr_compare_padded(ConstByteSpan a, int32_t a_offset, int32_t a_length, ConstByteSpan b,
                           int32_t b_offset, int32_t b_length, uint8_t fill) {
  return padded_difference(clip_field(a, a_offset, a_length), clip_field(b, b_offset, b_length),
                           fill);
}

void mdr_move_pad(ByteSpan target, int32_t t_offset, int32_t t_length, ConstByteSpan source,
                  int32_t s_offset, int32_t s_length, uint8_t fill) {
  const ByteSpan t = clip_field(target, t_offset, t_length);
  if (t.empty()) return;
  const ConstByteSpan s = clip_field(source, s_offset, s_length);
  const size_t copied = std::min(t.size(), s.size());
  if (copied > 0) std::memmove(t.data(), s.data(), copied);
  if (copied < t.size()) std::memset(t.data() + copied, fill, t.size() - copied);
}

int32_t mdr_find_byte(ConstByteSpan base, int32_t offset, int32_t n, uint8_t byte) {
  const int64_t wanted = n < 0 ? -static_cast<int64_t>(n) : n;
  const ConstByteSpan f = clip_field(base, offset, wanted);
  if (n > 0) {
    for (size_t i = 0; i < f.size(); ++i) {
      if (f[i] != byte) return static_cast<int32_t>(i + 1);
    }
  } else {
    for (size_t i = f.size(); i > 0; --i) {
      if (f[i - 1] != byte) return static_cast<int32_t>(i);
    }
  }
  return 0;
}

int32_t mdr_index_of_byte(ConstByteSpan base, int32_t offset, int32_t n, uint8_t byte) {
  const int64_t wanted = n < 0 ? -static_cast<int64_t>(n) : n;
  const ConstByteSpan f = clip_field(base, offset, wanted);
  if (n > 0) {
    const void* hit = f.empty() ? nullptr : std::memchr(f.data(), byte, f.size());
    return hit ? static_cast<int32_t>(static_cast<const uint8_t*>(hit) - f.data() + 1) : 0;
  }
  for (size_t i = f.size(); i > 0; --i) {
    if (f[i - 1] == byte) return static_cast<int32_t>(i);
  }
  return 0;
}

int32_t mdr_span_to_byte(ConstByteSpan base, int32_t offset, int32_t n, uint8_t byte) {
  const ConstByteSpan f = clip_field(base, offset, n);
  const void* hit = f.empty() ? nullptr : std::memchr(f.data(), byte, f.size());
  return static_cast<int32_t>(hit ? static_cast<const uint8_t*>(hit) - f.data() : f.size());
}

int32_t mdr_find_bytes(ConstByteSpan base, int32_t offset, int32_t n, ConstByteSpan pattern,
                       int32_t p_offset, int32_t p_length) {
  const int64_t wanted = n < 0 ? -static_cast<int64_t>(n) : n;
  const ConstByteSpan f = clip_field(base, offset, wanted);
  const ConstByteSpan p = clip_field(pattern, p_offset, p_length);
  // A pattern cut short by its area would match something the caller did not
  // ask for, so it finds nothing.
  if (p.empty() || static_cast<int64_t>(p.size()) != p_length || p.size() > f.size()) return 0;
  const size_t last_start = f.size() - p.size();
  if (n > 0) {
    for (size_t i = 0; i <= last_start; ++i) {
      if (std::memcmp(f.data() + i, p.data(), p.size()) == 0) {
        return static_cast<int32_t>(i + p.size());
      }
    }
  } else {
    for (size_t i = last_start + 1; i > 0; --i) {
      if (std::memcmp(f.data() + i - 1, p.data(), p.size()) == 0) {
        return static_cast<int32_t>(i - 1 + p.size());
      }
    }
  }
  return 0;
}

void mdr_xor_bytes(ByteSpan base, int32_t offset, int32_t n, ConstByteSpan key_base,
                   int32_t key_offset) {
  const ConstByteSpan key = clip_field(key_base, key_offset, 1);
  if (key.empty()) return;
  for (uint8_t& c : clip_field(base, offset, n)) c ^= key[0];
}

void mdr_and_bytes(ByteSpan base, int32_t offset, int32_t n, ConstByteSpan mask_base,
                   int32_t mask_offset) {
  const ConstByteSpan mask = clip_field(mask_base, mask_offset, 1);
  if (mask.empty()) return;
  for (uint8_t& c : clip_field(base, offset, n)) c &= mask[0];
}

int32_t translate_bytes(ByteSpan base, int32_t offset, int32_t n, const ByteTable& table) {
  const ByteSpan f = clip_field(base, offset, n);
  for (uint8_t& c : f) c = table[c];
  return static_cast<int32_t>(f.size());
}

int32_t mdr_lower_bytes(ByteSpan base, int32_t offset, int32_t n) {
  return translate_bytes(base, offset, n, kLowerCaseTable);
}

int32_t mdr_upper_bytes(ByteSpan base, int32_t offset, int32_t n) {
  return translate_bytes(base, offset, n, kUpperCaseTable);
}

void case_translate(ByteSpan base, int32_t offset, int32_t n, int32_t mode) {
  if (mode == kCaseLower) {
    mdr_lower_bytes(base, offset, n);
  } else if (mode == kCaseUpper) {
    mdr_upper_bytes(base, offset, n);
  }
}

void mdr_swap_words(ByteSpan base, int32_t offset, int32_t n) {
  const ByteSpan f = clip_field(base, offset, static_cast<int64_t>(n) * 4);
  for (size_t i = 0; i + 4 <= f.size(); i += 4) {
    store_be32(f.data() + i, load_le32(f.data() + i));
  }
}

int32_t mdr_compare_nullable(ConstByteSpan a, int32_t a_offset, int32_t a_length, ConstByteSpan b,
                             int32_t b_offset, int32_t b_length) {
  if (mdr_null_state(a, a_offset) == kTruthUnknown ||
      mdr_null_state(b, b_offset) == kTruthUnknown) {
    return kTruthUnknown;
  }
  const int32_t r =
      padded_difference(clip_field(a, static_cast<int64_t>(a_offset) + 1, a_length),
                        clip_field(b, static_cast<int64_t>(b_offset) + 1, b_length), kBlank);
  return r < 0 ? kTruthLess : (r > 0 ? kTruthGreater : kTruthEqual);
}

void mdr_set_null(ByteSpan base, int32_t offset) {
  const ByteSpan f = clip_field(base, offset, 1);
  if (!f.empty()) f[0] = kNullIndicator;
}

int32_t mdr_null_state(ConstByteSpan base, int32_t offset) {
  const ConstByteSpan f = clip_field(base, offset, 1);
  if (f.empty() || f[0] == kNullIndicator) return kTruthUnknown;
  return f[0] == 0 ? kTruthLess : kTruthEqual;
}

int32_t mdr_bit_clear_test(std::span<int32_t> bitmap, int32_t n) {
  size_t word;
  uint32_t mask;
  if (!locate_bit(bitmap.size(), n, &word, &mask)) return -2;
  const uint32_t bits = static_cast<uint32_t>(bitmap[word]);
  if ((bits & mask) == 0) return 1;
  bitmap[word] = static_cast<int32_t>(bits & ~mask);
  return 0;
}

int32_t mdr_bit_set(std::span<int32_t> bitmap, int32_t n) {
  size_t word;
  uint32_t mask;
  if (!locate_bit(bitmap.size(), n, &word, &mask)) return -2;
  const uint32_t bits = static_cast<uint32_t>(bitmap[word]);
  if ((bits & mask) != 0) return 1;
  bitmap[word] = static_cast<int32_t>(bits | mask);
  return 0;
}

int32_t mdr_bit_test(std::span<const int32_t> bitmap, int32_t n) {
  size_t word;
  uint32_t mask;
  if (!locate_bit(bitmap.size(), n, &word, &mask)) return -2;
  return (static_cast<uint32_t>(bitmap[word]) & mask) != 0 ? 1 : 0;
}

// n & 31 is n mod 32 taken as 0..31 for negative n too.
void mdr_flag_set(int32_t* flag_word, int32_t n) {
  *flag_word = static_cast<int32_t>(static_cast<uint32_t>(*flag_word) | (1u << (n & 31)));
}

int32_t mdr_flag_test(int32_t flag_word, int32_t n) {
  return (static_cast<uint32_t>(flag_word) >> (n & 31)) & 1u;
}

void mdr_difference(int32_t* out, int32_t a, int32_t b) {
  *out = static_cast<int32_t>(static_cast<uint32_t>(b) - static_cast<uint32_t>(a));
}

void status_clear(StatusPair* status) {
  set_success(status);
}

void mdr_noop_status4(StatusPair* status, int32_t, int32_t, int32_t) {
  set_success(status);
}

int32_t mdr_noop_zero(int32_t, int32_t) {
  return 0;
}

void mdr_noop_clear(int32_t* out, int32_t, int32_t) {
  *out = 0;
}
