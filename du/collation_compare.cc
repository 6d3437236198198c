// String primitives through a collation table: the blank-extended three-way
// compare, the span of a pad character and the substring search. They read
// only what lies inside the caller's areas: a field is cut at its area's end
// and a negative length counts as 0, as the byte primitives do.
#include <algorithm>

#include "du/collation.h"

namespace {

constexpr uint8_t kBlank = ' ';

int32_t position(size_t index) {
  return static_cast<int32_t>(index + 1);
}

}  // namespace

void DUCmpColl1(ConstByteSpan area1, int32_t offset1, int32_t length1, ConstByteSpan area2,
                int32_t offset2, int32_t length2, CollationTable table, int32_t* result) {
  const ConstByteSpan a = clip_field(area1, offset1, length1);
  const ConstByteSpan b = clip_field(area2, offset2, length2);
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const uint8_t ta = table[a[i]], tb = table[b[i]];
    if (ta != tb) {
      *result = ta > tb ? position(i) : -position(i);
      return;
    }
  }
  // The shorter string reads as blanks from here on.
  const bool first_longer = a.size() > b.size();
  const ConstByteSpan rest = first_longer ? a : b;
  for (size_t i = common; i < rest.size(); ++i) {
    const uint8_t t = table[rest[i]];
    if (t != kBlank) {
      const bool longer_greater = t > kBlank;
      *result = longer_greater == first_longer ? position(i) : -position(i);
      return;
    }
  }
  *result = 0;
}

void DUCmpColl2(ConstByteSpan area, int32_t offset, int32_t length, uint8_t pad,
                CollationTable table, int32_t* result) {
  const int64_t n = length < 0 ? -int64_t{length} : int64_t{length};
  const ConstByteSpan s = clip_field(area, offset, n);
  const uint8_t t = table[pad];
  *result = 0;
  if (length > 0) {
    for (size_t i = 0; i < s.size(); ++i) {
      if (table[s[i]] != t) {
        *result = position(i);
        return;
      }
    }
  } else {
    for (size_t i = s.size(); i > 0; --i) {
      if (table[s[i - 1]] != t) {
        *result = position(i - 1);
        return;
      }
    }
  }
}

void DUFindColl1(ConstByteSpan area, int32_t offset, int32_t length, ConstByteSpan pattern_area,
                 int32_t pattern_offset, int32_t pattern_length, CollationTable table,
                 int32_t* result) {
  *result = 0;
  const int64_t n = length < 0 ? -int64_t{length} : int64_t{length};
  const ConstByteSpan s = clip_field(area, offset, n);
  // A pattern its own area cuts short is not the pattern the caller asked for.
  if (pattern_length < 1 || !field_fits(pattern_area, pattern_offset, pattern_length)) return;
  const ConstByteSpan p = pattern_area.subspan(pattern_offset, pattern_length);
  if (length == 0 || p.size() > s.size()) return;
  const auto matches_at = [&](size_t start) {
    for (size_t k = 0; k < p.size(); ++k) {
      if (table[s[start + k]] != table[p[k]]) return false;
    }
    return true;
  };
  const size_t last_start = s.size() - p.size();
  if (length > 0) {
    for (size_t start = 0; start <= last_start; ++start) {
      if (matches_at(start)) {
        *result = static_cast<int32_t>(start + p.size());
        return;
      }
    }
  } else {
    for (size_t start = last_start + 1; start > 0; --start) {
      if (matches_at(start - 1)) {
        *result = static_cast<int32_t>(start - 1 + p.size());
        return;
      }
    }
  }
}
