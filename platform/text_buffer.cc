// Text buffer appenders. Each computes its count once from the room left and
// the area's real size, so a size or position from a caller never reaches
// outside the buffer.
#include "platform/text_buffer.h"

#include <algorithm>
#include <cstring>

#include "platform/number_text.h"

namespace {

constexpr int32_t kIntPlaces = 12;

// The units an appender may write at *position, of `unit` bytes each: the
// count of the rules above. A count that is not positive has already moved
// the position and gives 0; a negative position gives 0 and stays.
int32_t reserve(ByteSpan buffer, int32_t unit, int32_t* position, int32_t size, int64_t wanted) {
  if (*position < 0) return 0;
  const int64_t capacity = static_cast<int64_t>(buffer.size() / static_cast<size_t>(unit));
  const int64_t limit = std::clamp<int64_t>(size, 0, capacity);
  const int64_t count = std::min<int64_t>(limit - *position, std::max<int64_t>(wanted, 0));
  if (count <= 0) {
    *position = static_cast<int32_t>(*position + count);
    return 0;
  }
  return static_cast<int32_t>(count);
}

// The value in `places` places (at most 12), or false when it does not fit.
bool int_places(int32_t value, int32_t places, uint8_t (&text)[kIntPlaces]) {
  return mdr_int_to_text(ByteSpan(text, static_cast<size_t>(places)), 0, places, value) ==
         kValueDone;
}

}  // namespace

void textbuf_put_bytes(ByteSpan buffer, int32_t* position, int32_t size, ConstByteSpan source,
                       int32_t s_offset, int32_t n) {
  const ConstByteSpan s = clip_field(source, s_offset, n);
  const int32_t count = reserve(buffer, 1, position, size, std::min<int64_t>(n, s.size()));
  if (count == 0) return;
  std::memmove(buffer.data() + *position, s.data(), static_cast<size_t>(count));
  *position += count;
}

void textbuf_put_int(ByteSpan buffer, int32_t* position, int32_t size, int32_t value) {
  const int32_t w = reserve(buffer, 1, position, size, kIntPlaces);
  if (w == 0) return;
  uint8_t text[kIntPlaces];
  uint8_t* out = buffer.data() + *position;
  if (!int_places(value, w, text)) {
    std::memset(out, '*', static_cast<size_t>(w));
    *position += w;
    return;
  }
  int32_t first = 0;
  while (text[first] == ' ') ++first;
  std::memcpy(out, text + first, static_cast<size_t>(w - first));
  *position += w - first;
}

void textbuf_put_int_width(ByteSpan buffer, int32_t* position, int32_t size, int32_t width,
                           int32_t value) {
  const int32_t w = reserve(buffer, 1, position, size, width);
  if (w == 0) return;
  uint8_t* out = buffer.data() + *position;
  // Wider than 12 places only adds blanks on the left.
  const int32_t places = std::min(w, kIntPlaces);
  uint8_t text[kIntPlaces];
  if (int_places(value, places, text)) {
    std::memset(out, ' ', static_cast<size_t>(w - places));
    std::memcpy(out + (w - places), text, static_cast<size_t>(places));
  } else {
    std::memset(out, '*', static_cast<size_t>(w));
  }
  *position += w;
}

void textbuf_put_int_left(ByteSpan buffer, int32_t* position, int32_t value) {
  uint8_t text[kIntPlaces];
  const int32_t whole = static_cast<int32_t>(std::min<size_t>(buffer.size(), INT32_MAX));
  if (!int_places(value, kIntPlaces, text)) {
    static const uint8_t kStars[3] = {'*', '*', '*'};
    textbuf_put_bytes(buffer, position, whole, kStars, 0, 3);
    return;
  }
  int32_t first = 0;
  while (text[first] == ' ') ++first;
  textbuf_put_bytes(buffer, position, whole, text, first, kIntPlaces - first);
}

void textbuf_put_chars(ByteSpan buffer, int32_t* position, int32_t size, int32_t unit_code,
                       ConstByteSpan source, int32_t s_offset, int32_t n) {
  if (unit_code == 1) {
    textbuf_put_bytes(buffer, position, size, source, s_offset, n);
    return;
  }
  const ConstByteSpan s = clip_field(source, s_offset, n);
  const int32_t count = reserve(buffer, 3, position, size, std::min<int64_t>(n, s.size()));
  if (count == 0) return;
  uint8_t* out = buffer.data() + static_cast<size_t>(*position) * 3;
  for (int32_t i = 0; i < count; ++i) store_be24(out + i * 3, s[static_cast<size_t>(i)]);
  *position += count;
}

void textbuf_put_units3(ByteSpan buffer, int32_t* position, int32_t size, ConstByteSpan source,
                        int32_t s_char_offset, int32_t n) {
  const ConstByteSpan s =
      clip_field(source, static_cast<int64_t>(s_char_offset) * 3, static_cast<int64_t>(n) * 3);
  const int32_t count = reserve(buffer, 3, position, size, std::min<int64_t>(n, s.size() / 3));
  if (count == 0) return;
  std::memmove(buffer.data() + static_cast<size_t>(*position) * 3, s.data(),
               static_cast<size_t>(count) * 3);
  *position += count;
}

void textbuf_put_hex(ByteSpan buffer, int32_t* position, int32_t digit_limit, ConstByteSpan source,
                     int32_t s_offset, int32_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (*position < 0) return;
  const ConstByteSpan s = clip_field(source, s_offset, n);
  const int64_t limit = std::min<int64_t>(
      digit_limit, static_cast<int64_t>(std::min<size_t>(buffer.size(), INT32_MAX)));
  int64_t pos = *position;
  for (size_t i = 0; i < s.size() && pos < limit; ++i) {
    buffer[static_cast<size_t>(pos++)] = static_cast<uint8_t>(kDigits[s[i] >> 4]);
    if (pos < limit) buffer[static_cast<size_t>(pos++)] = static_cast<uint8_t>(kDigits[s[i] & 15]);
  }
  *position = static_cast<int32_t>(pos);
}
