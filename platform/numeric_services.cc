// Digit counts, the five-word stack, five-character codes, sequence steps,
// numeric type sizes and identifier unquoting. The numeric limits and range
// checks are in numeric_limits.cc.
#include "platform/numeric_services.h"

#include <cstdlib>

namespace {

constexpr int32_t kItemWords = 5;
constexpr int32_t kStackDoesNotFit = -3;

// Checks that the stack at index, with its items, lies inside the area; the
// count word must be 0 or more. Gives the count, or -1 when it does not fit.
int32_t stack_count(WordSpan words, int32_t index, int32_t extra_items) {
  if (index < 0 || static_cast<size_t>(index) >= words.size()) return -1;
  int32_t n = words[index];
  if (n < 0) return -1;
  int64_t end = int64_t{index} + 1 + (int64_t{n} + extra_items) * kItemWords;
  if (end > static_cast<int64_t>(words.size())) return -1;
  return n;
}

int32_t* top_item(int32_t* status, WordSpan words, int32_t index) {
  int32_t n = stack_count(words, index, 0);
  if (n < 0) {
    *status = kStackDoesNotFit;
    return nullptr;
  }
  if (n == 0) {
    *status = -1;
    return nullptr;
  }
  *status = 0;
  return &words[index + 1 + (n - 1) * kItemWords];
}

int32_t code5_value(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return -1;
}

}  // namespace

int32_t digits_of_int(int32_t x) {
  if (x < 0) return 0;
  int32_t digits = 1;
  for (int64_t bound = 10; digits < 10 && x >= bound; bound *= 10) ++digits;
  return digits;
}

int32_t decimal_bytes_of_int(int32_t x) {
  return (digits_of_int(x) + 4) / 2;
}

int32_t digits_of_int64(int32_t high, int32_t low) {
  if (high > 0) return 19;
  if (low < 0) return 10;
  return digits_of_int(low);
}

int32_t decimal_bytes_of_int64(int32_t high, int32_t low) {
  return (digits_of_int64(high, low) + 4) / 2;
}

int32_t is_below_min(int32_t x) {
  return x < -1073741824 ? 1 : 0;
}

void stack5_clear(int32_t* status, WordSpan words, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= words.size()) {
    *status = kStackDoesNotFit;
    return;
  }
  words[index] = 0;
  *status = 0;
}

void stack5_push(int32_t* status, WordSpan words, int32_t index, const int32_t item[5]) {
  int32_t n = stack_count(words, index, 1);
  if (n < 0) {
    *status = kStackDoesNotFit;
    return;
  }
  int32_t* slot = &words[index + 1 + n * kItemWords];
  for (int i = 0; i < kItemWords; ++i) slot[i] = item[i];
  words[index] = n + 1;
  *status = 0;
}

void stack5_pop(int32_t* status, WordSpan words, int32_t index, int32_t item[5]) {
  int32_t* top = top_item(status, words, index);
  if (top == nullptr) return;
  for (int i = 0; i < kItemWords; ++i) item[i] = top[i];
  words[index] -= 1;
}

void stack5_top_first(int32_t* status, WordSpan words, int32_t index, int32_t* out) {
  if (int32_t* top = top_item(status, words, index)) *out = top[0];
}

void stack5_top_second(int32_t* status, WordSpan words, int32_t index, int32_t* out) {
  if (int32_t* top = top_item(status, words, index)) *out = top[1];
}

void stack5_top_fourth(int32_t* status, WordSpan words, int32_t index, int32_t* out) {
  if (int32_t* top = top_item(status, words, index)) *out = top[3];
}

void stack5_set_second(int32_t* status, WordSpan words, int32_t index, int32_t value) {
  if (int32_t* top = top_item(status, words, index)) top[1] = value;
}

void stack5_find(int32_t* status, WordSpan words, int32_t index, int32_t key, int32_t* out_a,
                 int32_t* out_b) {
  int32_t n = stack_count(words, index, 0);
  if (n < 0) {
    *status = kStackDoesNotFit;
    return;
  }
  if (n == 0) {
    *status = -1;
    return;
  }
  for (int32_t i = n - 1; i >= 0; --i) {
    const int32_t* item = &words[index + 1 + i * kItemWords];
    if (item[0] == key) {
      *out_a = item[2];
      *out_b = item[4];
      *status = 0;
      return;
    }
  }
  *status = -2;
}

void code5_pack(int32_t* status, int32_t* out, ConstByteSpan text, int32_t offset) {
  ConstByteSpan chars = clip_field(text, offset, 5);
  uint32_t word = 2u << 30;
  for (int i = 0; i < 5; ++i) {
    int32_t v = i < static_cast<int>(chars.size()) ? code5_value(chars[i]) : -1;
    if (v < 0) {
      *status = -1;
      return;
    }
    word |= static_cast<uint32_t>(v) << (6 * i);
  }
  *out = static_cast<int32_t>(word);
  *status = 0;
}

void code5_unpack(int32_t* status, ByteSpan text, int32_t offset, int32_t word) {
  static const char kChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  uint32_t w = static_cast<uint32_t>(word);
  uint8_t chars[5];
  if ((w >> 30) != 2) {
    *status = -1;
    return;
  }
  for (int i = 0; i < 5; ++i) {
    uint32_t v = (w >> (6 * i)) & 63;
    if (v > 35) {
      *status = -1;
      return;
    }
    chars[i] = static_cast<uint8_t>(kChars[v]);
  }
  ByteSpan field = clip_field(text, offset, 5);
  if (field.size() != 5) {
    *status = -1;
    return;
  }
  for (int i = 0; i < 5; ++i) field[i] = chars[i];
  *status = 0;
}

void sequence_next_value(int32_t* value, int32_t unique, int32_t* state, int32_t start,
                         int32_t increment, int32_t limit, int32_t* cycles, int32_t steps) {
  if (*state > 0 || steps < 1) return;
  // Ascending by 1 with room for every step: a started sequence just grows.
  if (*state == 0 && increment == 1 && int64_t{limit} - *value >= steps) {
    *value += steps;
    return;
  }
  const bool ascending = increment >= 0;
  const int64_t range = ascending ? int64_t{limit} - start + 1 : int64_t{start} - limit + 1;
  const int64_t step = std::llabs(int64_t{increment});
  bool cycled = false;
  for (int32_t i = 0; i < steps; ++i) {
    if (*state < 0) {
      *value = start;
      *state = 0;
      continue;
    }
    // An increment of 0 never reaches another value: a unique sequence has
    // handed out the only one it has.
    if (increment == 0 && unique > 0) {
      *state = 1;
      return;
    }
    int64_t next = int64_t{*value} + increment;
    bool passed = ascending ? next > limit : next < limit;
    if (passed && range > 0) {
      // Wrap by whole range lengths, keeping the distance from the start.
      int64_t distance = ascending ? next - start : start - next;
      distance %= range;
      next = ascending ? start + distance : start - distance;
      *cycles += 1;
      cycled = true;
      if (unique > 0 && (*cycles >= step || (step != 0 && range % step == 0))) {
        *state = 1;
        return;
      }
    } else if (passed) {
      *state = 1;  // an empty range can hold no value
      return;
    }
    *value = static_cast<int32_t>(next);
  }
  if (unique > 0 && cycled && *value == start) *state = 1;
}

void mdr_numeric_type_size(int32_t* status, int32_t* figure, char letter, int32_t n) {
  static const int32_t kIntegerDigits[] = {3, 5, 7, 10};
  static const int32_t kFloatDigits[] = {3, 5, 8, 10, 13, 15, 17};
  *status = 0;
  if (letter == 'I') {
    if (n < 1 || n > 4) {
      *status = -8;
      return;
    }
    *figure = kIntegerDigits[n - 1];
  } else if (letter == 'F') {
    if (n < 2 || n > 8) {
      *status = -8;
      return;
    }
    *figure = kFloatDigits[n - 2];
  } else {
    *status = -9;
  }
}

void mdr_unquote_name(ConstByteSpan source, int32_t source_offset, int32_t source_length,
                      ByteSpan target, int32_t target_offset, int32_t* out_length,
                      int32_t delimiter, int32_t keep_case) {
  static const uint8_t kDelimiters[] = {' ', '"', '\''};
  ConstByteSpan in = clip_field(source, source_offset, source_length);
  ByteSpan out = clip_field(target, target_offset, static_cast<int64_t>(in.size()));
  const int32_t n = static_cast<int32_t>(in.size());
  const size_t room = out.size();
  size_t written = 0;
  auto put = [&](uint8_t c) {
    if (written < room) out[written++] = c;
  };
  uint8_t delim = (delimiter >= 0 && delimiter <= 2) ? kDelimiters[delimiter] : ' ';

  if (n == 0 || in[0] != delim) {
    for (int32_t i = 0; i < n; ++i) put(keep_case ? in[i] : kUpperCaseTable[in[i]]);
  } else {
    int32_t pos = 1;
    while (pos < n) {
      int32_t close = pos;
      while (close < n && in[close] != delim) ++close;
      if (close == n) {
        // No closing delimiter: the last character stands for it.
        for (int32_t i = pos; i < n - 1; ++i) put(in[i]);
        break;
      }
      for (int32_t i = pos; i < close; ++i) put(in[i]);
      pos = close + 2;  // the delimiter and the one that doubles it
      if (pos < n) put(delim);
    }
  }
  *out_length = static_cast<int32_t>(written);
}
